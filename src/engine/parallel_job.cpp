#include "parallel_job.h"

#include "engine/piece_buffers.h"
#include "engine/rewrite_steps.h"
#include "engine/worker_tasks.h"
#include "host/data_ops/secure_wipe.h"

#include <QThread>
#include <QThreadPool>

#include <deque>
#include <future>
#include <memory>

namespace virellock {

namespace {

// Pieces in flight per worker: enough to keep every core busy while the calling thread reads
// and writes, few enough to bound memory (a few MiB per worker).
constexpr int kPiecesPerWorker = 2;
constexpr int kMaxPiecesInFlight = 32;
// The block a written piece is read back in when it is compared byte for byte.
constexpr qsizetype kReadBackBlock = 256 * 1024;

struct Slot
{
    std::unique_ptr<JobPiece> piece = std::make_unique<JobPiece>();
    qint64 writtenAt = -1;
    std::future<bool> transformed;
    std::future<bool> verified;
};

class Pipeline
{
public:
    Pipeline(PieceWork& work, AtomicFileWriter* writer, const JobOptions& options)
        : m_work(work), m_writer(writer), m_options(options),
          m_buffers(std::max(work.pieceCapacity(), kReadBackBlock)), m_beforeVerify(options)
    {
        const int workers = workerCount(options.threads);
        m_pool.setMaxThreadCount(workers);
        m_maxInFlight = std::min(kMaxPiecesInFlight, kPiecesPerWorker * workers);
    }

    ~Pipeline()
    {
        // Workers hold references into the pieces: let them finish before anything goes.
        m_pool.waitForDone();
    }

    [[nodiscard]] JobResult run()
    {
        const qint64 total = m_work.inputSize();
        qint64 done = 0;
        for (quint64 index = 0;; ++index) {
            if (m_options.progress && !m_options.progress(done, total))
                return JobOutcome::Cancelled;
            auto slot = std::make_unique<Slot>();
            JobPiece* piece = slot->piece.get();
            piece->index = index;
            piece->input = m_buffers.take();
            if (JobResult read = m_work.read(*piece); !read.done())
                return read;
            Q_ASSERT(piece->input.capacity() >= m_buffers.capacity());
            done += piece->input.size();
            const bool last = piece->last;
            piece->output = m_buffers.take();
            // The input goes back as soon as the output is made, on the worker: a piece
            // waiting to be written or checked holds only its output.
            slot->transformed = submitToPool(m_pool, [this, piece] {
                [[maybe_unused]] const char* const room = piece->output.constData();
                const bool made = m_work.transform(*piece);
                Q_ASSERT_X(piece->output.constData() == room, "Pipeline",
                           "a transform outgrew the piece's capacity");
                m_buffers.giveBack(piece->input);
                return made;
            });
            m_transforming.push_back(std::move(slot));
            while (int(m_transforming.size() + m_verifying.size()) > m_maxInFlight) {
                if (JobResult retired = retireOne(); !retired.done())
                    return retired;
            }
            if (last)
                break;
        }
        while (!m_transforming.empty() || !m_verifying.empty()) {
            if (JobResult retired = retireOne(); !retired.done())
                return retired;
        }
        if (m_options.progress && !m_options.progress(done, total))
            return JobOutcome::Cancelled;
        return JobOutcome::Done;
    }

private:
    [[nodiscard]] bool verify(const Slot& slot) const
    {
        Q_ASSERT(m_writer && slot.writtenAt >= 0);
        const JobPiece& piece = *slot.piece;
        QByteArray readBack = m_buffers.take();
        const bool good = m_work.readBackCheck() == PieceWork::ReadBackCheck::SameBytes
                              ? readsBackAs(slot.writtenAt, piece.output, readBack)
                              : readsBackWhole(slot.writtenAt, piece, readBack);
        m_buffers.giveBack(readBack);
        return good;
    }

    // Whether the temporary file holds expected at offset, read back a block at a time: the
    // block stays in the cache.
    [[nodiscard]] bool readsBackAs(qint64 offset, QByteArrayView expected, QByteArray& block) const
    {
        block.resize(std::min(kReadBackBlock, std::max<qsizetype>(expected.size(), 1)));
        for (qsizetype done = 0; done < expected.size();) {
            const qsizetype size = std::min(block.size(), expected.size() - done);
            if (!m_writer->readAt(offset + done, block.data(), size) ||
                QByteArrayView(block).first(size) != expected.sliced(done, size))
                return false;
            done += size;
        }
        return true;
    }

    [[nodiscard]] bool readsBackWhole(qint64 offset, const JobPiece& piece,
                                      QByteArray& readBack) const
    {
        readBack.resize(piece.output.size());
        return m_writer->readAt(offset, readBack.data(), readBack.size()) &&
               m_work.verify(piece, readBack);
    }

    // Waits for the oldest piece of work: writes a transformed piece, or collects a check.
    [[nodiscard]] JobResult retireOne()
    {
        if (!m_verifying.empty() &&
            (m_transforming.empty() || m_verifying.front()->verified.wait_for(
                                           std::chrono::seconds(0)) == std::future_status::ready)) {
            const quint64 index = m_verifying.front()->piece->index;
            const bool good = m_verifying.front()->verified.get();
            m_buffers.giveBack(m_verifying.front()->piece->output);
            m_verifying.pop_front();
            if (!good)
                return {JobOutcome::WriteFailed, JobStep::ReadBack,
                        QStringLiteral("piece %1 did not read back as written").arg(index)};
            return JobOutcome::Done;
        }
        std::unique_ptr<Slot> slot = std::move(m_transforming.front());
        m_transforming.pop_front();
        if (!slot->transformed.get())
            return m_work.transformFailed(*slot->piece);
        QByteArray& output = slot->piece->output;
        if (!m_writer) {
            m_buffers.giveBack(output);
            return JobOutcome::Done;
        }
        QIODevice& device = m_writer->device();
        slot->writtenAt = device.pos();
        // From the bytes, not the array: nothing may keep a share of a buffer that is used
        // again.
        if (device.write(output.constData(), output.size()) != output.size() || !m_writer->flush())
            return writeFailed(*m_writer);
        m_writer->startWriteBack(slot->writtenAt, output.size());
        if (!m_options.verifyBeforeReplacing) {
            m_buffers.giveBack(output);
            return JobOutcome::Done;
        }
        if (!m_beforeVerify.run(*m_writer))
            return writeFailed(*m_writer);
        const Slot* raw = slot.get();
        slot->verified = submitToPool(m_pool, [this, raw] { return verify(*raw); });
        m_verifying.push_back(std::move(slot));
        return JobOutcome::Done;
    }

    PieceWork& m_work;
    AtomicFileWriter* m_writer;
    const JobOptions& m_options;
    // Before the pool: the workers hand buffers back until the pool's destructor has waited
    // for them.
    mutable PieceBuffers m_buffers;
    QThreadPool m_pool;
    BeforeVerifyOnce m_beforeVerify;
    int m_maxInFlight = 2;
    std::deque<std::unique_ptr<Slot>> m_transforming;
    std::deque<std::unique_ptr<Slot>> m_verifying;
};

} // namespace

JobPiece::~JobPiece()
{
    dataops::wipe(input);
    dataops::wipe(output);
}

JobResult readPieceInput(QIODevice& source, qint64 size, JobPiece& piece)
{
    piece.input.resize(qsizetype(size));
    if (size == 0)
        return JobOutcome::Done;
    const qint64 read = source.read(piece.input.data(), size);
    if (read < 0)
        return {JobOutcome::SourceUnreadable, JobStep::ReadFile, source.errorString()};
    if (read != size)
        return fileChanged(QStringLiteral("it ended %1 bytes early").arg(size - read));
    return JobOutcome::Done;
}

int workerCount(int threads)
{
    return threads > 0 ? threads : std::max(1, QThread::idealThreadCount());
}

JobResult runPieces(PieceWork& work, AtomicFileWriter* writer, const JobOptions& options)
{
    Pipeline pipeline(work, writer, options);
    return pipeline.run();
}

} // namespace virellock
