// The rewrite on Windows. The temporary file is named beside the file (temporaryPathFor()) and
// recorded before a byte is written, so that a killed run leaves nothing the next start does
// not remove. ReplaceFileW puts it in the file's place and gives it what made the file that
// file: its access list, owner, attributes, creation time, short name, object id and named
// streams. Another program that holds the file for a moment is waited for (win32_retry.h).

#include "atomic_file_writer.h"
#include "host/host_services/folder_room.h"
#include "host/host_services/handle_device.h"
#include "host/host_services/leftover_files.h"
#include "host/host_services/owned_handle.h"
#include "host/host_services/temporary_name.h"
#include "host/host_services/win32_long_path.h"
#include "host/host_services/win32_retry.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#include <io.h>
#include <memory>
#include <windows.h>

namespace virellock {

namespace {

Q_LOGGING_CATEGORY(lcRewrite, "virellock.rewrite")

// Tries at a free random name before giving up: a clash is one in 56 billion.
constexpr int kNameAttempts = 16;
// What ReplaceFileW keeps of the file and an explicit copy has to carry over itself.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

QString systemError(const QString& what, DWORD error)
{
    return what + QStringLiteral(" (") + qt_error_string(int(error)) + u')';
}

// The path the Qt way, from one the system gave with \\?\ before it.
QString fromLongPath(const wchar_t* path, DWORD length)
{
    QString text = QString::fromWCharArray(path, int(length));
    if (text.startsWith(QLatin1String("\\\\?\\UNC\\")))
        text = QLatin1String("\\\\") + text.mid(8);
    else if (text.startsWith(QLatin1String("\\\\?\\")))
        text = text.mid(4);
    return QDir::fromNativeSeparators(text);
}

// Opened to look at, never to read or write: full sharing, so that no holder stands in the way,
// and a link or a folder is opened as what it is.
OwnedHandle openToLookAt(const QString& path)
{
    return OwnedHandle(
        CreateFileW(longPath(path).c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

struct Identity
{
    DWORD volume = 0;
    quint64 file = 0;

    static Identity of(const BY_HANDLE_FILE_INFORMATION& information)
    {
        return {information.dwVolumeSerialNumber,
                (quint64(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
    }
    bool operator==(const Identity&) const = default;
};

// The path names this file only while it stays the same: the same file, size and
// modification time, and the same change time and attributes, which a new access list or
// attribute moves.
struct FileSnapshot
{
    Identity identity;
    qint64 size = 0;
    qint64 modified = 0;
    qint64 changed = 0;
    DWORD attributes = 0;

    static std::optional<FileSnapshot> of(HANDLE file)
    {
        BY_HANDLE_FILE_INFORMATION information;
        FILE_BASIC_INFO basic;
        if (!GetFileInformationByHandle(file, &information) ||
            !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
            return std::nullopt;
        return FileSnapshot{
            Identity::of(information),
            qint64((quint64(information.nFileSizeHigh) << 32) | information.nFileSizeLow),
            basic.LastWriteTime.QuadPart, basic.ChangeTime.QuadPart, information.dwFileAttributes};
    }
    bool operator==(const FileSnapshot&) const = default;
};

// Where the rewrite lands: the file a link leads to, or the path itself.
std::optional<QString> targetOf(const QString& path, DWORD* error)
{
    const std::wstring name = longPath(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return QFileInfo(path).absoluteFilePath();
    const OwnedHandle followed(CreateFileW(
        name.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::wstring buffer(32768, L'\0');
    const DWORD length = followed.isValid()
                             ? GetFinalPathNameByHandleW(followed.get(), buffer.data(),
                                                         DWORD(buffer.size()), FILE_NAME_NORMALIZED)
                             : 0;
    if (length == 0 || length >= buffer.size()) {
        *error = followed.isValid() ? GetLastError() : DWORD(ERROR_CANT_RESOLVE_FILENAME);
        return std::nullopt;
    }
    return fromLongPath(buffer.data(), length);
}

FolderRoom systemRoom(const QString& folder)
{
    FolderRoom room;
    const std::wstring name = longPath(folder) + L'\\';
    ULARGE_INTEGER available;
    if (GetDiskFreeSpaceExW(name.c_str(), &available, nullptr, nullptr))
        room.freeBytes = qint64(available.QuadPart);
    const OwnedHandle opened(CreateFileW(
        name.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    wchar_t system[MAX_PATH + 1] = {};
    // FAT12, FAT16 and FAT32 keep a file's size in 32 bits; exFAT does not.
    if (opened.isValid() &&
        GetVolumeInformationByHandleW(opened.get(), nullptr, 0, nullptr, nullptr, nullptr, system,
                                      MAX_PATH + 1) &&
        QString::fromWCharArray(system).startsWith(QLatin1String("FAT"), Qt::CaseInsensitive))
        room.largestFile = kFatLargestFile;
    return room;
}

// ReplaceFileW is refused on some volumes (network shares among them) that still rename.
bool replaceUnsupported(DWORD error)
{
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
           error == ERROR_INVALID_FUNCTION;
}

// Why ReplaceFileW could not remove the file: another program holds it (sharing), or this
// user may not delete it. Asked by opening it as ReplaceFileW does.
FailureReason heldReason(const std::wstring& target, DWORD otherwise)
{
    const OwnedHandle probe(CreateFileW(target.c_str(), GENERIC_READ | DELETE | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    if (!probe.isValid() && GetLastError() == ERROR_ACCESS_DENIED)
        return FailureReason::AccessDenied;
    return otherwise == ERROR_ACCESS_DENIED ? FailureReason::AccessDenied
                                            : FailureReason::FileInUse;
}

} // namespace

struct AtomicFileWriter::Rewrite
{
    QString path;

    // Set by open():
    // The full path of the file that is rewritten, links followed.
    QString targetPath;
    // Nothing when there was no file yet.
    std::optional<FileSnapshot> original;
    QString temporaryPath;
    Identity temporaryIdentity;
    // Writes; the only handle that asks to delete the file, so that the reader's sharing can
    // allow it.
    OwnedHandle temporary;
    // Reads back, from any thread: its file position is its own.
    OwnedHandle reader;
    std::optional<LeftoverRecord> record;
    HandleDevice device;

    QString error;
    FailureCause cause;
    QString warning;
    std::function<void()> beforeReplace;

    bool failSystem(const QString& what, DWORD code)
    {
        return fail(reasonOfWin32Error(code), systemError(what, code));
    }

    bool fail(FailureCause why, const QString& text)
    {
        cause = why;
        error = text;
        discard();
        return false;
    }

    // Removes the temporary file and its record: through the writing handle while it is open,
    // else by its name, only while that still names the file this made.
    void discard()
    {
        device.close();
        reader.close();
        if (temporary.isValid()) {
            FILE_DISPOSITION_INFO disposition{TRUE};
            SetFileInformationByHandle(temporary.get(), FileDispositionInfo, &disposition,
                                       sizeof disposition);
            temporary.close();
        } else if (!temporaryPath.isEmpty()) {
            const OwnedHandle named(
                CreateFileW(longPath(temporaryPath).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            BY_HANDLE_FILE_INFORMATION information;
            FILE_DISPOSITION_INFO disposition{TRUE};
            if (named.isValid() && GetFileInformationByHandle(named.get(), &information) &&
                Identity::of(information) == temporaryIdentity)
                SetFileInformationByHandle(named.get(), FileDispositionInfo, &disposition,
                                           sizeof disposition);
        }
        temporaryPath.clear();
        record.reset();
    }

    // After a replace that went wrong halfway: the file is gone and the temporary file holds
    // the only copy of its new content. It stays, without a record that would have it wiped.
    bool failKeepingTemporary(DWORD code)
    {
        cause = reasonOfWin32Error(code);
        error = systemError(QStringLiteral("the file was replaced only in part: its new content "
                                           "is kept as %1")
                                .arg(QDir::toNativeSeparators(temporaryPath)),
                            code);
        temporaryPath.clear();
        record.reset();
        return false;
    }

    bool takeOriginal(const QFileDevice* readFrom);
    bool makeTemporary(qint64 maxSize);
    bool giveAttributes();
    bool stillTheFile() const;
    bool replace();
    bool copyAccessAndMove();
};

// Notes what the path names now: the file to keep, or none.
bool AtomicFileWriter::Rewrite::takeOriginal(const QFileDevice* readFrom)
{
    const OwnedHandle file = openToLookAt(targetPath);
    if (!file.isValid()) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND)
            return failSystem(QStringLiteral("the file cannot be opened"), code);
        if (readFrom)
            return fail(FailureReason::FileChanged,
                        QStringLiteral("the file that was read is gone"));
        return true;
    }
    const std::optional<FileSnapshot> now = FileSnapshot::of(file.get());
    if (!now)
        return failSystem(QStringLiteral("the file cannot be looked at"), GetLastError());
    if (now->attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return fail(FailureReason::FileChanged,
                    QStringLiteral("a symbolic link took the file's place"));
    if ((now->attributes & FILE_ATTRIBUTE_DIRECTORY) || GetFileType(file.get()) != FILE_TYPE_DISK)
        return fail(FailureReason::NotRegularFile, QStringLiteral("not a regular file"));
    if (now->attributes & FILE_ATTRIBUTE_READONLY)
        return fail(FailureReason::ReadOnly, QStringLiteral("the file is read-only"));
    if (readFrom) {
        const int descriptor = readFrom->handle();
        const HANDLE read = descriptor < 0 ? INVALID_HANDLE_VALUE
                                           : reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor));
        BY_HANDLE_FILE_INFORMATION information;
        if (read == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(read, &information) ||
            Identity::of(information) != now->identity)
            return fail(FailureReason::FileChanged,
                        QStringLiteral("the path no longer names the file that was read"));
    }
    original = now;
    return true;
}

bool AtomicFileWriter::Rewrite::makeTemporary(qint64 maxSize)
{
    DWORD code = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < kNameAttempts && code == ERROR_FILE_EXISTS; ++attempt) {
        const QString candidate = temporaryPathFor(targetPath);
        const std::wstring name = longPath(candidate);
        // Read sharing only, for the reader below: no other program writes it, renames it
        // or deletes it while it is made.
        code = retryWhileHeld([&] {
            temporary = OwnedHandle(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                                FILE_SHARE_READ, nullptr, CREATE_NEW,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
            return temporary.isValid() ? DWORD(ERROR_SUCCESS) : GetLastError();
        });
        if (code == ERROR_SUCCESS)
            temporaryPath = candidate;
    }
    if (code != ERROR_SUCCESS)
        return failSystem(QStringLiteral("the temporary file cannot be made"), code);
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(temporary.get(), &information))
        return failSystem(QStringLiteral("the temporary file cannot be looked at"), GetLastError());
    temporaryIdentity = Identity::of(information);
    // Before a byte of content is in it.
    record = LeftoverRecord::create(targetPath, temporaryPath,
                                    reinterpret_cast<qintptr>(temporary.get()), maxSize);

    reader =
        OwnedHandle(CreateFileW(longPath(temporaryPath).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!reader.isValid())
        return failSystem(QStringLiteral("the temporary file cannot be opened to read it back"),
                          GetLastError());
    if (!GetFileInformationByHandle(reader.get(), &information) ||
        Identity::of(information) != temporaryIdentity)
        return fail(FailureReason::FileChanged,
                    QStringLiteral("another file took the temporary file's name"));
    return true;
}

// The file's attributes on the new content, through the handle that wrote it. ReplaceFileW
// would carry them over as well, but not every implementation of it does, nor the rename that
// stands in for it.
bool AtomicFileWriter::Rewrite::giveAttributes()
{
    if (!original || (original->attributes & kKeptAttributes) == 0)
        return true;
    // Zero times are left as they are.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = original->attributes & kKeptAttributes;
    if (!SetFileInformationByHandle(temporary.get(), FileBasicInfo, &basic, sizeof basic))
        return fail(FailureReason::PermissionsNotKept,
                    systemError(QStringLiteral("the file's attributes cannot be carried over"),
                                GetLastError()));
    return true;
}

bool AtomicFileWriter::Rewrite::stillTheFile() const
{
    const OwnedHandle file = openToLookAt(targetPath);
    if (!file.isValid())
        return !original && GetLastError() == ERROR_FILE_NOT_FOUND;
    return original && FileSnapshot::of(file.get()) == original;
}

// The explicit copy where ReplaceFileW is refused: the file's access list on the temporary
// file (its attributes are there already), then a rename over the file. An access list that cannot
// be copied refuses the rewrite: the new file would let others read what the old one kept from
// them.
bool AtomicFileWriter::Rewrite::copyAccessAndMove()
{
    const std::wstring target = longPath(targetPath);
    const std::wstring replacement = longPath(temporaryPath);
    DWORD size = 0;
    GetFileSecurityW(target.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    QByteArray descriptor(qsizetype(size), '\0');
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (size == 0 ||
        !GetFileSecurityW(target.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), size,
                          &size) ||
        !GetSecurityDescriptorControl(descriptor.data(), &control, &revision))
        return fail(
            FailureReason::PermissionsNotKept,
            systemError(QStringLiteral("the file's access list cannot be read"), GetLastError()));
    // Inherited entries stay inherited, and a list that takes none from its folder takes none.
    const SECURITY_INFORMATION which =
        DACL_SECURITY_INFORMATION |
        ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                       : UNPROTECTED_DACL_SECURITY_INFORMATION);
    if (!SetFileSecurityW(replacement.c_str(), which, descriptor.data()))
        return fail(FailureReason::PermissionsNotKept,
                    systemError(QStringLiteral("the file's access list cannot be carried over"),
                                GetLastError()));
    const DWORD code = retryWhileHeld([&] {
        return MoveFileExW(replacement.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                   ? DWORD(ERROR_SUCCESS)
                   : GetLastError();
    });
    if (code != ERROR_SUCCESS)
        return failSystem(QStringLiteral("the temporary file cannot replace the file"), code);
    return true;
}

bool AtomicFileWriter::Rewrite::replace()
{
    const std::wstring target = longPath(targetPath);
    const std::wstring replacement = longPath(temporaryPath);
    if (!original) {
        // A new file takes the name only while no other file has it.
        const DWORD code = retryWhileHeld([&] {
            return MoveFileExW(replacement.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)
                       ? DWORD(ERROR_SUCCESS)
                       : GetLastError();
        });
        if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS)
            return fail(FailureReason::FileChanged,
                        QStringLiteral("another file took the name meanwhile"));
        if (code != ERROR_SUCCESS)
            return failSystem(QStringLiteral("the temporary file cannot be named as the file"),
                              code);
        return true;
    }
    // A program that holds the file without delete sharing makes ReplaceFileW fail with
    // ERROR_UNABLE_TO_REMOVE_REPLACED ("the replaced file could not be deleted": both files keep
    // their names) or with a sharing violation before it changed anything: it is tried again.
    DWORD replaceError = ERROR_SUCCESS;
    const DWORD code = retryWhileHeld([&] {
        // Opened first as ReplaceFileW opens it: a holder is found without a failed
        // ReplaceFileW, which on some systems (Wine) leaves a file of its own behind.
        if (!OwnedHandle(CreateFileW(target.c_str(), GENERIC_READ | DELETE | SYNCHRONIZE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr))
                 .isValid())
            return replaceError = GetLastError();
        if (ReplaceFileW(target.c_str(), replacement.c_str(), nullptr,
                         REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
            return replaceError = ERROR_SUCCESS;
        replaceError = GetLastError();
        return replaceError == ERROR_UNABLE_TO_REMOVE_REPLACED ? DWORD(ERROR_SHARING_VIOLATION)
                                                               : replaceError;
    });
    switch (replaceError) {
    case ERROR_SUCCESS:
        return true;
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
        return fail(heldReason(target, code),
                    systemError(QStringLiteral("the file cannot be replaced"), replaceError));
    // Either way the new content is still under the temporary name, and nothing has the
    // file's name. ERROR_UNABLE_TO_MOVE_REPLACEMENT, without a backup name: the file was
    // deleted. ERROR_UNABLE_TO_MOVE_REPLACEMENT_2: the file was renamed away, and the new
    // content took its attributes and streams. A rename finishes the rewrite; failing that,
    // the temporary file stays, the only copy of the file's content there now is.
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2: {
        const DWORD moved = retryWhileHeld([&] {
            return MoveFileExW(replacement.c_str(), target.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                       ? DWORD(ERROR_SUCCESS)
                       : GetLastError();
        });
        if (moved != ERROR_SUCCESS)
            return failKeepingTemporary(moved);
        qCWarning(lcRewrite).noquote()
            << targetPath << "replaced by a rename after" << qt_error_string(int(replaceError));
        return true;
    }
    case ERROR_FILE_NOT_FOUND:
        return fail(FailureReason::FileChanged, QStringLiteral("the file is gone"));
    default:
        if (replaceUnsupported(replaceError))
            return copyAccessAndMove();
        return failSystem(QStringLiteral("the temporary file cannot replace the file"),
                          replaceError);
    }
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
    rewrite.original.reset();

    DWORD code = ERROR_SUCCESS;
    const std::optional<QString> target = targetOf(rewrite.path, &code);
    if (!target)
        return rewrite.failSystem(QStringLiteral("the path cannot be followed"), code);
    rewrite.targetPath = *target;
    if (!rewrite.takeOriginal(readFrom))
        return false;

    const QString folder = QFileInfo(rewrite.targetPath).absolutePath();
    const FolderRoom room = detail::folderRoomForTests(folder).value_or(systemRoom(folder));
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

    if (!rewrite.makeTemporary(maxSize))
        return false;
    if (!rewrite.device.open(rewrite.temporary.get(), QIODevice::ReadWrite))
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
    if (!m_rewrite->reader.isValid() || offset < 0 || size < 0)
        return false;
    return readAtOffset(m_rewrite->reader.get(), offset, data, size);
}

void AtomicFileWriter::startWriteBack(qint64, qint64) {}

qint64 AtomicFileWriter::systemSize() const
{
    LARGE_INTEGER size;
    if (!m_rewrite->temporary.isValid() || !GetFileSizeEx(m_rewrite->temporary.get(), &size))
        return -1;
    return qint64(size.QuadPart);
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
    if (!FlushFileBuffers(rewrite.temporary.get())) {
        const DWORD code = GetLastError();
        const FailureReason reason = reasonOfWin32Error(code);
        return rewrite.fail(
            reason == FailureReason::None ? FailureReason::DiskError : reason,
            systemError(QStringLiteral("the temporary file cannot be flushed to the disk"), code));
    }
    if (rewrite.beforeReplace)
        rewrite.beforeReplace();
    if (!rewrite.stillTheFile())
        return rewrite.fail(FailureReason::FileChanged,
                            QStringLiteral("the path no longer names the file as it was read"));
    if (!rewrite.giveAttributes())
        return false;
    // ReplaceFileW opens the temporary file without sharing: no handle of this may stay.
    rewrite.device.close();
    rewrite.reader.close();
    rewrite.temporary.close();
    if (!rewrite.replace())
        return false;
    // The temporary file is the file now: nothing of it is left to remove.
    rewrite.temporaryPath.clear();
    rewrite.record.reset();
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
    return reasonOfWin32Error(m_rewrite->device.lastError());
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
