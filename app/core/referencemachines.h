// The nine reference machines the comparison chart sets a score beside, in ascending time: the
// chart's captions and times, for anything else that shows them (the score server's web board).
#pragma once

#include <array>

struct ReferenceMachine
{
    const char *name;
    double seconds;
};

inline constexpr std::array<ReferenceMachine, 9> ReferenceMachines = {{
    {"AMD Athlon 1.4@1.75GHz, 512MB DDR,Win2k", 12.7},
    {"AMD Athlon 1.33GHz, 256MB DDR,WinME", 17.1},
    {"AMD Duron 700@935MHz, 256MB,Win2k", 23.9},
    {"Intel PIII(slot) 1GHz@1120MHz, 384MB,Win2k", 30.3},
    {"AMD Duron 700MHz, 256MB,Win2k", 33.5},
    {"Intel PIII 600MHz(laptop) , 128MB, Win98", 57.6},
    {"Intel PII        400mhz,  128MB, Win2k", 81.6},
    {"Intel Celeron 266mhz,  64MB, Win2k", 120.1},
    {"AMD K62  500MHz, 192MB,Win2k", 140.6},
}};
