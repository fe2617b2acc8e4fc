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

} // namespace virellock
