#include "rewrite_steps.h"

#include "engine/messages.h"

namespace virellock {

namespace {

// Where a refusal shows in the log: the file is one that may not be rewritten, there is no
// room for it, or it changed; the rest failed where they happened.
JobStep stepOf(FailureReason reason, JobStep otherwise)
{
    switch (reason) {
    case FailureReason::ReadOnly:
    case FailureReason::SeveralNames:
    case FailureReason::NotRegularFile:
    case FailureReason::PermissionsNotKept:
        return JobStep::RefusedFile;
    case FailureReason::NoSpace:
    case FailureReason::FileTooLarge:
        return otherwise == JobStep::OpenTemporaryFile ? JobStep::NoRoom : otherwise;
    case FailureReason::FileChanged:
        return JobStep::FileChanged;
    case FailureReason::None:
    case FailureReason::FileInUse:
    case FailureReason::AccessDenied:
    case FailureReason::DiskError:
        break;
    }
    return otherwise;
}

JobResult failed(const AtomicFileWriter& writer, JobStep step)
{
    const FailureCause cause = writer.failureCause();
    return {JobOutcome::WriteFailed, stepOf(cause.reason, step), writer.errorString(), cause};
}

} // namespace

JobResult openRewrite(AtomicFileWriter& writer, qint64 maxSize, const QFileDevice& source,
                      const JobOptions& options)
{
    if (!writer.open(maxSize, &source))
        return failed(writer, JobStep::OpenTemporaryFile);
    if (options.beforeReplace)
        writer.setBeforeReplace(options.beforeReplace);
    return JobOutcome::Done;
}

JobResult writeFailed(const AtomicFileWriter& writer, JobStep step)
{
    return failed(writer, step);
}

JobResult commitRewrite(AtomicFileWriter& writer)
{
    if (!writer.commit())
        return failed(writer, JobStep::Replace);
    JobResult done(JobOutcome::Done);
    if (!writer.warning().isEmpty()) {
        done.warning = messages::folderNotSynced();
        done.detail = writer.warning();
    }
    return done;
}

} // namespace virellock
