#include "leftover_removal.h"
#include "owned_handle.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace virellock {

namespace {

FileIdentity identityOf(const struct stat& status)
{
    return FileIdentity{quint64(status.st_dev), quint64(status.st_ino)};
}

// The file the record names and one this user may remove: the user's own regular file with no
// other name (another name would be a file someone still uses), and no bigger than the
// rewrite could have made it. Inode numbers are reused, so the identity alone proves nothing.
bool isRecordedFile(const struct stat& status, const LeftoverFields& record)
{
    return S_ISREG(status.st_mode) && status.st_uid == ::geteuid() && status.st_nlink == 1 &&
           identityOf(status) == record.identity && status.st_size <= record.maxSize;
}

bool fillWithZeros(int descriptor, qint64 size)
{
    static const QByteArray zeros(1 << 20, '\0');
    for (qint64 offset = 0; offset < size;) {
        const auto piece = std::size_t(std::min<qint64>(size - offset, zeros.size()));
        const ssize_t written = ::pwrite(descriptor, zeros.constData(), piece, off_t(offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        offset += written;
    }
    return ::fsync(descriptor) == 0;
}

} // namespace

std::optional<FileIdentity> identityOfOpenFile(qintptr nativeHandle, const QString& path)
{
    struct stat open, named;
    if (::fstat(int(nativeHandle), &open) != 0 ||
        ::lstat(QFile::encodeName(path).constData(), &named) != 0 ||
        identityOf(open) != identityOf(named))
        return std::nullopt;
    return identityOf(open);
}

std::optional<FileIdentity> identityOfFile(const QString& path)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return identityOf(status);
}

bool processIsRunning(qint64 processId)
{
    return processId > 0 && (::kill(pid_t(processId), 0) == 0 || errno == EPERM);
}

Removal wipeAndRemove(const LeftoverFields& record)
{
    // Everything through the folder as it was opened, by the file's name in it, never
    // following a link at that name: a folder renamed or a name replaced meanwhile can only
    // make the checks below fail.
    const QFileInfo temporary(record.temporaryPath);
    const OwnedHandle folder(::open(QFile::encodeName(temporary.absolutePath()).constData(),
                                    O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isValid())
        return errno == ENOTDIR ? Removal::NotOurs : Removal::Retry;
    const QByteArray name = QFile::encodeName(temporary.fileName());
    struct stat named;
    if (::fstatat(folder.get(), name.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Removal::Gone : Removal::Retry;
    // Checked before opening, as opening a device or a FIFO can have effects of its own.
    if (!isRecordedFile(named, record))
        return Removal::NotOurs;
    const OwnedHandle file(::openat(folder.get(), name.constData(),
                                    O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.isValid())
        return errno == ENOENT ? Removal::Gone : errno == ELOOP ? Removal::NotOurs : Removal::Retry;
    struct stat opened;
    if (::fstat(file.get(), &opened) != 0)
        return Removal::Retry;
    if (!isRecordedFile(opened, record))
        return Removal::NotOurs;
    if (!fillWithZeros(file.get(), opened.st_size))
        return Removal::Retry;
    // The name must still lead to the file just overwritten, or it is another's now.
    if (::fstatat(folder.get(), name.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        identityOf(named) != identityOf(opened))
        return Removal::NotOurs;
    if (::unlinkat(folder.get(), name.constData(), 0) != 0)
        return Removal::Retry;
    ::fsync(folder.get());
    return Removal::Removed;
}

} // namespace virellock
