#include "submit/scoresocket.h"

#include <QTimer>

ScoreSocket::ScoreSocket(QObject *parent) : QObject(parent)
{
    // What a hostile server can make the client hold before it is read.
    m_socket.setReadBufferSize(1 << 20);
    connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
        m_received += m_socket.bytesAvailable();
        emit dataArrival(m_socket.bytesAvailable());
    });
    connect(&m_socket, &QAbstractSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError code) {
                if (code == QAbstractSocket::RemoteHostClosedError && m_received > 0)
                    return;
                emit error(static_cast<int>(code), m_socket.errorString());
            });
}

void ScoreSocket::connectToServer()
{
    m_socket.abort();
    m_received = 0;
    if (m_port <= 0 || m_port > 65535) {
        // Reported like any other failure to connect, but after the caller has returned.
        QTimer::singleShot(0, this, [this] {
            emit error(static_cast<int>(QAbstractSocket::UnsupportedSocketOperationError),
                       QStringLiteral("invalid port"));
        });
        return;
    }
    if (m_localPort > 0)
        m_socket.bind(QHostAddress::Any, static_cast<quint16>(m_localPort));
    m_socket.connectToHost(m_host, static_cast<quint16>(m_port));
}

bool ScoreSocket::isConnected() const
{
    return m_socket.state() == QAbstractSocket::ConnectedState;
}

bool ScoreSocket::isConnecting() const
{
    const auto state = m_socket.state();
    return state == QAbstractSocket::HostLookupState || state == QAbstractSocket::ConnectingState;
}

bool ScoreSocket::send(const QByteArray &bytes)
{
    if (!isConnected())
        return false;
    return m_socket.write(bytes) == bytes.size();
}

QByteArray ScoreSocket::readAll()
{
    return m_socket.readAll();
}

void ScoreSocket::close()
{
    // Hand what was sent to the system first; closing must never block the window.
    if (isConnected())
        m_socket.flush();
    m_socket.abort();
}
