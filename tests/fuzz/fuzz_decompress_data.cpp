// DecompressData on any bytes, checked against the decompress stream fed in small pieces and
// against zstd's own view of the frames, and every accepted output against a
// compress-decompress round trip.

#include "fuzz_check.h"
#include "host/data_ops/data_ops.h"
#include "host/data_ops/zstd_stream.h"
#include "host/file_format/zstd_frames.h"

#define ZSTD_STATIC_LINKING_ONLY // for ZSTD_getFrameHeader()
#include <zstd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

using namespace virellock;

namespace {

// A few bytes of frame can stand for gigabytes; past this the outputs are not compared.
constexpr qsizetype kMaxOutput = qsizetype(16) << 20;
// Recompressing costs more than decompressing; big outputs add little to the round trip.
constexpr qsizetype kMaxRoundTrip = qsizetype(1) << 20;

struct StreamResult
{
    bool ok = false;
    bool tooBig = false;
    QByteArray output;
};

// Piece sizes of 1 to 63 bytes, read from the input itself; a zero also sends an empty piece.
StreamResult decompressInPieces(QByteArrayView input)
{
    StreamResult result;
    const auto transform = dataops::makeDecompressStream();
    FUZZ_CHECK(transform != nullptr);
    const dataops::ByteSink sink = [&result](QByteArrayView piece) {
        if (result.output.size() + piece.size() > kMaxOutput) {
            result.tooBig = true;
            return false;
        }
        result.output.append(piece);
        return true;
    };
    qsizetype position = 0;
    for (qsizetype i = 0; position < input.size(); ++i) {
        qsizetype size = static_cast<unsigned char>(input[(i * 7) % input.size()]) % 64;
        if (size == 0) {
            if (!transform->update({}, sink))
                return result;
            size = 1;
        }
        size = std::min(size, input.size() - position);
        if (!transform->update(input.sliced(position, size), sink))
            return result;
        position += size;
    }
    result.ok = transform->finish(sink);
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView input(data, qsizetype(size));

    const StreamResult streamed = decompressInPieces(input);
    if (streamed.tooBig)
        return 0;

    const std::optional<QByteArray> whole = DecompressData(input);
    FUZZ_CHECK(whole.has_value() == streamed.ok);
    if (!whole)
        return 0;
    FUZZ_CHECK(*whole == streamed.output);

    // What is accepted is a sequence of frames by the rules, as zstd itself reads them: each
    // with its checksum and its content size, full ones but the last, declaring in all exactly
    // what came out.
    const dataops::FrameSequence sequence = dataops::walkFrames(
        [input](qint64 offset, char* out, qint64 length) {
            std::copy_n(input.data() + offset, length, out);
            return true;
        },
        input.size(), std::numeric_limits<qint64>::max());
    FUZZ_CHECK(sequence.status == dataops::FrameSequence::Good);
    FUZZ_CHECK(sequence.contentSize == whole->size());
    std::size_t at = 0;
    for (qint64 frame = 0; frame < sequence.frames; ++frame) {
        const std::size_t frameSize = ZSTD_findFrameCompressedSize(data + at, size - at);
        FUZZ_CHECK(!ZSTD_isError(frameSize));
        ZSTD_frameHeader header{};
        FUZZ_CHECK(ZSTD_getFrameHeader(&header, data + at, size - at) == 0);
        FUZZ_CHECK(header.frameType == ZSTD_frame && header.checksumFlag);
        const bool last = frame + 1 == sequence.frames;
        FUZZ_CHECK(last ? header.frameContentSize < quint64(dataops::kFrameContentSize)
                        : header.frameContentSize == quint64(dataops::kFrameContentSize));
        at += frameSize;
    }
    FUZZ_CHECK(at == size);

    if (whole->size() <= kMaxRoundTrip) {
        const std::optional<QByteArray> compressed = CompressData(*whole);
        FUZZ_CHECK(compressed.has_value());
        FUZZ_CHECK(DecompressData(*compressed) == whole);
    }
    return 0;
}
