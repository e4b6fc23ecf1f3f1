// The score daemon as a process of its own, for tests that start it: run to its end, or started
// and read back (its ports from the lines it starts with), and asked over HTTP.
#pragma once

#include "exchange.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <sys/resource.h>
#include <unistd.h>

inline const QString Program = QStringLiteral(ORVANE_SCORED);

struct Finished
{
    int code = -1;
    QString out;
    QString err;
};

inline Finished runToEnd(const QStringList &arguments)
{
    QProcess process;
    process.start(Program, arguments);
    Finished finished;
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        finished.err = QStringLiteral("<did not finish>");
        return finished;
    }
    finished.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    finished.out = QString::fromUtf8(process.readAllStandardOutput());
    finished.err = QString::fromUtf8(process.readAllStandardError());
    return finished;
}

// The daemon started as a process, its ports read from the lines it starts with. With a file
// limit, it runs under that limit for open files, hard and soft, as a unit's LimitNOFILE sets.
struct Daemon
{
    QProcess process;
    quint16 port = 0;
    quint16 reconnectPort = 0;
    quint16 httpPort = 0;
    QString err;

    bool start(const QStringList &arguments, rlim_t fileLimit = 0)
    {
        if (fileLimit != 0)
            process.setChildProcessModifier([fileLimit] {
                const rlimit limit{fileLimit, fileLimit};
                setrlimit(RLIMIT_NOFILE, &limit);
            });
        process.start(Program, arguments);
        if (!process.waitForStarted(10000))
            return false;
        const QRegularExpression started(
            QStringLiteral("listening on \\S+ ports (\\d+) and (\\d+), .*\n.*the board is on "
                           "http://[^:]+:(\\d+)/\n"));
        QRegularExpressionMatch match;
        if (!QTest::qWaitFor(
                [&] {
                    err += QString::fromUtf8(process.readAllStandardError());
                    match = started.match(err);
                    return match.hasMatch() || process.state() == QProcess::NotRunning;
                },
                10000) ||
            !match.hasMatch())
            return false;
        port = static_cast<quint16>(match.captured(1).toUInt());
        reconnectPort = static_cast<quint16>(match.captured(2).toUInt());
        httpPort = static_cast<quint16>(match.captured(3).toUInt());
        return true;
    }

    // What it wrote to standard error so far.
    QString log()
    {
        err += QString::fromUtf8(process.readAllStandardError());
        return err;
    }

    // Processor time it has used, in milliseconds.
    qint64 cpuMs() const
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(process.processId()));
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        // utime and stime are fields 14 and 15 of the whole line, 12 and 13 after the name.
        return (fields.value(11).toLongLong() + fields.value(12).toLongLong()) * 1000 /
               sysconf(_SC_CLK_TCK);
    }

    int openFiles() const
    {
        return static_cast<int>(
            QDir(QStringLiteral("/proc/%1/fd").arg(process.processId()))
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                .size());
    }

    ~Daemon()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(10000))
                process.kill();
            process.waitForFinished();
        }
    }
};

// An HTTP/1.1 GET from a loopback address; the status line, or what went wrong.
inline QByteArray httpGet(quint16 port, const QByteArray &target, int host, int timeoutMs = 5000)
{
    QTcpSocket socket;
    socket.bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(host)), 0);
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(timeoutMs))
        return "<no connection>";
    socket.write("GET " + target + " HTTP/1.1\r\nHost: board\r\nConnection: close\r\n\r\n");
    bool closed = false;
    const QByteArray reply = readUntilClosed(socket, timeoutMs, &closed);
    if (reply.isEmpty())
        return closed ? "<closed without an answer>" : "<no answer>";
    return reply.left(reply.indexOf('\r'));
}

// One figure of the daemon's /metrics page, or -1 when it is not there.
inline qint64 metricValue(quint16 port, const QByteArray &name)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return -1;
    socket.write("GET /metrics HTTP/1.1\r\nHost: board\r\nConnection: close\r\n\r\n");
    const QByteArray reply = readUntilClosed(socket, 5000);
    for (const QByteArray &line : reply.split('\n')) {
        if (line.startsWith(QByteArray(name + ' ')))
            return line.mid(name.size() + 1).trimmed().toLongLong();
    }
    return -1;
}

// The JSON an HTTP/1.1 GET answers with; empty when there is none.
inline QJsonObject getJson(quint16 port, const QByteArray &target)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write("GET " + target + " HTTP/1.1\r\nHost: board\r\nConnection: close\r\n\r\n");
    const QByteArray reply = readUntilClosed(socket, 5000);
    return QJsonDocument::fromJson(reply.mid(reply.indexOf("\r\n\r\n") + 4)).object();
}
