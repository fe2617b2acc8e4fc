#include "file_services.h"

#include "atomic_file_writer.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_WIN
#include "win32_long_path.h"

#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace virellock {

std::optional<QByteArray> ReadWholeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return content;
}

bool WriteWholeFile(const QString& path, QByteArrayView bytes)
{
    AtomicFileWriter writer(path);
    if (!writer.open(bytes.size()) ||
        writer.device().write(bytes.data(), bytes.size()) != bytes.size())
        return false;
    qsizetype checked = 0;
    const bool same = writer.readBack([&](QByteArrayView piece) {
        if (piece != bytes.sliced(checked, std::min(piece.size(), bytes.size() - checked)))
            return false;
        checked += piece.size();
        return true;
    });
    return same && checked == bytes.size() && writer.commit();
}

int hardLinkCount(const QString& path)
{
#ifdef Q_OS_WIN
    HANDLE file = CreateFileW(longPath(path).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION information;
    const bool known = GetFileInformationByHandle(file, &information);
    CloseHandle(file);
    return known ? int(information.nNumberOfLinks) : 0;
#else
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return 0;
    return int(status.st_nlink);
#endif
}

std::optional<FileSystemIdentity> fileIdentity(const QString& path)
{
#ifdef Q_OS_WIN
    // No access asked: a file another program holds without sharing still answers.
    HANDLE file = CreateFileW(longPath(path).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information;
    const bool known = GetFileInformationByHandle(file, &information);
    CloseHandle(file);
    if (!known)
        return std::nullopt;
    return FileSystemIdentity{information.dwVolumeSerialNumber,
                              (quint64(information.nFileIndexHigh) << 32) |
                                  information.nFileIndexLow};
#else
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return FileSystemIdentity{quint64(status.st_dev), quint64(status.st_ino)};
#endif
}

} // namespace virellock
