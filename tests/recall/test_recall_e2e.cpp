// The main road with the real tavo.exe: this program plays the user. It owns a form with two
// fields, copies texts, taps Shift (or Ctrl, or presses the hotkey), answers the popup menu with
// keys and reads what landed in the fields and, after tavo.exe has ended, in paste.dat.
#include <doctest/doctest.h>
#include <functional>
#include "recall_e2e_run.h"
#include "res/resource.h"
#include "state/app_rules.h"
#include "state/ini_data.h"
#include "test_util.h"

// Answers the menu that the trigger opens with the keys; checks that field 1 then reads the
// expected text within 5 s and that the player saw the menu.
static void PasteIntoField1(const TavoRun &s, MenuPlayer *player, const std::vector<WORD> &keys,
                            const std::function<void()> &trigger, const wchar_t *expected)
{
    StartMenuPlayer(player, keys);
    trigger();
    CHECK(WaitUntil([&] { return FieldText(s.form.field1) == expected; }, 5000));
    CHECK(FinishMenuPlayer(player));
}

static std::function<void()> DoubleTapOf(WORD vk)
{
    return [vk] { PlayDoubleTap(vk); };
}

// A Shift double tap, the newest registered entry chosen from the menu: "user", Tab, "pass".
static void ChooseRegisteredByDoubleTap(const TavoRun &s)
{
    MenuPlayer player;
    StartMenuPlayer(&player, {VK_UP, VK_RIGHT, VK_RETURN});
    PlayDoubleTap(VK_SHIFT);
    CHECK(WaitUntil([&] { return FieldText(s.form.field2) == L"pass"; }, 6000));
    CHECK(FinishMenuPlayer(&player));
    CHECK(FieldText(s.form.field1) == L"user");
}

TEST_CASE("E2E: copies land in paste.dat in order, marked texts stay out")
{
    TavoRun s;
    REQUIRE(s.Start(L"e2e_copies", TestIni(0), nullptr));
    for (const wchar_t *text : {L"first", L"second", L"third", L"second"}) {
        REQUIRE(PutClipboardText(s.form.window, text));
        PumpFor(200);
    }
    // A password manager's copy carries the marker: it is not recorded.
    REQUIRE(OpenClipboardRetry(s.form.window));
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 16);
    lstrcpyW((WCHAR *)GlobalLock(block), L"hunter2");
    GlobalUnlock(block);
    SetClipboardData(CF_UNICODETEXT, block);
    SetClipboardData(RegisterClipboardFormatW(L"ExcludeClipboardContentFromMonitorProcessing"), GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 4));
    CloseClipboard();
    PumpFor(200);
    REQUIRE(PutClipboardText(s.form.window, L"after the secret"));
    PumpFor(200);
    std::vector<PasteRecord> saved = s.Stop();
    CHECK(HistoryTextsOf(saved) == std::vector<std::wstring>{L"first", L"third", L"second", L"after the secret"});
    REQUIRE(!saved.empty());
    CHECK(saved[0] == (PasteRecord{1, L"サイト名", L"ログインID\r\nパスワード"}));
}

static const std::vector<PasteRecord> SeedEntries = {
    {0, L"", L"older copy"},
    {1, L"site", L"user\r\npass"},
    {0, L"", L"newest copy"},
};

TEST_CASE("E2E: double tap of Shift, Down, Enter pastes the newest copy into field 1")
{
    TavoRun s;
    REQUIRE(s.Start(L"e2e_history", TestIni(0), &SeedEntries));
    MenuPlayer player;
    PasteIntoField1(s, &player, {VK_DOWN, VK_RETURN}, DoubleTapOf(VK_SHIFT), L"newest copy");
    CHECK(FieldText(s.form.field2) == L"");
    // The menu opened at the caret of field 1, not at the mouse cursor.
    RECT field;
    GetWindowRect(s.form.field1, &field);
    CHECK(player.menuRect.left >= field.left);
    CHECK(player.menuRect.left <= field.left + 40);
    CHECK(player.menuRect.top >= field.top);
    CHECK(player.menuRect.top <= field.bottom);

    // The second entry chosen: it moves to the newest place of the history.
    PumpFor(GetDoubleClickTime() + 100);
    SetWindowTextW(s.form.field1, L"");
    REQUIRE(FocusTestField(s.form, 1));
    PasteIntoField1(s, &player, {VK_DOWN, VK_DOWN, VK_RETURN}, DoubleTapOf(VK_SHIFT), L"older copy");
    PumpFor(200);
    std::vector<PasteRecord> saved = s.Stop();
    CHECK(HistoryTextsOf(saved) == std::vector<std::wstring>{L"newest copy", L"older copy"});
}

static const std::vector<PasteRecord> FindEntries = {
    {0, L"", L"guide to the city"},
    {1, L"bank", L"gui secret"},
    {1, L"guitar login", L"guiuser\r\nguipass"},
    {0, L"", L"a.php?x=1&y=2"},
    {0, L"", L"newest copy"},
};

static std::wstring NoMatchText()
{
    WCHAR text[64];
    return LoadStringW(GetModuleHandleW(nullptr), IDS_FIND_NO_MATCH, text, 64) > 0 ? text : L"<missing>";
}

// Opens the menu with a double tap of Shift and types one character in it; the find box opens.
static bool OpenFindBoxWith(const TavoRun &s, WORD key, FindBoxView *view)
{
    MenuPlayer player;
    StartMenuPlayer(&player, {key});
    PlayDoubleTap(VK_SHIFT);
    bool opened = WaitForFindBox(s, view, 5000);
    CHECK(FinishMenuPlayer(&player));
    return opened;
}

static bool RowsBecome(const TavoRun &s, const FindBoxView &view, const std::vector<std::wstring> &rows)
{
    return WaitUntil([&] { return FindBoxRows(s, view) == rows; }, 3000);
}

TEST_CASE("E2E: typing in the menu: a prefix chooses; other keys open the find box, which types the chosen entry")
{
    TavoRun s;
    IniData ini = TestIni(0);
    ini.pasteWaitMs = 60;
    ini.menuWrapCount = 2;  // the root ends in a block and "L: 登録データ"
    REQUIRE(s.Start(L"e2e_find", ini, &FindEntries));
    MenuPlayer player;
    // "L" opens the registered data, where "1" is the prefix of the second entry.
    PasteIntoField1(s, &player, {'L', '1'}, DoubleTapOf(VK_SHIFT), L"gui secret");
    PumpFor(GetDoubleClickTime() + 100);
    SetWindowTextW(s.form.field1, L"");
    REQUIRE(FocusTestField(s.form, 1));

    // "y" is no access key of "1: a.php?x=1&y=2" in the root: it opens the box. Esc types
    // nothing and gives the focus back to the field.
    FindBoxView view;
    REQUIRE(OpenFindBoxWith(s, 'Y', &view));
    CHECK(FindBoxText(view) == L"y");
    TypeText(L"=2");
    CHECK(RowsBecome(s, view, {L"a.php?x=1&y=2"}));
    TapKey(VK_ESCAPE);
    CHECK(WaitUntil([&] { return !IsWindowVisible(view.box); }, 3000));
    CHECK(WaitUntil([&] { return GetForegroundWindow() == s.form.window && GetFocus() == s.form.field1; }, 3000));
    PumpFor(500);
    CHECK(FieldText(s.form.field1) == L"");
    CHECK(FieldText(s.form.field2) == L"");
    PumpFor(GetDoubleClickTime());

    // A letter opens the box with it typed; more letters narrow the list: registered names
    // first, then copies, and never a registered text.
    REQUIRE(OpenFindBoxWith(s, 'G', &view));
    CHECK(FindBoxText(view) == L"g");
    TapKey('U');
    TapKey('I');
    CHECK(RowsBecome(s, view, {L"guitar login", L"guide to the city"}));
    TypeText(L" ｚｚ");
    CHECK(RowsBecome(s, view, {NoMatchText()}));
    for (int k = 0; k < 3; k++)
        TapKey(VK_BACK);
    CHECK(RowsBecome(s, view, {L"guitar login", L"guide to the city"}));
    CHECK(FindBoxSelection(view) == 0);
    TapKey(VK_DOWN);
    CHECK(WaitUntil([&] { return FindBoxSelection(view) == 1; }, 2000));
    CHECK(FindBoxText(view) == L"gui");  // the caret stayed in the field
    TapKey(VK_RETURN);
    CHECK(WaitUntil([&] { return FieldText(s.form.field1) == L"guide to the city"; }, 5000));
    CHECK(FieldText(s.form.field2) == L"");

    // Space opens the box empty; a registered entry chosen there fills both fields with a Tab.
    PumpFor(GetDoubleClickTime() + 100);
    SetWindowTextW(s.form.field1, L"");
    REQUIRE(FocusTestField(s.form, 1));
    REQUIRE(OpenFindBoxWith(s, VK_SPACE, &view));
    CHECK(FindBoxText(view) == L"");
    TypeText(L"ＧＵＩＴＡＲ");
    CHECK(RowsBecome(s, view, {L"guitar login"}));
    TapKey(VK_RETURN);
    CHECK(WaitUntil([&] { return FieldText(s.form.field2) == L"guipass"; }, 6000));
    CHECK(FieldText(s.form.field1) == L"guiuser");

    // A click elsewhere (the box loses the activation) closes it; nothing is typed.
    PumpFor(GetDoubleClickTime() + 500);
    SetWindowTextW(s.form.field1, L"");
    SetWindowTextW(s.form.field2, L"");
    REQUIRE(FocusTestField(s.form, 2));
    REQUIRE(OpenFindBoxWith(s, 'N', &view));
    CHECK(RowsBecome(s, view, {L"guitar login", L"bank", L"newest copy"}));
    REQUIRE(FocusTestField(s.form, 1));
    CHECK(WaitUntil([&] { return !IsWindowVisible(view.box); }, 3000));
    PumpFor(500);
    CHECK(GetFocus() == s.form.field1);
    CHECK(FieldText(s.form.field1) == L"");
    CHECK(FieldText(s.form.field2) == L"");
    std::vector<PasteRecord> saved = s.Stop();
    CHECK(HistoryTextsOf(saved) == std::vector<std::wstring>{L"a.php?x=1&y=2", L"newest copy", L"guide to the city"});
}

TEST_CASE("E2E: beyond the menu's bound, its last item counts the copies left and opens the find box")
{
    std::vector<PasteRecord> copies;
    for (int n = 0; n < 700; n++)
        copies.push_back({0, L"", L"copy " + std::to_wstring(n)});
    IniData ini = TestIni(0);
    ini.menuWrapCount = 1;
    TavoRun s;
    REQUIRE(s.Start(L"e2e_more", ini, &copies));
    // From the top, Up goes to "L: 登録データ", and once more past the separator to the count.
    MenuPlayer player;
    StartMenuPlayer(&player, {VK_UP, VK_UP, VK_RETURN});
    PlayDoubleTap(VK_SHIFT);
    FindBoxView view;
    CHECK(WaitForFindBox(s, &view, 5000));
    CHECK(FinishMenuPlayer(&player));
    TapKey(VK_ESCAPE);
    CHECK(WaitUntil([&] { return !IsWindowVisible(view.box); }, 3000));
    CHECK(FieldText(s.form.field1) == L"");  // nothing was pasted
    CHECK(s.Stop().size() == 700);
}

// Records every clipboard change with the markers it carried.
static std::vector<std::wstring> ListenedTexts;
static std::vector<int> ListenedMarks;  // how many of the three markers were set
static LRESULT CALLBACK ListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLIPBOARDUPDATE) {
        std::wstring text;
        int marks = 0;
        if (OpenClipboardRetry(window)) {
            HANDLE data = GetClipboardData(CF_UNICODETEXT);
            if (data) {
                text = (const WCHAR *)GlobalLock(data);
                GlobalUnlock(data);
            }
            const wchar_t *names[3] = {L"ExcludeClipboardContentFromMonitorProcessing", L"CanIncludeInClipboardHistory",
                                       L"CanUploadToCloudClipboard"};
            for (int k = 0; k < 3; k++) {
                HANDLE marker = GetClipboardData(RegisterClipboardFormatW(names[k]));
                if (marker && (k == 0 || (GlobalSize(marker) >= 4 && *(const DWORD *)GlobalLock(marker) == 0))) {
                    marks++;
                }
                if (marker && k > 0)
                    GlobalUnlock(marker);
            }
            CloseClipboard();
        }
        ListenedTexts.push_back(text);
        ListenedMarks.push_back(marks);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The listener runs on a thread of its own, as a clipboard watcher of another program would: a
// reader on the target's own thread would count as the target.
static DWORD WINAPI RunListener(void *ready)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ListenerProc;
    wc.lpszClassName = L"tavoTestListenerClass";
    RegisterClassW(&wc);
    HWND listener = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    BOOL listening = AddClipboardFormatListener(listener);
    SetEvent((HANDLE)ready);
    MSG msg;
    while (listening && GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    RemoveClipboardFormatListener(listener);
    DestroyWindow(listener);
    return listening ? 0 : 1;
}

TEST_CASE("E2E: a registered entry fills both fields, marked, and adds nothing to the history")
{
    TavoRun s;
    IniData ini = TestIni(0);
    ini.pasteWaitMs = 60;
    REQUIRE(s.Start(L"e2e_registered", ini, &SeedEntries));
    ListenedTexts.clear();
    ListenedMarks.clear();
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD listenerThreadId = 0;
    HANDLE listenerThread = CreateThread(nullptr, 0, RunListener, ready, 0, &listenerThreadId);
    REQUIRE(WaitForSingleObject(ready, 5000) == WAIT_OBJECT_0);

    ChooseRegisteredByDoubleTap(s);
    CHECK(FieldText(s.form.field2) == L"pass");
    PumpFor(1500);
    PostThreadMessageW(listenerThreadId, WM_QUIT, 0, 0);
    CHECK(WaitForSingleObject(listenerThread, 5000) == WAIT_OBJECT_0);
    CloseHandle(listenerThread);
    CloseHandle(ready);
    // Each line went on marked. When the target was seen to take the last line, the empty
    // clipboard of before came back as one more change.
    REQUIRE(ListenedTexts.size() >= 2);
    CHECK(std::vector<std::wstring>(ListenedTexts.begin(), ListenedTexts.begin() + 2) == std::vector<std::wstring>{L"user", L"pass"});
    CHECK(std::vector<int>(ListenedMarks.begin(), ListenedMarks.begin() + 2) == std::vector<int>{3, 3});
    CHECK(ListenedTexts.size() <= 3);
    if (ListenedTexts.size() == 3)
        CHECK(ListenedTexts[2] == L"");
    std::vector<PasteRecord> saved = s.Stop();
    CHECK(HistoryTextsOf(saved) == std::vector<std::wstring>{L"older copy", L"newest copy"});
}

TEST_CASE("E2E: which taps open the menu")
{
    SUBCASE("menuKeyMode 1: Shift twice opens nothing, Ctrl twice does")
    {
        TavoRun s;
        REQUIRE(s.Start(L"e2e_ctrl", TestIni(1), &SeedEntries));
        PlayDoubleTap(VK_SHIFT);
        CHECK_FALSE(MenuOpensWithin(GetDoubleClickTime() + 300));
        MenuPlayer player;
        PasteIntoField1(s, &player, {VK_DOWN, VK_RETURN}, DoubleTapOf(VK_CONTROL), L"newest copy");
        s.Stop();
    }
    SUBCASE("two slow taps open nothing; Esc pastes nothing and the next double tap works")
    {
        TavoRun s;
        REQUIRE(s.Start(L"e2e_slow", TestIni(0), &SeedEntries));
        PlayTap(VK_SHIFT);
        PumpFor(GetDoubleClickTime() + 200);
        PlayTap(VK_SHIFT);
        CHECK_FALSE(MenuOpensWithin(GetDoubleClickTime() + 200));

        MenuPlayer player;
        StartMenuPlayer(&player, {VK_ESCAPE});
        PlayDoubleTap(VK_SHIFT);
        CHECK(WaitUntil([&] { return player.seenTick != 0 && VisibleMenuWindow() == nullptr; }, 5000));
        CHECK(FinishMenuPlayer(&player));
        PumpFor(300);
        CHECK(FieldText(s.form.field1) == L"");

        PumpFor(GetDoubleClickTime());
        REQUIRE(FocusTestField(s.form, 1));
        PasteIntoField1(s, &player, {VK_DOWN, VK_RETURN}, DoubleTapOf(VK_SHIFT), L"newest copy");
        s.Stop();
    }
    SUBCASE("menuKeyMode 3 with the hotkey Alt+F9: one press opens the menu")
    {
        IniData ini = TestIni(3);
        ini.hotkeyVk = VK_F9;
        ini.hotkeyMods = MOD_ALT;
        TavoRun s;
        REQUIRE(s.Start(L"e2e_hotkey", ini, &SeedEntries));
        PlayDoubleTap(VK_SHIFT);
        CHECK_FALSE(MenuOpensWithin(GetDoubleClickTime() + 200));
        MenuPlayer player;
        PasteIntoField1(s, &player, {VK_DOWN, VK_RETURN}, [] {
            KeyDown(VK_MENU);
            KeyDown(VK_F9);
            KeyUp(VK_F9);
            KeyUp(VK_MENU);
        }, L"newest copy");
        s.Stop();
    }
}

TEST_CASE("E2E: a viewer that joins later is behind tavo again within 3 s and sees every change")
{
    TavoRun s;
    REQUIRE(s.Start(L"e2e_chain", TestIni(0), nullptr));
    WNDCLASSW wc = {};
    wc.lpfnWndProc = CountingViewerProc;
    wc.lpszClassName = L"tavoTestChainViewerClass";
    RegisterClassW(&wc);
    HWND viewer = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ViewerNext = SetClipboardViewer(viewer);
    CHECK(ViewerNext == s.tavo.mainWindow);
    CHECK(WaitUntil([&] { return GetClipboardViewer() == s.tavo.mainWindow; }, 3500));
    PumpFor(100);
    ViewerDraws = 0;
    for (const wchar_t *text : {L"c1", L"c2", L"c3"}) {
        REQUIRE(PutClipboardText(viewer, text));
        PumpFor(150);
    }
    CHECK(ViewerDraws == 3);
    ChangeClipboardChain(viewer, ViewerNext);
    DestroyWindow(viewer);
    std::vector<PasteRecord> saved = s.Stop();
    CHECK(HistoryTextsOf(saved) == std::vector<std::wstring>{L"c1", L"c2", L"c3"});
}

// A viewer that joins the chain ahead of tavo and passes nothing on: this test holds the clipboard
// while it is in the chain, and nothing it does may wait for tavo.
static HWND QuietNext;
static LRESULT CALLBACK QuietViewerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DRAWCLIPBOARD)
        return 0;
    if (message == WM_CHANGECBCHAIN) {
        if ((HWND)wParam == QuietNext)
            QuietNext = (HWND)lParam;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST_CASE("E2E: a text marked \"do not record\" that arrives while tavo waits for the clipboard stays unrecorded")
{
    TavoRun s;
    REQUIRE(s.Start(L"e2e_marked_wait", TestIni(0), nullptr));
    REQUIRE(PutClipboardText(s.form.window, L"plain"));
    PumpFor(200);

    // This test now holds the clipboard, as a password manager does while it fills it. A viewer
    // joins ahead of tavo; tavo's watchdog takes the head back and, with the head, gets a
    // notification that finds the clipboard held: tavo waits for it.
    REQUIRE(OpenClipboardRetry(s.form.window));
    WNDCLASSW wc = {};
    wc.lpfnWndProc = QuietViewerProc;
    wc.lpszClassName = L"tavoTestQuietViewerClass";
    RegisterClassW(&wc);
    HWND viewer = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    QuietNext = SetClipboardViewer(viewer);
    CHECK(WaitUntil([&] { return GetClipboardViewer() == s.tavo.mainWindow; }, 5000));
    PumpFor(200);
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 16);
    lstrcpyW((WCHAR *)GlobalLock(block), L"hunter2");
    GlobalUnlock(block);
    SetClipboardData(CF_UNICODETEXT, block);
    SetClipboardData(RegisterClipboardFormatW(L"ExcludeClipboardContentFromMonitorProcessing"), GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 4));
    CloseClipboard();
    PumpFor(500);
    REQUIRE(PutClipboardText(s.form.window, L"after the secret"));
    PumpFor(300);
    ChangeClipboardChain(viewer, QuietNext);
    DestroyWindow(viewer);
    std::vector<PasteRecord> saved = s.Stop();
    CHECK(HistoryTextsOf(saved) == std::vector<std::wstring>{L"plain", L"after the secret"});
}

TEST_CASE("E2E: a 64 MiB clipboard text is not captured; tavo lives, takes the next copy and saves at exit")
{
    TavoRun s;
    REQUIRE(s.Start(L"e2e_huge_text", TestIni(0), nullptr));
    {
        std::wstring huge(32 * 1024 * 1024, L'h');
        huge[0] = L'H';
        REQUIRE(PutClipboardText(s.form.window, huge));
    }
    PumpFor(500);
    CHECK(WaitForSingleObject(s.tavo.process.hProcess, 0) == WAIT_TIMEOUT);
    REQUIRE(PutClipboardText(s.form.window, L"ordinary copy"));
    PumpFor(500);
    CHECK(WaitForSingleObject(s.tavo.process.hProcess, 0) == WAIT_TIMEOUT);
    std::vector<PasteRecord> saved = s.Stop();
    CHECK(HistoryTextsOf(saved) == std::vector<std::wstring>{L"ordinary copy"});
}

TEST_CASE("E2E: the menu opens at the system caret, at the accessible caret, else at the mouse pointer")
{
    REQUIRE(SUCCEEDED(CoInitialize(nullptr)));  // the accessible caret is served from this thread
    TavoRun s;
    REQUIRE(s.Start(L"e2e_caret", TestIni(0), &SeedEntries));
    const POINT mouse = {900, 700};
    struct Case {
        CaretTargetKind kind;
        bool atMouse;
    };
    const Case cases[] = {
        {CARET_TARGET_SYSTEM, false},
        {CARET_TARGET_ACCESSIBLE, false},
        {CARET_TARGET_INVISIBLE, true},
        {CARET_TARGET_NONE, true},
        {CARET_TARGET_HUNG, true},
    };
    for (const Case &c : cases) {
        CAPTURE((int)c.kind);
        HWND target = CreateCaretTarget(c.kind, 200, 300);
        REQUIRE(target);
        REQUIRE(FocusWindowNow(target));
        SetCursorPos(mouse.x, mouse.y);
        POINT expected = mouse;
        if (c.kind == CARET_TARGET_SYSTEM) {
            expected = CaretTargetClientPoint;
            ClientToScreen(target, &expected);
        } else if (c.kind == CARET_TARGET_ACCESSIBLE) {
            RECT rect;
            GetWindowRect(target, &rect);
            expected = {rect.left + CaretTargetAccessibleOffset.x, rect.top + CaretTargetAccessibleOffset.y};
        }
        CaretTargetAskedTick = 0;
        MenuPlayer player;
        StartMenuPlayer(&player, {VK_ESCAPE});
        PlayDoubleTap(VK_SHIFT);
        CHECK(FinishMenuPlayer(&player));
        CHECK(abs(player.menuRect.left - expected.x) <= 4);
        CHECK(abs(player.menuRect.top - expected.y) <= 4);
        if (c.kind == CARET_TARGET_HUNG) {
            // The target was asked and hung; the menu came all the same, long before it answered.
            REQUIRE(CaretTargetAskedTick != 0);
            CHECK(player.seenTick - CaretTargetAskedTick < 2000);
        }
        WaitUntil([] { return VisibleMenuWindow() == nullptr; }, 3000);
        DestroyWindow(target);
        PumpFor(GetDoubleClickTime() + 100);
    }
    s.Stop();
    CoUninitialize();
}

// Another application for tavo: this executable under another name, with a form of its own that
// copies the text it is given once it is up, and stays until it is closed.
TEST_CHILD(other_app)
{
    TestForm form = {};
    if (argc < 1 || !CreateTestForm(&form) || !PutClipboardText(form.window, std::wstring(argv[0], argv[0] + strlen(argv[0]))))
        return 1;
    for (DWORD start = GetTickCount(); IsWindow(form.window) && GetTickCount() - start < 60000;)
        PumpFor(50);
    return 0;
}

// The other application, started from a copy of this executable in the run's folder; closed at the end.
struct OtherApp {
    PROCESS_INFORMATION child = {};
    HWND form = nullptr;
    bool Start(const TavoRun &s, const char *text)
    {
        if (StartTestChildCopy(s.dir + L"otherapp.exe", "other_app", text, &child))
            form = WaitForProcessWindow(child.dwProcessId, L"tavoTestFormClass", nullptr, 15000);
        return form != nullptr;
    }
    ~OtherApp()
    {
        if (!child.hProcess)
            return;
        PostMessageW(form, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(child.hProcess, 5000) != WAIT_OBJECT_0)
            TerminateProcess(child.hProcess, 1);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    }
};

// tavo started with the rules of these cases: no menu and no record for the other application,
// typing for this executable.
static bool StartWithRules(TavoRun *s, const wchar_t *name, const IniData &ini)
{
    AppRules rules;
    SetDefaultAppRules(&rules);
    rules.rules[AddAppRule(&rules, L"OtherApp.exe")].switches = APP_RULE_NO_MENU | APP_RULE_NO_RECORD;
    int own = AddAppRule(&rules, ThisExecutableName().c_str());
    rules.rules[own].switches = APP_RULE_TYPE;
    rules.rules[own].typeDelayMs = 5;
    s->appsFile = EncryptedAppsFile(rules);
    return own >= 0 && s->Start(name, ini, &SeedEntries);
}

TEST_CASE("E2E: per-application rules: no menu and no record in one application, typing in another")
{
    TavoRun s;
    REQUIRE(StartWithRules(&s, L"e2e_apps", TestIni(0)));
    OtherApp other;
    REQUIRE(other.Start(s, "secret-from-other"));
    CHECK(WaitUntil([] { return TakeClipboardText() == L"secret-from-other"; }, 5000));
    PumpFor(300);
    // The other application keeps its double tap: the keys reach it, no menu opens.
    REQUIRE(BringToForeground(other.form, 3000));
    PlayDoubleTap(VK_SHIFT);
    CHECK_FALSE(MenuOpensWithin(GetDoubleClickTime() + 300));

    // Here the menu opens, and the registered entry is typed: two fields, the clipboard untouched.
    REQUIRE(PutClipboardText(s.form.window, L"copy from the form"));
    PumpFor(300);
    REQUIRE(FocusTestField(s.form, 1));
    DWORD sequence = GetClipboardSequenceNumber();
    ChooseRegisteredByDoubleTap(s);
    PumpFor(300);
    CHECK(GetClipboardSequenceNumber() == sequence);
    CHECK(TakeClipboardText() == L"copy from the form");
    CHECK(HistoryTextsOf(s.Stop()) == std::vector<std::wstring>{L"older copy", L"newest copy", L"copy from the form"});
}

TEST_CASE("E2E: per-application rules in hotkey mode: the hotkey is let go while the application is in front")
{
    IniData ini = TestIni(3);
    ini.hotkeyVk = VK_F9;
    ini.hotkeyMods = MOD_CONTROL;
    TavoRun s;
    REQUIRE(StartWithRules(&s, L"e2e_apps_hotkey", ini));
    CHECK(HotkeyTaken(MOD_CONTROL, VK_F9));
    OtherApp other;
    REQUIRE(other.Start(s, "other"));
    // A window coming to the front is told by a WinEvent; where none comes (Wine), by the hotkey's
    // own modifier, which the hook forwards before the key.
    REQUIRE(BringToForeground(other.form, 3000));
    PlayTap(VK_CONTROL);
    CHECK(WaitUntil([&] { return !HotkeyTaken(MOD_CONTROL, VK_F9); }, 3000));
    REQUIRE(FocusTestField(s.form, 1));
    PlayTap(VK_CONTROL);
    CHECK(WaitUntil([] { return HotkeyTaken(MOD_CONTROL, VK_F9); }, 3000));
    s.Stop();
}
