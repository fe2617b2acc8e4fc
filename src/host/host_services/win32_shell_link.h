#pragma once

// Plain Win32 for the Send To shortcut: no Qt, so that it builds on its own.

// wchar_t is a keyword only in C++; C takes it from here.
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Writes the shortcut <name>.lnk to target in this user's Send To folder (made when missing),
// replacing one of that name. Explorer's Send To menu starts target with every chosen file as an
// argument. Nonzero on success.
int virellockWriteSendToShortcut(const wchar_t* name, const wchar_t* target);

#ifdef __cplusplus
}
#endif
