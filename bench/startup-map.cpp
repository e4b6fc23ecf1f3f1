// startup-map: how long programs take from exec to their first mapped top-level window, as a
// user sees the window appear, and how much memory they hold then. It runs two commands in
// alternating pairs on the X display of $DISPLAY (a window manager should be running) and
// prints each one's median, range and peak resident memory, and the pairwise median ratio of
// the first to the second. With --idle S it also measures the first command's processor time
// over S seconds once its window is up.
//
// Usage: startup-map [--pairs N] [--idle S] -- COMMAND_A... [-- COMMAND_B...]
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Sample
{
    double milliseconds = -1;
    double peakMegabytes = -1;
};

xcb_atom_t atom(xcb_connection_t *x, const char *name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        x, xcb_intern_atom(x, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return value;
}

// The process that owns a window, by _NET_WM_PID, on the window or its first child (a window
// manager's frame holds the client).
long windowPid(xcb_connection_t *x, xcb_window_t window, xcb_atom_t pidAtom, int depth = 0)
{
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        x, xcb_get_property(x, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
    long pid = -1;
    if (reply && xcb_get_property_value_length(reply) == 4)
        pid = *static_cast<uint32_t *>(xcb_get_property_value(reply));
    std::free(reply);
    if (pid >= 0 || depth > 0)
        return pid;
    xcb_query_tree_reply_t *tree = xcb_query_tree_reply(x, xcb_query_tree(x, window), nullptr);
    if (tree) {
        const xcb_window_t *children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree) && pid < 0; ++i)
            pid = windowPid(x, children[i], pidAtom, depth + 1);
    }
    std::free(tree);
    return pid;
}

double statusMegabytes(pid_t pid, const char *field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::strtod(line.c_str() + std::strlen(field), nullptr) / 1024.0;
    }
    return -1;
}

// Processor time of a process so far, in milliseconds: the time on a processor of each of its
// threads, in nanoseconds (/proc/PID/task/TID/schedstat), not the 10 ms ticks of /proc/PID/stat.
double cpuMilliseconds(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    double nanoseconds = 0;
    if (DIR *dir = opendir(tasks.c_str())) {
        while (const dirent *entry = readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            std::ifstream schedstat(tasks + "/" + entry->d_name + "/schedstat");
            double onProcessor = 0;
            if (schedstat >> onProcessor)
                nanoseconds += onProcessor;
        }
        closedir(dir);
    }
    return nanoseconds / 1e6;
}

// Runs the command until its first top-level window is mapped; measures, then ends it.
Sample measure(xcb_connection_t *x, xcb_window_t root, xcb_atom_t pidAtom,
               const std::vector<std::string> &command, double idleSeconds)
{
    Sample sample;
    std::vector<char *> argv;
    argv.reserve(command.size() + 1);
    for (const std::string &part : command)
        argv.push_back(const_cast<char *>(part.c_str()));
    argv.push_back(nullptr);

    const auto start = Clock::now();
    // The program's own start-up timeline, if it keeps one, counts from here.
    const std::string startNs = std::to_string(
        std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count());
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("ORVANE_STARTUP_EXEC_NS", startNs.c_str(), 1);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    const auto deadline = start + std::chrono::seconds(20);
    bool mapped = false;
    while (!mapped && Clock::now() < deadline) {
        xcb_generic_event_t *event = xcb_poll_for_event(x);
        if (!event) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid)
                return sample;
            usleep(200);
            continue;
        }
        if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
            const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
            if (!map->override_redirect && windowPid(x, map->window, pidAtom) == pid) {
                sample.milliseconds =
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                mapped = true;
            }
        }
        std::free(event);
    }
    (void)root;
    if (mapped) {
        // The memory a user sees it hold once its window is up and its first refresh is done.
        usleep(1000 * 1000);
        sample.peakMegabytes = statusMegabytes(pid, "VmHWM:");
        if (idleSeconds > 0) {
            const double before = cpuMilliseconds(pid);
            usleep(static_cast<useconds_t>(idleSeconds * 1e6));
            const double used = cpuMilliseconds(pid) - before;
            std::printf("idle: %.1f ms of processor time in %.0f s (%.1f ms per minute)\n", used,
                        idleSeconds, used * 60.0 / idleSeconds);
        }
    }
    kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 2000 && waitpid(pid, &status, WNOHANG) == 0; ++i)
        usleep(1000);
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    // Drain what the window's end sent.
    xcb_flush(x);
    while (xcb_generic_event_t *event = xcb_poll_for_event(x))
        std::free(event);
    return sample;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void report(const char *name, const std::vector<Sample> &samples)
{
    std::vector<double> times;
    std::vector<double> memory;
    for (const Sample &s : samples) {
        if (s.milliseconds >= 0)
            times.push_back(s.milliseconds);
        if (s.peakMegabytes >= 0)
            memory.push_back(s.peakMegabytes);
    }
    if (times.empty()) {
        std::printf("%s: no window was mapped\n", name);
        return;
    }
    std::printf("%s: exec to window mapped, median %.1f ms (%.1f to %.1f, %zu runs); peak resident "
                "memory, median %.1f MB\n",
                name, median(times), *std::min_element(times.begin(), times.end()),
                *std::max_element(times.begin(), times.end()), times.size(), median(memory));
}

} // namespace

int main(int argc, char **argv)
{
    int pairs = 12;
    double idle = 0;
    std::vector<std::vector<std::string>> commands;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--pairs" && i + 1 < argc)
            pairs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--idle" && i + 1 < argc)
            idle = std::strtod(argv[++i], nullptr);
        else if (arg == "--")
            commands.emplace_back();
        else if (!commands.empty())
            commands.back().push_back(arg);
    }
    commands.erase(
        std::remove_if(commands.begin(), commands.end(), [](const auto &c) { return c.empty(); }),
        commands.end());
    if (commands.empty() || commands.size() > 2) {
        std::fprintf(stderr, "usage: startup-map [--pairs N] [--idle S] -- COMMAND_A... "
                             "[-- COMMAND_B...]\n");
        return 2;
    }
    xcb_connection_t *x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "startup-map: cannot open the display\n");
        return 1;
    }
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
    const xcb_atom_t pidAtom = atom(x, "_NET_WM_PID");
    xcb_flush(x);

    std::vector<std::vector<Sample>> samples(commands.size());
    std::vector<double> ratios;
    for (int pair = 0; pair < pairs; ++pair) {
        // Alternate which one goes first, so neither always finds the caches warmer.
        std::vector<Sample> these(commands.size());
        for (size_t k = 0; k < commands.size(); ++k) {
            const size_t c = pair % 2 ? commands.size() - 1 - k : k;
            these[c] = measure(x, root, pidAtom, commands[c], 0);
            samples[c].push_back(these[c]);
        }
        if (commands.size() == 2 && these[0].milliseconds > 0 && these[1].milliseconds > 0)
            ratios.push_back(these[0].milliseconds / these[1].milliseconds);
    }
    report(commands[0][0].c_str(), samples[0]);
    if (commands.size() == 2) {
        report(commands[1][0].c_str(), samples[1]);
        std::printf("pairwise median ratio, first / second: %.2f\n", median(ratios));
    }
    if (idle > 0)
        measure(x, root, pidAtom, commands[0], idle);
    xcb_disconnect(x);
    return 0;
}
