// The TCP connection under the submission client: the one piece of it that needs Qt Network.
//
// The desktop program loads it from a module when it first connects, so that Qt Network and
// the libraries it brings (Kerberos, the proxy resolver) are not loaded while the window starts;
// programs without a window link it and say so with useLinkedTcpConnections().
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class TcpConnection
{
public:
    struct Events
    {
        // Bytes arrived; how many are waiting to be read.
        std::function<void(qint64 available)> readable;
        // The connection failed or was ended by the peer (a QAbstractSocket::SocketError).
        std::function<void(int code, const QString &description)> failed;
    };

    virtual ~TcpConnection() = default;

    // Connects asynchronously; localPort 0 lets the system choose.
    virtual void connectTo(const QString &host, quint16 port, quint16 localPort) = 0;
    virtual bool isConnected() const = 0;
    virtual bool isConnecting() const = 0;
    // Queues bytes for sending; how many were taken, -1 on failure.
    virtual qint64 write(const QByteArray &bytes) = 0;
    virtual QByteArray readAll() = 0;
    // Hands what is queued to the system without waiting.
    virtual void flush() = 0;
    // Drops the connection in any state, without a signal.
    virtual void abort() = 0;
};

// What a module exports, under the name below, and what a linked implementation provides.
using MakeTcpConnection = TcpConnection *(*)(TcpConnection::Events events);
inline constexpr char MakeTcpConnectionSymbol[] = "orvane_make_tcp_connection";

// A connection made with Qt Network, for programs that link it (the orvane_tcp library).
TcpConnection *makeQtTcpConnection(TcpConnection::Events events);
// Makes every score socket of this program use makeQtTcpConnection.
void useLinkedTcpConnections();
