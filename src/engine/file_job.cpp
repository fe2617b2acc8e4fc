#include "file_job.h"

Q_LOGGING_CATEGORY(lcFileJobs, "virellock.files")

namespace virellock {

QString describe(JobStep step)
{
    switch (step) {
    case JobStep::None:
        return QStringLiteral("nothing");
    case JobStep::OpenFile:
        return QStringLiteral("opening the file");
    case JobStep::ReadFile:
        return QStringLiteral("reading the file");
    case JobStep::FileChanged:
        return QStringLiteral("the file changed while it was read");
    case JobStep::RefusedFile:
        return QStringLiteral("the file may not be rewritten");
    case JobStep::Record:
        return QStringLiteral("reading the record");
    case JobStep::PasswordCheck:
        return QStringLiteral("checking the password");
    case JobStep::RecordChanged:
        return QStringLiteral("the file changed after its password was checked");
    case JobStep::DeriveKeys:
        return QStringLiteral("deriving the keys");
    case JobStep::OpenTemporaryFile:
        return QStringLiteral("making the temporary file");
    case JobStep::NoRoom:
        return QStringLiteral("not enough free disk space");
    case JobStep::WriteTemporaryFile:
        return QStringLiteral("writing the temporary file");
    case JobStep::Content:
        return QStringLiteral("the content is not what the method reads");
    case JobStep::ReadBack:
        return QStringLiteral("reading the temporary file back");
    case JobStep::Replace:
        return QStringLiteral("replacing the file");
    case JobStep::Cancelled:
        return QStringLiteral("cancelled");
    }
    return {};
}

void logJobResult(const char* command, const QString& path, const JobResult& result)
{
    if (result.done() && !result.warning.isEmpty()) {
        qCWarning(lcFileJobs).noquote() << command << path << "done, but:" << result.detail;
        return;
    }
    if (result.done() || result.outcome == JobOutcome::Cancelled) {
        qCInfo(lcFileJobs).noquote() << command << path << (result.done() ? "done" : "cancelled");
        return;
    }
    const QString detail = result.detail.isEmpty() ? QString() : u'(' + result.detail + u')';
    qCWarning(lcFileJobs).noquote()
        << command << path << "failed:" << describe(result.step) << detail;
}

} // namespace virellock
