#include "app/link_label.h"
#include "app/main_window.h"
#include "app/start_up.h"
#include "engine/decrypted_file.h"
#include "host/data_ops/password_check.h"
#include "host/host_services/password_mask_style.h"
#include "host/host_services/qt_host_services.h"
#include "support/command_line.h"
#include "support/file_helpers.h"
#include "support/modal.h"
#include "support/scripted_host_services.h"
#include "support/typing.h"

#include <QAbstractButton>
#include <QAction>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#ifdef Q_OS_WIN
#include <shlobj.h>
#endif

using namespace virellock;
using virellock::test::typeText;

Q_DECLARE_METATYPE(virellock::dataops::CipherBackendStatus)

namespace {

// Runs the program's start-up with the given result of the cipher backend's check, its folder
// entry written into a folder of its own, and waits for its work off the GUI thread.
void runStartUp(HostServices& host, const dataops::CipherBackendStatus& backend)
{
    QTemporaryDir dataHome;
    const QByteArray before = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
    startUp(host, backend);
    QThreadPool::globalInstance()->waitForDone();
    qputenv("XDG_DATA_HOME", before);
}

// The window's controls, found by their object names.
struct Controls
{
    explicit Controls(const QWidget& window) : m_window(window) {}

    template <typename T> T* find(const char* name) const
    {
        return m_window.findChild<T*>(QString::fromUtf8(name));
    }

    bool complete() const
    {
        return 外形框 && 标签4 && 编辑框1 && 编辑框2 && 编辑框3 && 列表框 && 超级链接框1 &&
               超级链接框2 && 退出;
    }

    // The method list's selected row, -1 when nothing is selected.
    int selectedMethod() const
    {
        const QList<QListWidgetItem*> selected = 列表框->selectedItems();
        return selected.isEmpty() ? -1 : 列表框->row(selected.constFirst());
    }

    const QWidget& m_window;
    QFrame* 外形框 = find<QFrame>("外形框");
    QLabel* 标签4 = find<QLabel>("标签4");
    QLineEdit* 编辑框1 = find<QLineEdit>("编辑框1");
    QLineEdit* 编辑框2 = find<QLineEdit>("编辑框2");
    QLineEdit* 编辑框3 = find<QLineEdit>("编辑框3");
    QListWidget* 列表框 = find<QListWidget>("列表框");
    LinkLabel* 超级链接框1 = find<LinkLabel>("超级链接框1");
    LinkLabel* 超级链接框2 = find<LinkLabel>("超级链接框2");
    QAction* 退出 = find<QAction>("退出");
};

// How the window answered a drag and the drop that ended it.
struct DropAnswer
{
    bool enterAccepted = false;
    bool dropAccepted = false;
    Qt::DropAction dropAction = Qt::IgnoreAction;
};

// Drags data over target and drops it there, as a file manager does: copy, move and link
// offered, move proposed.
DropAnswer dragAndDrop(QWidget* target, const QMimeData& data)
{
    const QPoint at = target->rect().center();
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(at), offered, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return {enter.isAccepted(), drop.isAccepted(), drop.dropAction()};
}

// A file manager's drag of paths: their URLs, and the paths as text too.
void setDraggedPaths(QMimeData& data, const QStringList& paths)
{
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << (path.startsWith(QLatin1String("http")) ? QUrl(path) : QUrl::fromLocalFile(path));
    data.setUrls(urls);
    data.setText(paths.join(u'\n'));
}

QStringList nativePaths(const QTemporaryDir& dir, const QStringList& names)
{
    QStringList paths;
    for (const QString& name : names)
        paths << QDir::toNativeSeparators(dir.filePath(name));
    return paths;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void freshStart();
    void startUpWritesTheFolderEntry();
    void startUpWritesTheFileEntries();
    void startUpTellsWhenCiphersCannotRun_data();
    void startUpTellsWhenCiphersCannotRun();
    void startUpMessageIsAModalBoxOverTheWindow();
    void controlsFollowTheTable_data();
    void controlsFollowTheTable();
    void hintRule_data();
    void hintRule();
    void passwordBoxesMask();
    void linksActOnRelease();
    void linksHandOverTheControls();
    void realDialogsEncryptAndDecrypt_data();
    void realDialogsEncryptAndDecrypt();
    void dropsChooseFiles_data();
    void dropsChooseFiles();
    void argumentsChooseFiles_data();
    void argumentsChooseFiles();
    void qtTakesNoFileAfterTheSeparator_data();
    void qtTakesNoFileAfterTheSeparator();
    void commandsWorkOnTheChosenFiles_data();
    void commandsWorkOnTheChosenFiles();
    void exitEndsWithStatusZero_data();
    void exitEndsWithStatusZero();

private:
    QTemporaryDir m_dataHome;
    test::ScriptedHostServices m_host;
    std::unique_ptr<MainWindow> m_window;
};

void TestMainWindow::initTestCase()
{
    QVERIFY(m_dataHome.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dataHome.path()));
    installPasswordMaskStyle();
}

void TestMainWindow::init()
{
    m_host = {};
    m_window = std::make_unique<MainWindow>(&m_host);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestMainWindow::cleanup()
{
    m_window.reset();
}

void TestMainWindow::freshStart()
{
    MainWindow& w = *m_window;
    const Controls c(w);
    QVERIFY(c.complete());
    QCOMPARE(w.windowTitle(), QStringLiteral("Virellock"));
    QCOMPARE(w.windowIcon().availableSizes(),
             (QList<QSize>{{16, 16}, {32, 32}, {48, 48}, {64, 64}, {128, 128}}));
    QCOMPARE(c.selectedMethod(), 4);
    QVERIFY(c.标签4->isVisible());
    QVERIFY(c.编辑框3->isVisible());
    QVERIFY(c.编辑框3->isEnabled());
    for (QLineEdit* edit : {c.编辑框1, c.编辑框2, c.编辑框3})
        QVERIFY(edit->text().isEmpty());
    QStringList items;
    for (int i = 0; i < c.列表框->count(); ++i)
        items << c.列表框->item(i)->text();
    QCOMPARE(items, (QStringList{"DES标准加密法", "RC4标准加密法", "DES增强加密法", "RC4增强加密法",
                                 "MD5增强加密法"}));
    QCOMPARE(w.palette().color(QPalette::Window), QColor(236, 236, 236));
    QVERIFY(c.外形框->autoFillBackground());
    QCOMPARE(c.外形框->palette().color(QPalette::Window), QColor(236, 236, 236));

    // The menu: "程序" holding "退出" alone, no shortcut.
    const QList<QAction*> menus = w.menuBar()->actions();
    QCOMPARE(menus.size(), 1);
    QCOMPARE(menus.first()->text(), QStringLiteral("程序"));
    QCOMPARE(menus.first()->menu()->actions(), QList<QAction*>{c.退出});
    QCOMPARE(c.退出->text(), QStringLiteral("退出"));
    QVERIFY(c.退出->shortcut().isEmpty());

    // Fixed size: the panel fills the client area below the menu bar.
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QCOMPARE(w.centralWidget()->height(), 144);

    // The window itself writes no folder entry; the program's start-up does.
    QVERIFY(!QFile::exists(m_dataHome.filePath(QStringLiteral("nautilus/scripts/Virellock"))));
}

// At start the program writes its folder entry, which starts it by its full path.
void TestMainWindow::startUpWritesTheFolderEntry()
{
#ifdef Q_OS_WIN
    QVERIFY(writeFolderEntry());
    const QSettings key(QStringLiteral("HKEY_CLASSES_ROOT\\Folder\\shell\\Virellock\\command"),
                        QSettings::NativeFormat);
    QCOMPARE(key.value(QStringLiteral("Default")).toString(),
             u'"' + QDir::toNativeSeparators(QCoreApplication::applicationFilePath()) + u'"');
#else
    QTemporaryDir dataHome;
    QVERIFY(dataHome.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
    const bool written = writeFolderEntry();
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dataHome.path()));
    QVERIFY(written);
    QFile script(dataHome.filePath(QStringLiteral("nautilus/scripts/Virellock")));
    QVERIFY(script.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(script.readAll()).contains(QCoreApplication::applicationFilePath()));
#endif
}

// At start the program also writes the entries for files, which start it with the files.
void TestMainWindow::startUpWritesTheFileEntries()
{
    const QString program = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
#ifdef Q_OS_WIN
    startUp(m_host, {true, true, {}, {}});
    QThreadPool::globalInstance()->waitForDone();
    const QSettings key(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\Classes\\*\\shell\\Virellock\\command"),
        QSettings::NativeFormat);
    QCOMPARE(key.value(QStringLiteral("Default")).toString(),
             u'"' + program + QStringLiteral("\" -- \"%1\""));
    wchar_t* sendTo = nullptr;
    QVERIFY(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_SendTo, 0, nullptr, &sendTo)));
    const QString link = QString::fromWCharArray(sendTo) + QStringLiteral("\\Virellock.lnk");
    CoTaskMemFree(sendTo);
    QVERIFY(QFile::exists(link));
    QFile::remove(link);
#else
    QTemporaryDir dataHome;
    QVERIFY(dataHome.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
    startUp(m_host, {true, true, {}, {}});
    QThreadPool::globalInstance()->waitForDone();
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dataHome.path()));
    for (const QString& entry : {QStringLiteral("kio/servicemenus/virellock-files.desktop"),
                                 QStringLiteral("nautilus/scripts/Virellock 打开所选文件")}) {
        QFile file(dataHome.filePath(entry));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(entry));
        QVERIFY(QString::fromUtf8(file.readAll()).contains(program));
    }
#endif
}

// When DES or RC4 cannot run, the start says so once, with what still works and OpenSSL's own
// words; when both run it says nothing.
void TestMainWindow::startUpTellsWhenCiphersCannotRun_data()
{
    using dataops::CipherBackendFault;
    QTest::addColumn<dataops::CipherBackendStatus>("backend");
    QTest::addColumn<QString>("message"); // empty: none

    QTest::newRow("both run") << dataops::CipherBackendStatus{true, true, {}, {}} << QString();
    QTest::newRow("legacy provider missing")
        << dataops::CipherBackendStatus{false, false, CipherBackendFault::LegacyProviderMissing,
                                        QStringLiteral("could not load the shared library")}
        << QStringLiteral("无法使用DES和RC4加密算法:未能加载OpenSSL的legacy组件!\n"
                          "使用DES或RC4的四种方式都不可用,MD5增强加密法仍可使用!\n\n"
                          "OpenSSL: could not load the shared library");
    QTest::newRow("DES gives a wrong result")
        << dataops::CipherBackendStatus{false, true, CipherBackendFault::WrongResult, {}}
        << QStringLiteral("无法使用DES加密算法:OpenSSL的运算结果不正确!\n"
                          "DES标准加密法和DES增强加密法不可用,其他方式仍可使用!");
    QTest::newRow("RC4 not offered")
        << dataops::CipherBackendStatus{true, false, CipherBackendFault::AlgorithmMissing,
                                        QStringLiteral("unsupported")}
        << QStringLiteral("无法使用RC4加密算法:OpenSSL未提供该算法!\n"
                          "RC4标准加密法和RC4增强加密法不可用,其他方式仍可使用!\n\n"
                          "OpenSSL: unsupported");
}

void TestMainWindow::startUpTellsWhenCiphersCannotRun()
{
    QFETCH(dataops::CipherBackendStatus, backend);
    QFETCH(QString, message);

    runStartUp(m_host, backend);
    QList<test::ShownMessage> expected;
    if (!message.isEmpty())
        expected.append({message, MessageStyle::Error, QStringLiteral("错误:")});
    QCOMPARE(m_host.messages, expected);
}

// The program shows it with Qt's message box, modal over its window.
void TestMainWindow::startUpMessageIsAModalBoxOverTheWindow()
{
    QtHostServices host(m_window.get());
    QString shownText;
    QWidget* shownParent = nullptr;
    QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
    const QPointer<QTimer> watch = test::whenModalShows([&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            shownText = box->text();
            shownIcon = box->icon();
            shownParent = box->parentWidget();
        }
    });
    runStartUp(host, {false, false, dataops::CipherBackendFault::LegacyProviderMissing, {}});
    delete watch; // still watching only when no box showed
    QCOMPARE(shownText, QStringLiteral("无法使用DES和RC4加密算法:未能加载OpenSSL的legacy组件!\n"
                                       "使用DES或RC4的四种方式都不可用,MD5增强加密法仍可使用!"));
    QCOMPARE(shownIcon, QMessageBox::Critical);
    QCOMPARE(shownParent, m_window.get());
}

void TestMainWindow::controlsFollowTheTable_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");

    auto row = [](const char* name, const char* parent, QRect geometry, const char* text) {
        QTest::newRow(name) << QString::fromUtf8(name) << QString::fromUtf8(parent) << geometry
                            << QString::fromUtf8(text);
    };
    row("外形框", "", QRect(0, 0, 337, 144), "");
    row("分组框2", "外形框", QRect(3, 8, 157, 130), "加密设置:");
    row("标签2", "分组框2", QRect(9, 16, 64, 16), "请输入密码:");
    row("编辑框1", "分组框2", QRect(9, 32, 140, 16), "");
    row("标签3", "分组框2", QRect(9, 50, 96, 16), "请再次输入密码:");
    row("编辑框2", "分组框2", QRect(9, 67, 140, 16), "");
    row("标签4", "分组框2", QRect(9, 86, 120, 16), "请输入密码遗忘提示:");
    row("编辑框3", "分组框2", QRect(9, 104, 140, 16), "");
    row("分组框1", "外形框", QRect(171, 8, 157, 96), "加密或解密的方式:");
    row("列表框", "分组框1", QRect(8, 14, 140, 74), "");
    row("超级链接框1", "外形框", QRect(170, 112, 61, 24), "加密文件");
    row("超级链接框2", "外形框", QRect(259, 112, 61, 24), "解密文件");
}

void TestMainWindow::controlsFollowTheTable()
{
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);

    auto* widget = m_window->findChild<QWidget*>(name);
    QVERIFY(widget);
    if (!parent.isEmpty())
        QCOMPARE(widget->parentWidget()->objectName(), parent);
    QCOMPARE(widget->geometry(), geometry);
    QString shown;
    if (auto* label = qobject_cast<QLabel*>(widget))
        shown = label->text();
    else if (auto* group = qobject_cast<QGroupBox*>(widget))
        shown = group->title();
    else if (auto* edit = qobject_cast<QLineEdit*>(widget))
        shown = edit->text();
    QCOMPARE(shown, text);
    QVERIFY(widget->isVisible());
}

void TestMainWindow::hintRule_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("hintOn");
    QTest::newRow("DES standard") << 0 << false;
    QTest::newRow("RC4 standard") << 1 << false;
    QTest::newRow("DES enhanced") << 2 << true;
    QTest::newRow("RC4 enhanced") << 3 << true;
    QTest::newRow("MD5 enhanced") << 4 << true;
    QTest::newRow("nothing selected") << -1 << true;
}

// From each starting state, as the user selects with the mouse, a hint typed before survives.
void TestMainWindow::hintRule()
{
    QFETCH(int, index);
    QFETCH(bool, hintOn);
    const Controls c(*m_window);
    QVERIFY(c.complete());
    typeText(c.编辑框3, QStringLiteral("猫的名字"));

    for (int before : {0, 4}) {
        c.列表框->setCurrentRow(before);
        if (index >= 0) {
            const QRect item = c.列表框->visualItemRect(c.列表框->item(index));
            QTest::mouseClick(c.列表框->viewport(), Qt::LeftButton, {}, item.center());
        } else {
            // Ctrl+click on the selected item clears the selection.
            const QRect item = c.列表框->visualItemRect(c.列表框->item(before));
            QTest::mouseClick(c.列表框->viewport(), Qt::LeftButton, Qt::ControlModifier,
                              item.center());
        }
        QCOMPARE(c.selectedMethod(), index);
        QCOMPARE(c.标签4->isVisible(), hintOn);
        QCOMPARE(c.编辑框3->isVisible(), hintOn);
        QCOMPARE(c.编辑框3->isEnabled(), hintOn);
        QCOMPARE(c.编辑框3->text(), QStringLiteral("猫的名字"));
    }
    c.列表框->setCurrentRow(2);
    QVERIFY(c.编辑框3->isVisible() && c.编辑框3->isEnabled());
    QCOMPARE(c.编辑框3->text(), QStringLiteral("猫的名字"));
}

void TestMainWindow::passwordBoxesMask()
{
    const Controls c(*m_window);
    QVERIFY(c.complete());
    typeText(c.编辑框1, QStringLiteral("a 密b"));
    typeText(c.编辑框2, QStringLiteral("xy"));
    typeText(c.编辑框3, QStringLiteral("hint 提示"));
    QCOMPARE(c.编辑框1->displayText(), QStringLiteral("****"));
    QCOMPARE(c.编辑框1->text(), QStringLiteral("a 密b"));
    QCOMPARE(c.编辑框2->displayText(), QStringLiteral("**"));
    QCOMPARE(c.编辑框3->displayText(), QStringLiteral("hint 提示"));
    QCOMPARE(c.编辑框1->echoMode(), QLineEdit::Password);
    QCOMPARE(c.编辑框3->echoMode(), QLineEdit::Normal);
}

// A click runs the command: with empty boxes the encrypt command asks for the password, and
// the decrypt command asks for confirmation (answered No here).
void TestMainWindow::linksActOnRelease()
{
    MainWindow& w = *m_window;
    QSignalSpy encrypt(&w, &MainWindow::encryptClicked);
    QSignalSpy decrypt(&w, &MainWindow::decryptClicked);
    const Controls c(w);
    QVERIFY(c.complete());
    for (LinkLabel* link : {c.超级链接框1, c.超级链接框2}) {
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(link->focusPolicy(), Qt::NoFocus);
    }
    QTest::mousePress(c.超级链接框1, Qt::LeftButton);
    QCOMPARE(encrypt.size(), 0); // not on the press
    QTest::mouseRelease(c.超级链接框1, Qt::LeftButton);
    QCOMPARE(encrypt.size(), 1);
    QCOMPARE(m_host.messages.size(), 1);
    QCOMPARE(m_host.messages.last().text, QStringLiteral("请将密码输入完整!"));
    QTest::mouseClick(c.超级链接框1, Qt::RightButton);
    QTest::mousePress(c.超级链接框1, Qt::LeftButton);
    QTest::mouseRelease(c.超级链接框1, Qt::LeftButton, {}, QPoint(-5, -5)); // dragged off it
    QCOMPARE(encrypt.size(), 1);

    m_host.answers = {Answer::No};
    QTest::mouseClick(c.超级链接框2, Qt::LeftButton);
    QCOMPARE(decrypt.size(), 1);
    QCOMPARE(encrypt.size(), 1);
    QCOMPARE(m_host.messages.size(), 2);
    QCOMPARE(m_host.messages.last().text,
             QStringLiteral("您确认要使用:MD5增强加密法来解密文件吗?"));
    QCOMPARE(m_host.unexpectedCalls, 0);
}

// A click hands the command what the controls hold at that moment and the window's dialog:
// the password and hint end up in the file, and the list's text in the question.
void TestMainWindow::linksHandOverTheControls()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("file"));
    QVERIFY(test::writeFile(file, "content"));
    const Controls c(*m_window);
    QVERIFY(c.complete());
    c.列表框->setCurrentRow(2);
    typeText(c.编辑框1, QStringLiteral("密码 pw"));
    typeText(c.编辑框2, QStringLiteral("密码 pw"));
    typeText(c.编辑框3, QStringLiteral("提示 hint"));

    m_host.chosenFiles = {file};
    QTest::mouseClick(c.超级链接框1, Qt::LeftButton);
    QCOMPARE(m_host.fileDialogs, (QList<FileDialogOptions>{{QStringLiteral("打开欲加密的文件:"),
                                                            QStringLiteral("所有文件"), true}}));
    QCOMPARE(m_host.messages.size(), 1);
    QCOMPARE(m_host.messages.first().text, QStringLiteral("对该文件加密成功,请牢记你的密码!"));
    const std::optional<EnhancedRecord> record = readEnhancedRecordFile(file);
    QVERIFY(record);
    QCOMPARE(record->hint, QStringLiteral("提示 hint"));
    QVERIFY(dataops::verifyPasswordCheck(record->password_check, QStringLiteral("密码 pw")));

    m_host = {};
    m_host.answers = {Answer::Yes};
    m_host.chosenFiles = {file};
    m_host.typedTexts = {QStringLiteral("密码 pw")};
    QTest::mouseClick(c.超级链接框2, Qt::LeftButton);
    QCOMPARE(m_host.fileDialogs, (QList<FileDialogOptions>{{QStringLiteral("打开欲解密的文件:"),
                                                            QStringLiteral("所有文件"), true}}));
    QCOMPARE(m_host.messages.size(), 2);
    QCOMPARE(m_host.messages.first().text,
             QStringLiteral("您确认要使用:DES增强加密法来解密文件吗?"));
    QCOMPARE(m_host.prompts.size(), 1);
    QCOMPARE(m_host.prompts.first().prompt, QStringLiteral("请输入密码:\r\n\r\n提示 hint"));
    QCOMPARE(m_host.messages.last().text, QStringLiteral("该文件解密成功!"));
    QCOMPARE(test::readFile(file), QByteArray("content"));
    QCOMPARE(m_host.unexpectedCalls, 0);
}

void TestMainWindow::realDialogsEncryptAndDecrypt_data()
{
    QTest::addColumn<int>("method");
    QTest::newRow("DES standard") << 0;
    QTest::newRow("RC4 enhanced") << 3;
    QTest::newRow("MD5 enhanced") << 4;
}

// The whole way a person goes, with the window's own Qt dialogs: type the password twice,
// click "加密文件", choose the file, read the message; then "解密文件", Yes, the file, the
// password, the message.
void TestMainWindow::realDialogsEncryptAndDecrypt()
{
    QFETCH(int, method);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("日记 diary.txt"));
    QVERIFY(test::writeFile(file, "dear diary"));
    MainWindow window; // with the real dialogs
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const Controls c(window);
    QVERIFY(c.complete());
    c.列表框->setCurrentRow(method);
    typeText(c.编辑框1, QStringLiteral("密码 pw"));
    typeText(c.编辑框2, QStringLiteral("密码 pw"));
    typeText(c.编辑框3, QStringLiteral("提示"));

    // A person at the screen: answers each dialog by what it is, whenever one shows.
    QStringList messages;
    QTimer person;
    connect(&person, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            test::chooseInFileDialog(dialog, file);
        } else if (auto* prompt = qobject_cast<QInputDialog*>(modal)) {
            prompt->setTextValue(QStringLiteral("密码 pw"));
            prompt->accept();
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            messages << box->text();
            const bool question = box->standardButtons() & QMessageBox::Yes;
            box->button(question ? QMessageBox::Yes : QMessageBox::Ok)->click();
        }
    });
    person.start(10);

    QTest::mouseClick(c.超级链接框1, Qt::LeftButton);
    QCOMPARE(messages, QStringList{QStringLiteral("对该文件加密成功,请牢记你的密码!")});
    QVERIFY(test::readFile(file) != QByteArray("dear diary"));

    QTest::mouseClick(c.超级链接框2, Qt::LeftButton);
    QCOMPARE(messages.size(), 3);
    QCOMPARE(messages.at(1), QStringLiteral("您确认要使用:") + c.列表框->item(method)->text() +
                                 QStringLiteral("来解密文件吗?"));
    QCOMPARE(messages.last(), QStringLiteral("该文件解密成功!"));
    QCOMPARE(test::readFile(file), QByteArray("dear diary"));
}

void TestMainWindow::dropsChooseFiles_data()
{
    QTest::addColumn<QStringList>("dragged"); // names in the test's folder, or a web address
    QTest::addColumn<QString>("text");        // the drag's text when it carries no paths
    QTest::addColumn<bool>("ontoPasswordBox");
    QTest::addColumn<QStringList>("chosen"); // empty: the previous choice stays
    QTest::addColumn<QString>("title");

    QTest::newRow("one file") << QStringList{"日记 diary.txt"} << "" << false
                              << QStringList{"日记 diary.txt"} << "Virellock - 日记 diary.txt";
    QTest::newRow("two files") << QStringList{"a.txt", "日记 diary.txt"} << "" << false
                               << QStringList{"a.txt", "日记 diary.txt"} << "Virellock - 2 files";
    QTest::newRow("a file, a folder and a missing file")
        << QStringList{"folder", "a.txt", "missing"} << "" << false << QStringList{"a.txt"}
        << "Virellock - a.txt";
    QTest::newRow("a folder") << QStringList{"folder"} << "" << false << QStringList()
                              << "Virellock - previous.txt";
    QTest::newRow("a missing file")
        << QStringList{"missing"} << "" << false << QStringList() << "Virellock - previous.txt";
    QTest::newRow("a web address") << QStringList{"https://example.org/a.txt"} << "" << false
                                   << QStringList() << "Virellock - previous.txt";
    QTest::newRow("two files onto the password box")
        << QStringList{"a.txt", "日记 diary.txt"} << "" << true
        << QStringList{"a.txt", "日记 diary.txt"} << "Virellock - 2 files";
    QTest::newRow("a folder onto the password box")
        << QStringList{"folder"} << "" << true << QStringList() << "Virellock - previous.txt";
    QTest::newRow("text onto the password box")
        << QStringList() << "typed" << true << QStringList() << "Virellock - previous.txt";
}

// Files dropped on the window become its choice, named in its title; what is not a file is left
// out, and a drop of nothing usable keeps the choice there was. The password box passes drops
// of paths on to the window, and takes text as ever.
void TestMainWindow::dropsChooseFiles()
{
    QFETCH(QStringList, dragged);
    QFETCH(QString, text);
    QFETCH(bool, ontoPasswordBox);
    QFETCH(QStringList, chosen);
    QFETCH(QString, title);
    QTemporaryDir dir;
    for (const char* name : {"a.txt", "日记 diary.txt", "previous.txt"})
        QVERIFY(test::writeFile(dir.filePath(QString::fromUtf8(name)), "content"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    MainWindow& w = *m_window;
    const Controls c(w);
    QVERIFY(c.complete());

    QMimeData previous;
    setDraggedPaths(previous, nativePaths(dir, {QStringLiteral("previous.txt")}));
    QVERIFY(dragAndDrop(&w, previous).dropAccepted);
    QCOMPARE(w.windowTitle(), QStringLiteral("Virellock - previous.txt"));

    QMimeData data;
    QStringList paths;
    for (const QString& name : dragged)
        paths << (name.startsWith(QLatin1String("http"))
                      ? name
                      : QDir::toNativeSeparators(dir.filePath(name)));
    if (!paths.isEmpty())
        setDraggedPaths(data, paths);
    else
        data.setText(text);
    const DropAnswer answer =
        dragAndDrop(ontoPasswordBox ? static_cast<QWidget*>(c.编辑框1) : &w, data);
    const bool usable = !chosen.isEmpty();
    QCOMPARE(answer.enterAccepted, usable || !text.isEmpty());
    QCOMPARE(answer.dropAccepted, usable || !text.isEmpty());
    if (usable) // the files stay where they are: never a move
        QCOMPARE(answer.dropAction, Qt::CopyAction);
    QCOMPARE(w.chosenFiles(),
             nativePaths(dir, usable ? chosen : QStringList{QStringLiteral("previous.txt")}));
    QCOMPARE(w.windowTitle(), title);
    QCOMPARE(c.编辑框1->text(), text);
}

void TestMainWindow::argumentsChooseFiles_data()
{
    QTest::addColumn<QStringList>("arguments"); // after the program's name; %DIR% the folder
    QTest::addColumn<QStringList>("chosen");
    QTest::addColumn<QString>("title");
    QTest::newRow("none") << QStringList() << QStringList() << "Virellock";
    QTest::newRow("one file, by a relative path")
        << QStringList{"a.txt"} << QStringList{"a.txt"} << "Virellock - a.txt";
    QTest::newRow("files, a folder and a missing name")
        << QStringList{"a.txt", "-dash 名字.txt", "folder", "missing", "%DIR%/日记 diary.txt"}
        << QStringList{"a.txt", "-dash 名字.txt", "日记 diary.txt"} << "Virellock - 3 files";
    QTest::newRow("after the separator, files named like Qt's options")
        << QStringList{"--", "-platformpluginpath", "-style", "--"}
        << QStringList{"-platformpluginpath", "-style", "--"} << "Virellock - 3 files";
    QTest::newRow("a file and a hard link to it") << QStringList{"a.txt", "--", "hard link to a"}
                                                  << QStringList{"a.txt"} << "Virellock - a.txt";
#ifndef Q_OS_WIN
    QTest::newRow("a file and a symbolic link to it")
        << QStringList{"--", "symbolic link to a", "a.txt", "%DIR%/a.txt"}
        << QStringList{"symbolic link to a"} << "Virellock - symbolic link to a";
#endif
}

// The files named on the command line, as the file managers' entries start the program, are
// the window's choice from the start; a file named twice, through a link too, is chosen once.
void TestMainWindow::argumentsChooseFiles()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, chosen);
    QFETCH(QString, title);
    QTemporaryDir dir;
    for (const char* name :
         {"a.txt", "-dash 名字.txt", "日记 diary.txt", "-platformpluginpath", "-style", "--"})
        QVERIFY(test::writeFile(dir.filePath(QString::fromUtf8(name)), "content"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    QVERIFY(test::makeHardLink(dir.filePath(QStringLiteral("a.txt")),
                               dir.filePath(QStringLiteral("hard link to a"))));
#ifndef Q_OS_WIN
    QVERIFY(
        QFile::link(QStringLiteral("a.txt"), dir.filePath(QStringLiteral("symbolic link to a"))));
#endif
    QStringList texts{QCoreApplication::applicationFilePath()};
    for (const QString& argument : arguments)
        texts << QString(argument).replace(QStringLiteral("%DIR%"), dir.path());
    QList<QByteArray> bytes;
    for (const QString& text : texts)
        bytes << QFile::encodeName(text);
    test::CommandLine commandLine(bytes);
#ifdef Q_OS_WIN
    // argv holds what the ANSI code page can hold; Windows keeps the whole texts beside it.
    const ProgramArguments programArguments(commandLine.argc(), commandLine.argv(), texts);
#else
    const ProgramArguments programArguments(commandLine.argc(), commandLine.argv());
#endif

    const QString current = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    MainWindow window(&m_host);
    chooseArgumentFiles(window, programArguments);
    QVERIFY(QDir::setCurrent(current));
    QCOMPARE(window.chosenFiles(), nativePaths(dir, chosen));
    QCOMPARE(window.windowTitle(), title);
}

void TestMainWindow::qtTakesNoFileAfterTheSeparator_data()
{
    QTest::addColumn<QStringList>("arguments"); // %DEEP% a folder deeper than 260 characters
    QTest::addColumn<QStringList>("chosen");    // below the test's folder
    QTest::newRow("files named like Qt's options")
        << QStringList{"--", "-platform", "a.txt", "-style", "-reverse", "-platformpluginpath", "."}
        << QStringList{"-platform", "a.txt", "-style", "-reverse", "-platformpluginpath"};
    QTest::newRow("Qt's options before the separator, a file named like one after it")
        << QStringList{"-reverse", "--", "-reverse"} << QStringList{"-reverse"};
    QTest::newRow("a file named --") << QStringList{"--", "--"} << QStringList{"--"};
    QTest::newRow("Chinese, in a folder deeper than 260 characters")
        << QStringList{"--", "%DEEP%/日记 diary.txt"} << QStringList{"%DEEP%/日记 diary.txt"};
}

// Started for real, Qt reads its options only before "--": every argument after it is a file,
// even one that Qt would take for its own (-platform a.txt would end the program).
void TestMainWindow::qtTakesNoFileAfterTheSeparator()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, chosen);
    QTemporaryDir dir;
    QString deep = QStringLiteral("深");
    while (dir.filePath(deep).size() <= 260)
        deep += QStringLiteral("/子目录 0123456789");
    QVERIFY(QDir(dir.path()).mkpath(deep));
    arguments.replaceInStrings(QStringLiteral("%DEEP%"), deep);
    chosen.replaceInStrings(QStringLiteral("%DEEP%"), deep);
    for (const QString& name : chosen)
        QVERIFY(test::writeFile(dir.filePath(name), "content"));

    QProcess probe;
    probe.setWorkingDirectory(dir.path());
    probe.start(QStringLiteral(VIRELLOCK_CHOSEN_FILES_PROBE), arguments);
    QVERIFY(probe.waitForFinished());
    QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
    QCOMPARE(probe.exitCode(), 0);
    QStringList files = QString::fromUtf8(probe.readAllStandardOutput()).split(QChar(0));
    QCOMPARE(files.takeLast(), QString());
    QCOMPARE(files, nativePaths(dir, chosen));
}

void TestMainWindow::commandsWorkOnTheChosenFiles_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("message"); // the last one
    QTest::addColumn<bool>("changed");    // the files were encrypted
    QTest::addColumn<bool>("kept");       // the choice stays for the next click

    QTest::newRow("passwords differ") << "passwords differ"
                                      << "两次密码不一致,请重新输入!" << false << true;
    QTest::newRow("No to the question")
        << "No"
        << "您确认要使用:MD5增强加密法来解密文件吗?" << false << true;
    QTest::newRow("encrypted") << "encrypt"
                               << "对该文件加密成功,请牢记你的密码!" << true << false;
    QTest::newRow("password prompt cancelled")
        << "prompt cancelled"
        << "您确认要使用:DES标准加密法来解密文件吗?" << false << false;
    QTest::newRow("cancelled in the progress dialog") << "cancel progress"
                                                      << "" << false << false;
    QTest::newRow("decrypting files that are not ours")
        << "decrypt"
        << "该文件不是由此软件加密而成的!\na.txt\nb.txt" << false << false;
}

// A click works on the chosen files instead of asking in its dialog, after its checks and
// question as ever. The choice goes once the command has taken the files, whatever came of
// them; a failed check or No keeps it, to be clicked again.
void TestMainWindow::commandsWorkOnTheChosenFiles()
{
    QFETCH(QString, what);
    QFETCH(QString, message);
    QFETCH(bool, changed);
    QFETCH(bool, kept);
    QTemporaryDir dir;
    const QStringList files = nativePaths(dir, {QStringLiteral("a.txt"), QStringLiteral("b.txt")});
    for (const QString& file : files)
        QVERIFY(test::writeFile(file, "content"));
    MainWindow& w = *m_window;
    const Controls c(w);
    QVERIFY(c.complete());
    QVERIFY(w.setChosenFiles(files));
    QCOMPARE(w.windowTitle(), QStringLiteral("Virellock - 2 files"));

    typeText(c.编辑框1, QStringLiteral("pw"));
    typeText(c.编辑框2, what == QLatin1String("passwords differ") ? QStringLiteral("px")
                                                                  : QStringLiteral("pw"));
    if (what == QLatin1String("cancel progress"))
        m_host.cancelAt = 0.0;
    if (what == QLatin1String("prompt cancelled")) {
        c.列表框->setCurrentRow(0);
        m_host.typedTexts = {std::nullopt};
    }
    const bool decrypting = what == QLatin1String("No") || what == QLatin1String("decrypt") ||
                            what == QLatin1String("prompt cancelled");
    m_host.answers = {what == QLatin1String("No") ? Answer::No : Answer::Yes};
    QTest::mouseClick(decrypting ? c.超级链接框2 : c.超级链接框1, Qt::LeftButton);

    QVERIFY(m_host.fileDialogs.isEmpty());
    QCOMPARE(m_host.unexpectedCalls, 0);
    QCOMPARE(m_host.messages.isEmpty() ? QString() : m_host.messages.last().text, message);
    for (const QString& file : files)
        QCOMPARE(test::readFile(file) != QByteArray("content"), changed);
    QCOMPARE(w.chosenFiles(), kept ? files : QStringList());
    QCOMPARE(w.windowTitle(),
             kept ? QStringLiteral("Virellock - 2 files") : QStringLiteral("Virellock"));
}

void TestMainWindow::exitEndsWithStatusZero_data()
{
    QTest::addColumn<bool>("fromMenu");
    QTest::newRow("menu item") << true;
    QTest::newRow("frame closed") << false;
}

void TestMainWindow::exitEndsWithStatusZero()
{
    QFETCH(bool, fromMenu);
    MainWindow* w = m_window.get();
    QAction* exit = Controls(*w).退出;
    QVERIFY(exit);
    QTimer::singleShot(0, w, [w, exit, fromMenu] {
        if (fromMenu)
            exit->trigger();
        else
            w->close();
    });
    // Stops the loop should neither way end it, so the test fails instead of hanging.
    QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
    QCOMPARE(QCoreApplication::exec(), 0);
}

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
