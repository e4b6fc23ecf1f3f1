#include "report.h"

#include "core/numbertext.h"

#include <QJsonArray>

#include <cmath>

namespace {

QJsonValue number(const std::optional<double> &value)
{
    return value && std::isfinite(*value) ? QJsonValue(*value) : QJsonValue();
}

// Seconds as the window writes them, so the table shows the same digits.
QString secondsText(const std::optional<double> &value)
{
    return value ? doubleText(*value) : QStringLiteral("-");
}

QJsonObject statsJson(const Stats &stats)
{
    return {{QStringLiteral("count"), stats.count},
            {QStringLiteral("min"), number(stats.min)},
            {QStringLiteral("median"), number(stats.median)},
            {QStringLiteral("max"), number(stats.max)},
            {QStringLiteral("spread_percent"), number(stats.spreadPercent)}};
}

QString kernelKey(int kernel)
{
    return QLatin1String(kernelSymbol(static_cast<Kernel>(kernel)));
}

QJsonObject spreadJson(const Spread &spread)
{
    QJsonObject json;
    for (int k = 0; k < KernelCount; ++k)
        json.insert(kernelKey(k), statsJson(spread.kernels[k].stats(0.001)));
    json.insert(QStringLiteral("cycle"), statsJson(spread.cycle.stats(1.0 / Currency::Scale)));
    return json;
}

QJsonValue scoreJson(const Score &score)
{
    if (score.text.isEmpty())
        return QJsonValue();
    return QJsonObject{{QStringLiteral("seconds_per_cycle"), score.seconds},
                       {QStringLiteral("text"), score.text}};
}

QJsonValue mhz(double value)
{
    return value > 0 ? QJsonValue(qRound(value)) : QJsonValue();
}

QString statsRow(const QString &name, const Stats &s)
{
    return QStringLiteral("  %1 %2 %3 %4 %5\n")
        .arg(name, -15)
        .arg(secondsText(s.min), 9)
        .arg(secondsText(s.median), 9)
        .arg(secondsText(s.max), 9)
        .arg(s.spreadPercent ? QString::number(*s.spreadPercent, 'f', 1) + QStringLiteral(" %")
                             : QStringLiteral("-"),
             10);
}

QString spreadText(const QString &title, const Spread &spread)
{
    QString text = QStringLiteral("%1%2%3%4%5\n")
                       .arg(QStringLiteral("%1, %2 cycle(s)").arg(title).arg(spread.count()), -18)
                       .arg(QStringLiteral("min"), 10)
                       .arg(QStringLiteral("median"), 10)
                       .arg(QStringLiteral("max"), 10)
                       .arg(QStringLiteral("spread"), 11);
    for (int k = 0; k < KernelCount; ++k)
        text += statsRow(kernelKey(k), spread.kernels[k].stats(0.001));
    return text + statsRow(QStringLiteral("cycle"), spread.cycle.stats(1.0 / Currency::Scale));
}

QString clockText(double mhz)
{
    return mhz > 0 ? QStringLiteral("%1 MHz").arg(qRound(mhz)) : QStringLiteral("-");
}

QString cycleRow(const CycleRecord &c)
{
    QString row = QStringLiteral("%1").arg(c.cycle, 5);
    const int widths[KernelCount] = {10, 12, 15, 9, 9, 9, 9};
    for (int k = 0; k < KernelCount; ++k)
        row += QStringLiteral("%1").arg(doubleText(c.seconds[k]), widths[k]);
    QString notes;
    if (c.wrong)
        notes += QStringLiteral("  wrong");
    if (c.contended)
        notes += QStringLiteral("  contended");
    return row + QStringLiteral("%1%2%3  %4%5\n")
                     .arg(c.simpleText, 9)
                     .arg(c.complexText, 9)
                     .arg(c.overallText, 9)
                     .arg(clockText(c.clockAfterMHz), notes);
}

QString signalName(int signal)
{
    switch (signal) {
    case 1:
        return QStringLiteral("SIGHUP");
    case 2:
        return QStringLiteral("SIGINT");
    case 15:
        return QStringLiteral("SIGTERM");
    default:
        return QStringLiteral("signal %1").arg(signal);
    }
}

QJsonValue temperatureJson(const ThreadStats &t)
{
    if (!t.lowestTemperature)
        return QJsonValue();
    return QJsonObject{{QStringLiteral("min"), *t.lowestTemperature},
                       {QStringLiteral("max"), *t.highestTemperature}};
}

QJsonObject threadJson(const ThreadStats &t)
{
    QJsonArray cycles;
    for (const CycleRecord &c : t.listed)
        cycles.append(cycleJson(c));
    return {{QStringLiteral("thread"), t.thread},
            {QStringLiteral("cpu"), t.cpu},
            {QStringLiteral("cycles_completed"), t.completed},
            {QStringLiteral("cycles_counted"), t.counted.count()},
            {QStringLiteral("cycles_contended"), t.contended.count()},
            {QStringLiteral("cycles_wrong"), t.wrongCycles},
            {QStringLiteral("wrong_results"), t.wrongResults},
            {QStringLiteral("cycles"), cycles},
            {QStringLiteral("cycles_listed"), static_cast<int>(t.listed.size())},
            {QStringLiteral("spread"), spreadJson(t.counted)},
            {QStringLiteral("contended"), spreadJson(t.contended)},
            {QStringLiteral("score"), scoreJson(t.score())},
            {QStringLiteral("temperature_celsius"), temperatureJson(t)}};
}

} // namespace

QJsonObject cycleJson(const CycleRecord &c)
{
    QJsonObject seconds;
    for (int k = 0; k < KernelCount; ++k)
        seconds.insert(kernelKey(k), c.seconds[k]);
    return {{QStringLiteral("thread"), c.thread},
            {QStringLiteral("cpu"), c.cpu},
            {QStringLiteral("cycle"), c.cycle},
            {QStringLiteral("seconds"), seconds},
            {QStringLiteral("simple"), number(readNumber(c.simpleText))},
            {QStringLiteral("complex"), number(readNumber(c.complexText))},
            {QStringLiteral("overall"), c.overall.toDouble()},
            {QStringLiteral("wall_seconds"), c.wallSeconds},
            {QStringLiteral("cpu_seconds"), c.cpuSeconds},
            {QStringLiteral("involuntary_switches"), static_cast<qint64>(c.involuntarySwitches)},
            {QStringLiteral("contended"), c.contended},
            {QStringLiteral("wrong"), c.wrong},
            {QStringLiteral("clock_mhz_before"), mhz(c.clockBeforeMHz)},
            {QStringLiteral("clock_mhz_after"), mhz(c.clockAfterMHz)},
            {QStringLiteral("temperature_celsius"), number(c.temperature)}};
}

QJsonObject mismatchJson(const Mismatch &m)
{
    return {{QStringLiteral("time"), m.time},
            {QStringLiteral("thread"), m.thread},
            {QStringLiteral("cpu"), m.cpu},
            {QStringLiteral("cycle"), m.cycle},
            {QStringLiteral("kernel"), QLatin1String(kernelSymbol(m.kernel))},
            {QStringLiteral("expected"), m.expected},
            {QStringLiteral("obtained"), m.obtained}};
}

QJsonObject throttleJson(const ThrottleEvent &e)
{
    return {{QStringLiteral("thread"), e.thread},
            {QStringLiteral("cycle"), e.cycle},
            {QStringLiteral("kind"), e.kind},
            {QStringLiteral("value"), e.value},
            {QStringLiteral("median_before"), e.reference}};
}

QString mismatchLine(const Mismatch &m)
{
    return QStringLiteral("%1 WRONG RESULT: thread %2, cpu %3, cycle %4, %5: expected %6, "
                          "obtained %7")
        .arg(m.time)
        .arg(m.thread)
        .arg(m.cpu)
        .arg(m.cycle)
        .arg(QLatin1String(kernelSymbol(m.kernel)), m.expected, m.obtained);
}

Spread BenchReport::counted() const
{
    Spread all;
    for (const ThreadStats &t : threads)
        all.merge(t.counted);
    return all;
}

Spread BenchReport::contended() const
{
    Spread all;
    for (const ThreadStats &t : threads)
        all.merge(t.contended);
    return all;
}

Score BenchReport::score() const
{
    if (options.burnIn)
        return {};
    Currency total;
    qint64 cycles = 0;
    for (const ThreadStats &t : threads) {
        total = total + t.total;
        cycles += t.counted.count();
    }
    return scoreOf(total, cycles);
}

qint64 BenchReport::completed() const
{
    qint64 cycles = 0;
    for (const ThreadStats &t : threads)
        cycles += t.completed;
    return cycles;
}

qint64 BenchReport::wrongResults() const
{
    qint64 wrong = 0;
    for (const ThreadStats &t : threads)
        wrong += t.wrongResults;
    return wrong;
}

QJsonDocument reportJson(const BenchReport &report)
{
    QJsonArray threads;
    QJsonArray mismatches;
    QJsonArray throttling;
    qint64 throttlingEvents = 0;
    for (const ThreadStats &t : report.threads) {
        QJsonObject thread = threadJson(t);
        if (report.options.burnIn)
            thread.insert(QStringLiteral("score"), QJsonValue());
        threads.append(thread);
        for (const Mismatch &m : t.mismatches)
            mismatches.append(mismatchJson(m));
        for (const ThrottleEvent &e : t.throttling)
            throttling.append(throttleJson(e));
        throttlingEvents += t.throttlingEvents;
    }
    const BenchOptions &o = report.options;
    const QJsonObject options{
        {QStringLiteral("cycles"), o.duration ? QJsonValue() : QJsonValue(o.cycles)},
        {QStringLiteral("duration_seconds"),
         o.duration ? QJsonValue(o.duration->count() / 1000.0) : QJsonValue()},
        {QStringLiteral("threads"), o.threads},
        {QStringLiteral("burn_in"), o.burnIn},
        {QStringLiteral("keep_going"), o.keepGoing},
        {QStringLiteral("log"), o.logFile.isEmpty() ? QJsonValue() : QJsonValue(o.logFile)}};
    const Spread counted = report.counted();
    const Spread contended = report.contended();
    QJsonObject root{
        {QStringLiteral("schema"), QStringLiteral("orvane-bench/2")},
        {QStringLiteral("kernels"), o.burnIn ? QStringLiteral("checked") : QStringLiteral("timed")},
        {QStringLiteral("result"),
         report.passed() ? QStringLiteral("pass") : QStringLiteral("fail")},
        {QStringLiteral("aborted"), report.signal != 0},
        {QStringLiteral("signal"),
         report.signal ? QJsonValue(signalName(report.signal)) : QJsonValue()},
        {QStringLiteral("options"), options},
        {QStringLiteral("score"), scoreJson(report.score())},
        {QStringLiteral("cycles_completed"), report.completed()},
        {QStringLiteral("cycles_counted"), counted.count()},
        {QStringLiteral("cycles_contended"), contended.count()},
        {QStringLiteral("spread"), spreadJson(counted)},
        {QStringLiteral("contended"), spreadJson(contended)},
        {QStringLiteral("threads"), threads},
        {QStringLiteral("shared_cores"), QJsonArray::fromStringList(report.sharedCores)},
        {QStringLiteral("verification"),
         QJsonObject{{QStringLiteral("wrong_results"), report.wrongResults()},
                     {QStringLiteral("mismatches"), mismatches}}},
        {QStringLiteral("throttling"), throttling},
        {QStringLiteral("throttling_events"), throttlingEvents},
        {QStringLiteral("temperatures_known"), report.temperaturesKnown},
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
    if (report.options.burnIn)
        text += QStringLiteral("Burn-in: the checked kernels, every operation checked; their "
                               "times are not a score.\n");
    for (const ThreadStats &t : report.threads) {
        text += QStringLiteral("Thread %1 on processor %2: %3 cycle(s), %4 wrong result(s)")
                    .arg(t.thread)
                    .arg(t.cpu)
                    .arg(t.completed)
                    .arg(t.wrongResults);
        if (t.lowestTemperature)
            text += QStringLiteral(", package %1 to %2 °C")
                        .arg(*t.lowestTemperature, 0, 'f', 1)
                        .arg(*t.highestTemperature, 0, 'f', 1);
        text += QLatin1Char('\n');
        text += QStringLiteral("Cycle  Addition Subtraction Multiplication Division    Prime       "
                               "Pi    Power   Simple  Complex  Overall  Clock\n");
        for (const CycleRecord &c : t.listed)
            text += cycleRow(c);
        if (t.completed > t.listed.size())
            text += QStringLiteral("  ... and %1 more cycle(s), in the log\n")
                        .arg(t.completed - t.listed.size());
        if (t.counted.count() > 0)
            text += spreadText(QStringLiteral("Counted"), t.counted);
        if (t.contended.count() > 0)
            text += spreadText(QStringLiteral("Contended"), t.contended);
        if (several && !report.options.burnIn && !t.score().text.isEmpty())
            text += QStringLiteral("Score of thread %1: %2 seconds per cycle\n")
                        .arg(t.thread)
                        .arg(t.score().text);
        text += QLatin1Char('\n');
    }
    if (several && report.counted().count() > 0)
        text += spreadText(QStringLiteral("All threads"), report.counted()) + QLatin1Char('\n');
    if (!report.sharedCores.isEmpty())
        text += QStringLiteral("Threads share a core on processors %1\n")
                    .arg(report.sharedCores.join(QStringLiteral("; ")));
    for (const ThreadStats &t : report.threads) {
        for (const ThrottleEvent &e : t.throttling) {
            text += e.kind == u"clock"
                        ? QStringLiteral("Throttling: thread %1, cycle %2: clock %3 MHz, median "
                                         "before %4 MHz\n")
                              .arg(e.thread)
                              .arg(e.cycle)
                              .arg(qRound(e.value))
                              .arg(qRound(e.reference))
                        : QStringLiteral("Throttling: thread %1, cycle %2: %3 s, median before "
                                         "%4 s\n")
                              .arg(e.thread)
                              .arg(e.cycle)
                              .arg(doubleText(e.value), doubleText(e.reference));
        }
        for (const Mismatch &m : t.mismatches)
            text += mismatchLine(m) + QLatin1Char('\n');
    }
    if (report.signal)
        text += QStringLiteral("Stopped by %1: %2 cycle(s) complete.\n")
                    .arg(signalName(report.signal))
                    .arg(report.completed());
    const Score score = report.score();
    if (!score.text.isEmpty())
        text += QStringLiteral("Score: %1 seconds per cycle (lower is better)\n").arg(score.text);
    text += report.passed()
                ? QStringLiteral("PASS: %1 cycle(s) on %2 thread(s), every result right\n")
                      .arg(report.completed())
                      .arg(report.threads.size())
                : QStringLiteral("FAIL: %1\n")
                      .arg(report.failure.isEmpty()
                               ? QStringLiteral("%1 wrong result(s)").arg(report.wrongResults())
                               : report.failure);
    return text;
}

int exitStatus(const BenchReport &report)
{
    if (!report.failure.isEmpty())
        return 1;
    if (report.wrongResults() > 0)
        return 3;
    if (report.signal)
        return 128 + report.signal;
    return 0;
}
