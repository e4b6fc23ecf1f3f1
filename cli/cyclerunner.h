// One thread's share of an orvane-bench run: cycles of the seven kernels, one after another,
// through the same benchmark run as the window, behind a view that records instead of showing.
//
// Each cycle is one run of one cycle, so the clock can be read between cycles and a duration can
// end the series; the score over all cycles is formed afterwards by replaying the recorded
// kernel times through a run of that many cycles (scoreOf), which is exactly what the window
// would show for them. Every kernel's result is checked against its exact expected value.
#pragma once

#include "benchmark/kernelset.h"

#include <QList>
#include <QString>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>

// The exact value each kernel computes, in the order a cycle runs them.
double expectedResult(Kernel kernel);
const char *kernelName(Kernel kernel);

struct CycleRecord
{
    int cycle = 0;
    std::array<double, KernelCount> seconds{};
    std::array<double, KernelCount> results{};
    QString simpleText; // the totals as the window shows them
    QString complexText;
    QString overallText;
    double overall = 0.0;
    double clockBeforeMHz = 0.0; // 0 when no reading could be trusted
    double clockAfterMHz = 0.0;
};

struct Mismatch
{
    int thread = 0;
    int cycle = 0;
    Kernel kernel = Kernel::Addition;
    double expected = 0.0;
    double obtained = 0.0;
};

struct RunnerSettings
{
    int thread = 0;
    int cpu = -1;   // the logical processor to pin to; -1 leaves it free
    int cycles = 1; // when no deadline is set
    // No cycle starts after this; without it the runner runs the given number of cycles.
    std::optional<std::chrono::steady_clock::time_point> deadline;
    bool keepGoing = false; // run on after a wrong result
    bool measureClock = true;
};

struct RunnerOutcome
{
    QList<CycleRecord> cycles;
    QList<Mismatch> mismatches;
    QString failure; // the kernel library could not be used
    bool interrupted = false;
    bool stoppedByMismatch = false;
    int cpu = -1;
};

class CycleRunner
{
public:
    // kernels must outlive the runner; stop is polled between kernels.
    CycleRunner(KernelSet &kernels, const RunnerSettings &settings, const std::atomic<bool> &stop);

    // Called after each completed cycle (on the runner's thread).
    std::function<void(const CycleRecord &)> onCycle;

    RunnerOutcome run();

private:
    KernelSet &m_kernels;
    RunnerSettings m_settings;
    const std::atomic<bool> &m_stop;
};

// The score the window shows for these cycles: a run over their kernel times, as text, and as
// a number. Empty for no cycles.
struct Score
{
    QString text;
    double seconds = 0.0;
};
Score scoreOf(const QList<CycleRecord> &cycles);

// The effective clock now, in MHz, on the calling thread's processor; 0 when not trusted.
double effectiveClockMHz();
