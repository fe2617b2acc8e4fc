#include "host/host_services/file_entries.h"
#include "host/host_services/registry.h"
#include "support/file_helpers.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace virellock;

namespace {

const QString kKey = QStringLiteral("Folder\\shell\\Virellock\\command\\");

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool isExecutable(const QString& path)
{
    return QFile::permissions(path) & QFileDevice::ExeOwner;
}

// The permission bits of the file at path itself, a link not followed; -1 when it is missing.
int modeOf(const QString& path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777)
                                                                      : -1;
}

ino_t inodeOf(const QString& path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
}

// Writes a shell script named virellock into folder (made first) that runs body; empty when it
// could not be written.
QString writeStubProgram(const QString& folder, const QByteArray& body)
{
    const QString program = folder + QStringLiteral("/virellock");
    QFile stub(program);
    if (!QDir().mkpath(folder) || !stub.open(QIODevice::WriteOnly) ||
        stub.write("#!/bin/sh\n" + body + '\n') < 0 || !stub.flush() ||
        !stub.setPermissions(stub.permissions() | QFileDevice::ExeOwner))
        return {};
    return program;
}

// A stand-in program in folder that writes its arguments, each ended by a NUL byte, to the file
// argumentsFile.
QString writeArgumentsProgram(const QString& folder, const QString& argumentsFile)
{
    return writeStubProgram(folder,
                            "printf '%s\\0' \"$@\" > '" + QFile::encodeName(argumentsFile) + "'");
}

QStringList recordedArguments(const QString& argumentsFile)
{
    QStringList arguments = QString::fromUtf8(test::readFile(argumentsFile)).split(QChar(0));
    if (arguments.isEmpty() || !arguments.takeLast().isEmpty())
        return {QStringLiteral("<not ended by a NUL byte>")};
    return arguments;
}

// Runs a GNOME Files script with sh, in folder, as GNOME Files runs it for the chosen names:
// as its arguments, and also as full paths one a line in its environment.
bool runGnomeScript(const QString& script, const QString& folder, const QStringList& chosen)
{
    QStringList listed;
    for (const QString& name : chosen)
        listed << QDir(folder).absoluteFilePath(name) + u'\n';
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NAUTILUS_SCRIPT_SELECTED_FILE_PATHS"),
                       listed.join(QString()));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral("sh"), QStringList{script} + chosen);
    return process.waitForFinished() && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

class TestFolderEntry : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void entriesStartTheProgram_data();
    void entriesStartTheProgram();
    void fileEntriesStartTheProgramWithTheFiles_data();
    void fileEntriesStartTheProgramWithTheFiles();
    void gnomeScriptPassesEachChosenFile_data();
    void gnomeScriptPassesEachChosenFile();
    void rewrittenWithTheNewPath();
    void rightEntriesAreLeftAsTheyAre();
    void plantedLinkIsReplaced_data();
    void plantedLinkIsReplaced();
    void linkedFolderIsNotFollowed_data();
    void linkedFolderIsNotFollowed();
    void rootWritesNothingForAnotherUser_data();
    void rootWritesNothingForAnotherUser();
    void failingWriteChangesNothingElse();
    void otherValuesAreRefused_data();
    void otherValuesAreRefused();

private:
    // Both writers, as every start runs them.
    bool writeAllEntries(const QString& program)
    {
        const bool folder = WriteRegistryValue(kRegistryClassesRoot, kKey, program);
        return writeFileEntries(program) && folder;
    }
    QStringList allEntries() const
    {
        return {kdeEntry(), gnomeScript(), kdeFileEntry(), gnomeFileScript()};
    }

    QString kdeEntry() const
    {
        return m_home->filePath(QStringLiteral("kio/servicemenus/virellock.desktop"));
    }
    QString gnomeScript() const
    {
        return m_home->filePath(QStringLiteral("nautilus/scripts/Virellock"));
    }
    QString kdeFileEntry() const
    {
        return m_home->filePath(QStringLiteral("kio/servicemenus/virellock-files.desktop"));
    }
    QString gnomeFileScript() const
    {
        return m_home->filePath(QStringLiteral("nautilus/scripts/Virellock 打开所选文件"));
    }

    std::unique_ptr<QTemporaryDir> m_home;
    QByteArray m_homeFolder;
};

void TestFolderEntry::initTestCase()
{
    m_homeFolder = qgetenv("HOME");
}

void TestFolderEntry::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home->path()));
}

void TestFolderEntry::cleanup()
{
    qputenv("HOME", m_homeFolder);
}

void TestFolderEntry::entriesStartTheProgram_data()
{
    QTest::addColumn<QString>("programFolder");
    QTest::addColumn<QString>("kdeExec");

    QTest::newRow("blanks and Chinese")
        << QStringLiteral("Virellock Tools/程序 目录")
        << QStringLiteral("Exec=\"%1/Virellock Tools/程序 目录/virellock\"");
    QTest::newRow("shell and desktop-entry specials")
        << QStringLiteral("it's $HOME `x` \"q\" 100% back\\slash")
        << QStringLiteral("Exec=\"%1/it's \\\\$HOME \\\\`x\\\\` \\\\\"q\\\\\" 100%% "
                          "back\\\\\\\\slash/virellock\"");
}

// The GNOME script is run for real, with a stand-in program at the awkward path that records
// that it started; the KDE entry is checked against the desktop-entry quoting rules.
void TestFolderEntry::entriesStartTheProgram()
{
    QFETCH(QString, programFolder);
    QFETCH(QString, kdeExec);

    QTemporaryDir programs;
    const QString marker = programs.filePath(QStringLiteral("started"));
    const QString program = writeStubProgram(programs.filePath(programFolder),
                                             "echo started > '" + QFile::encodeName(marker) + "'");
    QVERIFY(!program.isEmpty());

    QVERIFY(WriteRegistryValue(kRegistryClassesRoot, kKey, program));

    const QString kde = readText(kdeEntry());
    QVERIFY(kde.contains(QStringLiteral("MimeType=inode/directory;\n")));
    QVERIFY(kde.contains(QStringLiteral("Name=Virellock\n")));
    QVERIFY2(kde.contains(kdeExec.arg(programs.path()) + QStringLiteral(" --\n")), qPrintable(kde));
    QVERIFY(isExecutable(kdeEntry()));

    QVERIFY(isExecutable(gnomeScript()));
    QCOMPARE(QProcess::execute(gnomeScript(), {}), 0);
    QCOMPARE(readText(marker), QStringLiteral("started\n"));
}

void TestFolderEntry::fileEntriesStartTheProgramWithTheFiles_data()
{
    entriesStartTheProgram_data();
}

// The entries for files start the program with the chosen files after "--", the program at an
// awkward path: the GNOME script is run for real with a stand-in program that records its
// arguments; the KDE entry hands over the files as %F.
void TestFolderEntry::fileEntriesStartTheProgramWithTheFiles()
{
    QFETCH(QString, programFolder);
    QFETCH(QString, kdeExec);

    QTemporaryDir programs;
    const QString marker = programs.filePath(QStringLiteral("arguments"));
    const QString program = writeArgumentsProgram(programs.filePath(programFolder), marker);
    QVERIFY(!program.isEmpty());

    QVERIFY(writeFileEntries(program));

    const QString kde = readText(kdeFileEntry());
    QVERIFY(kde.contains(QStringLiteral("MimeType=all/allfiles;\n")));
    QVERIFY(kde.contains(QStringLiteral("X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n")));
    QVERIFY(kde.contains(QStringLiteral("Name=Virellock\n")));
    QVERIFY2(kde.contains(kdeExec.arg(programs.path()) + QStringLiteral(" -- %F\n")),
             qPrintable(kde));
    QVERIFY(isExecutable(kdeFileEntry()));
    // The folder entry is a file of its own, and stays as it was.
    QVERIFY(!QFile::exists(kdeEntry()));
    QVERIFY(!QFile::exists(gnomeScript()));

    QVERIFY(isExecutable(gnomeFileScript()));
    const QString folder = QDir(programs.path()).canonicalPath();
    QVERIFY(runGnomeScript(gnomeFileScript(), folder, {QStringLiteral("a.txt")}));
    QCOMPARE(recordedArguments(marker),
             (QStringList{QStringLiteral("--"), folder + QStringLiteral("/a.txt")}));
}

void TestFolderEntry::gnomeScriptPassesEachChosenFile_data()
{
    QTest::addColumn<QStringList>("chosen"); // as GNOME Files passes them, from the folder

    QTest::newRow("line breaks that would read as Qt options")
        << QStringList{QStringLiteral("r\n-platformpluginpath\n.")};
    QTest::newRow("a line break inside one name")
        << QStringList{QStringLiteral("invoice\nother.txt")};
    QTest::newRow("a name ending in a line break") << QStringList{QStringLiteral("notes\n")};
    QTest::newRow("a leading dash") << QStringList{QStringLiteral("-style")};
    QTest::newRow("blanks") << QStringList{QStringLiteral("two  blanks.txt"),
                                           QStringLiteral(" leading and trailing ")};
    QTest::newRow("quotes and shell specials")
        << QStringList{QStringLiteral("it's \"quoted\" $HOME `date` $(date) back\\slash.txt")};
    QTest::newRow("a pattern") << QStringList{QStringLiteral("*")};
    QTest::newRow("Chinese") << QStringList{QStringLiteral("中文 文件.txt")};
    QTest::newRow("in a subfolder, and given in full")
        << QStringList{QStringLiteral("sub folder/a.txt"), QStringLiteral("/elsewhere/b.txt")};
}

// Every file chosen in GNOME Files reaches the program as exactly one argument after "--", made a
// full path, whatever its name holds.
void TestFolderEntry::gnomeScriptPassesEachChosenFile()
{
    QFETCH(QStringList, chosen);

    QTemporaryDir programs;
    const QString marker = programs.filePath(QStringLiteral("arguments"));
    const QString program = writeArgumentsProgram(programs.filePath(QStringLiteral("bin")), marker);
    QVERIFY(!program.isEmpty());
    QVERIFY(writeFileEntries(program));

    const QString folder = QDir(programs.path()).canonicalPath();
    QVERIFY(runGnomeScript(gnomeFileScript(), folder, chosen));
    QStringList expected{QStringLiteral("--")};
    for (const QString& name : chosen)
        expected << (name.startsWith(u'/') ? name : folder + u'/' + name);
    QCOMPARE(recordedArguments(marker), expected);
}

void TestFolderEntry::rewrittenWithTheNewPath()
{
    QVERIFY(WriteRegistryValue(kRegistryClassesRoot, kKey, QStringLiteral("/old place/virellock")));
    QVERIFY(WriteRegistryValue(kRegistryClassesRoot, kKey, QStringLiteral("/new place/virellock")));
    QVERIFY(writeFileEntries(QStringLiteral("/old place/virellock")));
    QVERIFY(writeFileEntries(QStringLiteral("/new place/virellock")));
    for (const QString& entry : {kdeEntry(), gnomeScript(), kdeFileEntry(), gnomeFileScript()}) {
        const QString text = readText(entry);
        QVERIFY(text.contains(QStringLiteral("/new place/virellock")));
        QVERIFY(!text.contains(QStringLiteral("/old place")));
    }
}

// An entry that is already as it should be is not written again; one that differs is.
void TestFolderEntry::rightEntriesAreLeftAsTheyAre()
{
    QVERIFY(writeAllEntries(QStringLiteral("/opt/virellock")));
    QList<ino_t> written;
    for (const QString& entry : allEntries())
        written << inodeOf(entry);
    QVERIFY(!written.contains(0));

    QVERIFY(writeAllEntries(QStringLiteral("/opt/virellock")));
    for (qsizetype index = 0; index < written.size(); ++index)
        QCOMPARE(inodeOf(allEntries()[index]), written[index]);

    // Permission bits count too: without them the file managers ignore the entry.
    QVERIFY(QFile::setPermissions(gnomeScript(), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QVERIFY(writeAllEntries(QStringLiteral("/opt/virellock")));
    QVERIFY(inodeOf(gnomeScript()) != written[1]);
    QCOMPARE(modeOf(gnomeScript()), 0755);
    QCOMPARE(inodeOf(kdeEntry()), written[0]);

    QVERIFY(writeAllEntries(QStringLiteral("/opt/moved/virellock")));
    for (const QString& entry : allEntries())
        QVERIFY(readText(entry).contains(QStringLiteral("/opt/moved/virellock")));
    QVERIFY(inodeOf(kdeFileEntry()) != written[2]);
    // Nothing is left beside the entries.
    QCOMPARE(test::folderEntries(m_home->filePath(QStringLiteral("nautilus/scripts"))),
             (QStringList{QStringLiteral("Virellock"), kFileScriptName}));
}

void TestFolderEntry::plantedLinkIsReplaced_data()
{
    QTest::addColumn<QString>("entry");
    QTest::newRow("KDE folder entry") << QStringLiteral("kio/servicemenus/virellock.desktop");
    QTest::newRow("GNOME folder script") << QStringLiteral("nautilus/scripts/Virellock");
    QTest::newRow("KDE entry for files")
        << QStringLiteral("kio/servicemenus/virellock-files.desktop");
    QTest::newRow("GNOME script for files")
        << QStringLiteral("nautilus/scripts/") + kFileScriptName;
}

// A symbolic link planted at an entry's name, to a file only its owner may read: the link is
// replaced by the entry, and the file it pointed at stays as it was, content and mode.
void TestFolderEntry::plantedLinkIsReplaced()
{
    QFETCH(QString, entry);
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("owner-only"));
    QVERIFY(test::writeFile(target, "secret\n"));
    QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const QString path = m_home->filePath(entry);
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QVERIFY(QFile::link(target, path));

    QVERIFY(writeAllEntries(QStringLiteral("/opt/virellock")));

    QCOMPARE(test::readFile(target), QByteArray("secret\n"));
    QCOMPARE(modeOf(target), 0600);
    QVERIFY(!QFileInfo(path).isSymLink());
    QVERIFY(readText(path).contains(QStringLiteral("/opt/virellock")));
    QCOMPARE(modeOf(path), 0755);
}

void TestFolderEntry::linkedFolderIsNotFollowed_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("untouched"); // entries below the link, never written
    QTest::newRow("the data folder's nautilus")
        << QStringLiteral("nautilus")
        << QStringList{QStringLiteral("nautilus/scripts/Virellock"),
                       QStringLiteral("nautilus/scripts/") + kFileScriptName};
    QTest::newRow("KDE's service menus")
        << QStringLiteral("kio/servicemenus")
        << QStringList{QStringLiteral("kio/servicemenus/virellock.desktop"),
                       QStringLiteral("kio/servicemenus/virellock-files.desktop")};
}

// A symbolic link planted where a folder of the entries should be fails those entries: nothing
// is written where it points. The other file manager's entries are written all the same.
void TestFolderEntry::linkedFolderIsNotFollowed()
{
    QFETCH(QString, folder);
    QFETCH(QStringList, untouched);
    QTemporaryDir elsewhere;
    const QString link = m_home->filePath(folder);
    QVERIFY(QDir().mkpath(QFileInfo(link).absolutePath()));
    QVERIFY(QFile::link(elsewhere.path(), link));

    QVERIFY(!writeAllEntries(QStringLiteral("/opt/virellock")));

    QCOMPARE(test::folderEntries(elsewhere.path()), QStringList());
    QVERIFY(QFileInfo(link).isSymLink());
    for (const QString& entry : allEntries()) {
        const bool below = untouched.contains(QDir(m_home->path()).relativeFilePath(entry));
        QCOMPARE(QFileInfo(entry).isFile(), !below);
    }
}

void TestFolderEntry::rootWritesNothingForAnotherUser_data()
{
    QTest::addColumn<bool>("homeOfAnother"); // else the data folder is the other user's
    QTest::newRow("a data folder that belongs to another user") << false;
    QTest::newRow("a home folder that belongs to another user") << true;
}

// Started as root with another user's HOME or data folder, the program writes no entry there:
// that user could steer where root writes.
void TestFolderEntry::rootWritesNothingForAnotherUser()
{
    QFETCH(bool, homeOfAnother);
    if (::geteuid() != 0)
        QSKIP("needs root");
    QTemporaryDir others;
    QVERIFY(others.isValid());
    QCOMPARE(::chown(QFile::encodeName(others.path()).constData(), 1234, 1234), 0);
    if (homeOfAnother)
        qputenv("HOME", QFile::encodeName(others.path()));
    else
        qputenv("XDG_DATA_HOME", QFile::encodeName(others.path()));

    QVERIFY(!WriteRegistryValue(kRegistryClassesRoot, kKey, QStringLiteral("/opt/virellock")));
    QVERIFY(!writeFileEntries(QStringLiteral("/opt/virellock")));

    QCOMPARE(test::folderEntries(others.path()), QStringList());
    QCOMPARE(test::folderEntries(m_home->path()), QStringList());
}

void TestFolderEntry::failingWriteChangesNothingElse()
{
    // A file where the data folder should be: nothing can be created below it, even by root.
    const QString blocker = m_home->filePath(QStringLiteral("blocker"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    qputenv("XDG_DATA_HOME", QFile::encodeName(blocker + QStringLiteral("/data")));
    QVERIFY(!WriteRegistryValue(kRegistryClassesRoot, kKey, QStringLiteral("/opt/virellock")));
    QVERIFY(!writeFileEntries(QStringLiteral("/opt/virellock")));
    QCOMPARE(QDir(m_home->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("blocker")});
}

void TestFolderEntry::otherValuesAreRefused_data()
{
    QTest::addColumn<int>("root");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("another root") << 2 << kKey << QStringLiteral("/opt/virellock");
    QTest::newRow("a named value") << 1 << kKey.chopped(1) << QStringLiteral("/opt/virellock");
    QTest::newRow("another key") << 1 << QStringLiteral("Software\\Virellock\\")
                                 << QStringLiteral("/opt/virellock");
    QTest::newRow("a line break in the path") << 1 << kKey << QStringLiteral("/opt/a\nb");
    QTest::newRow("an empty path") << 1 << kKey << QString();
    QTest::newRow("a name that climbs out")
        << 1 << QStringLiteral("Folder\\shell\\..\\command\\") << QStringLiteral("/opt/virellock");
    QTest::newRow("a name with a slash")
        << 1 << QStringLiteral("Folder\\shell\\a/b\\command\\") << QStringLiteral("/opt/virellock");
}

void TestFolderEntry::otherValuesAreRefused()
{
    QFETCH(int, root);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QVERIFY(!WriteRegistryValue(root, key, value));
    QVERIFY(QDir(m_home->path()).isEmpty());
}

QTEST_GUILESS_MAIN(TestFolderEntry)
#include "tst_folder_entry.moc"
