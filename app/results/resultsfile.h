// The results file: one benchmark result kept under a title.
//
// The file is two lines of 8-bit text, each ended by CR LF: the title, then the own bar's width
// in twips (seconds × 30) as the run wrote it. Reading takes two fields the way the program
// always has: a field ends at a comma or at the end of a line, and a field that begins with a
// double quote runs to the next one. Only the first two lines are ever read, each up to a cap,
// so a large or foreign file costs nothing. Only regular files are read or replaced: a pipe or a
// device at the path would block the window or be written to.
#pragma once

#include <QString>

namespace ResultsFile {

struct SaveResult
{
    bool ok = false;
    QString error; // why the file could not be written
};

// Replaces the file at path, or creates it. A path that names anything but a regular file is
// refused. The old file stays intact when the new one cannot be written.
SaveResult save(const QString &path, const QString &title, const QString &barWidthText);

struct Fields
{
    QString title;
    QString width;
    int count = 0; // how many of the two fields the file held
};

// Reads up to two fields from the first two lines; count tells how many there were. A missing or
// unreadable file, anything but a regular file, and a line longer than LineLimit have 0.
Fields load(const QString &path);

// The two-field reading over the text itself.
Fields parseFields(const QByteArray &text);

// The longest line load() reads, line end included; a longer one fails the load rather than
// yield a field cut short.
inline constexpr qint64 LineLimit = 64 * 1024;

} // namespace ResultsFile
