// Listening TCP sockets that hand each accepted connection to their owner, keeping the number of
// open connections within one budget of descriptors.
//
// Both of the daemon's sides (submissions and the web board) take their connections through one
// of these. At the budget the listener stops accepting until its owner says a connection has
// closed; the system keeps the newcomers in its backlog meanwhile. When the system itself is out
// of descriptors (EMFILE, ENFILE), accept() would fail on every pass of a level-triggered event
// loop: the listener then rests for a moment instead of spinning, and tries again.
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

// What connections are counted by when one peer may hold only a share of them: an IPv4 address
// as it is, and an IPv6 address by its /64 network, which a single host usually has all of.
QString peerKey(const QHostAddress &address);

// An IPv4 address written as such even when it came in over an IPv6 socket.
QHostAddress plainAddress(const QHostAddress &address);

// "every address" for the wildcard, else the address itself.
QString addressText(const QHostAddress &address);

class Listener : public QObject
{
    Q_OBJECT

public:
    // How long the listener rests after the system ran out of descriptors.
    static constexpr int RestMs = 100;
    // Connections taken in one pass of the event loop; the rest wait for the next pass.
    static constexpr int AcceptsPerPass = 32;

    explicit Listener(QObject *parent = nullptr);
    ~Listener() override;

    // Listens on every port or on none; port 0 picks a free one. On failure says why in error.
    bool listen(const QHostAddress &address, const QList<quint16> &ports, QString *error);
    QList<quint16> ports() const;
    void close();

    // The most connections from this listener that may be open at once.
    void setBudget(int connections);
    int budget() const { return m_budget; }
    // Connections handed out and not yet released.
    int open() const { return m_open; }
    // The owner has closed a connection it was handed.
    void release();
    // While paused, newcomers wait in the system's backlog.
    void setPaused(bool paused);

    // How often accept() failed for want of descriptors.
    qint64 exhaustedCount() const { return m_exhausted; }

signals:
    // The owner takes the descriptor over, and calls release() once it is closed.
    void accepted(int descriptor, const QHostAddress &peer);

private:
    struct Socket
    {
        int descriptor = -1;
        quint16 port = 0;
        QSocketNotifier *notifier = nullptr;
    };

    bool listenOn(const QHostAddress &address, quint16 port, QString *error);
    void acceptPending(int listening);
    void updateWatch();

    QList<Socket> m_sockets;
    QTimer m_rest;
    int m_budget = 256;
    int m_open = 0;
    bool m_paused = false;
    qint64 m_exhausted = 0;
};
