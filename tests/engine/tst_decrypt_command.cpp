#include "engine/decrypt_command.h"
#include "engine/encrypt_command.h"
#include "support/command_inputs.h"
#include "support/file_helpers.h"
#include "support/job_log.h"
#include "support/scripted_host_services.h"
#include "support/test_bytes.h"

#include <QTemporaryDir>
#include <QTest>

using namespace virellock;
using namespace virellock::test;

namespace {

constexpr qsizetype MiB = 1 << 20;
const QString kPassword = QStringLiteral("Pass 密码");
const QString kHint = QStringLiteral("猫的名字");

const QString kStandardPrompt =
    QStringLiteral("请输入密码:\r\n警告:由于这是标准加密法,因此不具有密码效验,请输入正确的密码,"
                   "否则解密会失败,建议您使用该解密法之前请备份文件!");

ShownMessage error(const char* text)
{
    return {QString::fromUtf8(text), MessageStyle::Error, QStringLiteral("错误:")};
}

const ShownMessage kSuccess{QStringLiteral("该文件解密成功!"), MessageStyle::Information,
                            QStringLiteral("恭喜:")};
const ShownMessage kNotOurs = error("该文件不是由此软件加密而成的!");
const ShownMessage kWrongPassword = error("密码错误,无法解密码!");
const ShownMessage kWriteFailed = error("该文件解密失败!");

ShownMessage confirmation(int method)
{
    static const char* texts[] = {"DES标准加密法", "RC4标准加密法", "DES增强加密法",
                                  "RC4增强加密法", "MD5增强加密法"};
    return {QStringLiteral("您确认要使用:") + QString::fromUtf8(texts[method]) +
                QStringLiteral("来解密文件吗?"),
            MessageStyle::Question, QStringLiteral("询问:")};
}

QByteArray textContent()
{
    return QByteArray("第一行 first line\r\n第二行\n").repeated(500);
}

} // namespace

class TestDecryptCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void roundTrip_data();
    void roundTrip();
    void crossTable_data();
    void crossTable();
    void foreignInput_data();
    void foreignInput();
    void wrongPasswords_data();
    void wrongPasswords();
    void silentEnds_data();
    void silentEnds();
    void noMethodSelected();
    void readOnlyFile();
    void fileReplacedWhilePrompting_data();
    void fileReplacedWhilePrompting();

private:
    // Encrypts the file through the encrypt command.
    void encryptFile(const QString& file, int method, const QString& password, const QString& hint);
    // Runs the decrypt command with Yes, the file and the typed password; returns the host.
    ScriptedHostServices& decrypt(const QString& file, int method, const QString& password);

    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedHostServices m_host;
    QByteArray m_encrypted[5]; // the same text, encrypted by each method
};

void TestDecryptCommand::encryptFile(const QString& file, int method, const QString& password,
                                     const QString& hint)
{
    ScriptedHostServices host;
    host.chosenFiles = {file};
    runEncryptCommand(encryptInputs(method, password, hint), host);
    QCOMPARE(host.messages.size(), 1);
    QCOMPARE(host.messages.first().style, MessageStyle::Information);
}

ScriptedHostServices& TestDecryptCommand::decrypt(const QString& file, int method,
                                                  const QString& password)
{
    m_host = {};
    m_host.answers = {Answer::Yes};
    m_host.chosenFiles = {file};
    m_host.typedTexts = {password};
    runDecryptCommand(decryptInputs(method), m_host);
    return m_host;
}

void TestDecryptCommand::initTestCase()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("f"));
    for (int method = 0; method < 5; ++method) {
        QVERIFY(writeFile(file, textContent()));
        encryptFile(file, method, kPassword, kHint);
        m_encrypted[method] = readFile(file);
    }
}

void TestDecryptCommand::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestDecryptCommand::roundTrip_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<QString>("name");

    const QList<std::pair<const char*, QByteArray>> contents = {
        {"empty", QByteArray()},
        {"one byte", QByteArray("\x00", 1)},
        {"one chunk", patternBytes(MiB, 2)},
        {"a few MiB", patternBytes(3 * MiB + 333, 3)},
        {"text", textContent()},
    };
    const QStringList passwords = {QStringLiteral("ascii"), QStringLiteral(" with  blanks "),
                                   QStringLiteral("中文密码")};
    const QStringList hints = {QString(), QStringLiteral("提示 hint")};
    const QStringList names = {QStringLiteral("plain"), QStringLiteral("名字 with blanks.txt")};
    int row = 0;
    for (int method = 0; method < 5; ++method) {
        for (const auto& [what, content] : contents) {
            QTest::addRow("method %d, %s", method, what)
                << method << content << passwords.at(row % 3) << hints.at(row % 2)
                << names.at(row % 2);
            ++row;
        }
    }
}

void TestDecryptCommand::roundTrip()
{
    QFETCH(int, method);
    QFETCH(QByteArray, content);
    QFETCH(QString, password);
    QFETCH(QString, hint);
    QFETCH(QString, name);

    const QString file = m_dir->filePath(name);
    QVERIFY(writeFile(file, content));
    encryptFile(file, method, password, hint);
    QVERIFY(readFile(file) != content);

    const ScriptedHostServices& host = decrypt(file, method, password);
    QCOMPARE(host.messages, (QList<ShownMessage>{confirmation(method), kSuccess}));
    QCOMPARE(host.dialogTitles, QStringList{QStringLiteral("打开欲解密的文件:")});
    QCOMPARE(host.prompts.size(), 1);
    const ShownPrompt& prompt = host.prompts.first();
    QCOMPARE(prompt.title, QStringLiteral("解密:"));
    QCOMPARE(prompt.initialText, QString());
    if (method < 2) {
        QCOMPARE(prompt.prompt, kStandardPrompt);
        QCOMPARE(prompt.mode, InputMode::Plain);
    } else {
        QCOMPARE(prompt.prompt, QStringLiteral("请输入密码:\r\n\r\n") + hint);
        QCOMPARE(prompt.mode, InputMode::Password);
    }
    QCOMPARE(readFile(file), content);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{name});
}

void TestDecryptCommand::crossTable_data()
{
    QTest::addColumn<int>("madeBy");
    QTest::addColumn<int>("openedWith");
    for (int madeBy = 0; madeBy < 5; ++madeBy)
        for (int openedWith = 0; openedWith < 5; ++openedWith)
            QTest::addRow("made by %d, opened with %d", madeBy, openedWith) << madeBy << openedWith;
}

// Only the method that made a file restores it. Enhanced records share one layout, so another
// enhanced method gets as far as the prompt and the password check before its payload fails.
void TestDecryptCommand::crossTable()
{
    QFETCH(int, madeBy);
    QFETCH(int, openedWith);
    const QString file = m_dir->filePath(QStringLiteral("file"));
    QVERIFY(writeFile(file, m_encrypted[madeBy]));

    const ScriptedHostServices& host = decrypt(file, openedWith, kPassword);
    QCOMPARE(host.messages.size(), 2);
    QCOMPARE(host.messages.first(), confirmation(openedWith));
    if (madeBy == openedWith) {
        QCOMPARE(host.messages.last(), kSuccess);
        QCOMPARE(readFile(file), textContent());
        return;
    }
    QCOMPARE(host.messages.last(), kNotOurs);
    QCOMPARE(readFile(file), m_encrypted[madeBy]);
    const bool recordRead = madeBy >= 2 && openedWith >= 2;
    const bool prompted = openedWith < 2 || recordRead;
    QCOMPARE(host.prompts.size(), prompted ? 1 : 0);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("file")});
}

void TestDecryptCommand::foreignInput_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<ShownMessage>("expected");
    QTest::addColumn<QString>("reason");

    QFile png(QStringLiteral(VIRELLOCK_TEST_DATA_DIR "/../../resources/icons/virellock-32.png"));
    QVERIFY(png.open(QIODevice::ReadOnly));
    const QByteArray pngBytes = png.readAll();
    // The smallest valid ZIP archive: an empty end-of-central-directory record.
    const QByteArray zip = QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0');
    for (int method = 0; method < 5; ++method) {
        const QByteArray& mine = m_encrypted[method];
        auto row = [&](const char* what, const QByteArray& content, const ShownMessage& expected,
                       const char* reason) {
            QTest::addRow("method %d, %s", method, what)
                << method << content << expected << QString::fromLatin1(reason);
        };
        // The standard methods find out while deciphering; the enhanced ones already when
        // reading the record, unless the damage lies inside a well-formed one.
        const char* shape =
            method < 2 ? "the content is not what the method reads" : "reading the record";
        const char* content = "the content is not what the method reads";
        row("random bytes", patternBytes(5000, 4), kNotOurs, shape);
        row("PNG image", pngBytes, kNotOurs, shape);
        row("ZIP archive", zip, kNotOurs, shape);
        row("empty file", QByteArray(), kNotOurs, shape);
        row("shorter than a record", QByteArray("\x05\0\0\0\0\0\0\0ab", 10), kNotOurs, shape);
        row("truncated", mine.chopped(1), kNotOurs, shape);
        row("byte appended", mine + 'x', kNotOurs, shape);
        row("bit flipped near the end", flipBit(mine, mine.size() - 3), kNotOurs, content);
        // In the middle of the payload: the enhanced records' payload follows 84 bytes of check,
        // hint and lengths.
        const qsizetype payloadStart = method < 2 ? 0 : 84;
        row("bit flipped in the payload", flipBit(mine, (payloadStart + mine.size()) / 2), kNotOurs,
            content);
        if (method >= 2) // the password check itself damaged: it no longer matches
            row("password check damaged", flipBit(mine, 8 + 20), kWrongPassword,
                "checking the password");
    }
}

void TestDecryptCommand::foreignInput()
{
    QFETCH(int, method);
    QFETCH(QByteArray, content);
    QFETCH(ShownMessage, expected);
    QFETCH(QString, reason);
    const QString file = m_dir->filePath(QStringLiteral("foreign"));
    QVERIFY(writeFile(file, content));
    const JobLog log;
    const ScriptedHostServices& host = decrypt(file, method, kPassword);
    QCOMPARE(host.messages, (QList<ShownMessage>{confirmation(method), expected}));
    QVERIFY2(log.has({file, QStringLiteral("failed: ") + reason}),
             qPrintable(log.lines.join(u'\n')));
    QCOMPARE(readFile(file), content);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("foreign")});
}

void TestDecryptCommand::wrongPasswords_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<ShownMessage>("expected");
    for (int method = 0; method < 5; ++method) {
        // The standard layouts hold no check: a wrong password shows as foreign content.
        const ShownMessage expected = method < 2 ? kNotOurs : kWrongPassword;
        QTest::addRow("method %d, case differs", method)
            << method << QStringLiteral("pass 密码") << expected;
        QTest::addRow("method %d, trailing blank", method)
            << method << kPassword + u' ' << expected;
        QTest::addRow("method %d, empty", method) << method << QString() << expected;
    }
}

void TestDecryptCommand::wrongPasswords()
{
    QFETCH(int, method);
    QFETCH(QString, typed);
    QFETCH(ShownMessage, expected);
    const QString file = m_dir->filePath(QStringLiteral("locked"));
    QVERIFY(writeFile(file, m_encrypted[method]));
    const ScriptedHostServices& host = decrypt(file, method, typed);
    QCOMPARE(host.messages, (QList<ShownMessage>{confirmation(method), expected}));
    QCOMPARE(readFile(file), m_encrypted[method]);
    // Nothing written beside it either: the MD5 method restores into a temporary file while
    // the password is checked, and that file goes.
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("locked")});
}

void TestDecryptCommand::silentEnds_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("step"); // 0: No, 1: dialog cancelled, 2: prompt cancelled
    for (int method : {0, 3, 4}) {
        QTest::addRow("method %d, No", method) << method << 0;
        QTest::addRow("method %d, dialog cancelled", method) << method << 1;
        QTest::addRow("method %d, prompt cancelled", method) << method << 2;
    }
}

void TestDecryptCommand::silentEnds()
{
    QFETCH(int, method);
    QFETCH(int, step);
    const QString file = m_dir->filePath(QStringLiteral("kept"));
    QVERIFY(writeFile(file, m_encrypted[method]));
    m_host = {};
    m_host.answers = {step == 0 ? Answer::No : Answer::Yes};
    m_host.chosenFiles = {step == 1 ? std::nullopt : std::optional(file)};
    m_host.typedTexts = {step == 2 ? std::nullopt : std::optional(kPassword)};
    runDecryptCommand(decryptInputs(method), m_host);

    QCOMPARE(m_host.messages, QList<ShownMessage>{confirmation(method)});
    QCOMPARE(m_host.dialogTitles.size(), step >= 1 ? 1 : 0);
    QCOMPARE(m_host.prompts.size(), step == 2 ? 1 : 0);
    QCOMPARE(readFile(file), m_encrypted[method]);
}

void TestDecryptCommand::noMethodSelected()
{
    m_host = {};
    runDecryptCommand(decryptInputs(-1), m_host);
    QCOMPARE(m_host.messages, QList<ShownMessage>{error("请先选择一种解密方式!")});
    QVERIFY(m_host.dialogTitles.isEmpty());
    QVERIFY(m_host.prompts.isEmpty());
}

// A read-only file is refused and kept; its content is still judged first, so a foreign one
// is called foreign.
void TestDecryptCommand::readOnlyFile()
{
    const QString file = m_dir->filePath(QStringLiteral("read-only"));
    for (int method : {1, 4}) {
        for (const QByteArray& content : {m_encrypted[method], patternBytes(3000, 8)}) {
            QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            QVERIFY(writeFile(file, content));
            makeReadOnly(file);
            const bool mine = content == m_encrypted[method];
            const JobLog log;
            QCOMPARE(decrypt(file, method, kPassword).messages.last(),
                     mine ? error("该文件解密失败!\n该文件是只读的") : kNotOurs);
            if (mine)
                QVERIFY2(log.has({QStringLiteral("the file may not be rewritten (the file is "
                                                 "read-only)")}),
                         qPrintable(log.lines.join(u'\n')));
            QCOMPARE(readFile(file), content);
        }
    }
}

void TestDecryptCommand::fileReplacedWhilePrompting_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("otherMethod");
    QTest::addColumn<QString>("otherPassword");
    QTest::addColumn<QString>("otherHint");
    QTest::addColumn<bool>("restored");
    // The same hint length keeps the record's head the same length: only its bytes differ.
    QTest::newRow("another MD5 file, another password")
        << 4 << 4 << QStringLiteral("其他 password") << QStringLiteral("狗的名字") << false;
    QTest::newRow("an RC4 enhanced file, the same password")
        << 4 << 3 << kPassword << kHint << false;
    QTest::newRow("another DES enhanced file, another password")
        << 2 << 2 << QStringLiteral("other") << QStringLiteral("狗的名字") << false;
    QTest::newRow("its own bytes") << 4 << -1 << QString() << QString() << true;
}

// The file is replaced while the user types the password: what is restored must be the record
// the password was checked against, or nothing is written.
void TestDecryptCommand::fileReplacedWhilePrompting()
{
    QFETCH(int, method);
    QFETCH(int, otherMethod);
    QFETCH(QString, otherPassword);
    QFETCH(QString, otherHint);
    QFETCH(bool, restored);
    const QString file = m_dir->filePath(QStringLiteral("swapped"));
    QVERIFY(writeFile(file, m_encrypted[method]));
    QByteArray replacement = m_encrypted[method];
    if (otherMethod >= 0) {
        const QString other = m_dir->filePath(QStringLiteral("other"));
        QVERIFY(writeFile(other, "another file's content"));
        encryptFile(other, otherMethod, otherPassword, otherHint);
        replacement = readFile(other);
        QVERIFY(QFile::remove(other));
    }

    m_host = {};
    m_host.answers = {Answer::Yes};
    m_host.chosenFiles = {file};
    m_host.typedTexts = {kPassword};
    m_host.whilePrompting = [&] { QVERIFY(writeFile(file, replacement)); };
    const JobLog log;
    runDecryptCommand(decryptInputs(method), m_host);
    if (restored) {
        QCOMPARE(m_host.messages.last(), kSuccess);
        QCOMPARE(readFile(file), textContent());
    } else {
        QCOMPARE(m_host.messages.last(), error("该文件解密失败!\n读取期间文件被修改"));
        QVERIFY2(log.has({QStringLiteral("the file changed after its password was checked")}),
                 qPrintable(log.lines.join(u'\n')));
        QCOMPARE(readFile(file), replacement);
    }
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("swapped")});
}

QTEST_GUILESS_MAIN(TestDecryptCommand)
#include "tst_decrypt_command.moc"
