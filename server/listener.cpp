#include "listener.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

QHostAddress plainAddress(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4) : address;
}

QString peerKey(const QHostAddress &address)
{
    const QHostAddress plain = plainAddress(address);
    if (plain.protocol() != QAbstractSocket::IPv6Protocol)
        return plain.toString();
    Q_IPV6ADDR bytes = plain.toIPv6Address();
    for (int i = 8; i < 16; ++i)
        bytes[i] = 0;
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

QString addressText(const QHostAddress &address)
{
    return address == QHostAddress(QHostAddress::Any) ? QStringLiteral("every address")
                                                      : address.toString();
}

Listener::Listener(QObject *parent) : QObject(parent)
{
    m_rest.setSingleShot(true);
    m_rest.setInterval(RestMs);
    connect(&m_rest, &QTimer::timeout, this, [this] {
        updateWatch();
        for (const Socket &socket : std::as_const(m_sockets))
            acceptPending(socket.descriptor);
    });
}

Listener::~Listener()
{
    close();
}

bool Listener::listen(const QHostAddress &address, const QList<quint16> &ports, QString *error)
{
    close();
    for (const quint16 port : ports) {
        if (!listenOn(address, port, error)) {
            close();
            return false;
        }
    }
    updateWatch();
    return true;
}

QList<quint16> Listener::ports() const
{
    QList<quint16> ports;
    for (const Socket &socket : m_sockets)
        ports << socket.port;
    return ports;
}

bool Listener::listenOn(const QHostAddress &address, quint16 port, QString *error)
{
    Socket socket;
    const auto fail = [&](const char *what) {
        if (error)
            *error = QStringLiteral("cannot listen on %1 port %2: %3")
                         .arg(addressText(address))
                         .arg(port)
                         .arg(QString::fromLocal8Bit(what));
        if (socket.descriptor >= 0)
            ::close(socket.descriptor);
        return false;
    };
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = AF_INET;
    // The wildcard takes both IPv6 and IPv4 peers where the system has IPv6, as Qt's own does.
    const bool dualStack = address == QHostAddress(QHostAddress::Any);
    if (dualStack || address.protocol() == QAbstractSocket::IPv6Protocol) {
        family = AF_INET6;
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        if (!dualStack) {
            const Q_IPV6ADDR bytes = address.toIPv6Address();
            std::memcpy(&v6->sin6_addr, bytes.c, sizeof bytes.c);
            v6->sin6_scope_id = address.scopeId().toUInt();
        }
        length = sizeof(sockaddr_in6);
    } else {
        auto *v4 = reinterpret_cast<sockaddr_in *>(&storage);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        v4->sin_addr.s_addr = htonl(
            address == QHostAddress(QHostAddress::AnyIPv4) ? INADDR_ANY : address.toIPv4Address());
        length = sizeof(sockaddr_in);
    }
    socket.descriptor = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket.descriptor < 0 && dualStack) {
        // No IPv6 on this system: the wildcard is every IPv4 address.
        return listenOn(QHostAddress(QHostAddress::AnyIPv4), port, error);
    }
    if (socket.descriptor < 0)
        return fail(std::strerror(errno));
    const int yes = 1;
    const int no = 0;
    ::setsockopt(socket.descriptor, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (dualStack)
        ::setsockopt(socket.descriptor, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
    if (::bind(socket.descriptor, reinterpret_cast<sockaddr *>(&storage), length) != 0)
        return fail(errno == EADDRINUSE ? "the address is already in use" : std::strerror(errno));
    if (::listen(socket.descriptor, 1024) != 0)
        return fail(std::strerror(errno));
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    ::getsockname(socket.descriptor, reinterpret_cast<sockaddr *>(&bound), &boundLength);
    socket.port =
        ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                          : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
    socket.notifier = new QSocketNotifier(socket.descriptor, QSocketNotifier::Read, this);
    const int descriptor = socket.descriptor;
    connect(socket.notifier, &QSocketNotifier::activated, this,
            [this, descriptor] { acceptPending(descriptor); });
    m_sockets << socket;
    return true;
}

void Listener::close()
{
    m_rest.stop();
    for (const Socket &socket : std::as_const(m_sockets)) {
        delete socket.notifier;
        ::close(socket.descriptor);
    }
    m_sockets.clear();
}

void Listener::setBudget(int connections)
{
    m_budget = std::max(1, connections);
    updateWatch();
}

void Listener::release()
{
    --m_open;
    // The notifier is level-triggered: newcomers already in the backlog are taken on the next
    // pass of the event loop.
    updateWatch();
}

void Listener::setPaused(bool paused)
{
    m_paused = paused;
    updateWatch();
}

// Watches the sockets only while there is room and the system is not out of descriptors.
void Listener::updateWatch()
{
    const bool watch = m_open < m_budget && !m_rest.isActive() && !m_paused;
    for (const Socket &socket : std::as_const(m_sockets))
        socket.notifier->setEnabled(watch);
}

void Listener::acceptPending(int listening)
{
    // A few at a time: clients that reconnect as fast as they are turned away would otherwise
    // keep this loop going for ever, and the connections already taken would never be read.
    for (int taken = 0;
         taken < AcceptsPerPass && m_open < m_budget && !m_rest.isActive() && !m_paused; ++taken) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int descriptor = ::accept4(listening, reinterpret_cast<sockaddr *>(&peer), &length,
                                         SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO)
                continue; // that one is gone; others may be waiting (counted as taken)
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                ++m_exhausted;
                m_rest.start();
            }
            break; // EAGAIN: the backlog is empty
        }
        ++m_open;
        emit accepted(descriptor, plainAddress(QHostAddress(reinterpret_cast<sockaddr *>(&peer))));
    }
    updateWatch();
}
