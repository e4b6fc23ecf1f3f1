// What orvane-bench keeps of the cycles as they complete: statistics updated cycle by cycle in
// memory that grows with the distinct values seen rather than with the cycles, so that a day-long
// run on many threads is reported at once when it ends.
#pragma once

#include "benchmark/kernelset.h"
#include "core/currency.h"

#include <QList>
#include <QString>

#include <array>
#include <map>
#include <optional>

// One completed cycle of one thread.
struct CycleRecord
{
    int thread = 0;
    int cpu = -1;
    int cycle = 0;
    std::array<double, KernelCount> seconds{};
    QString simpleText; // the totals as the window shows them
    QString complexText;
    QString overallText;
    Currency overall;
    double clockBeforeMHz = 0.0; // 0 when no reading could be trusted
    double clockAfterMHz = 0.0;
    double wallSeconds = 0.0;
    double cpuSeconds = 0.0; // the thread's own processor time
    long involuntarySwitches = 0;
    bool contended = false; // less than 95 % of a processor: kept out of score and spread
    bool wrong = false;     // a kernel gave a wrong result: kept out of score and spread
    std::optional<double> temperature; // of the thread's package, degrees Celsius
};

// A wrong result, as the run found it.
struct Mismatch
{
    QString time; // UTC
    int thread = 0;
    int cpu = -1;
    int cycle = 0;
    Kernel kernel = Kernel::Addition;
    QString expected;
    QString obtained;
};

struct Stats
{
    qint64 count = 0;
    // Absent when there is no value.
    std::optional<double> min;
    std::optional<double> median;
    std::optional<double> max;
    std::optional<double> spreadPercent; // (max - min) / median
};

// Values that are whole multiples of a unit (kernel times are whole milliseconds, totals whole
// ten-thousandths of a second), kept as a count for each value: exact statistics in memory that
// grows with the distinct values only.
class Distribution
{
public:
    void add(qint64 units, qint64 times = 1);
    void merge(const Distribution &other);
    qint64 count() const { return m_count; }
    // In units of the value: a median of an even count is the mean of the two middle values.
    std::optional<double> median() const;
    Stats stats(double unit) const;

private:
    std::map<qint64, qint64> m_counts;
    qint64 m_count = 0;
};

// Per kernel, and for the cycle's overall time.
struct Spread
{
    std::array<Distribution, KernelCount> kernels;
    Distribution cycle; // in ten-thousandths

    void add(const CycleRecord &record);
    void merge(const Spread &other);
    qint64 count() const { return cycle.count(); }
};

struct ThrottleEvent
{
    int thread = 0;
    int cycle = 0;
    QString kind;         // "clock": the clock fell; "slower": the cycle took longer
    double value = 0;     // MHz, or seconds
    double reference = 0; // the median of the earlier readings of the same kind
};

struct Score
{
    QString text; // empty when no cycle counts
    double seconds = 0.0;
};

// The score the window shows for cycles whose overall times add up to total: the same
// arithmetic as its run, without running them again.
Score scoreOf(Currency total, qint64 cycles);

// One thread's cycles, summed up as they come.
class ThreadStats
{
public:
    static constexpr int ListedCycles = 1000; // kept whole for the report; the log has them all
    static constexpr int ListedEvents = 100;

    int thread = 0;
    int cpu = -1;
    qint64 completed = 0;
    qint64 wrongCycles = 0;
    qint64 wrongResults = 0;
    Spread counted; // the cycles in the score: neither contended nor wrong
    Spread contended;
    Currency total; // of the counted cycles' overall times
    QList<CycleRecord> listed;
    QList<ThrottleEvent> throttling;
    qint64 throttlingEvents = 0;
    QList<Mismatch> mismatches;
    std::optional<double> lowestTemperature;
    std::optional<double> highestTemperature;

    // The throttling this cycle shows against the earlier ones, which it is then added to.
    QList<ThrottleEvent> add(const CycleRecord &record);
    void addMismatch(const Mismatch &mismatch);
    Score score() const { return scoreOf(total, counted.count()); }

private:
    Distribution m_clocks; // whole MHz
};
