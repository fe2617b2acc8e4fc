#pragma once

namespace virellock::dataops {

// Frees what OpenSSL keeps for the calling thread: its error queue and random generators.
// OpenSSL frees them itself when a thread ends, but Qt reports a pool thread finished before
// the thread's own exit handlers run, so a process that exits right after its last job can
// reach OpenSSL's clean-up first, and that memory is lost. Tasks on pool threads call this as
// their last step.
void releaseThreadState();

} // namespace virellock::dataops
