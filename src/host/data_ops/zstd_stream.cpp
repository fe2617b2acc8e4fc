#include "zstd_stream.h"

#include "secure_wipe.h"

#include <QThread>

// For ZSTD_getFrameHeader(), exported by every libzstd 1.5.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <algorithm>
#include <utility>

namespace virellock::dataops {

namespace {

struct ZstdDeleter
{
    void operator()(ZSTD_CCtx* p) const { ZSTD_freeCCtx(p); }
    void operator()(ZSTD_DCtx* p) const { ZSTD_freeDCtx(p); }
};

template <typename T> using ZstdPtr = std::unique_ptr<T, ZstdDeleter>;

class CompressStream final : public StreamTransform
{
public:
    explicit CompressStream(ZstdPtr<ZSTD_CCtx> context)
        : m_context(std::move(context)), m_buffer(qsizetype(ZSTD_CStreamOutSize()), '\0')
    {}

    bool update(QByteArrayView input, const ByteSink& sink) override
    {
        return !m_finished && run(input, ZSTD_e_continue, sink);
    }

    bool finish(const ByteSink& sink) override
    {
        if (m_finished)
            return false;
        m_finished = true;
        return run({}, ZSTD_e_end, sink);
    }

private:
    bool run(QByteArrayView input, ZSTD_EndDirective mode, const ByteSink& sink)
    {
        ZSTD_inBuffer in{input.data(), static_cast<std::size_t>(input.size()), 0};
        for (;;) {
            ZSTD_outBuffer out{m_buffer.data(), static_cast<std::size_t>(m_buffer.size()), 0};
            const std::size_t remaining = ZSTD_compressStream2(m_context.get(), &out, &in, mode);
            if (ZSTD_isError(remaining))
                return fail();
            if (out.pos && !sink(QByteArrayView(m_buffer).first(qsizetype(out.pos))))
                return fail();
            const bool done = mode == ZSTD_e_end ? remaining == 0 : in.pos == in.size;
            if (done)
                return true;
        }
    }

    bool fail()
    {
        m_finished = true;
        return false;
    }

    ZstdPtr<ZSTD_CCtx> m_context;
    QByteArray m_buffer;
    bool m_finished = false;
};

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
        if (m_failed)
            return false;
        if (!m_headerChecked) {
            // Look at the frame header before decoding anything: our frames always carry a
            // checksum, so one without it, or a skippable frame, is not ours.
            const qsizetype take =
                std::min(input.size(), qsizetype(ZSTD_FRAMEHEADERSIZE_MAX) - m_header.size());
            m_header.append(input.first(take));
            input = input.sliced(take);
            ZSTD_frameHeader header{};
            const std::size_t needed =
                ZSTD_getFrameHeader(&header, m_header.constData(), std::size_t(m_header.size()));
            if (ZSTD_isError(needed))
                return fail();
            if (needed > 0)
                return true;
            if (header.frameType != ZSTD_frame || !header.checksumFlag)
                return fail();
            m_headerChecked = true;
            m_declaredSize = header.frameContentSize;
            if (!decompress(std::exchange(m_header, {}), sink))
                return false;
        }
        return decompress(input, sink);
    }

    // Everything was handed to the sink as it was decoded; nothing is held back.
    bool finish(const ByteSink&) override
    {
        const bool complete = !m_failed && m_headerChecked && m_frameDone;
        m_failed = true; // nothing may follow finish()
        return complete;
    }

private:
    bool decompress(QByteArrayView input, const ByteSink& sink)
    {
        if (input.isEmpty())
            return true;
        if (m_frameDone)
            return fail(); // bytes after the frame
        ZSTD_inBuffer in{input.data(), static_cast<std::size_t>(input.size()), 0};
        bool outputFull = false;
        while (in.pos < in.size || outputFull) {
            ZSTD_outBuffer out{m_buffer.data(), static_cast<std::size_t>(m_buffer.size()), 0};
            const std::size_t hint = ZSTD_decompressStream(m_context.get(), &out, &in);
            if (ZSTD_isError(hint))
                return fail();
            if (out.pos && !sink(QByteArrayView(m_buffer).first(qsizetype(out.pos))))
                return fail();
            m_produced += out.pos;
            outputFull = out.pos == out.size;
            if (hint == 0) {
                // zstd does not always hold a frame to the size its header declares.
                if (m_declaredSize != ZSTD_CONTENTSIZE_UNKNOWN && m_produced != m_declaredSize)
                    return fail();
                m_frameDone = true;
                return in.pos == in.size || fail();
            }
        }
        return true;
    }

    bool fail()
    {
        m_failed = true;
        return false;
    }

    ZstdPtr<ZSTD_DCtx> m_context;
    QByteArray m_buffer;
    QByteArray m_header;
    unsigned long long m_declaredSize = ZSTD_CONTENTSIZE_UNKNOWN;
    unsigned long long m_produced = 0;
    bool m_headerChecked = false;
    bool m_frameDone = false;
    bool m_failed = false;
};

} // namespace

std::unique_ptr<StreamTransform> makeCompressStream(std::optional<qint64> pledgedSize)
{
    ZstdPtr<ZSTD_CCtx> context(ZSTD_createCCtx());
    if (!context)
        return nullptr;
    const int workers = std::max(1, QThread::idealThreadCount());
    auto set = [&](ZSTD_cParameter parameter, int value) {
        return !ZSTD_isError(ZSTD_CCtx_setParameter(context.get(), parameter, value));
    };
    if (!set(ZSTD_c_compressionLevel, kCompressionLevel) || !set(ZSTD_c_checksumFlag, 1) ||
        !set(ZSTD_c_contentSizeFlag, 1))
        return nullptr;
    // A zstd built without threads refuses workers; it then compresses on the calling thread.
    set(ZSTD_c_nbWorkers, workers);
    if (pledgedSize && (*pledgedSize < 0 || ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(
                                                context.get(), quint64(*pledgedSize)))))
        return nullptr;
    return std::make_unique<CompressStream>(std::move(context));
}

std::unique_ptr<StreamTransform> makeDecompressStream()
{
    ZstdPtr<ZSTD_DCtx> context(ZSTD_createDCtx());
    if (!context)
        return nullptr;
    return std::make_unique<DecompressStream>(std::move(context));
}

} // namespace virellock::dataops
