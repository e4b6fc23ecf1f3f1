#include "hostfacts.h"
#include "sysinfo/general.h"
#include "sysinfo/getcpu.h"
#include "sysinfo/hostinfo.h"
#include "sysinfo/registry.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/utsname.h>
#include <unistd.h>

namespace {
const QByteArray X86 = "processor\t: 0\n"
                       "vendor_id\t: GenuineIntel\n"
                       "cpu family\t: 6\n"
                       "model\t\t: 85\n"
                       "model name\t:       Intel(R) Xeon(R) Gold 6130 CPU @ 2.10GHz\n"
                       "stepping\t: 4\n"
                       "cpu MHz\t\t: 2100.000\n"
                       "\n"
                       "processor\t: 1\n"
                       "vendor_id\t: OtherVendor\n"
                       "model name\t: Second Processor\n";
const QByteArray Arm = "processor\t: 0\n"
                       "BogoMIPS\t: 48.00\n"
                       "Features\t: fp asimd evtstrm\n"
                       "CPU implementer\t: 0x41\n"
                       "CPU architecture: 8\n"
                       "CPU variant\t: 0x0\n"
                       "CPU part\t: 0xd08\n"
                       "CPU revision\t: 3\n";
const QString CpuPath =
    QStringLiteral("HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0");
} // namespace

class TestHostInfo : public QObject
{
    Q_OBJECT

private slots:
    void cpuInfo_data();
    void cpuInfo();
    void osRelease_data();
    void osRelease();
    void linuxRegistry_data();
    void linuxRegistry();
    void unreadableFiles();
    void realHostQueries();
    void processorLibrary();
};

void TestHostInfo::cpuInfo_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<QByteArray>("vendor");
    QTest::addColumn<QByteArray>("identifier");

    QTest::newRow("x86, first processor only")
        << X86 << QByteArray("      Intel(R) Xeon(R) Gold 6130 CPU @ 2.10GHz")
        << QByteArray("GenuineIntel") << QByteArray("x86_64 Family 6 Model 85 Stepping 4");
    QTest::newRow("arm has no model name") << Arm << QByteArray() << QByteArray("0x41")
                                           << QByteArray("x86_64 Family 8 Model 0xd08 Stepping 3");
    QTest::newRow("missing model name")
        << QByteArray("vendor_id : AuthenticAMD\ncpu family : 23\n") << QByteArray()
        << QByteArray("AuthenticAMD") << QByteArray("x86_64 Family 23 Model ? Stepping ?");
    QTest::newRow("empty") << QByteArray() << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("binary garbage")
        << QByteArray("\x01\xff:\x00\n::\n", 7) << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("carriage returns") << QByteArray("model name : Chip\r\nvendor_id : V\r\n")
                                      << QByteArray("Chip") << QByteArray("V") << QByteArray();
}

void TestHostInfo::cpuInfo()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, model);
    QFETCH(QByteArray, vendor);
    QFETCH(QByteArray, identifier);
    const CpuInfo info = parseCpuInfo(text);
    QCOMPARE(info.modelName, model);
    QCOMPARE(info.vendor, vendor);
    QCOMPARE(info.identifier("x86_64"), identifier);
}

void TestHostInfo::osRelease_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("name");
    QTest::newRow("pretty name") << QByteArray("NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian "
                                               "GNU/Linux 12 (bookworm)\"\nID=debian\n")
                                 << QStringLiteral("Debian GNU/Linux 12 (bookworm)");
    QTest::newRow("name only") << QByteArray("NAME=Alpine\nID=alpine\n")
                               << QStringLiteral("Alpine");
    QTest::newRow("single quotes and escapes")
        << QByteArray("PRETTY_NAME='A \\\"quoted\\\" system'\n")
        << QStringLiteral("A \"quoted\" system");
    QTest::newRow("comment and blank lines")
        << QByteArray("# PRETTY_NAME=no\n\nNAME=Yes\n") << QStringLiteral("Yes");
    QTest::newRow("nothing usable") << QByteArray("ID=x\nVERSION=1\n") << QString();
    QTest::newRow("empty") << QByteArray() << QString();
}

void TestHostInfo::osRelease()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, name);
    QCOMPARE(parseOsReleaseName(text), name);
}

void TestHostInfo::linuxRegistry_data()
{
    QTest::addColumn<QByteArray>("cpuinfo");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("vendor");
    QTest::newRow("x86") << X86 << QStringLiteral("Intel(R) Xeon(R) Gold 6130 CPU @ 2.10GHz")
                         << QStringLiteral("GenuineIntel");
    QTest::newRow("arm") << Arm << QStringLiteral("Error") << QStringLiteral("0x41");
    QTest::newRow("empty file") << QByteArray() << QStringLiteral("Error")
                                << QStringLiteral("Error");
}

// The processor key built from a cpuinfo file, read through the registry module.
void TestHostInfo::linuxRegistry()
{
    QFETCH(QByteArray, cpuinfo);
    QFETCH(QString, name);
    QFETCH(QString, vendor);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("cpuinfo")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(cpuinfo);
    file.close();

    LinuxRegistry registry(file.fileName());
    General general(registry, {});
    QCOMPARE(general.ReadRegistryValue(CpuPath, QStringLiteral("ProcessorNameString")), name);
    QCOMPARE(general.ReadRegistryValue(CpuPath, QStringLiteral("VendorIdentifier")), vendor);
    QCOMPARE(general.ReadRegistryValue(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE"),
                                       QStringLiteral("x")),
             QStringLiteral("Error"));
}

void TestHostInfo::unreadableFiles()
{
    QVERIFY(readHostFile(QStringLiteral("/nonexistent/cpuinfo"), 100).isEmpty());
    LinuxRegistry registry(QStringLiteral("/nonexistent/cpuinfo"));
    General general(registry, {});
    QCOMPARE(general.ReadRegistryValue(CpuPath, QStringLiteral("Identifier")),
             QStringLiteral("Error"));
    LinuxOsQueries os(QStringLiteral("/nonexistent/os-release"));
    QVERIFY(!os.hostSystemName().isEmpty());
}

// This host's answers, checked against what the system itself says.
// The operating-system layer and the processor library on this machine, against what it says of
// itself, read here in the test's own way.
void TestHostInfo::realHostQueries()
{
    LinuxOsQueries os;
    QCOMPARE(int(os.processorCount()), hostfacts::onlineProcessors());
    QCOMPARE(os.totalPhysicalMemory(), hostfacts::memoryBytes());
    QCOMPARE(os.kernelRelease(), hostfacts::kernelRelease());
    const QString name = hostfacts::prettyName();
    if (!name.isEmpty())
        QCOMPARE(os.hostSystemName(), name);
    const OsVersionInfo version = os.version();
    QCOMPARE(version.major, 0u);
    QCOMPARE(version.platformId, 0u);
}

void TestHostInfo::processorLibrary()
{
    GetCpu cpu;
    char name[ProcessorLibrary::BufferSize];
    char second[ProcessorLibrary::BufferSize];
    char third[ProcessorLibrary::BufferSize];
    std::memset(name, 'x', sizeof name);
    cpu.GetProcessor(name, second, third);
    QVERIFY(std::memchr(name, '\0', sizeof name));
    const QString model = hostfacts::modelName();
    QCOMPARE(QString::fromLatin1(name), model.isEmpty() ? QStringLiteral("Unknown") : model);
}

QTEST_GUILESS_MAIN(TestHostInfo)
#include "tst_hostinfo.moc"
