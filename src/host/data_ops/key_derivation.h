#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace virellock::dataops {

// scrypt cost: N = 2^16, r = 8, p = 1 takes 64 MiB and about a tenth of a second, which makes
// each guess at a password as expensive for an attacker. Stored files carry no parameters,
// so these values are part of the file format.
inline constexpr quint64 kScryptN = quint64(1) << 16;
inline constexpr quint32 kScryptR = 8;
inline constexpr quint32 kScryptP = 1;

inline constexpr qsizetype kSaltSize = 16;

// The bytes a password stands for: Unicode normal form C, then UTF-8, so that the same
// password typed on systems that compose characters differently derives the same keys.
// Nothing is trimmed and case is kept.
// Wipe them (secure_wipe.h) once they are used.
[[nodiscard]] QByteArray passwordToBytes(QStringView password);

// Cryptographically strong random bytes, or nothing when the generator fails.
[[nodiscard]] std::optional<QByteArray> randomBytes(qsizetype count);

// scrypt with the parameters above into outLength bytes at out; false when OpenSSL fails.
[[nodiscard]] bool deriveScrypt(QByteArrayView password, QByteArrayView salt, unsigned char* out,
                                std::size_t outLength);

} // namespace virellock::dataops
