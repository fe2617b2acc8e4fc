#include "encrypted_file.h"

#include "engine/file_pipeline.h"
#include "engine/methods.h"
#include "engine/parallel_cipher_job.h"
#include "host/data_ops/key_derivation.h"
#include "host/data_ops/password_check.h"
#include "host/data_ops/zstd_stream.h"
#include "host/host_services/typed_data.h"

#include <QBuffer>
#include <QFile>

namespace virellock {

using namespace dataops;

QByteArray enhancedRecordHead(const QByteArray& passwordCheck, const QString& hint,
                              qint64 payloadSize)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    WriteTypedData(buffer, passwordCheck, hint);
    writeTypedLength(buffer, payloadSize);
    return buffer.data();
}

std::optional<EnhancedRecord> readEnhancedRecord(QIODevice& device)
{
    TypedDataReader reader(device);
    EnhancedRecord record;
    if (!reader.read(record.password_check, kMaxPasswordCheckSize) ||
        !reader.read(record.hint, kMaxHintSize))
        return std::nullopt;
    const auto payloadSize = reader.readLength();
    if (!payloadSize || device.pos() + *payloadSize != device.size())
        return std::nullopt;
    record.payload = {device.pos(), *payloadSize};
    return record;
}

namespace {

// DES and RC4: the salt, then the chunks sealed on all cores, each checked as it is written.
JobOutcome encryptChunks(QFile& source, AtomicFileWriter& writer, CipherAlgorithm algorithm,
                         const QString& password, QByteArray& salt, const JobOptions& options)
{
    const std::optional<QByteArray> randomSalt = randomBytes(kSaltSize);
    if (!randomSalt)
        return JobOutcome::WriteFailed;
    salt = *randomSalt;
    const std::optional<ChunkCipher> cipher = ChunkCipher::fromPassword(algorithm, password, salt);
    if (!cipher || writer.device().write(salt) != kSaltSize)
        return JobOutcome::WriteFailed;
    CipherJob job;
    job.cipher = &*cipher;
    job.encrypt = true;
    job.source = &source;
    job.length = source.size();
    job.writer = &writer;
    job.threads = options.threads;
    const JobOutcome outcome = runCipherJob(job, options);
    // A file that grew while it was read would lose what was added: refuse to replace it.
    if (outcome == JobOutcome::Done && (source.size() != job.length || !source.atEnd()))
        return JobOutcome::SourceUnreadable;
    return outcome;
}

// The MD5 method: one zstd frame from zstd's own worker threads.
JobOutcome compressWhole(QFile& source, AtomicFileWriter& writer, Sha256& plainDigest,
                         const JobOptions& options)
{
    const std::unique_ptr<StreamTransform> compress = makeCompressStream(source.size());
    if (!compress)
        return JobOutcome::WriteFailed;
    const JobOutcome pumped = pumpThrough(source, std::nullopt, *compress, writeTo(writer.device()),
                                          &plainDigest, options.progress);
    // A compressor refuses input only when the file changed size while it was read.
    return pumped == JobOutcome::BadInput ? JobOutcome::WriteFailed : pumped;
}

bool startsWith(AtomicFileWriter& writer, const QByteArray& prefix)
{
    QByteArray readBack(prefix.size(), Qt::Uninitialized);
    return writer.flush() && writer.readAt(0, readBack.data(), readBack.size()) &&
           readBack == prefix;
}

} // namespace

JobOutcome encryptFile(const QString& path, int methodIndex, const QString& password,
                       const QString& hint, const JobOptions& options)
{
    const std::optional<Method> method = methodFromIndex(methodIndex);
    if (!method)
        return JobOutcome::BadInput;
    QFile source(path);
    if (!source.open(QIODevice::ReadOnly) || source.isSequential())
        return JobOutcome::SourceUnreadable;
    AtomicFileWriter writer(path);
    if (!writer.open())
        return JobOutcome::WriteFailed;

    // The enhanced record's first two values and the payload's length, which is patched in
    // once the payload is written.
    QByteArray passwordCheck;
    if (isEnhanced(*method)) {
        const auto check = makePasswordCheck(password);
        if (!check)
            return JobOutcome::WriteFailed;
        passwordCheck = *check;
        const QByteArray head = enhancedRecordHead(passwordCheck, hint, 0);
        if (writer.device().write(head) != head.size())
            return JobOutcome::WriteFailed;
    }
    const qint64 payloadStart = writer.device().pos();

    const std::optional<CipherAlgorithm> cipher = cipherOf(*method);
    QByteArray salt;
    Sha256 plainDigest;
    const JobOutcome written = cipher
                                   ? encryptChunks(source, writer, *cipher, password, salt, options)
                                   : compressWhole(source, writer, plainDigest, options);
    if (written != JobOutcome::Done)
        return written;
    // Exactly what the chunks seal to, or something was lost or written twice.
    if (cipher && writer.device().pos() - payloadStart != sealedSize(*cipher, source.size()))
        return JobOutcome::WriteFailed;

    QByteArray head;
    if (isEnhanced(*method)) {
        const qint64 payloadEnd = writer.device().pos();
        head = enhancedRecordHead(passwordCheck, hint, payloadEnd - payloadStart);
        if (!writer.device().seek(payloadStart - kTypedLengthSize) ||
            !writeTypedLength(writer.device(), payloadEnd - payloadStart) ||
            !writer.device().seek(payloadEnd))
            return JobOutcome::WriteFailed;
    }
    if (options.verifyBeforeReplacing) {
        // The chunks were checked as they were written; what precedes them is checked here.
        // The compressed frame is checked whole, by decompressing what reads back.
        const std::unique_ptr<StreamTransform> decompress =
            cipher ? nullptr : makeDecompressStream();
        const JobOutcome checked =
            cipher ? (startsWith(writer, head + salt) ? JobOutcome::Done : JobOutcome::WriteFailed)
            : decompress ? verifyWritten(writer, head, *decompress, plainDigest.result(), options)
                         : JobOutcome::WriteFailed;
        if (checked != JobOutcome::Done)
            return checked;
    }
    // Windows cannot replace a file that is still open without delete sharing, as Qt opens it.
    source.close();
    return writer.commit() ? JobOutcome::Done : JobOutcome::WriteFailed;
}

bool EncryptFile(const QString& path, int method, const QString& password, const QString& hint)
{
    return encryptFile(path, method, password, hint) == JobOutcome::Done;
}

} // namespace virellock
