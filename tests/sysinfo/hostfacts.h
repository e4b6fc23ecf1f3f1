// What this machine says of itself, each read the test's own way, not through the code under
// test: the facts that the tests of the real host layers compare against.
#pragma once

#include <QFile>
#include <QRegularExpression>
#include <QString>

namespace hostfacts {

inline QString read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// PRETTY_NAME of /etc/os-release, without its quotes; empty when there is none.
inline QString prettyName()
{
    const auto match = QRegularExpression(QStringLiteral("^PRETTY_NAME=\"?([^\"\\n]*)\"?$"),
                                          QRegularExpression::MultilineOption)
                           .match(read(QStringLiteral("/etc/os-release")));
    return match.captured(1).trimmed();
}

inline QString kernelRelease()
{
    return read(QStringLiteral("/proc/sys/kernel/osrelease")).trimmed();
}

// The processors the kernel has online, counted from its list of ranges ("0-3,8").
inline int onlineProcessors()
{
    int count = 0;
    const QStringList ranges =
        read(QStringLiteral("/sys/devices/system/cpu/online")).trimmed().split(QLatin1Char(','));
    for (const QString &range : ranges) {
        const QStringList ends = range.split(QLatin1Char('-'));
        count += ends.size() == 2 ? ends[1].toInt() - ends[0].toInt() + 1 : 1;
    }
    return count;
}

inline quint64 memoryBytes()
{
    const auto match = QRegularExpression(QStringLiteral("^MemTotal:\\s+(\\d+) kB$"),
                                          QRegularExpression::MultilineOption)
                           .match(read(QStringLiteral("/proc/meminfo")));
    return match.captured(1).toULongLong() * 1024;
}

// The first "model name" of /proc/cpuinfo (on x86 the processor's own brand string); empty on
// processors for which the kernel gives none.
inline QString modelName()
{
    const auto match = QRegularExpression(QStringLiteral("^model name\\s*:\\s*(.*)$"),
                                          QRegularExpression::MultilineOption)
                           .match(read(QStringLiteral("/proc/cpuinfo")));
    return match.captured(1).trimmed();
}

} // namespace hostfacts
