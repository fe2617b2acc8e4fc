#define COBJMACROS

#include "win32_shell_link.h"

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <wchar.h>
#include <windows.h>

// Saves a shell link to target with arguments at path, through COM's IShellLinkW and its
// IPersistFile.
static int saveShellLink(const wchar_t* path, const wchar_t* target, const wchar_t* arguments)
{
    IShellLinkW* link = NULL;
    if (FAILED(CoCreateInstance(&CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, &IID_IShellLinkW,
                                (void**)&link)))
        return 0;
    int saved = 0;
    IPersistFile* file = NULL;
    if (SUCCEEDED(IShellLinkW_SetPath(link, target)) &&
        SUCCEEDED(IShellLinkW_SetArguments(link, arguments)) &&
        SUCCEEDED(IShellLinkW_QueryInterface(link, &IID_IPersistFile, (void**)&file))) {
        saved = SUCCEEDED(IPersistFile_Save(file, path, TRUE));
        IPersistFile_Release(file);
    }
    IShellLinkW_Release(link);
    return saved;
}

int virellockWriteSendToShortcut(const wchar_t* name, const wchar_t* target,
                                 const wchar_t* arguments)
{
    PWSTR folder = NULL;
    if (FAILED(SHGetKnownFolderPath(&FOLDERID_SendTo, KF_FLAG_CREATE, NULL, &folder)))
        return 0;
    static const wchar_t extension[] = L".lnk";
    const size_t length = wcslen(folder) + 1 + wcslen(name) + wcslen(extension) + 1;
    wchar_t* path = (wchar_t*)HeapAlloc(GetProcessHeap(), 0, length * sizeof(wchar_t));
    int written = 0;
    if (path) {
        wcscpy(path, folder);
        wcscat(path, L"\\");
        wcscat(path, name);
        wcscat(path, extension);
        // The calling thread may have COM set up already, in either model; it serves as it is.
        const HRESULT initialised = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
        written = saveShellLink(path, target, arguments);
        if (SUCCEEDED(initialised))
            CoUninitialize();
        HeapFree(GetProcessHeap(), 0, path);
    }
    CoTaskMemFree(folder);
    return written;
}
