#include "decrypt_command.h"

#include "engine/command_support.h"
#include "engine/decrypted_file.h"
#include "host/data_ops/password_check.h"
#include "host/data_ops/secure_wipe.h"

namespace virellock {

namespace {

using dataops::SecretString;

// The progress dialog's title: the name of the link that started the command.
const QString kTitle = QStringLiteral("解密文件");

void report(HostServices& host, const QString& path, const JobResult& result)
{
    // Unreadable, foreign, damaged, or read with the wrong password or method: not ours.
    reportOutcome(
        host, "decrypt", path, result,
        {messages::decryptSucceeded(), messages::notOurFile(), messages::decryptFailed()});
}

// The password typed at the prompt, held to be wiped when the command is done with it;
// nothing when the prompt is cancelled.
std::optional<SecretString> askPassword(HostServices& host, const QString& prompt, InputMode mode)
{
    std::optional<QString> typed =
        host.InputBox(prompt, messages::decryptPromptTitle(), QString(), mode);
    if (!typed)
        return std::nullopt;
    return SecretString(std::move(*typed));
}

} // namespace

void runDecryptCommand(const DecryptInputs& inputs, HostServices& host, const JobOptions& options)
{
    const std::optional<Method> method = methodFromIndex(inputs.methodIndex);
    if (!method) {
        showError(host, messages::chooseDecryptMethod());
        return;
    }
    if (!cipherReady(host, *method))
        return;
    const QString question = messages::confirmDecrypt(inputs.methodText);
    if (host.ShowMessageBox(question, MessageStyle::Question, messages::questionTitle()) !=
        Answer::Yes)
        return;
    const std::optional<QString> chosen = chooseFile(host, inputs.fileDialog);
    if (!chosen)
        return;
    const QString& path = *chosen;

    if (!isEnhanced(*method)) {
        const std::optional<SecretString> password =
            askPassword(host, messages::standardPrompt(), InputMode::Plain);
        if (!password)
            return;
        report(host, path, runWithProgress(host, kTitle, options, [&](const JobOptions& job) {
                   return decryptStandardFile(path, *cipherOf(*method), password->text(), job);
               }));
        return;
    }

    const std::optional<EnhancedRecord> record = readEnhancedRecordFile(path);
    if (!record) {
        logJobResult("decrypt", path,
                     {JobOutcome::BadInput, JobStep::Record,
                      QStringLiteral("not exactly three values within their bounds")});
        showError(host, messages::notOurFile());
        return;
    }
    const std::optional<SecretString> password =
        askPassword(host, messages::hintPrompt(record->hint), InputMode::Password);
    if (!password)
        return;
    if (!dataops::verifyPasswordCheck(record->password_check, password->view())) {
        logJobResult("decrypt", path, {JobOutcome::BadInput, JobStep::PasswordCheck});
        showError(host, messages::wrongPassword());
        return;
    }
    report(host, path, runWithProgress(host, kTitle, options, [&](const JobOptions& job) {
               return restoreEnhancedFile(path, *method, *record, password->text(), job);
           }));
}

} // namespace virellock
