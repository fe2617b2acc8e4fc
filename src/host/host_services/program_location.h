#pragma once

#include <QString>

namespace virellock {

// The folder that holds the running program, in the platform's notation and without a
// trailing separator, and the program file's name with its extension.
QString GetProgramDirectory();
QString GetProgramFileName();

// Directory, the platform's separator, file name.
QString programFullPath();

} // namespace virellock
