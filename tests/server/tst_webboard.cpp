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

private:
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
    web = std::make_unique<WebBoard>(database->path(), server->metrics(), limits);
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
    std::vector<ScoreEntry> entries;
    for (const auto &[score, nickname] : scores)
        entries.push_back(storedScore(score, nickname));
    QString error;
    QVERIFY2(database->add(entries, &error), qPrintable(error));
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
        for (const QJsonValue &value : entries) {
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

QTEST_GUILESS_MAIN(TestWebBoard)
#include "tst_webboard.moc"
