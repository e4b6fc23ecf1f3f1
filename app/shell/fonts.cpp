#include "fonts.h"

#include <QFile>
#include <QFontDatabase>

void registerFonts()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    for (const char *file : {"tahoma.ttf", "tahomabd.ttf", "ms_sans_serif.ttf"}) {
        const QString path = QStringLiteral("/usr/share/wine/fonts/") + QLatin1String(file);
        if (QFile::exists(path))
            QFontDatabase::addApplicationFont(path);
    }
}
