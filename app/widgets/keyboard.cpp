#include "widgets/keyboard.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

void makeFieldsReachable(const QList<QWidget *> &fields)
{
    for (QWidget *field : fields) {
        field->setEnabled(true);
        field->setFocusPolicy(Qt::StrongFocus);
        if (auto *line = qobject_cast<QLineEdit *>(field)) {
            line->setReadOnly(true);
        } else if (auto *text = qobject_cast<QPlainTextEdit *>(field)) {
            text->setReadOnly(true);
            text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        }
    }
}

void setTabChain(const QList<QWidget *> &chain)
{
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

void pressButtonsWithReturn(QWidget *window)
{
    const auto buttons = window->findChildren<QPushButton *>();
    for (QPushButton *button : buttons)
        button->setAutoDefault(true);
}
