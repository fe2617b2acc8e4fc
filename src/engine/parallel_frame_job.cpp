#include "parallel_frame_job.h"

#include "engine/parallel_job.h"

namespace virellock {

using namespace dataops;

namespace {

// Reads the compressed bytes at offsets counted from where they start in the source.
ReadAt readerOf(QIODevice& source, qint64 start)
{
    return [&source, start](qint64 offset, char* data, qint64 size) {
        return source.seek(start + offset) && source.read(data, size) == size;
    };
}

class CompressWork final : public PieceWork
{
public:
    explicit CompressWork(const FrameJob& job) : m_job(job), m_frames(frameCount(job.length)) {}

    qint64 inputSize() const override { return m_job.length; }
    // A frame's plain text, or the room zstd asks for to compress it.
    qsizetype pieceCapacity() const override { return kMaxFrameSize; }

    JobResult read(JobPiece& piece) override
    {
        piece.last = piece.index + 1 == quint64(m_frames);
        const qint64 size = piece.last ? m_job.length - m_done : kFrameContentSize;
        if (JobResult result = readPieceInput(*m_job.source, size, piece); !result.done())
            return result;
        m_done += size;
        return JobOutcome::Done;
    }

    bool transform(JobPiece& piece) const override
    {
        const auto compressor = m_compressors.take();
        return compressor->isValid() && compressor->compress(piece.input, piece.output);
    }

    JobResult transformFailed(const JobPiece& piece) const override
    {
        return {JobOutcome::WriteFailed, JobStep::Content,
                QStringLiteral("frame %1 could not be compressed").arg(piece.index)};
    }

    // The frame as it reads back is the frame in memory: a comparison, not a decompression.
    ReadBackCheck readBackCheck() const override { return ReadBackCheck::SameBytes; }

private:
    const FrameJob& m_job;
    const qint64 m_frames;
    qint64 m_done = 0;
    mutable PerWorker<FrameCompressor> m_compressors;
};

class DecompressWork final : public PieceWork
{
public:
    explicit DecompressWork(const FrameJob& job)
        : m_job(job), m_start(job.source->pos()), m_read(readerOf(*job.source, m_start)),
          m_walker(m_read, job.length)
    {}

    qint64 inputSize() const override { return m_job.length; }
    // A whole frame as read (its plain text is never more).
    qsizetype pieceCapacity() const override { return kMaxFrameSize; }

    // One whole frame, found by walking its header and block headers; the rules of the layout
    // hold here whether or not the whole payload was walked before.
    JobResult read(JobPiece& piece) override
    {
        const std::optional<FrameExtent> frame = m_walker.walk(m_offset);
        if (!frame)
            return shrunkOr(
                {JobOutcome::BadInput, JobStep::Content,
                 QStringLiteral("frame %1 breaks the rules of the format").arg(piece.index)});
        const qint64 end = m_offset + frame->size;
        piece.last = frame->contentSize < kFrameContentSize;
        if (piece.last != (end == m_job.length))
            return {JobOutcome::BadInput, JobStep::Content,
                    piece.last ? QStringLiteral("bytes follow the last frame")
                               : QStringLiteral("the frames end with a full one")};
        piece.input.resize(qsizetype(frame->size));
        if (!m_read(m_offset, piece.input.data(), frame->size))
            return shrunkOr(
                {JobOutcome::SourceUnreadable, JobStep::ReadFile, m_job.source->errorString()});
        m_offset = end;
        return JobOutcome::Done;
    }

    bool transform(JobPiece& piece) const override
    {
        const auto decompressor = m_decompressors.take();
        return decompressor->isValid() && decompressor->decompress(piece.input, piece.output);
    }

    JobResult transformFailed(const JobPiece& piece) const override
    {
        return {JobOutcome::BadInput, JobStep::Content,
                QStringLiteral("frame %1 does not decompress to its content").arg(piece.index)};
    }

    // The plain text as it reads back is what was decompressed, still in memory.
    ReadBackCheck readBackCheck() const override { return ReadBackCheck::SameBytes; }

private:
    // The length was checked when the file was opened: when the file no longer holds it, that
    // is why a read failed.
    JobResult shrunkOr(JobResult failure) const
    {
        const qint64 missing = m_start + m_job.length - m_job.source->size();
        if (missing > 0)
            return fileChanged(QStringLiteral("it now ends %1 bytes early").arg(missing));
        return failure;
    }

    const FrameJob& m_job;
    const qint64 m_start;
    const ReadAt m_read;
    // One for all the frames: its reads grow over a run of small blocks, whichever frame
    // they are in.
    FrameWalker m_walker;
    qint64 m_offset = 0;
    mutable PerWorker<FrameDecompressor> m_decompressors;
};

} // namespace

JobResult runFrameJob(const FrameJob& job, const JobOptions& options)
{
    // As for the cipher job: the callers measured what they pass.
    Q_ASSERT(job.source && job.length >= 0);
    if (!job.source || job.length < 0)
        return {JobOutcome::BadInput, JobStep::Content, QStringLiteral("incomplete job")};
    if (job.compress) {
        CompressWork work(job);
        return runPieces(work, job.writer, options);
    }
    // The last frame read leaves the source at the end of the frames, as reading them straight
    // through would.
    DecompressWork work(job);
    return runPieces(work, job.writer, options);
}

FrameSequence walkFramesOf(QIODevice& source, qint64 length, qint64 contentLimit,
                           const KeepGoing& keepGoing)
{
    const qint64 start = source.pos();
    const FrameSequence sequence =
        walkFrames(readerOf(source, start), length, contentLimit, keepGoing);
    if (!source.seek(start))
        return {};
    return sequence;
}

} // namespace virellock
