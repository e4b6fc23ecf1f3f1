// orvane-screenshots: writes pictures of the windows for the README, on the offscreen platform.
// The windows show a host with fixed facts and a run over kernels with fixed times at a fixed
// time of day, so the pictures depend neither on the machine that makes them nor on the hour.
// Usage: orvane-screenshots <folder>
#include "benchmark/burninwindow.h"
#include "benchmark/kernelset.h"
#include "shell/aboutwindow.h"
#include "shell/program.h"
#include "sysinfo/registry.h"
#include "sysinfo/systemprobe.h"
#include "widgets/messagebox.h"

#include <QApplication>
#include <QDir>

#include <cstring>

namespace {

class FixedKernels final : public KernelSet
{
public:
    bool run(Kernel kernel, double *result, double *seconds, QString *) override
    {
        static constexpr double times[KernelCount] = {0.251, 0.249, 0.186, 0.295,
                                                      0.057, 0.298, 0.4};
        static constexpr double results[KernelCount] = {
            750000000.0, 150000000.0,        1.2500000075e17,   1.999999996,
            30712429.0,  3.1415926449823899, 1.0460278636963902};
        *seconds = times[static_cast<int>(kernel)];
        *result = results[static_cast<int>(kernel)];
        return true;
    }
};

class FixedOs final : public OsQueries
{
public:
    OsVersionInfo version() override { return {}; }
    std::uint32_t processorCount() override { return 8; }
    std::uint64_t totalPhysicalMemory() override { return std::uint64_t(16384) << 20; }
    QString hostSystemName() override { return QStringLiteral("Debian GNU/Linux 12 (bookworm)"); }
    QString kernelRelease() override { return QStringLiteral("6.1.0-28-amd64"); }
};

class FixedProcessor final : public ProcessorLibrary
{
public:
    void GetProcessor(char *name, char *, char *) override
    {
        std::strcpy(name, "AMD Ryzen 7 5800X 8-Core Processor");
    }
    void GetProcessorRawSpeed(char *speed) override { std::strcpy(speed, "4650 MHz"); }
};

bool save(QWidget *window, const QDir &folder, const char *name)
{
    const QString path = folder.filePath(QLatin1String(name));
    const bool ok = window->grab().save(path);
    qInfo("%s %s", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    FixedKernels kernels;
    FixedOs os;
    FixedProcessor processor;
    MemoryRegistry registry;
    General general(registry, [](const QString &text) { showMessage(nullptr, text); });
    SystemProbe probe(os, processor, general);
    Program program(app, &kernels, &probe);
    AppWindows &windows = program.windows();
    windows.runView().setClock([] { return QTime(14, 30, 5); });
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    if (!QDir().mkpath(folder.path()))
        return 1;

    program.start();
    // The clock is measured just after the window's first paint.
    QApplication::processEvents();
    QApplication::processEvents();
    bool ok = save(windows.mainWindow(), folder, "main-collapsed.png");

    windows.mainWindow()->pressBenchmark();
    windows.chart().next();
    QApplication::processEvents();
    ok = save(windows.mainWindow(), folder, "main-expanded.png") && ok;

    windows.showBurnIn();
    QApplication::processEvents();
    ok = save(windows.burnIn(), folder, "burn-in.png") && ok;

    AboutWindow about(windows.mainWindow());
    about.show();
    QApplication::processEvents();
    ok = save(&about, folder, "about.png") && ok;
    return ok ? 0 : 1;
}
