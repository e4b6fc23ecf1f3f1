// The system probe: what the main window learns of the host when it loads, and the clock-speed
// refresh it shows every two seconds while no run is going.
//
// The start-up step asks the processor library for the name and the clock, the operating system
// for its version, processor count and memory, and falls back to the registry for the
// processor's name: a library answer of "Unknown" leads to the registry value the version table
// names, a registry answer of "Error" to "VendorIdentifier". A host outside the Windows version
// table (every Linux host) takes its own row: its system name and kernel release, and the
// processor fields as on the NT family.
#pragma once

#include "sysinfo/general.h"
#include "sysinfo/getcpu.h"
#include "sysinfo/hostinfo.h"

#include <QByteArray>
#include <QString>

#include <array>

// What the probe tells of the host, as texts to show.
enum class ProbeField
{
    ProcessorName,
    OperatingSystem, // with its service pack
    Memory,          // physical memory
    ClockSpeed,
    ProcessorCount
};
inline constexpr int ProbeFieldCount = 5;

struct ProbeResult
{
    std::array<QString, ProbeFieldCount> texts;
    short osIndex = 0;

    QString &operator[](ProbeField field) { return texts[static_cast<int>(field)]; }
    const QString &operator[](ProbeField field) const { return texts[static_cast<int>(field)]; }
};

class SystemProbe
{
public:
    static const QString ProcessorKey;

    SystemProbe(OsQueries &os, ProcessorLibrary &library, General &registry);

    // When the clock is measured at start-up: at once, or later by refreshSpeed() (the clock
    // field is then left empty), so that a window can show itself first.
    enum class Clock
    {
        Now,
        Later
    };
    ProbeResult startUp(Clock clock = Clock::Now);
    QString refreshSpeed();

    // Megabytes as shown: whole MiB, truncated, plus one; in 64 bits, so large memories fit.
    static qint64 megabytes(std::uint64_t totalBytes);
    // The memory field's text: "NMB RAM" as long as N has at most five digits (below about 97
    // GiB); above that whole gigabytes, rounded, and above about 97 TiB whole terabytes, so the
    // text always fits the field.
    static QString memoryText(std::uint64_t totalBytes);

private:
    OsQueries &m_os;
    ProcessorLibrary &m_library;
    General &m_registry;
    QByteArray m_speedText;
};
