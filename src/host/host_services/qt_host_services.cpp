#include "qt_host_services.h"

#include "progress_runner.h"

#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
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
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

std::optional<QStringList> QtHostServices::ChooseFiles(const FileDialogSpec& spec)
{
    QFileDialog dialog(m_dialogParent, spec.title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(spec.multipleFiles ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setNameFilter(spec.filter());
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
