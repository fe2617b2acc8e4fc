#pragma once

#include "host/host_services/leftover_files.h"

#include <QByteArrayView>
#include <QSaveFile>
#include <QString>

#include <functional>

namespace virellock {

// Rewrites a file without ever leaving it half-written: the new content goes to a temporary
// file beside it (QSaveFile), which can be read back from the disk and checked before it is
// flushed and renamed over the original. Until commit() the original is untouched; without
// commit() the temporary file is removed. A symbolic link is followed, so its target is
// rewritten and the link stays a link; the file's permissions are kept. A temporary file
// that a killed process leaves behind is removed at the next start (leftover_files.h).
class AtomicFileWriter
{
public:
    explicit AtomicFileWriter(const QString& path);
    ~AtomicFileWriter();

    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // False for a read-only file and when the temporary file cannot be made.
    [[nodiscard]] bool open();

    // The temporary file, open for writing.
    QIODevice& device() { return m_file; }

    // Flushes what was written and reads it back from the disk, piece by piece, from the start.
    [[nodiscard]] bool readBack(const std::function<bool(QByteArrayView)>& sink);

    // Hands what was written so far to the system, so that readAt() sees it.
    [[nodiscard]] bool flush() { return m_file.flush(); }

    // Reads size bytes at offset from the temporary file as the system has it, without moving
    // the position the writer writes at. Safe to call from other threads while this one goes
    // on writing; call flush() first.
    [[nodiscard]] bool readAt(qint64 offset, char* data, qint64 size) const;
    // Asks the system to start writing size bytes at offset, flushed already, to the disk
    // and returns without waiting for them: the sync at commit() then finds little left to do,
    // where it would otherwise wait for the whole file. Only a hint, where the system takes it
    // (Linux); commit() still syncs everything.
    void startWriteBack(qint64 offset, qint64 size);

    // Flushes to the disk and renames the temporary file over the original, provided the
    // system holds exactly as many bytes as were written: a write that landed anywhere but
    // where it was meant to shows as a different size. The device must be at the end of what
    // was written. Close every handle on the original first: Windows refuses to replace a file
    // that is open without delete sharing, which is how Qt opens files there.
    [[nodiscard]] bool commit();

    // Discards the temporary file; the original stays as it was.
    void cancel();

    // Why the last open, write or commit failed, in the system's words.
    QString errorString() const;

private:
    // The temporary file's size as the system has it, or -1.
    qint64 systemSize() const;

    QSaveFile m_file;
    // Set where this class refuses on its own account; otherwise the file's error is used.
    QString m_error;
    // The temporary file's system handle, taken once on the writing thread: Qt makes the
    // C runtime's descriptor on Windows lazily, and two threads asking at once would race.
    qintptr m_nativeHandle = -1;
    // Where the temporary file has a name, the record that lets a later start remove it
    // should this process be killed before it is done.
    std::optional<LeftoverRecord> m_leftoverRecord;
};

// True when no one may write the file: all its write permission bits are off (on Windows,
// its read-only attribute is set). Also for root, who could write it anyway.
bool isReadOnlyFile(const QString& path);

} // namespace virellock
