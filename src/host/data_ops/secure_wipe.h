#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <array>
#include <cstddef>
#include <utility>

// Wiping secrets before their memory goes. What is wiped, and which copies stay out of this
// program's reach (Qt's line edits, zstd's windows, swap, core dumps): docs/SECURITY.md.

namespace virellock::dataops {

// Overwrites secret bytes (passwords, keys, plain text) before their memory is released or
// reused. It calls OPENSSL_cleanse, which the compiler cannot drop as a dead store the way it
// may drop a memset of memory that is about to be freed. Every wipe in the program goes
// through here.
void secureWipe(void* data, std::size_t size);

// Overwrites the whole memory block of a byte array or a string with zeros, the unused room
// before and after the content included; the size is kept. Only when it is the block's sole
// holder: the other holders of a shared block still need it (and data() would only detach and
// wipe a fresh copy). Literals and raw data have no block to wipe. True when it wiped.
bool wipe(QByteArray& bytes);
bool wipe(QString& text);

// The same for characters that other QStrings share, overwritten for every holder at once.
// Only for text whose other holders are about to go, such as a dialog's line edit.
void wipeForAllHolders(const QString& text);

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

// A password as typed: a QString whose characters are wiped when the last SecretString that
// holds them goes. Made from a QString without copying a character, and copied the same way,
// so it shares the characters of the QString it was made from; while anything else still holds
// them (a line edit's text, a caller's QString), they are that holder's and are not wiped.
// Assigning wipes the text held before, under the same rule.
class SecretString
{
public:
    SecretString() = default;
    SecretString(QString text) noexcept : m_text(std::move(text)) {}
    SecretString(const SecretString& other) = default;
    SecretString(SecretString&& other) noexcept = default;
    // The old text goes with other, which wipes it.
    SecretString& operator=(SecretString other) noexcept
    {
        m_text.swap(other.m_text);
        return *this;
    }
    ~SecretString() { wipe(m_text); }

    const QString& text() const { return m_text; }
    QStringView view() const { return m_text; }

private:
    QString m_text;
};

} // namespace virellock::dataops
