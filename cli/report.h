// What orvane-bench reports: the figures of every cycle, their spread across cycles, throttling,
// wrong results, the conditions of the run, as a table for a terminal or as one JSON document.
#pragma once

#include "benchoptions.h"
#include "cyclerunner.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

struct Stats
{
    int count = 0;
    double min = 0.0;
    double median = 0.0;
    double max = 0.0;
    double spreadPercent = 0.0; // (max - min) / median
};
Stats statsOf(QList<double> values);

struct ThrottleEvent
{
    int thread = 0;
    int cycle = 0;
    QString kind;         // "clock": the clock fell; "slower": the cycle took longer
    double value = 0;     // MHz, or seconds
    double reference = 0; // the first reading of the same kind
};
// A clock more than 10 % below its first reading, or a cycle more than 10 % slower than the
// first, each with its cycle.
QList<ThrottleEvent> throttlingOf(int thread, const QList<CycleRecord> &cycles);

struct ThreadResult
{
    int thread = 0;
    RunnerOutcome outcome;
    Score score;
};

struct BenchReport
{
    BenchOptions options;
    QList<ThreadResult> threads;
    Score score; // over every cycle of every thread
    QStringList warnings;
    QStringList sharedCores;
    QJsonObject provenance;
    bool interrupted = false;
    QString failure;
    double wallSeconds = 0.0;

    QList<CycleRecord> allCycles() const;
    QList<Mismatch> mismatches() const;
    QList<ThrottleEvent> throttling() const;
};

QJsonDocument reportJson(const BenchReport &report);
QString reportText(const BenchReport &report);
// 1 the kernel library could not be used, 3 a wrong result, 130 interrupted, else 0.
int exitStatus(const BenchReport &report);
