#include "main_window.h"

#include "engine/methods.h"
#include "host/host_services/file_services.h"
#include "host/host_services/qt_host_services.h"
#include "link_label.h"
#include "open_file_dialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>

// The icons are compiled into this library; a static library must ask for them by name.
static void initResources()
{
    Q_INIT_RESOURCE(virellock);
}

namespace virellock {

namespace {

const QColor kBackground(236, 236, 236);
// The panel spans the window's outer width of 337 pixels; a frame of 3 pixels a side covers
// its edges, so 331 pixels of it show, everything the controls need.
constexpr int kClientWidth = 331;
constexpr int kPanelWidth = 337;
constexpr int kPanelHeight = 144;
constexpr int kListRowHeight = 14;

template <typename Widget>
Widget* place(Widget* widget, const char* name, int left, int top, int width, int height)
{
    widget->setObjectName(QString::fromUtf8(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

QLineEdit* makeEdit(QWidget* parent, const char* name, int top, bool password)
{
    auto* edit = place(new QLineEdit(parent), name, 9, top, 140, 16);
    if (password)
        edit->setEchoMode(QLineEdit::Password);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, Qt::white);
    edit->setPalette(palette);
    return edit;
}

// The local files and folders among the URLs of a drag, by their paths; nothing else.
QStringList localPaths(const QMimeData* data)
{
    QStringList paths;
    if (!data)
        return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    return paths;
}

// The existing files among paths, as full native paths, in order and each once: a file named
// again, by the same path or another (a link to it), is left out, or a command would work on it
// twice.
QStringList existingFiles(const QStringList& paths)
{
    QStringList files;
    QList<FileSystemIdentity> identities;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (path.isEmpty() || !info.isFile())
            continue;
        const QString file = QDir::toNativeSeparators(info.absoluteFilePath());
        const std::optional<FileSystemIdentity> identity = fileIdentity(file);
        if (files.contains(file) || (identity && identities.contains(*identity)))
            continue;
        files.append(file);
        if (identity)
            identities.append(*identity);
    }
    return files;
}

} // namespace

QStringList methodTexts()
{
    QStringList texts;
    for (int index = 0; index < 5; ++index)
        texts.append(methodName(*methodFromIndex(index)));
    return texts;
}

MainWindow::MainWindow(HostServices* host, QWidget* parent) : QMainWindow(parent), m_host(host)
{
    if (!m_host) {
        m_ownHost = std::make_unique<QtHostServices>(this);
        m_host = m_ownHost.get();
    }
    buildFrame();
    buildMenu();
    buildPanel();
    buildPasswordGroup();
    buildMethodGroup();
    buildLinks();
    buildDialogs();
    setAcceptDrops(true);
    for (QLineEdit* edit : {编辑框1, 编辑框2, 编辑框3})
        edit->installEventFilter(this);

    // Fixed size: the layout does not follow a change of size, so nothing offers to maximise.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    move(50, 50);

    OnMainWindowCreated();
}

MainWindow::~MainWindow() = default;

// The window's name, title, icon, background and font.
void MainWindow::buildFrame()
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("Virellock"));
    initResources();
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128})
        icon.addFile(QStringLiteral(":/icons/virellock-%1.png").arg(size), QSize(size, size));
    setWindowIcon(icon);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kBackground);
    setPalette(palette);
    QFont font = this->font();
    font.setPixelSize(12);
    setFont(font);
}

void MainWindow::buildMenu()
{
    auto* programMenu = menuBar()->addMenu(QStringLiteral("程序"));
    退出 = programMenu->addAction(QStringLiteral("退出"));
    退出->setObjectName(QStringLiteral("退出"));
    connect(退出, &QAction::triggered, this, &MainWindow::OnExitMenu);
}

// The panel below the menu bar that holds every control.
void MainWindow::buildPanel()
{
    auto* client = new QWidget(this);
    client->setFixedSize(kClientWidth, kPanelHeight);
    setCentralWidget(client);
    外形框 = place(new QFrame(client), "外形框", 0, 0, kPanelWidth, kPanelHeight);
    外形框->setFrameShape(QFrame::NoFrame);
    外形框->setAutoFillBackground(true);
}

void MainWindow::buildPasswordGroup()
{
    分组框2 = place(new QGroupBox(QStringLiteral("加密设置:"), 外形框), "分组框2", 3, 8, 157, 130);
    标签2 = place(new QLabel(QStringLiteral("请输入密码:"), 分组框2), "标签2", 9, 16, 64, 16);
    编辑框1 = makeEdit(分组框2, "编辑框1", 32, true);
    标签3 = place(new QLabel(QStringLiteral("请再次输入密码:"), 分组框2), "标签3", 9, 50, 96, 16);
    编辑框2 = makeEdit(分组框2, "编辑框2", 67, true);
    标签4 =
        place(new QLabel(QStringLiteral("请输入密码遗忘提示:"), 分组框2), "标签4", 9, 86, 120, 16);
    编辑框3 = makeEdit(分组框2, "编辑框3", 104, false);
    编辑框3->setEnabled(false);
}

void MainWindow::buildMethodGroup()
{
    分组框1 = place(new QGroupBox(QStringLiteral("加密或解密的方式:"), 外形框), "分组框1", 171, 8,
                    157, 96);
    列表框 = place(new QListWidget(分组框1), "列表框", 8, 14, 140, 74);
    列表框->setSelectionMode(QAbstractItemView::SingleSelection);
    列表框->setSortingEnabled(false);
    列表框->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (const QString& text : methodTexts()) {
        auto* item = new QListWidgetItem(text, 列表框);
        item->setSizeHint(QSize(0, kListRowHeight));
    }
    connect(列表框, &QListWidget::itemSelectionChanged, this, &MainWindow::OnMethodSelected);
}

void MainWindow::buildLinks()
{
    超级链接框1 = new LinkLabel(QStringLiteral("超级链接框1"), QStringLiteral("加密文件"), 外形框);
    超级链接框1->setGeometry(170, 112, 61, 24);
    超级链接框2 = new LinkLabel(QStringLiteral("超级链接框2"), QStringLiteral("解密文件"), 外形框);
    超级链接框2->setGeometry(259, 112, 61, 24);
    connect(超级链接框1, &LinkLabel::clicked, this, &MainWindow::encryptClicked);
    connect(超级链接框2, &LinkLabel::clicked, this, &MainWindow::decryptClicked);
    connect(this, &MainWindow::encryptClicked, this, &MainWindow::OnEncryptClicked);
    connect(this, &MainWindow::decryptClicked, this, &MainWindow::OnDecryptClicked);
}

// The two open-file dialogs, described here and shown by the host when a command asks.
void MainWindow::buildDialogs()
{
    加密对话框 = new OpenFileDialog(QStringLiteral("加密对话框"),
                                    QStringLiteral("打开欲加密的文件:"), 外形框);
    解密对话框 =
        new OpenFileDialog(QStringLiteral("解密对话框"), QStringLiteral("打开欲解密的文件:"), this);
}

int MainWindow::selectedMethodIndex() const
{
    const QList<QListWidgetItem*> selected = 列表框->selectedItems();
    return selected.isEmpty() ? -1 : 列表框->row(selected.constFirst());
}

EncryptInputs MainWindow::encryptInputs() const
{
    return {selectedMethodIndex(), 编辑框1->text(),       编辑框2->text(),
            编辑框3->text(),       加密对话框->options(), m_chosenFiles};
}

DecryptInputs MainWindow::decryptInputs() const
{
    const int index = selectedMethodIndex();
    const QListWidgetItem* item = 列表框->item(index);
    return {index, item ? item->text() : QString(), 解密对话框->options(), m_chosenFiles};
}

void MainWindow::OnMainWindowCreated()
{
    列表框->setCurrentRow(int(kDefaultMethod));
    OnMethodSelected();
}

void MainWindow::OnMethodSelected()
{
    const std::optional<Method> method = methodFromIndex(selectedMethodIndex());
    const bool hintOn = !method || storesHint(*method);
    标签4->setVisible(hintOn);
    编辑框3->setVisible(hintOn);
    编辑框3->setEnabled(hintOn);
}

void MainWindow::OnExitMenu()
{
    QCoreApplication::exit(0);
}

void MainWindow::OnEncryptClicked()
{
    const EncryptInputs inputs = encryptInputs();
    commandEnded(inputs.files, runEncryptCommand(inputs, *m_host));
}

void MainWindow::OnDecryptClicked()
{
    const DecryptInputs inputs = decryptInputs();
    commandEnded(inputs.files, runDecryptCommand(inputs, *m_host));
}

void MainWindow::commandEnded(const QStringList& given, CommandOutcome outcome)
{
    // Compared, in case files were chosen anew meanwhile.
    if (given.isEmpty() || outcome == CommandOutcome::Stopped || given != m_chosenFiles)
        return;
    m_chosenFiles.clear();
    showChosenFiles();
}

bool MainWindow::setChosenFiles(const QStringList& paths)
{
    const QStringList files = existingFiles(paths);
    if (files.isEmpty())
        return false;
    m_chosenFiles = files;
    showChosenFiles();
    return true;
}

void MainWindow::showChosenFiles()
{
    const QString title = QStringLiteral("Virellock");
    if (m_chosenFiles.isEmpty())
        setWindowTitle(title);
    else if (m_chosenFiles.size() == 1)
        setWindowTitle(title + QStringLiteral(" - ") + QFileInfo(m_chosenFiles.first()).fileName());
    else
        setWindowTitle(title + QStringLiteral(" - %1 files").arg(m_chosenFiles.size()));
}

void MainWindow::takeDrop(QDropEvent* event)
{
    const QStringList files = existingFiles(localPaths(event->mimeData()));
    // The files are only read where they are: a copy, or a link, never a move that the source
    // might complete by deleting them.
    const Qt::DropActions possible = event->possibleActions();
    if (files.isEmpty() || !(possible & (Qt::CopyAction | Qt::LinkAction))) {
        event->ignore();
        return;
    }
    event->setDropAction(possible & Qt::CopyAction ? Qt::CopyAction : Qt::LinkAction);
    event->accept();
    if (event->type() == QEvent::Drop)
        setChosenFiles(files);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    takeDrop(event);
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event)
{
    takeDrop(event);
}

void MainWindow::dropEvent(QDropEvent* event)
{
    takeDrop(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
        // Paths must not end up in a password box; text dragged in stays the box's own.
        auto* drop = static_cast<QDropEvent*>(event);
        if (localPaths(drop->mimeData()).isEmpty())
            break;
        takeDrop(drop);
        return true;
    }
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace virellock
