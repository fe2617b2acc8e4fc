#include "leftover_files.h"

#include "leftover_record_text.h"
#include "leftover_removal.h"
#include "record_folder.h"
#include "temporary_name.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <limits>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace virellock {

namespace {

std::optional<QString> pathOfOpenFile(qintptr nativeHandle)
{
#ifdef Q_OS_WIN
    wchar_t buffer[32768];
    const DWORD length =
        GetFinalPathNameByHandleW(reinterpret_cast<HANDLE>(nativeHandle), buffer,
                                  DWORD(std::size(buffer)), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= std::size(buffer))
        return std::nullopt;
    QString path = QString::fromWCharArray(buffer, int(length));
    if (path.startsWith(QLatin1String("\\\\?\\UNC\\")))
        path = QLatin1String("\\\\") + path.mid(8);
    else if (path.startsWith(QLatin1String("\\\\?\\")))
        path = path.mid(4);
    return QDir::fromNativeSeparators(path);
#else
    // A file made with O_TMPFILE has no name until it is committed, and nothing to leave.
    const QString link = QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(nativeHandle));
    if (link.isEmpty() || link.endsWith(QLatin1String(" (deleted)")))
        return std::nullopt;
    return link;
#endif
}

std::optional<QString> storeRecord(const LeftoverFields& fields)
{
    const std::optional<RecordFolder> folder =
        RecordFolder::open(RecordFolder::Opening::CreateIfMissing);
    if (!folder)
        return std::nullopt;
    const QString name = makeRecordName(fields.processId);
    if (!folder->writeRecord(name, serialiseLeftover(fields)))
        return std::nullopt;
    return folder->path() + u'/' + name;
}

// What to do with the file a trusted record of an ended process names.
Removal removeRecordedFile(const LeftoverFields& record)
{
    // A name of another pattern is the user's own file, whatever the record says.
    if (!isTemporaryPathFor(record.targetPath, record.temporaryPath))
        return Removal::NotOurs;
    return wipeAndRemove(record);
}

} // namespace

QString leftoverRecordFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/virellock/pending");
}

namespace detail {

std::optional<QString> writeLeftoverRecord(const QString& targetPath, const QString& temporaryPath,
                                           qint64 processId, qint64 maxSize)
{
    const std::optional<FileIdentity> identity = identityOfFile(temporaryPath);
    if (!identity)
        return std::nullopt;
    return storeRecord({processId, *identity, maxSize, QFileInfo(targetPath).absoluteFilePath(),
                        QFileInfo(temporaryPath).absoluteFilePath()});
}

} // namespace detail

std::optional<LeftoverRecord> LeftoverRecord::forOpenFile(qintptr nativeHandle)
{
    const std::optional<QString> path = pathOfOpenFile(nativeHandle);
    if (!path)
        return std::nullopt;
    // QSaveFile names it "<target>.XXXXXX".
    const QString target = path->left(path->lastIndexOf(u'.'));
    return create(target, *path, nativeHandle, std::numeric_limits<qint64>::max());
}

std::optional<LeftoverRecord> LeftoverRecord::create(const QString& targetPath,
                                                     const QString& temporaryPath,
                                                     qintptr nativeHandle, qint64 maxSize)
{
    const std::optional<FileIdentity> identity = identityOfOpenFile(nativeHandle, temporaryPath);
    if (!identity || maxSize < 0)
        return std::nullopt;
    const QString temporary = QFileInfo(temporaryPath).absoluteFilePath();
    const std::optional<QString> recordPath =
        storeRecord({QCoreApplication::applicationPid(), *identity, maxSize,
                     QFileInfo(targetPath).absoluteFilePath(), temporary});
    if (!recordPath)
        return std::nullopt;
    return LeftoverRecord(*recordPath, temporary);
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
    const std::optional<RecordFolder> folder = RecordFolder::open(RecordFolder::Opening::Existing);
    if (!folder)
        return {};
    QStringList removed;
    const qint64 self = QCoreApplication::applicationPid();
    for (const QString& name : folder->entryNames()) {
        const std::optional<RecordEntryName> entry = parseRecordName(name);
        if (!entry || entry->processId == self || processIsRunning(entry->processId))
            continue;
        if (entry->partial) {
            // A record whose writing was cut short: the rewrite had not begun.
            folder->remove(name);
            continue;
        }
        const std::optional<QByteArray> text = folder->readRecord(name);
        const std::optional<LeftoverFields> record = text ? parseLeftover(*text) : std::nullopt;
        // Not one this program wrote for that process, or of an earlier version: only the
        // record goes.
        if (!record || record->processId != entry->processId) {
            folder->remove(name);
            continue;
        }
        switch (removeRecordedFile(*record)) {
        case Removal::Removed:
            removed << record->temporaryPath;
            folder->remove(name);
            break;
        case Removal::Gone:
        case Removal::NotOurs:
            folder->remove(name);
            break;
        case Removal::Retry:
            break;
        }
    }
    return removed;
}

} // namespace virellock
