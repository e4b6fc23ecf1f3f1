#include "daemon.h"
#include "exchange.h"
#include "scoredatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <QElapsedTimer>

#include <csignal>
#include <map>

#include <sqlite3.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The bytes the system holds unread on the server's side of a loopback connection, from
// /proc/net/tcp; -1 while the connection is not there.
qint64 unreadOnServerSide(quint16 serverPort, quint16 clientPort)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    const QString local = QStringLiteral(":%1").arg(serverPort, 4, 16, QLatin1Char('0')).toUpper();
    const QString remote = QStringLiteral(":%1").arg(clientPort, 4, 16, QLatin1Char('0')).toUpper();
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QStringList fields =
            QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        // sl, local address, remote address, state, tx_queue:rx_queue, ...
        if (fields.size() > 4 && fields[1].endsWith(local) && fields[2].endsWith(remote))
            return fields[4].section(QLatin1Char(':'), 1).toLongLong(nullptr, 16);
    }
    return -1;
}

// A connection from a loopback address that only connects: a descriptor on the server's side.
int idleConnection(quint16 port, int host)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7f000000u | static_cast<quint32>(host));
    if (::bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0) {
        ::close(fd);
        return -1;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    (void)::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to); // non-blocking
    return fd;
}

} // namespace

class TestScored : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void helpAndVersion();
    void badArguments_data();
    void badArguments();
    void databaseThatCannotBeOpened();
    void portTaken_data();
    void portTaken();
    void topPrintsTheBoard();
    void signalEndsItWithEveryScoreOnDisk_data();
    void signalEndsItWithEveryScoreOnDisk();
    void descriptorFloodLeavesBothSidesServing();
    void startRefusedForTheFileLimitLeavesNothing();
    void upgradeRequestsLeaveNoTrace();
    void timeLimitsAsShipped();
    void moderationIsFollowed();
    void secondDaemonIsRefused();

private:
    std::unique_ptr<QTemporaryDir> dir;
};

void TestScored::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestScored::helpAndVersion()
{
    const Finished version = runToEnd({QStringLiteral("--version")});
    QCOMPARE(version.code, 0);
    QCOMPARE(version.out, QStringLiteral("orvane-scored 3.0.0\n"));

    const Finished help = runToEnd({QStringLiteral("--help")});
    QCOMPARE(help.code, 0);
    for (const char *option : {"--port <port>", "--db <path>", "--listen <address>",
                               "--max-clients <count>", "--top <count>"})
        QVERIFY2(help.out.contains(QLatin1String(option)), option);
}

void TestScored::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("port out of range")
        << QStringList{QStringLiteral("--port"), QStringLiteral("70000")}
        << QStringLiteral("orvane-scored: The port must be a whole number from 0 to 65534, not "
                          "'70000'.\nTry 'orvane-scored --help'.\n");
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--fast")}
                                    << QStringLiteral("orvane-scored: Unknown option 'fast'.\nTry "
                                                      "'orvane-scored --help'.\n");
}

void TestScored::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const Finished finished = runToEnd(arguments);
    QCOMPARE(finished.code, 2);
    QCOMPARE(finished.err, message);
}

void TestScored::databaseThatCannotBeOpened()
{
    const QString path = dir->filePath(QStringLiteral("missing/scores.db"));
    const Finished finished = runToEnd({QStringLiteral("--db"), path});
    QCOMPARE(finished.code, 1);
    QCOMPARE(finished.err, QStringLiteral("orvane-scored: cannot open the database '%1': unable "
                                          "to open database file.\n")
                               .arg(path));
}

void TestScored::portTaken_data()
{
    QTest::addColumn<bool>("databaseExisted");
    QTest::newRow("new database") << false;
    QTest::newRow("database with scores") << true;
}

// A start that cannot listen leaves the disk as it found it: no new, empty database, and an
// existing one untouched.
void TestScored::portTaken()
{
    QFETCH(bool, databaseExisted);
    const QString db = dir->filePath(QStringLiteral("scores.db"));
    if (databaseExisted) {
        QString error;
        auto database = ScoreDatabase::open(db, &error);
        QVERIFY2(database, qPrintable(error));
        QVERIFY(database->add({storedScore(1, QStringLiteral("kim"))}, &error));
    }
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
    const QString port = QString::number(taken.serverPort());
    const Finished finished =
        runToEnd({QStringLiteral("--listen"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                  port, QStringLiteral("--db"), db});
    QCOMPARE(finished.code, 1);
    QCOMPARE(finished.err, QStringLiteral("orvane-scored: cannot listen on 127.0.0.1 port %1: the "
                                          "address is already in use.\n")
                               .arg(port));
    QCOMPARE(QFileInfo::exists(db), databaseExisted);
    if (databaseExisted) {
        QString error;
        const auto database = ScoreDatabase::open(db, &error);
        QVERIFY(database);
        QCOMPARE(database->count(), 1);
    } else {
        QCOMPARE(QDir(dir->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());
    }
}

void TestScored::topPrintsTheBoard()
{
    const QString db = dir->filePath(QStringLiteral("scores.db"));
    const Finished missing =
        runToEnd({QStringLiteral("--db"), db, QStringLiteral("--top"), QStringLiteral("3")});
    QCOMPARE(missing.code, 1);
    QCOMPARE(missing.err, QStringLiteral("orvane-scored: cannot open the database '%1': there is "
                                         "no such file.\n")
                              .arg(db));
    QVERIFY(!QFile::exists(db));

    {
        QString error;
        const auto database = ScoreDatabase::open(db, &error);
        QVERIFY2(database, qPrintable(error));
        const QDateTime when(QDate(2026, 12, 7), QTime(16, 5, 1), Qt::UTC);
        QVERIFY(database->add({{0, 2, QStringLiteral("2"), QStringLiteral("kim"), {}, when},
                               {0, 1.5, QStringLiteral("1.5"), QStringLiteral("bo"), {}, when},
                               {0, 3, QStringLiteral("3"), QStringLiteral("ada"), {}, when}},
                              &error));
    }
    const Finished top =
        runToEnd({QStringLiteral("--db"), db, QStringLiteral("--top"), QStringLiteral("2")});
    QCOMPARE(top.code, 0);
    QCOMPARE(top.out, QStringLiteral("Place  Score      Nickname  Submitted (UTC)\n"
                                     "   #1  1.5 s      bo        2026-12-07 16:05:01\n"
                                     "   #2  2 s        kim       2026-12-07 16:05:01\n"));
}

void TestScored::signalEndsItWithEveryScoreOnDisk_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void TestScored::signalEndsItWithEveryScoreOnDisk()
{
    QFETCH(int, signal);
    const QString db = dir->filePath(QStringLiteral("scores.db"));
    QProcess server;
    server.start(Program,
                 {QStringLiteral("--listen"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                  QStringLiteral("0"), QStringLiteral("--db"), db});
    QVERIFY(server.waitForStarted(10000));
    QString err;
    QTRY_VERIFY_WITH_TIMEOUT(
        (err += QString::fromUtf8(server.readAllStandardError())).contains(QLatin1Char('\n')),
        10000);
    const QRegularExpressionMatch ports =
        QRegularExpression(QStringLiteral("^orvane-scored 3\\.0\\.0: listening on 127\\.0\\.0\\.1 "
                                          "ports (\\d+) and (\\d+), 0 scores in '[^']*'\\.\n"))
            .match(err);
    QVERIFY2(ports.hasMatch(), qPrintable(err));
    const auto port = static_cast<quint16>(ports.captured(1).toUInt());
    const auto reconnectPort = static_cast<quint16>(ports.captured(2).toUInt());

    QCOMPARE(exchange(port, clientPieces("1.5", "kim")),
             QByteArray("Thanks, kim: 1.5 s is #1 of 1. Best: 1.5 s by kim.\n"));
    QCOMPARE(exchange(reconnectPort, clientPieces("0,75", "bo")),
             QByteArray("Thanks, bo: 0.75 s is #1 of 2. Best: 0.75 s by bo.\n"));
    QCOMPARE(exchange(port, clientPieces("x", "bo")),
             QByteArray("Rejected: the score is not a number.\n"));

    // A connection still being read when the signal comes is told to try again.
    QTcpSocket waiting;
    waiting.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(waiting.waitForConnected(5000));
    waiting.write("1.5           By ada");
    QVERIFY(waiting.waitForBytesWritten(5000));
    // The server has read them once its side of the connection holds no unread bytes.
    QTRY_VERIFY(unreadOnServerSide(port, waiting.localPort()) == 0);

    ::kill(static_cast<pid_t>(server.processId()), signal);
    QByteArray answer;
    QTRY_COMPARE(answer += waiting.readAll(),
                 QByteArray("Rejected: the server is stopping; please try again in a moment.\n"));
    QTRY_COMPARE_WITH_TIMEOUT(server.state(), QProcess::NotRunning, 10000);
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 0);
    err += QString::fromUtf8(server.readAllStandardError());
    const QStringList lines = err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 7);
    QVERIFY2(lines[1].startsWith(QLatin1String("orvane-scored: the board is on http://127.0.0.1:")),
             qPrintable(err));
    QVERIFY2(lines[2].contains(QLatin1String(" 1.5 \"kim\" accepted: #1 of 1")), qPrintable(err));
    QVERIFY2(lines[3].contains(QLatin1String(" 0.75 \"bo\" accepted: #1 of 2")), qPrintable(err));
    QVERIFY2(lines[4].contains(QLatin1String(" x \"bo\" rejected: the score is not a number.")),
             qPrintable(err));
    QVERIFY2(lines[5].contains(QLatin1String(
                 " 1.5 \"ada\" rejected: the server is stopping; please try again in a moment.")),
             qPrintable(err));
    QCOMPARE(lines[6], QStringLiteral("orvane-scored: stopped, 2 scores in '%1'.").arg(db));

    // Every score is in the main file: the write-ahead log was folded in and removed.
    QVERIFY(!QFile::exists(db + QStringLiteral("-wal")));
    QString error;
    const auto database = ScoreDatabase::open(db, &error);
    QVERIFY2(database, qPrintable(error));
    QCOMPARE(database->count(), 2);
}

// 1,300 idle connections to the submission ports and 300 to the board, from many addresses,
// under the 1,024 open files of a default system: both sides keep serving others meanwhile,
// without spinning, and serve at once again when the flood ends.
void TestScored::descriptorFloodLeavesBothSidesServing()
{
    rlimit own{};
    getrlimit(RLIMIT_NOFILE, &own);
    const rlimit saved = own;
    own.rlim_cur = std::min<rlim_t>(own.rlim_max, 8192);
    setrlimit(RLIMIT_NOFILE, &own);
    if (own.rlim_cur < 2000)
        QSKIP("this test needs 2,000 open files of its own");

    Daemon daemon;
    QVERIFY2(daemon.start({QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                           QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--db"),
                           dir->filePath(QStringLiteral("scores.db"))},
                          1024),
             qPrintable(daemon.err));
    std::vector<int> flood;
    flood.reserve(1300);
    for (int i = 0; i < 1300; ++i)
        flood.push_back(idleConnection(i % 2 ? daemon.port : daemon.reconnectPort, 1 + i % 8));
    for (int i = 0; i < 300; ++i)
        flood.push_back(idleConnection(daemon.httpPort, 20 + i % 10));
    // Until it has taken all it will: its whole budget for either side.
    QTRY_VERIFY_WITH_TIMEOUT(daemon.openFiles() >= 385 + 256, 20000);
    QElapsedTimer wall;
    wall.start();
    const qint64 cpuBefore = daemon.cpuMs();

    QCOMPARE(httpGet(daemon.httpPort, "/api/top", 200), QByteArray("HTTP/1.1 200 OK"));
    QCOMPARE(exchange(daemon.port, clientPieces("1.5", "kim"), 10, 10000,
                      QHostAddress(QStringLiteral("127.0.0.201"))),
             QByteArray("Thanks, kim: 1.5 s is #1 of 1. Best: 1.5 s by kim.\n"));
    QCOMPARE(httpGet(daemon.httpPort, "/metrics", 202), QByteArray("HTTP/1.1 200 OK"));
    // Its listeners rest while no descriptor is free rather than fail accept() in a loop.
    const qint64 cpu = daemon.cpuMs() - cpuBefore;
    QVERIFY2(cpu * 2 < wall.elapsed() + 100,
             qPrintable(
                 QStringLiteral("%1 ms of processor time in %2 ms").arg(cpu).arg(wall.elapsed())));

    for (const int fd : flood)
        ::close(fd);
    QElapsedTimer after;
    after.start();
    QCOMPARE(httpGet(daemon.httpPort, "/api/top", 203), QByteArray("HTTP/1.1 200 OK"));
    QCOMPARE(exchange(daemon.reconnectPort, clientPieces("2", "bo"), 10, 10000,
                      QHostAddress(QStringLiteral("127.0.0.204"))),
             QByteArray("Thanks, bo: 2 s is #2 of 2. Best: 1.5 s by kim.\n"));
    qInfo("both sides served again %lld ms after the flood ended", after.elapsed());
    QVERIFY(after.elapsed() < 3000);
    setrlimit(RLIMIT_NOFILE, &saved);
}

// Limits that need more open files than the system allows: the start is refused with the reason
// before the database is touched, so no empty file is left behind.
void TestScored::startRefusedForTheFileLimitLeavesNothing()
{
    Daemon daemon;
    const QString db = dir->filePath(QStringLiteral("scores.db"));
    QVERIFY(
        !daemon.start({QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                       QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--db"), db},
                      256));
    QTRY_COMPARE_WITH_TIMEOUT(daemon.process.state(), QProcess::NotRunning, 10000);
    QCOMPARE(daemon.process.exitCode(), 1);
    QCOMPARE(daemon.log(), QStringLiteral("orvane-scored: these connection limits need 993 open "
                                          "files, and this system allows 256; lower "
                                          "--max-clients.\n"));
    QCOMPARE(QDir(dir->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

// Requests the board does not serve, such as WebSocket upgrades, are answered like any other
// and leave nothing in the daemon's log, which a client must not be able to fill.
void TestScored::upgradeRequestsLeaveNoTrace()
{
    Daemon daemon;
    QVERIFY2(daemon.start({QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                           QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--db"),
                           dir->filePath(QStringLiteral("scores.db"))}),
             qPrintable(daemon.err));
    const QString before = daemon.log();
    for (int i = 0; i < 20; ++i) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, daemon.httpPort);
        QVERIFY(socket.waitForConnected(5000));
        socket.write("GET /ws HTTP/1.1\r\nHost: board\r\nUpgrade: websocket\r\nConnection: "
                     "Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                     "Sec-WebSocket-Version: 13\r\n\r\n");
        QTRY_VERIFY(socket.bytesAvailable() > 0);
        QVERIFY(socket.readAll().startsWith("HTTP/1.1 404 Not Found\r\n"));
    }
    QCOMPARE(httpGet(daemon.httpPort, "/favicon.ico", 1), QByteArray("HTTP/1.1 200 OK"));
    QCOMPARE(daemon.log(), before);
}

// The daemon as it ships, on its own ports: each time limit ends what it is meant to, when it is
// meant to. Runs for a minute: the longest limit is the 60 seconds a connection may stay.
void TestScored::timeLimitsAsShipped()
{
    Daemon daemon;
    QVERIFY2(daemon.start({QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                           QStringLiteral("--db"), dir->filePath(QStringLiteral("scores.db"))}),
             qPrintable(daemon.err));
    QCOMPARE(daemon.port, 1337);
    QCOMPARE(daemon.reconnectPort, 1338);
    QCOMPARE(daemon.httpPort, 8337);
    QElapsedTimer clock;
    clock.start();
    // When each connection was closed, from the start; and what it was told.
    struct Watched
    {
        std::unique_ptr<QTcpSocket> socket;
        QByteArray reply;
        qint64 closedAt = -1;
    };
    std::map<QString, Watched> watched;
    const auto watch = [&](const QString &name, quint16 port, int host, const QByteArray &first) {
        Watched &w = watched[name];
        w.socket = std::make_unique<QTcpSocket>();
        w.socket->bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(host)), 0);
        w.socket->connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(w.socket->waitForConnected(5000));
        w.socket->write(first);
    };
    // Submissions: silent; waiting for a place past the wait; trickling past the lifetime.
    watch(QStringLiteral("silent"), 1337, 10, {});
    // One address's whole share of places taken, so that its next connection waits.
    for (int i = 0; i < 32; ++i)
        watch(QStringLiteral("holder %1").arg(i), 1337, 11, "1           By ");
    // The two ports have their own queues: the holders must be taken before the next one comes.
    QTRY_COMPARE(metricValue(8337, "orvane_open_connections"), 33);
    watch(QStringLiteral("waiting"), 1338, 11, "2           By kimdata");
    QTRY_COMPARE(metricValue(8337, "orvane_waiting_connections"), 1);
    watch(QStringLiteral("trickling"), 1337, 12, "1");
    // The board: a slow head, a slow body, an idle client, a client that keeps asking.
    watch(QStringLiteral("slow head"), 8337, 20, "GET / HTTP/1.1\r\n");
    watch(QStringLiteral("slow body"), 8337, 21,
          "GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 1000\r\n\r\n");
    watch(QStringLiteral("idle"), 8337, 22, "GET /board.css HTTP/1.1\r\nHost: a\r\n\r\n");
    watch(QStringLiteral("asking"), 8337, 23, "GET /api/top HTTP/1.1\r\nHost: a\r\n\r\n");

    // The quiet period lets a nickname grow over a pause of half its length.
    QCOMPARE(exchange(1337, {"1.5           By kdata", "data"}, 50),
             QByteArray("Thanks, kdata: 1.5 s is #1 of 1. Best: 1.5 s by kdata.\n"));

    QTimer drip;
    int drops = 0;
    connect(&drip, &QTimer::timeout, this, [&] {
        ++drops;
        watched[QStringLiteral("slow head")].socket->write("X: y\r\n");
        watched[QStringLiteral("slow body")].socket->write("x");
        // A blank each time: the separator's eleven, then "By k" and on.
        watched[QStringLiteral("trickling")].socket->write(
            drops <= 11 ? QByteArray(" ") : QByteArray("By kim").mid(drops - 12, 1));
        watched[QStringLiteral("asking")].socket->write(
            "GET /api/rank?score=1 HTTP/1.1\r\nHost: a\r\n\r\n");
    });
    drip.start(4500);
    const auto allClosed = [&] {
        for (auto &[name, w] : watched) {
            w.reply += w.socket->readAll();
            if (w.closedAt < 0 && w.socket->state() == QAbstractSocket::UnconnectedState)
                w.closedAt = clock.elapsed();
        }
        return std::all_of(watched.begin(), watched.end(),
                           [](const auto &entry) { return entry.second.closedAt >= 0; });
    };
    QTRY_VERIFY_WITH_TIMEOUT(allClosed(), 75000);
    drip.stop();

    const auto closedAt = [&](const QString &name) {
        return watched[name].closedAt;
    };
    const auto told = [&](const QString &name) {
        return watched[name].reply;
    };
    // Each went when its limit came, not before; a second's grace for the machine's load.
    const auto near = [](qint64 at, qint64 limit) {
        return at >= limit - 100 && at < limit + 3000;
    };
    QCOMPARE(told(QStringLiteral("silent")), QByteArray("Rejected: nothing arrived for 15 "
                                                        "seconds.\n"));
    QVERIFY2(near(closedAt(QStringLiteral("silent")), 15000),
             qPrintable(QString::number(closedAt(QStringLiteral("silent")))));
    QCOMPARE(told(QStringLiteral("waiting")),
             QByteArray("Rejected: the server is busy; please try again in a moment.\n"));
    QVERIFY(near(closedAt(QStringLiteral("waiting")), 10000));
    QCOMPARE(told(QStringLiteral("trickling")),
             QByteArray("Rejected: the submission took longer than 60 seconds.\n"));
    QVERIFY(near(closedAt(QStringLiteral("trickling")), 60000));
    QVERIFY(told(QStringLiteral("slow head")).startsWith("HTTP/1.1 408 "));
    QVERIFY(near(closedAt(QStringLiteral("slow head")), 10000));
    QVERIFY(told(QStringLiteral("slow body")).startsWith("HTTP/1.1 408 "));
    QVERIFY(near(closedAt(QStringLiteral("slow body")), 30000));
    QVERIFY(told(QStringLiteral("idle")).startsWith("HTTP/1.1 200 OK"));
    QVERIFY(near(closedAt(QStringLiteral("idle")), 15000));
    QVERIFY(told(QStringLiteral("asking")).count("HTTP/1.1 200 OK") >= 12);
    QVERIFY(near(closedAt(QStringLiteral("asking")), 60000));
}

// An operator removes a cheater's scores beside the running daemon, and later changes a row with
// sqlite3: the daemon's ranks, its board and its metrics follow.
void TestScored::moderationIsFollowed()
{
    const QString db = dir->filePath(QStringLiteral("scores.db"));
    Daemon daemon;
    QVERIFY2(
        daemon.start({QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                      QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--db"), db}),
        qPrintable(daemon.err));
    QCOMPARE(exchange(daemon.port, clientPieces("0.001", "cheater")),
             QByteArray("Thanks, cheater: 0.001 s is #1 of 1. Best: 0.001 s by cheater.\n"));
    QCOMPARE(exchange(daemon.port, clientPieces("2", "kim")),
             QByteArray("Thanks, kim: 2 s is #2 of 2. Best: 0.001 s by cheater.\n"));

    const Finished removed =
        runToEnd({QStringLiteral("--db"), db, QStringLiteral("--remove-nickname"),
                  QStringLiteral("cheater")});
    QCOMPARE(removed.code, 0);
    QCOMPARE(removed.out, QStringLiteral("Removed 1 score(s) from '%1'.\n").arg(db));
    QTRY_COMPARE_WITH_TIMEOUT(getJson(daemon.httpPort, "/api/top").value(u"total").toInt(), 1,
                              3000);
    QCOMPARE(exchange(daemon.port, clientPieces("3", "ada")),
             QByteArray("Thanks, ada: 3 s is #2 of 2. Best: 2 s by kim.\n"));
    const QJsonArray top = getJson(daemon.httpPort, "/api/top").value(u"entries").toArray();
    QCOMPARE(top.size(), 2);
    QCOMPARE(top[0].toObject().value(u"nickname").toString(), QStringLiteral("kim"));

    // By hand, with sqlite3: ada's score becomes the best.
    sqlite3 *byHand = nullptr;
    QCOMPARE(sqlite3_open(db.toUtf8().constData(), &byHand), SQLITE_OK);
    sqlite3_busy_timeout(byHand, 5000);
    QCOMPARE(sqlite3_exec(
                 byHand, "UPDATE scores SET score = 0.5, score_text = '0.5' WHERE nickname = 'ada'",
                 nullptr, nullptr, nullptr),
             SQLITE_OK);
    sqlite3_close(byHand);
    QTRY_COMPARE_WITH_TIMEOUT(getJson(daemon.httpPort, "/api/top")
                                  .value(u"entries")
                                  .toArray()[0]
                                  .toObject()
                                  .value(u"nickname")
                                  .toString(),
                              QStringLiteral("ada"), 5000);
    QCOMPARE(exchange(daemon.port, clientPieces("1", "bo")),
             QByteArray("Thanks, bo: 1 s is #2 of 3. Best: 0.5 s by ada.\n"));

    // One score by its id, as the board shows it.
    const qint64 id = getJson(daemon.httpPort, "/api/player?name=kim")
                          .value(u"best")
                          .toObject()
                          .value(u"id")
                          .toInteger();
    QVERIFY(id > 0);
    QCOMPARE(
        runToEnd({QStringLiteral("--db"), db, QStringLiteral("--remove-id"), QString::number(id)})
            .code,
        0);
    QTRY_COMPARE_WITH_TIMEOUT(getJson(daemon.httpPort, "/api/top").value(u"total").toInt(), 2,
                              3000);
    QCOMPARE(getJson(daemon.httpPort, "/api/player?name=kim").value(u"error").toString(),
             QStringLiteral("no score by that nickname"));
    QCOMPARE(getJson(daemon.httpPort, "/api/rank?score=3").value(u"rank").toInt(), 3);
}

// One daemon per SQLite file: a second one would rank only its own scores.
void TestScored::secondDaemonIsRefused()
{
    const QString db = dir->filePath(QStringLiteral("scores.db"));
    Daemon first;
    QVERIFY2(
        first.start({QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                     QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--db"), db}),
        qPrintable(first.err));
    const Finished second =
        runToEnd({QStringLiteral("--listen"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                  QStringLiteral("0"), QStringLiteral("--db"), db});
    QCOMPARE(second.code, 1);
    QCOMPARE(second.err, QStringLiteral("orvane-scored: another orvane-scored already keeps the "
                                        "scores in '%1'.\n")
                             .arg(db));
    QCOMPARE(exchange(first.port, clientPieces("2", "kim")).left(7), QByteArray("Thanks,"));
}

QTEST_GUILESS_MAIN(TestScored)
#include "tst_scored.moc"
