#pragma once

#include "engine/file_job.h"
#include "host/data_ops/secure_wipe.h"
#include "host/host_services/host_services.h"

namespace virellock {

// What the encrypt command works from: the main window's values when its link was clicked,
// and the dialog it lets the user choose the file in. The two passwords share the characters
// of the boxes they were typed in, and are wiped when the inputs go unless those still hold
// them (secure_wipe.h).
struct EncryptInputs
{
    int methodIndex = -1; // the method list's selection, -1 for none
    dataops::SecretString password;
    dataops::SecretString confirmation;
    QString hint;
    FileDialogSpec fileDialog;
};

// A click on the encrypt link: checks the method and the two passwords, lets the user choose a
// file, encrypts it in place and reports the outcome in one message box. Silent when the
// dialog is cancelled.
void runEncryptCommand(const EncryptInputs& inputs, HostServices& host,
                       const JobOptions& options = {});

} // namespace virellock
