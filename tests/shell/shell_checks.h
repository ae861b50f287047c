// What the shell tests read back: the start-up shortcut through the shell-link object, and the
// plain images of paste.dat and ini.dat.
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

struct Entry {
    int kind;
    std::wstring name;
    std::wstring text;
    bool operator==(const Entry &other) const
    {
        return kind == other.kind && name == other.name && text == other.text;
    }
};

inline void AppendUtf16(Bytes *out, const std::wstring &text)
{
    for (wchar_t ch : text) {
        out->push_back((BYTE)(ch & 0xFF));
        out->push_back((BYTE)(ch >> 8));
    }
    out->push_back(0);
    out->push_back(0);
}

inline void AppendInt(Bytes *out, int value)
{
    for (int i = 0; i < 4; i++)
        out->push_back((BYTE)((unsigned)value >> (8 * i)));
}

// The encrypted paste.dat holding these entries in this order.
inline Bytes EncryptedPasteFile(const std::vector<Entry> &entries)
{
    Bytes plain;
    AppendInt(&plain, (int)entries.size());
    for (const Entry &entry : entries) {
        AppendInt(&plain, entry.kind);
        AppendUtf16(&plain, entry.name);
        AppendUtf16(&plain, entry.text);
    }
    return DecryptDataFile(plain);
}

// Parses a decrypted paste.dat; false when the image is not exactly count + records.
inline bool ParsePasteImage(const Bytes &plain, std::vector<Entry> *entries)
{
    entries->clear();
    size_t at = 0;
    auto readInt = [&](int *value) {
        if (at + 4 > plain.size())
            return false;
        *value = (int)(plain[at] | plain[at + 1] << 8 | plain[at + 2] << 16 | (unsigned)plain[at + 3] << 24);
        at += 4;
        return true;
    };
    auto readString = [&](std::wstring *text) {
        text->clear();
        for (;;) {
            if (at + 2 > plain.size())
                return false;
            wchar_t ch = (wchar_t)(plain[at] | plain[at + 1] << 8);
            at += 2;
            if (ch == 0)
                return true;
            text->push_back(ch);
        }
    };
    int count = 0;
    if (!readInt(&count) || count < 0)
        return false;
    for (int i = 0; i < count; i++) {
        Entry entry;
        if (!readInt(&entry.kind) || !readString(&entry.name) || !readString(&entry.text))
            return false;
        entries->push_back(entry);
    }
    return at == plain.size();
}
