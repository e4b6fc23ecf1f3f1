#include "benchoptions.h"

#include "core/scoreprotocol.h"

#include <QRegularExpression>

namespace {

// The longest nickname the submission window lets one type.
constexpr int NicknameLimit = 10;
constexpr int CycleLimit = 1000000;

OptionsError error(const QString &text)
{
    return {text};
}

bool parsePort(const QString &text, quint16 *port)
{
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value < 1 || value > 65535)
        return false;
    *port = static_cast<quint16>(value);
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
    // A week at most: longer is a typing error rather than a burn-in.
    if (!(seconds > 0.0) || seconds > 7 * 24 * 3600.0)
        return std::nullopt;
    return std::chrono::milliseconds(static_cast<qint64>(seconds * 1000.0 + 0.5));
}

std::variant<BenchOptions, OptionsError> parseBenchOptions(const QStringList &arguments,
                                                           int maxThreads)
{
    BenchOptions options;
    bool cyclesGiven = false;
    bool nicknameGiven = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        std::optional<QString> inlineValue;
        if (const qsizetype eq = name.indexOf(QLatin1Char('=')); name.startsWith(u"--") && eq > 0) {
            inlineValue = name.mid(eq + 1);
            name.truncate(eq);
        }
        const auto value = [&]() -> std::optional<QString> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < arguments.size())
                return arguments[++i];
            return std::nullopt;
        };
        const auto flag = [&](bool *target) -> std::optional<OptionsError> {
            if (inlineValue)
                return error(QStringLiteral("option %1 takes no value").arg(name));
            *target = true;
            return std::nullopt;
        };
        std::optional<OptionsError> failed;
        if (name == u"--help" || name == u"-h") {
            failed = flag(&options.help);
        } else if (name == u"--version") {
            failed = flag(&options.version);
        } else if (name == u"--json") {
            failed = flag(&options.json);
        } else if (name == u"--keep-going") {
            failed = flag(&options.keepGoing);
        } else if (name == u"--quiet" || name == u"-q") {
            failed = flag(&options.quiet);
        } else if (name == u"--hostname") {
            failed = flag(&options.hostname);
        } else if (name == u"--cycles") {
            const auto text = value();
            bool ok = false;
            const int cycles = text ? text->toInt(&ok) : 0;
            if (!ok || cycles < 1 || cycles > CycleLimit)
                return error(QStringLiteral("--cycles takes a whole number from 1 to %1, not "
                                            "\"%2\"")
                                 .arg(CycleLimit)
                                 .arg(text.value_or(QString())));
            options.cycles = cycles;
            cyclesGiven = true;
        } else if (name == u"--duration") {
            const auto text = value();
            options.duration = text ? parseDuration(*text) : std::nullopt;
            if (!options.duration)
                return error(QStringLiteral("--duration takes a time such as 90s, 10m or 1h30m "
                                            "(at most a week), not \"%1\"")
                                 .arg(text.value_or(QString())));
        } else if (name == u"--threads") {
            const auto text = value();
            if (text == QStringLiteral("all")) {
                options.allThreads = true;
                options.threads = maxThreads;
                continue;
            }
            bool ok = false;
            const int threads = text ? text->toInt(&ok) : 0;
            if (!ok || threads < 1 || threads > maxThreads)
                return error(QStringLiteral("--threads takes \"all\" or a number from 1 to %1 "
                                            "(the processors this program may use), not \"%2\"")
                                 .arg(maxThreads)
                                 .arg(text.value_or(QString())));
            options.threads = threads;
        } else if (name == u"--library") {
            const auto text = value();
            if (!text || text->isEmpty())
                return error(QStringLiteral("--library takes the path of a kernel library"));
            options.library = *text;
        } else if (name == u"--submit") {
            const auto text = value();
            options.submitPort = ScoreProtocol::DefaultPort;
            if (!text || !parseServer(*text, &options.submitHost, &options.submitPort))
                return error(QStringLiteral("--submit takes HOST or HOST:PORT (port 1 to 65535), "
                                            "not \"%1\"")
                                 .arg(text.value_or(QString())));
            options.submit = true;
        } else if (name == u"--nickname") {
            const auto text = value();
            if (!text)
                return error(QStringLiteral("--nickname takes a name"));
            options.nickname = *text;
            nicknameGiven = true;
        } else {
            return error(QStringLiteral("unknown option \"%1\"").arg(arguments[i]));
        }
        if (failed)
            return *failed;
    }
    if (options.help || options.version)
        return options;
    if (cyclesGiven && options.duration)
        return error(QStringLiteral("--cycles and --duration cannot be given together"));
    if (options.submit != nicknameGiven)
        return error(QStringLiteral("--submit and --nickname go together"));
    if (nicknameGiven && (options.nickname.isEmpty() || options.nickname.size() > NicknameLimit))
        return error(QStringLiteral("--nickname takes 1 to %1 characters").arg(NicknameLimit));
    return options;
}

QString benchUsage()
{
    return QStringLiteral(
        "Usage: orvane-bench [--cycles N | --duration TIME] [--threads N|all] [--json]\n"
        "                    [--keep-going] [--quiet] [--hostname] [--library FILE]\n"
        "                    [--submit HOST[:PORT] --nickname NAME] [--help] [--version]\n");
}

QString benchHelp()
{
    return benchUsage() + QStringLiteral(R"(
Times the seven kernels of libkalvex.so, the same way and with the same score as the Orvane
window, checks every result against its exact value, and reports the times, their spread across
cycles, throttling and the conditions of the run.

  --cycles N          run N cycles (default 1)
  --duration TIME     run cycles until TIME has passed: 90s, 10m, 1h30m
  --threads N|all     run the cycles on N threads at once, each on its own logical processor
  --json              print one JSON document instead of the table
  --keep-going        run on after a wrong result, counting them
  --quiet, -q         no progress line
  --hostname          record the host name in the JSON
  --library FILE      load this kernel library instead of the installed one
  --submit HOST[:PORT] send the score to a score server (port 1337 by default)
  --nickname NAME     the nickname to send it with (1 to 10 characters)
  --help, -h          show this help
  --version           show the version

Exit status: 0 done, 1 the kernel library or the submission failed, 2 bad options,
3 a kernel gave a wrong result, 130 interrupted (what was complete is still reported).
)");
}
