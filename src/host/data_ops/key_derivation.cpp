#include "key_derivation.h"

#include "openssl_support.h"
#include "secure_wipe.h"

#include <QString>

#include <openssl/core_names.h>
#include <openssl/kdf.h>
#include <openssl/rand.h>

namespace virellock::dataops {

using detail::cryptoAlgorithms;
using detail::OpenSslPtr;

QByteArray passwordToBytes(QStringView password)
{
    // Qt normalises only a QString: this one wraps the caller's characters without copying
    // them. A password already in form C (every ASCII one, and most others) comes back
    // sharing them, and nothing is copied. Any other comes back in a block Qt allocated for it,
    // held only here and wiped below; but Qt builds it in steps, decomposing each composed
    // character in place and moving the text to a larger block when a decomposition outgrows
    // the block, and the block it leaves is freed unwiped inside Qt, out of our reach.
    const QString typed =
        QString::fromRawData(reinterpret_cast<const QChar*>(password.data()), password.size());
    QString normal = typed.normalized(QString::NormalizationForm_C);
    QByteArray bytes = normal.toUtf8();
    wipe(normal); // the caller's characters, when normal shares them, are left alone
    return bytes;
}

std::optional<QByteArray> randomBytes(qsizetype count)
{
    Q_ASSERT(count >= 0);
    QByteArray bytes(count, Qt::Uninitialized);
    const auto& algorithms = cryptoAlgorithms();
    if (!algorithms.libraryContext ||
        RAND_bytes_ex(algorithms.libraryContext, reinterpret_cast<unsigned char*>(bytes.data()),
                      static_cast<std::size_t>(bytes.size()), 0) != 1)
        return std::nullopt;
    return bytes;
}

bool deriveScrypt(QByteArrayView password, QByteArrayView salt, unsigned char* out,
                  std::size_t outLength)
{
    Q_ASSERT(out && outLength > 0);
    const auto& algorithms = cryptoAlgorithms();
    if (!algorithms.scrypt)
        return false;
    OpenSslPtr<EVP_KDF_CTX> context(EVP_KDF_CTX_new(algorithms.scrypt));
    if (!context)
        return false;

    // OpenSSL copies both buffers; an empty password still needs a valid pointer.
    static const char empty = 0;
    void* passwordData = const_cast<char*>(password.isEmpty() ? &empty : password.data());
    void* saltData = const_cast<char*>(salt.data());
    uint64_t n = kScryptN;
    uint32_t r = kScryptR;
    uint32_t p = kScryptP;
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, passwordData,
                                          static_cast<std::size_t>(password.size())),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, saltData,
                                          static_cast<std::size_t>(salt.size())),
        OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_N, &n),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_R, &r),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_P, &p),
        OSSL_PARAM_construct_end(),
    };
    return EVP_KDF_derive(context.get(), out, outLength, params) == 1;
}

} // namespace virellock::dataops
