#include "engine/decrypt_command.h"
#include "engine/decrypted_file.h"
#include "engine/encrypt_command.h"
#include "engine/encrypted_file.h"
#include "engine/messages.h"
#include "host/host_services/folder_room.h"
#include "support/command_inputs.h"
#include "support/file_helpers.h"
#include "support/job_log.h"
#include "support/restore_file.h"
#include "support/scripted_host_services.h"
#include "support/test_bytes.h"
#include "support/traced_environment.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/mount.h>
#include <unistd.h>
#endif

using namespace virellock;
using namespace virellock::test;

namespace {

const QString kPassword = QStringLiteral("fails 失败");
constexpr int kMethod = 1; // RC4 standard: the new content's bound is exact both ways

QString failureText(bool decrypting)
{
    return decrypting ? QStringLiteral("该文件解密失败!") : QStringLiteral("对该文件加密失败!");
}

QString successText(bool decrypting)
{
    return decrypting ? QStringLiteral("该文件解密成功!")
                      : QStringLiteral("对该文件加密成功,请牢记你的密码!");
}

JobResult rewrite(bool decrypting, const QString& file, int method, const JobOptions& options = {})
{
    return decrypting ? restoreFile(file, method, kPassword, options)
                      : encryptFile(file, method, kPassword, QString(), options);
}

// Stands in for the system's answer about every folder while it lives.
class FolderRoomStandIn
{
public:
    explicit FolderRoomStandIn(FolderRoom room)
    {
        detail::setFolderRoomForTests([room](const QString&) { return room; });
    }
    ~FolderRoomStandIn() { detail::setFolderRoomForTests(nullptr); }
    FolderRoomStandIn(const FolderRoomStandIn&) = delete;
    FolderRoomStandIn& operator=(const FolderRoomStandIn&) = delete;
};

} // namespace

Q_DECLARE_METATYPE(FailureReason)
Q_DECLARE_METATYPE(FolderRoom)

// A rewrite that cannot be done well is not done: a sync that fails, a file that changes or is
// replaced before the rename, a disk without room for the new content. The file stays as it
// was, nothing is left beside it, and the person is told why beneath the failure text.
class TestRewriteFailures : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void failedSync_data();
    void failedSync();
    void fileChangedWhileRead_data();
    void fileChangedWhileRead();
    void fileChangedBeforeReplacing_data();
    void fileChangedBeforeReplacing();
    void noRoom_data();
    void noRoom();
    void noRoomOnASmallDisk_data();
    void noRoomOnASmallDisk();
    void reasonBeneathTheMessage_data();
    void reasonBeneathTheMessage();
    void sizesAsPeopleReadThem_data();
    void sizesAsPeopleReadThem();

private:
    QString path() const { return m_dir->filePath(QStringLiteral("precious.bin")); }
    // The file as the rewrite expects it: plain to encrypt, encrypted by method to decrypt.
    void prepare(const QString& file, bool decrypting, int method, const QByteArray& plain);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_mounted;
};

void TestRewriteFailures::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestRewriteFailures::cleanup()
{
#ifdef Q_OS_UNIX
    if (!m_mounted.isEmpty())
        ::umount2(QFile::encodeName(m_mounted).constData(), MNT_DETACH);
#endif
    m_mounted.clear();
    m_dir.reset();
}

void TestRewriteFailures::prepare(const QString& file, bool decrypting, int method,
                                  const QByteArray& plain)
{
    QVERIFY(writeFile(file, plain));
    if (decrypting)
        QCOMPARE(encryptFile(file, method, kPassword, QString()), JobOutcome::Done);
}

void TestRewriteFailures::failedSync_data()
{
    QTest::addColumn<bool>("decrypting");
    QTest::addColumn<QString>("failing"); // the system call made to fail
    for (bool decrypting : {false, true}) {
        const char* direction = decrypting ? "decrypt" : "encrypt";
        QTest::addRow("%s, the temporary file's sync", direction)
            << decrypting << QStringLiteral("fdatasync");
        QTest::addRow("%s, the folder's sync", direction) << decrypting << QStringLiteral("fsync");
    }
}

// The disk reports an error when the new content is synced: the rewrite fails and the file
// stays as it was. When the folder's sync fails after the rename, the file is rewritten and
// the person is told, beneath the success text, that a power cut could still undo it.
void TestRewriteFailures::failedSync()
{
    QFETCH(bool, decrypting);
    QFETCH(QString, failing);
#ifdef Q_OS_WIN
    QSKIP("strace makes the syncs fail, on Linux");
#endif
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty())
        QSKIP("strace is not installed (apt-get install strace)");
    const QByteArray plain = textThenRandom(3 << 20, 4);
    prepare(path(), decrypting, kMethod, plain);
    const QByteArray before = readFile(path());

    QProcess traced;
    traced.setProcessEnvironment(tracedEnvironment());
    traced.start(strace, {QStringLiteral("-f"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                          QStringLiteral("-e"), QStringLiteral("inject=%1:error=EIO").arg(failing),
                          QStringLiteral(VIRELLOCK_COMMAND_DRIVER),
                          decrypting ? QStringLiteral("decrypt") : QStringLiteral("encrypt"),
                          QString::number(kMethod), path(), kPassword});
    QVERIFY(traced.waitForFinished(120000));
    const QString output = QString::fromUtf8(traced.readAllStandardOutput());
    const QString log = QString::fromUtf8(traced.readAllStandardError());
    if (traced.exitCode() != 0 && log.contains(QLatin1String("ptrace")))
        QSKIP(qPrintable(QStringLiteral("strace cannot trace here: ") + log));
    QCOMPARE(traced.exitCode(), 0);

    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("precious.bin")});
    if (failing == QLatin1String("fdatasync")) {
        const QString expected = QStringLiteral("message 0x10 ") + failureText(decrypting) +
                                 QStringLiteral("\n写入磁盘时出错\n");
        QVERIFY2(output.endsWith(expected), qPrintable(output + log));
        QVERIFY(readFile(path()) == before);
        return;
    }
    const QString expected = QStringLiteral("message 0x40 ") + successText(decrypting) + u'\n' +
                             messages::folderNotSynced() + u'\n';
    QVERIFY2(output.endsWith(expected), qPrintable(output + log));
    QVERIFY2(log.contains(QLatin1String("done, but: the folder could not be synced")),
             qPrintable(log));
    if (decrypting)
        QVERIFY(readFile(path()) == plain);
    else
        QCOMPARE(restoreFile(path(), kMethod, kPassword), JobOutcome::Done);
}

void TestRewriteFailures::fileChangedWhileRead_data()
{
    QTest::addColumn<bool>("decrypting");
    QTest::addColumn<int>("method");
    QTest::addColumn<bool>("grows");
    for (bool decrypting : {false, true})
        for (int method = 0; method < 5; ++method)
            for (bool grows : {true, false})
                QTest::addRow("%s, method %d, %s", decrypting ? "decrypt" : "encrypt", method,
                              grows ? "grows" : "shrinks")
                    << decrypting << method << grows;
}

// The file grows or shrinks while it is read: whichever check finds it, the rewrite ends the
// same way, and the person is told the same.
void TestRewriteFailures::fileChangedWhileRead()
{
    QFETCH(bool, decrypting);
    QFETCH(int, method);
    QFETCH(bool, grows);
    prepare(path(), decrypting, method, textThenRandom(6 << 20, 9));
    const qint64 size = QFileInfo(path()).size();
    JobOptions options;
    bool changed = false;
    options.progress = [&](qint64 done, qint64) {
        if (done > 0 && !changed) {
            QFile file(path());
            changed = grows ? file.open(QIODevice::Append) && file.write("more") == 4
                            : file.resize(size - 4);
        }
        return true;
    };
    const JobResult result = rewrite(decrypting, path(), method, options);
    QVERIFY(changed);
    QCOMPARE(result.outcome, JobOutcome::WriteFailed);
    QCOMPARE(result.step, JobStep::FileChanged);
    QCOMPARE(result.cause.reason, FailureReason::FileChanged);
    QCOMPARE(QFileInfo(path()).size(), grows ? size + 4 : size - 4);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("precious.bin")});
}

void TestRewriteFailures::fileChangedBeforeReplacing_data()
{
    QTest::addColumn<bool>("decrypting");
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("change");
    for (bool decrypting : {false, true}) {
        for (int method : {1, 4}) {
            for (const char* change : {"another file renamed over it", "written in place",
                                       "permissions changed", "removed"})
                QTest::addRow("%s, method %d, %s", decrypting ? "decrypt" : "encrypt", method,
                              change)
                    << decrypting << method << QString::fromLatin1(change);
        }
    }
}

// Another program changes the file, or puts another in its place, after it was read and
// before the new content replaces it: the rewrite is refused and what that program left
// stays as it left it.
void TestRewriteFailures::fileChangedBeforeReplacing()
{
    QFETCH(bool, decrypting);
    QFETCH(int, method);
    QFETCH(QString, change);
    prepare(path(), decrypting, method, textThenRandom(600000, 2));
    const QString newer = m_dir->filePath(QStringLiteral("newer"));
    const QByteArray newerContent("the newer version, saved by another program");

    JobOptions options;
    bool changed = false;
    options.beforeReplace = [&] {
        changed = true;
        if (change == QLatin1String("another file renamed over it")) {
            QVERIFY(writeFile(newer, newerContent));
#ifdef Q_OS_WIN
            QVERIFY(MoveFileExW(
                reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(newer).utf16()),
                reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path()).utf16()),
                MOVEFILE_REPLACE_EXISTING));
#else
            QCOMPARE(::rename(QFile::encodeName(newer).constData(),
                              QFile::encodeName(path()).constData()),
                     0);
#endif
        } else if (change == QLatin1String("written in place")) {
            QVERIFY(writeFile(path(), newerContent));
        } else if (change == QLatin1String("permissions changed")) {
#ifdef Q_OS_WIN
            // What stands for permissions there: the attributes.
            QVERIFY(SetFileAttributesW(
                reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path()).utf16()),
                FILE_ATTRIBUTE_HIDDEN));
#else
            QVERIFY(QFile::setPermissions(path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ReadGroup));
#endif
        } else {
            QVERIFY(QFile::remove(path()));
        }
    };
    const QByteArray before = readFile(path());
    const JobLog log;
    const JobResult result = rewrite(decrypting, path(), method, options);
    QVERIFY(changed);
    QCOMPARE(result.outcome, JobOutcome::WriteFailed);
    QCOMPARE(result.step, JobStep::FileChanged);
    QCOMPARE(result.cause.reason, FailureReason::FileChanged);
    if (change == QLatin1String("removed")) {
        QVERIFY(folderEntries(m_dir->path()).isEmpty());
        return;
    }
    const QByteArray expected =
        change == QLatin1String("permissions changed") ? before : newerContent;
    QVERIFY(readFile(path()) == expected);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("precious.bin")});
}

void TestRewriteFailures::noRoom_data()
{
    QTest::addColumn<bool>("decrypting");
    QTest::addColumn<int>("method");
    QTest::addColumn<FolderRoom>("room");
    QTest::addColumn<FailureReason>("reason");
    const qint64 size = 300000;
    for (bool decrypting : {false, true}) {
        for (int method : {0, 1, 3, 4}) {
            const char* direction = decrypting ? "decrypt" : "encrypt";
            QTest::addRow("%s, method %d, a byte short of the plain size", direction, method)
                << decrypting << method << FolderRoom{size - 1, -1} << FailureReason::NoSpace;
            QTest::addRow("%s, method %d, a FAT-like limit", direction, method)
                << decrypting << method << FolderRoom{-1, size - 1} << FailureReason::FileTooLarge;
        }
    }
}

// A disk with less free space than the new content may take, or a file system that holds no
// file that large, as the folder-room stand-in tells it: refused at the room check, before
// the temporary file is made, with the sizes for the message. The free space counts the old
// content as taken: it is freed only after the rename.
void TestRewriteFailures::noRoom()
{
    QFETCH(bool, decrypting);
    QFETCH(int, method);
    QFETCH(FolderRoom, room);
    QFETCH(FailureReason, reason);
    qInfo("through the folder-room stand-in");
    // Random bytes: the MD5 method's frames do not shrink them, so every new content is at
    // least as large as the plain text.
    const QByteArray plain = patternBytes(300000, 6);
    prepare(path(), decrypting, method, plain);
    const QByteArray before = readFile(path());

    JobResult result;
    JobOptions options;
    // A late check would write the whole content first and refuse only at the rename.
    bool reachedReplace = false;
    options.beforeReplace = [&] { reachedReplace = true; };
    {
        const FolderRoomStandIn standIn(room);
        result = rewrite(decrypting, path(), method, options);
    }
    QVERIFY(!reachedReplace);
    QCOMPARE(result.outcome, JobOutcome::WriteFailed);
    QCOMPARE(result.step, JobStep::NoRoom);
    QCOMPARE(result.cause.reason, reason);
    QVERIFY(result.cause.bytesNeeded >= plain.size());
    QCOMPARE(result.cause.bytesAvailable,
             reason == FailureReason::NoSpace ? room.freeBytes : room.largestFile);
    QVERIFY(readFile(path()) == before);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("precious.bin")});

    // With the room there is, the same rewrite goes through.
    QVERIFY(rewrite(decrypting, path(), method).done());
}

void TestRewriteFailures::noRoomOnASmallDisk_data()
{
    QTest::addColumn<bool>("decrypting");
    QTest::addColumn<int>("method");
    for (bool decrypting : {false, true})
        for (int method : {0, 4})
            QTest::addRow("%s, method %d", decrypting ? "decrypt" : "encrypt", method)
                << decrypting << method;
}

// The same on a real disk of 1 MiB (a tmpfs, which only root may mount) holding a file of
// 600 KiB: its new content cannot fit beside it, and the command says so before writing.
void TestRewriteFailures::noRoomOnASmallDisk()
{
    QFETCH(bool, decrypting);
    QFETCH(int, method);
    const QString disk = m_dir->filePath(QStringLiteral("small disk"));
#ifdef Q_OS_WIN
    QSKIP("a tmpfs is mounted on Linux; noRoom() plays the same through the folder-room stand-in");
#else
    QVERIFY(QDir().mkdir(disk));
    if (::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=1m") != 0)
        QSKIP(qPrintable(QStringLiteral("no tmpfs could be mounted (%1); noRoom() plays the "
                                        "same through the folder-room stand-in")
                             .arg(qt_error_string(errno))));
    m_mounted = disk;
    qInfo("on a real 1 MiB tmpfs");
    // Made outside, where there is room for the encrypting.
    const QString outside = m_dir->filePath(QStringLiteral("made outside"));
    prepare(outside, decrypting, method, patternBytes(600 * 1024, 3));
    const QString file = disk + QStringLiteral("/precious.bin");
    QVERIFY(QFile::copy(outside, file));
    const QByteArray before = readFile(file);

    ScriptedHostServices host;
    host.answers = {Answer::Yes};
    host.typedTexts = {kPassword};
    const JobLog log;
    if (decrypting)
        runDecryptCommand(decryptInputs(method, {file}), host);
    else
        runEncryptCommand(encryptInputs(method, kPassword, QString(), {file}), host);
    QCOMPARE(host.messages.size(), decrypting ? 2 : 1);
    const QString expected = failureText(decrypting) + QStringLiteral("\n磁盘空间不足:需要 ");
    QVERIFY2(host.messages.last().text.startsWith(expected), qPrintable(host.messages.last().text));
    QVERIFY2(log.has({QStringLiteral("failed: not enough free disk space")}),
             qPrintable(log.lines.join(u'\n')));
    QVERIFY(readFile(file) == before);
    QCOMPARE(folderEntries(disk), QStringList{QStringLiteral("precious.bin")});
#endif
}

void TestRewriteFailures::reasonBeneathTheMessage_data()
{
    QTest::addColumn<bool>("decrypting");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    // 5000 bytes of plain text seal to 5048 with RC4; the stand-in has 1000 bytes free, or
    // holds files of at most 4000.
    QTest::newRow("encrypt, read-only") << false << "read-only"
                                        << "对该文件加密失败!\n该文件是只读的";
    QTest::newRow("decrypt, read-only") << true << "read-only"
                                        << "该文件解密失败!\n该文件是只读的";
    QTest::newRow("encrypt, hard link")
        << false << "hard link"
        << "对该文件加密失败!\n该文件有多个硬链接,加密后其他链接仍会保留原内容";
    QTest::newRow("encrypt, no space")
        << false << "no space"
        << "对该文件加密失败!\n磁盘空间不足:需要 5.0 KiB,只有 1000 字节";
    QTest::newRow("decrypt, no space")
        << true << "no space"
        << "该文件解密失败!\n磁盘空间不足:需要 4.9 KiB,只有 1000 字节";
    QTest::newRow("encrypt, too large")
        << false << "too large"
        << "对该文件加密失败!\n文件系统无法容纳这么大的文件:需要 5.0 KiB,最大 3.9 KiB";
    // Nothing beneath where the text says it all already.
    QTest::newRow("decrypt, foreign") << true << "foreign"
                                      << "该文件不是由此软件加密而成的!";
}

// One file that fails: the failure text as ever, and on the line beneath it why.
void TestRewriteFailures::reasonBeneathTheMessage()
{
    QFETCH(bool, decrypting);
    QFETCH(QString, kind);
    QFETCH(QString, message);
    const QString file = path();
    if (kind == QLatin1String("foreign"))
        QVERIFY(writeFile(file, patternBytes(5000, 1)));
    else
        prepare(file, decrypting, kMethod, patternBytes(5000, 1));
    if (kind == QLatin1String("read-only"))
        makeReadOnly(file);
    if (kind == QLatin1String("hard link"))
        QVERIFY(makeHardLink(file, m_dir->filePath(QStringLiteral("other name"))));
    std::optional<FolderRoomStandIn> standIn;
    if (kind == QLatin1String("no space"))
        standIn.emplace(FolderRoom{1000, -1});
    if (kind == QLatin1String("too large"))
        standIn.emplace(FolderRoom{-1, 4000});

    ScriptedHostServices host;
    host.answers = {Answer::Yes};
    host.typedTexts = {kPassword};
    if (decrypting)
        runDecryptCommand(decryptInputs(kMethod, {file}), host);
    else
        runEncryptCommand(encryptInputs(kMethod, kPassword, QString(), {file}), host);
    QVERIFY(!host.messages.isEmpty());
    QCOMPARE(host.messages.last(),
             (ShownMessage{message, MessageStyle::Error, messages::errorTitle()}));
}

void TestRewriteFailures::sizesAsPeopleReadThem_data()
{
    QTest::addColumn<qint64>("needed");
    QTest::addColumn<qint64>("available");
    QTest::addColumn<QString>("text");
    constexpr qint64 KiB = 1024, MiB = KiB * KiB, GiB = MiB * KiB;
    QTest::newRow("GiB and MiB") << 3 * GiB + GiB / 2 << 700 * MiB
                                 << ":需要 3.5 GiB,只有 700.0 MiB";
    // Needed rounds up, what there is rounds down: the need never looks met.
    QTest::newRow("rounded apart") << MiB + 1 << 2 * MiB - 1 << ":需要 1.1 MiB,只有 1.9 MiB";
    QTest::newRow("a byte short") << MiB + 1 << MiB << ":需要 1.1 MiB,只有 1.0 MiB";
    QTest::newRow("nothing free") << 10 * KiB << qint64(0) << ":需要 10.0 KiB,只有 0 字节";
}

void TestRewriteFailures::sizesAsPeopleReadThem()
{
    QFETCH(qint64, needed);
    QFETCH(qint64, available);
    QFETCH(QString, text);
    QCOMPARE(messages::failureReason({FailureReason::NoSpace, needed, available}),
             QStringLiteral("磁盘空间不足") + text);
}

QTEST_GUILESS_MAIN(TestRewriteFailures)
#include "tst_rewrite_failures.moc"
