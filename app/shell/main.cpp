#include "core/version.h"
#include "shell/program.h"
#include "shell/startuptimeline.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char Usage[] =
    "Usage: orvane [OPTION]...\n"
    "\n"
    "Opens the Orvane window, which times fixed batches of double-precision arithmetic with the\n"
    "kernels of libkalvex.so and gives a score in seconds per cycle (lower is better), beside\n"
    "nine reference machines.\n"
    "\n"
    "  -h, --help       print this help and exit\n"
    "  -v, --version    print the version and exit\n"
    "\n"
    "Qt's own options (such as -platform) are taken too. For runs without a screen, in scripts\n"
    "or over SSH, use orvane-bench.\n";

bool given(const char *argument, const char *shortName, const char *longName)
{
    return std::strcmp(argument, shortName) == 0 || std::strcmp(argument, longName) == 0;
}

bool hasValue(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value;
}

} // namespace

int main(int argc, char *argv[])
{
    startupMark("main() entered: libraries loaded and relocated");
    // Answered before the window system is reached, so that they work without a display.
    bool platformGiven = false;
    for (int i = 1; i < argc; ++i) {
        if (given(argv[i], "-h", "--help")) {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (given(argv[i], "-v", "--version")) {
            std::printf("orvane %s\n", ORVANE_VERSION);
            return 0;
        }
        platformGiven = platformGiven || given(argv[i], "-platform", "--platform");
    }
    // Without a display Qt would abort; say what is missing instead.
    if (!platformGiven && !hasValue("QT_QPA_PLATFORM") && !hasValue("DISPLAY") &&
        !hasValue("WAYLAND_DISPLAY")) {
        std::fputs("orvane: no display to open the window on (neither DISPLAY nor "
                   "WAYLAND_DISPLAY is set); for runs without a screen use orvane-bench\n",
                   stderr);
        return 1;
    }

    QApplication app(argc, argv);
    startupMark("QApplication made (platform plugin, display connection)");
    // What Qt did not take as its own is no option of this program.
    const QStringList rest = QCoreApplication::arguments().mid(1);
    if (!rest.isEmpty()) {
        std::fprintf(stderr, "orvane: unknown option '%s'\nTry 'orvane --help'.\n",
                     qPrintable(rest.first()));
        return 2;
    }
    Program program(app);
    program.start();
    startupMark("main window shown");
    markFirstPaint(program.windows().mainWindow());
    return QApplication::exec();
}
