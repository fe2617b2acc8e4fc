#include "encrypted_file.h"

#include "engine/methods.h"
#include "engine/parallel_cipher_job.h"
#include "engine/parallel_frame_job.h"
#include "engine/rewrite_steps.h"
#include "host/data_ops/key_derivation.h"
#include "host/data_ops/password_check.h"
#include "host/file_format/typed_data.h"
#include "host/host_services/file_services.h"
#include "host/host_services/source_file.h"

#include <QFile>

namespace virellock {

using namespace dataops;

namespace {

// A file that grew or shrank while it was read would lose what was added, or keep what was
// taken away: refuse to replace it.
JobResult checkWholeFileRead(const QFile& source, qint64 length)
{
    if (source.size() != length || !source.atEnd())
        return fileChanged(QStringLiteral("%1 bytes were read, the file now holds %2")
                               .arg(length)
                               .arg(source.size()));
    return JobOutcome::Done;
}

// DES and RC4: the salt, then the chunks sealed on all cores, each checked as it is written.
JobResult encryptChunks(QFile& source, AtomicFileWriter& writer, const ChunkCipher& cipher,
                        const QByteArray& salt, const JobOptions& options)
{
    if (writer.device().write(salt) != kSaltSize)
        return writeFailed(writer);
    CipherJob job;
    job.cipher = &cipher;
    job.encrypt = true;
    job.source = &source;
    job.length = source.size();
    job.writer = &writer;
    job.threads = options.threads;
    const JobResult sealed = runCipherJob(job, options);
    return sealed.done() ? checkWholeFileRead(source, job.length) : sealed;
}

// The MD5 method: zstd frames compressed on all cores, each checked as it is written.
JobResult compressPayload(QFile& source, AtomicFileWriter& writer, const JobOptions& options)
{
    FrameJob job;
    job.compress = true;
    job.source = &source;
    job.length = source.size();
    job.writer = &writer;
    const JobResult compressed = runFrameJob(job, options);
    return compressed.done() ? checkWholeFileRead(source, job.length) : compressed;
}

// The most bytes the new content may take: the record head of an enhanced method, then the
// salt and the sealed chunks, or the frames at their worst.
qint64 largestContent(Method method, qint64 plainSize, qsizetype headSize)
{
    if (const std::optional<CipherAlgorithm> cipher = cipherOf(method))
        return headSize + sealedSize(*cipher, plainSize);
    return headSize + compressedSizeBound(plainSize);
}

JobResult startsWith(AtomicFileWriter& writer, const QByteArray& prefix)
{
    QByteArray readBack(prefix.size(), Qt::Uninitialized);
    if (!writer.flush() || !writer.readAt(0, readBack.data(), readBack.size()) ||
        readBack != prefix)
        return {JobOutcome::WriteFailed, JobStep::ReadBack,
                QStringLiteral("the record head or the salt did not read back as written")};
    return JobOutcome::Done;
}

} // namespace

JobResult encryptFile(const QString& path, int methodIndex, const QString& password,
                      const QString& hint, const JobOptions& options,
                      std::optional<EncryptionKeys> keys)
{
    const std::optional<Method> method = methodFromIndex(methodIndex);
    if (!method)
        return {JobOutcome::BadInput, JobStep::None, QStringLiteral("no such method")};
    // An encryption that wrote nothing would leave the plain file where the caller expects an
    // encrypted one.
    if (options.checkOnly)
        return {JobOutcome::WriteFailed, JobStep::None,
                QStringLiteral("encryption has no check-only mode")};
    QFile source(path);
    if (const SourceOpening opening = openSourceFile(source); !opening.opened)
        return {JobOutcome::SourceUnreadable, JobStep::OpenFile, opening.failure, opening.cause};
    // The rewrite gives the chosen name a new file: the file's other names would keep the
    // plain text.
    if (const int names = hardLinkCount(path); names > 1)
        return {JobOutcome::WriteFailed, JobStep::RefusedFile,
                QStringLiteral("the file has %1 names (hard links)").arg(names),
                FailureReason::SeveralNames};
    // The keys, unless they were derived beforehand for this method.
    if (!keys || keys->method != *method)
        keys = deriveEncryptionKeys(*method, password);
    if (!keys)
        return {JobOutcome::WriteFailed, JobStep::DeriveKeys,
                QStringLiteral("no random bytes, or the keys could not be derived")};

    // The enhanced record's first two values and the payload's length, which is patched in
    // once the payload is written.
    const QByteArray& passwordCheck = keys->passwordCheck;
    const QByteArray emptyHead =
        isEnhanced(*method) ? enhancedRecordHead(passwordCheck, hint, 0) : QByteArray();
    AtomicFileWriter writer(path);
    if (const JobResult opened = openRewrite(
            writer, largestContent(*method, source.size(), emptyHead.size()), source, options);
        !opened.done())
        return opened;
    if (writer.device().write(emptyHead) != emptyHead.size())
        return writeFailed(writer);
    const qint64 payloadStart = writer.device().pos();

    const std::optional<CipherAlgorithm> cipher = cipherOf(*method);
    const QByteArray& salt = keys->salt;
    const JobResult written = cipher ? encryptChunks(source, writer, *keys->cipher, salt, options)
                                     : compressPayload(source, writer, options);
    if (!written.done())
        return written;
    // Exactly what the chunks seal to, or something was lost or written twice.
    if (cipher && writer.device().pos() - payloadStart != sealedSize(*cipher, source.size()))
        return {JobOutcome::WriteFailed, JobStep::WriteTemporaryFile,
                QStringLiteral("%1 bytes were written where the chunks seal to %2")
                    .arg(writer.device().pos() - payloadStart)
                    .arg(sealedSize(*cipher, source.size()))};

    QByteArray head;
    if (isEnhanced(*method)) {
        const qint64 payloadEnd = writer.device().pos();
        head = enhancedRecordHead(passwordCheck, hint, payloadEnd - payloadStart);
        if (!writer.device().seek(payloadStart - kTypedLengthSize) ||
            !writeTypedLength(writer.device(), payloadEnd - payloadStart) ||
            !writer.device().seek(payloadEnd))
            return writeFailed(writer);
    }
    // The chunks and frames were checked as they were written; what precedes them is checked
    // here, byte for byte.
    if (options.verifyBeforeReplacing) {
        if (const JobResult checked = startsWith(writer, head + salt); !checked.done())
            return checked;
    }
    // Windows cannot replace a file that is still open without delete sharing, as Qt opens it.
    source.close();
    return commitRewrite(writer);
}

} // namespace virellock
