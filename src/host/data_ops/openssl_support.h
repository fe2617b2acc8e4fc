#pragma once

// Private to the data operations: nothing outside this folder sees OpenSSL types.

#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

namespace virellock::dataops::detail {

struct OpenSslDeleter
{
    void operator()(EVP_CIPHER_CTX* p) const { EVP_CIPHER_CTX_free(p); }
    void operator()(EVP_MAC_CTX* p) const { EVP_MAC_CTX_free(p); }
    void operator()(EVP_KDF_CTX* p) const { EVP_KDF_CTX_free(p); }
};

template <typename T> using OpenSslPtr = std::unique_ptr<T, OpenSslDeleter>;

// The algorithms we use, fetched once from a library context of our own that has the
// default and legacy providers loaded. DES and RC4 live only in the legacy provider; loading
// it into a private context leaves OpenSSL's default context, and so any other user of
// OpenSSL in this process, as it was.
struct CryptoAlgorithms
{
    OSSL_LIB_CTX* libraryContext = nullptr;
    EVP_CIPHER* desCbc = nullptr;
    EVP_CIPHER* rc4 = nullptr;
    EVP_MAC* hmac = nullptr;
    EVP_KDF* scrypt = nullptr;
    // Whether the legacy provider loaded, and OpenSSL's words for why not (or why a cipher's
    // fetch failed); empty when OpenSSL gave none.
    bool legacyProviderLoaded = false;
    std::string legacyProviderError;
    std::string desCbcError;
    std::string rc4Error;
};

// Null members when a provider or an algorithm is missing; callers then fail cleanly.
[[nodiscard]] const CryptoAlgorithms& cryptoAlgorithms();

// OpenSSL's first queued error of this thread as text (reason and any data it recorded), and
// the queue cleared; empty when nothing was queued.
[[nodiscard]] std::string takeOpenSslError();

// HMAC-SHA-256 of the concatenation of the given parts; writes 32 bytes to out.
[[nodiscard]] bool hmacSha256(const unsigned char* key, std::size_t keyLength,
                              std::initializer_list<std::pair<const void*, std::size_t>> parts,
                              unsigned char* out);

} // namespace virellock::dataops::detail
