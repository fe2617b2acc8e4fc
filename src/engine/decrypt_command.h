#pragma once

#include "engine/command_outcome.h"
#include "engine/file_job.h"
#include "host/host_services/host_services.h"

namespace virellock {

// What the decrypt command works from: the method selected when its link was clicked, the
// text the method list shows for it, the dialog it lets the user choose the files in, and the
// files it was given instead.
struct DecryptInputs
{
    int methodIndex = -1; // the method list's selection, -1 for none
    QString methodText;
    FileDialogOptions fileDialog;
    // The files to decrypt, by their paths; when empty, the user chooses them in fileDialog.
    QStringList files;
};

// A click on the decrypt link: asks for confirmation, takes the files (given, or chosen in the
// dialog), asks once for the password (showing the stored hint of the first file for the
// enhanced methods), restores the plain content of each in place, one after another under one
// progress dialog, and reports the outcome in one message box. Foreign and damaged files and
// wrong passwords are refused before a file is touched; a file that fails is left as it was and
// the others go on, and the message then names the failed files when there were several.
// Silent on No and on a cancelled dialog, prompt or progress dialog.
CommandOutcome runDecryptCommand(const DecryptInputs& inputs, HostServices& host,
                                 const JobOptions& options = {});

} // namespace virellock
