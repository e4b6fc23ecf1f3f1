// Blank trimming as the program's text fields need it: only the blank character counts, not
// tabs or line ends, so a value keeps every other character it was given. Header-only, on Qt
// Core alone, so the host layers use it without the widget library.
#pragma once

#include <QString>

inline QString trimBlanks(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == QLatin1Char(' '))
        ++first;
    while (last > first && text[last - 1] == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}
