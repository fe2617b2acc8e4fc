#include "enhanced_record.h"

#include "host/file_format/typed_data.h"

#include <QBuffer>

namespace virellock {

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
    // The head as it lies in the file, bounded by the small fields' limits above.
    if (!device.seek(0))
        return std::nullopt;
    record.head = device.read(record.payload.offset);
    if (record.head.size() != record.payload.offset)
        return std::nullopt;
    return record;
}

} // namespace virellock
