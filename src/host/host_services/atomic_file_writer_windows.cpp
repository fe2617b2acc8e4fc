// The rewrite on Windows, through QSaveFile: a named temporary file beside the file, renamed
// over it. What the POSIX side does beyond this (the file's access carried over, the path
// checked to still name the file that was read, a failure cause for every refusal) is still
// to come here; readFrom is not checked yet.

#include "atomic_file_writer.h"
#include "host/host_services/folder_room.h"
#include "host/host_services/leftover_files.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <io.h>
#include <windows.h>

namespace virellock {

namespace {

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

FolderRoom systemRoom(const QString& folder)
{
    FolderRoom room;
    ULARGE_INTEGER available;
    if (GetDiskFreeSpaceExW(
            reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(folder).utf16()), &available,
            nullptr, nullptr))
        room.freeBytes = qint64(available.QuadPart);
    return room;
}

} // namespace

struct AtomicFileWriter::Rewrite
{
    explicit Rewrite(const QString& path) : file(path)
    {
        // Never write in place, even where the folder forbids creating the temporary file.
        file.setDirectWriteFallback(false);
    }

    QSaveFile file;
    // Set where this class refuses on its own account; otherwise the file's error is used.
    QString error;
    FailureCause cause;
    // The temporary file's system handle, taken once on the writing thread: Qt makes the
    // C runtime's descriptor lazily, and two threads asking at once would race.
    qintptr nativeHandle = -1;
    // The record that lets a later start remove the named temporary file should this process
    // be killed before it is done.
    std::optional<LeftoverRecord> record;
    std::function<void()> beforeReplace;

    bool fail(FailureCause why, const QString& text)
    {
        cause = why;
        error = text;
        return false;
    }
};

AtomicFileWriter::AtomicFileWriter(const QString& path) : m_rewrite(std::make_unique<Rewrite>(path))
{}

AtomicFileWriter::~AtomicFileWriter()
{
    cancel();
}

bool AtomicFileWriter::open(qint64 maxSize, [[maybe_unused]] const QFileDevice* readFrom)
{
    Rewrite& rewrite = *m_rewrite;
    rewrite.error.clear();
    rewrite.cause = {};
    const QString path = rewrite.file.fileName();
    if (isReadOnlyFile(path))
        return rewrite.fail(FailureReason::ReadOnly, QStringLiteral("the file is read-only"));
    const QString folder = QFileInfo(path).absolutePath();
    const FolderRoom room = detail::folderRoomForTests(folder).value_or(systemRoom(folder));
    if (const FailureCause lacking = roomFor(maxSize, room); lacking.reason != FailureReason::None)
        return rewrite.fail(
            lacking, QStringLiteral("the new content may take %1 bytes, the disk has %2 free")
                         .arg(maxSize)
                         .arg(room.freeBytes));
    if (!rewrite.file.open(QIODevice::WriteOnly))
        return false;
    const int descriptor = rewrite.file.handle();
    rewrite.nativeHandle = descriptor < 0 ? -1 : qintptr(_get_osfhandle(descriptor));
    if (rewrite.nativeHandle == -1) {
        cancel();
        return false;
    }
    rewrite.record = LeftoverRecord::forOpenFile(rewrite.nativeHandle);
    return true;
}

QIODevice& AtomicFileWriter::device()
{
    return m_rewrite->file;
}

bool AtomicFileWriter::flush()
{
    return m_rewrite->file.flush();
}

bool AtomicFileWriter::readAt(qint64 offset, char* data, qint64 size) const
{
    if (m_rewrite->nativeHandle == -1 || offset < 0 || size < 0)
        return false;
    if (size == 0)
        return true;
    return readThroughMapping(reinterpret_cast<HANDLE>(m_rewrite->nativeHandle), offset, data,
                              size);
}

void AtomicFileWriter::startWriteBack(qint64, qint64) {}

qint64 AtomicFileWriter::systemSize() const
{
    if (m_rewrite->nativeHandle == -1)
        return -1;
    LARGE_INTEGER size;
    return GetFileSizeEx(reinterpret_cast<HANDLE>(m_rewrite->nativeHandle), &size)
               ? qint64(size.QuadPart)
               : -1;
}

bool AtomicFileWriter::commit()
{
    Rewrite& rewrite = *m_rewrite;
    if (!rewrite.file.isOpen() || !rewrite.file.flush())
        return false;
    if (const qint64 size = systemSize(); size != rewrite.file.pos())
        return rewrite.fail({}, QStringLiteral("the temporary file holds %1 bytes where %2 were "
                                               "written")
                                    .arg(size)
                                    .arg(rewrite.file.pos()));
    if (rewrite.beforeReplace)
        rewrite.beforeReplace();
    rewrite.nativeHandle = -1;
    const bool committed = rewrite.file.commit();
    rewrite.record.reset();
    return committed;
}

void AtomicFileWriter::cancel()
{
    Rewrite& rewrite = *m_rewrite;
    if (!rewrite.file.isOpen())
        return;
    rewrite.nativeHandle = -1;
    // After cancelWriting(), commit() removes the temporary file instead of renaming it.
    rewrite.file.cancelWriting();
    rewrite.file.commit();
    rewrite.record.reset();
}

QString AtomicFileWriter::errorString() const
{
    return m_rewrite->error.isEmpty() ? m_rewrite->file.errorString() : m_rewrite->error;
}

FailureCause AtomicFileWriter::failureCause() const
{
    return m_rewrite->cause;
}

QString AtomicFileWriter::warning() const
{
    return {};
}

void AtomicFileWriter::setBeforeReplace(std::function<void()> hook)
{
    m_rewrite->beforeReplace = std::move(hook);
}

} // namespace virellock
