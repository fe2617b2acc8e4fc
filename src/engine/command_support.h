#pragma once

// What the encrypt and decrypt commands share: the error box, the choice of a file and running
// file work off the GUI thread behind the host's progress dialog.

#include "engine/file_job.h"
#include "engine/messages.h"
#include "engine/methods.h"
#include "host/host_services/host_services.h"

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

// The file the user chooses in the dialog; nothing when it is cancelled. The commands work on
// one file, the first chosen.
inline std::optional<QString> chooseFile(HostServices& host, const FileDialogSpec& dialog)
{
    const std::optional<QStringList> chosen = host.ChooseFiles(dialog);
    if (!chosen || chosen->isEmpty())
        return std::nullopt;
    return chosen->constFirst();
}

// The one message that ends a command, by how its file work ended; silence on a cancel.
struct OutcomeMessages
{
    QString succeeded;
    QString badInput;
    QString failed;
};

// The job's result is logged with its reason; the user's message says only how it ended.
inline void reportOutcome(HostServices& host, const char* command, const QString& path,
                          const JobResult& result, const OutcomeMessages& texts)
{
    logJobResult(command, path, result);
    switch (result.outcome) {
    case JobOutcome::Done:
        host.ShowMessageBox(texts.succeeded, MessageStyle::Information, messages::successTitle());
        return;
    case JobOutcome::Cancelled:
        return;
    case JobOutcome::SourceUnreadable:
    case JobOutcome::BadInput:
        showError(host, texts.badInput);
        return;
    case JobOutcome::WriteFailed:
        showError(host, texts.failed);
        return;
    }
}

// Runs job (JobOptions -> JobResult) through host.RunWithProgress() under the given title,
// with the dialog's Cancel added to the options' own progress callback.
template <typename Job>
JobResult runWithProgress(HostServices& host, const QString& title, const JobOptions& options,
                          Job job)
{
    JobResult outcome{JobOutcome::WriteFailed, JobStep::None,
                      QStringLiteral("the host did not run the job")};
    host.RunWithProgress(
        title, [&](const ProgressReport& report) { outcome = job(withProgress(options, report)); });
    return outcome;
}

} // namespace virellock
