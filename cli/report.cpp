#include "report.h"

#include "core/numbertext.h"

#include <QJsonArray>

#include <algorithm>

namespace {

constexpr double ThrottleShare = 0.10;

QJsonValue number(double value)
{
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue();
}

// Seconds as the window writes them, so the table shows the same digits.
QString secondsText(double value)
{
    return doubleText(value);
}

// The exact double, for comparing a wrong result with the right one digit by digit.
QString exactText(double value)
{
    return QString::number(value, 'g', 17);
}

QJsonObject statsJson(const Stats &stats)
{
    return {{QStringLiteral("count"), stats.count},
            {QStringLiteral("min"), number(stats.min)},
            {QStringLiteral("median"), number(stats.median)},
            {QStringLiteral("max"), number(stats.max)},
            {QStringLiteral("spread_percent"), number(stats.spreadPercent)}};
}

// The seconds of one kernel across the cycles, or with kernel -1 the cycles' overall totals.
QList<double> secondsAcross(const QList<CycleRecord> &cycles, int kernel)
{
    QList<double> values;
    for (const CycleRecord &c : cycles)
        values << (kernel < 0 ? c.overall : c.seconds[kernel]);
    return values;
}

// Per kernel and for the whole cycle.
QJsonObject spreadJson(const QList<CycleRecord> &cycles)
{
    QJsonObject spread;
    for (int k = 0; k < KernelCount; ++k)
        spread.insert(QLatin1String(kernelName(static_cast<Kernel>(k))),
                      statsJson(statsOf(secondsAcross(cycles, k))));
    spread.insert(QStringLiteral("cycle"), statsJson(statsOf(secondsAcross(cycles, -1))));
    return spread;
}

QJsonObject cycleJson(const CycleRecord &c)
{
    QJsonObject seconds;
    for (int k = 0; k < KernelCount; ++k)
        seconds.insert(QLatin1String(kernelName(static_cast<Kernel>(k))), c.seconds[k]);
    return {{QStringLiteral("cycle"), c.cycle},
            {QStringLiteral("seconds"), seconds},
            {QStringLiteral("simple"), readNumber(c.simpleText).value_or(0.0)},
            {QStringLiteral("complex"), readNumber(c.complexText).value_or(0.0)},
            {QStringLiteral("overall"), c.overall},
            {QStringLiteral("clock_mhz_before"),
             c.clockBeforeMHz > 0 ? QJsonValue(qRound(c.clockBeforeMHz)) : QJsonValue()},
            {QStringLiteral("clock_mhz_after"),
             c.clockAfterMHz > 0 ? QJsonValue(qRound(c.clockAfterMHz)) : QJsonValue()}};
}

QJsonValue scoreJson(const Score &score)
{
    if (score.text.isEmpty())
        return QJsonValue();
    return QJsonObject{{QStringLiteral("seconds_per_cycle"), score.seconds},
                       {QStringLiteral("text"), score.text}};
}

QString statsRow(const QString &name, const Stats &s)
{
    return QStringLiteral("  %1 %2 %3 %4 %5 %\n")
        .arg(name, -15)
        .arg(secondsText(s.min), 9)
        .arg(secondsText(s.median), 9)
        .arg(secondsText(s.max), 9)
        .arg(QString::number(s.spreadPercent, 'f', 1), 8);
}

QString spreadText(const QList<CycleRecord> &cycles)
{
    QString text = QStringLiteral("%1%2%3%4%5\n")
                       .arg(QStringLiteral("Across %1 cycle(s)").arg(cycles.size()), -18)
                       .arg(QStringLiteral("min"), 10)
                       .arg(QStringLiteral("median"), 10)
                       .arg(QStringLiteral("max"), 10)
                       .arg(QStringLiteral("spread"), 9);
    for (int k = 0; k < KernelCount; ++k)
        text += statsRow(QLatin1String(kernelName(static_cast<Kernel>(k))),
                         statsOf(secondsAcross(cycles, k)));
    return text + statsRow(QStringLiteral("cycle"), statsOf(secondsAcross(cycles, -1)));
}

QString clockText(double mhz)
{
    return mhz > 0 ? QStringLiteral("%1 MHz").arg(qRound(mhz)) : QStringLiteral("-");
}

} // namespace

Stats statsOf(QList<double> values)
{
    Stats stats;
    stats.count = static_cast<int>(values.size());
    if (values.isEmpty())
        return stats;
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    stats.min = values.front();
    stats.max = values.back();
    stats.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
    stats.spreadPercent = stats.median > 0 ? (stats.max - stats.min) / stats.median * 100.0 : 0.0;
    return stats;
}

QList<ThrottleEvent> throttlingOf(int thread, const QList<CycleRecord> &cycles)
{
    QList<ThrottleEvent> events;
    if (cycles.isEmpty())
        return events;
    const CycleRecord &first = cycles.front();
    const double firstClock = first.clockBeforeMHz;
    for (const CycleRecord &c : cycles) {
        const double lowest = std::min(c.clockBeforeMHz > 0 ? c.clockBeforeMHz : firstClock,
                                       c.clockAfterMHz > 0 ? c.clockAfterMHz : firstClock);
        if (firstClock > 0 && lowest < firstClock * (1.0 - ThrottleShare))
            events.append({thread, c.cycle, QStringLiteral("clock"), lowest, firstClock});
        if (first.overall > 0 && c.overall > first.overall * (1.0 + ThrottleShare))
            events.append({thread, c.cycle, QStringLiteral("slower"), c.overall, first.overall});
    }
    return events;
}

QList<CycleRecord> BenchReport::allCycles() const
{
    QList<CycleRecord> cycles;
    for (const ThreadResult &t : threads)
        cycles += t.outcome.cycles;
    return cycles;
}

QList<Mismatch> BenchReport::mismatches() const
{
    QList<Mismatch> found;
    for (const ThreadResult &t : threads)
        found += t.outcome.mismatches;
    return found;
}

QList<ThrottleEvent> BenchReport::throttling() const
{
    QList<ThrottleEvent> events;
    for (const ThreadResult &t : threads)
        events += throttlingOf(t.thread, t.outcome.cycles);
    return events;
}

QJsonDocument reportJson(const BenchReport &report)
{
    QJsonArray threads;
    for (const ThreadResult &t : report.threads) {
        QJsonArray cycles;
        for (const CycleRecord &c : t.outcome.cycles)
            cycles.append(cycleJson(c));
        threads.append(QJsonObject{{QStringLiteral("thread"), t.thread},
                                   {QStringLiteral("cpu"), t.outcome.cpu},
                                   {QStringLiteral("cycles"), cycles},
                                   {QStringLiteral("spread"), spreadJson(t.outcome.cycles)},
                                   {QStringLiteral("score"), scoreJson(t.score)}});
    }
    QJsonArray mismatches;
    for (const Mismatch &m : report.mismatches()) {
        mismatches.append(
            QJsonObject{{QStringLiteral("thread"), m.thread},
                        {QStringLiteral("cycle"), m.cycle},
                        {QStringLiteral("kernel"), QLatin1String(kernelName(m.kernel))},
                        {QStringLiteral("expected"), exactText(m.expected)},
                        {QStringLiteral("obtained"), exactText(m.obtained)}});
    }
    QJsonArray throttling;
    for (const ThrottleEvent &e : report.throttling()) {
        throttling.append(QJsonObject{{QStringLiteral("thread"), e.thread},
                                      {QStringLiteral("cycle"), e.cycle},
                                      {QStringLiteral("kind"), e.kind},
                                      {QStringLiteral("value"), e.value},
                                      {QStringLiteral("first"), e.reference}});
    }
    const BenchOptions &o = report.options;
    const QJsonObject options{
        {QStringLiteral("cycles"), o.duration ? QJsonValue() : QJsonValue(o.cycles)},
        {QStringLiteral("duration_seconds"),
         o.duration ? QJsonValue(o.duration->count() / 1000.0) : QJsonValue()},
        {QStringLiteral("threads"), o.threads},
        {QStringLiteral("keep_going"), o.keepGoing}};
    const QList<CycleRecord> all = report.allCycles();
    QJsonObject root{
        {QStringLiteral("schema"), QStringLiteral("orvane-bench/1")},
        {QStringLiteral("aborted"), report.interrupted},
        {QStringLiteral("options"), options},
        {QStringLiteral("score"), scoreJson(report.score)},
        {QStringLiteral("cycles_completed"), static_cast<int>(all.size())},
        {QStringLiteral("spread"), spreadJson(all)},
        {QStringLiteral("threads"), threads},
        {QStringLiteral("shared_cores"), QJsonArray::fromStringList(report.sharedCores)},
        {QStringLiteral("verification"),
         QJsonObject{{QStringLiteral("wrong_results"), mismatches.size()},
                     {QStringLiteral("mismatches"), mismatches}}},
        {QStringLiteral("throttling"), throttling},
        {QStringLiteral("warnings"), QJsonArray::fromStringList(report.warnings)},
        {QStringLiteral("wall_seconds"), report.wallSeconds},
        {QStringLiteral("provenance"), report.provenance}};
    if (!report.failure.isEmpty())
        root.insert(QStringLiteral("failure"), report.failure);
    return QJsonDocument(root);
}

QString reportText(const BenchReport &report)
{
    QString text;
    const bool several = report.threads.size() > 1;
    for (const ThreadResult &t : report.threads) {
        if (several)
            text += QStringLiteral("Thread %1 on processor %2\n").arg(t.thread).arg(t.outcome.cpu);
        text += QStringLiteral("Cycle  Addition Subtraction Multiplication Division    Prime       "
                               "Pi    Power   Simple  Complex  Overall  Clock\n");
        for (const CycleRecord &c : t.outcome.cycles) {
            QString row = QStringLiteral("%1").arg(c.cycle, 5);
            const int widths[KernelCount] = {10, 12, 15, 9, 9, 9, 9};
            for (int k = 0; k < KernelCount; ++k)
                row += QStringLiteral("%1").arg(secondsText(c.seconds[k]), widths[k]);
            row += QStringLiteral("%1%2%3  %4\n")
                       .arg(c.simpleText, 9)
                       .arg(c.complexText, 9)
                       .arg(c.overallText, 9)
                       .arg(clockText(c.clockAfterMHz));
            text += row;
        }
        if (!t.outcome.cycles.isEmpty())
            text += spreadText(t.outcome.cycles);
        if (several && !t.score.text.isEmpty())
            text += QStringLiteral("Score of thread %1: %2 seconds per cycle\n")
                        .arg(t.thread)
                        .arg(t.score.text);
        text += QLatin1Char('\n');
    }
    if (several && !report.allCycles().isEmpty())
        text +=
            QStringLiteral("All threads\n") + spreadText(report.allCycles()) + QLatin1Char('\n');
    if (!report.sharedCores.isEmpty())
        text += QStringLiteral("Threads share a core on processors %1\n")
                    .arg(report.sharedCores.join(QStringLiteral("; ")));
    for (const ThrottleEvent &e : report.throttling()) {
        text +=
            e.kind == u"clock"
                ? QStringLiteral("Throttling: thread %1, cycle %2: clock %3 MHz, first %4 MHz\n")
                      .arg(e.thread)
                      .arg(e.cycle)
                      .arg(qRound(e.value))
                      .arg(qRound(e.reference))
                : QStringLiteral("Throttling: thread %1, cycle %2: %3 s, first cycle %4 s\n")
                      .arg(e.thread)
                      .arg(e.cycle)
                      .arg(secondsText(e.value), secondsText(e.reference));
    }
    for (const Mismatch &m : report.mismatches()) {
        text += QStringLiteral("WRONG RESULT: thread %1, cycle %2, %3: expected %4, obtained %5\n")
                    .arg(m.thread)
                    .arg(m.cycle)
                    .arg(QLatin1String(kernelName(m.kernel)), exactText(m.expected),
                         exactText(m.obtained));
    }
    if (report.interrupted)
        text +=
            QStringLiteral("Interrupted: %1 cycle(s) complete.\n").arg(report.allCycles().size());
    if (!report.score.text.isEmpty())
        text += QStringLiteral("Score: %1 seconds per cycle (lower is better)\n")
                    .arg(report.score.text);
    return text;
}

int exitStatus(const BenchReport &report)
{
    if (!report.failure.isEmpty())
        return 1;
    if (!report.mismatches().isEmpty())
        return 3;
    if (report.interrupted)
        return 130;
    return 0;
}
