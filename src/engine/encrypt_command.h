#pragma once

#include "engine/file_job.h"
#include "host/host_services/host_services.h"

namespace virellock {

// What the encrypt command works from: the main window's values when its link was clicked,
// and the dialog it lets the user choose the file in.
struct EncryptInputs
{
    int methodIndex = -1; // the method list's selection, -1 for none
    QString password;
    QString confirmation;
    QString hint;
    FileDialogSpec fileDialog;
};

// A click on the encrypt link: checks the method and the two passwords, lets the user choose a
// file, encrypts it in place and reports the outcome in one message box. Silent when the
// dialog is cancelled.
void runEncryptCommand(const EncryptInputs& inputs, HostServices& host,
                       const JobOptions& options = {});

} // namespace virellock
