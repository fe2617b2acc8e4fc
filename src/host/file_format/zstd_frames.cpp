#include "zstd_frames.h"

#include "host/data_ops/secure_wipe.h"

// For ZSTD_getFrameHeader(), exported by every libzstd 1.5.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <algorithm>
#include <limits>
#include <utility>

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

// A walk's reads start at a frame header (at most 18 bytes) and its first block header, and
// grow to 64 KiB while headers fall close together: enough to make a read per header cheap
// against the bytes it brings, little enough to stay in the CPU's caches.
constexpr qint64 kSmallestRead = 32;
constexpr qint64 kLargestRead = qint64(64) << 10;
static_assert(kSmallestRead >= ZSTD_FRAMEHEADERSIZE_MAX + kBlockHeaderSize);
// How many blocks a walk goes between asking whether to go on: a few reads of 64 KiB at most.
constexpr qint64 kBlocksBetweenAsking = 256;

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

std::optional<BlockHeader> readBlockHeader(const unsigned char* bytes, qint64 blocksBefore)
{
    const quint32 fields = quint32(bytes[0]) | quint32(bytes[1]) << 8 | quint32(bytes[2]) << 16;
    const bool last = (fields & 1) != 0;
    const quint32 type = (fields >> 1) & 3;
    const qint64 size = fields >> 3;
    if (type > CompressedBlock || size > ZSTD_BLOCKSIZE_MAX || blocksBefore >= kMaxBlocksPerFrame)
        return std::nullopt;
    // zstd writes an empty block only to end a frame; before the end one only costs a reader.
    if (size == 0 && !last)
        return std::nullopt;
    // An RLE block stores one byte, repeated size times.
    return BlockHeader{last, type == RleBlock ? 1 : size};
}

FrameWalker::FrameWalker(ReadAt read, qint64 length, KeepGoing keepGoing)
    : m_read(std::move(read)), m_length(length), m_keepGoing(std::move(keepGoing))
{}

// The buffer may hold raw blocks, which are plain text as it is.
FrameWalker::~FrameWalker()
{
    if (!m_buffer.empty())
        secureWipe(m_buffer.data(), m_buffer.size());
}

bool FrameWalker::fill(qint64 offset, qint64 size)
{
    const qint64 end = m_start + m_buffered;
    if (offset >= m_start && offset + size <= end)
        return true;
    // Headers that keep landing within a read's reach of the last one double the next read;
    // one far beyond it means large blocks, whose content a bigger read would only copy.
    const bool near = m_buffered > 0 && offset - end < m_readSize;
    m_readSize = near ? std::min(2 * m_readSize, kLargestRead) : kSmallestRead;
    const qint64 wanted = std::min(std::max(size, m_readSize), m_length - offset);
    if (wanted < size)
        return false;
    if (m_buffer.empty())
        m_buffer.resize(std::size_t(std::max(kLargestRead, size)));
    m_start = offset;
    m_buffered = 0;
    if (!m_read(offset, m_buffer.data(), wanted))
        return false;
    m_buffered = wanted;
    return true;
}

std::optional<FrameExtent> FrameWalker::walk(qint64 offset)
{
    Q_ASSERT(offset >= 0 && offset <= m_length);
    if (m_cancelled)
        return std::nullopt;
    const qint64 end = std::min(m_length, offset + qint64(kMaxFrameSize));
    const qint64 headerBytes = std::min<qint64>(ZSTD_FRAMEHEADERSIZE_MAX, end - offset);
    if (headerBytes <= 0 || !fill(offset, headerBytes))
        return std::nullopt;
    const FrameHeader header = readFrameHeader(QByteArrayView(bytesAt(offset), headerBytes));
    if (header.status != FrameHeader::Good)
        return std::nullopt;

    qint64 at = offset + header.headerSize;
    for (qint64 blocks = 0;; ++blocks) {
        if (at + kBlockHeaderSize > end || !fill(at, kBlockHeaderSize))
            return std::nullopt;
        const std::optional<BlockHeader> block =
            readBlockHeader(reinterpret_cast<const unsigned char*>(bytesAt(at)), blocks);
        if (!block)
            return std::nullopt;
        at += kBlockHeaderSize + block->storedSize;
        // Counted across frames: a frame may be a single block.
        if (++m_blocksSinceAsked >= kBlocksBetweenAsking) {
            m_blocksSinceAsked = 0;
            if (m_keepGoing && !m_keepGoing()) {
                m_cancelled = true;
                return std::nullopt;
            }
        }
        if (block->last)
            break;
    }
    at += kChecksumSize;
    if (at > end)
        return std::nullopt;
    return FrameExtent{at - offset, header.contentSize};
}

std::optional<FrameExtent> walkFrame(const ReadAt& read, qint64 offset, qint64 length)
{
    return FrameWalker(read, length).walk(offset);
}

FrameSequence walkFrames(const ReadAt& read, qint64 length, qint64 contentLimit,
                         const KeepGoing& keepGoing)
{
    FrameWalker walker(read, length, keepGoing);
    FrameSequence sequence;
    qint64 offset = 0;
    for (;;) {
        const std::optional<FrameExtent> frame = walker.walk(offset);
        if (!frame) {
            if (walker.cancelled())
                sequence.status = FrameSequence::Cancelled;
            return {sequence.status, 0, sequence.frames};
        }
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
