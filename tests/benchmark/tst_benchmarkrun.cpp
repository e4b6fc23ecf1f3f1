#include "benchmark/benchmarkrun.h"
#include "fakes.h"

#include <QTest>

namespace {
const QString Start = QStringLiteral("-->Benchmark started at 12:00:00\r\n");
const QString Aborted = QStringLiteral("!!!Benchmark Aborted at 12:00:00!!!\r\n");
const QString Finished = QStringLiteral("Benchmark finished at 12:00:00.\r\n");

// Every kernel takes 0.25 s except the power test, whose time is given per cycle, so a cycle's
// overall time is 1.5 s plus that.
std::function<double(Kernel, int)> powerTimes(const QVector<double> &times)
{
    return [times](Kernel k, int call) {
        return k == Kernel::Power ? times.value(call) : 0.25;
    };
}
} // namespace

class TestBenchmarkRun : public QObject
{
    Q_OBJECT

private slots:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void cleanup() { QLocale::setDefault(QLocale::system()); }

    void firstRunWithTheDefaultCount();
    void threeCyclesAverage();
    void abortDuringTheFirstTest();
    void abortNoticedAtTheNextCheck_data();
    void abortNoticedAtTheNextCheck();
    void totalsFollowTheTextsShown();
    void abortedRunThenAShortOne();
    void abortAfterTheLastPowerTest();
    void fractionalCount_data();
    void fractionalCount();
    void countChangedDuringTheRun_data();
    void countChangedDuringTheRun();
    void refusesAnInvalidCount_data();
    void refusesAnInvalidCount();
    void missingLibraryEndsLikeAnAbort();
    void closingTheWindowStopsTheRun();
    void commaDecimalSeparator();
};

void TestBenchmarkRun::firstRunWithTheDefaultCount()
{
    FakeView view;
    FakeKernels kernels;
    kernels.seconds = [](Kernel k, int) {
        return k == Kernel::Prime ? 0.041 : 0.264;
    };
    view.fields[Field::PrimeResult] = QStringLiteral("943253249333191");
    BenchmarkRun run(view, kernels);

    run.click();

    QCOMPARE(kernels.calls,
             (QVector<Kernel>{Kernel::Addition, Kernel::Subtraction, Kernel::Multiplication,
                              Kernel::Division, Kernel::Prime, Kernel::Pi, Kernel::Power}));
    QCOMPARE(view.fields[Field::AdditionSeconds], QStringLiteral("0.264"));
    QCOMPARE(view.fields[Field::SimpleTotal], QStringLiteral("1.056"));
    QCOMPARE(view.fields[Field::PrimeSeconds], QStringLiteral("0.041"));
    QCOMPARE(view.fields[Field::PrimeResult], QStringLiteral("104"));
    QCOMPARE(view.fields[Field::PiResult], QStringLiteral("105"));
    QCOMPARE(view.fields[Field::PowerResult], QStringLiteral("106"));
    QCOMPARE(view.fields[Field::ComplexTotal], QStringLiteral("0.569"));
    QCOMPARE(view.fields[Field::OverallTotal], QStringLiteral("1.625"));
    QCOMPARE(view.log, QStringLiteral("Burn-In Ready...") + Start +
                           QStringLiteral("Cycle 1 Completed. Time: 1.625 seconds.\r\n"
                                          "Total time to perform 1 cycles: 1.625 seconds.\r\n"
                                          "Average score: 1.625 seconds.\r\n") +
                           Finished);
    QCOMPARE(view.status, QStringLiteral("\u00BB Benchmark Complete."));
    QCOMPARE(view.caption, QStringLiteral("Benchmark"));
    QVERIFY(view.speedTimer && view.frameKeeper && view.benchmarkEnabled);
    QCOMPARE(view.expansions, 1);
    QVERIFY(view.ownResultShown);
    QVERIFY(view.submitEnabled);
    QCOMPARE(view.submissionScore, QStringLiteral("1.625"));
    QCOMPARE(view.ownBarWidth, 48.75f);
    QCOMPARE(run.barWidthText(), QStringLiteral("48.75"));
    QCOMPARE(run.cycleTotal(), Currency());
}

void TestBenchmarkRun::threeCyclesAverage()
{
    FakeView view;
    view.count = QStringLiteral("3");
    FakeKernels kernels;
    kernels.seconds = powerTimes({1.5, 1.5, 2.5});
    BenchmarkRun run(view, kernels);

    // The timers stay off for the whole run.
    bool timersOffInside = true;
    view.onEvents = [&] {
        timersOffInside = timersOffInside && !view.speedTimer && !view.frameKeeper;
    };
    run.click();

    QVERIFY(timersOffInside);
    QCOMPARE(kernels.calls.size(), 21);
    QVERIFY(view.log.contains(QStringLiteral("Cycle 1 Completed. Time: 3 seconds.\r\n"
                                             "Cycle 2 Completed. Time: 3 seconds.\r\n"
                                             "Cycle 3 Completed. Time: 4 seconds.\r\n"
                                             "Total time to perform 3 cycles: 10 seconds.\r\n"
                                             "Average score: 3.33333333333333 seconds.\r\n")));
    QCOMPARE(view.fields[Field::OverallTotal], QStringLiteral("3.3333"));
    QCOMPARE(view.submissionScore, QStringLiteral("3.3333"));
    QCOMPARE(view.ownBarWidth, 99.999f);
    QCOMPARE(run.barWidthText(), QStringLiteral("99.999"));
    QCOMPARE(run.averageScore(), Currency::fromRaw(33333));
    QCOMPARE(run.cycleText(), QStringLiteral("3"));
}

void TestBenchmarkRun::abortDuringTheFirstTest()
{
    FakeView view;
    view.fields[Field::PrimeResult] = QStringLiteral("943253249333191");
    view.fields[Field::OverallTotal] = QStringLiteral("7.5");
    view.submissionScore = QStringLiteral("7.5");
    FakeKernels kernels;
    BenchmarkRun run(view, kernels);

    // The click lands while the addition kernel runs and is handled right after it.
    bool clicked = false;
    view.onEvents = [&] {
        if (!clicked && kernels.calls.size() == 1) {
            clicked = true;
            QCOMPARE(view.caption, QStringLiteral("Abort"));
            run.click();
        }
    };
    run.click();

    QVERIFY(clicked);
    QCOMPARE(kernels.calls.size(), 1);
    QCOMPARE(view.log, QStringLiteral("Burn-In Ready...") + Start + Aborted);
    QCOMPARE(view.fields[Field::AdditionSeconds], QStringLiteral("0.25"));
    for (const Field f :
         {Field::SubtractionSeconds, Field::MultiplicationSeconds, Field::DivisionSeconds,
          Field::PrimeSeconds, Field::PiSeconds, Field::PowerSeconds, Field::PiResult,
          Field::PowerResult, Field::SimpleTotal, Field::ComplexTotal})
        QCOMPARE(view.fields[f], QStringLiteral("0"));
    QCOMPARE(view.fields[Field::PrimeResult], QStringLiteral("943253249333191"));
    QCOMPARE(view.fields[Field::OverallTotal], QStringLiteral("7.5"));
    QCOMPARE(view.status, QStringLiteral("\u00BB Benchmark Aborted!"));
    QCOMPARE(view.caption, QStringLiteral("Benchmark"));
    QVERIFY(view.speedTimer && view.frameKeeper);
    QVERIFY(!view.submitEnabled);
    QVERIFY(!view.ownResultShown);
    QCOMPARE(view.ownBarWidth, 15.0f);
    QCOMPARE(view.submissionScore, QStringLiteral("7.5"));
    QCOMPARE(view.expansions, 1);
}

void TestBenchmarkRun::abortNoticedAtTheNextCheck_data()
{
    // Where the click is handled: the event point just before a test's kernel, the one just
    // after it, or the one after the cycle's complex total. A run of two cycles, so that every
    // point of the first cycle has a check after it.
    QTest::addColumn<int>("test"); // 1 to 7; 8 for the point after the complex total
    QTest::addColumn<bool>("beforeKernel");
    QTest::addColumn<int>("kernelsRun");
    const char *const names[] = {"addition", "subtraction", "multiplication", "division",
                                 "prime",    "pi",          "power"};
    for (int test = 1; test <= 7; ++test) {
        // Handled before its kernel, the click comes after that test's check: the kernel runs,
        // and the check before the next test stops the run.
        QTest::addRow("before the %s kernel", names[test - 1]) << test << true << test;
        QTest::addRow("after the %s kernel", names[test - 1]) << test << false << test;
    }
    QTest::newRow("after the complex total") << 8 << false << 7;
}

// Every check of a cycle stops the run: a click handled at any event point ends it before the
// next test's kernel, and only then.
void TestBenchmarkRun::abortNoticedAtTheNextCheck()
{
    QFETCH(int, test);
    QFETCH(bool, beforeKernel);
    QFETCH(int, kernelsRun);
    static const QStringList captions{
        QStringLiteral("\u00BB Running: Addition Test - cycle 1"),
        QStringLiteral("\u00BB Running: Subtraction Test - cycle 1"),
        QStringLiteral("\u00BB Running: Multiplication Test - cycle 1"),
        QStringLiteral("\u00BB Running: Division Test - cycle 1"),
        QStringLiteral("\u00BB Running: Prime Number Test - cycle 1"),
        QStringLiteral("\u00BB Running: Pi Calc test - cycle 1"),
        QStringLiteral("\u00BB Running: Power test - cycle 1")};
    FakeView view;
    view.count = QStringLiteral("2");
    FakeKernels kernels;
    BenchmarkRun run(view, kernels);
    bool clicked = false;
    view.onEvents = [&] {
        if (clicked)
            return;
        const auto calls = kernels.calls.size();
        const bool here = test == 8 ? calls == 7 && view.fields.contains(Field::ComplexTotal) &&
                                          !view.fields.contains(Field::OverallTotal)
                          : beforeKernel ? calls == test - 1 && view.status == captions[test - 1]
                                         : calls == test && view.status == captions[test - 1];
        if (here) {
            clicked = true;
            run.click();
        }
    };
    run.click();

    QVERIFY(clicked);
    QCOMPARE(kernels.calls.size(), kernelsRun);
    QVERIFY(view.log.endsWith(Aborted));
    QCOMPARE(view.status, QStringLiteral("\u00BB Benchmark Aborted!"));
    QVERIFY(!view.submitEnabled);
}

// The totals are formed from the texts the fields show, read back: a time shown other than the
// kernel gave it (here changed between tests) is what counts.
void TestBenchmarkRun::totalsFollowTheTextsShown()
{
    FakeView view;
    FakeKernels kernels;
    BenchmarkRun run(view, kernels);
    view.onEvents = [&] {
        if (kernels.calls.size() == 4 &&
            view.fields.value(Field::DivisionSeconds) == QLatin1String("0.25"))
            view.fields[Field::DivisionSeconds] = QStringLiteral("1.5");
        if (kernels.calls.size() == 7 &&
            view.fields.value(Field::PiSeconds) == QLatin1String("0.25"))
            view.fields[Field::PiSeconds] = QStringLiteral("2");
    };
    run.click();
    QCOMPARE(view.fields[Field::SimpleTotal], QStringLiteral("2.25"));
    QCOMPARE(view.fields[Field::ComplexTotal], QStringLiteral("2.5"));
    QCOMPARE(view.fields[Field::OverallTotal], QStringLiteral("4.75"));
}

void TestBenchmarkRun::abortedRunThenAShortOne()
{
    FakeView view;
    view.count = QStringLiteral("3");
    FakeKernels kernels;
    kernels.seconds = powerTimes({0.5, 9.0, 9.0, 1.0});
    BenchmarkRun run(view, kernels);

    bool clicked = false;
    view.onEvents = [&] {
        if (!clicked && kernels.calls.size() == 10) { // second cycle, multiplication done
            clicked = true;
            run.click();
        }
    };
    run.click();
    QCOMPARE(kernels.calls.size(), 10);
    QVERIFY(view.log.endsWith(QStringLiteral("Cycle 1 Completed. Time: 2 seconds.\r\n") + Aborted));
    // A completed cycle of the aborted run leaves its bar width behind, but no score.
    QCOMPARE(run.barWidthText(), QStringLiteral("60"));
    QCOMPARE(view.ownBarWidth, 60.0f);
    QVERIFY(!view.submitEnabled);

    view.onEvents = nullptr;
    view.count = QStringLiteral("1");
    view.log.clear();
    kernels.calls.clear();
    kernels.seconds = powerTimes({1.0});
    run.click();
    QVERIFY(view.log.contains(QStringLiteral("Total time to perform 1 cycles: 2.5 seconds.\r\n"
                                             "Average score: 2.5 seconds.\r\n")));
    QCOMPARE(view.fields[Field::OverallTotal], QStringLiteral("2.5"));
    QCOMPARE(view.status, QStringLiteral("\u00BB Benchmark Complete."));
}

void TestBenchmarkRun::abortAfterTheLastPowerTest()
{
    FakeView view;
    FakeKernels kernels;
    BenchmarkRun run(view, kernels);
    bool clicked = false;
    view.onEvents = [&] {
        if (!clicked && kernels.calls.size() == 7) {
            clicked = true;
            run.click();
        }
    };
    run.click();

    QVERIFY(clicked);
    QVERIFY(!view.log.contains(QStringLiteral("!!!")));
    QVERIFY(view.log.endsWith(QStringLiteral("Average score: 1.75 seconds.\r\n") + Finished));
    QCOMPARE(view.fields[Field::OverallTotal], QStringLiteral("1.75"));
    QVERIFY(view.submitEnabled);
    QVERIFY(view.ownResultShown);
    QCOMPARE(view.status, QStringLiteral("\u00BB Benchmark Aborted!"));
    QCOMPARE(view.caption, QStringLiteral("Benchmark"));
}

void TestBenchmarkRun::fractionalCount_data()
{
    QTest::addColumn<QString>("count");
    QTest::addColumn<int>("cycles");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("score");

    // Each cycle takes 1.75 s; the score is the time per cycle that ran.
    QTest::newRow("2.5 runs two") << QStringLiteral("2.5") << 2
                                  << QStringLiteral("Total time to perform 2 cycles: 3.5 seconds."
                                                    "\r\nAverage score: 1.75 seconds.\r\n")
                                  << QStringLiteral("1.75");
    QTest::newRow("1.99 runs one") << QStringLiteral("1.99") << 1
                                   << QStringLiteral("Total time to perform 1 cycles: 1.75 "
                                                     "seconds.\r\nAverage score: 1.75 seconds.\r\n")
                                   << QStringLiteral("1.75");
}

void TestBenchmarkRun::fractionalCount()
{
    QFETCH(QString, count);
    QFETCH(int, cycles);
    QFETCH(QString, summary);
    QFETCH(QString, score);

    FakeView view;
    view.count = count;
    FakeKernels kernels;
    BenchmarkRun run(view, kernels);
    run.click();

    QCOMPARE(kernels.calls.size(), 7 * cycles);
    QVERIFY2(view.log.contains(summary), qPrintable(view.log));
    QCOMPARE(view.fields[Field::OverallTotal], score);
    QCOMPARE(view.submissionScore, score);
}

void TestBenchmarkRun::countChangedDuringTheRun_data()
{
    QTest::addColumn<QString>("newCount");

    QTest::newRow("a larger number") << QStringLiteral("8");
    QTest::newRow("a smaller number") << QStringLiteral("2");
    QTest::newRow("a tiny number") << QStringLiteral("1e-300");
    QTest::newRow("a number below one") << QStringLiteral("0.5");
    QTest::newRow("negative") << QStringLiteral("-2");
    QTest::newRow("not a number") << QStringLiteral("abc");
    QTest::newRow("zero") << QStringLiteral("0");
    QTest::newRow("emptied") << QString();
}

// The count is read once, at the start: whatever the field says by the end, three cycles ran
// and the summary quotes and divides by three.
void TestBenchmarkRun::countChangedDuringTheRun()
{
    QFETCH(QString, newCount);

    FakeView view;
    view.count = QStringLiteral("3");
    FakeKernels kernels;
    BenchmarkRun run(view, kernels);
    view.onEvents = [&] {
        if (kernels.calls.size() == 2)
            view.count = newCount;
    };
    run.click();

    QCOMPARE(kernels.calls.size(), 21);
    QVERIFY2(view.log.contains(QStringLiteral("Total time to perform 3 cycles: 5.25 seconds.\r\n"
                                              "Average score: 1.75 seconds.\r\n")),
             qPrintable(view.log));
    QCOMPARE(view.fields[Field::OverallTotal], QStringLiteral("1.75"));
    QCOMPARE(run.averageScore(), Currency::fromDouble(1.75));
}

void TestBenchmarkRun::refusesAnInvalidCount_data()
{
    QTest::addColumn<QString>("count");
    QTest::newRow("empty") << QString();
    QTest::newRow("letters") << QStringLiteral("abc");
    QTest::newRow("zero") << QStringLiteral("0");
    QTest::newRow("below one") << QStringLiteral("0.5");
    QTest::newRow("negative") << QStringLiteral("-3");
}

void TestBenchmarkRun::refusesAnInvalidCount()
{
    QFETCH(QString, count);
    FakeView view;
    view.count = count;
    FakeKernels kernels;
    BenchmarkRun run(view, kernels);
    run.click();

    QCOMPARE(view.invalidCountMessages, 1);
    QVERIFY(kernels.calls.isEmpty());
    QCOMPARE(view.log, QStringLiteral("Burn-In Ready..."));
    QCOMPARE(view.caption, QStringLiteral("Benchmark"));
    QCOMPARE(view.expansions, 0);
    QVERIFY(view.speedTimer && view.frameKeeper);
}

void TestBenchmarkRun::missingLibraryEndsLikeAnAbort()
{
    FakeView view;
    FakeKernels kernels;
    kernels.failure = QStringLiteral("libkalvex.so.1: cannot open shared object file");
    BenchmarkRun run(view, kernels);
    run.click();

    QCOMPARE(view.libraryFailures.size(), 1);
    QVERIFY(view.libraryFailures.first().contains(QStringLiteral("libkalvex.so")));
    QVERIFY(view.libraryFailures.first().contains(kernels.failure));
    QCOMPARE(view.log, QStringLiteral("Burn-In Ready...") + Start + Aborted);
    QCOMPARE(view.status, QStringLiteral("\u00BB Benchmark Aborted!"));
    QCOMPARE(view.caption, QStringLiteral("Benchmark"));
    QVERIFY(view.speedTimer && view.frameKeeper && !view.submitEnabled);
}

void TestBenchmarkRun::closingTheWindowStopsTheRun()
{
    FakeView view;
    view.count = QStringLiteral("2");
    FakeKernels kernels;
    BenchmarkRun run(view, kernels);
    view.onEvents = [&] {
        if (kernels.calls.size() == 3)
            view.closed = true;
    };
    run.click();

    QCOMPARE(kernels.calls.size(), 3);
    QCOMPARE(view.touchedAfterClose, 0);
    QVERIFY(!run.isRunning());
    QCOMPARE(run.cycleTotal(), Currency());
}

void TestBenchmarkRun::commaDecimalSeparator()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    FakeView view;
    view.count = QStringLiteral("1,5");
    FakeKernels kernels;
    kernels.seconds = [](Kernel, int) {
        return 0.125;
    };
    BenchmarkRun run(view, kernels);
    run.click();

    QCOMPARE(view.fields[Field::AdditionSeconds], QStringLiteral("0,125"));
    QCOMPARE(view.fields[Field::SimpleTotal], QStringLiteral("0,5"));
    QCOMPARE(view.fields[Field::ComplexTotal], QStringLiteral("0,375"));
    QVERIFY(view.log.contains(QStringLiteral("Total time to perform 1 cycles: 0,875 seconds.")));
    QCOMPARE(view.fields[Field::OverallTotal], QStringLiteral("0,875"));
    QCOMPARE(run.averageText(), QStringLiteral("0,875"));
}

QTEST_GUILESS_MAIN(TestBenchmarkRun)
#include "tst_benchmarkrun.moc"
