#include "engine/decrypt_command.h"
#include "engine/encrypt_command.h"
#include "engine/encrypted_file.h"
#include "support/command_inputs.h"
#include "support/file_helpers.h"
#include "support/scripted_host_services.h"
#include "support/test_bytes.h"

#include <QTemporaryDir>
#include <QTest>

using namespace virellock;
using namespace virellock::test;

namespace {

constexpr qsizetype MiB = 1 << 20;
const QString kPassword = QStringLiteral("check 密码");
const QString kFileName = QStringLiteral("kept.bin");

} // namespace

// JobOptions::checkOnly: the decrypt command runs every check of a decryption and writes
// nothing, whatever the outcome.
class TestCheckOnly : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void decryptChecksWithoutWriting_data();
    void decryptChecksWithoutWriting();
    void encryptionRefusesIt();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCheckOnly::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestCheckOnly::decryptChecksWithoutWriting_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    const QString decrypted = QStringLiteral("该文件解密成功!");
    const QString notOurs = QStringLiteral("该文件不是由此软件加密而成的!");
    for (int method = 0; method < 5; ++method) {
        const bool enhanced = method >= 2;
        QTest::addRow("method %d, good", method) << method << "good" << kPassword << decrypted;
        QTest::addRow("method %d, good and read-only", method)
            << method << "read-only" << kPassword << decrypted;
        // The last chunk's tag, or the frame's checksum: only reading all of it finds this.
        QTest::addRow("method %d, damaged at the end", method)
            << method << "damaged" << kPassword << notOurs;
        QTest::addRow("method %d, wrong password", method)
            << method << "good" << QStringLiteral("check 密")
            << (enhanced ? QStringLiteral("密码错误,无法解密码!") : notOurs);
    }
}

void TestCheckOnly::decryptChecksWithoutWriting()
{
    QFETCH(int, method);
    QFETCH(QString, file);
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    const QString path = m_dir->filePath(kFileName);
    // Three chunks, the last one short.
    QVERIFY(writeFile(path, patternBytes(2 * MiB + 100, 3)));
    ScriptedHostServices encryptHost;
    encryptHost.chosenFiles = {path};
    runEncryptCommand(encryptInputs(method, kPassword, QStringLiteral("提示")), encryptHost);
    QCOMPARE(encryptHost.messages.size(), 1);
    QCOMPARE(encryptHost.messages.first().style, MessageStyle::Information);
    if (file == QLatin1String("damaged")) {
        const QByteArray encrypted = readFile(path);
        QVERIFY(writeFile(path, flipBit(encrypted, encrypted.size() - 2)));
    } else if (file == QLatin1String("read-only")) {
        makeReadOnly(path);
    }
    const QByteArray before = readFile(path);

    ScriptedHostServices host;
    host.answers = {Answer::Yes};
    host.chosenFiles = {path};
    host.typedTexts = {typed};
    JobOptions options;
    options.checkOnly = true;
    bool temporaryFileMade = false;
    options.beforeVerify = [&temporaryFileMade](QIODevice&) { temporaryFileMade = true; };
    runDecryptCommand(decryptInputs(method), host, options);

    QCOMPARE(host.unexpectedCalls, 0);
    QCOMPARE(host.messages.size(), 2); // the question, then the outcome
    QCOMPARE(host.messages.last().text, expected);
    QVERIFY(readFile(path) == before);
    QVERIFY(!temporaryFileMade);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{kFileName});
}

void TestCheckOnly::encryptionRefusesIt()
{
    const QString path = m_dir->filePath(kFileName);
    const QByteArray plain = patternBytes(1000, 4);
    QVERIFY(writeFile(path, plain));
    JobOptions options;
    options.checkOnly = true;
    for (int method = 0; method < 5; ++method) {
        const JobResult result = encryptFile(path, method, kPassword, QString(), options);
        QCOMPARE(result.outcome, JobOutcome::WriteFailed);
        QVERIFY(readFile(path) == plain);
    }
    QCOMPARE(folderEntries(m_dir->path()), QStringList{kFileName});
}

QTEST_GUILESS_MAIN(TestCheckOnly)
#include "tst_check_only.moc"
