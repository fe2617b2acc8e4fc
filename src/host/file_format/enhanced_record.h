#pragma once

// The record of the enhanced methods: three typed values (typed_data.h), nothing before or
// after them:
//   password_check  byte set  a salted scrypt verifier of the password
//   hint            text      the password-forgotten hint, as typed (UTF-8)
//   payload         byte set  the cipher output, or the compressed file for the MD5 method
// docs/FORMAT.md has the bytes.

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <optional>

namespace virellock {

// Where a value lies in a file; the payload is streamed, never held whole.
struct FileRange
{
    qint64 offset = 0;
    qint64 size = 0;
};

struct EnhancedRecord
{
    QByteArray password_check;
    QString hint;
    FileRange payload;
    // The record's bytes before the payload, exactly as read: what the password was checked
    // against must still be what is restored.
    QByteArray head;
};

// Upper bounds for the two small fields, so that a foreign file cannot make the reader
// allocate much: a real password check is 48 bytes, and the hint box holds 32767 characters.
inline constexpr qint64 kMaxPasswordCheckSize = 4096;
inline constexpr qint64 kMaxHintSize = 1 << 20;

// The bytes that precede a payload of the given size.
QByteArray enhancedRecordHead(const QByteArray& passwordCheck, const QString& hint,
                              qint64 payloadSize);

// Reads the record from the device's start. Fails unless it is exactly three values that end
// the device, with the small fields within their bounds.
std::optional<EnhancedRecord> readEnhancedRecord(QIODevice& device);

} // namespace virellock
