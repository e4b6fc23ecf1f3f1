#include "sysinfo/registry.h"

#include "sysinfo/hostinfo.h"

#include <cstring>

QString MemoryRegistry::keyName(RegKey root, const QString &path)
{
    QString name = QString::number(root, 16) + QLatin1Char('\\') + path.toLower();
    while (name.endsWith(QLatin1Char('\\')))
        name.chop(1);
    return name;
}

void MemoryRegistry::addKey(RegKey root, const QString &path)
{
    // Every key along the path exists too.
    QString prefix;
    const QStringList parts = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    m_keys[keyName(root, QString())];
    for (const QString &part : parts) {
        prefix += (prefix.isEmpty() ? QString() : QStringLiteral("\\")) + part;
        m_keys[keyName(root, prefix)];
    }
}

void MemoryRegistry::setValue(RegKey root, const QString &path, const QByteArray &name, Value value)
{
    addKey(root, path);
    m_keys[keyName(root, path)][name.toLower()] = std::move(value);
}

void MemoryRegistry::setString(RegKey root, const QString &path, const QByteArray &name,
                               const QByteArray &text)
{
    setValue(root, path, name, {RegSz, text + '\0'});
}

RegStatus MemoryRegistry::open(RegKey root, const QByteArray &subKey, std::uint32_t, std::uint32_t,
                               RegKey *key)
{
    if (!m_populated) {
        m_populated = true;
        populate();
    }
    const QString name = keyName(root, QString::fromLocal8Bit(subKey));
    if (!m_keys.contains(name))
        return RegFileNotFound;
    *key = m_nextHandle++;
    m_open.insert(*key, name);
    return RegSuccess;
}

RegStatus MemoryRegistry::queryValue(RegKey key, const QByteArray &name, std::uint32_t *type,
                                     char *data, std::uint32_t *length)
{
    const auto open = m_open.constFind(key);
    if (open == m_open.constEnd())
        return RegInvalidHandle;
    const auto &values = m_keys[*open];
    const auto value = values.constFind(name.toLower());
    if (value == values.constEnd())
        return RegFileNotFound;
    if (type)
        *type = value->type;
    const auto size = static_cast<std::uint32_t>(value->data.size());
    if (size > *length) {
        *length = size;
        return RegMoreData;
    }
    std::memcpy(data, value->data.constData(), size);
    *length = size;
    return RegSuccess;
}

RegStatus MemoryRegistry::close(RegKey key)
{
    return m_open.remove(key) ? RegSuccess : RegInvalidHandle;
}

LinuxRegistry::LinuxRegistry(QString cpuinfoPath) : m_cpuinfoPath(std::move(cpuinfoPath)) {}

void LinuxRegistry::populate()
{
    const QString key = QStringLiteral("HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0");
    constexpr RegKey machine = 0x80000002;
    addKey(machine, key);
    const CpuInfo cpu = parseCpuInfo(readHostFile(m_cpuinfoPath, 1 << 20));
    if (!cpu.modelName.isEmpty())
        setString(machine, key, "ProcessorNameString", cpu.modelName);
    if (!cpu.vendor.isEmpty())
        setString(machine, key, "VendorIdentifier", cpu.vendor);
    const QByteArray identifier = cpu.identifier(machineArchitecture());
    if (!identifier.isEmpty())
        setString(machine, key, "Identifier", identifier);
}
