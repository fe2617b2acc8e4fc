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
    // The method and the password are known and the salts do not depend on the file: the first
    // file's keys are derived on a worker while the user chooses the files. A cancelled dialog
    // drops them, and the worker wipes them when it is done.
    std::optional<KeyPreparation> preparation;
    if (const std::optional<Method> method = methodFromIndex(inputs.methodIndex))
        preparation.emplace(*method, inputs.password.view());
    const std::optional<QStringList> files = takeFiles(host, inputs.files, inputs.fileDialog);
    if (!files)
        return CommandOutcome::Stopped;

    const QList<JobResult> results = runOnFiles(
        host, QStringLiteral("加密文件"), *files, options, [&](qsizetype i, const JobOptions& job) {
            // Each file has salts of its own: only the first takes the prepared keys.
            std::optional<EncryptionKeys> keys;
            if (i == 0 && preparation)
                keys = preparation->take();
            return encryptFile(files->at(i), inputs.methodIndex, inputs.password.text(),
                               inputs.hint, job, std::move(keys));
        });
    // The message does not say why encrypting failed; the log does.
    const QString failed = messages::encryptFailed();
    return reportRun(host, "encrypt", *files, results,
                     {messages::encryptSucceeded(), failed, failed, failed});
}

} // namespace virellock
