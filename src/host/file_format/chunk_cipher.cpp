#include "chunk_cipher.h"

#include "host/data_ops/key_derivation.h"
#include "host/data_ops/openssl_support.h"

#include <QtEndian>

#include <openssl/crypto.h>

namespace virellock::dataops {

using detail::cryptoAlgorithms;
using detail::hmacSha256;
using detail::OpenSslPtr;

namespace {

constexpr qsizetype kDesBlockSize = 8;
static_assert(kChunkRoom >= kChunkSize + kDesBlockSize + kTagSize);
// RC4's first key-stream bytes are biased; skipping 3072 of them (RC4-drop[3072]) removes
// the known early-byte biases.
constexpr qsizetype kRc4Drop = 3072;

} // namespace

std::optional<CipherAlgorithm> cipherAlgorithmFromSelector(int selector)
{
    switch (selector) {
    case int(CipherAlgorithm::Des):
        return CipherAlgorithm::Des;
    case int(CipherAlgorithm::Rc4):
        return CipherAlgorithm::Rc4;
    default:
        return std::nullopt;
    }
}

qint64 sealedChunkSize(CipherAlgorithm algorithm, qint64 plainLength, bool last)
{
    // DES pads only the last chunk (PKCS#7: always at least one byte); full chunks are a
    // whole number of blocks already.
    if (algorithm == CipherAlgorithm::Des && last)
        return (plainLength / kDesBlockSize + 1) * kDesBlockSize + kTagSize;
    return plainLength + kTagSize;
}

qint64 sealedSize(CipherAlgorithm algorithm, qint64 plainSize)
{
    const qint64 fullChunks = plainSize / kChunkSize;
    const qint64 lastLength = plainSize % kChunkSize;
    return kSaltSize + fullChunks * kSealedChunkSize + sealedChunkSize(algorithm, lastLength, true);
}

std::optional<qint64> chunkCount(qint64 length, bool sealed)
{
    if (sealed)
        return length > 0 ? std::optional((length - 1) / kSealedChunkSize + 1) : std::nullopt;
    return length >= 0 ? std::optional(length / kChunkSize + 1) : std::nullopt;
}

std::optional<ChunkCipher> ChunkCipher::derive(CipherAlgorithm algorithm,
                                               QByteArrayView passwordBytes, QByteArrayView salt)
{
    if (salt.size() != kSaltSize)
        return std::nullopt;
    // One scrypt call gives 64 bytes: the first half keys the cipher, the second the MAC.
    SecretBytes<64> derived;
    if (!deriveScrypt(passwordBytes, salt, derived.data(), derived.size()))
        return std::nullopt;
    ChunkCipher cipher(algorithm);
    std::copy_n(derived.data(), Key::size(), cipher.m_cipherKey.data());
    std::copy_n(derived.data() + Key::size(), Key::size(), cipher.m_macKey.data());
    return cipher;
}

std::optional<ChunkCipher> ChunkCipher::fromKeys(CipherAlgorithm algorithm,
                                                 QByteArrayView cipherKey, QByteArrayView macKey)
{
    constexpr qsizetype kKeySize = qsizetype(Key::size());
    if (cipherKey.size() != kKeySize || macKey.size() != kKeySize)
        return std::nullopt;
    ChunkCipher cipher(algorithm);
    std::copy_n(cipherKey.data(), Key::size(), cipher.m_cipherKey.data());
    std::copy_n(macKey.data(), Key::size(), cipher.m_macKey.data());
    return cipher;
}

std::optional<ChunkCipher> ChunkCipher::fromPassword(CipherAlgorithm algorithm,
                                                     QStringView password, QByteArrayView salt)
{
    QByteArray passwordBytes = passwordToBytes(password);
    std::optional<ChunkCipher> cipher = derive(algorithm, passwordBytes, salt);
    wipe(passwordBytes);
    return cipher;
}

bool ChunkCipher::chunkKey(quint64 index, unsigned char* out) const
{
    Q_ASSERT(out);
    const unsigned char selector = static_cast<unsigned char>(m_algorithm);
    unsigned char indexBytes[8];
    qToLittleEndian(index, indexBytes);
    return hmacSha256(m_cipherKey.data(), m_cipherKey.size(),
                      {{&selector, 1}, {indexBytes, sizeof indexBytes}}, out);
}

bool ChunkCipher::tag(quint64 index, bool last, QByteArrayView ciphertext,
                      unsigned char (&out)[32]) const
{
    const unsigned char selector = static_cast<unsigned char>(m_algorithm);
    const unsigned char lastFlag = last ? 1 : 0;
    unsigned char indexBytes[8];
    qToLittleEndian(index, indexBytes);
    return hmacSha256(m_macKey.data(), m_macKey.size(),
                      {{&selector, 1},
                       {indexBytes, sizeof indexBytes},
                       {&lastFlag, 1},
                       {ciphertext.data(), static_cast<std::size_t>(ciphertext.size())}},
                      out);
}

// DES-CBC with the chunk's key and IV, padding only the last chunk; or RC4 keyed per chunk.
bool ChunkCipher::transform(quint64 index, bool last, bool encrypt, QByteArrayView in,
                            QByteArray& out) const
{
    const auto& algorithms = cryptoAlgorithms();
    const bool des = m_algorithm == CipherAlgorithm::Des;
    const EVP_CIPHER* cipher = des ? algorithms.desCbc : algorithms.rc4;
    // seal() and open() pass one chunk at most, which also keeps the sizes below within int.
    Q_ASSERT(in.size() <= kChunkSize);
    if (!cipher)
        return false;

    SecretBytes<32> key;
    if (!chunkKey(index, key.data()))
        return false;

    OpenSslPtr<EVP_CIPHER_CTX> context(EVP_CIPHER_CTX_new());
    if (!context)
        return false;
    // DES takes key bytes 0-7 and IV bytes 8-15; RC4 takes bytes 0-15 as its key, no IV.
    const unsigned char* iv = des ? key.data() + 8 : nullptr;
    if (EVP_CipherInit_ex2(context.get(), cipher, key.data(), iv, encrypt ? 1 : 0, nullptr) != 1)
        return false;
    EVP_CIPHER_CTX_set_padding(context.get(), des && last ? 1 : 0);

    if (!des) {
        unsigned char discard[kRc4Drop] = {};
        int written = 0;
        if (EVP_CipherUpdate(context.get(), discard, &written, discard, kRc4Drop) != 1)
            return false;
    }

    const qsizetype start = out.size();
    out.resize(start + in.size() + kDesBlockSize);
    auto* target = reinterpret_cast<unsigned char*>(out.data() + start);
    int written = 0;
    int finalWritten = 0;
    const bool ok = EVP_CipherUpdate(context.get(), target, &written,
                                     reinterpret_cast<const unsigned char*>(in.data()),
                                     static_cast<int>(in.size())) == 1 &&
                    EVP_CipherFinal_ex(context.get(), target + written, &finalWritten) == 1;
    if (!ok) {
        secureWipe(target, static_cast<std::size_t>(out.size() - start));
        out.resize(start);
        return false;
    }
    out.resize(start + written + finalWritten);
    return true;
}

bool ChunkCipher::seal(quint64 index, bool last, QByteArrayView plain, QByteArray& out) const
{
    const bool sizeFits = last ? plain.size() < kChunkSize : plain.size() == kChunkSize;
    Q_ASSERT_X(sizeFits, "ChunkCipher::seal", "the plain text was cut at the wrong place");
    if (!sizeFits)
        return false;
    const qsizetype start = out.size();
    // Room for the padding and the tag, so that appending the tag copies nothing.
    out.reserve(start + plain.size() + kDesBlockSize + kTagSize);
    if (!transform(index, last, true, plain, out))
        return false;
    unsigned char mac[kTagSize];
    if (!tag(index, last, QByteArrayView(out).sliced(start), mac)) {
        out.resize(start);
        return false;
    }
    out.append(reinterpret_cast<const char*>(mac), kTagSize);
    return true;
}

bool ChunkCipher::authentic(quint64 index, bool last, QByteArrayView sealed) const
{
    if (sealed.size() < kTagSize)
        return false;
    const QByteArrayView ciphertext = sealed.first(sealed.size() - kTagSize);
    const QByteArrayView storedTag = sealed.last(kTagSize);
    const bool des = m_algorithm == CipherAlgorithm::Des;
    if (!last && ciphertext.size() != kChunkSize)
        return false;
    if (last && (des ? ciphertext.isEmpty() || ciphertext.size() % kDesBlockSize != 0 ||
                           ciphertext.size() > kChunkSize
                     : ciphertext.size() >= kChunkSize))
        return false;

    unsigned char expected[kTagSize];
    return tag(index, last, ciphertext, expected) &&
           CRYPTO_memcmp(expected, storedTag.data(), kTagSize) == 0;
}

bool ChunkCipher::open(quint64 index, bool last, QByteArrayView sealed, QByteArray& out) const
{
    return authentic(index, last, sealed) &&
           transform(index, last, false, sealed.first(sealed.size() - kTagSize), out);
}

bool ChunkCipher::sealAll(QByteArrayView plain, QByteArray& out) const
{
    const std::optional<qint64> count = chunkCount(plain.size(), false);
    Q_ASSERT(count); // any size of plain text has a layout
    const qsizetype start = out.size();
    out.reserve(start + qsizetype(sealedSize(m_algorithm, plain.size()) - kSaltSize));
    for (qint64 index = 0; index < *count; ++index) {
        const bool last = index + 1 == *count;
        const qsizetype at = qsizetype(index) * kChunkSize;
        const QByteArrayView chunk = last ? plain.sliced(at) : plain.sliced(at, kChunkSize);
        if (!seal(quint64(index), last, chunk, out)) {
            out.resize(start);
            return false;
        }
    }
    return true;
}

bool ChunkCipher::openAll(QByteArrayView sealed, QByteArray& out) const
{
    const std::optional<qint64> count = chunkCount(sealed.size(), true);
    if (!count)
        return false;
    const qsizetype start = out.size();
    out.reserve(start + sealed.size());
    for (qint64 index = 0; index < *count; ++index) {
        const bool last = index + 1 == *count;
        const qsizetype at = qsizetype(index) * kSealedChunkSize;
        const QByteArrayView chunk = last ? sealed.sliced(at) : sealed.sliced(at, kSealedChunkSize);
        if (!open(quint64(index), last, chunk, out)) {
            // The chunks before this one were authentic, but the input as a whole is not.
            secureWipe(out.data() + start, static_cast<std::size_t>(out.size() - start));
            out.resize(start);
            return false;
        }
    }
    return true;
}

} // namespace virellock::dataops
