#pragma once

// Keys for one encryption, derived before the file is known. The salts are fresh random bytes
// that do not depend on the file, so the encrypt command starts the key derivation (scrypt,
// 0.2 s and 64 MiB a call) on a worker as soon as its checks pass, and the user's time in the
// open-file dialog hides it.

#include "engine/methods.h"
#include "host/file_format/chunk_cipher.h"

#include <QByteArray>
#include <QStringView>

#include <memory>
#include <optional>

namespace virellock {

// What encryptFile() derives for a method: the payload's salt and keys (DES, RC4) and the
// enhanced record's password check. They serve exactly one file: two files under the same
// salt and password would share their chunk keys, which RC4 must never do.
struct EncryptionKeys
{
    Method method = Method::Md5Enhanced;
    QByteArray salt;                            // DES and RC4
    std::optional<dataops::ChunkCipher> cipher; // DES and RC4; its keys wipe themselves
    QByteArray passwordCheck;                   // the enhanced methods

    EncryptionKeys() = default;
    EncryptionKeys(const EncryptionKeys&) = delete;
    EncryptionKeys& operator=(const EncryptionKeys&) = delete;
    EncryptionKeys(EncryptionKeys&&) = default;
    EncryptionKeys& operator=(EncryptionKeys&&) = default;
    ~EncryptionKeys();
};

// Derives the keys on the calling thread; an enhanced method's password check and data keys
// are derived at once, the check on a second thread. Nothing when the random generator or
// scrypt fails. The password's bytes are wiped once the keys are made.
[[nodiscard]] std::optional<EncryptionKeys> deriveEncryptionKeys(Method method,
                                                                 QStringView password);

// deriveEncryptionKeys() started on a thread of its own. take() waits for the keys and hands
// them over, once. A preparation that goes without take(), as when the open-file dialog is
// cancelled, leaves its thread to finish on its own and wipe what it derived: the caller does
// not wait for scrypt.
class KeyPreparation
{
public:
    KeyPreparation(Method method, QStringView password);
    ~KeyPreparation();
    KeyPreparation(const KeyPreparation&) = delete;
    KeyPreparation& operator=(const KeyPreparation&) = delete;

    [[nodiscard]] std::optional<EncryptionKeys> take();

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace virellock
