#include "benchoptions.h"

#include "core/numbertext.h"
#include "core/scoreprotocol.h"
#include "submit/submissionclient.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <cmath>

namespace {

constexpr int CycleLimit = 1000000;

const QCommandLineOption CyclesOption(QStringLiteral("cycles"), QString(), QStringLiteral("N"));
const QCommandLineOption DurationOption(QStringLiteral("duration"), QString(),
                                        QStringLiteral("TIME"));
const QCommandLineOption ThreadsOption(QStringLiteral("threads"), QString(),
                                       QStringLiteral("N|all"));
const QCommandLineOption BurnInOption(QStringLiteral("burn-in"), QString());
const QCommandLineOption JsonOption(QStringLiteral("json"), QString());
const QCommandLineOption KeepGoingOption(QStringLiteral("keep-going"), QString());
const QCommandLineOption QuietOption({QStringLiteral("q"), QStringLiteral("quiet")}, QString());
const QCommandLineOption HostnameOption(QStringLiteral("hostname"), QString());
const QCommandLineOption LibraryOption(QStringLiteral("library"), QString(),
                                       QStringLiteral("FILE"));
const QCommandLineOption LogOption(QStringLiteral("log"), QString(), QStringLiteral("FILE"));
const QCommandLineOption SubmitOption(QStringLiteral("submit"), QString(),
                                      QStringLiteral("HOST[:PORT]"));
const QCommandLineOption NicknameOption(QStringLiteral("nickname"), QString(),
                                        QStringLiteral("NAME"));
const QCommandLineOption HelpOption({QStringLiteral("h"), QStringLiteral("help")}, QString());
const QCommandLineOption VersionOption(QStringLiteral("version"), QString());

bool parsePort(const QString &text, quint16 *port)
{
    const auto value = wholeNumber(text, 1, 65535);
    if (!value)
        return false;
    *port = static_cast<quint16>(*value);
    return true;
}

// HOST, HOST:PORT, an IPv6 address, or [IPv6 address]:PORT.
bool parseServer(const QString &text, QString *host, quint16 *port)
{
    if (text.isEmpty() || text.contains(QLatin1Char(' ')))
        return false;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 2)
            return false;
        *host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        return rest.isEmpty() ||
               (rest.startsWith(QLatin1Char(':')) && parsePort(rest.mid(1), port));
    }
    // More than one colon: an IPv6 address without a port.
    if (text.count(QLatin1Char(':')) > 1) {
        *host = text;
        return true;
    }
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    *host = text.left(colon);
    return !host->isEmpty() && (colon < 0 || parsePort(text.mid(colon + 1), port));
}

std::optional<OptionsError> readCount(const QCommandLineParser &parser, BenchOptions &options,
                                      int maxThreads)
{
    if (parser.isSet(CyclesOption)) {
        const auto cycles = wholeNumber(parser.value(CyclesOption), 1, CycleLimit);
        if (!cycles)
            return OptionsError{QStringLiteral("--cycles takes a whole number from 1 to %1, not "
                                               "\"%2\"")
                                    .arg(CycleLimit)
                                    .arg(parser.value(CyclesOption))};
        options.cycles = static_cast<int>(*cycles);
    }
    if (parser.isSet(DurationOption)) {
        options.duration = parseDuration(parser.value(DurationOption));
        if (!options.duration)
            return OptionsError{QStringLiteral("--duration takes a time from 1s to a week, such "
                                               "as 90s, 10m or 1h30m, not \"%1\"")
                                    .arg(parser.value(DurationOption))};
    }
    if (parser.isSet(CyclesOption) && parser.isSet(DurationOption))
        return OptionsError{QStringLiteral("--cycles and --duration cannot be given together")};
    if (parser.isSet(ThreadsOption)) {
        const QString text = parser.value(ThreadsOption);
        const auto threads = wholeNumber(text, 1, maxThreads);
        if (text == u"all") {
            options.allThreads = true;
            options.threads = maxThreads;
        } else if (!threads) {
            return OptionsError{QStringLiteral("--threads takes \"all\" or a number from 1 to %1 "
                                               "(the processors this program may use), not \"%2\"")
                                    .arg(maxThreads)
                                    .arg(text)};
        } else {
            options.threads = static_cast<int>(*threads);
        }
    }
    return std::nullopt;
}

std::optional<OptionsError> readSubmission(const QCommandLineParser &parser, BenchOptions &options)
{
    options.submit = parser.isSet(SubmitOption);
    if (options.submit) {
        options.submitPort = ScoreProtocol::DefaultPort;
        if (!parseServer(parser.value(SubmitOption), &options.submitHost, &options.submitPort))
            return OptionsError{QStringLiteral("--submit takes HOST or HOST:PORT (port 1 to "
                                               "65535), not \"%1\"")
                                    .arg(parser.value(SubmitOption))};
    }
    if (options.submit != parser.isSet(NicknameOption))
        return OptionsError{QStringLiteral("--submit and --nickname go together")};
    if (!options.submit)
        return std::nullopt;
    options.nickname = parser.value(NicknameOption);
    if (const auto problem = nicknameProblem(options.nickname))
        return OptionsError{QStringLiteral("--nickname: ") + *problem};
    if (options.burnIn)
        return OptionsError{QStringLiteral("--submit sends a benchmark's score, and a burn-in "
                                           "(--burn-in or --duration) forms none")};
    return std::nullopt;
}

} // namespace

std::optional<std::chrono::milliseconds> parseDuration(const QString &text)
{
    static const QRegularExpression whole(QStringLiteral("^(?:[0-9]+(?:\\.[0-9]+)?[hms]?)+$"));
    static const QRegularExpression part(QStringLiteral("([0-9]+(?:\\.[0-9]+)?)([hms]?)"));
    if (!whole.match(text).hasMatch())
        return std::nullopt;
    double seconds = 0.0;
    bool bare = false;
    for (auto it = part.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        // A number without a unit is seconds, and only as the whole text.
        if (m.captured(2).isEmpty() && (bare || m.capturedLength(0) != text.size()))
            return std::nullopt;
        bare = bare || m.captured(2).isEmpty();
        const double value = m.captured(1).toDouble();
        const QChar unit = m.captured(2).isEmpty() ? QLatin1Char('s') : m.captured(2)[0];
        seconds += value * (unit == QLatin1Char('h') ? 3600 : unit == QLatin1Char('m') ? 60 : 1);
    }
    // At least a second, at most a week: anything else is a typing error rather than a run.
    if (!(seconds >= 1.0) || seconds > 7 * 24 * 3600.0)
        return std::nullopt;
    return std::chrono::milliseconds(std::llround(seconds * 1000.0));
}

std::optional<QString> nicknameProblem(const QString &nickname)
{
    const qsizetype characters = nickname.toUcs4().size();
    if (characters < 1 || characters > ScoreProtocol::MaxNicknameLength)
        return QStringLiteral("a nickname has 1 to %1 characters")
            .arg(ScoreProtocol::MaxNicknameLength);
    if (nickname.startsWith(QLatin1Char(' ')) || nickname.endsWith(QLatin1Char(' ')))
        return QStringLiteral("a nickname may not begin or end with a blank");
    for (const QChar c : nickname) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return QStringLiteral("a nickname may not hold control characters");
    }
    if (isReservedNickname(nickname))
        return QStringLiteral("that nickname has been reserved");
    return std::nullopt;
}

std::variant<BenchOptions, OptionsError> parseBenchOptions(const QStringList &arguments,
                                                           int maxThreads)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({CyclesOption, DurationOption, ThreadsOption, BurnInOption, JsonOption,
                       KeepGoingOption, QuietOption, HostnameOption, LibraryOption, LogOption,
                       SubmitOption, NicknameOption, HelpOption, VersionOption});
    if (!parser.parse(arguments))
        return OptionsError{parser.errorText()};
    if (!parser.positionalArguments().isEmpty())
        return OptionsError{QStringLiteral("unexpected argument \"%1\"")
                                .arg(parser.positionalArguments().constFirst())};

    BenchOptions options;
    options.help = parser.isSet(HelpOption);
    options.version = parser.isSet(VersionOption);
    if (options.help || options.version)
        return options;
    if (auto error = readCount(parser, options, maxThreads))
        return *error;
    options.burnIn = parser.isSet(BurnInOption) || options.duration.has_value();
    options.json = parser.isSet(JsonOption);
    options.keepGoing = parser.isSet(KeepGoingOption);
    options.quiet = parser.isSet(QuietOption);
    options.hostname = parser.isSet(HostnameOption);
    if (parser.isSet(LibraryOption)) {
        options.library = parser.value(LibraryOption);
        if (options.library.isEmpty())
            return OptionsError{QStringLiteral("--library takes the path of a kernel library")};
    }
    if (parser.isSet(LogOption)) {
        options.logFile = parser.value(LogOption);
        if (options.logFile.isEmpty())
            return OptionsError{QStringLiteral("--log takes the path of a file")};
    }
    if (auto error = readSubmission(parser, options))
        return *error;
    return options;
}

QString benchUsage()
{
    return QStringLiteral(
        "Usage: orvane-bench [--cycles N | --duration TIME] [--threads N|all] [--burn-in]\n"
        "                    [--json] [--log FILE] [--keep-going] [--quiet] [--hostname]\n"
        "                    [--library FILE] [--submit HOST[:PORT] --nickname NAME]\n"
        "                    [--help] [--version]\n");
}

QString benchHelp()
{
    // One line of usage, which manual-page tools read as the synopsis.
    return QStringLiteral("Usage: orvane-bench [OPTION]...\n") + QStringLiteral(R"(
Times the seven kernels of libkalvex.so the same way, and with the same score, as the Orvane
window, and reports the times, their spread across cycles, throttling and the conditions of the
run. A burn-in instead runs the kernels' checked variants, which check the result of every
operation against its exact value and whose times form no score.

Which kernels a run uses:
  --cycles N (the default, one cycle)
                      the timed kernels: the score, each kernel's last value checked
  --burn-in, --duration TIME
                      the checked kernels: every operation checked, no score

  --cycles N          run N cycles (default 1)
  --duration TIME     a burn-in that runs cycles until TIME has passed: 90s, 10m, 1h30m
  --burn-in           run the checked kernels, for --cycles N too
  --threads N|all     run the cycles on N threads at once, each pinned to its own processor
  --json              print one JSON document instead of the table
  --log FILE          append one JSON line per completed cycle and per event, as it happens
  --keep-going        run on after a wrong result, counting them per thread
  --quiet, -q         no progress line
  --hostname          record the host name in the JSON
  --library FILE      load this kernel library instead of the installed one
  --submit HOST[:PORT] send the score to a score server (port 1337 by default)
  --nickname NAME     the nickname to send it with (1 to 10 characters)
  --help, -h          show this help
  --version           show the version

A wrong result is printed at once on standard error, and every thread stops at its next kernel
boundary unless --keep-going is given. A cycle that got less than 95 % of a processor is kept out
of the score and the spread, and reported apart.

Exit status: 0 done (PASS), 1 the kernel library, the submission or writing the report failed,
2 bad options, 3 a kernel gave a wrong result (FAIL), 129, 130 or 143 stopped by SIGHUP, SIGINT
or SIGTERM (what was complete is still reported; a second signal ends it at once).
)");
}
