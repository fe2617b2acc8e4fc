#pragma once

#include "engine/file_job.h"
#include "host/file_format/chunk_cipher.h"
#include "host/host_services/atomic_file_writer.h"

#include <QIODevice>

namespace virellock {

// Seals or opens the chunks of a range of a file on all cores, writing the results in order
// (engine/parallel_job.h). Each chunk is read back from the temporary file as soon as it is
// written and checked on a worker as well: a sealed chunk must be whole and carry its tag over
// the ciphertext as it reads back, an opened chunk must read back as the bytes it gave. Memory
// holds a few chunks per thread whatever the file size. The output is the same whatever the
// number of threads.
struct CipherJob
{
    const dataops::ChunkCipher* cipher = nullptr;
    bool encrypt = true;
    // Read from its current position: length plain bytes to seal, or the sealed chunks (after
    // the salt) to open.
    QIODevice* source = nullptr;
    qint64 length = 0;
    // Appended to at its current position; null only to learn whether the input is good.
    AtomicFileWriter* writer = nullptr;
    int threads = 0; // 0: one per core
};

[[nodiscard]] JobResult runCipherJob(const CipherJob& job, const JobOptions& options);

} // namespace virellock
