#pragma once

// Values written one after another, each self-delimiting: an 8-byte little-endian length
// followed by that many bytes. Byte sets are stored as they are, texts as UTF-8.

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QString>
#include <QStringView>

#include <limits>
#include <optional>

namespace virellock {

inline constexpr qint64 kTypedLengthSize = 8;

bool writeTypedLength(QIODevice& device, qint64 length);
bool writeTypedValue(QIODevice& device, QByteArrayView bytes);
bool writeTypedValue(QIODevice& device, QStringView text);

template <typename... Values> bool WriteTypedData(QIODevice& device, const Values&... values)
{
    return (writeTypedValue(device, values) && ...);
}

// Reads values from the device's current position. Every length is checked against what is
// left of the device before anything is allocated, so a hostile length cannot exhaust memory.
class TypedDataReader
{
public:
    static constexpr qint64 kNoLimit = std::numeric_limits<qint64>::max();

    explicit TypedDataReader(QIODevice& device) : m_device(device) {}

    // The next value's length; for a value that the caller reads in pieces itself.
    std::optional<qint64> readLength();
    // Each read also fails for a value longer than maxLength.
    bool read(QByteArray& bytes, qint64 maxLength = kNoLimit);
    // Fails for bytes that are not valid UTF-8.
    bool read(QString& text, qint64 maxLength = kNoLimit);
    bool atEnd() const { return m_device.bytesAvailable() == 0; }

private:
    QIODevice& m_device;
};

// Reads exactly the given values and fails unless they end the device: a short input, a length
// past the end and bytes left over are all refused.
template <typename... Values> bool ReadTypedData(QIODevice& device, Values&... values)
{
    TypedDataReader reader(device);
    return (reader.read(values) && ...) && reader.atEnd();
}

} // namespace virellock
