#include "scoreserver.h"

#include "submission.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTcpSocket>

#include <unistd.h>

namespace {

// How often the table is looked at for changes made by other programs.
constexpr int ChangesIntervalMs = 250;

QString busy()
{
    return QStringLiteral("the server is busy; please try again in a moment.");
}

} // namespace

ScoreServer::ScoreServer(ScoreStore &database, Limits limits, QObject *parent)
    : QObject(parent), m_database(database), m_limits(limits)
{
    std::vector<ScoreEntry> best = database.top(1);
    if (!best.empty())
        m_best = best.front();
    m_index.write([&database](ScoreIndex &index) {
        index.assign(database.allKeys().value_or(std::vector<ScoreKey>()));
        return 0;
    });
    // Another program may remove or change rows (an operator's command, sqlite3 by hand): the
    // ranks follow within a second.
    m_changesTimer.setInterval(ChangesIntervalMs);
    connect(&m_changesTimer, &QTimer::timeout, this, &ScoreServer::followChanges);
    m_changesTimer.start();
    // Everything that fell quiet in one pass of the event loop goes into one transaction.
    m_commitTimer.setSingleShot(true);
    m_commitTimer.setInterval(0);
    connect(&m_commitTimer, &QTimer::timeout, this, &ScoreServer::startCommit);
    m_writer.setMaxThreadCount(1);
    m_writer.setExpiryTimeout(-1);
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
        std::vector<qint64> ids;
        const bool stored = m_database.add(*entries, &error, &ids);
        QMetaObject::invokeMethod(
            this, [this, batch, stored, error, ids] { committed(*batch, stored, error, ids); },
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

void ScoreServer::followChanges()
{
    if (m_following)
        return;
    m_following = true;
    // On the writer's thread, between batches: its connection sees other connections' commits.
    m_writer.start([this] {
        ScoreStore::Changes changes = m_database.changes();
        // The best after the changes, and its row, read here on the writer's thread.
        std::optional<ScoreEntry> best;
        if (changes.any()) {
            std::optional<ScoreKey> first;
            if (changes.all) {
                if (!changes.all->empty())
                    first = *std::min_element(changes.all->begin(), changes.all->end());
            } else {
                first =
                    m_index.read([&changes](const ScoreIndex &index) -> std::optional<ScoreKey> {
                        const auto gone = [&changes](const ScoreKey &key) {
                            return std::find(changes.removed.begin(), changes.removed.end(), key) !=
                                   changes.removed.end();
                        };
                        for (const ScoreKey &key :
                             index.slice(0, static_cast<qint64>(changes.removed.size()) + 1)) {
                            if (!gone(key))
                                return key;
                        }
                        return std::nullopt;
                    });
                for (const ScoreKey &key : changes.added) {
                    if (!first || key < *first)
                        first = key;
                }
            }
            if (first)
                best = m_database.entry(first->id);
        }
        QMetaObject::invokeMethod(
            this,
            [this, changes = std::move(changes), best] {
                m_following = false;
                if (!changes.any())
                    return;
                const std::optional<ScoreKey> first = m_index.write([&changes](ScoreIndex &index) {
                    if (changes.all)
                        index.assign(*changes.all);
                    for (const ScoreKey &key : changes.removed)
                        index.remove(key);
                    for (const ScoreKey &key : changes.added)
                        index.insert(key);
                    return index.first();
                });
                if (!first)
                    m_best.reset();
                else if (best && best->id == first->id)
                    m_best = best;
                else if (!m_best || m_best->id != first->id)
                    refreshBest(first->id); // scores came in meanwhile
            },
            Qt::QueuedConnection);
    });
}

void ScoreServer::refreshBest(qint64 id)
{
    m_writer.start([this, id] {
        const std::optional<ScoreEntry> best = m_database.entry(id);
        QMetaObject::invokeMethod(
            this,
            [this, best] {
                const auto first =
                    m_index.read([](const ScoreIndex &index) { return index.first(); });
                if (best && first && first->id == best->id)
                    m_best = best;
            },
            Qt::QueuedConnection);
    });
}

void ScoreServer::committed(const std::vector<Pending> &batch, bool stored, const QString &error,
                            const std::vector<qint64> &ids)
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
        m_index.write([&](ScoreIndex &index) {
            for (std::size_t i = 0; i < batch.size() && i < ids.size(); ++i)
                index.insert({batch[i].entry.score, ids[i]});
            return 0;
        });
        for (std::size_t i = 0; i < batch.size(); ++i) {
            ScoreEntry entry = batch[i].entry;
            const Pending &pending = batch[i];
            entry.id = i < ids.size() ? ids[i] : 0;
            ++m_metrics.accepted;
            if (!m_best || entry.score < m_best->score)
                m_best = entry;
            const auto [place, count] = m_index.read([&entry](const ScoreIndex &index) {
                return std::pair(index.countBelow(entry.score) + 1, index.size());
            });
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
