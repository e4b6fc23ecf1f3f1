#include "helpers.h"
#include "submit/submitwindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <sys/socket.h>

#include <memory>

namespace {

// A score server on 127.0.0.1 that records what each connection sent and answers as told.
class TestServer : public QTcpServer
{
public:
    enum class Mode
    {
        Reply,          // answers "data" with the replies
        ReplyAndClose,  // the same, then ends the connection: a server that has answered
        Silent,         // answers nothing
        AbortOnData,    // drops the connection without a word once "data" arrives
        ResetAtOnce,    // resets every connection as it comes, while the client still connects
        ResetOnRequest, // keeps the connection until the test resets it: a socket error
        GreetAfter100ms // answers a connection on which nothing is sent
    };

    explicit TestServer(Mode mode = Mode::Reply) : m_mode(mode)
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *peer = nextPendingConnection()) {
                ++connections;
                received << QByteArray();
                const int index = static_cast<int>(received.size()) - 1;
                if (m_mode == Mode::ResetAtOnce) {
                    reset(peer);
                    continue;
                }
                if (m_mode == Mode::GreetAfter100ms)
                    QTimer::singleShot(100, peer, [peer] { peer->write("Reconnected!"); });
                last = peer;
                connect(peer, &QTcpSocket::disconnected, this, [this] { ++disconnections; });
                connect(peer, &QTcpSocket::readyRead, this, [this, peer, index] {
                    received[index] += peer->readAll();
                    if (!received[index].endsWith("data"))
                        return;
                    if (m_mode == Mode::AbortOnData) {
                        peer->abort();
                        return;
                    }
                    if (m_mode != Mode::Reply && m_mode != Mode::ReplyAndClose)
                        return;
                    for (const QByteArray &chunk : std::as_const(replies))
                        peer->write(chunk);
                    if (m_mode == Mode::ReplyAndClose)
                        peer->disconnectFromHost();
                });
                connect(peer, &QTcpSocket::disconnected, peer, &QObject::deleteLater);
            }
        });
        listen(QHostAddress::LocalHost, 0);
    }

    int connections = 0;
    int disconnections = 0;
    QList<QByteArray> received;
    QList<QByteArray> replies{QByteArrayLiteral("Thanks!")};
    QPointer<QTcpSocket> last; // the latest connection, to send more on or reset

    // Ends a connection with a reset rather than an orderly close: lingering for no time.
    static void reset(QTcpSocket *peer)
    {
        const linger now{1, 0};
        ::setsockopt(static_cast<int>(peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now,
                     sizeof now);
        peer->abort();
        peer->deleteLater();
    }

private:
    Mode m_mode;
};

// A port whose connections never complete: the server accepts none, and once its queue of
// connections is full the system drops further attempts, which go on trying.
class StalledServer
{
public:
    StalledServer()
    {
        m_server.setListenBacklogSize(1);
        m_server.listen(QHostAddress::LocalHost, 0);
        m_server.pauseAccepting();
        // Fill the queue: every filler that the system completes takes a place in it.
        for (int i = 0; i < 16; ++i) {
            auto *filler = new QTcpSocket(&m_fillers);
            filler->connectToHost(QHostAddress::LocalHost, m_server.serverPort());
            if (!filler->waitForConnected(1000))
                return;
        }
    }
    quint16 port() const { return m_server.serverPort(); }

private:
    QTcpServer m_server;
    QObject m_fillers;
};

// A port nothing listens on: bound once, then given back.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace

class TestSubmit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { failOnUnexpectedBoxes(); }
    void init();
    void cleanup();

    void initialState();
    void exactBytesOnTheWire();
    void addressWithBlanks_data();
    void addressWithBlanks();
    void replyInTwoChunksLeavesTheSecond();
    void closedPortFailsAndRebuildsTheControls();
    void silentResetReconnectsOnce();
    void reconnectionStaysOpenForTheReply();
    void secondClickOnItsWaySendsNothing_data();
    void secondClickOnItsWaySendsNothing();
    void closeWhileWaitingIsQuiet();
    void reconnectionThatFailsStopsThere();
    void reconnectionResetWhileConnectingIsGivenUp();
    void answeredAndClosedIsNoError();
    void idleLimitIsTheEleventhTick();
    void closedFromTheDesktopClosesTheConnection();
    void reservedNicknames_data();
    void reservedNicknames();
    void emptyNickname();
    void closeWithoutSubmitting();
    void reopenAfterASubmission();
    void idleTimeout();
    void idleTimeoutWithoutANickname();
    void floodOfBytesIsCut();
    void dragByTheLogoOnly();

private:
    template<typename T> T *child(const char *name) { return control<T>(window.get(), name); }
    void submitTo(quint16 port, const QString &nickname = QStringLiteral("anonymous"))
    {
        child<QLineEdit>("txtPort")->setText(QString::number(port));
        child<QLineEdit>("Text7")->setText(nickname);
        child<QPushButton>("cmdProcessScore")->click();
    }

    // A window whose reconnection goes to a server of the given kind.
    void open(TestServer::Mode reconnection, int tickInterval, int connectWait);

    std::unique_ptr<SubmitWindow> window;
    std::unique_ptr<TestServer> reconnectServer;
};

void TestSubmit::init()
{
    open(TestServer::Mode::Silent, 20, 5000);
}

void TestSubmit::open(TestServer::Mode reconnection, int tickInterval, int connectWait)
{
    window.reset();
    reconnectServer = std::make_unique<TestServer>(reconnection);
    window = std::make_unique<SubmitWindow>(
        nullptr, [] { return QStringLiteral("41.2"); }, tickInterval, connectWait,
        reconnectServer->serverPort());
    window->showModal();
}

void TestSubmit::cleanup()
{
    window.reset();
    reconnectServer.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestSubmit::initialState()
{
    QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(window->size(), QSize(463, 183));
    QCOMPARE(child<QLineEdit>("txtIP")->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(child<QLineEdit>("txtPort")->text(), QStringLiteral("1337"));
    QVERIFY(child<QLineEdit>("txtPort")->isHidden());
    QCOMPARE(child<QLineEdit>("Text7")->text(), QStringLiteral("anonymous"));
    QCOMPARE(child<QLineEdit>("Text6")->text(), QStringLiteral("41.2"));
    QVERIFY(!child<QLineEdit>("Text6")->isEnabled());
    QVERIFY(child<QPushButton>("cmdProcessScore")->isEnabled());
    QVERIFY(!window->client().idleTimer().isActive());
    QCOMPARE(window->client().idleTimer().interval(), 20);

    // A nickname longer than ten characters cannot be typed.
    QLineEdit *nick = child<QLineEdit>("Text7");
    nick->clear();
    QTest::keyClicks(nick, QStringLiteral("abcdefghijkl"));
    QCOMPARE(nick->text(), QStringLiteral("abcdefghij"));
}

// The whole exchange, compared once the client is done with it (it has shown the answer and
// closed): a stray byte sent after "data" would show here.
void TestSubmit::exactBytesOnTheWire()
{
    TestServer server;
    submitTo(server.serverPort());
    QTRY_COMPARE(child<QPlainTextEdit>("Text3")->toPlainText(), QStringLiteral("Thanks!"));
    QVERIFY(!child<QPushButton>("cmdProcessScore")->isEnabled());
    QVERIFY(window->client().idleTimer().isActive());
    window->client().socket().close();
    QTRY_COMPARE(server.disconnections, 1);
    QCOMPARE(server.received, QList<QByteArray>{QByteArray("41.2           By anonymousdata")});
    QCOMPARE(server.connections, 1);
    QCOMPARE(reconnectServer->connections, 0);
}

void TestSubmit::addressWithBlanks_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("blanks around") << QStringLiteral("   127.0.0.1  ");
    QTest::newRow("a name that must be looked up first") << QStringLiteral("localhost");
}

void TestSubmit::addressWithBlanks()
{
    QFETCH(QString, address);
    TestServer server;
    child<QLineEdit>("txtIP")->setText(address);
    submitTo(server.serverPort());
    QTRY_COMPARE(server.received.value(0), QByteArray("41.2           By anonymousdata"));
}

// The second part is sent only once the first is shown, whatever the machine's speed.
void TestSubmit::replyInTwoChunksLeavesTheSecond()
{
    TestServer server;
    server.replies = {QByteArrayLiteral("first part")};
    submitTo(server.serverPort());
    QTRY_COMPARE(child<QPlainTextEdit>("Text3")->toPlainText(), QStringLiteral("first part"));
    QVERIFY(server.last);
    server.last->write("second part");
    QTRY_COMPARE(child<QPlainTextEdit>("Text3")->toPlainText(), QStringLiteral("second part"));
}

void TestSubmit::closedPortFailsAndRebuildsTheControls()
{
    child<QLineEdit>("txtIP")->setText(QStringLiteral("127.0.0.1"));
    child<QPlainTextEdit>("Text3")->setPlainText(QStringLiteral("old reply"));
    MessageBoxAnswerer answer;
    submitTo(closedPort(), QStringLiteral("kim"));
    QCOMPARE(answer.seen.count, 1);
    QCOMPARE(answer.seen.text, QStringLiteral("The server you specified cannot be found!"));
    QCOMPARE(answer.seen.title, QStringLiteral("Server not found!"));
    QCOMPARE(answer.seen.icon, QMessageBox::NoIcon);
    QVERIFY(!window->isVisible());
    QVERIFY(!window->controls());
    QVERIFY(!window->client().idleTimer().isActive());
    const int ticks = window->client().idleTicks();

    // The next use builds the controls in their first state and loads the score again.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    window->showModal();
    QVERIFY(window->controls());
    QCOMPARE(child<QLineEdit>("Text7")->text(), QStringLiteral("anonymous"));
    QVERIFY(child<QPlainTextEdit>("Text3")->toPlainText().isEmpty());
    QVERIFY(child<QPushButton>("cmdProcessScore")->isEnabled());
    QCOMPARE(child<QLineEdit>("Text6")->text(), QStringLiteral("41.2"));
    QCOMPARE(window->client().idleTicks(), ticks);
    // A bad port number takes the same way out.
    child<QLineEdit>("txtPort")->setText(QStringLiteral("nope"));
    child<QPushButton>("cmdProcessScore")->click();
    QCOMPARE(answer.seen.count, 2);
}

// A server that takes the score and drops the connection without a word: one reconnection to
// the port beside it, on which nothing is sent.
void TestSubmit::silentResetReconnectsOnce()
{
    TestServer server(TestServer::Mode::AbortOnData);
    submitTo(server.serverPort());
    QTRY_COMPARE(reconnectServer->connections, 1);
    QTRY_VERIFY(window->client().socket().isConnected());
    QCOMPARE(reconnectServer->connections, 1);
    QVERIFY(reconnectServer->received.value(0).isEmpty());
    QVERIFY(!child<QPushButton>("cmdProcessScore")->isEnabled());
    QCOMPARE(server.connections, 1);
}

// The reconnection lives: what the server on the port beside the default sends on it, a moment
// later, reaches the reply field, and the connection stays open.
void TestSubmit::reconnectionStaysOpenForTheReply()
{
    open(TestServer::Mode::GreetAfter100ms, 1000, 5000);
    TestServer server(TestServer::Mode::AbortOnData);
    submitTo(server.serverPort());
    QTRY_COMPARE(child<QPlainTextEdit>("Text3")->toPlainText(), QStringLiteral("Reconnected!"));
    QVERIFY(window->client().socket().isConnected());
    QCOMPARE(reconnectServer->connections, 1);
    QCOMPARE(reconnectServer->disconnections, 0);
}

void TestSubmit::secondClickOnItsWaySendsNothing_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("connected at once") << QStringLiteral("127.0.0.1");
    // A name to look up first keeps the first click waiting for its connection a while.
    QTest::newRow("waiting for the connection") << QStringLiteral("localhost");
}

// However often the button is pressed while a submission is on its way, one goes out.
void TestSubmit::secondClickOnItsWaySendsNothing()
{
    QFETCH(QString, address);
    TestServer server;
    child<QLineEdit>("txtIP")->setText(address);
    QPushButton *process = child<QPushButton>("cmdProcessScore");
    // Clicks queued now are delivered by the event processing inside the first click.
    for (int click = 0; click < 3; ++click)
        QTimer::singleShot(0, process, &QPushButton::click);
    submitTo(server.serverPort());
    QTRY_COMPARE(child<QPlainTextEdit>("Text3")->toPlainText(), QStringLiteral("Thanks!"));
    QCoreApplication::processEvents();
    QCOMPARE(server.connections, 1);
    QCOMPARE(server.received, QList<QByteArray>{QByteArray("41.2           By anonymousdata")});
    QCOMPARE(reconnectServer->connections, 0);
}

// Closed while it waits for the connection, the window says its thank-you and nothing else.
void TestSubmit::closeWhileWaitingIsQuiet()
{
    StalledServer stalled;
    MessageBoxAnswerer answer;
    QPushButton *close = child<QPushButton>("Command1");
    QTimer closeOnceConnecting;
    connect(&closeOnceConnecting, &QTimer::timeout, this, [&] {
        if (window->client().socket().isConnecting()) {
            closeOnceConnecting.stop();
            close->click();
        }
    });
    closeOnceConnecting.start(0);
    submitTo(stalled.port());
    QVERIFY(!closeOnceConnecting.isActive());
    QCOMPARE(answer.seen.count, 1);
    QCOMPARE(answer.seen.title, QStringLiteral("Results"));
    QVERIFY(!window->isVisible());
    QVERIFY(window->controls());
    QVERIFY(!window->client().socket().isConnected());
    QCOMPARE(reconnectServer->connections, 0);
}

// The reconnection to the port beside the default fails too, with a real socket error (a reset
// once it is established): that is the end of it, no further reconnection follows.
void TestSubmit::reconnectionThatFailsStopsThere()
{
    open(TestServer::Mode::ResetOnRequest, 1000, 5000);
    TestServer server(TestServer::Mode::AbortOnData);
    submitTo(server.serverPort());
    ScoreSocket &socket = window->client().socket();
    QTRY_VERIFY(socket.isConnected() && reconnectServer->last);
    TestServer::reset(reconnectServer->last);
    QTRY_VERIFY(!socket.isConnected() && !socket.isConnecting());
    // A reconnection would start from the event loop: let it run, then look.
    for (int pass = 0; pass < 20; ++pass)
        QCoreApplication::processEvents();
    QVERIFY(!socket.isConnecting() && !socket.isConnected());
    QCOMPARE(reconnectServer->connections, 1);
    QCOMPARE(server.connections, 1);
}

// A server on the port beside the default that resets every connection while it is being made:
// Qt would go on trying without a word; the reconnection is given up after the connection wait.
void TestSubmit::reconnectionResetWhileConnectingIsGivenUp()
{
    open(TestServer::Mode::ResetAtOnce, 1000, 300);
    TestServer server(TestServer::Mode::AbortOnData);
    submitTo(server.serverPort());
    ScoreSocket &socket = window->client().socket();
    QTRY_VERIFY(reconnectServer->connections > 0);
    QTRY_VERIFY(!socket.isConnecting() && !socket.isConnected());
    const int attempts = reconnectServer->connections;
    for (int pass = 0; pass < 20; ++pass)
        QCoreApplication::processEvents();
    QCOMPARE(reconnectServer->connections, attempts);
}

// A server that answers and then ends the connection has done its part: no reconnection.
void TestSubmit::answeredAndClosedIsNoError()
{
    TestServer server(TestServer::Mode::ReplyAndClose);
    submitTo(server.serverPort());
    QTRY_COMPARE(child<QPlainTextEdit>("Text3")->toPlainText(), QStringLiteral("Thanks!"));
    ScoreSocket &socket = window->client().socket();
    QTRY_VERIFY(!socket.isConnected());
    for (int pass = 0; pass < 20; ++pass)
        QCoreApplication::processEvents();
    QVERIFY(!socket.isConnecting() && !socket.isConnected());
    QCOMPARE(reconnectServer->connections, 0);
}

// The connection is closed at exactly the eleventh tick of the idle timer, and that timer ticks
// once a second in the program as built.
void TestSubmit::idleLimitIsTheEleventhTick()
{
    {
        SubmitWindow production(nullptr, [] { return QStringLiteral("1"); });
        QCOMPARE(production.client().idleTimer().interval(), 1000);
    }
    TestServer server;
    server.replies.clear();
    submitTo(server.serverPort());
    SubmissionClient &client = window->client();
    QTRY_VERIFY(client.socket().isConnected());
    client.idleTimer().stop(); // the ticks come from here on
    const int before = client.idleTicks();
    for (int tick = before + 1; tick <= 10; ++tick) {
        client.idleTick();
        QVERIFY2(client.socket().isConnected(), qPrintable(QString::number(tick)));
    }
    client.idleTick();
    QVERIFY(!client.socket().isConnected());
    QTRY_COMPARE(server.disconnections, 1);
}

// Closed from the desktop, the window hides, keeps its fields and closes its connection.
void TestSubmit::closedFromTheDesktopClosesTheConnection()
{
    TestServer server;
    server.replies.clear();
    submitTo(server.serverPort());
    QTRY_VERIFY(window->client().socket().isConnected());
    window->close();
    QVERIFY(!window->isVisible());
    QVERIFY(window->controls());
    QVERIFY(!window->client().socket().isConnected());
    QTRY_COMPARE(server.disconnections, 1);
}

void TestSubmit::reservedNicknames_data()
{
    QTest::addColumn<QString>("nickname");
    QTest::addColumn<bool>("refused");
    QTest::newRow("lower case") << QStringLiteral("nimbu[s]") << true;
    QTest::newRow("mixed case") << QStringLiteral("QolMar") << true;
    QTest::newRow("as written") << QStringLiteral("NIMBU-S-") << true;
    QTest::newRow("trailing blank") << QStringLiteral("QOLMAR ") << false;
    QTest::newRow("something before") << QStringLiteral("xqolmar") << false;
    QTest::newRow("part of it") << QStringLiteral("NIMBU") << false;
    QTest::newRow("only blanks") << QStringLiteral("   ") << false;
}

void TestSubmit::reservedNicknames()
{
    QFETCH(QString, nickname);
    QFETCH(bool, refused);
    TestServer server;
    MessageBoxAnswerer answer;
    submitTo(server.serverPort(), nickname);
    if (refused) {
        QCOMPARE(answer.seen.count, 1);
        QCOMPARE(answer.seen.text, QStringLiteral("Sorry, that nickname has been reserved."));
        QCOMPARE(answer.seen.title, QStringLiteral("Reserved Nickname"));
        QCOMPARE(answer.seen.icon, QMessageBox::Critical);
        QVERIFY(child<QLineEdit>("Text7")->text().isEmpty());
        QCOMPARE(window->focusWidget(), child<QLineEdit>("Text7"));
        QVERIFY(!window->client().idleTimer().isActive());
        QVERIFY(!window->client().socket().isConnecting());
        QCOMPARE(server.connections, 0);
    } else {
        QTRY_COMPARE(server.received.value(0),
                     QByteArray("41.2           By ") + nickname.toLatin1() + "data");
        QCOMPARE(answer.seen.count, 0);
    }
}

void TestSubmit::emptyNickname()
{
    TestServer server;
    MessageBoxAnswerer answer;
    submitTo(server.serverPort(), QString());
    QCOMPARE(answer.seen.count, 1);
    QCOMPARE(answer.seen.text, QStringLiteral("You must type in a nickname!"));
    QCOMPARE(answer.seen.title, QStringLiteral("No Nickname!"));
    QCOMPARE(answer.seen.icon, QMessageBox::NoIcon);
    QVERIFY(!window->client().idleTimer().isActive());
    QVERIFY(child<QPushButton>("cmdProcessScore")->isEnabled());
    QVERIFY(!window->client().socket().isConnecting());
    QCOMPARE(server.connections, 0);
}

void TestSubmit::closeWithoutSubmitting()
{
    MessageBoxAnswerer answer;
    child<QPushButton>("Command1")->click();
    QCOMPARE(answer.seen.count, 1);
    QCOMPARE(answer.seen.text, QStringLiteral("Thank you, anonymous, for submitting your results. "
                                              "This window will now close."));
    QCOMPARE(answer.seen.title, QStringLiteral("Results"));
    QCOMPARE(answer.seen.icon, QMessageBox::Information);
    QVERIFY(!window->isVisible());
    QVERIFY(window->controls());
}

void TestSubmit::reopenAfterASubmission()
{
    TestServer server;
    submitTo(server.serverPort(), QStringLiteral("kim"));
    QTRY_COMPARE(child<QPlainTextEdit>("Text3")->toPlainText(), QStringLiteral("Thanks!"));
    {
        MessageBoxAnswerer answer;
        child<QPushButton>("Command1")->click();
        QCOMPARE(answer.seen.text, QStringLiteral("Thank you, kim, for submitting your results. "
                                                  "This window will now close."));
    }
    window->showModal();
    QVERIFY(!child<QPushButton>("cmdProcessScore")->isEnabled());
    QCOMPARE(child<QPlainTextEdit>("Text3")->toPlainText(), QStringLiteral("Thanks!"));
    QCOMPARE(child<QLineEdit>("Text7")->text(), QStringLiteral("kim"));
}

// With a nickname the timer keeps closing the connection after the tenth tick, without a word.
void TestSubmit::idleTimeout()
{
    TestServer server;
    server.replies.clear();
    MessageBoxAnswerer answer;
    submitTo(server.serverPort());
    QTRY_COMPARE(server.received.value(0), QByteArray("41.2           By anonymousdata"));
    QTRY_VERIFY(window->client().idleTicks() > 10);
    QTRY_VERIFY(!window->client().socket().isConnected());
    QVERIFY(window->client().idleTimer().isActive());
    // It goes on ticking, closing again each time.
    const int ticks = window->client().idleTicks();
    QTRY_VERIFY(window->client().idleTicks() >= ticks + 2);
    QCOMPARE(answer.seen.count, 0);
}

void TestSubmit::idleTimeoutWithoutANickname()
{
    TestServer server;
    MessageBoxAnswerer answer;
    submitTo(server.serverPort());
    child<QLineEdit>("Text7")->clear();
    QTRY_COMPARE(answer.seen.count, 1);
    QCOMPARE(answer.seen.text,
             QStringLiteral("You've been disconnected.  You may only stay idle for 10 seconds!"));
    QCOMPARE(answer.seen.title, QStringLiteral("Disconnected!"));
    QCOMPARE(window->client().idleTicks(), 0);
    QVERIFY(!window->client().idleTimer().isActive());
    QVERIFY(!child<QPushButton>("cmdProcessScore")->isEnabled());
}

// Megabytes, binary bytes: the window shows at most the last 64 KiB that arrived.
void TestSubmit::floodOfBytesIsCut()
{
    TestServer server;
    QByteArray flood(3 << 20, 'a');
    for (int i = 0; i < flood.size(); i += 97)
        flood[i] = char(i % 256);
    flood.append("THE END");
    server.replies = {flood};
    submitTo(server.serverPort());
    QTRY_VERIFY(child<QPlainTextEdit>("Text3")->toPlainText().endsWith(QStringLiteral("THE END")));
    QVERIFY(child<QPlainTextEdit>("Text3")->toPlainText().size() <= SubmissionClient::ReplyLimit);
}

void TestSubmit::dragByTheLogoOnly()
{
    window->move(50, 50);
    const auto drag = [](QWidget *w) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)),
                          Qt::RightButton, Qt::RightButton, {});
        QApplication::sendEvent(w, &press);
        QMouseEvent move(QEvent::MouseMove, QPointF(12, 7), w->mapToGlobal(QPointF(12, 7)),
                         Qt::NoButton, Qt::RightButton, {});
        QApplication::sendEvent(w, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(12, 7),
                            w->mapToGlobal(QPointF(12, 7)), Qt::RightButton, Qt::NoButton, {});
        QApplication::sendEvent(w, &release);
    };
    drag(child<QLabel>("lblstatus"));
    QCOMPARE(window->pos(), QPoint(50, 50));
    drag(child<QLabel>("imgLogo"));
    QCOMPARE(window->pos(), QPoint(60, 55));
}

QTEST_MAIN(TestSubmit)
#include "tst_submit.moc"
