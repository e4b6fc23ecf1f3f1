// A text column of the row SQLite has just stepped to, as a QString.
#pragma once

#include <QString>

#include <sqlite3.h>

inline QString columnText(sqlite3_stmt *statement, int column)
{
    const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    return QString::fromUtf8(bytes, sqlite3_column_bytes(statement, column));
}
