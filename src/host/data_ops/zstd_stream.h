#pragma once

#include "stream_transform.h"

#include <memory>
#include <optional>

namespace virellock::dataops {

// zstd level 3, the command-line tool's default: a good ratio at several hundred MiB/s.
inline constexpr int kCompressionLevel = 3;

// One zstd frame with its content checksum. When the size is known beforehand it is written
// into the frame header and the frame fails if the input turns out to differ. Compression
// uses zstd's own worker threads; the frame is the same whatever their number.
[[nodiscard]] std::unique_ptr<StreamTransform>
makeCompressStream(std::optional<qint64> pledgedSize = {});

// Accepts exactly one zstd frame that carries a content checksum, and nothing after it.
[[nodiscard]] std::unique_ptr<StreamTransform> makeDecompressStream();

} // namespace virellock::dataops
