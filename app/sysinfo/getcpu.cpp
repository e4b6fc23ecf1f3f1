#include "getcpu.h"

#include "hostinfo.h"

#include <cstring>
#include <ctime>

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

double now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

constexpr long AddsPerRound = 8;

// Runs rounds × 8 additions, each depending on the one before: one cycle apiece.
void dependentAdds(long rounds)
{
#if defined(__x86_64__)
    unsigned long x = 0;
    asm volatile("1:\n\t"
                 "add $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\t"
                 "add $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\t"
                 "dec %1\n\tjnz 1b"
                 : "+r"(x), "+r"(rounds)
                 :
                 : "cc");
#elif defined(__aarch64__)
    unsigned long x = 0;
    asm volatile("1:\n\t"
                 "add %0, %0, #1\n\tadd %0, %0, #1\n\tadd %0, %0, #1\n\tadd %0, %0, #1\n\t"
                 "add %0, %0, #1\n\tadd %0, %0, #1\n\tadd %0, %0, #1\n\tadd %0, %0, #1\n\t"
                 "subs %1, %1, #1\n\tb.ne 1b"
                 : "+r"(x), "+r"(rounds)
                 :
                 : "cc");
#else
    (void)rounds;
#endif
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

double measureClockHz(int budgetMilliseconds)
{
#if defined(__x86_64__) || defined(__aarch64__)
    // Short rounds, best of several: the fastest round is the one least disturbed by the
    // scheduler, and the first ones give a sleeping core time to reach its clock.
    const double deadline = now() + budgetMilliseconds / 1000.0 * 0.8;
    constexpr long rounds = 100000; // 800,000 cycles: a quarter of a millisecond at 3 GHz
    double best = 0.0;
    do {
        const double start = now();
        dependentAdds(rounds);
        const double elapsed = now() - start;
        if (elapsed > 0.0)
            best = qMax(best, rounds * AddsPerRound / elapsed);
    } while (now() < deadline);
    return best;
#else
    (void)budgetMilliseconds;
    return 0.0;
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
    double hz = measureClockHz(10);
    if (hz <= 0.0) {
        // No timing loop for this processor: the kernel's current reading of the clock.
        const QByteArray khz = readHostFile(
            QStringLiteral("/sys/devices/system/cpu/cpu0/cpufreq/scaling_cur_freq"), 64);
        hz = khz.trimmed().toDouble() * 1000.0;
    }
    writeText(speed,
              hz > 0.0 ? QByteArray::number(qRound64(hz / 1e6)) + " MHz" : QByteArray("Unknown"));
}
