// The HTTP/1.1 server the web board is served with: connections, their deadlines and limits,
// around a handler that turns a request into a response.
//
// A board on the internet meets clients that are slow on purpose or open connection after
// connection. So one peer (an IPv4 address, an IPv6 /64) holds at most maxPerPeer connections;
// a request head must arrive within headMs of its first byte and the whole request within
// requestMs; a connection waiting for its next request, or for its client to take an answer,
// goes after idleMs, and any connection after lifetimeMs. At maxConnections a newcomer takes the
// place of a connection that has waited for its next request, or been on its way with one, for
// holdMs; only when there is none is it turned away with 503. Requests are read strictly (see
// httprequest.h), and one whose framing is in doubt is answered and its connection closed.
#pragma once

#include "httprequest.h"
#include "httpresponse.h"
#include "listener.h"

#include <QHash>
#include <QObject>

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
    static int descriptorBudget(const Limits &limits) { return limits.maxConnections + 64; }

private:
    friend class Connection;

    void take(int descriptor, const QHostAddress &peer);
    bool makeRoom();
    void refuse(int descriptor, const QString &reason);
    void closed(Connection *connection);

    Limits m_limits;
    Handler m_handler;
    Listener m_listener;
    QList<Connection *> m_connections; // every one still open, closing ones too
    QHash<QString, int> m_perPeer;
};

} // namespace http
