// The password leaves no copy in memory once the commands are done with it: encrypt a file,
// decrypt it, then look through all writable memory of the process for the password, in UTF-8
// (what scrypt is given) and in UTF-16 (how Qt holds it).
//
// The scan sees every copy still held, and a copy freed unwiped until its memory is reused.
// glibc's allocator reuses small blocks soon, so in a plain build such a copy may be gone by
// the time of the scan; under AddressSanitizer (the suite's sanitizer run) freed blocks wait
// in quarantine, and the scan finds them as well.

#include "engine/decrypt_command.h"
#include "engine/encrypt_command.h"
#include "host/data_ops/secure_wipe.h"
#include "support/command_inputs.h"
#include "support/file_helpers.h"
#include "support/memory_scan.h"
#include "support/scripted_host_services.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <iterator>
#include <string_view>

using namespace virellock;
using namespace virellock::test;

namespace {

constexpr qsizetype kPasswordLength = 24; // pieces

// A password made at run time, and what to look for, masked: its UTF-16 as typed, and its
// Unicode normal form C (what scrypt is given, in UTF-8) and decomposed form, which the
// normalisation goes through, in UTF-16.
struct Password
{
    QString text;
    MaskedBytes typedUtf16;
    MaskedBytes composedUtf8;
    MaskedBytes composedUtf16;
    MaskedBytes decomposedUtf16;
};

// A piece of a password as typed, in form C, and decomposed.
struct Piece
{
    std::u16string_view typed;
    std::u16string_view composed;
    std::u16string_view decomposed;
};

// Pieces typed in another form than C. The first decomposes into a longer text, which is where
// Qt's normalisation moves to a larger block; the decomposed forms are in canonical order.
constexpr Piece kNotInFormC[] = {
    {u"\u1EB9\u0302", u"\u1EC7", u"e\u0323\u0302"}, // e with dot below, then a circumflex
    {u"a\u0301", u"\u00E1", u"a\u0301"},            // a, then a combining acute
    {u"\u212B", u"\u00C5", u"A\u030A"},             // the Angstrom sign
};

void appendUtf16(MaskedBytes& needle, std::u16string_view text)
{
    for (const char16_t unit : text) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&unit); // as QString stores it
        needle.append(bytes[0]);
        needle.append(bytes[1]);
    }
}

void appendUtf8(MaskedBytes& needle, std::u16string_view text) // no surrogates
{
    for (const char16_t unit : text) {
        if (unit < 0x80) {
            needle.append(static_cast<unsigned char>(unit));
        } else if (unit < 0x800) {
            needle.append(static_cast<unsigned char>(0xC0 | (unit >> 6)));
            needle.append(static_cast<unsigned char>(0x80 | (unit & 0x3F)));
        } else {
            needle.append(static_cast<unsigned char>(0xE0 | (unit >> 12)));
            needle.append(static_cast<unsigned char>(0x80 | ((unit >> 6) & 0x3F)));
            needle.append(static_cast<unsigned char>(0x80 | (unit & 0x3F)));
        }
    }
}

// Random letters, digits and CJK ideographs (three bytes each in UTF-8), and when the password
// is not to be in form C, one piece in three from kNotInFormC. It is written straight into the
// one buffer the test wipes; what to look for is masked byte by byte as it is made.
Password makePassword(bool inFormC)
{
    static const char16_t kAlphanumeric[] =
        u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QRandomGenerator& random = *QRandomGenerator::global();
    Password password;
    password.text.reserve(3 * kPasswordLength); // appending then moves nothing
    for (qsizetype i = 0; i < kPasswordLength; ++i) {
        const char16_t unit = random.bounded(2) != 0
                                  ? kAlphanumeric[random.bounded(int(std::size(kAlphanumeric)) - 1)]
                                  : char16_t(0x4E00 + random.bounded(0x9FA5 - 0x4E00));
        const std::u16string_view same(&unit, 1);
        const Piece piece = !inFormC && i % 3 == 0
                                ? kNotInFormC[random.bounded(int(std::size(kNotInFormC)))]
                                : Piece{same, same, same};
        password.text.append(QStringView(piece.typed));
        appendUtf16(password.typedUtf16, piece.typed);
        appendUtf8(password.composedUtf8, piece.composed);
        appendUtf16(password.composedUtf16, piece.composed);
        appendUtf16(password.decomposedUtf16, piece.decomposed);
    }
    return password;
}

// What is left of the password anywhere in memory, for a failure message; empty when nothing.
QString leftovers(const Password& password, bool inFormC)
{
    QList<std::pair<const char*, const MaskedBytes*>> needles = {
        {"UTF-8 in form C", &password.composedUtf8}, {"UTF-16 as typed", &password.typedUtf16}};
    if (!inFormC) // otherwise the same as typed
        needles += {{"UTF-16 in form C", &password.composedUtf16},
                    {"UTF-16 decomposed", &password.decomposedUtf16}};
    QStringList found;
    for (const auto& [name, needle] : needles) {
        if (const std::optional<MemoryHit> hit = findInMemory(*needle))
            found << QString::fromLatin1(name) + u' ' + hit->describe();
    }
    return found.join(QStringLiteral("; "));
}

// Another buffer with the same characters, as a separate text box or prompt would hold them.
QString copyOf(const QString& text)
{
    return QString(text.constData(), text.size());
}

const ShownMessage kEncrypted{QStringLiteral("对该文件加密成功,请牢记你的密码!"),
                              MessageStyle::Information, QStringLiteral("恭喜:")};
const ShownMessage kDecrypted{QStringLiteral("该文件解密成功!"), MessageStyle::Information,
                              QStringLiteral("恭喜:")};

} // namespace

class TestPasswordMemory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void scanFindsWhatIsThere();
    void commandsLeaveNoCopy_data();
    void commandsLeaveNoCopy();
};

void TestPasswordMemory::initTestCase()
{
    QVERIFY(memoryScanWorks()); // else "nothing found" would mean nothing
    for (const Piece& piece : kNotInFormC) {
        const QString typed = QString::fromUtf16(piece.typed.data(), piece.typed.size());
        QCOMPARE(typed.normalized(QString::NormalizationForm_C),
                 QString::fromUtf16(piece.composed.data(), piece.composed.size()));
        QCOMPARE(typed.normalized(QString::NormalizationForm_D),
                 QString::fromUtf16(piece.decomposed.data(), piece.decomposed.size()));
        QVERIFY(piece.composed != piece.typed);
    }
}

// The scan finds a password while a buffer holds it in either encoding, and no longer once
// that buffer is wiped: the scan neither misses copies nor finds its own needles.
void TestPasswordMemory::scanFindsWhatIsThere()
{
    Password password = makePassword(true);
    QByteArray utf8 = password.text.toUtf8();
    QVERIFY(findInMemory(password.composedUtf8));
    QVERIFY(findInMemory(password.typedUtf16));
    QVERIFY(dataops::wipe(utf8));
    QVERIFY(dataops::wipe(password.text));
    const QString left = leftovers(password, true);
    QVERIFY2(left.isEmpty(), qPrintable(left));
}

void TestPasswordMemory::commandsLeaveNoCopy_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<bool>("inFormC");
    QTest::newRow("DES standard") << 0 << true;
    QTest::newRow("RC4 standard") << 1 << true;
    QTest::newRow("DES enhanced") << 2 << true;
    QTest::newRow("RC4 enhanced") << 3 << true;
    QTest::newRow("MD5 enhanced") << 4 << true;
    QTest::newRow("DES standard, typed in another form") << 0 << false;
    QTest::newRow("RC4 enhanced, typed in another form") << 3 << false;
}

void TestPasswordMemory::commandsLeaveNoCopy()
{
    QFETCH(int, method);
    QFETCH(bool, inFormC);
    const QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("plain.txt"));
    // More than two chunks, so that several go through the workers at once.
    const QByteArray content = QByteArray("line of plain text 明文\n").repeated(100'000);
    QVERIFY(writeFile(file, content));

    Password password = makePassword(inFormC);
    {
        ScriptedHostServices host;
        host.chosenFiles = {file};
        // The inputs hold the only references to their copies, and wipe them when they go.
        const EncryptInputs inputs{.methodIndex = method,
                                   .password = copyOf(password.text),
                                   .confirmation = copyOf(password.text),
                                   .hint = QStringLiteral("hint"),
                                   .fileDialog = kEncryptDialog,
                                   .files = {}};
        runEncryptCommand(inputs, host);
        QCOMPARE(host.messages, QList<ShownMessage>{kEncrypted});
    }
    {
        ScriptedHostServices host;
        host.answers = {Answer::Yes};
        host.chosenFiles = {file};
        // The prompt's answer is handed over to the command, which must wipe it.
        host.typedTexts = {copyOf(password.text)};
        runDecryptCommand(decryptInputs(method), host);
        QCOMPARE(host.messages.size(), 2);
        QCOMPARE(host.messages.last(), kDecrypted);
    }
    QCOMPARE(readFile(file), content);
    QVERIFY(dataops::wipe(password.text)); // the test's own copy

    const QString left = leftovers(password, inFormC);
    QVERIFY2(left.isEmpty(), qPrintable(left));
}

QTEST_GUILESS_MAIN(TestPasswordMemory)
#include "tst_password_memory.moc"
