#pragma once

#include "engine/decrypt_command.h"
#include "engine/encrypt_command.h"
#include "host/host_services/host_services.h"

#include <QMainWindow>

#include <memory>

class QAction;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;

namespace virellock {

class LinkLabel;
class OpenFileDialog;

// The program's one window. Its controls keep the names they are known by everywhere, as
// member names and as object names; a click on a link hands the command the controls' values.
class MainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    // The commands show their dialogs through host; without one, through Qt's dialogs.
    explicit MainWindow(HostServices* host = nullptr, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Runs when the window has been created: selects the default method and applies the hint
    // rule.
    void OnMainWindowCreated();

    // Chooses the files the next click on a link works on, in place of its open-file dialog:
    // the existing files among paths (relative ones from the current folder), as full native
    // paths, each file once however many names (links) it was given by; folders and missing
    // names are left out. When any remain they replace the choice and the title names them;
    // otherwise the choice stays as it was. True when they replaced it. The choice goes once a
    // command has taken the files: once it has worked on them, or been cancelled at the
    // password prompt or in the progress dialog. A command stopped before (a check failed, No
    // to the question) keeps it, to be clicked again.
    bool setChosenFiles(const QStringList& paths);
    const QStringList& chosenFiles() const { return m_chosenFiles; }

public slots:
    // The hint rule: the hint prompt and box are shown and enabled except for the methods
    // whose files hold no hint. The hint's text is never touched.
    void OnMethodSelected();
    void OnExitMenu();
    void OnEncryptClicked();
    void OnDecryptClicked();

signals:
    void encryptClicked();
    void decryptClicked();

protected:
    // Files dropped on the window become its chosen files; the password and hint boxes pass
    // drops of files on to it, and take dropped text as ever.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildFrame();
    void buildMenu();
    void buildPanel();
    void buildPasswordGroup();
    void buildMethodGroup();
    void buildLinks();
    void buildDialogs();

    // The method list's selected index, -1 when nothing is selected.
    int selectedMethodIndex() const;
    EncryptInputs encryptInputs() const;
    DecryptInputs decryptInputs() const;

    // Accepts a drag or drop that carries usable files, and takes those of a drop.
    void takeDrop(QDropEvent* event);
    // After a command given the chosen files: clears them once it took them.
    void commandEnded(const QStringList& given, CommandOutcome outcome);
    void showChosenFiles();

    QFrame* 外形框 = nullptr;
    QGroupBox* 分组框2 = nullptr;
    QLabel* 标签2 = nullptr;
    QLineEdit* 编辑框1 = nullptr;
    QLabel* 标签3 = nullptr;
    QLineEdit* 编辑框2 = nullptr;
    QLabel* 标签4 = nullptr;
    QLineEdit* 编辑框3 = nullptr;
    QGroupBox* 分组框1 = nullptr;
    QListWidget* 列表框 = nullptr;
    LinkLabel* 超级链接框1 = nullptr;
    LinkLabel* 超级链接框2 = nullptr;
    OpenFileDialog* 加密对话框 = nullptr;
    OpenFileDialog* 解密对话框 = nullptr;
    QAction* 退出 = nullptr;

    std::unique_ptr<HostServices> m_ownHost;
    HostServices* m_host = nullptr;
    QStringList m_chosenFiles;
};

// The method list's texts, in list order.
QStringList methodTexts();

} // namespace virellock
