// report-bench: how long orvane-bench takes to report a long run once its last cycle is done,
// and what the run's statistics cost while it goes. It feeds a million recorded cycles (over 1, 2
// and 32 threads) into the statistics the program keeps, then forms the JSON and the table, and
// prints the medians of five runs.
// Usage: report-bench [cycles]
#include "cyclestats.h"
#include "report.h"

#include "core/numbertext.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

CycleRecord record(int thread, int number, QRandomGenerator &random)
{
    static const int base[KernelCount] = {251, 249, 186, 295, 57, 298, 400};
    CycleRecord c;
    c.thread = thread;
    c.cycle = number;
    qint64 total = 0;
    for (int k = 0; k < KernelCount; ++k) {
        const int ms = base[k] + static_cast<int>(random.bounded(12));
        c.seconds[k] = ms / 1000.0;
        total += ms;
    }
    c.overall = Currency::fromRaw(total * 10);
    c.overallText = currencyText(c.overall);
    c.clockBeforeMHz = c.clockAfterMHz = 3400 + random.bounded(20);
    return c;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000000;
    for (const int threads : {1, 2, 32}) {
        std::vector<double> adding;
        std::vector<double> reporting;
        qint64 bytes = 0;
        for (int run = 0; run < 5; ++run) {
            QRandomGenerator random(static_cast<quint32>(run + 1));
            BenchReport report;
            report.threads.resize(threads);
            QElapsedTimer clock;
            clock.start();
            for (int c = 0; c < cycles; ++c)
                report.threads[c % threads].add(record(c % threads, c / threads + 1, random));
            adding.push_back(clock.nsecsElapsed() / 1e6);
            clock.restart();
            const QByteArray json = reportJson(report).toJson(QJsonDocument::Indented);
            const QString text = reportText(report);
            reporting.push_back(clock.nsecsElapsed() / 1e6);
            bytes = json.size() + text.size();
        }
        std::printf("%d cycles on %d thread(s): statistics %.2f us a cycle as they come; report "
                    "after the last cycle %.0f ms (median of 5), %lld bytes\n",
                    cycles, threads, median(adding) * 1000.0 / cycles, median(reporting),
                    static_cast<long long>(bytes));
    }
    return 0;
}
