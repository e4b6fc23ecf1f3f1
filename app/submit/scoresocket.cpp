#include "submit/scoresocket.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QTimer>

namespace {

// QAbstractSocket's codes for the failures reported here, which do not come from a socket.
constexpr int RemoteHostClosedError = 1;
constexpr int UnsupportedSocketOperationError = 10;

MakeTcpConnection linkedConnections = nullptr;

// The network module beside the program (a build folder) or where it is installed; its error
// when neither loads. Loaded once, and kept for the life of the process.
MakeTcpConnection loadModule(QString *error)
{
    static MakeTcpConnection make = nullptr;
    static QString failure;
    static bool tried = false;
    if (!tried) {
        tried = true;
        const QDir programs(QCoreApplication::applicationDirPath());
        const QString name = QStringLiteral(ORVANE_TCP_MODULE);
        const QStringList places{programs.filePath(name),
                                 programs.filePath(QStringLiteral(ORVANE_MODULE_DIR "/") + name)};
        for (const QString &place : places) {
            if (!QFileInfo::exists(place))
                continue;
            QLibrary module(place);
            make = reinterpret_cast<MakeTcpConnection>(module.resolve(MakeTcpConnectionSymbol));
            if (make)
                break;
            failure = module.errorString();
        }
        if (!make && failure.isEmpty())
            failure = QStringLiteral("the network module %1 is not installed").arg(name);
    }
    *error = failure;
    return make;
}

} // namespace

void ScoreSocket::makeConnectionsWith(MakeTcpConnection make)
{
    linkedConnections = make;
}

ScoreSocket::ScoreSocket(QObject *parent) : QObject(parent) {}

ScoreSocket::~ScoreSocket()
{
    // Dropped before the members its events reach.
    m_connection.reset();
}

void ScoreSocket::fail(int code, const QString &description)
{
    if (code == RemoteHostClosedError && m_received > 0)
        return;
    emit error(code, description);
}

void ScoreSocket::connectToServer()
{
    if (m_connection)
        m_connection->abort();
    m_received = 0;
    // Reported like any other failure to connect, but after the caller has returned.
    const auto failLater = [this](const QString &description) {
        QTimer::singleShot(0, this, [this, description] {
            emit error(UnsupportedSocketOperationError, description);
        });
    };
    if (m_port <= 0 || m_port > 65535) {
        failLater(QStringLiteral("invalid port"));
        return;
    }
    if (!m_connection) {
        QString failure;
        const MakeTcpConnection make = linkedConnections ? linkedConnections : loadModule(&failure);
        if (!make) {
            failLater(failure);
            return;
        }
        TcpConnection::Events events;
        events.readable = [this](qint64 available) {
            m_received += available;
            emit dataArrival(available);
        };
        events.failed = [this](int code, const QString &description) {
            fail(code, description);
        };
        m_connection.reset(make(std::move(events)));
    }
    m_connection->connectTo(m_host, static_cast<quint16>(m_port),
                            static_cast<quint16>(qBound(0, m_localPort, 65535)));
}

bool ScoreSocket::isConnected() const
{
    return m_connection && m_connection->isConnected();
}

bool ScoreSocket::isConnecting() const
{
    return m_connection && m_connection->isConnecting();
}

bool ScoreSocket::send(const QByteArray &bytes)
{
    if (!isConnected())
        return false;
    return m_connection->write(bytes) == bytes.size();
}

QByteArray ScoreSocket::readAll()
{
    return m_connection ? m_connection->readAll() : QByteArray();
}

void ScoreSocket::close()
{
    if (!m_connection)
        return;
    // Hand what was sent to the system first; closing must never block the window.
    if (isConnected())
        m_connection->flush();
    m_connection->abort();
}
