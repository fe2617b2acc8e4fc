#pragma once

#include <QByteArrayView>
#include <QSaveFile>
#include <QString>

#include <functional>

namespace virellock {

// Rewrites a file without ever leaving it half-written: the new content goes to a temporary
// file beside it (QSaveFile), which can be read back from the disk and checked before it is
// flushed and renamed over the original. Until commit() the original is untouched; without
// commit() the temporary file is removed. A symbolic link is followed, so its target is
// rewritten and the link stays a link; the file's permissions are kept.
class AtomicFileWriter
{
public:
    explicit AtomicFileWriter(const QString& path);
    ~AtomicFileWriter();

    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // False for a read-only file and when the temporary file cannot be made.
    bool open();

    // The temporary file, open for writing.
    QIODevice& device() { return m_file; }

    // Flushes what was written and reads it back from the disk, piece by piece, from the start.
    bool readBack(const std::function<bool(QByteArrayView)>& sink);

    // Hands what was written so far to the system, so that readAt() sees it.
    bool flush() { return m_file.flush(); }

    // Reads size bytes at offset from the temporary file as the system has it. Safe to call
    // from other threads while this one goes on writing; call flush() first.
    bool readAt(qint64 offset, char* data, qint64 size) const;

    // Flushes to the disk and renames the temporary file over the original.
    bool commit();

    // Discards the temporary file; the original stays as it was.
    void cancel();

private:
    QSaveFile m_file;
};

// True when no one may write the file: all its write permission bits are off (on Windows,
// its read-only attribute is set). Also for root, who could write it anyway.
bool isReadOnlyFile(const QString& path);

} // namespace virellock
