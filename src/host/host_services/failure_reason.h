#pragma once

// Why a rewrite could not be done, as the person is told it: the message box shows the
// command's failure text and, beneath it, what this says. The log keeps the system's own words.

#include <QtGlobal>

namespace virellock {

enum class FailureReason
{
    None,               // nothing the person can act on, or a failure with a text of its own
    ReadOnly,           // the file's write permission bits are all off
    SeveralNames,       // hard links: the other names would keep the old content
    NotRegularFile,     // a folder, a device, a pipe
    FileInUse,          // another program holds the file (Windows sharing and locks)
    AccessDenied,       // the system refused to open, create or replace
    NoSpace,            // the disk has less free space than the new content may take
    FileTooLarge,       // the file system cannot hold a file that large
    FileChanged,        // the file changed, or another took its name, while it was read
    PermissionsNotKept, // its owner, group, permission bits or access list could not be kept
    DiskError,          // the disk failed to write or to sync
};

// A reason with the sizes that NoSpace and FileTooLarge speak of; 0 where unknown.
struct FailureCause
{
    FailureReason reason = FailureReason::None;
    // The most bytes the new content may take.
    qint64 bytesNeeded = 0;
    // NoSpace: the disk's free space; FileTooLarge: the largest file the file system holds.
    qint64 bytesAvailable = 0;

    FailureCause() = default;
    FailureCause(FailureReason why, qint64 needed = 0, qint64 available = 0)
        : reason(why), bytesNeeded(needed), bytesAvailable(available)
    {}
    bool operator==(const FailureCause&) const = default;
};

} // namespace virellock
