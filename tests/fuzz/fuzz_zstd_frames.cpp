// Any bytes as the MD5 method's payload: decompressed whole in memory, and, when the walk of
// the frame headers lets them through as it does before a file is restored, restored the way a
// file's payload is, a frame at a time on the frame job's workers; both accept the same inputs.
// (A frame job starts threads of its own, which costs more than the rest of an input: the walk
// refuses most mutations, and tst_compression runs the job alone on the refusals.) Every
// accepted input is a sequence of frames by the rules in zstd's own view, and every accepted
// output survives a compress-decompress round trip.

#include "engine/parallel_frame_job.h"
#include "fuzz_check.h"
#include "host/file_format/zstd_frames.h"

#include <QBuffer>

#define ZSTD_STATIC_LINKING_ONLY // for ZSTD_getFrameHeader()
#include <zstd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

using namespace virellock;
using namespace virellock::dataops;

namespace {

// A few bytes of frame can stand for gigabytes (RLE blocks); past this nothing is decoded.
constexpr qint64 kMaxOutput = qint64(16) << 20;
// Recompressing costs more than decompressing; big outputs add little to the round trip.
constexpr qsizetype kMaxRoundTrip = qsizetype(1) << 20;

// The frame job over the payload with nowhere to write: whether a file's payload restores.
bool restoresAsFile(QByteArray payload)
{
    QBuffer source(&payload);
    FUZZ_CHECK(source.open(QIODevice::ReadOnly));
    FrameJob job;
    job.compress = false;
    job.source = &source;
    job.length = payload.size();
    const JobOutcome outcome = runFrameJob(job, {}).outcome;
    FUZZ_CHECK(outcome == JobOutcome::Done || outcome == JobOutcome::BadInput);
    return outcome == JobOutcome::Done;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView input(data, qsizetype(size));

    const FrameSequence sequence = walkFrames(
        [input](qint64 offset, char* out, qint64 length) {
            std::copy_n(input.data() + offset, length, out);
            return true;
        },
        input.size(), kMaxOutput);
    if (sequence.status == FrameSequence::TooLarge)
        return 0;

    const std::optional<QByteArray> whole = decompressFrames(input);
    if (sequence.status == FrameSequence::Good)
        FUZZ_CHECK(restoresAsFile(input.toByteArray()) == whole.has_value());
    else
        FUZZ_CHECK(!whole);
    if (!whole)
        return 0;

    // What is accepted is a sequence of frames by the rules, as zstd itself reads them: each
    // with its checksum and its content size, full ones but the last, declaring in all exactly
    // what came out.
    FUZZ_CHECK(sequence.contentSize == whole->size());
    std::size_t at = 0;
    for (qint64 frame = 0; frame < sequence.frames; ++frame) {
        const std::size_t frameSize = ZSTD_findFrameCompressedSize(data + at, size - at);
        FUZZ_CHECK(!ZSTD_isError(frameSize));
        ZSTD_frameHeader header{};
        FUZZ_CHECK(ZSTD_getFrameHeader(&header, data + at, size - at) == 0);
        FUZZ_CHECK(header.frameType == ZSTD_frame && header.checksumFlag);
        const bool last = frame + 1 == sequence.frames;
        FUZZ_CHECK(last ? header.frameContentSize < quint64(kFrameContentSize)
                        : header.frameContentSize == quint64(kFrameContentSize));
        at += frameSize;
    }
    FUZZ_CHECK(at == size);

    if (whole->size() <= kMaxRoundTrip) {
        const std::optional<QByteArray> compressed = compressFrames(*whole);
        FUZZ_CHECK(compressed.has_value());
        FUZZ_CHECK(decompressFrames(*compressed) == whole);
    }
    return 0;
}
