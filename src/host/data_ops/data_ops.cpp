#include "data_ops.h"

#include "cipher_stream.h"
#include "zstd_stream.h"

namespace virellock {

using namespace dataops;

namespace {

std::optional<QByteArray> runAll(const std::unique_ptr<StreamTransform>& transform,
                                 QByteArrayView data)
{
    if (!transform)
        return std::nullopt;
    return transformAll(*transform, data);
}

} // namespace

std::optional<QByteArray> EncryptData(QByteArrayView data, QStringView password, int algorithm)
{
    const auto cipher = cipherAlgorithmFromSelector(algorithm);
    if (!cipher)
        return std::nullopt;
    return runAll(makeEncryptStream(*cipher, password), data);
}

std::optional<QByteArray> DecryptData(QByteArrayView data, QStringView password, int algorithm)
{
    const auto cipher = cipherAlgorithmFromSelector(algorithm);
    if (!cipher)
        return std::nullopt;
    return runAll(makeDecryptStream(*cipher, password), data);
}

std::optional<QByteArray> CompressData(QByteArrayView data)
{
    return runAll(makeCompressStream(data.size()), data);
}

std::optional<QByteArray> DecompressData(QByteArrayView data)
{
    return runAll(makeDecompressStream(), data);
}

} // namespace virellock
