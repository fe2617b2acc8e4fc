#include "host/host_services/registry.h"

#include <QTest>

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
};

void TestFolderEntryWindows::cleanup()
{
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Folder\\shell\\Virellock");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\Folder\\shell\\Virellock");
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

QTEST_GUILESS_MAIN(TestFolderEntryWindows)
#include "tst_folder_entry_windows.moc"
