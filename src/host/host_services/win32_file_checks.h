#pragma once

// What the leftover clean-up asks of a file on Windows.

#include <QString>

#include <string>
#include <windows.h>

namespace virellock {

// path as Win32 takes it, in full: with the \\?\ prefix, so that a path longer than MAX_PATH
// is not cut.
std::wstring win32Path(const QString& path);

// Whether the file open under handle (with READ_CONTROL) belongs to this process's user: its
// owner is the user's SID, or the token's default owner (the Administrators group for an
// elevated administrator). True on file systems that keep no owners (FAT).
bool isOwnedByCurrentUser(HANDLE file);

} // namespace virellock
