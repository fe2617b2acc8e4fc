#include "qt_host_services.h"

#include "host/data_ops/secure_wipe.h"
#include "progress_runner.h"

#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>

namespace virellock {

namespace {

QMessageBox::Icon iconForStyle(MessageStyle style)
{
    switch (style) {
    case MessageStyle::Error:
        return QMessageBox::Critical;
    case MessageStyle::Question:
        return QMessageBox::Question;
    case MessageStyle::Information:
        break;
    }
    return QMessageBox::Information;
}

} // namespace

Answer QtHostServices::ShowMessageBox(const QString& text, MessageStyle style, const QString& title)
{
    const bool yesNo = style == MessageStyle::Question;
    QMessageBox box(iconForStyle(style), title, text,
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, m_dialogParent);
    if (yesNo)
        box.setDefaultButton(QMessageBox::Yes);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return yesNo ? Answer::No : Answer::Ok;
    }
}

std::optional<QString> QtHostServices::InputBox(const QString& prompt, const QString& title,
                                                const QString& initialText, InputMode mode)
{
    QInputDialog dialog(m_dialogParent);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(title);
    QString shownPrompt = prompt;
    shownPrompt.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    dialog.setLabelText(shownPrompt);
    dialog.setTextValue(initialText);
    dialog.setTextEchoMode(mode == InputMode::Password ? QLineEdit::Password : QLineEdit::Normal);

    // A long prompt wraps instead of stretching the dialog past the screen.
    const QScreen* screen =
        m_dialogParent ? m_dialogParent->screen() : QGuiApplication::primaryScreen();
    const int screenWidth = screen ? screen->availableGeometry().width() : 800;
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        label->setWordWrap(true);
        label->setTextFormat(Qt::PlainText);
        label->setMaximumWidth(std::min(420, screenWidth - 40));
    }
    const bool accepted = dialog.exec() == QDialog::Accepted;
    // The caller gets a copy of its own, and the buffers behind the dialog are wiped before it
    // goes: the text its line edit and the dialog share, and, for a prompt that shows what is
    // typed, the line edit's copy for display (a password box displays only its mask). What
    // Qt keeps beyond these, out of our reach, is listed in secure_wipe.h.
    std::optional<QString> typed;
    if (accepted) {
        const QString text = dialog.textValue();
        typed = QString(text.constData(), text.size());
    }
    dataops::wipeForAllHolders(dialog.textValue());
    if (const auto* edit = dialog.findChild<QLineEdit*>()) {
        dataops::wipeForAllHolders(edit->text());
        dataops::wipeForAllHolders(edit->displayText());
    }
    return typed;
}

std::optional<QStringList> QtHostServices::ChooseFiles(const FileDialogOptions& options)
{
    QFileDialog dialog(m_dialogParent, options.title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(options.multipleFiles ? QFileDialog::ExistingFiles
                                             : QFileDialog::ExistingFile);
    dialog.setNameFilter(options.filter());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    QStringList paths;
    for (const QString& path : dialog.selectedFiles())
        paths << QDir::toNativeSeparators(path);
    return paths;
}

} // namespace virellock

namespace virellock {

void QtHostServices::RunWithProgress(const QString& title,
                                     const std::function<void(const ProgressReport&)>& work)
{
    constexpr int kShowAfterMs = 500;
    runWithProgressDialog(m_dialogParent, title, kShowAfterMs, work);
}

} // namespace virellock
