#include "sysinfo/clockspeed.h"

#include "sysinfo/hostinfo.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>

#include <linux/perf_event.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

// The chains are functions of their own, never inlined, so that their machine code can be read
// back and checked for instructions a renamer could fold.
extern "C" {
#if defined(__x86_64__)
[[gnu::noinline]] void orvane_clock_chain_add(long rounds)
{
    unsigned long x = 1;
    asm volatile("1:\n\t"
                 "add %0, %0\n\tadd %0, %0\n\tadd %0, %0\n\tadd %0, %0\n\t"
                 "add %0, %0\n\tadd %0, %0\n\tadd %0, %0\n\tadd %0, %0\n\t"
                 "dec %1\n\tjnz 1b"
                 : "+r"(x), "+r"(rounds)
                 :
                 : "cc");
}

[[gnu::noinline]] void orvane_clock_chain_mul(long rounds)
{
    unsigned long x = 3;
    asm volatile("1:\n\t"
                 "imul %0, %0\n\timul %0, %0\n\timul %0, %0\n\timul %0, %0\n\t"
                 "imul %0, %0\n\timul %0, %0\n\timul %0, %0\n\timul %0, %0\n\t"
                 "dec %1\n\tjnz 1b"
                 : "+r"(x), "+r"(rounds)
                 :
                 : "cc");
}
#elif defined(__aarch64__)
[[gnu::noinline]] void orvane_clock_chain_add(long rounds)
{
    unsigned long x = 1;
    asm volatile("1:\n\t"
                 "add %0, %0, %0\n\tadd %0, %0, %0\n\tadd %0, %0, %0\n\tadd %0, %0, %0\n\t"
                 "add %0, %0, %0\n\tadd %0, %0, %0\n\tadd %0, %0, %0\n\tadd %0, %0, %0\n\t"
                 "subs %1, %1, #1\n\tb.ne 1b"
                 : "+r"(x), "+r"(rounds)
                 :
                 : "cc");
}

[[gnu::noinline]] void orvane_clock_chain_eor(long rounds)
{
    unsigned long x = 1;
    const unsigned long y = 0x5a5a5a5a5a5a5a5aul;
    asm volatile("1:\n\t"
                 "eor %0, %0, %2\n\teor %0, %0, %2\n\teor %0, %0, %2\n\teor %0, %0, %2\n\t"
                 "eor %0, %0, %2\n\teor %0, %0, %2\n\teor %0, %0, %2\n\teor %0, %0, %2\n\t"
                 "subs %1, %1, #1\n\tb.ne 1b"
                 : "+r"(x), "+r"(rounds)
                 : "r"(y)
                 : "cc");
}
#endif
}

namespace {

struct Chain
{
    void (*run)(long rounds);
    long rounds;           // per measuring round: about a tenth of a millisecond at 3 GHz
    double cyclesPerRound; // latency of the chain's eight instructions
};

#if defined(__x86_64__)
constexpr bool HaveChains = true;
constexpr Chain FirstChain{orvane_clock_chain_add, 40000, 8.0};
constexpr Chain SecondChain{orvane_clock_chain_mul, 16000, 24.0};
#elif defined(__aarch64__)
constexpr bool HaveChains = true;
constexpr Chain FirstChain{orvane_clock_chain_add, 40000, 8.0};
constexpr Chain SecondChain{orvane_clock_chain_eor, 40000, 8.0};
#else
// No chain of known latency here: busy work for the cycle counter alone.
void busyWork(long rounds)
{
    for (volatile long i = 0; i < rounds * 8; i = i + 1) {
    }
}
constexpr bool HaveChains = false;
constexpr Chain FirstChain{busyWork, 40000, 0.0};
constexpr Chain SecondChain{busyWork, 40000, 0.0};
#endif

double seconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Rounds are timed by the wall clock: time the thread spends off the processor only slows a
// round down, and the best round is kept.
double now()
{
    return seconds(CLOCK_MONOTONIC);
}

// The budget is counted in the thread's own processor time, so a busy machine that keeps the
// thread waiting does not use it up before the readings could agree.
double spent()
{
    return seconds(CLOCK_THREAD_CPUTIME_ID);
}

// This thread's cycles in user space, from the kernel's perf events. The time the counter ran
// (which leaves out the time the thread was not on a processor) turns the count into a clock.
class CycleCounter
{
public:
    struct Sample
    {
        std::uint64_t cycles = 0;
        std::uint64_t enabledNs = 0;
        std::uint64_t runningNs = 0;
    };

    CycleCounter()
    {
        perf_event_attr attr{};
        attr.type = PERF_TYPE_HARDWARE;
        attr.size = sizeof attr;
        attr.config = PERF_COUNT_HW_CPU_CYCLES;
        attr.disabled = 1;
        attr.exclude_kernel = 1;
        attr.exclude_hv = 1;
        attr.read_format = PERF_FORMAT_TOTAL_TIME_ENABLED | PERF_FORMAT_TOTAL_TIME_RUNNING;
        m_fd =
            static_cast<int>(syscall(SYS_perf_event_open, &attr, 0, -1, -1, PERF_FLAG_FD_CLOEXEC));
        if (m_fd >= 0 && ioctl(m_fd, PERF_EVENT_IOC_ENABLE, 0) != 0) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~CycleCounter()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    CycleCounter(const CycleCounter &) = delete;
    CycleCounter &operator=(const CycleCounter &) = delete;

    bool read(Sample *sample) const
    {
        return m_fd >= 0 && ::read(m_fd, sample, sizeof *sample) == sizeof *sample;
    }

private:
    int m_fd = -1;
};

// The kernel's current frequency of the processor this thread runs on, in hertz; 0 without
// cpufreq (as in most virtual machines).
double kernelClockHz()
{
    const int cpu = sched_getcpu();
    if (cpu < 0)
        return 0.0;
    const QByteArray khz = readHostFile(
        QStringLiteral("/sys/devices/system/cpu/cpu%1/cpufreq/scaling_cur_freq").arg(cpu), 64);
    return std::max(0.0, khz.trimmed().toDouble() * 1000.0);
}

// Keeps the larger of the two; true when the new reading beats the best by more than noise.
bool keepBest(double &best, double reading)
{
    if (!std::isfinite(reading) || reading <= 0.0)
        return false;
    const bool improved = reading > best * 1.002;
    best = std::max(best, reading);
    return improved;
}

bool agree(double a, double b)
{
    if (!(a > 0.0) || !(b > 0.0) || !std::isfinite(a) || !std::isfinite(b))
        return false;
    return std::abs(a - b) <= ClockAgreement * std::max(a, b);
}

} // namespace

double trustedClockHz(const ClockReadings &r)
{
    const double readings[] = {r.counterHz, r.firstChainHz, r.secondChainHz, r.kernelHz};
    const auto confirmed = [&readings](int i) {
        for (int j = 0; j < int(std::size(readings)); ++j) {
            if (i != j && agree(readings[i], readings[j]))
                return true;
        }
        return false;
    };
    if (confirmed(0))
        return r.counterHz;
    // The kernel's figure (the last) only ever confirms.
    double shown = 0.0;
    for (int chain = 1; chain <= 2; ++chain) {
        if (confirmed(chain))
            shown = std::max(shown, readings[chain]);
    }
    return shown;
}

ClockReadings measureClock(int budgetMilliseconds, double knownHz)
{
    // At least a few rounds; then stop once two milliseconds of rounds improved on nothing, so a
    // core that is still raising its clock gets the time to reach it, and once the readings
    // agree; all within the budget.
    constexpr int MinRounds = 4;
    constexpr double Settled = 0.002;
    constexpr double SameAsKnown = 0.005;

    ClockReadings best;
    best.kernelHz = kernelClockHz();
    const CycleCounter counter;
    const double start = spent();
    const double deadline = start + budgetMilliseconds / 1000.0;
    double lastImproved = start;
    double end = start;
    int rounds = 0;
    do {
        CycleCounter::Sample before;
        CycleCounter::Sample after;
        const bool counted = counter.read(&before);
        const double t0 = now();
        FirstChain.run(FirstChain.rounds);
        const double t1 = now();
        SecondChain.run(SecondChain.rounds);
        const double t2 = now();
        bool improved = false;
        if (HaveChains) {
            improved |= keepBest(best.firstChainHz,
                                 FirstChain.rounds * FirstChain.cyclesPerRound / (t1 - t0));
            improved |= keepBest(best.secondChainHz,
                                 SecondChain.rounds * SecondChain.cyclesPerRound / (t2 - t1));
        }
        if (counted && counter.read(&after) && after.runningNs > before.runningNs) {
            improved |= keepBest(best.counterHz, double(after.cycles - before.cycles) * 1e9 /
                                                     double(after.runningNs - before.runningNs));
        }
        ++rounds;
        end = spent();
        if (improved)
            lastImproved = end;
        if (knownHz > 0.0 && !improved &&
            std::abs(trustedClockHz(best) - knownHz) <= SameAsKnown * knownHz)
            break;
    } while (end < deadline &&
             (rounds < MinRounds || end - lastImproved < Settled || trustedClockHz(best) <= 0.0));
    best.rounds = rounds;
    return best;
}
