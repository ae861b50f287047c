// Dialog templates 107 and 108 read back from the linked resources, field by field.
#include <doctest/doctest.h>
#include <windows.h>
#include <commctrl.h>
#include <ios>
#include <string>
#include <vector>
#include "res/resource.h"
#include "shell/shell.h"

struct DialogItem {
    int id;
    std::wstring className;
    std::wstring text;
    int x, y, cx, cy;
    DWORD style;
    DWORD exStyle;
};

struct Dialog {
    DWORD style;
    DWORD exStyle;
    int x, y, cx, cy;
    std::wstring caption;
    int pointSize;
    std::wstring font;
    std::vector<DialogItem> items;
};

// Reads a sz_Or_Ord field: a predefined class atom becomes its name so both forms compare equal.
static std::wstring ReadNameOrOrdinal(const WORD *&p)
{
    if (*p == 0xFFFF) {
        WORD ordinal = p[1];
        p += 2;
        switch (ordinal) {
        case 0x80: return L"button";
        case 0x81: return L"edit";
        case 0x82: return L"static";
        case 0x83: return L"listbox";
        case 0x84: return L"scrollbar";
        case 0x85: return L"combobox";
        }
        return L"#" + std::to_wstring(ordinal);
    }
    std::wstring text((const WCHAR *)p);
    p += text.size() + 1;
    return text;
}

static const WORD *AlignDword(const WORD *p, const BYTE *base)
{
    size_t offset = (const BYTE *)p - base;
    return (const WORD *)(base + ((offset + 3) & ~(size_t)3));
}

static std::wstring Lower(std::wstring text)
{
    for (WCHAR &ch : text)
        ch = (WCHAR)towlower(ch);
    return text;
}

static bool LoadDialog(int id, Dialog *dialog)
{
    HRSRC found = FindResourceW(AppInstance, MAKEINTRESOURCEW(id), (LPCWSTR)RT_DIALOG);
    if (!found)
        return false;
    const BYTE *base = (const BYTE *)LockResource(LoadResource(AppInstance, found));
    const WORD *p = (const WORD *)base;
    bool extended = p[0] == 1 && p[1] == 0xFFFF;
    int count;
    if (extended) {
        const DWORD *d = (const DWORD *)(p + 2);
        dialog->exStyle = d[1];
        dialog->style = d[2];
        p = (const WORD *)(d + 3);
    } else {
        const DWORD *d = (const DWORD *)p;
        dialog->style = d[0];
        dialog->exStyle = d[1];
        p = (const WORD *)(d + 2);
    }
    count = p[0];
    dialog->x = (short)p[1];
    dialog->y = (short)p[2];
    dialog->cx = (short)p[3];
    dialog->cy = (short)p[4];
    p += 5;
    ReadNameOrOrdinal(p);  // menu
    ReadNameOrOrdinal(p);  // class
    dialog->caption = (const WCHAR *)p;
    p += dialog->caption.size() + 1;
    dialog->pointSize = 0;
    if (dialog->style & DS_SETFONT) {
        dialog->pointSize = p[0];
        p += extended ? 3 : 1;  // weight, italic and charset only in the extended form
        dialog->font = (const WCHAR *)p;
        p += dialog->font.size() + 1;
    }
    for (int i = 0; i < count; i++) {
        DialogItem item;
        p = AlignDword(p, base);
        if (extended) {
            const DWORD *d = (const DWORD *)p;
            item.exStyle = d[1];
            item.style = d[2];
            p = (const WORD *)(d + 3);
        } else {
            const DWORD *d = (const DWORD *)p;
            item.style = d[0];
            item.exStyle = d[1];
            p = (const WORD *)(d + 2);
        }
        item.x = (short)p[0];
        item.y = (short)p[1];
        item.cx = (short)p[2];
        item.cy = (short)p[3];
        p += 4;
        if (extended) {
            item.id = (int)*(const DWORD *)p;
            p += 2;
        } else {
            item.id = (short)p[0];
            p += 1;
        }
        item.className = Lower(ReadNameOrOrdinal(p));
        item.text = ReadNameOrOrdinal(p);
        WORD extra = *p++;
        p = (const WORD *)((const BYTE *)p + extra);
        dialog->items.push_back(item);
    }
    return true;
}

static const DWORD Child = WS_CHILD | WS_VISIBLE;
static const DWORD Number = ES_RIGHT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
static const DWORD Spin = UDS_WRAP | UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_AUTOBUDDY | UDS_ARROWKEYS |
                          UDS_NOTHOUSANDS | UDS_HOTTRACK;

static void CheckItems(const Dialog &dialog, const std::vector<DialogItem> &expected)
{
    REQUIRE(dialog.items.size() == expected.size());
    for (size_t i = 0; i < expected.size(); i++) {
        const DialogItem &seen = dialog.items[i];
        const DialogItem &want = expected[i];
        INFO("control " << i << " id " << want.id);
        CHECK(seen.id == want.id);
        CHECK(seen.className == want.className);
        CHECK(seen.text == want.text);
        CHECK(seen.x == want.x);
        CHECK(seen.y == want.y);
        CHECK(seen.cx == want.cx);
        CHECK(seen.cy == want.cy);
        CHECK_MESSAGE(seen.style == want.style, std::hex << "style 0x" << seen.style << " wanted 0x" << want.style);
        CHECK(seen.exStyle == 0);
    }
}

static void CheckPageFrame(const Dialog &dialog, const wchar_t *caption)
{
    CHECK(dialog.style == (WS_CHILD | WS_CAPTION | DS_SETFONT));
    CHECK(dialog.exStyle == 0);
    CHECK(dialog.cx == 205);
    CHECK(dialog.cy == 164);
    CHECK(dialog.caption == caption);
    CHECK(dialog.pointSize == 9);
    CHECK(dialog.font == L"ＭＳ Ｐゴシック");
}

TEST_CASE("page 107 holds every control of the popup-menu settings in tab order")
{
    Dialog dialog;
    REQUIRE(LoadDialog(IDD_PAGE_MENU, &dialog));
    CheckPageFrame(dialog, L"ポップアップメニュー");
    CheckItems(dialog, {
        {-1, L"button", L"", 7, 4, 191, 153, Child | BS_GROUPBOX, 0},
        {-1, L"static", L"メニュー表示キー：", 21, 24, 80, 8, Child | WS_GROUP, 0},
        {1010, L"combobox", L"", 103, 23, 78, 58, Child | CBS_DROPDOWNLIST | WS_TABSTOP, 0},
        {1009, L"msctls_hotkey32", L"", 103, 38, 78, 13, Child | WS_BORDER | WS_TABSTOP | WS_DISABLED, 0},
        {-1, L"static", L"メニュー項目文字数：", 21, 61, 80, 8, Child | WS_GROUP, 0},
        {1002, L"edit", L"", 103, 60, 35, 13, Child | Number, 0},
        {1006, L"msctls_updown32", L"", 140, 60, 10, 11, Child | Spin, 0},
        {-1, L"static", L"メニュー項目折り返し件数：", 21, 83, 80, 8, Child | WS_GROUP, 0},
        {1003, L"edit", L"", 103, 82, 35, 13, Child | Number, 0},
        {1007, L"msctls_updown32", L"", 139, 82, 10, 11, Child | Spin, 0},
        {-1, L"static", L"貼り付け待ち時間：", 21, 105, 80, 8, Child | WS_GROUP, 0},
        {1001, L"edit", L"", 103, 104, 35, 13, Child | Number, 0},
        {1005, L"msctls_updown32", L"", 166, 105, 10, 11, Child | Spin, 0},
        {-1, L"static", L"(ミリ秒)", 143, 107, 23, 8, Child | WS_GROUP, 0},
        {-1, L"static", L"「コピー履歴」保存件数：", 21, 127, 80, 8, Child | WS_GROUP, 0},
        {1004, L"edit", L"", 103, 126, 35, 13, Child | Number, 0},
        {1008, L"msctls_updown32", L"", 140, 129, 10, 11, Child | Spin, 0},
    });
}

TEST_CASE("page 108 shows only the unused notice")
{
    Dialog dialog;
    REQUIRE(LoadDialog(IDD_PAGE_OTHER, &dialog));
    CheckPageFrame(dialog, L"その他");
    CheckItems(dialog, {{-1, L"static", L"未使用", 15, 17, 26, 10, Child | WS_GROUP, 0}});
}

TEST_CASE("both pages are Japanese resources")
{
    for (int id : {IDD_PAGE_MENU, IDD_PAGE_OTHER}) {
        HRSRC found = FindResourceExW(AppInstance, (LPCWSTR)RT_DIALOG, MAKEINTRESOURCEW(id),
                                      MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
        CHECK_MESSAGE(found != nullptr, "dialog " << id);
    }
}
