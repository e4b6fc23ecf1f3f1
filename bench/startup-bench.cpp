// startup-bench: how long the program takes from process start to its first painted main
// window, and how much memory it holds then. It builds the same windows as orvane and prints
// the figures; run it on a real display (or under Xvfb) for the numbers that matter.
#include "shell/program.h"
#include "sysinfo/systemprobe.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <ctime>
#include <unistd.h>

namespace {

// Milliseconds since this process was started by the kernel.
double millisecondsSinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Field 22 (starttime, in clock ticks since boot) comes after the command in parentheses.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble();
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
    return nowMs - startTicks * 1000.0 / sysconf(_SC_CLK_TCK);
}

QByteArray residentMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed();
        }
    }
    return "unknown";
}

class FirstPaint : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !done) {
            done = true;
            // Let the paint finish, then report.
            QTimer::singleShot(0, qApp, [] {
                std::printf("first paint after %.0f ms from process start\n",
                            millisecondsSinceProcessStart());
                std::printf("resident memory %s\n", residentMemory().constData());
                QCoreApplication::quit();
            });
        }
        return QObject::eventFilter(watched, event);
    }
    bool done = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Program program(app);
    AppWindows &windows = program.windows();
    FirstPaint paint;
    windows.mainWindow()->installEventFilter(&paint);
    std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));
    // What one refresh of the clock speed costs the window.
    QElapsedTimer refresh;
    refresh.start();
    const QString speed = program.probe().refreshSpeed();
    std::printf("speed refresh %s took %.1f ms\n", qPrintable(speed), refresh.nsecsElapsed() / 1e6);
    program.start();
    QTimer::singleShot(10000, &app, [] {
        std::printf("no paint within 10 s\n");
        QCoreApplication::exit(1);
    });
    return QApplication::exec();
}
