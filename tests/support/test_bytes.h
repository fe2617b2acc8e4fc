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

} // namespace virellock::test
