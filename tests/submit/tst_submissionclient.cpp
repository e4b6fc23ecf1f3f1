// The submission logic without a window: a fake view stands in for the submit window's fields
// and message boxes; the sockets and servers are real, on 127.0.0.1.
#include "servers.h"
#include "submit/submissionclient.h"

#include <QCoreApplication>
#include <QTest>

#include <memory>

namespace {

class FakeSubmitView final : public SubmitView
{
public:
    QString nicknameText = QStringLiteral("anonymous");
    QString address = QStringLiteral("127.0.0.1");
    QString port = QStringLiteral("1337");
    QString scoreText = QStringLiteral("41.2");
    QString reply;
    bool processEnabled = true;
    bool nicknameFocused = false;
    bool hidden = false;
    int controlsDestroyed = 0;
    QStringList messages; // each as "title (icon): text"
    SubmissionClient *client = nullptr;

    QString nickname() const override { return nicknameText; }
    void setNickname(const QString &text) override { nicknameText = text; }
    void focusNickname() override { nicknameFocused = true; }
    QString serverAddress() const override { return address; }
    QString serverPort() const override { return port; }
    QString score() const override { return scoreText; }
    void setReply(const QString &text) override { reply = text; }
    void setProcessEnabled(bool enabled) override { processEnabled = enabled; }
    void showMessage(const QString &text, const QString &title, MessageIcon icon) override
    {
        static const char *const icons[] = {"no icon", "critical", "information"};
        messages << title + QStringLiteral(" (") + QLatin1String(icons[static_cast<int>(icon)]) +
                        QStringLiteral("): ") + text;
    }
    void letEventsRun() override { QCoreApplication::processEvents(); }
    void destroyControls() override
    {
        ++controlsDestroyed;
        client->controlsDestroyed();
        hidden = true;
    }
    void hideWindow() override { hidden = true; }
};

const QByteArray Sent("41.2           By anonymousdata");

void letEventLoopRun()
{
    for (int pass = 0; pass < 20; ++pass)
        QCoreApplication::processEvents();
}

} // namespace

class TestSubmissionClient : public QObject
{
    Q_OBJECT

private slots:
    void init() { open(TestServer::Mode::Silent, 20, 5000); }
    void cleanup();

    void exactBytesOnTheWire();
    void address_data();
    void address();
    void serverFieldSyntax_data();
    void serverFieldSyntax();
    void addressWithAPort_data();
    void addressWithAPort();
    void replyInTwoChunksLeavesTheSecond();
    void unreachableServer_data();
    void unreachableServer();
    void silentResetReconnectsOnce();
    void reconnectionStaysOpenForTheReply();
    void secondClickOnItsWaySendsNothing_data();
    void secondClickOnItsWaySendsNothing();
    void closeWhileWaitingIsQuiet();
    void reconnectionThatFailsStopsThere();
    void reconnectionResetWhileConnectingIsGivenUp();
    void answeredAndClosedIsNoError();
    void idleLimitIsTheEleventhTick();
    void nicknames_data();
    void nicknames();
    void closeSaysThankYou();
    void idleTimeout();
    void idleTimeoutWithoutANickname();
    void floodOfBytesIsCut();

private:
    void open(TestServer::Mode reconnection, int tickInterval, int connectWait);
    void submitTo(quint16 port, const QString &nickname = QStringLiteral("anonymous"))
    {
        view->port = QString::number(port);
        view->nicknameText = nickname;
        client->processResults();
    }

    std::unique_ptr<TestServer> reconnectServer;
    std::unique_ptr<FakeSubmitView> view;
    std::unique_ptr<SubmissionClient> client;
};

void TestSubmissionClient::open(TestServer::Mode reconnection, int tickInterval, int connectWait)
{
    client.reset();
    reconnectServer = std::make_unique<TestServer>(reconnection);
    view = std::make_unique<FakeSubmitView>();
    client = std::make_unique<SubmissionClient>(*view, tickInterval, connectWait,
                                                reconnectServer->serverPort());
    view->client = client.get();
}

void TestSubmissionClient::cleanup()
{
    client.reset();
    view.reset();
    reconnectServer.reset();
}

// The whole exchange, compared once the client is done with it (it has shown the answer and
// closed): a stray byte sent after "data" would show here.
void TestSubmissionClient::exactBytesOnTheWire()
{
    TestServer server;
    QVERIFY(!client->idleTimer().isActive());
    submitTo(server.serverPort());
    QTRY_COMPARE(view->reply, QStringLiteral("Thanks!"));
    QVERIFY(!view->processEnabled);
    QVERIFY(client->idleTimer().isActive());
    client->socket().close();
    QTRY_COMPARE(server.disconnections, 1);
    QCOMPARE(server.received, QList<QByteArray>{Sent});
    QCOMPARE(server.connections, 1);
    QCOMPARE(reconnectServer->connections, 0);
    QVERIFY(view->messages.isEmpty());
}

void TestSubmissionClient::address_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("blanks around") << QStringLiteral("   127.0.0.1  ");
    QTest::newRow("a name that must be looked up first") << QStringLiteral("localhost");
}

void TestSubmissionClient::address()
{
    QFETCH(QString, address);
    TestServer server;
    view->address = address;
    submitTo(server.serverPort());
    QTRY_COMPARE(server.received.value(0), Sent);
}

void TestSubmissionClient::serverFieldSyntax_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("address alone")
        << QStringLiteral("10.0.0.7") << QStringLiteral("10.0.0.7") << 1337;
    QTest::newRow("name and port")
        << QStringLiteral(" scores.lan:1400 ") << QStringLiteral("scores.lan") << 1400;
    QTest::newRow("IPv6 in brackets with a port")
        << QStringLiteral("[::1]:1400") << QStringLiteral("::1") << 1400;
    QTest::newRow("IPv6 in brackets alone")
        << QStringLiteral("[fe80::1]") << QStringLiteral("fe80::1") << 1337;
    QTest::newRow("bare IPv6 takes no port")
        << QStringLiteral("2001:db8::5") << QStringLiteral("2001:db8::5") << 1337;
    QTest::newRow("port zero") << QStringLiteral("host:0") << QStringLiteral("host") << 0;
    QTest::newRow("port too large") << QStringLiteral("host:65536") << QStringLiteral("host") << 0;
    QTest::newRow("port not a number")
        << QStringLiteral("host:http") << QStringLiteral("host") << 0;
    QTest::newRow("signed port") << QStringLiteral("host:+80") << QStringLiteral("host") << 0;
    QTest::newRow("empty port") << QStringLiteral("host:") << QStringLiteral("host") << 0;
    QTest::newRow("junk after the bracket")
        << QStringLiteral("[::1]x") << QStringLiteral("::1") << 0;
}

void TestSubmissionClient::serverFieldSyntax()
{
    QFETCH(QString, text);
    QFETCH(QString, host);
    QFETCH(int, port);
    const ServerAddress address = parseServerAddress(text, QStringLiteral("1337"));
    QCOMPARE(address.host, host);
    QCOMPARE(address.port, port);
}

void TestSubmissionClient::addressWithAPort_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("listenOn");
    QTest::newRow("IPv4") << QStringLiteral("127.0.0.1") << QStringLiteral("127.0.0.1");
    QTest::newRow("a name") << QStringLiteral("localhost") << QStringLiteral("127.0.0.1");
    QTest::newRow("IPv6") << QStringLiteral("[::1]") << QStringLiteral("::1");
}

// A server on another port than the default is reached by naming the port in the server field;
// the hidden port field's value gives way.
void TestSubmissionClient::addressWithAPort()
{
    QFETCH(QString, host);
    QFETCH(QString, listenOn);
    TestServer server(TestServer::Mode::Reply, QHostAddress(listenOn));
    if (!server.isListening())
        QSKIP("this host has no such loopback address");
    view->address = host + QLatin1Char(':') + QString::number(server.serverPort());
    view->port = QString::number(closedPort());
    view->nicknameText = QStringLiteral("anonymous");
    client->processResults();
    QTRY_COMPARE(server.received.value(0), Sent);
    QTRY_COMPARE(view->reply, QStringLiteral("Thanks!"));
    QVERIFY(view->messages.isEmpty());
}

// The second part is sent only once the first is shown, whatever the machine's speed.
void TestSubmissionClient::replyInTwoChunksLeavesTheSecond()
{
    TestServer server;
    server.replies = {QByteArrayLiteral("first part")};
    submitTo(server.serverPort());
    QTRY_COMPARE(view->reply, QStringLiteral("first part"));
    QVERIFY(server.last);
    server.last->write("second part");
    QTRY_COMPARE(view->reply, QStringLiteral("second part"));
}

void TestSubmissionClient::unreachableServer_data()
{
    QTest::addColumn<QString>("port");
    QTest::newRow("nothing listens") << QString::number(closedPort());
    QTest::newRow("not a port number") << QStringLiteral("nope");
}

// The window is told, and its controls go with the timer and the connection.
void TestSubmissionClient::unreachableServer()
{
    QFETCH(QString, port);
    view->port = port;
    view->nicknameText = QStringLiteral("kim");
    client->processResults();
    QCOMPARE(view->messages, QStringList{QStringLiteral(
                                 "Server not found! (no icon): The server you specified cannot "
                                 "be found!")});
    QCOMPARE(view->controlsDestroyed, 1);
    QVERIFY(!client->idleTimer().isActive());
    QVERIFY(!client->socket().isConnecting() && !client->socket().isConnected());
    QCOMPARE(reconnectServer->connections, 0);
}

// A server that takes the score and drops the connection without a word: one reconnection to
// the port beside it, on which nothing is sent.
void TestSubmissionClient::silentResetReconnectsOnce()
{
    TestServer server(TestServer::Mode::AbortOnData);
    submitTo(server.serverPort());
    QTRY_COMPARE(reconnectServer->connections, 1);
    QTRY_VERIFY(client->socket().isConnected());
    QCOMPARE(reconnectServer->connections, 1);
    QVERIFY(reconnectServer->received.value(0).isEmpty());
    QVERIFY(!view->processEnabled);
    QCOMPARE(server.connections, 1);
}

// The reconnection lives: what the server on the port beside the default sends on it, a moment
// later, reaches the reply, and the connection stays open.
void TestSubmissionClient::reconnectionStaysOpenForTheReply()
{
    open(TestServer::Mode::GreetAfter100ms, 1000, 5000);
    TestServer server(TestServer::Mode::AbortOnData);
    submitTo(server.serverPort());
    QTRY_COMPARE(view->reply, QStringLiteral("Reconnected!"));
    QVERIFY(client->socket().isConnected());
    QCOMPARE(reconnectServer->connections, 1);
    QCOMPARE(reconnectServer->disconnections, 0);
}

void TestSubmissionClient::secondClickOnItsWaySendsNothing_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("connected at once") << QStringLiteral("127.0.0.1");
    // A name to look up first keeps the first click waiting for its connection a while.
    QTest::newRow("waiting for the connection") << QStringLiteral("localhost");
}

// However often the button is pressed while a submission is on its way, one goes out.
void TestSubmissionClient::secondClickOnItsWaySendsNothing()
{
    QFETCH(QString, address);
    TestServer server;
    view->address = address;
    // Clicks queued now are delivered by the event processing inside the first click.
    for (int click = 0; click < 3; ++click)
        QTimer::singleShot(0, client.get(), &SubmissionClient::processResults);
    submitTo(server.serverPort());
    QTRY_COMPARE(view->reply, QStringLiteral("Thanks!"));
    QCoreApplication::processEvents();
    QCOMPARE(server.connections, 1);
    QCOMPARE(server.received, QList<QByteArray>{Sent});
    QCOMPARE(reconnectServer->connections, 0);
}

// Closed while it waits for the connection, the window says its thank-you and nothing else.
void TestSubmissionClient::closeWhileWaitingIsQuiet()
{
    StalledServer stalled;
    QTimer closeOnceConnecting;
    connect(&closeOnceConnecting, &QTimer::timeout, this, [&] {
        if (client->socket().isConnecting()) {
            closeOnceConnecting.stop();
            client->close();
        }
    });
    closeOnceConnecting.start(0);
    submitTo(stalled.port());
    QVERIFY(!closeOnceConnecting.isActive());
    QCOMPARE(view->messages.size(), 1);
    QVERIFY(view->messages[0].startsWith(QStringLiteral("Results (information): Thank you")));
    QVERIFY(view->hidden);
    QCOMPARE(view->controlsDestroyed, 0);
    QVERIFY(!client->socket().isConnected());
    QCOMPARE(reconnectServer->connections, 0);
}

// The reconnection to the port beside the default fails too, with a real socket error (a reset
// once it is established): that is the end of it, no further reconnection follows.
void TestSubmissionClient::reconnectionThatFailsStopsThere()
{
    open(TestServer::Mode::ResetOnRequest, 1000, 5000);
    TestServer server(TestServer::Mode::AbortOnData);
    submitTo(server.serverPort());
    ScoreSocket &socket = client->socket();
    QTRY_VERIFY(socket.isConnected() && reconnectServer->last);
    TestServer::reset(reconnectServer->last);
    QTRY_VERIFY(!socket.isConnected() && !socket.isConnecting());
    // A reconnection would start from the event loop: let it run, then look.
    letEventLoopRun();
    QVERIFY(!socket.isConnecting() && !socket.isConnected());
    QCOMPARE(reconnectServer->connections, 1);
    QCOMPARE(server.connections, 1);
}

// A server on the port beside the default that resets every connection while it is being made:
// Qt would go on trying without a word; the reconnection is given up after the connection wait.
void TestSubmissionClient::reconnectionResetWhileConnectingIsGivenUp()
{
    open(TestServer::Mode::ResetAtOnce, 1000, 300);
    TestServer server(TestServer::Mode::AbortOnData);
    submitTo(server.serverPort());
    ScoreSocket &socket = client->socket();
    QTRY_VERIFY(reconnectServer->connections > 0);
    QTRY_VERIFY(!socket.isConnecting() && !socket.isConnected());
    const int attempts = reconnectServer->connections;
    letEventLoopRun();
    QCOMPARE(reconnectServer->connections, attempts);
}

// A server that answers and then ends the connection has done its part: no reconnection.
void TestSubmissionClient::answeredAndClosedIsNoError()
{
    TestServer server(TestServer::Mode::ReplyAndClose);
    submitTo(server.serverPort());
    QTRY_COMPARE(view->reply, QStringLiteral("Thanks!"));
    ScoreSocket &socket = client->socket();
    QTRY_VERIFY(!socket.isConnected());
    letEventLoopRun();
    QVERIFY(!socket.isConnecting() && !socket.isConnected());
    QCOMPARE(reconnectServer->connections, 0);
}

// The connection is closed at exactly the eleventh tick of the idle timer, and that timer ticks
// once a second in the program as built.
void TestSubmissionClient::idleLimitIsTheEleventhTick()
{
    {
        FakeSubmitView otherView;
        SubmissionClient production(otherView);
        QCOMPARE(production.idleTimer().interval(), 1000);
    }
    TestServer server;
    server.replies.clear();
    submitTo(server.serverPort());
    QTRY_VERIFY(client->socket().isConnected());
    client->idleTimer().stop(); // the ticks come from here on
    const int before = client->idleTicks();
    for (int tick = before + 1; tick <= 10; ++tick) {
        client->idleTick();
        QVERIFY2(client->socket().isConnected(), qPrintable(QString::number(tick)));
    }
    client->idleTick();
    QVERIFY(!client->socket().isConnected());
    QTRY_COMPARE(server.disconnections, 1);
}

void TestSubmissionClient::nicknames_data()
{
    QTest::addColumn<QString>("nickname");
    QTest::addColumn<QString>("refusal"); // empty: sent
    const QString reserved =
        QStringLiteral("Reserved Nickname (critical): Sorry, that nickname has been reserved.");
    QTest::newRow("lower case") << QStringLiteral("nimbu[s]") << reserved;
    QTest::newRow("mixed case") << QStringLiteral("QolMar") << reserved;
    QTest::newRow("as written") << QStringLiteral("NIMBU-S-") << reserved;
    QTest::newRow("empty") << QString()
                           << QStringLiteral(
                                  "No Nickname! (no icon): You must type in a nickname!");
    QTest::newRow("trailing blank") << QStringLiteral("QOLMAR ") << QString();
    QTest::newRow("something before") << QStringLiteral("xqolmar") << QString();
    QTest::newRow("part of it") << QStringLiteral("NIMBU") << QString();
    QTest::newRow("only blanks") << QStringLiteral("   ") << QString();
}

void TestSubmissionClient::nicknames()
{
    QFETCH(QString, nickname);
    QFETCH(QString, refusal);
    TestServer server;
    submitTo(server.serverPort(), nickname);
    if (refusal.isEmpty()) {
        QTRY_COMPARE(server.received.value(0),
                     QByteArray("41.2           By ") + nickname.toLatin1() + "data");
        QVERIFY(view->messages.isEmpty());
        return;
    }
    QCOMPARE(view->messages, QStringList{refusal});
    const bool reserved = !nickname.isEmpty();
    // A reserved nickname is cleared for another; an empty one just stays.
    QVERIFY(view->nicknameText.isEmpty());
    QCOMPARE(view->nicknameFocused, reserved);
    QVERIFY(view->processEnabled);
    QVERIFY(!client->idleTimer().isActive());
    QVERIFY(!client->socket().isConnecting());
    letEventLoopRun();
    QCOMPARE(server.connections, 0);
}

void TestSubmissionClient::closeSaysThankYou()
{
    view->nicknameText = QStringLiteral("kim");
    client->close();
    QCOMPARE(view->messages, QStringList{QStringLiteral("Results (information): Thank you, kim, "
                                                        "for submitting your results. This "
                                                        "window will now close.")});
    QVERIFY(view->hidden);
    QCOMPARE(view->controlsDestroyed, 0);
}

// With a nickname the timer keeps closing the connection after the tenth tick, without a word.
void TestSubmissionClient::idleTimeout()
{
    TestServer server;
    server.replies.clear();
    submitTo(server.serverPort());
    QTRY_COMPARE(server.received.value(0), Sent);
    QTRY_VERIFY(client->idleTicks() > 10);
    QTRY_VERIFY(!client->socket().isConnected());
    QVERIFY(client->idleTimer().isActive());
    // It goes on ticking, closing again each time.
    const int ticks = client->idleTicks();
    QTRY_VERIFY(client->idleTicks() >= ticks + 2);
    QVERIFY(view->messages.isEmpty());
}

void TestSubmissionClient::idleTimeoutWithoutANickname()
{
    TestServer server;
    submitTo(server.serverPort());
    view->nicknameText.clear();
    QTRY_COMPARE(view->messages,
                 QStringList{QStringLiteral("Disconnected! (no icon): You've been disconnected.  "
                                            "You may only stay idle for 10 seconds!")});
    QCOMPARE(client->idleTicks(), 0);
    QVERIFY(!client->idleTimer().isActive());
    QVERIFY(!view->processEnabled);
}

// Megabytes, binary bytes: the view is given at most the last 64 KiB that arrived.
void TestSubmissionClient::floodOfBytesIsCut()
{
    TestServer server;
    QByteArray flood(3 << 20, 'a');
    for (int i = 0; i < flood.size(); i += 97)
        flood[i] = char(i % 256);
    flood.append("THE END");
    server.replies = {flood};
    submitTo(server.serverPort());
    QTRY_VERIFY(view->reply.endsWith(QStringLiteral("THE END")));
    QVERIFY(view->reply.size() <= SubmissionClient::ReplyLimit);
}

QTEST_GUILESS_MAIN(TestSubmissionClient)
#include "tst_submissionclient.moc"
