#include "shell/program.h"

#include "benchmark/kernelset.h"
#include "benchmark/kernelthread.h"
#include "core/version.h"
#include "shell/accessibility.h"
#include "shell/fonts.h"
#include "shell/startuptimeline.h"
#include "sysinfo/linuxhost.h"
#include "widgets/images.h"
#include "widgets/messagebox.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QScreen>

void Program::prepare(QApplication & /*app*/)
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
    for (const int size : {16, 32, 48, 64, 256})
        icon.addPixmap(readPng(QStringLiteral(":/assets/orvane-%1.png").arg(size)));
    QApplication::setWindowIcon(icon);
    QApplication::setApplicationName(QStringLiteral("orvane"));
    QApplication::setApplicationDisplayName(QString());
    QApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION_SHOWN));
    QApplication::setDesktopFileName(QStringLiteral("orvane"));
}

Program::Program(QApplication &app, KernelSet *kernels, SystemProbe *probe)
{
    prepare(app);
    startupMark("fonts, icon, names and locale prepared");
    if (!kernels) {
        m_library = std::make_unique<KalvexLibrary>();
        kernels = m_library.get();
    }
    m_kernelThread = std::make_unique<KernelThread>(*kernels);
    kernels = m_kernelThread.get();
    if (!probe) {
        m_host =
            std::make_unique<LinuxHost>([](const QString &text) { showMessage(nullptr, text); });
        probe = &m_host->probe;
    }
    m_probe = probe;
    startupMark("host probe made");
    m_windows = std::make_unique<AppWindows>(*kernels, *probe);
    startupMark("windows built and host fields filled");
}

Program::~Program() = default;

void Program::start()
{
    m_windows->start();
}
