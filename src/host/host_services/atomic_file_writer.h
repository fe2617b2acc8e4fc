#pragma once

#include "host/host_services/failure_reason.h"

#include <QByteArrayView>
#include <QFileDevice>
#include <QString>

#include <functional>
#include <memory>

namespace virellock {

// Rewrites a file without ever leaving it half-written: the new content goes to a temporary
// file beside it, which can be read back from the disk and checked before it is synced and
// renamed over the original. Until commit() the original is untouched; without commit() the
// temporary file is removed. A symbolic link is followed, so its target is rewritten and the
// link stays a link. The new file is the same file to everyone who could open the old one:
// its owner, group, permission bits and extended attributes (the access list among them) are
// carried over, or the rewrite is refused. A temporary file that a killed process leaves
// behind is removed at the next start (leftover_files.h).
//
// The work differs by platform; each has a file of its own that defines Rewrite and every
// member below but readBack(): atomic_file_writer_posix.cpp (an unnamed temporary file where
// the system makes one, syncs that fail the rewrite, owner and attributes carried over) and
// atomic_file_writer_windows.cpp (a named, recorded temporary file put in the file's place by
// ReplaceFileW, which keeps its access list and attributes; a program that holds the file for
// a moment is waited for). What both share is in atomic_file_writer.cpp.
class AtomicFileWriter
{
public:
    explicit AtomicFileWriter(const QString& path);
    ~AtomicFileWriter();

    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Makes the temporary file and gives it what makes the file this file, so that a file
    // whose owner or access cannot be kept is refused before a byte is written. maxSize: the
    // most bytes the new content may take; refused at once, with nothing made, when the disk
    // has less free space or the file system holds no file that large. readFrom: the file the
    // new content is made from, open; the path must name that very file. False for a
    // read-only file, a file that is not a regular one, and when the temporary file cannot be
    // made or given the file's owner and access; failureCause() says why.
    [[nodiscard]] bool open(qint64 maxSize, const QFileDevice* readFrom = nullptr);

    // The temporary file, open for writing.
    QIODevice& device();

    // Flushes what was written and reads it back from the disk, piece by piece, from the start.
    [[nodiscard]] bool readBack(const std::function<bool(QByteArrayView)>& sink);

    // Hands what was written so far to the system, so that readAt() sees it.
    [[nodiscard]] bool flush();

    // Reads size bytes at offset from the temporary file as the system has it, without moving
    // the position the writer writes at. Safe to call from other threads while this one goes
    // on writing; call flush() first.
    [[nodiscard]] bool readAt(qint64 offset, char* data, qint64 size) const;
    // Asks the system to start writing size bytes at offset, flushed already, to the disk
    // and returns without waiting for them: the sync at commit() then finds little left to do,
    // where it would otherwise wait for the whole file. Only a hint, where the system takes it
    // (Linux); commit() still syncs everything.
    void startWriteBack(qint64 offset, qint64 size);

    // Syncs the temporary file to the disk and renames it over the original, provided the
    // system holds exactly as many bytes as were written (a write that landed anywhere but
    // where it was meant to shows as a different size), the file's owner and access are still
    // carried over, and the path still names the file it named at open(): the same file, size
    // and modification time. The device must be at the end of what was written. Close every
    // handle on the original first: Windows refuses to replace a file that is open without
    // delete sharing, which is how Qt opens files there.
    [[nodiscard]] bool commit();

    // Discards the temporary file; the original stays as it was.
    void cancel();

    // Why the last open, write or commit failed, in the system's words.
    QString errorString() const;
    // The same, for the person: what they can act on.
    FailureCause failureCause() const;
    // What went wrong once the new content had replaced the file, when it was too late to undo:
    // the folder could not be synced, so a power cut may yet bring the old content back.
    // Empty when nothing did.
    QString warning() const;

    // Test seam: runs in commit() once the temporary file is on the disk, just before the path
    // is checked to still name the file and is replaced.
    void setBeforeReplace(std::function<void()> hook);

private:
    // The temporary file's size as the system has it, or -1.
    qint64 systemSize() const;

    struct Rewrite;
    std::unique_ptr<Rewrite> m_rewrite;
};

// True when no one may write the file: all its write permission bits are off (on Windows,
// its read-only attribute is set). Also for root, who could write it anyway.
bool isReadOnlyFile(const QString& path);

} // namespace virellock
