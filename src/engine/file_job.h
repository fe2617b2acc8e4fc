#pragma once

#include "host/host_services/host_services.h"

#include <QIODevice>

#include <functional>

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

// Called as the work goes on with the bytes done out of the total; returning false cancels.
using ProgressCallback = ProgressReport;

struct JobOptions
{
    ProgressCallback progress;
    // Reading the new content back before it replaces the file; only the benchmark turns it
    // off, to measure what it costs.
    bool verifyBeforeReplacing = true;
    // Worker threads for the ciphers; 0 for one per core.
    int threads = 0;
    // Test seam: runs on the temporary file just before it is read back.
    std::function<void(QIODevice& temporaryFile)> beforeVerify;
};

// The options with report added to their own progress callback: both must agree to go on.
inline JobOptions withProgress(JobOptions options, const ProgressReport& report)
{
    ProgressCallback own = std::move(options.progress);
    options.progress = [own, report](qint64 done, qint64 total) {
        const bool reported = report(done, total);
        return (!own || own(done, total)) && reported;
    };
    return options;
}

} // namespace virellock
