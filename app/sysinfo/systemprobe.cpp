#include "sysinfo/systemprobe.h"

const QString SystemProbe::ProcessorKey =
    QStringLiteral("HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0");

namespace {

QByteArray emptyBuffer()
{
    return QByteArray(ProcessorLibrary::BufferSize, '\0');
}

// A buffer or text shown in a field shows its characters up to the first NUL.
QString shown(const QByteArray &buffer)
{
    const qsizetype nul = buffer.indexOf('\0');
    return QString::fromLocal8Bit(nul < 0 ? buffer : buffer.left(nul));
}

QString shown(const QString &text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

struct VersionRow
{
    short index;
    const char *version;
    std::uint32_t platform; // 0: any
    const char *text;
    const char *registryValue;
};

constexpr VersionRow VersionTable[] = {
    {1, "4.0", 1, "Windows 95 ", "Identifier"},
    {2, "4.0", 2, "WindowsNT 4.0 ", "ProcessorNameString"},
    {3, "4.1", 0, "Windows 98 ", "Identifier"},
    {4, "4.9", 0, "Windows ME ", "Identifier"},
    {5, "5.0", 0, "Windows 2000 ", "ProcessorNameString"},
    {6, "5.1", 0, "Windows XP ", "ProcessorNameString"},
};
constexpr short HostRow = 7;

} // namespace

SystemProbe::SystemProbe(OsQueries &os, ProcessorLibrary &library, General &registry)
    : m_os(os), m_library(library), m_registry(registry)
{}

qint64 SystemProbe::megabytes(std::uint64_t totalBytes)
{
    return static_cast<qint64>(totalBytes / 1024 / 1024) + 1;
}

QString SystemProbe::memoryText(std::uint64_t totalBytes)
{
    constexpr qint64 Widest = 99999; // five digits fit the field beside the unit
    const qint64 mb = megabytes(totalBytes);
    if (mb <= Widest)
        return QString::number(mb) + QStringLiteral("MB RAM");
    // Rounded to the nearest whole unit, without adding to a count that may be the largest.
    const auto rounded = [totalBytes](std::uint64_t unit) {
        return totalBytes / unit + (totalBytes % unit >= unit / 2 ? 1 : 0);
    };
    constexpr std::uint64_t GiB = std::uint64_t(1) << 30;
    if (const std::uint64_t gb = rounded(GiB); gb <= std::uint64_t(Widest))
        return QString::number(gb) + QStringLiteral("GB RAM");
    return QString::number(rounded(GiB << 10)) + QStringLiteral("TB RAM");
}

ProbeResult SystemProbe::startUp(Clock clock)
{
    ProbeResult r;

    QByteArray processorText = emptyBuffer();
    QByteArray second = emptyBuffer();
    QByteArray third = emptyBuffer();
    m_library.GetProcessor(processorText.data(), second.data(), third.data());

    m_speedText = emptyBuffer();
    if (clock == Clock::Now) {
        m_library.GetProcessorRawSpeed(m_speedText.data());
        r[ProbeField::ClockSpeed] = shown(m_speedText);
    }

    const std::uint32_t processors = m_os.processorCount();
    const OsVersionInfo version = m_os.version();

    // Each row is tested on its own, in table order.
    const QString versionText =
        QString(QString::number(version.major) + QLatin1Char('.') + QString::number(version.minor))
            .left(3);
    const QString platformText = QString::number(version.platformId);
    const QString servicePack = shown(version.csdVersion);
    const char *registryValue = nullptr;
    for (const VersionRow &row : VersionTable) {
        if (versionText != QLatin1String(row.version))
            continue;
        if (row.platform != 0 && platformText.toUInt() != row.platform)
            continue;
        r[ProbeField::OperatingSystem] = QLatin1String(row.text) + servicePack;
        r.osIndex = row.index;
        registryValue = row.registryValue;
    }
    // A host outside the Windows table shows its own system and takes the NT family's way of
    // naming the processor.
    const QString hostName = m_os.hostSystemName();
    if (r.osIndex == 0 && !hostName.isEmpty()) {
        r[ProbeField::OperatingSystem] = hostName + QLatin1Char(' ') + m_os.kernelRelease();
        r.osIndex = HostRow;
        registryValue = "ProcessorNameString";
    }

    r[ProbeField::Memory] = memoryText(m_os.totalPhysicalMemory());

    if (r.osIndex >= 1 && r.osIndex <= HostRow) {
        r[ProbeField::ProcessorCount] = QString::number(processors);
        r[ProbeField::ProcessorName] = shown(processorText);
        if (r[ProbeField::ProcessorName] == QStringLiteral("Unknown"))
            r[ProbeField::ProcessorName] =
                shown(m_registry.ReadRegistryValue(ProcessorKey, QLatin1String(registryValue)));
        if (r[ProbeField::ProcessorName] == QStringLiteral("Error"))
            r[ProbeField::ProcessorName] = shown(
                m_registry.ReadRegistryValue(ProcessorKey, QStringLiteral("VendorIdentifier")));
    }
    r[ProbeField::ProcessorCount] += QStringLiteral(" processor(s)");
    return r;
}

QString SystemProbe::refreshSpeed()
{
    if (m_speedText.size() != ProcessorLibrary::BufferSize)
        m_speedText = emptyBuffer();
    m_library.GetProcessorRawSpeed(m_speedText.data());
    return shown(m_speedText);
}
