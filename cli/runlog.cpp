#include "runlog.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>

RunLog::~RunLog()
{
    if (m_file)
        std::fclose(m_file);
}

bool RunLog::open(const QString &path, QString *error)
{
    m_file = std::fopen(QFile::encodeName(path).constData(), "ae");
    if (!m_file) {
        *error = QStringLiteral("cannot open the log %1: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

bool RunLog::write(QJsonObject event)
{
    if (!m_file)
        return true;
    event.insert(QStringLiteral("time"),
                 QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    const QByteArray line = QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n';
    const std::lock_guard lock(m_mutex);
    if (std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), m_file) !=
            static_cast<std::size_t>(line.size()) ||
        std::fflush(m_file) != 0)
        m_failed = true;
    return !m_failed;
}
