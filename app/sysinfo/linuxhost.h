// The real host layers of this machine wired into one system probe.
#pragma once

#include "general.h"
#include "getcpu.h"
#include "hostinfo.h"
#include "registry.h"
#include "systemprobe.h"

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
