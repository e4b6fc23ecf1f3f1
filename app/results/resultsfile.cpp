#include "resultsfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace ResultsFile {

SaveResult save(const QString &path, const QString &title, const QString &barWidthText)
{
    const QByteArray content = title.toLocal8Bit() + "\r\n" + barWidthText.toLocal8Bit() + "\r\n";

    // A device or pipe is written in place: renaming a new file over it would replace it.
    const QFileInfo target(path);
    if (target.exists() && !target.isFile() && !target.isDir()) {
        QFile device(path);
        if (!device.open(QIODevice::WriteOnly) || device.write(content) != content.size() ||
            !device.flush())
            return {false, device.errorString()};
        return {true, {}};
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {false, file.errorString()};
    if (file.write(content) != content.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return {false, error};
    }
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
        if (pos < size && text[pos] == ',') {
            ++pos;
        } else if (pos < size && text[pos] == '\r') {
            ++pos;
            if (pos < size && text[pos] == '\n')
                ++pos;
        } else if (pos < size && text[pos] == '\n') {
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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray start = file.read(ReadLimit);
    file.close();
    return parseFields(start);
}

} // namespace ResultsFile
