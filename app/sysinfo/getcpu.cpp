#include "sysinfo/getcpu.h"

#include "sysinfo/clockspeed.h"
#include "sysinfo/hostinfo.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

void writeText(char *buffer, const QByteArray &text)
{
    const int n = qMin<int>(static_cast<int>(text.size()), ProcessorLibrary::BufferSize - 1);
    std::memcpy(buffer, text.constData(), static_cast<size_t>(n));
    buffer[n] = '\0';
}

} // namespace

QByteArray cpuidBrandString()
{
#if defined(__x86_64__) || defined(__i386__)
    unsigned int max = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(0x80000000u, &max, &b, &c, &d) || max < 0x80000004u)
        return {};
    char brand[49] = {};
    for (unsigned int leaf = 0; leaf < 3; ++leaf) {
        unsigned int regs[4] = {};
        __get_cpuid(0x80000002u + leaf, &regs[0], &regs[1], &regs[2], &regs[3]);
        std::memcpy(brand + leaf * 16, regs, sizeof regs);
    }
    return QByteArray(brand).trimmed();
#else
    return {};
#endif
}

GetCpu::GetCpu(QString cpuinfoPath) : m_cpuinfoPath(std::move(cpuinfoPath)) {}

void GetCpu::GetProcessor(char *name, char *second, char *third)
{
    QByteArray brand = cpuidBrandString();
    if (brand.isEmpty())
        brand = parseCpuInfo(readHostFile(m_cpuinfoPath, 1 << 20)).modelName.trimmed();
    writeText(name, brand.isEmpty() ? QByteArray("Unknown") : brand);
    writeText(second, QByteArray());
    writeText(third, QByteArray());
}

void GetCpu::GetProcessorRawSpeed(char *speed)
{
    const double hz = trustedClockHz(measureClock(10, m_lastHz));
    m_lastHz = hz;
    writeText(speed,
              hz > 0.0 ? QByteArray::number(qRound64(hz / 1e6)) + " MHz" : QByteArray("Unknown"));
}
