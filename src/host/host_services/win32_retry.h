#pragma once

// Windows only. Another program may hold a file for a moment: an antivirus scanner, an
// indexer, a backup or a cloud client opens it without sharing while it looks at it. Opening,
// creating and replacing a file wait for such a program before they give up.

#include "host/host_services/failure_reason.h"

#include <functional>
#include <windows.h>

namespace virellock {

// Whether error says that another program holds the file: a sharing or lock violation, or
// access denied (also what Windows says while a file is being deleted, or held by a scanner).
bool isHeldError(DWORD error);

// Runs attempt, which returns ERROR_SUCCESS or the system's error code, and runs it again
// after a growing pause (50 ms, doubled up to 400 ms, about 2 s in all) while it fails with
// an error isHeldError() accepts. Returns the last attempt's result.
DWORD retryWhileHeld(const std::function<DWORD()>& attempt);

// What the person can do about a Win32 error: FileInUse for sharing and lock violations,
// AccessDenied, NoSpace, DiskError; None for the rest.
FailureReason reasonOfWin32Error(DWORD error);

} // namespace virellock
