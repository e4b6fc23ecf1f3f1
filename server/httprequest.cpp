#include "httprequest.h"

#include <QStringDecoder>

namespace http {
namespace {

bool isTokenChar(char c)
{
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return true;
    switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~':
        return true;
    default:
        return false;
    }
}

bool isToken(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (!isTokenChar(c))
            return false;
    }
    return true;
}

// A field value may hold blanks, tabs, visible ASCII and bytes above it; no other control.
bool isFieldValue(QByteArrayView text)
{
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte != '\t' && (byte < 0x20 || byte == 0x7f))
            return false;
    }
    return true;
}

QByteArrayView trimmedBlanks(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    return text;
}

bool isDigits(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

Head failed(int status, const QString &reason)
{
    Head head;
    head.progress = Head::Progress::Invalid;
    head.error = {status, reason};
    return head;
}

std::optional<Head> readRequestLine(QByteArrayView line, const HeadLimits &limits, Request &out)
{
    const qsizetype first = line.indexOf(' ');
    const qsizetype last = line.lastIndexOf(' ');
    if (first <= 0 || last == first)
        return failed(400, QStringLiteral("the request line is not method, target and version"));
    const QByteArrayView method = line.first(first);
    const QByteArrayView target = line.sliced(first + 1, last - first - 1);
    const QByteArrayView version = line.sliced(last + 1);
    if (!isToken(method))
        return failed(400, QStringLiteral("the method is not a token"));
    if (target.size() > limits.maxTarget)
        return failed(414, QStringLiteral("the address is too long"));
    if (target.isEmpty())
        return failed(400, QStringLiteral("the request line is not method, target and version"));
    for (const char c : target) {
        // Visible ASCII only: a blank here would mean a fourth part, and '#' is never sent.
        if (c <= 0x20 || c >= 0x7f || c == '#')
            return failed(400, QStringLiteral("the target holds a character it may not"));
    }
    if (version.size() != 8 || !version.startsWith("HTTP/") || version[5] < '0' ||
        version[5] > '9' || version[6] != '.' || version[7] < '0' || version[7] > '9')
        return failed(400, QStringLiteral("the version is not HTTP/ and two digits"));
    if (version[5] != '1' || version[7] > '1')
        return failed(505, QStringLiteral("only HTTP/1.0 and HTTP/1.1 are served"));

    QByteArrayView resource = target;
    if (target.front() != '/' && target != "*") {
        // The absolute form, which a proxy may send: the path is what follows the authority.
        const QByteArray lower =
            target.first(std::min<qsizetype>(target.size(), 8)).toByteArray().toLower();
        const qsizetype scheme = lower.startsWith("http://")    ? 7
                                 : lower.startsWith("https://") ? 8
                                                                : -1;
        if (scheme < 0)
            return failed(400, QStringLiteral("the target is neither a path nor an address"));
        const QByteArrayView rest = target.sliced(scheme);
        qsizetype end = 0;
        while (end < rest.size() && rest[end] != '/' && rest[end] != '?')
            ++end;
        if (end == 0)
            return failed(400, QStringLiteral("the target's address has no host"));
        resource = rest.sliced(end);
        if (resource.isEmpty() || resource.front() == '?')
            out.path = "/";
    }
    const qsizetype question = resource.indexOf('?');
    if (out.path.isEmpty())
        out.path = (question < 0 ? resource : resource.first(question)).toByteArray();
    if (question >= 0)
        out.query = resource.sliced(question + 1).toByteArray();
    out.method = method.toByteArray();
    out.target = target.toByteArray();
    out.minorVersion = version[7] - '0';
    return std::nullopt;
}

std::optional<Head> readField(QByteArrayView line, Request &out)
{
    if (line.front() == ' ' || line.front() == '\t')
        return failed(400, QStringLiteral("a header field is continued on a second line"));
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return failed(400, QStringLiteral("a header line has no colon"));
    const QByteArrayView name = line.first(colon);
    if (!isToken(name))
        return failed(400, QStringLiteral("a header name is not a token"));
    const QByteArrayView value = trimmedBlanks(line.sliced(colon + 1));
    if (!isFieldValue(value))
        return failed(400, QStringLiteral("a header value holds a control character"));
    out.fields.emplace_back(name.toByteArray().toLower(), value.toByteArray());
    return std::nullopt;
}

// What the fields say about the message as a whole: its host, its body and the connection.
std::optional<Head> readFraming(Request &request, const HeadLimits &limits)
{
    int hosts = 0;
    bool transferCoding = false;
    std::optional<QByteArray> length;
    bool close = false;
    bool keepAlive = false;
    for (const auto &[name, value] : request.fields) {
        if (name == "host") {
            ++hosts;
        } else if (name == "transfer-encoding") {
            transferCoding = true;
        } else if (name == "content-length") {
            // One number, and the same one however often it is given.
            if (!isDigits(value) || (length && *length != value))
                return failed(400, QStringLiteral("the content length is not one number"));
            length = value;
        } else if (name == "connection") {
            for (const QByteArray &option : value.split(',')) {
                const QByteArray token = trimmedBlanks(option).toByteArray().toLower();
                close = close || token == "close";
                keepAlive = keepAlive || token == "keep-alive";
            }
        }
    }
    if (hosts > 1 || (hosts == 0 && request.minorVersion == 1))
        return failed(400, QStringLiteral("an HTTP/1.1 request needs one Host field"));
    if (transferCoding && (length || request.minorVersion == 0))
        return failed(400, QStringLiteral("the body's length is given in two ways"));
    if (transferCoding)
        return failed(501, QStringLiteral("a request body in a transfer coding is not accepted"));
    if (length) {
        QByteArray digits = *length;
        while (digits.size() > 1 && digits.startsWith('0'))
            digits.remove(0, 1);
        // Above 18 digits a number could wrap around: no body here is anywhere near that long.
        if (digits.size() > 18)
            return failed(400, QStringLiteral("the content length is not one number"));
        request.contentLength = digits.toLongLong();
        if (request.contentLength > limits.maxBody)
            return failed(413, QStringLiteral("the request body is too large"));
    }
    request.keepAlive = !close && (request.minorVersion == 1 || keepAlive);
    return std::nullopt;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<QByteArray> percentDecoded(QByteArrayView text, bool plusIsBlank)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            bytes += static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '+' && plusIsBlank) {
            bytes += ' ';
        } else {
            bytes += c;
        }
    }
    return bytes;
}

// UTF-8 text without control characters.
std::optional<QString> text(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    for (const QChar c : decoded) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return std::nullopt;
    }
    return decoded;
}

} // namespace

QByteArray Request::field(QByteArrayView name) const
{
    for (const auto &[key, value] : fields) {
        if (key == name)
            return value;
    }
    return {};
}

Head readHead(QByteArrayView bytes, const HeadLimits &limits)
{
    Head head;
    qsizetype start = 0;
    // Empty lines before the request line are skipped, as RFC 9112 suggests for robustness.
    while (start + 1 < bytes.size() && bytes[start] == '\r' && bytes[start + 1] == '\n')
        start += 2;
    qsizetype lineStart = start;
    bool requestLine = true;
    for (;;) {
        const qsizetype end = bytes.indexOf('\n', lineStart);
        const qsizetype used = (end < 0 ? bytes.size() : end + 1) - start;
        if (end < 0) {
            const QByteArrayView partial = bytes.sliced(lineStart);
            // What can never become a line is refused now, not when the head times out.
            for (qsizetype i = 0; i < partial.size(); ++i) {
                const auto byte = static_cast<unsigned char>(partial[i]);
                if (byte == '\r' ? i + 1 < partial.size() : (byte < 0x20 && byte != '\t'))
                    return failed(400, QStringLiteral("a line holds a control character"));
            }
            if (requestLine && partial.size() > limits.maxTarget + 32)
                return failed(414, QStringLiteral("the address is too long"));
            if (used > limits.maxHead)
                return failed(431, QStringLiteral("the request head is too large"));
            return head; // Partial
        }
        if (used > limits.maxHead)
            return failed(requestLine ? 414 : 431, requestLine
                                                       ? QStringLiteral("the address is too long")
                                                       : QStringLiteral("the request head is too "
                                                                        "large"));
        if (end == lineStart || bytes[end - 1] != '\r')
            return failed(400, QStringLiteral("a line ends without a carriage return"));
        const QByteArrayView line = bytes.sliced(lineStart, end - 1 - lineStart);
        for (const char c : line) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 && byte != '\t')
                return failed(400, QStringLiteral("a line holds a control character"));
        }
        lineStart = end + 1;
        if (requestLine) {
            if (auto error = readRequestLine(line, limits, head.request))
                return *error;
            requestLine = false;
            continue;
        }
        if (line.isEmpty())
            break;
        if (static_cast<int>(head.request.fields.size()) >= limits.maxFields)
            return failed(431, QStringLiteral("the request has too many header fields"));
        if (auto error = readField(line, head.request))
            return *error;
    }
    if (auto error = readFraming(head.request, limits))
        return *error;
    head.progress = Head::Progress::Complete;
    head.length = lineStart;
    return head;
}

std::optional<QList<std::pair<QString, QString>>> readQuery(QByteArrayView query)
{
    QList<std::pair<QString, QString>> pairs;
    const QList<QByteArray> parts = query.toByteArray().split('&');
    for (const QByteArrayView part : parts) {
        if (part.isEmpty())
            continue;
        const qsizetype equals = part.indexOf('=');
        const auto name = percentDecoded(equals < 0 ? part : part.first(equals), true);
        const auto value =
            percentDecoded(equals < 0 ? QByteArrayView() : part.sliced(equals + 1), true);
        if (!name || !value)
            return std::nullopt;
        const auto nameText = text(*name);
        const auto valueText = text(*value);
        if (!nameText || !valueText)
            return std::nullopt;
        pairs.append({*nameText, *valueText});
    }
    return pairs;
}

std::optional<QString> decodedPath(QByteArrayView path)
{
    const auto bytes = percentDecoded(path, false);
    if (!bytes)
        return std::nullopt;
    return text(*bytes);
}

} // namespace http
