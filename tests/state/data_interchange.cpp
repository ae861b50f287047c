// Writes or reads a fixed set of settings and entries in a folder, through the program's own
// SaveIniData/SaveItems and LoadIniData/LoadItems. tools/data-interchange.sh runs it from the x86 and
// the x64 build against each other's files.
//   data_interchange write DIR | read DIR      exit code 0 = done and, for read, all equal
#include <windows.h>
#include <cstdio>
#include <cwchar>
#include "state/data_files.h"
#include "state/ini_data.h"
#include "state/item_store.h"

namespace {

struct Entry {
    ItemKind kind;
    const WCHAR *name;
    const WCHAR *text;
};

// Oldest first, as paste.dat keeps them: Japanese, line breaks, tabs, empty names and texts.
const Entry Entries[] = {
    {Registered, L"サイト名", L"ログインID\r\nパスワード"},
    {History, L"", L"copied\ttext with a tab"},
    {Registered, L"", L""},
    {History, L"", L"改行で終わる\r\n"},
    {Registered, L"Company VPN (backup account, EU)", L"alice\r\nS3cret!\r\n123456"},
};

void FillIni(IniData *ini)
{
    SetDefaultIniData(ini);
    ini->pasteWaitMs = 37;
    ini->menuKeyMode = 1;
    ini->hotkeyVk = VK_F9;
    ini->hotkeyMods = MOD_ALT | MOD_CONTROL;
    ini->menuItemChars = 12;
    ini->menuWrapCount = 7;
    ini->historyMax = 321;
    ini->treeWidth = 180;
    ini->editorPlacement.length = sizeof(WINDOWPLACEMENT);
    ini->editorPlacement.showCmd = SW_SHOWNORMAL;
    ini->editorPlacement.rcNormalPosition = {10, 20, 610, 420};
}

int Write()
{
    IniData ini;
    FillIni(&ini);
    for (const Entry &entry : Entries)
        ItemStore::Insert(entry.kind, entry.name, entry.text);
    if (!SaveIniData(&ini) || !SaveItems()) {
        fwprintf(stderr, L"data_interchange: the save failed\n");
        return 1;
    }
    return 0;
}

int Read()
{
    int failures = 0;
    IniData expected, loaded;
    FillIni(&expected);
    ZeroMemory(&loaded, sizeof(loaded));
    if (!LoadIniData(&loaded) || memcmp(&expected, &loaded, sizeof(IniData)) != 0) {
        fwprintf(stderr, L"data_interchange: ini.dat does not hold the settings written\n");
        failures++;
    }
    if (!LoadItems() || ItemStore::Size() != (int)ARRAYSIZE(Entries)) {
        fwprintf(stderr, L"data_interchange: paste.dat gave %d entries, not %d\n", ItemStore::Size(), (int)ARRAYSIZE(Entries));
        return failures + 1;
    }
    const Entry *entry = Entries;
    for (const auto &pair : ItemStore::Items()) {
        if (pair.second.kind != entry->kind || wcscmp(pair.second.name, entry->name) != 0 ||
            wcscmp(pair.second.text, entry->text) != 0) {
            fwprintf(stderr, L"data_interchange: entry %d differs\n", pair.first);
            failures++;
        }
        entry++;
    }
    return failures;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3 || (wcscmp(argv[1], L"write") != 0 && wcscmp(argv[1], L"read") != 0)) {
        fwprintf(stderr, L"usage: data_interchange write|read DIR\n");
        return 2;
    }
    SetDataDirectoryForTests(argv[2]);
    int failures = wcscmp(argv[1], L"write") == 0 ? Write() : Read();
    wprintf(L"data_interchange %ls (%d-bit): %d failure(s)\n", argv[1], (int)sizeof(void *) * 8, failures);
    return failures == 0 ? 0 : 1;
}
