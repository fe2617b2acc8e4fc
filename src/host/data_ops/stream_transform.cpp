#include "stream_transform.h"

namespace virellock::dataops {

std::optional<QByteArray> transformAll(StreamTransform& transform, QByteArrayView data)
{
    QByteArray result;
    const ByteSink append = [&result](QByteArrayView piece) {
        result.append(piece);
        return true;
    };
    if (!transform.update(data, append) || !transform.finish(append))
        return std::nullopt;
    return result;
}

} // namespace virellock::dataops
