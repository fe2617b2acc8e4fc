#include "data_ops.h"

#include "host/file_format/chunk_cipher.h"
#include "host/file_format/zstd_frames.h"
#include "key_derivation.h"

namespace virellock {

using namespace dataops;

// The whole byte set is in memory, so the chunks are sealed and opened one after another on
// this thread; files go through the engine's parallel job, which writes the same bytes.
std::optional<QByteArray> EncryptData(QByteArrayView data, QStringView password, int algorithm)
{
    const std::optional<CipherAlgorithm> cipherAlgorithm = cipherAlgorithmFromSelector(algorithm);
    if (!cipherAlgorithm)
        return std::nullopt;
    std::optional<QByteArray> output = randomBytes(kSaltSize);
    if (!output)
        return std::nullopt;
    const std::optional<ChunkCipher> cipher =
        ChunkCipher::fromPassword(*cipherAlgorithm, password, *output);
    if (!cipher || !cipher->sealAll(data, *output))
        return std::nullopt;
    return output;
}

std::optional<QByteArray> DecryptData(QByteArrayView data, QStringView password, int algorithm)
{
    const std::optional<CipherAlgorithm> cipherAlgorithm = cipherAlgorithmFromSelector(algorithm);
    if (!cipherAlgorithm || data.size() < kSaltSize)
        return std::nullopt;
    const std::optional<ChunkCipher> cipher =
        ChunkCipher::fromPassword(*cipherAlgorithm, password, data.first(kSaltSize));
    QByteArray plain;
    if (!cipher || !cipher->openAll(data.sliced(kSaltSize), plain))
        return std::nullopt;
    return plain;
}

// Frames one after another on this thread, as for the ciphers above; files compress and
// decompress their frames on all cores, with the same bytes.
std::optional<QByteArray> CompressData(QByteArrayView data)
{
    return compressFrames(data);
}

std::optional<QByteArray> DecompressData(QByteArrayView data)
{
    return decompressFrames(data);
}

} // namespace virellock
