// A PostgreSQL 15 server of the test's own: initdb into a temporary folder, listening only on a
// Unix socket there, run as an unprivileged user when the test runs as root (PostgreSQL refuses
// root), stopped when the object goes.
#pragma once

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <grp.h>
#include <unistd.h>

class TestPostgres
{
public:
    static constexpr uid_t Nobody = 65534;

    TestPostgres()
    {
        m_dir.setAutoRemove(true);
        if (::geteuid() == 0) {
            [[maybe_unused]] const int changed =
                ::chown(QFile::encodeName(m_dir.path()).constData(), Nobody, Nobody);
        }
        m_port = 20000 + static_cast<int>(::getpid() % 20000);
        const QString data = m_dir.filePath(QStringLiteral("data"));
        m_ready = run(QStringLiteral("initdb"),
                      {QStringLiteral("-D"), data, QStringLiteral("-U"), QStringLiteral("orvane"),
                       QStringLiteral("--auth=trust")}) &&
                  start();
    }

    ~TestPostgres()
    {
        run(QStringLiteral("pg_ctl"),
            {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("-m"),
             QStringLiteral("immediate"), QStringLiteral("stop")});
    }

    bool ready() const { return m_ready; }
    QString error() const { return m_error; }
    QString address() const
    {
        return QStringLiteral("postgresql:///postgres?host=%1&port=%2&user=orvane")
            .arg(m_dir.path())
            .arg(m_port);
    }

    bool start()
    {
        return run(
            QStringLiteral("pg_ctl"),
            {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("-o"),
             QStringLiteral("-k %1 -c listen_addresses='' -p %2").arg(m_dir.path()).arg(m_port),
             QStringLiteral("-l"), m_dir.filePath(QStringLiteral("log")), QStringLiteral("-w"),
             QStringLiteral("start")});
    }

    bool stop()
    {
        return run(QStringLiteral("pg_ctl"),
                   {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")),
                    QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"),
                    QStringLiteral("stop")});
    }

private:
    bool run(const QString &tool, const QStringList &arguments)
    {
        QProcess process;
        if (::geteuid() == 0)
            process.setChildProcessModifier([] {
                ::setgroups(0, nullptr);
                [[maybe_unused]] const int group = ::setgid(Nobody);
                [[maybe_unused]] const int user = ::setuid(Nobody);
            });
        process.setWorkingDirectory(m_dir.path());
        process.start(QStringLiteral("/usr/lib/postgresql/15/bin/") + tool, arguments);
        if (!process.waitForFinished(60000) || process.exitCode() != 0) {
            m_error = tool + QStringLiteral(": ") +
                      QString::fromLocal8Bit(process.readAllStandardError() +
                                             process.readAllStandardOutput());
            return false;
        }
        return true;
    }

    QTemporaryDir m_dir;
    int m_port = 0;
    bool m_ready = false;
    QString m_error;
};
