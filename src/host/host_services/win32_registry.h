#pragma once

// Plain Win32 for the registry: no Qt, so that it builds on its own.

// wchar_t is a keyword only in C++; C takes it from here.
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Where virellockSetClassesDefaultValue() wrote.
enum
{
    VIRELLOCK_REGISTRY_FAILED = 0,
    VIRELLOCK_REGISTRY_CLASSES_ROOT = 1,
    VIRELLOCK_REGISTRY_USER_CLASSES = 2
};

// Sets the default value of the classes key <key>, creating missing keys: under
// HKEY_CLASSES_ROOT where this process may write there (for all users; an administrator),
// else under HKEY_CURRENT_USER\Software\Classes, which Windows shows in HKEY_CLASSES_ROOT for
// this user. Returns where it went, or VIRELLOCK_REGISTRY_FAILED.
int virellockSetClassesDefaultValue(const wchar_t* key, const wchar_t* value);

// Sets the default value of HKEY_CURRENT_USER\Software\Classes\<key>, creating missing keys:
// this user's classes only. Nonzero on success.
int virellockSetUserClassesDefaultValue(const wchar_t* key, const wchar_t* value);

#ifdef __cplusplus
}
#endif
