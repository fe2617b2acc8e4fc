#pragma once

// Temporary files that a rewrite leaves behind when its process is killed.
//
// Where the system cannot make a temporary file without a name (Windows, and Linux file
// systems without O_TMPFILE), a process ended in the middle of a rewrite leaves the
// temporary file beside the original, named by temporaryPathFor(); after a decryption it holds
// plain text. So each rewrite records its temporary file (its path, the file it is to replace,
// the system's identity of the file, the most bytes it will hold, the process id) in a small
// file of its own in a folder private to the user, and removes the record when it commits or
// gives up. At the next start the program removes what killed runs left: a recorded file whose
// process has ended is overwritten with zeros and deleted. Inode numbers are reused and a
// record could be planted, so only a file that is still exactly the one recorded is touched:
// the user's own regular file with no other name, carrying the temporary name of its target,
// with the same volume and file id and no bigger than recorded (record_folder.h says which
// records are trusted).

#include <QString>
#include <QStringList>

#include <optional>

namespace virellock {

// The record of one temporary file in use; dropping it removes the record.
class LeftoverRecord
{
public:
    // Records the temporary file open under the given system handle (a file descriptor on
    // POSIX, a HANDLE on Windows), named by the writer's own pattern rather than by
    // temporaryPathFor(): the clean-up drops such a record and leaves its file alone. Nothing
    // when the file has no name, or the record cannot be written.
    static std::optional<LeftoverRecord> forOpenFile(qintptr nativeHandle);

    // Records the temporary file at temporaryPath (named by temporaryPathFor(targetPath)),
    // open under nativeHandle, that is to replace targetPath and will hold at most maxSize
    // bytes. Nothing when temporaryPath does not name that file (POSIX: one made without a
    // name), or the record cannot be written; a rewrite goes on without one.
    static std::optional<LeftoverRecord> create(const QString& targetPath,
                                                const QString& temporaryPath, qintptr nativeHandle,
                                                qint64 maxSize);

    LeftoverRecord(LeftoverRecord&& other) noexcept;
    LeftoverRecord& operator=(LeftoverRecord&& other) noexcept;
    LeftoverRecord(const LeftoverRecord&) = delete;
    LeftoverRecord& operator=(const LeftoverRecord&) = delete;
    ~LeftoverRecord();

    QString temporaryPath() const { return m_temporaryPath; }

private:
    LeftoverRecord(QString recordPath, QString temporaryPath);

    QString m_recordPath;
    QString m_temporaryPath;
};

// Removes the temporary files of rewrites whose process has ended, and their records. Returns
// the paths of the files removed. It reads and writes files: keep it off the GUI thread.
QStringList removeLeftoverFiles();

// Where the records are kept.
QString leftoverRecordFolder();

namespace detail {
// A record as a killed process would have left it, for tests: of the file now at temporaryPath
// (links followed), written by processId to replace targetPath with at most maxSize bytes.
// The record's path, or nothing.
std::optional<QString> writeLeftoverRecord(const QString& targetPath, const QString& temporaryPath,
                                           qint64 processId, qint64 maxSize);
} // namespace detail

} // namespace virellock
