#include "hostfacts.h"
#include "sysinfo/linuxhost.h"
#include "sysinfo/systemprobe.h"

#include <QRegularExpression>
#include <QTest>

#include <cstring>
#include <sys/utsname.h>
#include <unistd.h>

namespace {
constexpr RegKey Machine = 0x80000002;
const QString Cpu = QStringLiteral("HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0");

class FakeOs : public OsQueries
{
public:
    OsVersionInfo info;
    std::uint32_t processors = 1;
    std::uint64_t memory = 134217728;
    QString host; // empty: a Windows host

    OsVersionInfo version() override { return info; }
    std::uint32_t processorCount() override { return processors; }
    std::uint64_t totalPhysicalMemory() override { return memory; }
    QString hostSystemName() override { return host; }
    QString kernelRelease() override { return QStringLiteral("6.1.0-test"); }
};

class FakeLibrary : public ProcessorLibrary
{
public:
    QByteArray name = "Test CPU";
    QStringList speeds{QStringLiteral("2400 MHz")};
    QList<QByteArray> speedBuffersSeen; // what the buffer held when each call began
    int speedCalls = 0;

    void GetProcessor(char *n, char *, char *) override { std::strcpy(n, name.constData()); }
    void GetProcessorRawSpeed(char *speed) override
    {
        speedBuffersSeen << QByteArray(speed, BufferSize);
        const QByteArray text = speeds.value(speedCalls++, speeds.last()).toLatin1();
        std::memcpy(speed, text.constData(), size_t(text.size()) + 1);
    }
};

class CountingRegistry : public MemoryRegistry
{
public:
    RegStatus queryValue(RegKey key, const QByteArray &name, std::uint32_t *type, char *data,
                         std::uint32_t *length) override
    {
        queried << QString::fromLatin1(name);
        return MemoryRegistry::queryValue(key, name, type, data, length);
    }
    QStringList queried;
};

struct Fixture
{
    FakeOs os;
    FakeLibrary library;
    CountingRegistry registry;
    General general{registry, {}};
    SystemProbe probe{os, library, general};
};
} // namespace

class TestSystemProbe : public QObject
{
    Q_OBJECT

private slots:
    void versionTable_data();
    void versionTable();
    void memory_data();
    void memory();
    void processorNameFallback_data();
    void processorNameFallback();
    void speedRefreshReusesTheBuffer();
    void thisHost();
};

void TestSystemProbe::versionTable_data()
{
    QTest::addColumn<uint>("major");
    QTest::addColumn<uint>("minor");
    QTest::addColumn<uint>("platform");
    QTest::addColumn<QByteArray>("servicePack");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("osIndex");
    QTest::addColumn<QString>("text5");

    const QByteArray sp = "Service Pack 2";
    QTest::newRow("95") << 4u << 0u << 1u << sp << QString() << 1
                        << QStringLiteral("Windows 95 Service Pack 2");
    QTest::newRow("NT 4.0") << 4u << 0u << 2u << sp << QString() << 2
                            << QStringLiteral("WindowsNT 4.0 Service Pack 2");
    QTest::newRow("98 is 4.10") << 4u << 10u << 1u << sp << QString() << 3
                                << QStringLiteral("Windows 98 Service Pack 2");
    QTest::newRow("ME is 4.90") << 4u << 90u << 1u << QByteArray() << QString() << 4
                                << QStringLiteral("Windows ME ");
    QTest::newRow("2000 without service pack")
        << 5u << 0u << 2u << QByteArray() << QString() << 5 << QStringLiteral("Windows 2000 ");
    QTest::newRow("XP") << 5u << 1u << 2u << sp << QString() << 6
                        << QStringLiteral("Windows XP Service Pack 2");
    QTest::newRow("4.0 on platform 3") << 4u << 0u << 3u << sp << QString() << 0 << QString();
    QTest::newRow("5.2 matches nothing") << 5u << 2u << 2u << sp << QString() << 0 << QString();
    QTest::newRow("6.0 matches nothing") << 6u << 0u << 2u << sp << QString() << 0 << QString();
    QTest::newRow("3.51 matches nothing") << 3u << 51u << 2u << sp << QString() << 0 << QString();
    QTest::newRow("this kind of host")
        << 0u << 0u << 0u << QByteArray() << QStringLiteral("Debian 12") << 7
        << QStringLiteral("Debian 12 6.1.0-test");
}

void TestSystemProbe::versionTable()
{
    QFETCH(uint, major);
    QFETCH(uint, minor);
    QFETCH(uint, platform);
    QFETCH(QByteArray, servicePack);
    QFETCH(QString, host);
    QFETCH(int, osIndex);
    QFETCH(QString, text5);

    Fixture f;
    f.os.info = {major, minor, platform, servicePack};
    f.os.host = host;
    f.os.processors = 2;
    const ProbeResult r = f.probe.startUp();
    QCOMPARE(int(r.osIndex), osIndex);
    QCOMPARE(r[ProbeField::OperatingSystem], text5);
    QCOMPARE(r[ProbeField::Memory], QStringLiteral("129MB RAM"));
    QCOMPARE(r[ProbeField::ClockSpeed], QStringLiteral("2400 MHz"));
    if (osIndex) {
        QCOMPARE(r[ProbeField::ProcessorName], QStringLiteral("Test CPU"));
        QCOMPARE(r[ProbeField::ProcessorCount], QStringLiteral("2 processor(s)"));
    } else {
        QCOMPARE(r[ProbeField::ProcessorName], QString());
        QCOMPARE(r[ProbeField::ProcessorCount], QStringLiteral(" processor(s)"));
    }
    QVERIFY(f.registry.queried.isEmpty());
}

void TestSystemProbe::memory_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("exactly 128 MiB") << quint64(134217728) << QStringLiteral("129MB RAM");
    QTest::newRow("just under") << quint64(133693440) << QStringLiteral("128MB RAM");
    QTest::newRow("2 GiB") << quint64(2147483648) << QStringLiteral("2049MB RAM");
    QTest::newRow("24 GiB") << quint64(24) * 1024 * 1024 * 1024 << QStringLiteral("24577MB RAM");
    QTest::newRow("nothing known") << quint64(0) << QStringLiteral("1MB RAM");
    constexpr quint64 GiB = quint64(1) << 30;
    QTest::newRow("last five-digit megabytes")
        << quint64(99998) * 1024 * 1024 << QStringLiteral("99999MB RAM");
    QTest::newRow("first six-digit megabytes: gigabytes")
        << quint64(99999) * 1024 * 1024 << QStringLiteral("98GB RAM");
    QTest::newRow("128 GiB") << 128 * GiB << QStringLiteral("128GB RAM");
    QTest::newRow("1.5 TiB") << 1536 * GiB << QStringLiteral("1536GB RAM");
    QTest::newRow("16 TiB") << 16384 * GiB << QStringLiteral("16384GB RAM");
    QTest::newRow("128 TiB: terabytes") << 131072 * GiB << QStringLiteral("128TB RAM");
    QTest::newRow("largest") << ~quint64(0) << QStringLiteral("16777216TB RAM");
}

void TestSystemProbe::memory()
{
    QFETCH(quint64, bytes);
    QFETCH(QString, text);
    Fixture f;
    f.os.memory = bytes;
    QCOMPARE(f.probe.startUp()[ProbeField::Memory], text);
}

void TestSystemProbe::processorNameFallback_data()
{
    QTest::addColumn<uint>("minor");
    QTest::addColumn<QByteArray>("library");
    QTest::addColumn<bool>("withName");
    QTest::addColumn<bool>("withVendor");
    QTest::addColumn<QString>("text3");
    QTest::addColumn<QStringList>("queried");

    // minor 0 stands for a host outside the Windows table: this program's own row.
    const QStringList none;
    QTest::newRow("library names it: no registry read")
        << 1u << QByteArray("My CPU") << true << true << QStringLiteral("My CPU") << none;
    QTest::newRow("unknown, NT row reads the name without its padding")
        << 1u << QByteArray("Unknown") << true << true << QStringLiteral("Intel(R) Pentium(R) III")
        << QStringList{QStringLiteral("ProcessorNameString")};
    QTest::newRow("unknown on this host's own row reads the name")
        << 0u << QByteArray("Unknown") << true << true << QStringLiteral("Intel(R) Pentium(R) III")
        << QStringList{QStringLiteral("ProcessorNameString")};
    QTest::newRow("unknown on 98 reads Identifier")
        << 10u << QByteArray("Unknown") << true << true << QStringLiteral("x86 Family 6 Model 8")
        << QStringList{QStringLiteral("Identifier")};
    QTest::newRow("registry says Error: vendor instead")
        << 1u << QByteArray("Unknown") << false << true << QStringLiteral("GenuineIntel")
        << QStringList{QStringLiteral("ProcessorNameString"), QStringLiteral("VendorIdentifier")};
    QTest::newRow("library says Error: straight to the vendor")
        << 1u << QByteArray("Error") << true << true << QStringLiteral("GenuineIntel")
        << QStringList{QStringLiteral("VendorIdentifier")};
    QTest::newRow("both reads fail")
        << 1u << QByteArray("Unknown") << false << false << QStringLiteral("Error")
        << QStringList{QStringLiteral("ProcessorNameString"), QStringLiteral("VendorIdentifier")};
    QTest::newRow("unknown in lower case is a name")
        << 1u << QByteArray("unknown") << true << true << QStringLiteral("unknown") << none;
}

void TestSystemProbe::processorNameFallback()
{
    QFETCH(uint, minor);
    QFETCH(QByteArray, library);
    QFETCH(bool, withName);
    QFETCH(bool, withVendor);
    QFETCH(QString, text3);
    QFETCH(QStringList, queried);

    Fixture f;
    f.os.info = {minor == 10 ? 4u : 5u, minor, minor == 10 ? 1u : 2u, {}};
    if (minor == 0) {
        f.os.info = {0u, 0u, 0u, {}};
        f.os.host = QStringLiteral("Debian GNU/Linux 12");
    }
    f.library.name = library;
    f.registry.addKey(Machine, Cpu);
    if (withName)
        f.registry.setString(Machine, Cpu, "ProcessorNameString", "    Intel(R) Pentium(R) III");
    if (withVendor)
        f.registry.setString(Machine, Cpu, "VendorIdentifier", "GenuineIntel");
    f.registry.setString(Machine, Cpu, "Identifier", "x86 Family 6 Model 8");

    QCOMPARE(f.probe.startUp()[ProbeField::ProcessorName], text3);
    QCOMPARE(f.registry.queried, queried);
}

// The speed buffer is filled once with NULs and then handed back on every tick holding the
// previous reading; the field shows it up to its first NUL.
void TestSystemProbe::speedRefreshReusesTheBuffer()
{
    Fixture f;
    f.library.speeds = {QStringLiteral("12345 MHz"), QStringLiteral("99 MHz")};
    QCOMPARE(f.probe.startUp()[ProbeField::ClockSpeed], QStringLiteral("12345 MHz"));
    QCOMPARE(f.probe.refreshSpeed(), QStringLiteral("99 MHz"));
    QCOMPARE(f.library.speedBuffersSeen.size(), 2);
    QCOMPARE(f.library.speedBuffersSeen[0], QByteArray(ProcessorLibrary::BufferSize, '\0'));
    QVERIFY(f.library.speedBuffersSeen[1].startsWith(QByteArray("12345 MHz\0", 10)));
}

// The real layers of this machine, against what the system says of itself, read here in the
// test's own way.
void TestSystemProbe::thisHost()
{
    LinuxHost host;
    const ProbeResult r = host.probe.startUp();
    QCOMPARE(int(r.osIndex), 7);
    const QString name = hostfacts::prettyName();
    if (!name.isEmpty())
        QCOMPARE(r[ProbeField::OperatingSystem],
                 name + QLatin1Char(' ') + hostfacts::kernelRelease());
    QCOMPARE(r[ProbeField::Memory], QString::number(hostfacts::memoryBytes() / 1024 / 1024 + 1) +
                                        QStringLiteral("MB RAM"));
    QCOMPARE(r[ProbeField::ProcessorCount],
             QString::number(hostfacts::onlineProcessors()) + QStringLiteral(" processor(s)"));
    QVERIFY2(QRegularExpression(QStringLiteral("^(\\d+ MHz|Unknown)$"))
                 .match(r[ProbeField::ClockSpeed])
                 .hasMatch(),
             qPrintable(r[ProbeField::ClockSpeed]));
    const QString model = hostfacts::modelName();
    QCOMPARE(r[ProbeField::ProcessorName], model.isEmpty() ? QStringLiteral("Error") : model);
}

QTEST_GUILESS_MAIN(TestSystemProbe)
#include "tst_systemprobe.moc"
