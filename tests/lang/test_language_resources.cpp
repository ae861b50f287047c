// Both languages of the interface: the choice from the display language, the loaders of
// lang/ui_language.h, and in the built tavo.exe every string, dialog, menu and control in Japanese
// and in English alike, each label within its control in its own font.
#include <doctest/doctest.h>
#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include <vector>
#include "lang/ui_language.h"
#include "res/resource.h"
#include "test_util.h"

namespace {

const LANGID Languages[] = {UI_LANGUAGE_JAPANESE, UI_LANGUAGE_ENGLISH};

// Kana, CJK punctuation and ideographs, and the full-width forms: what an English text never holds.
bool HoldsJapanese(const std::wstring &text)
{
    static const std::wregex japanese(L"[\u3000-\u30FF\u3400-\u9FFF\uF900-\uFAFF\uFF00-\uFFEF]");
    return std::regex_search(text, japanese);
}

// The printf conversions of a text in order ("%s%s"), "%%" left out.
std::wstring FormatConversions(const std::wstring &text)
{
    static const std::wregex conversion(L"%[^A-Za-z%]*[A-Za-z%]");
    std::wstring conversions;
    for (std::wsregex_iterator it(text.begin(), text.end(), conversion), end; it != end; ++it)
        conversions += it->str() == L"%%" ? L"" : it->str();
    return conversions;
}

// The access key of a label ('&' before it, "&&" is a plain '&'), upper-cased; 0 when it has none.
wchar_t AccessKey(const std::wstring &text)
{
    for (size_t i = 0; i + 1 < text.size(); i++)
        if (text[i] == L'&' && text[++i] != L'&')
            return towupper(text[i]);
    return 0;
}

// tavo.exe as built, opened for its resources alone (for the whole run).
HMODULE Program()
{
    static HMODULE module = LoadLibraryExW((BinDir() + L"tavo.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return module;
}

BOOL CALLBACK AddName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names)
{
    if (IS_INTRESOURCE(name))
        ((std::vector<UINT> *)names)->push_back((UINT)(ULONG_PTR)name);
    return TRUE;
}

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages)
{
    ((std::set<LANGID> *)languages)->insert(language);
    return TRUE;
}

std::vector<UINT> NamesOf(HMODULE module, LPCWSTR type)
{
    std::vector<UINT> names;
    EnumResourceNamesW(module, type, AddName, (LONG_PTR)&names);
    return names;
}

// One resource in exactly that language (no fallback to another); null when there is none.
const void *ResourceIn(HMODULE module, LPCWSTR type, UINT name, LANGID language)
{
    HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(name), language);
    return found ? LockResource(LoadResource(module, found)) : nullptr;
}

// The text of a string id in exactly that language: its block holds sixteen (length, units) texts.
std::wstring TextIn(HMODULE module, UINT id, LANGID language)
{
    const WCHAR *text = (const WCHAR *)ResourceIn(module, (LPCWSTR)RT_STRING, id / 16 + 1, language);
    for (UINT i = 0; text && i < id % 16; i++)
        text += 1 + *text;
    return text ? std::wstring(text + 1, *text) : L"";
}

// The same items, commands and nesting in both, an access key in both or in neither, each key
// once within its menu, and no Japanese in the English one.
void CheckMenusAlike(HMENU japanese, HMENU english)
{
    REQUIRE(GetMenuItemCount(japanese) == GetMenuItemCount(english));
    std::set<wchar_t> keys[2];
    for (int i = 0; i < GetMenuItemCount(japanese); i++) {
        MENUITEMINFOW items[2] = {};
        WCHAR texts[2][128] = {};
        for (int k = 0; k < 2; k++) {
            items[k].cbSize = sizeof(items[k]);
            items[k].fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
            items[k].dwTypeData = texts[k];
            items[k].cch = ARRAYSIZE(texts[k]);
            GetMenuItemInfoW(k ? english : japanese, i, TRUE, &items[k]);
            if (AccessKey(texts[k]))
                CHECK(keys[k].insert(AccessKey(texts[k])).second);
        }
        INFO(i, " ", std::wstring(texts[1]));
        CHECK(items[0].fType == items[1].fType);
        CHECK(items[0].fState == items[1].fState);
        CHECK(!items[0].hSubMenu == !items[1].hSubMenu);
        CHECK((items[0].hSubMenu ? 0 : items[0].wID) == (items[1].hSubMenu ? 0 : items[1].wID));
        CHECK(!HoldsJapanese(texts[1]));
        CHECK(!AccessKey(texts[0]) == !AccessKey(texts[1]));
        if (items[0].hSubMenu && items[1].hSubMenu)
            CheckMenusAlike(items[0].hSubMenu, items[1].hSubMenu);
    }
}

// A window's text, or with GetClassNameW its class.
std::wstring TextOf(HWND window, int(WINAPI *get)(HWND, LPWSTR, int) = GetWindowTextW)
{
    WCHAR text[256] = L"";
    get(window, text, ARRAYSIZE(text));
    return text;
}

// Checks that a label, button or check box shows its whole text in its font; false for a control
// that shows no label.
bool CheckLabelFits(HWND control)
{
    std::wstring text = TextOf(control), className = TextOf(control, GetClassNameW);
    DWORD style = (DWORD)GetWindowLongW(control, GWL_STYLE), kind = style & BS_TYPEMASK;
    int edge = GetSystemMetrics(SM_CXEDGE);
    RECT room, extent = {0, 0, 0, 0};
    GetClientRect(control, &room);
    if (text.empty())
        return false;
    bool isStatic = lstrcmpiW(className.c_str(), L"Static") == 0;
    if (isStatic) {
        if ((style & SS_TYPEMASK) > SS_RIGHT && (style & SS_TYPEMASK) != SS_LEFTNOWORDWRAP)
            return false;  // pictures and frames
    } else if (lstrcmpiW(className.c_str(), L"Button") == 0) {
        bool checkable = (kind >= BS_CHECKBOX && kind <= BS_AUTO3STATE) || kind == BS_AUTORADIOBUTTON;
        room.right -= checkable ? GetSystemMetrics(SM_CXMENUCHECK) + 2 * edge : kind == BS_GROUPBOX ? 2 * edge + 8 : 2 * (edge + 2);
    } else {
        return false;
    }
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageW(control, WM_GETFONT, 0, 0));
    DrawTextW(dc, text.c_str(), -1, &extent, DT_CALCRECT | DT_SINGLELINE | (isStatic && (style & SS_NOPREFIX) ? DT_NOPREFIX : 0));
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    INFO(text, " is ", extent.right, " x ", extent.bottom, " in ", room.right, " x ", room.bottom);
    CHECK(extent.right <= room.right);
    CHECK(extent.bottom <= room.bottom);
    return true;
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

}  // namespace

TEST_CASE("the interface is Japanese for a Japanese display language and English for any other")
{
    static const struct { LANGID display, expected; } rows[] = {
        {MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), UI_LANGUAGE_JAPANESE},
        {MAKELANGID(LANG_JAPANESE, SUBLANG_NEUTRAL), UI_LANGUAGE_JAPANESE},
        {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), UI_LANGUAGE_ENGLISH},
        {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), UI_LANGUAGE_ENGLISH},
        {MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), UI_LANGUAGE_ENGLISH},
    };
    for (const auto &row : rows) {
        CAPTURE(row.display);
        CHECK(UiLanguageFor(row.display) == row.expected);
    }
    // The tests run with LC_ALL=ja_JP.UTF-8 unless the caller chose another; Wine follows it.
    CHECK(UiLanguageFor(GetUserDefaultUILanguage()) == UI_LANGUAGE_JAPANESE);
}

TEST_CASE("texts, menus and dialogs load in the chosen language, whatever the thread's language")
{
    // (The popup menu's, the editor's and the first entry's texts are checked where they are shown.)
    static const struct { UINT id; const wchar_t *texts[2]; } rows[] = {
        {IDS_EDITOR_TITLE, {L"データ編集", L"Edit Data"}},
        {IDS_DEFAULT_ENTRY_TEXT, {L"ログインID\r\nパスワード", L"Login ID\r\nPassword"}},
        {IDT_UP, {L"上へ", L"Move Up"}},
        {0xFFF0, {L"", L""}},  // no text: nothing, and the buffer emptied
    };
    static const wchar_t *const exits[] = {L"終了(&X)", L"E&xit"}, *const pages[] = {L"その他", L"Other"};
    for (int k = 0; k < 2; k++) {
        SetUiLanguage(Languages[k]);
        CHECK(UiLanguage() == Languages[k]);
        for (const auto &row : rows) {
            CAPTURE(row.id);
            WCHAR text[64] = L"?";
            CHECK(LoadUiText(row.id, text, ARRAYSIZE(text)) == lstrlenW(row.texts[k]));
            CHECK(std::wstring(text) == std::wstring(row.texts[k]));
        }
        HMENU menu = LoadUiMenu(IDM_TRAY);
        WCHAR exit[32] = L"";
        GetMenuStringW(menu, IDM_EXIT, exit, ARRAYSIZE(exit), MF_BYCOMMAND);
        CHECK(std::wstring(exit) == std::wstring(exits[k]));
        DestroyMenu(menu);
        HWND page = CreateDialogIndirectParamW(nullptr, UiDialogTemplate(IDD_PAGE_OTHER), HWND_MESSAGE, QuietDialogProc, 0);
        CHECK(TextOf(page) == std::wstring(pages[k]));
        DestroyWindow(page);
    }
    // A short buffer gets the start of the text, terminated; an id without a template loads nothing.
    WCHAR small[4] = L"???";
    CHECK(LoadUiText(IDS_EDITOR_TITLE, small, ARRAYSIZE(small)) == 3);
    CHECK(std::wstring(small) == L"Edi");
    CHECK(UiDialogTemplate(0x7FF0) == nullptr);
    CHECK(LoadUiMenu(0x7FF0) == nullptr);
    SetUiLanguage(UI_LANGUAGE_JAPANESE);  // as the other cases expect
}

TEST_CASE("tavo.exe holds every string and menu in Japanese and in English alike, and the pictures once")
{
    HMODULE module = Program();
    REQUIRE(module != nullptr);
    // Strings, menus and dialogs in both languages; pictures, the manifest and the version once.
    for (LPCWSTR type : {RT_STRING, RT_MENU, RT_DIALOG, RT_GROUP_ICON, RT_BITMAP, RT_GROUP_CURSOR, RT_VERSION, RT_MANIFEST}) {
        bool translated = type == RT_STRING || type == RT_MENU || type == RT_DIALOG;
        std::vector<UINT> names = NamesOf(module, type);
        CAPTURE((UINT)(ULONG_PTR)type);
        CHECK(!names.empty());
        for (UINT name : names) {
            std::set<LANGID> languages;
            EnumResourceLanguagesW(module, type, MAKEINTRESOURCEW(name), AddLanguage, (LONG_PTR)&languages);
            INFO(name);
            CHECK((translated ? languages == std::set<LANGID>(Languages, Languages + 2) : languages.size() == 1));
        }
    }

    // Strings: the same ids in both, the same conversions, no Japanese in English.
    int texts = 0;
    for (UINT block : NamesOf(module, RT_STRING))
        for (UINT id = (block - 1) * 16; id < block * 16; id++) {
            std::wstring japanese = TextIn(module, id, UI_LANGUAGE_JAPANESE), english = TextIn(module, id, UI_LANGUAGE_ENGLISH);
            INFO(id, " ", japanese, " ", english);
            CHECK(japanese.empty() == english.empty());
            CHECK(FormatConversions(japanese) == FormatConversions(english));
            CHECK(!HoldsJapanese(english));
            texts += !japanese.empty();
        }
    CHECK(texts >= 40);

    std::vector<UINT> menus = NamesOf(module, RT_MENU);
    for (UINT expected : {IDM_TRAY, IDM_EDITOR})
        CHECK(std::find(menus.begin(), menus.end(), expected) != menus.end());
    for (UINT name : menus) {
        CAPTURE(name);
        HMENU japanese = LoadMenuIndirectW(ResourceIn(module, RT_MENU, name, UI_LANGUAGE_JAPANESE));
        HMENU english = LoadMenuIndirectW(ResourceIn(module, RT_MENU, name, UI_LANGUAGE_ENGLISH));
        REQUIRE(japanese != nullptr);
        REQUIRE(english != nullptr);
        CheckMenusAlike(japanese, english);
        DestroyMenu(japanese);
        DestroyMenu(english);
    }
}

TEST_CASE("every dialog of tavo.exe has the same controls in both languages, each label showing its whole text")
{
    // The Japanese in 9-point ＭＳ Ｐゴシック, the English in the system's shell font.
    static const struct { const wchar_t *face; int points; } fonts[] = {{L"ＭＳ Ｐゴシック", 9}, {L"MS Shell Dlg", 8}};
    REQUIRE(Program() != nullptr);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_UPDOWN_CLASS | ICC_HOTKEY_CLASS};
    InitCommonControlsEx(&controls);
    HDC screen = GetDC(nullptr);
    int pixelsPerInch = GetDeviceCaps(screen, LOGPIXELSY), measured = 0;
    ReleaseDC(nullptr, screen);
    std::vector<UINT> names = NamesOf(Program(), RT_DIALOG);
    for (UINT expected : {IDD_PAGE_MENU, IDD_PAGE_OTHER, IDD_FIND})
        CHECK(std::find(names.begin(), names.end(), expected) != names.end());
    for (UINT name : names) {
        CAPTURE(name);
        HWND dialogs[2];
        for (int k = 0; k < 2; k++) {
            LPCDLGTEMPLATEW form = (LPCDLGTEMPLATEW)ResourceIn(Program(), RT_DIALOG, name, Languages[k]);
            dialogs[k] = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), form, HWND_MESSAGE, QuietDialogProc, 0);
            REQUIRE(dialogs[k] != nullptr);
            LOGFONTW font = {};
            GetObjectW((HFONT)SendMessageW(dialogs[k], WM_GETFONT, 0, 0), sizeof(font), &font);
            CHECK(std::wstring(font.lfFaceName) == fonts[k].face);
            CHECK(font.lfHeight == -MulDiv(fonts[k].points, pixelsPerInch, 72));
        }
        CHECK((GetWindowLongW(dialogs[1], GWL_STYLE) & DS_SHELLFONT) == DS_SHELLFONT);
        // The dialog and then its controls, side by side in the same order.
        HWND japanese = dialogs[0], english = dialogs[1];
        for (int i = 0; japanese || english; i++) {
            INFO(i, " ", TextOf(english));
            REQUIRE(japanese != nullptr);
            REQUIRE(english != nullptr);
            CHECK(GetDlgCtrlID(japanese) == GetDlgCtrlID(english));
            CHECK(TextOf(japanese, GetClassNameW) == TextOf(english, GetClassNameW));
            LONG sameStyle = i == 0 ? ~DS_SHELLFONT : ~0;
            CHECK((GetWindowLongW(japanese, GWL_STYLE) & sameStyle) == (GetWindowLongW(english, GWL_STYLE) & sameStyle));
            CHECK(TextOf(japanese).empty() == TextOf(english).empty());
            CHECK(!HoldsJapanese(TextOf(english)));
            measured += CheckLabelFits(japanese) + CheckLabelFits(english);
            japanese = GetWindow(japanese, i == 0 ? GW_CHILD : GW_HWNDNEXT);
            english = GetWindow(english, i == 0 ? GW_CHILD : GW_HWNDNEXT);
        }
        DestroyWindow(dialogs[0]);
        DestroyWindow(dialogs[1]);
    }
    CHECK(measured >= 12);
}
