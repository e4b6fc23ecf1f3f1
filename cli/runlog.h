// A run's record as it happens (--log): one JSON object a line, written and flushed at once, so
// that a run that is killed still leaves every cycle and event it got to. Several threads may
// write to it.
#pragma once

#include <QJsonObject>
#include <QString>

#include <cstdio>
#include <mutex>

class RunLog
{
public:
    ~RunLog();

    // Appends to the file, creating it if needed. On failure says why in error.
    bool open(const QString &path, QString *error);
    bool isOpen() const { return m_file != nullptr; }
    // Adds "time" (UTC) to the object; false once a write has failed.
    bool write(QJsonObject event);

private:
    std::mutex m_mutex;
    FILE *m_file = nullptr;
    bool m_failed = false;
};
