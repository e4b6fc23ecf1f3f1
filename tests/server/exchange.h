// A client for server tests: one connection to 127.0.0.1 that sends its pieces with pauses
// between them and collects everything the server answers until the server closes, which it
// must do at once after its line.
#pragma once

#include "scoredatabase.h"

#include <QTcpSocket>
#include <QTest>

inline QByteArray exchange(quint16 port, const QList<QByteArray> &pieces, int pauseMs = 10,
                           int timeoutMs = 10000, const QHostAddress &from = {})
{
    QTcpSocket socket;
    // Another loopback address (127.0.0.2, say) stands for another host.
    if (!from.isNull())
        socket.bind(from, 0);
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; },
                         timeoutMs))
        return QByteArrayLiteral("<no connection>");
    for (const QByteArray &piece : pieces) {
        socket.write(piece);
        socket.flush();
        QTest::qWait(pauseMs);
    }
    QByteArray reply;
    const bool answered = QTest::qWaitFor(
        [&] {
            reply += socket.readAll();
            return reply.endsWith('\n') || socket.state() == QAbstractSocket::UnconnectedState;
        },
        timeoutMs);
    if (!answered)
        return reply + QByteArrayLiteral("<still open>");
    // Once its line is out, the server ends its side at once: the connection is over well before
    // the seconds it would otherwise give the peer to close.
    const bool closed = QTest::qWaitFor(
        [&] {
            reply += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        1000);
    reply += socket.readAll();
    return closed ? reply : reply + QByteArrayLiteral("<still open after the answer>");
}

// Everything the server sends on the connection until it closes it, or for timeoutMs; closed
// says which.
inline QByteArray readUntilClosed(QTcpSocket &socket, int timeoutMs, bool *closed = nullptr)
{
    QByteArray reply;
    const bool ended = QTest::qWaitFor(
        [&] {
            reply += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        timeoutMs);
    if (closed)
        *closed = ended;
    return reply + socket.readAll();
}

// The two sends the Orvane client makes.
inline QList<QByteArray> clientPieces(const QByteArray &score, const QByteArray &nickname)
{
    return {score + QByteArrayLiteral("           By ") + nickname, QByteArrayLiteral("data")};
}

// A score as the server stores it, for tests that fill a database themselves.
inline ScoreEntry storedScore(double score, const QString &nickname)
{
    ScoreEntry entry;
    entry.score = score;
    entry.scoreText = QString::number(score);
    entry.nickname = nickname;
    entry.peer = QStringLiteral("127.0.0.1:1");
    entry.submitted = QDateTime::currentDateTimeUtc();
    return entry;
}
