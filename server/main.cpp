// orvane-scored: the score server that Orvane's "Submit Results" talks to.
#include "leaderboardtext.h"
#include "postgresstore.h"
#include "scoredatabase.h"
#include "scoreserver.h"
#include "serveroptions.h"
#include "webboard.h"

#include "core/version.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

extern "C" void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

int fail(const QString &message, int code = 1)
{
    print(stderr, QStringLiteral("orvane-scored: %1\n").arg(message));
    return code;
}

// Besides its connections the daemon holds a few descriptors of its own: the database and its log
// for three connections, the listening sockets, event and signal pipes, standard streams.
constexpr rlim_t OwnDescriptors = 64;

// Each connection holds a descriptor: make room for as many as the limits let be open at once,
// so that a flood of connections meets those limits and never the system's.
bool allowDescriptors(rlim_t wanted, QString *error)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return true;
    if (limit.rlim_cur >= wanted)
        return true;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted) {
        *error = QStringLiteral("these connection limits need %1 open files, and this system "
                                "allows %2; lower --max-clients")
                     .arg(wanted)
                     .arg(limit.rlim_max);
        return false;
    }
    limit.rlim_cur = wanted;
    setrlimit(RLIMIT_NOFILE, &limit);
    return true;
}

// A lock on the database file, held for the daemon's life: a second daemon on the same file is
// refused rather than left to rank only its own scores. (An flock lock: SQLite's own locks are
// of another kind and do not meet it, and a command that moderates beside the daemon does not
// take it.)
class DaemonLock
{
public:
    ~DaemonLock()
    {
        if (m_file >= 0)
            ::close(m_file);
    }
    bool take(const QString &database, QString *error)
    {
        m_file = ::open(QFile::encodeName(database).constData(), O_RDONLY | O_CLOEXEC);
        if (m_file < 0) {
            *error = QStringLiteral("cannot open %1: %2")
                         .arg(database, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        if (::flock(m_file, LOCK_EX | LOCK_NB) != 0) {
            *error = QStringLiteral("another orvane-scored already keeps the scores in '%1'")
                         .arg(database);
            return false;
        }
        return true;
    }

private:
    int m_file = -1;
};

} // namespace

int main(int argc, char *argv[])
{
    // Qt's own event dispatcher costs less per pass than GLib's with hundreds of sockets open.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvane-scored"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));

    const auto parsed = parseOptions(QCoreApplication::arguments());
    if (const auto *error = std::get_if<OptionsError>(&parsed))
        return fail(error->message + QStringLiteral("\nTry 'orvane-scored --help'."), 2);
    const ServerOptions &options = std::get<ServerOptions>(parsed);
    if (options.help) {
        print(stdout, optionsHelp());
        return 0;
    }
    if (options.version) {
        print(stdout,
              QStringLiteral("orvane-scored %1\n").arg(QCoreApplication::applicationVersion()));
        return 0;
    }

    const bool oneShot = options.top || options.removeId || options.removeNickname;
    const bool postgres = !options.postgres.isEmpty();
    // Printing or moderating the board never creates a database where there was none.
    if (oneShot && !postgres && !QFileInfo(options.database).isFile())
        return fail(QStringLiteral("cannot open the database '%1': there is no such file.")
                        .arg(options.database));
    ScoreServer::Limits limits;
    limits.maxClients = options.maxClients;
    limits.maxPerPeer = options.maxPerPeer;
    limits.maxWaiting = std::max(1, options.maxClients / 2);
    const http::Limits webLimits;
    QString error;
    // Before the database is touched, so that a refused start leaves nothing behind.
    if (!oneShot &&
        !allowDescriptors(static_cast<rlim_t>(ScoreServer::descriptorBudget(limits)) +
                              (options.httpPort != 0
                                   ? static_cast<rlim_t>(http::Server::descriptorBudget(webLimits))
                                   : 0) +
                              OwnDescriptors,
                          &error))
        return fail(error + QLatin1Char('.'));

    const bool databaseExisted = postgres || QFileInfo::exists(options.database);
    std::unique_ptr<ScoreStore> database;
    if (postgres)
        database = PostgresStore::open(options.postgres, &error);
    else
        database = ScoreDatabase::open(options.database, &error);
    const QString place = postgres ? PostgresStore::shown(options.postgres) : options.database;
    if (!database)
        return fail(QStringLiteral("cannot open the database '%1': %2.").arg(place, error));
    if (options.top) {
        print(stdout, leaderboardText(database->top(*options.top)));
        return 0;
    }
    // One daemon per file: a second one would rank only its own scores. (Daemons that share a
    // PostgreSQL database each follow the others' rows.)
    DaemonLock lock;
    if (!oneShot && !postgres && !lock.take(options.database, &error))
        return fail(error + QLatin1Char('.'));
    if (options.removeId || options.removeNickname) {
        const qint64 removed = options.removeId
                                   ? database->removeId(*options.removeId, &error)
                                   : database->removeNickname(*options.removeNickname, &error);
        if (removed < 0)
            return fail(
                QStringLiteral("cannot remove from '%1': %2.").arg(database->name(), error));
        print(
            stdout,
            QStringLiteral("Removed %1 score(s) from '%2'.\n").arg(removed).arg(database->name()));
        return 0;
    }
    auto listening = std::make_unique<ScoreServer>(*database, limits);
    const QList<quint16> ports = options.port == 0
                                     ? QList<quint16>{0, 0}
                                     : QList<quint16>{options.port, quint16(options.port + 1)};
    std::unique_ptr<WebBoard> web;
    bool started = listening->listen(options.address, ports, &error);
    if (started && options.httpPort != 0) {
        web = std::make_unique<WebBoard>(*database, listening->metrics(), listening->index(),
                                         webLimits);
        started = web->listen(options.address, static_cast<quint16>(std::max(0, options.httpPort)),
                              &error);
    }
    if (!started) {
        web.reset();
        // A start that goes no further leaves no new, empty database behind.
        listening.reset();
        database.reset();
        if (!databaseExisted) {
            for (const char *suffix : {"", "-wal", "-shm"})
                QFile::remove(options.database + QLatin1String(suffix));
        }
        return fail(error + QLatin1Char('.'));
    }
    ScoreServer &server = *listening;

    // Signals only write a byte; the event loop reads it and stops, so the last batch is
    // committed and the database closed as on any other exit.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return fail(QStringLiteral("cannot set up signal handling."));
    QSocketNotifier stopper(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopper, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action
    {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QObject::connect(&server, &ScoreServer::logLine, &server,
                     [](const QString &line) { print(stderr, line + QLatin1Char('\n')); });
    const QList<quint16> bound = server.ports();
    print(stderr, QStringLiteral("orvane-scored %1: listening on %2 ports %3 and %4, %5 scores in "
                                 "'%6'.\n")
                      .arg(QCoreApplication::applicationVersion(), addressText(options.address),
                           QString::number(bound[0]), QString::number(bound[1]),
                           QString::number(server.scoreCount()), database->name()));
    if (web)
        print(stderr,
              QStringLiteral("orvane-scored: the board is on http://%1:%2/\n")
                  .arg(options.address == QHostAddress::Any ||
                               options.address == QHostAddress::AnyIPv6
                           ? QStringLiteral("localhost")
                       : options.address.protocol() == QAbstractSocket::IPv6Protocol
                           ? QLatin1Char('[') + options.address.toString() + QLatin1Char(']')
                           : options.address.toString())
                  .arg(web->port()));

    const int code = QCoreApplication::exec();
    web.reset();
    server.shutDown(2000);
    print(stderr, QStringLiteral("orvane-scored: stopped, %1 scores in '%2'.\n")
                      .arg(database->count())
                      .arg(database->name()));
    return code;
}
