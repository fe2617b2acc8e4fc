#include "decrypt_command.h"

#include "engine/command_support.h"
#include "engine/decrypted_file.h"
#include "host/data_ops/secure_wipe.h"

namespace virellock {

namespace {

using dataops::SecretString;

// The progress dialog's title: the name of the link that started the command.
const QString kTitle = QStringLiteral("解密文件");

CommandOutcome report(HostServices& host, const QStringList& files, const QList<JobResult>& results)
{
    // Unreadable, foreign, damaged, or read with the wrong password or method: not ours. Only
    // an enhanced file's own password check tells a wrong password for certain.
    return reportRun(host, "decrypt", files, results,
                     {messages::decryptSucceeded(), messages::notOurFile(),
                      messages::decryptFailed(), messages::wrongPassword()});
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

// The enhanced methods: one prompt, with the hint of the first file that holds a record. Each
// file passes its own password check on the work's thread, never on the GUI thread, at the
// same time as its keys are derived or its payload restored (restoreEnhancedFile()); a file
// whose check fails is a failed file like any other, and the message says the password is
// wrong.
CommandOutcome decryptEnhanced(HostServices& host, Method method, const QStringList& files,
                               const JobOptions& options)
{
    qsizetype hintFile = -1;
    std::optional<EnhancedRecord> hintRecord;
    QList<JobResult> noRecord;
    for (qsizetype i = 0; i < files.size() && !hintRecord; ++i) {
        EnhancedRecordReading reading = readEnhancedRecordOrFailure(files.at(i));
        hintRecord = std::move(reading.record);
        noRecord.append(reading.failure);
        hintFile = i;
    }
    if (!hintRecord) {
        // Nothing to prompt for: no file is ours.
        return report(host, files, noRecord);
    }
    const std::optional<SecretString> password =
        askPassword(host, messages::hintPrompt(hintRecord->hint), InputMode::Password);
    if (!password)
        return CommandOutcome::Cancelled;

    const auto restore = [&](qsizetype i, const JobOptions& job) -> JobResult {
        const EnhancedRecordReading reading =
            i == hintFile ? EnhancedRecordReading{hintRecord, JobOutcome::Done}
                          : readEnhancedRecordOrFailure(files.at(i));
        if (!reading.record)
            return reading.failure;
        return restoreEnhancedFile(files.at(i), method, *reading.record, password->text(), job);
    };
    return report(host, files, runOnFiles(host, kTitle, files, options, restore));
}

} // namespace

CommandOutcome runDecryptCommand(const DecryptInputs& inputs, HostServices& host,
                                 const JobOptions& options)
{
    const std::optional<Method> method = methodFromIndex(inputs.methodIndex);
    if (!method) {
        showError(host, messages::chooseDecryptMethod());
        return CommandOutcome::Stopped;
    }
    if (!cipherReady(host, *method))
        return CommandOutcome::Stopped;
    const QString question = messages::confirmDecrypt(inputs.methodText);
    if (host.ShowMessageBox(question, MessageStyle::Question, messages::questionTitle()) !=
        Answer::Yes)
        return CommandOutcome::Stopped;
    const std::optional<QStringList> files = takeFiles(host, inputs.files, inputs.fileDialog);
    if (!files)
        return CommandOutcome::Stopped;

    if (isEnhanced(*method))
        return decryptEnhanced(host, *method, *files, options);
    const std::optional<SecretString> password =
        askPassword(host, messages::standardPrompt(), InputMode::Plain);
    if (!password)
        return CommandOutcome::Cancelled;
    return report(
        host, *files,
        runOnFiles(host, kTitle, *files, options, [&](qsizetype i, const JobOptions& job) {
            return decryptStandardFile(files->at(i), *cipherOf(*method), password->text(), job);
        }));
}

} // namespace virellock
