#include "hostcheck.h"

#include "core/version.h"
#include "sysinfo/getcpu.h"
#include "sysinfo/hostinfo.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QSysInfo>
#include <QThread>

#include <sched.h>
#include <unistd.h>

#include <map>

namespace {

QByteArray read(const QString &root, const QString &path)
{
    return readHostFile(QDir(root).filePath(path), 64 * 1024).trimmed();
}

QList<int> allowedProcessors()
{
    QList<int> cpus;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &set))
                cpus << cpu;
        }
    }
    if (cpus.isEmpty())
        cpus << 0;
    return cpus;
}

// The core a processor belongs to: its package and core numbers, else the processor itself.
QString coreOf(int cpu, const QString &root)
{
    const QString topology = QStringLiteral("sys/devices/system/cpu/cpu%1/topology/").arg(cpu);
    const QByteArray package = read(root, topology + QStringLiteral("physical_package_id"));
    const QByteArray core = read(root, topology + QStringLiteral("core_id"));
    if (core.isEmpty())
        return QStringLiteral("cpu%1").arg(cpu);
    return QString::fromLatin1(package + '/' + core);
}

// Processor time of every other process, in clock ticks, by process id, with its name.
QHash<int, std::pair<qint64, QString>> processTimes(const QString &root)
{
    QHash<int, std::pair<qint64, QString>> times;
    const QDir proc(QDir(root).filePath(QStringLiteral("proc")));
    const auto entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    const int self = static_cast<int>(getpid());
    for (const QString &entry : entries) {
        bool numeric = false;
        const int pid = entry.toInt(&numeric);
        if (!numeric || pid == self)
            continue;
        const QByteArray stat = readHostFile(proc.filePath(entry + QStringLiteral("/stat")), 4096);
        const qsizetype open = stat.indexOf('(');
        const qsizetype close = stat.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        // After the name: state is field 3, utime and stime are fields 14 and 15.
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (fields.size() < 13)
            continue;
        times.insert(pid, {fields[11].toLongLong() + fields[12].toLongLong(),
                           QString::fromUtf8(stat.mid(open + 1, close - open - 1))});
    }
    return times;
}

} // namespace

QList<int> processorsInOrder(const QString &root)
{
    // Stable: within each round the processors keep their numeric order.
    std::map<QString, int> seen;
    QList<std::pair<int, int>> ranked; // (round, cpu)
    for (const int cpu : allowedProcessors())
        ranked.append({seen[coreOf(cpu, root)]++, cpu});
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    QList<int> cpus;
    for (const auto &[round, cpu] : ranked)
        cpus << cpu;
    return cpus;
}

QStringList sharedCores(const QList<int> &cpus, const QString &root)
{
    std::map<QString, QStringList> byCore;
    for (const int cpu : cpus)
        byCore[coreOf(cpu, root)] << QString::number(cpu);
    QStringList shared;
    for (const auto &[core, members] : byCore) {
        if (members.size() > 1)
            shared << members.join(QLatin1Char(','));
    }
    return shared;
}

QStringList hostWarnings(const QString &root, int sampleMs)
{
    QStringList warnings;
    const auto before = sampleMs > 0 ? processTimes(root) : decltype(processTimes(root))();

    QStringList governors;
    const QDir cpus(QDir(root).filePath(QStringLiteral("sys/devices/system/cpu")));
    const auto cpuDirs = cpus.entryList({QStringLiteral("cpu[0-9]*")}, QDir::Dirs);
    for (const QString &cpu : cpuDirs) {
        const QByteArray governor =
            readHostFile(cpus.filePath(cpu + QStringLiteral("/cpufreq/scaling_governor")), 256)
                .trimmed();
        if (!governor.isEmpty() && governor != "performance" &&
            !governors.contains(QString::fromLatin1(governor)))
            governors << QString::fromLatin1(governor);
    }
    if (!governors.isEmpty())
        warnings << QStringLiteral("the frequency governor is \"%1\", not \"performance\": the "
                                   "clock may change during the run")
                        .arg(governors.join(QStringLiteral("\", \"")));

    const int processors = static_cast<int>(allowedProcessors().size());
    const QByteArray loadavg = read(root, QStringLiteral("proc/loadavg"));
    bool ok = false;
    const double load = loadavg.split(' ').value(0).toDouble(&ok);
    if (ok && load > 0.3 * processors)
        warnings << QStringLiteral("the load average is %1 on %2 processor(s), above 0.3 per "
                                   "processor: other work is running")
                        .arg(load)
                        .arg(processors);

    const QDir supplies(QDir(root).filePath(QStringLiteral("sys/class/power_supply")));
    const auto supplyDirs = supplies.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &supply : supplyDirs) {
        const QString dir = supplies.filePath(supply) + QLatin1Char('/');
        if (readHostFile(dir + QStringLiteral("type"), 64).trimmed() == "Battery" &&
            readHostFile(dir + QStringLiteral("status"), 64).trimmed() == "Discharging") {
            warnings << QStringLiteral("running on battery: the processor may be held back");
            break;
        }
    }

    const QByteArray cpuinfo =
        readHostFile(QDir(root).filePath(QStringLiteral("proc/cpuinfo")), 1024 * 1024);
    const bool flagged = cpuinfo.contains(" hypervisor");
    const QByteArray hypervisor = read(root, QStringLiteral("sys/hypervisor/type"));
    if (flagged || !hypervisor.isEmpty())
        warnings << QStringLiteral("running in a virtual machine%1: other guests share the "
                                   "processors")
                        .arg(hypervisor.isEmpty()
                                 ? QString()
                                 : QStringLiteral(" (%1)").arg(QString::fromLatin1(hypervisor)));

    if (sampleMs > 0) {
        QThread::msleep(static_cast<unsigned long>(sampleMs));
        const auto after = processTimes(root);
        const double ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            const auto earlier = before.constFind(it.key());
            if (earlier == before.cend())
                continue;
            const double share =
                (it->first - earlier->first) / ticksPerSecond / (sampleMs / 1000.0);
            if (share > 0.10)
                warnings << QStringLiteral("process %1 (%2) is using %3 % of a processor")
                                .arg(it.key())
                                .arg(it->second)
                                .arg(qRound(share * 100));
        }
    }
    return warnings;
}

QJsonObject libraryRecordJson(const QString &buildRecord)
{
    QHash<QString, QString> record;
    const QStringList lines = buildRecord.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            record.insert(line.left(equals), line.mid(equals + 1));
    }
    const auto value = [&record](const char *key) {
        return record.value(QLatin1String(key), QStringLiteral("unknown"));
    };
    return {{QStringLiteral("version"), value("version")},
            {QStringLiteral("built_with"),
             QJsonObject{{QStringLiteral("compiler"), value("compiler")},
                         {QStringLiteral("version"), value("compiler_version")},
                         {QStringLiteral("flags"), value("flags")}}}};
}

QJsonObject provenanceJson(const Provenance &provenance)
{
    QJsonObject program{{QStringLiteral("name"), QStringLiteral("orvane-bench")},
                        {QStringLiteral("version"), QStringLiteral(ORVANE_VERSION)}};

    const QFileInfo library(provenance.libraryPath);
    QJsonObject kernels = libraryRecordJson(provenance.buildRecord);
    kernels.insert(QStringLiteral("path"), library.absoluteFilePath());
    kernels.insert(QStringLiteral("file"), library.canonicalFilePath());
    kernels.insert(QStringLiteral("sha256"),
                   provenance.sha256.isEmpty()
                       ? QJsonValue()
                       : QJsonValue(QString::fromLatin1(provenance.sha256)));

    GetCpu cpu;
    char name[ProcessorLibrary::BufferSize] = {};
    char unused[ProcessorLibrary::BufferSize] = {};
    cpu.GetProcessor(name, unused, unused);
    QJsonObject host{
        {QStringLiteral("processor"), QString::fromLocal8Bit(name)},
        {QStringLiteral("clock_mhz"),
         provenance.clockMHz > 0 ? QJsonValue(qRound(provenance.clockMHz)) : QJsonValue()},
        {QStringLiteral("os"),
         parseOsReleaseName(readHostFile(QStringLiteral("/etc/os-release"), 64 * 1024))},
        {QStringLiteral("kernel"),
         QString(QSysInfo::kernelType() + QLatin1Char(' ') + QSysInfo::kernelVersion())},
        {QStringLiteral("architecture"), QSysInfo::currentCpuArchitecture()}};
    if (provenance.withHostname)
        host.insert(QStringLiteral("hostname"), QSysInfo::machineHostName());

    return {
        {QStringLiteral("program"), program},
        {QStringLiteral("kernel_library"), kernels},
        {QStringLiteral("host"), host},
        {QStringLiteral("time_utc"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)}};
}
