// The real tavo.exe: the sheet opened from the tray command, values that reach ini.dat and
// survive a restart, and a hotkey chosen in the sheet that opens the popup menu.
#include <windows.h>
#include <commctrl.h>
#include <doctest/doctest.h>
#include <string>
#include "test_util.h"
#include "res/resource.h"
#include "state/ini_data.h"

static HWND FindVisible(const TavoProcess &tavo, const wchar_t *className, const wchar_t *title)
{
    return FindVisibleProcessWindow(tavo.process.dwProcessId, className, title);
}

static HWND OpenSheet(const TavoProcess &tavo)
{
    PostMessageW(tavo.mainWindow, WM_COMMAND, IDM_SETTINGS, 0);
    HWND sheet = nullptr;
    WaitUntil([&] { return (sheet = FindVisible(tavo, L"#32770", L"設定")) != nullptr; }, 5000);
    return sheet;
}

static HWND SheetPage(HWND sheet)
{
    return (HWND)SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0);
}

static std::wstring TextOf(HWND window)
{
    WCHAR text[64] = L"";
    SendMessageW(window, WM_GETTEXT, 64, (LPARAM)text);  // marshalled: the edit is in another process
    return text;
}

static bool PressOk(const TavoProcess &tavo, HWND sheet)
{
    PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
    bool closed = WaitUntil([&] { return FindVisible(tavo, L"#32770", nullptr) == nullptr; }, 5000);
    // Back in the main loop once a message to the main window gets its answer.
    DWORD_PTR answer;
    SendMessageTimeoutW(tavo.mainWindow, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer);
    return closed;
}

// Each spin of the program's page takes exactly the range of its setting.
static void CheckSpinRanges(HWND page)
{
    const int ranges[][3] = {{IDC_PASTE_WAIT_SPIN, PASTE_WAIT_MIN, PASTE_WAIT_MAX},
                             {IDC_ITEM_CHARS_SPIN, ITEM_CHARS_MIN, ITEM_CHARS_MAX},
                             {IDC_WRAP_COUNT_SPIN, WRAP_COUNT_MIN, WRAP_COUNT_MAX},
                             {IDC_HISTORY_MAX_SPIN, HISTORY_MAX_MIN, HISTORY_MAX_MAX}};
    for (const auto &range : ranges) {
        CAPTURE(range[0]);
        CHECK(SendMessageW(GetDlgItem(page, range[0]), UDM_GETRANGE, 0, 0) == MAKELONG(range[2], range[1]));
    }
}

// Opens the sheet, types the wrap count, presses OK and closes the program.
static void SetWrapCount(const std::wstring &dir, const wchar_t *typed, const wchar_t *shownBefore)
{
    TavoProcess tavo;
    REQUIRE(StartTavoClean(dir, &tavo));
    HWND sheet = OpenSheet(tavo);
    CHECK(sheet != nullptr);
    if (sheet) {
        HWND page = SheetPage(sheet);
        CheckSpinRanges(page);
        CHECK(TextOf(GetDlgItem(page, IDC_WRAP_COUNT)) == shownBefore);
        SendMessageW(GetDlgItem(page, IDC_WRAP_COUNT), WM_SETTEXT, 0, (LPARAM)typed);
        CHECK(PressOk(tavo, sheet));
    }
    CHECK(StopTavo(&tavo) == 0);
}

TEST_CASE("the spins take their settings' ranges; the wrap count chosen reaches ini.dat; 31 keeps the previous value")
{
    std::wstring dir = MakeScratchDir(L"settings_wrap");
    SetWrapCount(dir, L"5", L"10");
    IniData ini;
    REQUIRE(ReadIniRecord(dir + L"ini.dat", &ini));
    CHECK(ini.menuWrapCount == 5);
    CHECK(ini.menuItemChars == 20);
    CHECK(ini.pasteWaitMs == 100);
    CHECK(ini.historyMax == 1000);

    SetWrapCount(dir, L"31", L"5");
    REQUIRE(ReadIniRecord(dir + L"ini.dat", &ini));
    CHECK(ini.menuWrapCount == 5);
}

TEST_CASE("a hotkey set in the sheet opens the popup menu at once in mode その他")
{
    std::wstring dir = MakeScratchDir(L"settings_hotkey");
    TavoProcess tavo;
    REQUIRE(StartTavoClean(dir, &tavo));
    HWND sheet = OpenSheet(tavo);
    if (!sheet) {
        StopTavo(&tavo);
        FAIL("the settings sheet did not open");
    }
    HWND page = SheetPage(sheet);
    HWND combo = GetDlgItem(page, IDC_MENU_KEY);
    SendMessageW(combo, CB_SETCURSEL, 3, 0);
    SendMessageW(page, WM_COMMAND, MAKEWPARAM(IDC_MENU_KEY, CBN_SELCHANGE), (LPARAM)combo);
    SendMessageW(GetDlgItem(page, IDC_HOTKEY), HKM_SETHOTKEY, MAKEWORD(VK_F9, HOTKEYF_CONTROL | HOTKEYF_SHIFT), 0);
    CHECK(PressOk(tavo, sheet));
    CHECK(FindVisible(tavo, L"#32770", L"tavo") == nullptr);  // no failure message

    KeyDown(VK_CONTROL);
    KeyDown(VK_SHIFT);
    TapKey(VK_F9);
    KeyUp(VK_SHIFT);
    KeyUp(VK_CONTROL);
    DWORD pressed = GetTickCount();
    bool opened = WaitUntil([&] { return FindVisible(tavo, L"#32768", nullptr) != nullptr; }, 3000);
    CHECK_MESSAGE(opened, "no popup menu within 3 s of the hotkey");
    MESSAGE("popup menu after " << GetTickCount() - pressed << " ms");
    if (opened) {
        TapKey(VK_ESCAPE);
        if (!WaitUntil([&] { return FindVisible(tavo, L"#32768", nullptr) == nullptr; }, 2000))
            PostMessageW(tavo.mainWindow, WM_CANCELMODE, 0, 0);
        WaitUntil([&] { return FindVisible(tavo, L"#32768", nullptr) == nullptr; }, 2000);
    }
    CHECK(StopTavo(&tavo) == 0);

    IniData ini;
    REQUIRE(ReadIniRecord(dir + L"ini.dat", &ini));
    CHECK(ini.menuKeyMode == 3);
    CHECK(ini.hotkeyVk == VK_F9);
    CHECK(ini.hotkeyMods == (MOD_CONTROL | MOD_SHIFT));
}
