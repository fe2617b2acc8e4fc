#pragma once

#include "engine/file_job.h"
#include "host/host_services/host_services.h"

namespace virellock {

// What the decrypt command works from: the method selected when its link was clicked, the
// text the method list shows for it, and the dialog it lets the user choose the file in.
struct DecryptInputs
{
    int methodIndex = -1; // the method list's selection, -1 for none
    QString methodText;
    FileDialogSpec fileDialog;
};

// A click on the decrypt link: asks for confirmation, lets the user choose a file, asks for its
// password (showing the stored hint for the enhanced methods), restores the plain content in
// place and reports the outcome in one message box. Foreign and damaged files and wrong
// passwords are refused before the file is touched. Silent on No and on a cancelled dialog or
// prompt.
void runDecryptCommand(const DecryptInputs& inputs, HostServices& host,
                       const JobOptions& options = {});

} // namespace virellock
