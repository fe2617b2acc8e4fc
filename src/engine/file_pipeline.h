#pragma once

// The streaming steps shared by encryption and decryption: pump a file through a transform into
// the temporary file, then read the temporary file back and check it.

#include "engine/file_job.h"
#include "engine/worker_tasks.h"
#include "host/data_ops/digest.h"
#include "host/data_ops/stream_transform.h"
#include "host/host_services/atomic_file_writer.h"

#include <QThreadPool>

#include <deque>
#include <future>
#include <memory>
#include <optional>

namespace virellock {

// Reads source from its current position, length bytes or up to its end, through transform
// into sink, hashing what was read into inputDigest when one is given. A sink that refuses a
// piece ends the work with WriteFailed; input the transform refuses, with BadInput.
[[nodiscard]] JobResult pumpThrough(QIODevice& source, std::optional<qint64> length,
                                    dataops::StreamTransform& transform,
                                    const dataops::ByteSink& sink, dataops::Sha256* inputDigest,
                                    const ProgressCallback& progress);

// A sink that writes to a device.
[[nodiscard]] dataops::ByteSink writeTo(QIODevice& device);

// Writes new content to the temporary file in pieces of about a chunk, and has a worker read
// each piece back as soon as it is written and compare it with what was meant, so the check
// overlaps the work. Without a writer the content goes nowhere.
class CheckedOutput
{
public:
    CheckedOutput(AtomicFileWriter* writer, const JobOptions& options);
    ~CheckedOutput();
    CheckedOutput(const CheckedOutput&) = delete;
    CheckedOutput& operator=(const CheckedOutput&) = delete;

    // False once a write or a check has failed; failure() then says why.
    [[nodiscard]] bool write(QByteArrayView piece);
    // Writes what is left and waits for every check.
    [[nodiscard]] JobResult finish();
    const JobResult& failure() const { return m_failure; }

private:
    [[nodiscard]] JobResult writeBuffer();
    [[nodiscard]] JobResult collectChecks(std::size_t keep);

    AtomicFileWriter* m_writer;
    const JobOptions& m_options;
    QByteArray m_buffer;
    std::unique_ptr<QThreadPool> m_pool;
    std::deque<std::future<bool>> m_checks;
    BeforeVerifyOnce m_beforeVerify;
    JobResult m_failure;
};

// Reads the temporary file back from the disk: it must start with head, byte for byte, and the
// rest, through inverse, must hash to expectedDigest. Done, WriteFailed when it does not, or
// Cancelled when the progress callback says so (it is told the whole job is done meanwhile).
[[nodiscard]] JobResult verifyWritten(AtomicFileWriter& writer, QByteArrayView head,
                                      dataops::StreamTransform& inverse,
                                      const QByteArray& expectedDigest, const JobOptions& options);

} // namespace virellock
