#include "scoreserver.h"

#include "submission.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTcpSocket>

#include <unistd.h>

namespace {

QString busy()
{
    return QStringLiteral("the server is busy; please try again in a moment.");
}

} // namespace

ScoreServer::ScoreServer(ScoreStore &database, Limits limits, QObject *parent)
    : QObject(parent), m_limits(limits), m_board(database)
{
    m_roomTimer.setInterval(std::clamp(std::min(m_limits.holdMs, m_limits.waitMs) / 8, 10, 250));
    connect(&m_roomTimer, &QTimer::timeout, this, [this] {
        expireWaiting();
        makeRoom();
    });
}

ScoreServer::~ScoreServer()
{
    close();
    finishPending();
    qDeleteAll(findChildren<ScoreConnection *>(Qt::FindDirectChildrenOnly));
}

int ScoreServer::descriptorBudget(const Limits &limits)
{
    return limits.maxClients * 2 + limits.maxWaiting + 1;
}

bool ScoreServer::listen(const QHostAddress &address, const QList<quint16> &ports, QString *error)
{
    close();
    auto *listener = new Listener(this);
    // Sockets: every place, every waiting connection, and room to judge a newcomer before the
    // one to go is chosen. The connections being read hold a second descriptor each on top.
    listener->setBudget(m_limits.maxClients + m_limits.maxWaiting + 1);
    if (!listener->listen(address, ports, error)) {
        delete listener;
        return false;
    }
    connect(listener, &Listener::accepted, this, &ScoreServer::take);
    m_listeners << listener;
    return true;
}

QList<quint16> ScoreServer::ports() const
{
    QList<quint16> ports;
    for (const Listener *listener : m_listeners)
        ports << listener->ports();
    return ports;
}

void ScoreServer::close()
{
    // Connections still waiting for a place go with the listening sockets, unread.
    for (const Waiting &waiting : m_waiting) {
        waiting.socket->abort();
        delete waiting.socket;
    }
    m_waiting.clear();
    m_waitingPerPeer.clear();
    m_metrics.waitingConnections = 0;
    qDeleteAll(m_listeners);
    m_listeners.clear();
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

int ScoreServer::share() const
{
    return std::min(m_limits.maxPerPeer, m_limits.maxClients);
}

// Whatever the system accepted waits here in order of arrival, its read buffer capped, until a
// place is free for it.
void ScoreServer::take(int descriptor, const QHostAddress &peer)
{
    auto *listener = qobject_cast<Listener *>(sender());
    auto *socket = new QTcpSocket(this);
    // A client that floods while it waits cannot fill the server's memory.
    socket->setReadBufferSize(m_limits.maxBytes + 1);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        ::close(descriptor);
        listener->release();
        return;
    }
    // The listener counts the socket until it is closed, whoever holds it then.
    connect(socket, &QObject::destroyed, listener, &Listener::release);
    const QString key = peerKey(peer);
    m_waiting.push_back({socket, key, QDeadlineTimer(m_limits.waitMs)});
    ++m_waitingPerPeer[key];
    // One that leaves while it waits goes at once.
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        const auto waiting =
            std::find_if(m_waiting.begin(), m_waiting.end(),
                         [socket](const Waiting &w) { return w.socket == socket; });
        if (waiting != m_waiting.end()) {
            if (--m_waitingPerPeer[waiting->key] <= 0)
                m_waitingPerPeer.remove(waiting->key);
            m_waiting.erase(waiting);
            m_metrics.waitingConnections = static_cast<int>(m_waiting.size());
            socket->deleteLater();
        }
    });
    shed();
    seat();
}

// Keeps the sockets within their budget once a newcomer is in: a connection that was answered
// and lingers goes first, then one that holds a place without completing a submission. Else a
// waiting one: one whose whole submission has arrived is kept before one whose has not, and
// among equals the peer with the most connections gives up its newest, so that no peer can fill
// the queue for the others.
void ScoreServer::shed()
{
    while (m_active + m_lingering.size() + static_cast<qsizetype>(m_waiting.size()) >
           m_limits.maxClients + m_limits.maxWaiting) {
        if (!m_lingering.isEmpty()) {
            m_lingering.takeFirst()->cutLinger();
            continue;
        }
        // Before a waiting connection is turned away, a place held without completing goes,
        // once it has had the time a real client's submission takes to arrive and fall quiet.
        if (ScoreConnection *slow = longestHeld(2 * m_limits.quietMs)) {
            slow->evict(2 * m_limits.quietMs);
            continue;
        }
        if (m_waiting.empty())
            break;
        const auto rank = [this](const Waiting &waiting) {
            const bool whole =
                submission::assess(waiting.socket->peek(m_limits.maxBytes)).progress ==
                submission::Progress::Complete;
            return std::pair(!whole,
                             m_perPeer.value(waiting.key) + m_waitingPerPeer.value(waiting.key));
        };
        auto chosen = m_waiting.end();
        std::pair<bool, int> chosenRank;
        for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
            const auto itsRank = rank(*it);
            if (chosen == m_waiting.end() || itsRank >= chosenRank) {
                chosen = it;
                chosenRank = itsRank;
            }
        }
        drop(chosen, busy());
    }
    m_metrics.waitingConnections = static_cast<int>(m_waiting.size());
}

// Tells a waiting connection why it goes, and closes it the way an answered one is closed.
void ScoreServer::drop(std::deque<Waiting>::iterator waiting, const QString &reason)
{
    seatOne(waiting)->refuse(RejectReason::Busy, reason);
}

void ScoreServer::expireWaiting()
{
    while (!m_waiting.empty() && m_waiting.front().until.hasExpired())
        drop(m_waiting.begin(), busy());
}

// The waiting connection to seat next: of those whose peer has room, the one whose peer holds
// the fewest places, the earliest among equals.
std::deque<ScoreServer::Waiting>::iterator ScoreServer::nextToSeat()
{
    auto chosen = m_waiting.end();
    int fewest = share();
    for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
        const int held = m_perPeer.value(it->key);
        if (held < fewest) {
            fewest = held;
            chosen = it;
            if (held == 0)
                break;
        }
    }
    return chosen;
}

ScoreConnection *ScoreServer::seatOne(std::deque<Waiting>::iterator waiting)
{
    QTcpSocket *socket = waiting->socket;
    const QString key = waiting->key;
    if (--m_waitingPerPeer[key] <= 0)
        m_waitingPerPeer.remove(key);
    m_waiting.erase(waiting);
    socket->disconnect(this);
    ++m_active;
    ++m_perPeer[key];
    auto *connection = new ScoreConnection(*this, m_limits, socket, key, ++m_seats, this);
    ++m_metrics.openConnections;
    connect(connection, &QObject::destroyed, this, [this] { --m_metrics.openConnections; });
    m_metrics.waitingConnections = static_cast<int>(m_waiting.size());
    return connection;
}

void ScoreServer::seat()
{
    while (m_active < m_limits.maxClients) {
        const auto next = nextToSeat();
        if (next == m_waiting.end())
            break;
        seatOne(next);
    }
    m_metrics.waitingConnections = static_cast<int>(m_waiting.size());
    makeRoom();
}

// With every place taken and a connection waiting that could have one, a connection that has
// held its place for holdMs without completing a submission gives it up: a client that means to
// submit sends its score and nickname as soon as it is connected. Those that have not even begun
// go first, the longest-held first; the place goes to the waiting connection it was made for.
void ScoreServer::makeRoom()
{
    // An eviction frees a place, whose seat() comes back here: the loop below goes on instead.
    if (m_makingRoom)
        return;
    m_makingRoom = true;
    while (m_active >= m_limits.maxClients) {
        const auto next = nextToSeat();
        if (next == m_waiting.end())
            break;
        ScoreConnection *victim = longestHeld(m_limits.holdMs);
        if (!victim)
            break;
        const QString waitingKey = next->key;
        const QTcpSocket *waitingSocket = next->socket;
        victim->evict(m_limits.holdMs);
        // The eviction may have seated others already (released() calls seat()): find the one
        // the room was made for again.
        const auto again = std::find_if(m_waiting.begin(), m_waiting.end(), [&](const Waiting &w) {
            return w.socket == waitingSocket;
        });
        if (again != m_waiting.end() && m_active < m_limits.maxClients &&
            m_perPeer.value(waitingKey) < share())
            seatOne(again);
    }
    // Those still young may become slow, and waiting ones may time out: look again shortly, for
    // as long as some wait.
    if (m_waiting.empty())
        m_roomTimer.stop();
    else if (!m_roomTimer.isActive())
        m_roomTimer.start();
    m_metrics.waitingConnections = static_cast<int>(m_waiting.size());
    m_makingRoom = false;
}

// Of the connections that have held their places for heldMs without completing a submission,
// the one to give its place up: those that have not even begun one first, the longest-held first.
ScoreConnection *ScoreServer::longestHeld(int heldMs) const
{
    ScoreConnection *victim = nullptr;
    const auto connections = findChildren<ScoreConnection *>(Qt::FindDirectChildrenOnly);
    for (ScoreConnection *connection : connections) {
        if (!connection->heldWithoutCompleting(heldMs))
            continue;
        if (!victim || (victim->begun() && !connection->begun()) ||
            (victim->begun() == connection->begun() && connection->seat() < victim->seat()))
            victim = connection;
    }
    return victim;
}

// Called once per connection, as it turns answered: from reading or storing, never again.
void ScoreServer::released(ScoreConnection *connection)
{
    --m_active;
    m_lingering << connection;
    seat();
}

void ScoreServer::closed(ScoreConnection *connection)
{
    m_lingering.removeOne(connection);
    if (--m_perPeer[connection->key()] <= 0)
        m_perPeer.remove(connection->key());
    // A peer that held its whole share may have a connection waiting.
    if (!m_waiting.empty())
        QMetaObject::invokeMethod(this, &ScoreServer::seat, Qt::QueuedConnection);
}

void ScoreServer::queue(ScoreConnection *connection, ScoreEntry entry)
{
    m_board.add(std::move(entry), [this, connection](const BoardKeeper::Outcome &outcome) {
        const ScoreEntry &entry = outcome.entry;
        if (!outcome.stored) {
            const QString reason =
                QStringLiteral("the score could not be stored (%1); please try again later.")
                    .arg(outcome.error);
            log(connection->peer(), entry.scoreText,
                QLatin1Char('"') + entry.nickname + QLatin1Char('"'),
                QStringLiteral("rejected: ") + reason);
            rejected(RejectReason::NotStored);
            connection->answer(QStringLiteral("Rejected: ") + reason);
            return;
        }
        ++m_metrics.accepted;
        log(entry.peer, entry.scoreText, QLatin1Char('"') + entry.nickname + QLatin1Char('"'),
            QStringLiteral("accepted: #%1 of %2").arg(outcome.place).arg(outcome.count));
        // One pass over the pattern, so a nickname holding "%3" stays as it is.
        connection->answer(QStringLiteral("Thanks, %1: %2 s is #%3 of %4. Best: %5 s by %6.")
                               .arg(entry.nickname, entry.scoreText, QString::number(outcome.place),
                                    QString::number(outcome.count), outcome.best.scoreText,
                                    outcome.best.nickname));
    });
}

void ScoreServer::finishPending()
{
    m_board.finishPending();
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
