#pragma once

#include "engine/command_controls.h"
#include "host/host_services/host_services.h"
#include "host/host_services/open_file_dialog.h"

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

// The program's one window. Its controls keep the names they are known by everywhere, as
// member names and as object names. The commands read them through CommandControls.
class MainWindow final : public QMainWindow, public CommandControls
{
    Q_OBJECT

public:
    // The commands show their dialogs through host; without one, through Qt's dialogs.
    explicit MainWindow(HostServices* host = nullptr, QWidget* parent = nullptr);
    ~MainWindow() override;

    int methodIndex() const override;
    QString methodText(int index) const override;
    QString passwordText() const override;
    QString confirmationText() const override;
    QString hintText() const override;
    OpenFileDialog& encryptDialog() const override;
    OpenFileDialog& decryptDialog() const override;

    // Runs when the window has been created: selects the default method, applies the hint
    // rule and writes the folder context-menu entry.
    void OnMainWindowCreated();

public slots:
    // The hint rule: the hint prompt and box are shown and enabled except for the two
    // standard methods, whose files hold no hint. The hint's text is never touched.
    void OnMethodSelected();
    void OnExitMenu();
    void OnEncryptClicked();
    void OnDecryptClicked();

signals:
    void encryptClicked();
    void decryptClicked();

public:
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

private:
    std::unique_ptr<HostServices> m_ownHost;
    HostServices* m_host = nullptr;
};

// The method list's texts, in list order.
QStringList methodTexts();

} // namespace virellock
