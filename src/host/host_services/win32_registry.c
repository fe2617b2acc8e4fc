#include "win32_registry.h"

#include <wchar.h>
#include <windows.h>

static int setDefaultValue(HKEY root, const wchar_t* key, const wchar_t* value)
{
    HKEY handle = NULL;
    LONG status = RegCreateKeyExW(root, key, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, NULL,
                                  &handle, NULL);
    if (status != ERROR_SUCCESS)
        return 0;
    const DWORD size = (DWORD)((wcslen(value) + 1) * sizeof(wchar_t));
    status = RegSetValueExW(handle, NULL, 0, REG_SZ, (const BYTE*)value, size);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

int virellockSetUserClassesDefaultValue(const wchar_t* key, const wchar_t* value)
{
    static const wchar_t userClasses[] = L"Software\\Classes\\";
    const size_t length = wcslen(userClasses) + wcslen(key) + 1;
    wchar_t* userKey = (wchar_t*)HeapAlloc(GetProcessHeap(), 0, length * sizeof(wchar_t));
    if (!userKey)
        return 0;
    wcscpy(userKey, userClasses);
    wcscat(userKey, key);
    const int written = setDefaultValue(HKEY_CURRENT_USER, userKey, value);
    HeapFree(GetProcessHeap(), 0, userKey);
    return written;
}

int virellockSetClassesDefaultValue(const wchar_t* key, const wchar_t* value)
{
    if (setDefaultValue(HKEY_CLASSES_ROOT, key, value))
        return VIRELLOCK_REGISTRY_CLASSES_ROOT;
    // An ordinary user may not write the machine's classes, which HKEY_CLASSES_ROOT writes to
    // unless the key already exists among the user's own.
    return virellockSetUserClassesDefaultValue(key, value) ? VIRELLOCK_REGISTRY_USER_CLASSES
                                                           : VIRELLOCK_REGISTRY_FAILED;
}
