// orvane-bench as its users run it: the installed-style program in a process of its own, with
// the real kernels or with stand-ins of fixed times, its output read back.
#include "benchmark/burninwindow.h"
#include "helpers.h"
#include "hostcheck.h"
#include "shell/appwindows.h"
#include "sysinfo/linuxhost.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <csignal>
#include <sched.h>
#include <unistd.h>

namespace {

struct Ran
{
    int code = -1;
    QString out;
    QString err;
    QJsonObject json;
};

// Runs orvane-bench to its end; during() is called once it has started.
Ran bench(const QStringList &arguments, const std::function<void(QProcess &)> &during = {},
          const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(ORVANE_BENCH), arguments);
    if (!process.waitForStarted())
        return {};
    if (during)
        during(process);
    if (!process.waitForFinished(50000))
        process.kill();
    Ran ran;
    ran.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    ran.out = QString::fromUtf8(process.readAllStandardOutput());
    ran.err = QString::fromUtf8(process.readAllStandardError());
    if (arguments.contains(QStringLiteral("--json")))
        ran.json = QJsonDocument::fromJson(ran.out.toUtf8()).object();
    return ran;
}

// The processor a single thread is pinned to.
int firstProcessor()
{
    return processorsInOrder().value(0);
}

QByteArray sha256Of(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
}

// A score server of this process's own that answers every submission with this line.
class Answering : public QObject
{
public:
    explicit Answering(QByteArray line) : m_line(std::move(line))
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *peer = m_server.nextPendingConnection();
            connect(peer, &QTcpSocket::readyRead, peer, [this, peer] {
                received += peer->readAll();
                if (received.endsWith("data")) {
                    peer->write(m_line);
                    peer->disconnectFromHost();
                }
            });
        });
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_server.serverPort()); }
    QByteArray received;

private:
    QTcpServer m_server;
    QByteArray m_line;
};

// Runs orvane-bench while this process keeps serving its events, to its end or for timeoutMs.
Ran benchServed(const QStringList &arguments, int timeoutMs = 30000)
{
    QProcess process;
    process.start(QStringLiteral(ORVANE_BENCH), arguments);
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    Ran ran;
    ran.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    ran.out = QString::fromUtf8(process.readAllStandardOutput());
    ran.err = QString::fromUtf8(process.readAllStandardError());
    ran.json = QJsonDocument::fromJson(ran.out.toUtf8()).object();
    return ran;
}

// The environment for the library that holds its second pi call until released.
QProcessEnvironment holding(const QTemporaryDir &dir)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ORVANE_TEST_STARTED"),
                       dir.filePath(QStringLiteral("started")));
    environment.insert(QStringLiteral("ORVANE_TEST_RELEASE"),
                       dir.filePath(QStringLiteral("release")));
    return environment;
}

QStringList fixed(const QStringList &more)
{
    return QStringList{QStringLiteral("--library"), QStringLiteral(FIXED_KERNELS),
                       QStringLiteral("--json")} +
           more;
}

} // namespace

class TestOrvaneBench : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void badOptions_data();
    void badOptions();
    void helpAndVersion();
    void sameScoreAsTheWindow();
    void unusableLibrary_data();
    void unusableLibrary();
    void wrongResultEndsTheRun_data();
    void wrongResultEndsTheRun();
    void twoThreadsOnRealKernels();
    void submitsTheExactBytes();
    void interruptedRunReportsWhatWasComplete_data();
    void interruptedRunReportsWhatWasComplete();
    void secondSignalEndsAtOnce();
    void stalledKernelEndsTheRun();
    void wrongResultOnOneThreadStopsEveryThread();
    void wrongResultIsPrintedAtOnce();
    void burnInChecksEveryOperation();
    void burnInFormsNoScore();
    void wrongPowerResultLeavesTheScore();
    void absurdTimesRejectTheLibrary_data();
    void absurdTimesRejectTheLibrary();
    void provenanceIsTheLibrarysOwn();
    void hashIsOfTheLoadedFile();
    void refusedSubmissionIsAFailure();
    void failedRunIsNotSubmitted();
    void unknownServerBeforeAnyCycle();
    void writeErrorsAreReported_data();
    void writeErrorsAreReported();
    void contendedCyclesAreKeptApart();
    void logHasEveryCycleAsItHappens();
    void progressLineOnATerminal_data();
    void progressLineOnATerminal();
};

void TestOrvaneBench::initTestCase()
{
    failOnUnexpectedBoxes();
    QLocale::setDefault(QLocale::c());
}

void TestOrvaneBench::badOptions_data()
{
    QTest::addColumn<QByteArrayList>("arguments");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("unknown") << QByteArrayList{"--fast"} << QByteArray("Unknown option 'fast'");
    QTest::newRow("no cycles") << QByteArrayList{"--cycles", "0"} << QByteArray("--cycles takes");
    QTest::newRow("cycles not a number")
        << QByteArrayList{"--cycles=two"} << QByteArray("not \"two\"");
    QTest::newRow("cycles without a value")
        << QByteArrayList{"--cycles"} << QByteArray("Missing value after \'--cycles\'");
    QTest::newRow("duration") << QByteArrayList{"--duration", "10x"}
                              << QByteArray("--duration takes");
    QTest::newRow("both") << QByteArrayList{"--cycles", "2", "--duration", "1m"}
                          << QByteArray("together");
    QTest::newRow("threads") << QByteArrayList{"--threads", "100000"}
                             << QByteArray("--threads takes");
    QTest::newRow("port") << QByteArrayList{"--submit", "host:70000", "--nickname", "kim"}
                          << QByteArray("--submit takes");
    QTest::newRow("nickname alone")
        << QByteArrayList{"--nickname", "kim"} << QByteArray("go together");
    QTest::newRow("long nickname") << QByteArrayList{"--submit", "h", "--nickname", "abcdefghijk"}
                                   << QByteArray("1 to 10 characters");
    QTest::newRow("flag with a value")
        << QByteArrayList{"--json=yes"} << QByteArray("Unexpected value after '--json'");
    QTest::newRow("a duration too short to run anything")
        << QByteArrayList{"--duration", "0.0004"} << QByteArray("--duration takes");
    QTest::newRow("reserved nickname, before any cycle")
        << QByteArrayList{"--submit", "127.0.0.1", "--nickname", "nimbu[s]"}
        << QByteArray("reserved");
}

void TestOrvaneBench::badOptions()
{
    QFETCH(QByteArrayList, arguments);
    QFETCH(QByteArray, message);
    QStringList texts;
    for (const QByteArray &argument : arguments)
        texts << QString::fromUtf8(argument);
    const Ran ran = bench(texts);
    QCOMPARE(ran.code, 2);
    QVERIFY2(ran.err.contains(QString::fromUtf8(message)), qPrintable(ran.err));
    QVERIFY(ran.err.contains(QStringLiteral("Usage: orvane-bench")));
    QVERIFY(ran.out.isEmpty());
}

void TestOrvaneBench::helpAndVersion()
{
    const Ran help = bench({QStringLiteral("--help")});
    QCOMPARE(help.code, 0);
    QVERIFY(help.out.startsWith(QStringLiteral("Usage: orvane-bench")));
    const Ran version = bench({QStringLiteral("--version")});
    QCOMPARE(version.code, 0);
    QCOMPARE(version.out, QStringLiteral("orvane-bench 3.0.0\n"));
}

// Three cycles of changing times: the score, the totals of each cycle and every time are the
// window's, digit for digit.
void TestOrvaneBench::sameScoreAsTheWindow()
{
    const Ran ran = bench(fixed({QStringLiteral("--cycles"), QStringLiteral("3")}));
    QCOMPARE(ran.code, 0);
    QCOMPARE(ran.json.value(u"cycles_completed").toInt(), 3);

    // The window's run over the same library, loaded afresh in this process.
    auto kernels = KalvexLibrary::fromFile(QStringLiteral(FIXED_KERNELS));
    LinuxHost host;
    AppWindows windows(*kernels, host.probe);
    control<QLineEdit>(windows.burnIn(), "Text1")->setText(QStringLiteral("3"));
    windows.mainWindow()->pressBenchmark();
    const QString log = windows.burnIn()->logText();
    const QString score = windows.mainWindow()->text(Field::OverallTotal);
    QVERIFY(!score.isEmpty());

    QCOMPARE(ran.json.value(u"score").toObject().value(u"text").toString(), score);
    const QJsonArray cycles =
        ran.json.value(u"threads").toArray()[0].toObject().value(u"cycles").toArray();
    QCOMPARE(cycles.size(), 3);
    // The log holds each cycle's total as the window showed it.
    for (const QJsonValue cycle : cycles) {
        const QString line = QStringLiteral("Cycle %1 Completed. Time: %2 seconds.")
                                 .arg(cycle.toObject().value(u"cycle").toInt())
                                 .arg(cycle.toObject().value(u"overall").toDouble());
        QVERIFY2(log.contains(line), qPrintable(line + QStringLiteral(" not in ") + log));
    }
}

void TestOrvaneBench::unusableLibrary_data()
{
    QTest::addColumn<QString>("library");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing") << QStringLiteral("/nonexistent/libkalvex.so.1")
                             << QStringLiteral("could not be loaded");
    QTest::newRow("no entry points")
        << QStringLiteral(WITHOUT_KERNELS) << QStringLiteral("has no entry point \"addition\"");
    QTest::newRow("impossible time") << QStringLiteral(BADTIME_KERNELS)
                                     << QStringLiteral("multiplication kernel reported an "
                                                       "impossible time, -0.001 seconds");
}

// The program says what is wrong with the library and reports no figure it could not trust.
void TestOrvaneBench::unusableLibrary()
{
    QFETCH(QString, library);
    QFETCH(QString, message);
    const Ran ran = bench({QStringLiteral("--library"), library, QStringLiteral("--json")});
    QCOMPARE(ran.code, 1);
    QVERIFY2(ran.err.contains(message), qPrintable(ran.err));
    QVERIFY(ran.json.value(u"failure").toString().contains(message));
    QVERIFY(ran.json.value(u"score").isNull());
}

void TestOrvaneBench::wrongResultEndsTheRun_data()
{
    QTest::addColumn<bool>("keepGoing");
    QTest::newRow("stops") << false;
    QTest::newRow("keeps going") << true;
}

void TestOrvaneBench::wrongResultEndsTheRun()
{
    QFETCH(bool, keepGoing);
    QStringList arguments{QStringLiteral("--library"), QStringLiteral(WRONG_KERNELS),
                          QStringLiteral("--cycles"), QStringLiteral("3")};
    if (keepGoing)
        arguments << QStringLiteral("--keep-going");
    const Ran text = bench(arguments);
    QCOMPARE(text.code, 3);
    const QString line = QStringLiteral(" WRONG RESULT: thread 0, cpu %1, cycle 1, prime: expected "
                                        "30712429, obtained 30712429.000000004");
    QVERIFY2(text.out.contains(line.arg(firstProcessor())), qPrintable(text.out));
    QVERIFY2(text.err.contains(line.arg(firstProcessor())), qPrintable(text.err));
    QVERIFY(text.out.contains(QStringLiteral("FAIL: ")));

    const Ran json = bench(arguments << QStringLiteral("--json"));
    QCOMPARE(json.code, 3);
    const QJsonObject verification = json.json.value(u"verification").toObject();
    QCOMPARE(verification.value(u"wrong_results").toInt(), keepGoing ? 3 : 1);
    const QJsonObject first = verification.value(u"mismatches").toArray()[0].toObject();
    QCOMPARE(first.value(u"kernel").toString(), QStringLiteral("prime"));
    QCOMPARE(first.value(u"expected").toString(), QStringLiteral("30712429"));
    // Stopped at the next kernel: the cycle with the wrong result does not count.
    QCOMPARE(json.json.value(u"cycles_completed").toInt(), keepGoing ? 3 : 0);
    QCOMPARE(json.json.value(u"cycles_counted").toInt(), 0);
    QCOMPARE(json.json.value(u"result").toString(), QStringLiteral("fail"));
}

void TestOrvaneBench::twoThreadsOnRealKernels()
{
    const Ran ran =
        bench({QStringLiteral("--threads"), QStringLiteral("2"), QStringLiteral("--json")});
    QCOMPARE(ran.code, 0);
    const QJsonArray threads = ran.json.value(u"threads").toArray();
    QCOMPARE(threads.size(), 2);
    QVERIFY(threads[0].toObject().value(u"cpu").toInt() !=
            threads[1].toObject().value(u"cpu").toInt());
    for (const QJsonValue thread : threads) {
        QCOMPARE(thread.toObject().value(u"cycles").toArray().size(), 1);
        QCOMPARE(thread.toObject().value(u"cpu").toInt(),
                 thread.toObject().value(u"cycles").toArray()[0].toObject().value(u"cpu").toInt());
        // Counted in the thread's score, unless the machine gave it less than 95 % of a
        // processor: then it is marked so, and the figures say why.
        const QJsonObject cycle = thread.toObject().value(u"cycles").toArray()[0].toObject();
        if (cycle.value(u"contended").toBool())
            QVERIFY(cycle.value(u"cpu_seconds").toDouble() <
                    0.95 * cycle.value(u"wall_seconds").toDouble());
        else
            QVERIFY(thread.toObject()
                        .value(u"score")
                        .toObject()
                        .value(u"seconds_per_cycle")
                        .toDouble() > 0);
    }
    QCOMPARE(ran.json.value(u"verification").toObject().value(u"wrong_results").toInt(), 0);
    QVERIFY(!ran.json.value(u"provenance")
                 .toObject()
                 .value(u"kernel_library")
                 .toObject()
                 .value(u"sha256")
                 .toString()
                 .isEmpty());
}

void TestOrvaneBench::submitsTheExactBytes()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QByteArray received;
    connect(&server, &QTcpServer::newConnection, this, [&] {
        QTcpSocket *peer = server.nextPendingConnection();
        connect(peer, &QTcpSocket::readyRead, peer, [&, peer] {
            received += peer->readAll();
            if (received.endsWith("data")) {
                peer->write("Thanks, kim: 1.743 s is #1 of 1.\n");
                peer->disconnectFromHost();
            }
        });
    });
    const QString address = QStringLiteral("127.0.0.1:%1").arg(server.serverPort());
    QProcess process;
    process.start(QStringLiteral(ORVANE_BENCH),
                  fixed({QStringLiteral("--submit"), address, QStringLiteral("--nickname"),
                         QStringLiteral("kim")}));
    // The server lives in this process: serve it while the program runs.
    QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 30000);
    const QJsonObject json = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    QCOMPARE(process.exitCode(), 0);
    const QString score = json.value(u"score").toObject().value(u"text").toString();
    QCOMPARE(received, (score + QStringLiteral("           By kimdata")).toUtf8());
    QCOMPARE(json.value(u"submission").toObject().value(u"reply").toString(),
             QStringLiteral("Thanks, kim: 1.743 s is #1 of 1."));
}

void TestOrvaneBench::interruptedRunReportsWhatWasComplete_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("status");
    QTest::newRow("SIGINT") << SIGINT << 130;
    QTest::newRow("SIGTERM") << SIGTERM << 143;
    QTest::newRow("SIGHUP, a dropped session") << SIGHUP << 129;
}

// A signal during a kernel: the kernel runs to its end, the run stops there, and what was
// complete is reported, marked as stopped, with the signal's conventional status.
void TestOrvaneBench::interruptedRunReportsWhatWasComplete()
{
    QFETCH(int, signal);
    QFETCH(int, status);
    QTemporaryDir dir;
    const Ran ran = bench(
        {QStringLiteral("--library"), QStringLiteral(SLOW_KERNELS), QStringLiteral("--cycles"),
         QStringLiteral("3"), QStringLiteral("--json")},
        [&](QProcess &process) {
            // The second cycle's pi kernel is running: signal, then let it finish.
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("started"))), 30000);
            ::kill(static_cast<pid_t>(process.processId()), signal);
            // Only once the program says it is stopping may the kernel end: on a busy machine the
            // signal could otherwise arrive after the cycle it was sent during.
            QByteArray said;
            QTRY_VERIFY_WITH_TIMEOUT(
                (said += process.readAllStandardError()).contains("orvane-bench: stopping"), 30000);
            QFile(dir.filePath(QStringLiteral("release"))).open(QIODevice::WriteOnly);
        },
        holding(dir));
    QCOMPARE(ran.code, status);
    QCOMPARE(ran.json.value(u"aborted").toBool(), true);
    QCOMPARE(ran.json.value(u"cycles_completed").toInt(), 1);
    QVERIFY(!ran.json.value(u"score").toObject().value(u"text").toString().isEmpty());
}

// A kernel that does not return: a second Ctrl-C ends the program at once, with what is complete.
void TestOrvaneBench::secondSignalEndsAtOnce()
{
    QTemporaryDir dir;
    const Ran ran = bench(
        {QStringLiteral("--library"), QStringLiteral(SLOW_KERNELS), QStringLiteral("--cycles"),
         QStringLiteral("3"), QStringLiteral("--json")},
        [&](QProcess &process) {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("started"))), 30000);
            ::kill(static_cast<pid_t>(process.processId()), SIGINT);
            // Two signals sent at once may arrive as one: the second after the first is seen.
            QByteArray err;
            QTRY_VERIFY((err += process.readAllStandardError()).contains("again to end at once"));
            ::kill(static_cast<pid_t>(process.processId()), SIGINT);
            QVERIFY(process.waitForFinished(10000)); // never released
        },
        holding(dir));
    QCOMPARE(ran.code, 130);
    QCOMPARE(ran.json.value(u"cycles_completed").toInt(), 1);
    QCOMPARE(ran.json.value(u"signal").toString(), QStringLiteral("SIGINT"));
}

// A kernel that runs far past its usual time ends the run as a failure, reporting what is complete.
void TestOrvaneBench::stalledKernelEndsTheRun()
{
    QTemporaryDir dir;
    QProcessEnvironment environment = holding(dir);
    environment.insert(QStringLiteral("ORVANE_BENCH_STALL_SECONDS"), QStringLiteral("1"));
    const Ran ran =
        bench({QStringLiteral("--library"), QStringLiteral(SLOW_KERNELS),
               QStringLiteral("--cycles"), QStringLiteral("3"), QStringLiteral("--json")},
              {}, environment);
    QCOMPARE(ran.code, 1);
    QVERIFY2(ran.json.value(u"failure")
                 .toString()
                 .contains(QStringLiteral("the pi kernel of thread 0 has run for")),
             qPrintable(ran.out + ran.err));
    QCOMPARE(ran.json.value(u"cycles_completed").toInt(), 1);
}

// A library wrong only on processor 1, every processor loaded for a minute: the wrong result
// ends every thread's run at once, not when the minute is up.
void TestOrvaneBench::wrongResultOnOneThreadStopsEveryThread()
{
    if (processorsInOrder().size() < 2 || !processorsInOrder().contains(1))
        QSKIP("needs processors 0 and 1");
    QElapsedTimer clock;
    clock.start();
    const Ran ran =
        bench({QStringLiteral("--library"), QStringLiteral(WRONG_CPU1_KERNELS),
               QStringLiteral("--threads"), QStringLiteral("all"), QStringLiteral("--duration"),
               QStringLiteral("60s"), QStringLiteral("--json")});
    QVERIFY2(clock.elapsed() < 30000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(ran.code, 3);
    QVERIFY2(ran.err.contains(QStringLiteral(" WRONG RESULT: thread ")) &&
                 ran.err.contains(QStringLiteral(", cpu 1, cycle 1, addition: expected check ")),
             qPrintable(ran.err));
    for (const QJsonValue thread : ran.json.value(u"threads").toArray()) {
        const QJsonObject t = thread.toObject();
        QCOMPARE(t.value(u"wrong_results").toInt(), t.value(u"cpu").toInt() == 1 ? 1 : 0);
    }
}

// With --keep-going the run goes on, but the wrong result is on standard error the moment it is
// found, with its time, thread, processor, cycle and kernel; each thread counts its own.
void TestOrvaneBench::wrongResultIsPrintedAtOnce()
{
    if (processorsInOrder().size() < 2 || !processorsInOrder().contains(1))
        QSKIP("needs processors 0 and 1");
    QProcess process;
    process.start(QStringLiteral(ORVANE_BENCH),
                  {QStringLiteral("--library"), QStringLiteral(WRONG_CPU1_KERNELS),
                   QStringLiteral("--threads"), QStringLiteral("all"), QStringLiteral("--duration"),
                   QStringLiteral("60s"), QStringLiteral("--keep-going"),
                   QStringLiteral("--json")});
    QString err;
    QTRY_VERIFY_WITH_TIMEOUT(
        (err += QString::fromUtf8(process.readAllStandardError())).contains(u"WRONG RESULT"),
        20000);
    QCOMPARE(process.state(), QProcess::Running);
    QVERIFY2(QRegularExpression(
                 QStringLiteral("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z WRONG RESULT: "
                                "thread \\d, cpu 1, cycle \\d+, \\w+: expected "))
                 .match(err)
                 .hasMatch(),
             qPrintable(err));
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitCode(), 3); // a wrong result outweighs the interruption
    const QJsonObject json = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    qint64 wrong = 0;
    for (const QJsonValue thread : json.value(u"threads").toArray()) {
        const QJsonObject t = thread.toObject();
        if (t.value(u"cpu").toInt() == 1)
            QVERIFY(t.value(u"wrong_results").toInteger() >= 7);
        else
            QCOMPARE(t.value(u"wrong_results").toInt(), 0);
        wrong += t.value(u"wrong_results").toInteger();
    }
    QCOMPARE(json.value(u"verification").toObject().value(u"wrong_results").toInteger(), wrong);
}

// A wrong check with a right result: only a burn-in, which runs the checked kernels, sees it.
void TestOrvaneBench::burnInChecksEveryOperation()
{
    const QStringList library{QStringLiteral("--library"), QStringLiteral(WRONG_CHECK_KERNELS),
                              QStringLiteral("--cycles"), QStringLiteral("2"),
                              QStringLiteral("--json")};
    const Ran benchmark = bench(library);
    QCOMPARE(benchmark.code, 0);
    QCOMPARE(benchmark.json.value(u"kernels").toString(), QStringLiteral("timed"));

    const Ran burnIn = bench(library + QStringList{QStringLiteral("--burn-in")});
    QCOMPARE(burnIn.code, 3);
    QCOMPARE(burnIn.json.value(u"kernels").toString(), QStringLiteral("checked"));
    const QJsonObject mismatch =
        burnIn.json.value(u"verification").toObject().value(u"mismatches").toArray()[0].toObject();
    QCOMPARE(mismatch.value(u"kernel").toString(), QStringLiteral("pi"));
    QCOMPARE(mismatch.value(u"expected").toString(), QStringLiteral("check 0xacf387ae5a2754ae"));
    QCOMPARE(mismatch.value(u"obtained").toString(), QStringLiteral("check 0xacf387ae5a2754af"));
}

void TestOrvaneBench::burnInFormsNoScore()
{
    const Ran ran = bench(
        fixed({QStringLiteral("--burn-in"), QStringLiteral("--cycles"), QStringLiteral("2")}));
    QCOMPARE(ran.code, 0);
    QVERIFY(ran.json.value(u"score").isNull());
    QCOMPARE(ran.json.value(u"cycles_completed").toInt(), 2);
    QCOMPARE(ran.json.value(u"result").toString(), QStringLiteral("pass"));
    // The real library has the checked kernels; a library without them cannot burn in.
    const Ran without = bench({QStringLiteral("--library"), QStringLiteral(WITHOUT_KERNELS),
                               QStringLiteral("--burn-in")});
    QCOMPARE(without.code, 1);
}

// A wrong result in the last kernel of a cycle keeps that cycle out of the score, like any other.
void TestOrvaneBench::wrongPowerResultLeavesTheScore()
{
    const Ran ran = bench({QStringLiteral("--library"), QStringLiteral(WRONG_POWER_KERNELS),
                           QStringLiteral("--cycles"), QStringLiteral("3"),
                           QStringLiteral("--keep-going"), QStringLiteral("--json")});
    QCOMPARE(ran.code, 3);
    QCOMPARE(ran.json.value(u"cycles_completed").toInt(), 3);
    QCOMPARE(ran.json.value(u"cycles_counted").toInt(), 0);
    QVERIFY(ran.json.value(u"score").isNull());
}

void TestOrvaneBench::absurdTimesRejectTheLibrary_data()
{
    QTest::addColumn<QString>("seconds");
    QTest::newRow("the largest double") << QStringLiteral("1.8e308");
    QTest::newRow("beyond the bound") << QStringLiteral("1e15");
    QTest::newRow("zero") << QStringLiteral("0");
    QTest::newRow("negative") << QStringLiteral("-0.001");
    QTest::newRow("not a number") << QStringLiteral("nan");
    QTest::newRow("infinite") << QStringLiteral("inf");
}

void TestOrvaneBench::absurdTimesRejectTheLibrary()
{
    QFETCH(QString, seconds);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ORVANE_TEST_BAD_SECONDS"), seconds);
    const Ran ran =
        bench({QStringLiteral("--library"), QStringLiteral(BADTIME_KERNELS),
               QStringLiteral("--cycles"), QStringLiteral("2"), QStringLiteral("--json")},
              {}, environment);
    QCOMPARE(ran.code, 1);
    QVERIFY2(ran.err.contains(QStringLiteral("multiplication kernel reported an impossible time")),
             qPrintable(ran.err));
    QVERIFY(ran.json.value(u"score").isNull());
}

// The library's version and build are those it carries, whatever its file is called.
void TestOrvaneBench::provenanceIsTheLibrarysOwn()
{
    QTemporaryDir dir;
    const QString real = dir.filePath(QStringLiteral("libkalvex.so.9.9.9"));
    QVERIFY(QFile::copy(QStringLiteral(REAL_KERNELS), real));
    const Ran ran =
        bench({QStringLiteral("--library"), real, QStringLiteral("--burn-in"),
               QStringLiteral("--cycles"), QStringLiteral("1"), QStringLiteral("--json")});
    QCOMPARE(ran.code, 0);
    const QJsonObject library =
        ran.json.value(u"provenance").toObject().value(u"kernel_library").toObject();
    QCOMPARE(library.value(u"version").toString(), QStringLiteral("3.0.0"));
    QVERIFY(library.value(u"built_with")
                .toObject()
                .value(u"flags")
                .toString()
                .contains(QStringLiteral("-fno-fast-math")));
    QCOMPARE(library.value(u"sha256").toString().toLatin1(), sha256Of(real));

    const QString stranger = dir.filePath(QStringLiteral("libkalvex.so.9.9.8"));
    QVERIFY(QFile::copy(QStringLiteral(FIXED_KERNELS), stranger));
    const QJsonObject unknown =
        bench({QStringLiteral("--library"), stranger, QStringLiteral("--json")})
            .json.value(u"provenance")
            .toObject()
            .value(u"kernel_library")
            .toObject();
    QCOMPARE(unknown.value(u"version").toString(), QStringLiteral("unknown"));
    QCOMPARE(unknown.value(u"built_with").toObject().value(u"compiler").toString(),
             QStringLiteral("unknown"));
}

// Another file put in the library's place during the run changes nothing of what is reported:
// the hash is of the file that was loaded.
void TestOrvaneBench::hashIsOfTheLoadedFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("libkalvex.so.1"));
    QVERIFY(QFile::copy(QStringLiteral(SLOW_KERNELS), path));
    const QByteArray loaded = sha256Of(path);
    const Ran ran = bench(
        {QStringLiteral("--library"), path, QStringLiteral("--cycles"), QStringLiteral("2"),
         QStringLiteral("--json")},
        [&](QProcess &) {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("started"))), 30000);
            const QString other = dir.filePath(QStringLiteral("other"));
            QVERIFY(QFile::copy(QStringLiteral(FIXED_KERNELS), other));
            QVERIFY(::rename(QFile::encodeName(other).constData(),
                             QFile::encodeName(path).constData()) == 0);
            QFile(dir.filePath(QStringLiteral("release"))).open(QIODevice::WriteOnly);
        },
        holding(dir));
    QCOMPARE(ran.code, 0);
    QVERIFY(sha256Of(path) != loaded);
    QCOMPARE(ran.json.value(u"provenance")
                 .toObject()
                 .value(u"kernel_library")
                 .toObject()
                 .value(u"sha256")
                 .toString()
                 .toLatin1(),
             loaded);
}

void TestOrvaneBench::refusedSubmissionIsAFailure()
{
    Answering server("Rejected: the nickname holds control characters.\n");
    const Ran ran = benchServed(fixed({QStringLiteral("--submit"), server.address(),
                                       QStringLiteral("--nickname"), QStringLiteral("kim")}));
    QCOMPARE(ran.code, 1);
    const QJsonObject submission = ran.json.value(u"submission").toObject();
    QCOMPARE(submission.value(u"sent").toBool(), false);
    QCOMPARE(submission.value(u"reply").toString(),
             QStringLiteral("Rejected: the nickname holds control characters."));
}

// A run stopped by a signal has a score from the cycles that completed, but it did not end
// cleanly: nothing is sent.
void TestOrvaneBench::failedRunIsNotSubmitted()
{
    Answering server("Thanks, kim.\n");
    QTemporaryDir dir;
    QProcess process;
    process.setProcessEnvironment(holding(dir));
    process.start(QStringLiteral(ORVANE_BENCH),
                  {QStringLiteral("--library"), QStringLiteral(SLOW_KERNELS),
                   QStringLiteral("--cycles"), QStringLiteral("3"), QStringLiteral("--json"),
                   QStringLiteral("--submit"), server.address(), QStringLiteral("--nickname"),
                   QStringLiteral("kim")});
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("started"))), 30000);
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    QFile(dir.filePath(QStringLiteral("release"))).open(QIODevice::WriteOnly);
    // The server in this process is served all the while, should anything be sent.
    QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 30000);
    QCOMPARE(process.exitCode(), 130);
    const QJsonObject json = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    QVERIFY(!json.value(u"score").toObject().value(u"text").toString().isEmpty());
    QCOMPARE(json.value(u"submission").toObject().value(u"sent").toBool(), false);
    QCOMPARE(server.received, QByteArray());
}

// A server that cannot be found is known before a cycle runs.
void TestOrvaneBench::unknownServerBeforeAnyCycle()
{
    const Ran ran = bench(fixed({QStringLiteral("--cycles"), QStringLiteral("50"),
                                 QStringLiteral("--submit"), QStringLiteral("no-such-host.invalid"),
                                 QStringLiteral("--nickname"), QStringLiteral("kim")}));
    QCOMPARE(ran.code, 1);
    QVERIFY2(ran.err.contains(QStringLiteral("cannot find the score server no-such-host.invalid")),
             qPrintable(ran.err));
    QCOMPARE(ran.json.value(u"cycles_completed").toInt(), 0);
}

void TestOrvaneBench::writeErrorsAreReported_data()
{
    QTest::addColumn<bool>("closed");
    QTest::newRow("a full disk") << false;
    QTest::newRow("standard output closed") << true;
}

// A report that could not be written is a failure, said on standard error.
void TestOrvaneBench::writeErrorsAreReported()
{
    QFETCH(bool, closed);
    QProcess process;
    if (closed)
        process.setChildProcessModifier([] { ::close(STDOUT_FILENO); });
    else
        process.setStandardOutputFile(QStringLiteral("/dev/full"));
    process.start(
        QStringLiteral(ORVANE_BENCH),
        {QStringLiteral("--library"), QStringLiteral(FIXED_KERNELS), QStringLiteral("--json")});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 1);
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("orvane-bench: cannot write the report: ")),
             qPrintable(err));
}

// A processor shared with a busy process: its cycles are marked and kept out of the score.
void TestOrvaneBench::contendedCyclesAreKeptApart()
{
    const int cpu = firstProcessor();
    QProcess hog;
    hog.setChildProcessModifier([cpu] {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(cpu, &set);
        sched_setaffinity(0, sizeof set, &set);
    });
    hog.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("while :; do :; done")});
    QVERIFY(hog.waitForStarted());
    const Ran ran =
        bench({QStringLiteral("--cycles"), QStringLiteral("2"), QStringLiteral("--json")});
    hog.kill();
    hog.waitForFinished();
    QCOMPARE(ran.code, 0);
    QCOMPARE(ran.json.value(u"cycles_completed").toInt(), 2);
    QCOMPARE(ran.json.value(u"cycles_contended").toInt(), 2);
    QVERIFY(ran.json.value(u"score").isNull());
    const QJsonObject first = ran.json.value(u"threads").toArray()[0].toObject();
    QCOMPARE(first.value(u"cpu").toInt(), cpu);
    const QJsonObject c = first.value(u"cycles").toArray()[0].toObject();
    QVERIFY(c.value(u"contended").toBool());
    QVERIFY(c.value(u"cpu_seconds").toDouble() < 0.95 * c.value(u"wall_seconds").toDouble());
}

// The log has a line for each cycle as it completes: a run killed midway leaves them behind.
void TestOrvaneBench::logHasEveryCycleAsItHappens()
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("run.jsonl"));
    const auto events = [&log] {
        QFile file(log);
        file.open(QIODevice::ReadOnly);
        QStringList names;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QString name = QJsonDocument::fromJson(line).object().value(u"event").toString();
            if (!name.isEmpty() && name != u"warning")
                names << name;
        }
        return names;
    };
    QCOMPARE(bench(fixed({QStringLiteral("--cycles"), QStringLiteral("3"), QStringLiteral("--log"),
                          log}))
                 .code,
             0);
    QCOMPARE(events(),
             QStringList({QStringLiteral("start"), QStringLiteral("cycle"), QStringLiteral("cycle"),
                          QStringLiteral("cycle"), QStringLiteral("end")}));

    QFile::remove(log);
    bench(
        {QStringLiteral("--library"), QStringLiteral(SLOW_KERNELS), QStringLiteral("--cycles"),
         QStringLiteral("3"), QStringLiteral("--log"), log},
        [&](QProcess &process) {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("started"))), 30000);
            process.kill();
        },
        holding(dir));
    QCOMPARE(events(), QStringList({QStringLiteral("start"), QStringLiteral("cycle")}));
}

void TestOrvaneBench::progressLineOnATerminal_data()
{
    QTest::addColumn<QString>("term");
    QTest::addColumn<bool>("clears");
    QTest::newRow("xterm") << QStringLiteral("xterm") << true;
    QTest::newRow("dumb") << QStringLiteral("dumb") << false;
}

// On a terminal the progress line carries the time of day; a dumb terminal gets no escape codes.
void TestOrvaneBench::progressLineOnATerminal()
{
    QFETCH(QString, term);
    QFETCH(bool, clears);
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TERM"), term);
    process.setProcessEnvironment(environment);
    // script(1) gives the program a terminal of its own and copies what it writes.
    process.start(QStringLiteral("script"),
                  {QStringLiteral("-qfec"),
                   QStringLiteral("%1 --library %2 --cycles 4")
                       .arg(QStringLiteral(ORVANE_BENCH), QStringLiteral(FIXED_KERNELS)),
                   QStringLiteral("/dev/null")});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    const QByteArray out = process.readAllStandardOutput();
    QVERIFY2(QRegularExpression(QStringLiteral("\\[\\d\\d:\\d\\d:\\d\\d\\] cycle \\d/4"))
                 .match(QString::fromUtf8(out))
                 .hasMatch(),
             out.constData());
    QCOMPARE(out.contains("\033[K"), clears);
}

QTEST_MAIN(TestOrvaneBench)
#include "tst_orvanebench.moc"
