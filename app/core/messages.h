// The application title and the kinds of message the program shows: a text, a title and at most
// one icon. The logic names a message this way; the windows show it in a message box.
#pragma once

#include <QString>

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
