#include "parallel_cipher_job.h"

#include "engine/worker_tasks.h"
#include "host/data_ops/secure_wipe.h"

#include <QThread>
#include <QThreadPool>

#include <deque>
#include <future>
#include <memory>

namespace virellock {

using dataops::kChunkSize;
using dataops::kSealedChunkSize;

namespace {

// Chunks in flight per thread: enough to keep every core busy while the calling thread reads
// and writes, few enough to bound memory (about 4 MiB per thread).
constexpr int kChunksPerThread = 2;
constexpr int kMaxChunksInFlight = 32;

struct Chunk
{
    // One of the two is plain text: the input when sealing, the output when opening. Wiping
    // both costs a small part of the cipher's time.
    ~Chunk()
    {
        dataops::wipe(input);
        dataops::wipe(output);
    }

    quint64 index = 0;
    bool last = false;
    QByteArray input;
    QByteArray output;
    qint64 writtenAt = -1;
    std::future<bool> transformed;
    std::future<bool> verified;
};

class CipherPipeline
{
public:
    CipherPipeline(const CipherJob& job, const JobOptions& options)
        : m_job(job), m_options(options), m_beforeVerify(options)
    {
        const int threads =
            job.threads > 0 ? job.threads : std::max(1, QThread::idealThreadCount());
        m_pool.setMaxThreadCount(threads);
        m_maxInFlight = std::min(kMaxChunksInFlight, kChunksPerThread * threads);
    }

    ~CipherPipeline()
    {
        // Workers hold references into the chunks: let them finish before anything goes.
        m_pool.waitForDone();
    }

    [[nodiscard]] JobResult run()
    {
        const std::optional<qint64> chunkCount = dataops::chunkCount(m_job.length, !m_job.encrypt);
        if (!chunkCount)
            return {JobOutcome::BadInput, JobStep::Content, QStringLiteral("no sealed chunk")};
        qint64 done = 0;
        for (quint64 index = 0; index < quint64(*chunkCount); ++index) {
            if (m_options.progress && !m_options.progress(done, m_job.length))
                return JobOutcome::Cancelled;
            const bool last = index + 1 == quint64(*chunkCount);
            const qint64 size = last ? m_job.length - done : fullInputSize();
            auto chunk = std::make_unique<Chunk>();
            chunk->index = index;
            chunk->last = last;
            chunk->input.resize(qsizetype(size));
            if (size > 0) {
                const qint64 read = m_job.source->read(chunk->input.data(), size);
                if (read < 0)
                    return {JobOutcome::SourceUnreadable, JobStep::ReadFile,
                            m_job.source->errorString()};
                // The length was measured when the file was opened: it has shrunk since.
                if (read != size)
                    return {JobOutcome::WriteFailed, JobStep::FileChanged,
                            QStringLiteral("it ended %1 bytes early").arg(size - read)};
            }
            done += size;
            Chunk* raw = chunk.get();
            chunk->transformed = submitToPool(m_pool, [this, raw] { return transform(*raw); });
            m_transforming.push_back(std::move(chunk));
            while (int(m_transforming.size() + m_verifying.size()) > m_maxInFlight) {
                if (JobResult retired = retireOne(); !retired.done())
                    return retired;
            }
        }
        while (!m_transforming.empty() || !m_verifying.empty()) {
            if (JobResult retired = retireOne(); !retired.done())
                return retired;
        }
        if (m_options.progress && !m_options.progress(done, m_job.length))
            return JobOutcome::Cancelled;
        return JobOutcome::Done;
    }

private:
    qint64 fullInputSize() const { return m_job.encrypt ? kChunkSize : kSealedChunkSize; }

    [[nodiscard]] bool transform(Chunk& chunk) const
    {
        return m_job.encrypt
                   ? m_job.cipher->seal(chunk.index, chunk.last, chunk.input, chunk.output)
                   : m_job.cipher->open(chunk.index, chunk.last, chunk.input, chunk.output);
    }

    [[nodiscard]] bool verify(const Chunk& chunk) const
    {
        Q_ASSERT(m_job.writer && chunk.writtenAt >= 0);
        // Plain text: what an opened chunk reads back as, what a sealed one reopens to.
        QByteArray readBack(chunk.output.size(), Qt::Uninitialized);
        const dataops::WipeAtScopeEnd wipeReadBack(readBack);
        if (!m_job.writer->readAt(chunk.writtenAt, readBack.data(), readBack.size()))
            return false;
        if (!m_job.encrypt)
            return readBack == chunk.output;
        QByteArray reopened;
        const dataops::WipeAtScopeEnd wipeReopened(reopened);
        return m_job.cipher->open(chunk.index, chunk.last, readBack, reopened) &&
               reopened == chunk.input;
    }

    // Waits for the oldest piece of work: writes a transformed chunk, or collects a check.
    [[nodiscard]] JobResult retireOne()
    {
        if (!m_verifying.empty() &&
            (m_transforming.empty() || m_verifying.front()->verified.wait_for(
                                           std::chrono::seconds(0)) == std::future_status::ready)) {
            const quint64 index = m_verifying.front()->index;
            const bool good = m_verifying.front()->verified.get();
            m_verifying.pop_front();
            if (!good)
                return {JobOutcome::WriteFailed, JobStep::ReadBack,
                        QStringLiteral("chunk %1 did not read back as written").arg(index)};
            return JobOutcome::Done;
        }
        std::unique_ptr<Chunk> chunk = std::move(m_transforming.front());
        m_transforming.pop_front();
        if (!chunk->transformed.get()) {
            if (m_job.encrypt)
                return {JobOutcome::WriteFailed, JobStep::Content,
                        QStringLiteral("chunk %1 could not be sealed").arg(chunk->index)};
            return {JobOutcome::BadInput, JobStep::Content,
                    QStringLiteral("chunk %1 failed authentication").arg(chunk->index)};
        }
        if (!m_job.writer)
            return JobOutcome::Done;
        QIODevice& device = m_job.writer->device();
        chunk->writtenAt = device.pos();
        if (device.write(chunk->output) != chunk->output.size() || !m_job.writer->flush())
            return {JobOutcome::WriteFailed, JobStep::WriteTemporaryFile,
                    m_job.writer->errorString()};
        if (!m_options.verifyBeforeReplacing)
            return JobOutcome::Done;
        if (!m_beforeVerify.run(*m_job.writer))
            return {JobOutcome::WriteFailed, JobStep::WriteTemporaryFile,
                    m_job.writer->errorString()};
        Chunk* raw = chunk.get();
        chunk->verified = submitToPool(m_pool, [this, raw] { return verify(*raw); });
        m_verifying.push_back(std::move(chunk));
        return JobOutcome::Done;
    }

    const CipherJob& m_job;
    const JobOptions& m_options;
    QThreadPool m_pool;
    BeforeVerifyOnce m_beforeVerify;
    int m_maxInFlight = 2;
    std::deque<std::unique_ptr<Chunk>> m_transforming;
    std::deque<std::unique_ptr<Chunk>> m_verifying;
};

} // namespace

JobResult runCipherJob(const CipherJob& job, const JobOptions& options)
{
    // The callers fill the job from files they have opened and measured: a missing member or a
    // negative length is a mistake in the program. A release build still refuses the job.
    Q_ASSERT(job.cipher && job.source && job.length >= 0);
    if (!job.cipher || !job.source || job.length < 0)
        return {JobOutcome::BadInput, JobStep::Content, QStringLiteral("incomplete job")};
    CipherPipeline pipeline(job, options);
    return pipeline.run();
}

} // namespace virellock
