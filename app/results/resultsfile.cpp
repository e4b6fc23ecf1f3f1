#include "results/resultsfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ResultsFile {

SaveResult save(const QString &path, const QString &title, const QString &barWidthText)
{
    const QByteArray content = title.toLocal8Bit() + "\r\n" + barWidthText.toLocal8Bit() + "\r\n";

    // A pipe or device would block or swallow the write, and renaming a new file over it would
    // replace it: only a regular file is replaced.
    const QFileInfo target(path);
    if (target.exists() && !target.isFile())
        return {false, QStringLiteral("not a regular file")};

    // The text goes to a new file beside the old one, which it replaces only once it is whole
    // on the disk. Unbuffered, a write that fails (a full disk, a size limit) fails here and not
    // in a flush that the commit would not check; synced, a crash right after the rename cannot
    // leave an empty file in the old one's place.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return {false, file.errorString()};
    const auto fail = [&file](const QString &error) {
        file.cancelWriting();
        return SaveResult{false, error};
    };
    if (file.write(content) != content.size() || !file.flush())
        return fail(file.errorString());
    if (::fsync(file.handle()) != 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (file.error() != QFileDevice::NoError)
        return fail(file.errorString());
    if (!file.commit())
        return {false, file.errorString()};
    return {true, {}};
}

namespace {

// Reads one field starting at pos; returns false at the end of the text (no field there).
bool nextField(const QByteArray &text, qsizetype &pos, QByteArray &field)
{
    const qsizetype size = text.size();
    if (pos >= size)
        return false;
    field.clear();
    const auto atLineEnd = [&](qsizetype i) {
        return text[i] == '\r' || text[i] == '\n';
    };
    const auto skipDelimiter = [&] {
        if (pos < size && (text[pos] == ',' || text[pos] == '\n')) {
            ++pos;
        } else if (pos < size && text[pos] == '\r') {
            ++pos;
            if (pos < size && text[pos] == '\n')
                ++pos;
        }
    };
    if (text[pos] == '"') {
        const qsizetype close = text.indexOf('"', pos + 1);
        const qsizetype end = close < 0 ? size : close;
        field = text.mid(pos + 1, end - pos - 1);
        pos = close < 0 ? size : close + 1;
        // Whatever stands between the closing quote and the delimiter is passed over.
        while (pos < size && text[pos] != ',' && !atLineEnd(pos))
            ++pos;
    } else {
        qsizetype end = pos;
        while (end < size && text[end] != ',' && !atLineEnd(end))
            ++end;
        field = text.mid(pos, end - pos);
        pos = end;
    }
    skipDelimiter();
    return true;
}

} // namespace

Fields parseFields(const QByteArray &text)
{
    Fields fields;
    qsizetype pos = 0;
    QByteArray field;
    if (!nextField(text, pos, field))
        return fields;
    fields.title = QString::fromLocal8Bit(field);
    fields.count = 1;
    if (!nextField(text, pos, field))
        return fields;
    fields.width = QString::fromLocal8Bit(field);
    fields.count = 2;
    return fields;
}

Fields load(const QString &path)
{
    // Opened without blocking, so a pipe with no writer cannot hold the window, and checked on
    // the open descriptor, so nothing can swap the file between the check and the read.
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat info
    {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return {};
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }

    QByteArray text;
    for (int line = 0; line < 2 && !file.atEnd(); ++line) {
        const QByteArray read = file.readLine(LineLimit + 1); // at most LineLimit bytes
        if (read.isEmpty())
            return {};
        if (!read.endsWith('\n') && !file.atEnd())
            return {}; // cut at the cap
        text += read;
    }
    return parseFields(text);
}

} // namespace ResultsFile
