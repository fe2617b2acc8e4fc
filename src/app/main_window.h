#pragma once

#include "engine/decrypt_command.h"
#include "engine/encrypt_command.h"
#include "host/host_services/host_services.h"

#include <QMainWindow>

#include <memory>

class QAction;
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
};

// The method list's texts, in list order.
QStringList methodTexts();

} // namespace virellock
