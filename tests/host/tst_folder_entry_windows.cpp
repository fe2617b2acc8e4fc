#include "host/host_services/file_entries.h"
#include "host/host_services/registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <iterator>
#include <objbase.h>
#include <optional>
#include <shlobj.h>
#include <windows.h>

using namespace virellock;

namespace {

const QString kKey = QStringLiteral("Folder\\shell\\Virellock\\command\\");
const wchar_t kCommandKey[] = L"Folder\\shell\\Virellock\\command";
const wchar_t kUserCommandKey[] = L"Software\\Classes\\Folder\\shell\\Virellock\\command";

// The default value of a key, or nothing.
std::optional<QString> defaultValue(HKEY root, const wchar_t* key)
{
    wchar_t buffer[4096];
    DWORD size = sizeof buffer;
    if (RegGetValueW(root, key, nullptr, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return QString::fromWCharArray(buffer);
}

const wchar_t* wide(const QString& text)
{
    return reinterpret_cast<const wchar_t*>(text.utf16());
}

const wchar_t kFilesCommandKey[] = L"Software\\Classes\\*\\shell\\Virellock\\command";

// The user's Send To shortcut, where the program writes it.
QString sendToShortcut()
{
    wchar_t* folder = nullptr;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_SendTo, 0, nullptr, &folder)))
        return {};
    const QString path = QString::fromWCharArray(folder) + QStringLiteral("\\Virellock.lnk");
    CoTaskMemFree(folder);
    return path;
}

struct Shortcut
{
    QString target;
    QString arguments;
};

// What a shortcut starts, read back through IShellLinkW: the item list it holds, which Explorer
// follows (Wine keeps the link's path text in the ANSI code page only, losing Chinese), and its
// arguments; nothing when it cannot be read.
std::optional<Shortcut> readShortcut(const QString& link)
{
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::optional<Shortcut> shortcut;
    IShellLinkW* shellLink = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&shellLink)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(
                shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            PIDLIST_ABSOLUTE items = nullptr;
            if (SUCCEEDED(file->Load(wide(link), STGM_READ)) &&
                SUCCEEDED(shellLink->GetIDList(&items)) && items) {
                wchar_t buffer[MAX_PATH] = {};
                wchar_t arguments[1024] = {};
                if (SHGetPathFromIDListW(items, buffer) &&
                    SUCCEEDED(shellLink->GetArguments(arguments, int(std::size(arguments)))))
                    shortcut = Shortcut{QString::fromWCharArray(buffer),
                                        QString::fromWCharArray(arguments)};
                CoTaskMemFree(items);
            }
            file->Release();
        }
        shellLink->Release();
    }
    if (SUCCEEDED(initialised))
        CoUninitialize();
    return shortcut;
}

} // namespace

// The folder entry through the real registry (under Wine: the test prefix's own).
class TestFolderEntryWindows : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void quotedProgramPath_data();
    void quotedProgramPath();
    void userClassesWhereTheMachinesAreClosed();
    void otherValuesAreRefused_data();
    void otherValuesAreRefused();
    void fileEntries_data();
    void fileEntries();
};

void TestFolderEntryWindows::cleanup()
{
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Folder\\shell\\Virellock");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\Folder\\shell\\Virellock");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\*\\shell\\Virellock");
    QFile::remove(sendToShortcut());
}

void TestFolderEntryWindows::quotedProgramPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("plain") << QStringLiteral("C:\\Tools\\virellock.exe");
    QTest::newRow("blanks and Chinese")
        << QStringLiteral("C:\\Program Files\\文件 工具\\virellock.exe");
}

// Written twice: the second start, from another folder, replaces the first path.
void TestFolderEntryWindows::quotedProgramPath()
{
    QFETCH(QString, path);
    QVERIFY(WriteRegistryValue(kRegistryClassesRoot, kKey, QStringLiteral("D:\\old\\x.exe")));
    QVERIFY(WriteRegistryValue(kRegistryClassesRoot, kKey, path));
    QCOMPARE(defaultValue(HKEY_CLASSES_ROOT, kCommandKey), u'"' + path + u'"');
}

// HKEY_CLASSES_ROOT stood in for by a volatile key, under which no lasting key can be made:
// the write goes to the user's own classes, which Windows shows in HKEY_CLASSES_ROOT.
void TestFolderEntryWindows::userClassesWhereTheMachinesAreClosed()
{
    const QString closedName = QStringLiteral("Software\\VirellockClosedClasses%1")
                                   .arg(QCoreApplication::applicationPid());
    HKEY closed = nullptr;
    QCOMPARE(RegCreateKeyExW(HKEY_CURRENT_USER, wide(closedName), 0, nullptr, REG_OPTION_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &closed, nullptr),
             LONG(ERROR_SUCCESS));
    QCOMPARE(RegOverridePredefKey(HKEY_CLASSES_ROOT, closed), LONG(ERROR_SUCCESS));

    const QString path = QStringLiteral("C:\\Users\\小明\\My Tools\\virellock.exe");
    const bool written = WriteRegistryValue(kRegistryClassesRoot, kKey, path);
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegCloseKey(closed);
    RegDeleteTreeW(HKEY_CURRENT_USER, wide(closedName));

    QVERIFY(written);
    QCOMPARE(defaultValue(HKEY_CURRENT_USER, kUserCommandKey), u'"' + path + u'"');
}

void TestFolderEntryWindows::otherValuesAreRefused_data()
{
    QTest::addColumn<int>("root");
    QTest::addColumn<QString>("key");
    QTest::newRow("another root") << 2 << kKey;
    QTest::newRow("a named value") << 1 << kKey.chopped(1);
}

void TestFolderEntryWindows::otherValuesAreRefused()
{
    QFETCH(int, root);
    QFETCH(QString, key);
    QVERIFY(!WriteRegistryValue(root, key, QStringLiteral("C:\\virellock.exe")));
    QCOMPARE(defaultValue(HKEY_CLASSES_ROOT, kCommandKey), std::nullopt);
}

void TestFolderEntryWindows::fileEntries_data()
{
    QTest::addColumn<QString>("programFolder");
    QTest::newRow("plain") << QStringLiteral("Tools");
    QTest::newRow("blanks and Chinese") << QStringLiteral("Program Files\\文件 工具");
}

// The entry for every file runs the quoted program with "--" and the quoted file; the Send To
// shortcut, for several files at once, points at the program with the argument "--", after
// which Explorer puts the files: no file name can be read as an option. Written twice: the
// second start, from another folder, replaces the first path in both.
void TestFolderEntryWindows::fileEntries()
{
    QFETCH(QString, programFolder);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath(programFolder));
    const QString program =
        QDir::toNativeSeparators(dir.filePath(programFolder + QStringLiteral("/virellock.exe")));
    const QString old = QDir::toNativeSeparators(dir.filePath(QStringLiteral("old.exe")));
    for (const QString& path : {old, program}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    QVERIFY(writeFileEntries(old));
    QVERIFY(writeFileEntries(program));
    QCOMPARE(defaultValue(HKEY_CURRENT_USER, kFilesCommandKey),
             u'"' + program + QStringLiteral("\" -- \"%1\""));
    const std::optional<Shortcut> shortcut = readShortcut(sendToShortcut());
    QVERIFY(shortcut);
    QVERIFY2(QFileInfo(shortcut->target) == QFileInfo(program), qPrintable(shortcut->target));
    QCOMPARE(shortcut->arguments, QStringLiteral("--"));
    // The folder entry is not touched.
    QCOMPARE(defaultValue(HKEY_CLASSES_ROOT, kCommandKey), std::nullopt);
}

QTEST_GUILESS_MAIN(TestFolderEntryWindows)
#include "tst_folder_entry_windows.moc"
