#pragma once

// The four data operations on whole byte sets. Each returns nothing on failure, which is
// distinct from an empty result: an empty plain text that decrypts correctly is a success.
// Files go through the engine's parallel jobs instead, so that memory does not grow with the
// data; they write the same bytes.

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

#include <optional>

namespace virellock {

// algorithm: 1 = DES, 2 = RC4; any other value fails.
[[nodiscard]] std::optional<QByteArray> EncryptData(QByteArrayView data, QStringView password,
                                                    int algorithm);

// Fails for a wrong password, the other algorithm, and damaged, truncated or foreign input.
[[nodiscard]] std::optional<QByteArray> DecryptData(QByteArrayView data, QStringView password,
                                                    int algorithm);

// A sequence of zstd frames of 4 MiB of content each (host/file_format/zstd_frames.h).
[[nodiscard]] std::optional<QByteArray> CompressData(QByteArrayView data);

// Fails for anything but a sequence of frames by the rules CompressData() writes to.
[[nodiscard]] std::optional<QByteArray> DecompressData(QByteArrayView data);

} // namespace virellock
