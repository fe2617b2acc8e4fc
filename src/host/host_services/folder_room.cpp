#include "folder_room.h"

#include <QMutex>

namespace virellock {

FailureCause roomFor(qint64 bytesNeeded, const FolderRoom& room)
{
    if (room.largestFile >= 0 && bytesNeeded > room.largestFile)
        return {FailureReason::FileTooLarge, bytesNeeded, room.largestFile};
    if (room.freeBytes >= 0 && bytesNeeded > room.freeBytes)
        return {FailureReason::NoSpace, bytesNeeded, room.freeBytes};
    return {};
}

namespace detail {

namespace {

struct StandIn
{
    QMutex mutex;
    std::function<FolderRoom(const QString&)> query;
};

StandIn& standIn()
{
    static StandIn instance;
    return instance;
}

} // namespace

void setFolderRoomForTests(std::function<FolderRoom(const QString& folder)> query)
{
    const QMutexLocker lock(&standIn().mutex);
    standIn().query = std::move(query);
}

std::optional<FolderRoom> folderRoomForTests(const QString& folder)
{
    const QMutexLocker lock(&standIn().mutex);
    if (!standIn().query)
        return std::nullopt;
    return standIn().query(folder);
}

} // namespace detail

} // namespace virellock
