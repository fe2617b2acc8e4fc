#pragma once

#include "host/host_services/open_file_dialog.h"

#include <QMainWindow>

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;

namespace virellock {

class LinkLabel;

// The program's one window. Its controls keep the names they are known by everywhere, as
// member names and as object names.
class MainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);

    // The method list's selected index, -1 when nothing is selected.
    int methodIndex() const;

    // Runs when the window has been created: selects the default method, applies the hint
    // rule and writes the folder context-menu entry.
    void OnMainWindowCreated();

public slots:
    // The hint rule: the hint prompt and box are shown and enabled except for the two
    // standard methods, whose files hold no hint. The hint's text is never touched.
    void OnMethodSelected();
    void OnExitMenu();

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
};

// The method list's texts, in list order.
QStringList methodTexts();

} // namespace virellock
