#include "cyclestats.h"

#include "core/numbertext.h"

#include <cmath>

namespace {

constexpr double ThrottleShare = 0.10;
// Cycles seen before a cycle is judged against the median of the earlier ones.
constexpr qint64 ThrottleAfter = 3;

qint64 milliseconds(double seconds)
{
    return std::llround(seconds * 1000.0);
}

} // namespace

void Distribution::add(qint64 units, qint64 times)
{
    m_counts[units] += times;
    m_count += times;
}

void Distribution::merge(const Distribution &other)
{
    for (const auto &[units, times] : other.m_counts)
        add(units, times);
}

std::optional<double> Distribution::median() const
{
    if (m_count == 0)
        return std::nullopt;
    // The values at places (count - 1) / 2 and count / 2 of the sorted list, counted from 0.
    const qint64 lower = (m_count - 1) / 2;
    const qint64 upper = m_count / 2;
    std::optional<qint64> lowerValue;
    qint64 seen = 0;
    for (const auto &[units, times] : m_counts) {
        seen += times;
        if (!lowerValue && seen > lower)
            lowerValue = units;
        if (seen > upper)
            return (static_cast<double>(*lowerValue) + static_cast<double>(units)) / 2.0;
    }
    return std::nullopt;
}

Stats Distribution::stats(double unit) const
{
    Stats stats;
    stats.count = m_count;
    if (m_count == 0)
        return stats;
    stats.min = static_cast<double>(m_counts.begin()->first) * unit;
    stats.max = static_cast<double>(m_counts.rbegin()->first) * unit;
    stats.median = *median() * unit;
    stats.spreadPercent =
        *stats.median > 0 ? (*stats.max - *stats.min) / *stats.median * 100.0 : 0.0;
    return stats;
}

void Spread::add(const CycleRecord &record)
{
    for (int k = 0; k < KernelCount; ++k)
        kernels[k].add(milliseconds(record.seconds[k]));
    cycle.add(record.overall.raw());
}

void Spread::merge(const Spread &other)
{
    for (int k = 0; k < KernelCount; ++k)
        kernels[k].merge(other.kernels[k]);
    cycle.merge(other.cycle);
}

Score scoreOf(Currency total, qint64 cycles)
{
    if (cycles <= 0)
        return {};
    // As the run's summary: the total over the cycles, as a double, then to a Currency.
    const Currency average = Currency::fromDouble(total.toDouble() / static_cast<double>(cycles));
    return {currencyText(average), average.toDouble()};
}

QList<ThrottleEvent> ThreadStats::add(const CycleRecord &record)
{
    ++completed;
    if (listed.size() < ListedCycles)
        listed.append(record);
    QList<ThrottleEvent> events;
    // Against the median of the earlier readings: one first reading can be off by itself.
    const double lowest = std::min(record.clockBeforeMHz > 0 ? record.clockBeforeMHz : HUGE_VAL,
                                   record.clockAfterMHz > 0 ? record.clockAfterMHz : HUGE_VAL);
    if (const auto clock = m_clocks.median(); clock && completed > ThrottleAfter &&
                                              std::isfinite(lowest) &&
                                              lowest < *clock * (1.0 - ThrottleShare))
        events.append({thread, record.cycle, QStringLiteral("clock"), lowest, *clock});
    if (const auto cycleTime = counted.cycle.median();
        cycleTime && counted.count() >= ThrottleAfter && !record.contended && !record.wrong &&
        static_cast<double>(record.overall.raw()) > *cycleTime * (1.0 + ThrottleShare))
        events.append({thread, record.cycle, QStringLiteral("slower"), record.overall.toDouble(),
                       *cycleTime / Currency::Scale});
    for (const double reading : {record.clockBeforeMHz, record.clockAfterMHz}) {
        if (reading > 0)
            m_clocks.add(std::llround(reading));
    }

    if (record.wrong) {
        ++wrongCycles;
    } else if (record.contended) {
        contended.add(record);
    } else {
        counted.add(record);
        total = total + record.overall;
    }
    if (record.temperature) {
        lowestTemperature = std::min(lowestTemperature.value_or(HUGE_VAL), *record.temperature);
        highestTemperature = std::max(highestTemperature.value_or(-HUGE_VAL), *record.temperature);
    }
    throttlingEvents += events.size();
    for (const ThrottleEvent &event : std::as_const(events)) {
        if (throttling.size() < ListedEvents)
            throttling.append(event);
    }
    return events;
}

void ThreadStats::addMismatch(const Mismatch &mismatch)
{
    ++wrongResults;
    if (mismatches.size() < ListedEvents)
        mismatches.append(mismatch);
}
