// The application title and the one kind of message box the program shows: modal, a text, a
// title, a single OK button and at most one icon.
#pragma once

#include <QString>

class QWidget;

inline QString appTitle()
{
    return QStringLiteral("CPU - Orvane");
}

enum class MessageIcon
{
    None,
    Critical,
    Information
};

void showMessage(QWidget *parent, const QString &text, const QString &title = appTitle(),
                 MessageIcon icon = MessageIcon::None);
