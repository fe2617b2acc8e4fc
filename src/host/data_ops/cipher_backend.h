#pragma once

// Whether OpenSSL can run DES and RC4 for us. Both come from OpenSSL's legacy provider, on
// Linux a module of its own (ossl-modules/legacy.so) that a system may lack; without it a file
// job would fail deep inside, where a cipher failure looks like a wrong password. The check
// seals and opens short chunks under fixed keys through ChunkCipher, the code every file goes
// through, and compares them with known answers.

#include "host/file_format/chunk_cipher.h"

#include <QByteArray>
#include <QString>

#include <span>
#include <vector>

namespace virellock::dataops {

// Why a cipher does not work.
enum class CipherBackendFault
{
    None,
    LegacyProviderMissing, // OpenSSL's legacy provider could not be loaded
    AlgorithmMissing,      // the providers loaded, but OpenSSL offers no such cipher
    WrongResult,           // the cipher ran, but sealed or opened a known answer wrongly
};

struct CipherBackendStatus
{
    bool des = false;
    bool rc4 = false;
    // The first fault found; None when both work.
    CipherBackendFault fault = CipherBackendFault::None;
    // OpenSSL's own words for the fault (e.g. the module it could not open and why); empty
    // when it gave none.
    QString openSslError;

    bool works(CipherAlgorithm algorithm) const
    {
        return algorithm == CipherAlgorithm::Des ? des : rc4;
    }
    bool allWork() const { return des && rc4; }
};

// One chunk sealed under fixed keys: sealing plain must give sealed (ciphertext, then tag), and
// opening sealed must give plain.
struct CipherKnownAnswer
{
    CipherAlgorithm algorithm = CipherAlgorithm::Des;
    QByteArray cipherKey; // the cipher key, 32 bytes
    QByteArray macKey;    // the MAC key, 32 bytes
    quint64 index = 0;
    bool last = true;
    QByteArray plain;
    QByteArray sealed;
};

// The answers the program checks itself against: a short last chunk for each algorithm.
[[nodiscard]] const std::vector<CipherKnownAnswer>& builtInKnownAnswers();

// An algorithm works when OpenSSL offers it and every given answer for it (at least one) seals
// and opens as it should. Runs in microseconds: no key derivation.
[[nodiscard]] CipherBackendStatus checkCipherBackend(std::span<const CipherKnownAnswer> answers);

// The check on the built-in answers, run once per process on first use (from any thread) and
// remembered.
[[nodiscard]] const CipherBackendStatus& cipherBackendAvailable();

} // namespace virellock::dataops
