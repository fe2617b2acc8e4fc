#include "encrypted_file.h"

#include "engine/methods.h"
#include "engine/parallel_cipher_job.h"
#include "engine/parallel_frame_job.h"
#include "host/data_ops/key_derivation.h"
#include "host/data_ops/password_check.h"
#include "host/file_format/typed_data.h"
#include "host/host_services/file_services.h"
#include "host/host_services/source_file.h"

#include <QFile>

namespace virellock {

using namespace dataops;

namespace {

// DES and RC4: the salt, then the chunks sealed on all cores, each checked as it is written.
JobResult encryptChunks(QFile& source, AtomicFileWriter& writer, const ChunkCipher& cipher,
                        const QByteArray& salt, const JobOptions& options)
{
    if (writer.device().write(salt) != kSaltSize)
        return {JobOutcome::WriteFailed, JobStep::WriteTemporaryFile, writer.errorString()};
    CipherJob job;
    job.cipher = &cipher;
    job.encrypt = true;
    job.source = &source;
    job.length = source.size();
    job.writer = &writer;
    job.threads = options.threads;
    const JobResult sealed = runCipherJob(job, options);
    // A file that grew while it was read would lose what was added: refuse to replace it.
    if (sealed.done() && (source.size() != job.length || !source.atEnd()))
        return {JobOutcome::SourceUnreadable, JobStep::FileChanged,
                QStringLiteral("%1 bytes were read, the file now holds %2")
                    .arg(job.length)
                    .arg(source.size())};
    return sealed;
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
    // A file that grew while it was read would lose what was added: refuse to replace it.
    if (compressed.done() && (source.size() != job.length || !source.atEnd()))
        return {JobOutcome::WriteFailed, JobStep::FileChanged,
                QStringLiteral("%1 bytes were read, the file now holds %2")
                    .arg(job.length)
                    .arg(source.size())};
    return compressed;
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
        return {JobOutcome::SourceUnreadable, JobStep::OpenFile, opening.failure};
    // The rewrite gives the chosen name a new file: the file's other names would keep the
    // plain text.
    if (const int names = hardLinkCount(path); names > 1)
        return {JobOutcome::WriteFailed, JobStep::RefusedFile,
                QStringLiteral("the file has %1 names (hard links)").arg(names)};
    AtomicFileWriter writer(path);
    if (!writer.open())
        return {JobOutcome::WriteFailed,
                isReadOnlyFile(path) ? JobStep::RefusedFile : JobStep::OpenTemporaryFile,
                writer.errorString()};

    // The keys, unless they were derived beforehand for this method.
    if (!keys || keys->method != *method)
        keys = deriveEncryptionKeys(*method, password);
    if (!keys)
        return {JobOutcome::WriteFailed, JobStep::DeriveKeys,
                QStringLiteral("no random bytes, or the keys could not be derived")};

    // The enhanced record's first two values and the payload's length, which is patched in
    // once the payload is written.
    const QByteArray& passwordCheck = keys->passwordCheck;
    if (isEnhanced(*method)) {
        const QByteArray head = enhancedRecordHead(passwordCheck, hint, 0);
        if (writer.device().write(head) != head.size())
            return {JobOutcome::WriteFailed, JobStep::WriteTemporaryFile, writer.errorString()};
    }
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
            return {JobOutcome::WriteFailed, JobStep::WriteTemporaryFile, writer.errorString()};
    }
    // The chunks and frames were checked as they were written; what precedes them is checked
    // here, byte for byte.
    if (options.verifyBeforeReplacing) {
        if (const JobResult checked = startsWith(writer, head + salt); !checked.done())
            return checked;
    }
    // Windows cannot replace a file that is still open without delete sharing, as Qt opens it.
    source.close();
    if (!writer.commit())
        return {JobOutcome::WriteFailed, JobStep::Replace, writer.errorString()};
    return JobOutcome::Done;
}

bool EncryptFile(const QString& path, int method, const QString& password, const QString& hint)
{
    return encryptFile(path, method, password, hint).done();
}

} // namespace virellock
