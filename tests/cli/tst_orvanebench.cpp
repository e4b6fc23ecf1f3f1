// orvane-bench as its users run it: the installed-style program in a process of its own, with
// the real kernels or with stand-ins of fixed times, its output read back.
#include "benchmark/burninwindow.h"
#include "helpers.h"
#include "shell/appwindows.h"
#include "sysinfo/linuxhost.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <csignal>

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

QStringList fixed(QStringList more)
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
    void interruptedRunReportsWhatWasComplete();
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
    QTest::newRow("unknown") << QByteArrayList{"--fast"} << QByteArray("unknown option \"--fast\"");
    QTest::newRow("no cycles") << QByteArrayList{"--cycles", "0"} << QByteArray("--cycles takes");
    QTest::newRow("cycles not a number")
        << QByteArrayList{"--cycles=two"} << QByteArray("not \"two\"");
    QTest::newRow("cycles without a value")
        << QByteArrayList{"--cycles"} << QByteArray("--cycles takes");
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
        << QByteArrayList{"--json=yes"} << QByteArray("takes no value");
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
    for (const QJsonValue &cycle : cycles) {
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
    QVERIFY2(text.out.contains(QStringLiteral("WRONG RESULT: thread 0, cycle 1, prime: expected "
                                              "30712429, obtained 30712429.000000004")),
             qPrintable(text.out));

    const Ran json = bench(arguments << QStringLiteral("--json"));
    QCOMPARE(json.code, 3);
    const QJsonObject verification = json.json.value(u"verification").toObject();
    QCOMPARE(verification.value(u"wrong_results").toInt(), keepGoing ? 3 : 1);
    const QJsonObject first = verification.value(u"mismatches").toArray()[0].toObject();
    QCOMPARE(first.value(u"kernel").toString(), QStringLiteral("prime"));
    QCOMPARE(first.value(u"expected").toString(), QStringLiteral("30712429"));
    // Stopped at the next kernel: the cycle with the wrong result does not count.
    QCOMPARE(json.json.value(u"cycles_completed").toInt(), keepGoing ? 3 : 0);
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
    for (const QJsonValue &thread : threads) {
        QCOMPARE(thread.toObject().value(u"cycles").toArray().size(), 1);
        QVERIFY(
            thread.toObject().value(u"score").toObject().value(u"seconds_per_cycle").toDouble() >
            0);
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

// Ctrl-C during a kernel: the kernel runs to its end, the run stops there, and what was
// complete is reported, marked as aborted.
void TestOrvaneBench::interruptedRunReportsWhatWasComplete()
{
    QTemporaryDir dir;
    const QString started = dir.filePath(QStringLiteral("started"));
    const QString release = dir.filePath(QStringLiteral("release"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ORVANE_TEST_STARTED"), started);
    environment.insert(QStringLiteral("ORVANE_TEST_RELEASE"), release);
    const Ran ran = bench(
        {QStringLiteral("--library"), QStringLiteral(SLOW_KERNELS), QStringLiteral("--cycles"),
         QStringLiteral("3"), QStringLiteral("--json")},
        [&](QProcess &process) {
            // The second cycle's pi kernel is running: interrupt, then let it finish.
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(started), 30000);
            ::kill(static_cast<pid_t>(process.processId()), SIGINT);
            QFile(release).open(QIODevice::WriteOnly);
        },
        environment);
    QCOMPARE(ran.code, 130);
    QCOMPARE(ran.json.value(u"aborted").toBool(), true);
    QCOMPARE(ran.json.value(u"cycles_completed").toInt(), 1);
    QVERIFY(!ran.json.value(u"score").toObject().value(u"text").toString().isEmpty());
}

QTEST_MAIN(TestOrvaneBench)
#include "tst_orvanebench.moc"
