#include "encrypt_command.h"

#include "engine/command_support.h"
#include "engine/encrypted_file.h"
#include "host/host_services/text_services.h"

namespace virellock {

CommandOutcome runEncryptCommand(const EncryptInputs& inputs, HostServices& host,
                                 const JobOptions& options)
{
    if (inputs.methodIndex == -1) {
        showError(host, messages::chooseEncryptMethod());
        return CommandOutcome::Stopped;
    }
    if (const std::optional<Method> method = methodFromIndex(inputs.methodIndex);
        method && !cipherReady(host, *method))
        return CommandOutcome::Stopped;
    // Blanks alone do not make a password; the check ignores them, the password keeps them.
    if (IsAllSpaces(inputs.password.view()) || IsAllSpaces(inputs.confirmation.view())) {
        showError(host, messages::enterPasswordInFull());
        return CommandOutcome::Stopped;
    }
    if (inputs.password.text() != inputs.confirmation.text()) {
        showError(host, messages::passwordsDiffer());
        return CommandOutcome::Stopped;
    }
    const std::optional<QStringList> files = takeFiles(host, inputs.files, inputs.fileDialog);
    if (!files)
        return CommandOutcome::Stopped;

    const QList<JobResult> results = runOnFiles(
        host, QStringLiteral("加密文件"), *files, options, [&](qsizetype i, const JobOptions& job) {
            return encryptFile(files->at(i), inputs.methodIndex, inputs.password.text(),
                               inputs.hint, job);
        });
    // The message does not say why encrypting failed; the log does.
    const QString failed = messages::encryptFailed();
    return reportRun(host, "encrypt", *files, results,
                     {messages::encryptSucceeded(), failed, failed, failed});
}

} // namespace virellock
