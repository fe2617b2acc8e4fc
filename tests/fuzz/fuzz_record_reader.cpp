// The reader of the enhanced methods' record, and the typed-data reader under it, on any bytes.
// The input is the whole file.

#include "fuzz_check.h"
#include "host/file_format/enhanced_record.h"
#include "host/file_format/typed_data.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

using namespace virellock;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));

    QBuffer recordDevice(&input);
    recordDevice.open(QIODevice::ReadOnly);
    const std::optional<EnhancedRecord> record = readEnhancedRecord(recordDevice);

    QBuffer typedDevice(&input);
    typedDevice.open(QIODevice::ReadOnly);
    QByteArray passwordCheck;
    QString hint;
    QByteArray payload;
    const bool typed = ReadTypedData(typedDevice, passwordCheck, hint, payload);

    if (typed) {
        // What was read writes back to the same bytes: nothing was lost, added or reinterpreted.
        QBuffer written;
        written.open(QIODevice::WriteOnly);
        FUZZ_CHECK(WriteTypedData(written, passwordCheck, hint, payload));
        FUZZ_CHECK(written.data() == input);
    }

    // The record is the same three values, with bounds on the two small ones.
    const bool withinBounds =
        passwordCheck.size() <= kMaxPasswordCheckSize && hint.toUtf8().size() <= kMaxHintSize;
    FUZZ_CHECK(record.has_value() == (typed && withinBounds));
    if (record) {
        FUZZ_CHECK(record->password_check == passwordCheck);
        FUZZ_CHECK(record->hint == hint);
        const FileRange range = record->payload;
        FUZZ_CHECK(range.offset >= 0 && range.size >= 0 &&
                   range.offset + range.size == input.size());
        FUZZ_CHECK(input.sliced(range.offset) == payload);
        FUZZ_CHECK(enhancedRecordHead(passwordCheck, hint, range.size) ==
                   input.first(range.offset));
    }
    return 0;
}
