#pragma once

// Windows only.

#include <QString>

#include <string>

namespace virellock {

// The path as the Win32 file functions take it past MAX_PATH: absolute, with backslashes,
// behind \\?\ (or \\?\UNC\ for a share), which also turns off the rewriting of names such as
// "CON" and of trailing dots and blanks.
std::wstring longPath(const QString& path);

} // namespace virellock
