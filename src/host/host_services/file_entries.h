#pragma once

#include <QString>

namespace virellock {

// Writes, for this user, the file managers' context-menu entries for files, each starting the
// program at programPath with "--" and then the files chosen there as its arguments, so that no
// file name is read as an option:
//
// - Windows: "Virellock" for every file type, under
//   HKEY_CURRENT_USER\Software\Classes\*\shell\Virellock\command, whose command is
//   "<programPath>" -- "%1" (Explorer starts one program a file); and Virellock.lnk in the user's
//   Send To folder, with the argument "--", which takes any number of files at once.
// - Linux: a KDE service menu for all files ($XDG_DATA_HOME/kio/servicemenus/
//   virellock-files.desktop, the files as %F) and a GNOME Files script ($XDG_DATA_HOME/
//   nautilus/scripts/<kFileScriptName>) that passes on the files GNOME Files gives it as
//   arguments, each made a full path.
//
// Rewritten at every call where they differ, so a moved program is found again. On Linux an
// entry is never written through a symbolic link (one planted at an entry's name is replaced,
// one among its folders fails the write), and root writes none into a data or home folder that
// is not root's. True when all are as they should be; the program works without them, so a
// caller need not report a failure.
bool writeFileEntries(const QString& programPath);

// The GNOME Files script's name, as its Scripts menu shows it: the folder entry's script is
// "Virellock", and both show for any selection.
inline const QString kFileScriptName = QStringLiteral("Virellock 打开所选文件");

} // namespace virellock
