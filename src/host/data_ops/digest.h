#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

namespace virellock::dataops {

// SHA-256 over data fed in pieces; used to check that what reached the disk is what was meant
// to, without keeping a copy of it.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(QByteArrayView data);
    // The 32-byte digest, or an empty array if OpenSSL failed at any point.
    [[nodiscard]] QByteArray result();

private:
    struct Context;
    std::unique_ptr<Context> m_context;
    bool m_ok = true;
};

} // namespace virellock::dataops
