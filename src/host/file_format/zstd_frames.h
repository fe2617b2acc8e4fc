#pragma once

// The compressed output (the MD5 method's payload, CompressData): a sequence of independent
// zstd frames (RFC 8878), which zstd's own tools read as one stream. docs/FORMAT.md has the
// bytes.

#include <QByteArray>
#include <QByteArrayView>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace virellock::dataops {

// zstd level 3, the command-line tool's default: a good ratio at several hundred MiB/s a core.
inline constexpr int kCompressionLevel = 3;

// Every frame but the last holds exactly this many plain bytes; the last holds fewer, possibly
// none, so a writer never looks ahead to know which frame is the last, and a sequence cut at a
// frame boundary ends with a full frame, which no writer makes. Frames share nothing, so each
// core compresses and decompresses frames of its own; 4 MiB keeps the ratio within 0.3 % of one
// frame for the whole file (1 MiB loses about 1.5 %) while a few frames in flight per core stay
// far below the memory limit, and a 256 MiB file still makes 64 frames to share out.
inline constexpr qsizetype kFrameContentSize = qsizetype(4) << 20;
// The window the writer asks for: as large as a frame's content, so a full frame is a single
// segment and the decoder needs no window beyond the frame it decodes into. Readers refuse a
// frame that asks for more.
inline constexpr int kFrameWindowLog = 22;
static_assert(qsizetype(1) << kFrameWindowLog == kFrameContentSize);
// The most bytes a frame of kFrameContentSize plain bytes compresses to (zstd's
// ZSTD_COMPRESSBOUND); readers refuse longer frames, which bounds what one frame costs to hold.
inline constexpr qsizetype kMaxFrameSize = kFrameContentSize + (kFrameContentSize >> 8);

// How many frames a plain text of the given size is cut into: floor(size / 4 MiB) + 1.
[[nodiscard]] qint64 frameCount(qint64 plainSize);
// The most bytes the frames of a plain text of the given size compress to: zstd's bound for
// each frame's content, summed.
[[nodiscard]] qint64 compressedSizeBound(qint64 plainSize);

// Where a frame lies and what its header declares, found without decompressing it.
struct FrameExtent
{
    qint64 size = 0;        // compressed bytes, header to checksum
    qint64 contentSize = 0; // plain bytes, as declared
};

// What a frame header at the start of some bytes declares, by FrameWalker's rules below.
struct FrameHeader
{
    enum Status
    {
        Good,
        NeedMore, // the bytes end inside the header, which needs headerSize bytes in all
        Refused,
    };
    Status status = Refused;
    qint64 headerSize = 0;
    qint64 contentSize = 0;
};

[[nodiscard]] FrameHeader readFrameHeader(QByteArrayView bytes);

// Reads exactly size bytes at offset of the compressed output into data; false when it cannot.
using ReadAt = std::function<bool(qint64 offset, char* data, qint64 size)>;
// Asked every so many blocks of a long walk whether to go on; false cancels the walk.
using KeepGoing = std::function<bool()>;

// The most blocks a frame may hold. A full frame is 32 blocks of 128 KiB. zstd may split them:
// before parsing into pieces of 8 KiB or more (at most 512 blocks for 4 MiB), and at its
// strongest levels after parsing into at most 197 pieces a block (6,304 for 4 MiB). The cap
// sits above either, whatever release wrote the frame, and bounds the headers that a frame of
// tiny blocks makes a reader walk.
inline constexpr qint64 kMaxBlocksPerFrame = 8192;

// What a block header declares, by FrameWalker's rules below.
struct BlockHeader
{
    bool last = false;
    qint64 storedSize = 0; // the bytes that follow the header in the frame
};

// The 3-byte header of the block that has blocksBefore blocks before it in its frame; nothing
// when the block breaks a rule.
[[nodiscard]] std::optional<BlockHeader> readBlockHeader(const unsigned char* bytes,
                                                         qint64 blocksBefore);

// Walks frames of a compressed output of length bytes, reading only their headers and block
// headers, without decompressing. The frame header must declare a zstd frame with its content
// size (at most kFrameContentSize) and a checksum, no dictionary and a window of at most
// 2^kFrameWindowLog bytes; the blocks must be of a known type, at most 128 KiB each, at most
// kMaxBlocksPerFrame, none but the last empty (zstd never writes such a block), and end, with
// the checksum, within length and within kMaxFrameSize.
//
// The headers are read through a buffer of its own: while they fall close together its reads
// grow up to 64 KiB, so that a frame of tiny blocks costs a read per 64 KiB rather than one per
// header; when blocks are large it reads little more than the header it needs, not the content
// it skips.
class FrameWalker
{
public:
    // keepGoing, when set, is asked every few hundred blocks.
    FrameWalker(ReadAt read, qint64 length, KeepGoing keepGoing = {});
    ~FrameWalker();
    FrameWalker(const FrameWalker&) = delete;
    FrameWalker& operator=(const FrameWalker&) = delete;

    // The frame that starts at offset; nothing when it breaks a rule, cannot be read, or the
    // walk was cancelled.
    [[nodiscard]] std::optional<FrameExtent> walk(qint64 offset);
    [[nodiscard]] bool cancelled() const { return m_cancelled; }

private:
    // Makes the size bytes at offset readable through bytesAt(); false when they cannot be read.
    bool fill(qint64 offset, qint64 size);
    const char* bytesAt(qint64 offset) const { return m_buffer.data() + (offset - m_start); }

    const ReadAt m_read;
    const qint64 m_length;
    const KeepGoing m_keepGoing;
    std::vector<char> m_buffer;
    qint64 m_start = 0;    // where the buffered bytes lie in the output
    qint64 m_buffered = 0; // how many there are
    qint64 m_readSize = 0; // how many the next read asks for
    qint64 m_blocksSinceAsked = 0;
    bool m_cancelled = false;
};

// One frame by FrameWalker's rules.
[[nodiscard]] std::optional<FrameExtent> walkFrame(const ReadAt& read, qint64 offset,
                                                   qint64 length);

// What walking every frame of a compressed output found.
struct FrameSequence
{
    enum Status
    {
        Good,      // frames by the rules, back to back, to the end
        Refused,   // a frame breaks a rule, the layout is wrong, or bytes follow the last frame
        TooLarge,  // the frames declare more content than the limit; the walk stopped there
        Cancelled, // keepGoing said to stop
    };
    Status status = Refused;
    qint64 contentSize = 0; // the sum of the frames' declared content sizes, when Good
    qint64 frames = 0;
};

// Walks the frames of a compressed output of length bytes: each by FrameWalker's rules, every
// one but the last full, the last less than full and ending the output. Stops as soon as the
// declared content passes contentLimit, so a small foreign output costs little to refuse.
[[nodiscard]] FrameSequence walkFrames(const ReadAt& read, qint64 length, qint64 contentLimit,
                                       const KeepGoing& keepGoing = {});

// One zstd compression context, set up once for the format: level 3, the content size and the
// checksum in every frame, the window of kFrameWindowLog. Not thread-safe: one per thread.
class FrameCompressor
{
public:
    FrameCompressor();
    ~FrameCompressor();
    FrameCompressor(const FrameCompressor&) = delete;
    FrameCompressor& operator=(const FrameCompressor&) = delete;

    // False when zstd could not make or set up the context.
    [[nodiscard]] bool isValid() const { return bool(m_context); }

    // Appends one frame holding plain to out. plain holds at most kFrameContentSize bytes: the
    // caller cuts the plain text, so more is a mistake in the program, asserted in debug builds
    // and refused in release ones.
    [[nodiscard]] bool compress(QByteArrayView plain, QByteArray& out);

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

// One zstd decompression context, its window capped at 2^kFrameWindowLog. One per thread.
class FrameDecompressor
{
public:
    FrameDecompressor();
    ~FrameDecompressor();
    FrameDecompressor(const FrameDecompressor&) = delete;
    FrameDecompressor& operator=(const FrameDecompressor&) = delete;

    [[nodiscard]] bool isValid() const { return bool(m_context); }

    // Appends the content of frame to out when frame is exactly one frame by FrameWalker's
    // rules that decodes to its declared content size with a matching checksum; appends
    // nothing otherwise.
    [[nodiscard]] bool decompress(QByteArrayView frame, QByteArray& out);

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

// A whole plain text in memory, one frame after another on the calling thread: the same bytes
// as the file job writes on any number of threads.
[[nodiscard]] std::optional<QByteArray> compressFrames(QByteArrayView plain);
// The reverse, by the same rules as files; nothing unless the whole input is good.
[[nodiscard]] std::optional<QByteArray> decompressFrames(QByteArrayView compressed);

} // namespace virellock::dataops
