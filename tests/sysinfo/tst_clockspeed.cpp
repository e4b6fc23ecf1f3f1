#include "sysinfo/clockspeed.h"
#include "sysinfo/getcpu.h"

#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <vector>

namespace {

// This thread's processor time: unlike the wall clock, it does not run on while other work has
// the processor.
double threadTime()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A reference for the clock that shares no code with the program's: one long chain of
// dependent multiplications (three cycles each on every x86-64 core since 2008), or additions
// on AArch64 (one cycle), timed whole over about 10 ms of this thread's processor time; the
// fastest of seven. 0 elsewhere.
double referenceClockHz()
{
#if defined(__x86_64__) || defined(__aarch64__)
    constexpr long Steps = 10 * 1000 * 1000;
#if defined(__x86_64__)
    constexpr double CyclesPerStep = 3.0;
#else
    constexpr double CyclesPerStep = 1.0;
#endif
    double fastest = 0.0;
    for (int run = 0; run < 7; ++run) {
        unsigned long x = 7;
        long steps = Steps;
        const double start = threadTime();
#if defined(__x86_64__)
        asm volatile("2:\n\timul %0, %0\n\tsub $1, %1\n\tjnz 2b" : "+r"(x), "+r"(steps) : : "cc");
#else
        asm volatile("2:\n\tadd %0, %0, %0\n\tsub %1, %1, #1\n\tcbnz %1, 2b"
                     : "+r"(x), "+r"(steps));
#endif
        fastest = std::max(fastest, Steps * CyclesPerStep / (threadTime() - start));
    }
    return fastest;
#else
    return 0.0;
#endif
}

// The figure GetProcessorRawSpeed shows, in MHz; 0 for "Unknown"; -1 for anything else.
double shownMhz()
{
    GetCpu cpu;
    char speed[ProcessorLibrary::BufferSize];
    std::fill(std::begin(speed), std::end(speed), 'x');
    cpu.GetProcessorRawSpeed(speed);
    if (!std::memchr(speed, '\0', sizeof speed))
        return -1;
    const QString text = QString::fromLatin1(speed);
    if (text == QLatin1String("Unknown"))
        return 0;
    const auto match = QRegularExpression(QStringLiteral("^([1-9]\\d*) MHz$")).match(text);
    return match.hasMatch() ? match.captured(1).toDouble() : -1;
}

} // namespace

class TestClockSpeed : public QObject
{
    Q_OBJECT

private slots:
    void trustedReading_data();
    void trustedReading();
    void shownClockMatchesAReference();
    void steadyFromTickToTick();
    void refreshWithTheKnownClock_data();
    void refreshWithTheKnownClock();
};

void TestClockSpeed::trustedReading_data()
{
    QTest::addColumn<double>("counter");
    QTest::addColumn<double>("first");
    QTest::addColumn<double>("second");
    QTest::addColumn<double>("kernel");
    QTest::addColumn<double>("shown");

    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Counter, add chain, second chain, kernel's figure: what is shown.
    QTest::newRow("all agree: the counter") << 2.61e9 << 2.60e9 << 2.59e9 << 0.0 << 2.61e9;
    QTest::newRow("no counter: the faster chain") << 0.0 << 3.690e9 << 3.694e9 << 0.0 << 3.694e9;
    // A busy sibling thread on the same core slows one kind of instruction more than the other.
    QTest::newRow("a chain slowed by a sibling thread: the faster")
        << 0.0 << 3.51e9 << 3.665e9 << 0.0 << 3.665e9;
    // Golden Cove folds additions: the counter and the multiplications still tell the truth.
    QTest::newRow("first chain folded, counter confirmed by the second")
        << 2.6e9 << 10.4e9 << 2.6e9 << 0.0 << 2.6e9;
    QTest::newRow("first chain folded, no counter: nothing to trust")
        << 0.0 << 10.4e9 << 2.6e9 << 0.0 << 0.0;
    QTest::newRow("first chain folded twice over, no counter: nothing to trust")
        << 0.0 << 5.2e9 << 2.6e9 << 0.0 << 0.0;
    QTest::newRow("counter wrong, chains agree: the faster chain")
        << 9.9e9 << 2.6e9 << 2.55e9 << 0.0 << 2.6e9;
    QTest::newRow("a lone counter is not shown") << 2.6e9 << 0.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("counter confirmed by the kernel") << 2.6e9 << 0.0 << 0.0 << 2.59e9 << 2.6e9;
    QTest::newRow("chains disagree, the kernel confirms the first")
        << 0.0 << 2.6e9 << 3.5e9 << 2.6e9 << 2.6e9;
    QTest::newRow("the kernel's figure alone is never shown") << 0.0 << 0.0 << 0.0 << 2.1e9 << 0.0;
    QTest::newRow("just within the agreement") << 0.0 << 2.0e9 << 2.17e9 << 0.0 << 2.17e9;
    QTest::newRow("just beyond the agreement") << 0.0 << 2.0e9 << 2.18e9 << 0.0 << 0.0;
    QTest::newRow("nothing measured") << 0.0 << 0.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("infinite readings never agree") << inf << inf << inf << 0.0 << 0.0;
    QTest::newRow("not a number never agrees") << nan << nan << 2.6e9 << 0.0 << 0.0;
    QTest::newRow("negative readings never agree") << -2.6e9 << -2.6e9 << 0.0 << 0.0 << 0.0;
}

void TestClockSpeed::trustedReading()
{
    QFETCH(double, counter);
    QFETCH(double, first);
    QFETCH(double, second);
    QFETCH(double, kernel);
    QFETCH(double, shown);
    QCOMPARE(trustedClockHz({counter, first, second, kernel}), shown);
}

// Within 5 % of what the reference measures, whichever readings this host gives. A virtual
// machine's clock moves with the load of the machine it runs on; a measurement that meets the
// reference within three tries shows the method is sound, while a chain that a renamer folds
// reads double or more on every try.
void TestClockSpeed::shownClockMatchesAReference()
{
    QStringList tries;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const double reference = referenceClockHz() / 1e6;
        if (reference <= 0.0)
            QSKIP("no reference for the clock on this processor");
        const ClockReadings readings = measureClock(10);
        const double shown = shownMhz();
        tries << QStringLiteral("shown %1 MHz, reference %2 MHz (counter %3, chains %4 and %5, "
                                "kernel %6)")
                     .arg(shown)
                     .arg(qRound(reference))
                     .arg(qRound(readings.counterHz / 1e6))
                     .arg(qRound(readings.firstChainHz / 1e6))
                     .arg(qRound(readings.secondChainHz / 1e6))
                     .arg(qRound(readings.kernelHz / 1e6));
        qInfo("%s", qPrintable(tries.last()));
        if (shown > 0.0 && std::abs(shown - reference) <= 0.05 * reference)
            return;
    }
    QFAIL(qPrintable(tries.join(QStringLiteral("; "))));
}

// Five refreshes in a row stay within 3 % of each other when the machine is idle: when the
// reference, taken before and after them, agrees with itself within 2 %. On a busy host the clock
// really moves, so there only jumps beyond a fifth count, as a method that a renamer fools makes.
void TestClockSpeed::steadyFromTickToTick()
{
    QStringList series;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const double before = referenceClockHz();
        std::vector<double> ticks;
        ticks.reserve(5);
        for (int tick = 0; tick < 5; ++tick)
            ticks.push_back(shownMhz());
        const double after = referenceClockHz();
        const bool idle = std::abs(before - after) <= 0.02 * std::max(before, after);
        const auto [low, high] = std::minmax_element(ticks.begin(), ticks.end());
        QString all = QStringLiteral("%1 machine:").arg(QLatin1String(idle ? "idle" : "busy"));
        for (const double t : ticks)
            all += QLatin1Char(' ') + QString::number(t);
        series << all;
        QVERIFY2(*low > 0.0, qPrintable(all));
        QVERIFY2(*high <= *low * 1.2, qPrintable(all));
        if (!idle || *high <= *low * 1.03)
            return;
    }
    QFAIL(qPrintable(series.join(QStringLiteral("; "))));
}

void TestClockSpeed::refreshWithTheKnownClock_data()
{
    QTest::addColumn<double>("known"); // the clock shown last, as a share of the real one
    QTest::addColumn<bool>("shorter");
    QTest::newRow("unchanged") << 1.0 << true;
    // A clock that fell since: the refresh is not content with less than the known clock, and
    // measures in full.
    QTest::newRow("fell") << 2.0 << false;
    // A clock that rose since: measured in full too, so the refresh does not stop on a step of
    // a core that is still raising its clock.
    QTest::newRow("rose") << 0.5 << false;
}

// A refresh that knows the clock shown last shows the clock as a full measurement does; when the
// clock is unchanged it takes fewer rounds. The machine may be busy: the best of three tries.
void TestClockSpeed::refreshWithTheKnownClock()
{
    QFETCH(double, known);
    QFETCH(bool, shorter);
    QStringList tries;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ClockReadings full = measureClock(10);
        const double fullHz = trustedClockHz(full);
        if (fullHz <= 0.0)
            QSKIP("no confirmed clock reading on this host");
        const ClockReadings refresh = measureClock(10, fullHz * known);
        const double refreshHz = trustedClockHz(refresh);
        tries << QStringLiteral("full %1 MHz in %2 rounds, refresh %3 MHz in %4 rounds")
                     .arg(qRound(fullHz / 1e6))
                     .arg(full.rounds)
                     .arg(qRound(refreshHz / 1e6))
                     .arg(refresh.rounds);
        const bool agrees = std::abs(refreshHz - fullHz) <= 0.05 * fullHz;
        // A full measurement takes at least four rounds before it may settle.
        const bool rounds = shorter ? refresh.rounds < 4 : refresh.rounds >= 4;
        if (agrees && rounds)
            return;
    }
    QFAIL(qPrintable(tries.join(QStringLiteral("; "))));
}

QTEST_GUILESS_MAIN(TestClockSpeed)
#include "tst_clockspeed.moc"
