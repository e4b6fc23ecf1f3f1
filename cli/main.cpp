// orvane-bench: the Orvane benchmark without a screen. See benchHelp() for what it does.
#include "benchoptions.h"
#include "cyclerunner.h"
#include "hostcheck.h"
#include "kernelfile.h"
#include "report.h"
#include "runlog.h"
#include "scoresending.h"
#include "temperature.h"

#include "core/version.h"
#include "submit/tcpconnection.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>

#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

// The first signal asks the threads to stop at their next kernel boundary; a second one ends
// the program at once with what is complete.
std::atomic<int> firstSignal{0};
std::atomic<int> signalsReceived{0};
// The run's control, for the handler to stop the threads at their very next kernel boundary.
std::atomic<RunControl *> signalledControl{nullptr};

extern "C" void onSignal(int number)
{
    int none = 0;
    firstSignal.compare_exchange_strong(none, number);
    ++signalsReceived;
    if (RunControl *control = signalledControl.load())
        control->requestStop(RunControl::Reason::Signal);
}

void installSignalHandlers()
{
    struct sigaction action
    {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
    // A closed pipe is a write error like any other, reported rather than fatal.
    std::signal(SIGPIPE, SIG_IGN);
}

bool print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    const bool written = std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()),
                                     stream) == static_cast<std::size_t>(bytes.size());
    return std::fflush(stream) == 0 && written;
}

QString clockTime(qint64 ms)
{
    const qint64 s = ms / 1000;
    return s >= 3600 ? QStringLiteral("%1:%2:%3")
                           .arg(s / 3600)
                           .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                           .arg(s % 60, 2, 10, QLatin1Char('0'))
                     : QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

// What the workers and the main thread share while the cycles run.
struct Run
{
    explicit Run(int threads)
        : kernelSince(new std::atomic<qint64>[threads]),
          kernelRunning(new std::atomic<int>[threads])
    {
        for (int t = 0; t < threads; ++t) {
            kernelSince[t] = -1;
            kernelRunning[t] = 0;
        }
    }

    std::mutex mutex;
    std::condition_variable changed;
    BenchReport report;
    RunControl control;
    RunLog log;
    QElapsedTimer wall;
    int running = 0;
    qint64 cyclesDone = 0;
    QString lastCycle;
    double lastClock = 0.0;
    qint64 lastCycleEnd = 0; // milliseconds into the run
    // For the watchdog: since when (ms into the run) each thread's kernel runs, or -1, and which.
    std::unique_ptr<std::atomic<qint64>[]> kernelSince;
    std::unique_ptr<std::atomic<int>[]> kernelRunning;
};

QJsonObject event(const char *name, QJsonObject fields = {})
{
    fields.insert(QStringLiteral("event"), QLatin1String(name));
    return fields;
}

// Prints the report, to standard output as the options ask; false when it could not be written.
bool printReport(const BenchReport &report, const QJsonObject &submission)
{
    if (report.options.json) {
        QJsonObject root = reportJson(report).object();
        if (report.options.submit)
            root.insert(QStringLiteral("submission"), submission);
        return print(stdout,
                     QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented)));
    }
    return print(stdout, reportText(report));
}

// The end of a run that cannot wait for its threads: a second signal, or a kernel that does not
// return. What is complete is reported, and the program ends with the threads still inside.
[[noreturn]] void endNow(Run &run, int status)
{
    const std::lock_guard lock(run.mutex);
    run.report.wallSeconds = run.wall.elapsed() / 1000.0;
    const bool written = printReport(run.report, {});
    if (!run.report.failure.isEmpty())
        print(stderr, QStringLiteral("orvane-bench: ") + run.report.failure + QLatin1Char('\n'));
    run.log.write(
        event("end", {{QStringLiteral("status"), status},
                      {QStringLiteral("result"),
                       run.report.passed() ? QStringLiteral("pass") : QStringLiteral("fail")}}));
    std::fflush(nullptr);
    _exit(written ? status : 1);
}

// How long a kernel may run before the run is given up: ten times its median so far, at least
// the floor; before a kernel's first time, the longest time a kernel may report.
double stallLimitSeconds(const Run &run, Kernel kernel)
{
    static const double floor = qEnvironmentVariableIsSet("ORVANE_BENCH_STALL_SECONDS")
                                    ? qEnvironmentVariable("ORVANE_BENCH_STALL_SECONDS").toDouble()
                                    : 30.0;
    Distribution times;
    for (const ThreadStats &t : run.report.threads) {
        times.merge(t.counted.kernels[static_cast<int>(kernel)]);
        times.merge(t.contended.kernels[static_cast<int>(kernel)]);
    }
    const auto median = times.median();
    return median ? std::max(floor, *median * 0.001 * 10.0) : MaxKernelSeconds;
}

void startWorkers(Run &run, KalvexLibrary &library, const QList<int> &cpus,
                  std::vector<std::thread> &workers, const Thermometer &thermometer)
{
    const BenchOptions &options = run.report.options;
    RunnerSettings settings;
    settings.cycles = options.cycles;
    settings.keepGoing = options.keepGoing;
    settings.burnIn = options.burnIn;
    if (options.duration)
        settings.deadline = std::chrono::steady_clock::now() + *options.duration;
    run.running = options.threads;
    for (int t = 0; t < options.threads; ++t) {
        run.report.threads[t].thread = t;
        workers.emplace_back([&run, &library, &thermometer, settings, t, cpu = cpus[t]] {
            RunnerSettings mine = settings;
            mine.thread = t;
            mine.cpu = cpu;
            CycleRunner runner(library, mine, run.control);
            runner.onKernelStart = [&run, t](Kernel kernel) {
                run.kernelRunning[t] = static_cast<int>(kernel);
                run.kernelSince[t] = run.wall.elapsed();
            };
            runner.onKernelEnd = [&run, t] {
                run.kernelSince[t] = -1;
            };
            runner.onMismatch = [&run, t](const Mismatch &mismatch) {
                // At once, whatever else is going on.
                print(stderr, QStringLiteral("\n") + mismatchLine(mismatch) + QLatin1Char('\n'));
                run.log.write(event("wrong_result", mismatchJson(mismatch)));
                const std::lock_guard lock(run.mutex);
                run.report.threads[t].addMismatch(mismatch);
                run.changed.notify_all();
            };
            if (thermometer.available())
                runner.temperature = [&thermometer](int cpu) {
                    return thermometer.celsius(cpu);
                };
            runner.onCycle = [&run, t](const CycleRecord &record) {
                run.log.write(event("cycle", cycleJson(record)));
                const std::lock_guard lock(run.mutex);
                for (const ThrottleEvent &e : run.report.threads[t].add(record))
                    run.log.write(event("throttling", throttleJson(e)));
                ++run.cyclesDone;
                run.lastCycle = record.overallText;
                run.lastClock = record.clockAfterMHz;
                run.lastCycleEnd = run.wall.elapsed();
                run.changed.notify_all();
            };
            const RunnerOutcome outcome = runner.run();
            const std::lock_guard lock(run.mutex);
            run.report.threads[t].cpu = outcome.cpu;
            if (run.report.failure.isEmpty())
                run.report.failure = outcome.failure;
            --run.running;
            run.changed.notify_all();
        });
    }
}

QString progressLine(const Run &run)
{
    const BenchOptions &options = run.report.options;
    const qint64 planned = options.duration ? 0 : qint64(options.cycles) * options.threads;
    const qint64 elapsed = run.wall.elapsed();
    qint64 remaining = 0;
    if (options.duration)
        remaining = std::max<qint64>(0, options.duration->count() - elapsed);
    else if (run.cyclesDone > 0)
        // The cycles still to come at the pace so far, less what the current one has run.
        remaining =
            std::max<qint64>(0, run.lastCycleEnd * (planned - run.cyclesDone) / run.cyclesDone -
                                    (elapsed - run.lastCycleEnd));
    return QStringLiteral("[%1] cycle %2%3  elapsed %4  remaining %5  last %6  clock %7")
        .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")))
        .arg(planned ? std::min(run.cyclesDone + 1, planned) : run.cyclesDone + 1)
        .arg(planned ? QStringLiteral("/%1").arg(planned) : QString())
        .arg(clockTime(elapsed),
             run.cyclesDone > 0 || options.duration ? clockTime(remaining) : QStringLiteral("?"),
             run.lastCycle.isEmpty() ? QStringLiteral("-") : run.lastCycle + QStringLiteral(" s"),
             run.lastClock > 0 ? QStringLiteral("%1 MHz").arg(qRound(run.lastClock))
                               : QStringLiteral("-"));
}

// Waits for the workers, drawing the progress line, and watches for a second signal and for a
// kernel that does not return.
void superviseWorkers(Run &run)
{
    const BenchOptions &options = run.report.options;
    const bool showProgress = !options.quiet && isatty(STDERR_FILENO);
    // A terminal that cannot clear a line gets blanks over the old one instead.
    const bool dumb = qgetenv("TERM") == "dumb" || qgetenv("TERM").isEmpty();
    qsizetype lastWidth = 0;
    bool stopping = false;
    std::unique_lock lock(run.mutex);
    while (run.running > 0) {
        run.changed.wait_for(lock, std::chrono::milliseconds(250));
        if (firstSignal.load() != 0 && !stopping) {
            stopping = true;
            run.control.requestStop(RunControl::Reason::Signal);
            print(stderr, QStringLiteral(
                              "\norvane-bench: stopping once the kernels running now end; signal "
                              "again to end at once.\n"));
        }
        if (signalsReceived.load() > 1) {
            run.report.signal = firstSignal.load();
            lock.unlock();
            endNow(run, 128 + run.report.signal);
        }
        for (int t = 0; t < options.threads; ++t) {
            const qint64 since = run.kernelSince[t].load();
            if (since < 0)
                continue;
            const auto kernel = static_cast<Kernel>(run.kernelRunning[t].load());
            const double limit = stallLimitSeconds(run, kernel);
            const double running = (run.wall.elapsed() - since) / 1000.0;
            if (running > limit) {
                run.report.failure =
                    QStringLiteral("the %1 kernel of thread %2 has run for %3 s, far longer than "
                                   "it may (%4 s)")
                        .arg(QLatin1String(kernelSymbol(kernel)))
                        .arg(t)
                        .arg(qRound(running))
                        .arg(limit);
                lock.unlock();
                endNow(run, 1);
            }
        }
        if (showProgress) {
            const QString line = progressLine(run);
            print(stderr, dumb ? QString(QLatin1Char('\r') + line.leftJustified(lastWidth))
                               : QString(QStringLiteral("\r\033[K") + line));
            lastWidth = line.size();
        }
    }
    if (showProgress)
        print(stderr, dumb ? QString(QLatin1Char('\r') + QString(lastWidth, QLatin1Char(' ')) +
                                     QLatin1Char('\r'))
                           : QStringLiteral("\r\033[K"));
}

// Prints a failure that ends the program before any cycle ran, in JSON too when asked.
int failEarly(BenchReport &report, const QString &failure)
{
    report.failure = failure;
    if (report.options.json)
        print(stdout, QString::fromUtf8(reportJson(report).toJson(QJsonDocument::Indented)));
    print(stderr, QStringLiteral("orvane-bench: ") + failure + QLatin1Char('\n'));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvane-bench"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));
    // Numbers are written with a point whatever the user's locale, for scripts to read.
    QLocale::setDefault(QLocale::c());
    // Qt Network is linked for the name lookups before a run: submitting uses it too.
    useLinkedTcpConnections();

    const QList<int> processors = processorsInOrder();
    const auto parsed =
        parseBenchOptions(QCoreApplication::arguments(), static_cast<int>(processors.size()));
    if (const auto *error = std::get_if<OptionsError>(&parsed)) {
        print(stderr,
              QStringLiteral("orvane-bench: ") + error->message + QLatin1Char('\n') + benchUsage());
        return 2;
    }
    const BenchOptions &options = std::get<BenchOptions>(parsed);
    if (options.help)
        return print(stdout, benchHelp()) ? 0 : 1;
    if (options.version)
        return print(stdout, QStringLiteral("orvane-bench " ORVANE_VERSION "\n")) ? 0 : 1;
    Run run(options.threads);
    run.wall.start();
    signalledControl = &run.control;
    installSignalHandlers();
    BenchReport &report = run.report;
    report.options = options;

    QString error;
    KernelLibraryFile kernels = loadKernelLibrary(options.library, &error);
    if (!kernels.library)
        return failEarly(report, QStringLiteral("the benchmark library libkalvex.so could not be "
                                                "loaded: ") +
                                     error);
    if (options.burnIn && !kernels.library->hasCheckedKernels())
        return failEarly(report, QStringLiteral("the kernel library %1 has no checked kernels, "
                                                "which a burn-in runs")
                                     .arg(kernels.path));
    if (const auto problem = serverProblem(options))
        return failEarly(report, *problem);
    if (!options.logFile.isEmpty() && !run.log.open(options.logFile, &error))
        return failEarly(report, error);

    const QList<int> cpus = processors.mid(0, options.threads);
    if (options.threads > 1)
        report.sharedCores = sharedCores(cpus);
    report.threads.resize(options.threads);
    // The clock is the first cycle's first reading, taken once the run ends.
    Provenance provenance{kernels.path, kernels.sha256, kernels.library->buildRecord(), 0.0,
                          options.hostname};
    report.provenance = provenanceJson(provenance);
    const Thermometer thermometer;
    report.temperaturesKnown = thermometer.available();
    run.log.write(
        event("start", {{QStringLiteral("kernels"),
                         options.burnIn ? QStringLiteral("checked") : QStringLiteral("timed")},
                        {QStringLiteral("threads"), options.threads},
                        {QStringLiteral("provenance"), report.provenance}}));

    // The host is sampled beside the first cycle rather than before it.
    std::thread sampler([&run] {
        const QStringList warnings = hostWarnings();
        for (const QString &warning : warnings) {
            print(stderr, QStringLiteral("warning: ") + warning + QLatin1Char('\n'));
            run.log.write(event("warning", {{QStringLiteral("text"), warning}}));
        }
        const std::lock_guard lock(run.mutex);
        run.report.warnings = warnings;
    });
    std::vector<std::thread> workers;
    startWorkers(run, *kernels.library, cpus, workers, thermometer);
    superviseWorkers(run);
    for (std::thread &worker : workers)
        worker.join();
    sampler.join();
    report.wallSeconds = run.wall.elapsed() / 1000.0;
    report.signal = firstSignal.load();
    // As the run ends: the file named may be another by now; the hash is the loaded one's.
    if (!report.threads.isEmpty() && !report.threads[0].listed.isEmpty())
        provenance.clockMHz = report.threads[0].listed[0].clockBeforeMHz;
    report.provenance = provenanceJson(provenance);

    int status = exitStatus(report);
    QJsonObject submission;
    if (options.submit)
        submission = sendScore(report, &status, [] { return signalsReceived.load() != 0; });
    const bool written = printReport(report, submission);
    if (!options.json && options.submit) {
        if (submission.value(QStringLiteral("sent")).toBool())
            print(stdout, submission.value(QStringLiteral("reply")).toString() + QLatin1Char('\n'));
        else
            print(stderr, QStringLiteral("orvane-bench: the score was not submitted: ") +
                              submission.value(QStringLiteral("problem")).toString() +
                              QLatin1Char('\n'));
    }
    if (!report.failure.isEmpty())
        print(stderr, QStringLiteral("orvane-bench: ") + report.failure + QLatin1Char('\n'));
    run.log.write(
        event("end", {{QStringLiteral("status"), status},
                      {QStringLiteral("result"),
                       report.passed() ? QStringLiteral("pass") : QStringLiteral("fail")}}));
    if (!written || std::fflush(stdout) != 0 || std::ferror(stdout)) {
        print(stderr, QStringLiteral("orvane-bench: cannot write the report: %1\n")
                          .arg(QString::fromLocal8Bit(std::strerror(errno ? errno : EIO))));
        return 1;
    }
    return status;
}
