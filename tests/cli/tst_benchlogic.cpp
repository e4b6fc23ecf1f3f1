// orvane-bench's logic without a process: exact statistics kept cycle by cycle, the score against
// the window's run, what is kept out of it, throttling against the median, the report's JSON and
// exit statuses, the options, temperatures from a tree of sensors, and the run's log.
#include "benchmark/benchmarkrun.h"
#include "benchoptions.h"
#include "cyclestats.h"
#include "hostcheck.h"
#include "report.h"
#include "runlog.h"
#include "temperature.h"

#include "core/numbertext.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A cycle as a runner would record it, from seven kernel times in milliseconds.
CycleRecord cycle(int number, const std::array<int, KernelCount> &ms, int thread = 0)
{
    CycleRecord record;
    record.thread = thread;
    record.cycle = number;
    qint64 simple = 0;
    qint64 complex = 0;
    for (int k = 0; k < KernelCount; ++k) {
        record.seconds[k] = ms[k] / 1000.0;
        (k < 4 ? simple : complex) += ms[k];
    }
    record.overall = Currency::fromRaw((simple + complex) * 10);
    record.overallText = currencyText(record.overall);
    record.wallSeconds = record.cpuSeconds = record.overall.toDouble();
    return record;
}

// The window's run over recorded kernel times, cycle after cycle.
class Replay final : public KernelSet
{
public:
    explicit Replay(const QList<CycleRecord> &cycles) : m_cycles(cycles) {}
    bool run(Kernel kernel, double *result, double *seconds, QString *) override
    {
        const qsizetype index = m_calls++ / KernelCount;
        *seconds = m_cycles[index].seconds[static_cast<int>(kernel)];
        *result = expectedResult(kernel);
        return true;
    }

private:
    const QList<CycleRecord> &m_cycles;
    qsizetype m_calls = 0;
};

class WindowlessView final : public HeadlessView
{
public:
    explicit WindowlessView(qsizetype cycles) : HeadlessView(QString::number(cycles)) {}
    void setSubmissionScore(const QString &score) override { submitted = score; }

    QString submitted;
};

QStringList args(std::initializer_list<const char *> words)
{
    QStringList list;
    for (const char *word : words)
        list << QString::fromUtf8(word);
    return list;
}

QString write(const QString &root, const QString &path, const QByteArray &bytes)
{
    QString file = QDir(root).filePath(path);
    QDir().mkpath(QFileInfo(file).path());
    QFile out(file);
    out.open(QIODevice::WriteOnly);
    out.write(bytes);
    return file;
}

} // namespace

class TestBenchLogic : public QObject
{
    Q_OBJECT

private slots:
    void medians_data();
    void medians();
    void emptyStatisticsAreNull();
    void scoreIsTheWindows_data();
    void scoreIsTheWindows();
    void contendedAndWrongCyclesStayOutOfTheScore();
    void throttlingAgainstTheMedian();
    void memoryStaysBounded();
    void burnInReportHasNoScore();
    void exitStatuses_data();
    void exitStatuses();
    void options_data();
    void options();
    void badOptions_data();
    void badOptions();
    void temperatures_data();
    void temperatures();
    void buildRecord();
    void logLinesAsTheyHappen();
};

void TestBenchLogic::medians_data()
{
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<double>("median");
    QTest::newRow("one") << QList<int>{7} << 7.0;
    QTest::newRow("two") << QList<int>{1, 2} << 1.5;
    QTest::newRow("odd, unsorted") << QList<int>{3, 1, 2} << 2.0;
    QTest::newRow("even, repeated middle") << QList<int>{5, 1, 5, 9} << 5.0;
    QTest::newRow("even, middle apart") << QList<int>{1, 1, 2, 10, 10, 10} << 6.0;
    QTest::newRow("even, far values") << QList<int>{100, 1, 3, 2} << 2.5;
}

// Exact, however the values repeat: the mean of the two middle values for an even count.
void TestBenchLogic::medians()
{
    QFETCH(QList<int>, values);
    QFETCH(double, median);
    Distribution distribution;
    for (const int value : values)
        distribution.add(value);
    QCOMPARE(distribution.median().value_or(-1), median);
    const Stats stats = distribution.stats(0.001);
    QCOMPARE(stats.count, values.size());
    QCOMPARE(*stats.min, *std::min_element(values.begin(), values.end()) * 0.001);
    QCOMPARE(*stats.max, *std::max_element(values.begin(), values.end()) * 0.001);
    QCOMPARE(*stats.median, median * 0.001);
}

void TestBenchLogic::emptyStatisticsAreNull()
{
    BenchReport report;
    report.threads.resize(1);
    const QJsonObject json = reportJson(report).object();
    const QJsonObject cycle = json.value(u"spread").toObject().value(u"cycle").toObject();
    QCOMPARE(cycle.value(u"count").toInt(), 0);
    for (const char *name : {"min", "median", "max", "spread_percent"})
        QVERIFY2(cycle.value(QLatin1String(name)).isNull(), name);
    QVERIFY(json.value(u"score").isNull());
    QVERIFY(reportText(report).contains(QStringLiteral("PASS: 0 cycle(s)")));
}

void TestBenchLogic::scoreIsTheWindows_data()
{
    QTest::addColumn<int>("cycles");
    QTest::addColumn<quint32>("seed");
    QTest::newRow("one") << 1 << 1u;
    QTest::newRow("three") << 3 << 2u;
    QTest::newRow("seven, a repeating quotient") << 7 << 3u;
    QTest::newRow("sixty") << 60 << 4u;
}

// The score kept as a running total is the one the window's run shows for the same times.
void TestBenchLogic::scoreIsTheWindows()
{
    QFETCH(int, cycles);
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    QList<CycleRecord> records;
    ThreadStats stats;
    for (int c = 1; c <= cycles; ++c) {
        std::array<int, KernelCount> ms{};
        for (int &value : ms)
            value = static_cast<int>(random.bounded(40, 900));
        records.append(cycle(c, ms));
        stats.add(records.back());
    }
    Replay replay(records);
    WindowlessView view(records.size());
    BenchmarkRun run(view, replay);
    run.click();
    QCOMPARE(stats.score().text, view.submitted);
    QCOMPARE(stats.score().seconds, run.averageScore().toDouble());
}

void TestBenchLogic::contendedAndWrongCyclesStayOutOfTheScore()
{
    ThreadStats stats;
    stats.add(cycle(1, {200, 200, 200, 200, 50, 300, 400}));
    CycleRecord slow = cycle(2, {400, 400, 400, 400, 100, 600, 800});
    slow.contended = true;
    stats.add(slow);
    CycleRecord wrong = cycle(3, {100, 100, 100, 100, 20, 100, 100});
    wrong.wrong = true; // a wrong power result is no different from any other
    stats.add(wrong);
    QCOMPARE(stats.completed, 3);
    QCOMPARE(stats.counted.count(), 1);
    QCOMPARE(stats.contended.count(), 1);
    QCOMPARE(stats.wrongCycles, 1);
    QCOMPARE(stats.score().text, QStringLiteral("1.55"));
    QCOMPARE(*stats.contended.cycle.stats(0.0001).median, 3.1);
}

// A first reading that is off by itself raises nothing, nor do the first three cycles; a fall
// below the median of the readings so far does, and a cycle slower than the median of the
// cycles so far.
void TestBenchLogic::throttlingAgainstTheMedian()
{
    ThreadStats stats;
    const double clocks[] = {4000, 3400, 3410, 3390, 3400, 2900};
    int c = 0;
    QList<ThrottleEvent> events;
    for (const double mhz : clocks) {
        CycleRecord record = cycle(++c, {200, 200, 200, 200, 50, 300, 400});
        record.clockBeforeMHz = record.clockAfterMHz = mhz;
        events += stats.add(record);
    }
    QCOMPARE(events.size(), 1);
    QCOMPARE(events[0].kind, QStringLiteral("clock"));
    QCOMPARE(events[0].cycle, 6);
    QCOMPARE(events[0].reference, 3400.0);

    CycleRecord slower = cycle(7, {300, 300, 300, 300, 60, 400, 500});
    events = stats.add(slower);
    QCOMPARE(events.size(), 1);
    QCOMPARE(events[0].kind, QStringLiteral("slower"));
    QCOMPARE(events[0].reference, 1.55);
}

// A long run keeps its statistics exact and its memory bounded: the listed cycles stop at their
// limit, the distributions hold the distinct values only.
void TestBenchLogic::memoryStaysBounded()
{
    ThreadStats stats;
    for (int c = 1; c <= 200000; ++c)
        stats.add(cycle(c, {200 + c % 3, 200, 200, 200, 50, 300, 400}));
    QCOMPARE(stats.completed, 200000);
    QCOMPARE(stats.listed.size(), ThreadStats::ListedCycles);
    QCOMPARE(stats.counted.kernels[0].stats(0.001).count, 200000);
    QCOMPARE(*stats.counted.kernels[0].stats(0.001).median, 0.201);
}

void TestBenchLogic::burnInReportHasNoScore()
{
    BenchReport report;
    report.options.burnIn = true;
    report.threads.resize(1);
    report.threads[0].add(cycle(1, {200, 200, 200, 200, 50, 300, 400}));
    const QJsonObject json = reportJson(report).object();
    QVERIFY(json.value(u"score").isNull());
    QVERIFY(json.value(u"threads").toArray()[0].toObject().value(u"score").isNull());
    QCOMPARE(json.value(u"kernels").toString(), QStringLiteral("checked"));
    QCOMPARE(json.value(u"result").toString(), QStringLiteral("pass"));
    QVERIFY(!reportText(report).contains(QStringLiteral("Score:")));
}

void TestBenchLogic::exitStatuses_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("wrong");
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("verdict");
    QTest::newRow("clean") << QString() << 0 << 0 << 0 << "PASS";
    QTest::newRow("SIGINT") << QString() << 0 << 2 << 130 << "PASS";
    QTest::newRow("SIGHUP") << QString() << 0 << 1 << 129 << "PASS";
    QTest::newRow("SIGTERM") << QString() << 0 << 15 << 143 << "PASS";
    QTest::newRow("wrong result") << QString() << 1 << 0 << 3 << "FAIL";
    QTest::newRow("wrong result, then SIGINT") << QString() << 2 << 2 << 3 << "FAIL";
    QTest::newRow("library failure") << "no entry point" << 0 << 0 << 1 << "FAIL";
    QTest::newRow("failure over a wrong result") << "stalled" << 1 << 2 << 1 << "FAIL";
}

void TestBenchLogic::exitStatuses()
{
    QFETCH(QString, failure);
    QFETCH(int, wrong);
    QFETCH(int, signal);
    QFETCH(int, status);
    QFETCH(QString, verdict);
    BenchReport report;
    report.threads.resize(1);
    report.failure = failure;
    report.signal = signal;
    for (int w = 0; w < wrong; ++w)
        report.threads[0].addMismatch({});
    QCOMPARE(exitStatus(report), status);
    QVERIFY(reportText(report).contains(verdict + QLatin1Char(':')));
    QCOMPARE(reportJson(report).object().value(u"result").toString(), verdict.toLower());
}

void TestBenchLogic::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected"); // cycles|duration ms|threads|burn-in|log|nickname
    QTest::newRow("defaults") << QStringList() << "1|-|1|0||";
    QTest::newRow("cycles and json") << args({"--cycles=20", "--json"}) << "20|-|1|0||";
    QTest::newRow("duration is a burn-in") << args({"--duration", "1h30m"}) << "1|5400000|1|1||";
    QTest::newRow("shortest duration") << args({"--duration", "1s"}) << "1|1000|1|1||";
    QTest::newRow("burn-in by count") << args({"--burn-in", "--cycles", "3"}) << "3|-|1|1||";
    QTest::newRow("all threads") << args({"--threads", "all"}) << "1|-|4|0||";
    QTest::newRow("log") << args({"--log", "/tmp/run.jsonl"}) << "1|-|1|0|/tmp/run.jsonl|";
    QTest::newRow("submit") << args({"--submit", "[::1]:7", "--nickname", "kim b"})
                            << "1|-|1|0||kim b";
}

void TestBenchLogic::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    const auto parsed =
        parseBenchOptions(QStringList{QStringLiteral("orvane-bench")} + arguments, 4);
    if (const auto *error = std::get_if<OptionsError>(&parsed))
        QFAIL(qPrintable(error->message));
    const BenchOptions &o = std::get<BenchOptions>(parsed);
    const QString seen =
        QStringLiteral("%1|%2|%3|%4|%5|%6")
            .arg(o.cycles)
            .arg(o.duration ? QString::number(o.duration->count()) : QStringLiteral("-"))
            .arg(o.threads)
            .arg(int(o.burnIn))
            .arg(o.logFile, o.nickname);
    QCOMPARE(seen, expected);
}

void TestBenchLogic::badOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown") << args({"--fast"}) << "Unknown option 'fast'";
    QTest::newRow("flag with a value") << args({"--json=yes"}) << "Unexpected value";
    QTest::newRow("no cycles") << args({"--cycles", "0"}) << "--cycles takes";
    QTest::newRow("too many cycles") << args({"--cycles", "1000001"}) << "--cycles takes";
    QTest::newRow("duration below a second")
        << args({"--duration", "0.0004"}) << "--duration takes";
    QTest::newRow("duration over a week") << args({"--duration", "169h"}) << "--duration takes";
    QTest::newRow("both") << args({"--cycles", "2", "--duration", "1m"})
                          << "cannot be given together";
    QTest::newRow("threads") << args({"--threads", "5"}) << "--threads takes";
    QTest::newRow("reserved nickname")
        << args({"--submit", "h", "--nickname", "QolMar"}) << "reserved";
    QTest::newRow("blank at the end")
        << args({"--submit", "h", "--nickname", "kim "}) << "begin or end with a blank";
    QTest::newRow("long nickname")
        << args({"--submit", "h", "--nickname", "abcdefghijk"}) << "1 to 10 characters";
    QTest::newRow("control character")
        << args({"--submit", "h", "--nickname", "ki\tm"}) << "control characters";
    QTest::newRow("nickname alone") << args({"--nickname", "kim"}) << "go together";
    QTest::newRow("submitting a burn-in")
        << args({"--duration", "1m", "--submit", "h", "--nickname", "kim"}) << "a burn-in";
    QTest::newRow("port") << args({"--submit", "h:70000", "--nickname", "kim"}) << "--submit takes";
    QTest::newRow("stray argument") << args({"fast"}) << "unexpected argument";
}

void TestBenchLogic::badOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const auto parsed =
        parseBenchOptions(QStringList{QStringLiteral("orvane-bench")} + arguments, 4);
    QVERIFY(std::holds_alternative<OptionsError>(parsed));
    QVERIFY2(std::get<OptionsError>(parsed).message.contains(message),
             qPrintable(std::get<OptionsError>(parsed).message));
}

void TestBenchLogic::temperatures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("cpu0");
    QTest::addColumn<double>("cpu1");
    QTest::newRow("coretemp, two packages") << "coretemp" << 51.0 << 63.5;
    QTest::newRow("k10temp") << "k10temp" << 47.25 << 47.25;
    QTest::newRow("thermal zones") << "zones" << 40.0 << 40.0;
    QTest::newRow("none") << "none" << -1.0 << -1.0;
}

void TestBenchLogic::temperatures()
{
    QFETCH(QString, kind);
    QFETCH(double, cpu0);
    QFETCH(double, cpu1);
    QTemporaryDir root;
    const QString topology = QStringLiteral("sys/devices/system/cpu/cpu%1/topology/"
                                            "physical_package_id");
    write(root.path(), topology.arg(0), "0\n");
    write(root.path(), topology.arg(1), kind == u"coretemp" ? "1\n" : "0\n");
    if (kind == u"coretemp") {
        write(root.path(), QStringLiteral("sys/class/hwmon/hwmon0/name"), "acpitz\n");
        write(root.path(), QStringLiteral("sys/class/hwmon/hwmon0/temp1_input"), "99000\n");
        for (const auto &[hwmon, package, value] :
             {std::tuple{"hwmon1", "0", "51000"}, std::tuple{"hwmon2", "1", "63500"}}) {
            const QString dir = QStringLiteral("sys/class/hwmon/%1/").arg(QLatin1String(hwmon));
            write(root.path(), dir + QStringLiteral("name"), "coretemp\n");
            write(root.path(), dir + QStringLiteral("temp1_label"),
                  QByteArray("Package id ") + package);
            write(root.path(), dir + QStringLiteral("temp1_input"), value);
            write(root.path(), dir + QStringLiteral("temp2_label"), "Core 0");
            write(root.path(), dir + QStringLiteral("temp2_input"), "30000");
        }
    } else if (kind == u"k10temp") {
        write(root.path(), QStringLiteral("sys/class/hwmon/hwmon3/name"), "k10temp\n");
        write(root.path(), QStringLiteral("sys/class/hwmon/hwmon3/temp1_label"), "Tctl\n");
        write(root.path(), QStringLiteral("sys/class/hwmon/hwmon3/temp1_input"), "47250\n");
    } else if (kind == u"zones") {
        write(root.path(), QStringLiteral("sys/class/thermal/thermal_zone0/type"), "acpitz\n");
        write(root.path(), QStringLiteral("sys/class/thermal/thermal_zone0/temp"), "27000\n");
        write(root.path(), QStringLiteral("sys/class/thermal/thermal_zone1/type"),
              "x86_pkg_temp\n");
        write(root.path(), QStringLiteral("sys/class/thermal/thermal_zone1/temp"), "40000\n");
    }
    const Thermometer thermometer(root.path());
    QCOMPARE(thermometer.available(), cpu0 >= 0);
    QCOMPARE(thermometer.celsius(0).value_or(-1.0), cpu0);
    QCOMPARE(thermometer.celsius(1).value_or(-1.0), cpu1);
}

// What a library says of its own build is reported; a library that says nothing is "unknown",
// whatever its file is called.
void TestBenchLogic::buildRecord()
{
    const QJsonObject recorded = libraryRecordJson(
        QStringLiteral("compiler=GNU\ncompiler_version=12.2.0\nflags=-O3 -ffast-math\n"
                       "version=3.0.0\n"));
    QCOMPARE(recorded.value(u"version").toString(), QStringLiteral("3.0.0"));
    const QJsonObject built = recorded.value(u"built_with").toObject();
    QCOMPARE(built.value(u"flags").toString(), QStringLiteral("-O3 -ffast-math"));
    QCOMPARE(built.value(u"version").toString(), QStringLiteral("12.2.0"));
    const QJsonObject unknown = libraryRecordJson(QString());
    QCOMPARE(unknown.value(u"version").toString(), QStringLiteral("unknown"));
    QCOMPARE(unknown.value(u"built_with").toObject().value(u"compiler").toString(),
             QStringLiteral("unknown"));
}

// Every line is on disk the moment it is written: a run killed after it leaves it behind.
void TestBenchLogic::logLinesAsTheyHappen()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.jsonl"));
    RunLog log;
    QString error;
    QVERIFY2(log.open(path, &error), qPrintable(error));
    const auto lines = [&path] {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return file.readAll().split('\n');
    };
    QVERIFY(log.write({{QStringLiteral("event"), QStringLiteral("start")}}));
    QCOMPARE(lines().size(), 2); // one line and what follows its end
    QVERIFY(log.write(cycleJson(cycle(1, {200, 200, 200, 200, 50, 300, 400}))));
    const QList<QByteArray> written = lines();
    QCOMPARE(written.size(), 3);
    const QJsonObject second = QJsonDocument::fromJson(written[1]).object();
    QCOMPARE(second.value(u"cycle").toInt(), 1);
    QCOMPARE(second.value(u"overall").toDouble(), 1.55);
    QVERIFY(!second.value(u"time").toString().isEmpty());

    RunLog nowhere;
    QVERIFY(!nowhere.open(dir.filePath(QStringLiteral("missing/run.jsonl")), &error));
    QVERIFY(error.contains(QStringLiteral("cannot open the log")));
}

QTEST_GUILESS_MAIN(TestBenchLogic)
#include "tst_benchlogic.moc"
