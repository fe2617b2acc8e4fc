#pragma once

#include "stream_transform.h"

#include <memory>

namespace virellock::dataops {

// Decodes a compressed output (host/file_format/zstd_frames.h) fed in pieces of any size, frame
// after frame, with each frame's header checked by the same rules as the file job's before any
// of it is decoded: the content size and the checksum present, the window capped, every frame
// but the last full, nothing after the last. Memory stays one window and one output buffer.
[[nodiscard]] std::unique_ptr<StreamTransform> makeDecompressStream();

} // namespace virellock::dataops
