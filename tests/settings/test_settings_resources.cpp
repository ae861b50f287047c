// Pages 107 and 108 made for real from the linked templates and read back from the live
// controls: what each input is, what names it, how it is reached and how its spin behaves.
// Only a dialog procedure of our own stands in for the settings.
#include <doctest/doctest.h>
#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <string>
#include <vector>
#include "res/resource.h"

// Fixed numbers: pages 107 and 108; edits 1001 to 1004, their spins 1005 to 1008, hotkey 1009, list 1010.
static_assert(IDD_PAGE_MENU == 107 && IDD_PAGE_OTHER == 108, "page ids");
static_assert(IDC_PASTE_WAIT == 1001 && IDC_ITEM_CHARS == 1002 && IDC_WRAP_COUNT == 1003 && IDC_HISTORY_MAX == 1004 &&
                  IDC_PASTE_WAIT_SPIN == 1005 && IDC_ITEM_CHARS_SPIN == 1006 && IDC_WRAP_COUNT_SPIN == 1007 &&
                  IDC_HISTORY_MAX_SPIN == 1008 && IDC_HOTKEY == 1009 && IDC_MENU_KEY == 1010,
              "control ids");

namespace {

std::wstring TextOf(HWND window)
{
    WCHAR text[128] = L"";
    GetWindowTextW(window, text, 128);
    return text;
}

std::wstring ClassOf(HWND window)
{
    WCHAR name[64] = L"";
    GetClassNameW(window, name, 64);
    CharLowerW(name);
    return name;
}

RECT RectOf(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

bool Inside(const RECT &inner, const RECT &outer)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

std::vector<HWND> ChildrenOf(HWND page)
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

INT_PTR CALLBACK PlainPageProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

// A page made from its template in this executable, as the sheet makes it, with a dialog
// procedure of our own; the sheet takes the page's caption for its tab.
struct LivePage {
    HWND owner;
    HWND page;

    explicit LivePage(int id)
    {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_UPDOWN_CLASS | ICC_HOTKEY_CLASS};
        InitCommonControlsEx(&controls);
        owner = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 800, 600, nullptr, nullptr, nullptr, nullptr);
        page = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), owner, PlainPageProc, 0);
    }
    ~LivePage() { DestroyWindow(owner); }
    HWND Control(int id) const { return GetDlgItem(page, id); }
};

// Each number of the menu page: its label, its edit and the spin that sets it.
struct NumberRow {
    const wchar_t *label;
    int edit;
    int spin;
};
const NumberRow NumberRows[] = {
    {L"メニュー項目文字数：", IDC_ITEM_CHARS, IDC_ITEM_CHARS_SPIN},
    {L"メニュー項目折り返し件数：", IDC_WRAP_COUNT, IDC_WRAP_COUNT_SPIN},
    {L"貼り付け待ち時間：", IDC_PASTE_WAIT, IDC_PASTE_WAIT_SPIN},
    {L"「コピー履歴」保存件数：", IDC_HISTORY_MAX, IDC_HISTORY_MAX_SPIN},
};

// The one static on the control's row, left of it (its label) or right of it (its unit): a row
// is what takes in the middle of the control; null when there is none or more than one.
HWND StaticBeside(HWND page, HWND control, bool left)
{
    RECT target = RectOf(control);
    int middle = (target.top + target.bottom) / 2;
    HWND found = nullptr;
    for (HWND child : ChildrenOf(page)) {
        RECT rect = RectOf(child);
        bool side = left ? rect.right <= target.left : rect.left >= target.right;
        if (ClassOf(child) == L"static" && side && rect.top <= middle && middle < rect.bottom) {
            if (found)
                return nullptr;
            found = child;
        }
    }
    return found;
}

void PressKey(HWND window, WPARAM vk)
{
    SendMessageW(window, WM_KEYDOWN, vk, 1);
    SendMessageW(window, WM_KEYUP, vk, 0xC0000001);
}

}  // namespace

TEST_CASE("pages 107 and 108: Japanese, with the tab labels ポップアップメニュー and その他, in 9-point ＭＳ Ｐゴシック")
{
    const struct {
        int id;
        const wchar_t *tab;
    } pages[] = {{IDD_PAGE_MENU, L"ポップアップメニュー"}, {IDD_PAGE_OTHER, L"その他"}};
    for (const auto &expected : pages) {
        CAPTURE(expected.id);
        CHECK(FindResourceExW(GetModuleHandleW(nullptr), (LPCWSTR)RT_DIALOG, MAKEINTRESOURCEW(expected.id),
                              MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)) != nullptr);
        LivePage live(expected.id);
        REQUIRE(live.page != nullptr);
        CHECK(TextOf(live.page) == expected.tab);
        // The page's own font, the one the system knows by this name.
        LOGFONTW font = {};
        REQUIRE(GetObjectW((HFONT)SendMessageW(live.page, WM_GETFONT, 0, 0), sizeof(font), &font) == sizeof(font));
        CHECK(std::wstring(font.lfFaceName) == L"ＭＳ Ｐゴシック");
        HDC screen = GetDC(nullptr);
        CHECK(abs(font.lfHeight) == MulDiv(9, GetDeviceCaps(screen, LOGPIXELSY), 72));
        ReleaseDC(nullptr, screen);
    }
}

TEST_CASE("the menu page: each input has its kind and sits on the row of the label that names it")
{
    LivePage live(IDD_PAGE_MENU);
    REQUIRE(live.page != nullptr);
    HWND page = live.page;

    HWND combo = live.Control(IDC_MENU_KEY);
    REQUIRE(combo != nullptr);
    CHECK(ClassOf(combo) == L"combobox");
    CHECK(FindWindowExW(combo, nullptr, L"Edit", nullptr) == nullptr);  // a list to choose from, nothing to type
    CHECK(TextOf(StaticBeside(page, combo, true)) == L"メニュー表示キー：");

    // The hotkey field belongs to the menu-key list: right under it, in its column, and off
    // until the list says その他.
    HWND hotkey = live.Control(IDC_HOTKEY);
    REQUIRE(hotkey != nullptr);
    CHECK(ClassOf(hotkey) == L"msctls_hotkey32");
    CHECK(!IsWindowEnabled(hotkey));
    CHECK(RectOf(hotkey).top >= RectOf(combo).bottom);
    CHECK(RectOf(hotkey).left == RectOf(combo).left);
    CHECK(StaticBeside(page, hotkey, true) == nullptr);
    RECT inner;
    GetClientRect(hotkey, &inner);
    CHECK(inner.right < RectOf(hotkey).right - RectOf(hotkey).left);  // a frame around it

    std::vector<std::wstring> labels = {L"メニュー表示キー：", L"(ミリ秒)"};
    for (const NumberRow &row : NumberRows) {
        CAPTURE(row.edit);
        HWND edit = live.Control(row.edit);
        REQUIRE(edit != nullptr);
        CHECK(ClassOf(edit) == L"edit");
        CHECK(ClassOf(live.Control(row.spin)) == L"msctls_updown32");
        CHECK(TextOf(StaticBeside(page, edit, true)) == row.label);
        const wchar_t *unit = row.edit == IDC_PASTE_WAIT ? L"(ミリ秒)" : L"";
        CHECK(TextOf(StaticBeside(page, live.Control(row.spin), false)) == unit);
        labels.push_back(row.label);
    }

    // Those are all the words on the page.
    std::vector<std::wstring> seen;
    for (HWND child : ChildrenOf(page))
        if (ClassOf(child) == L"static")
            seen.push_back(TextOf(child));
    std::sort(seen.begin(), seen.end());
    std::sort(labels.begin(), labels.end());
    CHECK(seen == labels);
}

TEST_CASE("the menu page: every control lies inside the page and its frame, and none overlaps another")
{
    // The page at the size its template gives. (In the sheet Wine sizes the page area by the
    // sheet's font instead, which cuts off the frame's bottom edge.)
    LivePage live(IDD_PAGE_MENU);
    REQUIRE(live.page != nullptr);
    HWND page = live.page;
    RECT area;
    GetClientRect(page, &area);
    MapWindowPoints(page, nullptr, (POINT *)&area, 2);
    std::vector<HWND> frames, controls;
    for (HWND child : ChildrenOf(page)) {
        CHECK((GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) != 0);  // shown with the page
        if (SendMessageW(child, WM_GETDLGCODE, 0, 0) & DLGC_STATIC && ClassOf(child) == L"button")
            frames.push_back(child);  // the group box: a frame that takes no input
        else
            controls.push_back(child);
    }
    REQUIRE(frames.size() == 1);
    RECT frame = RectOf(frames[0]);
    CHECK(Inside(frame, area));
    CHECK(controls.size() == 16);
    for (size_t i = 0; i < controls.size(); i++) {
        CAPTURE(GetDlgCtrlID(controls[i]));
        RECT rect = RectOf(controls[i]);
        CHECK(Inside(rect, frame));
        for (size_t j = i + 1; j < controls.size(); j++) {
            // A spin covers its own edit's border by design (see the buddy test).
            if ((HWND)SendMessageW(controls[j], UDM_GETBUDDY, 0, 0) == controls[i])
                continue;
            RECT other = RectOf(controls[j]), common;
            CHECK_MESSAGE(!IntersectRect(&common, &rect, &other), "overlaps control ", GetDlgCtrlID(controls[j]));
        }
    }
}

TEST_CASE("Tab visits the menu key, the hotkey and the four numbers from top to bottom, and nothing else")
{
    LivePage live(IDD_PAGE_MENU);
    REQUIRE(live.page != nullptr);
    HWND page = live.page;
    const int order[] = {IDC_MENU_KEY, IDC_HOTKEY, IDC_ITEM_CHARS, IDC_WRAP_COUNT, IDC_PASTE_WAIT, IDC_HISTORY_MAX};
    EnableWindow(live.Control(IDC_HOTKEY), TRUE);  // as the page has it when その他 is chosen
    std::vector<int> visited;
    HWND first = GetNextDlgTabItem(page, nullptr, FALSE);
    HWND at = first;
    int previousTop = INT_MIN;
    while (at && visited.size() < 20) {
        visited.push_back(GetDlgCtrlID(at));
        CHECK(RectOf(at).top > previousTop);
        previousTop = RectOf(at).top;
        at = GetNextDlgTabItem(page, at, FALSE);
        if (at == first)
            break;
    }
    CHECK(visited == std::vector<int>(order, order + 6));

    // While the hotkey is off, Tab passes over it.
    EnableWindow(live.Control(IDC_HOTKEY), FALSE);
    CHECK(GetNextDlgTabItem(page, live.Control(IDC_MENU_KEY), FALSE) == live.Control(IDC_ITEM_CHARS));
}

TEST_CASE("each number: a framed right-aligned edit taking more digits than it shows, its spin the next control, "
          "right beside it, writing the position into it as a plain number")
{
    LivePage live(IDD_PAGE_MENU);
    REQUIRE(live.page != nullptr);
    for (const NumberRow &row : NumberRows) {
        CAPTURE(row.spin);
        HWND edit = live.Control(row.edit), spin = live.Control(row.spin);
        REQUIRE(spin != nullptr);
        CHECK((HWND)SendMessageW(spin, UDM_GETBUDDY, 0, 0) == edit);
        CHECK(GetWindow(edit, GW_HWNDNEXT) == spin);
        RECT box = RectOf(edit), arrows = RectOf(spin);
        // Against the edit's right side, covering at most its border.
        CHECK(arrows.left <= box.right);
        CHECK(arrows.left >= box.right - GetSystemMetrics(SM_CXEDGE));
        CHECK(arrows.top == box.top);
        CHECK(arrows.bottom == box.bottom);
        // The arrows light up under the mouse; nothing but the style shows that.
        CHECK((GetWindowLongW(spin, GWL_STYLE) & UDS_HOTTRACK) != 0);

        RECT inner;
        GetClientRect(edit, &inner);
        CHECK(inner.right < box.right - box.left);  // a frame around it
        SetWindowTextW(edit, L"7");
        CHECK((short)LOWORD(SendMessageW(edit, EM_POSFROMCHAR, 0, 0)) > inner.right / 2);
        SetWindowTextW(edit, L"");
        for (int i = 0; i < 20; i++)
            SendMessageW(edit, WM_CHAR, L'0' + i % 10, 1);
        CHECK(GetWindowTextLengthW(edit) == 20);

        // Four digits without a thousands separator, written by the spin into its edit.
        SendMessageW(spin, UDM_SETRANGE32, 0, 5000);
        SendMessageW(spin, UDM_SETPOS32, 0, 4321);
        CHECK(TextOf(edit) == L"4321");
        // Up and Down in the edit step the spin, and step round at either end.
        PressKey(edit, VK_UP);
        CHECK(TextOf(edit) == L"4322");
        SendMessageW(spin, UDM_SETPOS32, 0, 5000);
        PressKey(edit, VK_UP);
        CHECK(TextOf(edit) == L"0");
        PressKey(edit, VK_DOWN);
        CHECK(TextOf(edit) == L"5000");
    }
}

TEST_CASE("the その他 page: the protection box and its note, their string-table texts fitting inside the page")
{
    LivePage live(IDD_PAGE_OTHER);
    REQUIRE(live.page != nullptr);
    std::vector<HWND> children = ChildrenOf(live.page);
    REQUIRE(children.size() == 2);
    HWND box = live.Control(IDC_PROTECT_ITEMS), note = live.Control(IDC_PROTECT_NOTE);
    REQUIRE((box && note));
    CHECK(ClassOf(box) == L"button");
    CHECK((GetWindowLongW(box, GWL_STYLE) & (BS_TYPEMASK | WS_TABSTOP)) == (BS_AUTOCHECKBOX | WS_TABSTOP));
    CHECK(ClassOf(note) == L"static");
    RECT page;
    GetClientRect(live.page, &page);
    MapWindowPoints(live.page, nullptr, (POINT *)&page, 2);
    RECT overlap, boxRect = RectOf(box), noteRect = RectOf(note);
    CHECK_FALSE(IntersectRect(&overlap, &boxRect, &noteRect));
    // Each text, wrapped at its control's width (the box's less its check mark), fits its height.
    const struct {
        HWND control;
        UINT text;
        int reserved;
    } texts[] = {{box, IDS_PROTECT_ITEMS, GetSystemMetrics(SM_CXMENUCHECK) + 6}, {note, IDS_PROTECT_ITEMS_NOTE, 0}};
    HDC dc = GetDC(live.page);
    HGDIOBJ oldFont = SelectObject(dc, (HFONT)SendMessageW(live.page, WM_GETFONT, 0, 0));
    for (const auto &item : texts) {
        CAPTURE(item.text);
        CHECK(Inside(RectOf(item.control), page));
        WCHAR text[256];
        REQUIRE(LoadStringW(GetModuleHandleW(nullptr), item.text, text, 256) > 0);
        RECT control = RectOf(item.control), needed = {0, 0, control.right - control.left - item.reserved, 0};
        DrawTextW(dc, text, -1, &needed, DT_CALCRECT | DT_WORDBREAK);
        CHECK(needed.bottom <= control.bottom - control.top);
    }
    SelectObject(dc, oldFont);
    ReleaseDC(live.page, dc);
}
