#pragma once

#include "host/host_services/failure_reason.h"
#include "host/host_services/host_services.h"

#include <QIODevice>
#include <QLoggingCategory>
#include <QString>

#include <functional>

// File jobs log how they ended here: failures as warnings, with their step and reason.
Q_DECLARE_LOGGING_CATEGORY(lcFileJobs)

namespace virellock {

// How a file rewrite ended. The commands turn these into their messages.
enum class JobOutcome
{
    Done,
    Cancelled,
    // The file could not be opened or read.
    SourceUnreadable,
    // The content is not what the method reads: foreign, damaged, or a wrong password.
    BadInput,
    // The new content could not be written, or did not read back as it should.
    WriteFailed,
};

// The step of a file job that failed, for the record: the user's message depends only on the
// outcome, but the log and the tests say what went wrong.
enum class JobStep
{
    None,
    OpenFile,           // opening the file to read it
    ReadFile,           // reading it
    FileChanged,        // it changed while it was read, or another file took its name
    RefusedFile,        // a file that may not be rewritten (read-only, several names)
    Record,             // the file does not hold a record of the enhanced methods
    PasswordCheck,      // the typed password does not pass the record's password check
    RecordChanged,      // the record is no longer the one the password was checked against
    DeriveKeys,         // the salt, the key derivation or the password check
    OpenTemporaryFile,  // making the temporary file beside the file
    NoRoom,             // the restored content would not fit on the disk
    WriteTemporaryFile, // writing the new content to it
    Content,            // the content is not what the method reads: foreign, damaged, wrong key
    ReadBack,           // the temporary file did not read back as it was written
    Replace,            // flushing the temporary file and renaming it over the file
    Cancelled,
};

// The words for a step in the log.
QString describe(JobStep step);

// How a file job ended and, when it failed, where and why: the step and the system's error
// text or what a check found, for the log, and the cause, for the person.
struct JobResult
{
    JobOutcome outcome = JobOutcome::Done;
    JobStep step = JobStep::None;
    QString detail;
    FailureCause cause;
    // Done, but with something the person should know, in their words: shown beneath the
    // success message.
    QString warning;

    JobResult() = default;
    // Done, or cancelled by the user: nothing else to say.
    JobResult(JobOutcome finished) : outcome(finished)
    {
        Q_ASSERT(finished == JobOutcome::Done || finished == JobOutcome::Cancelled);
        if (finished == JobOutcome::Cancelled)
            step = JobStep::Cancelled;
    }
    JobResult(JobOutcome failed, JobStep failedStep, QString why = {}, FailureCause because = {})
        : outcome(failed), step(failedStep), detail(std::move(why)), cause(because)
    {}

    [[nodiscard]] bool done() const { return outcome == JobOutcome::Done; }
    bool operator==(JobOutcome other) const { return outcome == other; }
};

// The file changed while it was read, or another file took its name: the same outcome wherever
// it is found, so that the person is told the same.
inline JobResult fileChanged(QString detail, JobStep step = JobStep::FileChanged)
{
    return {JobOutcome::WriteFailed, step, std::move(detail), FailureReason::FileChanged};
}

// Logs how the command's job on path ended.
void logJobResult(const char* command, const QString& path, const JobResult& result);

// Called as the work goes on with the bytes done out of the total; returning false cancels.
using ProgressCallback = std::function<bool(qint64 done, qint64 total)>;

struct JobOptions
{
    ProgressCallback progress;
    // Reading the new content back before it replaces the file; only the benchmark turns it
    // off, to measure what it costs.
    bool verifyBeforeReplacing = true;
    // Decryption only: tells whether the file decrypts, and writes nothing. Every chunk is
    // authenticated and deciphered, or the frame decompressed and its checksum checked, as
    // decrypting would, but the plain text goes nowhere: no temporary file is made and the file
    // stays as it is, even a read-only one. The outcome is the one decrypting would have,
    // short of the writing. Encryption refuses it.
    bool checkOnly = false;
    // Worker threads for the ciphers; 0 for one per core.
    int threads = 0;
    // Test seam: runs on the temporary file just before it is read back.
    std::function<void(QIODevice& temporaryFile)> beforeVerify;
    // Test seam: runs once the temporary file is on the disk, just before the path is checked
    // to still name the file that was read and the file is replaced.
    std::function<void()> beforeReplace;
};

// The options with report added to their own progress callback, told the bytes as progress
// on file (its name and place in the run): both must agree to go on.
inline JobOptions withProgress(JobOptions options, const ProgressReport& report,
                               const ProgressState& file)
{
    ProgressCallback own = std::move(options.progress);
    options.progress = [own, report, file](qint64 done, qint64 total) {
        ProgressState state = file;
        state.done = done;
        state.total = total;
        const bool reported = report(state);
        return (!own || own(done, total)) && reported;
    };
    return options;
}

} // namespace virellock
