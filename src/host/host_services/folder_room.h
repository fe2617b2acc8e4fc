#pragma once

// The room a folder's file system has for a new file. A rewrite checks it before it makes its
// temporary file, so a content that cannot fit is refused before a byte of it is written. The
// old content's space does not count: it is freed only once the new content has replaced it.

#include "host/host_services/failure_reason.h"

#include <QString>

#include <functional>
#include <optional>

namespace virellock {

struct FolderRoom
{
    // What this user may still fill; -1 when the system does not say.
    qint64 freeBytes = -1;
    // The largest file the file system holds; -1 when it sets no limit of note.
    qint64 largestFile = -1;
};

// FAT's limit: a file's size is a 32-bit field.
inline constexpr qint64 kFatLargestFile = (qint64(1) << 32) - 1;

// Why a content of bytesNeeded bytes does not fit, or FailureReason::None when it may.
[[nodiscard]] FailureCause roomFor(qint64 bytesNeeded, const FolderRoom& room);

namespace detail {
// Stands in for the system's answer about a folder: tests play a nearly full disk or a FAT
// volume with it. Null puts the system back.
void setFolderRoomForTests(std::function<FolderRoom(const QString& folder)> query);
// The stand-in's answer for the folder, when one is set.
[[nodiscard]] std::optional<FolderRoom> folderRoomForTests(const QString& folder);
} // namespace detail

} // namespace virellock
