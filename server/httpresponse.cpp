#include "httpresponse.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

namespace http {

QByteArray Response::field(QByteArrayView name) const
{
    for (const auto &[key, value] : fields) {
        if (QByteArrayView(key).compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 413:
        return "Content Too Large";
    case 414:
        return "URI Too Long";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Unknown";
    }
}

QByteArray httpDate(const QDateTime &time)
{
    return QLocale::c()
        .toString(time.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
        .toLatin1();
}

QByteArray serialized(const Response &response, bool headOnly, bool close, const QByteArray &date)
{
    QByteArray bytes = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                       reasonPhrase(response.status) + "\r\nDate: " + date + "\r\n";
    // A 304 answer carries no body, and says nothing of the one it stands for.
    if (response.status != 304 && response.status != 204) {
        if (!response.contentType.isEmpty())
            bytes += "Content-Type: " + response.contentType + "\r\n";
        bytes += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    }
    for (const auto &[name, value] : response.fields)
        bytes += name + ": " + value + "\r\n";
    if (close)
        bytes += "Connection: close\r\n";
    bytes += "\r\n";
    if (!headOnly && response.status != 304 && response.status != 204)
        bytes += response.body;
    return bytes;
}

Response errorResponse(int status, const QString &reason)
{
    return {status,
            "application/json",
            QJsonDocument(QJsonObject{{QStringLiteral("error"), reason}})
                .toJson(QJsonDocument::Compact),
            {}};
}

} // namespace http
