// libFuzzer target: the web board's reader of request heads and of the query in a target, on any
// bytes a client can send.
//
// Besides not crashing: a head it takes is whole and strict (CRLF line ends, a token method, one
// Host in HTTP/1.1, a body length within the limit, no control character in a value), it is taken
// the same whatever follows it, and no shorter prefix of it was ever refused or taken; a head it
// refuses gets one of the statuses the reader gives, with a reason; decoded text holds no control
// character.
#include "httprequest.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void requireText(const QString &text)
{
    for (const QChar c : text)
        require(c.unicode() >= 0x20 && c.unicode() != 0x7f);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const http::HeadLimits limits;
    const http::Head head = http::readHead(bytes, limits);

    if (const auto pairs = http::readQuery(bytes)) {
        for (const auto &[name, value] : *pairs) {
            requireText(name);
            requireText(value);
        }
    }
    if (const auto path = http::decodedPath(bytes))
        requireText(*path);

    switch (head.progress) {
    case http::Head::Progress::Partial:
        require(bytes.size() <= limits.maxHead + 4);
        break;
    case http::Head::Progress::Invalid: {
        const int status = head.error.status;
        require(status == 400 || status == 413 || status == 414 || status == 431 || status == 501 ||
                status == 505);
        require(!head.error.reason.isEmpty());
        break;
    }
    case http::Head::Progress::Complete: {
        const http::Request &request = head.request;
        require(head.length > 0 && head.length <= bytes.size());
        require(bytes.left(head.length).endsWith("\r\n\r\n"));
        require(!request.method.isEmpty() && request.minorVersion >= 0 &&
                request.minorVersion <= 1);
        require(request.path.startsWith('/') || request.path == "*");
        require(request.contentLength >= 0 && request.contentLength <= limits.maxBody);
        int hosts = 0;
        for (const auto &[name, value] : request.fields) {
            require(!name.isEmpty() && name == name.toLower());
            for (const char c : value)
                require(c == '\t' || static_cast<unsigned char>(c) >= 0x20);
            hosts += name == "host";
        }
        require(request.minorVersion == 0 ? hosts <= 1 : hosts == 1);
        // What follows the head does not change it.
        const http::Head alone = http::readHead(bytes.left(head.length), limits);
        require(alone.progress == http::Head::Progress::Complete && alone.length == head.length);
        for (qsizetype length = 0; length < head.length; ++length)
            require(http::readHead(bytes.left(length), limits).progress ==
                    http::Head::Progress::Partial);
        if (const auto pairs = http::readQuery(request.query)) {
            for (const auto &[name, value] : *pairs)
                requireText(name + value);
        }
        break;
    }
    }
    return 0;
}
