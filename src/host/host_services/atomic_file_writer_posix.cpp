// The rewrite on Linux and other POSIX systems. The temporary file has no name where the system
// can make one so (O_TMPFILE): a killed process then leaves nothing behind. Everything is done
// through a descriptor of the folder, so a folder renamed or replaced meanwhile cannot send the
// new content elsewhere.

#include "atomic_file_writer.h"
#include "host/host_services/descriptor_device.h"
#include "host/host_services/file_access_posix.h"
#include "host/host_services/folder_room.h"
#include "host/host_services/leftover_files.h"
#include "host/host_services/temporary_name.h"
#include "host/host_services/unique_descriptor.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QThreadPool>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

namespace virellock {

namespace {

Q_LOGGING_CATEGORY(lcRewrite, "virellock.rewrite")

// How many symbolic links a path may pass through, as the system allows.
constexpr int kMaxLinkHops = 40;
// Tries at a free random name before giving up: a clash is one in 56 billion.
constexpr int kNameAttempts = 16;

QString systemError(const QString& what, int error)
{
    return what + QStringLiteral(" (") + qt_error_string(error) + u')';
}

// What the person can do about a failed system call.
FailureReason reasonOf(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return FailureReason::AccessDenied;
    case ENOSPC:
    case EDQUOT:
        return FailureReason::NoSpace;
    case EFBIG:
        return FailureReason::FileTooLarge;
    case EBUSY:
    case ETXTBSY:
        return FailureReason::FileInUse;
    case EIO:
        return FailureReason::DiskError;
    default:
        return FailureReason::None;
    }
}

// The path names this file only while it stays the same: the same file, size and modification
// time, and the same change time, which any change of owner, permissions or attributes moves.
struct FileSnapshot
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    static FileSnapshot of(const struct stat& status)
    {
        return {status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
    }
    bool operator==(const FileSnapshot& other) const
    {
        const auto same = [](timespec a, timespec b) {
            return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
        };
        return device == other.device && inode == other.inode && size == other.size &&
               same(modified, other.modified) && same(changed, other.changed);
    }
};

// A file by its folder and its name in it.
struct Place
{
    QByteArray folder;
    QByteArray name;
};

Place split(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return {QByteArrayLiteral("."), path};
    return {slash == 0 ? QByteArrayLiteral("/") : path.left(slash), path.mid(slash + 1)};
}

// Where the rewrite lands: the file the path leads to once its symbolic links are followed,
// which need not exist. Nothing, with errno in error, when a link loops or cannot be read, or
// the path names a folder.
std::optional<Place> placeOf(QByteArray path, int* error)
{
    for (int hops = 0; hops <= kMaxLinkHops; ++hops) {
        const Place place = split(path);
        if (place.name.isEmpty() || place.name == "." || place.name == "..") {
            *error = EISDIR;
            return std::nullopt;
        }
        struct stat status;
        if (::lstat(path.constData(), &status) != 0) {
            if (errno == ENOENT)
                return place;
            *error = errno;
            return std::nullopt;
        }
        if (!S_ISLNK(status.st_mode))
            return place;
        QByteArray target(PATH_MAX, Qt::Uninitialized);
        const ssize_t length = ::readlink(path.constData(), target.data(), target.size());
        if (length < 0 || length >= target.size()) {
            *error = length < 0 ? errno : ENAMETOOLONG;
            return std::nullopt;
        }
        target.truncate(length);
        path = target.startsWith('/') ? target : place.folder + '/' + target;
    }
    *error = ELOOP;
    return std::nullopt;
}

FolderRoom systemRoom(int folder)
{
    FolderRoom room;
    struct statvfs space;
    if (::fstatvfs(folder, &space) == 0)
        room.freeBytes = qint64(space.f_bavail) * qint64(space.f_frsize);
#ifdef Q_OS_LINUX
    struct statfs system;
    if (::fstatfs(folder, &system) == 0 && system.f_type == MSDOS_SUPER_MAGIC)
        room.largestFile = kFatLargestFile;
#endif
    return room;
}

#ifdef Q_OS_LINUX
// The file systems on a local disk that free a large file's blocks slowly.
bool isLocalDiskFileSystem(decltype(statfs::f_type) type)
{
    switch (type) {
    case EXT4_SUPER_MAGIC: // ext2 and ext3 alike
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case F2FS_SUPER_MAGIC:
        return true;
    default:
        return false;
    }
}

// Replacing a file frees the blocks of its old content within the rename, when nothing else
// holds it: tens of milliseconds for a few hundred MiB, which the person would wait for. A
// descriptor held on the old content across the rename leaves that work to its close, done on
// a worker afterwards. Only on the local file systems where freeing costs that much: a network
// file system may treat a replaced file that is still open in ways of its own. -1 when not
// held; the rename then frees it itself.
int holdReplacedContent(int folder, const QByteArray& name)
{
    const int descriptor =
        ::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor == -1)
        return -1;
    struct statfs system;
    if (::fstatfs(descriptor, &system) == 0 && isLocalDiskFileSystem(system.f_type))
        return descriptor;
    ::close(descriptor);
    return -1;
}

void releaseInBackground(int descriptor)
{
    if (descriptor != -1)
        QThreadPool::globalInstance()->start([descriptor] { ::close(descriptor); });
}
#endif

} // namespace

struct AtomicFileWriter::Rewrite
{
    QString path;

    // Set by open():
    Place place;
    // The full path of the file that is rewritten, links followed.
    QString targetPath;
    UniqueDescriptor folder;
    // Nothing when there was no file yet: the new one is then made as any new file is.
    std::optional<FileSnapshot> original;
    std::optional<FileAccess> access;
    UniqueDescriptor temporary;
    // The temporary file's name in the folder; empty while it has none.
    QByteArray temporaryName;
    std::optional<LeftoverRecord> record;
    DescriptorDevice device;
    // Attributes that guard nothing and could not be carried over, for the log.
    QStringList leftOut;

    QString error;
    FailureCause cause;
    QString warning;
    std::function<void()> beforeReplace;

    // What failed, told with errno as the system call left it.
    bool failSystem(const QString& what)
    {
        const int code = errno;
        return fail(reasonOf(code), systemError(what, code));
    }

    bool fail(FailureCause why, const QString& text)
    {
        cause = why;
        error = text;
        discard();
        return false;
    }

    // Whether the temporary file's name still leads to it.
    bool temporaryNamed() const
    {
        struct stat named, own;
        return !temporaryName.isEmpty() && temporary.isValid() &&
               ::fstatat(folder.get(), temporaryName.constData(), &named, AT_SYMLINK_NOFOLLOW) ==
                   0 &&
               ::fstat(temporary.get(), &own) == 0 && named.st_dev == own.st_dev &&
               named.st_ino == own.st_ino;
    }

    // Removes the temporary file: only while its name still leads to it, so that a file
    // another program put in its place stays.
    void discard()
    {
        device.close();
        if (temporaryNamed())
            ::unlinkat(folder.get(), temporaryName.constData(), 0);
        temporaryName.clear();
        temporary.reset();
        record.reset();
    }

    bool takeOriginal(const QFileDevice* readFrom);
    bool makeTemporary(qint64 maxSize);
    bool giveAccess();
    bool stillTheFile() const;
    bool replace();
    bool nameTemporary();
};

// Notes what the path names now: the file to keep, or none.
bool AtomicFileWriter::Rewrite::takeOriginal(const QFileDevice* readFrom)
{
    const char* name = place.name.constData();
    struct stat status;
    if (::fstatat(folder.get(), name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            return failSystem(QStringLiteral("the file cannot be found"));
        if (readFrom)
            return fail(FailureReason::FileChanged,
                        QStringLiteral("the file that was read is gone"));
        return true;
    }
    if (S_ISLNK(status.st_mode))
        return fail(FailureReason::FileChanged,
                    QStringLiteral("a symbolic link took the file's place"));
    if (!S_ISREG(status.st_mode))
        return fail(FailureReason::NotRegularFile, QStringLiteral("not a regular file"));
    if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return fail(FailureReason::ReadOnly, QStringLiteral("the file is read-only"));
    if (::faccessat(folder.get(), name, W_OK, AT_EACCESS) != 0)
        return failSystem(QStringLiteral("the file may not be written"));

    // Opened to read what it has; a file this process may write but not read is reached by
    // a descriptor that reads nothing.
    UniqueDescriptor opened(
        ::openat(folder.get(), name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
#ifdef O_PATH
    if (!opened.isValid() && errno == EACCES)
        opened.reset(::openat(folder.get(), name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
#endif
    struct stat now;
    if (!opened.isValid() || ::fstat(opened.get(), &now) != 0)
        return failSystem(QStringLiteral("the file cannot be opened"));
    if (now.st_dev != status.st_dev || now.st_ino != status.st_ino)
        return fail(FailureReason::FileChanged,
                    QStringLiteral("another file took the file's name"));
    if (readFrom) {
        struct stat read;
        if (readFrom->handle() < 0 || ::fstat(readFrom->handle(), &read) != 0 ||
            read.st_dev != now.st_dev || read.st_ino != now.st_ino)
            return fail(FailureReason::FileChanged,
                        QStringLiteral("the path no longer names the file that was read"));
    }
    QString why;
    access = readFileAccess(opened.get(), &why, &leftOut);
    if (!access)
        return fail(FailureReason::PermissionsNotKept, why);
    original = FileSnapshot::of(now);
    return true;
}

bool AtomicFileWriter::Rewrite::makeTemporary(qint64 maxSize)
{
    // A file that replaces another gets that one's access before anything is written to it; a
    // new one is made as any new file is, under the umask and the folder's default access list.
    const mode_t mode = original ? 0600 : 0666;
#ifdef O_TMPFILE
    temporary.reset(::openat(folder.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
    if (temporary.isValid())
        return true;
        // Refused where the file system has no unnamed files; a named one says why it fails, if
        // it does too.
#endif
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QString temporaryPath = temporaryPathFor(targetPath);
        const QByteArray name = QFile::encodeName(QFileInfo(temporaryPath).fileName());
        temporary.reset(::openat(folder.get(), name.constData(),
                                 O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (!temporary.isValid() && errno == EEXIST)
            continue;
        if (!temporary.isValid())
            break;
        temporaryName = name;
        record = LeftoverRecord::create(targetPath, temporaryPath, temporary.get(), maxSize);
        return true;
    }
    return failSystem(QStringLiteral("the temporary file cannot be made"));
}

bool AtomicFileWriter::Rewrite::giveAccess()
{
    if (!access)
        return true;
    const GivenAccess given = giveFileAccess(temporary.get(), *access);
    if (!given.refusal.isEmpty())
        return fail(FailureReason::PermissionsNotKept, given.refusal);
    for (const QString& attribute : given.leftOut) {
        if (!leftOut.contains(attribute))
            leftOut.append(attribute);
    }
    return true;
}

bool AtomicFileWriter::Rewrite::stillTheFile() const
{
    struct stat now;
    if (::fstatat(folder.get(), place.name.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0)
        return !original && errno == ENOENT;
    return original && FileSnapshot::of(now) == *original;
}

// Gives the unnamed temporary file a name beside the file, for the rename: a link cannot
// replace a file. No record is made for the moment between this and the rename; a kill just
// then leaves the new content under that name, with the file's own access.
bool AtomicFileWriter::Rewrite::nameTemporary()
{
    const QByteArray source =
        QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(temporary.get());
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QByteArray name =
            QFile::encodeName(QFileInfo(temporaryPathFor(targetPath)).fileName());
        if (::linkat(AT_FDCWD, source.constData(), folder.get(), name.constData(),
                     AT_SYMLINK_FOLLOW) == 0) {
            temporaryName = name;
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    return failSystem(QStringLiteral("the temporary file cannot be named"));
}

bool AtomicFileWriter::Rewrite::replace()
{
    const char* name = place.name.constData();
    const auto renameFailed = [this](int error) {
        return fail(
            error == EEXIST ? FailureCause(FailureReason::FileChanged) : reasonOf(error),
            systemError(QStringLiteral("the temporary file cannot replace the file"), error));
    };
    if (temporaryName.isEmpty()) {
#ifdef O_TMPFILE
        // A new file: a link to the name is made only while no other file has it.
        if (!original) {
            const QByteArray source =
                QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(temporary.get());
            if (::linkat(AT_FDCWD, source.constData(), folder.get(), name, AT_SYMLINK_FOLLOW) != 0)
                return renameFailed(errno);
            return true;
        }
#endif
        if (!nameTemporary())
            return false;
    }
#ifdef RENAME_NOREPLACE
    if (!original) {
        if (::renameat2(folder.get(), temporaryName.constData(), folder.get(), name,
                        RENAME_NOREPLACE) == 0)
            return true;
        // A file system that cannot promise it: the name was free a moment ago.
        if (errno != EINVAL && errno != ENOSYS)
            return renameFailed(errno);
    }
#endif
    if (::renameat(folder.get(), temporaryName.constData(), folder.get(), name) != 0)
        return renameFailed(errno);
    return true;
}

AtomicFileWriter::AtomicFileWriter(const QString& path) : m_rewrite(std::make_unique<Rewrite>())
{
    m_rewrite->path = path;
}

AtomicFileWriter::~AtomicFileWriter()
{
    cancel();
}

bool AtomicFileWriter::open(qint64 maxSize, const QFileDevice* readFrom)
{
    Q_ASSERT(maxSize >= 0);
    cancel();
    Rewrite& rewrite = *m_rewrite;
    rewrite.error.clear();
    rewrite.cause = {};
    rewrite.warning.clear();
    rewrite.leftOut.clear();
    rewrite.original.reset();
    rewrite.access.reset();

    int error = 0;
    const std::optional<Place> place = placeOf(QFile::encodeName(rewrite.path), &error);
    if (!place) {
        errno = error;
        return rewrite.failSystem(QStringLiteral("the path cannot be followed"));
    }
    rewrite.place = *place;
    rewrite.targetPath =
        QFileInfo(QFile::decodeName(place->folder + '/' + place->name)).absoluteFilePath();
    rewrite.folder.reset(::open(place->folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
#ifdef O_PATH
    // A folder this process may write but not list; only its sync after the rename is lost.
    if (!rewrite.folder.isValid() && errno == EACCES)
        rewrite.folder.reset(::open(place->folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
#endif
    if (!rewrite.folder.isValid())
        return rewrite.failSystem(QStringLiteral("the folder cannot be opened"));
    if (!rewrite.takeOriginal(readFrom))
        return false;

    const FolderRoom room = detail::folderRoomForTests(QFile::decodeName(place->folder))
                                .value_or(systemRoom(rewrite.folder.get()));
    if (const FailureCause lacking = roomFor(maxSize, room);
        lacking.reason != FailureReason::None) {
        return rewrite.fail(
            lacking, lacking.reason == FailureReason::NoSpace
                         ? QStringLiteral("the new content may take %1 bytes, the disk has %2 free")
                               .arg(maxSize)
                               .arg(room.freeBytes)
                         : QStringLiteral("the new content may take %1 bytes, the file system "
                                          "holds files of at most %2")
                               .arg(maxSize)
                               .arg(room.largestFile));
    }

    if (!rewrite.makeTemporary(maxSize) || !rewrite.giveAccess())
        return false;
    if (!rewrite.device.openDescriptor(rewrite.temporary.get(), QIODevice::ReadWrite))
        return rewrite.fail({}, QStringLiteral("the temporary file cannot be opened"));
    return true;
}

QIODevice& AtomicFileWriter::device()
{
    return m_rewrite->device;
}

bool AtomicFileWriter::flush()
{
    // Every write goes to the system as it is made.
    return m_rewrite->device.isOpen();
}

bool AtomicFileWriter::readAt(qint64 offset, char* data, qint64 size) const
{
    const int descriptor = m_rewrite->temporary.get();
    if (descriptor < 0 || offset < 0 || size < 0)
        return false;
    // pread() leaves the descriptor's position alone.
    while (size > 0) {
        const ssize_t read = ::pread(descriptor, data, std::size_t(size), off_t(offset));
        if (read < 0 && errno == EINTR)
            continue;
        if (read <= 0)
            return false;
        offset += read;
        data += read;
        size -= read;
    }
    return true;
}

void AtomicFileWriter::startWriteBack([[maybe_unused]] qint64 offset, [[maybe_unused]] qint64 size)
{
#ifdef Q_OS_LINUX
    // Starts the write-out of these pages and does not wait for it. No data is lost when it
    // is refused: the sync at commit() writes whatever is still dirty.
    if (m_rewrite->temporary.isValid() && size > 0)
        ::sync_file_range(m_rewrite->temporary.get(), off_t(offset), off_t(size),
                          SYNC_FILE_RANGE_WRITE);
#endif
}

qint64 AtomicFileWriter::systemSize() const
{
    struct stat status;
    if (!m_rewrite->temporary.isValid() || ::fstat(m_rewrite->temporary.get(), &status) != 0)
        return -1;
    return qint64(status.st_size);
}

bool AtomicFileWriter::commit()
{
    Rewrite& rewrite = *m_rewrite;
    if (!rewrite.device.isOpen()) {
        if (rewrite.error.isEmpty())
            rewrite.error = QStringLiteral("the temporary file is not open");
        return false;
    }
    if (const qint64 size = systemSize(); size != rewrite.device.pos())
        return rewrite.fail({}, QStringLiteral("the temporary file holds %1 bytes where %2 were "
                                               "written")
                                    .arg(size)
                                    .arg(rewrite.device.pos()));
    // Writing clears setuid, setgid and file capabilities: they go back on.
    if (!rewrite.giveAccess())
        return false;
    // The data, and what reading it back needs, on the disk before the rename makes it the
    // file. The rename itself comes after it in the file system's journal, and with it the
    // owner and access given before.
    if (::fdatasync(rewrite.temporary.get()) != 0) {
        const int error = errno;
        const FailureReason reason = reasonOf(error);
        return rewrite.fail(
            reason == FailureReason::None ? FailureReason::DiskError : reason,
            systemError(QStringLiteral("the temporary file cannot be synced to the disk"), error));
    }
    if (rewrite.beforeReplace)
        rewrite.beforeReplace();
    if (!rewrite.stillTheFile())
        return rewrite.fail(FailureReason::FileChanged,
                            QStringLiteral("the path no longer names the file as it was read"));
#ifdef Q_OS_LINUX
    const int replaced =
        rewrite.original ? holdReplacedContent(rewrite.folder.get(), rewrite.place.name) : -1;
#endif
    const bool replacedFile = rewrite.replace();
#ifdef Q_OS_LINUX
    releaseInBackground(replaced);
#endif
    if (!replacedFile)
        return false;
    // The temporary file is the file now: nothing of it is left to remove.
    rewrite.temporaryName.clear();
    rewrite.discard();
    // The rename is lasting only once the folder is on the disk. Too late to undo: the caller
    // is told beside its success.
    if (::fsync(rewrite.folder.get()) != 0) {
        const int error = errno;
        rewrite.warning = systemError(
            QStringLiteral("the folder could not be synced to the disk after the rename"), error);
    }
    for (const QString& attribute : std::as_const(rewrite.leftOut))
        qCWarning(lcRewrite).noquote() << rewrite.targetPath << "rewritten without" << attribute;
    return true;
}

void AtomicFileWriter::cancel()
{
    m_rewrite->discard();
}

QString AtomicFileWriter::errorString() const
{
    return m_rewrite->error.isEmpty() ? m_rewrite->device.errorString() : m_rewrite->error;
}

FailureCause AtomicFileWriter::failureCause() const
{
    if (!m_rewrite->error.isEmpty() || m_rewrite->device.lastError() == 0)
        return m_rewrite->cause;
    return reasonOf(m_rewrite->device.lastError());
}

QString AtomicFileWriter::warning() const
{
    return m_rewrite->warning;
}

void AtomicFileWriter::setBeforeReplace(std::function<void()> hook)
{
    m_rewrite->beforeReplace = std::move(hook);
}

} // namespace virellock
