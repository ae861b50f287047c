// The start-up registration: "tavo.lnk" in the user's Startup folder. The file's existence is the
// whole state; one command deletes it when present and creates it otherwise.
#include "shell/shell.h"
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

BOOL StartupShortcutPath(WCHAR path[MAX_PATH])
{
    static const WCHAR fileName[] = L"\\tavo.lnk";
    path[0] = 0;
    // Creates the Startup folder when it is missing.
    if (!SHGetSpecialFolderPathW(nullptr, path, CSIDL_STARTUP, TRUE)) {
        path[0] = 0;
        return FALSE;
    }
    if (lstrlenW(path) + lstrlenW(fileName) >= MAX_PATH) {
        path[0] = 0;
        return FALSE;
    }
    lstrcatW(path, fileName);
    return TRUE;
}

BOOL FileExists(const WCHAR *path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return FALSE;
    FindClose(search);
    return TRUE;
}

static void WriteStartupShortcut(IShellLinkW *link, const WCHAR *exePath)
{
    link->SetPath(exePath);
    link->SetDescription(AppTitle);
    link->SetArguments(L"/s");
    link->SetWorkingDirectory(L"");
    link->SetIconLocation(L"", 0);
    link->SetShowCmd(SW_SHOWNORMAL);
}

static void CreateStartupShortcut(const WCHAR *path)
{
    WCHAR exePath[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, exePath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    // COM is balanced only when this call initialised it; another caller's apartment stays as it was.
    HRESULT initialised = CoInitialize(nullptr);
    IShellLinkW *link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void **)&link))) {
        IPersistFile *file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file))) {
            WriteStartupShortcut(link, exePath);
            file->Save(path, TRUE);
            file->Release();
        }
        link->Release();
    }
    if (SUCCEEDED(initialised))
        CoUninitialize();
}

void ToggleStartupShortcut()
{
    WCHAR path[MAX_PATH];
    if (!StartupShortcutPath(path))
        return;
    if (FileExists(path)) {
        DeleteFileW(path);
        return;
    }
    CreateStartupShortcut(path);
}
