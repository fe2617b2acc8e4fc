#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <array>
#include <cstddef>
#include <utility>

// Where the password and the plain text are wiped, and where copies stay that this program
// cannot reach.
//
// Wiped by us: the password as the commands hold it (SecretString below); its normal form and
// the bytes made from it for scrypt (passwordToBytes(), which also keeps Qt's normalisation
// from leaving blocks behind); the derived keys (SecretBytes); the text of the password
// prompt (qt_host_services.cpp); and the plain text that passes through the file jobs'
// buffers: the chunks and frames of the file jobs and their read-back checks, in buffers that
// a job uses again from piece to piece and wipes when it ends (engine/piece_buffers.h).
// OpenSSL wipes its own copies of the password and keys when it frees them.
//
// Copies that stay out of this program's reach:
// - The main window's two password boxes keep the password as long as the window lives, by
//   design: it is typed once for any number of files. The commands share those characters and
//   never copy them, so they wipe nothing there either.
// - As a password is typed into a line edit (the window's boxes, the decrypt prompt), QLineEdit
//   moves its text to new buffers, when it outgrows one and, in the prompt, whose dialog holds
//   the text as it was, at every key; a prompt that shows what is typed also replaces its copy
//   for display at every key. The old buffers are freed unwiped, so shorter states of the
//   password stay in freed memory. QLineEdit's undo history keeps each typed character in a
//   record of its own. Qt offers no way to reach any of these.
// - An input method or an accessibility tool, when one is active, is told what is typed.
// - QFile's read and write buffers (16 KiB) hold the plain text of short reads and writes, such
//   as a file's last piece; the system's file cache holds all of it in any case.
// - zstd's compression and decompression contexts keep a window of plain text in memory they
//   allocate and free themselves.

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
