// The web board in a real browser: headless Chromium, driven through ChromeDriver's WebDriver
// API over HTTP on 127.0.0.1, loads the page from the daemon itself and is read back from the
// page's own DOM.
#include "exchange.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

class TestBrowser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void boardShowsTheDatabase();
    void nicknamesAreText();
    void newScoreAppearsWithoutReloading();

private:
    QJsonValue webDriver(const QByteArray &verb, const QString &path, const QJsonObject &body = {});
    // Runs a script in the page and gives back what it returned.
    QJsonValue inPage(const QString &script);

    QTemporaryDir dir;
    QProcess scored;
    QProcess driver;
    QNetworkAccessManager network;
    quint16 driverPort = 0;
    quint16 submitPort = 0;
    QString boardUrl;
    QString session;
};

void TestBrowser::initTestCase()
{
    for (const char *tool : {"/usr/bin/chromium", "/usr/bin/chromedriver"})
        QVERIFY2(QFile::exists(QLatin1String(tool)),
                 "needs Debian's chromium and chromium-driver (make test installs them)");

    // A board with a few scores, two of whose nicknames are HTML.
    QString error;
    const QString path = dir.filePath(QStringLiteral("scores.db"));
    {
        auto database = ScoreDatabase::open(path, &error);
        QVERIFY2(database, qPrintable(error));
        QVERIFY(database->add(
            {storedScore(1.5, QStringLiteral("kim")), storedScore(2.25, QStringLiteral("<b>x</b>")),
             storedScore(3.0, QStringLiteral("<img src=x onerror=\"window.pwned=1\">")),
             storedScore(4.75, QStringLiteral("ada"))},
            &error));
    }

    scored.start(QStringLiteral(ORVANE_SCORED),
                 {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--db"), path,
                  QStringLiteral("--listen"), QStringLiteral("127.0.0.1")});
    QString started;
    QTRY_VERIFY_WITH_TIMEOUT((started += QString::fromUtf8(scored.readAllStandardError()))
                                 .contains(QStringLiteral("the board is on")),
                             10000);
    const auto ports = QRegularExpression(QStringLiteral("ports (\\d+) and")).match(started);
    const auto board = QRegularExpression(QStringLiteral("(http://\\S+/)")).match(started);
    QVERIFY2(ports.hasMatch() && board.hasMatch(), qPrintable(started));
    submitPort = ports.captured(1).toUShort();
    boardUrl = board.captured(1);

    driverPort = freePort();
    driver.start(QStringLiteral("/usr/bin/chromedriver"),
                 {QStringLiteral("--port=%1").arg(driverPort)});
    QTRY_VERIFY_WITH_TIMEOUT(
        webDriver("GET", QStringLiteral("/status")).toObject().value(u"ready").toBool(), 15000);
    const QJsonObject options{
        {QStringLiteral("binary"), QStringLiteral("/usr/bin/chromium")},
        {QStringLiteral("args"),
         QJsonArray{QStringLiteral("--headless=new"), QStringLiteral("--no-sandbox"),
                    QStringLiteral("--disable-gpu"), QStringLiteral("--disable-dev-shm-usage"),
                    QString(QStringLiteral("--user-data-dir=") +
                            dir.filePath(QStringLiteral("browser")))}}};
    const QJsonValue created =
        webDriver("POST", QStringLiteral("/session"),
                  {{QStringLiteral("capabilities"),
                    QJsonObject{{QStringLiteral("alwaysMatch"),
                                 QJsonObject{{QStringLiteral("goog:chromeOptions"), options}}}}}});
    session = created.toObject().value(u"sessionId").toString();
    QVERIFY2(!session.isEmpty(), QJsonDocument(created.toObject()).toJson().constData());
    webDriver("POST", QStringLiteral("/session/%1/url").arg(session),
              {{QStringLiteral("url"), boardUrl}});
    QTRY_COMPARE_WITH_TIMEOUT(
        inPage(QStringLiteral("return document.querySelectorAll('#board tbody tr').length;"))
            .toInt(),
        4, 10000);
}

void TestBrowser::cleanupTestCase()
{
    if (!session.isEmpty())
        webDriver("DELETE", QStringLiteral("/session/%1").arg(session));
    driver.kill();
    driver.waitForFinished();
    scored.terminate();
    scored.waitForFinished();
}

QJsonValue TestBrowser::webDriver(const QByteArray &verb, const QString &path,
                                  const QJsonObject &body)
{
    QNetworkRequest request(
        QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(driverPort).arg(path)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply *reply = network.sendCustomRequest(
        request, verb, verb == "POST" ? QJsonDocument(body).toJson() : QByteArray());
    if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 30000))
        reply->abort();
    QJsonValue value = QJsonDocument::fromJson(reply->readAll()).object().value(u"value");
    reply->deleteLater();
    return value;
}

QJsonValue TestBrowser::inPage(const QString &script)
{
    return webDriver("POST", QStringLiteral("/session/%1/execute/sync").arg(session),
                     {{QStringLiteral("script"), script}, {QStringLiteral("args"), QJsonArray()}});
}

void TestBrowser::boardShowsTheDatabase()
{
    const QJsonArray rows =
        inPage(QStringLiteral("return [...document.querySelectorAll('#board tbody tr')]"
                              ".map(r => [...r.cells].slice(0, 3).map(c => c.textContent)"
                              ".join('|'));"))
            .toArray();
    QCOMPARE(rows.toVariantList(),
             (QVariantList{QStringLiteral("1|kim|1.5"), QStringLiteral("2|<b>x</b>|2.25"),
                           QStringLiteral("3|<img src=x onerror=\"window.pwned=1\">|3"),
                           QStringLiteral("4|ada|4.75")}));
    // The chart marks the nine reference machines.
    QCOMPARE(inPage(QStringLiteral("return document.querySelectorAll('#chart .reference').length;"))
                 .toInt(),
             9);
}

// The markup of a nickname is shown as its characters: no element is made from it and no
// handler in it runs.
void TestBrowser::nicknamesAreText()
{
    QCOMPARE(
        inPage(QStringLiteral("return document.querySelectorAll('#board b, #board img').length;"))
            .toInt(),
        0);
    QCOMPARE(inPage(QStringLiteral("return [...document.querySelectorAll('#board td')]"
                                   ".filter(c => c.children.length > 0).length;"))
                 .toInt(),
             0);
    QCOMPARE(inPage(QStringLiteral("return typeof window.pwned;")).toString(),
             QStringLiteral("undefined"));
}

// The page refreshes its data every 10 s: a score sent over TCP shows within 12 s.
void TestBrowser::newScoreAppearsWithoutReloading()
{
    inPage(QStringLiteral("window.notReloaded = true; return 0;"));
    QVERIFY(exchange(submitPort, clientPieces("1.25", "newcomer")).startsWith("Thanks"));
    QTRY_VERIFY_WITH_TIMEOUT(
        inPage(QStringLiteral("return document.querySelector('#board tbody tr td:nth-child(2)')"
                              ".textContent;"))
                .toString() == QStringLiteral("newcomer"),
        12000);
    QCOMPARE(inPage(QStringLiteral("return window.notReloaded === true;")).toBool(), true);
}

QTEST_GUILESS_MAIN(TestBrowser)
#include "tst_browser.moc"
