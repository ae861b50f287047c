// What the shell tests read back: the start-up shortcut through the shell-link object.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <string>
#include <vector>
#include "test_util.h"

struct ShortcutProperties {
    bool loaded;
    std::wstring path;
    std::wstring description;
    std::wstring arguments;
    std::wstring workingDirectory;
    std::wstring iconPath;
    int iconIndex;
    int showCmd;
    WORD hotkey;
};

inline ShortcutProperties ReadShortcut(const std::wstring &file)
{
    ShortcutProperties properties = {};
    HRESULT initialised = CoInitialize(nullptr);
    IShellLinkW *link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void **)&link))) {
        IPersistFile *persist = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&persist))) {
            if (SUCCEEDED(persist->Load(file.c_str(), STGM_READ))) {
                WCHAR text[MAX_PATH * 2];
                properties.loaded = true;
                text[0] = 0;
                link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
                properties.path = text;
                text[0] = 0;
                link->GetDescription(text, MAX_PATH);
                properties.description = text;
                text[0] = 0;
                link->GetArguments(text, MAX_PATH);
                properties.arguments = text;
                text[0] = 0;
                link->GetWorkingDirectory(text, MAX_PATH);
                properties.workingDirectory = text;
                text[0] = 0;
                link->GetIconLocation(text, MAX_PATH, &properties.iconIndex);
                properties.iconPath = text;
                link->GetShowCmd(&properties.showCmd);
                link->GetHotkey(&properties.hotkey);
            }
            persist->Release();
        }
        link->Release();
    }
    if (SUCCEEDED(initialised))
        CoUninitialize();
    return properties;
}

inline bool SamePath(const std::wstring &a, const std::wstring &b)
{
    return lstrcmpiW(a.c_str(), b.c_str()) == 0;
}
