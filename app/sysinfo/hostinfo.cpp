#include "sysinfo/hostinfo.h"

#include <QFile>
#include <QList>

#include <sys/utsname.h>
#include <unistd.h>

QByteArray CpuInfo::identifier(const QByteArray &machine) const
{
    const QByteArray f = family.isEmpty() ? architecture : family;
    const QByteArray m = model.isEmpty() ? part : model;
    const QByteArray s = stepping.isEmpty() ? revision : stepping;
    if (f.isEmpty() && m.isEmpty() && s.isEmpty())
        return {};
    const auto orQuestion = [](const QByteArray &v) {
        return v.isEmpty() ? QByteArray("?") : v;
    };
    return (machine.isEmpty() ? QByteArray("unknown") : machine) + " Family " + orQuestion(f) +
           " Model " + orQuestion(m) + " Stepping " + orQuestion(s);
}

CpuInfo parseCpuInfo(const QByteArray &text)
{
    CpuInfo info;
    const struct
    {
        const char *key;
        QByteArray CpuInfo::*field;
    } fields[] = {
        {"model name", &CpuInfo::modelName},  {"vendor_id", &CpuInfo::vendor},
        {"cpu family", &CpuInfo::family},     {"model", &CpuInfo::model},
        {"stepping", &CpuInfo::stepping},     {"CPU architecture", &CpuInfo::architecture},
        {"CPU part", &CpuInfo::part},         {"CPU revision", &CpuInfo::revision},
        {"Processor", &CpuInfo::modelName},   {"cpu model", &CpuInfo::modelName},
        {"CPU implementer", &CpuInfo::vendor}};
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const int colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray key = line.left(colon).trimmed();
        QByteArray value = line.mid(colon + 1);
        if (value.startsWith(' '))
            value.remove(0, 1);
        for (const auto &f : fields) {
            if (key == f.key && (info.*f.field).isEmpty())
                info.*f.field = value;
        }
    }
    return info;
}

QString parseOsReleaseName(const QByteArray &text)
{
    QString pretty;
    QString name;
    for (const QByteArray &raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        const int eq = line.indexOf('=');
        if (eq <= 0 || line.startsWith('#'))
            continue;
        const QByteArray key = line.left(eq);
        QByteArray value = line.mid(eq + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        QByteArray unescaped;
        for (int i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size())
                ++i;
            unescaped += value[i];
        }
        if (key == "PRETTY_NAME")
            pretty = QString::fromUtf8(unescaped).trimmed();
        else if (key == "NAME")
            name = QString::fromUtf8(unescaped).trimmed();
    }
    return pretty.isEmpty() ? name : pretty;
}

QByteArray readHostFile(const QString &path, qint64 maxBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(maxBytes);
}

QByteArray machineArchitecture()
{
    utsname names{};
    if (uname(&names) != 0)
        return {};
    return QByteArray(names.machine);
}

LinuxOsQueries::LinuxOsQueries(QString osReleasePath) : m_osReleasePath(std::move(osReleasePath)) {}

std::uint32_t LinuxOsQueries::processorCount()
{
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<std::uint32_t>(count) : 1u;
}

std::uint64_t LinuxOsQueries::totalPhysicalMemory()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

QString LinuxOsQueries::hostSystemName()
{
    QString name = parseOsReleaseName(readHostFile(m_osReleasePath, 64 * 1024));
    if (name.isEmpty()) {
        utsname names{};
        if (uname(&names) == 0)
            name = QString::fromLocal8Bit(names.sysname);
    }
    return name.isEmpty() ? QStringLiteral("Linux") : name;
}

QString LinuxOsQueries::kernelRelease()
{
    utsname names{};
    if (uname(&names) != 0)
        return {};
    return QString::fromLocal8Bit(names.release);
}
