#include "decrypt_command.h"

#include "engine/decrypted_file.h"
#include "engine/messages.h"
#include "host/data_ops/password_check.h"

namespace virellock {

namespace {

void showError(HostServices& host, const QString& text)
{
    host.ShowMessageBox(text, message_style::Error, messages::errorTitle());
}

void report(HostServices& host, JobOutcome outcome)
{
    switch (outcome) {
    case JobOutcome::Done:
        host.ShowMessageBox(messages::decryptSucceeded(), message_style::Information,
                            messages::successTitle());
        return;
    case JobOutcome::Cancelled:
        return;
    case JobOutcome::SourceUnreadable:
    case JobOutcome::BadInput:
        showError(host, messages::notOurFile());
        return;
    case JobOutcome::WriteFailed:
        showError(host, messages::decryptFailed());
        return;
    }
}

} // namespace

void runDecryptCommand(const CommandControls& controls, HostServices& host,
                       const JobOptions& options)
{
    const std::optional<Method> method = methodFromIndex(controls.methodIndex());
    if (!method) {
        showError(host, messages::chooseDecryptMethod());
        return;
    }
    const QString question = messages::confirmDecrypt(controls.methodText(int(*method)));
    if (host.ShowMessageBox(question, message_style::Question, messages::questionTitle()) !=
        answer::Yes)
        return;
    OpenFileDialog& dialog = controls.decryptDialog();
    if (!host.RunFileDialog(dialog))
        return;
    const QString path = dialog.chosenFileName();

    if (!isEnhanced(*method)) {
        const std::optional<QString> password =
            host.InputBox(messages::standardPrompt(), messages::decryptPromptTitle(), QString(),
                          InputMode::Plain);
        if (!password)
            return;
        JobOutcome outcome = JobOutcome::WriteFailed;
        host.RunWithProgress(QStringLiteral("解密文件"), [&](const ProgressReport& progress) {
            outcome = decryptStandardFile(path, *cipherOf(*method), *password,
                                          withProgress(options, progress));
        });
        report(host, outcome);
        return;
    }

    const std::optional<EnhancedRecord> record = readEnhancedRecordFile(path);
    if (!record) {
        showError(host, messages::notOurFile());
        return;
    }
    const std::optional<QString> password =
        host.InputBox(messages::hintPrompt(record->hint), messages::decryptPromptTitle(), QString(),
                      InputMode::Password);
    if (!password)
        return;
    if (!dataops::verifyPasswordCheck(record->password_check, *password)) {
        showError(host, messages::wrongPassword());
        return;
    }
    JobOutcome outcome = JobOutcome::WriteFailed;
    host.RunWithProgress(QStringLiteral("解密文件"), [&](const ProgressReport& progress) {
        outcome =
            restoreEnhancedFile(path, *method, *record, *password, withProgress(options, progress));
    });
    report(host, outcome);
}

} // namespace virellock
