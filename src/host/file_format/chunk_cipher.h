#pragma once

#include "host/data_ops/secure_wipe.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

#include <optional>

namespace virellock::dataops {

// The values double as the selector byte that every tag authenticates.
enum class CipherAlgorithm : quint8
{
    Des = 1,
    Rc4 = 2,
};

[[nodiscard]] std::optional<CipherAlgorithm> cipherAlgorithmFromSelector(int selector);

struct CipherBackendCheck; // cipher_backend.cpp

// Cipher output: a salt, then chunks. Every chunk but the last holds exactly kChunkSize plain
// bytes; the last holds fewer (possibly none), so a writer never has to look ahead to know
// which chunk is the last. Each sealed chunk is its ciphertext followed by a tag.
inline constexpr qsizetype kChunkSize = qsizetype(1) << 20;
inline constexpr qsizetype kTagSize = 32;
// A full chunk seals to this many bytes with either algorithm.
inline constexpr qsizetype kSealedChunkSize = kChunkSize + kTagSize;
// The most room seal() and open() take in their output for one chunk while they work: the
// cipher may write a block of padding before the tag is added.
inline constexpr qsizetype kChunkRoom = kSealedChunkSize + 8;

// Sealed size of one chunk, and of the whole output for a plain text of the given size.
[[nodiscard]] qint64 sealedChunkSize(CipherAlgorithm algorithm, qint64 plainLength, bool last);
[[nodiscard]] qint64 sealedSize(CipherAlgorithm algorithm, qint64 plainSize);

// How many chunks length bytes are cut into: a plain text (sealed false), or the sealed chunks
// that follow the salt (sealed true). All but the last are full, kChunkSize plain or
// kSealedChunkSize sealed bytes; the last holds the rest. A plain text always ends with a last
// chunk, empty when its size is a multiple of kChunkSize, so sealed chunks are never empty.
// Nothing for a length no input of the kind can have. Every writer and reader cuts this way.
[[nodiscard]] std::optional<qint64> chunkCount(qint64 length, bool sealed);

// Encrypt-then-MAC of independent chunks, in the manner of the STREAM construction: chunk i
// is enciphered under its own key (and, for DES, its own IV) derived from the cipher key and
// i, and carries an HMAC-SHA-256 tag over the selector, i, the last-chunk flag and the
// ciphertext. Dropping, reordering or appending chunks, or reading the output with the other
// algorithm, breaks a tag. Chunks share nothing, so any thread can seal or open any chunk.
class ChunkCipher
{
public:
    // Derives the cipher and MAC keys from the password bytes and the salt with scrypt.
    [[nodiscard]] static std::optional<ChunkCipher>
    derive(CipherAlgorithm algorithm, QByteArrayView passwordBytes, QByteArrayView salt);
    // The same from the password as typed; its bytes are wiped once the keys are made.
    [[nodiscard]] static std::optional<ChunkCipher>
    fromPassword(CipherAlgorithm algorithm, QStringView password, QByteArrayView salt);

    ChunkCipher(const ChunkCipher& other) = default;
    ChunkCipher& operator=(const ChunkCipher& other) = default;
    ~ChunkCipher() = default; // the keys wipe themselves

    CipherAlgorithm algorithm() const { return m_algorithm; }

    // Appends the sealed chunk to out. A chunk that is not the last must hold exactly
    // kChunkSize bytes, the last one fewer: the caller cuts the plain text, so another size is
    // a mistake in the program, asserted in debug builds and refused in release ones.
    [[nodiscard]] bool seal(quint64 index, bool last, QByteArrayView plain, QByteArray& out) const;

    // Checks the tag before anything is deciphered; appends the plain bytes to out only when
    // the chunk is authentic. A sealed chunk of any size is input, refused when impossible.
    // Thread-safe, like seal().
    [[nodiscard]] bool open(quint64 index, bool last, QByteArrayView sealed, QByteArray& out) const;

    // Whether a sealed chunk is of a possible size and carries the right tag, without
    // deciphering it: what open() checks first. Thread-safe.
    [[nodiscard]] bool authentic(quint64 index, bool last, QByteArrayView sealed) const;

    // Every chunk of a plain text held in memory, one at a time on the calling thread, appended
    // to out (without the salt): the same bytes as the file job's on any number of threads.
    [[nodiscard]] bool sealAll(QByteArrayView plain, QByteArray& out) const;
    // The reverse; appends nothing unless every chunk is authentic and the last one ends the
    // input.
    [[nodiscard]] bool openAll(QByteArrayView sealed, QByteArray& out) const;

private:
    using Key = SecretBytes<32>;

    // The check of the cipher backend seals and opens under fixed keys, without the cost of
    // scrypt; files always derive theirs from a password.
    friend struct CipherBackendCheck;
    [[nodiscard]] static std::optional<ChunkCipher>
    fromKeys(CipherAlgorithm algorithm, QByteArrayView cipherKey, QByteArrayView macKey);

    explicit ChunkCipher(CipherAlgorithm algorithm) : m_algorithm(algorithm) {}
    [[nodiscard]] bool chunkKey(quint64 index, unsigned char* out) const;
    [[nodiscard]] bool tag(quint64 index, bool last, QByteArrayView ciphertext,
                           unsigned char (&out)[32]) const;
    [[nodiscard]] bool transform(quint64 index, bool last, bool encrypt, QByteArrayView in,
                                 QByteArray& out) const;

    CipherAlgorithm m_algorithm;
    Key m_cipherKey;
    Key m_macKey;
};

} // namespace virellock::dataops
