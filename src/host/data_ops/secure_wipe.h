#pragma once

#include <QByteArray>

#include <array>
#include <cstddef>

namespace virellock::dataops {

// Overwrites secret bytes (passwords, keys, plain text) before their memory is released or
// reused. It calls OPENSSL_cleanse, which the compiler cannot drop as a dead store the way it
// may drop a memset of memory that is about to be freed. Every wipe in the program goes
// through here.
void secureWipe(void* data, std::size_t size);

// The whole content of a byte array; its size is kept. Wipe only an array that holds the sole
// copy: data() detaches a shared one first, and the other holders keep theirs.
inline void wipe(QByteArray& bytes)
{
    if (!bytes.isEmpty())
        secureWipe(bytes.data(), static_cast<std::size_t>(bytes.size()));
}

// Key material of a fixed size that is wiped when it goes out of scope.
template <std::size_t N> class SecretBytes
{
public:
    SecretBytes() = default;
    SecretBytes(const SecretBytes& other) = default;
    SecretBytes& operator=(const SecretBytes& other) = default;
    ~SecretBytes() { secureWipe(m_bytes.data(), m_bytes.size()); }

    unsigned char* data() { return m_bytes.data(); }
    const unsigned char* data() const { return m_bytes.data(); }
    static constexpr std::size_t size() { return N; }

private:
    std::array<unsigned char, N> m_bytes{};
};

} // namespace virellock::dataops
