#include "cipher_backend.h"

#include "openssl_support.h"

#include <openssl/err.h>

namespace virellock::dataops {

// Seals and opens one known answer; a friend of ChunkCipher, which it makes from fixed keys.
struct CipherBackendCheck
{
    static bool matches(const CipherKnownAnswer& answer)
    {
        // seal() takes only a chunk cut at the right place; a malformed answer is a failure.
        const bool sizeFits =
            answer.last ? answer.plain.size() < kChunkSize : answer.plain.size() == kChunkSize;
        if (!sizeFits)
            return false;
        const std::optional<ChunkCipher> cipher =
            ChunkCipher::fromKeys(answer.algorithm, answer.cipherKey, answer.macKey);
        if (!cipher)
            return false;
        QByteArray sealed;
        QByteArray opened;
        return cipher->seal(answer.index, answer.last, answer.plain, sealed) &&
               sealed == answer.sealed &&
               cipher->open(answer.index, answer.last, answer.sealed, opened) &&
               opened == answer.plain;
    }
};

namespace {

struct AlgorithmOutcome
{
    bool works = false;
    CipherBackendFault fault = CipherBackendFault::None;
    std::string openSslError;
};

AlgorithmOutcome checkAlgorithm(CipherAlgorithm algorithm,
                                std::span<const CipherKnownAnswer> answers)
{
    const detail::CryptoAlgorithms& algorithms = detail::cryptoAlgorithms();
    const bool des = algorithm == CipherAlgorithm::Des;
    if (!(des ? algorithms.desCbc : algorithms.rc4)) {
        if (!algorithms.legacyProviderLoaded)
            return {false, CipherBackendFault::LegacyProviderMissing,
                    algorithms.legacyProviderError};
        return {false, CipherBackendFault::AlgorithmMissing,
                des ? algorithms.desCbcError : algorithms.rc4Error};
    }
    bool tried = false;
    for (const CipherKnownAnswer& answer : answers) {
        if (answer.algorithm != algorithm)
            continue;
        tried = true;
        ERR_clear_error(); // so that only this answer's errors are reported
        if (!CipherBackendCheck::matches(answer))
            return {false, CipherBackendFault::WrongResult, detail::takeOpenSslError()};
    }
    // With nothing to compare with, nothing shows that the cipher works.
    if (!tried)
        return {false, CipherBackendFault::WrongResult, {}};
    return {true, CipherBackendFault::None, {}};
}

} // namespace

// The answers were computed without this program, from the layout in docs/FORMAT.md, with
// python3 and the openssl command (OpenSSL 3.0):
//   kc, km = bytes(range(0, 32)), bytes(range(32, 64))
//   ki = hmac.new(kc, bytes([sel]) + struct.pack("<Q", index), hashlib.sha256).digest()
//   DES: ct = `openssl enc -des-cbc -provider legacy -provider default -K ki[0:8] -iv ki[8:16]`
//        of the plain text (PKCS#7 padding, the command's default)
//   RC4: ct = `openssl enc -rc4 -provider legacy -provider default -K ki[0:16]` of 3,072 zero
//        bytes and the plain text, its first 3,072 bytes dropped (the key stream skipped)
//   tag = hmac.new(km, bytes([sel]) + struct.pack("<Q", index) + b"\x01" + ct,
//                  hashlib.sha256).digest()
//   sealed = ct + tag
// The RC4 answer's index has eight different bytes, so a wrong byte order shows.
const std::vector<CipherKnownAnswer>& builtInKnownAnswers()
{
    static const std::vector<CipherKnownAnswer> answers = [] {
        const QByteArray cipherKey =
            QByteArray::fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
        const QByteArray macKey =
            QByteArray::fromHex("202122232425262728292a2b2c2d2e2f303132333435363738393a3b3c3d3e3f");
        return std::vector<CipherKnownAnswer>{
            {CipherAlgorithm::Des, cipherKey, macKey, 1, true, QByteArray("Virellock DES"),
             QByteArray::fromHex(
                 "29d1bc053f5c24fee0b3fe1edb189730"
                 "4d457045e086dcdd2dbbfd5e29b839642a16c9d58007464e19208ecfe5c63d50")},
            {CipherAlgorithm::Rc4, cipherKey, macKey, 0x0102030405060708, true,
             QByteArray("Virellock RC4"),
             QByteArray::fromHex(
                 "6b45c34ceee8f700341ccd857d"
                 "a43982aae011bdb789af2452f2f130fb5e98d0f4973bfbc5c6a3620c6d5b24e0")},
        };
    }();
    return answers;
}

CipherBackendStatus checkCipherBackend(std::span<const CipherKnownAnswer> answers)
{
    CipherBackendStatus status;
    for (const CipherAlgorithm algorithm : {CipherAlgorithm::Des, CipherAlgorithm::Rc4}) {
        const AlgorithmOutcome outcome = checkAlgorithm(algorithm, answers);
        (algorithm == CipherAlgorithm::Des ? status.des : status.rc4) = outcome.works;
        if (!outcome.works && status.fault == CipherBackendFault::None) {
            status.fault = outcome.fault;
            status.openSslError = QString::fromStdString(outcome.openSslError);
        }
    }
    return status;
}

const CipherBackendStatus& cipherBackendAvailable()
{
    static const CipherBackendStatus status = checkCipherBackend(builtInKnownAnswers());
    return status;
}

} // namespace virellock::dataops
