#pragma once

#include "engine/command_controls.h"
#include "engine/file_job.h"
#include "host/host_services/host_services.h"

namespace virellock {

// A click on the decrypt link: asks for confirmation, lets the user choose a file, asks for its
// password (showing the stored hint for the enhanced methods), restores the plain content in
// place and reports the outcome in one message box. Foreign and damaged files and wrong
// passwords are refused before the file is touched. Silent on No and on a cancelled dialog or
// prompt; changes no control.
void runDecryptCommand(const CommandControls& controls, HostServices& host,
                       const JobOptions& options = {});

} // namespace virellock
