// Opening one sealed chunk, below key derivation: the keys are derived once, at start-up, so
// that each input costs microseconds instead of an scrypt call.
//
// Input: byte 0 picks the algorithm (bit 0: DES or RC4) and the mode (bits 1-2), bytes 1-8 are
// the chunk index (little-endian), bit 0 of byte 9 the last-chunk flag, the rest the body:
//   mode 0, 3  the body is a sealed chunk, opened as it is;
//   mode 1     the body is a ciphertext; the harness appends the tag that FORMAT.md describes,
//              so that deciphering and DES padding are reached with any ciphertext;
//   mode 2     byte 0 of the body picks a change, bytes 1-3 its details, the rest is a plain
//              text that is sealed, opened, changed, and must then be refused.
// Whatever is opened must seal back to the very bytes it was opened from.

#include "fuzz_check.h"
#include "host/file_format/chunk_cipher.h"
#include "host/data_ops/key_derivation.h"

#include <QString>
#include <QtEndian>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstddef>
#include <cstdint>

using namespace virellock;
using namespace virellock::dataops;

namespace {

// The keys of the format fixtures des-text.bin and rc4-text.bin (their password and salts),
// so that the chunks in those files open and make seeds.
const QString kPassword = QStringLiteral(u"\u5BC6\u7801 Pass ");
const QByteArray kDesSalt = QByteArray::fromHex("7713cac2df590a1eae81d81454215c5b");
const QByteArray kRc4Salt = QByteArray::fromHex("f1bca6e65d1b9c8d8ecbd73159399f0a");

struct Keys
{
    ChunkCipher cipher;
    QByteArray macKey;
};

Keys deriveKeys(CipherAlgorithm algorithm, const QByteArray& salt)
{
    const QByteArray password = passwordToBytes(kPassword);
    std::optional<ChunkCipher> cipher = ChunkCipher::derive(algorithm, password, salt);
    FUZZ_CHECK(cipher.has_value());
    QByteArray derived(64, '\0');
    FUZZ_CHECK(deriveScrypt(password, salt, reinterpret_cast<unsigned char*>(derived.data()),
                            std::size_t(derived.size())));
    return {*cipher, derived.sliced(32)};
}

const Keys& keysFor(CipherAlgorithm algorithm)
{
    static const Keys des = deriveKeys(CipherAlgorithm::Des, kDesSalt);
    static const Keys rc4 = deriveKeys(CipherAlgorithm::Rc4, kRc4Salt);
    return algorithm == CipherAlgorithm::Des ? des : rc4;
}

// HMAC-SHA-256(Km, sel || LE64(i) || last || ciphertext), written from FORMAT.md alone.
QByteArray documentedTag(const Keys& keys, quint64 index, bool last, QByteArrayView ciphertext)
{
    QByteArray message;
    message.append(char(keys.cipher.algorithm()));
    char indexBytes[8];
    qToLittleEndian(index, indexBytes);
    message.append(indexBytes, sizeof indexBytes);
    message.append(char(last ? 1 : 0));
    message.append(ciphertext);
    QByteArray tag(kTagSize, '\0');
    unsigned int tagSize = 0;
    FUZZ_CHECK(HMAC(EVP_sha256(), keys.macKey.constData(), int(keys.macKey.size()),
                    reinterpret_cast<const unsigned char*>(message.constData()),
                    std::size_t(message.size()), reinterpret_cast<unsigned char*>(tag.data()),
                    &tagSize) != nullptr);
    FUZZ_CHECK(tagSize == kTagSize);
    return tag;
}

std::optional<QByteArray> open(const ChunkCipher& cipher, quint64 index, bool last,
                               QByteArrayView sealed)
{
    QByteArray plain;
    if (!cipher.open(index, last, sealed, plain))
        return std::nullopt;
    // Sealing is deterministic, so an authentic chunk is exactly what its plain text seals to.
    QByteArray again;
    FUZZ_CHECK(cipher.seal(index, last, plain, again));
    FUZZ_CHECK(again == sealed);
    return plain;
}

// Whether a ciphertext of this size can be a chunk at all.
bool possibleCiphertextSize(CipherAlgorithm algorithm, bool last, qsizetype size)
{
    if (!last)
        return size == kChunkSize;
    if (algorithm == CipherAlgorithm::Des)
        return size > 0 && size % 8 == 0 && size <= kChunkSize;
    return size < kChunkSize;
}

void sealChangeAndOpen(const ChunkCipher& cipher, quint64 index, bool last, QByteArrayView body)
{
    if (body.size() < 4)
        return;
    const auto detail = [&body](int i) { return static_cast<unsigned char>(body[i]); };
    const QByteArrayView plain = body.sliced(4);

    // seal() takes only the sizes the chunk layout gives (any other is the caller's mistake,
    // asserted), and must then succeed.
    if (last ? plain.size() >= kChunkSize : plain.size() != kChunkSize)
        return;
    QByteArray sealed;
    FUZZ_CHECK(cipher.seal(index, last, plain, sealed));
    FUZZ_CHECK(sealed.size() == sealedChunkSize(cipher.algorithm(), plain.size(), last));
    FUZZ_CHECK(open(cipher, index, last, sealed) == plain.toByteArray());

    const qsizetype position = (detail(1) << 8 | detail(2)) % sealed.size();
    quint64 openIndex = index;
    bool openLast = last;
    switch (detail(0) % 4) {
    case 0:
        sealed[position] = char(sealed[position] ^ (detail(3) ? detail(3) : 0x80));
        break;
    case 1:
        sealed.chop(position + 1);
        break;
    case 2:
        openIndex ^= quint64(detail(3)) + 1;
        break;
    default:
        openLast = !last;
        break;
    }
    FUZZ_CHECK(!open(cipher, openIndex, openLast, sealed));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    keysFor(CipherAlgorithm::Des);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 10)
        return 0;
    const CipherAlgorithm algorithm = data[0] & 1 ? CipherAlgorithm::Rc4 : CipherAlgorithm::Des;
    const int mode = (data[0] >> 1) & 3;
    const quint64 index = qFromLittleEndian<quint64>(data + 1);
    const bool last = data[9] & 1;
    const QByteArrayView body(data + 10, qsizetype(size - 10));
    const Keys& keys = keysFor(algorithm);

    switch (mode) {
    case 1: {
        QByteArray sealed = body.toByteArray() + documentedTag(keys, index, last, body);
        const bool opened = open(keys.cipher, index, last, sealed).has_value();
        if (!possibleCiphertextSize(algorithm, last, body.size()))
            FUZZ_CHECK(!opened);
        else if (algorithm == CipherAlgorithm::Rc4)
            FUZZ_CHECK(opened); // no padding that could be refused
        break;
    }
    case 2:
        sealChangeAndOpen(keys.cipher, index, last, body);
        break;
    default:
        open(keys.cipher, index, last, body);
        break;
    }
    return 0;
}
