// orvane-bench: the Orvane benchmark without a screen. See benchHelp() for what it does.
#include "benchoptions.h"
#include "cyclerunner.h"
#include "hostcheck.h"
#include "report.h"

#include "core/numbertext.h"
#include "core/version.h"
#include "submit/submissionclient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>

#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<bool> stopRequested{false};

extern "C" void onSignal(int)
{
    stopRequested.store(true);
}

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
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

// The submission window's part, played on the command line: the nickname and server come from
// the options, the reply and any message are kept to be reported.
class CommandLineSubmitView final : public SubmitView
{
public:
    CommandLineSubmitView(const BenchOptions &options, QString score)
        : m_options(options), m_score(std::move(score))
    {}

    QString nickname() const override { return m_options.nickname; }
    void setNickname(const QString &) override {}
    void focusNickname() override {}
    QString serverAddress() const override { return m_options.submitHost; }
    QString serverPort() const override { return QString::number(m_options.submitPort); }
    QString score() const override { return m_score; }
    void setReply(const QString &text) override { reply = text; }
    void setProcessEnabled(bool) override {}
    void showMessage(const QString &text, const QString &, MessageIcon) override
    {
        if (problem.isEmpty())
            problem = text;
    }
    void letEventsRun() override { QCoreApplication::processEvents(); }
    void destroyControls() override { failed = true; }
    void hideWindow() override {}

    QString reply;
    QString problem;
    bool failed = false;

private:
    const BenchOptions &m_options;
    QString m_score;
};

struct Submission
{
    bool ok = false;
    QString reply;
    QString problem;
};

Submission submit(const BenchOptions &options, const QString &score)
{
    CommandLineSubmitView view(options, score);
    SubmissionClient client(view, 1000, 5000, options.submitPort + 1);
    client.processResults();
    // The server answers with one line and closes; wait for both, a while at most.
    const QDeadlineTimer deadline(15000);
    while (
        !view.failed && !deadline.hasExpired() && !stopRequested.load() &&
        (view.reply.isEmpty() || client.socket().isConnected() || client.socket().isConnecting()))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    client.controlsDestroyed();
    Submission result;
    result.reply = view.reply.trimmed();
    result.problem = view.problem;
    result.ok = !view.failed && !result.reply.isEmpty();
    if (!result.ok && result.problem.isEmpty())
        result.problem = QStringLiteral("the server did not answer");
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvane-bench"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));
    // Numbers are written with a point whatever the user's locale, for scripts to read.
    QLocale::setDefault(QLocale::c());

    const QList<int> processors = processorsInOrder();
    const auto parsed = parseBenchOptions(QCoreApplication::arguments().mid(1),
                                          static_cast<int>(processors.size()));
    if (const auto *error = std::get_if<OptionsError>(&parsed)) {
        print(stderr,
              QStringLiteral("orvane-bench: ") + error->message + QLatin1Char('\n') + benchUsage());
        return 2;
    }
    const BenchOptions &options = std::get<BenchOptions>(parsed);
    if (options.help) {
        print(stdout, benchHelp());
        return 0;
    }
    if (options.version) {
        print(stdout, QStringLiteral("orvane-bench " ORVANE_VERSION "\n"));
        return 0;
    }

    struct sigaction action
    {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    BenchReport report;
    report.options = options;

    std::unique_ptr<KalvexLibrary> library = options.library.isEmpty()
                                                 ? std::make_unique<KalvexLibrary>()
                                                 : KalvexLibrary::fromFile(options.library);
    QString loadError;
    if (!library->load(&loadError)) {
        report.failure =
            QStringLiteral("the benchmark library libkalvex.so could not be loaded: ") + loadError;
        if (options.json)
            print(stdout, QString::fromUtf8(reportJson(report).toJson(QJsonDocument::Indented)));
        print(stderr, QStringLiteral("orvane-bench: ") + report.failure + QLatin1Char('\n'));
        return 1;
    }

    report.warnings = hostWarnings();
    for (const QString &warning : std::as_const(report.warnings))
        print(stderr, QStringLiteral("warning: ") + warning + QLatin1Char('\n'));
    const QList<int> cpus = processors.mid(0, options.threads);
    if (options.threads > 1)
        report.sharedCores = sharedCores(cpus);
    report.provenance =
        provenanceJson({library->loadedPath(), effectiveClockMHz(), options.hostname});

    // Progress, shared by the threads: cycles done, the last cycle's time and clock.
    std::mutex mutex;
    std::condition_variable changed;
    int cyclesDone = 0;
    int running = options.threads;
    QString lastCycle;
    double lastClock = 0.0;
    qint64 lastCycleEnd = 0; // milliseconds into the run

    QElapsedTimer wall;
    wall.start();
    RunnerSettings settings;
    settings.cycles = options.cycles;
    settings.keepGoing = options.keepGoing;
    if (options.duration)
        settings.deadline = std::chrono::steady_clock::now() + *options.duration;
    report.threads.resize(options.threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < options.threads; ++t) {
        report.threads[t].thread = t;
        workers.emplace_back([&, t] {
            RunnerSettings mine = settings;
            mine.thread = t;
            // One thread keeps its processor; several each get their own.
            mine.cpu = options.threads > 1 ? cpus[t] : -1;
            CycleRunner runner(*library, mine, stopRequested);
            runner.onCycle = [&](const CycleRecord &record) {
                const std::lock_guard lock(mutex);
                ++cyclesDone;
                lastCycle = record.overallText;
                lastClock = record.clockAfterMHz;
                lastCycleEnd = wall.elapsed();
                changed.notify_all();
            };
            RunnerOutcome outcome = runner.run();
            const std::lock_guard lock(mutex);
            report.threads[t].outcome = std::move(outcome);
            --running;
            changed.notify_all();
        });
    }

    const bool showProgress = !options.quiet && isatty(STDERR_FILENO);
    const int planned = options.duration ? 0 : options.cycles * options.threads;
    {
        std::unique_lock lock(mutex);
        while (running > 0) {
            changed.wait_for(lock, std::chrono::milliseconds(250));
            if (!showProgress)
                continue;
            const qint64 elapsed = wall.elapsed();
            qint64 remaining = 0;
            if (options.duration)
                remaining = std::max<qint64>(0, options.duration->count() - elapsed);
            else if (cyclesDone > 0)
                // The cycles still to come at the pace so far, less what the current one has run.
                remaining = std::max<qint64>(0, lastCycleEnd * (planned - cyclesDone) / cyclesDone -
                                                    (elapsed - lastCycleEnd));
            const QString line =
                QStringLiteral("\r\033[Kcycle %1%2  elapsed %3  remaining %4  last %5  clock %6")
                    .arg(planned ? std::min(cyclesDone + 1, planned) : cyclesDone + 1)
                    .arg(planned ? QStringLiteral("/%1").arg(planned) : QString())
                    .arg(clockTime(elapsed),
                         cyclesDone > 0 || options.duration ? clockTime(remaining)
                                                            : QStringLiteral("?"),
                         lastCycle.isEmpty() ? QStringLiteral("-")
                                             : lastCycle + QStringLiteral(" s"),
                         lastClock > 0 ? QStringLiteral("%1 MHz").arg(qRound(lastClock))
                                       : QStringLiteral("-"));
            print(stderr, line);
        }
    }
    for (std::thread &worker : workers)
        worker.join();
    if (showProgress)
        print(stderr, QStringLiteral("\r\033[K"));
    report.wallSeconds = wall.elapsed() / 1000.0;

    for (ThreadResult &t : report.threads) {
        t.score = scoreOf(t.outcome.cycles);
        if (report.failure.isEmpty())
            report.failure = t.outcome.failure;
    }
    report.score = scoreOf(report.allCycles());
    report.interrupted = stopRequested.load();

    int status = exitStatus(report);
    QJsonObject submission;
    if (options.submit) {
        if (status != 0 || report.score.text.isEmpty()) {
            submission.insert(QStringLiteral("sent"), false);
            submission.insert(QStringLiteral("problem"),
                              QStringLiteral("not sent: the run did not end cleanly"));
        } else {
            const Submission sent = submit(options, report.score.text);
            submission = {{QStringLiteral("sent"), sent.ok},
                          {QStringLiteral("server"), QString(options.submitHost + QLatin1Char(':') +
                                                             QString::number(options.submitPort))},
                          {QStringLiteral("reply"), sent.reply}};
            if (!sent.ok) {
                submission.insert(QStringLiteral("problem"), sent.problem);
                status = 1;
            }
        }
    }

    if (options.json) {
        QJsonObject root = reportJson(report).object();
        if (options.submit)
            root.insert(QStringLiteral("submission"), submission);
        print(stdout, QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented)));
    } else {
        print(stdout, reportText(report));
        if (options.submit) {
            if (submission.value(QStringLiteral("sent")).toBool())
                print(stdout,
                      submission.value(QStringLiteral("reply")).toString() + QLatin1Char('\n'));
            else
                print(stderr, QStringLiteral("orvane-bench: the score was not submitted: ") +
                                  submission.value(QStringLiteral("problem")).toString() +
                                  QLatin1Char('\n'));
        }
    }
    if (!report.failure.isEmpty())
        print(stderr, QStringLiteral("orvane-bench: ") + report.failure + QLatin1Char('\n'));
    return status;
}
