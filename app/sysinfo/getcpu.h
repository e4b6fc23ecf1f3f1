// The processor library: names the processor and measures the clock it runs at.
//
// Both calls fill the caller's fixed text buffers (BufferSize bytes, of which at most 255 hold
// text) with NUL-terminated 8-bit text. GetProcessor writes the processor's brand name, or
// exactly "Unknown"; GetProcessorRawSpeed writes the effective clock as "NNNN MHz", measured over
// no more than 10 ms of busy work (clockspeed.h), so it is the clock the benchmark really runs
// at, boost included, or "Unknown" when no reading of the clock can be trusted.
#pragma once

#include <QByteArray>
#include <QString>

class ProcessorLibrary
{
public:
    static constexpr int BufferSize = 256;

    virtual ~ProcessorLibrary() = default;
    virtual void GetProcessor(char *name, char *second, char *third) = 0;
    virtual void GetProcessorRawSpeed(char *speed) = 0;
};

class GetCpu final : public ProcessorLibrary
{
public:
    explicit GetCpu(QString cpuinfoPath = QStringLiteral("/proc/cpuinfo"));

    void GetProcessor(char *name, char *second, char *third) override;
    void GetProcessorRawSpeed(char *speed) override;

private:
    QString m_cpuinfoPath;
    double m_lastHz = 0.0; // the clock shown last: a refresh that finds it again stops early
};

// The CPUID brand string on x86-64, blanks around it removed; empty elsewhere or when the
// processor has none.
QByteArray cpuidBrandString();
