#include "host/host_services/atomic_file_writer.h"
#include "host/host_services/file_services.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

using namespace virellock;

namespace {

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void makeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

} // namespace

class TestFileServices : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readTellsFailureFromEmpty();
    void writeReplacesAndCreates_data();
    void writeReplacesAndCreates();
    void writeKeepsPermissions();
    void readOnlyFileIsRefusedAndKept();
    void symbolicLinkTargetIsRewritten();
    void failedWriteLeavesNothing();
    void readBackSeesWhatWasWritten();
    void readAtLeavesTheWriterWhereItWas();
    void commitRefusesASizeOtherThanWritten();
    void cancelKeepsOriginal();
    void replacedContentIsReleased();

private:
    QStringList entries() const
    {
        return QDir(m_dir->path()).entryList(QDir::Files | QDir::System);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestFileServices::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestFileServices::readTellsFailureFromEmpty()
{
    const QString empty = m_dir->filePath(QStringLiteral("empty"));
    makeFile(empty, {});
    QCOMPARE(ReadWholeFile(empty), QByteArray());
    QVERIFY(ReadWholeFile(empty).has_value());
    QVERIFY(!ReadWholeFile(m_dir->filePath(QStringLiteral("missing"))).has_value());
    QVERIFY(!ReadWholeFile(m_dir->path()).has_value()); // a folder
}

void TestFileServices::writeReplacesAndCreates_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("replace with more") << "a.txt" << true << QByteArray(100000, 'x');
    QTest::newRow("replace with empty") << "b.bin" << true << QByteArray();
    QTest::newRow("create") << "new file" << false << QByteArray("new\0content", 11);
    QTest::newRow("blanks, Chinese, leading dash") << "-文件 名.txt" << true << QByteArray("中文");
}

void TestFileServices::writeReplacesAndCreates()
{
    QFETCH(QString, name);
    QFETCH(bool, exists);
    QFETCH(QByteArray, content);
    const QString path = m_dir->filePath(name);
    if (exists)
        makeFile(path, QByteArray(5000, 'o'));
    QVERIFY(WriteWholeFile(path, content));
    QCOMPARE(contentOf(path), content);
    QCOMPARE(entries(), QStringList{name}); // no temporary file left beside it
}

void TestFileServices::writeKeepsPermissions()
{
#ifdef Q_OS_WIN
    QSKIP("Windows files have no permission bits; the read-only attribute has its own test");
#endif
    const QString path = m_dir->filePath(QStringLiteral("script.sh"));
    makeFile(path, "old");
    const auto permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                             QFileDevice::ExeOwner | QFileDevice::ReadUser |
                             QFileDevice::WriteUser | QFileDevice::ExeUser | QFileDevice::ReadGroup;
    QVERIFY(QFile::setPermissions(path, permissions));
    QVERIFY(WriteWholeFile(path, "new"));
    QCOMPARE(QFile::permissions(path), permissions);
}

// Refused from the permission bits, so also when the tests run as root.
void TestFileServices::readOnlyFileIsRefusedAndKept()
{
    const QString path = m_dir->filePath(QStringLiteral("locked"));
    makeFile(path, "keep me");
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadUser |
                                            QFileDevice::ReadGroup | QFileDevice::ReadOther));
    QVERIFY(isReadOnlyFile(path));
    QVERIFY(!WriteWholeFile(path, "overwritten"));
    QCOMPARE(contentOf(path), QByteArray("keep me"));
    QCOMPARE(entries(), QStringList{QStringLiteral("locked")});
}

void TestFileServices::symbolicLinkTargetIsRewritten()
{
#ifdef Q_OS_WIN
    QSKIP("QFile::link() makes a shortcut on Windows, not a symbolic link");
#endif
    const QString target = m_dir->filePath(QStringLiteral("target"));
    const QString link = m_dir->filePath(QStringLiteral("link"));
    makeFile(target, "old");
    QVERIFY(QFile::link(target, link));
    QVERIFY(WriteWholeFile(link, "new"));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(contentOf(target), QByteArray("new"));
}

void TestFileServices::failedWriteLeavesNothing()
{
    // A file where a folder should be: no temporary file can be made there, even by root.
    const QString notAFolder = m_dir->filePath(QStringLiteral("plain"));
    makeFile(notAFolder, "x");
    QVERIFY(!WriteWholeFile(notAFolder + QStringLiteral("/inside"), "data"));
    QCOMPARE(entries(), QStringList{QStringLiteral("plain")});
}

void TestFileServices::readBackSeesWhatWasWritten()
{
    const QString path = m_dir->filePath(QStringLiteral("big"));
    makeFile(path, "original");
    QByteArray written(3 * 1024 * 1024 + 7, '\0');
    for (qsizetype i = 0; i < written.size(); ++i)
        written[i] = char(i * 31);
    AtomicFileWriter writer(path);
    QVERIFY(writer.open(written.size()));
    QCOMPARE(writer.device().write(written), written.size());
    QByteArray readBack;
    QVERIFY(writer.readBack([&](QByteArrayView piece) {
        readBack.append(piece);
        return true;
    }));
    QCOMPARE(readBack, written);
    QCOMPARE(contentOf(path), QByteArray("original")); // not replaced before commit
    QVERIFY(writer.commit());
    QCOMPARE(contentOf(path), written);
}

// Reading back in the middle of writing must not move where the next write lands (on Windows
// a read at an offset moves a handle's position).
void TestFileServices::readAtLeavesTheWriterWhereItWas()
{
    const QString path = m_dir->filePath(QStringLiteral("pieces"));
    makeFile(path, "original");
    const QByteArray first(100000, 'a');
    const QByteArray second(70000, 'b');
    AtomicFileWriter writer(path);
    QVERIFY(writer.open(first.size() + second.size()));
    QCOMPARE(writer.device().write(first), first.size());
    QVERIFY(writer.flush());
    QByteArray middle(1000, Qt::Uninitialized);
    QVERIFY(writer.readAt(5000, middle.data(), middle.size()));
    QCOMPARE(middle, first.sliced(5000, 1000));
    QCOMPARE(writer.device().write(second), second.size());
    QVERIFY(writer.flush());
    QVERIFY(writer.readAt(first.size() - 10, middle.data(), 20));
    QCOMPARE(middle.first(20), first.last(10) + second.first(10));
    QVERIFY(writer.commit());
    QCOMPARE(contentOf(path), first + second);
}

// The device left short of the end it wrote: the system's size is not what was written.
void TestFileServices::commitRefusesASizeOtherThanWritten()
{
    const QString path = m_dir->filePath(QStringLiteral("short"));
    makeFile(path, "original");
    AtomicFileWriter writer(path);
    QVERIFY(writer.open(10));
    QCOMPARE(writer.device().write("0123456789"), 10);
    QVERIFY(writer.device().seek(4));
    QVERIFY(!writer.commit());
    writer.cancel();
    QCOMPARE(contentOf(path), QByteArray("original"));
    QCOMPARE(entries(), QStringList{QStringLiteral("short")});
}

void TestFileServices::cancelKeepsOriginal()
{
    const QString path = m_dir->filePath(QStringLiteral("kept"));
    makeFile(path, "original");
    {
        AtomicFileWriter writer(path);
        QVERIFY(writer.open(7));
        QCOMPARE(writer.device().write("partial"), 7);
        // Destroyed without commit().
    }
    QCOMPARE(contentOf(path), QByteArray("original"));
    QCOMPARE(entries(), QStringList{QStringLiteral("kept")});
}

// The old content may be held open across the rename, so that its blocks are freed after it
// rather than within it; once the work is done no descriptor is left on it, or its disk space
// would stay taken until the program ends.
void TestFileServices::replacedContentIsReleased()
{
#ifndef Q_OS_LINUX
    QSKIP("only Linux holds the replaced content");
#else
    const QString path = m_dir->filePath(QStringLiteral("replaced"));
    makeFile(path, QByteArray(1 << 20, 'o'));
    AtomicFileWriter writer(path);
    QVERIFY(writer.open(3));
    QCOMPARE(writer.device().write("new"), 3);
    QVERIFY(writer.commit());
    QCOMPARE(contentOf(path), QByteArray("new"));
    QThreadPool::globalInstance()->waitForDone();
    const QString deleted = QFileInfo(path).canonicalFilePath() + QStringLiteral(" (deleted)");
    const QDir descriptors(QStringLiteral("/proc/self/fd"));
    for (const QString& name : descriptors.entryList(QDir::Files | QDir::System))
        QVERIFY2(QFile::symLinkTarget(descriptors.filePath(name)) != deleted, qPrintable(name));
#endif
}

QTEST_GUILESS_MAIN(TestFileServices)
#include "tst_file_services.moc"
