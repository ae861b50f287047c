// Capture and recall inside this process on the real desktop: the clipboard functions, the
// viewer chain with a second viewer, the tap counter driving the timer, and the popup menu
// pasting into a form with two fields. A hidden hub window stands in for MainWindow.
#include <doctest/doctest.h>
#include "recall_form.h"
#include "recall_test_util.h"
#include "test_util.h"

static LRESULT CALLBACK HubProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DRAWCLIPBOARD: OnDrawClipboard(window, wParam, lParam); return 0;
    case WM_CHANGECBCHAIN: OnChangeCbChain(window, wParam, lParam); return 0;
    case WM_HOOKKEY: OnHookKey(window, wParam, lParam); return 0;
    case WM_HOTKEY: OnHotKey(window, wParam); return 0;
    case WM_TIMER:
        if (wParam == TIMER_DOUBLETAP)
            OnDoubleTapTimer(window);
        else if (wParam == TIMER_CBCHAIN)
            OnClipboardChainTimer(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

static HWND CreateWindowOfProc(const WCHAR *className, WNDPROC proc)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = className;
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, className, L"", WS_OVERLAPPEDWINDOW, -50, -50, 0, 0,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ShowWindow(window, SW_HIDE);
    return window;
}

// The hub joins the viewer chain as MainWindow does when it is created.
struct Hub {
    Hub()
    {
        ResetRecallForTests();
        EmptyClipboardNow();
        MainWindow = CreateWindowOfProc(L"tavoRecallHubClass", HubProc);
        NextViewer = SetClipboardViewer(MainWindow);
        PumpFor(20);
        ItemStore::ResetForTests();
    }
    ~Hub()
    {
        KillTimer(MainWindow, TIMER_DOUBLETAP);
        ChangeClipboardChain(MainWindow, NextViewer);
        DestroyWindow(MainWindow);
        MainWindow = nullptr;
        NextViewer = nullptr;
        SendInputRoute = SendInput;
        BusyFlag = 0;
        PumpFor(20);
    }
};

static BOOL PutClipboardFormats(const std::wstring *text, const WCHAR *markerName, const DWORD *markerValue)
{
    if (!OpenClipboardRetry(nullptr))
        return FALSE;
    EmptyClipboard();
    if (text) {
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 2 * text->size() + 2);
        CopyMemory(GlobalLock(block), text->c_str(), 2 * text->size());
        GlobalUnlock(block);
        SetClipboardData(CF_UNICODETEXT, block);
    }
    if (markerName) {
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 4);
        if (markerValue)
            *(DWORD *)GlobalLock(block) = *markerValue, GlobalUnlock(block);
        SetClipboardData(RegisterClipboardFormatW(markerName), block);
    }
    CloseClipboard();
    return TRUE;
}

// The DWORD of a registered format on the clipboard; -1 when the format is absent.
static long long ClipboardDword(const WCHAR *formatName)
{
    long long value = -1;
    if (!OpenClipboardRetry(nullptr))
        return value;
    HANDLE data = GetClipboardData(RegisterClipboardFormatW(formatName));
    if (data && GlobalSize(data) >= 4) {
        value = *(const DWORD *)GlobalLock(data);
        GlobalUnlock(data);
    }
    CloseClipboard();
    return value;
}

struct ClipboardHolder {
    HANDLE opened;
};

// Another thread holds the clipboard open for a while.
static DWORD WINAPI HoldClipboard(void *parameter)
{
    ClipboardHolder *holder = (ClipboardHolder *)parameter;
    HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    OpenClipboard(owner);
    SetEvent(holder->opened);
    Sleep(350);
    CloseClipboard();
    DestroyWindow(owner);
    return 0;
}

TEST_CASE("clipboard functions: round trip, empty, no text, odd blocks, a held clipboard")
{
    Hub hub;
    SUBCASE("text round trip, Japanese included")
    {
        REQUIRE(ClipboardSetText(MainWindow, L"コピー履歴 abc"));
        CHECK(TakeClipboardText() == L"コピー履歴 abc");
        WCHAR *text = ClipboardGetText(MainWindow);
        REQUIRE(text);
        CHECK(std::wstring(text) == L"コピー履歴 abc");
        GlobalFree(text);
        CHECK(ClipboardHasText(MainWindow));
    }
    SUBCASE("an empty text is text but gives no copy")
    {
        REQUIRE(ClipboardSetText(MainWindow, L""));
        CHECK(ClipboardGetText(MainWindow) == nullptr);
        CHECK(ClipboardHasText(MainWindow));
    }
    SUBCASE("a clipboard without text gives nothing")
    {
        DWORD one = 1;
        PutClipboardFormats(nullptr, L"tavo test format", &one);
        CHECK(ClipboardGetText(MainWindow) == nullptr);
        CHECK_FALSE(ClipboardHasText(MainWindow));
        EmptyClipboardNow();
        CHECK(ClipboardGetText(MainWindow) == nullptr);
    }
    SUBCASE("a text block without a terminator is read no further than the block")
    {
        REQUIRE(OpenClipboardRetry(nullptr));
        EmptyClipboard();
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 8);
        CopyMemory(GlobalLock(block), L"wxyz", 8);
        GlobalUnlock(block);
        SetClipboardData(CF_UNICODETEXT, block);
        CloseClipboard();
        WCHAR *text = ClipboardGetText(MainWindow);
        REQUIRE(text);
        // Windows hands the four units over, Wine cuts the last one for a terminator.
        std::wstring got = text;
        CHECK(got.size() >= 3);
        CHECK(got.size() <= 4);
        CHECK(std::wstring(L"wxyz").compare(0, got.size(), got) == 0);
        GlobalFree(text);
    }
    SUBCASE("a clipboard held by another thread is waited for")
    {
        HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ClipboardHolder holder = {opened};
        HANDLE thread = CreateThread(nullptr, 0, HoldClipboard, &holder, 0, nullptr);
        REQUIRE(WaitForSingleObject(opened, 3000) == WAIT_OBJECT_0);
        CHECK_FALSE(OpenClipboard(MainWindow));
        CHECK(ClipboardSetText(MainWindow, L"after the wait"));
        WaitForSingleObject(thread, 3000);
        CloseHandle(thread);
        CloseHandle(opened);
        CHECK(TakeClipboardText() == L"after the wait");
    }
}

TEST_CASE("the viewer chain: capture, forwarding, the busy gate, repair and the watchdog")
{
    Hub hub;
    ViewerDraws = ViewerChangeNotes = 0;
    HWND viewer = CreateWindowOfProc(L"tavoRecallViewerClass", CountingViewerProc);
    ViewerNext = nullptr;

    SUBCASE("copies land in the history in order; a repeat moves to the newest place")
    {
        PutClipboardText(nullptr, L"first");
        PutClipboardText(nullptr, L"second");
        PutClipboardText(nullptr, L"first");
        PumpFor(50);
        CHECK(HistoryTexts() == std::vector<std::wstring>{L"second", L"first"});
    }
    SUBCASE("a viewer that joins later gets the head back by the watchdog and keeps receiving")
    {
        ViewerNext = SetClipboardViewer(viewer);
        CHECK(ViewerNext == MainWindow);
        CHECK(GetClipboardViewer() == viewer);
        OnClipboardChainTimer(MainWindow);
        CHECK(GetClipboardViewer() == MainWindow);
        CHECK(NextViewer == viewer);
        int drawsBefore = ViewerDraws;
        PutClipboardText(nullptr, L"seen by both");
        PumpFor(50);
        CHECK(ViewerDraws == drawsBefore + 1);
        CHECK(HistoryTexts().back() == L"seen by both");

        SUBCASE("while busy nothing is captured and nothing forwarded")
        {
            BusyFlag = 1;
            PutClipboardText(nullptr, L"while busy");
            PumpFor(50);
            BusyFlag = 0;
            CHECK(ViewerDraws == drawsBefore + 1);
            CHECK(HistoryTexts().back() == L"seen by both");
        }
        SUBCASE("a marked text is forwarded but not captured")
        {
            std::wstring secret = L"hunter2";
            DWORD zero = 0, one = 1;
            PutClipboardFormats(&secret, CF_NAME_EXCLUDE_MONITOR, nullptr);
            PutClipboardFormats(&secret, CF_NAME_VIEWER_IGNORE, nullptr);
            PutClipboardFormats(&secret, CF_NAME_IN_HISTORY, &zero);
            PumpFor(50);
            CHECK(ViewerDraws == drawsBefore + 4);
            CHECK(HistoryTexts().back() == L"seen by both");
            PutClipboardFormats(&secret, CF_NAME_IN_HISTORY, &one);  // allowed into history
            PumpFor(50);
            CHECK(HistoryTexts().back() == L"hunter2");
        }
        SUBCASE("the viewer after the hub leaves: NextViewer becomes its successor")
        {
            ChangeClipboardChain(viewer, ViewerNext);
            PumpFor(20);
            CHECK(NextViewer == ViewerNext);
        }
        SUBCASE("notes about other windows leaving are passed on")
        {
            int notesBefore = ViewerChangeNotes;
            SendMessageW(MainWindow, WM_CHANGECBCHAIN, (WPARAM)(HWND)0x1234, (LPARAM)(HWND)0x5678);
            CHECK(ViewerChangeNotes == notesBefore + 1);
            CHECK(NextViewer == viewer);
        }
        SUBCASE("the watchdog leaves a hub at the head alone")
        {
            OnClipboardChainTimer(MainWindow);
            CHECK(NextViewer == viewer);
            CHECK(GetClipboardViewer() == MainWindow);
        }
        ChangeClipboardChain(viewer, ViewerNext);
    }
    SUBCASE("the watchdog's timer takes the head back within 3 s")
    {
        ViewerNext = SetClipboardViewer(viewer);
        SetTimer(MainWindow, TIMER_CBCHAIN, 3000, nullptr);
        CHECK(WaitUntil([] { return GetClipboardViewer() == MainWindow; }, 4000));
        KillTimer(MainWindow, TIMER_CBCHAIN);
        ChangeClipboardChain(viewer, ViewerNext);
    }
    DestroyWindow(viewer);
}

TEST_CASE("do-not-record markers and the marked lines of a registered paste")
{
    Hub hub;
    std::wstring text = L"plain";
    DWORD zero = 0, one = 1;
    PutClipboardFormats(&text, nullptr, nullptr);
    CHECK_FALSE(ClipboardMarkedPrivate(MainWindow));
    PutClipboardFormats(&text, CF_NAME_EXCLUDE_MONITOR, nullptr);
    CHECK(ClipboardMarkedPrivate(MainWindow));
    PutClipboardFormats(&text, CF_NAME_VIEWER_IGNORE, nullptr);
    CHECK(ClipboardMarkedPrivate(MainWindow));
    PutClipboardFormats(&text, CF_NAME_IN_HISTORY, &zero);
    CHECK(ClipboardMarkedPrivate(MainWindow));
    PutClipboardFormats(&text, CF_NAME_IN_HISTORY, &one);
    CHECK_FALSE(ClipboardMarkedPrivate(MainWindow));

    REQUIRE(ClipboardSetPrivateText(MainWindow, L"pass"));
    CHECK(TakeClipboardText() == L"pass");
    CHECK(ClipboardDword(CF_NAME_EXCLUDE_MONITOR) >= 0);
    CHECK(ClipboardDword(CF_NAME_IN_HISTORY) == 0);
    CHECK(ClipboardDword(CF_NAME_UPLOAD_TO_CLOUD) == 0);
    REQUIRE(ClipboardSetText(MainWindow, L"open"));
    CHECK(ClipboardDword(CF_NAME_EXCLUDE_MONITOR) == -1);
    CHECK(ClipboardDword(CF_NAME_IN_HISTORY) == -1);
}

// What the clipboard held at each recorded Ctrl+V, and whether it was marked.
static std::vector<std::wstring> TextsAtCtrlV;
static std::vector<bool> MarkedAtCtrlV;
static UINT WINAPI RecordWithClipboard(UINT count, LPINPUT inputs, int size)
{
    if (count > 0 && inputs[0].ki.wVk == VK_CONTROL) {
        TextsAtCtrlV.push_back(TakeClipboardText());
        MarkedAtCtrlV.push_back(ClipboardDword(CF_NAME_IN_HISTORY) == 0 && ClipboardDword(CF_NAME_EXCLUDE_MONITOR) >= 0);
    }
    return RecordSendInput(count, inputs, size);
}

static std::string BatchShape()
{
    std::string shape;
    for (const KeyBatch &batch : RecordedBatches)
        shape += batch.inputs.empty() ? "?" : batch.inputs[0].ki.wVk == VK_CONTROL ? "V" : batch.inputs[0].ki.wVk == VK_TAB ? "T" : "?";
    return shape;
}

TEST_CASE("PasteChosenEntry: the order of clipboard, keys and BusyFlag")
{
    Hub hub;
    RecordedBatches.clear();
    TextsAtCtrlV.clear();
    MarkedAtCtrlV.clear();
    SendInputRoute = RecordWithClipboard;
    g_ini.pasteWaitMs = 5;
    ItemId older = ItemStore::Insert(History, nullptr, L"older text");
    ItemStore::Insert(History, nullptr, L"newer text");

    SUBCASE("a history entry: BusyFlag 0 first, one clipboard write, one Ctrl+V, captured again")
    {
        BusyFlag = 1;
        PasteChosenEntry(MainWindow, older);
        CHECK(BusyFlag == 0);
        CHECK(BatchShape() == "V");
        CHECK(TextsAtCtrlV == std::vector<std::wstring>{L"older text"});
        CHECK(MarkedAtCtrlV == std::vector<bool>{false});
        PumpFor(30);
        CHECK(HistoryTexts() == std::vector<std::wstring>{L"newer text", L"older text"});
        CHECK(ItemStore::KindOf(older) == -1);  // it moved under a new id
    }
    SUBCASE("a registered entry: lines marked, Tab between them, nothing captured, BusyFlag stays 1")
    {
        ItemId reg = ItemStore::Insert(Registered, L"site", L"a\r\nb\r\nc");
        BusyFlag = 1;
        PasteChosenEntry(MainWindow, reg);
        CHECK(BusyFlag == 1);
        BusyFlag = 0;
        CHECK(BatchShape() == "VTVTV");
        CHECK(TextsAtCtrlV == std::vector<std::wstring>{L"a", L"b", L"c"});
        CHECK(MarkedAtCtrlV == std::vector<bool>{true, true, true});
        CHECK(HistoryTexts() == std::vector<std::wstring>{L"older text", L"newer text"});
    }
    SUBCASE("an absent id or 0 pastes nothing")
    {
        BusyFlag = 1;
        PasteChosenEntry(MainWindow, 0);
        PasteChosenEntry(MainWindow, 999);
        CHECK(RecordedBatches.empty());
        CHECK(BusyFlag == 1);
        BusyFlag = 0;
    }
}

// Sends a tap of the trigger key to the hub the way the hook library does.
static void HookTap(WPARAM vk)
{
    SendMessageW(MainWindow, WM_HOOKKEY, vk, 0x00000001);
    SendMessageW(MainWindow, WM_HOOKKEY, vk, (LPARAM)0xC0000001);
}

TEST_CASE("double tap to paste, in this process: the menu at the caret, the chosen entry in the field")
{
    Hub hub;
    TestForm form;
    REQUIRE(CreateTestForm(&form));
    g_ini.pasteWaitMs = 10;
    ItemStore::Insert(History, nullptr, L"older copy");
    ItemStore::Insert(Registered, L"site", L"user\r\npass");
    ItemStore::Insert(History, nullptr, L"newest copy");
    REQUIRE(FocusTestField(form, 1));

    SUBCASE("Down, Enter: the newest history text goes into field 1 and is newest again")
    {
        ItemId before = ItemStore::Items().rbegin()->first;
        MenuPlayer player;
        StartMenuPlayer(&player, {VK_DOWN, VK_RETURN});
        HookTap(VK_SHIFT);
        HookTap(VK_SHIFT);
        CHECK(WaitUntil([&] { return FieldText(form.field1) == L"newest copy"; }, 4000));
        CHECK(FinishMenuPlayer(&player));
        CHECK(BusyFlag == 0);
        CHECK(FocusSnapshot.foregroundWindow == nullptr);
        CHECK(TapCounter.TapCount == 0);
        CHECK(HistoryTexts().back() == L"newest copy");
        CHECK(ItemStore::Items().rbegin()->first > before);
    }
    SUBCASE("the registered entry fills both fields and adds nothing to the history")
    {
        MenuPlayer player;
        StartMenuPlayer(&player, {VK_UP, VK_RIGHT, VK_RETURN});
        HookTap(VK_SHIFT);
        HookTap(VK_SHIFT);
        CHECK(WaitUntil([&] { return FieldText(form.field2) == L"pass"; }, 5000));
        CHECK(FinishMenuPlayer(&player));
        CHECK(FieldText(form.field1) == L"user");
        CHECK(FieldText(form.field2) == L"pass");
        CHECK(HistoryTexts() == std::vector<std::wstring>{L"older copy", L"newest copy"});
        CHECK(BusyFlag == 0);
    }
    SUBCASE("Esc pastes nothing, clears BusyFlag, and the next double tap works again")
    {
        MenuPlayer player;
        StartMenuPlayer(&player, {VK_ESCAPE});
        HookTap(VK_SHIFT);
        HookTap(VK_SHIFT);
        CHECK(WaitUntil([&] { return player.seenTick != 0 && VisibleMenuWindow() == nullptr; }, 4000));
        CHECK(FinishMenuPlayer(&player));
        PumpFor(100);
        CHECK(FieldText(form.field1) == L"");
        CHECK(BusyFlag == 0);
        CHECK(FocusSnapshot.focusWindow == nullptr);
        REQUIRE(FocusTestField(form, 1));
        StartMenuPlayer(&player, {VK_DOWN, VK_RETURN});
        HookTap(VK_SHIFT);
        HookTap(VK_SHIFT);
        CHECK(WaitUntil([&] { return FieldText(form.field1) == L"newest copy"; }, 4000));
        CHECK(FinishMenuPlayer(&player));
    }
    SUBCASE("two slow taps open nothing")
    {
        HookTap(VK_SHIFT);
        PumpFor(GetDoubleClickTime() + 150);
        CHECK(TapCounter.TapCount == 0);
        HookTap(VK_SHIFT);
        PumpFor(GetDoubleClickTime() + 150);
        CHECK(TapCounter.TapCount == 0);
        CHECK(FieldText(form.field1) == L"");
    }
    SUBCASE("while busy the decision waits: no second menu, the count is kept")
    {
        BusyFlag = 1;
        HookTap(VK_SHIFT);
        HookTap(VK_SHIFT);
        PumpFor(100);
        CHECK(VisibleMenuWindow() == nullptr);
        CHECK(TapCounter.TapCount == 2);
        BusyFlag = 0;
        TapCounter.TapCount = 0;
    }
    SUBCASE("the hotkey opens the menu only in hotkey mode")
    {
        g_ini.menuKeyMode = 0;
        OnHotKey(MainWindow, HOTKEY_MENU);  // returns at once: nothing opens
        CHECK(VisibleMenuWindow() == nullptr);
        g_ini.menuKeyMode = 3;
        HookTap(VK_SHIFT);
        HookTap(VK_SHIFT);
        PumpFor(100);
        CHECK(TapCounter.TapCount == 0);
        MenuPlayer player;
        StartMenuPlayer(&player, {VK_DOWN, VK_RETURN});
        PostMessageW(MainWindow, WM_HOTKEY, HOTKEY_MENU, MAKELPARAM(MOD_ALT, VK_F9));
        CHECK(WaitUntil([&] { return FieldText(form.field1) == L"newest copy"; }, 4000));
        CHECK(FinishMenuPlayer(&player));
    }
    DestroyTestForm(&form);
}
