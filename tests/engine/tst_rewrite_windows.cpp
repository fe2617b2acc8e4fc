#include "engine/decrypted_file.h"
#include "engine/encrypted_file.h"
#include "support/file_helpers.h"
#include "support/restore_file.h"
#include "support/test_bytes.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

using namespace virellock;
using namespace virellock::test;

namespace {

const QString kPassword = QStringLiteral("held 占用");
constexpr int kMethod = 3; // RC4 enhanced

JobResult rewrite(bool decrypting, const QString& file, const JobOptions& options = {})
{
    return decrypting ? restoreFile(file, kMethod, kPassword, options)
                      : encryptFile(file, kMethod, kPassword, QStringLiteral("hint"), options);
}

DWORD attributesOf(const QString& path)
{
    return GetFileAttributesW(
        reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()));
}

} // namespace

Q_DECLARE_METATYPE(FailureReason)

// Windows: another program may hold the file for a moment while it is rewritten, and what made
// the file that file stays with it.
class TestRewriteWindows : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void heldByAnotherProgram_data();
    void heldByAnotherProgram();
    void attributesKept_data();
    void attributesKept();
    void symbolicLinkStaysALink();

private:
    QString path() const { return m_dir->filePath(QStringLiteral("held 文件.bin")); }
    // Starts file_holder on the file and waits until it holds it.
    bool startHolder(int milliseconds, const QString& sharing);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_holder;
};

void TestRewriteWindows::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestRewriteWindows::cleanup()
{
    if (m_holder) {
        m_holder->kill();
        m_holder->waitForFinished();
        m_holder.reset();
    }
    m_dir.reset();
}

bool TestRewriteWindows::startHolder(int milliseconds, const QString& sharing)
{
    m_holder = std::make_unique<QProcess>();
    m_holder->start(QStringLiteral(VIRELLOCK_FILE_HOLDER),
                    {path(), QString::number(milliseconds), sharing});
    while (m_holder->state() != QProcess::NotRunning && !m_holder->canReadLine())
        m_holder->waitForReadyRead(100);
    const QByteArray line = m_holder->readLine().trimmed();
    if (line != "holding")
        qWarning("file_holder: %s", line.constData());
    return line == "holding";
}

void TestRewriteWindows::heldByAnotherProgram_data()
{
    QTest::addColumn<bool>("decrypting");
    QTest::addColumn<bool>("whileReplaced"); // else from before the file is opened
    QTest::addColumn<QString>("sharing");    // what the holder lets others do
    QTest::addColumn<int>("heldMs");
    QTest::addColumn<FailureReason>("refusal"); // None: the rewrite goes through
    for (bool decrypting : {false, true}) {
        const char* direction = decrypting ? "decrypt" : "encrypt";
        QTest::addRow("%s, held 0.3 s while replaced", direction)
            << decrypting << true << "read" << 300 << FailureReason::None;
        QTest::addRow("%s, held 0.3 s unshared when opened", direction)
            << decrypting << false << "none" << 300 << FailureReason::None;
    }
    QTest::newRow("encrypt, held 10 s while replaced")
        << false << true << "read" << 10000 << FailureReason::FileInUse;
    QTest::newRow("decrypt, held 10 s unshared when opened")
        << true << false << "none" << 10000 << FailureReason::FileInUse;
}

// A program that holds the file without delete sharing, as a scanner or an editor does for a
// moment, is waited for; one that keeps holding it makes the rewrite fail, saying so, with the
// file untouched and nothing left beside it.
void TestRewriteWindows::heldByAnotherProgram()
{
    QFETCH(bool, decrypting);
    QFETCH(bool, whileReplaced);
    QFETCH(QString, sharing);
    QFETCH(int, heldMs);
    QFETCH(FailureReason, refusal);
    const QByteArray plain = textThenRandom(700000, 5);
    QVERIFY(writeFile(path(), plain));
    if (decrypting)
        QVERIFY(rewrite(false, path()).done());
    const QByteArray before = readFile(path());

    JobOptions options;
    bool held = false;
    if (whileReplaced)
        options.beforeReplace = [&] { held = startHolder(heldMs, sharing); };
    else
        held = startHolder(heldMs, sharing);
    const JobResult result = rewrite(decrypting, path(), options);
    QVERIFY(held);
    QVERIFY2(folderEntries(m_dir->path()) == QStringList{QFileInfo(path()).fileName()},
             qPrintable(folderEntries(m_dir->path()).join(u'|')));
    if (refusal != FailureReason::None) {
        // Held from the start, the file cannot even be read.
        QCOMPARE(result.outcome,
                 whileReplaced ? JobOutcome::WriteFailed : JobOutcome::SourceUnreadable);
        QCOMPARE(result.cause.reason, refusal);
        QVERIFY2(!result.detail.isEmpty(), "the system's words are missing");
        // A holder that shares nothing keeps even this check out until it lets go.
        QVERIFY(m_holder->waitForFinished(30000));
        QVERIFY(readFile(path()) == before);
        return;
    }
    QVERIFY2(result.done(), qPrintable(result.detail));
    if (decrypting) {
        QVERIFY(readFile(path()) == plain);
    } else {
        QVERIFY(readFile(path()) != plain);
        QVERIFY(rewrite(true, path()).done());
        QVERIFY(readFile(path()) == plain);
    }
}

void TestRewriteWindows::attributesKept_data()
{
    QTest::addColumn<DWORD>("attributes");
    QTest::newRow("hidden and archive") << DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    QTest::newRow("system") << DWORD(FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
}

// The attributes the person gave the file stay through encrypting and decrypting.
void TestRewriteWindows::attributesKept()
{
    QFETCH(DWORD, attributes);
    constexpr DWORD kWatched =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    const QByteArray plain = textThenRandom(300000, 8);
    QVERIFY(writeFile(path(), plain));
    QVERIFY(SetFileAttributesW(
        reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path()).utf16()), attributes));
    QCOMPARE(attributesOf(path()) & kWatched, attributes);

    QVERIFY(rewrite(false, path()).done());
    QVERIFY(readFile(path()) != plain);
    QCOMPARE(attributesOf(path()) & kWatched, attributes);
    QVERIFY(rewrite(true, path()).done());
    QVERIFY(readFile(path()) == plain);
    QCOMPARE(attributesOf(path()) & kWatched, attributes);
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QFileInfo(path()).fileName()});
}

// The file a symbolic link leads to is rewritten; the link stays a link.
void TestRewriteWindows::symbolicLinkStaysALink()
{
    const QString target = m_dir->filePath(QStringLiteral("目标 target.txt"));
    const QString link = m_dir->filePath(QStringLiteral("link.txt"));
    const QByteArray plain = textThenRandom(200000, 4);
    QVERIFY(writeFile(target, plain));
    if (!CreateSymbolicLinkW(
            reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(link).utf16()),
            reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(target).utf16()),
            SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
        QSKIP(qPrintable(QStringLiteral("no symbolic link could be made: ") +
                         qt_error_string(int(GetLastError()))));
    QVERIFY(attributesOf(link) & FILE_ATTRIBUTE_REPARSE_POINT);
    // Wine makes the link but does not follow it when a path passes through it.
    if (readFile(link) != plain)
        QSKIP("symbolic links are not followed here");
    for (bool decrypting : {false, true}) {
        const JobResult result = rewrite(decrypting, link);
        QVERIFY2(result.done(), qPrintable(result.detail));
        QVERIFY(attributesOf(link) & FILE_ATTRIBUTE_REPARSE_POINT);
        QCOMPARE(readFile(target) == plain, decrypting);
        QCOMPARE(readFile(link), readFile(target));
    }
    QCOMPARE(folderEntries(m_dir->path()),
             (QStringList{QStringLiteral("link.txt"), QStringLiteral("目标 target.txt")}));
}

QTEST_GUILESS_MAIN(TestRewriteWindows)
#include "tst_rewrite_windows.moc"
