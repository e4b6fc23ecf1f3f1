#include "sysinfo/general.h"

#include <QTest>

namespace {
constexpr RegKey Machine = 0x80000002;
constexpr RegKey User = 0x80000001;
const QString Cpu = QStringLiteral("HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0");
const QString CpuPath = QStringLiteral("HKEY_LOCAL_MACHINE\\") + Cpu;

// The in-memory registry, counting the keys it was asked to open.
class CountingRegistry : public MemoryRegistry
{
public:
    RegStatus open(RegKey root, const QByteArray &subKey, std::uint32_t options,
                   std::uint32_t access, RegKey *key) override
    {
        ++opens;
        lastAccess = access;
        return MemoryRegistry::open(root, subKey, options, access, key);
    }
    int opens = 0;
    std::uint32_t lastAccess = 0;
};
} // namespace

class TestGeneral : public QObject
{
    Q_OBJECT

private slots:
    void rootKeys_data();
    void rootKeys();
    void parseKeyPath_data();
    void parseKeyPath();
    void readValue_data();
    void readValue();
    void malformedPathTouchesNoRegistry();
};

void TestGeneral::rootKeys_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<uint>("handle");
    QTest::newRow("classes") << QStringLiteral("HKEY_CLASSES_ROOT") << 0x80000000u;
    QTest::newRow("user") << QStringLiteral("HKEY_CURRENT_USER") << 0x80000001u;
    QTest::newRow("machine") << QStringLiteral("HKEY_LOCAL_MACHINE") << 0x80000002u;
    QTest::newRow("users") << QStringLiteral("HKEY_USERS") << 0x80000003u;
    QTest::newRow("performance") << QStringLiteral("HKEY_PERFORMANCE_DATA") << 0x80000004u;
    QTest::newRow("config") << QStringLiteral("HKEY_CURRENT_CONFIG") << 0x80000005u;
    QTest::newRow("dynamic") << QStringLiteral("HKEY_DYN_DATA") << 0x80000006u;
    QTest::newRow("lower case is no root") << QStringLiteral("hkey_local_machine") << 0u;
    QTest::newRow("abbreviation is no root") << QStringLiteral("HKLM") << 0u;
    QTest::newRow("trailing blank") << QStringLiteral("HKEY_USERS ") << 0u;
}

void TestGeneral::rootKeys()
{
    QFETCH(QString, name);
    QFETCH(uint, handle);
    QCOMPARE(General::GetRootKey(name), handle);
}

void TestGeneral::parseKeyPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("message");
    QTest::addColumn<uint>("root");
    QTest::addColumn<QString>("subKey");

    QTest::newRow("processor key") << CpuPath << false << 0x80000002u << Cpu;
    QTest::newRow("root alone") << QStringLiteral("HKEY_CURRENT_USER") << false << 0x80000001u
                                << QString();
    QTest::newRow("later backslashes stay")
        << QStringLiteral("HKEY_USERS\\a\\\\b") << false << 0x80000003u << QStringLiteral("a\\\\b");
    QTest::newRow("unknown root passes silently")
        << QStringLiteral("HKEY_NOWHERE\\x") << false << 0u << QStringLiteral("x");
    QTest::newRow("trailing backslash") << CpuPath + QLatin1Char('\\') << true << 0u << QString();
    QTest::newRow("lower-case root")
        << QStringLiteral("hkey_local_machine\\x") << true << 0u << QString();
    QTest::newRow("empty") << QString() << true << 0u << QString();
    QTest::newRow("shorter than HKEY_") << QStringLiteral("HKEY") << true << 0u << QString();
    QTest::newRow("only a backslash") << QStringLiteral("\\") << true << 0u << QString();
}

void TestGeneral::parseKeyPath()
{
    QFETCH(QString, path);
    QFETCH(bool, message);
    QFETCH(uint, root);
    QFETCH(QString, subKey);

    MemoryRegistry registry;
    QStringList messages;
    General general(registry, [&](const QString &text) { messages << text; });
    QString parsed = path;
    RegKey handle = 0xdead;
    const bool ok = general.ParseKeyPath(parsed, handle);
    QCOMPARE(ok, !message);
    QCOMPARE(handle, root);
    if (message) {
        QCOMPARE(messages, QStringList{QStringLiteral("Incorrect Format:\n\n") + path});
    } else {
        QVERIFY(messages.isEmpty());
        QCOMPARE(parsed, subKey);
    }
}

void TestGeneral::readValue_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    QTest::newRow("processor name") << CpuPath << QStringLiteral("ProcessorNameString")
                                    << QStringLiteral("Intel(R) Pentium(R) 4 CPU 2.40GHz");
    QTest::newRow("name is case-blind") << CpuPath << QStringLiteral("processornamestring")
                                        << QStringLiteral("Intel(R) Pentium(R) 4 CPU 2.40GHz");
    QTest::newRow("leading blanks removed")
        << CpuPath << QStringLiteral("Padded") << QStringLiteral("Intel(R) Xeon(R)");
    QTest::newRow("trailing blanks inside remain")
        << CpuPath << QStringLiteral("Trailing") << QStringLiteral("Vendor  ");
    QTest::newRow("254 characters fit")
        << CpuPath << QStringLiteral("Long254") << QString(254, QLatin1Char('x'));
    QTest::newRow("255 characters do not")
        << CpuPath << QStringLiteral("Long255") << QStringLiteral("Error");
    QTest::newRow("empty value") << CpuPath << QStringLiteral("Empty") << QString();
    QTest::newRow("only blanks") << CpuPath << QStringLiteral("Blanks") << QString();
    QTest::newRow("binary data less its last byte")
        << CpuPath << QStringLiteral("Number") << QStringLiteral("ABC");
    QTest::newRow("missing value")
        << CpuPath << QStringLiteral("Nothing") << QStringLiteral("Error");
    QTest::newRow("missing key") << QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\None")
                                 << QStringLiteral("x") << QStringLiteral("Error");
    QTest::newRow("value of a root key") << QStringLiteral("HKEY_CURRENT_USER")
                                         << QStringLiteral("AtRoot") << QStringLiteral("root");
    QTest::newRow("unknown root") << QStringLiteral("HKEY_NOWHERE\\x") << QStringLiteral("x")
                                  << QString();
}

void TestGeneral::readValue()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QFETCH(QString, expected);

    CountingRegistry registry;
    registry.setString(Machine, Cpu, "ProcessorNameString", "Intel(R) Pentium(R) 4 CPU 2.40GHz");
    registry.setString(Machine, Cpu, "Padded", "      Intel(R) Xeon(R)");
    registry.setString(Machine, Cpu, "Trailing", "Vendor  ");
    registry.setString(Machine, Cpu, "Long254", QByteArray(254, 'x'));
    registry.setString(Machine, Cpu, "Long255", QByteArray(255, 'x'));
    registry.setString(Machine, Cpu, "Empty", "");
    registry.setString(Machine, Cpu, "Blanks", "   ");
    registry.setValue(Machine, Cpu, "Number", {RegDword, QByteArray("ABCD")});
    registry.setString(User, QString(), "AtRoot", "root");
    QStringList messages;
    General general(registry, [&](const QString &text) { messages << text; });

    QCOMPARE(general.ReadRegistryValue(path, name), expected);
    QVERIFY(messages.isEmpty());
    QCOMPARE(registry.openKeys(), 0); // every opened key is closed again
    if (registry.opens)
        QCOMPARE(registry.lastAccess, RegKeyRead);
}

void TestGeneral::malformedPathTouchesNoRegistry()
{
    CountingRegistry registry;
    QStringList messages;
    General general(registry, [&](const QString &text) { messages << text; });
    QCOMPARE(general.ReadRegistryValue(CpuPath + QLatin1Char('\\'), QStringLiteral("x")),
             QString());
    QCOMPARE(messages.size(), 1);
    QCOMPARE(registry.opens, 0);
}

QTEST_GUILESS_MAIN(TestGeneral)
#include "tst_general.moc"
