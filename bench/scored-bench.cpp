// Load on the score server over loopback: starts orvane-scored on free ports with a fresh
// database, keeps a number of connections busy (each sends one submission the way Orvane does,
// reads the answer, and is replaced by a new connection), then stops the server and checks that
// every acknowledged submission is in the database. Prints throughput, reply times and the
// largest size the database's log reached. The connections come from 64 loopback addresses.
// With --readers N, N more clients read the web board's /api/top?limit=50 over and over, on
// connections they keep open, while the submissions go on; their rate and times are printed too.
// With --slow N it measures twice, on a fresh server each time: as above, then with N slow
// connections on each port beside the load (submissions that send their score and a nickname
// byte now and then, and web requests whose head comes a line at a time), opened again whenever
// the server closes them, from eight addresses of their own.
//
//   scored-bench SERVER [--connections 256] [--seconds 10] [--readers 0] [--slow 0]
//                       [--folder DIR]

#include "postgres.h"
#include "postgresstore.h"
#include "scoredatabase.h"

#include "core/scoreprotocol.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QRandomGenerator>
#include <QString>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

struct Slot
{
    int fd = -1;
    bool connected = false;
    std::string reply;
    Clock::time_point opened;
    Clock::time_point sent;
};

struct Totals
{
    long acknowledged = 0;
    long rejected = 0;
    long failed = 0;             // connection errors or answers cut off
    std::vector<double> replyMs; // last byte sent to answer received
    std::vector<double> roundMs; // connect to answer received
};

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

[[noreturn]] void die(const char *what)
{
    std::fprintf(stderr, "scored-bench: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

// Starts the server with its log going to a file and returns its pid, its first port and the
// web board's.
pid_t startServer(const std::string &program, const std::string &db, const std::string &log,
                  int clients, int *port, int *webPort, bool largeBoard = false,
                  const std::string &postgres = {})
{
    const pid_t pid = fork();
    if (pid < 0)
        die("fork");
    if (pid == 0) {
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDERR_FILENO);
        const std::string count = std::to_string(clients);
        if (postgres.empty())
            execl(program.c_str(), program.c_str(), "--listen", "127.0.0.1", "--port", "0", "--db",
                  db.c_str(), "--max-clients", count.c_str(), static_cast<char *>(nullptr));
        else
            execl(program.c_str(), program.c_str(), "--listen", "127.0.0.1", "--port", "0",
                  "--database", postgres.c_str(), "--max-clients", count.c_str(),
                  static_cast<char *>(nullptr));
        _exit(127);
    }
    // A large board takes a while to load.
    for (int attempt = 0; attempt < (largeBoard ? 2400 : 200); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        if (FILE *file = std::fopen(log.c_str(), "r")) {
            char line[512] = {};
            char web[512] = {};
            const bool read = std::fgets(line, sizeof line, file) != nullptr &&
                              std::fgets(web, sizeof web, file) != nullptr;
            std::fclose(file);
            const char *ports = read ? std::strstr(line, " ports ") : nullptr;
            const char *board = read ? std::strstr(web, "http://127.0.0.1:") : nullptr;
            if (ports && board && std::strchr(web, '\n')) {
                *port = std::atoi(ports + 7);
                *webPort = std::atoi(board + 17);
                return pid;
            }
        }
    }
    std::fprintf(stderr, "scored-bench: the server did not start (see %s)\n", log.c_str());
    kill(pid, SIGKILL);
    std::exit(1);
}

struct Reads
{
    long answered = 0;
    long failed = 0;
    std::vector<double> ms; // request sent to whole answer read
};

// Clients of the web board, each on one kept-open connection: a request, the whole answer, the
// next request, until the end of the load. A connection the server closes is opened again.
Reads readBoard(int readers, int webPort, Clock::time_point end,
                const std::string &target = "/api/top?limit=50")
{
    Reads reads;
    struct Reader
    {
        int fd = -1;
        bool connected = false;
        std::string in;
        Clock::time_point sent;
    };
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(webPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<Reader> pool(static_cast<std::size_t>(readers));
    const auto open = [&](std::size_t index) {
        Reader &reader = pool[index];
        reader = Reader();
        reader.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        // From 16 addresses of their own, as many people's browsers would be.
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(0x7f000200u + 1 + static_cast<uint32_t>(index % 16));
        if (bind(reader.fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0)
            std::perror("bind");
        // Non-blocking: the connection completes, or fails, in the loop below.
        (void)connect(reader.fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        epoll_event event{};
        event.events = EPOLLOUT | EPOLLIN | EPOLLRDHUP;
        event.data.u64 = index;
        epoll_ctl(epoll, EPOLL_CTL_ADD, reader.fd, &event);
    };
    const auto ask = [&](Reader &reader) {
        reader.sent = Clock::now();
        send(reader.fd, request.data(), request.size(), MSG_NOSIGNAL);
    };
    for (std::size_t i = 0; i < pool.size(); ++i)
        open(i);
    std::vector<epoll_event> events(pool.size());
    while (Clock::now() < end) {
        const int ready = epoll_wait(epoll, events.data(), static_cast<int>(events.size()), 50);
        const Clock::time_point now = Clock::now();
        for (int e = 0; e < ready; ++e) {
            const std::size_t index = events[static_cast<std::size_t>(e)].data.u64;
            const uint32_t flags = events[static_cast<std::size_t>(e)].events;
            Reader &reader = pool[index];
            if (!reader.connected && (flags & EPOLLOUT)) {
                reader.connected = true;
                epoll_event event{};
                event.events = EPOLLIN | EPOLLRDHUP;
                event.data.u64 = index;
                epoll_ctl(epoll, EPOLL_CTL_MOD, reader.fd, &event);
                ask(reader);
                continue;
            }
            char buffer[16384];
            ssize_t got = 0;
            while ((got = recv(reader.fd, buffer, sizeof buffer, 0)) > 0)
                reader.in.append(buffer, static_cast<std::size_t>(got));
            // Whole answers: the headers, then as many bytes as Content-Length says.
            for (;;) {
                const std::size_t headers = reader.in.find("\r\n\r\n");
                if (headers == std::string::npos)
                    break;
                const std::size_t field = reader.in.find("Content-Length: ");
                if (field == std::string::npos || field > headers)
                    break;
                const std::size_t size = std::strtoul(reader.in.c_str() + field + 16, nullptr, 10);
                if (reader.in.size() < headers + 4 + size)
                    break;
                if (reader.in.rfind("HTTP/1.1 200", 0) == 0)
                    ++reads.answered;
                else
                    ++reads.failed;
                reads.ms.push_back(millisecondsBetween(reader.sent, now));
                reader.in.erase(0, headers + 4 + size);
                ask(reader);
            }
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                if (!reader.in.empty())
                    ++reads.failed;
                epoll_ctl(epoll, EPOLL_CTL_DEL, reader.fd, nullptr);
                close(reader.fd);
                open(index);
            }
        }
    }
    for (Reader &reader : pool)
        close(reader.fd);
    close(epoll);
    return reads;
}

// Connections that hold a place as long as the server lets them: on the submission port a score
// and the separator, then a nickname byte every 5 s; on the web port a request line, then a
// header line every 2 s. Each one the server closes is opened again at once.
void holdSlowly(int slow, int port, int webPort, const std::atomic<bool> &stop)
{
    struct Slow
    {
        int fd = -1;
        bool web = false;
        Clock::time_point next;
        int sent = 0;
    };
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    std::vector<Slow> pool(static_cast<std::size_t>(slow) * 2);
    const auto open = [&](std::size_t index) {
        Slow &one = pool[index];
        one.web = index % 2 == 1;
        one.sent = 0;
        one.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(0x7f000100u + 1 + static_cast<uint32_t>(index / 2 % 8));
        if (bind(one.fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0)
            std::perror("bind");
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(one.web ? webPort : port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        (void)connect(one.fd, reinterpret_cast<sockaddr *>(&to), sizeof to); // completes later
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.u64 = index;
        epoll_ctl(epoll, EPOLL_CTL_ADD, one.fd, &event);
        one.next = Clock::now() + std::chrono::milliseconds(50);
    };
    for (std::size_t i = 0; i < pool.size(); ++i)
        open(i);
    std::vector<epoll_event> events(pool.size());
    while (!stop) {
        const int ready = epoll_wait(epoll, events.data(), static_cast<int>(events.size()), 50);
        for (int e = 0; e < ready; ++e) {
            const std::size_t index = events[static_cast<std::size_t>(e)].data.u64;
            char buffer[4096];
            ssize_t got = 0;
            while ((got = recv(pool[index].fd, buffer, sizeof buffer, 0)) > 0) {
            }
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                epoll_ctl(epoll, EPOLL_CTL_DEL, pool[index].fd, nullptr);
                close(pool[index].fd);
                open(index);
            }
        }
        const Clock::time_point now = Clock::now();
        for (Slow &one : pool) {
            if (now < one.next)
                continue;
            std::string piece;
            if (one.web)
                piece = one.sent == 0 ? "GET /api/top HTTP/1.1\r\n" : "X-Slow: yes\r\n";
            else
                piece = one.sent == 0 ? std::string("1.5") + ScoreProtocol::Separator
                                      : std::string(1, static_cast<char>('a' + one.sent % 26));
            send(one.fd, piece.data(), piece.size(), MSG_NOSIGNAL);
            ++one.sent;
            one.next = now + std::chrono::milliseconds(one.web ? 2000 : 5000);
        }
    }
    for (const Slow &one : pool)
        close(one.fd);
    close(epoll);
}

struct Measured
{
    double submissionP99 = 0;
    double webP99 = 0;
    bool consistent = false;
    double thankedPerSecond = 0;
};

// What one run measures besides the submissions: the board it starts on, and what its readers
// ask for.
struct Board
{
    qint64 rows = 0;
    std::string readTarget = "/api/top?limit=50";
    std::string postgres; // daemons on this PostgreSQL database rather than an SQLite file
    int daemons = 1;
};

Measured measure(const std::string &program, const QString &folder, int connections, int readers,
                 double seconds, int slow, const Board &board = {});

// A board of this many rows, made before the server starts: random scores, one nickname a row.
void buildBoard(const std::string &db, qint64 rows)
{
    for (const char *suffix : {"", "-wal", "-shm"})
        std::remove((db + suffix).c_str());
    QString error;
    const auto database = ScoreDatabase::open(QString::fromStdString(db), &error);
    if (!database) {
        std::fprintf(stderr, "scored-bench: %s\n", qPrintable(error));
        std::exit(1);
    }
    QRandomGenerator random(7);
    const QDateTime when = QDateTime::currentDateTimeUtc();
    for (qint64 done = 0; done < rows;) {
        std::vector<ScoreEntry> batch;
        for (; batch.size() < 20000 && done < rows; ++done) {
            ScoreEntry entry;
            entry.score = static_cast<double>(random.bounded(10000, 3000000)) / 10000.0;
            entry.scoreText = QString::number(entry.score);
            entry.nickname = QStringLiteral("p%1").arg(done);
            entry.peer = QStringLiteral("127.0.0.1:1");
            entry.submitted = when;
            batch.push_back(entry);
        }
        if (!database->add(batch, &error)) {
            std::fprintf(stderr, "scored-bench: %s\n", qPrintable(error));
            std::exit(1);
        }
    }
}

// Each web route read over and over by 32 clients on kept-open connections, one route after
// another, on a board of the given size.
void measureRoutes(const std::string &program, const QString &folder, qint64 rows, double seconds)
{
    QDir().mkpath(folder);
    const std::string db = QString(folder + QStringLiteral("/scores.db")).toStdString();
    const std::string log = QString(folder + QStringLiteral("/server.log")).toStdString();
    buildBoard(db, rows);
    int port = 0;
    int webPort = 0;
    const pid_t server = startServer(program, db, log, 256, &port, &webPort, true);
    const std::string deep = "/api/top?limit=50&offset=" + std::to_string(rows / 2);
    std::printf("The web board on %lld rows, 32 readers on kept-open connections, %.0f s a route\n",
                static_cast<long long>(rows), seconds);
    std::printf("  %-40s %12s %10s %10s\n", "route", "answers/s", "p50 ms", "p99 ms");
    for (const std::string &route :
         {std::string("/api/top?limit=50"), deep, std::string("/api/player?name=p123"),
          std::string("/api/rank?score=150"), std::string("/metrics"), std::string("/board.js")}) {
        const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(seconds));
        const Reads reads = readBoard(32, webPort, end, route);
        std::printf("  %-40s %12.0f %10.2f %10.2f%s\n", route.c_str(),
                    static_cast<double>(reads.answered) / seconds, percentile(reads.ms, 0.5),
                    percentile(reads.ms, 0.99),
                    reads.failed ? (" (" + std::to_string(reads.failed) + " failed)").c_str() : "");
    }
    kill(server, SIGTERM);
    int status = 0;
    waitpid(server, &status, 0);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const char *const usage =
        "usage: scored-bench SERVER [--connections N] [--seconds S] "
        "[--readers R] [--slow N] [--rows N] [--folder DIR]\n"
        "Starts the orvane-scored program SERVER on free ports of "
        "127.0.0.1, loads it with N\nconnections (default 256) for S "
        "seconds (default 10), and R readers of its web board\n(default "
        "0), and prints what it measured. With --slow N, measures again "
        "beside N slow\nconnections on each port. With --rows N, on a board "
        "of N rows: every web route's\nanswers per second and times, then "
        "the submissions without readers and beside 16\nreaders of a deep "
        "page. With --postgres, on a PostgreSQL of its own, one daemon and then "
        "two.\n";
    std::string program;
    int connections = 256;
    int readers = 0;
    int slow = 0;
    qint64 rows = 0;
    bool postgres = false;
    double seconds = 10;
    QString folder = QDir::currentPath() + QStringLiteral("/scored-bench");
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--help" || argument == "-h") {
            std::printf("%s", usage);
            return 0;
        }
        if (argument == "--connections" && hasValue) {
            connections = std::clamp(std::atoi(argv[++i]), 1, 4096);
        } else if (argument == "--slow" && hasValue) {
            slow = std::clamp(std::atoi(argv[++i]), 0, 4096);
        } else if (argument == "--postgres") {
            postgres = true;
        } else if (argument == "--rows" && hasValue) {
            rows = std::clamp<qint64>(std::atoll(argv[++i]), 0, 10000000);
        } else if (argument == "--readers" && hasValue) {
            readers = std::clamp(std::atoi(argv[++i]), 0, 1024);
        } else if (argument == "--seconds" && hasValue) {
            seconds = std::clamp(std::atof(argv[++i]), 1.0, 120.0);
        } else if (argument == "--folder" && hasValue) {
            folder = QString::fromLocal8Bit(argv[++i]);
        } else if (argument.rfind('-', 0) != 0 && program.empty()) {
            program = argument;
        } else {
            std::fprintf(stderr, "scored-bench: unknown or incomplete option %s\n%s",
                         argument.c_str(), usage);
            return 2;
        }
    }
    if (program.empty()) {
        std::fprintf(stderr, "%s", usage);
        return 2;
    }
    // The whole run is bounded: load, a drain of at most 10 s, and the server's exit, once or
    // twice; with a large board, its making too, and six routes.
    alarm(static_cast<unsigned>((seconds + 60) * (slow > 0 || rows > 0 ? 2 : 1) +
                                (rows > 0 ? 8 * seconds + 600 : 0)));
    std::signal(SIGPIPE, SIG_IGN);
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::max<rlim_t>(files.rlim_cur, std::min<rlim_t>(files.rlim_max, 8192));
    setrlimit(RLIMIT_NOFILE, &files);
    if (postgres) {
        // A PostgreSQL 15 of its own, one daemon on it and then two.
        TestPostgres database;
        if (!database.ready()) {
            std::fprintf(stderr, "scored-bench: %s\n", qPrintable(database.error()));
            return 1;
        }
        Board one;
        one.postgres = database.address().toStdString();
        Board two = one;
        two.daemons = 2;
        const Measured alone = measure(program, folder, connections, 0, seconds, 0, one);
        std::printf("\n");
        const Measured both = measure(program, folder, connections, 0, seconds, 0, two);
        std::printf("\nOn PostgreSQL: %.0f thanked a second with one daemon, %.0f with two\n",
                    alone.thankedPerSecond, both.thankedPerSecond);
        return alone.consistent && both.consistent ? 0 : 1;
    }
    if (rows > 0) {
        measureRoutes(program, folder, rows, seconds);
        Board largeBoard;
        largeBoard.rows = rows;
        std::printf("\n");
        const Measured alone = measure(program, folder, connections, 0, seconds, 0, largeBoard);
        std::printf("\n");
        Board deep = largeBoard;
        deep.readTarget = "/api/top?limit=50&offset=" + std::to_string(rows / 2);
        const Measured read = measure(program, folder, connections, 16, seconds, 0, deep);
        std::printf("\nSubmission p99 beside 16 readers of a deep page: %.1f ms, %.2f times the "
                    "%.1f ms without them\n",
                    read.submissionP99, read.submissionP99 / alone.submissionP99,
                    alone.submissionP99);
        return alone.consistent && read.consistent ? 0 : 1;
    }
    const Measured plain = measure(program, folder, connections, readers, seconds, 0);
    if (slow == 0)
        return plain.consistent ? 0 : 1;
    std::printf("\n");
    const Measured slowed = measure(program, folder, connections, readers, seconds, slow);
    std::printf("\nWith %d slow connections on each port: submission p99 %.1f ms (%.1f without)",
                slow, slowed.submissionP99, plain.submissionP99);
    if (readers > 0)
        std::printf(", web p99 %.1f ms (%.1f without)", slowed.webP99, plain.webP99);
    std::printf("\n");
    return plain.consistent && slowed.consistent ? 0 : 1;
}

namespace {

Measured measure(const std::string &program, const QString &folder, int connections, int readers,
                 double seconds, int slow, const Board &board)
{
    QDir().mkpath(folder);
    const std::string db = QString(folder + QStringLiteral("/scores.db")).toStdString();
    const std::string log = QString(folder + QStringLiteral("/server.log")).toStdString();
    for (const char *suffix : {"", "-wal", "-shm"})
        std::remove((db + suffix).c_str());
    if (board.rows > 0)
        buildBoard(db, board.rows);
    // Every daemon's submission port; the load's connections take them in turn, as a balancer
    // in front of them would.
    std::vector<pid_t> servers;
    std::vector<int> ports;
    int port = 0;
    int webPort = 0;
    for (int d = 0; d < board.daemons; ++d) {
        servers.push_back(startServer(program, db, log + std::to_string(d), connections, &port,
                                      &webPort, board.rows > 0, board.postgres));
        ports.push_back(port);
    }
    qint64 storedBefore = board.rows;
    if (!board.postgres.empty()) {
        QString error;
        const auto before = PostgresStore::open(QString::fromStdString(board.postgres), &error);
        if (!before) {
            std::fprintf(stderr, "scored-bench: %s\n", qPrintable(error));
            std::exit(1);
        }
        storedBefore = before->count();
    }

    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    if (epoll < 0)
        die("epoll_create1");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    std::vector<Slot> pool(static_cast<std::size_t>(connections));
    Totals totals;
    long started = 0;
    bool loading = true;

    const auto open = [&](std::size_t index) {
        Slot &slot = pool[index];
        slot = Slot();
        slot.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (slot.fd < 0)
            die("socket");
        // Many hosts, as at a club or a LAN party: each connection comes from one of 64
        // loopback addresses, since the server reads only so many from one address at a time.
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1 + static_cast<uint32_t>(index % 64));
        if (bind(slot.fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0)
            die("bind");
        slot.opened = Clock::now();
        address.sin_port = htons(static_cast<uint16_t>(ports[index % ports.size()]));
        if (connect(slot.fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 &&
            errno != EINPROGRESS)
            die("connect");
        epoll_event event{};
        event.events = EPOLLOUT | EPOLLIN | EPOLLRDHUP;
        event.data.u64 = index;
        epoll_ctl(epoll, EPOLL_CTL_ADD, slot.fd, &event);
        ++started;
    };
    // Readiness is stamped when epoll reports it: the answer had arrived by then, so the times
    // are never shorter than the truth, and the work on other connections of the same batch
    // does not lengthen them.
    Clock::time_point now;
    const auto finish = [&](std::size_t index, bool ok) {
        Slot &slot = pool[index];
        if (!ok || slot.reply.empty() || slot.reply.back() != '\n')
            ++totals.failed;
        else if (slot.reply.rfind("Thanks, ", 0) == 0)
            ++totals.acknowledged;
        else
            ++totals.rejected;
        if (ok && slot.connected) {
            totals.replyMs.push_back(millisecondsBetween(slot.sent, now));
            totals.roundMs.push_back(millisecondsBetween(slot.opened, now));
        }
        epoll_ctl(epoll, EPOLL_CTL_DEL, slot.fd, nullptr);
        close(slot.fd);
        slot.fd = -1;
        if (loading)
            open(index);
    };

    const Clock::time_point begin = Clock::now();
    const auto loadEnd =
        begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    Reads reads;
    std::thread readerThread;
    if (readers > 0)
        readerThread =
            std::thread([&] { reads = readBoard(readers, webPort, loadEnd, board.readTarget); });
    std::atomic<bool> slowStop{false};
    std::thread slowThread;
    if (slow > 0)
        slowThread = std::thread([&] { holdSlowly(slow, port, webPort, slowStop); });
    // Clients do not all arrive in the same instant: the connections open one after another
    // over the first 100 ms, then each is replaced as soon as it is answered.
    std::size_t ramped = 0;
    std::vector<epoll_event> events(pool.size());
    long open_ = static_cast<long>(pool.size());
    const Clock::time_point drainEnd = loadEnd + std::chrono::seconds(10);
    const std::string logFile = db + "-wal";
    long long longestLog = 0;
    Clock::time_point lastLogLook;
    while (open_ > 0 && Clock::now() < drainEnd) {
        now = Clock::now();
        if (now - lastLogLook > std::chrono::milliseconds(20)) {
            lastLogLook = now;
            struct stat info
            {};
            if (stat(logFile.c_str(), &info) == 0)
                longestLog = std::max<long long>(longestLog, info.st_size);
        }
        if (loading && now >= loadEnd)
            loading = false;
        const auto due = std::min(
            pool.size(), static_cast<std::size_t>(millisecondsBetween(begin, now) *
                                                  static_cast<double>(pool.size()) / 100.0) +
                             1);
        while (ramped < due)
            open(ramped++);
        const int ready = epoll_wait(epoll, events.data(), static_cast<int>(events.size()),
                                     ramped < pool.size() ? 1 : 50);
        now = Clock::now();
        for (int e = 0; e < ready; ++e) {
            const std::size_t index = events[static_cast<std::size_t>(e)].data.u64;
            const uint32_t flags = events[static_cast<std::size_t>(e)].events;
            Slot &slot = pool[index];
            if (slot.fd < 0)
                continue;
            if (!slot.connected && (flags & EPOLLOUT)) {
                int error = 0;
                socklen_t length = sizeof error;
                getsockopt(slot.fd, SOL_SOCKET, SO_ERROR, &error, &length);
                if (error != 0) {
                    finish(index, false);
                    if (!loading)
                        --open_;
                    continue;
                }
                slot.connected = true;
                // The client's two sends: the score and nickname, then "data".
                char message[64];
                const int size =
                    std::snprintf(message, sizeof message, "%ld.%04ld%sb%ld", 1 + started % 3,
                                  started % 10000, ScoreProtocol::Separator, started % 100000);
                slot.sent = Clock::now();
                send(slot.fd, message, static_cast<std::size_t>(size), MSG_NOSIGNAL);
                send(slot.fd, ScoreProtocol::EndMarker, std::strlen(ScoreProtocol::EndMarker),
                     MSG_NOSIGNAL);
                epoll_event event{};
                event.events = EPOLLIN | EPOLLRDHUP;
                event.data.u64 = index;
                epoll_ctl(epoll, EPOLL_CTL_MOD, slot.fd, &event);
            }
            if (flags & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
                char buffer[512];
                ssize_t got = 0;
                bool ended = false;
                while ((got = recv(slot.fd, buffer, sizeof buffer, 0)) > 0)
                    slot.reply.append(buffer, static_cast<std::size_t>(got));
                if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                    ended = true;
                if (ended) {
                    finish(index, got == 0);
                    if (!loading)
                        --open_;
                }
            }
        }
    }
    const double elapsed = millisecondsBetween(begin, Clock::now()) / 1000.0;
    const long unfinished = open_;
    if (readerThread.joinable())
        readerThread.join();
    slowStop = true;
    if (slowThread.joinable())
        slowThread.join();

    int status = 0;
    for (const pid_t server : servers) {
        kill(server, SIGTERM);
        waitpid(server, &status, 0);
    }
    QString error;
    std::unique_ptr<ScoreStore> database;
    if (board.postgres.empty())
        database = ScoreDatabase::open(QString::fromStdString(db), &error);
    else
        database = PostgresStore::open(QString::fromStdString(board.postgres), &error);
    const long stored = database ? static_cast<long>(database->count() - storedBefore) : -1;

    std::printf(
        "orvane-scored%s under load: %d connections, %.1f s of load on 127.0.0.1%s\n",
        board.postgres.empty()
            ? ""
            : (" (" + std::to_string(board.daemons) + " daemon(s) on PostgreSQL)").c_str(),
        connections, seconds,
        slow > 0 ? (", beside " + std::to_string(slow) + " slow connections on each port").c_str()
                 : "");
    std::printf("  connections opened   %ld\n", started);
    std::printf("  acknowledged         %ld (%.0f per second over %.2f s)\n", totals.acknowledged,
                static_cast<double>(totals.acknowledged) / elapsed, elapsed);
    std::printf("  rejected             %ld\n", totals.rejected);
    std::printf("  failed or unfinished %ld + %ld\n", totals.failed, unfinished);
    std::printf("  reply time, ms       p50 %.1f  p90 %.1f  p99 %.1f  max %.1f (last byte sent "
                "to answer)\n",
                percentile(totals.replyMs, 0.5), percentile(totals.replyMs, 0.9),
                percentile(totals.replyMs, 0.99), percentile(totals.replyMs, 1.0));
    std::printf("  round trip, ms       p50 %.1f  p99 %.1f (connect to answer)\n",
                percentile(totals.roundMs, 0.5), percentile(totals.roundMs, 0.99));
    if (board.postgres.empty())
        std::printf("  largest log          %.1f MB (the database's write-ahead log during the "
                    "run)\n",
                    static_cast<double>(longestLog) / (1024.0 * 1024.0));
    if (readers > 0)
        std::printf("  web board readers    %d: %.0f answers per second, p50 %.1f ms  p99 %.1f "
                    "ms, %ld failed\n",
                    readers, static_cast<double>(reads.answered) / seconds,
                    percentile(reads.ms, 0.5), percentile(reads.ms, 0.99), reads.failed);
    std::printf("  server exit          %s %d\n", WIFEXITED(status) ? "code" : "signal",
                WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
    std::printf("  in the database      %ld (%s)\n", stored,
                stored == totals.acknowledged ? "equals the acknowledged count"
                                              : "DIFFERS from the acknowledged count");
    return {percentile(totals.replyMs, 0.99), percentile(reads.ms, 0.99),
            stored == totals.acknowledged, static_cast<double>(totals.acknowledged) / elapsed};
}

} // namespace
