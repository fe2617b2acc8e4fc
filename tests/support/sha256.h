#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <openssl/evp.h>

#include <memory>

namespace virellock::test {

// SHA-256 over data fed in pieces, OpenSSL's own: compares files of gigabytes, or plain text
// that must not stay in memory, without keeping a copy of them.
class Sha256
{
public:
    void update(QByteArrayView data)
    {
        m_ok = m_ok && EVP_DigestUpdate(m_context.get(), data.data(),
                                        static_cast<std::size_t>(data.size())) == 1;
    }

    // The 32-byte digest, or an empty array if OpenSSL failed at any point.
    [[nodiscard]] QByteArray result()
    {
        QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
        unsigned int length = 0;
        m_ok = m_ok &&
               EVP_DigestFinal_ex(m_context.get(), reinterpret_cast<unsigned char*>(digest.data()),
                                  &length) == 1 &&
               length == 32;
        return m_ok ? digest.first(32) : QByteArray();
    }

private:
    struct Free
    {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> m_context{EVP_MD_CTX_new()};
    bool m_ok = m_context && EVP_DigestInit_ex2(m_context.get(), EVP_sha256(), nullptr) == 1;
};

} // namespace virellock::test
