#include "decrypted_file.h"

#include "engine/file_pipeline.h"
#include "host/data_ops/cipher_stream.h"
#include "host/data_ops/zstd_stream.h"

#include <QFile>

namespace virellock {

using namespace dataops;

namespace {

// Streams range of the file through transform into a temporary file and replaces the file with
// it once it reads back as written.
JobOutcome rewriteFromRange(const QString& path, std::optional<FileRange> range,
                            StreamTransform& transform, const JobOptions& options)
{
    QFile source(path);
    if (!source.open(QIODevice::ReadOnly) || source.isSequential())
        return JobOutcome::SourceUnreadable;
    const FileRange part = range.value_or(FileRange{0, source.size()});
    // The file must still be what the record described.
    if (part.offset + part.size != source.size() || !source.seek(part.offset))
        return JobOutcome::BadInput;

    AtomicFileWriter writer(path);
    if (!writer.open()) {
        // Say that the content is foreign rather than that the write failed, when it is.
        const JobOutcome checked =
            pumpThrough(source, part.size, transform, nullptr, nullptr, nullptr, options.progress);
        return checked == JobOutcome::Done ? JobOutcome::WriteFailed : checked;
    }
    Sha256 plainDigest;
    const JobOutcome pumped = pumpThrough(source, part.size, transform, &writer.device(), nullptr,
                                          &plainDigest, options.progress);
    if (pumped != JobOutcome::Done)
        return pumped;
    if (options.verifyBeforeReplacing &&
        !verifyWritten(writer, {}, nullptr, plainDigest.result(), options))
        return JobOutcome::WriteFailed;
    return writer.commit() ? JobOutcome::Done : JobOutcome::WriteFailed;
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
    const auto transform = makeDecryptStream(cipher, password);
    return rewriteFromRange(path, std::nullopt, *transform, options);
}

JobOutcome restoreEnhancedFile(const QString& path, Method method, const EnhancedRecord& record,
                               const QString& password, const JobOptions& options)
{
    const std::optional<CipherAlgorithm> cipher = cipherOf(method);
    const std::unique_ptr<StreamTransform> transform =
        cipher ? makeDecryptStream(*cipher, password) : makeDecompressStream();
    if (!transform)
        return JobOutcome::WriteFailed;
    return rewriteFromRange(path, record.payload, *transform, options);
}

} // namespace virellock
