#include "engine/decrypt_command.h"
#include "engine/decrypted_file.h"
#include "engine/encrypt_command.h"
#include "engine/encrypted_file.h"
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
const QString kPassword = QStringLiteral("共同 password");

const QString kStandardPrompt =
    QStringLiteral("请输入密码:\r\n警告:由于这是标准加密法,因此不具有密码效验,请输入正确的密码,"
                   "否则解密会失败,建议您使用该解密法之前请备份文件!");

// What a file of the run is: "good" (plain for encryption, encrypted with the password for
// decryption), "foreign" (random bytes), "other password" (encrypted with another password),
// "read-only" (good, but read-only).
using Kinds = QStringList;

// The file's plain content: a few chunks, so that a cancel can fall in its middle.
QByteArray plainOf(int index)
{
    return patternBytes(3 * MiB + index, quint32(index + 1));
}

// Restores a file encrypted by method with the password; nothing when it does not restore.
std::optional<QByteArray> restored(const QString& file, int method, const QString& password)
{
    const QString copy = file + QStringLiteral(".restored");
    QFile::remove(copy);
    if (!QFile::copy(file, copy))
        return std::nullopt;
    QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    JobResult result;
    if (method < 2) {
        result = decryptStandardFile(copy, *cipherOf(Method(method)), password);
    } else {
        const std::optional<EnhancedRecord> record = readEnhancedRecordFile(copy);
        if (!record)
            return std::nullopt;
        result = restoreEnhancedFile(copy, Method(method), *record, password);
    }
    const QByteArray content = readFile(copy);
    QFile::remove(copy);
    return result.done() ? std::optional(content) : std::nullopt;
}

} // namespace

class TestSeveralFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void severalFiles_data();
    void severalFiles();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSeveralFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestSeveralFiles::severalFiles_data()
{
    QTest::addColumn<bool>("decrypting");
    QTest::addColumn<int>("method");
    QTest::addColumn<Kinds>("kinds");
    QTest::addColumn<bool>("fromDialog"); // chosen in the dialog, else given
    QTest::addColumn<int>("cancelIn");    // the file whose progress is cancelled halfway; -1
    QTest::addColumn<QString>("message"); // the last message; empty: none after the question

    const Kinds threeGood{"good", "good", "good"};
    QTest::newRow("encrypt DES, all good")
        << false << 0 << threeGood << false << -1 << "对该文件加密成功,请牢记你的密码!";
    QTest::newRow("encrypt MD5, all good, chosen in the dialog")
        << false << 4 << threeGood << true << -1 << "对该文件加密成功,请牢记你的密码!";
    QTest::newRow("encrypt RC4 enhanced, one read-only")
        << false << 3 << Kinds{"good", "read-only", "good"} << false << -1
        << "对该文件加密失败!\n1 read-only.txt: 该文件是只读的";
    QTest::newRow("encrypt RC4, cancelled in the second")
        << false << 1 << threeGood << false << 1 << "";

    QTest::newRow("decrypt RC4, all good")
        << true << 1 << threeGood << false << -1 << "该文件解密成功!";
    QTest::newRow("decrypt DES enhanced, all good, chosen in the dialog")
        << true << 2 << threeGood << true << -1 << "该文件解密成功!";
    QTest::newRow("decrypt DES, one foreign among good ones")
        << true << 0 << Kinds{"good", "foreign", "good"} << false << -1
        << "该文件不是由此软件加密而成的!\n1 foreign.txt";
    QTest::newRow("decrypt MD5, one foreign among good ones")
        << true << 4 << Kinds{"good", "good", "foreign"} << false << -1
        << "该文件不是由此软件加密而成的!\n2 foreign.txt";
    // No check at the prompt for a standard method: another password makes content it cannot
    // read, as a foreign file's.
    QTest::newRow("decrypt RC4, foreign and another password")
        << true << 1 << Kinds{"other password", "good", "foreign"} << false << -1
        << "该文件不是由此软件加密而成的!\n0 other password.txt\n2 foreign.txt";
    // The enhanced methods tell a wrong password for certain, and keep it apart; the hint is
    // the first file's that holds a record.
    QTest::newRow("decrypt MD5, foreign first, another password, read-only")
        << true << 4 << Kinds{"foreign", "other password", "good", "read-only", "foreign"} << false
        << -1
        << "该文件不是由此软件加密而成的!\n0 foreign.txt\n4 foreign.txt\n\n"
           "密码错误,无法解密码!\n1 other password.txt\n\n"
           "该文件解密失败!\n3 read-only.txt: 该文件是只读的";
    QTest::newRow("decrypt RC4 enhanced, none ours")
        << true << 3 << Kinds{"foreign", "foreign"} << false << -1
        << "该文件不是由此软件加密而成的!\n0 foreign.txt\n1 foreign.txt";
    QTest::newRow("decrypt MD5, cancelled in the second")
        << true << 4 << threeGood << false << 1 << "";
    QTest::newRow("decrypt DES, cancelled in the first")
        << true << 0 << threeGood << false << 0 << "";
}

// Several files under one command: asked once, worked one after another under one progress
// dialog that names each, each on its own (a failure leaves that file as it was and the rest
// go on), ended by one message that names the files that failed. A cancel leaves the file at
// work as it was, starts none after it, and ends the run silently.
void TestSeveralFiles::severalFiles()
{
    QFETCH(bool, decrypting);
    QFETCH(int, method);
    QFETCH(Kinds, kinds);
    QFETCH(bool, fromDialog);
    QFETCH(int, cancelIn);
    QFETCH(QString, message);

    QStringList files;
    QList<QByteArray> before;
    QString hint; // the first record's, for the prompt
    for (int i = 0; i < kinds.size(); ++i) {
        const QString& kind = kinds.at(i);
        const QString file = m_dir->filePath(QStringLiteral("%1 %2.txt").arg(i).arg(kind));
        files.append(QDir::toNativeSeparators(file));
        QVERIFY(writeFile(file,
                          kind == QLatin1String("foreign") ? patternBytes(5000, 99) : plainOf(i)));
        if (decrypting && kind != QLatin1String("foreign")) {
            const QString password =
                kind == QLatin1String("other password") ? QStringLiteral("other") : kPassword;
            const QString fileHint = QStringLiteral("提示 %1").arg(i);
            QCOMPARE(encryptFile(file, method, password, fileHint), JobOutcome::Done);
            if (hint.isEmpty())
                hint = fileHint;
        }
        if (kind == QLatin1String("read-only"))
            makeReadOnly(file);
        before.append(readFile(file));
    }

    ScriptedHostServices host;
    host.answers = {Answer::Yes};
    host.typedTexts = {kPassword};
    if (fromDialog)
        host.chosenFiles = {files};
    if (cancelIn >= 0) {
        host.cancelAt = 0.5;
        host.cancelInFile = cancelIn;
    }
    const QStringList given = fromDialog ? QStringList() : files;
    const JobLog log;
    const CommandOutcome outcome =
        decrypting ? runDecryptCommand(decryptInputs(method, given), host)
                   : runEncryptCommand(encryptInputs(method, kPassword, QString(), given), host);

    QCOMPARE(host.unexpectedCalls, 0);
    QCOMPARE(host.fileDialogs.size(), fromDialog ? 1 : 0);
    // Asked once: the question and the prompt for decryption, with the first record's hint.
    QList<ShownMessage> messages = host.messages;
    if (decrypting) {
        QVERIFY(!messages.isEmpty());
        QCOMPARE(messages.takeFirst().style, MessageStyle::Question);
        const bool prompted = method < 2 || !hint.isEmpty();
        QCOMPARE(host.prompts.size(), prompted ? 1 : 0);
        if (prompted)
            QCOMPARE(host.prompts.first().prompt,
                     method < 2 ? kStandardPrompt : QStringLiteral("请输入密码:\r\n\r\n") + hint);
    } else {
        QVERIFY(host.prompts.isEmpty());
    }
    if (message.isEmpty()) {
        QVERIFY(messages.isEmpty());
    } else {
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages.first().text, message);
        QCOMPARE(messages.first().style, kinds.count(QStringLiteral("good")) == kinds.size()
                                             ? MessageStyle::Information
                                             : MessageStyle::Error);
    }
    const bool failures = message.contains(u'\n');
    QCOMPARE(outcome, cancelIn >= 0 ? CommandOutcome::Cancelled
                      : failures    ? CommandOutcome::Failed
                                    : CommandOutcome::Succeeded);

    // One progress dialog, which named the files it started, in order: after a cancel, none.
    const qsizetype started = cancelIn >= 0 ? cancelIn + 1 : kinds.size();
    const bool worked = !decrypting || method < 2 || !hint.isEmpty();
    QCOMPARE(host.progressTitles.size(), worked ? 1 : 0);
    QStringList named;
    for (qsizetype i = 0; worked && i < started; ++i)
        named << QStringLiteral("%1/%2 %3")
                     .arg(i + 1)
                     .arg(kinds.size())
                     .arg(QFileInfo(files.at(i)).fileName());
    QCOMPARE(host.progressFiles, named);

    for (int i = 0; i < kinds.size(); ++i) {
        const QString& file = files.at(i);
        const bool done = kinds.at(i) == QLatin1String("good") && (cancelIn < 0 || i < cancelIn);
        if (!done) {
            QCOMPARE(readFile(file), before.at(i));
            if (cancelIn < 0) // why it failed is in the log
                QVERIFY2(log.has({file, QStringLiteral("failed: ")}),
                         qPrintable(log.lines.join(u'\n')));
        } else if (decrypting) {
            QCOMPARE(readFile(file), plainOf(i));
        } else {
            QCOMPARE(restored(file, method, kPassword), plainOf(i));
        }
    }
    if (decrypting && method >= 2 && kinds.contains(QStringLiteral("other password")))
        QVERIFY(
            log.has({QStringLiteral("other password"), QStringLiteral("checking the password")}));
    QCOMPARE(folderEntries(m_dir->path()).size(), kinds.size());
}

QTEST_GUILESS_MAIN(TestSeveralFiles)
#include "tst_several_files.moc"
