// The submission client's TCP connection over QTcpSocket.
#include "submit/tcpconnection.h"

#include <QTcpSocket>

namespace {

class QtTcpConnection final : public TcpConnection
{
public:
    explicit QtTcpConnection(Events events)
    {
        // What a hostile server can make the client hold before it is read.
        m_socket.setReadBufferSize(1 << 20);
        QObject::connect(
            &m_socket, &QTcpSocket::readyRead, &m_socket,
            [this, readable = std::move(events.readable)] { readable(m_socket.bytesAvailable()); });
        QObject::connect(
            &m_socket, &QAbstractSocket::errorOccurred, &m_socket,
            [this, failed = std::move(events.failed)](QAbstractSocket::SocketError code) {
                failed(static_cast<int>(code), m_socket.errorString());
            });
    }

    void connectTo(const QString &host, quint16 port, quint16 localPort) override
    {
        if (localPort > 0)
            m_socket.bind(QHostAddress::Any, localPort);
        m_socket.connectToHost(host, port);
    }
    bool isConnected() const override
    {
        return m_socket.state() == QAbstractSocket::ConnectedState;
    }
    bool isConnecting() const override
    {
        const auto state = m_socket.state();
        return state == QAbstractSocket::HostLookupState ||
               state == QAbstractSocket::ConnectingState;
    }
    qint64 write(const QByteArray &bytes) override { return m_socket.write(bytes); }
    QByteArray readAll() override { return m_socket.readAll(); }
    void flush() override { m_socket.flush(); }
    void abort() override { m_socket.abort(); }

private:
    QTcpSocket m_socket;
};

} // namespace

TcpConnection *makeQtTcpConnection(TcpConnection::Events events)
{
    return new QtTcpConnection(std::move(events));
}
