// The HTTP/1.1 server the web board is served with: connections, their deadlines and limits,
// around a handler that turns a request into a response.
//
// A board on the internet meets clients that are slow on purpose or open connection after
// connection. So one peer (an IPv4 address, an IPv6 /64) holds at most maxPerPeer connections;
// a request head must arrive within headMs of its first byte and the whole request within
// requestMs; a connection waiting for its next request, or for its client to take an answer,
// goes after idleMs, and any connection after lifetimeMs. At maxConnections a newcomer takes the
// place of the connection that has waited longest for its next request, else of the one that has
// been on its way with a request longest, once that has had holdMs; until then newcomers wait.
// Requests are read strictly (see httprequest.h), and one whose framing is in doubt is answered
// and its connection closed.
#pragma once

#include "httprequest.h"
#include "httpresponse.h"
#include "listener.h"

#include <QHash>
#include <QObject>
#include <QTimer>

#include <functional>

namespace http {

struct Limits
{
    int maxConnections = 256;
    int maxPerPeer = 32;
    int idleMs = 15000;
    int headMs = 10000;
    int requestMs = 30000;
    int lifetimeMs = 60000;
    int holdMs = 1000;
    HeadLimits head;
};

class Connection;

class Server : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<Response(const Request &)>;

    Server(const Limits &limits, Handler handler, QObject *parent = nullptr);
    ~Server() override;

    // Port 0 picks a free one. On failure says why in error.
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 port() const;
    // Connections that hold a place: all but those closing after their last answer.
    int openConnections() const;
    // The most descriptors its connections may use at once: the places, and room for those
    // closing after their last answer, which the per-peer limit counts.
    static int descriptorBudget(const Limits &limits) { return limits.maxConnections + 32; }

private:
    friend class Connection;

    void take(int descriptor, const QHostAddress &peer);
    void seat(int descriptor, const QString &key);
    bool makeRoom();
    void seatWaiting();
    void refuse(int descriptor, const QString &reason);
    void closed(Connection *connection);

    Limits m_limits;
    Handler m_handler;
    Listener m_listener;
    QList<Connection *> m_connections; // every one still open, closing ones too
    QHash<QString, int> m_perPeer;
    QList<std::pair<int, QString>> m_waiting; // accepted at the cap: descriptor and peer
    QTimer m_roomTimer;
};

} // namespace http
