#include "leaderboardtext.h"
#include "scoredatabase.h"
#include "scoreindex.h"
#include "serveroptions.h"
#include "submission.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>

using namespace submission;

namespace {
QStringList words(std::initializer_list<const char *> list)
{
    QStringList result;
    for (const char *word : list)
        result << QString::fromUtf8(word);
    return result;
}
} // namespace

class TestSubmission : public QObject
{
    Q_OBJECT

private slots:
    void verdict_data();
    void verdict();
    void everyPrefixOfASubmissionIsOnItsWay_data();
    void everyPrefixOfASubmissionIsOnItsWay();
    void hopelessBytesAreKnownAtOnce_data();
    void hopelessBytesAreKnownAtOnce();
    void ranksMatchCounting_data();
    void ranksMatchCounting();
    void options_data();
    void options();
    void badOptions_data();
    void badOptions();
    void leaderboardSharesPlaces();
    void boardPlaces_data();
    void boardPlaces();
};

void TestSubmission::verdict_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("text"); // score text and nickname, or the reason

    QTest::newRow("the client's bytes")
        << QByteArray("1.6539           By anonymousdata") << true << "1.6539|anonymous";
    QTest::newRow("comma decimal")
        << QByteArray("1,6539           By kimdata") << true << "1.6539|kim";
    QTest::newRow("whole seconds") << QByteArray("12           By kimdata") << true << "12|kim";
    QTest::newRow("zero") << QByteArray("0           By kimdata") << true << "0|kim";
    QTest::newRow("the highest score")
        << QByteArray("100000           By kimdata") << true << "100000|kim";
    QTest::newRow("no leading digit") << QByteArray(",5           By kimdata") << true << ".5|kim";
    QTest::newRow("nickname ending in data")
        << QByteArray("2.5           By kimdatadata") << true << "2.5|kimdata";
    QTest::newRow("nickname data") << QByteArray("2.5           By datadata") << true << "2.5|data";
    QTest::newRow("ten characters")
        << QByteArray("2.5           By abcdefghijdata") << true << "2.5|abcdefghij";
    QTest::newRow("ten characters of two bytes each")
        << QStringLiteral("2.5           By éééééééééédata").toUtf8() << true
        << QStringLiteral("2.5|éééééééééé");
    QTest::newRow("blanks inside the nickname")
        << QByteArray("2.5           By a b cdata") << true << "2.5|a b c";
    // A blank at either end would make one nickname pass for another on the board.
    QTest::newRow("a nickname like the separator")
        << QByteArray("2.5           By By data") << false
        << "the nickname begins or ends with a blank.";
    QTest::newRow("trailing blank") << QByteArray("2.5           By kim data") << false
                                    << "the nickname begins or ends with a blank.";
    QTest::newRow("leading blank") << QByteArray("2.5           By  kimdata") << false
                                   << "the nickname begins or ends with a blank.";
    QTest::newRow("only blanks") << QByteArray("2.5           By    data") << false
                                 << "the nickname begins or ends with a blank.";

    QTest::newRow("sixteen characters of score")
        << QByteArray("0000000000001.25           By kimdata") << true << "0000000000001.25|kim";
    QTest::newRow("the highest, with zero decimals")
        << QByteArray("100000.000000000           By kimdata") << true << "100000.000000000|kim";
    QTest::newRow("letters of other scripts")
        << QStringLiteral("2.5           By Ωмир漢字data").toUtf8() << true
        << QStringLiteral("2.5|Ωмир漢字");

    QTest::newRow("nothing") << QByteArray() << false << "nothing was sent.";
    QTest::newRow("three hundred digits") << QByteArray(300, '0') + "1           By kimdata"
                                          << false << "the score is longer than 16 characters.";
    QTest::newRow("seventeen characters of score")
        << QByteArray("00000000000001.25           By kimdata") << false
        << "the score is longer than 16 characters.";
    QTest::newRow("above the highest in the last decimal")
        << QByteArray("100000.000000001           By kimdata") << false
        << "the score is above 100000 seconds; it must be from 0 to 100000 seconds.";
    QTest::newRow("above the highest, leading zero")
        << QByteArray("0100001           By kimdata") << false
        << "the score is above 100000 seconds; it must be from 0 to 100000 seconds.";
    const auto lookalike = [](const char *name, const QString &nickname) {
        QTest::newRow(name)
            << (QStringLiteral("2.5           By ") + nickname + QStringLiteral("data")).toUtf8()
            << false << QStringLiteral("the nickname holds invisible or formatting characters.");
    };
    lookalike("right-to-left override", QStringLiteral("\u202Emik"));
    lookalike("left-to-right isolate", QStringLiteral("\u2066kim\u2069"));
    lookalike("zero-width space", QStringLiteral("k\u200Bim"));
    lookalike("zero-width joiner", QStringLiteral("ki\u200Dm"));
    lookalike("byte-order mark", QStringLiteral("\uFEFFkim"));
    lookalike("soft hyphen", QStringLiteral("k\u00ADim"));
    lookalike("line separator", QStringLiteral("kim\u2028"));
    lookalike("paragraph separator", QStringLiteral("kim\u2029x"));
    lookalike("no-break space", QStringLiteral("k\u00A0im"));
    lookalike("ideographic space", QStringLiteral("\u3000kim"));
    QTest::newRow("no data") << QByteArray("2.5           By kim") << false
                             << "the submission does not end in \"data\".";
    QTest::newRow("no nickname") << QByteArray("2.5           By data") << false << "no nickname.";
    QTest::newRow("eleven characters") << QByteArray("2.5           By abcdefghijkdata") << false
                                       << "the nickname is longer than 10 characters.";
    QTest::newRow("no score") << QByteArray("           By kimdata") << false << "no score.";
    QTest::newRow("not a number") << QByteArray("fast           By kimdata") << false
                                  << "the score is not a number.";
    QTest::newRow("two separators")
        << QByteArray("1.5.5           By kimdata") << false << "the score is not a number.";
    QTest::newRow("group separator and point")
        << QByteArray("1,000.5           By kimdata") << false << "the score is not a number.";
    QTest::newRow("exponent") << QByteArray("1e3           By kimdata") << false
                              << "the score is not a number.";
    QTest::newRow("only a point") << QByteArray(".           By kimdata") << false
                                  << "the score is not a number.";
    QTest::newRow("negative") << QByteArray("-1.5           By kimdata") << false
                              << "the score is negative; it must be from 0 to 100000 seconds.";
    QTest::newRow("negative zero") << QByteArray("-0           By kimdata") << false
                                   << "the score is negative; it must be from 0 to 100000 seconds.";
    QTest::newRow("above the highest")
        << QByteArray("100000.0001           By kimdata") << false
        << "the score is above 100000 seconds; it must be from 0 to 100000 seconds.";
    QTest::newRow("ten blanks") << QByteArray("2.5          By kimdata") << false
                                << "not a score submission (expected a score, eleven blanks, "
                                   "\"By \", a nickname and \"data\").";
    QTest::newRow("twelve blanks")
        << QByteArray("2.5            By kimdata") << false << "the score is not a number.";
    QTest::newRow("lower-case by") << QByteArray("2.5           by kimdata") << false
                                   << "not a score submission (expected a score, eleven blanks, "
                                      "\"By \", a nickname and \"data\").";
    QTest::newRow("binary garbage") << QByteArray("\x00\xff\x13\x37garbage", 11) << false
                                    << "not a score submission (expected a score, eleven "
                                       "blanks, \"By \", a nickname and \"data\").";
    QTest::newRow("control character in the nickname")
        << QByteArray("2.5           By k\tmdata") << false
        << "the nickname holds control characters.";
    QTest::newRow("nickname not UTF-8")
        << QByteArray("2.5           By k\xe9mdata") << false << "the nickname is not UTF-8 text.";
    QTest::newRow("overlong encoding") << QByteArray("2.5           By \xc0\xaf"
                                                     "data")
                                       << false << "the nickname is not UTF-8 text.";
}

void TestSubmission::verdict()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, accepted);
    QFETCH(QString, text);

    const auto result = read(bytes);
    QCOMPARE(std::holds_alternative<Accepted>(result), accepted);
    if (accepted) {
        const auto &submission = std::get<Accepted>(result);
        QCOMPARE(submission.scoreText + QLatin1Char('|') + submission.nickname, text);
        QCOMPARE(submission.score, submission.scoreText.toDouble());
    } else {
        QCOMPARE(std::get<Rejected>(result).reason, text);
    }
}

void TestSubmission::everyPrefixOfASubmissionIsOnItsWay_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ascii") << QByteArray("1.6539           By anonymousdata");
    QTest::newRow("nickname ending in data") << QByteArray("7,25           By dadatadata");
    QTest::newRow("multi-byte nickname") << QStringLiteral("3           By €ü😀data").toUtf8();
}

void TestSubmission::everyPrefixOfASubmissionIsOnItsWay()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(std::holds_alternative<Accepted>(read(bytes)));
    for (qsizetype length = 0; length < bytes.size(); ++length) {
        const Assessment assessment = assess(bytes.left(length));
        QVERIFY2(assessment.progress != Progress::Invalid,
                 qPrintable(QString::fromUtf8(bytes.left(length)) + QStringLiteral(": ") +
                            assessment.reason));
        // Only a prefix that ends in "data" has the whole shape.
        QCOMPARE(assessment.progress == Progress::Complete,
                 bytes.left(length).endsWith("data") && bytes.left(length).contains(" By "));
    }
    QCOMPARE(assess(bytes).progress, Progress::Complete);
}

void TestSubmission::hopelessBytesAreKnownAtOnce_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    QTest::newRow("binary first byte") << QByteArray("\x01", 1) << "not a score submission";
    QTest::newRow("score then a letter") << QByteArray("2.5 x") << "not a score submission";
    QTest::newRow("not a number, blank seen") << QByteArray("abc ") << "the score is not a number.";
    QTest::newRow("negative, blank seen") << QByteArray("-3 ") << "the score is negative";
    QTest::newRow("nickname begins with a blank")
        << QByteArray("2.5           By  k") << "the nickname begins or ends with a blank.";
    QTest::newRow("nickname can only grow too long")
        << QByteArray("2.5           By abcdefghijklmn") << "the nickname is longer";
    QTest::newRow("too long and ending in data")
        << QByteArray("2.5           By abcdefghijkdata") << "the nickname is longer";
    QTest::newRow("invalid byte in the nickname")
        << QByteArray("2.5           By \xff") << "the nickname is not UTF-8 text.";
    QTest::newRow("score growing past sixteen characters")
        << QByteArray(17, '1') << "the score is longer than 16 characters.";
    QTest::newRow("a direction override, more to come")
        << QStringLiteral("2.5           By \u202E").toUtf8()
        << "the nickname holds invisible or formatting characters.";
}

void TestSubmission::hopelessBytesAreKnownAtOnce()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const Assessment assessment = assess(bytes);
    QCOMPARE(assessment.progress, Progress::Invalid);
    QVERIFY2(assessment.reason.startsWith(reason), qPrintable(assessment.reason));
}

void TestSubmission::ranksMatchCounting_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("distinct"); // how many different values the scores take
    QTest::newRow("empty") << 0 << 1;
    QTest::newRow("one") << 1 << 1;
    QTest::newRow("a few hundred, all different") << 300 << 1000000;
    QTest::newRow("many blocks, all different") << 5000 << 1000000;
    QTest::newRow("many blocks of equal scores") << 5000 << 3;
}

// The index against a sorted list of the same keys: loaded at once and inserted one by one, as a
// restarted server does, with removals between; every place, position and page agree.
void TestSubmission::ranksMatchCounting()
{
    QFETCH(int, count);
    QFETCH(int, distinct);
    QRandomGenerator random(static_cast<quint32>(count * 31 + distinct));
    const auto draw = [&](qint64 id) {
        return ScoreKey{random.bounded(distinct) / 100.0, id};
    };
    std::vector<ScoreKey> all;
    all.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count / 2; ++i)
        all.push_back(draw(i + 1));
    ScoreIndex index;
    index.assign(all);
    for (int i = count / 2; i < count; ++i) {
        all.push_back(draw(i + 1));
        index.insert(all.back());
        // Now and then one goes, as a moderator removes it.
        if (i % 7 == 0 && !all.empty()) {
            const std::size_t gone = random.bounded(static_cast<quint32>(all.size()));
            QVERIFY(index.remove(all[gone]));
            QVERIFY(!index.remove(all[gone]));
            all.erase(all.begin() + static_cast<std::ptrdiff_t>(gone));
        }
    }
    std::sort(all.begin(), all.end());
    QCOMPARE(index.size(), qint64(all.size()));
    QCOMPARE(index.first().has_value(), !all.empty());
    if (!all.empty())
        QVERIFY(*index.first() == all.front());
    std::vector<double> probes{-1.0, 0.0, 1e9};
    for (std::size_t i = 0; i < all.size(); i += 1 + all.size() / 200)
        probes.push_back(all[i].score);
    for (const double score : probes) {
        const auto below = std::count_if(all.begin(), all.end(),
                                         [score](const ScoreKey &k) { return k.score < score; });
        QCOMPARE(index.countBelow(score), qint64(below));
    }
    for (std::size_t at = 0; at <= all.size(); at += 1 + all.size() / 50) {
        const std::vector<ScoreKey> page = index.slice(static_cast<qint64>(at), 37);
        const std::size_t expected = std::min<std::size_t>(37, all.size() - at);
        QCOMPARE(page.size(), expected);
        for (std::size_t i = 0; i < page.size(); ++i)
            QVERIFY(page[i] == all[at + i]);
        if (at < all.size())
            QCOMPARE(index.position(all[at]), qint64(at));
    }
    QVERIFY(index.slice(static_cast<qint64>(all.size()), 10).empty());
}

void TestSubmission::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected"); // port|database|address|clients|per peer|top

    QTest::newRow("defaults") << QStringList() << "1337|scores.db|0.0.0.0|256|32|-";
    QTest::newRow("everything") << words({"--port", "4000", "--db", "/tmp/x.db", "--listen",
                                          "127.0.0.1", "--max-clients", "16", "--max-per-peer", "4",
                                          "--top", "5"})
                                << "4000|/tmp/x.db|127.0.0.1|16|4|5";
    QTest::newRow("free ports") << words({"--port=0"}) << "0|scores.db|0.0.0.0|256|32|-";
    QTest::newRow("IPv6 address") << words({"--listen", "::1"}) << "1337|scores.db|::1|256|32|-";
}

void TestSubmission::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    const auto parsed = parseOptions(QStringList{QStringLiteral("orvane-scored")} + arguments);
    QVERIFY(std::holds_alternative<ServerOptions>(parsed));
    const auto &o = std::get<ServerOptions>(parsed);
    const QString top = o.top ? QString::number(*o.top) : QStringLiteral("-");
    QCOMPARE(QStringList({QString::number(o.port), o.database, o.address.toString(),
                          QString::number(o.maxClients), QString::number(o.maxPerPeer), top})
                 .join(QLatin1Char('|')),
             expected);
}

void TestSubmission::badOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("port without a reconnection port")
        << words({"--port", "65535"}) << "The port must be";
    QTest::newRow("port not a number") << words({"--port", "http"}) << "The port must be";
    QTest::newRow("negative port") << words({"--port", "-1"}) << "The port must be";
    QTest::newRow("port with a sign") << words({"--port", "+1337"}) << "The port must be";
    QTest::newRow("no clients") << words({"--max-clients", "0"}) << "The client count";
    QTest::newRow("no share per address")
        << words({"--max-per-peer", "0"}) << "The count for --max-per-peer";
    QTest::newRow("address that is a name")
        << words({"--listen", "example.org"}) << "'example.org' is not an IP address.";
    QTest::newRow("no leaders") << words({"--top", "0"}) << "The count for --top";
    QTest::newRow("empty database path") << words({"--db", ""}) << "The database path";
    QTest::newRow("unknown option") << words({"--verbose"}) << "Unknown option";
    QTest::newRow("stray argument") << words({"scores.db"}) << "Unexpected argument";
}

void TestSubmission::badOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const auto parsed = parseOptions(QStringList{QStringLiteral("orvane-scored")} + arguments);
    QVERIFY(std::holds_alternative<OptionsError>(parsed));
    QVERIFY2(std::get<OptionsError>(parsed).message.startsWith(message),
             qPrintable(std::get<OptionsError>(parsed).message));
}

void TestSubmission::leaderboardSharesPlaces()
{
    QCOMPARE(leaderboardText({}), QStringLiteral("No scores yet.\n"));
    const QDateTime when(QDate(2026, 12, 7), QTime(16, 5, 1), Qt::UTC);
    const std::vector<ScoreEntry> entries{
        {1, 1.2, QStringLiteral("1.2"), QStringLiteral("kim"), {}, when},
        {2, 1.5, QStringLiteral("1.5"), QStringLiteral("anonymous"), {}, when},
        {3, 1.5, QStringLiteral("1.50"), QStringLiteral("bo"), {}, when},
        {4, 2, QStringLiteral("2"), QStringLiteral("été"), {}, when}};
    const QStringList lines = leaderboardText(entries).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines[0], QStringLiteral("Place  Score      Nickname   Submitted (UTC)"));
    QCOMPARE(lines[1], QStringLiteral("   #1  1.2 s      kim        2026-12-07 16:05:01"));
    QCOMPARE(lines[2], QStringLiteral("   #2  1.5 s      anonymous  2026-12-07 16:05:01"));
    QCOMPARE(lines[3], QStringLiteral("   #2  1.50 s     bo         2026-12-07 16:05:01"));
    QCOMPARE(lines[4], QStringLiteral("   #4  2 s        été        2026-12-07 16:05:01"));
}

void TestSubmission::boardPlaces_data()
{
    QTest::addColumn<std::vector<double>>("scores");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("firstPlace");
    QTest::addColumn<std::vector<qint64>>("places");
    QTest::newRow("nothing") << std::vector<double>{} << qint64(0) << qint64(1)
                             << std::vector<qint64>{};
    QTest::newRow("all different")
        << std::vector<double>{1, 2, 3} << qint64(0) << qint64(1) << std::vector<qint64>{1, 2, 3};
    QTest::newRow("a tie, then the next place its position gives")
        << std::vector<double>{1, 2, 2, 3} << qint64(0) << qint64(1)
        << std::vector<qint64>{1, 2, 2, 4};
    QTest::newRow("all equal") << std::vector<double>{5, 5, 5} << qint64(0) << qint64(1)
                               << std::vector<qint64>{1, 1, 1};
    // A page from position 10 whose first two scores tie with scores on the page before.
    QTest::newRow("a page starting inside a tie")
        << std::vector<double>{4, 4, 6} << qint64(10) << qint64(8) << std::vector<qint64>{8, 8, 13};
    QTest::newRow("a page starting after a tie")
        << std::vector<double>{6, 7} << qint64(10) << qint64(11) << std::vector<qint64>{11, 12};
}

void TestSubmission::boardPlaces()
{
    QFETCH(std::vector<double>, scores);
    QFETCH(qint64, from);
    QFETCH(qint64, firstPlace);
    QFETCH(std::vector<qint64>, places);
    QCOMPARE(::boardPlaces(scores, from, firstPlace), places);
}

QTEST_GUILESS_MAIN(TestSubmission)
#include "tst_submission.moc"
