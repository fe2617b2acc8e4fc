#pragma once

// What the encrypt and decrypt commands share: the error box and running file work off the
// GUI thread behind the host's progress dialog.

#include "engine/file_job.h"
#include "engine/messages.h"
#include "host/host_services/host_services.h"

namespace virellock {

inline void showError(HostServices& host, const QString& text)
{
    host.ShowMessageBox(text, message_style::Error, messages::errorTitle());
}

// The one message that ends a command, by how its file work ended; silence on a cancel.
struct OutcomeMessages
{
    QString succeeded;
    QString badInput;
    QString failed;
};

inline void reportOutcome(HostServices& host, JobOutcome outcome, const OutcomeMessages& texts)
{
    switch (outcome) {
    case JobOutcome::Done:
        host.ShowMessageBox(texts.succeeded, message_style::Information, messages::successTitle());
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

// Runs job (JobOptions -> JobOutcome) through host.RunWithProgress() under the given title,
// with the dialog's Cancel added to the options' own progress callback.
template <typename Job>
JobOutcome runWithProgress(HostServices& host, const QString& title, const JobOptions& options,
                           Job job)
{
    JobOutcome outcome = JobOutcome::WriteFailed;
    host.RunWithProgress(
        title, [&](const ProgressReport& report) { outcome = job(withProgress(options, report)); });
    return outcome;
}

} // namespace virellock
