#include "leftover_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace virellock {

namespace {

const QByteArray kRecordHeader = "virellock leftover record 1";

// The system's name for one file, which another file under the same path does not share.
struct FileIdentity
{
    quint64 volume = 0;
    quint64 file = 0;
    bool operator==(const FileIdentity&) const = default;
};

struct Record
{
    qint64 processId = 0;
    FileIdentity identity;
    QString temporaryPath;
};

QByteArray serialise(const Record& record)
{
    return kRecordHeader + "\nprocess " + QByteArray::number(record.processId) + "\nvolume " +
           QByteArray::number(record.identity.volume) + "\nfile " +
           QByteArray::number(record.identity.file) + "\npath " + record.temporaryPath.toUtf8() +
           '\n';
}

std::optional<Record> parse(const QByteArray& bytes)
{
    const QList<QByteArray> lines = bytes.split('\n');
    if (lines.size() != 6 || lines[0] != kRecordHeader || !lines[5].isEmpty())
        return std::nullopt;
    const auto value = [&lines](int index, const char* key) -> std::optional<QByteArray> {
        const QByteArray prefix = QByteArray(key) + ' ';
        if (!lines[index].startsWith(prefix))
            return std::nullopt;
        return lines[index].mid(prefix.size());
    };
    const auto process = value(1, "process"), volume = value(2, "volume"), file = value(3, "file"),
               path = value(4, "path");
    if (!process || !volume || !file || !path || path->isEmpty())
        return std::nullopt;
    bool ok[3] = {};
    Record record;
    record.processId = process->toLongLong(&ok[0]);
    record.identity = {volume->toULongLong(&ok[1]), file->toULongLong(&ok[2])};
    record.temporaryPath = QString::fromUtf8(*path);
    if (!ok[0] || !ok[1] || !ok[2])
        return std::nullopt;
    return record;
}

// What became of a recorded file when its removal was tried.
enum class Removal
{
    Removed,
    Gone,    // no such file: nothing to do
    NotOurs, // another file carries the name now: left alone
    Retry,   // in use, or out of reach for now: the record stays
};

#ifdef Q_OS_WIN

std::optional<FileIdentity> identityOf(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information))
        return std::nullopt;
    return FileIdentity{information.dwVolumeSerialNumber,
                        (quint64(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}

std::optional<QString> pathOf(HANDLE file)
{
    wchar_t buffer[32768];
    const DWORD length = GetFinalPathNameByHandleW(file, buffer, DWORD(std::size(buffer)),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= std::size(buffer))
        return std::nullopt;
    QString path = QString::fromWCharArray(buffer, int(length));
    if (path.startsWith(QLatin1String("\\\\?\\UNC\\")))
        path = QLatin1String("\\\\") + path.mid(8);
    else if (path.startsWith(QLatin1String("\\\\?\\")))
        path = path.mid(4);
    return path;
}

bool processIsRunning(qint64 processId)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(processId));
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

Removal wipeAndRemove(const Record& record)
{
    // Opened without sharing: a process that still writes it keeps it, and no one else can
    // open it while it is overwritten and deleted through this handle.
    HANDLE file = CreateFileW(
        reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(record.temporaryPath).utf16()),
        GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? Removal::Gone : Removal::Retry;
    }
    Removal result = Removal::Retry;
    LARGE_INTEGER size;
    if (identityOf(file) != record.identity) {
        result = Removal::NotOurs;
    } else if (GetFileSizeEx(file, &size)) {
        static const QByteArray zeros(1 << 20, '\0');
        bool wiped = true;
        for (qint64 left = size.QuadPart; wiped && left > 0;) {
            DWORD written = 0;
            const DWORD piece = DWORD(std::min<qint64>(left, zeros.size()));
            wiped =
                WriteFile(file, zeros.constData(), piece, &written, nullptr) && written == piece;
            left -= written;
        }
        FILE_DISPOSITION_INFO disposition{TRUE};
        if (wiped && FlushFileBuffers(file) &&
            SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition))
            result = Removal::Removed;
    }
    CloseHandle(file);
    return result;
}

#else

std::optional<FileIdentity> identityOf(int descriptor)
{
    struct stat status;
    if (::fstat(descriptor, &status) != 0)
        return std::nullopt;
    return FileIdentity{quint64(status.st_dev), quint64(status.st_ino)};
}

std::optional<QString> pathOf(int descriptor)
{
    // A file made with O_TMPFILE has no name until it is committed, and nothing to leave.
    const QString link = QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(descriptor));
    if (link.isEmpty() || link.endsWith(QLatin1String(" (deleted)")))
        return std::nullopt;
    return link;
}

bool processIsRunning(qint64 processId)
{
    return ::kill(pid_t(processId), 0) == 0 || errno == EPERM;
}

Removal wipeAndRemove(const Record& record)
{
    const QByteArray path = QFile::encodeName(record.temporaryPath);
    const int descriptor = ::open(path.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        return errno == ENOENT ? Removal::Gone : errno == ELOOP ? Removal::NotOurs : Removal::Retry;
    Removal result = Removal::Retry;
    struct stat status;
    if (identityOf(descriptor) != record.identity) {
        result = Removal::NotOurs;
    } else if (::fstat(descriptor, &status) == 0) {
        static const QByteArray zeros(1 << 20, '\0');
        bool wiped = true;
        for (qint64 offset = 0; wiped && offset < status.st_size;) {
            const auto piece = std::size_t(std::min<qint64>(status.st_size - offset, zeros.size()));
            const ssize_t written = ::pwrite(descriptor, zeros.constData(), piece, offset);
            wiped = written > 0 || (written < 0 && errno == EINTR);
            offset += std::max<ssize_t>(written, 0);
        }
        if (wiped && ::fsync(descriptor) == 0 && ::unlink(path.constData()) == 0)
            result = Removal::Removed;
    }
    ::close(descriptor);
    return result;
}

#endif

} // namespace

QString leftoverRecordFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/virellock/pending");
}

namespace {

bool storeRecord(const Record& record, QString* recordPath)
{
    const QString folder = leftoverRecordFolder();
    if (!QDir().mkpath(folder))
        return false;
    const QString path =
        folder + QStringLiteral("/%1-%2.record")
                     .arg(record.processId)
                     .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
    // Written whole before the rewrite writes anything, so that a kill leaves either no record
    // or a complete one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(serialise(record)) < 0 || !file.commit())
        return false;
    if (recordPath)
        *recordPath = path;
    return true;
}

} // namespace

namespace detail {

bool writeLeftoverRecord(const QString& temporaryPath, qint64 processId)
{
    Record record;
    record.processId = processId;
    record.temporaryPath = temporaryPath;
#ifdef Q_OS_WIN
    HANDLE file = CreateFileW(
        reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(temporaryPath).utf16()), 0,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const std::optional<FileIdentity> identity = identityOf(file);
    CloseHandle(file);
#else
    const int descriptor =
        ::open(QFile::encodeName(temporaryPath).constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    const std::optional<FileIdentity> identity = identityOf(descriptor);
    ::close(descriptor);
#endif
    if (!identity)
        return false;
    record.identity = *identity;
    return storeRecord(record, nullptr);
}

} // namespace detail

std::optional<LeftoverRecord> LeftoverRecord::forOpenFile(qintptr nativeHandle)
{
#ifdef Q_OS_WIN
    const auto handle = reinterpret_cast<HANDLE>(nativeHandle);
#else
    const int handle = int(nativeHandle);
#endif
    const std::optional<QString> path = pathOf(handle);
    const std::optional<FileIdentity> identity = identityOf(handle);
    if (!path || !identity)
        return std::nullopt;
    Record record{QCoreApplication::applicationPid(), *identity, QDir::fromNativeSeparators(*path)};
    QString recordPath;
    if (!storeRecord(record, &recordPath))
        return std::nullopt;
    return LeftoverRecord(recordPath, record.temporaryPath);
}

std::optional<LeftoverRecord> LeftoverRecord::create(const QString& targetPath,
                                                     const QString& temporaryPath,
                                                     qintptr nativeHandle, qint64 maxSize)
{
    Q_UNUSED(targetPath);
    Q_UNUSED(maxSize);
#ifdef Q_OS_WIN
    const auto handle = reinterpret_cast<HANDLE>(nativeHandle);
#else
    const int handle = int(nativeHandle);
#endif
    const std::optional<FileIdentity> identity = identityOf(handle);
    if (!identity)
        return std::nullopt;
    Record record{QCoreApplication::applicationPid(), *identity, temporaryPath};
    QString recordPath;
    if (!storeRecord(record, &recordPath))
        return std::nullopt;
    return LeftoverRecord(recordPath, record.temporaryPath);
}

LeftoverRecord::LeftoverRecord(QString recordPath, QString temporaryPath)
    : m_recordPath(std::move(recordPath)), m_temporaryPath(std::move(temporaryPath))
{}

LeftoverRecord::LeftoverRecord(LeftoverRecord&& other) noexcept
    : m_recordPath(std::exchange(other.m_recordPath, {})),
      m_temporaryPath(std::exchange(other.m_temporaryPath, {}))
{}

LeftoverRecord& LeftoverRecord::operator=(LeftoverRecord&& other) noexcept
{
    if (this != &other) {
        if (!m_recordPath.isEmpty())
            QFile::remove(m_recordPath);
        m_recordPath = std::exchange(other.m_recordPath, {});
        m_temporaryPath = std::exchange(other.m_temporaryPath, {});
    }
    return *this;
}

LeftoverRecord::~LeftoverRecord()
{
    if (!m_recordPath.isEmpty())
        QFile::remove(m_recordPath);
}

QStringList removeLeftoverFiles()
{
    QStringList removed;
    const QDir folder(leftoverRecordFolder());
    const qint64 self = QCoreApplication::applicationPid();
    // Filtered by hand, not by a name filter: QDir matches those with QRegularExpression, whose
    // per-thread JIT stack has a thread_local destructor. In the static MinGW build, such a
    // destructor registered on a pool thread made the process hang at exit, in winpthreads'
    // pthread_key_delete (seen under Wine). This runs on a pool thread at every start.
    for (const QFileInfo& entry : folder.entryInfoList(QDir::Files | QDir::Hidden)) {
        if (!entry.fileName().endsWith(QLatin1String(".record")))
            continue;
        QFile file(entry.filePath());
        const std::optional<Record> record =
            file.open(QIODevice::ReadOnly) ? parse(file.read(64 * 1024)) : std::nullopt;
        file.close();
        if (!record) {
            // Not a record this program wrote whole: a kill can leave only its temporary file,
            // which QSaveFile names differently.
            QFile::remove(entry.filePath());
            continue;
        }
        if (record->processId == self || processIsRunning(record->processId))
            continue;
        switch (wipeAndRemove(*record)) {
        case Removal::Removed:
            removed << record->temporaryPath;
            QFile::remove(entry.filePath());
            break;
        case Removal::Gone:
            // A folder that is not there now (a removable disk) may come back with the file.
            if (QFileInfo(record->temporaryPath).dir().exists())
                QFile::remove(entry.filePath());
            break;
        case Removal::NotOurs:
            QFile::remove(entry.filePath());
            break;
        case Removal::Retry:
            break;
        }
    }
    return removed;
}

} // namespace virellock
