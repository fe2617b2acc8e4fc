#pragma once

#include <QString>

namespace virellock {

inline constexpr int kRegistryClassesRoot = 1;

// Sets a text value in the registry. A key path ending in a backslash sets that key's default
// value; missing keys are created. True on success.
//
// Windows: HKEY_CLASSES_ROOT only; where this user may not write the machine's classes, the
// same key under HKEY_CURRENT_USER\Software\Classes, which Windows shows in HKEY_CLASSES_ROOT
// for this user. A "...\command\" value that starts a program is written with the program
// path in double quotes, so a path with blanks cannot be misread.
//
// Elsewhere there is no registry. The one value the program writes, the folder context-menu
// command "Folder\shell\<Name>\command\", becomes the file managers' own per-user entries
// under $XDG_DATA_HOME: a KDE service menu for folders and a GNOME Files script, each starting
// the program by its quoted full path followed by "--". Other values are refused. They are
// written the way writeFileEntries() writes its own (file_entries.h).
bool WriteRegistryValue(int root, const QString& keyPath, const QString& value);

} // namespace virellock
