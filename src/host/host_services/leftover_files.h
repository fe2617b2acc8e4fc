#pragma once

// Temporary files that a rewrite leaves behind when its process is killed.
//
// Where the system cannot make a temporary file without a name (Windows, and Linux file
// systems without O_TMPFILE), a process ended in the middle of a rewrite leaves the
// temporary file beside the original under the original's name plus a suffix; after a
// decryption it holds plain text. So each rewrite records its temporary file (path, the
// system's identity of the file, process id) in a small file of its own under the user's data
// folder and removes the record when it commits or gives up. At the next start the program
// removes what killed runs left: a recorded file whose process has ended is overwritten with
// zeros and deleted. Only a file that is still the one recorded (same volume and file id) is
// touched, so a file of the user's that happens to carry such a name is never removed.

#include <QString>
#include <QStringList>

#include <optional>

namespace virellock {

// The record of one temporary file in use; dropping it removes the record.
class LeftoverRecord
{
public:
    // Records the temporary file open under the given system handle (a file descriptor on
    // POSIX, a HANDLE on Windows). Nothing when the file has no name, or the record cannot be
    // written; a rewrite goes on without one.
    static std::optional<LeftoverRecord> forOpenFile(qintptr nativeHandle);

    // Records the temporary file at temporaryPath (named by temporaryPathFor(targetPath)),
    // open under nativeHandle, that is to replace targetPath and will hold at most maxSize
    // bytes. Nothing when the record cannot be written; a rewrite goes on without one.
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

// Removes the temporary files of rewrites whose process has ended, and their records.
// Returns the paths of the files removed.
QStringList removeLeftoverFiles();

// Where the records are kept.
QString leftoverRecordFolder();

namespace detail {
// A record as a killed process would have left it, for tests.
bool writeLeftoverRecord(const QString& temporaryPath, qint64 processId);
} // namespace detail

} // namespace virellock
