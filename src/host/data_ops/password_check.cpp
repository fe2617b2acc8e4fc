#include "password_check.h"

#include "key_derivation.h"
#include "secure_wipe.h"

#include <QScopeGuard>

#include <openssl/crypto.h>

namespace virellock::dataops {

namespace {

[[nodiscard]] bool hashPassword(QStringView password, QByteArrayView salt, unsigned char* out)
{
    QByteArray bytes = passwordToBytes(password);
    const bool ok = deriveScrypt(bytes, salt, out, kPasswordCheckHashSize);
    wipe(bytes);
    return ok;
}

} // namespace

std::optional<QByteArray> makePasswordCheck(QStringView password)
{
    QByteArray bytes = passwordToBytes(password);
    const auto wipeBytes = qScopeGuard([&bytes] { wipe(bytes); });
    return makePasswordCheckFromBytes(bytes);
}

std::optional<QByteArray> makePasswordCheckFromBytes(QByteArrayView passwordBytes)
{
    std::optional<QByteArray> check = randomBytes(kSaltSize);
    if (!check)
        return std::nullopt;
    SecretBytes<kPasswordCheckHashSize> hash;
    if (!deriveScrypt(passwordBytes, *check, hash.data(), hash.size()))
        return std::nullopt;
    check->append(reinterpret_cast<const char*>(hash.data()), hash.size());
    return check;
}

bool verifyPasswordCheck(QByteArrayView passwordCheck, QStringView password)
{
    if (passwordCheck.size() != kSaltSize + kPasswordCheckHashSize)
        return false;
    SecretBytes<kPasswordCheckHashSize> hash;
    if (!hashPassword(password, passwordCheck.first(kSaltSize), hash.data()))
        return false;
    return CRYPTO_memcmp(hash.data(), passwordCheck.sliced(kSaltSize).data(), hash.size()) == 0;
}

} // namespace virellock::dataops
