#include "exchange.h"
#include "scoredatabase.h"
#include "scoreserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <netinet/in.h>

namespace {

struct Running
{
    std::unique_ptr<ScoreDatabase> database;
    std::unique_ptr<ScoreServer> server;
    quint16 port = 0;
    QStringList log;
};

// A connection from the given loopback address that sends what it is given at once.
std::unique_ptr<QTcpSocket> connection(quint16 port, int host, const QByteArray &bytes = {})
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(host)), 0);
    socket->connectToHost(QHostAddress::LocalHost, port);
    if (socket->waitForConnected(5000) && !bytes.isEmpty()) {
        socket->write(bytes);
        socket->flush();
    }
    return socket;
}

// Everything the server sent on the connection once it has closed it.
QByteArray closedWith(QTcpSocket &socket, int timeoutMs = 10000)
{
    bool closed = false;
    const QByteArray reply = readUntilClosed(socket, timeoutMs, &closed);
    return closed ? reply : reply + "<still open>";
}

} // namespace

class TestScoreServer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void acceptedAndRanked();
    void bothPortsTakeSubmissions();
    void quietPeriodLetsTheNicknameGrow();
    void rejections_data();
    void rejections();
    void idleAndSizeLimits_data();
    void idleAndSizeLimits();
    void tricklingConnectionIsCut();
    void idleLimitShorterThanTheQuietPeriod();
    void extraBytesAfterTheSubmissionAreIgnored();
    void peerThatEndsItsSide_data();
    void peerThatEndsItsSide();
    void connectionsBeyondTheLimitWait();
    void onePeerHoldsAShareOfThePlaces();
    void slowConnectionsMakeRoomFirst();
    void restartKeepsEveryScore();
    void nicknameWithPlaceholders();
    void databasesThatCannotBeOpened_data();
    void databasesThatCannotBeOpened();
    void portAlreadyTaken();
    void failedWriteIsReportedAndTheServerGoesOn();
    void logStaysShortAndScoresReachTheMainFile();
    void databaseFileGoneUnderTheServer_data();
    void databaseFileGoneUnderTheServer();
    void readOnlyDatabaseIsRefused();
    void tricklingSubmittersGiveWay();
    void notBegunGoesBeforeBegun();
    void waitingQueueIsBoundedAndFair();
    void waitingConnectionsTimeOut();
    void fullQueueTakesAPlaceFromTheIncomplete();
    void everyRejectionIsCounted_data();
    void everyRejectionIsCounted();
    void peerKeys_data();
    void peerKeys();
    void listenerRestsWhenDescriptorsRunOut();
    void foreignDatabasesAreRefusedUntouched_data();
    void foreignDatabasesAreRefusedUntouched();
    void pathThatLooksLikeAUri();
    void logStaysWithinItsCapUnderReaders();

private:
    void start(ServerLimits limits = testLimits());
    static ServerLimits testLimits()
    {
        ServerLimits limits;
        limits.idleMs = 400;
        limits.lifetimeMs = 3000;
        return limits;
    }
    QString dbPath() const { return dir->filePath(QStringLiteral("scores.db")); }

    std::unique_ptr<QTemporaryDir> dir;
    Running running;
};

void TestScoreServer::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestScoreServer::cleanup()
{
    running.server.reset();
    running.database.reset();
    running.log.clear();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    dir.reset();
}

void TestScoreServer::start(ServerLimits limits)
{
    running.server.reset();
    running.database.reset();
    QString error;
    running.database = ScoreDatabase::open(dbPath(), &error);
    QVERIFY2(running.database, qPrintable(error));
    running.server = std::make_unique<ScoreServer>(*running.database, limits);
    connect(running.server.get(), &ScoreServer::logLine, running.server.get(),
            [this](const QString &line) { running.log << line; });
    QVERIFY2(running.server->listen(QHostAddress::LocalHost, {0, 0}, &error), qPrintable(error));
    running.port = running.server->ports().value(0);
}

void TestScoreServer::acceptedAndRanked()
{
    start();
    QCOMPARE(exchange(running.port, clientPieces("1.6539", "anonymous")),
             QByteArray("Thanks, anonymous: 1.6539 s is #1 of 1. Best: 1.6539 s by anonymous.\n"));
    QCOMPARE(exchange(running.port, clientPieces("1.2001", "kim")),
             QByteArray("Thanks, kim: 1.2001 s is #1 of 2. Best: 1.2001 s by kim.\n"));
    QCOMPARE(exchange(running.port, clientPieces("2,5", "bo")),
             QByteArray("Thanks, bo: 2.5 s is #3 of 3. Best: 1.2001 s by kim.\n"));
    // An equal score shares the place, and the first to reach the best keeps it.
    QCOMPARE(exchange(running.port, clientPieces("1.6539", "ada")),
             QByteArray("Thanks, ada: 1.6539 s is #2 of 4. Best: 1.2001 s by kim.\n"));
    QCOMPARE(exchange(running.port, clientPieces("1.2001", "cy")),
             QByteArray("Thanks, cy: 1.2001 s is #1 of 5. Best: 1.2001 s by kim.\n"));

    QCOMPARE(running.database->count(), 5);
    const std::vector<ScoreEntry> top = running.database->top(3);
    QCOMPARE(top.size(), std::size_t(3));
    QCOMPARE(top[0].nickname, QStringLiteral("kim"));
    QCOMPARE(top[1].nickname, QStringLiteral("cy"));
    QCOMPARE(top[2].nickname, QStringLiteral("anonymous"));
    QCOMPARE(top[0].peer.section(QLatin1Char(':'), 0, 0), QStringLiteral("127.0.0.1"));

    QCOMPARE(running.log.size(), 5);
    const QStringList fields = running.log[2].split(QLatin1Char(' '));
    QVERIFY(QDateTime::fromString(fields[0], Qt::ISODateWithMs).isValid());
    QVERIFY(fields[1].startsWith(QLatin1String("127.0.0.1:")));
    QCOMPARE(fields.mid(2).join(QLatin1Char(' ')), QStringLiteral("2.5 \"bo\" accepted: #3 of 3"));
}

void TestScoreServer::bothPortsTakeSubmissions()
{
    start();
    QCOMPARE(running.server->ports().size(), 2);
    QCOMPARE(exchange(running.server->ports()[1], clientPieces("3", "kim")),
             QByteArray("Thanks, kim: 3 s is #1 of 1. Best: 3 s by kim.\n"));
}

void TestScoreServer::quietPeriodLetsTheNicknameGrow()
{
    // A long quiet period, so the test's own pauses between pieces stay well within it however
    // slow the machine.
    ServerLimits limits = testLimits();
    limits.quietMs = 1000;
    start(limits);
    // "kim" + "data" already has the shape; more bytes within the quiet period extend it.
    QCOMPARE(
        exchange(running.port, {QByteArray("4.5           By kimdata"), QByteArray("data")}, 30),
        QByteArray("Thanks, kimdata: 4.5 s is #1 of 1. Best: 4.5 s by kimdata.\n"));
    QCOMPARE(exchange(running.port, {QByteArray("4.5           By data"), QByteArray("data")}),
             QByteArray("Thanks, data: 4.5 s is #1 of 2. Best: 4.5 s by kimdata.\n"));
    QCOMPARE(exchange(running.port, {QByteArray("5           By d"), QByteArray("ata"),
                                     QByteArray("da"), QByteArray("ta")}),
             QByteArray("Thanks, data: 5 s is #3 of 3. Best: 4.5 s by kimdata.\n"));
}

void TestScoreServer::rejections_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("no data") << QList<QByteArray>{"1.5           By kim"}
                             << QByteArray("Rejected: the submission does not end in \"data\".\n");
    QTest::newRow("no nickname") << clientPieces("1.5", "")
                                 << QByteArray("Rejected: no nickname.\n");
    QTest::newRow("eleven characters")
        << clientPieces("1.5", "abcdefghijk")
        << QByteArray("Rejected: the nickname is longer than 10 characters.\n");
    QTest::newRow("not a number") << clientPieces("N/A", "kim")
                                  << QByteArray("Rejected: the score is not a number.\n");
    QTest::newRow("negative")
        << clientPieces("-0.5", "kim")
        << QByteArray("Rejected: the score is negative; it must be from 0 to 100000 seconds.\n");
    QTest::newRow("too long a score")
        << clientPieces("100001", "kim")
        << QByteArray("Rejected: the score is above 100000 seconds; it must be from 0 to 100000 "
                      "seconds.\n");
    QTest::newRow("binary garbage")
        << QList<QByteArray>{QByteArray("\x00\x01\xfe\xff\r\n", 6)}
        << QByteArray("Rejected: not a score submission (expected a score, eleven blanks, \"By "
                      "\", a nickname and \"data\").\n");
    QTest::newRow("an HTTP request")
        << QList<QByteArray>{"GET / HTTP/1.1\r\nHost: x\r\n\r\n"}
        << QByteArray("Rejected: not a score submission (expected a score, eleven blanks, \"By "
                      "\", a nickname and \"data\").\n");
}

void TestScoreServer::rejections()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QByteArray, reply);
    start();
    QCOMPARE(exchange(running.port, pieces), reply);
    QCOMPARE(running.database->count(), 0);
    QCOMPARE(running.log.size(), 1);
    QVERIFY2(running.log[0].endsWith(QStringLiteral(" rejected: ") +
                                     QString::fromUtf8(reply.mid(10).chopped(1))),
             qPrintable(running.log[0]));
    // A rejection leaves the server as it was.
    QCOMPARE(exchange(running.port, clientPieces("1", "kim")),
             QByteArray("Thanks, kim: 1 s is #1 of 1. Best: 1 s by kim.\n"));
}

void TestScoreServer::idleAndSizeLimits_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("maxBytes");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("nothing sent") << QByteArray() << 512
                                  << QByteArray("Rejected: nothing arrived for 0.4 seconds.\n");
    QTest::newRow("a score and then silence")
        << QByteArray("1.5") << 512
        << QByteArray("Rejected: not a score submission (expected a score, "
                      "eleven blanks, \"By \", a nickname and \"data\").\n");
    QTest::newRow("512 digits") << QByteArray(512, '7') << 512
                                << QByteArray(
                                       "Rejected: the score is longer than 16 characters.\n");
    QTest::newRow("a flood of digits")
        << QByteArray(200000, '7') << 512
        << QByteArray("Rejected: the score is longer than 16 characters.\n");
    QTest::newRow("a submission on its way, past a tighter limit")
        << QByteArray("1.5           By abcd") << 20
        << QByteArray("Rejected: more than 20 bytes.\n");
}

void TestScoreServer::idleAndSizeLimits()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, maxBytes);
    QFETCH(QByteArray, reply);
    ServerLimits limits = testLimits();
    limits.maxBytes = maxBytes;
    start(limits);
    QCOMPARE(exchange(running.port, bytes.isEmpty() ? QList<QByteArray>() : QList{bytes}), reply);
    QCOMPARE(running.server->activeConnections(), 0);
}

void TestScoreServer::tricklingConnectionIsCut()
{
    ServerLimits limits = testLimits();
    limits.lifetimeMs = 600;
    start(limits);
    const QByteArray bytes("1.5           By kimdata");
    QList<QByteArray> pieces;
    for (const char byte : bytes)
        pieces << QByteArray(1, byte);
    QCOMPARE(exchange(running.port, pieces, 50),
             QByteArray("Rejected: the submission took longer than 0.6 seconds.\n"));
    QCOMPARE(running.database->count(), 0);
}

void TestScoreServer::idleLimitShorterThanTheQuietPeriod()
{
    // Whichever limit ends the wait, a complete submission is taken and a partial one refused.
    ServerLimits limits = testLimits();
    limits.quietMs = 600;
    limits.idleMs = 200;
    start(limits);
    QCOMPARE(exchange(running.port, clientPieces("2", "kim")),
             QByteArray("Thanks, kim: 2 s is #1 of 1. Best: 2 s by kim.\n"));
    QCOMPARE(exchange(running.port, {QByteArray("2           By kim")}),
             QByteArray("Rejected: the submission does not end in \"data\".\n"));
}

void TestScoreServer::extraBytesAfterTheSubmissionAreIgnored()
{
    start();
    // The quiet period passes, then the peer goes on: one submission is all a connection holds.
    QCOMPARE(exchange(running.port,
                      {QByteArray("2           By kimdata"), QByteArray("9           By bodata")},
                      250),
             QByteArray("Thanks, kim: 2 s is #1 of 1. Best: 2 s by kim.\n"));
    QCOMPARE(running.database->count(), 1);
}

void TestScoreServer::peerThatEndsItsSide_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("halfClose"); // or close the whole connection
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("logged");
    const QByteArray thanks("Thanks, kim: 2 s is #1 of 1. Best: 2 s by kim.\n");
    const QByteArray early("Rejected: the connection closed before the submission was complete.\n");
    // As nc -N does: the submission, the end of the sending side, then the answer is read.
    QTest::newRow("whole submission, then half-closed")
        << QByteArray("2           By kimdata") << true << thanks << 1
        << QStringLiteral("2 \"kim\" accepted: #1 of 1");
    QTest::newRow("half a submission, then half-closed")
        << QByteArray("2           By kim") << true << early << 0
        << QStringLiteral("2 \"kim\" rejected: the connection closed before the submission "
                          "was complete.");
    QTest::newRow("whole submission, then gone")
        << QByteArray("2           By kimdata") << false << QByteArray() << 1
        << QStringLiteral("2 \"kim\" accepted: #1 of 1");
    QTest::newRow("half a submission, then gone")
        << QByteArray("2           By kim") << false << QByteArray() << 0
        << QStringLiteral("2 \"kim\" rejected: the connection closed before the submission "
                          "was complete.");
}

// The end of a peer's bytes ends the wait for more of them: a whole submission is stored at
// once, anything less refused, and a peer that still listens hears which.
void TestScoreServer::peerThatEndsItsSide()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, halfClose);
    QFETCH(QByteArray, reply);
    QFETCH(int, stored);
    QFETCH(QString, logged);
    start();
    QByteArray heard;
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, running.port);
        QVERIFY(socket.waitForConnected(5000));
        socket.write(bytes);
        QVERIFY(socket.waitForBytesWritten(5000));
        QTRY_COMPARE(running.server->activeConnections(), 1);
        if (halfClose) {
            QCOMPARE(::shutdown(static_cast<int>(socket.socketDescriptor()), SHUT_WR), 0);
            QTRY_VERIFY_WITH_TIMEOUT(
                (heard += socket.readAll(), socket.state() == QAbstractSocket::UnconnectedState),
                10000);
            heard += socket.readAll();
        }
    }
    QCOMPARE(heard, reply);
    QTRY_COMPARE(running.log.size(), 1);
    QVERIFY2(running.log[0].endsWith(logged), qPrintable(running.log[0]));
    QTRY_COMPARE(running.server->activeConnections(), 0);
    QCOMPARE(running.database->count(), stored);
    QCOMPARE(running.server->scoreCount(), stored);
}

void TestScoreServer::connectionsBeyondTheLimitWait()
{
    ServerLimits limits = testLimits();
    limits.maxClients = 2;
    limits.idleMs = 10000;
    start(limits);

    auto first = std::make_unique<QTcpSocket>();
    QTcpSocket second;
    first->connectToHost(QHostAddress::LocalHost, running.port);
    second.connectToHost(QHostAddress::LocalHost, running.server->ports()[1]);
    QTRY_COMPARE(running.server->activeConnections(), 2);

    QTcpSocket third;
    third.connectToHost(QHostAddress::LocalHost, running.port);
    QVERIFY(third.waitForConnected(5000)); // the system accepts it; the server does not read it
    third.write("3           By kimdata");
    QVERIFY(third.waitForBytesWritten(5000));
    QTRY_COMPARE(running.server->waitingConnections(), 1);
    QCOMPARE(third.bytesAvailable(), 0);
    QCOMPARE(running.server->activeConnections(), 2);

    first.reset(); // one place frees up, and the waiting connection gets it
    QTRY_VERIFY(third.bytesAvailable() > 0);
    QCOMPARE(third.readAll(), QByteArray("Thanks, kim: 3 s is #1 of 1. Best: 3 s by kim.\n"));
    QCOMPARE(running.server->activeConnections(), 1);
}

// Connections from one host that send nothing hold no more than their share of the places:
// a submission from another host is read at once, not after their time runs out.
void TestScoreServer::onePeerHoldsAShareOfThePlaces()
{
    ServerLimits limits = testLimits();
    limits.maxClients = 8;
    limits.maxPerPeer = 4;
    limits.idleMs = limits.lifetimeMs = limits.holdMs = 60000;
    start(limits);
    std::vector<std::unique_ptr<QTcpSocket>> silent;
    for (int i = 0; i < 8; ++i) {
        silent.push_back(std::make_unique<QTcpSocket>());
        silent.back()->connectToHost(QHostAddress::LocalHost, running.port);
    }
    QTRY_COMPARE(running.server->activeConnections() + running.server->waitingConnections(), 8);
    QCOMPARE(running.server->activeConnections(), 4);

    const QHostAddress otherHost(QStringLiteral("127.0.0.2"));
    QCOMPARE(exchange(running.port, clientPieces("2", "kim"), 10, 10000, otherHost),
             QByteArray("Thanks, kim: 2 s is #1 of 1. Best: 2 s by kim.\n"));
    // The silent ones wait on, none of them told anything.
    for (const auto &socket : silent) {
        QCOMPARE(socket->state(), QAbstractSocket::ConnectedState);
        QCOMPARE(socket->bytesAvailable(), 0);
    }
    QCOMPARE(running.server->activeConnections(), 4);
}

// Every place taken and a submission waiting: the connections that have not begun one within
// the time allowed make room, oldest first; one that has begun keeps its place.
void TestScoreServer::slowConnectionsMakeRoomFirst()
{
    ServerLimits limits = testLimits();
    limits.maxClients = limits.maxPerPeer = 4;
    limits.idleMs = limits.lifetimeMs = 60000;
    limits.holdMs = 300;
    start(limits);
    std::vector<std::unique_ptr<QTcpSocket>> holders;
    for (int i = 0; i < 4; ++i) {
        holders.push_back(std::make_unique<QTcpSocket>());
        holders.back()->connectToHost(QHostAddress::LocalHost, running.port);
        QVERIFY(holders.back()->waitForConnected(5000));
        // The oldest has begun its submission: a score and the separator, the rest to come.
        if (i == 0)
            holders.back()->write("3           By k");
        QTRY_COMPARE(running.server->activeConnections(), i + 1);
    }
    // Until the youngest has held its place that long too, so that all of them could go.
    QElapsedTimer sinceLast;
    sinceLast.start();
    QTRY_VERIFY(sinceLast.hasExpired(limits.holdMs));

    QCOMPARE(exchange(running.port, clientPieces("2", "bo"), 10, 10000,
                      QHostAddress(QStringLiteral("127.0.0.2"))),
             QByteArray("Thanks, bo: 2 s is #1 of 1. Best: 2 s by bo.\n"));
    // The oldest of those that sent nothing was told why it had to go.
    QTRY_COMPARE(holders[1]->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(holders[1]->readAll(), QByteArray("Rejected: no submission began within 0.3 "
                                               "seconds, and others are waiting.\n"));
    QCOMPARE(holders[0]->state(), QAbstractSocket::ConnectedState);
    QCOMPARE(holders[0]->bytesAvailable(), 0);
    QCOMPARE(holders[2]->bytesAvailable(), 0);
    QCOMPARE(holders[3]->bytesAvailable(), 0);
}

void TestScoreServer::restartKeepsEveryScore()
{
    start();
    QCOMPARE(exchange(running.port, clientPieces("2", "kim")).left(7), QByteArray("Thanks,"));
    QCOMPARE(exchange(running.port, clientPieces("1.25", "bo")).left(7), QByteArray("Thanks,"));
    QCOMPARE(exchange(running.port, clientPieces("3", "ada")).left(7), QByteArray("Thanks,"));

    start(); // a new server on the same file
    QCOMPARE(running.server->scoreCount(), 3);
    QCOMPARE(exchange(running.port, clientPieces("2.5", "cy")),
             QByteArray("Thanks, cy: 2.5 s is #3 of 4. Best: 1.25 s by bo.\n"));
    running.server.reset();
    running.database.reset();
    QString error;
    const auto reopened = ScoreDatabase::open(dbPath(), &error);
    QVERIFY(reopened);
    QCOMPARE(reopened->count(), 4);
}

void TestScoreServer::nicknameWithPlaceholders()
{
    start();
    QCOMPARE(exchange(running.port, clientPieces("1", "%1%3 %6")),
             QByteArray("Thanks, %1%3 %6: 1 s is #1 of 1. Best: 1 s by %1%3 %6.\n"));
}

void TestScoreServer::databasesThatCannotBeOpened_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing folder") << QStringLiteral("no/such/folder/scores.db") << QByteArray()
                                    << QStringLiteral("unable to open database file");
    QTest::newRow("not a database")
        << QStringLiteral("notes.txt") << QByteArray("these are not scores\n").repeated(200)
        << QStringLiteral("file is not a database");
    QTest::newRow("a folder") << QStringLiteral(".") << QByteArray()
                              << QStringLiteral("unable to open database file");
}

void TestScoreServer::databasesThatCannotBeOpened()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QFETCH(QString, reason);
    const QString path = dir->filePath(name);
    if (!contents.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }
    QString error;
    QVERIFY(!ScoreDatabase::open(path, &error));
    QCOMPARE(error, reason);
    if (!contents.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), contents); // refused, not overwritten
    }
}

void TestScoreServer::portAlreadyTaken()
{
    start();
    QString error;
    const auto database = ScoreDatabase::open(dir->filePath(QStringLiteral("other.db")), &error);
    QVERIFY(database);
    ScoreServer second(*database);
    QVERIFY(!second.listen(QHostAddress::LocalHost, {0, running.port}, &error));
    QCOMPARE(error, QStringLiteral("cannot listen on 127.0.0.1 port %1: the address is "
                                   "already in use")
                        .arg(running.port));
    QVERIFY(second.ports().isEmpty()); // all ports or none
    // The first server goes on undisturbed.
    QCOMPARE(exchange(running.port, clientPieces("1", "kim")).left(7), QByteArray("Thanks,"));
}

void TestScoreServer::failedWriteIsReportedAndTheServerGoesOn()
{
    start();
    QCOMPARE(exchange(running.port, clientPieces("2", "kim")).left(7), QByteArray("Thanks,"));
    // Another program breaks the file under the running server.
    sqlite3 *other = nullptr;
    QCOMPARE(sqlite3_open(dbPath().toUtf8().constData(), &other), SQLITE_OK);
    QCOMPARE(sqlite3_exec(other, "ALTER TABLE scores RENAME TO kept", nullptr, nullptr, nullptr),
             SQLITE_OK);
    QCOMPARE(exchange(running.port, clientPieces("1", "bo")),
             QByteArray("Rejected: the score could not be stored (no such table: scores); please "
                        "try again later.\n"));
    QVERIFY(running.log.last().endsWith(QLatin1String(
        " 1 \"bo\" rejected: the score could not be stored (no such table: scores); please try "
        "again later.")));
    QCOMPARE(running.server->scoreCount(), 1); // the board did not count it

    QCOMPARE(sqlite3_exec(other, "ALTER TABLE kept RENAME TO scores", nullptr, nullptr, nullptr),
             SQLITE_OK);
    sqlite3_close(other);
    QCOMPARE(exchange(running.port, clientPieces("1", "bo")),
             QByteArray("Thanks, bo: 1 s is #1 of 2. Best: 1 s by bo.\n"));
    QCOMPARE(running.database->count(), 2);
}

// One score a commit, as at a quiet hour: each commit adds pages to the write-ahead log, and
// only checkpoints fold them into the main file. While the server writes, the log stays short;
// once it stops, the log is folded back, and the main file alone holds every score.
void TestScoreServer::logStaysShortAndScoresReachTheMainFile()
{
    QString error;
    auto database = ScoreDatabase::open(dbPath(), &error);
    QVERIFY2(database, qPrintable(error));
    const QString log = dbPath() + QStringLiteral("-wal");
    constexpr int Scores = 2500;
    qint64 longest = 0;
    for (int i = 0; i < Scores; ++i) {
        QVERIFY2(database->add({storedScore(i / 100.0, QStringLiteral("n%1").arg(i))}, &error),
                 qPrintable(error));
        longest = std::max(longest, QFileInfo(log).size());
    }
    qInfo("longest log %lld bytes", longest);
    QVERIFY2(longest < 16 * 1024 * 1024, qPrintable(QString::number(longest)));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(log).size() < 1024 * 1024, 10000);

    // The main file on its own, as a copy that cannot see the log.
    const QString copy = dir->filePath(QStringLiteral("copy.db"));
    QVERIFY(QFile::copy(dbPath(), copy));
    sqlite3 *alone = nullptr;
    const QByteArray uri = "file:" + copy.toUtf8() + "?immutable=1";
    QCOMPARE(
        sqlite3_open_v2(uri.constData(), &alone, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr),
        SQLITE_OK);
    sqlite3_stmt *count = nullptr;
    QCOMPARE(sqlite3_prepare_v2(alone, "SELECT COUNT(*) FROM scores", -1, &count, nullptr),
             SQLITE_OK);
    QCOMPARE(sqlite3_step(count), SQLITE_ROW);
    const int inMainFile = sqlite3_column_int(count, 0);
    sqlite3_finalize(count);
    sqlite3_close(alone);
    QCOMPARE(inMainFile, Scores);
}

void TestScoreServer::databaseFileGoneUnderTheServer_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("removed with its log") << QStringLiteral("removed");
    QTest::newRow("renamed") << QStringLiteral("renamed");
    QTest::newRow("replaced by another database") << QStringLiteral("replaced");
    // SQLite would write on into the removed log, and lose it all when the server stops.
    QTest::newRow("its log removed") << QStringLiteral("log removed");
}

// The file the server writes to is no longer the one at its path: what it writes would go with
// the last descriptor. Submissions are refused, said so and logged, and not counted.
void TestScoreServer::databaseFileGoneUnderTheServer()
{
    QFETCH(QString, how);
    start();
    QCOMPARE(exchange(running.port, clientPieces("2", "kim")).left(7), QByteArray("Thanks,"));
    const QString moved = dir->filePath(QStringLiteral("moved.db"));
    if (how == QLatin1String("removed")) {
        for (const char *suffix : {"", "-wal", "-shm"})
            QVERIFY(QFile::remove(dbPath() + QLatin1String(suffix)));
    } else if (how == QLatin1String("log removed")) {
        QVERIFY(QFile::remove(dbPath() + QLatin1String("-wal")));
    } else {
        QVERIFY(QFile::rename(dbPath(), moved));
        if (how == QLatin1String("replaced")) {
            QString error;
            QVERIFY(ScoreDatabase::open(dbPath(), &error));
        }
    }
    const QByteArray refused = "Rejected: the score could not be stored (the database file " +
                               dbPath().toUtf8() +
                               " or its write-ahead log was removed or replaced); please try "
                               "again later.\n";
    QCOMPARE(exchange(running.port, clientPieces("1", "bo")), refused);
    QVERIFY(running.log.last().endsWith(QLatin1String(" 1 \"bo\" rejected: the score could not "
                                                      "be stored (the database file ") +
                                        dbPath() +
                                        QLatin1String(" or its write-ahead log was removed or "
                                                      "replaced); please try again later.")));
    QCOMPARE(running.server->scoreCount(), 1);
    // It goes on refusing rather than answering into the void.
    QCOMPARE(exchange(running.port, clientPieces("1.5", "ada")), refused);
}

// A database this process cannot write (here its files are made immutable, as on a read-only
// file system with the log a crash left behind) is refused at start, not at the first score.
void TestScoreServer::readOnlyDatabaseIsRefused()
{
    QString error;
    auto writer = ScoreDatabase::open(dbPath(), &error);
    QVERIFY2(writer, qPrintable(error));
    QVERIFY(writer->add({storedScore(1, QStringLiteral("kim"))}, &error));
    // What a crash leaves: the database, its log and the log's index, copied while in use.
    const QString crashed = dir->filePath(QStringLiteral("crashed.db"));
    QStringList files;
    for (const char *suffix : {"", "-wal", "-shm"}) {
        QVERIFY(QFile::copy(dbPath() + QLatin1String(suffix), crashed + QLatin1String(suffix)));
        files << crashed + QLatin1String(suffix);
    }
    writer.reset();
    // chattr stops even the superuser; without the right to use it, permissions do.
    const auto protect = [&files](bool on) {
        const int code = QProcess::execute(QStringLiteral("chattr"),
                                           QStringList{QLatin1String(on ? "+i" : "-i")} + files);
        for (const QString &file : files)
            QFile::setPermissions(file, on ? QFile::ReadOwner | QFile::ReadGroup
                                           : QFile::ReadOwner | QFile::WriteOwner);
        return code == 0 || ::geteuid() != 0;
    };
    if (!protect(true)) {
        protect(false);
        QSKIP("cannot make a file read-only for this user here");
    }
    const auto opened = ScoreDatabase::open(crashed, &error);
    protect(false);
    QVERIFY(!opened);
    QVERIFY2(error.contains(QLatin1String("cannot be written")) ||
                 error.contains(QLatin1String("readonly")),
             qPrintable(error));
}

// Connections from eight addresses that send a score and the separator, then a nickname byte
// now and then, hold every place: a whole submission from a ninth address is answered once the
// longest-held of them has had its second, not when their time runs out.
void TestScoreServer::tricklingSubmittersGiveWay()
{
    ServerLimits limits; // the time a place is held without completing: as shipped
    limits.maxClients = 8;
    limits.maxPerPeer = 1;
    start(limits);
    std::vector<std::unique_ptr<QTcpSocket>> tricklers;
    for (int host = 1; host <= 8; ++host)
        tricklers.push_back(connection(running.port, host, "3           By "));
    QTRY_COMPARE(running.server->activeConnections(), 8);
    QTimer drip;
    connect(&drip, &QTimer::timeout, this, [&] {
        for (const auto &socket : tricklers)
            socket->write("a");
    });
    drip.start(250);

    const QByteArray answer = exchange(running.port, clientPieces("2", "kim"), 10, 5000,
                                       QHostAddress(QStringLiteral("127.0.0.9")));
    QCOMPARE(answer, QByteArray("Thanks, kim: 2 s is #1 of 1. Best: 2 s by kim.\n"));
    drip.stop();
    // The one that made room was told why.
    const auto gone = std::find_if(tricklers.begin(), tricklers.end(), [](const auto &socket) {
        return socket->state() != QAbstractSocket::ConnectedState;
    });
    QVERIFY(gone != tricklers.end());
    QCOMPARE(closedWith(**gone), QByteArray("Rejected: the submission was not complete within 1 "
                                            "second, and others are waiting.\n"));
}

// A connection that sent only part of a score has not begun a submission: it makes room before
// an older one that has sent its score and the separator.
void TestScoreServer::notBegunGoesBeforeBegun()
{
    ServerLimits limits = testLimits();
    limits.maxClients = 2;
    limits.idleMs = limits.lifetimeMs = 60000;
    limits.holdMs = 300;
    start(limits);
    auto begun = connection(running.port, 1, "3           By ki");
    QTRY_COMPARE(running.server->activeConnections(), 1);
    auto digits = connection(running.port, 2, "3.2");
    QTRY_COMPARE(running.server->activeConnections(), 2);
    // Until the younger has held its place that long too, so that either could go.
    QElapsedTimer sinceLast;
    sinceLast.start();
    QTRY_VERIFY(sinceLast.hasExpired(limits.holdMs));

    QCOMPARE(exchange(running.port, clientPieces("2", "bo"), 10, 5000,
                      QHostAddress(QStringLiteral("127.0.0.3"))),
             QByteArray("Thanks, bo: 2 s is #1 of 1. Best: 2 s by bo.\n"));
    QCOMPARE(closedWith(*digits), QByteArray("Rejected: no submission began within 0.3 seconds, "
                                             "and others are waiting.\n"));
    QCOMPARE(begun->state(), QAbstractSocket::ConnectedState);
    QCOMPARE(begun->bytesAvailable(), 0);
}

// One address cannot fill the queue of waiting connections: beyond it its newest connections are
// told the server is busy, and a free place goes to the address that holds the fewest.
void TestScoreServer::waitingQueueIsBoundedAndFair()
{
    ServerLimits limits = testLimits();
    limits.maxClients = limits.maxPerPeer = 2;
    limits.maxWaiting = 4;
    limits.idleMs = limits.lifetimeMs = limits.holdMs = limits.waitMs = 60000;
    start(limits);
    std::vector<std::unique_ptr<QTcpSocket>> first;
    for (int i = 0; i < 8; ++i) {
        first.push_back(connection(running.port, 1));
        // One at a time, so that which are the newest is known.
        QTRY_COMPARE(running.server->activeConnections() + running.server->waitingConnections() +
                         running.server->metrics().rejected[int(RejectReason::Busy)].load(),
                     i + 1);
    }
    QCOMPARE(running.server->activeConnections(), 2);
    QCOMPARE(running.server->waitingConnections(), 4);
    for (int i = 6; i < 8; ++i)
        QCOMPARE(closedWith(*first[i]),
                 QByteArray("Rejected: the server is busy; please try again in a moment.\n"));

    // A newcomer from elsewhere: the queue is full, so the newest waiting one of the address
    // with the most waiting goes.
    auto other = connection(running.port, 2, "2           By kimdata");
    QCOMPARE(closedWith(*first[5]),
             QByteArray("Rejected: the server is busy; please try again in a moment.\n"));
    QCOMPARE(running.server->waitingConnections(), 4);

    first[0].reset(); // a place frees up: the newcomer's address holds none, so it is seated
    QCOMPARE(closedWith(*other), QByteArray("Thanks, kim: 2 s is #1 of 1. Best: 2 s by kim.\n"));
    for (int i = 2; i < 5; ++i) {
        QCOMPARE(first[i]->state(), QAbstractSocket::ConnectedState);
        QCOMPARE(first[i]->bytesAvailable(), 0);
    }
    QCOMPARE(running.server->metrics().rejected[int(RejectReason::Busy)].load(), 3);
}

void TestScoreServer::waitingConnectionsTimeOut()
{
    ServerLimits limits = testLimits();
    limits.maxClients = 1;
    limits.idleMs = limits.lifetimeMs = limits.holdMs = 60000;
    limits.waitMs = 300;
    start(limits);
    auto seated = connection(running.port, 1);
    QTRY_COMPARE(running.server->activeConnections(), 1);
    auto waiting = connection(running.port, 2, "2           By kimdata");
    QCOMPARE(closedWith(*waiting),
             QByteArray("Rejected: the server is busy; please try again in a moment.\n"));
    QCOMPARE(seated->state(), QAbstractSocket::ConnectedState);
    QCOMPARE(running.server->waitingConnections(), 0);
}

// Places and queue full: before a whole submission that waits is turned away, a place held without
// completing goes, once it has had the time a real client's submission takes to arrive.
void TestScoreServer::fullQueueTakesAPlaceFromTheIncomplete()
{
    ServerLimits limits; // the quiet period as shipped
    limits.maxClients = limits.maxPerPeer = 2;
    limits.maxWaiting = 1;
    limits.idleMs = limits.lifetimeMs = limits.holdMs = limits.waitMs = 60000;
    start(limits);
    auto first = connection(running.port, 1, "3           By ki");
    QTRY_COMPARE(running.server->activeConnections(), 1);
    auto second = connection(running.port, 1, "3           By ki");
    QTRY_COMPARE(running.server->activeConnections(), 2);
    QElapsedTimer held;
    held.start();
    QTRY_VERIFY(held.hasExpired(2 * limits.quietMs));

    auto waiting = connection(running.port, 2, "2           By bodata");
    QTRY_COMPARE(running.server->waitingConnections(), 1);
    auto overflow = connection(running.port, 3, "1           By cydata");
    QCOMPARE(closedWith(*waiting), QByteArray("Thanks, bo: 2 s is #1 of 1. Best: 2 s by bo.\n"));
    QCOMPARE(closedWith(*overflow), QByteArray("Thanks, cy: 1 s is #1 of 2. Best: 1 s by cy.\n"));
    QCOMPARE(closedWith(*first), QByteArray("Rejected: the submission was not complete within 0.2 "
                                            "seconds, and others are waiting.\n"));
    QCOMPARE(second->state(), QAbstractSocket::ConnectedState);
}

void TestScoreServer::everyRejectionIsCounted_data()
{
    QTest::addColumn<int>("reason");
    for (int reason = 0; reason < RejectReasonCount; ++reason)
        QTest::newRow(reasonLabel(static_cast<RejectReason>(reason))) << reason;
}

// Each reason /metrics lists can happen, and is counted where it happens, once.
void TestScoreServer::everyRejectionIsCounted()
{
    QFETCH(int, reason);
    ServerLimits limits = testLimits();
    limits.lifetimeMs = 600;
    limits.maxClients = 1;
    limits.holdMs = 100;
    limits.waitMs = 300;
    start(limits);
    const auto why = static_cast<RejectReason>(reason);
    std::unique_ptr<QTcpSocket> holder;
    QByteArray reply;
    switch (why) {
    case RejectReason::Invalid:
        reply = exchange(running.port, {QByteArray("fast           By kimdata")});
        break;
    case RejectReason::TooLarge:
        reply = exchange(running.port, clientPieces("1", "abcdefghijk"));
        break;
    case RejectReason::TooSlow:
        reply = exchange(running.port, {"1", " ", " ", " ", " ", " ", " "}, 150);
        break;
    case RejectReason::Idle:
        reply = exchange(running.port, {});
        break;
    case RejectReason::Evicted:
        holder = connection(running.port, 1);
        QTRY_COMPARE(running.server->activeConnections(), 1);
        QVERIFY(exchange(running.port, clientPieces("1", "kim"), 10, 5000,
                         QHostAddress(QStringLiteral("127.0.0.2")))
                    .startsWith("Thanks"));
        reply = closedWith(*holder);
        break;
    case RejectReason::Busy:
        holder = connection(running.port, 1, "1           By k");
        QTRY_COMPARE(running.server->activeConnections(), 1);
        // From the same address: it may not take the place of its own.
        reply = exchange(running.port, clientPieces("1", "kim"), 10, 5000,
                         QHostAddress(QStringLiteral("127.0.0.1")));
        break;
    case RejectReason::Stopping:
        holder = connection(running.port, 1, "1           By k");
        QTRY_COMPARE(running.server->activeConnections(), 1);
        running.server->shutDown(0);
        reply = closedWith(*holder);
        break;
    case RejectReason::Incomplete:
        holder = connection(running.port, 1, "1           By k");
        QTRY_COMPARE(running.server->activeConnections(), 1);
        ::shutdown(static_cast<int>(holder->socketDescriptor()), SHUT_WR);
        reply = closedWith(*holder);
        break;
    case RejectReason::NotStored: {
        sqlite3 *other = nullptr;
        QCOMPARE(sqlite3_open(dbPath().toUtf8().constData(), &other), SQLITE_OK);
        QCOMPARE(
            sqlite3_exec(other, "ALTER TABLE scores RENAME TO kept", nullptr, nullptr, nullptr),
            SQLITE_OK);
        sqlite3_close(other);
        reply = exchange(running.port, clientPieces("1", "kim"));
        break;
    }
    }
    QVERIFY2(reply.startsWith("Rejected: "), reply.constData());
    const ServerMetrics &metrics = running.server->metrics();
    for (int r = 0; r < RejectReasonCount; ++r)
        QCOMPARE(metrics.rejected[r].load(), r == reason ? 1 : 0);
}

void TestScoreServer::peerKeys_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("key");
    QTest::newRow("IPv4") << "192.0.2.7"
                          << "192.0.2.7";
    QTest::newRow("IPv4 over IPv6") << "::ffff:192.0.2.7"
                                    << "192.0.2.7";
    QTest::newRow("IPv6 host") << "2001:db8:1:2:aaaa:bbbb:cccc:dddd"
                               << "2001:db8:1:2::/64";
    QTest::newRow("same /64") << "2001:db8:1:2::1"
                              << "2001:db8:1:2::/64";
    QTest::newRow("next /64") << "2001:db8:1:3::1"
                              << "2001:db8:1:3::/64";
    QTest::newRow("loopback") << "::1"
                              << "::/64";
}

// One IPv6 host usually has a whole /64: its addresses share one share of the places.
void TestScoreServer::peerKeys()
{
    QFETCH(QString, address);
    QFETCH(QString, key);
    QCOMPARE(peerKey(QHostAddress(address)), key);
}

// Out of descriptors, a listener rests between tries instead of failing accept() in a busy
// loop, and takes the waiting connections as soon as descriptors are free again.
void TestScoreServer::listenerRestsWhenDescriptorsRunOut()
{
    Listener listener;
    QString error;
    QVERIFY2(listener.listen(QHostAddress::LocalHost, {0}, &error), qPrintable(error));
    std::vector<int> taken;
    connect(&listener, &Listener::accepted, this,
            [&taken](int descriptor, const QHostAddress &) { taken.push_back(descriptor); });

    // The clients' sockets exist before the limit is lowered; connecting takes no descriptor.
    std::vector<int> clients;
    clients.reserve(20);
    for (int i = 0; i < 20; ++i)
        clients.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
    int highest = 0;
    for (int fd = 0; fd < 4096; ++fd)
        highest = ::fcntl(fd, F_GETFD) >= 0 ? fd : highest;
    rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(highest) + 1;
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    // Every free descriptor below the limit taken, then three given back.
    std::vector<int> fillers;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        fillers.push_back(fd);
    lowered.rlim_cur += 3;
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(listener.ports().value(0));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (const int client : clients)
        (void)::connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address);

    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY2(listener.exhaustedCount() >= 3, // it ran out, rested and tried again
                 qPrintable(QStringLiteral("%1 taken, %2 tries, highest %3")
                                .arg(taken.size())
                                .arg(listener.exhaustedCount())
                                .arg(highest)));
    const qint64 elapsed = clock.elapsed();
    const qint64 tries = listener.exhaustedCount();
    QCOMPARE(taken.size(), 3u);
    setrlimit(RLIMIT_NOFILE, &saved);
    for (const int filler : fillers)
        ::close(filler);
    // A busy loop would have failed thousands of times by now; a resting one once a rest.
    QVERIFY2(tries <= elapsed / Listener::RestMs + 2,
             qPrintable(QStringLiteral("%1 tries in %2 ms").arg(tries).arg(elapsed)));

    QTRY_COMPARE(taken.size(), clients.size());
    for (const int descriptor : taken)
        ::close(descriptor);
    for (const int client : clients)
        ::close(client);
}

void TestScoreServer::foreignDatabasesAreRefusedUntouched_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::addColumn<QString>("reason");
    QTest::newRow("another program's tables")
        << QByteArray("CREATE TABLE notes (x); INSERT INTO notes VALUES (1);")
        << "it is not an Orvane score database";
    QTest::newRow("marked as another program's")
        << QByteArray("PRAGMA application_id = 1234; CREATE TABLE t (x);")
        << "it is not an Orvane score database";
    QTest::newRow("scores with an extra NOT NULL column")
        << QByteArray("CREATE TABLE scores ( id INTEGER PRIMARY KEY, score REAL NOT NULL, "
                      "score_text TEXT NOT NULL, nickname TEXT NOT NULL, peer TEXT NOT NULL, "
                      "submitted TEXT NOT NULL, country TEXT NOT NULL)")
        << "its tables are not those of an Orvane score database";
    QTest::newRow("scores with a CHECK")
        << QByteArray("CREATE TABLE scores ( id INTEGER PRIMARY KEY, score REAL NOT NULL CHECK "
                      "(score > 1), score_text TEXT NOT NULL, nickname TEXT NOT NULL, peer TEXT "
                      "NOT NULL, submitted TEXT NOT NULL)")
        << "its tables are not those of an Orvane score database";
    QTest::newRow("ours and one more table")
        << QByteArray("PRAGMA application_id = 1330796110; CREATE TABLE scores ( id INTEGER "
                      "PRIMARY KEY, score REAL NOT NULL, score_text TEXT NOT NULL, nickname TEXT "
                      "NOT NULL, peer TEXT NOT NULL, submitted TEXT NOT NULL); CREATE TABLE x (y);")
        << "its tables are not those of an Orvane score database";
    QTest::newRow("from a newer version")
        << QByteArray("PRAGMA application_id = 1330796110; PRAGMA user_version = 2;")
        << "it was written by a newer version of orvane-scored";
}

// Another program's SQLite file given as the database is refused with a reason, and not changed
// at all: not turned to a write-ahead log, no tables added.
void TestScoreServer::foreignDatabasesAreRefusedUntouched()
{
    QFETCH(QByteArray, sql);
    QFETCH(QString, reason);
    sqlite3 *other = nullptr;
    QCOMPARE(sqlite3_open(dbPath().toUtf8().constData(), &other), SQLITE_OK);
    QCOMPARE(sqlite3_exec(other, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    QFile file(dbPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    QString error;
    QVERIFY(!ScoreDatabase::open(dbPath(), &error));
    QCOMPARE(error, reason);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
    QVERIFY(!QFileInfo::exists(dbPath() + QStringLiteral("-wal")));
}

// A path is a path: one that SQLite would read as a URI names a file in the folder.
void TestScoreServer::pathThatLooksLikeAUri()
{
    const QString name = QStringLiteral("file:board.db?mode=memory");
    const QString old = QDir::currentPath();
    QDir::setCurrent(dir->path());
    QString error;
    {
        const auto database = ScoreDatabase::open(name, &error);
        QVERIFY2(database, qPrintable(error));
        QVERIFY(database->add({storedScore(1, QStringLiteral("kim"))}, &error));
    }
    const auto reopened = ScoreDatabase::open(name, &error);
    QDir::setCurrent(old);
    QVERIFY(reopened);
    QCOMPARE(reopened->count(), 1);
    QVERIFY(QFileInfo(dir->filePath(name)).size() > 0);
}

// Readers that keep the log in use (the web board's, one read after another) stop the checkpoint
// thread from starting the log over; a writer that never pauses then reaches the hard cap, where
// it starts the log over itself at the first moment without a reader, never waiting for one.
void TestScoreServer::logStaysWithinItsCapUnderReaders()
{
    QString error;
    auto database = ScoreDatabase::open(dbPath(), &error);
    QVERIFY2(database, qPrintable(error));
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        sqlite3 *db = nullptr;
        sqlite3_open_v2(dbPath().toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_busy_timeout(db, 2000);
        while (!stop) {
            // Two reads in one transaction, the second a while after the first; then a moment
            // without a reader, which the writer's checkpoint at the cap waits for no longer
            // than it takes to try.
            sqlite3_exec(db, "BEGIN; SELECT COUNT(*) FROM scores;", nullptr, nullptr, nullptr);
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            sqlite3_exec(db, "SELECT MAX(score) FROM scores; COMMIT;", nullptr, nullptr, nullptr);
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
        sqlite3_close(db);
    });
    const QString log = dbPath() + QStringLiteral("-wal");
    qint64 longest = 0;
    for (int batch = 0; batch < 400; ++batch) {
        std::vector<ScoreEntry> entries;
        entries.reserve(100);
        for (int i = 0; i < 100; ++i)
            entries.push_back(storedScore((batch * 100 + i) / 1000.0,
                                          QStringLiteral("n%1").arg(batch * 100 + i)));
        QVERIFY2(database->add(entries, &error), qPrintable(error));
        longest = std::max(longest, QFileInfo(log).size());
    }
    stop = true;
    reader.join();
    qInfo("longest log %lld bytes", longest);
    // The cap, 8 MB, and what the log grows by while the readers keep it in use; without the
    // cap it passes 20 MB.
    QVERIFY2(longest < 15 * 1024 * 1024, qPrintable(QString::number(longest)));
}

QTEST_GUILESS_MAIN(TestScoreServer)
#include "tst_scoreserver.moc"
