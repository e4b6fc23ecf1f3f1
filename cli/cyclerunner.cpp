#include "cyclerunner.h"

#include "benchmark/benchmarkrun.h"
#include "core/numbertext.h"
#include "sysinfo/clockspeed.h"

#include <QDateTime>

#include <cmath>
#include <ctime>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

namespace {

// Passes the kernel calls through, keeps their times, and checks every result as it comes.
class VerifyingKernels final : public KernelSet
{
public:
    VerifyingKernels(KernelSet &inner, const RunnerSettings &settings, CycleRunner &runner,
                     RunControl &control)
        : m_inner(inner), m_settings(settings), m_runner(runner), m_control(control)
    {}

    bool run(Kernel kernel, double *result, double *seconds, QString *error) override
    {
        quint64 check = 0;
        if (m_runner.onKernelStart)
            m_runner.onKernelStart(kernel);
        const bool ran = m_settings.burnIn
                             ? m_inner.runChecked(kernel, result, seconds, &check, error)
                             : m_inner.run(kernel, result, seconds, error);
        if (m_runner.onKernelEnd)
            m_runner.onKernelEnd();
        if (!ran)
            return false;
        // A time no clock can give is no measurement: the run stops with the library's failure.
        if (!std::isfinite(*seconds) || *seconds <= 0.0 || *seconds > MaxKernelSeconds) {
            *error = QStringLiteral("its %1 kernel reported an impossible time, %2 seconds (a "
                                    "kernel takes more than 0 and at most %3)")
                         .arg(QLatin1String(kernelSymbol(kernel)))
                         .arg(*seconds)
                         .arg(MaxKernelSeconds);
            return false;
        }
        record.seconds[static_cast<int>(kernel)] = *seconds;
        // Exactly: the kernels are deterministic, so any difference is a fault of the machine.
        const bool rightResult = *result == expectedResult(kernel);
        const bool rightCheck = !m_settings.burnIn || check == expectedCheck(kernel);
        if (!rightResult || !rightCheck) {
            record.wrong = true;
            Mismatch mismatch{QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs),
                              m_settings.thread,
                              record.cpu,
                              record.cycle,
                              kernel,
                              {},
                              {}};
            if (!rightCheck) {
                mismatch.expected = QStringLiteral("check %1").arg(hex(expectedCheck(kernel)));
                mismatch.obtained = QStringLiteral("check %1").arg(hex(check));
            } else {
                mismatch.expected = exactText(expectedResult(kernel));
                mismatch.obtained = exactText(*result);
            }
            if (m_runner.onMismatch)
                m_runner.onMismatch(mismatch);
            if (!m_settings.keepGoing)
                m_control.requestStop(RunControl::Reason::WrongResult);
        }
        return true;
    }

    CycleRecord record;

private:
    static QString hex(quint64 value)
    {
        return QStringLiteral("0x%1").arg(value, 16, 16, QLatin1Char('0'));
    }

    KernelSet &m_inner;
    const RunnerSettings &m_settings;
    CycleRunner &m_runner;
    RunControl &m_control;
};

// The run's view for a program without windows: nothing is shown, and a stop asked for is the
// run's own stop, noticed before the next kernel starts.
class SilentView final : public HeadlessView
{
public:
    explicit SilentView(const RunControl &control) : m_control(control) {}
    void attach(BenchmarkRun *run) { m_run = run; }

    void letEventsRun() override
    {
        if (m_run && m_control.stopRequested())
            m_run->stop();
    }
    void showInvalidCount() override { failure = QStringLiteral("invalid cycle count"); }
    void showLibraryFailure(const QString &message) override { failure = message; }

    QString failure;

private:
    BenchmarkRun *m_run = nullptr;
    const RunControl &m_control;
};

// Takes the totals of the cycle when the run says it is complete.
class CycleEnd final : public RunObserver
{
public:
    void cycleCompleted(const CycleTotals &totals) override { this->totals = totals; }
    std::optional<CycleTotals> totals;
};

bool pinTo(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

long involuntarySwitches()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nivcsw;
}

} // namespace

QString exactText(double value)
{
    return QString::number(value, 'g', 17);
}

double effectiveClockMHz()
{
    return trustedClockHz(measureClock(10)) / 1e6;
}

CycleRunner::CycleRunner(KernelSet &kernels, const RunnerSettings &settings, RunControl &control)
    : m_kernels(kernels), m_settings(settings), m_control(control)
{}

RunnerOutcome CycleRunner::run()
{
    RunnerOutcome outcome;
    if (m_settings.cpu >= 0 && pinTo(m_settings.cpu))
        outcome.cpu = m_settings.cpu;
    else
        outcome.cpu = sched_getcpu();

    VerifyingKernels kernels(m_kernels, m_settings, *this, m_control);
    // Each reading after a cycle serves as the reading before the next one.
    double lastClock = 0.0;
    for (int cycle = 1;; ++cycle) {
        if (m_settings.deadline ? std::chrono::steady_clock::now() >= *m_settings.deadline
                                : cycle > m_settings.cycles)
            break;
        if (m_control.stopRequested())
            break;
        CycleRecord &record = kernels.record;
        record = CycleRecord();
        record.thread = m_settings.thread;
        record.cpu = outcome.cpu;
        record.cycle = cycle;
        if (m_settings.measureClock)
            record.clockBeforeMHz = cycle == 1 ? effectiveClockMHz() : lastClock;

        SilentView silent(m_control);
        BenchmarkRun cycleRun(silent, kernels);
        silent.attach(&cycleRun);
        CycleEnd end;
        cycleRun.setObserver(&end);
        const auto started = std::chrono::steady_clock::now();
        const double cpuStart = threadSeconds();
        const long switchesStart = involuntarySwitches();
        cycleRun.click();
        if (!silent.failure.isEmpty()) {
            outcome.failure = silent.failure;
            break;
        }
        if (!end.totals)
            break; // stopped within the cycle: it does not count
        record.wallSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        record.cpuSeconds = threadSeconds() - cpuStart;
        record.involuntarySwitches = involuntarySwitches() - switchesStart;
        // Judged over a cycle long enough for the share to mean something: the kernels' own
        // clock counts whole milliseconds.
        record.contended =
            record.wallSeconds >= 0.1 && record.cpuSeconds < 0.95 * record.wallSeconds;
        record.simpleText = end.totals->simple;
        record.complexText = end.totals->complex;
        record.overallText = end.totals->overall;
        record.overall = readCurrency(record.overallText).value_or(Currency());
        if (m_settings.measureClock)
            lastClock = record.clockAfterMHz = effectiveClockMHz();
        if (temperature)
            record.temperature = temperature(outcome.cpu);
        if (onCycle)
            onCycle(record);
    }
    return outcome;
}
