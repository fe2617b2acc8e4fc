#include "file_pipeline.h"

#include "host/data_ops/secure_wipe.h"

#include <utility>

namespace virellock {

using dataops::ByteSink;
using dataops::Sha256;

namespace {

constexpr qint64 kPieceSize = qint64(1) << 20;

} // namespace

JobResult pumpThrough(QIODevice& source, std::optional<qint64> length,
                      dataops::StreamTransform& transform, const ByteSink& sink,
                      Sha256* inputDigest, const ProgressCallback& progress)
{
    Q_ASSERT(!length || *length >= 0);
    bool refused = false;
    const ByteSink watched = [&](QByteArrayView piece) {
        refused = !sink(piece);
        return !refused;
    };
    const auto failure = [&]() -> JobResult {
        if (refused)
            return {JobOutcome::WriteFailed, JobStep::WriteTemporaryFile,
                    QStringLiteral("the new content could not be written")};
        return {JobOutcome::BadInput, JobStep::Content,
                QStringLiteral("the data is not what the method reads")};
    };

    const qint64 total = length ? *length : source.size() - source.pos();
    QByteArray buffer(kPieceSize, Qt::Uninitialized);
    const dataops::WipeAtScopeEnd wipeBuffer(buffer); // the plain text, when compressing
    qint64 done = 0;
    for (;;) {
        if (progress && !progress(done, total))
            return JobOutcome::Cancelled;
        const qint64 wanted = length ? std::min(kPieceSize, *length - done) : kPieceSize;
        if (wanted == 0)
            break;
        const qint64 read = source.read(buffer.data(), wanted);
        if (read < 0)
            return {JobOutcome::SourceUnreadable, JobStep::ReadFile, source.errorString()};
        if (read == 0) {
            // The length was measured or checked when the file was opened: it has shrunk.
            if (length)
                return {JobOutcome::WriteFailed, JobStep::FileChanged,
                        QStringLiteral("it ended %1 bytes early").arg(*length - done)};
            break;
        }
        const QByteArrayView piece = QByteArrayView(buffer).first(qsizetype(read));
        if (inputDigest)
            inputDigest->update(piece);
        if (!transform.update(piece, watched))
            return failure();
        done += read;
    }
    if (!transform.finish(watched))
        return failure();
    return JobOutcome::Done;
}

ByteSink writeTo(QIODevice& device)
{
    return [&device](QByteArrayView piece) {
        return device.write(piece.data(), piece.size()) == piece.size();
    };
}

CheckedOutput::CheckedOutput(AtomicFileWriter* writer, const JobOptions& options)
    : m_writer(writer), m_options(options), m_beforeVerify(options)
{
    if (m_writer && m_options.verifyBeforeReplacing) {
        m_pool = std::make_unique<QThreadPool>();
        m_pool->setMaxThreadCount(1);
    }
    m_buffer.reserve(kPieceSize);
}

CheckedOutput::~CheckedOutput()
{
    if (m_pool)
        m_pool->waitForDone();
    dataops::wipe(m_buffer);
}

bool CheckedOutput::write(QByteArrayView piece)
{
    while (m_failure.done() && !piece.isEmpty()) {
        const qsizetype take = std::min(piece.size(), qsizetype(kPieceSize) - m_buffer.size());
        m_buffer.append(piece.first(take));
        piece = piece.sliced(take);
        if (m_buffer.size() == kPieceSize)
            m_failure = writeBuffer();
    }
    return m_failure.done();
}

JobResult CheckedOutput::finish()
{
    if (m_failure.done())
        m_failure = writeBuffer();
    if (m_failure.done())
        m_failure = collectChecks(0);
    return m_failure;
}

JobResult CheckedOutput::writeBuffer()
{
    if (!m_writer || m_buffer.isEmpty()) {
        dataops::wipe(m_buffer);
        m_buffer.resize(0);
        return JobOutcome::Done;
    }
    QIODevice& device = m_writer->device();
    const qint64 offset = device.pos();
    if (device.write(m_buffer) != m_buffer.size())
        return {JobOutcome::WriteFailed, JobStep::WriteTemporaryFile, m_writer->errorString()};
    QByteArray written = std::exchange(m_buffer, {});
    m_buffer.reserve(kPieceSize);
    if (!m_pool)
        return JobOutcome::Done;
    if (!m_writer->flush() || !m_beforeVerify.run(*m_writer))
        return {JobOutcome::WriteFailed, JobStep::WriteTemporaryFile, m_writer->errorString()};
    AtomicFileWriter* writer = m_writer;
    m_checks.push_back(
        submitToPool(*m_pool, [writer, offset, written = std::move(written)]() mutable {
            const dataops::WipeAtScopeEnd wipeWritten(written);
            QByteArray readBack(written.size(), Qt::Uninitialized);
            const dataops::WipeAtScopeEnd wipeReadBack(readBack);
            return writer->readAt(offset, readBack.data(), readBack.size()) && readBack == written;
        }));
    // A few pieces in flight keep the worker busy without holding much memory.
    return collectChecks(4);
}

JobResult CheckedOutput::collectChecks(std::size_t keep)
{
    while (m_checks.size() > keep) {
        if (!m_checks.front().get())
            return {JobOutcome::WriteFailed, JobStep::ReadBack,
                    QStringLiteral("the new content did not read back as written")};
        m_checks.pop_front();
    }
    return JobOutcome::Done;
}

JobResult verifyWritten(AtomicFileWriter& writer, QByteArrayView head,
                        dataops::StreamTransform& inverse, const QByteArray& expectedDigest,
                        const JobOptions& options)
{
    if (options.beforeVerify)
        options.beforeVerify(writer.device());
    Sha256 digest;
    const ByteSink hash = [&digest](QByteArrayView piece) {
        digest.update(piece);
        return true;
    };
    const qint64 total = writer.device().size();
    bool cancelled = false;
    qsizetype headChecked = 0;
    const bool readBack = writer.readBack([&](QByteArrayView piece) {
        if (options.progress && !options.progress(total, total)) {
            cancelled = true;
            return false;
        }
        if (headChecked < head.size()) {
            const qsizetype take = std::min(piece.size(), head.size() - headChecked);
            if (piece.first(take) != head.sliced(headChecked, take))
                return false;
            headChecked += take;
            piece = piece.sliced(take);
        }
        return inverse.update(piece, hash);
    });
    if (cancelled)
        return JobOutcome::Cancelled;
    if (!readBack || headChecked != head.size() || !inverse.finish(hash))
        return {JobOutcome::WriteFailed, JobStep::ReadBack,
                QStringLiteral("the temporary file did not read back whole and in its format")};
    const QByteArray result = digest.result();
    if (result.isEmpty() || result != expectedDigest)
        return {JobOutcome::WriteFailed, JobStep::ReadBack,
                QStringLiteral("the temporary file restores to other content")};
    return JobOutcome::Done;
}

} // namespace virellock
