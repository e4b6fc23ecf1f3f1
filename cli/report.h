// What orvane-bench reports at the end of a run: every thread's statistics, the score, wrong
// results, throttling, the conditions of the run and its verdict, as a table for a terminal or
// as one JSON document; and the JSON of single cycles and events for the run's log.
#pragma once

#include "benchoptions.h"
#include "cyclestats.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

struct BenchReport
{
    BenchOptions options;
    QList<ThreadStats> threads;
    QStringList warnings;
    QStringList sharedCores;
    QJsonObject provenance;
    int signal = 0;  // the signal that stopped the run, if one did
    QString failure; // the kernel library could not be used, or a kernel never returned
    double wallSeconds = 0.0;
    bool temperaturesKnown = false;

    // Over every thread.
    Spread counted() const;
    Spread contended() const;
    Score score() const;
    qint64 completed() const;
    qint64 wrongResults() const;
    // No wrong result and no failure: what a burn-in is run to learn.
    bool passed() const { return failure.isEmpty() && wrongResults() == 0; }
};

QJsonDocument reportJson(const BenchReport &report);
QString reportText(const BenchReport &report);
// 1 the kernel library could not be used, 3 a wrong result, 128 + the signal that stopped the
// run, else 0.
int exitStatus(const BenchReport &report);

// For the run's log.
QJsonObject cycleJson(const CycleRecord &c);
QJsonObject mismatchJson(const Mismatch &mismatch);
QJsonObject throttleJson(const ThrottleEvent &event);
// The line printed on standard error the moment a wrong result is found.
QString mismatchLine(const Mismatch &mismatch);
