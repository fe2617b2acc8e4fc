#include "openssl_support.h"

#ifdef _WIN32
#include <QCoreApplication>
#include <QDir>
#endif

#include <QtGlobal>

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/provider.h>

namespace virellock::dataops::detail {

namespace {

class CryptoLibrary
{
public:
    CryptoLibrary()
    {
        m_algorithms.libraryContext = OSSL_LIB_CTX_new();
        OSSL_LIB_CTX* context = m_algorithms.libraryContext;
        if (!context)
            return;
#ifdef _WIN32
        // legacy.dll ships beside the executable; libcrypto's built-in module folder is a path
        // on the machine that built OpenSSL. OPENSSL_MODULES still wins.
        if (!qEnvironmentVariableIsSet("OPENSSL_MODULES") && QCoreApplication::instance())
            OSSL_PROVIDER_set_default_search_path(
                context, QDir::toNativeSeparators(QCoreApplication::applicationDirPath())
                             .toLocal8Bit()
                             .constData());
#endif
        // Errors left queued on this thread by earlier calls would read as the load's.
        ERR_clear_error();
        m_defaultProvider = OSSL_PROVIDER_load(context, "default");
        ERR_clear_error();
        m_legacyProvider = OSSL_PROVIDER_load(context, "legacy");
        m_algorithms.legacyProviderLoaded = m_legacyProvider != nullptr;
        m_algorithms.legacyProviderError = takeOpenSslError();
        m_algorithms.desCbc = EVP_CIPHER_fetch(context, "DES-CBC", nullptr);
        m_algorithms.desCbcError = takeOpenSslError();
        m_algorithms.rc4 = EVP_CIPHER_fetch(context, "RC4", nullptr);
        m_algorithms.rc4Error = takeOpenSslError();
        m_algorithms.hmac = EVP_MAC_fetch(context, "HMAC", nullptr);
        m_algorithms.scrypt = EVP_KDF_fetch(context, "SCRYPT", nullptr);
    }

    ~CryptoLibrary()
    {
        EVP_CIPHER_free(m_algorithms.desCbc);
        EVP_CIPHER_free(m_algorithms.rc4);
        EVP_MAC_free(m_algorithms.hmac);
        EVP_KDF_free(m_algorithms.scrypt);
        if (m_legacyProvider)
            OSSL_PROVIDER_unload(m_legacyProvider);
        if (m_defaultProvider)
            OSSL_PROVIDER_unload(m_defaultProvider);
        OSSL_LIB_CTX_free(m_algorithms.libraryContext);
    }

    CryptoLibrary(const CryptoLibrary&) = delete;
    CryptoLibrary& operator=(const CryptoLibrary&) = delete;

    const CryptoAlgorithms& algorithms() const
    {
        return m_algorithms;
    }

private:
    CryptoAlgorithms m_algorithms;
    OSSL_PROVIDER* m_defaultProvider = nullptr;
    OSSL_PROVIDER* m_legacyProvider = nullptr;
};

} // namespace

const CryptoAlgorithms& cryptoAlgorithms()
{
    static const CryptoLibrary library;
    return library.algorithms();
}

std::string takeOpenSslError()
{
    const char* data = nullptr;
    int flags = 0;
    const unsigned long code = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags);
    std::string text;
    if (code != 0) {
        if (const char* reason = ERR_reason_error_string(code)) {
            text = reason;
        } else {
            char buffer[256] = {};
            ERR_error_string_n(code, buffer, sizeof buffer);
            text = buffer;
        }
        // The data holds the detail that matters most, such as the module's path and dlopen's
        // reason for refusing it.
        if ((flags & ERR_TXT_STRING) && data && *data)
            text += std::string(": ") + data;
    }
    // Only now: clearing the queue frees the data.
    ERR_clear_error();
    return text;
}

bool hmacSha256(const unsigned char* key, std::size_t keyLength,
                std::initializer_list<std::pair<const void*, std::size_t>> parts,
                unsigned char* out)
{
    Q_ASSERT(key && out);
    const CryptoAlgorithms& algorithms = cryptoAlgorithms();
    if (!algorithms.hmac)
        return false;
    OpenSslPtr<EVP_MAC_CTX> context(EVP_MAC_CTX_new(algorithms.hmac));
    if (!context)
        return false;
    char digest[] = "SHA256";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_end(),
    };
    if (EVP_MAC_init(context.get(), key, keyLength, params) != 1)
        return false;
    for (const auto& [data, length] : parts) {
        if (length &&
            EVP_MAC_update(context.get(), static_cast<const unsigned char*>(data), length) != 1)
            return false;
    }
    std::size_t written = 0;
    return EVP_MAC_final(context.get(), out, &written, 32) == 1 && written == 32;
}

} // namespace virellock::dataops::detail
