// The registered paste with the real tavo.exe under conditions that go wrong easily: a target slow
// to read its clipboard, an exit asked while a menu or paste runs, the hotkey and tray clicks
// arriving meanwhile, and the user's clipboard text that must come back afterwards.
#include <doctest/doctest.h>
#include "recall_e2e_run.h"
#include "res/resource.h"

namespace {

const UINT TrayIconMessage = WM_APP + 2;
const WPARAM MenuHotKeyId = 2004;

// The menu keys that choose the newest registered entry.
const std::vector<WORD> ChooseRegistered = {VK_UP, VK_RIGHT, VK_RETURN};

std::vector<PasteRecord> EntriesWith(const std::wstring &registeredText)
{
    return {
        {0, L"", L"older copy"},
        {1, L"site", registeredText},
        {0, L"", L"newest copy"},
    };
}

// Hotkey mode with Alt+F9: the menu is opened by posting WM_HOTKEY, as the system does.
IniData HotKeyIni(int pasteWaitMs)
{
    IniData ini = TestIni(3);
    ini.hotkeyVk = VK_F9;
    ini.hotkeyMods = MOD_ALT;
    ini.pasteWaitMs = pasteWaitMs;
    return ini;
}

HWND TavoMenuWindow(const TavoRun &s)
{
    return FindVisibleProcessWindow(s.tavo.process.dwProcessId, L"#32768", nullptr);
}

bool ClipboardHoldsText()
{
    return IsClipboardFormatAvailable(CF_UNICODETEXT) != FALSE;
}

// The program ended by itself within the time with exit code 0.
bool EndedCleanly(TavoRun *s, DWORD timeoutMs)
{
    DWORD code = WaitExit(s->tavo.process, timeoutMs);
    CHECK(code == 0);
    if (code == ~0u)
        return false;
    CloseHandle(s->tavo.process.hThread);
    CloseHandle(s->tavo.process.hProcess);
    ZeroMemory(&s->tavo.process, sizeof(s->tavo.process));
    s->tavo.mainWindow = nullptr;
    return true;
}

// A new start of the same copy runs (the ended one left no mutex behind) and ends again. The
// files are not copied again: this process has the hook library loaded.
void CheckStartsAgain(const std::wstring &dir)
{
    EmptyClipboardNow();
    TavoProcess again = {};
    again.dir = dir;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    REQUIRE(CreateProcessW((dir + L"tavo.exe").c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(),
                           &startup, &again.process));
    HWND box = nullptr;
    CHECK(WaitUntil([&] {
        again.mainWindow = FindProcessWindow(again.process.dwProcessId, L"tavoClass", nullptr);
        box = FindProcessWindow(again.process.dwProcessId, L"#32770", L"tavo");
        return again.mainWindow != nullptr || box != nullptr;
    }, 15000));
    CHECK(box == nullptr);
    CHECK(again.mainWindow != nullptr);
    if (again.mainWindow)
        WaitForInputIdle(again.process.hProcess, 10000);
    CHECK(StopTavo(&again) == 0);
}

// Chooses the registered entry from the menu that the trigger opens; true once field 1 holds "user".
bool PasteUntilFirstLine(const TavoRun &s, void (*trigger)(const TavoRun &))
{
    MenuPlayer player;
    StartMenuPlayer(&player, ChooseRegistered);
    trigger(s);
    bool typed = WaitUntil([&] { return FieldText(s.form.field1) == L"user"; }, 6000);
    FinishMenuPlayer(&player);
    return typed;
}

void DoubleTapShift(const TavoRun &)
{
    PlayDoubleTap(VK_SHIFT);
}

void PostMenuHotKey(const TavoRun &s)
{
    PostMessageW(s.tavo.mainWindow, WM_HOTKEY, MenuHotKeyId, MAKELPARAM(MOD_ALT, VK_F9));
}

}  // namespace

TEST_CASE("E2E: with no pause and a target slow to read, every field gets its own line")
{
    FieldPasteDelayMs = 250;
    SUBCASE("two lines: the login ID never gets the password")
    {
        TavoRun s;
        IniData ini = TestIni(0);
        ini.pasteWaitMs = 0;
        std::vector<PasteRecord> entries = EntriesWith(L"alice\r\nS3cret!");
        REQUIRE(s.Start(L"e2e_slow_two", ini, &entries));
        MenuPlayer player;
        StartMenuPlayer(&player, ChooseRegistered);
        PlayDoubleTap(VK_SHIFT);
        CHECK(WaitUntil([&] { return FieldText(s.form.field2) != L""; }, 8000));
        CHECK(FinishMenuPlayer(&player));
        PumpFor(400);
        CHECK(FieldText(s.form.field1) == L"alice");
        CHECK(FieldText(s.form.field2) == L"S3cret!");
        s.Stop();
    }
    SUBCASE("three lines into three fields")
    {
        TavoRun s;
        IniData ini = TestIni(0);
        ini.pasteWaitMs = 0;
        std::vector<PasteRecord> entries = EntriesWith(L"first\r\nsecond\r\nthird");
        REQUIRE(s.Start(L"e2e_slow_three", ini, &entries));
        MenuPlayer player;
        StartMenuPlayer(&player, ChooseRegistered);
        PlayDoubleTap(VK_SHIFT);
        CHECK(WaitUntil([&] { return FieldText(s.form.field3) != L""; }, 8000));
        CHECK(FinishMenuPlayer(&player));
        PumpFor(400);
        CHECK(FieldText(s.form.field1) == L"first");
        CHECK(FieldText(s.form.field2) == L"second");
        CHECK(FieldText(s.form.field3) == L"third");
        s.Stop();
    }
    FieldPasteDelayMs = 0;
}

TEST_CASE("E2E: an exit asked during a paste or a menu ends the program, saved, and it starts again")
{
    // The second line alone takes 40 pauses of 100 ms: the exit comes long before it is typed.
    std::wstring longSecond(40, L'p');
    std::vector<PasteRecord> entries = EntriesWith(L"user\r\n" + longSecond);

    SUBCASE("WM_CLOSE, or the tray's exit command, during the paste: the typing stops, the line leaves the clipboard")
    {
        // Each in a folder of its own: this process may still hold the other run's hook library.
        struct Exit {
            UINT message;
            WPARAM wParam;
            const wchar_t *dir;
        } exits[] = {{WM_CLOSE, 0, L"e2e_exit_close"}, {WM_COMMAND, IDM_EXIT, L"e2e_exit_command"}};
        for (const Exit &exit : exits) {
            CAPTURE(exit.message);
            TavoRun s;
            IniData ini = TestIni(0);
            ini.pasteWaitMs = 100;
            REQUIRE(s.Start(exit.dir, ini, &entries));
            REQUIRE(PasteUntilFirstLine(s, DoubleTapShift));
            PostMessageW(s.tavo.mainWindow, exit.message, exit.wParam, 0);
            REQUIRE(EndedCleanly(&s, 5000));
            PumpFor(300);
            CHECK_MESSAGE(FieldText(s.form.field2) == L"", "field 2 holds ", FieldText(s.form.field2).size(), " units");
            CHECK_FALSE(ClipboardHoldsText());
            CHECK(s.Stop() == entries);
            CheckStartsAgain(s.dir);
        }
    }
    SUBCASE("WM_CLOSE while the popup menu is open: the menu closes, nothing is pasted")
    {
        TavoRun s;
        REQUIRE(s.Start(L"e2e_exit_menu", TestIni(0), &entries));
        PlayDoubleTap(VK_SHIFT);
        REQUIRE(WaitUntil([&] { return TavoMenuWindow(s) != nullptr; }, 5000));
        PostMessageW(s.tavo.mainWindow, WM_CLOSE, 0, 0);
        REQUIRE(EndedCleanly(&s, 5000));
        CHECK(VisibleMenuWindow() == nullptr);
        CHECK(FieldText(s.form.field1) == L"");
        CHECK(s.Stop() == entries);
        CheckStartsAgain(s.dir);
    }
}

TEST_CASE("E2E: the hotkey and tray clicks do nothing while a menu or paste runs; a tray command waits for its end")
{
    SUBCASE("while the menu is open: still one menu, and the choice lands in the field")
    {
        std::vector<PasteRecord> entries = EntriesWith(L"user\r\npass");
        TavoRun s;
        REQUIRE(s.Start(L"e2e_busy_menu", HotKeyIni(20), &entries));
        PostMenuHotKey(s);
        REQUIRE(WaitUntil([&] { return TavoMenuWindow(s) != nullptr; }, 5000));
        PumpFor(150);
        PostMenuHotKey(s);
        PostMessageW(s.tavo.mainWindow, TrayIconMessage, 2000, WM_RBUTTONUP);
        PumpFor(500);
        CHECK(CountProcessWindows(s.tavo.process.dwProcessId, L"#32768", nullptr, true) == 1);
        TapKey(VK_DOWN);
        PumpFor(60);
        TapKey(VK_RETURN);
        CHECK(WaitUntil([&] { return FieldText(s.form.field1) == L"newest copy"; }, 4000));
        PumpFor(300);
        CHECK(TavoMenuWindow(s) == nullptr);
        s.Stop();
    }
    SUBCASE("while a paste types: no menu opens, both fields fill, the history is cleared after the paste")
    {
        std::wstring second(30, L'q');
        std::vector<PasteRecord> entries = EntriesWith(L"user\r\n" + second);
        TavoRun s;
        REQUIRE(s.Start(L"e2e_busy_paste", HotKeyIni(50), &entries));
        REQUIRE(PasteUntilFirstLine(s, PostMenuHotKey));
        PostMenuHotKey(s);
        PostMessageW(s.tavo.mainWindow, TrayIconMessage, 2000, WM_RBUTTONUP);
        PostMessageW(s.tavo.mainWindow, WM_COMMAND, IDM_CLEAR_HISTORY, 0);
        bool menuSeen = false;
        CHECK(WaitUntil([&] {
            menuSeen = menuSeen || TavoMenuWindow(s) != nullptr;
            return FieldText(s.form.field2) == second;
        }, 6000));
        PumpFor(300);
        CHECK_FALSE(menuSeen);
        CHECK(TavoMenuWindow(s) == nullptr);
        CHECK(FieldText(s.form.field1) == L"user");
        std::vector<PasteRecord> saved = s.Stop();
        CHECK(HistoryTextsOf(saved).empty());
        CHECK(saved.size() == 1);
    }
}

TEST_CASE("E2E: after a registered paste the user's earlier clipboard comes back, and the history does not gain it")
{
    std::vector<PasteRecord> entries = EntriesWith(L"user\r\npass");
    SUBCASE("an earlier text comes back; cleared from the history before, it is not recorded again")
    {
        TavoRun s;
        REQUIRE(s.Start(L"e2e_restore_text", TestIni(0), &entries));
        REQUIRE(PutClipboardText(s.form.window, L"earlier text"));
        PumpFor(200);
        PostMessageW(s.tavo.mainWindow, WM_COMMAND, IDM_CLEAR_HISTORY, 0);
        PumpFor(200);
        REQUIRE(FocusTestField(s.form, 1));
        MenuPlayer player;
        StartMenuPlayer(&player, ChooseRegistered);
        PlayDoubleTap(VK_SHIFT);
        CHECK(WaitUntil([&] { return FieldText(s.form.field2) == L"pass"; }, 6000));
        CHECK(FinishMenuPlayer(&player));
        CHECK(FieldText(s.form.field1) == L"user");
        CHECK(WaitUntil([] { return TakeClipboardText() == L"earlier text"; }, 3000));
        PumpFor(300);
        std::vector<PasteRecord> saved = s.Stop();
        CHECK(HistoryTextsOf(saved).empty());
    }
    SUBCASE("an empty clipboard is empty again: the password does not stay")
    {
        TavoRun s;
        REQUIRE(s.Start(L"e2e_restore_empty", TestIni(0), &entries));
        MenuPlayer player;
        StartMenuPlayer(&player, ChooseRegistered);
        PlayDoubleTap(VK_SHIFT);
        CHECK(WaitUntil([&] { return FieldText(s.form.field2) == L"pass"; }, 6000));
        CHECK(FinishMenuPlayer(&player));
        CHECK(WaitUntil([] { return !ClipboardHoldsText(); }, 3000));
        std::vector<PasteRecord> saved = s.Stop();
        CHECK(HistoryTextsOf(saved) == std::vector<std::wstring>{L"older copy", L"newest copy"});
    }
    SUBCASE("a copy-history paste leaves the chosen entry on the clipboard")
    {
        TavoRun s;
        REQUIRE(s.Start(L"e2e_restore_history", TestIni(0), &entries));
        REQUIRE(PutClipboardText(s.form.window, L"earlier text"));
        PumpFor(200);
        REQUIRE(FocusTestField(s.form, 1));
        MenuPlayer player;
        StartMenuPlayer(&player, {VK_DOWN, VK_DOWN, VK_RETURN});
        PlayDoubleTap(VK_SHIFT);
        CHECK(WaitUntil([&] { return FieldText(s.form.field1) == L"newest copy"; }, 5000));
        CHECK(FinishMenuPlayer(&player));
        PumpFor(1500);
        CHECK(TakeClipboardText() == L"newest copy");
        s.Stop();
    }
}
