#include "kernelfile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

QByteArray hashOf(int descriptor)
{
    QFile file;
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}

// The device and inode of the file mapped at this address, from /proc/self/maps.
bool mappedFile(const void *address, dev_t *device, ino_t *inode)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    const auto where = reinterpret_cast<quintptr>(address);
    while (!maps.atEnd()) {
        // start-end perms offset major:minor inode path
        const QList<QByteArray> fields = maps.readLine().simplified().split(' ');
        if (fields.size() < 6)
            continue;
        const QList<QByteArray> range = fields[0].split('-');
        const quintptr start = range.value(0).toULongLong(nullptr, 16);
        const quintptr end = range.value(1).toULongLong(nullptr, 16);
        if (where < start || where >= end)
            continue;
        const QList<QByteArray> numbers = fields[3].split(':');
        *device =
            makedev(numbers.value(0).toUInt(nullptr, 16), numbers.value(1).toUInt(nullptr, 16));
        *inode = fields[4].toULongLong();
        return true;
    }
    return false;
}

} // namespace

KernelLibraryFile loadKernelLibrary(const QString &named, QString *error)
{
    KernelLibraryFile loaded;
    QString file = named;
    if (file.isEmpty()) {
        for (const QString &folder : KalvexLibrary::installFolders()) {
            const QString candidate = QDir(folder).filePath(QStringLiteral("libkalvex.so.1"));
            if (QFileInfo(candidate).isFile()) {
                file = candidate;
                break;
            }
        }
    }
    if (!file.isEmpty()) {
        const int descriptor = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0) {
            *error = QStringLiteral("cannot open %1: %2")
                         .arg(file, QString::fromLocal8Bit(std::strerror(errno)));
            return {};
        }
        loaded.sha256 = hashOf(descriptor);
        loaded.library = KalvexLibrary::fromDescriptor(descriptor, file);
        const bool ok = loaded.library->load(error);
        ::close(descriptor);
        if (!ok)
            return {};
        loaded.path = file;
        return loaded;
    }

    // Found by the dynamic loader on the system's library path: the file it mapped is hashed,
    // if the path still names that file.
    loaded.library =
        std::make_unique<KalvexLibrary>(QStringList(), KalvexLibrary::SystemPath::Search);
    if (!loaded.library->load(error))
        return {};
    loaded.path = loaded.library->loadedPath();
    const int descriptor = ::open(QFile::encodeName(loaded.path).constData(), O_RDONLY | O_CLOEXEC);
    struct stat opened
    {};
    dev_t device = 0;
    ino_t inode = 0;
    if (descriptor >= 0 && ::fstat(descriptor, &opened) == 0 &&
        mappedFile(loaded.library->entryAddress(), &device, &inode) && opened.st_dev == device &&
        opened.st_ino == inode)
        loaded.sha256 = hashOf(descriptor);
    if (descriptor >= 0)
        ::close(descriptor);
    return loaded;
}
