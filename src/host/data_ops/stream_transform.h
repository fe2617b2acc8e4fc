#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>
#include <optional>

namespace virellock::dataops {

// Receives output as it is produced; returns false to stop the transform (a failed write,
// a cancel). A view is valid only during the call.
using ByteSink = std::function<bool(QByteArrayView)>;

// A chunk-at-a-time transform: feed input in pieces of any size, then finish. Memory stays
// bounded by a small multiple of the chunk size whatever the total size. Any false result
// means the output is unusable: the input was not acceptable or the sink refused.
class StreamTransform
{
public:
    virtual ~StreamTransform() = default;
    [[nodiscard]] virtual bool update(QByteArrayView input, const ByteSink& sink) = 0;
    [[nodiscard]] virtual bool finish(const ByteSink& sink) = 0;
};

// Runs data through a transform in memory; nothing on failure.
[[nodiscard]] std::optional<QByteArray> transformAll(StreamTransform& transform,
                                                     QByteArrayView data);

} // namespace virellock::dataops
