#pragma once

#include "engine/command_controls.h"
#include "engine/file_job.h"
#include "host/host_services/host_services.h"

namespace virellock {

// A click on the encrypt link: checks the method and the two password boxes, lets the user
// choose a file, encrypts it in place and reports the outcome in one message box. Silent when
// the dialog is cancelled; changes no control.
void runEncryptCommand(const CommandControls& controls, HostServices& host,
                       const JobOptions& options = {});

} // namespace virellock
