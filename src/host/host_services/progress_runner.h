#pragma once

#include "host/host_services/host_services.h"

#include <QWidget>

namespace virellock {

// Runs work on a thread of its own while the calling (GUI) thread goes on handling events:
// user input to every window but the progress dialog is held back (drops included), closing a
// window is refused, and after showDelayMs a modal progress dialog shows what the work last
// reported, in ProgressEstimate's words. Returns when the work has finished; a cancelled run is
// one whose work saw the report return false.
void runWithProgressDialog(QWidget* parent, const QString& title, int showDelayMs,
                           const std::function<void(const ProgressReport&)>& work);

} // namespace virellock
