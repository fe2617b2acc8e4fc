#include "zstd_frames.h"

#include "host/data_ops/secure_wipe.h"

// For ZSTD_getFrameHeader(), exported by every libzstd 1.5.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <algorithm>
#include <limits>

namespace virellock::dataops {

static_assert(kMaxFrameSize == qsizetype(ZSTD_COMPRESSBOUND(kFrameContentSize)));

namespace {

// A block header (RFC 8878, 3.1.1.2): three little-endian bytes holding the last-block flag
// (bit 0), the type (bits 1-2: raw, RLE, compressed, reserved) and the size (bits 3-23).
constexpr qint64 kBlockHeaderSize = 3;
constexpr qint64 kChecksumSize = 4;
enum BlockType
{
    RawBlock = 0,
    RleBlock = 1,
    CompressedBlock = 2,
};

} // namespace

struct FrameCompressor::Context
{
    ~Context() { ZSTD_freeCCtx(context); }
    ZSTD_CCtx* context = nullptr;
};

struct FrameDecompressor::Context
{
    ~Context() { ZSTD_freeDCtx(context); }
    ZSTD_DCtx* context = nullptr;
};

qint64 frameCount(qint64 plainSize)
{
    Q_ASSERT(plainSize >= 0);
    return plainSize / kFrameContentSize + 1;
}

qint64 compressedSizeBound(qint64 plainSize)
{
    const qint64 fullFrames = frameCount(plainSize) - 1;
    const qint64 last = plainSize - fullFrames * kFrameContentSize;
    return fullFrames * qint64(ZSTD_COMPRESSBOUND(kFrameContentSize)) +
           qint64(ZSTD_COMPRESSBOUND(last));
}

FrameHeader readFrameHeader(QByteArrayView bytes)
{
    ZSTD_frameHeader header{};
    const std::size_t needed =
        ZSTD_getFrameHeader(&header, bytes.data(), static_cast<std::size_t>(bytes.size()));
    if (ZSTD_isError(needed))
        return {};
    if (needed > 0)
        return {FrameHeader::NeedMore, qint64(needed)};
    // Only what the writer makes: no skippable frame, no dictionary, the content size and the
    // checksum present, no frame or window larger than the writer's.
    if (header.frameType != ZSTD_frame || !header.checksumFlag || header.dictID != 0 ||
        header.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN ||
        header.frameContentSize == ZSTD_CONTENTSIZE_ERROR ||
        header.frameContentSize > quint64(kFrameContentSize) ||
        header.windowSize > (quint64(1) << kFrameWindowLog))
        return {};
    return {FrameHeader::Good, qint64(header.headerSize), qint64(header.frameContentSize)};
}

std::optional<FrameExtent> walkFrame(const ReadAt& read, qint64 offset, qint64 length)
{
    Q_ASSERT(offset >= 0 && offset <= length);
    const qint64 end = std::min(length, offset + qint64(kMaxFrameSize));
    char bytes[ZSTD_FRAMEHEADERSIZE_MAX];
    const qint64 headerBytes = std::min<qint64>(sizeof bytes, end - offset);
    if (headerBytes <= 0 || !read(offset, bytes, headerBytes))
        return std::nullopt;
    const FrameHeader header = readFrameHeader(QByteArrayView(bytes, headerBytes));
    if (header.status != FrameHeader::Good)
        return std::nullopt;

    qint64 at = offset + header.headerSize;
    for (bool last = false; !last;) {
        unsigned char blockHeader[kBlockHeaderSize];
        if (at + kBlockHeaderSize > end ||
            !read(at, reinterpret_cast<char*>(blockHeader), kBlockHeaderSize))
            return std::nullopt;
        const quint32 fields =
            quint32(blockHeader[0]) | quint32(blockHeader[1]) << 8 | quint32(blockHeader[2]) << 16;
        last = (fields & 1) != 0;
        const quint32 type = (fields >> 1) & 3;
        const qint64 size = fields >> 3;
        if (type > CompressedBlock || size > ZSTD_BLOCKSIZE_MAX)
            return std::nullopt;
        // An RLE block stores one byte, repeated size times.
        at += kBlockHeaderSize + (type == RleBlock ? 1 : size);
    }
    at += kChecksumSize;
    if (at > end)
        return std::nullopt;
    return FrameExtent{at - offset, header.contentSize};
}

FrameSequence walkFrames(const ReadAt& read, qint64 length, qint64 contentLimit)
{
    FrameSequence sequence;
    qint64 offset = 0;
    for (;;) {
        const std::optional<FrameExtent> frame = walkFrame(read, offset, length);
        if (!frame)
            return {};
        offset += frame->size;
        sequence.contentSize += frame->contentSize;
        ++sequence.frames;
        if (sequence.contentSize > contentLimit)
            return {FrameSequence::TooLarge, sequence.contentSize, sequence.frames};
        const bool full = frame->contentSize == kFrameContentSize;
        // A full frame is never the last; one less than full always is.
        if (full != (offset < length))
            return {};
        if (!full) {
            sequence.status = FrameSequence::Good;
            return sequence;
        }
    }
}

FrameCompressor::FrameCompressor()
{
    auto context = std::make_unique<Context>();
    context->context = ZSTD_createCCtx();
    if (!context->context)
        return;
    auto set = [&](ZSTD_cParameter parameter, int value) {
        return !ZSTD_isError(ZSTD_CCtx_setParameter(context->context, parameter, value));
    };
    if (set(ZSTD_c_compressionLevel, kCompressionLevel) && set(ZSTD_c_checksumFlag, 1) &&
        set(ZSTD_c_contentSizeFlag, 1) && set(ZSTD_c_windowLog, kFrameWindowLog))
        m_context = std::move(context);
}

FrameCompressor::~FrameCompressor() = default;

bool FrameCompressor::compress(QByteArrayView plain, QByteArray& out)
{
    Q_ASSERT_X(plain.size() <= kFrameContentSize, "FrameCompressor::compress",
               "the plain text was cut at the wrong place");
    if (!m_context || plain.size() > kFrameContentSize)
        return false;
    const qsizetype start = out.size();
    const std::size_t bound = ZSTD_compressBound(static_cast<std::size_t>(plain.size()));
    out.resize(start + qsizetype(bound));
    // One call with the whole frame's content: zstd writes the content size into the header
    // and compresses on this thread, so the bytes do not depend on the number of threads.
    const std::size_t written = ZSTD_compress2(m_context->context, out.data() + start, bound,
                                               plain.data(), std::size_t(plain.size()));
    if (ZSTD_isError(written)) {
        out.resize(start);
        return false;
    }
    out.resize(start + qsizetype(written));
    return true;
}

FrameDecompressor::FrameDecompressor()
{
    auto context = std::make_unique<Context>();
    context->context = ZSTD_createDCtx();
    if (context->context && !ZSTD_isError(ZSTD_DCtx_setParameter(
                                context->context, ZSTD_d_windowLogMax, kFrameWindowLog)))
        m_context = std::move(context);
}

FrameDecompressor::~FrameDecompressor() = default;

bool FrameDecompressor::decompress(QByteArrayView frame, QByteArray& out)
{
    if (!m_context)
        return false;
    // zstd's own walk must find exactly one frame, and the header must follow the rules.
    const ReadAt read = [frame](qint64 offset, char* data, qint64 size) {
        std::copy_n(frame.data() + offset, size, data);
        return true;
    };
    const std::optional<FrameExtent> extent = walkFrame(read, 0, frame.size());
    if (!extent || extent->size != frame.size() ||
        ZSTD_findFrameCompressedSize(frame.data(), std::size_t(frame.size())) !=
            std::size_t(frame.size()))
        return false;
    const qsizetype start = out.size();
    out.resize(start + qsizetype(extent->contentSize));
    // Decodes straight into out, checking the content size and the checksum.
    const std::size_t written = ZSTD_decompressDCtx(m_context->context, out.data() + start,
                                                    std::size_t(extent->contentSize), frame.data(),
                                                    std::size_t(frame.size()));
    if (ZSTD_isError(written) || written != std::size_t(extent->contentSize)) {
        secureWipe(out.data() + start, std::size_t(out.size() - start));
        out.resize(start);
        return false;
    }
    return true;
}

std::optional<QByteArray> compressFrames(QByteArrayView plain)
{
    FrameCompressor compressor;
    if (!compressor.isValid())
        return std::nullopt;
    QByteArray out;
    const qint64 frames = frameCount(plain.size());
    for (qint64 index = 0; index < frames; ++index) {
        const qsizetype at = qsizetype(index) * kFrameContentSize;
        const QByteArrayView content =
            index + 1 == frames ? plain.sliced(at) : plain.sliced(at, kFrameContentSize);
        if (!compressor.compress(content, out))
            return std::nullopt;
    }
    return out;
}

std::optional<QByteArray> decompressFrames(QByteArrayView compressed)
{
    FrameDecompressor decompressor;
    if (!decompressor.isValid())
        return std::nullopt;
    const ReadAt read = [compressed](qint64 offset, char* data, qint64 size) {
        std::copy_n(compressed.data() + offset, size, data);
        return true;
    };
    // The layout first, so that nothing is decoded from an output that breaks it; a whole
    // byte set in memory may declare as much as a qsizetype holds.
    const FrameSequence sequence =
        walkFrames(read, compressed.size(), std::numeric_limits<qsizetype>::max());
    if (sequence.status != FrameSequence::Good)
        return std::nullopt;
    // Grown as frames decode, not reserved from what the headers declare: a small foreign input
    // may declare far more than it holds, and the first frame that lies fails.
    QByteArray out;
    for (qint64 offset = 0; offset < compressed.size();) {
        const std::optional<FrameExtent> frame = walkFrame(read, offset, compressed.size());
        if (!frame || !decompressor.decompress(compressed.sliced(offset, frame->size), out)) {
            wipe(out);
            return std::nullopt;
        }
        offset += frame->size;
    }
    return out;
}

} // namespace virellock::dataops
