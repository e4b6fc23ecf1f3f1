// The daemon's command line, read into plain values so that start-up and its errors can be
// checked without starting anything.
#pragma once

#include "core/scoreprotocol.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

struct ServerOptions
{
    quint16 port =
        ScoreProtocol::DefaultPort; // the reconnection port is the next one; 0 picks two free ports
    QString database = QStringLiteral("scores.db");
    // A PostgreSQL database that several daemons share, instead of the SQLite file.
    QString postgres;
    QHostAddress address = QHostAddress(QHostAddress::Any);
    int maxClients = 256;
    int maxPerPeer = 32;
    // The web board's port: 0 for none, -1 for any free one (the default with --port 0).
    int httpPort = 8337;
    std::optional<qint64> top; // print this many leaders and exit
    // Moderation, beside a running daemon: remove one score, or all of a nickname's, and exit.
    std::optional<qint64> removeId;
    std::optional<QString> removeNickname;
    bool help = false;
    bool version = false;
};

struct OptionsError
{
    QString message;
};

// arguments[0] is the program's name, as in main's argv.
std::variant<ServerOptions, OptionsError> parseOptions(const QStringList &arguments);
QString optionsHelp();
