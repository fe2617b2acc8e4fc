#pragma once

// The streaming steps shared by encryption and decryption: pump a file through a transform into
// the temporary file, then read the temporary file back and check it.

#include "engine/file_job.h"
#include "host/data_ops/digest.h"
#include "host/data_ops/stream_transform.h"
#include "host/host_services/atomic_file_writer.h"

#include <optional>

namespace virellock {

// Reads source from its current position, length bytes or up to its end, through transform
// into target (or nowhere, to learn only whether the input is good). Hashes what was read into
// inputDigest and what was written into outputDigest when they are given.
JobOutcome pumpThrough(QIODevice& source, std::optional<qint64> length,
                       dataops::StreamTransform& transform, QIODevice* target,
                       dataops::Sha256* inputDigest, dataops::Sha256* outputDigest,
                       const ProgressCallback& progress);

// Reads the temporary file back from the disk: it must start with head, byte for byte, and the
// rest, through inverse (or as it is without one), must hash to expectedDigest.
bool verifyWritten(AtomicFileWriter& writer, QByteArrayView head, dataops::StreamTransform* inverse,
                   const QByteArray& expectedDigest, const JobOptions& options);

} // namespace virellock
