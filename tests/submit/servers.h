// Score servers on 127.0.0.1 for the submission tests: one that records and answers as told,
// one whose connections never complete, and a port nothing listens on.
#pragma once

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

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

    explicit TestServer(Mode mode = Mode::Reply,
                        const QHostAddress &address = QHostAddress::LocalHost)
        : m_mode(mode)
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
        listen(address, 0);
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
inline quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
