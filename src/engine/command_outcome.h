#pragma once

namespace virellock {

// How an encrypt or decrypt command ended, for whoever started it; the user has been told
// already, in the command's one message.
enum class CommandOutcome
{
    // Before it took its files: a check failed, the user answered No to the question, or the
    // open-file dialog was cancelled. Nothing was touched.
    Stopped,
    // After it took its files: the password prompt or the progress dialog was cancelled. The
    // file at work when it was cancelled, and those after it, are untouched; those before it
    // are done.
    Cancelled,
    // Every file is done.
    Succeeded,
    // At least one file failed, and is untouched; the others are done.
    Failed,
};

} // namespace virellock
