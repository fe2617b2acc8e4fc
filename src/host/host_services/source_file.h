#pragma once

// Opening a user's file to read it. A path may name a FIFO, a device, a socket or a folder as
// well as a file; QFile would block in open() on a FIFO that no one writes to (and hold back the
// signal that should end the program) and reads a device without end. Only a regular file is
// opened, and nothing waits to find out what the path names.

#include "host/host_services/failure_reason.h"

#include <QFile>
#include <QString>

namespace virellock {

struct SourceOpening
{
    bool opened = false;
    QString failure;    // why not, when not opened, for the log
    FailureCause cause; // the same, for the person
};

// Opens file (its name set) for reading with the extra mode flags, such as
// QIODevice::Unbuffered, when its name leads to a regular file; a symbolic link is followed.
// Anything else is refused with the reason "not a regular file" before it is opened for
// reading, and file stays closed.
[[nodiscard]] SourceOpening openSourceFile(QFile& file, QIODevice::OpenMode extra = {});

} // namespace virellock
