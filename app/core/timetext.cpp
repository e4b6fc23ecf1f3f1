#include "core/timetext.h"

QString timeText(const QTime &time, const QLocale &locale)
{
    // Qt's long format ends in the zone ("HH:mm:ss t"); the log wants hours, minutes and
    // seconds only, so drop every unquoted zone letter and the blanks it leaves behind.
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString stripped;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        stripped.append(c);
    }
    return locale.toString(time, stripped.simplified());
}
