#pragma once

#include "engine/command_outcome.h"
#include "engine/file_job.h"
#include "host/data_ops/secure_wipe.h"
#include "host/host_services/host_services.h"

namespace virellock {

// What the encrypt command works from: the main window's values when its link was clicked,
// the dialog it lets the user choose the files in, and the files it was given instead. The two
// passwords share the characters of the boxes they were typed in, and are wiped when the
// inputs go unless those still hold them (secure_wipe.h).
struct EncryptInputs
{
    int methodIndex = -1; // the method list's selection, -1 for none
    dataops::SecretString password;
    dataops::SecretString confirmation;
    QString hint;
    FileDialogOptions fileDialog;
    // The files to encrypt, by their paths; when empty, the user chooses them in fileDialog.
    QStringList files;
};

// A click on the encrypt link: checks the method and the two passwords, takes the files (given,
// or chosen in the dialog), encrypts each in place, one after another under one progress
// dialog, and reports the outcome in one message box. A file that fails is left as it was and
// the others go on; the message then names the failed files when there were several. Silent
// when the dialog or the progress dialog is cancelled.
CommandOutcome runEncryptCommand(const EncryptInputs& inputs, HostServices& host,
                                 const JobOptions& options = {});

} // namespace virellock
