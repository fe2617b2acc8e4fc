#include "password_check.h"

#include "key_derivation.h"
#include "openssl_support.h"

namespace virellock::dataops {

namespace {

bool hashPassword(QStringView password, QByteArrayView salt, unsigned char* out)
{
    QByteArray bytes = passwordToBytes(password);
    const bool ok = deriveScrypt(bytes, salt, out, kPasswordCheckHashSize);
    OPENSSL_cleanse(bytes.data(), static_cast<std::size_t>(bytes.size()));
    return ok;
}

} // namespace

std::optional<QByteArray> makePasswordCheck(QStringView password)
{
    std::optional<QByteArray> check = randomBytes(kSaltSize);
    if (!check)
        return std::nullopt;
    detail::SecretBytes<kPasswordCheckHashSize> hash;
    if (!hashPassword(password, *check, hash.data()))
        return std::nullopt;
    check->append(reinterpret_cast<const char*>(hash.data()), hash.size());
    return check;
}

bool verifyPasswordCheck(QByteArrayView passwordCheck, QStringView password)
{
    if (passwordCheck.size() != kSaltSize + kPasswordCheckHashSize)
        return false;
    detail::SecretBytes<kPasswordCheckHashSize> hash;
    if (!hashPassword(password, passwordCheck.first(kSaltSize), hash.data()))
        return false;
    return CRYPTO_memcmp(hash.data(), passwordCheck.sliced(kSaltSize).data(), hash.size()) == 0;
}

} // namespace virellock::dataops
