#include "scoreserver.h"

#include "submission.h"

#include <QBasicTimer>
#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimerEvent>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The peer's address, an IPv4 address written as such even when it came in over IPv6.
QHostAddress peerAddress(const QTcpSocket &socket)
{
    QHostAddress address = socket.peerAddress();
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped)
        address = QHostAddress(v4);
    return address;
}

QString peerName(const QTcpSocket &socket)
{
    const QHostAddress address = peerAddress(socket);
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                             : address.toString();
    return host + QLatin1Char(':') + QString::number(socket.peerPort());
}

// Bytes from the network, shown in the log without control characters and not too long.
QString shown(const QByteArray &bytes)
{
    constexpr qsizetype Longest = 40;
    QString text;
    for (const char byte : bytes.left(Longest)) {
        const auto code = static_cast<unsigned char>(byte);
        if (code < 0x20 || code == 0x7f || code == '"' || code == '\\')
            text += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
        else
            text += QChar::fromLatin1(byte);
    }
    if (bytes.size() > Longest)
        text += QStringLiteral("...");
    // Multi-byte nicknames come out whole where the cut left them whole.
    const QString decoded = QString::fromUtf8(text.toLatin1());
    return decoded.contains(QChar::ReplacementCharacter) ? text : decoded;
}

// The score and nickname parts of whatever was sent, for the log.
std::pair<QString, QString> logFields(const QByteArray &bytes)
{
    static const QByteArray Separator = QByteArrayLiteral("           By ");
    const qsizetype separator = bytes.indexOf(Separator);
    if (separator < 0) {
        const qsizetype blank = bytes.indexOf(' ');
        return {bytes.isEmpty() ? QStringLiteral("-") : shown(bytes.left(blank)),
                QStringLiteral("-")};
    }
    QByteArray nickname = bytes.mid(separator + Separator.size());
    if (nickname.endsWith("data"))
        nickname.chop(4);
    return {shown(bytes.left(separator)), QLatin1Char('"') + shown(nickname) + QLatin1Char('"')};
}

// How long an answered connection may take to close after its line.
constexpr int LingerMs = 5000;

QString seconds(int milliseconds)
{
    return QString::number(milliseconds / 1000.0);
}

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

// One client's connection: its bytes, its timers, and the single answer it gets.
class ScoreConnection : public QObject
{
    // So that finding the server's connections among its children finds only them.
    Q_OBJECT

public:
    ScoreConnection(ScoreServer &server, QTcpSocket *socket, QString address)
        : QObject(&server), m_server(server), m_socket(socket), m_peer(peerName(*socket)),
          m_address(std::move(address))
    {
        m_age.start();
        const ScoreServer::Limits &limits = server.m_limits;
        socket->setParent(this);
        socket->setReadBufferSize(limits.maxBytes + 1);
        m_idleEnd = QDeadlineTimer(limits.idleMs, Qt::PreciseTimer);
        m_lifeEnd = QDeadlineTimer(limits.lifetimeMs, Qt::PreciseTimer);
        connect(socket, &QTcpSocket::readyRead, this, &ScoreConnection::readBytes);
        connect(socket, &QTcpSocket::disconnected, this, &ScoreConnection::peerClosed);
        arm();
        // Bytes, or the end, may have come while the connection waited for its place.
        QMetaObject::invokeMethod(
            this,
            [this] {
                readBytes();
                if (m_socket->state() == QAbstractSocket::UnconnectedState)
                    peerClosed();
            },
            Qt::QueuedConnection);
    }

    ~ScoreConnection() override
    {
        if (m_spare >= 0)
            ::close(m_spare);
    }

    const QString &peer() const { return m_peer; }

    // Still being read, older than the given time, and without the beginning of a submission
    // (a score and the separator after it): what a client that means to submit sends at once.
    bool slowToBegin(int beginMs) const
    {
        return m_state == State::Reading && m_age.elapsed() >= beginMs &&
               !submission::begun(m_bytes);
    }
    qint64 age() const { return m_age.elapsed(); }

    void evict(int beginMs)
    {
        reject(QStringLiteral("no submission began within %1 seconds, and others are waiting.")
                   .arg(seconds(beginMs)));
    }

    void stopReading()
    {
        if (m_state == State::Reading)
            reject(QStringLiteral("the server is stopping; please try again in a moment."));
    }

    void answer(const QString &line)
    {
        if (m_state == State::Answered)
            return;
        m_state = State::Answered;
        m_server.released(m_address);
        if (m_socket->state() != QAbstractSocket::ConnectedState) {
            // The peer ended its side after a whole submission: its direction is still open.
            if (m_spare >= 0) {
                const QByteArray bytes = line.toUtf8() + '\n';
                [[maybe_unused]] const ssize_t sent =
                    ::send(m_spare, bytes.constData(), static_cast<std::size_t>(bytes.size()),
                           MSG_NOSIGNAL | MSG_DONTWAIT);
                ::shutdown(m_spare, SHUT_WR);
            }
            deleteLater();
            return;
        }
        // Closing with unread bytes from the peer would reset the connection and could drop the
        // line before it is read. So the server only ends its own side once the line is out,
        // reads and ignores whatever still comes, and waits for the peer to close.
        const auto endOwnSide = [this] {
            if (m_socket->bytesToWrite() == 0)
                ::shutdown(static_cast<int>(m_socket->socketDescriptor()), SHUT_WR);
        };
        connect(m_socket, &QTcpSocket::bytesWritten, this, endOwnSide);
        m_socket->write(line.toUtf8() + '\n');
        m_socket->flush(); // at once rather than on the next pass of the event loop
        endOwnSide();
        m_lifeEnd = QDeadlineTimer(LingerMs);
        arm();
    }

protected:
    void timerEvent(QTimerEvent *event) override
    {
        if (event->timerId() != m_timer.timerId()) {
            QObject::timerEvent(event);
            return;
        }
        m_timer.stop();
        switch (m_state) {
        case State::Reading:
            if (m_quietEnd.hasExpired())
                quiet();
            else if (m_lifeEnd.hasExpired())
                reject(QStringLiteral("the submission took longer than %1 seconds.")
                           .arg(seconds(m_server.m_limits.lifetimeMs)));
            else if (m_idleEnd.hasExpired() && m_bytes.isEmpty())
                reject(QStringLiteral("nothing arrived for %1 seconds.")
                           .arg(seconds(m_server.m_limits.idleMs)));
            else if (m_idleEnd.hasExpired())
                quiet(); // the sender has stopped: what it sent is all there is
            else
                arm();
            break;
        case State::Storing:
            break; // the batch answers it
        case State::Answered:
            if (m_lifeEnd.hasExpired())
                m_socket->abort(); // a peer that never takes its answer
            else
                arm();
            break;
        }
    }

private:
    enum class State
    {
        Reading,
        Storing,
        Answered
    };

    // One timer per connection, set for the nearest of its deadlines.
    void arm()
    {
        qint64 next = m_lifeEnd.remainingTime();
        if (m_state == State::Reading) {
            next = std::min(next, m_idleEnd.remainingTime());
            if (!m_quietEnd.isForever())
                next = std::min(next, m_quietEnd.remainingTime());
        }
        m_timer.start(static_cast<int>(std::max<qint64>(next, 0)), Qt::PreciseTimer, this);
    }

    void readBytes()
    {
        if (m_state != State::Reading) {
            m_socket->readAll(); // one submission per connection; the rest is ignored
            return;
        }
        const QByteArray bytes = m_socket->readAll();
        if (bytes.isEmpty())
            return;
        // Qt closes a socket whose peer has ended its side. A peer that sends its submission and
        // then ends its side (as nc -N does) still waits for the answer on the other direction:
        // a second descriptor keeps that direction open.
        if (m_spare < 0)
            m_spare = ::fcntl(static_cast<int>(m_socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
        m_bytes += bytes;
        m_idleEnd = QDeadlineTimer(m_server.m_limits.idleMs, Qt::PreciseTimer);
        // What the bytes say comes first: it does not depend on how they were cut into pieces.
        const submission::Assessment assessment = submission::assess(m_bytes);
        if (assessment.progress != submission::Progress::Invalid &&
            m_bytes.size() > m_server.m_limits.maxBytes) {
            reject(QStringLiteral("more than %1 bytes.").arg(m_server.m_limits.maxBytes));
            return;
        }
        switch (assessment.progress) {
        case submission::Progress::Invalid:
            reject(assessment.reason);
            break;
        case submission::Progress::Complete:
            m_quietEnd = QDeadlineTimer(m_server.m_limits.quietMs, Qt::PreciseTimer);
            arm();
            break;
        case submission::Progress::Partial:
            m_quietEnd = QDeadlineTimer(QDeadlineTimer::Forever);
            arm();
            break;
        }
    }

    void quiet()
    {
        const auto verdict = submission::read(m_bytes);
        if (const auto *rejected = std::get_if<submission::Rejected>(&verdict)) {
            reject(rejected->reason);
            return;
        }
        const auto &accepted = std::get<submission::Accepted>(verdict);
        m_state = State::Storing;
        ScoreEntry entry;
        entry.score = accepted.score;
        entry.scoreText = accepted.scoreText;
        entry.nickname = accepted.nickname;
        entry.peer = m_peer;
        entry.submitted = QDateTime::currentDateTimeUtc();
        m_server.queue(this, std::move(entry));
    }

    void reject(const QString &reason)
    {
        const auto [score, nickname] = logFields(m_bytes);
        m_server.log(m_peer, score, nickname, QStringLiteral("rejected: ") + reason);
        answer(QStringLiteral("Rejected: ") + reason);
    }

    void peerClosed()
    {
        switch (m_state) {
        case State::Reading:
            if (m_bytes.isEmpty()) {
                m_state = State::Answered;
                m_server.released(m_address);
                deleteLater();
            } else if (submission::assess(m_bytes).progress == submission::Progress::Complete) {
                quiet(); // the end of the bytes ends the wait for more
            } else {
                reject(QStringLiteral("the connection closed before the submission was "
                                      "complete."));
            }
            break;
        case State::Storing:
            break; // the batch answers, and so ends, this connection
        case State::Answered:
            deleteLater();
            break;
        }
    }

    ScoreServer &m_server;
    QTcpSocket *m_socket;
    QString m_peer;
    QString m_address; // what the share of places per peer is counted by
    QElapsedTimer m_age;
    QByteArray m_bytes;
    QBasicTimer m_timer;
    QDeadlineTimer m_quietEnd{QDeadlineTimer::Forever};
    QDeadlineTimer m_idleEnd;
    QDeadlineTimer m_lifeEnd; // after the answer: the end of the wait for the peer to close
    State m_state = State::Reading;
    int m_spare = -1; // a second descriptor of the connection, from its first bytes on

    friend class ScoreServer;
};

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
        new ScoreConnection(*this, socket, address);
    }
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
            pending.connection->answer(QStringLiteral("Rejected: ") + reason);
        }
    } else {
        for (const Pending &pending : batch) {
            const ScoreEntry &entry = pending.entry;
            m_ranks.insert(entry.score);
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

void ScoreServer::log(const QString &peer, const QString &score, const QString &nickname,
                      const QString &outcome)
{
    emit logLine(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) + QLatin1Char(' ') +
                 peer + QLatin1Char(' ') + score + QLatin1Char(' ') + nickname + QLatin1Char(' ') +
                 outcome);
}

#include "scoreserver.moc"
