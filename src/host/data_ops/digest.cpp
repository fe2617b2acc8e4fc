#include "digest.h"

#include "openssl_support.h"

namespace virellock::dataops {

struct Sha256::Context
{
    detail::OpenSslPtr<EVP_MD_CTX> context{EVP_MD_CTX_new()};
};

Sha256::Sha256() : m_context(std::make_unique<Context>())
{
    const EVP_MD* sha256 = detail::cryptoAlgorithms().sha256;
    m_ok = sha256 && m_context->context &&
           EVP_DigestInit_ex2(m_context->context.get(), sha256, nullptr) == 1;
}

Sha256::~Sha256() = default;

void Sha256::update(QByteArrayView data)
{
    m_ok = m_ok && EVP_DigestUpdate(m_context->context.get(), data.data(),
                                    static_cast<std::size_t>(data.size())) == 1;
}

QByteArray Sha256::result()
{
    QByteArray digest(32, Qt::Uninitialized);
    unsigned int length = 0;
    m_ok = m_ok &&
           EVP_DigestFinal_ex(m_context->context.get(),
                              reinterpret_cast<unsigned char*>(digest.data()), &length) == 1 &&
           length == 32;
    return m_ok ? digest : QByteArray();
}

} // namespace virellock::dataops
