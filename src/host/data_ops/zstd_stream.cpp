#include "zstd_stream.h"

#include "host/file_format/zstd_frames.h"
#include "secure_wipe.h"

// For ZSTD_FRAMEHEADERSIZE_MAX.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <algorithm>
#include <optional>
#include <utility>

namespace virellock::dataops {

namespace {

struct ZstdDeleter
{
    void operator()(ZSTD_DCtx* p) const { ZSTD_freeDCtx(p); }
};

template <typename T> using ZstdPtr = std::unique_ptr<T, ZstdDeleter>;

class DecompressStream final : public StreamTransform
{
public:
    explicit DecompressStream(ZstdPtr<ZSTD_DCtx> context)
        : m_context(std::move(context)), m_buffer(qsizetype(ZSTD_DStreamOutSize()), '\0')
    {}
    // The buffer holds the last pieces of plain text it handed to the sink.
    ~DecompressStream() override { wipe(m_buffer); }

    bool update(QByteArrayView input, const ByteSink& sink) override
    {
        while (!m_failed && !input.isEmpty()) {
            if (m_inFrame) {
                input = decompress(input, sink);
                continue;
            }
            if (m_sawLast)
                return fail(); // bytes after the last frame
            // Look at each frame's header before decoding anything of it: a frame that breaks
            // the rules (zstd_frames.h) is not ours. zstd says how many bytes it needs.
            FrameHeader header = readFrameHeader(m_header);
            while (header.status == FrameHeader::NeedMore && !input.isEmpty()) {
                const qsizetype take =
                    std::min(input.size(), qsizetype(header.headerSize) - m_header.size());
                m_header.append(input.first(take));
                input = input.sliced(take);
                header = readFrameHeader(m_header);
            }
            if (header.status == FrameHeader::NeedMore)
                break;
            if (header.status == FrameHeader::Refused)
                return fail();
            m_inFrame = true;
            m_blocks.emplace(header.headerSize);
            m_declaredSize = header.contentSize;
            m_produced = 0;
            // Exactly the header: no frame ends within it.
            const QByteArray start = std::exchange(m_header, {});
            if (!decompress(start, sink).isEmpty())
                return fail();
        }
        return !m_failed;
    }

    // Everything was handed to the sink as it was decoded; nothing is held back.
    bool finish(const ByteSink&) override
    {
        const bool complete = !m_failed && m_sawLast && !m_inFrame && m_header.isEmpty();
        m_failed = true; // nothing may follow finish()
        return complete;
    }

private:
    // Feeds input to the frame being decoded; returns what follows the frame's end, if it ends.
    QByteArrayView decompress(QByteArrayView input, const ByteSink& sink)
    {
        ZSTD_inBuffer in{input.data(), static_cast<std::size_t>(input.size()), 0};
        bool outputFull = false;
        while (in.pos < in.size || outputFull) {
            ZSTD_outBuffer out{m_buffer.data(), static_cast<std::size_t>(m_buffer.size()), 0};
            const std::size_t before = in.pos;
            const std::size_t hint = ZSTD_decompressStream(m_context.get(), &out, &in);
            m_produced += qint64(out.pos);
            // zstd decodes blocks that the file reader's rules refuse; the same rules hold here.
            if (ZSTD_isError(hint) || m_produced > m_declaredSize ||
                !m_blocks->take(input.sliced(qsizetype(before), qsizetype(in.pos - before)))) {
                fail();
                return {};
            }
            if (out.pos && !sink(QByteArrayView(m_buffer).first(qsizetype(out.pos)))) {
                fail();
                return {};
            }
            outputFull = out.pos == out.size;
            if (hint == 0) {
                // zstd does not always hold a frame to the size its header declares.
                if (m_produced != m_declaredSize || !m_blocks->complete()) {
                    fail();
                    return {};
                }
                m_inFrame = false;
                // A full frame is never the last; one less than full always is.
                m_sawLast = m_declaredSize < kFrameContentSize;
                return input.sliced(qsizetype(in.pos));
            }
        }
        return {};
    }

    bool fail()
    {
        m_failed = true;
        return false;
    }

    ZstdPtr<ZSTD_DCtx> m_context;
    QByteArray m_buffer;
    QByteArray m_header;
    std::optional<FrameBlockTracker> m_blocks; // of the frame being decoded
    qint64 m_declaredSize = 0;
    qint64 m_produced = 0;
    bool m_inFrame = false;
    bool m_sawLast = false;
    bool m_failed = false;
};

} // namespace

std::unique_ptr<StreamTransform> makeDecompressStream()
{
    ZstdPtr<ZSTD_DCtx> context(ZSTD_createDCtx());
    if (!context ||
        ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, kFrameWindowLog)))
        return nullptr;
    return std::make_unique<DecompressStream>(std::move(context));
}

} // namespace virellock::dataops
