#include "host/host_services/password_mask_style.h"
#include "host/host_services/qt_host_services.h"
#include "support/modal.h"
#include "support/typing.h"

#include <QAbstractButton>
#include <QDropEvent>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>

using namespace virellock;
using virellock::test::typeText;
using virellock::test::whenModalShows;

namespace {

const QStringList kFileNames = {QStringLiteral("文件 一.txt"), QStringLiteral("two")};

// A widget that takes every drag and counts the drops it is given.
class DropTarget final : public QWidget
{
public:
    using QWidget::QWidget;
    int drops = 0;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override
    {
        ++drops;
        event->acceptProposedAction();
    }
};

void dropText(QWidget* target)
{
    QMimeData data;
    data.setText(QStringLiteral("dropped"));
    QDragEnterEvent enter(QPoint(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
}

} // namespace

class TestQtHostServices : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void messageBox_data();
    void messageBox();
    void inputBox_data();
    void inputBox();
    void longPromptWraps();
    void chooseFiles_data();
    void chooseFiles();
    void progressDialogCancels();
    void shortWorkShowsNoDialog();

private:
    QWidget m_window;
    QtHostServices m_services{&m_window};
};

void TestQtHostServices::initTestCase()
{
    installPasswordMaskStyle();
    m_window.show();
}

void TestQtHostServices::messageBox_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("press");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("answer");
    // Styles and answers by their Windows values.
    const int ok = QMessageBox::Ok, yes = QMessageBox::Yes, no = QMessageBox::No;
    QTest::newRow("error") << 0x10 << ok << int(QMessageBox::Critical) << ok << 1;
    QTest::newRow("information") << 0x40 << ok << int(QMessageBox::Information) << ok << 1;
    QTest::newRow("question, yes") << 0x24 << yes << int(QMessageBox::Question) << (yes | no) << 5;
    QTest::newRow("question, no") << 0x24 << no << int(QMessageBox::Question) << (yes | no) << 6;
}

void TestQtHostServices::messageBox()
{
    QFETCH(int, style);
    QFETCH(int, press);
    QFETCH(int, icon);
    QFETCH(int, buttons);
    QFETCH(int, answer);

    QString title, text;
    int shownIcon = -1, shownButtons = -1;
    whenModalShows([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        shownIcon = box->icon();
        shownButtons = int(box->standardButtons());
        box->button(QMessageBox::StandardButton(press))->click();
    });
    QCOMPARE(int(m_services.ShowMessageBox(QStringLiteral("该文件解密成功!"), MessageStyle(style),
                                           QStringLiteral("恭喜:"))),
             answer);
    QCOMPARE(title, QStringLiteral("恭喜:"));
    QCOMPARE(text, QStringLiteral("该文件解密成功!"));
    QCOMPARE(shownIcon, icon);
    QCOMPARE(shownButtons, buttons);
}

void TestQtHostServices::inputBox_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("masked, OK") << 4 << true << QStringLiteral("密 码 ") << QStringLiteral("****");
    QTest::newRow("masked, empty, OK") << 4 << true << QString() << QString();
    QTest::newRow("plain, OK") << 0 << true << QStringLiteral("ab c") << QStringLiteral("ab c");
    QTest::newRow("masked, cancel")
        << 4 << false << QStringLiteral("secret") << QStringLiteral("******");
}

void TestQtHostServices::inputBox()
{
    QFETCH(int, mode);
    QFETCH(bool, accept);
    QFETCH(QString, typed);
    QFETCH(QString, shown);

    QString title, label, displayed, heldText, heldDisplay;
    whenModalShows([&](QWidget* modal) {
        auto* dialog = qobject_cast<QInputDialog*>(modal);
        QVERIFY(dialog);
        title = dialog->windowTitle();
        label = dialog->labelText();
        auto* edit = dialog->findChild<QLineEdit*>();
        QVERIFY(edit);
        QVERIFY(edit->text().isEmpty());
        typeText(edit, typed);
        // A copy of its own: the host wipes the line edit's buffers, for all who share them.
        const QString display = edit->displayText();
        displayed = QString(display.constData(), display.size());
        heldText = edit->text();
        heldDisplay = display;
        accept ? dialog->accept() : dialog->reject();
    });
    const auto result = m_services.InputBox(QStringLiteral("请输入密码:\r\n\r\n提示"),
                                            QStringLiteral("解密:"), QString(), InputMode(mode));
    QCOMPARE(title, QStringLiteral("解密:"));
    QCOMPARE(label, QStringLiteral("请输入密码:\n\n提示"));
    QCOMPARE(displayed, shown);
    QCOMPARE(result.has_value(), accept);
    if (accept)
        QCOMPARE(*result, typed);
    // The text and its display were wiped before the dialog went: what shares them reads zeros.
    QCOMPARE(heldText, QString(typed.size(), QChar(0)));
    QCOMPARE(heldDisplay, QString(shown.size(), QChar(0)));
}

void TestQtHostServices::longPromptWraps()
{
    const QString prompt =
        QStringLiteral("请输入密码:\r\n警告:由于这是标准加密法,因此不具有密码效验,请输入正确的密码,"
                       "否则解密会失败,建议您使用该解密法之前请备份文件!")
            .repeated(3);
    int width = 0;
    bool wraps = false;
    whenModalShows([&](QWidget* modal) {
        width = modal->frameGeometry().width();
        for (QLabel* label : modal->findChildren<QLabel*>())
            wraps = wraps || (label->wordWrap() && label->text().contains(u'\n'));
        qobject_cast<QDialog*>(modal)->reject();
    });
    QVERIFY(!m_services.InputBox(prompt, QStringLiteral("解密:"), QString(), InputMode::Plain));
    QVERIFY(wraps);
    QVERIFY(width > 0);
    QVERIFY(width <= m_window.screen()->availableGeometry().width());
}

void TestQtHostServices::chooseFiles_data()
{
    QTest::addColumn<bool>("multipleFiles");
    QTest::addColumn<QStringList>("chosen"); // none: the dialog is cancelled
    QTest::newRow("one file") << false << kFileNames.first(1);
    QTest::newRow("one file, cancelled") << false << QStringList();
    QTest::newRow("several allowed, two chosen") << true << kFileNames;
    QTest::newRow("several allowed, cancelled") << true << QStringList();
}

// The dialog shows the title and the one filter it is given, takes one existing file or, when
// allowed, several, and hands back their full native paths; a cancelled dialog gives nothing.
void TestQtHostServices::chooseFiles()
{
    QFETCH(bool, multipleFiles);
    QFETCH(QStringList, chosen);
    QTemporaryDir dir;
    for (const QString& name : kFileNames) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const FileDialogOptions options{QStringLiteral("打开欲加密的文件:"), QStringLiteral("所有文件"),
                                    multipleFiles};

    QString title;
    QStringList filters;
    int fileMode = -1;
    whenModalShows([&](QWidget* modal) {
        auto* fileDialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(fileDialog);
        title = fileDialog->windowTitle();
        filters = fileDialog->nameFilters();
        fileMode = fileDialog->fileMode();
        if (chosen.isEmpty()) {
            fileDialog->reject();
        } else if (chosen.size() == 1) {
            test::chooseInFileDialog(fileDialog, dir.filePath(chosen.first()));
        } else {
            // Several names, each in double quotes, as a person types them in the folder shown.
            fileDialog->setDirectory(dir.path());
            test::chooseInFileDialog(fileDialog,
                                     u'"' + chosen.join(QStringLiteral("\" \"")) + u'"');
        }
    });
    const std::optional<QStringList> result = m_services.ChooseFiles(options);
    QCOMPARE(title, QStringLiteral("打开欲加密的文件:"));
    QCOMPARE(filters, QStringList{QStringLiteral("所有文件 (*)")});
    QCOMPARE(fileMode, int(multipleFiles ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile));
    QCOMPARE(result.has_value(), !chosen.isEmpty());
    if (!result)
        return;
    QStringList expected;
    for (const QString& name : chosen)
        expected << QDir::toNativeSeparators(dir.filePath(name));
    QStringList got = *result;
    got.sort();
    expected.sort();
    QCOMPARE(got, expected);
}

// Long work: the dialog shows with the command's name and the file at work, the window behind
// takes no clicks and no drops, and Cancel reaches the work through its report.
void TestQtHostServices::progressDialogCancels()
{
    QPushButton button(&m_window);
    button.show();
    int clicks = 0;
    connect(&button, &QPushButton::clicked, [&clicks] { ++clicks; });
    DropTarget dropTarget(&m_window);
    dropTarget.setAcceptDrops(true);
    dropTarget.show();
    QTimer::singleShot(100, [&] {
        QTest::mouseClick(&button, Qt::LeftButton);
        dropText(&dropTarget);
    });

    QString title, label;
    whenModalShows([&](QWidget* modal) {
        auto* dialog = qobject_cast<QProgressDialog*>(modal);
        QVERIFY(dialog);
        title = dialog->windowTitle();
        label = dialog->labelText();
        auto* cancel = dialog->findChild<QPushButton*>();
        QVERIFY(cancel);
        QCOMPARE(cancel->text(), QStringLiteral("取消"));
        cancel->click();
    });
    std::atomic<int> steps = 0;
    std::atomic<bool> toldToStop = false;
    m_services.RunWithProgress(QStringLiteral("加密文件"), [&](const ProgressReport& report) {
        // Up to a minute of work, unless cancelled.
        for (; steps < 6000; ++steps) {
            if (!report({steps, 6000, kFileNames.first(), 1, 3})) {
                toldToStop = true;
                return;
            }
            QThread::msleep(10);
        }
    });
    QVERIFY(toldToStop);
    QVERIFY(steps < 6000);
    QCOMPARE(title, QStringLiteral("加密文件"));
    QVERIFY2(label.startsWith(
                 QStringLiteral("正在处理第 2 个文件, 共 3 个: 文件 一.txt\n0.0 / 0.0 MiB")),
             qPrintable(label));
    QCOMPARE(clicks, 0);
    QCOMPARE(dropTarget.drops, 0);
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(clicks, 1); // input flows again afterwards
    dropText(&dropTarget);
    QCOMPARE(dropTarget.drops, 1);
}

void TestQtHostServices::shortWorkShowsNoDialog()
{
    bool shown = false;
    const QPointer<QTimer> watch = whenModalShows(
        [&shown](QWidget* modal) { shown = qobject_cast<QProgressDialog*>(modal) != nullptr; });
    bool ran = false;
    m_services.RunWithProgress(QStringLiteral("解密文件"), [&ran](const ProgressReport& report) {
        ran = report({1, 1, QString(), 0, 1});
    });
    QVERIFY(ran);
    QTest::qWait(700); // past the moment a dialog for this work would have shown
    QVERIFY(!shown);
    QVERIFY(!QApplication::activeModalWidget());
    delete watch;
}

QTEST_MAIN(TestQtHostServices)
#include "tst_qt_host_services.moc"
