// A read-only system registry with the three calls the registry module uses: open a key, read
// one value into a caller's buffer, close the key. Status 0 is success; the other codes are the
// ones the module can meet.
//
// This host has no registry of its own. LinuxRegistry holds the one key the program reads, the
// processor description, built from /proc/cpuinfo when it is first opened.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QString>

#include <cstdint>

using RegKey = std::uint32_t;
using RegStatus = long;

inline constexpr RegStatus RegSuccess = 0;
inline constexpr RegStatus RegFileNotFound = 2;
inline constexpr RegStatus RegInvalidHandle = 6;
inline constexpr RegStatus RegMoreData = 234;
inline constexpr std::uint32_t RegKeyRead = 0x20019;
inline constexpr std::uint32_t RegSz = 1;
inline constexpr std::uint32_t RegBinary = 3;
inline constexpr std::uint32_t RegDword = 4;

class RegistryLayer
{
public:
    virtual ~RegistryLayer() = default;
    // subKey empty opens the root key itself.
    virtual RegStatus open(RegKey root, const QByteArray &subKey, std::uint32_t options,
                           std::uint32_t access, RegKey *key) = 0;
    // Copies the value's bytes (strings with their terminating NUL) into data, which holds
    // *length bytes; a value that does not fit gives RegMoreData. *length becomes the value's size.
    virtual RegStatus queryValue(RegKey key, const QByteArray &name, std::uint32_t *type,
                                 char *data, std::uint32_t *length) = 0;
    virtual RegStatus close(RegKey key) = 0;
};

// A registry held in memory: keys by root and path (compared without regard to case, as the
// registry does), each with named values of a type and raw bytes.
class MemoryRegistry : public RegistryLayer
{
public:
    struct Value
    {
        std::uint32_t type = RegSz;
        QByteArray data;
    };

    // A string value is stored with its terminating NUL.
    void setString(RegKey root, const QString &path, const QByteArray &name,
                   const QByteArray &text);
    void setValue(RegKey root, const QString &path, const QByteArray &name, Value value);
    void addKey(RegKey root, const QString &path);

    RegStatus open(RegKey root, const QByteArray &subKey, std::uint32_t options,
                   std::uint32_t access, RegKey *key) override;
    RegStatus queryValue(RegKey key, const QByteArray &name, std::uint32_t *type, char *data,
                         std::uint32_t *length) override;
    RegStatus close(RegKey key) override;

    int openKeys() const { return static_cast<int>(m_open.size()); }

protected:
    // Called before the first open, so a subclass can fill the tree lazily.
    virtual void populate() {}

private:
    static QString keyName(RegKey root, const QString &path);

    QMap<QString, QMap<QByteArray, Value>> m_keys;
    QHash<RegKey, QString> m_open;
    RegKey m_nextHandle = 0x100;
    bool m_populated = false;
};

// The processor key, from /proc/cpuinfo.
class LinuxRegistry final : public MemoryRegistry
{
public:
    explicit LinuxRegistry(QString cpuinfoPath = QStringLiteral("/proc/cpuinfo"));

protected:
    void populate() override;

private:
    QString m_cpuinfoPath;
};
