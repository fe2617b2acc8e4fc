#include "encrypted_file.h"

#include "engine/file_pipeline.h"
#include "engine/methods.h"
#include "host/data_ops/cipher_stream.h"
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

JobOutcome encryptFile(const QString& path, int methodIndex, const CommandControls& controls,
                       const JobOptions& options)
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

    const QString password = controls.passwordText();
    const std::optional<CipherAlgorithm> cipher = cipherOf(*method);
    const std::unique_ptr<StreamTransform> forward =
        cipher ? makeEncryptStream(*cipher, password) : makeCompressStream(source.size());
    if (!forward)
        return JobOutcome::WriteFailed;

    QByteArray passwordCheck;
    QString hint;
    if (isEnhanced(*method)) {
        const auto check = makePasswordCheck(password);
        if (!check)
            return JobOutcome::WriteFailed;
        passwordCheck = *check;
        hint = controls.hintText();
        // The payload's length is patched in once it is known.
        const QByteArray head = enhancedRecordHead(passwordCheck, hint, 0);
        if (writer.device().write(head) != head.size())
            return JobOutcome::WriteFailed;
    }
    const qint64 payloadStart = writer.device().pos();

    Sha256 plainDigest;
    const JobOutcome pumped = pumpThrough(source, std::nullopt, *forward, &writer.device(),
                                          &plainDigest, nullptr, options.progress);
    if (pumped != JobOutcome::Done)
        return pumped == JobOutcome::BadInput ? JobOutcome::WriteFailed : pumped;

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
        const std::unique_ptr<StreamTransform> inverse =
            cipher ? makeDecryptStream(*cipher, password) : makeDecompressStream();
        if (!inverse || !verifyWritten(writer, head, inverse.get(), plainDigest.result(), options))
            return JobOutcome::WriteFailed;
    }
    return writer.commit() ? JobOutcome::Done : JobOutcome::WriteFailed;
}

bool EncryptFile(const QString& path, int method, const CommandControls& controls)
{
    return encryptFile(path, method, controls) == JobOutcome::Done;
}

} // namespace virellock
