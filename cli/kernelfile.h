// Finding and loading the kernel library so that what is reported of it is what was loaded: the
// file is opened once, hashed through that descriptor, and loaded through the same descriptor,
// whatever its path names meanwhile.
#pragma once

#include "benchmark/kernelset.h"

#include <QByteArray>
#include <QString>

#include <memory>

struct KernelLibraryFile
{
    std::unique_ptr<KalvexLibrary> library; // loaded
    QString path;                           // as found or named
    QByteArray sha256;                      // hex, of the loaded file
};

// The file named, or else the installed library as the window finds it. On failure says why.
KernelLibraryFile loadKernelLibrary(const QString &named, QString *error);
