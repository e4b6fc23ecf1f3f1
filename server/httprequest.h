// Reading an HTTP/1.1 request head, strictly: what two parsers could read differently (a proxy in
// front and this server) is refused rather than guessed at, as RFC 9112 asks.
//
// The reader is a pure function over the bytes received so far. It says whether they hold a
// whole head yet, and as soon as they can no longer be one, why, with the status to answer:
// 400 for bad framing or syntax, 414 for a target too long, 431 for a head too large, 413 for
// a body above the limit, 501 for a transfer coding, 505 for another HTTP version.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace http {

struct HeadLimits
{
    qsizetype maxHead = 8192;   // request line and header fields, with their line ends
    qsizetype maxTarget = 2048; // the request target
    int maxFields = 64;
    qint64 maxBody = 1024; // a body is read and ignored up to this size
};

struct Request
{
    QByteArray method;
    QByteArray target; // as sent
    QByteArray path;   // percent-encoded, as sent
    QByteArray query;  // after the '?', percent-encoded; empty when there is none
    int minorVersion = 1;
    std::vector<std::pair<QByteArray, QByteArray>> fields; // names in lower case, in order
    qint64 contentLength = 0;
    bool keepAlive = true; // what the client asks for: HTTP/1.1 unless "close", HTTP/1.0 only
                           // with "keep-alive"

    // The value of the field of that (lower-case) name; empty when there is none.
    QByteArray field(QByteArrayView name) const;
};

struct HeadError
{
    int status = 400;
    QString reason; // a sentence for the client, without a full stop
};

struct Head
{
    enum class Progress
    {
        Partial,  // no whole head yet, and nothing wrong so far
        Complete, // request holds it; length is the bytes it took
        Invalid,  // error says why; the connection must be closed after the answer
    };
    Progress progress = Progress::Partial;
    qsizetype length = 0;
    Request request;
    HeadError error;
};

Head readHead(QByteArrayView bytes, const HeadLimits &limits = {});

// The query's name=value pairs, percent-decoded ('+' is a blank) as UTF-8. Nothing when the
// query is not well formed: a bad escape, text that is not UTF-8 or holds control characters.
std::optional<QList<std::pair<QString, QString>>> readQuery(QByteArrayView query);

// The path percent-decoded; nothing when it holds a bad escape, a NUL or is not UTF-8.
std::optional<QString> decodedPath(QByteArrayView path);

} // namespace http
