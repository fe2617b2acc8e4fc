#include "encrypt_command.h"

#include "engine/command_support.h"
#include "engine/encrypted_file.h"
#include "host/host_services/text_services.h"

namespace virellock {

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
    const JobOutcome outcome =
        runWithProgress(host, QStringLiteral("加密文件"), options, [&](const JobOptions& job) {
            return encryptFile(path, snapshot.methodIndex(), snapshot, job);
        });
    // The message does not say why encrypting failed.
    reportOutcome(
        host, outcome,
        {messages::encryptSucceeded(), messages::encryptFailed(), messages::encryptFailed()});
}

} // namespace virellock
