#include "prepared_keys.h"

#include "host/data_ops/key_derivation.h"
#include "host/data_ops/password_check.h"
#include "host/data_ops/secure_wipe.h"
#include "host/data_ops/thread_state.h"

#include <QScopeGuard>
#include <QThreadPool>

#include <condition_variable>
#include <future>
#include <mutex>

namespace virellock {

using namespace dataops;

EncryptionKeys::~EncryptionKeys()
{
    wipe(salt);
    wipe(passwordCheck);
}

namespace {

std::optional<EncryptionKeys> deriveFromBytes(Method method, QByteArrayView passwordBytes)
{
    EncryptionKeys keys;
    keys.method = method;
    // The enhanced methods' check takes a second core while this one derives the data keys:
    // two scrypt calls at once, 128 MiB for 0.2 s instead of 64 MiB for 0.4 s.
    std::future<std::optional<QByteArray>> check;
    if (isEnhanced(method))
        check = std::async(std::launch::async,
                           [passwordBytes] { return makePasswordCheckFromBytes(passwordBytes); });
    bool derived = true;
    if (const std::optional<CipherAlgorithm> algorithm = cipherOf(method)) {
        const std::optional<QByteArray> salt = randomBytes(kSaltSize);
        if (salt) {
            keys.salt = *salt;
            keys.cipher = ChunkCipher::derive(*algorithm, passwordBytes, keys.salt);
        }
        derived = bool(keys.cipher);
    }
    if (check.valid()) {
        std::optional<QByteArray> made = check.get();
        if (!made)
            return std::nullopt;
        keys.passwordCheck = std::move(*made);
    }
    if (!derived)
        return std::nullopt;
    return keys;
}

} // namespace

std::optional<EncryptionKeys> deriveEncryptionKeys(Method method, QStringView password)
{
    QByteArray bytes = passwordToBytes(password);
    const auto wipeBytes = qScopeGuard([&bytes] { wipe(bytes); });
    return deriveFromBytes(method, bytes);
}

struct KeyPreparation::State
{
    std::mutex mutex;
    std::condition_variable ready;
    bool done = false;
    std::optional<EncryptionKeys> keys;
};

KeyPreparation::KeyPreparation(Method method, QStringView password)
    : m_state(std::make_shared<State>())
{
    // The worker gets bytes of its own, so that it never reads the caller's password after the
    // caller has wiped it. Qt's global pool, not a thread of our own: the application waits for
    // it as it quits, so a derivation never outlives OpenSSL.
    auto bytes = std::make_shared<QByteArray>(passwordToBytes(password));
    QThreadPool::globalInstance()->start([state = m_state, method, bytes] {
        std::optional<EncryptionKeys> keys = deriveFromBytes(method, *bytes);
        wipe(*bytes);
        // The pool thread outlives this task: see releaseThreadState().
        releaseThreadState();
        const std::lock_guard lock(state->mutex);
        state->keys = std::move(keys);
        state->done = true;
        state->ready.notify_all();
        // When nobody takes the keys, the last holder of the state, this worker or the
        // preparation, wipes them as it goes.
    });
}

KeyPreparation::~KeyPreparation()
{
    const std::lock_guard lock(m_state->mutex);
    m_state->keys.reset();
}

std::optional<EncryptionKeys> KeyPreparation::take()
{
    std::unique_lock lock(m_state->mutex);
    m_state->ready.wait(lock, [this] { return m_state->done; });
    return std::exchange(m_state->keys, std::nullopt);
}

} // namespace virellock
