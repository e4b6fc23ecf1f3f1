#include "shell/fonts.h"

#include <QFile>
#include <QFont>
#include <QFontDatabase>

void registerFonts(Faces faces)
{
    static bool done = false;
    if (done)
        return;
    done = true;
    QStringList files{QStringLiteral("tahoma.ttf"), QStringLiteral("tahomabd.ttf")};
    if (faces == Faces::All)
        files << QStringLiteral("ms_sans_serif.ttf");
    else
        QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                                   {QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
    for (const QString &file : std::as_const(files)) {
        const QString path = QStringLiteral("/usr/share/wine/fonts/") + file;
        if (QFile::exists(path))
            QFontDatabase::addApplicationFont(path);
    }
}
