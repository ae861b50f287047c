// Both languages of the interface: the choice from the display language, the loaders of
// lang/ui_language.h, and in the built tavo.exe every string, dialog, menu and control in Japanese
// and in English alike, each label within its control in its own font.
#include <doctest/doctest.h>
#include <windows.h>
#include <commctrl.h>
#include <map>
#include <set>
#include <string>
#include <vector>
#include "lang/ui_language.h"
#include "res/resource.h"
#include "test_util.h"

namespace {

const LANGID Languages[] = {UI_LANGUAGE_JAPANESE, UI_LANGUAGE_ENGLISH};

// Restores the Japanese interface of the other tests after a case that switched, also after a failed REQUIRE.
struct JapaneseAfter {
    ~JapaneseAfter() { SetUiLanguage(UI_LANGUAGE_JAPANESE); }
};

std::string Narrow(const std::wstring &text)
{
    std::string out(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], (int)out.size(), nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

// Kana, CJK punctuation and ideographs, and the full-width forms: what an English text never holds.
bool HoldsJapanese(const std::wstring &text)
{
    for (wchar_t ch : text)
        if ((ch >= 0x3000 && ch <= 0x30FF) || (ch >= 0x3400 && ch <= 0x9FFF) || (ch >= 0xF900 && ch <= 0xFAFF) ||
            (ch >= 0xFF00 && ch <= 0xFFEF))
            return true;
    return false;
}

// The printf conversions of a text in order ("%s%s"), "%%" left out.
std::string FormatConversions(const std::wstring &text)
{
    std::string conversions;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != L'%')
            continue;
        if (i + 1 < text.size() && text[i + 1] == L'%') {
            i++;
            continue;
        }
        conversions += '%';
        for (i++; i < text.size() && !iswalpha(text[i]); i++)
            conversions += (char)text[i];
        if (i < text.size())
            conversions += (char)text[i];
    }
    return conversions;
}

// The access key of a label ('&' before it), upper-cased; 0 when it has none.
wchar_t AccessKey(const std::wstring &text)
{
    for (size_t i = 0; i + 1 < text.size(); i++) {
        if (text[i] == L'&' && text[i + 1] == L'&')
            i++;
        else if (text[i] == L'&')
            return towupper(text[i + 1]);
    }
    return 0;
}

// tavo.exe as built, opened for its resources alone.
struct ProgramResources {
    HMODULE module = LoadLibraryExW((BinDir() + L"tavo.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ~ProgramResources()
    {
        if (module)
            FreeLibrary(module);
    }
};

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

std::set<LANGID> LanguagesOf(HMODULE module, LPCWSTR type, UINT name)
{
    std::set<LANGID> languages;
    EnumResourceLanguagesW(module, type, MAKEINTRESOURCEW(name), AddLanguage, (LONG_PTR)&languages);
    return languages;
}

// The bytes of one resource in one language; empty when there is none.
std::vector<BYTE> ResourceBytes(HMODULE module, LPCWSTR type, UINT name, LANGID language)
{
    HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(name), language);
    const BYTE *data = found ? (const BYTE *)LockResource(LoadResource(module, found)) : nullptr;
    return data ? std::vector<BYTE>(data, data + SizeofResource(module, found)) : std::vector<BYTE>();
}

// A reader of the little-endian words and strings of a template.
struct TemplateReader {
    const std::vector<BYTE> &bytes;
    size_t at = 0;
    bool failed = false;
    WORD Word()
    {
        if (at + 2 > bytes.size()) {
            failed = true;
            return 0;
        }
        WORD value = (WORD)(bytes[at] | bytes[at + 1] << 8);
        at += 2;
        return value;
    }
    DWORD Dword()
    {
        DWORD low = Word();
        return low | (DWORD)Word() << 16;
    }
    std::wstring String()
    {
        std::wstring text;
        for (WORD ch = Word(); ch && !failed; ch = Word())
            text += (wchar_t)ch;
        return text;
    }
    // A string, or an ordinal written as "#number" (the predefined classes by their names).
    std::wstring StringOrOrdinal()
    {
        if (at + 2 <= bytes.size() && bytes[at] == 0xFF && bytes[at + 1] == 0xFF) {
            Word();
            static const wchar_t *const classes[] = {L"button", L"edit", L"static", L"listbox", L"scrollbar", L"combobox"};
            WORD ordinal = Word();
            return ordinal >= 0x80 && ordinal <= 0x85 ? classes[ordinal - 0x80] : L"#" + std::to_wstring(ordinal);
        }
        std::wstring text = String();
        CharLowerW(&text[0]);
        return text;
    }
    void AlignDword() { at = (at + 3) & ~(size_t)3; }
};

struct MenuRow {
    int menu;    // which menu the item is in: 0 the bar, then each popup in template order
    WORD flags;  // MF_POPUP, MF_SEPARATOR..., without MF_END
    WORD id;
    std::wstring text;
};

// The items of one menu of a MENU template and, after each popup item, those of its popup.
void ReadMenuItems(TemplateReader *reader, int menu, int *menusSeen, std::vector<MenuRow> *rows)
{
    for (;;) {
        MenuRow row = {};
        row.menu = menu;
        WORD flags = reader->Word();
        row.flags = flags & ~MF_END;
        if (!(flags & MF_POPUP))
            row.id = reader->Word();
        row.text = reader->String();
        if (reader->failed)
            return;
        rows->push_back(row);
        if (flags & MF_POPUP)
            ReadMenuItems(reader, ++*menusSeen, menusSeen, rows);
        if (flags & MF_END)
            return;
    }
}

std::vector<MenuRow> MenuRows(const std::vector<BYTE> &bytes)
{
    std::vector<MenuRow> rows;
    TemplateReader reader{bytes};
    reader.Dword();  // version 0, header size 0
    int menusSeen = 0;
    ReadMenuItems(&reader, 0, &menusSeen, &rows);
    return rows;
}

struct DialogControl {
    DWORD style;
    DWORD id;
    std::wstring className;
    std::wstring text;
};
struct DialogShape {
    DWORD style = 0;
    std::wstring caption;
    WORD points = 0;
    std::wstring font;
    std::vector<DialogControl> controls;
    bool failed = true;
};

// A DIALOGEX template read back.
DialogShape ReadDialog(const std::vector<BYTE> &bytes)
{
    DialogShape shape;
    TemplateReader reader{bytes};
    if (reader.Word() != 1 || reader.Word() != 0xFFFF)
        return shape;
    reader.Dword();  // help id
    reader.Dword();  // extended style
    shape.style = reader.Dword();
    WORD count = reader.Word();
    for (int i = 0; i < 4; i++)
        reader.Word();
    reader.StringOrOrdinal();  // menu
    reader.StringOrOrdinal();  // class
    shape.caption = reader.String();
    if (shape.style & DS_SETFONT) {
        shape.points = reader.Word();
        reader.Word();  // weight
        reader.Word();  // italic, character set
        shape.font = reader.String();
    }
    for (WORD i = 0; i < count && !reader.failed; i++) {
        reader.AlignDword();
        DialogControl control = {};
        reader.Dword();  // help id
        reader.Dword();  // extended style
        control.style = reader.Dword();
        for (int k = 0; k < 4; k++)
            reader.Word();
        control.id = reader.Dword();
        control.className = reader.StringOrOrdinal();
        control.text = reader.StringOrOrdinal();
        WORD extra = reader.Word();
        reader.at += extra;
        shape.controls.push_back(control);
    }
    shape.failed = reader.failed;
    return shape;
}

// The sixteen texts of a string table block; empty strings where an id has none.
std::vector<std::wstring> BlockTexts(const std::vector<BYTE> &bytes)
{
    std::vector<std::wstring> texts;
    TemplateReader reader{bytes};
    for (int i = 0; i < 16; i++) {
        WORD length = reader.Word();
        std::wstring text;
        for (WORD k = 0; k < length && !reader.failed; k++)
            text += (wchar_t)reader.Word();
        texts.push_back(text);
    }
    return texts;
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

}  // namespace

TEST_CASE("the interface is Japanese for a Japanese display language and English for any other")
{
    static const struct {
        LANGID display;
        LANGID expected;
    } rows[] = {
        {MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), UI_LANGUAGE_JAPANESE},
        {MAKELANGID(LANG_JAPANESE, SUBLANG_NEUTRAL), UI_LANGUAGE_JAPANESE},
        {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), UI_LANGUAGE_ENGLISH},
        {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK), UI_LANGUAGE_ENGLISH},
        {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), UI_LANGUAGE_ENGLISH},
        {MAKELANGID(LANG_KOREAN, SUBLANG_DEFAULT), UI_LANGUAGE_ENGLISH},
        {MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), UI_LANGUAGE_ENGLISH},
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
    JapaneseAfter restore;
    static const struct {
        UINT id;
        const wchar_t *japanese;
        const wchar_t *english;
    } rows[] = {
        {IDS_EDITOR_TITLE, L"データ編集", L"Edit Data"},
        {IDS_SETTINGS_TITLE, L"設定", L"Settings"},
        // The "L" opens the registered entries in both languages.
        {IDS_MENU_REGISTERED, L"L: 登録データ", L"L: Registered Data"},
        {IDS_MENU_NO_HISTORY, L"(コピー履歴なし)", L"(no copy history)"},
        {IDS_DEFAULT_ENTRY_NAME, L"サイト名", L"Site name"},
        {IDS_DEFAULT_ENTRY_TEXT, L"ログインID\r\nパスワード", L"Login ID\r\nPassword"},
        {IDT_UP, L"上へ", L"Move Up"},
    };
    for (int k = 0; k < 2; k++) {
        SetUiLanguage(Languages[k]);
        CHECK(UiLanguage() == Languages[k]);
        for (const auto &row : rows) {
            CAPTURE(row.id);
            WCHAR text[64] = L"?";
            const wchar_t *expected = k == 0 ? row.japanese : row.english;
            CHECK(LoadUiText(row.id, text, ARRAYSIZE(text)) == lstrlenW(expected));
            CHECK(std::wstring(text) == expected);
        }
        HMENU menu = LoadUiMenu(IDM_TRAY);
        REQUIRE(menu != nullptr);
        WCHAR exit[32] = L"";
        GetMenuStringW(menu, IDM_EXIT, exit, ARRAYSIZE(exit), MF_BYCOMMAND);
        CHECK(std::wstring(exit) == (k == 0 ? L"終了(&X)" : L"E&xit"));
        DestroyMenu(menu);
        LPCDLGTEMPLATEW page = UiDialogTemplate(IDD_PAGE_OTHER);
        REQUIRE(page != nullptr);
        DialogShape shape = ReadDialog(std::vector<BYTE>((const BYTE *)page, (const BYTE *)page + 512));
        CHECK(shape.caption == (k == 0 ? L"その他" : L"Other"));
    }
    // A short buffer gets the start of the text, terminated; an id without a text gives nothing.
    WCHAR small[4] = L"???", none[8] = L"???";
    CHECK(LoadUiText(IDS_EDITOR_TITLE, small, ARRAYSIZE(small)) == 3);
    CHECK(std::wstring(small) == L"Edi");
    CHECK(LoadUiText(0xFFF0, none, ARRAYSIZE(none)) == 0);
    CHECK(none[0] == L'\0');
    CHECK(UiDialogTemplate(0x7FF0) == nullptr);
    CHECK(LoadUiMenu(0x7FF0) == nullptr);
}

TEST_CASE("tavo.exe holds every string, menu and dialog in Japanese and in English alike, and the pictures once")
{
    ProgramResources program;
    REQUIRE(program.module != nullptr);
    HMODULE module = program.module;
    const std::set<LANGID> both = {UI_LANGUAGE_JAPANESE, UI_LANGUAGE_ENGLISH};

    // Strings: the same ids in both, the same conversions, no Japanese in English.
    int texts = 0;
    for (UINT block : NamesOf(module, (LPCWSTR)RT_STRING)) {
        CAPTURE(block);
        CHECK(LanguagesOf(module, (LPCWSTR)RT_STRING, block) == both);
        std::vector<std::wstring> japanese = BlockTexts(ResourceBytes(module, (LPCWSTR)RT_STRING, block, UI_LANGUAGE_JAPANESE));
        std::vector<std::wstring> english = BlockTexts(ResourceBytes(module, (LPCWSTR)RT_STRING, block, UI_LANGUAGE_ENGLISH));
        for (int i = 0; i < 16; i++) {
            UINT id = (block - 1) * 16 + i;
            CAPTURE(id);
            CAPTURE(Narrow(japanese[i]));
            CAPTURE(Narrow(english[i]));
            CHECK(japanese[i].empty() == english[i].empty());
            CHECK(FormatConversions(japanese[i]) == FormatConversions(english[i]));
            CHECK(!HoldsJapanese(english[i]));
            texts += !japanese[i].empty();
        }
    }
    CHECK(texts >= 40);

    // Menus: the same items, commands and nesting, an access key in both or in neither, each
    // key once within its menu.
    std::vector<UINT> menus = NamesOf(module, (LPCWSTR)RT_MENU);
    for (UINT expected : {IDM_TRAY, IDM_EDITOR})
        CHECK(std::set<UINT>(menus.begin(), menus.end()).count(expected) == 1);
    for (UINT name : menus) {
        CAPTURE(name);
        CHECK(LanguagesOf(module, (LPCWSTR)RT_MENU, name) == both);
        std::vector<MenuRow> japanese = MenuRows(ResourceBytes(module, (LPCWSTR)RT_MENU, name, UI_LANGUAGE_JAPANESE));
        std::vector<MenuRow> english = MenuRows(ResourceBytes(module, (LPCWSTR)RT_MENU, name, UI_LANGUAGE_ENGLISH));
        REQUIRE(japanese.size() == english.size());
        std::map<int, std::set<wchar_t>> keysIn[2];
        for (size_t i = 0; i < japanese.size(); i++) {
            CAPTURE(i);
            CAPTURE(Narrow(english[i].text));
            CHECK(japanese[i].menu == english[i].menu);
            CHECK(japanese[i].flags == english[i].flags);
            CHECK(japanese[i].id == english[i].id);
            CHECK(!HoldsJapanese(english[i].text));
            CHECK((AccessKey(japanese[i].text) == 0) == (AccessKey(english[i].text) == 0));
            for (int k = 0; k < 2; k++) {
                const MenuRow &row = k == 0 ? japanese[i] : english[i];
                wchar_t key = AccessKey(row.text);
                if (key)
                    CHECK(keysIn[k][row.menu].insert(key).second);
            }
        }
    }

    // Dialogs: the same controls in the same order with the same ids, classes and styles; the
    // Japanese in 9-point ＭＳ Ｐゴシック, the English in the system's shell font.
    std::vector<UINT> dialogs = NamesOf(module, (LPCWSTR)RT_DIALOG);
    for (UINT expected : {IDD_PAGE_MENU, IDD_PAGE_OTHER, IDD_FIND})
        CHECK(std::set<UINT>(dialogs.begin(), dialogs.end()).count(expected) == 1);
    for (UINT name : dialogs) {
        CAPTURE(name);
        CHECK(LanguagesOf(module, (LPCWSTR)RT_DIALOG, name) == both);
        DialogShape japanese = ReadDialog(ResourceBytes(module, (LPCWSTR)RT_DIALOG, name, UI_LANGUAGE_JAPANESE));
        DialogShape english = ReadDialog(ResourceBytes(module, (LPCWSTR)RT_DIALOG, name, UI_LANGUAGE_ENGLISH));
        REQUIRE(!japanese.failed);
        REQUIRE(!english.failed);
        CHECK(japanese.font == L"ＭＳ Ｐゴシック");
        CHECK(japanese.points == 9);
        CHECK(english.font == L"MS Shell Dlg");
        CHECK(english.points == 8);
        CHECK((english.style & DS_SHELLFONT) == DS_SHELLFONT);
        CHECK((japanese.style & ~DS_SHELLFONT) == (english.style & ~DS_SHELLFONT));
        CHECK(japanese.caption.empty() == english.caption.empty());
        CHECK(!HoldsJapanese(english.caption));
        REQUIRE(japanese.controls.size() == english.controls.size());
        for (size_t i = 0; i < japanese.controls.size(); i++) {
            CAPTURE(i);
            CAPTURE(Narrow(english.controls[i].text));
            CHECK(japanese.controls[i].id == english.controls[i].id);
            CHECK(japanese.controls[i].className == english.controls[i].className);
            CHECK(japanese.controls[i].style == english.controls[i].style);
            CHECK(japanese.controls[i].text.empty() == english.controls[i].text.empty());
            CHECK(!HoldsJapanese(english.controls[i].text));
        }
    }

    // Pictures, the manifest and the version come once.
    for (LPCWSTR type : {(LPCWSTR)RT_GROUP_ICON, (LPCWSTR)RT_BITMAP, (LPCWSTR)RT_GROUP_CURSOR, (LPCWSTR)RT_VERSION,
                         (LPCWSTR)RT_MANIFEST}) {
        std::vector<UINT> names = NamesOf(module, type);
        CHECK(!names.empty());
        for (UINT name : names) {
            CAPTURE(name);
            CHECK(LanguagesOf(module, type, name).size() == 1);
        }
    }
}

TEST_CASE("every label, button and check box of every dialog shows its whole text in both languages")
{
    JapaneseAfter restore;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_UPDOWN_CLASS | ICC_HOTKEY_CLASS};
    InitCommonControlsEx(&controls);
    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 600, 500, nullptr, nullptr, nullptr, nullptr);
    REQUIRE(parent != nullptr);
    int measured = 0;
    for (LANGID language : Languages) {
        SetUiLanguage(language);
        for (UINT name : NamesOf(GetModuleHandleW(nullptr), (LPCWSTR)RT_DIALOG)) {
            CAPTURE(language);
            CAPTURE(name);
            HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), UiDialogTemplate(name), parent,
                                                     QuietDialogProc, 0);
            REQUIRE(dialog != nullptr);
            for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
                WCHAR text[256] = L"", className[32] = L"";
                GetWindowTextW(child, text, ARRAYSIZE(text));
                GetClassNameW(child, className, ARRAYSIZE(className));
                DWORD style = (DWORD)GetWindowLongW(child, GWL_STYLE);
                if (!text[0])
                    continue;
                RECT room;
                GetClientRect(child, &room);
                UINT format = DT_CALCRECT | DT_SINGLELINE;
                if (lstrcmpiW(className, L"Static") == 0) {
                    if ((style & SS_TYPEMASK) > SS_RIGHT && (style & SS_TYPEMASK) != SS_LEFTNOWORDWRAP)
                        continue;  // pictures and frames
                    if (style & SS_NOPREFIX)
                        format |= DT_NOPREFIX;
                } else if (lstrcmpiW(className, L"Button") == 0) {
                    DWORD kind = style & BS_TYPEMASK;
                    if (kind == BS_CHECKBOX || kind == BS_AUTOCHECKBOX || kind == BS_3STATE || kind == BS_AUTO3STATE ||
                        kind == BS_RADIOBUTTON || kind == BS_AUTORADIOBUTTON)
                        room.right -= GetSystemMetrics(SM_CXMENUCHECK) + GetSystemMetrics(SM_CXEDGE) * 2;
                    else if (kind == BS_GROUPBOX)
                        room.right -= 2 * GetSystemMetrics(SM_CXEDGE) + 8;
                    else
                        room.right -= 2 * (GetSystemMetrics(SM_CXEDGE) + 2);
                } else {
                    continue;
                }
                HDC dc = GetDC(child);
                HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageW(child, WM_GETFONT, 0, 0));
                RECT extent = {0, 0, 0, 0};
                DrawTextW(dc, text, -1, &extent, format);
                SelectObject(dc, old);
                ReleaseDC(child, dc);
                CAPTURE(Narrow(text));
                CAPTURE(extent.right);
                CAPTURE(room.right);
                CHECK(extent.right <= room.right);
                CHECK(extent.bottom <= room.bottom);
                measured++;
            }
            DestroyWindow(dialog);
        }
    }
    DestroyWindow(parent);
    CHECK(measured >= 12);
}
