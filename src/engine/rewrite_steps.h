#pragma once

// Opening and committing the rewrite of a file, as file jobs report them: the step that failed
// and the cause the person is told.

#include "engine/file_job.h"
#include "host/host_services/atomic_file_writer.h"

namespace virellock {

// Opens the writer for a new content of at most maxSize bytes made from source, the file open
// for reading.
[[nodiscard]] JobResult openRewrite(AtomicFileWriter& writer, qint64 maxSize,
                                    const QFileDevice& source, const JobOptions& options);

// A write to the temporary file failed at step.
[[nodiscard]] JobResult writeFailed(const AtomicFileWriter& writer,
                                    JobStep step = JobStep::WriteTemporaryFile);

// Replaces the file by the temporary file. Done carries a warning when the replacing could not
// be made lasting.
[[nodiscard]] JobResult commitRewrite(AtomicFileWriter& writer);

} // namespace virellock
