#include "host/host_services/atomic_file_writer.h"
#include "host/host_services/leftover_files.h"
#include "host/host_services/leftover_record_text.h"
#include "host/host_services/leftover_removal.h"
#include "host/host_services/temporary_name.h"
#include "support/file_helpers.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace virellock;
using namespace virellock::test;

namespace {

// Not a user of this machine, as far as any test cares.
constexpr unsigned kOtherUser = 1234;

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
        if (!record.open(QIODevice::ReadOnly))
            continue;
        const std::optional<LeftoverFields> fields = parseLeftover(record.readAll());
        if (fields && fields->temporaryPath.startsWith(folder + u'/', Qt::CaseInsensitive))
            found << name;
    }
    return found;
}

#ifdef Q_OS_UNIX
bool isRoot()
{
    return ::geteuid() == 0;
}

int modeOf(const QString& path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : -1;
}

bool changeMode(const QString& path, int mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
}

bool changeOwner(const QString& path, unsigned user)
{
    return ::chown(QFile::encodeName(path).constData(), uid_t(user), gid_t(user)) == 0;
}
#endif

// The records folder as this program makes it, for records planted by hand.
bool makeRecordFolder()
{
    const QString folder = leftoverRecordFolder();
    if (!QDir().mkpath(folder))
        return false;
#ifdef Q_OS_UNIX
    return changeMode(folder, 0700);
#else
    return true;
#endif
}

bool writePrivateFile(const QString& path, const QByteArray& content)
{
    return writeFile(path, content) &&
           QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

// What a rewrite killed halfway leaves: the temporary file beside its target and the record
// of it, written by a process that has ended.
struct Leftover
{
    QString target;
    QString temporary;
    QByteArray content;
    QString record;
};

std::optional<Leftover> plantLeftover(const QString& target)
{
    Leftover leftover{target, temporaryPathFor(target), "plain text a killed run left", {}};
    const qint64 ended = endedProcessId();
    if (ended <= 0 || !writeFile(target, "encrypted bytes") ||
        !writeFile(leftover.temporary, leftover.content))
        return std::nullopt;
    const std::optional<QString> record =
        detail::writeLeftoverRecord(target, leftover.temporary, ended, leftover.content.size());
    if (!record)
        return std::nullopt;
    leftover.record = *record;
    return leftover;
}

// What can be wrong with a record or with the file it names.
enum class Fault
{
    // A record of the first version naming a user's file with two names by its inode alone,
    // as a killed run could have left it before the inode was reused.
    OldRecordOfAReusedInode,
    NotATemporaryName,
    TemporaryNameOfAnotherTarget,
    SecondName,
    SymbolicLink,
    Fifo,
    BiggerThanRecorded,
    AnotherFile,
    FileOfAnotherUser,
    RecordOfAnotherUser,
    RecordReadableByOthers,
    RecordIsALink,
    FolderWritableByOthers,
    FolderOfAnotherUser,
    FolderIsALink,
    HomeOfAnotherUser,
};

} // namespace

class TestLeftoverFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void writerRecordsOnlyWhileWriting();
    void recordsArePrivate();
    void noRecordsInAFolderOthersControl_data();
    void noRecordsInAFolderOthersControl();
    void removesWhatAnEndedRunLeft_data();
    void removesWhatAnEndedRunLeft();
    void leavesWhatIsNotTheRecordedLeftover_data();
    void leavesWhatIsNotTheRecordedLeftover();
    void leavesTheFilesOfARunningProcess();
    void removesRecordsCutShort();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    // HOME and XDG_DATA_HOME of each test (POSIX): a records folder of its own.
    std::unique_ptr<QTemporaryDir> m_home;
};

void TestLeftoverFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
#ifdef Q_OS_UNIX
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    qputenv("HOME", QFile::encodeName(m_home->path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home->filePath(QStringLiteral("data"))));
#endif
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

// Which files are being rewritten is no one else's business: the folders made for the records
// and the records are the user's alone.
void TestLeftoverFiles::recordsArePrivate()
{
#ifndef Q_OS_UNIX
    QSKIP("POSIX permission bits");
#else
    const QString data = m_home->filePath(QStringLiteral("made/data"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(data));
    const QString target = m_dir->filePath(QStringLiteral("target.txt"));
    QFile temporary(temporaryPathFor(target));
    QVERIFY(temporary.open(QIODevice::WriteOnly));
    const std::optional<LeftoverRecord> record =
        LeftoverRecord::create(target, temporary.fileName(), temporary.handle(), 100);
    QVERIFY(record);

    for (const QString& folder :
         {leftoverRecordFolder(), data + QStringLiteral("/virellock"), data})
        QCOMPARE(modeOf(folder), 0700);
    const QStringList names = QDir(leftoverRecordFolder()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(names.size(), 1);
    QVERIFY2(names.first().endsWith(QLatin1String(".record")), qPrintable(names.first()));
    QCOMPARE(modeOf(QDir(leftoverRecordFolder()).filePath(names.first())), 0600);
#endif
}

void TestLeftoverFiles::noRecordsInAFolderOthersControl_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::newRow("folder writable by others") << Fault::FolderWritableByOthers;
    QTest::newRow("folder of another user, as root") << Fault::FolderOfAnotherUser;
    QTest::newRow("folder is a link") << Fault::FolderIsALink;
    QTest::newRow("home of another user, as root") << Fault::HomeOfAnotherUser;
}

// A folder that another user can change or owns gets no records, and root makes none in
// another user's home.
void TestLeftoverFiles::noRecordsInAFolderOthersControl()
{
#ifndef Q_OS_UNIX
    QSKIP("POSIX owners and permission bits");
#else
    QFETCH(Fault, fault);
    const QString folder = leftoverRecordFolder();
    const QString elsewhere = m_home->filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(elsewhere) && changeMode(elsewhere, 0700));
    switch (fault) {
    case Fault::FolderWritableByOthers:
        QVERIFY(makeRecordFolder() && changeMode(folder, 0733));
        break;
    case Fault::FolderOfAnotherUser:
        if (!isRoot())
            QSKIP("only root gives a file to another user");
        QVERIFY(makeRecordFolder() && changeOwner(folder, kOtherUser));
        break;
    case Fault::FolderIsALink:
        QVERIFY(QDir().mkpath(QFileInfo(folder).path()));
        QVERIFY(QFile::link(elsewhere, folder));
        break;
    case Fault::HomeOfAnotherUser:
        if (!isRoot())
            QSKIP("only root gives a file to another user");
        QVERIFY(changeOwner(m_home->path(), kOtherUser));
        break;
    default:
        QFAIL("not a fault of the folder");
    }

    const QString target = m_dir->filePath(QStringLiteral("target.txt"));
    QFile temporary(temporaryPathFor(target));
    QVERIFY(temporary.open(QIODevice::WriteOnly));
    QVERIFY(!LeftoverRecord::create(target, temporary.fileName(), temporary.handle(), 100));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(QDir(elsewhere).entryList(QDir::Files | QDir::Hidden), QStringList());
    if (fault == Fault::HomeOfAnotherUser)
        QVERIFY(!QFileInfo::exists(folder));
#endif
}

void TestLeftoverFiles::removesWhatAnEndedRunLeft_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << QStringLiteral("report.pdf");
    QTest::newRow("not ASCII") << QStringLiteral("secret 文件.txt");
#ifdef Q_OS_UNIX
    QTest::newRow("line end and leading dash") << QStringLiteral("-n\nsecret.txt");
#endif
    QTest::newRow("longest name") << QString(255 - 4, u'n') + QStringLiteral(".txt");
}

void TestLeftoverFiles::removesWhatAnEndedRunLeft()
{
    QFETCH(QString, name);
    const std::optional<Leftover> leftover = plantLeftover(m_dir->filePath(name));
    QVERIFY(leftover);
    QCOMPARE(records(m_dir->path()).size(), 1);

    QCOMPARE(removeLeftoverFiles(), QStringList{leftover->temporary});
    QCOMPARE(folderEntries(m_dir->path()), QStringList{name});
    QCOMPARE(readFile(leftover->target), QByteArray("encrypted bytes"));
    QCOMPARE(records(m_dir->path()), QStringList());
}

void TestLeftoverFiles::leavesWhatIsNotTheRecordedLeftover_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::newRow("old record of a reused inode") << Fault::OldRecordOfAReusedInode;
    QTest::newRow("not a temporary name") << Fault::NotATemporaryName;
    QTest::newRow("temporary name of another target") << Fault::TemporaryNameOfAnotherTarget;
    QTest::newRow("a second name") << Fault::SecondName;
    QTest::newRow("symbolic link") << Fault::SymbolicLink;
    QTest::newRow("FIFO") << Fault::Fifo;
    QTest::newRow("bigger than recorded") << Fault::BiggerThanRecorded;
    QTest::newRow("another file under the name") << Fault::AnotherFile;
    QTest::newRow("file of another user, as root") << Fault::FileOfAnotherUser;
    QTest::newRow("record of another user, as root") << Fault::RecordOfAnotherUser;
    QTest::newRow("record readable by others") << Fault::RecordReadableByOthers;
    QTest::newRow("record is a link") << Fault::RecordIsALink;
    QTest::newRow("folder writable by others") << Fault::FolderWritableByOthers;
    QTest::newRow("folder of another user, as root") << Fault::FolderOfAnotherUser;
    QTest::newRow("folder is a link") << Fault::FolderIsALink;
    QTest::newRow("home of another user, as root") << Fault::HomeOfAnotherUser;
}

// Each row is a genuine leftover of an ended run, as removesWhatAnEndedRunLeft() removes it,
// but for one thing: the clean-up must then touch no file at all.
void TestLeftoverFiles::leavesWhatIsNotTheRecordedLeftover()
{
    QFETCH(Fault, fault);
    std::optional<Leftover> leftover = plantLeftover(m_dir->filePath(QStringLiteral("report.pdf")));
    QVERIFY(leftover);
    // Every file that must keep its content, under every name it has.
    QMap<QString, QByteArray> kept{{leftover->temporary, leftover->content},
                                   {leftover->target, "encrypted bytes"}};
    // Entries that must stay in place, whatever they are.
    QStringList present;
    const QString folder = leftoverRecordFolder();
    const QString user = m_dir->filePath(QStringLiteral("v"));
    const auto rerecord = [&](const QString& temporary, qint64 maxSize) {
        QVERIFY(QFile::remove(leftover->record));
        const std::optional<QString> record =
            detail::writeLeftoverRecord(leftover->target, temporary, endedProcessId(), maxSize);
        QVERIFY(record);
        leftover->record = *record;
    };
#ifndef Q_OS_UNIX
    switch (fault) {
    case Fault::SymbolicLink:
    case Fault::Fifo:
    case Fault::FileOfAnotherUser:
    case Fault::RecordOfAnotherUser:
    case Fault::RecordReadableByOthers:
    case Fault::RecordIsALink:
    case Fault::FolderWritableByOthers:
    case Fault::FolderOfAnotherUser:
    case Fault::FolderIsALink:
    case Fault::HomeOfAnotherUser:
        QSKIP("POSIX file types, owners and permission bits");
    default:
        break;
    }
#else
    switch (fault) {
    case Fault::FileOfAnotherUser:
    case Fault::RecordOfAnotherUser:
    case Fault::FolderOfAnotherUser:
    case Fault::HomeOfAnotherUser:
        if (!isRoot())
            QSKIP("only root gives a file to another user");
        break;
    default:
        break;
    }
#endif

    switch (fault) {
    case Fault::OldRecordOfAReusedInode: {
        QVERIFY(QFile::remove(leftover->record));
        QVERIFY(writeFile(user, "d\n"));
        QVERIFY(makeHardLink(user, m_dir->filePath(QStringLiteral("v2"))));
        kept.insert(user, "d\n");
        kept.insert(m_dir->filePath(QStringLiteral("v2")), "d\n");
        const std::optional<FileIdentity> identity = identityOfFile(user);
        QVERIFY(identity);
        QVERIFY(writePrivateFile(
            QDir(folder).filePath(QStringLiteral("1.record")),
            "virellock leftover record 1\nprocess " + QByteArray::number(endedProcessId()) +
                "\nvolume " + QByteArray::number(identity->volume) + "\nfile " +
                QByteArray::number(identity->file) + "\npath " + user.toUtf8() + '\n'));
        break;
    }
    case Fault::NotATemporaryName: {
        // The name a temporary file had in earlier versions, which a user's file may carry.
        const QString name = leftover->target + QStringLiteral(".Ab12Cd");
        QVERIFY(writeFile(name, "the user's own file"));
        kept.insert(name, "the user's own file");
        rerecord(name, 100);
        break;
    }
    case Fault::TemporaryNameOfAnotherTarget: {
        const QString name = temporaryPathFor(m_dir->filePath(QStringLiteral("other.pdf")));
        QVERIFY(writeFile(name, "another rewrite's file"));
        kept.insert(name, "another rewrite's file");
        rerecord(name, 100);
        break;
    }
    case Fault::SecondName:
        QVERIFY(makeHardLink(leftover->temporary, user));
        kept.insert(user, leftover->content);
        break;
#ifdef Q_OS_UNIX
    case Fault::SymbolicLink:
        QVERIFY(QFile::rename(leftover->temporary, user));
        QVERIFY(QFile::link(user, leftover->temporary));
        kept.remove(leftover->temporary);
        kept.insert(user, leftover->content);
        present << leftover->temporary;
        rerecord(leftover->temporary, 100); // the identity of the file the link leads to
        break;
    case Fault::Fifo:
        QVERIFY(QFile::remove(leftover->temporary));
        QCOMPARE(::mkfifo(QFile::encodeName(leftover->temporary).constData(), 0600), 0);
        kept.remove(leftover->temporary);
        present << leftover->temporary;
        rerecord(leftover->temporary, 100);
        break;
#endif
    case Fault::BiggerThanRecorded:
        rerecord(leftover->temporary, leftover->content.size() - 1);
        break;
    case Fault::AnotherFile: {
        // Made while the recorded file still exists, so the system cannot give it the same id.
        const QString replacement = m_dir->filePath(QStringLiteral("replacement"));
        QVERIFY(writeFile(replacement, "the user's own file"));
        QVERIFY(QFile::remove(leftover->temporary));
        QVERIFY(QFile::rename(replacement, leftover->temporary));
        kept.insert(leftover->temporary, "the user's own file");
        break;
    }
#ifdef Q_OS_UNIX
    case Fault::FileOfAnotherUser:
        QVERIFY(changeOwner(leftover->temporary, kOtherUser));
        break;
    case Fault::RecordOfAnotherUser:
        QVERIFY(changeOwner(leftover->record, kOtherUser));
        break;
    case Fault::RecordReadableByOthers:
        QVERIFY(changeMode(leftover->record, 0640));
        break;
    case Fault::RecordIsALink: {
        const QString moved = m_home->filePath(QStringLiteral("moved.record"));
        QVERIFY(QFile::rename(leftover->record, moved));
        QVERIFY(QFile::link(moved, leftover->record));
        break;
    }
    case Fault::FolderWritableByOthers:
        QVERIFY(changeMode(folder, 0733));
        break;
    case Fault::FolderOfAnotherUser:
        QVERIFY(changeOwner(folder, kOtherUser));
        break;
    case Fault::FolderIsALink: {
        const QString moved = m_home->filePath(QStringLiteral("moved"));
        QVERIFY(QFile::rename(folder, moved));
        QVERIFY(QFile::link(moved, folder));
        break;
    }
    case Fault::HomeOfAnotherUser:
        QVERIFY(changeOwner(m_home->path(), kOtherUser));
        break;
#endif
    default:
        QFAIL("no such fault here");
    }

    QCOMPARE(removeLeftoverFiles(), QStringList());
    for (auto file = kept.cbegin(); file != kept.cend(); ++file) {
        QVERIFY2(QFileInfo(file.key()).isFile(), qPrintable(file.key()));
        QCOMPARE(readFile(file.key()), file.value());
    }
    for (const QString& path : present)
        QVERIFY2(QFileInfo(path).exists() || QFileInfo(path).isSymLink(), qPrintable(path));
}

void TestLeftoverFiles::leavesTheFilesOfARunningProcess()
{
    const QString target = m_dir->filePath(QStringLiteral("busy.bin"));
    const QString inUse = temporaryPathFor(target);
    QVERIFY(writeFile(inUse, "still being written"));
    QVERIFY(detail::writeLeftoverRecord(target, inUse, QCoreApplication::applicationPid(), 100));
    QCOMPARE(removeLeftoverFiles(), QStringList());
    QCOMPARE(readFile(inUse), QByteArray("still being written"));
    QCOMPARE(records(m_dir->path()).size(), 1);
}

// A record whose writing a kill cut short goes once its process has ended.
void TestLeftoverFiles::removesRecordsCutShort()
{
    QVERIFY(makeRecordFolder());
    const QDir folder(leftoverRecordFolder());
    const QString ended = QString::number(endedProcessId());
    const QString running = QString::number(QCoreApplication::applicationPid());
    const QString random = QStringLiteral("-0123456789abcdef.record");
    const QStringList cutShort{ended + random + QStringLiteral(".new"),
                               // as QSaveFile named it in earlier versions
                               ended + random + QStringLiteral(".Ab12Cd")};
    const QStringList staying{running + random + QStringLiteral(".new"),
                              QStringLiteral("notes.txt")};
    for (const QString& name : cutShort + staying)
        QVERIFY(writePrivateFile(folder.filePath(name), "virellock leftover record 2\n"));

    removeLeftoverFiles();
    for (const QString& name : cutShort)
        QVERIFY2(!folder.exists(name), qPrintable(name));
    for (const QString& name : staying)
        QVERIFY2(folder.exists(name), qPrintable(name));
    for (const QString& name : staying)
        QVERIFY(QFile::remove(folder.filePath(name)));
}

QTEST_GUILESS_MAIN(TestLeftoverFiles)
#include "tst_leftover_files.moc"
