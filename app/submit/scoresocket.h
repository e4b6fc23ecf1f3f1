// The submission window's TCP client, with the behaviour of a socket control: set the remote
// host and port, connect asynchronously, send text, read what arrived, close in any state; data
// arrival and errors come as signals.
//
// A server that ends the connection without a word (closed or reset: the two look alike here)
// counts as an error; one that has answered may close when it likes.
//
// Unlike a bare QTcpSocket, send() fails unless the connection is established: QTcpSocket would
// buffer the bytes while still connecting and report success.
//
// The connection itself (tcpconnection.h) comes from the network module, loaded on the first
// connectToServer(), unless the program links one; a module that cannot be loaded is reported as
// an error like any failure to connect.
#pragma once

#include "submit/tcpconnection.h"

#include <QObject>

#include <memory>

class ScoreSocket : public QObject
{
    Q_OBJECT

public:
    explicit ScoreSocket(QObject *parent = nullptr);
    ~ScoreSocket() override;

    // Connections are made with make from now on, and no module is loaded.
    static void makeConnectionsWith(MakeTcpConnection make);

    void setRemoteHost(const QString &host) { m_host = host; }
    QString remoteHost() const { return m_host; }
    void setRemotePort(int port) { m_port = port; }
    int remotePort() const { return m_port; }
    void setLocalPort(int port) { m_localPort = port; }

    void connectToServer();
    bool isConnected() const;
    bool isConnecting() const;
    bool send(const QByteArray &bytes);
    QByteArray readAll();
    void close();

signals:
    void dataArrival(qint64 bytes);
    void error(int code, const QString &description);

private:
    void fail(int code, const QString &description);

    std::unique_ptr<TcpConnection> m_connection;
    QString m_host;
    int m_port = 0;
    int m_localPort = 0;
    qint64 m_received = 0;
};
