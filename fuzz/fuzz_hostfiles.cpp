// libFuzzer target: the parsers of /proc/cpuinfo and /etc/os-release, on any file contents
// (a container or an odd kernel may show anything there).
#include "sysinfo/hostinfo.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const CpuInfo cpu = parseCpuInfo(text);
    (void)cpu.identifier(QByteArrayLiteral("x86_64"));
    (void)cpu.identifier(QByteArrayLiteral("aarch64"));
    (void)parseOsReleaseName(text);
    return 0;
}
