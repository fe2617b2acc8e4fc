#pragma once

// Overwriting and deleting a temporary file that a killed run left behind, only while it is
// still the very file its record names.

#include "leftover_record_text.h"

#include <QString>

#include <optional>

namespace virellock {

// What became of a recorded file when its removal was tried.
enum class Removal
{
    Removed,
    Gone,    // no such file: nothing to do
    NotOurs, // not the recorded file, or not one this user may remove: left alone
    Retry,   // in use, or out of reach for now (its folder too): the record stays
};

// The identity of the file open under nativeHandle (a descriptor on POSIX, a HANDLE on
// Windows). POSIX: nothing when path does not name that file, as for one made without a name.
std::optional<FileIdentity> identityOfOpenFile(qintptr nativeHandle, const QString& path);

// The identity of the file at path, symbolic links followed; for tests.
std::optional<FileIdentity> identityOfFile(const QString& path);

bool processIsRunning(qint64 processId);

// Overwrites with zeros and deletes the recorded temporary file, provided it is a regular file
// of the current user's with one name, still the recorded file and no bigger than recorded,
// checked again on the open file immediately before it is touched. Whether its name fits its
// target is for the caller to check.
Removal wipeAndRemove(const LeftoverFields& record);

} // namespace virellock
