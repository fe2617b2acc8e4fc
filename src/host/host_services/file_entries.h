#pragma once

#include <QString>

namespace virellock {

// Writes, for this user, the file managers' context-menu entries for files, each starting the
// program at programPath with the files chosen there as its arguments:
//
// - Windows: "Virellock" for every file type, under
//   HKEY_CURRENT_USER\Software\Classes\*\shell\Virellock\command, whose command is
//   "<programPath>" "%1" (Explorer starts one program a file); and Virellock.lnk in the user's
//   Send To folder, which takes any number of files at once.
// - Linux: a KDE service menu for all files ($XDG_DATA_HOME/kio/servicemenus/
//   virellock-files.desktop, the files as %F) and a GNOME Files script ($XDG_DATA_HOME/
//   nautilus/scripts/<kFileScriptName>) that passes the paths GNOME Files lists in
//   NAUTILUS_SCRIPT_SELECTED_FILE_PATHS.
//
// Rewritten whole at every call, so a moved program is found again. True when all were written;
// the program works without them, so a caller need not report a failure.
bool writeFileEntries(const QString& programPath);

// The GNOME Files script's name, as its Scripts menu shows it: the folder entry's script is
// "Virellock", and both show for any selection.
inline const QString kFileScriptName = QStringLiteral("Virellock 打开所选文件");

} // namespace virellock
