// The settings sheet run for real in this process. PropertySheetW is modal, so each test
// hands a list of steps to a thread timer that plays the user inside the sheet's loop.
#include <doctest/doctest.h>
#include <windows.h>
#include <commctrl.h>
#include <functional>
#include <string>
#include <vector>
#include "test_util.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "recall/recall.h"
#include "shell/shell.h"
#include "state/app_rules.h"
#include "state/data_files.h"
#include "state/ini_data.h"

typedef std::function<bool()> Step;  // true when done; polled until then

struct SheetScript {
    std::vector<Step> steps;
    size_t next;
    DWORD start;
    bool running;
    bool timedOut;
    int strayBoxes;  // message boxes that no step expected
};
static SheetScript Script;

struct ThreadDialogs {
    std::vector<HWND> windows;
};

static BOOL CALLBACK CollectDialog(HWND window, LPARAM lParam)
{
    WCHAR name[64];
    GetClassNameW(window, name, 64);
    if (lstrcmpW(name, L"#32770") == 0 && IsWindowVisible(window))
        ((ThreadDialogs *)lParam)->windows.push_back(window);
    return TRUE;
}

static std::wstring TextOf(HWND window)
{
    WCHAR text[256] = L"";
    GetWindowTextW(window, text, 256);
    return text;
}

static HWND FindThreadDialog(const wchar_t *title)
{
    ThreadDialogs found;
    EnumThreadWindows(GetCurrentThreadId(), CollectDialog, (LPARAM)&found);
    for (HWND window : found.windows)
        if (TextOf(window) == title)
            return window;
    return nullptr;
}

static HWND Sheet()
{
    return FindThreadDialog(L"設定");
}

static HWND Page()
{
    HWND sheet = Sheet();
    return sheet ? PropSheet_GetCurrentPageHwnd(sheet) : nullptr;
}

static void AbortDialogs()
{
    ThreadDialogs found;
    EnumThreadWindows(GetCurrentThreadId(), CollectDialog, (LPARAM)&found);
    for (HWND window : found.windows) {
        if (TextOf(window) == L"tavo")
            PostMessageW(window, WM_COMMAND, IDOK, 0);
        else
            PostMessageW(window, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    }
}

static void CALLBACK ScriptTimer(HWND, UINT, UINT_PTR, DWORD)
{
    if (GetTickCount() - Script.start > 10000) {
        Script.timedOut = true;
        AbortDialogs();
        return;
    }
    if (Script.running)
        return;
    if (Script.next >= Script.steps.size()) {
        HWND box = FindThreadDialog(L"tavo");
        if (box) {
            Script.strayBoxes++;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
        return;
    }
    Script.running = true;
    if (Script.steps[Script.next]())
        Script.next++;
    Script.running = false;
}

// Opens the sheet on g_mainWindow as the tray command does (or as `open` does) and plays the
// steps; returns when the sheet has closed.
static void RunSheet(const std::vector<Step> &steps, const std::function<void()> &open = [] { OpenSettings(g_mainWindow); })
{
    Script.steps = steps;
    Script.next = 0;
    Script.start = GetTickCount();
    Script.running = false;
    Script.timedOut = false;
    Script.strayBoxes = 0;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, ScriptTimer);
    open();
    KillTimer(nullptr, timer);
    CHECK_MESSAGE(!Script.timedOut, "the sheet was still open after 10 s");
    CHECK_MESSAGE(Script.next == steps.size(), "steps done: " << Script.next << " of " << steps.size());
    CHECK(Script.strayBoxes == 0);
    CHECK(g_settingsSheet == nullptr);
}

static Step WaitForSheet()
{
    return [] { return Page() != nullptr; };
}

static Step Do(const std::function<void()> &action)
{
    return [action] {
        action();
        return true;
    };
}

static Step Press(int button)
{
    return Do([button] { PostMessageW(Sheet(), PSM_PRESSBUTTON, button, 0); });
}

static HWND Control(int id)
{
    return GetDlgItem(Page(), id);
}

static void SetText(int id, const wchar_t *text)
{
    SetWindowTextW(Control(id), text);
}

// The four numbers of the page, in the order the page shows them.
static void SetNumbers(const wchar_t *pasteWait, const wchar_t *itemChars, const wchar_t *wrapCount,
                       const wchar_t *historyMax)
{
    SetText(IDC_PASTE_WAIT, pasteWait);
    SetText(IDC_ITEM_CHARS, itemChars);
    SetText(IDC_WRAP_COUNT, wrapCount);
    SetText(IDC_HISTORY_MAX, historyMax);
}

static void ChooseMenuKey(int index)
{
    SendMessageW(Control(IDC_MENU_KEY), CB_SETCURSEL, index, 0);
    SendMessageW(Page(), WM_COMMAND, MAKEWPARAM(IDC_MENU_KEY, CBN_SELCHANGE), (LPARAM)Control(IDC_MENU_KEY));
}

static void SetHotkey(BYTE vk, BYTE flags)
{
    SendMessageW(Control(IDC_HOTKEY), HKM_SETHOTKEY, MAKEWORD(vk, flags), 0);
}

static WORD Hotkey()
{
    return (WORD)SendMessageW(Control(IDC_HOTKEY), HKM_GETHOTKEY, 0, 0);
}

static LRESULT SpinAnswer(int id)
{
    return SendMessageW(Control(id), UDM_GETPOS, 0, 0);
}

// True when g_mainWindow holds the menu hotkey; leaves it registered as it was.
static bool MenuHotkeyRegistered()
{
    return UnregisterHotKey(g_mainWindow, HOTKEY_MENU) != FALSE;
}

static void SetUpMainWindow()
{
    if (!g_mainWindow) {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES | ICC_HOTKEY_CLASS};
        InitCommonControlsEx(&controls);
        g_mainWindow = CreateWindowExW(0, L"STATIC", L"main", 0, 0, 0, 0, 0, nullptr, nullptr, g_appInstance, nullptr);
    }
    UnregisterHotKey(g_mainWindow, HOTKEY_MENU);
    // OK writes ini.dat: into a folder of the tests, never beside them.
    SetDataDirectoryForTests(MakeScratchDir(L"settings_files").c_str());
}

static void SetIni(int mode, int vk, int mods)
{
    SetDefaultIniData(&g_ini);
    g_ini.pasteWaitMs = 250;
    g_ini.menuItemChars = 33;
    g_ini.menuWrapCount = 7;
    g_ini.historyMax = 4321;
    g_ini.treeWidth = 123;
    g_ini.editorPlacement.showCmd = SW_SHOWNORMAL;
    g_ini.menuKeyMode = mode;
    g_ini.hotkeyVk = vk;
    g_ini.hotkeyMods = mods;
}

TEST_CASE("the hotkey control's flags and RegisterHotKey's modifiers convert both ways")
{
    CHECK(HotkeyFlagsToMods(HOTKEYF_SHIFT) == MOD_SHIFT);
    CHECK(HotkeyFlagsToMods(HOTKEYF_CONTROL) == MOD_CONTROL);
    CHECK(HotkeyFlagsToMods(HOTKEYF_ALT) == MOD_ALT);
    CHECK(HotkeyFlagsToMods(HOTKEYF_EXT) == 0);
    CHECK(HotkeyFlagsToMods(HOTKEYF_EXT | HOTKEYF_ALT | HOTKEYF_SHIFT) == (MOD_ALT | MOD_SHIFT));
    CHECK(ModsToHotkeyFlags(MOD_SHIFT) == HOTKEYF_SHIFT);
    CHECK(ModsToHotkeyFlags(MOD_CONTROL) == HOTKEYF_CONTROL);
    CHECK(ModsToHotkeyFlags(MOD_ALT) == HOTKEYF_ALT);
    CHECK(ModsToHotkeyFlags(MOD_ALT | MOD_CONTROL | MOD_SHIFT) == (HOTKEYF_ALT | HOTKEYF_CONTROL | HOTKEYF_SHIFT));
    for (int flags = 0; flags < 16; flags++) {
        INFO("flags " << flags);
        CHECK(ModsToHotkeyFlags(HotkeyFlagsToMods((BYTE)flags)) == (flags & ~HOTKEYF_EXT));
    }
}

TEST_CASE("the sheet opens centred on the mouse's monitor")
{
    HWND sheet = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 5, 5, 300, 200, nullptr, nullptr, nullptr, nullptr);
    RECT areas[WORK_AREAS_MAX];
    REQUIRE(GetWorkAreas(areas, WORK_AREAS_MAX) >= 1);
    SetCursorPos(areas[0].left + 10, areas[0].top + 10);
    PlaceSheetWhereUserWorks(sheet);
    RECT rect;
    GetWindowRect(sheet, &rect);
    CHECK(rect.left == areas[0].left + (areas[0].right - areas[0].left - 300) / 2);
    CHECK(rect.top == areas[0].top + (areas[0].bottom - areas[0].top - 200) / 2);
    CHECK(IsWindowVisible(sheet));
    DestroyWindow(sheet);
}

TEST_CASE("the sheet opens with the stored values and OK keeps them, registering Alt+F9 again")
{
    SetUpMainWindow();
    SetIni(3, VK_F9, MOD_ALT);
    IniData before = g_ini;
    RunSheet({
        WaitForSheet(),
        Do([] {
            HWND sheet = Sheet();
            CHECK(g_settingsSheet == sheet);
            CHECK(GetWindow(sheet, GW_OWNER) == g_mainWindow);
            HWND apply = GetDlgItem(sheet, 0x3021);
            CHECK((!apply || !IsWindowVisible(apply)));
            RECT desk, rect;
            GetWindowRect(GetDesktopWindow(), &desk);
            GetWindowRect(sheet, &rect);
            CHECK(abs((rect.left + rect.right) - (desk.left + desk.right)) <= 1);
            CHECK(abs((rect.top + rect.bottom) - (desk.top + desk.bottom)) <= 1);
            CHECK(TextOf(Control(IDC_PASTE_WAIT)) == L"250");
            CHECK(TextOf(Control(IDC_ITEM_CHARS)) == L"33");
            CHECK(TextOf(Control(IDC_WRAP_COUNT)) == L"7");
            CHECK(TextOf(Control(IDC_HISTORY_MAX)) == L"4321");
            CHECK(SpinAnswer(IDC_PASTE_WAIT_SPIN) == 250);
            CHECK(SpinAnswer(IDC_HISTORY_MAX_SPIN) == 4321);
            HWND combo = Control(IDC_MENU_KEY);
            const wchar_t *names[] = {L"Shift + Shift", L"Ctrl + Ctrl", L"Alt + Alt", L"その他"};
            CHECK(SendMessageW(combo, CB_GETCOUNT, 0, 0) == 4);
            for (int i = 0; i < 4; i++) {
                WCHAR text[64] = L"";
                SendMessageW(combo, CB_GETLBTEXT, i, (LPARAM)text);
                CHECK(std::wstring(text) == names[i]);
            }
            CHECK(SendMessageW(combo, CB_GETCURSEL, 0, 0) == 3);
            CHECK(IsWindowEnabled(Control(IDC_HOTKEY)));
            CHECK(Hotkey() == MAKEWORD(VK_F9, HOTKEYF_ALT));
        }),
        Press(PSBTN_OK),
    });
    CHECK(memcmp(&g_ini, &before, sizeof(g_ini)) == 0);
    CHECK(HotkeyTaken(MOD_ALT, VK_F9));
    CHECK(MenuHotkeyRegistered());
}

TEST_CASE("the sheet works on the copy it is given: OK fills the copy, Cancel leaves it; g_ini and the hotkey wait for the caller")
{
    SetUpMainWindow();
    SetIni(3, VK_F9, MOD_ALT);
    IniData before = g_ini;
    IniData copy = g_ini;
    BOOL userForm = FALSE;
    BOOL accepted = -1;
    auto typeNewValues = Do([] {
        SetText(IDC_WRAP_COUNT, L"12");
        SetHotkey(VK_F8, HOTKEYF_CONTROL);
        PropSheet_SetCurSel(Sheet(), nullptr, 1);
        SendMessageW(Control(IDC_PROTECT_ITEMS), BM_CLICK, 0, 0);
    });
    auto open = [&] { accepted = ShowSettingsSheet(g_mainWindow, &copy, &userForm); };
    SUBCASE("OK")
    {
        RunSheet({WaitForSheet(), typeNewValues, Press(PSBTN_OK)}, open);
        CHECK(accepted == TRUE);
        CHECK(copy.menuWrapCount == 12);
        CHECK(copy.hotkeyVk == VK_F8);
        CHECK(copy.hotkeyMods == MOD_CONTROL);
        CHECK(copy.pasteWaitMs == 250);
        CHECK(userForm == TRUE);
    }
    SUBCASE("Cancel")
    {
        RunSheet({WaitForSheet(), typeNewValues, Press(PSBTN_CANCEL)}, open);
        CHECK(accepted == FALSE);
        CHECK(memcmp(&copy, &before, sizeof(copy)) == 0);
        CHECK(userForm == FALSE);
    }
    CHECK(memcmp(&g_ini, &before, sizeof(g_ini)) == 0);
    CHECK(!HotkeyTaken(MOD_CONTROL, VK_F8));
    CHECK(!MenuHotkeyRegistered());
}

TEST_CASE("OK stores the sheet's fields only: a placement the editor recorded while the sheet was open stays")
{
    SetUpMainWindow();
    SetIni(0, 0, 0);
    RunSheet({
        WaitForSheet(),
        Do([] {
            SetText(IDC_WRAP_COUNT, L"12");
            g_ini.treeWidth = 321;  // as the editor's splitter and closing would
            g_ini.editorPlacement.rcNormalPosition.right = 777;
        }),
        Press(PSBTN_OK),
    });
    CHECK(g_ini.menuWrapCount == 12);
    CHECK(g_ini.treeWidth == 321);
    CHECK(g_ini.editorPlacement.rcNormalPosition.right == 777);
    CHECK(g_ini.editorPlacement.showCmd == SW_SHOWNORMAL);
}

TEST_CASE("in a double-tap mode the hotkey control starts empty and disabled, so OK clears a stored hotkey")
{
    SetUpMainWindow();
    for (int mode = 0; mode < 3; mode++) {
        INFO("mode " << mode);
        SetIni(mode, VK_F9, MOD_ALT);
        RegisterHotKey(g_mainWindow, HOTKEY_MENU, MOD_ALT, VK_F9);
        RunSheet({
            WaitForSheet(),
            Do([mode] {
                CHECK(SendMessageW(Control(IDC_MENU_KEY), CB_GETCURSEL, 0, 0) == mode);
                CHECK(!IsWindowEnabled(Control(IDC_HOTKEY)));
                CHECK(Hotkey() == 0);
            }),
            Press(PSBTN_OK),
        });
        CHECK(g_ini.menuKeyMode == mode);
        CHECK(g_ini.hotkeyVk == 0);
        CHECK(g_ini.hotkeyMods == 0);
        CHECK(!MenuHotkeyRegistered());
    }
}

TEST_CASE("OK stores every field; in a double-tap mode the new hotkey is kept but held by nobody")
{
    SetUpMainWindow();
    SetIni(3, VK_F9, MOD_ALT);
    RegisterHotKey(g_mainWindow, HOTKEY_MENU, MOD_ALT, VK_F9);
    RunSheet({
        WaitForSheet(),
        Do([] {
            SetNumbers(L"0", L"50", L"30", L"5000");
            ChooseMenuKey(1);
            SetHotkey(VK_F8, HOTKEYF_CONTROL | HOTKEYF_SHIFT | HOTKEYF_EXT);
        }),
        Press(PSBTN_OK),
    });
    CHECK(g_ini.pasteWaitMs == 0);
    CHECK(g_ini.menuItemChars == 50);
    CHECK(g_ini.menuWrapCount == 30);
    CHECK(g_ini.historyMax == 5000);
    CHECK(g_ini.menuKeyMode == 1);
    CHECK(g_ini.hotkeyVk == VK_F8);
    CHECK(g_ini.hotkeyMods == (MOD_CONTROL | MOD_SHIFT));
    CHECK(g_ini.treeWidth == 123);
    CHECK(g_ini.editorPlacement.showCmd == SW_SHOWNORMAL);
    CHECK(!HotkeyTaken(MOD_ALT, VK_F9));
    CHECK(!HotkeyTaken(MOD_CONTROL | MOD_SHIFT, VK_F8));
    CHECK(!MenuHotkeyRegistered());
}

TEST_CASE("a value outside its range or no number keeps the previous value")
{
    struct Typed {
        const char *what;
        const wchar_t *pasteWait, *itemChars, *wrapCount, *historyMax;
    } cases[] = {
        {"just beyond the ranges", L"1001", L"0", L"31", L"5001"},
        {"no number", L"-5", L"abc", L"", L"12x"},
    };
    for (const Typed &typed : cases) {
        CAPTURE(typed.what);
        SetUpMainWindow();
        SetIni(0, 0, 0);
        IniData before = g_ini;
        RunSheet({
            WaitForSheet(),
            Do([&typed] { SetNumbers(typed.pasteWait, typed.itemChars, typed.wrapCount, typed.historyMax); }),
            Press(PSBTN_OK),
        });
        CHECK(memcmp(&g_ini, &before, sizeof(g_ini)) == 0);
    }
}

TEST_CASE("the up arrow at a spin's upper bound wraps to its lower bound")
{
    SetUpMainWindow();
    SetIni(0, 0, 0);
    g_ini.pasteWaitMs = 1000;
    g_ini.menuItemChars = 50;
    g_ini.menuWrapCount = 30;
    g_ini.historyMax = 5000;
    RunSheet({
        WaitForSheet(),
        Do([] {
            for (int edit : {IDC_PASTE_WAIT, IDC_ITEM_CHARS, IDC_WRAP_COUNT, IDC_HISTORY_MAX}) {
                SendMessageW(Control(edit), WM_KEYDOWN, VK_UP, 1);
                SendMessageW(Control(edit), WM_KEYUP, VK_UP, 0xC0000001);
            }
            CHECK(TextOf(Control(IDC_PASTE_WAIT)) == L"0");
            CHECK(TextOf(Control(IDC_ITEM_CHARS)) == L"1");
        }),
        Press(PSBTN_OK),
    });
    CHECK(g_ini.pasteWaitMs == 0);
    CHECK(g_ini.menuItemChars == 1);
    CHECK(g_ini.menuWrapCount == 1);
    CHECK(g_ini.historyMax == 1);
}

TEST_CASE("Cancel after changing every field changes nothing")
{
    SetUpMainWindow();
    SetIni(3, VK_F9, MOD_ALT);
    RegisterHotKey(g_mainWindow, HOTKEY_MENU, MOD_ALT, VK_F9);
    IniData before = g_ini;
    RunSheet({
        WaitForSheet(),
        Do([] {
            SetNumbers(L"1", L"2", L"3", L"4");
            ChooseMenuKey(2);
            SetHotkey(VK_F6, HOTKEYF_CONTROL);
        }),
        Press(PSBTN_CANCEL),
    });
    CHECK(memcmp(&g_ini, &before, sizeof(g_ini)) == 0);
    CHECK(!HotkeyTaken(MOD_CONTROL, VK_F6));
    CHECK(MenuHotkeyRegistered());
}

TEST_CASE("choosing その他 enables and focuses the hotkey control; leaving it disables it and keeps the key")
{
    SetUpMainWindow();
    SetIni(0, 0, 0);
    RunSheet({
        WaitForSheet(),
        Do([] {
            ChooseMenuKey(3);
            CHECK(IsWindowEnabled(Control(IDC_HOTKEY)));
            CHECK(GetFocus() == Control(IDC_HOTKEY));
            SetHotkey(VK_F7, HOTKEYF_CONTROL);
            ChooseMenuKey(1);
            CHECK(!IsWindowEnabled(Control(IDC_HOTKEY)));
            CHECK(Hotkey() == MAKEWORD(VK_F7, HOTKEYF_CONTROL));
        }),
        Press(PSBTN_OK),
    });
    CHECK(g_ini.menuKeyMode == 1);
    CHECK(g_ini.hotkeyVk == VK_F7);
    CHECK(g_ini.hotkeyMods == MOD_CONTROL);
    CHECK(!MenuHotkeyRegistered());
}

TEST_CASE("OK with an empty hotkey control, or modifiers without a key, unregisters and zeroes the hotkey")
{
    SetUpMainWindow();
    BYTE flags = 0;
    SUBCASE("empty") { flags = 0; }
    SUBCASE("Ctrl alone") { flags = HOTKEYF_CONTROL; }
    SetIni(3, VK_F9, MOD_ALT);
    RegisterHotKey(g_mainWindow, HOTKEY_MENU, MOD_ALT, VK_F9);
    RunSheet({
        WaitForSheet(),
        Do([flags] { SetHotkey(0, flags); }),
        Press(PSBTN_OK),
    });
    CHECK(g_ini.menuKeyMode == 3);
    CHECK(g_ini.hotkeyVk == 0);
    CHECK(g_ini.hotkeyMods == 0);
    CHECK(!MenuHotkeyRegistered());
    CHECK(!HotkeyTaken(MOD_ALT, VK_F9));
}

TEST_CASE("the その他 page shows the form paste.dat has; OK there applies the first page and writes paste.dat in the form chosen")
{
    struct Row {
        int form;     // paste.dat's form when the sheet opens
        bool click;   // the box is clicked
        int written;  // the form on disk afterwards; -1: paste.dat not written
    } rows[] = {{ITEMS_FORM_SHARED, true, ITEMS_FORM_USER}, {ITEMS_FORM_USER, true, ITEMS_FORM_SHARED}, {ITEMS_FORM_USER, false, -1}};
    for (const Row &row : rows) {
        CAPTURE(row.form);
        CAPTURE(row.click);
        SetUpMainWindow();
        SetIni(0, 0, 0);
        std::wstring dir = MakeScratchDir(L"settings_form");
        SetDataDirectoryForTests(dir.c_str());
        ItemStore::ResetForTests();
        ItemStore::Insert(Registered, L"bank", L"S3cret!");
        SetItemsFileForm(row.form);
        RunSheet({WaitForSheet(), Do([row] {
                      SetText(IDC_WRAP_COUNT, L"12");
                      PropSheet_SetCurSel(Sheet(), nullptr, 1);
                      CHECK(TextOf(Control(IDC_PROTECT_ITEMS)) == L"登録データとコピー履歴をこの Windows ユーザー専用に暗号化する");
                      CHECK(IsDlgButtonChecked(Page(), IDC_PROTECT_ITEMS) == (row.form == ITEMS_FORM_USER ? BST_CHECKED : BST_UNCHECKED));
                      if (row.click)
                          SendMessageW(Control(IDC_PROTECT_ITEMS), BM_CLICK, 0, 0);
                  }),
                  Press(PSBTN_OK)});
        CHECK(g_ini.menuWrapCount == 12);
        CHECK(ItemsFileForm() == (row.written < 0 ? row.form : row.written));
        std::vector<PasteRecord> saved, wanted = {{Registered, L"bank", L"S3cret!"}};
        CHECK(ReadPasteRecords(dir + L"paste.dat", &saved) == (row.written >= 0));  // unchanged: only ini.dat is written
        CHECK((row.written < 0 || saved == wanted));
        Bytes plain;
        std::vector<size_t> chunks;
        CHECK(UnprotectUserForm(ReadFileBytes(dir + L"paste.dat"), ProgramEntropy, &plain, &chunks) == (row.written == ITEMS_FORM_USER));
        ItemStore::ResetForTests();
        SetDataDirectoryForTests(nullptr);
    }
}

TEST_CASE("a second request while the sheet is open opens no second sheet")
{
    SetUpMainWindow();
    SetIni(0, 0, 0);
    RunSheet({
        WaitForSheet(),
        Do([] {
            HWND sheet = Sheet();
            OpenSettings(g_mainWindow);  // returns at once instead of nesting a modal loop
            CHECK(Sheet() == sheet);
            CHECK(g_settingsSheet == sheet);
        }),
        Press(PSBTN_OK),
    });
}

// Holds Ctrl+Shift+F11 until told to let go.
TEST_CHILD(hold_hotkey)
{
    (void)argc;
    (void)argv;
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"tavo-test-hotkey-held");
    HANDLE done = OpenEventW(SYNCHRONIZE, FALSE, L"tavo-test-hotkey-release");
    if (!window || !ready || !done || !RegisterHotKey(window, 1, MOD_CONTROL | MOD_SHIFT, VK_F11))
        return 1;
    SetEvent(ready);
    WaitForSingleObject(done, 30000);
    UnregisterHotKey(window, 1);
    return 0;
}

TEST_CASE("a hotkey that another program holds gives the message and the new values stay")
{
    SetUpMainWindow();
    SetIni(0, 0, 0);
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, L"tavo-test-hotkey-held");
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, L"tavo-test-hotkey-release");
    PROCESS_INFORMATION child = {};
    REQUIRE(StartTestChild("hold_hotkey", "", &child));
    bool holding = WaitUntil([&] { return WaitForSingleObject(held, 0) == WAIT_OBJECT_0; }, 10000);
    CHECK(holding);
    if (holding) {
        RunSheet({
            WaitForSheet(),
            Do([] {
                SetText(IDC_WRAP_COUNT, L"12");
                ChooseMenuKey(3);
                SetHotkey(VK_F11, HOTKEYF_CONTROL | HOTKEYF_SHIFT);
            }),
            Press(PSBTN_OK),
            [] {
                HWND box = FindThreadDialog(L"tavo");
                if (!box)
                    return false;
                CHECK(TextOf(GetDlgItem(box, 0xFFFF)) == L"ホットキーの設定に失敗しました");
                PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
                return true;
            },
        });
        CHECK(g_ini.menuWrapCount == 12);
        CHECK(g_ini.menuKeyMode == 3);
        CHECK(g_ini.hotkeyVk == VK_F11);
        CHECK(g_ini.hotkeyMods == (MOD_CONTROL | MOD_SHIFT));
        CHECK(!MenuHotkeyRegistered());
    }
    SetEvent(release);
    CHECK(WaitExit(child, 10000) == 0);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    CloseHandle(held);
    CloseHandle(release);
}

TEST_CASE("OK writes ini.dat at once; a write that fails says so with OK alone, and the values stay")
{
    SetUpMainWindow();
    SetIni(0, 0, 0);
    std::wstring dir = MakeScratchDir(L"settings_save");
    SetDataDirectoryForTests(dir.c_str());
    SUBCASE("written while the program runs")
    {
        RunSheet({WaitForSheet(), Do([] { SetText(IDC_WRAP_COUNT, L"12"); }), Press(PSBTN_OK)});
        IniData saved;
        REQUIRE(ReadIniRecord(dir + L"ini.dat", &saved));
        CHECK(saved.menuWrapCount == 12);
        CHECK(saved.pasteWaitMs == 250);
    }
    SUBCASE("ini.dat cannot be replaced")
    {
        REQUIRE(CreateDirectoryW((dir + L"ini.dat").c_str(), nullptr));
        RunSheet({
            WaitForSheet(),
            Do([] { SetText(IDC_WRAP_COUNT, L"12"); }),
            Press(PSBTN_OK),
            [] {
                HWND box = FindThreadDialog(L"tavo");
                if (!box)
                    return false;
                CHECK(TextOf(GetDlgItem(box, 0xFFFF)) == L"ini.dat を保存できませんでした。\n終了するときにもう一度保存します。");
                HWND cancel = GetDlgItem(box, IDCANCEL);
                CHECK((cancel == nullptr || !IsWindowVisible(cancel)));
                PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
                return true;
            },
        });
        CHECK(g_ini.menuWrapCount == 12);
        RemoveDirectoryW((dir + L"ini.dat").c_str());
    }
    SetDataDirectoryForTests(nullptr);
}

TEST_CASE("a key that types gets Ctrl in the hotkey field, a function key stays alone, and OK refuses a typing key from ini.dat")
{
    SetUpMainWindow();
    SetIni(3, 'A', 0);  // an old ini.dat
    struct Typed {
        WORD vk;
        WORD expected;
    } typed[] = {
        {'B', MAKEWORD('B', HOTKEYF_CONTROL)},
        {VK_OEM_COMMA, MAKEWORD(VK_OEM_COMMA, HOTKEYF_CONTROL)},
        {VK_F9, MAKEWORD(VK_F9, 0)},
    };
    RunSheet({
        WaitForSheet(),
        Do([] { CHECK(Hotkey() == MAKEWORD('A', 0)); }),
        Press(PSBTN_OK),
        [] {
            HWND box = FindThreadDialog(L"tavo");
            if (!box)
                return false;
            CHECK(TextOf(GetDlgItem(box, 0xFFFF)) == L"文字を入力するキーと、Esc・Insert・Delete・Home・End・Page Up/Down・矢印キーは、Ctrl か Alt と組み合わせたときだけホットキーにできます。");
            PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
            return true;
        },
        [] { return FindThreadDialog(L"tavo") == nullptr; },
        Do([&typed] {
            CHECK(Sheet() != nullptr);  // still open on the field
            for (const Typed &key : typed) {
                CAPTURE(key.vk);
                SendMessageW(Control(IDC_HOTKEY), WM_KEYDOWN, key.vk, 0);
                SendMessageW(Control(IDC_HOTKEY), WM_KEYUP, key.vk, 0xC0000000);
                CHECK(Hotkey() == key.expected);
            }
        }),
        Press(PSBTN_OK),
    });
    CHECK(g_ini.hotkeyVk == VK_F9);
    CHECK(g_ini.hotkeyMods == 0);
    CHECK(MenuHotkeyRegistered());
    UnregisterHotKey(g_mainWindow, HOTKEY_MENU);
}

static void Click(int id)
{
    SendMessageW(Control(id), BM_CLICK, 0, 0);
}

static std::wstring RuleCell(int row, int column)
{
    WCHAR text[256] = L"";
    ListView_GetItemText(Control(IDC_APP_LIST), row, column, text, 256);
    return text;
}

TEST_CASE("the page \"アプリ別\": add, switch, remove; OK applies and saves apps.dat, Cancel drops")
{
    SetUpMainWindow();
    SetIni(3, VK_F9, MOD_ALT);
    SetDefaultAppRules(&g_appRules);
    g_appRules.rules[AddAppRule(&g_appRules, L"keep.exe")].switches = APP_RULE_NO_RECORD;
    AppRules before = g_appRules;
    std::wstring self = ThisExecutableName();
    // On the page "アプリ別", the third: Add with no name says so and adds nothing.
    auto addNoName = Do([] {
        PropSheet_SetCurSel(Sheet(), nullptr, 2);
        SetText(IDC_APP_NAME, L"   ");
        PostMessageW(Control(IDC_APP_ADD), BM_CLICK, 0, 0);
    });
    Step closeBox = [] {
        HWND box = FindThreadDialog(L"tavo");
        if (box)
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        return box != nullptr;
    };
    auto edit = Do([self] {
        CHECK(ListView_GetItemCount(Control(IDC_APP_LIST)) == 1);
        CHECK(RuleCell(0, 0) == L"keep.exe");
        CHECK(IsDlgButtonChecked(Page(), IDC_APP_NO_RECORD) == BST_CHECKED);  // the first row is selected
        CHECK(IsDlgButtonChecked(Page(), IDC_FULLSCREEN_QUIET) == BST_CHECKED);
        // A typed name, with a caption after it as the offered items have.
        SetText(IDC_APP_NAME, (L"  " + self + L"  (any window)").c_str());
        Click(IDC_APP_ADD);
        CHECK(RuleCell(1, 0) == self);
        CHECK(IsDlgButtonChecked(Page(), IDC_APP_NO_RECORD) == BST_UNCHECKED);  // the new row is selected
        Click(IDC_APP_NO_MENU);
        Click(IDC_APP_TYPE);
        SetText(IDC_APP_CAPTION, L"Remote");
        SetText(IDC_APP_DELAY, L"40");
        CHECK(RuleCell(1, 2) == L"Remote");
        ListView_SetItemState(Control(IDC_APP_LIST), 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        CHECK(IsDlgButtonChecked(Page(), IDC_APP_TYPE) == BST_UNCHECKED);
        Click(IDC_APP_REMOVE);
        CHECK(ListView_GetItemCount(Control(IDC_APP_LIST)) == 1);
        CHECK(RuleCell(0, 0) == self);
        CHECK(IsDlgButtonChecked(Page(), IDC_APP_TYPE) == BST_CHECKED);  // the row left is shown
        Click(IDC_FULLSCREEN_QUIET);
    });
    std::vector<Step> steps = {WaitForSheet(), addNoName, closeBox, [] { return !FindThreadDialog(L"tavo"); }, edit};
    SUBCASE("OK")
    {
        steps.push_back(Press(PSBTN_OK));
        RunSheet(steps);
        REQUIRE(g_appRules.count == 1);
        CHECK(g_appRules.rules[0].exe == self);
        CHECK(g_appRules.rules[0].switches == (APP_RULE_NO_MENU | APP_RULE_TYPE));
        CHECK(std::wstring(g_appRules.rules[0].caption) == L"Remote");
        CHECK(g_appRules.rules[0].typeDelayMs == 40);
        CHECK_FALSE(g_appRules.fullScreenQuiet);
        AppRules saved;
        CHECK(LoadAppRules(&saved) == DATA_FILE_LOADED);
        CHECK(memcmp(&saved, &g_appRules, sizeof(saved)) == 0);
    }
    SUBCASE("Cancel")
    {
        steps.push_back(Press(PSBTN_CANCEL));
        RunSheet(steps);
        CHECK(memcmp(&g_appRules, &before, sizeof(before)) == 0);
    }
    SUBCASE("OK with the page never opened changes no rule")
    {
        RunSheet({WaitForSheet(), Press(PSBTN_OK)});
        CHECK(memcmp(&g_appRules, &before, sizeof(before)) == 0);
    }
    SetDefaultAppRules(&g_appRules);
    SetDataDirectoryForTests(nullptr);
}
