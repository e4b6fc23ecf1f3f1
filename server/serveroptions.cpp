#include "serveroptions.h"

#include "core/numbertext.h"

#include <QCommandLineParser>

namespace {

const QCommandLineOption PortOption(
    QStringLiteral("port"),
    QStringLiteral("Listen on <port> and on the port after it (default 1337; 0 picks two free "
                   "ports)."),
    QStringLiteral("port"), QStringLiteral("1337"));
const QCommandLineOption
    DatabaseOption(QStringLiteral("db"),
                   QStringLiteral("Keep the scores in the SQLite file <path>."),
                   QStringLiteral("path"), QStringLiteral("scores.db"));
const QCommandLineOption PostgresOption(
    QStringLiteral("database"),
    QStringLiteral("Keep the scores in the PostgreSQL database at <url> "
                   "(postgresql://user@host/name), which several daemons may share, instead of "
                   "an SQLite file."),
    QStringLiteral("url"));
const QCommandLineOption ListenOption(
    QStringLiteral("listen"),
    QStringLiteral("Listen only on <address>, such as 127.0.0.1 (default: every address)."),
    QStringLiteral("address"));
const QCommandLineOption MaxClientsOption(
    QStringLiteral("max-clients"),
    QStringLiteral("Read at most <count> connections at a time; more wait (default 256)."),
    QStringLiteral("count"), QStringLiteral("256"));
const QCommandLineOption MaxPerPeerOption(
    QStringLiteral("max-per-peer"),
    QStringLiteral("Read at most <count> connections from one address at a time (default 32)."),
    QStringLiteral("count"), QStringLiteral("32"));
const QCommandLineOption HttpOption(
    QStringLiteral("http"),
    QStringLiteral("Serve the leaderboard as a web page on <port> (default 8337; with --port 0 a "
                   "free port; 0 serves none)."),
    QStringLiteral("port"));
const QCommandLineOption TopOption(QStringLiteral("top"),
                                   QStringLiteral("Print the best <count> scores and exit."),
                                   QStringLiteral("count"));
const QCommandLineOption RemoveIdOption(
    QStringLiteral("remove-id"),
    QStringLiteral("Remove the score with this id (the \"id\" of the web board's entries) and "
                   "exit; a running daemon follows within a second."),
    QStringLiteral("id"));
const QCommandLineOption RemoveNicknameOption(
    QStringLiteral("remove-nickname"),
    QStringLiteral("Remove every score of this nickname and exit; a running daemon follows "
                   "within a second."),
    QStringLiteral("name"));

void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Keeps a leaderboard of Orvane scores: answers each submission with its "
                       "place on the board."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({PortOption, DatabaseOption, PostgresOption, ListenOption, HttpOption,
                       MaxClientsOption, MaxPerPeerOption, TopOption, RemoveIdOption,
                       RemoveNicknameOption});
}

} // namespace

std::variant<ServerOptions, OptionsError> parseOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    describe(parser);
    if (!parser.parse(arguments))
        return OptionsError{parser.errorText()};
    if (!parser.positionalArguments().isEmpty())
        return OptionsError{QStringLiteral("Unexpected argument '%1'.")
                                .arg(parser.positionalArguments().constFirst())};

    ServerOptions options;
    options.help = parser.isSet(QStringLiteral("help"));
    options.version = parser.isSet(QStringLiteral("version"));

    const auto port = wholeNumber(parser.value(PortOption), 0, 65534);
    if (!port)
        return OptionsError{QStringLiteral("The port must be a whole number from 0 to 65534, "
                                           "not '%1'.")
                                .arg(parser.value(PortOption))};
    options.port = static_cast<quint16>(*port);

    if (parser.isSet(HttpOption)) {
        const auto http = wholeNumber(parser.value(HttpOption), 0, 65535);
        if (!http)
            return OptionsError{QStringLiteral("The web port must be a whole number from 0 to "
                                               "65535, not '%1'.")
                                    .arg(parser.value(HttpOption))};
        options.httpPort = static_cast<int>(*http);
    } else if (options.port == 0) {
        options.httpPort = -1;
    }

    options.database = parser.value(DatabaseOption);
    if (options.database.isEmpty())
        return OptionsError{QStringLiteral("The database path is empty.")};
    if (parser.isSet(PostgresOption)) {
        options.postgres = parser.value(PostgresOption);
        if (!options.postgres.startsWith(QLatin1String("postgresql://")) &&
            !options.postgres.startsWith(QLatin1String("postgres://")))
            return OptionsError{QStringLiteral("--database takes a PostgreSQL address, "
                                               "postgresql://..., not '%1'.")
                                    .arg(options.postgres)};
        if (parser.isSet(DatabaseOption))
            return OptionsError{QStringLiteral("--db and --database name two places for the "
                                               "scores; give one.")};
    }

    if (parser.isSet(ListenOption) && !options.address.setAddress(parser.value(ListenOption)))
        return OptionsError{
            QStringLiteral("'%1' is not an IP address.").arg(parser.value(ListenOption))};

    const auto clients = wholeNumber(parser.value(MaxClientsOption), 1, 100000);
    if (!clients)
        return OptionsError{QStringLiteral("The client count must be a whole number from 1 to "
                                           "100000, not '%1'.")
                                .arg(parser.value(MaxClientsOption))};
    options.maxClients = static_cast<int>(*clients);

    const auto perPeer = wholeNumber(parser.value(MaxPerPeerOption), 1, 100000);
    if (!perPeer)
        return OptionsError{QStringLiteral("The count for --max-per-peer must be a whole number "
                                           "from 1 to 100000, not '%1'.")
                                .arg(parser.value(MaxPerPeerOption))};
    options.maxPerPeer = static_cast<int>(*perPeer);

    if (parser.isSet(RemoveIdOption)) {
        options.removeId =
            wholeNumber(parser.value(RemoveIdOption), 1, std::numeric_limits<qint64>::max());
        if (!options.removeId)
            return OptionsError{
                QStringLiteral("--remove-id takes a score's id, a whole number of 1 "
                               "or more, not '%1'.")
                    .arg(parser.value(RemoveIdOption))};
    }
    if (parser.isSet(RemoveNicknameOption)) {
        options.removeNickname = parser.value(RemoveNicknameOption);
        if (options.removeNickname->isEmpty())
            return OptionsError{QStringLiteral("--remove-nickname takes a nickname.")};
    }
    if (int(parser.isSet(TopOption)) + int(options.removeId.has_value()) +
            int(options.removeNickname.has_value()) >
        1)
        return OptionsError{QStringLiteral("--top, --remove-id and --remove-nickname each run on "
                                           "their own.")};
    if (parser.isSet(TopOption)) {
        options.top = wholeNumber(parser.value(TopOption), 1, std::numeric_limits<int>::max());
        if (!options.top)
            return OptionsError{QStringLiteral("The count for --top must be a whole number of 1 "
                                               "or more, not '%1'.")
                                    .arg(parser.value(TopOption))};
    }
    return options;
}

QString optionsHelp()
{
    QCommandLineParser parser;
    describe(parser);
    return parser.helpText();
}
