// The registered paste with the real tavo.exe under conditions that go wrong easily: a target slow
// to read its clipboard, an exit asked while a menu or paste runs, the hotkey and tray clicks
// arriving meanwhile, and the user's clipboard text that must come back afterwards.
#include <doctest/doctest.h>
#include <algorithm>
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

void EmptyFields(const TestForm &form)
{
    SetWindowTextW(form.field1, L"");
    SetWindowTextW(form.field2, L"");
    SetWindowTextW(form.field3, L"");
}

bool FormIsEmpty(const TestForm &form)
{
    return FieldText(form.field1).empty() && FieldText(form.field2).empty() && FieldText(form.field3).empty();
}

bool Watched(ClipboardWatcher *watcher, const std::wstring &text)
{
    std::vector<std::wstring> texts = WatchedTexts(watcher);
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// A 2 x 2 picture of 24 bits, bottom-up: the header, then two rows of 8 bytes.
const BYTE PicturePixels[16] = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
const char HtmlText[] = "Version:0.9\r\nStartHTML:-1\r\n<b>earlier</b>";

HGLOBAL BlockOf(const void *bytes, SIZE_T size)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    CopyMemory(GlobalLock(block), bytes, size);
    GlobalUnlock(block);
    return block;
}

bool PutPictureAndHtml(HWND owner)
{
    BYTE dib[sizeof(BITMAPINFOHEADER) + sizeof(PicturePixels)] = {};
    BITMAPINFOHEADER *header = (BITMAPINFOHEADER *)dib;
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = header->biHeight = 2;
    header->biPlanes = 1;
    header->biBitCount = 24;
    header->biSizeImage = sizeof(PicturePixels);
    CopyMemory(dib + sizeof(BITMAPINFOHEADER), PicturePixels, sizeof(PicturePixels));
    if (!OpenClipboardRetry(owner))
        return false;
    EmptyClipboard();
    bool placed = SetClipboardData(CF_DIB, BlockOf(dib, sizeof(dib))) &&
                  SetClipboardData(RegisterClipboardFormatW(L"HTML Format"), BlockOf(HtmlText, sizeof(HtmlText)));
    CloseClipboard();
    return placed;
}

// The picture's pixels and the HTML text as the clipboard gives them now.
bool PictureAndHtmlAreBack()
{
    if (!OpenClipboardRetry(nullptr))
        return false;
    bool pictureBack = false, htmlBack = false;
    HANDLE dib = GetClipboardData(CF_DIB);
    const BITMAPINFOHEADER *header = dib ? (const BITMAPINFOHEADER *)GlobalLock(dib) : nullptr;
    if (header) {
        SIZE_T offset = header->biSize + (header->biCompression == BI_BITFIELDS ? 12 : 0) + 4 * header->biClrUsed;
        pictureBack = header->biWidth == 2 && header->biHeight == 2 && header->biBitCount == 24 &&
                      GlobalSize(dib) >= offset + sizeof(PicturePixels) &&
                      memcmp((const BYTE *)header + offset, PicturePixels, sizeof(PicturePixels)) == 0;
        GlobalUnlock(dib);
    }
    HANDLE html = GetClipboardData(RegisterClipboardFormatW(L"HTML Format"));
    const char *chars = html ? (const char *)GlobalLock(html) : nullptr;
    if (chars) {
        htmlBack = GlobalSize(html) >= sizeof(HtmlText) && memcmp(chars, HtmlText, sizeof(HtmlText)) == 0;
        GlobalUnlock(html);
    }
    CloseClipboard();
    return pictureBack && htmlBack;
}

// Double-taps Shift and chooses the first registered entry in the menu: true when the field shows
// the text within the time and the menu was there to be played.
bool ChooseRegisteredUntil(HWND field, const std::wstring &text, DWORD ms)
{
    MenuPlayer player;
    StartMenuPlayer(&player, ChooseRegistered);
    PlayDoubleTap(VK_SHIFT);
    bool typed = WaitUntil([&] { return FieldText(field) == text; }, ms);
    return FinishMenuPlayer(&player) && typed;
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
        CHECK(ChooseRegisteredUntil(s.form.field2, L"pass", 6000));
        CHECK(FieldText(s.form.field1) == L"user");
        CHECK(WaitUntil([] { return TakeClipboardText() == L"earlier text"; }, 3000));
        PumpFor(300);
        std::vector<PasteRecord> saved = s.Stop();
        CHECK(HistoryTextsOf(saved).empty());
    }
    SUBCASE("a picture and an HTML text come back")
    {
        TavoRun s;
        REQUIRE(s.Start(L"e2e_restore_formats", TestIni(0), &entries));
        REQUIRE(PutPictureAndHtml(s.form.window));
        PumpFor(200);
        REQUIRE(FocusTestField(s.form, 1));
        CHECK(ChooseRegisteredUntil(s.form.field2, L"pass", 6000));
        CHECK(WaitUntil(PictureAndHtmlAreBack, 3000));
        s.Stop();
    }
    SUBCASE("an empty clipboard is empty again: the password does not stay")
    {
        TavoRun s;
        REQUIRE(s.Start(L"e2e_restore_empty", TestIni(0), &entries));
        CHECK(ChooseRegisteredUntil(s.form.field2, L"pass", 6000));
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

TEST_CASE("E2E: the keys go only to the window and the page chosen, a stop is told, and a copy made during a paste is recorded")
{
    // The second line alone takes 40 pauses of 100 ms: the user turns away long before it is typed.
    std::wstring longSecond(40, L'p');
    std::vector<PasteRecord> entries = EntriesWith(L"user\r\n" + longSecond);
    TavoRun s;
    IniData ini = TestIni(0);
    ini.pasteWaitMs = 100;
    REQUIRE(s.Start(L"e2e_switch", ini, &entries));
    TestForm chat = {};
    REQUIRE(CreateTestForm(&chat));
    SetWindowPos(chat.window, nullptr, 600, 120, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    REQUIRE(PutClipboardText(s.form.window, L"earlier text"));
    PumpFor(200);
    REQUIRE(FocusTestField(s.form, 1));

    // A registered entry: the user turns to the chat after the first line.
    REQUIRE(PasteUntilFirstLine(s, DoubleTapShift));
    REQUIRE(FocusTestField(chat, 1));
    CHECK_FALSE(WaitUntil([&] { return !FormIsEmpty(chat) || !FieldText(s.form.field2).empty(); }, 5500));
    CHECK(WaitUntil([] { return TakeClipboardText() == L"earlier text"; }, 4000));
    CHECK(WaitForTrayBalloon(StringOf(IDS_PASTE_STOPPED_WINDOW), 6000));

    // A registered entry: the window stays, its caption turns to another page (a browser's tab).
    EmptyFields(s.form);
    REQUIRE(FocusTestField(s.form, 1));
    REQUIRE(PasteUntilFirstLine(s, DoubleTapShift));
    SetWindowTextW(s.form.window, L"Chat - general");
    CHECK_FALSE(WaitUntil([&] { return !FieldText(s.form.field2).empty(); }, 5500));
    CHECK(WaitUntil([] { return TakeClipboardText() == L"earlier text"; }, 4000));
    CHECK(WaitForTrayBalloon(StringOf(IDS_PASTE_STOPPED_CAPTION), 6000));
    SetWindowTextW(s.form.window, L"recall form");

    // A copy-history entry: the user turns to the chat while a clipboard program reads the entry.
    EmptyFields(s.form);
    REQUIRE(FocusTestField(s.form, 1));
    ClipboardWatcher watcher;
    REQUIRE(StartClipboardWatcher(&watcher, 250));
    MenuPlayer player;
    StartMenuPlayer(&player, {VK_DOWN, VK_DOWN, VK_RETURN});
    PlayDoubleTap(VK_SHIFT);
    REQUIRE(WaitUntil([&] { return Watched(&watcher, L"newest copy"); }, 5000));
    REQUIRE(FocusTestField(chat, 1));
    CHECK(FinishMenuPlayer(&player));
    PumpFor(1000);
    CHECK(FormIsEmpty(chat));
    CHECK(FormIsEmpty(s.form));
    StopClipboardWatcher(&watcher);

    // A copy made during a registered paste: recorded, and it is what the clipboard holds afterwards.
    REQUIRE(FocusTestField(s.form, 1));
    REQUIRE(PasteUntilFirstLine(s, DoubleTapShift));
    REQUIRE(PutClipboardText(chat.window, L"copied meanwhile"));
    CHECK(WaitUntil([&] { return FieldText(s.form.field2) == longSecond; }, 8000));
    CHECK(WaitUntil([] { return TakeClipboardText() == L"copied meanwhile"; }, 4000));
    CHECK(FormIsEmpty(chat));
    PumpFor(300);
    DestroyTestForm(&chat);
    std::vector<std::wstring> history = HistoryTextsOf(s.Stop());
    CHECK(std::find(history.begin(), history.end(), L"copied meanwhile") != history.end());
}

TEST_CASE("E2E: beside a clipboard program that reads every change at once, the typed lines leave no trace")
{
    std::vector<PasteRecord> entries = EntriesWith(L"user\r\nS3cret!");
    // One that honours only "Clipboard Viewer Ignore", and one that honours no marker at all: it
    // reads each line first, so the target is never seen reading, and the line must go all the same.
    for (bool honours : {true, false}) {
        CAPTURE(honours);
        TavoRun s;
        REQUIRE(s.Start(honours ? L"e2e_watcher_marked" : L"e2e_watcher_any", TestIni(0), &entries));
        ClipboardWatcher watcher;
        REQUIRE(StartClipboardWatcher(&watcher, 0, honours));
        REQUIRE(PutClipboardText(s.form.window, L"earlier text"));
        REQUIRE(WaitUntil([&] { return Watched(&watcher, L"earlier text"); }, 3000));
        REQUIRE(FocusTestField(s.form, 1));
        CHECK(ChooseRegisteredUntil(s.form.field2, L"S3cret!", 8000));
        CHECK(FieldText(s.form.field1) == L"user");
        CHECK(WaitUntil([] { return TakeClipboardText() == L"earlier text"; }, 5000));
        if (honours)
            CHECK(WatchedTexts(&watcher) == std::vector<std::wstring>{L"earlier text"});
        StopClipboardWatcher(&watcher);
        s.Stop();
    }
}
