#include "engine/decrypt_command.h"
#include "engine/encrypt_command.h"
#include "engine/encrypted_file.h"
#include "host/host_services/leftover_files.h"
#include "support/command_inputs.h"
#include "support/file_helpers.h"
#include "support/job_log.h"
#include "support/scripted_host_services.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace virellock;
using namespace virellock::test;

namespace {

constexpr qsizetype MiB = 1 << 20;
const QString kPassword = QStringLiteral("faults 密码");
const QString kFileName = QStringLiteral("precious file.bin");

// Half random bytes, half text: both kinds of chunk, and a payload that compresses.
QByteArray mixedContent(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(17);
    generator.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 8);
    QByteArray text;
    for (int line = 0; text.size() < size / 2; ++line)
        text += "line " + QByteArray::number(line) + " of the text half\n";
    bytes.replace(size / 2, size - size / 2, text.first(size - size / 2));
    return bytes;
}

// The command run here, in this process, answering every dialog.
QList<ShownMessage> runCommand(bool encrypt, int method, const QString& path,
                               const JobOptions& options = {})
{
    ScriptedHostServices host;
    host.answers = {Answer::Yes};
    host.chosenFiles = {path};
    host.typedTexts = {kPassword};
    if (encrypt)
        runEncryptCommand(encryptInputs(method, kPassword), host, options);
    else
        runDecryptCommand(decryptInputs(method), host, options);
    return host.messages;
}

bool succeeded(const QList<ShownMessage>& messages)
{
    return !messages.isEmpty() && messages.last().style == MessageStyle::Information;
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void killedProcess_data();
    void killedProcess();
    void fullDisk_data();
    void fullDisk();
    void symbolicLinkStaysALink();
    void hardLinkedFileIsNotEncrypted();
    void readOnlyFolder();
    void awkwardName();
    void fileChangesWhileRead_data();
    void fileChangesWhileRead();

private:
    QString path() const { return m_dir->filePath(kFileName); }
    // The file as the command expects it: plain to encrypt, or encrypted by method to decrypt.
    QByteArray prepare(bool encrypt, int method);

    QByteArray m_plain;
    QByteArray m_encrypted[5];
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestFaults::initTestCase()
{
    m_plain = mixedContent(160 * MiB);
}

void TestFaults::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QByteArray TestFaults::prepare(bool encrypt, int method)
{
    if (!writeFile(path(), m_plain))
        return {};
    if (encrypt)
        return m_plain;
    if (m_encrypted[method].isEmpty()) {
        if (!succeeded(runCommand(true, method, path())))
            return {};
        m_encrypted[method] = readFile(path());
    }
    writeFile(path(), m_encrypted[method]);
    return m_encrypted[method];
}

void TestFaults::killedProcess_data()
{
    QTest::addColumn<bool>("encrypt");
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("killAt");
    for (bool encrypt : {true, false}) {
        for (int method : {1, 4}) {
            for (const char* point : {"start", "middle", "end"})
                QTest::addRow("%s, method %d, killed at the %s", encrypt ? "encrypt" : "decrypt",
                              method, point)
                    << encrypt << method << QString::fromLatin1(point);
        }
    }
}

// Killed at any point, the file is either as it was or completely transformed; whatever the
// killed process left beside it carries another name, and the next run goes through.
void TestFaults::killedProcess()
{
    QFETCH(bool, encrypt);
    QFETCH(int, method);
    QFETCH(QString, killAt);
    const QByteArray before = prepare(encrypt, method);
    QVERIFY(!before.isEmpty());

    QProcess driver;
    driver.start(QStringLiteral(VIRELLOCK_COMMAND_DRIVER),
                 {encrypt ? QStringLiteral("encrypt") : QStringLiteral("decrypt"),
                  QString::number(method), path(), kPassword});
    QVERIFY(driver.waitForStarted());
    bool killed = killAt == QLatin1String("start");
    if (killed)
        driver.kill();
    while (!killed && driver.state() != QProcess::NotRunning) {
        driver.waitForReadyRead(100);
        while (driver.canReadLine()) {
            const QList<QByteArray> words = driver.readLine().trimmed().split(' ');
            if (words.size() != 3 || words[0] != "progress")
                continue;
            const qint64 done = words[1].toLongLong(), total = words[2].toLongLong();
            if ((killAt == QLatin1String("middle") && done >= total / 2) ||
                (killAt == QLatin1String("end") && done == total)) {
                driver.kill();
                killed = true;
                break;
            }
        }
    }
    driver.waitForFinished();
    QVERIFY2(killed, "the command ended before the point where it was to be killed");

    const QByteArray after = readFile(path());
    if (after != before) {
        // Completely transformed: the restored file, or an encrypted one that restores.
        if (encrypt) {
            QVERIFY(writeFile(m_dir->filePath(QStringLiteral("check")), after));
            QVERIFY(succeeded(runCommand(false, method, m_dir->filePath(QStringLiteral("check")))));
            QVERIFY(readFile(m_dir->filePath(QStringLiteral("check"))) == m_plain);
            QFile::remove(m_dir->filePath(QStringLiteral("check")));
        } else {
            QVERIFY(after == m_plain);
        }
    }
    // Linux leaves nothing (the temporary file has no name until it is committed). Windows
    // leaves the temporary file, named after the file plus a suffix, and its record: the next
    // start removes it.
    const QStringList entries = folderEntries(m_dir->path());
    QCOMPARE(entries.count(kFileName), 1);
    for (const QString& entry : entries)
        QVERIFY2(entry == kFileName || entry.startsWith(kFileName + u'.'), qPrintable(entry));
    removeLeftoverFiles();
    QCOMPARE(folderEntries(m_dir->path()), QStringList{kFileName});

    // The next run on the same file is not disturbed by anything left behind.
    if (after == before)
        QVERIFY(succeeded(runCommand(encrypt, method, path())));
}

void TestFaults::fullDisk_data()
{
    QTest::addColumn<bool>("encrypt");
    QTest::addColumn<int>("method");
    for (bool encrypt : {true, false})
        for (int method = 0; method < 5; ++method)
            QTest::addRow("%s, method %d", encrypt ? "encrypt" : "decrypt", method)
                << encrypt << method;
}

// The disk fills up halfway through the new content: the failure message, the file untouched.
void TestFaults::fullDisk()
{
#ifndef Q_OS_UNIX
    QSKIP("the file-size limit that stands in for a full disk is POSIX only");
#endif
    QFETCH(bool, encrypt);
    QFETCH(int, method);
    const QByteArray before = prepare(encrypt, method);
    QVERIFY(!before.isEmpty());
    // MD5 output is far smaller than the file; its limit must fall inside it.
    const qint64 limit = encrypt && method == 4 ? 16 * MiB : m_plain.size() / 2;

    QProcess driver;
    driver.start(QStringLiteral(VIRELLOCK_COMMAND_DRIVER),
                 {encrypt ? QStringLiteral("encrypt") : QStringLiteral("decrypt"),
                  QString::number(method), path(), kPassword, QStringLiteral("--file-size-limit"),
                  QString::number(limit)});
    QVERIFY(driver.waitForFinished(120000));
    QCOMPARE(driver.exitCode(), 0);
    const QString output = QString::fromUtf8(driver.readAllStandardOutput());
    // Beneath the failure text, why: the file-size limit that stands in for the full disk
    // refuses the write as a file too large.
    const QString expected = (encrypt ? QStringLiteral("message 0x10 对该文件加密失败!\n")
                                      : QStringLiteral("message 0x10 该文件解密失败!\n")) +
                             QStringLiteral("文件系统无法容纳这么大的文件\n");
    QVERIFY2(output.endsWith(expected), qPrintable(output.right(200)));
    // The log says where it failed. (Qt has the system's words only when no byte of a write got
    // through; a short write leaves it with "Unknown error".)
    const QString log = QString::fromUtf8(driver.readAllStandardError());
    QVERIFY2(log.contains(QLatin1String("failed: writing the temporary file (")),
             qPrintable(log.right(300)));
    QVERIFY(readFile(path()) == before);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{kFileName});
}

void TestFaults::symbolicLinkStaysALink()
{
#ifndef Q_OS_UNIX
    QSKIP("QFile::link() makes a shortcut on Windows, not a symbolic link");
#endif
    const QString target = m_dir->filePath(QStringLiteral("target.txt"));
    const QString link = m_dir->filePath(QStringLiteral("link.txt"));
    QVERIFY(writeFile(target, "linked content"));
    QVERIFY(QFile::link(target, link));
    for (bool encrypt : {true, false}) {
        QVERIFY(succeeded(runCommand(encrypt, 3, link)));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(QFileInfo(link).symLinkTarget(), target);
    }
    QCOMPARE(readFile(target), QByteArray("linked content"));
}

// Rewriting gives the chosen name a new file, so another name (hard link) of the same file
// would keep the plain text: encrypting refuses such a file and leaves both names as they were.
// Decrypting stays allowed: the chosen name gets the restored content, the other name keeps
// the encrypted one, and nothing is exposed.
void TestFaults::hardLinkedFileIsNotEncrypted()
{
    const QString chosen = m_dir->filePath(QStringLiteral("chosen"));
    const QString other = m_dir->filePath(QStringLiteral("other"));
    QVERIFY(writeFile(chosen, "shared content"));
    QVERIFY(makeHardLink(chosen, other));
    const QList<ShownMessage> messages = runCommand(true, 3, chosen);
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.first().text,
             QStringLiteral("对该文件加密失败!\n该文件有多个硬链接,加密后其他链接仍会保留原内容"));
    const JobResult refused = encryptFile(chosen, 3, kPassword, QString());
    QCOMPARE(refused.outcome, JobOutcome::WriteFailed);
    QCOMPARE(refused.step, JobStep::RefusedFile);
    QVERIFY2(refused.detail.contains(QLatin1String("2 names")), qPrintable(refused.detail));
    QCOMPARE(readFile(chosen), QByteArray("shared content"));
    QCOMPARE(readFile(other), QByteArray("shared content"));

    QVERIFY(QFile::remove(other));
    QVERIFY(succeeded(runCommand(true, 3, chosen)));
    const QByteArray encrypted = readFile(chosen);
    QVERIFY(makeHardLink(chosen, other));
    QVERIFY(succeeded(runCommand(false, 3, chosen)));
    QCOMPARE(readFile(chosen), QByteArray("shared content"));
    QCOMPARE(readFile(other), encrypted);
}

// A folder without write permission: the temporary file cannot be made, so the command fails
// and the file stays. Root may write there all the same, and the command then succeeds.
void TestFaults::readOnlyFolder()
{
#ifndef Q_OS_UNIX
    QSKIP("folder permissions are access lists on Windows, out of QFile's reach");
#else
    const QString folder = m_dir->filePath(QStringLiteral("locked folder"));
    QVERIFY(QDir().mkdir(folder));
    const QString file = folder + QStringLiteral("/inside.txt");
    QVERIFY(writeFile(file, "in a read-only folder"));
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const QList<ShownMessage> messages = runCommand(true, 2, file);
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (geteuid() == 0) {
        QVERIFY(succeeded(messages));
        QVERIFY(succeeded(runCommand(false, 2, file)));
    } else {
        QCOMPARE(messages.last().text, QStringLiteral("对该文件加密失败!\n拒绝访问"));
    }
    QCOMPARE(readFile(file), QByteArray("in a read-only folder"));
    QCOMPARE(folderEntries(folder), QStringList{QStringLiteral("inside.txt")});
#endif
}

void TestFaults::awkwardName()
{
    const QString file = m_dir->filePath(QStringLiteral("-rf 文件 名 .txt"));
    QVERIFY(writeFile(file, "awkward"));
    for (int method = 0; method < 5; ++method) {
        QVERIFY(succeeded(runCommand(true, method, file)));
        QVERIFY(readFile(file) != QByteArray("awkward"));
        QVERIFY(succeeded(runCommand(false, method, file)));
        QCOMPARE(readFile(file), QByteArray("awkward"));
    }
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("-rf 文件 名 .txt")});
}

void TestFaults::fileChangesWhileRead_data()
{
    QTest::addColumn<bool>("encrypt");
    QTest::addColumn<int>("method");
    QTest::addColumn<bool>("grows");
    for (bool encrypt : {true, false})
        for (int method : {0, 3, 4})
            for (bool grows : {true, false})
                QTest::addRow("%s, method %d, file %s", encrypt ? "encrypt" : "decrypt", method,
                              grows ? "grows" : "shrinks")
                    << encrypt << method << grows;
}

// Someone else changes the file's size while it is read: the command fails and leaves the file
// as that someone left it.
void TestFaults::fileChangesWhileRead()
{
    QFETCH(bool, encrypt);
    QFETCH(int, method);
    QFETCH(bool, grows);
    QByteArray content = prepare(encrypt, method);
    QVERIFY(!content.isEmpty());
    if (encrypt) { // a smaller file will do
        content.truncate(8 * MiB);
        QVERIFY(writeFile(path(), content));
    }
    bool changed = false;
    JobOptions options;
    options.progress = [&](qint64 done, qint64) {
        if (done > 0 && !changed) {
            changed = true;
            QFile file(path());
            if (grows) {
                file.open(QIODevice::Append);
                file.write(QByteArray(MiB, 'g'));
            } else {
                file.resize(content.size() - MiB);
            }
        }
        return true;
    };
    const JobLog log;
    const QList<ShownMessage> messages = runCommand(encrypt, method, path(), options);
    QVERIFY(changed);
    QCOMPARE(messages.last().style, MessageStyle::Error);
    QVERIFY2(log.has({QStringLiteral("failed: the file changed while it was read")}),
             qPrintable(log.lines.join(u'\n')));
    const QByteArray expected = grows ? content + QByteArray(MiB, 'g') : content.chopped(MiB);
    QVERIFY(readFile(path()) == expected);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{kFileName});
}

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
