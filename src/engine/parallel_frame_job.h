#pragma once

#include "engine/file_job.h"
#include "host/file_format/zstd_frames.h"
#include "host/host_services/atomic_file_writer.h"

#include <QIODevice>

namespace virellock {

// Compresses a range of a file into the zstd frames of the MD5 method
// (host/file_format/zstd_frames.h), or decompresses them, on all cores, writing the results in
// order (engine/parallel_job.h): frames share nothing, so each worker compresses or decompresses
// whole frames with a zstd context of its own. Each frame is read back from the temporary file
// as soon as it is written and compared on a worker with what is still in memory, the
// compressed frame or its plain text. The output is the same whatever the number of threads.
struct FrameJob
{
    bool compress = true;
    // Read from its current position: length plain bytes to compress, or the length bytes of
    // compressed frames to decompress.
    QIODevice* source = nullptr;
    qint64 length = 0;
    // Appended to at its current position; null only to learn whether the input is good.
    AtomicFileWriter* writer = nullptr;
};

[[nodiscard]] JobResult runFrameJob(const FrameJob& job, const JobOptions& options);

// Walks the frame headers of the length compressed bytes at the source's current position,
// without decompressing (walkFrames(), asking keepGoing as it goes), and leaves the position
// where it was.
[[nodiscard]] dataops::FrameSequence walkFramesOf(QIODevice& source, qint64 length,
                                                  qint64 contentLimit,
                                                  const dataops::KeepGoing& keepGoing = {});

} // namespace virellock
