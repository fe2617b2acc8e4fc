#pragma once

// The one piece of plain Win32 in the program: no Qt, so that it builds on its own.

// wchar_t is a keyword only in C++; C takes it from here.
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Sets the default value of HKEY_CLASSES_ROOT\<key>, creating missing keys. Returns nonzero on
// success.
int virellockSetClassesRootDefaultValue(const wchar_t* key, const wchar_t* value);

#ifdef __cplusplus
}
#endif
