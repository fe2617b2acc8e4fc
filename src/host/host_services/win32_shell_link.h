#pragma once

// Plain Win32 for the Send To shortcut: no Qt, so that it builds on its own.

// wchar_t is a keyword only in C++; C takes it from here.
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Writes the shortcut <name>.lnk to target with arguments in this user's Send To folder (made
// when missing), replacing one of that name. Explorer's Send To menu starts target with the
// shortcut's arguments and then every chosen file as an argument. Nonzero on success.
int virellockWriteSendToShortcut(const wchar_t* name, const wchar_t* target,
                                 const wchar_t* arguments);

#ifdef __cplusplus
}
#endif
