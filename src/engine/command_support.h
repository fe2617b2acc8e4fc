#pragma once

// What the encrypt and decrypt commands share: the error box, the choice of the files, running
// file work off the GUI thread behind the host's progress dialog and the message that ends them.

#include "engine/command_outcome.h"
#include "engine/file_job.h"
#include "engine/messages.h"
#include "engine/methods.h"
#include "host/host_services/host_services.h"

#include <QFileInfo>

#include <algorithm>

namespace virellock {

inline void showError(HostServices& host, const QString& text)
{
    host.ShowMessageBox(text, MessageStyle::Error, messages::errorTitle());
}

// Whether the method's cipher runs here; when it does not, says why in an error box. DES and
// RC4 come from OpenSSL's legacy provider, which a system may lack; checked before any dialog
// so that a genuine file is never called foreign for it. The method that only compresses needs
// no cipher.
inline bool cipherReady(HostServices& host, Method method)
{
    const std::optional<dataops::CipherAlgorithm> cipher = cipherOf(method);
    if (!cipher)
        return true;
    const dataops::CipherBackendStatus& backend = dataops::cipherBackendAvailable();
    if (backend.works(*cipher))
        return true;
    showError(host, messages::cipherUnavailable(backend));
    return false;
}

// The files a command works on: those it was given, else those the user chooses in the
// dialog; nothing when the dialog is cancelled.
inline std::optional<QStringList> takeFiles(HostServices& host, const QStringList& given,
                                            const FileDialogOptions& dialog)
{
    if (!given.isEmpty())
        return given;
    std::optional<QStringList> chosen = host.ChooseFiles(dialog);
    if (!chosen || chosen->isEmpty())
        return std::nullopt;
    return chosen;
}

// The texts of the one message that ends a command, by how its file work ended; silence on a
// cancel.
struct OutcomeMessages
{
    QString succeeded;
    QString badInput;      // unreadable, or not what the method reads
    QString failed;        // the new content could not be written
    QString wrongPassword; // the file's own password check refused the password
};

inline QString failureText(const OutcomeMessages& texts, const JobResult& result)
{
    if (result.step == JobStep::PasswordCheck)
        return texts.wrongPassword;
    switch (result.outcome) {
    case JobOutcome::SourceUnreadable:
    case JobOutcome::BadInput:
        return texts.badInput;
    case JobOutcome::Done:
    case JobOutcome::Cancelled:
    case JobOutcome::WriteFailed:
        break;
    }
    return texts.failed;
}

// A file's name, followed by what is said of it when anything is.
inline QString nameWith(const QString& path, const QString& said)
{
    const QString name = QFileInfo(path).fileName();
    return said.isEmpty() ? name : name + QStringLiteral(": ") + said;
}

// Logs each file's result and ends the command with its one message: for one file, the text of
// how it ended, as ever, and beneath it why it failed or the warning its success came with;
// for several, the success text when all are done, followed by the names of the files that
// came with a warning and the warning, else each failure text followed by the names of the
// files that failed so, one a line, each with why, when there is something to say. Failures of
// different kinds (a decryption that meets a foreign file and a wrong password) keep their own
// texts, in groups separated by an empty line, in the order the files came: each says what to do
// about its files. Silent once a file was cancelled, whatever the files before it did.
inline CommandOutcome reportRun(HostServices& host, const char* command, const QStringList& files,
                                const QList<JobResult>& results, const OutcomeMessages& texts)
{
    bool cancelled = false;
    QList<std::pair<QString, QStringList>> failures; // text, file names with reasons
    QStringList warnings;                            // file names with warnings
    QString said; // the reason or the warning, when there is one file
    for (qsizetype i = 0; i < results.size(); ++i) {
        const JobResult& result = results.at(i);
        logJobResult(command, files.at(i), result);
        if (result.outcome == JobOutcome::Cancelled) {
            cancelled = true;
        } else if (result.done()) {
            if (!result.warning.isEmpty())
                warnings.append(nameWith(files.at(i), result.warning));
            said = result.warning;
        } else {
            const QString text = failureText(texts, result);
            auto group = std::find_if(failures.begin(), failures.end(),
                                      [&text](const auto& entry) { return entry.first == text; });
            if (group == failures.end())
                group = failures.insert(failures.end(), {text, {}});
            said = messages::failureReason(result.cause);
            group->second.append(nameWith(files.at(i), said));
        }
    }
    if (cancelled)
        return CommandOutcome::Cancelled;
    if (files.size() == 1) {
        const QString text = failures.isEmpty() ? texts.succeeded : failures.constFirst().first;
        const QString shown = said.isEmpty() ? text : text + u'\n' + said;
        if (failures.isEmpty()) {
            host.ShowMessageBox(shown, MessageStyle::Information, messages::successTitle());
            return CommandOutcome::Succeeded;
        }
        showError(host, shown);
        return CommandOutcome::Failed;
    }
    if (failures.isEmpty()) {
        warnings.prepend(texts.succeeded);
        host.ShowMessageBox(warnings.join(u'\n'), MessageStyle::Information,
                            messages::successTitle());
        return CommandOutcome::Succeeded;
    }
    QStringList paragraphs;
    for (const auto& [text, names] : failures)
        paragraphs.append(text + u'\n' + names.join(u'\n'));
    showError(host, paragraphs.join(QStringLiteral("\n\n")));
    return CommandOutcome::Failed;
}

// Runs job(index, JobOptions) -> JobResult on each of the files in turn, off the GUI thread,
// under one host.RunWithProgress() with the given title; the dialog's Cancel is added to the
// options' own progress callback, and the report tells which file of how many is at work. A
// failed file does not stop the others; a cancelled one ends the run, and the files after it
// are not started. Returns the results of the files started, in order.
template <typename Job>
QList<JobResult> runOnFiles(HostServices& host, const QString& title, const QStringList& files,
                            const JobOptions& options, Job job)
{
    QList<JobResult> results;
    host.RunWithProgress(title, [&](const ProgressReport& report) {
        for (qsizetype i = 0; i < files.size(); ++i) {
            const QFileInfo info(files.at(i));
            const ProgressState file{0, info.size(), info.fileName(), int(i), int(files.size())};
            // Told before the file's own work starts: a Cancel since the last file ends here.
            results.append(report(file) ? job(i, withProgress(options, report, file))
                                        : JobResult(JobOutcome::Cancelled));
            if (results.constLast().outcome == JobOutcome::Cancelled)
                return;
        }
    });
    if (results.isEmpty()) {
        for (qsizetype i = 0; i < files.size(); ++i)
            results.append({JobOutcome::WriteFailed, JobStep::None,
                            QStringLiteral("the host did not run the job")});
    }
    return results;
}

} // namespace virellock
