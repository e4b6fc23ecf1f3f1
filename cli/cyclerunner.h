// One thread's share of an orvane-bench run: cycles of the seven kernels, one after another,
// through the same benchmark run as the window, behind a view that shows nothing.
//
// Each cycle is one run of one cycle, so the clock can be read between cycles and a duration can
// end the series. Every kernel's result is checked as it comes: its last value against the exact
// one, or, in a burn-in, the check value of its checked variant. What the runner learns (a
// kernel starting, a wrong result, a completed cycle) it says through callbacks at once, on its
// own thread; all threads of a run share one RunControl, so that one thread's wrong result or a
// signal stops them all at their next kernel boundary.
#pragma once

#include "cyclestats.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>

// A time no kernel can take: beyond it a library is not measuring its loops.
inline constexpr double MaxKernelSeconds = 600.0;

class RunControl
{
public:
    enum class Reason
    {
        None,
        WrongResult,
        Signal,
    };

    void requestStop(Reason reason)
    {
        Reason none = Reason::None;
        m_reason.compare_exchange_strong(none, reason);
    }
    bool stopRequested() const { return m_reason.load() != Reason::None; }
    Reason reason() const { return m_reason.load(); }

private:
    std::atomic<Reason> m_reason{Reason::None};
};

struct RunnerSettings
{
    int thread = 0;
    int cpu = -1;   // the logical processor to pin to; -1 leaves it free
    int cycles = 1; // when no deadline is set
    // No cycle starts after this; without it the runner runs the given number of cycles.
    std::optional<std::chrono::steady_clock::time_point> deadline;
    bool keepGoing = false; // run on after a wrong result
    bool burnIn = false;    // the checked kernels
    bool measureClock = true;
};

struct RunnerOutcome
{
    QString failure; // the kernel library could not be used
    int cpu = -1;    // where the thread ran
};

class CycleRunner
{
public:
    // kernels must outlive the runner.
    CycleRunner(KernelSet &kernels, const RunnerSettings &settings, RunControl &control);

    // Called on the runner's thread as things happen.
    std::function<void(Kernel)> onKernelStart;
    std::function<void()> onKernelEnd;
    std::function<void(const Mismatch &)> onMismatch;
    std::function<void(const CycleRecord &)> onCycle;
    // Reads the temperature of the thread's processor package; nothing when unknown.
    std::function<std::optional<double>(int cpu)> temperature;

    RunnerOutcome run();

private:
    KernelSet &m_kernels;
    RunnerSettings m_settings;
    RunControl &m_control;
};

// The effective clock now, in MHz, on the calling thread's processor; 0 when not trusted.
double effectiveClockMHz();

// A double written with 17 significant digits, so a difference in the last place shows.
QString exactText(double value);
