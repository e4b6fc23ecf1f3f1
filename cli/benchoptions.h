// orvane-bench's command line, read into plain values so that every option and its errors can be
// checked without running anything.
#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <variant>

struct BenchOptions
{
    int cycles = 1;
    std::optional<std::chrono::milliseconds> duration; // instead of a number of cycles
    int threads = 1;
    bool allThreads = false;
    // A burn-in runs the checked kernels, which check every operation and form no score:
    // --burn-in, or any run for a duration.
    bool burnIn = false;
    bool json = false;
    bool keepGoing = false;
    bool quiet = false;
    bool hostname = false;
    QString library; // a kernel library file to load instead of the installed one
    QString logFile; // one JSON line per cycle and per event, as they happen
    QString submitHost;
    quint16 submitPort = 1337;
    bool submit = false;
    QString nickname;
    bool help = false;
    bool version = false;
};

struct OptionsError
{
    QString message;
};

// The arguments with the program's name first, as in main's argv. At most maxThreads threads
// may be asked for.
std::variant<BenchOptions, OptionsError> parseBenchOptions(const QStringList &arguments,
                                                           int maxThreads);

// "90s", "10m", "1h30m", or plain seconds; nothing for anything else, or under a second.
std::optional<std::chrono::milliseconds> parseDuration(const QString &text);

// Why a nickname cannot be sent, or nothing when it can: 1 to 10 characters, no blank at
// either end, no control character, not one of the reserved names.
std::optional<QString> nicknameProblem(const QString &nickname);

QString benchUsage();
QString benchHelp();
