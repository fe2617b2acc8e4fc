#include "decrypted_file.h"

#include "engine/file_pipeline.h"
#include "engine/parallel_cipher_job.h"
#include "host/data_ops/key_derivation.h"
#include "host/data_ops/zstd_stream.h"

#include <QFile>

namespace virellock {

using namespace dataops;

namespace {

// Turns a range of the file (all of it when none is given) into its new content. Writes
// nothing, not even a temporary file, unless the whole range turns out good.
class Rewrite
{
public:
    Rewrite(const QString& path, std::optional<FileRange> range) : m_source(path), m_writer(path)
    {
        if (!m_source.open(QIODevice::ReadOnly) || m_source.isSequential()) {
            m_outcome = JobOutcome::SourceUnreadable;
            return;
        }
        m_range = range.value_or(FileRange{0, m_source.size()});
        // The file must still be what the record described.
        if (m_range.offset + m_range.size != m_source.size() || !m_source.seek(m_range.offset))
            m_outcome = JobOutcome::BadInput;
        else
            m_writable = m_writer.open();
    }

    std::optional<JobOutcome> failure() const { return m_outcome; }
    QFile& source() { return m_source; }
    qint64 size() const { return m_range.size; }
    // Null for a file that cannot be rewritten: the work then only tells good input from bad.
    AtomicFileWriter* writer() { return m_writable ? &m_writer : nullptr; }

    JobOutcome finish(JobOutcome transformed)
    {
        if (transformed != JobOutcome::Done)
            return transformed;
        // What was added to the file while it was read would be lost.
        if (m_source.size() != m_range.offset + m_range.size || !m_source.atEnd())
            return JobOutcome::WriteFailed;
        if (!m_writable)
            return JobOutcome::WriteFailed;
        // Windows cannot replace a file that is still open without delete sharing, as Qt
        // opens it.
        m_source.close();
        return m_writer.commit() ? JobOutcome::Done : JobOutcome::WriteFailed;
    }

private:
    QFile m_source;
    AtomicFileWriter m_writer;
    FileRange m_range;
    bool m_writable = false;
    std::optional<JobOutcome> m_outcome;
};

JobOutcome decryptRange(const QString& path, std::optional<FileRange> range,
                        CipherAlgorithm algorithm, const QString& password,
                        const JobOptions& options)
{
    Rewrite rewrite(path, range);
    if (rewrite.failure())
        return *rewrite.failure();
    const QByteArray salt = rewrite.source().read(kSaltSize);
    if (salt.size() != kSaltSize)
        return JobOutcome::BadInput;
    const std::optional<ChunkCipher> cipher = ChunkCipher::fromPassword(algorithm, password, salt);
    if (!cipher)
        return JobOutcome::WriteFailed;
    CipherJob job;
    job.cipher = &*cipher;
    job.encrypt = false;
    job.source = &rewrite.source();
    job.length = rewrite.size() - kSaltSize;
    job.writer = rewrite.writer();
    job.threads = options.threads;
    return rewrite.finish(runCipherJob(job, options));
}

JobOutcome decompressRange(const QString& path, FileRange range, const JobOptions& options)
{
    Rewrite rewrite(path, range);
    if (rewrite.failure())
        return *rewrite.failure();
    const std::unique_ptr<StreamTransform> transform = makeDecompressStream();
    if (!transform)
        return JobOutcome::WriteFailed;
    CheckedOutput output(rewrite.writer(), options);
    JobOutcome outcome = pumpThrough(
        rewrite.source(), rewrite.size(), *transform,
        [&output](QByteArrayView piece) { return output.write(piece); }, nullptr, options.progress);
    if (outcome == JobOutcome::Done && !output.finish())
        outcome = JobOutcome::WriteFailed;
    return rewrite.finish(outcome);
}

} // namespace

std::optional<EnhancedRecord> readEnhancedRecordFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.isSequential())
        return std::nullopt;
    return readEnhancedRecord(file);
}

JobOutcome decryptStandardFile(const QString& path, CipherAlgorithm cipher, const QString& password,
                               const JobOptions& options)
{
    return decryptRange(path, std::nullopt, cipher, password, options);
}

JobOutcome restoreEnhancedFile(const QString& path, Method method, const EnhancedRecord& record,
                               const QString& password, const JobOptions& options)
{
    if (const std::optional<CipherAlgorithm> cipher = cipherOf(method))
        return decryptRange(path, record.payload, *cipher, password, options);
    return decompressRange(path, record.payload, options);
}

} // namespace virellock
