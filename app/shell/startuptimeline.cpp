#include "shell/startuptimeline.h"

#include <QEvent>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {

bool enabled()
{
    static const bool on = [] {
        const char *value = std::getenv("ORVANE_STARTUP_TIMELINE");
        return value && *value;
    }();
    return on;
}

double milliseconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

// Milliseconds since the process was started: from the monotonic time its launcher gives in
// ORVANE_STARTUP_EXEC_NS, else from the start time in /proc/self/stat (in 10 ms ticks).
double sinceProcessStart()
{
    if (const char *exec = std::getenv("ORVANE_STARTUP_EXEC_NS"); exec && *exec)
        return milliseconds(CLOCK_MONOTONIC) - std::strtod(exec, nullptr) / 1e6;
    std::FILE *stat = std::fopen("/proc/self/stat", "r");
    if (!stat)
        return -1;
    char line[1024] = {};
    const size_t length = std::fread(line, 1, sizeof line - 1, stat);
    std::fclose(stat);
    line[length] = '\0';
    const char *field = std::strrchr(line, ')');
    // Field 22 (starttime) is the 20th after the command's closing parenthesis.
    for (int i = 0; field && i < 20; ++i)
        field = std::strchr(field + 1, ' ');
    if (!field)
        return -1;
    const double startTicks = std::strtod(field + 1, nullptr);
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6 -
           startTicks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

// Resident memory in kB: all of it, the part that is pages of files (the program and its
// libraries, mostly) and the part that is the process's own (heap, stacks, relocated data).
struct Resident
{
    long total = -1;
    long files = -1;
    long own = -1;
};

Resident resident()
{
    Resident kilobytes;
    std::FILE *status = std::fopen("/proc/self/status", "r");
    if (!status)
        return kilobytes;
    char line[256];
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kilobytes.total = std::strtol(line + 6, nullptr, 10);
        else if (std::strncmp(line, "RssFile:", 8) == 0)
            kilobytes.files = std::strtol(line + 8, nullptr, 10);
        else if (std::strncmp(line, "RssAnon:", 8) == 0)
            kilobytes.own = std::strtol(line + 8, nullptr, 10);
    }
    std::fclose(status);
    return kilobytes;
}

} // namespace

void startupMark(const char *phase)
{
    if (!enabled())
        return;
    const Resident memory = resident();
    std::fprintf(
        stderr, "startup: %8.1f ms (processor %6.1f ms) %6.1f MB (files %4.1f, own %4.1f)  %s\n",
        sinceProcessStart(), milliseconds(CLOCK_PROCESS_CPUTIME_ID), double(memory.total) / 1024.0,
        double(memory.files) / 1024.0, double(memory.own) / 1024.0, phase);
}

namespace {

class FirstPaint final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            startupMark("first paint of the main window");
            watched->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }
};

} // namespace

void markFirstPaint(QWidget *window)
{
    if (enabled())
        window->installEventFilter(new FirstPaint(window));
}
