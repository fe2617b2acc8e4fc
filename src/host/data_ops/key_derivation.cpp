#include "key_derivation.h"

#include "openssl_support.h"
#include "secure_wipe.h"

#include <QString>

#include <openssl/core_names.h>
#include <openssl/kdf.h>
#include <openssl/rand.h>

namespace virellock::dataops {

using detail::cryptoAlgorithms;
using detail::OpenSslPtr;

namespace {

// Calls visit with each code point of text; a lone surrogate stands for itself.
template <typename Visit> void forEachCodePoint(QStringView text, Visit visit)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        visit(c);
    }
}

bool hasCanonicalDecomposition(char32_t c)
{
    return QChar::decompositionTag(c) == QChar::Canonical;
}

// Writes the full canonical decomposition of c at out; returns how many UTF-16 units it took.
qsizetype writeDecomposed(char32_t c, QChar* out)
{
    if (!hasCanonicalDecomposition(c)) {
        if (!QChar::requiresSurrogates(c)) {
            *out = QChar(c);
            return 1;
        }
        out[0] = QChar(QChar::highSurrogate(c));
        out[1] = QChar(QChar::lowSurrogate(c));
        return 2;
    }
    QString mapping = QChar::decomposition(c); // one step; its characters may decompose again
    qsizetype written = 0;
    forEachCodePoint(mapping,
                     [&](char32_t part) { written += writeDecomposed(part, out + written); });
    wipe(mapping);
    return written;
}

// The text with every character fully decomposed (Unicode canonical decomposition, without
// reordering), in a block of its own; null when no character decomposes.
QString decomposeCanonically(QStringView text)
{
    bool decomposes = false;
    forEachCodePoint(text,
                     [&](char32_t c) { decomposes = decomposes || hasCanonicalDecomposition(c); });
    if (!decomposes)
        return QString();
    // No character decomposes into more than four UTF-16 units for each of its own.
    QString decomposed(4 * text.size(), Qt::Uninitialized);
    qsizetype length = 0;
    forEachCodePoint(text,
                     [&](char32_t c) { length += writeDecomposed(c, decomposed.data() + length); });
    decomposed.truncate(length); // keeps the block
    return decomposed;
}

} // namespace

QByteArray passwordToBytes(QStringView password)
{
    // Qt normalises only a QString, and only in blocks of its own: it copies the text into a
    // block of the exact size, decomposes each composed character in place, and moves the text
    // to a larger block when a decomposition lengthens it, freeing the one it leaves unwiped,
    // out of our reach. So the text it is given is decomposed already, in a block of ours:
    // then Qt has nothing to lengthen, and reorders and composes in place, in the one block it
    // returns. A text with nothing to decompose (every ASCII one, and most others) is given as
    // it is, wrapped with fromRawData() without a copy; when it is in form C already, Qt hands
    // it back sharing those characters and allocates nothing.
    QString decomposed = decomposeCanonically(password);
    QString normal =
        decomposed.isNull()
            ? QString::fromRawData(reinterpret_cast<const QChar*>(password.data()), password.size())
                  .normalized(QString::NormalizationForm_C)
            : decomposed.normalized(QString::NormalizationForm_C);
    QByteArray bytes = normal.toUtf8();
    // wipe() overwrites only a block it alone holds: normal may share decomposed's block, or
    // the caller's characters, which are the caller's to wipe.
    if (!wipe(normal))
        normal = QString();
    wipe(decomposed);
    return bytes;
}

std::optional<QByteArray> randomBytes(qsizetype count)
{
    Q_ASSERT(count >= 0);
    QByteArray bytes(count, Qt::Uninitialized);
    const auto& algorithms = cryptoAlgorithms();
    if (!algorithms.libraryContext ||
        RAND_bytes_ex(algorithms.libraryContext, reinterpret_cast<unsigned char*>(bytes.data()),
                      static_cast<std::size_t>(bytes.size()), 0) != 1)
        return std::nullopt;
    return bytes;
}

bool deriveScrypt(QByteArrayView password, QByteArrayView salt, unsigned char* out,
                  std::size_t outLength)
{
    Q_ASSERT(out && outLength > 0);
    const auto& algorithms = cryptoAlgorithms();
    if (!algorithms.scrypt)
        return false;
    OpenSslPtr<EVP_KDF_CTX> context(EVP_KDF_CTX_new(algorithms.scrypt));
    if (!context)
        return false;

    // OpenSSL copies both buffers; an empty password still needs a valid pointer.
    static const char empty = 0;
    void* passwordData = const_cast<char*>(password.isEmpty() ? &empty : password.data());
    void* saltData = const_cast<char*>(salt.data());
    uint64_t n = kScryptN;
    uint32_t r = kScryptR;
    uint32_t p = kScryptP;
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, passwordData,
                                          static_cast<std::size_t>(password.size())),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, saltData,
                                          static_cast<std::size_t>(salt.size())),
        OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_N, &n),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_R, &r),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_P, &p),
        OSSL_PARAM_construct_end(),
    };
    return EVP_KDF_derive(context.get(), out, outLength, params) == 1;
}

} // namespace virellock::dataops
