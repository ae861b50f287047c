// g_mainWindow's pieces in this process: the prefix table, the tray record, the window classes and
// the tray-menu states, through the real window procedure.
#include <doctest/doctest.h>
#include <algorithm>
#include <vector>
#include "editor/editor_internal.h"
#include "recall/recall.h"
#include "res/resource.h"
#include "shell/shell.h"
#include "shell_checks.h"
#include "state/data_files.h"
#include "state/item_store.h"

namespace {

UINT StateOf(HMENU menu, UINT command)
{
    MENUITEMINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STATE;
    GetMenuItemInfoW(menu, command, FALSE, &info);
    return info.fState;
}

void SetState(HMENU menu, UINT command, UINT state)
{
    MENUITEMINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STATE;
    info.fState = state;
    SetMenuItemInfoW(menu, command, FALSE, &info);
}

void RemoveShortcut()
{
    WCHAR path[MAX_PATH];
    REQUIRE(StartupShortcutPath(path));
    DeleteFileW(path);
}

}  // namespace

TEST_CASE("menu labels are prefixed 0 to 9, then a to t; other positions have no prefix")
{
    static const wchar_t expected[] = L"0123456789abcdefghijklmnopqrst";
    WCHAR label[ITEM_LABEL_CHARS];
    for (int i = 0; i < 30; i++) {
        CAPTURE(i);
        MakeItemLabel(label, L"text", i, 20);
        CHECK(std::wstring(label) == std::wstring(1, expected[i]) + L": text");
    }
    MakeItemLabel(label, L"text", 30, 20);
    CHECK(std::wstring(label) == L"text");
    MakeItemLabel(label, L"text", -1, 20);
    CHECK(std::wstring(label) == L"text");
}

TEST_CASE("the tray record: the first layout's size, icon 2000, callback WM_TRAYICON, tooltip AppTitle, zeros elsewhere")
{
    NOTIFYICONDATAW data;
    memset(&data, 0xCC, sizeof(data));
    HWND window = (HWND)(INT_PTR)0x1234;
    FillTrayIconData(&data, window);
    // The first layout ends after its 64-unit tooltip: 152 bytes on x86, 168 on x64.
    CHECK(data.cbSize == offsetof(NOTIFYICONDATAW, szTip) + 64 * sizeof(WCHAR));
    CHECK(data.cbSize == (sizeof(void *) == 8 ? 168u : 152u));
    CHECK(data.hWnd == window);
    CHECK(data.uID == 2000);
    CHECK(data.uFlags == 7);
    CHECK(data.uCallbackMessage == 0x8002);
    REQUIRE(data.hIcon != nullptr);
    ICONINFO icon = {};
    REQUIRE(GetIconInfo(data.hIcon, &icon));
    BITMAP bitmap = {};
    GetObjectW(icon.hbmColor, sizeof(bitmap), &bitmap);
    CHECK(bitmap.bmWidth == GetSystemMetrics(SM_CXSMICON));  // the scaled runs are the editor tests'
    DeleteObject(icon.hbmColor);
    DeleteObject(icon.hbmMask);
    CHECK(std::wstring(data.szTip) == AppTitle);
    const BYTE *bytes = (const BYTE *)data.szTip;
    size_t used = 2 * (lstrlenW(AppTitle) + 1);
    bool zeros = true;
    for (size_t i = used; i < sizeof(data) - offsetof(NOTIFYICONDATAW, szTip); i++)
        zeros = zeros && bytes[i] == 0;
    CHECK(zeros);
}

TEST_CASE("a stopped registered paste is told by a balloon of one line per reason, and only for those reasons")
{
    std::vector<std::wstring> texts;
    NOTIFYICONDATAW data;
    for (int reason : {PASTE_STOP_WINDOW, PASTE_STOP_CAPTION, PASTE_STOP_KEYS_HELD}) {
        REQUIRE(FillPasteStoppedBalloon(&data, (HWND)0x1234, reason));
        // The icon and its tooltip stay as they are.
        CHECK((data.uFlags == NIF_INFO && data.uID == TRAY_ICON_ID && data.cbSize == NOTIFYICONDATAW_V2_SIZE));
        std::wstring text = data.szInfo;
        CHECK((text.size() > 10 && text.find_first_of(L"\r\n") == std::wstring::npos));
        CHECK(std::find(texts.begin(), texts.end(), text) == texts.end());
        texts.push_back(text);
    }
    // Anything else, such as a stray message from another program, shows nothing.
    for (int reason : {PASTE_STOP_NONE, 4, -1})
        CHECK_FALSE(FillPasteStoppedBalloon(&data, (HWND)0x1234, reason));
}

TEST_CASE("the three window classes")
{
    REQUIRE(RegisterMainWindowClass(g_appInstance));
    REQUIRE(RegisterEditorClasses(g_appInstance));
    struct Expected {
        const wchar_t *name;
        bool icon;
        LPCWSTR cursor;
        int brush;
        LPCWSTR menu;
    } expected[] = {
        {L"tavoClass", true, IDC_ARROW, COLOR_WINDOW + 1, nullptr},
        // The editor's menu comes with each window, in the interface language.
        {L"tavoDataEditClass", true, IDC_SIZEWE, COLOR_BTNFACE + 1, nullptr},
        {L"tavoDataEditRClass", false, IDC_ARROW, COLOR_WINDOW + 1, nullptr},
    };
    for (const Expected &e : expected) {
        CAPTURE(std::string(e.name, e.name + lstrlenW(e.name)));
        WNDCLASSEXW info = {};
        info.cbSize = sizeof(info);
        REQUIRE(GetClassInfoExW(g_appInstance, e.name, &info));
        CHECK(info.style == (CS_HREDRAW | CS_VREDRAW));
        CHECK(info.cbClsExtra == 0);
        CHECK(info.cbWndExtra == 0);
        CHECK((info.hIcon != nullptr) == e.icon);
        CHECK(info.hCursor == LoadCursorW(nullptr, e.cursor));
        CHECK(info.hbrBackground == (HBRUSH)(INT_PTR)e.brush);
        CHECK(info.lpszMenuName == e.menu);
    }
    WNDCLASSEXW info = {};
    info.cbSize = sizeof(info);
    GetClassInfoExW(g_appInstance, L"tavoClass", &info);
    CHECK((void *)info.lpfnWndProc == (void *)MainWindowProc);
    GetClassInfoExW(g_appInstance, L"tavoDataEditClass", &info);
    CHECK((void *)info.lpfnWndProc == (void *)EditorWindowProc);
    GetClassInfoExW(g_appInstance, L"tavoDataEditRClass", &info);
    CHECK((void *)info.lpfnWndProc == (void *)TextPaneProc);
}

TEST_CASE("tray menu states follow the copy history and the shortcut file, unless g_busyState is set")
{
    ItemStore::ResetForTests();
    RemoveShortcut();
    HMENU menu = LoadMenuW(g_appInstance, MAKEINTRESOURCEW(IDM_TRAY));
    REQUIRE(menu != nullptr);
    HMENU popup = GetSubMenu(menu, 0);
    g_busyState = 0;

    SUBCASE("no history, no shortcut: clearing greyed, no check mark")
    {
        ItemStore::Insert(Registered, L"site", L"id");
        MainWindowProc(nullptr, WM_INITMENUPOPUP, (WPARAM)popup, 0);
        CHECK(StateOf(popup, IDM_CLEAR_HISTORY) == MFS_GRAYED);
        CHECK(StateOf(popup, IDM_STARTUP) == MFS_UNCHECKED);
        // The others stay as the resource has them.
        CHECK(StateOf(popup, IDM_EDIT_DATA) == MFS_ENABLED);
        CHECK(StateOf(popup, IDM_EXIT) == MFS_ENABLED);
    }
    SUBCASE("one history entry and the shortcut: clearing enabled, check mark")
    {
        SetState(popup, IDM_CLEAR_HISTORY, MFS_GRAYED);
        ItemStore::Insert(History, L"", L"copied");
        ToggleStartupShortcut();
        MainWindowProc(nullptr, WM_INITMENUPOPUP, (WPARAM)popup, 0);
        CHECK(StateOf(popup, IDM_CLEAR_HISTORY) == MFS_ENABLED);
        CHECK(StateOf(popup, IDM_STARTUP) == MFS_CHECKED);
        RemoveShortcut();
    }
    SUBCASE("while g_busyState is 1 nothing changes")
    {
        ItemStore::Insert(History, L"", L"copied");
        SetState(popup, IDM_STARTUP, MFS_CHECKED);
        SetState(popup, IDM_CLEAR_HISTORY, MFS_GRAYED);
        g_busyState = 1;
        MainWindowProc(nullptr, WM_INITMENUPOPUP, (WPARAM)popup, 0);
        g_busyState = 0;
        CHECK(StateOf(popup, IDM_CLEAR_HISTORY) == MFS_GRAYED);
        CHECK(StateOf(popup, IDM_STARTUP) == MFS_CHECKED);
    }
    DestroyMenu(menu);
    ItemStore::ResetForTests();
}

TEST_CASE("the idle-save decisions: after a minute, only with changes, when idle; a failure told once until a save succeeds")
{
    IdleSaveState state = {7, 0xFFFFF000, FALSE};  // the clock wraps around during the table
    struct Row {
        std::string what;
        DWORD changeCount, now;
        BOOL idle;
        BOOL due;
        BOOL saved;  // the attempt's result, when due
        BOOL told;
    } rows[] = {
        {"no change", 7, 0x10000, TRUE, FALSE, FALSE, FALSE},
        {"a change, not idle", 8, 0x10000, FALSE, FALSE, FALSE, FALSE},
        {"a change, idle, a minute after the last attempt across the wrap: fails, told", 8, 0xFFFFF000 + 60000, TRUE, TRUE, FALSE, TRUE},
        {"within the minute after the attempt", 8, 0xFFFFF000 + 119999, TRUE, FALSE, FALSE, FALSE},
        {"a minute later: fails again, not told again", 9, 0xFFFFF000 + 120000, TRUE, TRUE, FALSE, FALSE},
        {"a minute later: saved", 9, 0xFFFFF000 + 180000, TRUE, TRUE, TRUE, FALSE},
        {"the saved count is the store's now", 9, 0xFFFFF000 + 300000, TRUE, FALSE, FALSE, FALSE},
        {"after a success a failure is told again", 10, 0xFFFFF000 + 300000, TRUE, TRUE, FALSE, TRUE},
    };
    for (const Row &row : rows) {
        CAPTURE(row.what);
        BOOL due = IdleSaveDue(&state, row.changeCount, row.now, row.idle);
        CHECK(due == row.due);
        if (due)
            CHECK(NoteIdleSaveAttempt(&state, row.saved, row.changeCount, row.now) == row.told);
    }
}

namespace {

DWORD g_testClock;

DWORD TestClock()
{
    return g_testClock;
}

LRESULT CALLBACK TimerOnlyHubProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Only the idle save's messages go to the hub's procedure: its WM_DESTROY would end this
    // thread's loop.
    if (message == WM_TIMER || message == WM_IDLE_SAVE_DONE)
        return MainWindowProc(window, message, wParam, lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

TEST_CASE("the idle save writes paste.dat a minute after a change, when idle, at most once a minute, driven by its timer")
{
    std::wstring dir = MakeScratchDir(L"idle_save");
    SetDataDirectoryForTests(dir.c_str());
    ItemStore::ResetForTests();
    g_busyState = BUSY_NONE;
    WNDCLASSW hubClass = {};
    hubClass.lpfnWndProc = TimerOnlyHubProc;
    hubClass.hInstance = g_appInstance;
    hubClass.lpszClassName = L"idleSaveTestHub";
    RegisterClassW(&hubClass);
    HWND hub = CreateWindowExW(0, L"idleSaveTestHub", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, g_appInstance, nullptr);
    REQUIRE(hub != nullptr);
    g_testClock = 1000;
    SetIdleSaveClockForTests(TestClock);
    StartIdleSave(hub);
    StopIdleSave(hub);  // only the ticks posted below
    std::wstring paste = dir + L"paste.dat";
    HWND box = nullptr;
    int copies = 0;
    enum { NOTHING, COPY, COPY_WHILE_BUSY, COPY_UNDER_BOX, COPY_LARGE };
    struct Row {
        std::string what;
        int action;
        DWORD advanceMs;
        bool written;
    } rows[] = {
        {"a copy 10 s after the start waits for the minute", COPY, 10000, false},
        {"a minute after the start it is written", NOTHING, 50000, true},
        {"nothing new: nothing written", NOTHING, 70000, false},
        {"a copy long after the last save: written at the next tick", COPY, 5000, true},
        {"copies keep coming: not again within the minute", COPY, 30000, false},
        {"a minute after the last save: written", NOTHING, 30000, true},
        {"a popup operation runs: not now", COPY_WHILE_BUSY, 70000, false},
        {"a box is open: not now", COPY_UNDER_BOX, 5000, false},
        {"idle again: written", NOTHING, 5000, true},
        {"a history over IDLE_SAVE_WORKER_UNITS: written by the worker", COPY_LARGE, 60000, true},
    };
    for (const Row &row : rows) {
        CAPTURE(row.what);
        DeleteFileW(paste.c_str());
        if (row.action == COPY_LARGE)
            ItemStore::Insert(History, nullptr, (L"copy " + std::to_wstring(++copies) +
                                                 std::wstring(IDLE_SAVE_WORKER_UNITS, L'x')).c_str());
        else if (row.action != NOTHING)
            ItemStore::Insert(History, nullptr, (L"copy " + std::to_wstring(++copies)).c_str());
        if (row.action == COPY_WHILE_BUSY)
            g_busyState = BUSY_MENU;
        if (row.action == COPY_UNDER_BOX)
            box = CreateWindowExW(0, L"#32770", L"tavo", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        g_testClock += row.advanceMs;
        PostMessageW(hub, WM_TIMER, TIMER_IDLESAVE, 0);
        PumpFor(50);
        if (row.action == COPY_LARGE) {
            WaitUntil([&] { return FileIsThere(paste); }, 10000);
            OnIdleSaveDone(hub);  // waits for the worker to end
        }
        g_busyState = BUSY_NONE;
        if (box)
            DestroyWindow(box);
        box = nullptr;
        CHECK(FileIsThere(paste) == row.written);
        std::vector<PasteRecord> saved;
        if (row.written && ReadPasteRecords(paste, &saved))
            CHECK(saved.size() == (size_t)copies);
    }
    SetIdleSaveClockForTests(nullptr);
    DestroyWindow(hub);
    SetDataDirectoryForTests(nullptr);
    ItemStore::ResetForTests();
}

TEST_CASE("a failed save that left paste.dat aside names the file that holds its contents")
{
    std::wstring dir = MakeScratchDir(L"shell_held_elsewhere");
    SetDataDirectoryForTests(dir.c_str());
    REQUIRE(SaveItems());
    g_replaceSteps = {ERROR_UNABLE_TO_MOVE_REPLACEMENT_2};
    g_moveSteps = {ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION};
    SetFileRoutesForTests(ScriptedReplace, ScriptedMove);
    CHECK_FALSE(SaveItems());
    SetFileRoutesForTests(nullptr, nullptr);
    const std::wstring named = L"paste.dat を保存できませんでした。内容は paste.dat.old に残っています。\n";
    WCHAR text[512];
    SaveFailureText(SAVE_ITEMS, SAVE_ON_CHANGE, text, 512);
    CHECK(std::wstring(text).find(named) == 0);
    SetCipherFailureForTests(TRUE);  // a second save that fails early still names it
    CHECK_FALSE(SaveItems());
    SaveFailureText(SAVE_ITEMS, SAVE_ON_CHANGE, text, 512);
    CHECK(std::wstring(text).find(named) == 0);
    SetCipherFailureForTests(FALSE);
    SetDataDirectoryForTests(nullptr);
}
