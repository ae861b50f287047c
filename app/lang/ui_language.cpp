// The language of the user interface and the resources of tavo.exe in it.
#include "lang/ui_language.h"

// The language every text, dialog and menu is loaded in; owned here, set once at start.
static LANGID g_uiLanguage = UI_LANGUAGE_JAPANESE;

LANGID UiLanguageFor(LANGID displayLanguage)
{
    return PRIMARYLANGID(displayLanguage) == LANG_JAPANESE ? UI_LANGUAGE_JAPANESE : UI_LANGUAGE_ENGLISH;
}

void ChooseUiLanguage()
{
    g_uiLanguage = UiLanguageFor(GetUserDefaultUILanguage());
}

void SetUiLanguage(LANGID language)
{
    g_uiLanguage = language;
}

LANGID UiLanguage()
{
    return g_uiLanguage;
}

// The resource of that type and id in the interface language, else in Japanese.
static const void *FindUiResource(LPCWSTR type, LPCWSTR name)
{
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceExW(module, type, name, g_uiLanguage);
    if (!found)
        found = FindResourceExW(module, type, name, UI_LANGUAGE_JAPANESE);
    if (!found)
        return nullptr;
    HGLOBAL loaded = LoadResource(module, found);
    return loaded ? LockResource(loaded) : nullptr;
}

// A string table block holds sixteen texts, each its length in UTF-16 units and then the units.
static int CopyBlockText(const WCHAR *block, DWORD blockUnits, UINT index, WCHAR *buffer, int room)
{
    DWORD at = 0;
    for (UINT i = 0; i < index && at < blockUnits; i++)
        at += 1 + block[at];
    if (at >= blockUnits)
        return 0;
    DWORD length = block[at];
    if (length == 0 || at + 1 + length > blockUnits)
        return 0;
    int copied = length < (DWORD)room ? (int)length : room - 1;
    CopyMemory(buffer, block + at + 1, copied * sizeof(WCHAR));
    buffer[copied] = L'\0';
    return copied;
}

static int LoadTextIn(LANGID language, UINT id, WCHAR *buffer, int room)
{
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceExW(module, (LPCWSTR)RT_STRING, MAKEINTRESOURCEW((id >> 4) + 1), language);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const WCHAR *block = loaded ? (const WCHAR *)LockResource(loaded) : nullptr;
    if (!block)
        return 0;
    return CopyBlockText(block, SizeofResource(module, found) / sizeof(WCHAR), id & 15, buffer, room);
}

int LoadUiText(UINT id, WCHAR *buffer, int room)
{
    if (!buffer || room <= 0)
        return 0;
    buffer[0] = L'\0';
    int length = LoadTextIn(g_uiLanguage, id, buffer, room);
    if (length == 0 && g_uiLanguage != UI_LANGUAGE_JAPANESE)
        length = LoadTextIn(UI_LANGUAGE_JAPANESE, id, buffer, room);
    return length;
}

LPCDLGTEMPLATEW UiDialogTemplate(UINT id)
{
    return (LPCDLGTEMPLATEW)FindUiResource((LPCWSTR)RT_DIALOG, MAKEINTRESOURCEW(id));
}

HMENU LoadUiMenu(UINT id)
{
    const void *menuTemplate = FindUiResource((LPCWSTR)RT_MENU, MAKEINTRESOURCEW(id));
    return menuTemplate ? LoadMenuIndirectW(menuTemplate) : nullptr;
}
