// Writing an HTTP/1.1 response: the status line, the fields every answer carries and the body.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>

#include <utility>
#include <vector>

namespace http {

struct Response
{
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    std::vector<std::pair<QByteArray, QByteArray>> fields; // besides those every answer carries

    QByteArray field(QByteArrayView name) const;
};

// The standard phrase for a status code this server sends.
QByteArray reasonPhrase(int status);

// The time as the Date field writes it (RFC 9110's IMF-fixdate).
QByteArray httpDate(const QDateTime &time);

// The whole response. A HEAD request gets the fields of the GET answer without its body; close
// adds "Connection: close".
QByteArray serialized(const Response &response, bool headOnly, bool close, const QByteArray &date);

// A JSON answer {"error": reason}.
Response errorResponse(int status, const QString &reason);

} // namespace http
