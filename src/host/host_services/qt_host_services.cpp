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

QMessageBox::Icon iconForStyle(int style)
{
    switch (style & 0xF0) {
    case message_style::ErrorIcon:
        return QMessageBox::Critical;
    case message_style::QuestionIcon:
        return QMessageBox::Question;
    case message_style::WarningIcon:
        return QMessageBox::Warning;
    case message_style::InformationIcon:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

int QtHostServices::ShowMessageBox(const QString& text, int style, const QString& title)
{
    const bool yesNo = (style & 0x0F) == message_style::YesNo;
    QMessageBox box(iconForStyle(style), title, text,
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, m_dialogParent);
    if (yesNo)
        box.setDefaultButton(QMessageBox::Yes);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return answer::Yes;
    case QMessageBox::No:
        return answer::No;
    default:
        return yesNo ? answer::No : answer::Ok;
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

bool QtHostServices::RunFileDialog(OpenFileDialog& fileDialog)
{
    QFileDialog dialog(m_dialogParent, fileDialog.title());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(fileDialog.filter());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    fileDialog.setChosenFileName(QDir::toNativeSeparators(dialog.selectedFiles().constFirst()));
    return true;
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
