#include "engine/decrypted_file.h"
#include "engine/encrypted_file.h"
#include "support/file_helpers.h"
#include "support/file_identity.h"
#include "support/restore_file.h"
#include "support/test_bytes.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace virellock;
using namespace virellock::test;

namespace {

const QString kPassword = QStringLiteral("same file 同一个");
constexpr int kMethod = 3; // RC4 enhanced: a record and chunks
constexpr uid_t kOtherUser = 1234;
constexpr gid_t kOtherGroup = 2345;
constexpr gid_t kThirdGroup = 3456;
constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

bool setMode(const QString& path, mode_t mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

bool setOwner(const QString& path, uid_t owner, gid_t group)
{
    return ::chown(QFile::encodeName(path).constData(), owner, group) == 0;
}

bool setAttribute(const QString& path, const char* name, const QByteArray& value)
{
    return ::setxattr(QFile::encodeName(path).constData(), name, value.constData(),
                      std::size_t(value.size()), 0) == 0;
}

} // namespace

// The rewritten file is the same file to everyone who could open the old one: its owner,
// group, permission bits (setgid included), access list and extended attributes come along,
// and what cannot come along refuses the rewrite, leaving the file as it was.
class TestRewriteIdentity : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void identityIsKept_data();
    void identityIsKept();
    void ordinaryUser_data();
    void ordinaryUser();

private:
    enum class Setup
    {
        Done,
        Unsupported, // the system cannot: the file system, or not root
        Failed,
    };
    // Gives the file what the case names; why, when it could not.
    Setup prepare(const QString& kind, const QString& file, QString& why);
    // Where the case's file lives: a setgid folder of another group for one case.
    QString fileFor(const QString& kind);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestRewriteIdentity::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString TestRewriteIdentity::fileFor(const QString& kind)
{
    if (kind != QLatin1String("setgid folder"))
        return m_dir->filePath(QStringLiteral("kept file"));
    const QString folder = m_dir->filePath(QStringLiteral("shared folder"));
    if (!QDir().mkdir(folder) || !setOwner(folder, 0, kOtherGroup) || !setMode(folder, 02775))
        return {};
    return folder + QStringLiteral("/kept file");
}

TestRewriteIdentity::Setup TestRewriteIdentity::prepare(const QString& kind, const QString& file,
                                                        QString& why)
{
    const bool root = ::geteuid() == 0;
    // Unsupported where the system lacks what the case needs; failed on any other error.
    const auto failed = [&why](bool unsupported) {
        why = qt_error_string(errno);
        return unsupported ? Setup::Unsupported : Setup::Failed;
    };
    if (kind == QLatin1String("access list")) {
        if (!setMode(file, 0600))
            return failed(false);
        if (!setAttribute(file, "system.posix_acl_access",
                          accessListGrantingRead(0600, kOtherUser)))
            return failed(errno == ENOTSUP);
    } else if (kind == QLatin1String("setgid folder")) {
        why = QStringLiteral("giving a file another group takes root");
        if (!root)
            return Setup::Unsupported;
        if (!setOwner(file, 0, kThirdGroup) || !setMode(file, 0640))
            return failed(false);
    } else if (kind == QLatin1String("another owner")) {
        why = QStringLiteral("giving a file another owner takes root");
        if (!root)
            return Setup::Unsupported;
        if (!setOwner(file, kOtherUser, kOtherGroup))
            return failed(false);
    } else if (kind == QLatin1String("user attribute")) {
        if (!setAttribute(file, "user.tag", "hello"))
            return failed(errno == ENOTSUP);
    } else if (kind == QLatin1String("0755")) {
        if (!setMode(file, 0755))
            return failed(false);
    } else if (kind == QLatin1String("setgid file")) {
        if (!setMode(file, 02755))
            return failed(false);
    } else {
        why = QStringLiteral("no such case: ") + kind;
        return Setup::Failed;
    }
    return Setup::Done;
}

void TestRewriteIdentity::identityIsKept_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("decrypting");
    for (const char* kind : {"access list", "setgid folder", "another owner", "user attribute",
                             "0755", "setgid file"}) {
        for (bool decrypting : {false, true})
            QTest::addRow("%s, %s", kind, decrypting ? "decrypt" : "encrypt")
                << QString::fromLatin1(kind) << decrypting;
    }
}

// Encrypting or decrypting keeps mode, owner, group, access list and attributes as they were:
// a file only its owner and one other user could read is not left readable by its whole group.
void TestRewriteIdentity::identityIsKept()
{
    QFETCH(QString, kind);
    QFETCH(bool, decrypting);
    const QString file = fileFor(kind);
    QVERIFY(!file.isEmpty());
    const QByteArray plain = textThenRandom(300000, 5);
    QVERIFY(writeFile(file, plain));
    if (decrypting)
        QCOMPARE(encryptFile(file, kMethod, kPassword, QString()), JobOutcome::Done);
    QString why;
    switch (prepare(kind, file, why)) {
    case Setup::Done:
        break;
    case Setup::Unsupported:
        QSKIP(qPrintable(why));
    case Setup::Failed:
        QFAIL(qPrintable(why));
    }
    const std::optional<FileIdentity> before = identityOf(file);
    QVERIFY(before);

    const JobResult result = decrypting ? restoreFile(file, kMethod, kPassword)
                                        : encryptFile(file, kMethod, kPassword, QString());
    QVERIFY2(result.done(), qPrintable(describe(result.step) + u' ' + result.detail));
    QCOMPARE(identityOf(file), before);
    QCOMPARE(readFile(file) == plain, decrypting);
    QCOMPARE(folderEntries(QFileInfo(file).path()), QStringList{QStringLiteral("kept file")});
}

void TestRewriteIdentity::ordinaryUser_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("decrypting");
    QTest::addColumn<bool>("kept"); // else refused
    for (bool decrypting : {false, true}) {
        const char* direction = decrypting ? "decrypt" : "encrypt";
        // Writable by all, but only root could make a file that another user owns.
        QTest::addRow("another user's file, %s", direction)
            << QStringLiteral("another owner") << decrypting << false;
        QTest::addRow("own file of a group not its own, %s", direction)
            << QStringLiteral("foreign group") << decrypting << false;
        QTest::addRow("own file with an access list, %s", direction)
            << QStringLiteral("access list") << decrypting << true;
        // Writing clears setgid for a user without the right to keep it: it must go back on.
        QTest::addRow("own setgid file, %s", direction)
            << QStringLiteral("setgid") << decrypting << true;
    }
}

// An ordinary user, in a process of its own: a file whose owner or group that user cannot give
// the new file is refused, byte for byte as it was and with nothing left beside it; the user's
// own files keep what they had.
void TestRewriteIdentity::ordinaryUser()
{
    QFETCH(QString, kind);
    QFETCH(bool, decrypting);
    QFETCH(bool, kept);
    if (::geteuid() != 0)
        QSKIP("making another user's files and becoming that user take root");
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty())
        QSKIP("setpriv (util-linux) is not installed");
    const QString folder = m_dir->filePath(QStringLiteral("shared"));
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(setMode(m_dir->path(), 0755));
    QVERIFY(setMode(folder, 0777));
    const QString file = folder + QStringLiteral("/notes.txt");
    const QByteArray plain = textThenRandom(200000, 8);
    QVERIFY(writeFile(file, plain));
    if (decrypting)
        QCOMPARE(encryptFile(file, kMethod, kPassword, QString()), JobOutcome::Done);
    if (kind == QLatin1String("another owner")) {
        QVERIFY(setOwner(file, kOtherUser, kOtherGroup));
        QVERIFY(setMode(file, 0666));
    } else if (kind == QLatin1String("foreign group")) {
        QVERIFY(setOwner(file, kNobody, kOtherGroup));
        QVERIFY(setMode(file, 0664));
    } else if (kind == QLatin1String("access list")) {
        QVERIFY(setOwner(file, kNobody, kNoGroup));
        QVERIFY(setMode(file, 0600));
        if (!setAttribute(file, "system.posix_acl_access",
                          accessListGrantingRead(0600, kOtherUser)))
            QSKIP("the file system keeps no access lists");
    } else {
        QVERIFY(setOwner(file, kNobody, kNoGroup));
        QVERIFY(setMode(file, 02755));
    }
    const QByteArray content = readFile(file);
    const std::optional<FileIdentity> before = identityOf(file);
    QVERIFY(before);

    QProcess user;
    user.start(setpriv,
               {QStringLiteral("--reuid=%1").arg(kNobody),
                QStringLiteral("--regid=%1").arg(kNoGroup), QStringLiteral("--clear-groups"),
                QStringLiteral("--"), QStringLiteral(VIRELLOCK_COMMAND_DRIVER),
                decrypting ? QStringLiteral("decrypt") : QStringLiteral("encrypt"),
                QString::number(kMethod), file, kPassword});
    QVERIFY(user.waitForFinished(60000));
    QCOMPARE(user.exitCode(), 0);
    const QString output = QString::fromUtf8(user.readAllStandardOutput());
    const QString log = QString::fromUtf8(user.readAllStandardError());

    QCOMPARE(identityOf(file), before);
    QCOMPARE(folderEntries(folder), QStringList{QStringLiteral("notes.txt")});
    if (kept) {
        const QString success = decrypting ? QStringLiteral("message 0x40 该文件解密成功!\n")
                                           : QStringLiteral("message 0x40 对该文件加密成功,请牢记你"
                                                            "的密码!\n");
        QVERIFY2(output.endsWith(success), qPrintable(output + log));
        QVERIFY(readFile(file) != content);
        if (decrypting)
            QVERIFY(readFile(file) == plain);
        return;
    }
    const QString failure = (decrypting ? QStringLiteral("message 0x10 该文件解密失败!")
                                        : QStringLiteral("message 0x10 对该文件加密失败!")) +
                            QStringLiteral("\n无法保留文件的权限(所有者、组或访问控制列表)\n");
    QVERIFY2(output.endsWith(failure), qPrintable(output + log));
    QVERIFY(readFile(file) == content);
}

QTEST_GUILESS_MAIN(TestRewriteIdentity)
#include "tst_rewrite_identity.moc"
