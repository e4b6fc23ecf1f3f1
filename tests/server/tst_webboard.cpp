// The web board over real HTTP on 127.0.0.1: the JSON API against the database it reads, the
// page's headers, /metrics against real submissions, and clients that misbehave.
#include "exchange.h"
#include "scoreserver.h"
#include "webboard.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

namespace {

struct Http
{
    int status = 0;
    QByteArray body;
    QList<QNetworkReply::RawHeaderPair> headers;
    QByteArray header(const QByteArray &name) const
    {
        for (const auto &[key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return {};
    }
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

// What a client of its own making gets: every byte the server sent, and whether it closed.
struct Raw
{
    QByteArray reply;
    bool closed = false;
    int answers() const { return static_cast<int>(reply.count("\r\nDate: ")); }
};

// Sends the bytes from the given loopback address and reads until the server closes, or for
// waitMs.
Raw raw(quint16 port, const QByteArray &bytes, int waitMs = 5000, const QHostAddress &from = {})
{
    QTcpSocket socket;
    if (!from.isNull())
        socket.bind(from, 0);
    socket.connectToHost(QHostAddress::LocalHost, port);
    Raw raw;
    if (!socket.waitForConnected(5000))
        return raw;
    socket.write(bytes);
    raw.reply = readUntilClosed(socket, waitMs, &raw.closed);
    return raw;
}

// A client that connects from the given address and sends what it is told, when it is told.
std::unique_ptr<QTcpSocket> client(quint16 port, const QHostAddress &from,
                                   const QByteArray &first = {})
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->bind(from, 0);
    socket->connectToHost(QHostAddress::LocalHost, port);
    if (socket->waitForConnected(5000) && !first.isEmpty()) {
        socket->write(first);
        socket->flush();
    }
    return socket;
}

QHostAddress loopback(int host)
{
    return QHostAddress(QStringLiteral("127.0.0.%1").arg(host));
}

const QByteArray Get("GET /api/top HTTP/1.1\r\nHost: board\r\n\r\n");

} // namespace

class TestWebBoard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void topIsTheBoardPageByPage();
    void player();
    void rankOfAScore();
    void badRequests_data();
    void badRequests();
    void pageAndHeaders();
    void metricsCountRealSubmissions();
    void misbehavingClientsLeaveSubmissionsAlone();
    void ambiguousFramingIsRefusedAndClosed_data();
    void ambiguousFramingIsRefusedAndClosed();
    void closeIsHonoured_data();
    void closeIsHonoured();
    void keepAliveServesRequestAfterRequest();
    void slowHeadsFromOneAddressLeaveOthersServed();
    void slowHeadsMakeRoomAtTheCap();
    void idleKeepAliveMakesRoom();
    void requestsMustArriveInTime_data();
    void requestsMustArriveInTime();

private:
    void startWeb(const http::Limits &limits);
    Http request(const QString &target, const QByteArray &verb = "GET");
    void fill(const QList<std::pair<double, QString>> &scores);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<ScoreDatabase> database;
    std::unique_ptr<ScoreServer> server;
    std::unique_ptr<WebBoard> web;
    QNetworkAccessManager network;
};

void TestWebBoard::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QString error;
    database = ScoreDatabase::open(dir->filePath(QStringLiteral("scores.db")), &error);
    QVERIFY2(database, qPrintable(error));
    server = std::make_unique<ScoreServer>(*database);
    QVERIFY2(server->listen(QHostAddress::LocalHost, {0, 0}, &error), qPrintable(error));
    http::Limits limits;
    limits.maxConnections = 8;
    limits.idleMs = 1500;
    startWeb(limits);
}

void TestWebBoard::startWeb(const http::Limits &limits)
{
    web.reset();
    web = std::make_unique<WebBoard>(*database, server->metrics(), server->index(), limits);
    QString error;
    QVERIFY2(web->listen(QHostAddress::LocalHost, 0, &error), qPrintable(error));
}

void TestWebBoard::cleanup()
{
    web.reset();
    server.reset();
    database.reset();
    dir.reset();
}

Http TestWebBoard::request(const QString &target, const QByteArray &verb)
{
    QNetworkRequest request(
        QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(web->port()).arg(target)));
    QNetworkReply *reply = network.sendCustomRequest(request, verb);
    if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000))
        reply->abort();
    Http http;
    http.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    http.body = reply->readAll();
    http.headers = reply->rawHeaderPairs();
    reply->deleteLater();
    return http;
}

void TestWebBoard::fill(const QList<std::pair<double, QString>> &scores)
{
    // As another program would: the board follows the table's changes.
    std::vector<ScoreEntry> entries;
    for (const auto &[score, nickname] : scores)
        entries.push_back(storedScore(score, nickname));
    const qint64 before = server->scoreCount();
    {
        QString error;
        const auto other = ScoreDatabase::open(database->path(), &error);
        QVERIFY2(other, qPrintable(error));
        QVERIFY2(other->add(entries, &error), qPrintable(error));
    }
    QTRY_COMPARE(server->scoreCount(), before + qint64(entries.size()));
}

// 120 scores, ties among them: every page holds the database's order, places shared by equal
// scores, and the total.
void TestWebBoard::topIsTheBoardPageByPage()
{
    QList<std::pair<double, QString>> scores;
    for (int i = 0; i < 120; ++i)
        scores.append({1.0 + (i * 37 % 60) * 0.25, QStringLiteral("n%1").arg(i)});
    fill(scores);
    const std::vector<ScoreEntry> board = database->top(-1);

    int seen = 0;
    for (const int offset : {0, 50, 100}) {
        const QJsonObject page =
            request(QStringLiteral("/api/top?limit=50&offset=%1").arg(offset)).json();
        QCOMPARE(page.value(u"total").toInt(), 120);
        const QJsonArray entries = page.value(u"entries").toArray();
        QCOMPARE(entries.size(), offset == 100 ? 20 : 50);
        for (const QJsonValue value : entries) {
            const QJsonObject entry = value.toObject();
            const ScoreEntry &stored = board[static_cast<std::size_t>(seen++)];
            QCOMPARE(entry.value(u"nickname").toString(), stored.nickname);
            QCOMPARE(entry.value(u"score_text").toString(), stored.scoreText);
            const auto better = std::count_if(board.begin(), board.end(), [&](const ScoreEntry &e) {
                return e.score < stored.score;
            });
            QCOMPARE(entry.value(u"rank").toInteger(), better + 1);
        }
    }
    QCOMPARE(seen, 120);
    QVERIFY(request(QStringLiteral("/api/top?offset=500"))
                .json()
                .value(u"entries")
                .toArray()
                .isEmpty());
}

void TestWebBoard::player()
{
    fill({{3.5, QStringLiteral("kim")},
          {1.25, QStringLiteral("ada")},
          {2.0, QStringLiteral("kim")},
          {1.0, QStringLiteral("bo")},
          {2.0, QStringLiteral("<b>x</b>")}});
    const Http kim = request(QStringLiteral("/api/player?name=kim"));
    QCOMPARE(kim.status, 200);
    const QJsonObject best = kim.json().value(u"best").toObject();
    QCOMPARE(best.value(u"score_text").toString(), QStringLiteral("2"));
    QCOMPARE(best.value(u"rank").toInt(), 3);
    QCOMPARE(kim.json().value(u"submissions").toInt(), 2);
    QCOMPARE(kim.json().value(u"total").toInt(), 5);
    // A nickname is looked up as it is, markup and all.
    QCOMPARE(request(QStringLiteral("/api/player?name=%3Cb%3Ex%3C%2Fb%3E"))
                 .json()
                 .value(u"best")
                 .toObject()
                 .value(u"rank")
                 .toInt(),
             3);

    const Http unknown = request(QStringLiteral("/api/player?name=nobody"));
    QCOMPARE(unknown.status, 404);
    QCOMPARE(unknown.json().value(u"error").toString(),
             QStringLiteral("no score by that nickname"));
}

void TestWebBoard::rankOfAScore()
{
    fill({{1.0, QStringLiteral("a")}, {2.0, QStringLiteral("b")}, {2.0, QStringLiteral("c")}});
    QCOMPARE(request(QStringLiteral("/api/rank?score=2")).json().value(u"rank").toInt(), 2);
    QCOMPARE(request(QStringLiteral("/api/rank?score=2.5")).json().value(u"rank").toInt(), 4);
    QCOMPARE(request(QStringLiteral("/api/rank?score=0.5")).json().value(u"total").toInt(), 3);
}

void TestWebBoard::badRequests_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("verb");
    QTest::addColumn<int>("status");
    const QByteArray get("GET");
    QTest::newRow("limit 0") << QStringLiteral("/api/top?limit=0") << get << 400;
    QTest::newRow("limit 101") << QStringLiteral("/api/top?limit=101") << get << 400;
    QTest::newRow("limit a word") << QStringLiteral("/api/top?limit=ten") << get << 400;
    QTest::newRow("negative offset") << QStringLiteral("/api/top?offset=-1") << get << 400;
    QTest::newRow("huge offset") << QStringLiteral("/api/top?offset=99999999999999999999") << get
                                 << 400;
    QTest::newRow("no name") << QStringLiteral("/api/player") << get << 400;
    QTest::newRow("long name") << QStringLiteral("/api/player?name=") +
                                      QString(65, QLatin1Char('x'))
                               << get << 400;
    QTest::newRow("score nan") << QStringLiteral("/api/rank?score=nan") << get << 400;
    QTest::newRow("negative score") << QStringLiteral("/api/rank?score=-1") << get << 400;
    QTest::newRow("no score") << QStringLiteral("/api/rank") << get << 400;
    QTest::newRow("unknown page") << QStringLiteral("/admin") << get << 404;
    QTest::newRow("post") << QStringLiteral("/api/top") << QByteArray("POST") << 405;
    QTest::newRow("delete") << QStringLiteral("/") << QByteArray("DELETE") << 405;
    QTest::newRow("long address") << QStringLiteral("/api/top?x=") + QString(3000, QLatin1Char('y'))
                                  << get << 414;
}

// A request the board cannot answer gets its status and a reason in JSON, and the server goes on.
void TestWebBoard::badRequests()
{
    QFETCH(QString, target);
    QFETCH(QByteArray, verb);
    QFETCH(int, status);
    const Http http = request(target, verb);
    QCOMPARE(http.status, status);
    QVERIFY(!http.json().value(u"error").toString().isEmpty());
    if (status == 405)
        QCOMPARE(http.header("Allow"), QByteArray("GET, HEAD"));
    QCOMPARE(request(QStringLiteral("/api/top")).status, 200);
}

void TestWebBoard::pageAndHeaders()
{
    const Http page = request(QStringLiteral("/"));
    QCOMPARE(page.status, 200);
    QVERIFY(page.body.contains("<script src=\"/board.js\""));
    // Scripts come from the board itself, never inline or from elsewhere.
    const QByteArray policy = page.header("Content-Security-Policy");
    QVERIFY2(policy.contains("script-src 'self'") && policy.contains("default-src 'none'") &&
                 !policy.contains("unsafe"),
             policy.constData());
    QCOMPARE(request(QStringLiteral("/board.js")).header("Content-Type"),
             QByteArray("text/javascript; charset=utf-8"));

    const Http head = request(QStringLiteral("/"), "HEAD");
    QCOMPARE(head.status, 200);
    QVERIFY(head.body.isEmpty());
    QCOMPARE(head.header("Content-Length").toInt(), page.body.size());
}

void TestWebBoard::metricsCountRealSubmissions()
{
    const quint16 port = server->ports()[0];
    QVERIFY(exchange(port, clientPieces("1.5", "kim")).startsWith("Thanks"));
    QVERIFY(exchange(port, clientPieces("2", "ada")).startsWith("Thanks"));
    QVERIFY(exchange(port, {QByteArray("fast           By kimdata")}).startsWith("Rejected"));
    const Http metrics = request(QStringLiteral("/metrics"));
    QCOMPARE(metrics.status, 200);
    QVERIFY(metrics.header("Content-Type").startsWith("text/plain; version=0.0.4"));
    const QList<QByteArray> lines = metrics.body.split('\n');
    const auto value = [&lines](const QByteArray &name) {
        for (const QByteArray &line : lines) {
            if (line.startsWith(QByteArray(name + ' ')))
                return line.mid(name.size() + 1).toLongLong();
        }
        return -1LL;
    };
    QCOMPARE(value("orvane_submissions_accepted_total"), 2);
    QCOMPARE(value("orvane_submissions_rejected_total{reason=\"invalid\"}"), 1);
    QCOMPARE(value("orvane_submissions_rejected_total{reason=\"idle\"}"), 0);
    QCOMPARE(value("orvane_scores"), 2);
    QVERIFY(value("orvane_database_bytes") > 0);
    QVERIFY(value("orvane_log_bytes") >= 0);
    QCOMPARE(value("orvane_open_connections"), 0);
}

// More connections than the board takes, a header of 100 KiB and a client that stops halfway
// through its request: each is closed, submissions go on being taken meanwhile, and the board
// answers again once they are gone.
void TestWebBoard::misbehavingClientsLeaveSubmissionsAlone()
{
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 20; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, web->port());
    }
    clients.front()->write("GET /api/top HTTP/1.1\r\nHost: x\r\nX-Pad: ");
    clients.front()->write(QByteArray(100 * 1024, 'a'));
    clients[1]->write("GET /api/top HTTP/1.1\r\nHo"); // and nothing more

    const auto closed = [&clients] {
        return std::count_if(clients.begin(), clients.end(), [](const auto &c) {
            return c->state() == QAbstractSocket::UnconnectedState;
        });
    };
    // Those beyond the eight places are turned away at once, and so is the head too large; the
    // other seven stay until they have been idle.
    QTRY_VERIFY_WITH_TIMEOUT(closed() >= 13, 10000);
    QCOMPARE(closed(), 13);
    QVERIFY(clients.front()->readAll().startsWith("HTTP/1.1 431 "));
    QVERIFY(exchange(server->ports()[0], clientPieces("1.5", "kim")).startsWith("Thanks"));
    QTRY_COMPARE_WITH_TIMEOUT(closed(), 20, 10000);
    QCOMPARE(request(QStringLiteral("/api/top")).json().value(u"total").toInt(), 1);
}

void TestWebBoard::ambiguousFramingIsRefusedAndClosed_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");
    QTest::newRow("two differing lengths")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 3\r\nContent-Length: 5\r\n\r\n"
                      "abc")
        << 400;
    QTest::newRow("length and transfer coding")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 5\r\n"
                      "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n")
        << 400;
    QTest::newRow("length that wraps")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 18446744073709551616\r\n\r\n")
        << 400;
    QTest::newRow("length -1") << QByteArray(
                                      "GET / HTTP/1.1\r\nHost: a\r\nContent-Length: -1\r\n\r\n")
                               << 400;
    QTest::newRow("length +5")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nContent-Length: +5\r\n\r\nabcde") << 400;
    QTest::newRow("blank before the colon")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding : chunked\r\n\r\n0\r\n\r\n")
        << 400;
    QTest::newRow("obs-fold") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nX-A: b\r\n c\r\n\r\n")
                              << 400;
    QTest::newRow("bare LF") << QByteArray("GET / HTTP/1.1\nHost: a\n\n") << 400;
    QTest::newRow("no Host") << QByteArray("GET / HTTP/1.1\r\n\r\n") << 400;
    QTest::newRow("two Hosts") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n") << 400;
    QTest::newRow("malformed request line") << QByteArray("GARBAGE\r\n\r\n") << 400;
    QTest::newRow("head over the limit")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nX-A: " + QByteArray(9000, 'a') + "\r\n\r\n")
        << 431;
    QTest::newRow("body over the limit")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 100000\r\n\r\n" +
                      QByteArray(100000, 'x'))
        << 413;
    QTest::newRow("unknown version") << QByteArray("GET / HTTP/1.7\r\nHost: a\r\n\r\n") << 505;
}

// A request whose framing a proxy could read differently gets its status and the connection
// closes: the request behind it on the same connection is never served.
void TestWebBoard::ambiguousFramingIsRefusedAndClosed()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    const Raw answer = raw(web->port(), bytes + Get);
    QVERIFY(answer.closed);
    QVERIFY2(answer.reply.startsWith(QByteArray("HTTP/1.1 " + QByteArray::number(status) + ' ')),
             answer.reply.left(80).constData());
    QCOMPARE(answer.answers(), 1);
    QVERIFY(answer.reply.contains("\r\nConnection: close\r\n"));
    QVERIFY(answer.reply.contains("\r\nDate: "));
    QCOMPARE(request(QStringLiteral("/api/top")).status, 200);
}

void TestWebBoard::closeIsHonoured_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("Connection: close")
        << QByteArray("GET /api/top HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n");
    QTest::newRow("HTTP/1.0") << QByteArray("GET /api/top HTTP/1.0\r\n\r\n");
    QTest::newRow("HEAD, HTTP/1.0") << QByteArray("HEAD / HTTP/1.0\r\n\r\n");
}

// A client that asks for one answer gets it and the end of the connection at once, not after
// the idle time: a load tool that speaks HTTP/1.0 is not held up.
void TestWebBoard::closeIsHonoured()
{
    QFETCH(QByteArray, request);
    startWeb({}); // idle connections stay 15 s
    const Raw answer = raw(web->port(), request, 3000);
    QVERIFY(answer.closed);
    QVERIFY2(answer.reply.startsWith("HTTP/1.1 200 OK\r\n"), answer.reply.constData());
    QCOMPARE(answer.answers(), 1);
    QVERIFY(answer.reply.contains("\r\nConnection: close\r\n"));
}

void TestWebBoard::keepAliveServesRequestAfterRequest()
{
    startWeb({});
    // Three requests in one write, and an HTTP/1.0 client that asks to keep the connection.
    const Raw pipelined = raw(web->port(), Get + Get + Get, 1500);
    QVERIFY(!pipelined.closed);
    QCOMPARE(pipelined.answers(), 3);
    const Raw kept = raw(web->port(),
                         "GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"
                         "GET /board.css HTTP/1.0\r\n\r\n",
                         3000);
    QVERIFY(kept.closed);
    QCOMPARE(kept.answers(), 2);
}

// 260 connections from one address that send a request head slowly: 32 are kept, the others
// are turned away at once, and another address is served meanwhile.
void TestWebBoard::slowHeadsFromOneAddressLeaveOthersServed()
{
    startWeb({});
    std::vector<std::unique_ptr<QTcpSocket>> slow;
    slow.reserve(260);
    for (int i = 0; i < 260; ++i)
        slow.push_back(client(web->port(), loopback(1), "GET /api/top HTTP/1.1\r\nHo"));
    const auto open = [&slow] {
        return std::count_if(slow.begin(), slow.end(), [](const auto &socket) {
            return socket->state() == QAbstractSocket::ConnectedState;
        });
    };
    QTRY_COMPARE_WITH_TIMEOUT(open(), 32, 10000);
    QByteArray refused;
    for (const auto &socket : slow)
        refused =
            socket->state() == QAbstractSocket::UnconnectedState ? socket->readAll() : refused;
    QVERIFY2(refused.startsWith("HTTP/1.1 503 Service Unavailable\r\n"), refused.constData());
    QVERIFY(refused.contains("\r\nRetry-After: 1\r\n"));
    const Raw other = raw(web->port(), Get, 5000, loopback(2));
    QVERIFY2(other.reply.startsWith("HTTP/1.1 200 OK\r\n"), other.reply.left(80).constData());
    QCOMPARE(open(), 32); // still there: the answer did not wait for their deadline
}

// Slow heads from several addresses fill every place: a newcomer takes the place of the one
// that has been on its way longest, which is told why.
void TestWebBoard::slowHeadsMakeRoomAtTheCap()
{
    http::Limits limits;
    limits.maxConnections = 8;
    limits.maxPerPeer = 2;
    startWeb(limits);
    std::vector<std::unique_ptr<QTcpSocket>> slow;
    slow.reserve(8);
    for (int i = 0; i < 8; ++i)
        slow.push_back(client(web->port(), loopback(1 + i / 2), "GET / HTTP/1.1\r\n"));
    const Raw newcomer = raw(web->port(), Get + Get, 5000, loopback(9));
    QVERIFY2(newcomer.reply.startsWith("HTTP/1.1 200 OK\r\n"), newcomer.reply.left(80).constData());
    QCOMPARE(newcomer.answers(), 2);
    // One of them made room, and was told so; the others wait on.
    const auto closed = [&slow] {
        return std::count_if(slow.begin(), slow.end(), [](const auto &socket) {
            return socket->state() == QAbstractSocket::UnconnectedState;
        });
    };
    QTRY_COMPARE(closed(), 1);
    for (const auto &socket : slow) {
        const QByteArray reply = socket->readAll();
        if (socket->state() == QAbstractSocket::UnconnectedState)
            QVERIFY2(reply.startsWith("HTTP/1.1 503 "), reply.constData());
        else
            QVERIFY(reply.isEmpty());
    }
}

// Browsers keep connections open between requests: at the cap, the one idle longest goes.
void TestWebBoard::idleKeepAliveMakesRoom()
{
    http::Limits limits;
    limits.maxConnections = 2;
    limits.holdMs = 200;
    startWeb(limits);
    std::vector<std::unique_ptr<QTcpSocket>> kept;
    for (int i = 0; i < 2; ++i) {
        kept.push_back(client(web->port(), loopback(1), Get));
        QTRY_VERIFY(kept.back()->bytesAvailable() > 0);
        kept.back()->readAll();
    }
    const Raw newcomer = raw(web->port(), Get, 5000, loopback(2));
    QVERIFY2(newcomer.reply.startsWith("HTTP/1.1 200 OK\r\n"), newcomer.reply.left(80).constData());
    QTRY_COMPARE(kept[0]->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(kept[1]->state(), QAbstractSocket::ConnectedState);
}

void TestWebBoard::requestsMustArriveInTime_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("trickle");
    QTest::newRow("head") << QByteArray("GET /api/top HTTP/1.1\r\nHost: a\r\n")
                          << QByteArray("X: y\r\n");
    QTest::newRow("body") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 1000\r\n\r\n")
                          << QByteArray("x");
}

// A client that keeps sending a little, but never the whole request, is answered 408 and closed
// once its deadline has passed, however regularly it sends.
void TestWebBoard::requestsMustArriveInTime()
{
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, trickle);
    http::Limits limits;
    limits.headMs = 400;
    limits.requestMs = 800;
    startWeb(limits);
    auto slow = client(web->port(), loopback(1), start);
    QTimer drip;
    connect(&drip, &QTimer::timeout, slow.get(), [&] { slow->write(trickle); });
    drip.start(50);
    QByteArray reply;
    QTRY_VERIFY_WITH_TIMEOUT(
        (reply += slow->readAll(), slow->state() == QAbstractSocket::UnconnectedState), 10000);
    QVERIFY2(reply.startsWith("HTTP/1.1 408 Request Timeout\r\n"), reply.left(80).constData());
}

QTEST_GUILESS_MAIN(TestWebBoard)
#include "tst_webboard.moc"
