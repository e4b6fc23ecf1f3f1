// The real host layers of this machine wired into one system probe.
#pragma once

#include "sysinfo/general.h"
#include "sysinfo/getcpu.h"
#include "sysinfo/hostinfo.h"
#include "sysinfo/registry.h"
#include "sysinfo/systemprobe.h"

#include <functional>

class LinuxHost
{
public:
    explicit LinuxHost(std::function<void(const QString &)> showFormatMessage = {})
        : general(registry, std::move(showFormatMessage)), probe(os, cpu, general)
    {}

    LinuxOsQueries os;
    GetCpu cpu;
    LinuxRegistry registry;
    General general;
    SystemProbe probe;
};
