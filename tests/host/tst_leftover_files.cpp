#include "host/host_services/atomic_file_writer.h"
#include "host/host_services/leftover_files.h"
#include "support/file_helpers.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace virellock;
using namespace virellock::test;

namespace {

// The id of a process that has ended: this test program, started with an option it refuses.
qint64 endedProcessId()
{
    QProcess process;
    process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("-no-such-option")});
    if (!process.waitForStarted())
        return -1;
    const qint64 id = process.processId();
    process.waitForFinished();
    return id;
}

// The records that name files in folder: under Wine the tests share one user profile.
QStringList records(const QString& folder)
{
    QStringList found;
    const QDir records(leftoverRecordFolder());
    for (const QString& name : records.entryList(QDir::Files | QDir::Hidden)) {
        QFile record(records.filePath(name));
        if (record.open(QIODevice::ReadOnly) && record.readAll().contains(folder.toUtf8()))
            found << name;
    }
    return found;
}

} // namespace

class TestLeftoverFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void writerRecordsOnlyWhileWriting();
    void removesWhatAnEndedRunLeft();
    void leavesAFileThatIsNotTheRecordedOne();
    void leavesTheFilesOfARunningProcess();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestLeftoverFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

// While a rewrite is open, every record names a temporary file beside the target (Windows
// always has one; Linux only where O_TMPFILE is missing); once committed, none is left.
void TestLeftoverFiles::writerRecordsOnlyWhileWriting()
{
    const QString path = m_dir->filePath(QStringLiteral("target.txt"));
    QVERIFY(writeFile(path, "before"));
    AtomicFileWriter writer(path);
    QVERIFY(writer.open(5));
    QCOMPARE(writer.device().write("after"), 5);
    QVERIFY(writer.flush());
#ifdef Q_OS_WIN
    QCOMPARE(records(m_dir->path()).size(), 1);
#endif
    for (const QString& name : folderEntries(m_dir->path())) {
        if (name != QLatin1String("target.txt"))
            QVERIFY2(!records(m_dir->path()).isEmpty(),
                     qPrintable(name)); // a named temporary file is recorded
    }
    QVERIFY(writer.commit());
    QCOMPARE(records(m_dir->path()), QStringList());
    QCOMPARE(readFile(path), QByteArray("after"));
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("target.txt")});
}

void TestLeftoverFiles::removesWhatAnEndedRunLeft()
{
    const QString original = m_dir->filePath(QStringLiteral("secret 文件.txt"));
    const QString leftover = original + QStringLiteral(".Ab12Cd");
    QVERIFY(writeFile(original, "encrypted bytes"));
    QVERIFY(writeFile(leftover, QByteArray(3 << 20, 'p')));
    const qint64 ended = endedProcessId();
    QVERIFY(ended > 0);
    QVERIFY(detail::writeLeftoverRecord(leftover, ended));
    QCOMPARE(records(m_dir->path()).size(), 1);

    QCOMPARE(removeLeftoverFiles(), QStringList{leftover});
    QCOMPARE(folderEntries(m_dir->path()), QStringList{QStringLiteral("secret 文件.txt")});
    QCOMPARE(readFile(original), QByteArray("encrypted bytes"));
    QCOMPARE(records(m_dir->path()), QStringList());
}

// The name now belongs to another file (the user's, or one made since): it stays, and the
// record goes.
void TestLeftoverFiles::leavesAFileThatIsNotTheRecordedOne()
{
    const QString leftover = m_dir->filePath(QStringLiteral("report.pdf.Xy98Zw"));
    const QString replacement = m_dir->filePath(QStringLiteral("replacement"));
    QVERIFY(writeFile(leftover, "left by a killed run"));
    // Made while the recorded file still exists, so the system cannot give it the same id.
    QVERIFY(writeFile(replacement, "the user's own file"));
    QVERIFY(detail::writeLeftoverRecord(leftover, endedProcessId()));
    QVERIFY(QFile::remove(leftover));
    QVERIFY(QFile::rename(replacement, leftover));

    QCOMPARE(removeLeftoverFiles(), QStringList());
    QCOMPARE(readFile(leftover), QByteArray("the user's own file"));
    QCOMPARE(records(m_dir->path()), QStringList());
}

void TestLeftoverFiles::leavesTheFilesOfARunningProcess()
{
    const QString inUse = m_dir->filePath(QStringLiteral("busy.bin.Qw34Er"));
    QVERIFY(writeFile(inUse, "still being written"));
    QVERIFY(detail::writeLeftoverRecord(inUse, QCoreApplication::applicationPid()));
    QCOMPARE(removeLeftoverFiles(), QStringList());
    QCOMPARE(readFile(inUse), QByteArray("still being written"));
    QCOMPARE(records(m_dir->path()).size(), 1);
}

QTEST_GUILESS_MAIN(TestLeftoverFiles)
#include "tst_leftover_files.moc"
