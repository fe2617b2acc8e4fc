#include "atomic_file_writer.h"

#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

namespace virellock {

namespace {

constexpr qint64 kReadBackPieceSize = qint64(1) << 20;

#ifdef Q_OS_WIN
// Windows moves a synchronous handle's file position on every ReadFile, even one given an
// offset, and QSaveFile's handle is the only one there is: it opens the temporary file
// without sharing. A read through it from another thread would make the writer's next write
// land at the wrong place. A read-only mapping of the file is a handle of its own, and
// reading the view touches no file position; it sees what WriteFile wrote, as both go
// through the same system cache.
bool readThroughMapping(HANDLE file, qint64 offset, char* data, qint64 size)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const quint64 granularity = system.dwAllocationGranularity;
    const quint64 viewStart = quint64(offset) / granularity * granularity;
    const quint64 viewEnd = quint64(offset + size);
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, DWORD(viewEnd >> 32),
                                        DWORD(viewEnd & 0xffffffffu), nullptr);
    if (!mapping)
        return false;
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, DWORD(viewStart >> 32),
                               DWORD(viewStart & 0xffffffffu), SIZE_T(viewEnd - viewStart));
    bool read = false;
    if (view) {
        memcpy(data, static_cast<const char*>(view) + (quint64(offset) - viewStart),
               std::size_t(size));
        read = true;
        UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
    return read;
}
#endif

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
int holdReplacedContent(const QString& path)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
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

AtomicFileWriter::AtomicFileWriter(const QString& path) : m_file(path)
{
    // Never write in place, even where the folder forbids creating the temporary file.
    m_file.setDirectWriteFallback(false);
}

AtomicFileWriter::~AtomicFileWriter()
{
    cancel();
}

bool AtomicFileWriter::open()
{
    m_error.clear();
    if (isReadOnlyFile(m_file.fileName())) {
        m_error = QStringLiteral("the file is read-only");
        return false;
    }
    if (!m_file.open(QIODevice::WriteOnly))
        return false;
    const int descriptor = m_file.handle();
#ifdef Q_OS_WIN
    m_nativeHandle = descriptor < 0 ? -1 : qintptr(_get_osfhandle(descriptor));
#else
    m_nativeHandle = descriptor;
#endif
    if (m_nativeHandle == -1) {
        cancel();
        return false;
    }
    m_leftoverRecord = LeftoverRecord::forOpenFile(m_nativeHandle);
    return true;
}

bool AtomicFileWriter::readBack(const std::function<bool(QByteArrayView)>& sink)
{
    if (!m_file.isOpen() || !m_file.flush())
        return false;
    const qint64 size = systemSize();
    if (size < 0)
        return false;
    QByteArray buffer(qsizetype(std::min(size, kReadBackPieceSize)), Qt::Uninitialized);
    for (qint64 offset = 0; offset < size;) {
        const qint64 wanted = std::min<qint64>(buffer.size(), size - offset);
        if (!readAt(offset, buffer.data(), wanted) ||
            !sink(QByteArrayView(buffer).first(qsizetype(wanted))))
            return false;
        offset += wanted;
    }
    return true;
}

bool AtomicFileWriter::readAt(qint64 offset, char* data, qint64 size) const
{
    if (m_nativeHandle == -1 || offset < 0 || size < 0)
        return false;
    if (size == 0)
        return true;
#ifdef Q_OS_WIN
    return readThroughMapping(reinterpret_cast<HANDLE>(m_nativeHandle), offset, data, size);
#else
    // pread() leaves the descriptor's position alone.
    const int descriptor = int(m_nativeHandle);
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
#endif
}

void AtomicFileWriter::startWriteBack([[maybe_unused]] qint64 offset, [[maybe_unused]] qint64 size)
{
#ifdef Q_OS_LINUX
    // Starts the write-out of these pages and does not wait for it. No data is lost when it
    // is refused: the sync at commit() writes whatever is still dirty.
    if (m_nativeHandle != -1 && size > 0)
        ::sync_file_range(int(m_nativeHandle), off_t(offset), off_t(size), SYNC_FILE_RANGE_WRITE);
#endif
}

qint64 AtomicFileWriter::systemSize() const
{
    if (m_nativeHandle == -1)
        return -1;
#ifdef Q_OS_WIN
    LARGE_INTEGER size;
    return GetFileSizeEx(reinterpret_cast<HANDLE>(m_nativeHandle), &size) ? qint64(size.QuadPart)
                                                                          : -1;
#else
    struct stat status;
    return ::fstat(int(m_nativeHandle), &status) == 0 ? qint64(status.st_size) : -1;
#endif
}

bool AtomicFileWriter::commit()
{
    if (!m_file.isOpen() || !m_file.flush())
        return false;
    if (const qint64 size = systemSize(); size != m_file.pos()) {
        m_error = QStringLiteral("the temporary file holds %1 bytes where %2 were written")
                      .arg(size)
                      .arg(m_file.pos());
        return false;
    }
    m_nativeHandle = -1;
#ifdef Q_OS_LINUX
    const int replaced = holdReplacedContent(m_file.fileName());
#endif
    const bool committed = m_file.commit();
#ifdef Q_OS_LINUX
    releaseInBackground(replaced);
#endif
    m_leftoverRecord.reset();
    return committed;
}

void AtomicFileWriter::cancel()
{
    if (!m_file.isOpen())
        return;
    m_nativeHandle = -1;
    // After cancelWriting(), commit() removes the temporary file instead of renaming it.
    m_file.cancelWriting();
    m_file.commit();
    m_leftoverRecord.reset();
}

QString AtomicFileWriter::errorString() const
{
    return m_error.isEmpty() ? m_file.errorString() : m_error;
}

bool isReadOnlyFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    // Not WriteUser: that says whether this process may write, and root always may.
    constexpr auto writeBits =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return (info.permissions() & writeBits) == 0;
}

} // namespace virellock
