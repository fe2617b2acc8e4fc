// Run with OPENSSL_MODULES at an empty folder, so that OpenSSL's legacy provider, and with it
// DES and RC4, cannot load (tests/engine/CMakeLists.txt sets it).

#include "engine/decrypt_command.h"
#include "engine/encrypt_command.h"
#include "host/data_ops/cipher_backend.h"
#include "host/data_ops/data_ops.h"
#include "host/file_format/typed_data.h"
#include "support/command_inputs.h"
#include "support/file_helpers.h"
#include "support/scripted_host_services.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace virellock;
using namespace virellock::test;

namespace {

ShownMessage error(const char* text)
{
    return {QString::fromUtf8(text), MessageStyle::Error, QStringLiteral("错误:")};
}

const ShownMessage kCipherUnavailable =
    error("无法使用DES和RC4加密算法:未能加载OpenSSL的legacy组件!");

QString knownAnswerFile(const char* name)
{
    return QStringLiteral(VIRELLOCK_TEST_DATA_DIR "/known_answer/") + QString::fromUtf8(name);
}

} // namespace

class TestCipherBackendMissing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void checkNamesTheMissingProvider();
    void encrypt_data();
    void encrypt();
    void decrypt_data();
    void decrypt();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedHostServices m_host;
};

void TestCipherBackendMissing::initTestCase()
{
#ifdef Q_OS_WIN
    QSKIP("On Windows the legacy provider is built into libcrypto: there is no module to lose.");
#endif
    const QString modules = qEnvironmentVariable("OPENSSL_MODULES");
    QVERIFY2(!modules.isEmpty() && QDir(modules).exists() && QDir(modules).isEmpty(),
             "run this test with OPENSSL_MODULES at an empty folder");
}

void TestCipherBackendMissing::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_host = {};
}

void TestCipherBackendMissing::checkNamesTheMissingProvider()
{
    const dataops::CipherBackendStatus& status = dataops::cipherBackendAvailable();
    QVERIFY(!status.des);
    QVERIFY(!status.rc4);
    QCOMPARE(status.fault, dataops::CipherBackendFault::LegacyProviderMissing);
    // OpenSSL's own words name the module it looked for.
    QVERIFY2(status.openSslError.contains(QStringLiteral("legacy")),
             qPrintable(status.openSslError));
}

// The methods that need a cipher stop before the file dialog, right after the method check;
// the one that only compresses works.
void TestCipherBackendMissing::encrypt_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("password");
    QTest::addColumn<ShownMessage>("message");

    const QString password = QStringLiteral("pass 密码");
    QTest::newRow("no method") << -1 << password << error("请先选择一种加密方式!");
    QTest::newRow("DES standard") << 0 << password << kCipherUnavailable;
    QTest::newRow("RC4 standard, no password") << 1 << QString() << kCipherUnavailable;
    QTest::newRow("DES enhanced") << 2 << password << kCipherUnavailable;
    QTest::newRow("RC4 enhanced") << 3 << password << kCipherUnavailable;
    QTest::newRow("MD5 enhanced") << 4 << password
                                  << ShownMessage{
                                         QStringLiteral("对该文件加密成功,请牢记你的密码!"),
                                         MessageStyle::Information, QStringLiteral("恭喜:")};
}

void TestCipherBackendMissing::encrypt()
{
    QFETCH(int, method);
    QFETCH(QString, password);
    QFETCH(ShownMessage, message);

    const QByteArray plain("plain text 明文\n");
    const QString file = m_dir->filePath(QStringLiteral("plain.txt"));
    QVERIFY(writeFile(file, plain));
    m_host.chosenFiles = {file};
    runEncryptCommand(encryptInputs(method, password), m_host);

    QCOMPARE(m_host.messages, QList<ShownMessage>{message});
    QCOMPARE(m_host.unexpectedCalls, 0);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("plain.txt")});
    if (method != 4) {
        QVERIFY(m_host.dialogTitles.isEmpty());
        QCOMPARE(readFile(file), plain);
        return;
    }
    QFile encrypted(file);
    QByteArray check;
    QString hint;
    QByteArray payload;
    QVERIFY(encrypted.open(QIODevice::ReadOnly));
    QVERIFY(ReadTypedData(encrypted, check, hint, payload));
    QCOMPARE(DecompressData(payload), plain);
}

// Genuine files of every method: those that need a cipher are refused for want of it before
// the question, never called foreign; the MD5 file decrypts.
void TestCipherBackendMissing::decrypt_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("password");

    auto row = [](const char* name, int method, const char* file, const char* password) {
        QTest::newRow(name) << method << knownAnswerFile(file) << QString::fromUtf8(password);
    };
    row("no method", -1, "des-standard-small.bin", "open 芝麻");
    row("DES standard", 0, "des-standard-small.bin", "open 芝麻");
    row("RC4 standard", 1, "rc4-standard-small.bin", "open 芝麻");
    row("DES enhanced", 2, "des-enhanced-small.bin", "open 芝麻");
    row("RC4 enhanced", 3, "rc4-enhanced-small.bin", "Cafe\u0301 芝麻");
    row("MD5 enhanced", 4, "md5-enhanced-small.bin", "open 芝麻");
}

void TestCipherBackendMissing::decrypt()
{
    QFETCH(int, method);
    QFETCH(QString, file);
    QFETCH(QString, password);

    const QString copy = m_dir->filePath(QStringLiteral("file.bin"));
    QVERIFY(QFile::copy(file, copy));
    const QByteArray original = readFile(copy);
    m_host.answers = {Answer::Yes};
    m_host.chosenFiles = {copy};
    m_host.typedTexts = {password};
    runDecryptCommand(decryptInputs(method), m_host);

    QCOMPARE(m_host.unexpectedCalls, 0);
    if (method != 4) {
        QCOMPARE(m_host.messages, QList<ShownMessage>{method == -1 ? error("请先选择一种解密方式!")
                                                                   : kCipherUnavailable});
        QVERIFY(m_host.dialogTitles.isEmpty());
        QVERIFY(m_host.prompts.isEmpty());
        QCOMPARE(readFile(copy), original);
        return;
    }
    QCOMPARE(m_host.messages.constLast(),
             (ShownMessage{QStringLiteral("该文件解密成功!"), MessageStyle::Information,
                           QStringLiteral("恭喜:")}));
    QCOMPARE(readFile(copy), readFile(knownAnswerFile("plain-small.txt")));
}

QTEST_GUILESS_MAIN(TestCipherBackendMissing)
#include "tst_cipher_backend_missing.moc"
