#include "widgets/captionfit.h"

#include <QLabel>

void fitCaptions(QWidget *window)
{
    const auto labels = window->findChildren<QLabel *>();
    for (QLabel *label : labels) {
        if (label->text().isEmpty() || !label->pixmap().isNull())
            continue;
        if (label->wordWrap()) {
            // Wrapped captions keep their width and take the height their lines need.
            const int taller = label->heightForWidth(label->width()) - label->height();
            if (taller > 0)
                label->resize(label->width(), label->height() + taller);
            continue;
        }
        const int extra = label->sizeHint().width() - label->width();
        if (extra <= 0)
            continue;
        QRect geometry = label->geometry();
        if (label->alignment() & Qt::AlignRight) {
            geometry.setLeft(geometry.left() - extra);
        } else if (label->alignment() & Qt::AlignHCenter) {
            geometry.setLeft(geometry.left() - extra / 2);
            geometry.setRight(geometry.right() + extra - extra / 2);
        } else {
            geometry.setRight(geometry.right() + extra);
        }
        label->setGeometry(geometry);
    }
}
