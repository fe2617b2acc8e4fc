#pragma once

#include "host/data_ops/cipher_backend.h"
#include "host/host_services/host_services.h"
#include "program_arguments.h"

namespace virellock {

class MainWindow;

// Writes the folder context-menu entry that starts this program by its full path. Without the
// entry the program works all the same, so the caller need not report a failure.
bool writeFolderEntry();

// The files named on the command line become the window's chosen files: "virellock FILE..."
// or "virellock -- FILE...", as the file managers' entries start it. Names that are not
// existing files are left out.
void chooseArgumentFiles(MainWindow& window, const ProgramArguments& arguments);

// What the program does at start, once its window shows: writes the folder entry and the
// entries for files (host/host_services/file_entries.h), ignoring failures; removes what a
// killed run left beside a file, off the GUI thread (a large leftover takes a while to
// overwrite; the application waits for that removal before it ends); and, when the cipher
// backend's check found DES or RC4 unable to run, says so in an error box through host, with
// the methods that still work.
void startUp(HostServices& host);
// The same with the check's result given, for tests.
void startUp(HostServices& host, const dataops::CipherBackendStatus& backend);

} // namespace virellock
