#include "file_pipeline.h"

namespace virellock {

using dataops::ByteSink;
using dataops::Sha256;

namespace {

constexpr qint64 kPieceSize = qint64(1) << 20;

} // namespace

JobOutcome pumpThrough(QIODevice& source, std::optional<qint64> length,
                       dataops::StreamTransform& transform, QIODevice* target, Sha256* inputDigest,
                       Sha256* outputDigest, const ProgressCallback& progress)
{
    bool writeFailed = false;
    const ByteSink sink = [&](QByteArrayView piece) {
        if (target && target->write(piece.data(), piece.size()) != piece.size()) {
            writeFailed = true;
            return false;
        }
        if (outputDigest)
            outputDigest->update(piece);
        return true;
    };
    const auto failure = [&] {
        return writeFailed ? JobOutcome::WriteFailed : JobOutcome::BadInput;
    };

    const qint64 total = length ? *length : source.size() - source.pos();
    QByteArray buffer(kPieceSize, Qt::Uninitialized);
    qint64 done = 0;
    for (;;) {
        if (progress && !progress(done, total))
            return JobOutcome::Cancelled;
        const qint64 wanted = length ? std::min(kPieceSize, *length - done) : kPieceSize;
        if (wanted == 0)
            break;
        const qint64 read = source.read(buffer.data(), wanted);
        if (read < 0)
            return JobOutcome::SourceUnreadable;
        if (read == 0) {
            if (length) // the file ended before the length it announced
                return JobOutcome::BadInput;
            break;
        }
        const QByteArrayView piece = QByteArrayView(buffer).first(qsizetype(read));
        if (inputDigest)
            inputDigest->update(piece);
        if (!transform.update(piece, sink))
            return failure();
        done += read;
    }
    if (!transform.finish(sink))
        return failure();
    return JobOutcome::Done;
}

bool verifyWritten(AtomicFileWriter& writer, QByteArrayView head, dataops::StreamTransform* inverse,
                   const QByteArray& expectedDigest, const JobOptions& options)
{
    if (options.beforeVerify)
        options.beforeVerify(writer.device());
    Sha256 digest;
    const ByteSink hash = [&digest](QByteArrayView piece) {
        digest.update(piece);
        return true;
    };
    qsizetype headChecked = 0;
    const bool readBack = writer.readBack([&](QByteArrayView piece) {
        if (headChecked < head.size()) {
            const qsizetype take = std::min(piece.size(), head.size() - headChecked);
            if (piece.first(take) != head.sliced(headChecked, take))
                return false;
            headChecked += take;
            piece = piece.sliced(take);
        }
        if (!inverse)
            return hash(piece);
        return inverse->update(piece, hash);
    });
    if (!readBack || headChecked != head.size() || (inverse && !inverse->finish(hash)))
        return false;
    const QByteArray result = digest.result();
    return !result.isEmpty() && result == expectedDigest;
}

} // namespace virellock
