// Writes known-answer files for all five methods into the folder given as the only argument,
// with a manifest.json that names, for each file, its method index, the password as typed, the
// hint and the plain text it holds.
//
// The files are built from docs/FORMAT.md alone: this program calls OpenSSL and zstd directly
// and links none of Virellock's code, so when Virellock restores these files it shows that it
// reads what FORMAT.md describes, not merely what its own writer produces. Salts are fixed
// (fresh random bytes in real files), so the output is the same on every run and the
// checked-in copies under tests/data/known_answer/ can be compared byte for byte.

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/provider.h>
#include <zstd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::string;

constexpr std::size_t kChunkSize = std::size_t(1) << 20;
constexpr std::size_t kFrameContentSize = std::size_t(4) << 20;
constexpr std::size_t kSaltSize = 16;
constexpr std::size_t kRc4Drop = 3072;
constexpr unsigned char kDesSelector = 1;
constexpr unsigned char kRc4Selector = 2;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "make_known_answer_files: %s failed\n", what);
    ERR_print_errors_fp(stderr);
    std::exit(1);
}

const unsigned char* bytesOf(std::string_view bytes)
{
    return reinterpret_cast<const unsigned char*>(bytes.data());
}

Bytes le64(std::uint64_t value)
{
    Bytes bytes(8, '\0');
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

// Our own library context with the default and the legacy provider: DES and RC4 are only in
// the legacy one, and loading it here leaves OpenSSL's default context alone.
class Crypto
{
public:
    Crypto()
    {
        m_context = OSSL_LIB_CTX_new();
        if (!m_context || !(m_default = OSSL_PROVIDER_load(m_context, "default")) ||
            !(m_legacy = OSSL_PROVIDER_load(m_context, "legacy")))
            fail("loading the OpenSSL providers");
        m_des = EVP_CIPHER_fetch(m_context, "DES-CBC", nullptr);
        m_rc4 = EVP_CIPHER_fetch(m_context, "RC4", nullptr);
        m_hmac = EVP_MAC_fetch(m_context, "HMAC", nullptr);
        m_scrypt = EVP_KDF_fetch(m_context, "SCRYPT", nullptr);
        if (!m_des || !m_rc4 || !m_hmac || !m_scrypt)
            fail("fetching DES-CBC, RC4, HMAC and SCRYPT");
    }

    ~Crypto()
    {
        EVP_CIPHER_free(m_des);
        EVP_CIPHER_free(m_rc4);
        EVP_MAC_free(m_hmac);
        EVP_KDF_free(m_scrypt);
        OSSL_PROVIDER_unload(m_legacy);
        OSSL_PROVIDER_unload(m_default);
        OSSL_LIB_CTX_free(m_context);
    }

    Crypto(const Crypto&) = delete;
    Crypto& operator=(const Crypto&) = delete;

    // scrypt with N = 2^16, r = 8, p = 1, the fixed parameters of every Virellock key.
    Bytes scrypt(std::string_view password, std::string_view salt, std::size_t length) const
    {
        EVP_KDF_CTX* context = EVP_KDF_CTX_new(m_scrypt);
        if (!context)
            fail("EVP_KDF_CTX_new");
        std::uint64_t n = std::uint64_t(1) << 16;
        std::uint32_t r = 8;
        std::uint32_t p = 1;
        char none = 0;
        const OSSL_PARAM params[] = {
            OSSL_PARAM_construct_octet_string(
                OSSL_KDF_PARAM_PASSWORD,
                password.empty() ? &none : const_cast<char*>(password.data()), password.size()),
            OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<char*>(salt.data()),
                                              salt.size()),
            OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_N, &n),
            OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_R, &r),
            OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_P, &p),
            OSSL_PARAM_construct_end(),
        };
        Bytes out(length, '\0');
        const bool ok = EVP_KDF_derive(context, reinterpret_cast<unsigned char*>(out.data()),
                                       length, params) == 1;
        EVP_KDF_CTX_free(context);
        if (!ok)
            fail("scrypt");
        return out;
    }

    Bytes hmacSha256(std::string_view key, std::string_view message) const
    {
        EVP_MAC_CTX* context = EVP_MAC_CTX_new(m_hmac);
        if (!context)
            fail("EVP_MAC_CTX_new");
        char digest[] = "SHA256";
        const OSSL_PARAM params[] = {
            OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
            OSSL_PARAM_construct_end(),
        };
        Bytes out(32, '\0');
        std::size_t written = 0;
        const bool ok = EVP_MAC_init(context, bytesOf(key), key.size(), params) == 1 &&
                        EVP_MAC_update(context, bytesOf(message), message.size()) == 1 &&
                        EVP_MAC_final(context, reinterpret_cast<unsigned char*>(out.data()),
                                      &written, 32) == 1 &&
                        written == 32;
        EVP_MAC_CTX_free(context);
        if (!ok)
            fail("HMAC-SHA-256");
        return out;
    }

    // DES-CBC (PKCS#7 padding only when asked) or RC4-drop[3072], through EVP_CIPHER.
    Bytes encipher(unsigned char selector, std::string_view key, std::string_view iv, bool pad,
                   std::string_view plain) const
    {
        const bool des = selector == kDesSelector;
        EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
        if (!context ||
            EVP_CipherInit_ex2(context, des ? m_des : m_rc4, bytesOf(key),
                               des ? bytesOf(iv) : nullptr, 1, nullptr) != 1 ||
            EVP_CIPHER_CTX_set_padding(context, pad ? 1 : 0) != 1)
            fail("cipher set-up");
        int written = 0;
        if (!des) {
            unsigned char discarded[kRc4Drop] = {};
            if (EVP_CipherUpdate(context, discarded, &written, discarded, int(kRc4Drop)) != 1)
                fail("RC4 drop");
        }
        Bytes out(plain.size() + 8, '\0');
        auto* target = reinterpret_cast<unsigned char*>(out.data());
        int finalWritten = 0;
        if (EVP_CipherUpdate(context, target, &written, bytesOf(plain), int(plain.size())) != 1 ||
            EVP_CipherFinal_ex(context, target + written, &finalWritten) != 1)
            fail("enciphering");
        EVP_CIPHER_CTX_free(context);
        out.resize(std::size_t(written + finalWritten));
        return out;
    }

private:
    OSSL_LIB_CTX* m_context = nullptr;
    OSSL_PROVIDER* m_default = nullptr;
    OSSL_PROVIDER* m_legacy = nullptr;
    EVP_CIPHER* m_des = nullptr;
    EVP_CIPHER* m_rc4 = nullptr;
    EVP_MAC* m_hmac = nullptr;
    EVP_KDF* m_scrypt = nullptr;
};

// Cipher output: the salt, then each 1 MiB chunk enciphered under its own key (HMAC-SHA-256 of
// the chunk's selector and index under the cipher key) and followed by its tag (encrypt-then-MAC
// with HMAC-SHA-256 over selector, index, last flag and ciphertext), so that chunks stand alone
// and none can be moved, dropped or read with the other cipher. The last chunk holds fewer than
// 1 MiB, possibly nothing.
Bytes cipherOutput(const Crypto& crypto, unsigned char selector, std::string_view password,
                   std::string_view salt, std::string_view plain)
{
    const Bytes keys = crypto.scrypt(password, salt, 64);
    const std::string_view cipherKey = std::string_view(keys).substr(0, 32);
    const std::string_view macKey = std::string_view(keys).substr(32, 32);
    const Bytes sel(1, char(selector));
    const std::size_t chunks = plain.size() / kChunkSize + 1;
    Bytes out(salt);
    for (std::size_t i = 0; i < chunks; ++i) {
        const bool last = i + 1 == chunks;
        const std::string_view chunk =
            plain.substr(i * kChunkSize, last ? Bytes::npos : kChunkSize);
        const Bytes chunkKey = crypto.hmacSha256(cipherKey, sel + le64(i));
        const std::string_view key =
            std::string_view(chunkKey).substr(0, selector == kDesSelector ? 8 : 16);
        const std::string_view iv = std::string_view(chunkKey).substr(8, 8);
        const Bytes ciphertext =
            crypto.encipher(selector, key, iv, selector == kDesSelector && last, chunk);
        out += ciphertext;
        out += crypto.hmacSha256(macKey, sel + le64(i) + Bytes(1, last ? '\1' : '\0') + ciphertext);
    }
    return out;
}

// The compressed output: the plain text cut into pieces of exactly 4 MiB, the last one shorter
// (possibly empty), each made into one zstd frame at level 3 with a window of 2^22 bytes, the
// content size in its header and the content checksum, in one call per frame; the frames back
// to back. The program compresses its frames on worker threads, so a compressible text could
// come out as other (equally valid) bytes from another zstd release; the texts here are either
// too short to compress or random, which zstd stores as raw blocks, so their frames do not
// depend on the zstd release.
Bytes zstdFrames(std::string_view plain)
{
    ZSTD_CCtx* context = ZSTD_createCCtx();
    if (!context || ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, 3)) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, 22)) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, 1)) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1)))
        fail("zstd set-up");
    const std::size_t frames = plain.size() / kFrameContentSize + 1;
    Bytes out;
    for (std::size_t i = 0; i < frames; ++i) {
        const std::string_view content =
            plain.substr(i * kFrameContentSize, i + 1 == frames ? Bytes::npos : kFrameContentSize);
        Bytes frame(ZSTD_compressBound(content.size()), '\0');
        const std::size_t written =
            ZSTD_compress2(context, frame.data(), frame.size(), content.data(), content.size());
        if (ZSTD_isError(written))
            fail("ZSTD_compress2");
        out += frame.substr(0, written);
    }
    ZSTD_freeCCtx(context);
    return out;
}

// The salt, then 32 bytes of scrypt of the password under it.
Bytes passwordCheck(const Crypto& crypto, std::string_view password, std::string_view salt)
{
    return Bytes(salt) + crypto.scrypt(password, salt, 32);
}

// Each value as an 8-byte little-endian length, then its bytes.
Bytes enhancedRecord(std::string_view check, std::string_view hint, std::string_view payload)
{
    Bytes out;
    for (std::string_view value : {check, hint, payload})
        out += le64(value.size()) + Bytes(value);
    return out;
}

// Fixed salts that read as their purpose in a hex dump: the label padded with dots.
Bytes fixedSalt(std::string_view label)
{
    if (label.size() > kSaltSize)
        fail("a salt label longer than 16 bytes");
    return Bytes(label) + Bytes(kSaltSize - label.size(), '.');
}

// A text of many numbered lines, cut to the given size; the cut falls inside a line.
Bytes linesText(std::size_t size)
{
    Bytes text;
    for (int line = 1; text.size() < size; ++line) {
        char number[16];
        std::snprintf(number, sizeof number, "%06d", line);
        text += Bytes("line ") + number + " of the chunk-boundary text 分块边界\n";
    }
    return text.substr(0, size);
}

// Bytes that no compressor shrinks, the same on every run: xorshift64* from a fixed seed.
Bytes randomBytes(std::size_t size)
{
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    Bytes bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        bytes[i] = static_cast<char>((state * 0x2545F4914F6CDD1Du) >> 56);
    }
    return bytes;
}

struct Password
{
    std::string typed; // as the user types it, and as the manifest gives it
    std::string keyed; // its Unicode normal form C in UTF-8: the bytes that go into scrypt
};

struct Plain
{
    std::string file;
    Bytes bytes;
};

struct Output
{
    std::string file;
    int method; // 0 DES standard, 1 RC4 standard, 2 DES enhanced, 3 RC4 enhanced, 4 MD5 enhanced
    const Password* password;
    std::string hint;
    const Plain* plain;
};

// The output's number goes into its salts, so that no two outputs share a salt.
Bytes methodOutput(const Crypto& crypto, const Output& output, int number)
{
    const std::string_view password = output.password->keyed;
    const std::string id = std::to_string(100 + number).substr(1);
    const std::string_view plain = output.plain->bytes;
    // Methods 0 and 2 use DES, 1 and 3 RC4; method 4 only compresses.
    const unsigned char selector = output.method % 2 == 0 ? kDesSelector : kRc4Selector;
    const Bytes payload = output.method == 4 ? zstdFrames(plain)
                                             : cipherOutput(crypto, selector, password,
                                                            fixedSalt("salt/" + id), plain);
    if (output.method < 2)
        return payload; // a standard method: the bare cipher output
    const Bytes check = passwordCheck(crypto, password, fixedSalt("check/" + id));
    return enhancedRecord(check, output.hint, payload);
}

// JSON string; combining marks are escaped so that a decomposed password shows as such.
std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else if (c == 0xCC && i + 1 < text.size()) {
            // U+0300 to U+033F, the combining diacritical marks we use, are CC 80 to CC BF.
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x",
                          0x300 + (static_cast<unsigned char>(text[i + 1]) & 0x3F));
            out += escaped;
            ++i;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

void writeFile(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), std::streamsize(bytes.size()));
    if (!file.good())
        fail(("writing " + path.string()).c_str());
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_known_answer_files FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        fail("creating the output folder");

    // A blank and Chinese characters; the second is typed with a decomposed "é" (e followed by
    // U+0301) and keyed with the composed one, so it holds only when the reader normalises.
    const Password sesame{"open 芝麻", "open 芝麻"};
    const Password cafe{"Cafe\xCC\x81 芝麻", "Caf\xC3\xA9 芝麻"};

    // 32 bytes, a whole number of DES blocks (so DES adds a full block of padding), too short
    // for zstd to compress.
    const Plain small{"plain-small.txt", "Attack at dawn. 黎明进攻。\n"};
    const Plain empty{"plain-empty.bin", ""};
    // Exactly one chunk, so the cipher output ends with an empty last chunk; and one chunk
    // plus a few bytes.
    const Plain oneMiB{"plain-1mib.txt", linesText(kChunkSize)};
    const Plain oneMiBAndFive{"plain-1mib-and-5.txt", linesText(kChunkSize + 5)};
    // Exactly one full zstd frame's content, so the compressed output is a full frame and an
    // empty last one.
    const Plain fourMiB{"plain-4mib.bin", randomBytes(kFrameContentSize)};

    const std::vector<Output> outputs = {
        {"des-standard-small.bin", 0, &sesame, "", &small},
        {"rc4-standard-small.bin", 1, &sesame, "", &small},
        {"des-enhanced-small.bin", 2, &sesame, "阿里巴巴", &small},
        {"rc4-enhanced-small.bin", 3, &cafe, "", &small},
        {"md5-enhanced-small.bin", 4, &sesame, "ask Ali", &small},
        {"des-standard-empty.bin", 0, &sesame, "", &empty},
        {"rc4-standard-empty.bin", 1, &sesame, "", &empty},
        {"des-enhanced-empty.bin", 2, &sesame, "空", &empty},
        {"rc4-enhanced-empty.bin", 3, &sesame, "", &empty},
        {"md5-enhanced-empty.bin", 4, &cafe, "", &empty},
        {"des-standard-1mib.bin", 0, &sesame, "", &oneMiB},
        {"rc4-standard-1mib.bin", 1, &sesame, "", &oneMiB},
        {"des-standard-1mib-and-5.bin", 0, &cafe, "", &oneMiBAndFive},
        {"rc4-standard-1mib-and-5.bin", 1, &cafe, "", &oneMiBAndFive},
        {"md5-enhanced-4mib.bin", 4, &sesame, "两帧", &fourMiB},
    };

    const Crypto crypto;
    for (const Plain* plain : {&small, &empty, &oneMiB, &oneMiBAndFive, &fourMiB})
        writeFile(folder / plain->file, plain->bytes);
    std::string manifest = "[\n";
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const Output& output = outputs[i];
        writeFile(folder / output.file, methodOutput(crypto, output, int(i) + 1));
        manifest += "    {\"file\": " + jsonString(output.file) +
                    ", \"method\": " + std::to_string(output.method) +
                    ", \"password\": " + jsonString(output.password->typed);
        if (output.method >= 2)
            manifest += ", \"hint\": " + jsonString(output.hint);
        manifest += ", \"plain\": " + jsonString(output.plain->file) + "}";
        manifest += i + 1 == outputs.size() ? "\n" : ",\n";
    }
    writeFile(folder / "manifest.json", manifest + "]\n");
    return 0;
}
