#include "shell/glyphbutton.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

GlyphButton::GlyphButton(QWidget *parent) : QLabel(parent)
{
    setFocusPolicy(Qt::TabFocus);
}

// Every press is taken here, whichever the button, so none starts a drag on the logo strip
// beneath the glyph.
void GlyphButton::mousePressEvent(QMouseEvent *event)
{
    event->accept();
}

void GlyphButton::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
}

void GlyphButton::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        press();
}

void GlyphButton::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Select:
        if (!event->isAutoRepeat())
            press();
        event->accept();
        return;
    default:
        QLabel::keyPressEvent(event);
    }
}

void GlyphButton::paintEvent(QPaintEvent *)
{
    // Drawn as a plain label draws its text: a label that takes the focus would lay the glyph
    // out as a document, a pixel higher.
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), int(alignment()), palette(), isEnabled(),
                          text(), foregroundRole());
    // Only a glyph reached with the keyboard shows where the focus is.
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}
