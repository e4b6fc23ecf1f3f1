// What the operating system tells about the host, read the Linux way.
//
// The program asks for the version numbers, platform, service pack, processor count and total
// memory that a Windows host reports; OsQueries gives them (Linux reports version 0.0 on
// platform 0, which no Windows row matches) together with the host's own system name and
// kernel release. The parsers of /proc/cpuinfo and /etc/os-release are pure functions over text.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

struct CpuInfo
{
    QByteArray modelName;
    QByteArray vendor;
    QByteArray family;
    QByteArray model;
    QByteArray stepping;
    QByteArray architecture; // ARM's "CPU architecture"
    QByteArray part;         // ARM's "CPU part"
    QByteArray revision;     // ARM's "CPU revision"

    // "<arch> Family F Model M Stepping S", empty when the text said none of it.
    QByteArray identifier(const QByteArray &machine) const;
};

// The first value of each field in /proc/cpuinfo text, exactly as written after ": ".
CpuInfo parseCpuInfo(const QByteArray &text);
// PRETTY_NAME of os-release text, else NAME; quotes and escapes undone. Empty if neither.
QString parseOsReleaseName(const QByteArray &text);

// At most maxBytes of a file; empty when it cannot be read.
QByteArray readHostFile(const QString &path, qint64 maxBytes);
QByteArray machineArchitecture();

struct OsVersionInfo
{
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t platformId = 0;
    QByteArray csdVersion; // service-pack text, empty when there is none
};

class OsQueries
{
public:
    virtual ~OsQueries() = default;
    virtual OsVersionInfo version() = 0;
    virtual std::uint32_t processorCount() = 0;
    virtual std::uint64_t totalPhysicalMemory() = 0;
    // The host's own system name and kernel release; empty on a Windows host.
    virtual QString hostSystemName() = 0;
    virtual QString kernelRelease() = 0;
};

class LinuxOsQueries final : public OsQueries
{
public:
    explicit LinuxOsQueries(QString osReleasePath = QStringLiteral("/etc/os-release"));

    OsVersionInfo version() override { return {}; }
    std::uint32_t processorCount() override;
    std::uint64_t totalPhysicalMemory() override;
    QString hostSystemName() override;
    QString kernelRelease() override;

private:
    QString m_osReleasePath;
};
