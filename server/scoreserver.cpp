#include "scoreserver.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>

#include <unistd.h>

namespace {

// Connections wait here, accepted, while every place is taken. Their read buffers are capped
// from the start, so a client that floods while it waits cannot fill the server's memory.
class CappedServer : public QTcpServer
{
public:
    CappedServer(qint64 readLimit, QObject *parent) : QTcpServer(parent), m_readLimit(readLimit) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        socket->setReadBufferSize(m_readLimit);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            ::close(static_cast<int>(descriptor));
            return;
        }
        addPendingConnection(socket);
    }

private:
    qint64 m_readLimit;
};

} // namespace

QString addressText(const QHostAddress &address)
{
    return address == QHostAddress(QHostAddress::Any) ? QStringLiteral("every address")
                                                      : address.toString();
}

ScoreServer::ScoreServer(ScoreDatabase &database, Limits limits, QObject *parent)
    : QObject(parent), m_database(database), m_limits(limits)
{
    std::vector<ScoreEntry> best = database.top(1);
    if (!best.empty())
        m_best = best.front();
    m_ranks.assign(database.allScores());
    // Everything that fell quiet in one pass of the event loop goes into one transaction.
    m_commitTimer.setSingleShot(true);
    m_commitTimer.setInterval(0);
    connect(&m_commitTimer, &QTimer::timeout, this, &ScoreServer::startCommit);
    m_writer.setMaxThreadCount(1);
    m_writer.setExpiryTimeout(-1);
    m_roomTimer.setInterval(std::clamp(m_limits.beginMs / 8, 10, 250));
    connect(&m_roomTimer, &QTimer::timeout, this, &ScoreServer::makeRoom);
}

ScoreServer::~ScoreServer()
{
    close();
    finishPending();
    qDeleteAll(findChildren<ScoreConnection *>(Qt::FindDirectChildrenOnly));
}

bool ScoreServer::listen(const QHostAddress &address, const QList<quint16> &ports, QString *error)
{
    close();
    for (const quint16 port : ports) {
        auto *server = new CappedServer(m_limits.maxBytes + 1, this);
        server->setListenBacklogSize(1024);
        if (!server->listen(address, port)) {
            if (error)
                *error = QStringLiteral("cannot listen on %1 port %2: %3")
                             .arg(addressText(address))
                             .arg(port)
                             .arg(server->errorString());
            delete server;
            close();
            return false;
        }
        connect(server, &QTcpServer::newConnection, this, &ScoreServer::takeConnections);
        m_servers << server;
    }
    return true;
}

QList<quint16> ScoreServer::ports() const
{
    QList<quint16> ports;
    for (const QTcpServer *server : m_servers)
        ports << server->serverPort();
    return ports;
}

void ScoreServer::close()
{
    qDeleteAll(m_servers);
    m_servers.clear();
    // Connections still waiting for a place go with the listening sockets, unread.
    for (const Waiting &waiting : m_waiting) {
        waiting.socket->abort();
        waiting.socket->deleteLater();
    }
    m_waiting.clear();
    m_metrics.waitingConnections = 0;
}

void ScoreServer::shutDown(int waitMs)
{
    close();
    const auto connections = findChildren<ScoreConnection *>(Qt::FindDirectChildrenOnly);
    for (ScoreConnection *connection : connections)
        connection->stopReading();
    finishPending();
    QDeadlineTimer deadline(waitMs);
    while (openConnections() > 0 && !deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
        // Connections that ended are deleted here: the loop that would have done it has ended.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

qsizetype ScoreServer::openConnections() const
{
    return findChildren<ScoreConnection *>(Qt::FindDirectChildrenOnly).size() +
           static_cast<qsizetype>(m_waiting.size());
}

void ScoreServer::takeConnections()
{
    // Whatever the system accepted comes off the listening sockets at once, to wait here in
    // order of arrival, its read buffer capped, until a place is free for it.
    for (QTcpServer *server : std::as_const(m_servers)) {
        while (QTcpSocket *socket = server->nextPendingConnection()) {
            socket->setParent(this);
            m_waiting.push_back({socket, peerAddress(*socket).toString()});
            // One that leaves while it waits goes at once.
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                const auto waiting =
                    std::find_if(m_waiting.begin(), m_waiting.end(),
                                 [socket](const Waiting &w) { return w.socket == socket; });
                if (waiting != m_waiting.end()) {
                    m_waiting.erase(waiting);
                    m_metrics.waitingConnections = static_cast<int>(m_waiting.size());
                    socket->deleteLater();
                }
            });
        }
    }
    seat();
}

// Gives free places to waiting connections, first come first served, but never more than the
// share of one peer address to connections from that address.
void ScoreServer::seat()
{
    const int share = std::min(m_limits.maxPerPeer, m_limits.maxClients);
    for (auto it = m_waiting.begin(); it != m_waiting.end() && m_active < m_limits.maxClients;) {
        QTcpSocket *socket = it->socket;
        const QString address = it->address;
        if (m_perPeer.value(address) >= share) {
            ++it;
            continue;
        }
        it = m_waiting.erase(it);
        socket->disconnect(this);
        ++m_active;
        ++m_perPeer[address];
        auto *connection = new ScoreConnection(*this, m_limits, socket, address, this);
        ++m_metrics.openConnections;
        connect(connection, &QObject::destroyed, this, [this] { --m_metrics.openConnections; });
    }
    m_metrics.waitingConnections = static_cast<int>(m_waiting.size());
    makeRoom();
}

// With every place taken and connections waiting that could have one, the connections that
// have not begun a submission within beginMs make room, oldest first: a client that means to
// submit sends its score and nickname as soon as it is connected.
void ScoreServer::makeRoom()
{
    // An eviction frees a place, whose seat() comes back here: the loop below goes on instead.
    if (m_makingRoom)
        return;
    m_makingRoom = true;
    const int share = std::min(m_limits.maxPerPeer, m_limits.maxClients);
    const auto wanting = [&] {
        return std::any_of(m_waiting.begin(), m_waiting.end(),
                           [&](const Waiting &w) { return m_perPeer.value(w.address) < share; });
    };
    while (m_active >= m_limits.maxClients && wanting()) {
        ScoreConnection *oldest = nullptr;
        const auto connections = findChildren<ScoreConnection *>(Qt::FindDirectChildrenOnly);
        for (ScoreConnection *connection : connections) {
            if (connection->slowToBegin(m_limits.beginMs) &&
                (!oldest || connection->age() > oldest->age()))
                oldest = connection;
        }
        if (!oldest)
            break;
        oldest->evict(m_limits.beginMs); // its place goes to the next waiting connection
    }
    // Those still young may become slow: look again shortly, for as long as some wait.
    if (!wanting())
        m_roomTimer.stop();
    else if (!m_roomTimer.isActive())
        m_roomTimer.start();
    m_makingRoom = false;
}

// Called once per connection, as it turns answered: from reading or storing, never again.
void ScoreServer::released(const QString &address)
{
    --m_active;
    if (--m_perPeer[address] <= 0)
        m_perPeer.remove(address);
    seat();
}

void ScoreServer::queue(ScoreConnection *connection, ScoreEntry entry)
{
    m_pending.push_back({connection, std::move(entry)});
    if (!m_committing && !m_commitTimer.isActive())
        m_commitTimer.start();
}

void ScoreServer::startCommit()
{
    m_commitTimer.stop();
    if (m_committing || m_pending.empty())
        return;
    m_committing = true;
    auto batch = std::make_shared<std::vector<Pending>>();
    batch->swap(m_pending);
    auto entries = std::make_shared<std::vector<ScoreEntry>>();
    entries->reserve(batch->size());
    for (const Pending &pending : *batch)
        entries->push_back(pending.entry);
    // The sync to disk happens on the writer's thread; answers go out from this one.
    m_writer.start([this, batch, entries] {
        QString error;
        const bool stored = m_database.add(*entries, &error);
        QMetaObject::invokeMethod(
            this, [this, batch, stored, error] { committed(*batch, stored, error); },
            Qt::QueuedConnection);
    });
}

void ScoreServer::finishPending()
{
    for (;;) {
        m_writer.waitForDone();
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        if (m_committing)
            continue;
        if (m_pending.empty())
            return;
        startCommit();
    }
}

void ScoreServer::committed(const std::vector<Pending> &batch, bool stored, const QString &error)
{
    m_committing = false;
    if (!stored) {
        const QString reason =
            QStringLiteral("the score could not be stored (%1); please try again later.")
                .arg(error);
        for (const Pending &pending : batch) {
            log(pending.connection->peer(), pending.entry.scoreText,
                QLatin1Char('"') + pending.entry.nickname + QLatin1Char('"'),
                QStringLiteral("rejected: ") + reason);
            rejected(RejectReason::NotStored);
            pending.connection->answer(QStringLiteral("Rejected: ") + reason);
        }
    } else {
        for (const Pending &pending : batch) {
            const ScoreEntry &entry = pending.entry;
            m_ranks.insert(entry.score);
            ++m_metrics.accepted;
            if (!m_best || entry.score < m_best->score)
                m_best = entry;
            const qsizetype place = m_ranks.countBelow(entry.score) + 1;
            const qsizetype count = m_ranks.size();
            log(entry.peer, entry.scoreText, QLatin1Char('"') + entry.nickname + QLatin1Char('"'),
                QStringLiteral("accepted: #%1 of %2").arg(place).arg(count));
            // One pass over the pattern, so a nickname holding "%3" stays as it is.
            pending.connection->answer(
                QStringLiteral("Thanks, %1: %2 s is #%3 of %4. Best: %5 s by %6.")
                    .arg(entry.nickname, entry.scoreText, QString::number(place),
                         QString::number(count), m_best->scoreText, m_best->nickname));
        }
    }
    // What fell quiet while the disk was busy forms the next batch.
    startCommit();
}

void ScoreServer::rejected(RejectReason reason)
{
    ++m_metrics.rejected[static_cast<int>(reason)];
}

void ScoreServer::log(const QString &peer, const QString &score, const QString &nickname,
                      const QString &outcome)
{
    emit logLine(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) + QLatin1Char(' ') +
                 peer + QLatin1Char(' ') + score + QLatin1Char(' ') + nickname + QLatin1Char(' ') +
                 outcome);
}
