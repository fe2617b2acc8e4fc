#include "win32_retry.h"

#include <QThread>

#include <algorithm>

namespace virellock {

namespace {

constexpr int kFirstPauseMs = 50;
constexpr int kLongestPauseMs = 400;
constexpr int kTotalPauseMs = 2000;

} // namespace

bool isHeldError(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED;
}

DWORD retryWhileHeld(const std::function<DWORD()>& attempt)
{
    DWORD error = attempt();
    for (int paused = 0, pause = kFirstPauseMs; isHeldError(error) && paused < kTotalPauseMs;
         pause = std::min(pause * 2, kLongestPauseMs)) {
        const int wait = std::min(pause, kTotalPauseMs - paused);
        QThread::msleep(ulong(wait));
        paused += wait;
        error = attempt();
    }
    return error;
}

FailureReason reasonOfWin32Error(DWORD error)
{
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
        return FailureReason::FileInUse;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return FailureReason::AccessDenied;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return FailureReason::NoSpace;
    case ERROR_FILE_TOO_LARGE:
        return FailureReason::FileTooLarge;
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT:
        return FailureReason::DiskError;
    default:
        return FailureReason::None;
    }
}

} // namespace virellock
