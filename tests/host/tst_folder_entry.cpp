#include "host/host_services/file_entries.h"
#include "host/host_services/registry.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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

} // namespace

class TestFolderEntry : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void entriesStartTheProgram_data();
    void entriesStartTheProgram();
    void fileEntriesStartTheProgramWithTheFiles_data();
    void fileEntriesStartTheProgramWithTheFiles();
    void rewrittenWithTheNewPath();
    void failingWriteChangesNothingElse();
    void otherValuesAreRefused_data();
    void otherValuesAreRefused();

private:
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
};

void TestFolderEntry::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home->path()));
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
    QVERIFY2(kde.contains(kdeExec.arg(programs.path()) + u'\n'), qPrintable(kde));
    QVERIFY(isExecutable(kdeEntry()));

    QVERIFY(isExecutable(gnomeScript()));
    QCOMPARE(QProcess::execute(gnomeScript(), {}), 0);
    QCOMPARE(readText(marker), QStringLiteral("started\n"));
}

void TestFolderEntry::fileEntriesStartTheProgramWithTheFiles_data()
{
    entriesStartTheProgram_data();
}

// The entries for files start the program with every chosen file as one argument of its own:
// the GNOME script is run for real, as GNOME Files runs it, with the chosen files' paths one a
// line in its environment, and a stand-in program that records its arguments; the KDE entry
// hands over the files as %F after the quoted program.
void TestFolderEntry::fileEntriesStartTheProgramWithTheFiles()
{
    QFETCH(QString, programFolder);
    QFETCH(QString, kdeExec);

    QTemporaryDir programs;
    const QString marker = programs.filePath(QStringLiteral("arguments"));
    const QString program =
        writeStubProgram(programs.filePath(programFolder),
                         "printf '%s\\n' \"$@\" > '" + QFile::encodeName(marker) + "'");
    QVERIFY(!program.isEmpty());

    QVERIFY(writeFileEntries(program));

    const QString kde = readText(kdeFileEntry());
    QVERIFY(kde.contains(QStringLiteral("MimeType=all/allfiles;\n")));
    QVERIFY(kde.contains(QStringLiteral("X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n")));
    QVERIFY(kde.contains(QStringLiteral("Name=Virellock\n")));
    QVERIFY2(kde.contains(kdeExec.arg(programs.path()) + QStringLiteral(" %F\n")), qPrintable(kde));
    QVERIFY(isExecutable(kdeFileEntry()));
    // The folder entry is a file of its own, and stays as it was.
    QVERIFY(!QFile::exists(kdeEntry()));
    QVERIFY(!QFile::exists(gnomeScript()));

    const QStringList chosen = {
        QStringLiteral("/home/u/two  blanks.txt"),
        QStringLiteral("/home/u/it's \"quoted\" $HOME `date` back\\slash.txt"),
        QStringLiteral("/home/u/-leading dash"),
        QStringLiteral("/home/u/中文 文件.txt"),
        QStringLiteral("/home/u/ leading and trailing blank "),
        programs.filePath(QStringLiteral("*")), // would match every file there
    };
    QVERIFY(isExecutable(gnomeFileScript()));
    QProcess script;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Each path ends with a line break, the last one too.
    environment.insert(QStringLiteral("NAUTILUS_SCRIPT_SELECTED_FILE_PATHS"),
                       chosen.join(u'\n') + u'\n');
    script.setProcessEnvironment(environment);
    script.start(gnomeFileScript(), {});
    QVERIFY(script.waitForFinished());
    QCOMPARE(script.exitCode(), 0);
    QCOMPARE(readText(marker).split(u'\n', Qt::SkipEmptyParts), chosen);
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
