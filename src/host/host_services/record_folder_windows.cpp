#include "leftover_files.h"
#include "leftover_record_text.h"
#include "record_folder.h"
#include "win32_file_checks.h"

#include <QDir>
#include <QLoggingCategory>

#include <windows.h>

Q_LOGGING_CATEGORY(lcLeftoverRecords, "virellock.leftovers")

namespace virellock {

namespace {

// Far more than any record holds.
constexpr DWORD kMaxRecordSize = 64 * 1024;

bool isPlainFile(const BY_HANDLE_FILE_INFORMATION& information)
{
    return (information.dwFileAttributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

} // namespace

RecordFolder::RecordFolder(QString path, OwnedHandle handle)
    : m_path(std::move(path)), m_handle(std::move(handle))
{}

std::optional<RecordFolder> RecordFolder::open(Opening opening)
{
    const QString path = leftoverRecordFolder();
    if (opening == Opening::CreateIfMissing && !QDir().mkpath(path)) {
        qCWarning(lcLeftoverRecords).noquote() << "cannot make" << path;
        return std::nullopt;
    }
    const OwnedHandle folder(
        CreateFileW(win32Path(path).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder.isValid()) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            qCWarning(lcLeftoverRecords).noquote() << "cannot open" << path << "error" << error;
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(folder.get(), &information))
        return std::nullopt;
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        qCWarning(lcLeftoverRecords).noquote() << path << "is not a folder and is not used";
        return std::nullopt;
    }
    if (!isOwnedByCurrentUser(folder.get())) {
        qCWarning(lcLeftoverRecords).noquote() << path << "belongs to another user and is not used";
        return std::nullopt;
    }
    return RecordFolder(path, OwnedHandle());
}

QStringList RecordFolder::entryNames() const
{
    return QDir(m_path).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

std::optional<QByteArray> RecordFolder::readRecord(const QString& name) const
{
    const OwnedHandle file(CreateFileW(win32Path(m_path + u'/' + name).c_str(),
                                       GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    if (!file.isValid() || !GetFileInformationByHandle(file.get(), &information))
        return std::nullopt;
    if (!isPlainFile(information) || information.nNumberOfLinks != 1 ||
        information.nFileSizeHigh != 0 || information.nFileSizeLow > kMaxRecordSize ||
        !isOwnedByCurrentUser(file.get()))
        return std::nullopt;
    QByteArray content(qsizetype(information.nFileSizeLow), Qt::Uninitialized);
    DWORD done = 0;
    while (done < information.nFileSizeLow) {
        DWORD read = 0;
        if (!ReadFile(file.get(), content.data() + done, information.nFileSizeLow - done, &read,
                      nullptr))
            return std::nullopt;
        if (read == 0)
            break;
        done += read;
    }
    content.truncate(qsizetype(done));
    return content;
}

bool RecordFolder::writeRecord(const QString& name, const QByteArray& content) const
{
    const std::wstring finalPath = win32Path(m_path + u'/' + name);
    const std::wstring partialPath = win32Path(m_path + u'/' + partialRecordName(name));
    OwnedHandle file(CreateFileW(partialPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.isValid())
        return false;
    DWORD written = 0;
    bool stored =
        WriteFile(file.get(), content.constData(), DWORD(content.size()), &written, nullptr) &&
        written == DWORD(content.size()) && FlushFileBuffers(file.get());
    file.close();
    stored = stored && MoveFileExW(partialPath.c_str(), finalPath.c_str(), MOVEFILE_WRITE_THROUGH);
    if (!stored)
        DeleteFileW(partialPath.c_str());
    return stored;
}

bool RecordFolder::remove(const QString& name) const
{
    return DeleteFileW(win32Path(m_path + u'/' + name).c_str());
}

} // namespace virellock
