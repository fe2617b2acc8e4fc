// DecryptData and the file decrypt jobs as the program runs them, key derivation included. Every
// input that reaches the chunks costs one scrypt call (a fifth of a second), so this target is
// run for a bounded number of inputs; fuzz_chunk_open covers the chunk layer at full speed.
//
// Input: bits 0-1 of byte 0 are the selector (0 to 3), bit 2 the mode; bit 3 set, the mode is 2
// whatever bit 2 says.
//   mode 0  byte 1 is a password length (modulo 32), then the password's bytes (UTF-8), then
//           the data given to DecryptData.
//   mode 1  the harness writes a cipher output itself (DES when bit 0 is set, else RC4): byte 1
//           is the number of full chunks (modulo 3), byte 2 picks a change (none, a flipped
//           byte, a cut end, added bytes), bytes 3-5 its details, bytes 6-7 are not read (they
//           keep the corpus's layout), the rest is the plain text of the last chunk (and,
//           repeated, of the full ones). The output must decrypt to that plain text exactly when
//           nothing was changed, both through DecryptData, which derives the keys from the salt
//           and opens the chunks one after another, and through the file decrypt job, which
//           cuts the chunks on several threads and takes the keys directly.
//   mode 2  the rest is the payload of an MD5-enhanced file, restored as files are: its frames
//           walked before anything is written, then decompressed by the frame job on several
//           threads into a temporary file. No key, no scrypt call.
//           The file job must accept exactly what DecompressData accepts, to the same bytes.

#include "engine/parallel_cipher_job.h"
#include "engine/parallel_frame_job.h"
#include "fuzz_check.h"
#include "host/data_ops/data_ops.h"
#include "host/data_ops/key_derivation.h"
#include "host/file_format/chunk_cipher.h"

#include <QBuffer>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

using namespace virellock;
using namespace virellock::dataops;

namespace {

const QString kPassword = QStringLiteral("fuzz");
const QByteArray kSalt = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");

// Sealing needs no scrypt call per input: the keys for the fixed password and salt are
// derived once.
const ChunkCipher& cipherFor(CipherAlgorithm algorithm)
{
    const auto derive = [](CipherAlgorithm which) {
        std::optional<ChunkCipher> cipher =
            ChunkCipher::derive(which, passwordToBytes(kPassword), kSalt);
        FUZZ_CHECK(cipher.has_value());
        return *cipher;
    };
    static const ChunkCipher des = derive(CipherAlgorithm::Des);
    static const ChunkCipher rc4 = derive(CipherAlgorithm::Rc4);
    return algorithm == CipherAlgorithm::Des ? des : rc4;
}

void decryptForeign(int selector, QByteArrayView rest)
{
    if (rest.isEmpty())
        return;
    const qsizetype passwordSize = std::min<qsizetype>(quint8(rest[0]) % 32, rest.size() - 1);
    const QString password = QString::fromUtf8(rest.sliced(1, passwordSize));
    const QByteArrayView data = rest.sliced(1 + passwordSize);

    const std::optional<QByteArray> plain = DecryptData(data, password, selector);
    const std::optional<CipherAlgorithm> algorithm = cipherAlgorithmFromSelector(selector);
    if (!algorithm)
        FUZZ_CHECK(!plain);
    else if (plain)
        FUZZ_CHECK(sealedSize(*algorithm, plain->size()) == data.size());
}

// The file the file jobs write over.
QString plainFile()
{
    static const QTemporaryDir folder;
    return folder.filePath(QStringLiteral("plain"));
}

// What a file job wrote to the temporary file.
QByteArray written(AtomicFileWriter& writer)
{
    QByteArray plain;
    FUZZ_CHECK(writer.readBack([&plain](QByteArrayView piece) {
        plain.append(piece);
        return true;
    }));
    return plain;
}

// The way files are decrypted: the chunks after the salt, keys given, written to a temporary
// file. Nothing when the input is refused.
std::optional<QByteArray> decryptAsFile(const ChunkCipher& cipher, QByteArray output)
{
    if (output.size() < kSaltSize)
        return std::nullopt;
    QBuffer source(&output);
    FUZZ_CHECK(source.open(QIODevice::ReadOnly) && source.seek(kSaltSize));
    AtomicFileWriter writer(plainFile());
    // The plain text is never longer than the cipher output.
    FUZZ_CHECK(writer.open(output.size()));
    CipherJob job;
    job.cipher = &cipher;
    job.encrypt = false;
    job.source = &source;
    job.length = output.size() - kSaltSize;
    job.writer = &writer;
    const JobOutcome outcome = runCipherJob(job, {}).outcome;
    FUZZ_CHECK(outcome == JobOutcome::Done || outcome == JobOutcome::BadInput);
    if (outcome != JobOutcome::Done)
        return std::nullopt;
    return written(writer);
}

// The frame job over the payload, written to writer.
JobOutcome decompressAsFile(QByteArray& payload, AtomicFileWriter& writer)
{
    QBuffer source(&payload);
    FUZZ_CHECK(source.open(QIODevice::ReadOnly));
    FrameJob job;
    job.compress = false;
    job.source = &source;
    job.length = payload.size();
    job.writer = &writer;
    const JobOutcome outcome = runFrameJob(job, {}).outcome;
    FUZZ_CHECK(outcome == JobOutcome::Done || outcome == JobOutcome::BadInput);
    return outcome;
}

void restorePayload(QByteArrayView rest)
{
    QByteArray payload = rest.toByteArray();
    const std::optional<QByteArray> plain = DecompressData(payload);

    // The walk before writing refuses what breaks the layout; what it lets through may still
    // fail to decode.
    QBuffer walked(&payload);
    FUZZ_CHECK(walked.open(QIODevice::ReadOnly));
    const FrameSequence frames =
        walkFramesOf(walked, payload.size(), std::numeric_limits<qint64>::max());
    FUZZ_CHECK(frames.status == FrameSequence::Good || frames.status == FrameSequence::Refused);
    FUZZ_CHECK(walked.pos() == 0);
    if (frames.status != FrameSequence::Good) {
        FUZZ_CHECK(!plain);
        return;
    }
    FUZZ_CHECK(!plain || frames.contentSize == plain->size());

    AtomicFileWriter writer(plainFile());
    FUZZ_CHECK(writer.open(frames.contentSize));
    FUZZ_CHECK((decompressAsFile(payload, writer) == JobOutcome::Done) == plain.has_value());
    if (plain)
        FUZZ_CHECK(written(writer) == *plain);
}

void decryptOwn(CipherAlgorithm algorithm, QByteArrayView rest)
{
    if (rest.size() < 7)
        return;
    const auto detail = [&rest](int i) { return static_cast<unsigned char>(rest[i]); };
    const int fullChunks = detail(0) % 3;
    const QByteArrayView lastPlain = rest.sliced(7);

    QByteArray full(kChunkSize, '\0');
    for (qsizetype i = 0; !lastPlain.isEmpty() && i < full.size(); ++i)
        full[i] = lastPlain[i % lastPlain.size()];
    const ChunkCipher& cipher = cipherFor(algorithm);
    QByteArray output = kSalt;
    QByteArray plain;
    for (int i = 0; i < fullChunks; ++i) {
        FUZZ_CHECK(cipher.seal(quint64(i), false, full, output));
        plain += full;
    }
    FUZZ_CHECK(cipher.seal(quint64(fullChunks), true, lastPlain, output));
    plain += lastPlain;
    FUZZ_CHECK(output.size() == sealedSize(algorithm, plain.size()));

    const int change = detail(1) % 4;
    const qsizetype position = qsizetype((detail(2) << 8 | detail(3)) * output.size()) >> 16;
    switch (change) {
    case 1:
        output[position] = char(output[position] ^ (detail(4) ? detail(4) : 0x80));
        break;
    case 2:
        output.chop(position + 1);
        break;
    case 3:
        output.append(QByteArray(detail(4) + 1, char(detail(3))));
        break;
    default:
        break;
    }

    const std::optional<QByteArray> decrypted = DecryptData(output, kPassword, int(algorithm));
    if (change == 0)
        FUZZ_CHECK(decrypted == plain);
    else
        FUZZ_CHECK(!decrypted);

    // The file job never sees the salt: a change there leaves its input intact.
    const std::optional<QByteArray> decryptedAsFile = decryptAsFile(cipher, output);
    if (change == 0 || (change == 1 && position < kSaltSize))
        FUZZ_CHECK(decryptedAsFile == plain);
    else
        FUZZ_CHECK(!decryptedAsFile);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    cipherFor(CipherAlgorithm::Des);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const int selector = data[0] & 3;
    const QByteArrayView rest(data + 1, qsizetype(size - 1));
    if (data[0] & 8)
        restorePayload(rest);
    else if (data[0] & 4)
        decryptOwn(data[0] & 1 ? CipherAlgorithm::Des : CipherAlgorithm::Rc4, rest);
    else
        decryptForeign(selector, rest);
    return 0;
}
