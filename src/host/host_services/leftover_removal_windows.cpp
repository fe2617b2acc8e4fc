#include "leftover_removal.h"
#include "owned_handle.h"
#include "win32_file_checks.h"

#include <QByteArray>

#include <windows.h>

namespace virellock {

namespace {

FileIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& information)
{
    return FileIdentity{information.dwVolumeSerialNumber,
                        (quint64(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}

qint64 sizeOf(const BY_HANDLE_FILE_INFORMATION& information)
{
    return qint64((quint64(information.nFileSizeHigh) << 32) | information.nFileSizeLow);
}

// The file the record names and one this user may remove: the user's own file, not a link or
// a folder, with no other name (another name would be a file someone still uses), and no
// bigger than the rewrite could have made it. File ids are reused, so the identity alone
// proves nothing.
bool isRecordedFile(HANDLE file, const BY_HANDLE_FILE_INFORMATION& information,
                    const LeftoverFields& record)
{
    return (information.dwFileAttributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
           information.nNumberOfLinks == 1 && identityOf(information) == record.identity &&
           sizeOf(information) <= record.maxSize && isOwnedByCurrentUser(file);
}

bool fillWithZeros(HANDLE file, qint64 size)
{
    static const QByteArray zeros(1 << 20, '\0');
    for (qint64 left = size; left > 0;) {
        DWORD written = 0;
        const DWORD piece = DWORD(std::min<qint64>(left, zeros.size()));
        if (!WriteFile(file, zeros.constData(), piece, &written, nullptr) || written != piece)
            return false;
        left -= written;
    }
    return FlushFileBuffers(file);
}

} // namespace

std::optional<FileIdentity> identityOfOpenFile(qintptr nativeHandle, const QString& path)
{
    // The writer's file is never without a name here, and open without sharing: path cannot
    // be opened to compare.
    Q_UNUSED(path);
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(nativeHandle), &information))
        return std::nullopt;
    return identityOf(information);
}

std::optional<FileIdentity> identityOfFile(const QString& path)
{
    const OwnedHandle file(CreateFileW(
        win32Path(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    if (!file.isValid() || !GetFileInformationByHandle(file.get(), &information))
        return std::nullopt;
    return identityOf(information);
}

bool processIsRunning(qint64 processId)
{
    const OwnedHandle process(OpenProcess(SYNCHRONIZE, FALSE, DWORD(processId)));
    if (!process.isValid())
        return GetLastError() == ERROR_ACCESS_DENIED;
    return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

Removal wipeAndRemove(const LeftoverFields& record)
{
    // Opened without sharing and without following a reparse point: a process that still
    // writes it keeps it, and no one else can open it, rename it or give it another name
    // while it is checked, overwritten and deleted through this handle.
    const OwnedHandle file(
        CreateFileW(win32Path(record.temporaryPath).c_str(),
                    GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.isValid())
        return GetLastError() == ERROR_FILE_NOT_FOUND ? Removal::Gone : Removal::Retry;
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file.get(), &information))
        return Removal::Retry;
    if (!isRecordedFile(file.get(), information, record))
        return Removal::NotOurs;
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!fillWithZeros(file.get(), sizeOf(information)) ||
        !SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                    sizeof disposition))
        return Removal::Retry;
    return Removal::Removed;
}

} // namespace virellock
