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

using namespace virellock;
using namespace virellock::test;

namespace {

constexpr qsizetype kPasswordLength = 24;

// A password made at run time, and its two encodings, masked, to look for.
struct Password
{
    QString text;
    MaskedBytes utf8;
    MaskedBytes utf16;
};

// Random letters, digits and CJK ideographs (three bytes each in UTF-8), written straight into
// the one buffer the test wipes; the encodings are masked byte by byte as they are made. Every
// such password is in Unicode normal form C already, as nearly all typed passwords are.
Password makePassword()
{
    static const char16_t kAlphanumeric[] =
        u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QRandomGenerator& random = *QRandomGenerator::global();
    Password password;
    password.text = QString(kPasswordLength, Qt::Uninitialized);
    QChar* out = password.text.data();
    for (qsizetype i = 0; i < kPasswordLength; ++i) {
        const char16_t unit = random.bounded(2) != 0
                                  ? kAlphanumeric[random.bounded(int(std::size(kAlphanumeric)) - 1)]
                                  : char16_t(0x4E00 + random.bounded(0x9FA5 - 0x4E00));
        out[i] = QChar(unit);
        const auto* units = reinterpret_cast<const unsigned char*>(&unit); // as QString stores it
        password.utf16.append(units[0]);
        password.utf16.append(units[1]);
        if (unit < 0x80) {
            password.utf8.append(static_cast<unsigned char>(unit));
        } else {
            password.utf8.append(static_cast<unsigned char>(0xE0 | (unit >> 12)));
            password.utf8.append(static_cast<unsigned char>(0x80 | ((unit >> 6) & 0x3F)));
            password.utf8.append(static_cast<unsigned char>(0x80 | (unit & 0x3F)));
        }
    }
    return password;
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
    void scanFindsWhatIsThere();
    void commandsLeaveNoCopy_data();
    void commandsLeaveNoCopy();
};

// The scan finds a password while a buffer holds it in either encoding, and no longer once
// that buffer is wiped: the scan neither misses copies nor finds its own needles.
void TestPasswordMemory::scanFindsWhatIsThere()
{
    QVERIFY(memoryScanWorks());
    Password password = makePassword();
    QByteArray utf8 = password.text.toUtf8();
    QVERIFY(findInMemory(password.utf8));
    QVERIFY(findInMemory(password.utf16));
    QVERIFY(dataops::wipe(utf8));
    QVERIFY(dataops::wipe(password.text));
    const std::optional<MemoryHit> utf8Left = findInMemory(password.utf8);
    QVERIFY2(!utf8Left, qPrintable(utf8Left ? utf8Left->describe() : QString()));
    const std::optional<MemoryHit> utf16Left = findInMemory(password.utf16);
    QVERIFY2(!utf16Left, qPrintable(utf16Left ? utf16Left->describe() : QString()));
}

void TestPasswordMemory::commandsLeaveNoCopy_data()
{
    QTest::addColumn<int>("method");
    QTest::newRow("DES standard") << 0;
    QTest::newRow("RC4 standard") << 1;
    QTest::newRow("DES enhanced") << 2;
    QTest::newRow("RC4 enhanced") << 3;
    QTest::newRow("MD5 enhanced") << 4;
}

void TestPasswordMemory::commandsLeaveNoCopy()
{
    QFETCH(int, method);
    const QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("plain.txt"));
    // More than two chunks, so that several go through the workers at once.
    const QByteArray content = QByteArray("line of plain text 明文\n").repeated(100'000);
    QVERIFY(writeFile(file, content));

    Password password = makePassword();
    {
        ScriptedHostServices host;
        host.chosenFiles = {file};
        // The inputs hold the only references to their copies, and wipe them when they go.
        const EncryptInputs inputs{method, copyOf(password.text), copyOf(password.text),
                                   QStringLiteral("hint"), kEncryptDialog};
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

    const std::optional<MemoryHit> utf8Left = findInMemory(password.utf8);
    QVERIFY2(!utf8Left,
             qPrintable(QStringLiteral("UTF-8 ") + (utf8Left ? utf8Left->describe() : QString())));
    const std::optional<MemoryHit> utf16Left = findInMemory(password.utf16);
    QVERIFY2(!utf16Left, qPrintable(QStringLiteral("UTF-16 ") +
                                    (utf16Left ? utf16Left->describe() : QString())));
}

QTEST_GUILESS_MAIN(TestPasswordMemory)
#include "tst_password_memory.moc"
