#include "typed_data.h"

#include <QStringDecoder>
#include <QtEndian>

namespace virellock {

bool writeTypedLength(QIODevice& device, qint64 length)
{
    char bytes[kTypedLengthSize];
    qToLittleEndian(quint64(length), bytes);
    return length >= 0 && device.write(bytes, kTypedLengthSize) == kTypedLengthSize;
}

bool writeTypedValue(QIODevice& device, QByteArrayView bytes)
{
    return writeTypedLength(device, bytes.size()) &&
           device.write(bytes.data(), bytes.size()) == bytes.size();
}

bool writeTypedValue(QIODevice& device, QStringView text)
{
    return writeTypedValue(device, QByteArrayView(text.toUtf8()));
}

std::optional<qint64> TypedDataReader::readLength()
{
    char bytes[kTypedLengthSize];
    if (m_device.read(bytes, kTypedLengthSize) != kTypedLengthSize)
        return std::nullopt;
    const quint64 length = qFromLittleEndian<quint64>(bytes);
    if (length > quint64(m_device.bytesAvailable()))
        return std::nullopt;
    return qint64(length);
}

bool TypedDataReader::read(QByteArray& bytes, qint64 maxLength)
{
    const std::optional<qint64> length = readLength();
    if (!length || *length > maxLength)
        return false;
    QByteArray value = m_device.read(*length);
    if (value.size() != *length)
        return false;
    bytes = std::move(value);
    return true;
}

bool TypedDataReader::read(QString& text, qint64 maxLength)
{
    QByteArray bytes;
    if (!read(bytes, maxLength))
        return false;
    // A leading U+FEFF is part of the text, not a byte-order mark to drop.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    QString value = decoder.decode(bytes);
    if (decoder.hasError())
        return false;
    text = std::move(value);
    return true;
}

} // namespace virellock
