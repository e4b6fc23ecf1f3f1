#include "shell.h"

#include "accessibility.h"
#include "fonts.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QScreen>

void prepareApplication(QApplication &app)
{
    Q_INIT_RESOURCE(assets);
    bool highDensity = false;
    const auto screens = QGuiApplication::screens();
    for (const QScreen *screen : screens)
        highDensity = highDensity || screen->devicePixelRatio() > 1.0;
    registerFonts(highDensity ? Faces::ScalableOnly : Faces::All);
    installAccessibility();
    QLocale::setDefault(QLocale::system());
    QIcon icon;
    icon.addFile(QStringLiteral(":/assets/orvane-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/assets/orvane-32.png"), QSize(32, 32));
    app.setWindowIcon(icon);
    app.setApplicationName(QStringLiteral("orvane"));
    app.setApplicationDisplayName(QString());
    app.setApplicationVersion(QStringLiteral("3.0"));
    app.setDesktopFileName(QStringLiteral("orvane"));
}
