// Two daemons on one real PostgreSQL 15, as a board behind a load balancer runs: each sees the
// other's scores, a score is acknowledged only once committed, a restart of the database loses
// nothing acknowledged and refuses clearly meanwhile, and moderation reaches both.
#include "daemon.h"
#include "exchange.h"
#include "postgres.h"

#include <QElapsedTimer>
#include <QJsonArray>

#include <libpq-fe.h>

namespace {

// Runs SQL on the test's database; the rows of the first column of what it returns.
QStringList sql(const QString &address, const QByteArray &statement)
{
    PGconn *connection = PQconnectdb(address.toUtf8().constData());
    QStringList values;
    PGresult *result = PQexec(connection, statement.constData());
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
        values
            << QStringLiteral("<error: %1>").arg(QString::fromUtf8(PQresultErrorMessage(result)));
    for (int row = 0; row < PQntuples(result); ++row)
        values << QString::fromUtf8(PQgetvalue(result, row, 0));
    PQclear(result);
    PQfinish(connection);
    return values;
}

QStringList onDatabase(const TestPostgres &postgres)
{
    return {QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),  QStringLiteral("--port"),
            QStringLiteral("0"),        QStringLiteral("--database"), postgres.address()};
}

} // namespace

class TestPostgresBoard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void twoDaemonsShareOneBoard();
    void acknowledgedOnlyOnceCommitted();
    void restartLosesNothingAcknowledged();
    void moderationReachesEveryDaemon();

private:
    std::unique_ptr<TestPostgres> postgres;
};

void TestPostgresBoard::init()
{
    postgres = std::make_unique<TestPostgres>();
    QVERIFY2(postgres->ready(), qPrintable(postgres->error()));
}

void TestPostgresBoard::cleanup()
{
    postgres.reset();
}

// A score acknowledged by one daemon is in the other's ranks, board and replies within a second.
void TestPostgresBoard::twoDaemonsShareOneBoard()
{
    Daemon first;
    Daemon second;
    QVERIFY2(first.start(onDatabase(*postgres)), qPrintable(first.err));
    QVERIFY2(second.start(onDatabase(*postgres)), qPrintable(second.err));
    QCOMPARE(exchange(first.port, clientPieces("2", "kim")),
             QByteArray("Thanks, kim: 2 s is #1 of 1. Best: 2 s by kim.\n"));
    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(getJson(second.httpPort, "/api/top").value(u"total").toInt(), 1,
                              3000);
    qInfo("the second daemon had the first one's score after %lld ms", clock.elapsed());
    QCOMPARE(exchange(second.port, clientPieces("1", "bo")),
             QByteArray("Thanks, bo: 1 s is #1 of 2. Best: 1 s by bo.\n"));
    QTRY_COMPARE_WITH_TIMEOUT(getJson(first.httpPort, "/api/rank?score=1.5").value(u"rank").toInt(),
                              2, 3000);
    QCOMPARE(exchange(first.port, clientPieces("3", "ada")),
             QByteArray("Thanks, ada: 3 s is #3 of 3. Best: 1 s by bo.\n"));
    const QJsonArray top = getJson(second.httpPort, "/api/top").value(u"entries").toArray();
    QCOMPARE(top.size(), 2); // ada's may still be on its way: at least both earlier ones
    QCOMPARE(top[0].toObject().value(u"nickname").toString(), QStringLiteral("bo"));
}

// A transaction that fails at its commit (a deferred check refuses it) is not acknowledged: the
// client is told to try again, and the row is not there.
void TestPostgresBoard::acknowledgedOnlyOnceCommitted()
{
    Daemon daemon;
    QVERIFY2(daemon.start(onDatabase(*postgres)), qPrintable(daemon.err));
    QCOMPARE(sql(postgres->address(),
                 "CREATE FUNCTION refuse_at_commit() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                 "IF NEW.nickname = 'nocommit' THEN RAISE EXCEPTION 'refused at commit'; END IF; "
                 "RETURN NULL; END $$; CREATE CONSTRAINT TRIGGER refuse_at_commit AFTER INSERT ON "
                 "scores DEFERRABLE INITIALLY DEFERRED FOR EACH ROW EXECUTE FUNCTION "
                 "refuse_at_commit()"),
             QStringList());
    const QByteArray reply = exchange(daemon.port, clientPieces("1", "nocommit"));
    QVERIFY2(reply.startsWith("Rejected: the score could not be stored (") &&
                 reply.contains("refused at commit") &&
                 reply.endsWith("); please try again later.\n"),
             reply.constData());
    QCOMPARE(sql(postgres->address(), "SELECT COUNT(*) FROM scores"),
             QStringList{QStringLiteral("0")});
    QCOMPARE(exchange(daemon.port, clientPieces("2", "kim")).left(7), QByteArray("Thanks,"));
    QCOMPARE(getJson(daemon.httpPort, "/api/top").value(u"total").toInt(), 1);
}

// The database restarts while scores come in: those sent meanwhile are refused at once and told
// to try again, the daemon connects again by itself, and every score it thanked for is stored.
void TestPostgresBoard::restartLosesNothingAcknowledged()
{
    Daemon daemon;
    QVERIFY2(daemon.start(onDatabase(*postgres)), qPrintable(daemon.err));
    QStringList thanked;
    int refused = 0;
    const auto send = [&](int n) {
        const QByteArray name = "r" + QByteArray::number(n);
        QElapsedTimer clock;
        clock.start();
        const QByteArray reply = exchange(daemon.port, clientPieces("1.5", name), 10, 11000);
        // Within the time Orvane's window waits for an answer.
        QVERIFY2(clock.elapsed() < 11000, reply.constData());
        if (reply.startsWith("Thanks, "))
            thanked << QString::fromLatin1(name);
        else if (reply.endsWith("please try again later.\n"))
            ++refused;
        else
            QFAIL(reply.constData());
    };
    int n = 0;
    for (; n < 5; ++n)
        send(n);
    QVERIFY2(postgres->stop(), qPrintable(postgres->error()));
    for (; n < 8; ++n)
        send(n);
    QCOMPARE(refused, 3);
    QVERIFY2(postgres->start(), qPrintable(postgres->error()));
    QTRY_VERIFY_WITH_TIMEOUT((send(n++), thanked.size() >= 6), 20000);
    for (int more = 0; more < 4; ++more)
        send(n++);
    QStringList stored = sql(postgres->address(), "SELECT nickname FROM scores ORDER BY id");
    for (const QString &name : std::as_const(thanked))
        QVERIFY2(stored.contains(name), qPrintable(name + QStringLiteral(" was thanked for")));
    QCOMPARE(getJson(daemon.httpPort, "/api/top").value(u"total").toInt(), stored.size());
}

// A removal from either daemon's command line is followed by both.
void TestPostgresBoard::moderationReachesEveryDaemon()
{
    Daemon first;
    Daemon second;
    QVERIFY2(first.start(onDatabase(*postgres)), qPrintable(first.err));
    QVERIFY2(second.start(onDatabase(*postgres)), qPrintable(second.err));
    QCOMPARE(exchange(first.port, clientPieces("0.001", "cheater")).left(7), QByteArray("Thanks,"));
    QCOMPARE(exchange(second.port, clientPieces("2", "kim")).left(7), QByteArray("Thanks,"));
    for (const Daemon *daemon : {&first, &second})
        QTRY_COMPARE_WITH_TIMEOUT(getJson(daemon->httpPort, "/api/top").value(u"total").toInt(), 2,
                                  3000);

    const Finished removed =
        runToEnd({QStringLiteral("--database"), postgres->address(),
                  QStringLiteral("--remove-nickname"), QStringLiteral("cheater")});
    QCOMPARE(removed.code, 0);
    QVERIFY2(removed.out.startsWith(QStringLiteral("Removed 1 score(s) from")),
             qPrintable(removed.out));
    for (const Daemon *daemon : {&first, &second})
        QTRY_COMPARE_WITH_TIMEOUT(getJson(daemon->httpPort, "/api/top").value(u"total").toInt(), 1,
                                  3000);
    QCOMPARE(exchange(first.port, clientPieces("3", "ada")),
             QByteArray("Thanks, ada: 3 s is #2 of 2. Best: 2 s by kim.\n"));
}

QTEST_GUILESS_MAIN(TestPostgresBoard)
#include "tst_postgres.moc"
