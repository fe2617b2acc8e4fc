#include "encrypt_command.h"

#include "engine/command_support.h"
#include "engine/encrypted_file.h"
#include "host/host_services/text_services.h"

namespace virellock {

void runEncryptCommand(const EncryptInputs& inputs, HostServices& host, const JobOptions& options)
{
    if (inputs.methodIndex == -1) {
        showError(host, messages::chooseEncryptMethod());
        return;
    }
    if (const std::optional<Method> method = methodFromIndex(inputs.methodIndex);
        method && !cipherReady(host, *method))
        return;
    // Blanks alone do not make a password; the check ignores them, the password keeps them.
    if (IsAllSpaces(inputs.password.view()) || IsAllSpaces(inputs.confirmation.view())) {
        showError(host, messages::enterPasswordInFull());
        return;
    }
    if (inputs.password.text() != inputs.confirmation.text()) {
        showError(host, messages::passwordsDiffer());
        return;
    }
    const std::optional<QString> path = chooseFile(host, inputs.fileDialog);
    if (!path)
        return;

    const JobResult result =
        runWithProgress(host, QStringLiteral("加密文件"), options, [&](const JobOptions& job) {
            return encryptFile(*path, inputs.methodIndex, inputs.password.text(), inputs.hint, job);
        });
    // The message does not say why encrypting failed; the log does.
    reportOutcome(
        host, "encrypt", *path, result,
        {messages::encryptSucceeded(), messages::encryptFailed(), messages::encryptFailed()});
}

} // namespace virellock
