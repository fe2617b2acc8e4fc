#pragma once

#include <QByteArray>
#include <QRandomGenerator>

namespace virellock::test {

// Reproducible pseudo-random bytes, so that a failing row can be rerun as it was.
inline QByteArray patternBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(generator.generate() >> 24);
    return bytes;
}

inline QByteArray flipBit(QByteArray bytes, qsizetype index)
{
    bytes[index] = static_cast<char>(bytes.at(index) ^ 0x10);
    return bytes;
}

// Text that compresses, then reproducible random bytes that do not: both kinds of chunk and
// of zstd frame in one file.
inline QByteArray textThenRandom(qsizetype size, quint32 seed)
{
    QByteArray text;
    for (int line = 0; text.size() < size / 2; ++line)
        text += "line " + QByteArray::number(line) + " of the text 行\n";
    text.truncate(size / 2);
    return text + patternBytes(size - text.size(), seed);
}

// What the read-back tests write over the temporary file, not knowing what is there (the
// writer's device cannot read): one byte would already be there in 1 of 256 runs over
// ciphertext, which then passed as written; eight bytes in practice never are.
inline QByteArray badWrite()
{
    return QByteArray::fromHex("5aa53cc396690ff0");
}

} // namespace virellock::test
