#include "parallel_cipher_job.h"

#include "engine/parallel_job.h"

namespace virellock {

using dataops::kChunkSize;
using dataops::kSealedChunkSize;

namespace {

class CipherWork final : public PieceWork
{
public:
    CipherWork(const CipherJob& job, qint64 chunkCount) : m_job(job), m_chunkCount(chunkCount) {}

    qint64 inputSize() const override { return m_job.length; }
    qsizetype pieceCapacity() const override { return dataops::kChunkRoom; }

    JobResult read(JobPiece& piece) override
    {
        piece.last = piece.index + 1 == quint64(m_chunkCount);
        const qint64 size =
            piece.last ? m_job.length - m_done : (m_job.encrypt ? kChunkSize : kSealedChunkSize);
        if (JobResult result = readPieceInput(*m_job.source, size, piece); !result.done())
            return result;
        m_done += size;
        return JobOutcome::Done;
    }

    bool transform(JobPiece& piece) const override
    {
        return m_job.encrypt
                   ? m_job.cipher->seal(piece.index, piece.last, piece.input, piece.output)
                   : m_job.cipher->open(piece.index, piece.last, piece.input, piece.output);
    }

    JobResult transformFailed(const JobPiece& piece) const override
    {
        if (m_job.encrypt)
            return {JobOutcome::WriteFailed, JobStep::Content,
                    QStringLiteral("chunk %1 could not be sealed").arg(piece.index)};
        return {JobOutcome::BadInput, JobStep::Content,
                QStringLiteral("chunk %1 failed authentication").arg(piece.index)};
    }

    // A sealed chunk must read back whole and carry the right tag over the ciphertext as it
    // reads back: what decrypting will check first, at the cost of one HMAC and without
    // deciphering again. Plain text must read back byte for byte as it was opened, which costs
    // a comparison with what is still in memory.
    ReadBackCheck readBackCheck() const override
    {
        return m_job.encrypt ? ReadBackCheck::WholePiece : ReadBackCheck::SameBytes;
    }

    bool verify(const JobPiece& piece, QByteArrayView readBack) const override
    {
        return readBack.size() == piece.output.size() &&
               m_job.cipher->authentic(piece.index, piece.last, readBack);
    }

private:
    const CipherJob& m_job;
    const qint64 m_chunkCount;
    qint64 m_done = 0;
};

} // namespace

JobResult runCipherJob(const CipherJob& job, const JobOptions& options)
{
    // The callers fill the job from files they have opened and measured: a missing member or a
    // negative length is a mistake in the program. A release build still refuses the job.
    Q_ASSERT(job.cipher && job.source && job.length >= 0);
    if (!job.cipher || !job.source || job.length < 0)
        return {JobOutcome::BadInput, JobStep::Content, QStringLiteral("incomplete job")};
    const std::optional<qint64> chunkCount = dataops::chunkCount(job.length, !job.encrypt);
    if (!chunkCount)
        return {JobOutcome::BadInput, JobStep::Content, QStringLiteral("no sealed chunk")};
    CipherWork work(job, *chunkCount);
    JobOptions jobOptions = options;
    jobOptions.threads = job.threads;
    return runPieces(work, job.writer, jobOptions);
}

} // namespace virellock
