// The real tavo.exe played as a user would: starts, a second copy, the tray commands, shutdown by
// WM_CLOSE and WM_ENDSESSION, damaged data files. Each case runs a copy in a scratch folder.
#include <doctest/doctest.h>
#include <cstdio>
#include "shell/shell.h"
#include "shell_checks.h"
#include "shell_e2e.h"
#include "state/ini_data.h"

namespace {

const UINT TrayIconMessage = WM_APP + 2;

std::vector<PasteRecord> SampleEntries()
{
    return {
        {0, L"", L"first copy"},
        {1, L"サイト名", L"ログインID\r\nパスワード"},
        {0, L"", L"two\r\nlines"},
        {1, L"bank", L"4711"},
    };
}

// What clearing the copy history leaves of them.
std::vector<PasteRecord> SampleRegistered()
{
    return {SampleEntries()[1], SampleEntries()[3]};
}

std::vector<PasteRecord> SavedEntries(const std::wstring &dir)
{
    std::vector<PasteRecord> entries;
    CHECK_MESSAGE(ReadPasteRecords(dir + L"paste.dat", &entries), "paste.dat does not parse");
    return entries;
}

void CheckDefaults(const IniData &ini)
{
    CHECK(ini.pasteWaitMs == 100);
    CHECK(ini.menuKeyMode == 0);
    CHECK(ini.hotkeyVk == 0);
    CHECK(ini.hotkeyMods == 0);
    CHECK(ini.menuItemChars == 20);
    CHECK(ini.menuWrapCount == 10);
    CHECK(ini.historyMax == 1000);
    CHECK(ini.treeWidth == 200);
    const BYTE *placement = (const BYTE *)&ini.editorPlacement;
    bool zeros = true;
    for (size_t i = 0; i < sizeof(ini.editorPlacement); i++)
        zeros = zeros && placement[i] == 0;
    CHECK(zeros);
}

// tavo.lnk in the Startup folder (created when missing), deleted; empty when there is no such folder.
std::wstring StartupLinkWithoutFile()
{
    WCHAR folder[MAX_PATH];
    if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_STARTUP, TRUE))
        return L"";
    std::wstring link = std::wstring(folder) + L"\\tavo.lnk";
    DeleteFileW(link.c_str());
    return link;
}

}  // namespace

TEST_CASE("first start without data files: hidden tavoClass window, defaults and one registered entry saved")
{
    std::wstring dir = MakeScratchDir(L"e2e_first");
    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    REQUIRE(StartClean(dir, &tavo));

    // How long the program took from its process start to its main window.
    FILETIME created, ended, kernel, user, now;
    GetSystemTimeAsFileTime(&now);
    if (GetProcessTimes(tavo.process.hProcess, &created, &ended, &kernel, &user)) {
        ULONGLONG start = ((ULONGLONG)created.dwHighDateTime << 32) | created.dwLowDateTime;
        ULONGLONG found = ((ULONGLONG)now.dwHighDateTime << 32) | now.dwLowDateTime;
        printf("startup: tavo.exe created its main window and joined the viewer chain %llu ms after its process start\n",
               (found - start) / 10000);
    }

    WCHAR title[64] = {};
    GetWindowTextW(tavo.mainWindow, title, 64);
    CHECK(std::wstring(title) == std::wstring(AppTitle));
    CHECK(!IsWindowVisible(tavo.mainWindow));
    CHECK((GetWindowLongW(tavo.mainWindow, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0);
    CHECK(FindProcessWindow(tavo.process.dwProcessId, L"#32770", nullptr) == nullptr);
    // Nothing is written before shutdown.
    CHECK(!FileIsThere(dir + L"ini.dat"));
    CHECK(!FileIsThere(dir + L"paste.dat"));

    CHECK(StopTavo(&tavo) == 0);
    IniData ini;
    REQUIRE(ReadIniRecord(dir + L"ini.dat", &ini));
    CheckDefaults(ini);
    std::vector<PasteRecord> entries = SavedEntries(dir);
    REQUIRE(entries.size() == 1);
    CHECK(entries[0] == PasteRecord{1, L"サイト名", L"ログインID\r\nパスワード"});
}

TEST_CASE("a second copy says it is already running and ends, the first runs on")
{
    std::wstring dir = MakeScratchDir(L"e2e_first_copy");
    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    REQUIRE(StartClean(dir, &tavo));

    PROCESS_INFORMATION second = {};
    REQUIRE(LaunchCopy(MakeScratchDir(L"e2e_second_copy"), &second));
    HWND box = WaitForProcessWindow(second.dwProcessId, L"#32770", L"tavo", 15000);
    REQUIRE(box != nullptr);
    CHECK(BoxText(box) == L"既に起動しています。");
    CHECK(GetWindow(box, GW_OWNER) == nullptr);
    CHECK(FindProcessWindow(second.dwProcessId, L"tavoClass", nullptr) == nullptr);
    PressOk(box);
    CHECK(WaitExit(second, 10000) == 0);
    CloseHandles(&second);

    CHECK(WaitForSingleObject(tavo.process.hProcess, 0) == WAIT_TIMEOUT);
    CHECK(IsWindow(tavo.mainWindow));
    CHECK(StopTavo(&tavo) == 0);
}

TEST_CASE("the start-up command creates tavo.lnk with its properties, then deletes it")
{
    std::wstring link = StartupLinkWithoutFile();
    REQUIRE(!link.empty());

    std::wstring dir = MakeScratchDir(L"e2e_startup");
    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    REQUIRE(StartClean(dir, &tavo));
    SendMessageW(tavo.mainWindow, WM_COMMAND, 40003, 0);
    REQUIRE(FileIsThere(link));
    ShortcutProperties properties = ReadShortcut(link);
    REQUIRE(properties.loaded);
    CHECK(SamePath(properties.path, dir + L"tavo.exe"));
    CHECK(properties.description == std::wstring(AppTitle));
    CHECK(properties.arguments == L"/s");
    CHECK(properties.workingDirectory == L"");
    CHECK(properties.showCmd == SW_SHOWNORMAL);
    CHECK(properties.iconIndex == 0);

    SendMessageW(tavo.mainWindow, WM_COMMAND, 40003, 0);
    CHECK(!FileIsThere(link));
    CHECK(StopTavo(&tavo) == 0);
}

TEST_CASE("the About command shows AppTitle under the caption バージョン情報")
{
    std::wstring dir = MakeScratchDir(L"e2e_about");
    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    REQUIRE(StartClean(dir, &tavo));
    PostMessageW(tavo.mainWindow, WM_COMMAND, 40002, 0);
    HWND box = WaitForProcessWindow(tavo.process.dwProcessId, L"#32770", L"バージョン情報", 5000);
    REQUIRE(box != nullptr);
    CHECK(BoxText(box) == std::wstring(AppTitle));
    CHECK(GetWindow(box, GW_OWNER) == tavo.mainWindow);
    PressOk(box);
    CHECK(WaitUntil([&] { return !IsWindow(box); }, 5000));
    CHECK(StopTavo(&tavo) == 0);
}

TEST_CASE("a stored hotkey that another program holds gives a warning at start, and the program runs on")
{
    IniData ini = {};
    SetDefaultIniData(&ini);
    ini.menuKeyMode = 3;
    ini.hotkeyVk = VK_F9;
    ini.hotkeyMods = MOD_CONTROL | MOD_ALT;
    std::wstring dir = MakeScratchDir(L"e2e_hotkey");

    SUBCASE("held elsewhere: the warning, owned by the main window")
    {
        REQUIRE(WriteFileBytes(dir + L"ini.dat", EncryptedIni(ini)));
        REQUIRE(RegisterHotKey(nullptr, 77, MOD_CONTROL | MOD_ALT, VK_F9));
        TavoProcess tavo = {};
        EndAtExit endAtExit = {&tavo};
        REQUIRE(StartClean(dir, &tavo));
        HWND box = WaitForProcessWindow(tavo.process.dwProcessId, L"#32770", L"tavo", 5000);
        UnregisterHotKey(nullptr, 77);
        REQUIRE(box != nullptr);
        CHECK(BoxText(box) == L"ホットキーの設定に失敗しました");
        CHECK(GetWindow(box, GW_OWNER) == tavo.mainWindow);
        PressOk(box);
        CHECK(WaitUntil([&] { return !IsWindow(box); }, 5000));
        PumpFor(200);
        CHECK(WaitForSingleObject(tavo.process.hProcess, 0) == WAIT_TIMEOUT);
        CHECK(StopTavo(&tavo) == 0);
        IniData saved;
        REQUIRE(ReadIniRecord(dir + L"ini.dat", &saved));
        CHECK(saved.hotkeyVk == VK_F9);
        CHECK(saved.hotkeyMods == (MOD_CONTROL | MOD_ALT));
    }
    SUBCASE("no hotkey stored: no warning, whatever the trigger mode")
    {
        ini.hotkeyVk = 0;
        ini.hotkeyMods = 0;
        REQUIRE(WriteFileBytes(dir + L"ini.dat", EncryptedIni(ini)));
        TavoProcess tavo = {};
        EndAtExit endAtExit = {&tavo};
        REQUIRE(StartClean(dir, &tavo));
        PumpFor(300);
        CHECK(CountProcessWindows(tavo.process.dwProcessId, L"#32770", L"tavo", true) == 0);
        CHECK(StopTavo(&tavo) == 0);
    }
}

TEST_CASE("clearing the copy history keeps the registered entries")
{
    std::wstring dir = MakeScratchDir(L"e2e_clear");
    REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(SampleEntries())));
    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    REQUIRE(StartClean(dir, &tavo));
    SendMessageW(tavo.mainWindow, WM_COMMAND, 40004, 0);
    CHECK(StopTavo(&tavo) == 0);
    CHECK(SavedEntries(dir) == SampleRegistered());
}

TEST_CASE("WM_ENDSESSION saves settings and entries like WM_CLOSE and ends the program")
{
    IniData ini = {};
    ini.pasteWaitMs = 250;
    ini.menuKeyMode = 1;
    ini.menuItemChars = 30;
    ini.menuWrapCount = 5;
    ini.historyMax = 50;
    ini.treeWidth = 321;
    ini.editorPlacement.length = sizeof(WINDOWPLACEMENT);
    ini.editorPlacement.showCmd = SW_SHOWNORMAL;
    ini.editorPlacement.rcNormalPosition = {10, 20, 610, 420};
    {
        std::wstring dir = MakeScratchDir(L"e2e_endsession");
        REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(SampleEntries())));
        REQUIRE(WriteFileBytes(dir + L"ini.dat", EncryptedIni(ini)));
        TavoProcess tavo = {};
        EndAtExit endAtExit = {&tavo};
        REQUIRE(StartClean(dir, &tavo));
        // Drop both files: what is found afterwards was written by this shutdown.
        REQUIRE(DeleteFileW((dir + L"paste.dat").c_str()));
        REQUIRE(DeleteFileW((dir + L"ini.dat").c_str()));
        PostMessageW(tavo.mainWindow, WM_ENDSESSION, TRUE, 0);
        CHECK(WaitExit(tavo.process, 15000) == 0);
        StopTavo(&tavo);
        CHECK(SavedEntries(dir) == SampleEntries());
        IniData saved;
        REQUIRE(ReadIniRecord(dir + L"ini.dat", &saved));
        CHECK(memcmp(&saved, &ini, sizeof(ini)) == 0);
    }
}

// Whether the program holds the key: another program cannot have it then.
static bool HotkeyHeldElsewhere(int vk, int mods)
{
    if (!RegisterHotKey(nullptr, 78, (UINT)mods, (UINT)vk))
        return true;
    UnregisterHotKey(nullptr, 78);
    return false;
}

TEST_CASE("a cancelled logoff leaves everything running; the stored hotkey is held only in hotkey mode, never for a key that types alone")
{
    struct Row {
        std::string what;
        int mode, vk, mods;
        bool held;
    } rows[] = {
        {"Ctrl+F9 in Shift mode", MENU_KEY_SHIFT, VK_F9, MOD_CONTROL, false},
        {"Ctrl+F9 in hotkey mode", MENU_KEY_HOTKEY, VK_F9, MOD_CONTROL, true},
        {"F9 alone in hotkey mode", MENU_KEY_HOTKEY, VK_F9, 0, true},
        {"A alone in hotkey mode", MENU_KEY_HOTKEY, 'A', 0, false},
        {"Shift+1 in hotkey mode", MENU_KEY_HOTKEY, '1', MOD_SHIFT, false},
        {"Space alone in hotkey mode", MENU_KEY_HOTKEY, VK_SPACE, 0, false},
        {"Alt+A in hotkey mode", MENU_KEY_HOTKEY, 'A', MOD_ALT, true},
    };
    for (const Row &row : rows) {
        CAPTURE(row.what);
        IniData ini = {};
        SetDefaultIniData(&ini);
        ini.menuKeyMode = row.mode;
        ini.hotkeyVk = row.vk;
        ini.hotkeyMods = row.mods;
        std::wstring dir = MakeScratchDir(L"e2e_cancelled_logoff");
        REQUIRE(WriteFileBytes(dir + L"ini.dat", EncryptedIni(ini)));
        REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(SampleEntries())));
        TavoProcess tavo = {};
        EndAtExit endAtExit = {&tavo};
        REQUIRE(StartClean(dir, &tavo));
        CHECK(CountProcessWindows(tavo.process.dwProcessId, L"#32770", L"tavo", true) == 0);
        CHECK(HotkeyHeldElsewhere(row.vk, row.mods) == row.held);

        // Another program vetoes the logoff: nothing ends, nothing is given up.
        DWORD_PTR answer = 0;
        CHECK(SendMessageTimeoutW(tavo.mainWindow, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 10000, &answer) != 0);
        CHECK(answer == TRUE);
        CHECK(SendMessageTimeoutW(tavo.mainWindow, WM_ENDSESSION, FALSE, 0, SMTO_NORMAL, 10000, &answer) != 0);
        PumpFor(300);
        CHECK(WaitForSingleObject(tavo.process.hProcess, 0) == WAIT_TIMEOUT);
        CHECK(IsWindow(tavo.mainWindow));
        CHECK(GetClipboardViewer() == tavo.mainWindow);
        CHECK(HotkeyHeldElsewhere(row.vk, row.mods) == row.held);
        HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        REQUIRE(PutClipboardText(owner, L"copied after the veto"));
        DestroyWindow(owner);
        CHECK(SendMessageTimeoutW(tavo.mainWindow, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer) != 0);
        CHECK(StopTavo(&tavo) == 0);
        std::vector<PasteRecord> expected = SampleEntries();
        expected.push_back({0, L"", L"copied after the veto"});
        CHECK(SavedEntries(dir) == expected);
    }
}

TEST_CASE("damaged data files still give a running program and a clean exit")
{
    std::wstring dir = MakeScratchDir(L"e2e_damaged");
    Bytes garbage;
    for (int i = 0; i < 301; i++)
        garbage.push_back((BYTE)(i * 37 + 11));
    bool iniDefaults = false;
    std::vector<PasteRecord> expectedEntries;
    bool checkEntries = false;

    SUBCASE("paste.dat of random bytes")
    {
        REQUIRE(WriteFileBytes(dir + L"paste.dat", garbage));
    }
    SUBCASE("paste.dat promising a million records and holding one")
    {
        Bytes file = PastePlainImage({{1, L"only", L"one"}});
        file[0] = 0x40;
        file[1] = 0x42;
        file[2] = 0x0F;
        REQUIRE(WriteFileBytes(dir + L"paste.dat", DecryptDataFile(file)));
    }
    SUBCASE("paste.dat with a text lacking its terminator")
    {
        Bytes plain = PastePlainImage({{1, L"site", L"unterminated"}});
        plain.resize(plain.size() - 2);
        REQUIRE(WriteFileBytes(dir + L"paste.dat", DecryptDataFile(plain)));
    }
    SUBCASE("paste.dat with a zero count loads as empty: no default entry")
    {
        REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile({})));
        checkEntries = true;
    }
    SUBCASE("ini.dat of ten bytes: the defaults")
    {
        REQUIRE(WriteFileBytes(dir + L"ini.dat", Bytes(garbage.begin(), garbage.begin() + 10)));
        iniDefaults = true;
    }
    SUBCASE("ini.dat with values the settings never give")
    {
        IniData ini = {};
        ini.pasteWaitMs = -5;
        ini.menuKeyMode = 77;
        ini.menuItemChars = 0;
        ini.menuWrapCount = 0;
        ini.historyMax = -1000;
        ini.treeWidth = 200;
        REQUIRE(WriteFileBytes(dir + L"ini.dat", EncryptedIni(ini)));
    }

    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    REQUIRE(StartClean(dir, &tavo));
    PumpFor(300);
    CHECK(WaitForSingleObject(tavo.process.hProcess, 0) == WAIT_TIMEOUT);
    CHECK(CountProcessWindows(tavo.process.dwProcessId, L"#32770", L"tavo", true) == 0);
    CHECK(StopTavo(&tavo) == 0);

    // Both files are written again, readable and in range.
    std::vector<PasteRecord> entries = SavedEntries(dir);
    if (checkEntries)
        CHECK(entries == expectedEntries);
    IniData ini;
    REQUIRE(ReadIniRecord(dir + L"ini.dat", &ini));
    if (iniDefaults)
        CheckDefaults(ini);
    CHECK(ini.pasteWaitMs >= PASTE_WAIT_MIN);
    CHECK(ini.pasteWaitMs <= PASTE_WAIT_MAX);
    CHECK(ini.menuKeyMode >= 0);
    CHECK(ini.menuKeyMode <= 3);
    CHECK(ini.menuItemChars >= ITEM_CHARS_MIN);
    CHECK(ini.menuWrapCount >= WRAP_COUNT_MIN);
    CHECK(ini.menuWrapCount <= WRAP_COUNT_MAX);
    CHECK(ini.historyMax >= HISTORY_MAX_MIN);
}

TEST_CASE("a settings file that cannot be written: one box at a time, Cancel runs on, the exit saves once the cause is gone")
{
    std::wstring dir = MakeScratchDir(L"e2e_save_fails");
    REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(SampleEntries())));
    // A folder where ini.dat belongs: it can be neither read, nor copied aside, nor replaced.
    REQUIRE(CreateDirectoryW((dir + L"ini.dat").c_str(), nullptr));
    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    REQUIRE(StartClean(dir, &tavo));
    HWND mainWindow = tavo.mainWindow;
    DWORD processId = tavo.process.dwProcessId;
    HWND box = WaitForProcessWindow(processId, L"#32770", L"tavo", 10000);
    REQUIRE(box != nullptr);
    CHECK(BoxText(box) == L"ini.dat を読み込めませんでした。\nini.dat.bak に控えを作れるまで、このファイルには保存しません。");
    PressOk(box);
    CHECK(WaitUntil([&] { return !IsWindow(box); }, 5000));

    PostMessageW(mainWindow, WM_CLOSE, 0, 0);
    box = nullptr;
    WaitUntil([&] { return (box = FindVisibleProcessWindow(processId, L"#32770", L"tavo")) != nullptr; }, 10000);
    REQUIRE(box != nullptr);
    CHECK(BoxText(box) == L"ini.dat を読み込めなかったため、ini.dat.bak に控えを作れるまで上書きしません。\n"
                          L"もう一度保存しますか？\n保存せずに終了することも (ディスク上のファイルは元のまま残ります)、終了を取りやめることもできます。");
    CHECK(GetWindow(box, GW_OWNER) == mainWindow);

    // The box's own loop dispatches this to the main window: no second exit, no second box.
    PostMessageW(mainWindow, WM_CLOSE, 0, 0);
    PumpFor(500);
    CHECK(CountProcessWindows(processId, L"#32770", L"tavo", true) == 1);
    PressButton(box, IDCANCEL);
    CHECK(WaitUntil([&] { return !IsWindow(box); }, 5000));
    PumpFor(300);
    CHECK(WaitForSingleObject(tavo.process.hProcess, 0) == WAIT_TIMEOUT);
    CHECK(IsWindow(mainWindow));

    // The folder goes; the next exit writes both files.
    REQUIRE(RemoveDirectoryW((dir + L"ini.dat").c_str()));
    CHECK(StopTavo(&tavo) == 0);
    CHECK(SavedEntries(dir) == SampleEntries());
    IniData ini;
    REQUIRE(ReadIniRecord(dir + L"ini.dat", &ini));
    CheckDefaults(ini);
}

TEST_CASE("the tray menu opens at the cursor on a right-button release and its commands act")
{
    std::wstring dir = MakeScratchDir(L"e2e_tray");
    REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(SampleEntries())));
    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    REQUIRE(StartClean(dir, &tavo));
    DWORD processId = tavo.process.dwProcessId;
    auto menuWindow = [&]() -> HWND {
        HWND menu = FindProcessWindow(processId, L"#32768", nullptr);
        return menu && IsWindowVisible(menu) ? menu : nullptr;
    };
    auto openMenu = [&]() -> HWND {
        HWND menu = nullptr;
        PostMessageW(tavo.mainWindow, TrayIconMessage, 2000, WM_RBUTTONUP);
        WaitUntil([&] { return (menu = menuWindow()) != nullptr; }, 5000);
        return menu;
    };

    // Other notifications of the icon, and other icons, open nothing.
    PostMessageW(tavo.mainWindow, TrayIconMessage, 2000, WM_LBUTTONUP);
    PostMessageW(tavo.mainWindow, TrayIconMessage, 2000, WM_LBUTTONDBLCLK);
    PostMessageW(tavo.mainWindow, TrayIconMessage, 2000, WM_RBUTTONDOWN);
    PostMessageW(tavo.mainWindow, TrayIconMessage, 2001, WM_RBUTTONUP);
    PumpFor(300);
    CHECK(menuWindow() == nullptr);

    HWND menu = openMenu();
    REQUIRE(menu != nullptr);
    POINT cursor;
    GetCursorPos(&cursor);
    RECT where;
    GetWindowRect(menu, &where);
    CHECK(where.left == cursor.x);
    CHECK(where.top == cursor.y);

    // Menu mnemonics typed on the keyboard (the menu's thread has the foreground): C clears the
    // copy history; X from the menu opened again ends the program.
    TapKey('C');
    CHECK(WaitUntil([&] { return menuWindow() == nullptr; }, 3000));
    menu = openMenu();
    REQUIRE(menu != nullptr);
    TapKey('X');
    CHECK(WaitExit(tavo.process, 10000) == 0);
    CHECK(SavedEntries(dir) == SampleRegistered());
    tavo.mainWindow = nullptr;
    StopTavo(&tavo);
}

namespace {

// One item row of a menu as drawn on the screen.
struct DrawnItem {
    int top, bottom;
    int firstDark;  // leftmost column with black ink, -1 when the row has none (greyed text is grey)
};

bool Dark(COLORREF colour)
{
    return GetRValue(colour) < 0x50 && GetGValue(colour) < 0x50 && GetBValue(colour) < 0x50;
}

// Reads the menu window's pixels off the screen and splits them into item rows: bands of rows
// with ink taller than a separator line.
std::vector<DrawnItem> DrawnMenuItems(HWND menu)
{
    std::vector<DrawnItem> items;
    RECT where;
    GetWindowRect(menu, &where);
    int width = where.right - where.left, height = where.bottom - where.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, where.left, where.top, SRCCOPY);
    COLORREF background = GetPixel(memory, width / 2, 4);
    const int edge = 4;
    int bandTop = -1, firstDark = -1;
    for (int y = edge; y <= height - edge; y++) {
        bool ink = false;
        int rowDark = -1;
        for (int x = edge; y < height - edge && x < width - edge; x++) {
            COLORREF colour = GetPixel(memory, x, y);
            if (colour != background)
                ink = true;
            if (Dark(colour) && rowDark < 0)
                rowDark = x;
        }
        if (ink) {
            if (bandTop < 0) {
                bandTop = y;
                firstDark = -1;
            }
            if (rowDark >= 0 && (firstDark < 0 || rowDark < firstDark))
                firstDark = rowDark;
        } else if (bandTop >= 0) {
            if (y - bandTop > 3)
                items.push_back({bandTop, y, firstDark});
            bandTop = -1;
        }
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return items;
}

}  // namespace

TEST_CASE("the tray menu shows clearing greyed without copy history and the check mark with the shortcut")
{
    std::wstring link = StartupLinkWithoutFile();
    REQUIRE(!link.empty());

    struct Case {
        bool history, shortcut;
    } cases[] = {{false, false}, {true, true}};
    for (const Case &c : cases) {
        CAPTURE(c.history);
        CAPTURE(c.shortcut);
        std::wstring dir = MakeScratchDir(L"e2e_tray_states");
        std::vector<PasteRecord> entries = {{1, L"site", L"id"}};
        if (c.history)
            entries.push_back({0, L"", L"copied"});
        REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(entries)));
        if (c.shortcut)
            REQUIRE(WriteFileBytes(link, Bytes{'l', 'n', 'k'}));
        TavoProcess tavo = {};
        EndAtExit endAtExit = {&tavo};
        REQUIRE(StartClean(dir, &tavo));
        SetCursorPos(300, 200);
        PostMessageW(tavo.mainWindow, TrayIconMessage, 2000, WM_RBUTTONUP);
        HWND menu = nullptr;
        REQUIRE(WaitUntil([&] {
            menu = FindProcessWindow(tavo.process.dwProcessId, L"#32768", nullptr);
            return menu && IsWindowVisible(menu);
        }, 5000));
        PumpFor(300);
        std::vector<DrawnItem> items = DrawnMenuItems(menu);
        PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
        WaitUntil([&] { return !IsWindowVisible(menu); }, 3000);
        CHECK(StopTavo(&tavo) == 0);
        DeleteFileW(link.c_str());

        // Six commands; the separators are too thin to count as rows.
        REQUIRE(items.size() == 6);
        // "データ編集(&E)" is always enabled and never checked: black text from its text column.
        int textColumn = items[1].firstDark;
        REQUIRE(textColumn >= 0);
        CHECK((items[0].firstDark >= 0) == c.history);
        // A check mark puts black ink left of the text column in "スタートアップ登録(&S)".
        REQUIRE(items[2].firstDark >= 0);
        CHECK((items[2].firstDark < textColumn - 2) == c.shortcut);
        CHECK(items[3].firstDark >= textColumn - 2);
    }
}

// Run by hand for a picture of the tray menu: "child show_tray_menu SECONDS".
TEST_CHILD(show_tray_menu)
{
    int seconds = argc > 0 ? atoi(argv[0]) : 10;
    std::wstring dir = MakeScratchDir(L"tray_picture");
    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    if (!StartClean(dir, &tavo))
        return 1;
    SetCursorPos(200, 120);
    PostMessageW(tavo.mainWindow, TrayIconMessage, 2000, WM_RBUTTONUP);
    printf("tray menu open for %d s\n", seconds);
    fflush(stdout);
    PumpFor(seconds * 1000);
    HWND menu = FindProcessWindow(tavo.process.dwProcessId, L"#32768", nullptr);
    if (menu)
        PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    return StopTavo(&tavo) == 0 ? 0 : 1;
}
