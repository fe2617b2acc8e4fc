#include "cipher_stream.h"

#include "key_derivation.h"
#include "secure_wipe.h"

namespace virellock::dataops {

namespace {

class EncryptStream final : public StreamTransform
{
public:
    EncryptStream(ChunkCipher cipher, QByteArray salt)
        : m_cipher(std::move(cipher)), m_salt(std::move(salt))
    {
        m_pending.reserve(kChunkSize);
    }

    bool update(QByteArrayView input, const ByteSink& sink) override
    {
        if (m_finished || !writeSalt(sink))
            return fail();
        if (!m_pending.isEmpty()) {
            const qsizetype take = std::min(kChunkSize - m_pending.size(), input.size());
            m_pending.append(input.first(take));
            input = input.sliced(take);
            if (m_pending.size() < kChunkSize)
                return true;
            if (!sealAndEmit(false, m_pending, sink))
                return fail();
            m_pending.resize(0);
        }
        while (input.size() >= kChunkSize) {
            if (!sealAndEmit(false, input.first(kChunkSize), sink))
                return fail();
            input = input.sliced(kChunkSize);
        }
        m_pending.append(input);
        return true;
    }

    bool finish(const ByteSink& sink) override
    {
        if (m_finished || !writeSalt(sink) || !sealAndEmit(true, m_pending, sink))
            return fail();
        m_finished = true;
        wipe(m_pending);
        return true;
    }

private:
    bool writeSalt(const ByteSink& sink)
    {
        if (m_saltWritten)
            return true;
        m_saltWritten = true;
        return sink(m_salt);
    }

    bool sealAndEmit(bool last, QByteArrayView plain, const ByteSink& sink)
    {
        m_sealed.resize(0);
        return m_cipher.seal(m_index++, last, plain, m_sealed) && sink(m_sealed);
    }

    bool fail()
    {
        m_finished = true;
        return false;
    }

    ChunkCipher m_cipher;
    QByteArray m_salt;
    QByteArray m_pending;
    QByteArray m_sealed;
    quint64 m_index = 0;
    bool m_saltWritten = false;
    bool m_finished = false;
};

class DecryptStream final : public StreamTransform
{
public:
    DecryptStream(CipherAlgorithm algorithm, QByteArray passwordBytes)
        : m_algorithm(algorithm), m_passwordBytes(std::move(passwordBytes))
    {}

    ~DecryptStream() override { forgetPassword(); }

    bool update(QByteArrayView input, const ByteSink& sink) override
    {
        if (m_finished)
            return false;
        if (!m_cipher) {
            const qsizetype take = std::min(kSaltSize - m_pending.size(), input.size());
            m_pending.append(input.first(take));
            input = input.sliced(take);
            if (m_pending.size() < kSaltSize)
                return true;
            m_cipher = ChunkCipher::derive(m_algorithm, m_passwordBytes, m_pending);
            forgetPassword();
            m_pending.resize(0);
            if (!m_cipher)
                return fail();
            m_pending.reserve(kSealedChunkSize);
        }
        // Hold back up to one sealed chunk: only the end of the input tells whether the
        // chunk held back is the last one.
        while (m_pending.size() + input.size() > kSealedChunkSize) {
            if (m_pending.isEmpty()) {
                if (!openAndEmit(false, input.first(kSealedChunkSize), sink))
                    return fail();
                input = input.sliced(kSealedChunkSize);
                continue;
            }
            const qsizetype take = kSealedChunkSize - m_pending.size();
            m_pending.append(input.first(take));
            input = input.sliced(take);
            if (!openAndEmit(false, m_pending, sink))
                return fail();
            m_pending.resize(0);
        }
        m_pending.append(input);
        return true;
    }

    bool finish(const ByteSink& sink) override
    {
        if (m_finished || !m_cipher || !openAndEmit(true, m_pending, sink))
            return fail();
        m_finished = true;
        return true;
    }

private:
    bool openAndEmit(bool last, QByteArrayView sealed, const ByteSink& sink)
    {
        m_plain.resize(0);
        const bool ok = m_cipher->open(m_index++, last, sealed, m_plain) && sink(m_plain);
        wipe(m_plain);
        return ok;
    }

    bool fail()
    {
        m_finished = true;
        forgetPassword();
        return false;
    }

    void forgetPassword()
    {
        wipe(m_passwordBytes);
        m_passwordBytes.clear();
    }

    CipherAlgorithm m_algorithm;
    QByteArray m_passwordBytes;
    std::optional<ChunkCipher> m_cipher;
    QByteArray m_pending;
    QByteArray m_plain;
    quint64 m_index = 0;
    bool m_finished = false;
};

} // namespace

std::unique_ptr<StreamTransform> makeEncryptStream(CipherAlgorithm algorithm, QStringView password,
                                                   std::optional<QByteArray> salt)
{
    if (!salt)
        salt = randomBytes(kSaltSize);
    if (!salt || salt->size() != kSaltSize)
        return nullptr;
    auto cipher = ChunkCipher::fromPassword(algorithm, password, *salt);
    if (!cipher)
        return nullptr;
    return std::make_unique<EncryptStream>(std::move(*cipher), std::move(*salt));
}

std::unique_ptr<StreamTransform> makeDecryptStream(CipherAlgorithm algorithm, QStringView password)
{
    return std::make_unique<DecryptStream>(algorithm, passwordToBytes(password));
}

} // namespace virellock::dataops
