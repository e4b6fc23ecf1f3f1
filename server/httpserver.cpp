#include "httpserver.h"

#include <QBasicTimer>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QScopedValueRollback>
#include <QTcpSocket>
#include <QTimerEvent>

#include <sys/socket.h>
#include <unistd.h>

namespace http {
namespace {

// How long a closing connection may take to read its last answer and close its side.
constexpr int LingerMs = 2000;
// Answers queued and not yet taken by the client, beyond which no further request is read.
constexpr qint64 MaxUnsent = 256 * 1024;

// The Date field changes once a second: written once a second.
const QByteArray &dateNow()
{
    thread_local QByteArray date;
    thread_local qint64 second = -1;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (now != second) {
        second = now;
        date = httpDate(QDateTime::fromSecsSinceEpoch(now, Qt::UTC));
    }
    return date;
}

} // namespace

// One client's connection: reads its requests one after another, answers each through the
// server's handler, and keeps its deadlines.
class Connection : public QObject
{
public:
    enum class Phase
    {
        Idle,    // waiting for the first byte of a request
        Head,    // reading a request head
        Body,    // reading (and ignoring) a request body
        Closing, // answered for the last time: the answer goes out, then the connection closes
    };

    Connection(Server &server, QTcpSocket *socket, QString key)
        : QObject(&server), m_server(server), m_socket(socket), m_key(std::move(key))
    {
        socket->setParent(this);
        socket->setReadBufferSize(readCap());
        m_age.start();
        m_phaseStart.start();
        m_writeProgress.start();
        connect(socket, &QTcpSocket::readyRead, this, &Connection::process);
        connect(socket, &QTcpSocket::bytesWritten, this, [this] {
            m_writeProgress.start();
            if (m_phase == Phase::Closing)
                endOwnSide();
            else
                process();
        });
        connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        arm();
        QMetaObject::invokeMethod(this, &Connection::process, Qt::QueuedConnection);
    }

    ~Connection() override
    {
        delete m_socket;
        m_server.closed(this);
    }

    const QString &key() const { return m_key; }
    Phase phase() const { return m_phase; }
    // How long it has been in its phase: waiting, or on its way with a request.
    qint64 phaseAge() const { return m_phaseStart.elapsed(); }

    // Closes it for a newcomer: an answer to a request on its way says why.
    void evict()
    {
        if (m_phase == Phase::Head || m_phase == Phase::Body)
            answerAndClose(errorResponse(503, QStringLiteral("the server is busy; please try "
                                                             "again in a moment")));
        else
            close();
    }

protected:
    void timerEvent(QTimerEvent *event) override
    {
        if (event->timerId() != m_timer.timerId()) {
            QObject::timerEvent(event);
            return;
        }
        m_timer.stop();
        if (m_phase == Phase::Closing) {
            if (m_phaseStart.hasExpired(LingerMs))
                m_socket->abort();
            else
                arm();
            return;
        }
        if (m_socket->bytesToWrite() > 0 && m_writeProgress.hasExpired(m_server.m_limits.idleMs)) {
            m_socket->abort(); // a client that does not take its answer
            return;
        }
        const Limits &limits = m_server.m_limits;
        switch (m_phase) {
        case Phase::Idle:
            if (m_phaseStart.hasExpired(limits.idleMs) || m_age.hasExpired(limits.lifetimeMs))
                close();
            else
                arm();
            return;
        case Phase::Head:
        case Phase::Body:
            if (m_phaseStart.hasExpired(m_phase == Phase::Head ? limits.headMs
                                                               : limits.requestMs) ||
                m_age.hasExpired(limits.lifetimeMs))
                answerAndClose(
                    errorResponse(408, QStringLiteral("the request did not arrive in time")));
            else
                arm();
            return;
        case Phase::Closing:
            return;
        }
    }

private:
    qint64 readCap() const
    {
        return m_server.m_limits.head.maxHead + m_server.m_limits.head.maxBody + 1;
    }

    // One timer, set for the nearest deadline of the phase.
    void arm()
    {
        const Limits &limits = m_server.m_limits;
        qint64 next = limits.lifetimeMs - m_age.elapsed();
        switch (m_phase) {
        case Phase::Idle:
            next = std::min<qint64>(next, limits.idleMs - m_phaseStart.elapsed());
            break;
        case Phase::Head:
            next = std::min<qint64>(next, limits.headMs - m_phaseStart.elapsed());
            break;
        case Phase::Body:
            next = std::min<qint64>(next, limits.requestMs - m_phaseStart.elapsed());
            break;
        case Phase::Closing:
            next = LingerMs - m_phaseStart.elapsed();
            break;
        }
        if (m_socket->bytesToWrite() > 0)
            next = std::min<qint64>(next, limits.idleMs - m_writeProgress.elapsed());
        m_timer.start(static_cast<int>(std::max<qint64>(next, 0)), Qt::PreciseTimer, this);
    }

    void enter(Phase phase)
    {
        m_phase = phase;
        m_phaseStart.start();
        arm();
    }

    void readMore()
    {
        const qint64 room = readCap() - m_buffer.size();
        if (room > 0 && m_socket->bytesAvailable() > 0)
            m_buffer += m_socket->read(room);
    }

    void process()
    {
        if (m_phase == Phase::Closing) {
            m_socket->readAll(); // whatever still comes is not read as a request
            return;
        }
        // Writing an answer may report progress at once, which comes back here.
        if (m_processing)
            return;
        const QScopedValueRollback processing(m_processing, true);
        for (;;) {
            // A client that sends requests faster than it takes the answers waits for them.
            if (m_socket->bytesToWrite() > MaxUnsent)
                return;
            readMore();
            if (m_phase == Phase::Idle) {
                if (m_buffer.isEmpty())
                    return;
                enter(Phase::Head);
            }
            if (m_phase == Phase::Head) {
                const Head head = readHead(m_buffer, m_server.m_limits.head);
                if (head.progress == Head::Progress::Partial)
                    return;
                if (head.progress == Head::Progress::Invalid) {
                    answerAndClose(errorResponse(head.error.status, head.error.reason));
                    return;
                }
                m_request = head.request;
                m_buffer.remove(0, head.length);
                m_bodyLeft = m_request.contentLength;
                m_phase = Phase::Body; // the request's deadline runs on from its first byte
            }
            const qint64 skipped = std::min<qint64>(m_bodyLeft, m_buffer.size());
            m_buffer.remove(0, skipped);
            m_bodyLeft -= skipped;
            if (m_bodyLeft > 0)
                return;
            const Response response = m_server.m_handler(m_request);
            const bool headOnly = m_request.method == "HEAD";
            if (!m_request.keepAlive || m_age.hasExpired(m_server.m_limits.lifetimeMs)) {
                enter(Phase::Closing);
                send(serialized(response, headOnly, true, dateNow()));
                endOwnSide();
                return;
            }
            enter(Phase::Idle);
            send(serialized(response, headOnly, false, dateNow()));
        }
    }

    void send(const QByteArray &bytes)
    {
        if (m_socket->bytesToWrite() == 0)
            m_writeProgress.start();
        m_socket->write(bytes);
        m_socket->flush();
    }

    // The last answer: after it the client's further bytes are read and ignored, so that
    // closing does not reset the connection before the answer is read.
    void answerAndClose(const Response &response)
    {
        const bool headOnly = m_request.method == "HEAD" && m_phase == Phase::Body;
        m_buffer.clear();
        enter(Phase::Closing);
        send(serialized(response, headOnly, true, dateNow()));
        endOwnSide();
    }

    void close()
    {
        m_buffer.clear();
        enter(Phase::Closing);
        endOwnSide();
    }

    void endOwnSide()
    {
        if (m_socket->bytesToWrite() == 0 && m_socket->state() == QAbstractSocket::ConnectedState)
            ::shutdown(static_cast<int>(m_socket->socketDescriptor()), SHUT_WR);
    }

    Server &m_server;
    QTcpSocket *m_socket;
    QString m_key;
    Phase m_phase = Phase::Idle;
    QElapsedTimer m_age;
    QElapsedTimer m_phaseStart;
    QElapsedTimer m_writeProgress;
    QBasicTimer m_timer;
    QByteArray m_buffer;
    Request m_request;
    qint64 m_bodyLeft = 0;
    bool m_processing = false;
};

int Server::openConnections() const
{
    return static_cast<int>(
        std::count_if(m_connections.begin(), m_connections.end(), [](const Connection *connection) {
            return connection->phase() != Connection::Phase::Closing;
        }));
}

Server::Server(const Limits &limits, Handler handler, QObject *parent)
    : QObject(parent), m_limits(limits), m_handler(std::move(handler))
{
    m_listener.setBudget(descriptorBudget(limits));
    connect(&m_listener, &Listener::accepted, this, &Server::take);
    m_roomTimer.setSingleShot(true);
    connect(&m_roomTimer, &QTimer::timeout, this, &Server::seatWaiting);
}

Server::~Server()
{
    m_listener.close();
    for (const auto &[descriptor, key] : std::as_const(m_waiting))
        ::close(descriptor);
    m_waiting.clear();
    // Each connection's destructor comes back to closed(): work on a copy.
    const QList<Connection *> connections = m_connections;
    qDeleteAll(connections);
}

bool Server::listen(const QHostAddress &address, quint16 port, QString *error)
{
    return m_listener.listen(address, {port}, error);
}

quint16 Server::port() const
{
    return m_listener.ports().value(0);
}

void Server::take(int descriptor, const QHostAddress &peer)
{
    const QString key = peerKey(peer);
    if (m_perPeer.value(key) >= std::min(m_limits.maxPerPeer, m_limits.maxConnections)) {
        refuse(descriptor, QStringLiteral("too many connections from your address"));
        return;
    }
    // Counted from now, so that a peer cannot queue up more than its share either.
    ++m_perPeer[key];
    m_waiting.append({descriptor, key});
    seatWaiting();
}

// Gives the waiting newcomers places while there are any or some can be made; while one still
// waits the listener rests, and the newcomers behind it wait in the system's backlog.
void Server::seatWaiting()
{
    while (!m_waiting.isEmpty() && (openConnections() < m_limits.maxConnections || makeRoom())) {
        const auto [descriptor, key] = m_waiting.takeFirst();
        seat(descriptor, key);
    }
    m_listener.setPaused(!m_waiting.isEmpty());
    if (m_waiting.isEmpty()) {
        m_roomTimer.stop();
        return;
    }
    // The first moment a connection may have to make room.
    qint64 next = m_limits.holdMs;
    for (const Connection *connection : std::as_const(m_connections)) {
        if (connection->phase() != Connection::Phase::Closing)
            next = std::min(next, m_limits.holdMs - connection->phaseAge());
    }
    m_roomTimer.start(static_cast<int>(std::max<qint64>(next, 1)));
}

void Server::seat(int descriptor, const QString &key)
{
    auto *socket = new QTcpSocket;
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        ::close(descriptor);
        if (--m_perPeer[key] <= 0)
            m_perPeer.remove(key);
        m_listener.release();
        return;
    }
    m_connections << new Connection(*this, socket, key);
}

// A place for a newcomer: the connection that has waited longest for its next request, else the
// one whose request has been on its way longest, once either has had holdMs.
bool Server::makeRoom()
{
    Connection *idle = nullptr;
    Connection *slow = nullptr;
    for (Connection *connection : std::as_const(m_connections)) {
        if (connection->phaseAge() < m_limits.holdMs)
            continue;
        switch (connection->phase()) {
        case Connection::Phase::Idle:
            if (!idle || connection->phaseAge() > idle->phaseAge())
                idle = connection;
            break;
        case Connection::Phase::Head:
        case Connection::Phase::Body:
            if (!slow || connection->phaseAge() > slow->phaseAge())
                slow = connection;
            break;
        case Connection::Phase::Closing:
            break;
        }
    }
    Connection *victim = idle ? idle : slow;
    if (!victim)
        return false;
    // It closes on its own time; its place is the newcomer's now.
    victim->evict();
    return true;
}

// Turns a connection away at once with a 503: it never gets a place, nor holds a descriptor.
void Server::refuse(int descriptor, const QString &reason)
{
    Response response = errorResponse(503, reason);
    response.fields.emplace_back("Retry-After", "1");
    const QByteArray bytes = serialized(response, false, true, dateNow());
    [[maybe_unused]] const ssize_t sent =
        ::send(descriptor, bytes.constData(), static_cast<size_t>(bytes.size()),
               MSG_NOSIGNAL | MSG_DONTWAIT);
    // Whatever the client sent already is read, so that closing does not reset the connection
    // before the answer is read.
    char discard[4096];
    while (::recv(descriptor, discard, sizeof discard, MSG_DONTWAIT) > 0) {
    }
    ::shutdown(descriptor, SHUT_WR);
    ::close(descriptor);
    m_listener.release();
}

void Server::closed(Connection *connection)
{
    m_connections.removeOne(connection);
    if (--m_perPeer[connection->key()] <= 0)
        m_perPeer.remove(connection->key());
    m_listener.release();
    if (!m_waiting.isEmpty())
        QMetaObject::invokeMethod(this, &Server::seatWaiting, Qt::QueuedConnection);
}

} // namespace http
