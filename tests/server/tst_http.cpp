// The web board without sockets: the request reader on framing that two parsers could read
// differently, the query reader, and the board's answers to parsed requests over a real database.
#include "boardapi.h"
#include "boardreader.h"
#include "exchange.h"
#include "httprequest.h"
#include "httpresponse.h"
#include "scoredatabase.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <atomic>
#include <thread>

using namespace http;

class TestHttp : public QObject
{
    Q_OBJECT

private slots:
    void heads_data();
    void heads();
    void everyPrefixOfAHeadIsOnItsWay();
    void hopelessHeadsAreKnownBeforeTheirEnd_data();
    void hopelessHeadsAreKnownBeforeTheirEnd();
    void targets_data();
    void targets();
    void queries_data();
    void queries();
    void responseFields();

    void routes_data();
    void routes();
    void filesCarryValidators_data();
    void filesCarryValidators();
    void pageIsOneReadOfTheTable();
    void failedReadAnswers503();
};

void TestHttp::heads_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status"); // 0: a whole head
    QTest::addColumn<bool>("keepAlive");

    QTest::newRow("GET") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\n\r\n") << 0 << true;
    QTest::newRow("empty line before it")
        << QByteArray("\r\nGET / HTTP/1.1\r\nHost: a\r\n\r\n") << 0 << true;
    QTest::newRow("blanks around a value")
        << QByteArray("GET / HTTP/1.1\r\nHost: \t a \r\n\r\n") << 0 << true;
    QTest::newRow("close") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n")
                           << 0 << false;
    QTest::newRow("close among options")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nConnection: Upgrade, CLOSE\r\n\r\n") << 0
        << false;
    QTest::newRow("HTTP/1.0") << QByteArray("GET / HTTP/1.0\r\n\r\n") << 0 << false;
    QTest::newRow("HTTP/1.0 keep-alive")
        << QByteArray("GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n") << 0 << true;
    QTest::newRow("same length twice")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 3\r\nContent-Length: 3\r\n\r\n")
        << 0 << true;
    QTest::newRow("body at the limit")
        << QByteArray("POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 1024\r\n\r\n") << 0 << true;
    QTest::newRow("length with leading zeros")
        << QByteArray("POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 000000000000000000005\r\n\r\n")
        << 0 << true;

    // Framing in doubt: RFC 9112 asks for 400, and the connection closed.
    QTest::newRow("two differing lengths")
        << QByteArray(
               "POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 3\r\nContent-Length: 5\r\n\r\n")
        << 400 << false;
    QTest::newRow("length and transfer coding")
        << QByteArray("POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 5\r\n"
                      "Transfer-Encoding: chunked\r\n\r\n")
        << 400 << false;
    QTest::newRow("length that wraps to 0")
        << QByteArray("POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 18446744073709551616\r\n\r\n")
        << 400 << false;
    QTest::newRow("length -1") << QByteArray(
                                      "POST / HTTP/1.1\r\nHost: a\r\nContent-Length: -1\r\n\r\n")
                               << 400 << false;
    QTest::newRow("length +5") << QByteArray(
                                      "POST / HTTP/1.1\r\nHost: a\r\nContent-Length: +5\r\n\r\n")
                               << 400 << false;
    QTest::newRow("length as a list")
        << QByteArray("POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 5, 5\r\n\r\n") << 400 << false;
    QTest::newRow("blank before the colon")
        << QByteArray("POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding : chunked\r\n\r\n") << 400
        << false;
    QTest::newRow("obs-fold") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nX-A: b\r\n c\r\n\r\n")
                              << 400 << false;
    QTest::newRow("bare LF") << QByteArray("GET / HTTP/1.1\nHost: a\n\n") << 400 << false;
    QTest::newRow("bare LF after a field")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\n\r\n") << 400 << false;
    QTest::newRow("bare CR") << QByteArray("GET / HTTP/1.1\r\nHost: a\rb\r\n\r\n") << 400 << false;
    QTest::newRow("no Host") << QByteArray("GET / HTTP/1.1\r\n\r\n") << 400 << false;
    QTest::newRow("two Hosts") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n") << 400
                               << false;
    QTest::newRow("two Hosts in HTTP/1.0")
        << QByteArray("GET / HTTP/1.0\r\nHost: a\r\nhost: a\r\n\r\n") << 400 << false;
    QTest::newRow("transfer coding in HTTP/1.0")
        << QByteArray("POST / HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n") << 400 << false;
    QTest::newRow("control character in a value")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nX-A: b\x01"
                      "c\r\n\r\n")
        << 400 << false;
    QTest::newRow("NUL in a value")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\x00\r\n\r\n", 28) << 400 << false;
    QTest::newRow("empty field name")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\r\n: b\r\n\r\n") << 400 << false;
    QTest::newRow("line without colon")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nX-A\r\n\r\n") << 400 << false;

    // The request line.
    QTest::newRow("one word") << QByteArray("GARBAGE\r\n\r\n") << 400 << false;
    QTest::newRow("two blanks") << QByteArray("GET  / HTTP/1.1\r\nHost: a\r\n\r\n") << 400 << false;
    QTest::newRow("tab between parts")
        << QByteArray("GET\t/ HTTP/1.1\r\nHost: a\r\n\r\n") << 400 << false;
    QTest::newRow("blank in the target")
        << QByteArray("GET /a b HTTP/1.1\r\nHost: a\r\n\r\n") << 400 << false;
    QTest::newRow("fragment in the target")
        << QByteArray("GET /#a HTTP/1.1\r\nHost: a\r\n\r\n") << 400 << false;
    QTest::newRow("method not a token")
        << QByteArray("G(T / HTTP/1.1\r\nHost: a\r\n\r\n") << 400 << false;
    QTest::newRow("version in lower case")
        << QByteArray("GET / http/1.1\r\nHost: a\r\n\r\n") << 400 << false;
    QTest::newRow("version without minor")
        << QByteArray("GET / HTTP/1\r\nHost: a\r\n\r\n") << 400 << false;
    QTest::newRow("relative target")
        << QByteArray("GET api/top HTTP/1.1\r\nHost: a\r\n\r\n") << 400 << false;
    QTest::newRow("HTTP/2.0") << QByteArray("GET / HTTP/2.0\r\nHost: a\r\n\r\n") << 505 << false;
    QTest::newRow("HTTP/1.2") << QByteArray("GET / HTTP/1.2\r\nHost: a\r\n\r\n") << 505 << false;
    QTest::newRow("HTTP/0.9") << QByteArray("GET / HTTP/0.9\r\n\r\n") << 505 << false;

    // Sizes.
    QTest::newRow("target at the limit")
        << QByteArray("GET /" + QByteArray(2047, 'a') + " HTTP/1.1\r\nHost: a\r\n\r\n") << 0
        << true;
    QTest::newRow("target over the limit")
        << QByteArray("GET /" + QByteArray(2048, 'a') + " HTTP/1.1\r\nHost: a\r\n\r\n") << 414
        << false;
    QTest::newRow("head over the limit")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nX-A: " + QByteArray(8200, 'a') + "\r\n\r\n")
        << 431 << false;
    QTest::newRow("too many fields") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\n" +
                                                   QByteArray("X-A: b\r\n").repeated(64) + "\r\n")
                                     << 431 << false;
    QTest::newRow("body over the limit")
        << QByteArray("POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 1025\r\n\r\n") << 413 << false;
    QTest::newRow("transfer coding") << QByteArray("POST / HTTP/1.1\r\nHost: a\r\n"
                                                   "Transfer-Encoding: chunked\r\n\r\n")
                                     << 501 << false;
}

void TestHttp::heads()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    QFETCH(bool, keepAlive);
    const Head head = readHead(bytes);
    if (status == 0) {
        QCOMPARE(head.progress, Head::Progress::Complete);
        QCOMPARE(head.length, bytes.size());
        QCOMPARE(head.request.keepAlive, keepAlive);
    } else {
        QCOMPARE(head.progress, Head::Progress::Invalid);
        QCOMPARE(head.error.status, status);
        QVERIFY(!head.error.reason.isEmpty());
    }
}

// Bytes that arrive one at a time never make a whole request look broken, nor whole early.
void TestHttp::everyPrefixOfAHeadIsOnItsWay()
{
    const QByteArray bytes("GET /api/top?limit=5 HTTP/1.1\r\nHost: board\r\nAccept: */*\r\n"
                           "If-None-Match: W/\"a\", \"b\"\r\n\r\n");
    for (qsizetype length = 0; length < bytes.size(); ++length) {
        const Head head = readHead(bytes.left(length));
        QVERIFY2(head.progress == Head::Progress::Partial,
                 qPrintable(QString::fromLatin1(bytes.left(length)) + head.error.reason));
    }
    const Head whole = readHead(QByteArray(bytes + "GET / HTTP/1.1\r\n"));
    QCOMPARE(whole.progress, Head::Progress::Complete);
    QCOMPARE(whole.length, bytes.size()); // a pipelined request after it is left alone
    QCOMPARE(whole.request.path, QByteArray("/api/top"));
    QCOMPARE(whole.request.query, QByteArray("limit=5"));
    QCOMPARE(whole.request.field("if-none-match"), QByteArray("W/\"a\", \"b\""));
}

void TestHttp::hopelessHeadsAreKnownBeforeTheirEnd_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");
    QTest::newRow("bare LF") << QByteArray("GARBAGE\nmore") << 400;
    QTest::newRow("malformed request line") << QByteArray("GARBAGE\r\nHost") << 400;
    QTest::newRow("control byte") << QByteArray("GET /\x01") << 400;
    QTest::newRow("CR inside a line") << QByteArray("GET / HTTP/1.1\r\nHost: a\rb") << 400;
    QTest::newRow("endless request line") << QByteArray("GET /" + QByteArray(3000, 'a')) << 414;
    QTest::newRow("endless field")
        << QByteArray("GET / HTTP/1.1\r\nX: " + QByteArray(9000, 'a')) << 431;
}

// A head that can never be whole is answered at once, not when its deadline comes.
void TestHttp::hopelessHeadsAreKnownBeforeTheirEnd()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    const Head head = readHead(bytes);
    QCOMPARE(head.progress, Head::Progress::Invalid);
    QCOMPARE(head.error.status, status);
}

void TestHttp::targets_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("query");
    QTest::newRow("path") << QByteArray("/board.js") << QByteArray("/board.js") << QByteArray();
    QTest::newRow("query") << QByteArray("/api/top?limit=5&offset=10") << QByteArray("/api/top")
                           << QByteArray("limit=5&offset=10");
    QTest::newRow("empty query") << QByteArray("/api/top?") << QByteArray("/api/top")
                                 << QByteArray();
    QTest::newRow("absolute form") << QByteArray("http://board:8337/api/rank?score=2")
                                   << QByteArray("/api/rank") << QByteArray("score=2");
    QTest::newRow("absolute form, no path")
        << QByteArray("HTTP://board") << QByteArray("/") << QByteArray();
    QTest::newRow("absolute form, only a query")
        << QByteArray("https://board?x=1") << QByteArray("/") << QByteArray("x=1");
}

void TestHttp::targets()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, query);
    const Head head = readHead(QByteArray("GET " + target + " HTTP/1.1\r\nHost: a\r\n\r\n"));
    QCOMPARE(head.progress, Head::Progress::Complete);
    QCOMPARE(head.request.path, path);
    QCOMPARE(head.request.query, query);
    QCOMPARE(head.request.target, target);
}

void TestHttp::queries_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("pairs"); // name=value;...
    QTest::newRow("two") << QByteArray("limit=5&offset=10") << true << "limit=5;offset=10";
    QTest::newRow("none") << QByteArray() << true << "";
    QTest::newRow("empty parts") << QByteArray("&a=1&&") << true << "a=1";
    QTest::newRow("name only") << QByteArray("a") << true << "a=";
    QTest::newRow("escapes and plus")
        << QByteArray("name=k%C3%BCm+b%2B") << true << QStringLiteral("name=küm b+");
    QTest::newRow("equals in the value") << QByteArray("a=b=c") << true << "a=b=c";
    QTest::newRow("bad escape") << QByteArray("name=%zz") << false << "";
    QTest::newRow("cut escape") << QByteArray("name=%4") << false << "";
    QTest::newRow("escape at the end") << QByteArray("name=%") << false << "";
    QTest::newRow("NUL") << QByteArray("name=a%00b") << false << "";
    QTest::newRow("line break") << QByteArray("name=a%0Ab") << false << "";
    QTest::newRow("not UTF-8") << QByteArray("name=%FF") << false << "";
    QTest::newRow("overlong UTF-8") << QByteArray("name=%C0%AF") << false << "";
}

void TestHttp::queries()
{
    QFETCH(QByteArray, query);
    QFETCH(bool, valid);
    QFETCH(QString, pairs);
    const auto read = readQuery(query);
    QCOMPARE(read.has_value(), valid);
    if (!valid)
        return;
    QStringList written;
    for (const auto &[name, value] : *read)
        written << name + QLatin1Char('=') + value;
    QCOMPARE(written.join(QLatin1Char(';')), pairs);
}

void TestHttp::responseFields()
{
    Response response{200, "text/plain", "hello", {{"ETag", "\"x\""}}};
    const QByteArray date = httpDate(QDateTime(QDate(2026, 12, 8), QTime(9, 5, 3), Qt::UTC));
    QCOMPARE(date, QByteArray("Tue, 08 Dec 2026 09:05:03 GMT"));
    QCOMPARE(serialized(response, false, false, date),
             QByteArray("HTTP/1.1 200 OK\r\nDate: Tue, 08 Dec 2026 09:05:03 GMT\r\n"
                        "Content-Type: text/plain\r\nContent-Length: 5\r\nETag: \"x\"\r\n\r\n"
                        "hello"));
    // HEAD: the GET answer's length, no body.
    QCOMPARE(serialized(response, true, true, date),
             QByteArray("HTTP/1.1 200 OK\r\nDate: Tue, 08 Dec 2026 09:05:03 GMT\r\n"
                        "Content-Type: text/plain\r\nContent-Length: 5\r\nETag: \"x\"\r\n"
                        "Connection: close\r\n\r\n"));
    response.status = 304;
    QCOMPARE(serialized(response, false, false, date),
             QByteArray("HTTP/1.1 304 Not Modified\r\nDate: Tue, 08 Dec 2026 09:05:03 GMT\r\n"
                        "ETag: \"x\"\r\n\r\n"));
}

namespace {

// A request as the reader makes it from the bytes.
Request get(const QByteArray &target, const QByteArray &extraFields = {},
            const QByteArray &method = "GET")
{
    const Head head = readHead(
        QByteArray(method + ' ' + target + " HTTP/1.1\r\nHost: a\r\n" + extraFields + "\r\n"));
    return head.request;
}

struct Board
{
    QTemporaryDir dir;
    std::unique_ptr<ScoreDatabase> database;
    std::unique_ptr<BoardReader> reader;
    ServerMetrics metrics;
    SharedScoreIndex index;
    std::unique_ptr<BoardApi> api;

    explicit Board(int scores = 120)
    {
        QString error;
        database = ScoreDatabase::open(dir.filePath(QStringLiteral("scores.db")), &error);
        std::vector<ScoreEntry> entries;
        for (int i = 1; i <= scores; ++i)
            entries.push_back(storedScore(i / 10.0, QStringLiteral("p%1").arg(i)));
        database->add(entries, &error);
        index.write([this](ScoreIndex &keys) {
            keys.assign(database->allKeys().value_or(std::vector<ScoreKey>()));
            return 0;
        });
        reader = BoardReader::open(database->path(), &error);
        api =
            std::make_unique<BoardApi>(index, *reader, metrics, database->path(), [] { return 3; });
    }
};

} // namespace

void TestHttp::routes_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("check"); // a JSON member and its value, or a text in the body

    QTest::newRow("top, default limit")
        << QByteArray("GET") << QByteArray("/api/top") << 200 << "limit=50";
    QTest::newRow("limit 1") << QByteArray("GET") << QByteArray("/api/top?limit=1") << 200
                             << "limit=1";
    QTest::newRow("limit 100") << QByteArray("GET") << QByteArray("/api/top?limit=100") << 200
                               << "limit=100";
    QTest::newRow("limit 0") << QByteArray("GET") << QByteArray("/api/top?limit=0") << 400 << "";
    QTest::newRow("limit 101") << QByteArray("GET") << QByteArray("/api/top?limit=101") << 400
                               << "";
    QTest::newRow("limit +5") << QByteArray("GET") << QByteArray("/api/top?limit=%2B5") << 400
                              << "";
    QTest::newRow("limit twice") << QByteArray("GET") << QByteArray("/api/top?limit=5&limit=6")
                                 << 400 << "";
    QTest::newRow("offset at the end")
        << QByteArray("GET") << QByteArray("/api/top?offset=120") << 200 << "total=120";
    QTest::newRow("offset too far")
        << QByteArray("GET") << QByteArray("/api/top?offset=1000000001") << 400 << "";
    QTest::newRow("offset past the total")
        << QByteArray("GET") << QByteArray("/api/top?offset=121") << 400 << "";
    QTest::newRow("after a key") << QByteArray("GET") << QByteArray("/api/top?after=11.9,119")
                                 << 200 << "offset=119";
    QTest::newRow("after a key that is gone")
        << QByteArray("GET") << QByteArray("/api/top?after=5.05,0") << 200 << "offset=50";
    QTest::newRow("after, not a key")
        << QByteArray("GET") << QByteArray("/api/top?after=5") << 400 << "";
    QTest::newRow("after and offset")
        << QByteArray("GET") << QByteArray("/api/top?after=1,1&offset=2") << 400 << "";
    QTest::newRow("player") << QByteArray("GET") << QByteArray("/api/player?name=p7") << 200
                            << "submissions=1";
    QTest::newRow("player by escape")
        << QByteArray("GET") << QByteArray("/api/player?name=%70%37") << 200 << "nickname=p7";
    QTest::newRow("unknown player")
        << QByteArray("GET") << QByteArray("/api/player?name=zz") << 404 << "";
    QTest::newRow("rank") << QByteArray("GET") << QByteArray("/api/rank?score=1.05") << 200
                          << "rank=11";
    QTest::newRow("rank, bad escape")
        << QByteArray("GET") << QByteArray("/api/rank?score=%zz") << 400 << "";
    QTest::newRow("HEAD") << QByteArray("HEAD") << QByteArray("/api/top") << 200 << "limit=50";
    QTest::newRow("POST") << QByteArray("POST") << QByteArray("/api/top") << 405 << "";
    QTest::newRow("escaped path") << QByteArray("GET") << QByteArray("/api/%74op") << 200
                                  << "limit=50";
    QTest::newRow("path with a NUL") << QByteArray("GET") << QByteArray("/api/top%00") << 400 << "";
    QTest::newRow("no such page") << QByteArray("GET") << QByteArray("/admin") << 404 << "";
    QTest::newRow("metrics") << QByteArray("GET") << QByteArray("/metrics") << 200
                             << "orvane_web_connections 3";
    QTest::newRow("distribution") << QByteArray("GET") << QByteArray("/api/distribution") << 200
                                  << "references";
}

// The routes as plain functions: statuses, bounds and what the answer holds, without a socket.
void TestHttp::routes()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(int, status);
    QFETCH(QString, check);
    Board board;
    QVERIFY(board.api);
    const Response response = board.api->answer(get(target, {}, method));
    QCOMPARE(response.status, status);
    QVERIFY(response.field("Content-Security-Policy").contains("default-src 'none'"));
    QCOMPARE(response.field("Cache-Control"), QByteArray("no-store"));
    if (status == 405)
        QCOMPARE(response.field("Allow"), QByteArray("GET, HEAD"));
    if (status >= 400) {
        QVERIFY(
            !QJsonDocument::fromJson(response.body).object().value(u"error").toString().isEmpty());
        return;
    }
    if (check.contains(QLatin1Char('='))) {
        const QString name = check.section(QLatin1Char('='), 0, 0);
        const QString value = check.section(QLatin1Char('='), 1);
        const QJsonObject object = QJsonDocument::fromJson(response.body).object();
        QCOMPARE(object.value(name).toVariant().toString(), value);
    } else {
        QVERIFY2(response.body.contains(check.toUtf8()), response.body.left(200).constData());
    }
}

void TestHttp::filesCarryValidators_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("type");
    QTest::newRow("page") << QByteArray("/") << QByteArray("text/html; charset=utf-8");
    QTest::newRow("script") << QByteArray("/board.js")
                            << QByteArray("text/javascript; charset=utf-8");
    QTest::newRow("style") << QByteArray("/board.css") << QByteArray("text/css; charset=utf-8");
    QTest::newRow("icon") << QByteArray("/favicon.ico") << QByteArray("image/png");
}

// The page's files are kept by the browser and asked about again: an entity tag that matches
// gets 304 without a body.
void TestHttp::filesCarryValidators()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, type);
    Board board;
    const Response first = board.api->answer(get(target));
    QCOMPARE(first.status, 200);
    QCOMPARE(first.contentType, type);
    QVERIFY(!first.body.isEmpty());
    QCOMPARE(first.field("Cache-Control"), QByteArray("no-cache"));
    const QByteArray tag = first.field("ETag");
    QVERIFY(tag.startsWith('"') && tag.endsWith('"') && tag.size() > 10);

    const QList<QByteArray> lists = {tag, "W/" + tag, "\"other\", " + tag, "*"};
    for (const QByteArray &list : lists) {
        const Response again = board.api->answer(get(target, "If-None-Match: " + list + "\r\n"));
        QCOMPARE(again.status, 304);
        QVERIFY(again.body.isEmpty());
        QCOMPARE(again.field("ETag"), tag);
    }
    QCOMPARE(board.api->answer(get(target, "If-None-Match: \"other\"\r\n")).status, 200);
}

// A page's rows come from one read of the table: a writer that changes two rows together, over
// and over, is never seen halfway.
void TestHttp::pageIsOneReadOfTheTable()
{
    Board board;
    sqlite3 *first = nullptr;
    sqlite3_open(board.database->path().toUtf8().constData(), &first);
    QCOMPARE(sqlite3_exec(first, "UPDATE scores SET nickname = 'start' WHERE id IN (1, 2)", nullptr,
                          nullptr, nullptr),
             SQLITE_OK);
    sqlite3_close(first);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        sqlite3 *db = nullptr;
        sqlite3_open(board.database->path().toUtf8().constData(), &db);
        sqlite3_busy_timeout(db, 5000);
        for (int round = 0; !stop; ++round) {
            const QByteArray sql = "BEGIN; UPDATE scores SET nickname = 'r" +
                                   QByteArray::number(round) +
                                   "' WHERE id = 1; UPDATE scores SET nickname = 'r" +
                                   QByteArray::number(round) + "' WHERE id = 2; COMMIT;";
            sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr);
        }
        sqlite3_close(db);
    });
    int mixed = 0;
    for (int read = 0; read < 3000; ++read) {
        const QJsonArray entries =
            QJsonDocument::fromJson(board.api->answer(get("/api/top?limit=2")).body)
                .object()
                .value(u"entries")
                .toArray();
        if (entries.size() == 2 &&
            entries[0].toObject().value(u"nickname") != entries[1].toObject().value(u"nickname"))
            ++mixed;
    }
    stop = true;
    writer.join();
    QCOMPARE(mixed, 0);
}

// A read that fails is said to have failed: 503 with the reason, never an empty board.
void TestHttp::failedReadAnswers503()
{
    Board board;
    sqlite3 *other = nullptr;
    QCOMPARE(sqlite3_open(board.database->path().toUtf8().constData(), &other), SQLITE_OK);
    QCOMPARE(sqlite3_exec(other, "ALTER TABLE scores RENAME TO kept", nullptr, nullptr, nullptr),
             SQLITE_OK);
    sqlite3_close(other);
    for (const QByteArray &target : {QByteArray("/api/top"), QByteArray("/api/player?name=p7")}) {
        const Response response = board.api->answer(get(target));
        QCOMPARE(response.status, 503);
        QVERIFY2(QJsonDocument::fromJson(response.body)
                     .object()
                     .value(u"error")
                     .toString()
                     .startsWith(QStringLiteral("the board could not be read (")),
                 response.body.constData());
        QCOMPARE(response.field("Retry-After"), QByteArray("1"));
    }
}

QTEST_GUILESS_MAIN(TestHttp)
#include "tst_http.moc"
