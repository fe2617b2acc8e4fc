#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

#include <optional>

namespace virellock::dataops {

// A one-way, salted, memory-hard verifier: a random salt followed by scrypt of the password
// under that salt. It tells whether a typed password is right without revealing it.
inline constexpr qsizetype kPasswordCheckHashSize = 32;

[[nodiscard]] std::optional<QByteArray> makePasswordCheck(QStringView password);
// The same from the password's bytes (passwordToBytes()), for a caller that made them already.
[[nodiscard]] std::optional<QByteArray> makePasswordCheckFromBytes(QByteArrayView passwordBytes);

// Constant-time comparison; false also for a check of the wrong size.
[[nodiscard]] bool verifyPasswordCheck(QByteArrayView passwordCheck, QStringView password);

} // namespace virellock::dataops
