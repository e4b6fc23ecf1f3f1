#include "cyclerunner.h"

#include "benchmark/benchmarkrun.h"
#include "core/numbertext.h"
#include "sysinfo/clockspeed.h"

#include <cmath>
#include <pthread.h>
#include <sched.h>

namespace {

// Passes the kernel calls through, keeps what each gave, and notes every wrong result.
class CheckedKernels final : public KernelSet
{
public:
    CheckedKernels(KernelSet &inner, int thread) : m_inner(inner), m_thread(thread) {}

    bool run(Kernel kernel, double *result, double *seconds, QString *error) override
    {
        if (!m_inner.run(kernel, result, seconds, error))
            return false;
        // A time no clock can give is no measurement: the run stops with the library's failure.
        if (!std::isfinite(*seconds) || *seconds < 0.0) {
            *error = QStringLiteral("its %1 kernel reported an impossible time, %2 seconds")
                         .arg(QLatin1String(kernelName(kernel)))
                         .arg(*seconds);
            return false;
        }
        const int k = static_cast<int>(kernel);
        record.seconds[k] = *seconds;
        record.results[k] = *result;
        // Exactly: the kernels are deterministic, so any difference is a fault of the machine.
        if (!(*result == expectedResult(kernel)))
            mismatches.append({m_thread, record.cycle, kernel, expectedResult(kernel), *result});
        return true;
    }

    CycleRecord record;
    QList<Mismatch> mismatches;

private:
    KernelSet &m_inner;
    int m_thread;
};

// The kernel times of recorded cycles, given back in the order a run asks for them.
class ReplayKernels final : public KernelSet
{
public:
    explicit ReplayKernels(const QList<CycleRecord> &cycles) : m_cycles(cycles) {}

    bool run(Kernel kernel, double *result, double *seconds, QString *error) override
    {
        const qsizetype cycle = m_calls / KernelCount;
        ++m_calls;
        if (cycle >= m_cycles.size()) {
            *error = QStringLiteral("no recorded cycle left");
            return false;
        }
        *seconds = m_cycles[cycle].seconds[static_cast<int>(kernel)];
        *result = m_cycles[cycle].results[static_cast<int>(kernel)];
        return true;
    }

private:
    const QList<CycleRecord> &m_cycles;
    qsizetype m_calls = 0;
};

// The run's view for a program without windows: fields are kept as text, nothing is shown, and
// a stop request becomes the run's own Abort, noticed before the next kernel starts.
class RecordingView final : public BenchmarkView
{
public:
    RecordingView(QString count, std::function<bool()> stopWanted)
        : m_count(std::move(count)), m_stopWanted(std::move(stopWanted))
    {}

    void attach(BenchmarkRun *run) { m_run = run; }

    QString benchmarkCaption() const override { return m_caption; }
    void setBenchmarkCaption(const QString &caption) override { m_caption = caption; }
    void setBenchmarkEnabled(bool) override {}
    void setStatus(const QString &caption) override
    {
        // The run says so once a cycle's totals are all in place.
        if (caption == QStringLiteral("\u00BB Benchmark Complete.")) {
            ++completedCycles;
            overallAtCompletion = text(Field::OverallTotal);
        }
    }
    QString text(Field field) const override { return m_fields[static_cast<int>(field)]; }
    void setText(Field field, const QString &text) override
    {
        m_fields[static_cast<int>(field)] = text;
    }
    void setSpeedTimerEnabled(bool) override {}
    void setFrameKeeperEnabled(bool) override {}
    void expandWindow() override {}
    void setOwnBarWidth(float) override {}
    void showOwnResult() override {}
    void setSubmitEnabled(bool) override {}
    QString cycleCountText() override { return m_count; }
    QString logText() override { return m_log; }
    void setLogText(const QString &text) override { m_log = text; }
    void setSubmissionScore(const QString &score) override { submissionScore = score; }
    void letEventsRun() override
    {
        if (m_run && m_run->isRunning() && !m_run->abortRequested() && m_stopWanted())
            m_run->click(); // Abort
    }
    bool isClosed() const override { return false; }
    QString currentTimeText() const override { return {}; }
    void showInvalidCount() override { failure = QStringLiteral("invalid cycle count"); }
    void showLibraryFailure(const QString &message) override { failure = message; }

    int completedCycles = 0;
    QString overallAtCompletion;
    QString submissionScore;
    QString failure;

private:
    QString m_count;
    std::function<bool()> m_stopWanted;
    BenchmarkRun *m_run = nullptr;
    QString m_caption = QStringLiteral("Benchmark");
    QString m_log;
    std::array<QString, FieldCount> m_fields;
};

bool pinTo(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

} // namespace

double expectedResult(Kernel kernel)
{
    switch (kernel) {
    case Kernel::Addition:
        return 750000000.0;
    case Kernel::Subtraction:
        return 150000000.0;
    case Kernel::Multiplication:
        return 500000001.0 * 250000001.0;
    case Kernel::Division:
        return 500000001.0 / 250000001.0;
    case Kernel::Prime:
        return 30712429.0;
    case Kernel::Pi:
        return 3.1415926449823899;
    case Kernel::Power:
        return 1.0460278636963902;
    }
    return 0.0;
}

const char *kernelName(Kernel kernel)
{
    return kernelSymbol(kernel);
}

double effectiveClockMHz()
{
    return trustedClockHz(measureClock(10)) / 1e6;
}

CycleRunner::CycleRunner(KernelSet &kernels, const RunnerSettings &settings,
                         const std::atomic<bool> &stop)
    : m_kernels(kernels), m_settings(settings), m_stop(stop)
{}

RunnerOutcome CycleRunner::run()
{
    RunnerOutcome outcome;
    if (m_settings.cpu >= 0 && pinTo(m_settings.cpu))
        outcome.cpu = m_settings.cpu;
    else
        outcome.cpu = sched_getcpu();

    CheckedKernels checked(m_kernels, m_settings.thread);
    bool mismatchStop = false;
    const auto stopWanted = [&] {
        return m_stop.load() || mismatchStop;
    };
    // Each reading after a cycle serves as the reading before the next one.
    double lastClock = 0.0;
    for (int cycle = 1;; ++cycle) {
        if (m_settings.deadline ? std::chrono::steady_clock::now() >= *m_settings.deadline
                                : cycle > m_settings.cycles)
            break;
        if (stopWanted())
            break;
        checked.record = CycleRecord();
        checked.record.cycle = cycle;
        if (m_settings.measureClock)
            checked.record.clockBeforeMHz = cycle == 1 ? effectiveClockMHz() : lastClock;

        RecordingView view(QStringLiteral("1"), [&] {
            mismatchStop = mismatchStop || (!m_settings.keepGoing && !checked.mismatches.isEmpty());
            return stopWanted();
        });
        BenchmarkRun run(view, checked);
        view.attach(&run);
        run.click();
        if (!view.failure.isEmpty()) {
            outcome.failure = view.failure;
            break;
        }
        if (view.completedCycles != 1)
            break; // stopped within the cycle: it does not count
        CycleRecord &record = checked.record;
        record.simpleText = view.text(Field::SimpleTotal);
        record.complexText = view.text(Field::ComplexTotal);
        record.overallText = view.overallAtCompletion;
        record.overall = readNumber(record.overallText).value_or(0.0);
        if (m_settings.measureClock)
            lastClock = record.clockAfterMHz = effectiveClockMHz();
        outcome.cycles.append(record);
        if (onCycle)
            onCycle(record);
        if (!m_settings.keepGoing && !checked.mismatches.isEmpty())
            mismatchStop = true;
    }
    outcome.mismatches = checked.mismatches;
    outcome.stoppedByMismatch = mismatchStop;
    outcome.interrupted = m_stop.load();
    return outcome;
}

Score scoreOf(const QList<CycleRecord> &cycles)
{
    if (cycles.isEmpty())
        return {};
    ReplayKernels replay(cycles);
    RecordingView view(QString::number(cycles.size()), [] { return false; });
    BenchmarkRun run(view, replay);
    run.click();
    return {view.submissionScore, run.averageScore().toDouble()};
}
