#include "win32_registry.h"

#include <wchar.h>
#include <windows.h>

int virellockSetClassesRootDefaultValue(const wchar_t* key, const wchar_t* value)
{
    HKEY handle = NULL;
    LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key, 0, NULL, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, NULL, &handle, NULL);
    if (status != ERROR_SUCCESS)
        return 0;
    const DWORD size = (DWORD)((wcslen(value) + 1) * sizeof(wchar_t));
    status = RegSetValueExW(handle, NULL, 0, REG_SZ, (const BYTE*)value, size);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}
