#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace virellock {

// The whole content of a file; nothing when it cannot be read, which is told apart from an
// empty file.
std::optional<QByteArray> ReadWholeFile(const QString& path);

// Replaces the whole content of a file, creating it if missing, atomically: the new content is
// read back and compared before it replaces the old. False, with the file as it was, on any
// failure, and for a read-only file.
bool WriteWholeFile(const QString& path, QByteArrayView bytes);

// How many names (hard links) the file has, following a symbolic link; 0 when it cannot be
// told.
int hardLinkCount(const QString& path);

// The system's name for a file: its volume (device) and its number there (inode, file index).
// Two paths name the same file exactly when they give the same identity.
struct FileSystemIdentity
{
    quint64 volume = 0;
    quint64 file = 0;
    bool operator==(const FileSystemIdentity&) const = default;
};

// The identity of the file at path, following a symbolic link; nothing when it cannot be told.
std::optional<FileSystemIdentity> fileIdentity(const QString& path);

} // namespace virellock
