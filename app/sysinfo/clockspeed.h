// The clock the processor really runs at, measured.
//
// Busy work of a known number of cycles is timed: two chains of dependent integer instructions
// whose latency no core shortens (on x86-64 add reg, reg at one cycle each and imul reg, reg at
// three; on AArch64 add and eor at one cycle each), and, over the same work, the processor's own
// cycle counter where the kernel lets a process read it (perf events, user space only, no
// privileges). Additions of an immediate are of no use: Golden Cove and later cores fold those in
// the register renamer and run several a cycle. The rounds are short and the best of each kind
// is kept, so preemption and a core still waking up fall away. A reading is shown only when an
// independent one agrees with it.
#pragma once

struct ClockReadings
{
    double counterHz = 0.0;     // the cycle counter over the chains' rounds
    double firstChainHz = 0.0;  // add reg, reg
    double secondChainHz = 0.0; // imul reg, reg on x86-64, eor on AArch64
    double kernelHz = 0.0;      // the kernel's own figure (cpufreq): confirms, never shown alone
    int rounds = 0;             // rounds of the chains the measurement took
};

// Two readings agree when they differ by at most this share of the larger. A chain a renamer
// folds reads at least twice the clock; one that shares its core with a busy sibling thread
// reads a few percent low (4.5 % seen here), and differently for the two kinds of instruction.
inline constexpr double ClockAgreement = 0.08;

// The reading to show, in hertz, from those that another reading agrees with: the counter, which
// counts the cycles themselves, else the faster chain, since anything but folding only ever slows
// a chain down. 0 when no reading is confirmed.
double trustedClockHz(const ClockReadings &readings);

// Takes the readings over at most budgetMilliseconds of busy work (the thread's own processor
// time), less once they have settled. With knownHz, the clock shown last, they have settled as
// soon as they are back at that clock (within half a percent) and no longer rising: a refresh of
// an unchanged clock costs a fraction of a first measurement, while a clock that fell or rose is
// measured in full.
// Every reading the host cannot give is 0.
ClockReadings measureClock(int budgetMilliseconds, double knownHz = 0.0);
