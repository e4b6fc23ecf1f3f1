// General: reads one named value from the registry, given the whole key path as one text
// ("HKEY_LOCAL_MACHINE\HARDWARE\DESCRIPTION\System\CentralProcessor\0").
//
// GetRootKey names the root handle, ParseKeyPath checks a path and splits it into root and
// sub-key, ReadRegistryValue opens, reads and closes. A malformed path is the one case the user
// hears of ("Incorrect Format:"); a key or value that cannot be read gives the text "Error", an
// unknown root the empty text. Nothing is ever written to the registry.
#pragma once

#include "sysinfo/registry.h"

#include <QString>

#include <functional>

class General
{
public:
    static constexpr int BufferLength = 255;

    // showFormatMessage shows the modal "Incorrect Format:" message box.
    General(RegistryLayer &registry, std::function<void(const QString &)> showFormatMessage);

    static RegKey GetRootKey(const QString &name);
    bool ParseKeyPath(QString &path, RegKey &root);
    QString ReadRegistryValue(const QString &keyPath, const QString &valueName);

private:
    RegistryLayer &m_registry;
    std::function<void(const QString &)> m_showFormatMessage;
    // Working state kept between calls, as the module always has.
    RegKey m_key = 0;
    RegKey m_root = 0;
    QByteArray m_buffer;
    std::uint32_t m_length = 0;
};
