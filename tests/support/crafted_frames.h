#pragma once

// zstd frames made by hand, block by block, as a hostile file may hold them.

#include <QByteArray>
#include <QByteArrayView>

namespace virellock::test {

// A block as a frame stores it: its 3-byte header (last flag, type, size), then what it
// stores: its content, or one byte for an RLE block.
inline QByteArray zstdBlock(int type, qsizetype size, bool last, QByteArrayView stored)
{
    const quint32 fields = quint32(last) | quint32(type) << 1 | quint32(size) << 3;
    QByteArray bytes;
    bytes += char(fields & 0xff);
    bytes += char((fields >> 8) & 0xff);
    bytes += char((fields >> 16) & 0xff);
    return bytes + stored.toByteArray();
}

inline QByteArray rawBlock(QByteArrayView content, bool last = false)
{
    return zstdBlock(0, content.size(), last, content);
}

inline QByteArray rleBlock(char byte, qsizetype size, bool last = false)
{
    return zstdBlock(1, size, last, QByteArrayView(&byte, 1));
}

// count frames whose headers declare 4 MiB of content each (single segment, checksum), each
// holding blocks, then an empty last block and a checksum that is never right.
inline QByteArray fullFramesOf(const QByteArray& blocks, qsizetype count)
{
    const QByteArray header = QByteArray::fromHex("28b52ffd"   // magic
                                                  "a4"         // descriptor
                                                  "00004000"); // content size: 4 MiB
    return (header + blocks + rawBlock({}, true) + QByteArray(4, '\0')).repeated(count);
}

// Raw blocks of one byte each, count of them, none the last.
inline QByteArray oneByteRawBlocks(qsizetype count)
{
    return rawBlock("x").repeated(count);
}

// The shape of a payload that once took minutes to refuse: frames as long as a frame may be
// (a few bytes short of frameBytes), each nothing but empty raw blocks after a header that
// declares 4 MiB.
inline QByteArray emptyRawBlockFrames(qsizetype frameBytes, qsizetype count)
{
    return fullFramesOf(QByteArray((frameBytes - 20) / 3 * 3, '\0'), count);
}

} // namespace virellock::test
