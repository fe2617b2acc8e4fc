#include "encrypt_command.h"

#include "engine/encrypted_file.h"
#include "engine/messages.h"
#include "host/host_services/text_services.h"

namespace virellock {

namespace {

void showError(HostServices& host, const QString& text)
{
    host.ShowMessageBox(text, message_style::Error, messages::errorTitle());
}

} // namespace

void runEncryptCommand(const CommandControls& controls, HostServices& host,
                       const JobOptions& options)
{
    if (controls.methodIndex() == -1) {
        showError(host, messages::chooseEncryptMethod());
        return;
    }
    // Blanks alone do not make a password; the check ignores them, the password keeps them.
    if (RemoveAllSpaces(controls.passwordText()).isEmpty() ||
        RemoveAllSpaces(controls.confirmationText()).isEmpty()) {
        showError(host, messages::enterPasswordInFull());
        return;
    }
    if (controls.passwordText() != controls.confirmationText()) {
        showError(host, messages::passwordsDiffer());
        return;
    }
    OpenFileDialog& dialog = controls.encryptDialog();
    if (!host.RunFileDialog(dialog))
        return;

    const ControlsSnapshot snapshot(controls);
    const QString path = dialog.chosenFileName();
    JobOutcome outcome = JobOutcome::WriteFailed;
    host.RunWithProgress(QStringLiteral("加密文件"), [&](const ProgressReport& report) {
        outcome =
            encryptFile(path, snapshot.methodIndex(), snapshot, withProgress(options, report));
    });
    switch (outcome) {
    case JobOutcome::Done:
        host.ShowMessageBox(messages::encryptSucceeded(), message_style::Information,
                            messages::successTitle());
        return;
    case JobOutcome::Cancelled:
        return;
    case JobOutcome::SourceUnreadable:
    case JobOutcome::BadInput:
    case JobOutcome::WriteFailed:
        showError(host, messages::encryptFailed());
        return;
    }
}

} // namespace virellock
