// Capture and recall inside this process on the real desktop: the clipboard functions, the
// viewer chain with a second viewer, the tap counter driving the timer, and the popup menu
// pasting into a form with two fields. A hidden hub window stands in for g_mainWindow.
#include <doctest/doctest.h>
#include "recall_form.h"
#include "recall_test_util.h"
#include "test_util.h"
#include "tavohook.h"  // WM_HOOKKEY: the message the hub is told key events with

static std::vector<int> StopsTold;  // wParam of each WM_PASTE_STOPPED the hub received
static int DrawDepth;           // WM_DRAWCLIPBOARD handlers of the hub running on the stack
static int DeepestDraw;         // the most of them seen at once
static void (*OnHubApp)();      // what WM_APP does to the hub in a test

static LRESULT CALLBACK HubProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DRAWCLIPBOARD:
        DrawDepth++;
        DeepestDraw = DrawDepth > DeepestDraw ? DrawDepth : DeepestDraw;
        OnDrawClipboard(window, wParam, lParam);
        DrawDepth--;
        return 0;
    case WM_APP:
        if (OnHubApp)
            OnHubApp();
        return 0;
    case WM_EXITMENULOOP: PostMessageW(window, WM_APP, 0, 0); return 0;  // the popup menu closed
    case WM_CHANGECBCHAIN: OnChangeCbChain(window, wParam, lParam); return 0;
    case WM_PASTE_STOPPED: StopsTold.push_back((int)wParam); return 0;
    case WM_HOOKKEY: OnHookKey(window, wParam, lParam); return 0;
    case WM_HOTKEY: OnHotKey(window, wParam); return 0;
    case WM_INITMENUPOPUP: OnPopupMenuOpening((HMENU)wParam); return 0;
    case WM_MENUCHAR: {
        LRESULT result = 0;
        if (OnPopupMenuChar(wParam, lParam, &result))
            return result;
        break;
    }
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

// The hub joins the viewer chain as g_mainWindow does when it is created.
struct Hub {
    Hub()
    {
        ResetRecallForTests();
        EmptyClipboardNow();
        g_mainWindow = CreateWindowOfProc(L"tavoRecallHubClass", HubProc);
        g_nextViewer = SetClipboardViewer(g_mainWindow);
        PumpFor(20);
        ItemStore::ResetForTests();
    }
    ~Hub()
    {
        KillTimer(g_mainWindow, TIMER_DOUBLETAP);
        ChangeClipboardChain(g_mainWindow, g_nextViewer);
        DestroyWindow(g_mainWindow);
        g_mainWindow = nullptr;
        g_nextViewer = nullptr;
        g_sendInputRoute = SendInput;
        g_busyState = 0;
        OnHubApp = nullptr;
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
        REQUIRE(ClipboardSetText(g_mainWindow, L"コピー履歴 abc"));
        CHECK(TakeClipboardText() == L"コピー履歴 abc");
        WCHAR *text = ClipboardGetText(g_mainWindow);
        REQUIRE(text);
        CHECK(std::wstring(text) == L"コピー履歴 abc");
        GlobalFree(text);
        CHECK(ClipboardHasText(g_mainWindow));
    }
    SUBCASE("an empty text is text but gives no copy")
    {
        REQUIRE(ClipboardSetText(g_mainWindow, L""));
        CHECK(ClipboardGetText(g_mainWindow) == nullptr);
        CHECK(ClipboardHasText(g_mainWindow));
    }
    SUBCASE("a clipboard without text gives nothing")
    {
        DWORD one = 1;
        PutClipboardFormats(nullptr, L"tavo test format", &one);
        CHECK(ClipboardGetText(g_mainWindow) == nullptr);
        CHECK_FALSE(ClipboardHasText(g_mainWindow));
        EmptyClipboardNow();
        CHECK(ClipboardGetText(g_mainWindow) == nullptr);
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
        WCHAR *text = ClipboardGetText(g_mainWindow);
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
        CHECK_FALSE(OpenClipboard(g_mainWindow));
        CHECK(ClipboardSetText(g_mainWindow, L"after the wait"));
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
        CHECK(ViewerNext == g_mainWindow);
        CHECK(GetClipboardViewer() == viewer);
        OnClipboardChainTimer(g_mainWindow);
        CHECK(GetClipboardViewer() == g_mainWindow);
        CHECK(g_nextViewer == viewer);
        int drawsBefore = ViewerDraws;
        PutClipboardText(nullptr, L"seen by both");
        PumpFor(50);
        CHECK(ViewerDraws == drawsBefore + 1);
        CHECK(HistoryTexts().back() == L"seen by both");

        SUBCASE("while busy nothing is captured, but the next viewer still hears of every change")
        {
            g_busyState = 1;
            PutClipboardText(nullptr, L"while busy");
            PumpFor(50);
            g_busyState = 0;
            CHECK(ViewerDraws == drawsBefore + 2);
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
        SUBCASE("the viewer after the hub leaves: g_nextViewer becomes its successor")
        {
            ChangeClipboardChain(viewer, ViewerNext);
            PumpFor(20);
            CHECK(g_nextViewer == ViewerNext);
        }
        SUBCASE("notes about other windows leaving are passed on")
        {
            int notesBefore = ViewerChangeNotes;
            SendMessageW(g_mainWindow, WM_CHANGECBCHAIN, (WPARAM)(HWND)0x1234, (LPARAM)(HWND)0x5678);
            CHECK(ViewerChangeNotes == notesBefore + 1);
            CHECK(g_nextViewer == viewer);
        }
        SUBCASE("the watchdog leaves a hub at the head alone")
        {
            OnClipboardChainTimer(g_mainWindow);
            CHECK(g_nextViewer == viewer);
            CHECK(GetClipboardViewer() == g_mainWindow);
        }
        ChangeClipboardChain(viewer, ViewerNext);
    }
    SUBCASE("the watchdog's timer takes the head back within 3 s")
    {
        ViewerNext = SetClipboardViewer(viewer);
        SetTimer(g_mainWindow, TIMER_CBCHAIN, 3000, nullptr);
        CHECK(WaitUntil([] { return GetClipboardViewer() == g_mainWindow; }, 4000));
        KillTimer(g_mainWindow, TIMER_CBCHAIN);
        ChangeClipboardChain(viewer, ViewerNext);
    }
    DestroyWindow(viewer);
}

// Another thread holds the clipboard open until `release` is set (or 5 s have passed). Before the
// hold it may put a text on the clipboard, and before letting go it may replace the text.
struct HeldClipboard {
    const WCHAR *textBefore;  // put and closed just before the hold, when set
    const WCHAR *textAtEnd;   // put while still holding, when set
    BOOL markAtEnd;           // textAtEnd goes with the marker "do not record"
    HANDLE opened;
    HANDLE release;
    HANDLE closed;            // set once the clipboard is closed again
    HANDLE thread;
    volatile LONG holding;
};

static HGLOBAL TextBlock(const WCHAR *text)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 2 * lstrlenW(text) + 2);
    lstrcpyW((WCHAR *)GlobalLock(block), text);
    GlobalUnlock(block);
    return block;
}

static DWORD WINAPI HoldUntilReleased(void *parameter)
{
    HeldClipboard *hold = (HeldClipboard *)parameter;
    HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (hold->textBefore)
        PutClipboardText(owner, hold->textBefore);
    if (OpenClipboardRetry(owner)) {
        hold->holding = 1;
        SetEvent(hold->opened);
        WaitForSingleObject(hold->release, 5000);
        if (hold->textAtEnd) {
            EmptyClipboard();
            SetClipboardData(CF_UNICODETEXT, TextBlock(hold->textAtEnd));
            if (hold->markAtEnd)
                SetClipboardData(RegisterClipboardFormatW(CF_NAME_EXCLUDE_MONITOR), GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 4));
        }
        hold->holding = 0;
        CloseClipboard();
    }
    SetEvent(hold->opened);
    SetEvent(hold->closed);
    DestroyWindow(owner);
    return 0;
}

// Starts the holder and waits, without handling any message, until it holds the clipboard.
static bool StartHold(HeldClipboard *hold, const WCHAR *textBefore, const WCHAR *textAtEnd)
{
    hold->textBefore = textBefore;
    hold->textAtEnd = textAtEnd;
    hold->holding = 0;
    hold->opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    hold->release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    hold->closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    hold->thread = CreateThread(nullptr, 0, HoldUntilReleased, hold, 0, nullptr);
    WaitForSingleObject(hold->opened, 5000);
    return hold->holding == 1;
}

static void EndHold(HeldClipboard *hold)
{
    SetEvent(hold->release);
    WaitUntil([&] { return WaitForSingleObject(hold->thread, 0) == WAIT_OBJECT_0; }, 8000);
    CloseHandle(hold->thread);
    CloseHandle(hold->opened);
    CloseHandle(hold->release);
    CloseHandle(hold->closed);
}

static HeldClipboard *CurrentHold;
static int AppSeenAtDepth = -1;  // DrawDepth when the hub handled WM_APP; -1 before
static bool AppSeenWhileHeld;

// The hub lets the holder go and waits until it has closed the clipboard: whatever the holder's
// change sends to the hub is then queued before the hub reads its queue again.
static void ReleaseHoldFromHub()
{
    AppSeenAtDepth = DrawDepth;
    AppSeenWhileHeld = CurrentHold->holding == 1;
    SetEvent(CurrentHold->release);
    WaitForSingleObject(CurrentHold->closed, 5000);
}

TEST_CASE("opening the clipboard waits without sleeping: messages are handled, WM_QUIT and a lost owner end it")
{
    Hub hub;
    HeldClipboard hold = {};
    AppSeenAtDepth = -1;
    AppSeenWhileHeld = false;
    SUBCASE("a message posted to the hub is handled while ClipboardSetText waits for the holder")
    {
        REQUIRE(StartHold(&hold, nullptr, nullptr));
        CurrentHold = &hold;
        OnHubApp = ReleaseHoldFromHub;
        PostMessageW(g_mainWindow, WM_APP, 0, 0);
        CHECK(ClipboardSetText(g_mainWindow, L"after the wait"));
        CHECK(AppSeenWhileHeld);
        EndHold(&hold);
        CHECK(TakeClipboardText() == L"after the wait");
    }
    SUBCASE("WM_QUIT seen in the wait: no open, and the quit is left for the main loop")
    {
        REQUIRE(StartHold(&hold, nullptr, nullptr));
        PostQuitMessage(7);
        BOOL opened = ClipboardOpenRetry(g_mainWindow);
        CHECK_FALSE(opened);
        CHECK(hold.holding == 1);  // it gave up, it did not wait the holder out
        if (opened)
            CloseClipboard();
        MSG msg = {};
        CHECK(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
        CHECK(msg.message == WM_QUIT);
        CHECK(msg.wParam == 7);
        EndHold(&hold);
    }
    SUBCASE("whether there is text is answered without waiting for the holder")
    {
        REQUIRE(StartHold(&hold, L"held text", nullptr));
        CHECK(ClipboardHasText(g_mainWindow));
        CHECK(hold.holding == 1);
        EndHold(&hold);
        EmptyClipboardNow();
        CHECK_FALSE(ClipboardHasText(g_mainWindow));
    }
    SUBCASE("an owner destroyed by a message handled in the wait ends it at once")
    {
        static HWND owner;
        owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        REQUIRE(StartHold(&hold, nullptr, nullptr));
        OnHubApp = [] { DestroyWindow(owner); };
        PostMessageW(g_mainWindow, WM_APP, 0, 0);
        BOOL opened = ClipboardOpenRetry(owner);
        CHECK_FALSE(opened);
        CHECK(hold.holding == 1);
        if (opened)
            CloseClipboard();
        EndHold(&hold);
    }
}

TEST_CASE("capture while another program holds the clipboard: a change in the wait is taken once, after it")
{
    Hub hub;
    ViewerDraws = 0;
    HWND viewer = CreateWindowOfProc(L"tavoRecallViewerClass", CountingViewerProc);
    ViewerNext = SetClipboardViewer(viewer);
    OnClipboardChainTimer(g_mainWindow);
    REQUIRE(g_nextViewer == viewer);
    PumpFor(20);
    int drawsBefore = ViewerDraws;
    AppSeenAtDepth = -1;
    AppSeenWhileHeld = false;
    DeepestDraw = 0;

    // A text is put and the holder keeps the clipboard; the hub meets its notification while it
    // is held, waits, and in the wait lets the holder replace the text.
    HeldClipboard hold = {};
    SUBCASE("the replacing text is taken once, by the capture that waited")
    {
        REQUIRE(StartHold(&hold, L"first", L"second"));
        CurrentHold = &hold;
        OnHubApp = ReleaseHoldFromHub;
        PostMessageW(g_mainWindow, WM_APP, 0, 0);
        CHECK(WaitUntil([] { return !HistoryTexts().empty(); }, 5000));
        PumpFor(50);
        // "first" was replaced before anyone could read it.
        CHECK(HistoryTexts() == std::vector<std::wstring>{L"second"});
    }
    SUBCASE("a replacing text marked \"do not record\" is not recorded, nor is the one it replaced")
    {
        hold.markAtEnd = TRUE;
        REQUIRE(StartHold(&hold, L"plain", L"hunter2"));
        CurrentHold = &hold;
        OnHubApp = ReleaseHoldFromHub;
        PostMessageW(g_mainWindow, WM_APP, 0, 0);
        CHECK(WaitUntil([&] { return WaitForSingleObject(hold.closed, 0) == WAIT_OBJECT_0; }, 6000));
        PumpFor(200);
        CHECK(HistoryTexts().empty());
        PutClipboardText(nullptr, L"ordinary");
        CHECK(WaitUntil([] { return HistoryTexts() == std::vector<std::wstring>{L"ordinary"}; }, 3000));
        drawsBefore++;
    }
    EndHold(&hold);
    CHECK(AppSeenAtDepth == 1);  // the release was handled inside the capture's wait
    CHECK(AppSeenWhileHeld);
    CHECK(DeepestDraw == 2);     // and so was the notification of the replacing text
    // Both notifications went on along the chain, and no handler is left running.
    CHECK(ViewerDraws == drawsBefore + 2);
    CHECK(DrawDepth == 0);
    ChangeClipboardChain(viewer, ViewerNext);
    DestroyWindow(viewer);
}

TEST_CASE("a second notification of one change leaves the history alone: a re-join neither moves nor brings back an entry")
{
    Hub hub;
    HWND viewer = CreateWindowOfProc(L"tavoRecallViewerClass", CountingViewerProc);
    PutClipboardText(nullptr, L"kept");
    PumpFor(50);
    REQUIRE(HistoryTexts() == std::vector<std::wstring>{L"kept"});
    ItemId id = ItemStore::Items().rbegin()->first;
    // The watchdog takes the head back from a viewer that joined later; joining sends a notification.
    ViewerNext = SetClipboardViewer(viewer);
    OnClipboardChainTimer(g_mainWindow);
    REQUIRE(GetClipboardViewer() == g_mainWindow);
    PumpFor(50);
    CHECK(ItemStore::Items().rbegin()->first == id);
    // The user deletes the entry; the next re-join does not bring it back.
    ItemStore::Erase(id);
    ChangeClipboardChain(viewer, ViewerNext);
    ViewerNext = SetClipboardViewer(viewer);
    OnClipboardChainTimer(g_mainWindow);
    PumpFor(50);
    CHECK(HistoryTexts().empty());
    // A new copy of the same text is a new change and is taken.
    PutClipboardText(nullptr, L"kept");
    PumpFor(50);
    CHECK(HistoryTexts() == std::vector<std::wstring>{L"kept"});
    ChangeClipboardChain(viewer, ViewerNext);
    DestroyWindow(viewer);
}

// A window whose thread stops reading its messages until `release` is set (or 20 s have passed).
struct HungWindow {
    HWND window;
    HANDLE ready;
    HANDLE release;
    HANDLE thread;
};

static DWORD WINAPI RunHungWindow(void *parameter)
{
    HungWindow *hung = (HungWindow *)parameter;
    hung->window = CreateWindowExW(0, L"STATIC", L"hung", WS_OVERLAPPEDWINDOW, 0, 0, 100, 50, nullptr, nullptr, nullptr, nullptr);
    SetEvent(hung->ready);
    WaitForSingleObject(hung->release, 20000);
    DestroyWindow(hung->window);
    return 0;
}

TEST_CASE("a hung window after the hub in the chain, or behind the menu, never hangs the hub")
{
    Hub hub;
    HungWindow hung = {};
    hung.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    hung.release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    hung.thread = CreateThread(nullptr, 0, RunHungWindow, &hung, 0, nullptr);
    REQUIRE(WaitForSingleObject(hung.ready, 5000) == WAIT_OBJECT_0);
    DWORD start = GetTickCount();
    SUBCASE("changes are captured and passed on to the hung viewer one after the other")
    {
        g_nextViewer = hung.window;
        PutClipboardText(nullptr, L"past the hung viewer");
        CHECK(WaitUntil([] { return HistoryTexts() == std::vector<std::wstring>{L"past the hung viewer"}; }, 8000));
        PutClipboardText(nullptr, L"and the next one");
        CHECK(WaitUntil([] { return HistoryTexts().size() == 2; }, 8000));
        SendMessageW(g_mainWindow, WM_CHANGECBCHAIN, (WPARAM)(HWND)0x1234, (LPARAM)(HWND)0x5678);
        g_nextViewer = nullptr;
    }
    SUBCASE("giving the foreground back to a hung window")
    {
        FocusSnapshotRecord snapshot = {hung.window, nullptr, {0, 0}, FALSE};
        RestoreFocus(&snapshot);
    }
    // Each send waits at most 1 s; the hung thread would hold them for 20 s.
    CHECK(GetTickCount() - start < 10000);
    SetEvent(hung.release);
    WaitForSingleObject(hung.thread, 5000);
    CloseHandle(hung.thread);
    CloseHandle(hung.ready);
    CloseHandle(hung.release);
}

TEST_CASE("do-not-record markers and the marked lines of a registered paste")
{
    Hub hub;
    std::wstring text = L"plain";
    DWORD zero = 0, one = 1;
    PutClipboardFormats(&text, nullptr, nullptr);
    CHECK_FALSE(ClipboardMarkedPrivate(g_mainWindow));
    PutClipboardFormats(&text, CF_NAME_EXCLUDE_MONITOR, nullptr);
    CHECK(ClipboardMarkedPrivate(g_mainWindow));
    PutClipboardFormats(&text, CF_NAME_VIEWER_IGNORE, nullptr);
    CHECK(ClipboardMarkedPrivate(g_mainWindow));
    PutClipboardFormats(&text, CF_NAME_IN_HISTORY, &zero);
    CHECK(ClipboardMarkedPrivate(g_mainWindow));
    PutClipboardFormats(&text, CF_NAME_IN_HISTORY, &one);
    CHECK_FALSE(ClipboardMarkedPrivate(g_mainWindow));

    REQUIRE(ClipboardSetPrivateText(g_mainWindow, L"pass"));
    CHECK(TakeClipboardText() == L"pass");
    CHECK(ClipboardDword(CF_NAME_EXCLUDE_MONITOR) >= 0);
    CHECK(ClipboardDword(CF_NAME_VIEWER_IGNORE) >= 0);
    CHECK(ClipboardDword(CF_NAME_IN_HISTORY) == 0);
    CHECK(ClipboardDword(CF_NAME_UPLOAD_TO_CLOUD) == 0);
    REQUIRE(ClipboardSetText(g_mainWindow, L"open"));
    CHECK(ClipboardDword(CF_NAME_EXCLUDE_MONITOR) == -1);
    CHECK(ClipboardDword(CF_NAME_IN_HISTORY) == -1);
}

static void CALLBACK ReleaseShiftLater(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    KeyUp(VK_SHIFT);
}

// What the clipboard held at each recorded Ctrl+V, and whether it was marked; the batches that went
// out while a modifier of the user's was down. AtCtrlV, when set, runs after each Ctrl+V.
static std::vector<std::wstring> TextsAtCtrlV;
static std::vector<bool> MarkedAtCtrlV;
static int KeysUnderModifier;
static void (*AtCtrlV)(HWND form, const WCHAR *line);
static UINT WINAPI RecordWithClipboard(UINT count, LPINPUT inputs, int size)
{
    KeysUnderModifier += GetAsyncKeyState(VK_SHIFT) < 0 || GetAsyncKeyState(VK_CONTROL) < 0;
    if (count > 0 && inputs[0].ki.wVk == VK_CONTROL) {
        TextsAtCtrlV.push_back(TakeClipboardText());
        MarkedAtCtrlV.push_back(ClipboardDword(CF_NAME_IN_HISTORY) == 0 && ClipboardDword(CF_NAME_EXCLUDE_MONITOR) >= 0 &&
                                ClipboardDword(CF_NAME_VIEWER_IGNORE) >= 0);
        if (AtCtrlV)
            AtCtrlV(g_focusSnapshot.foregroundWindow, TextsAtCtrlV.back().c_str());
    }
    return RecordSendInput(count, inputs, size);
}

// The form in front with the focus in field 1, recorded as the window the menu was opened over.
struct RecordedTarget {
    TestForm form = {};
    RecordedTarget()
    {
        REQUIRE(CreateTestForm(&form));
        REQUIRE(FocusTestField(form, 1));
        TakeFocusSnapshot(&g_focusSnapshot);
    }
    ~RecordedTarget()
    {
        ZeroMemory(&g_focusSnapshot, sizeof(g_focusSnapshot));
        DestroyTestForm(&form);
    }
};

static std::string BatchShape()
{
    std::string shape;
    for (const KeyBatch &batch : RecordedBatches)
        shape += batch.inputs.empty() ? "?" : batch.inputs[0].ki.wVk == VK_CONTROL ? "V" : batch.inputs[0].ki.wVk == VK_TAB ? "T" : "?";
    return shape;
}

TEST_CASE("PasteChosenEntry: the order of clipboard, keys and g_busyState")
{
    Hub hub;
    RecordedTarget target;
    RecordedBatches.clear();
    TextsAtCtrlV.clear();
    MarkedAtCtrlV.clear();
    g_sendInputRoute = RecordWithClipboard;
    g_ini.pasteWaitMs = 5;
    ItemId older = ItemStore::Insert(History, nullptr, L"older text");
    ItemStore::Insert(History, nullptr, L"newer text");

    SUBCASE("a history entry: g_busyState BUSY_HISTORY_PASTE first, one clipboard write, one Ctrl+V, captured again")
    {
        g_busyState = BUSY_MENU;
        PasteChosenEntry(g_mainWindow, older);
        CHECK(g_busyState == BUSY_HISTORY_PASTE);
        CHECK(BatchShape() == "V");
        CHECK(TextsAtCtrlV == std::vector<std::wstring>{L"older text"});
        CHECK(MarkedAtCtrlV == std::vector<bool>{false});
        PumpFor(30);
        CHECK(HistoryTexts() == std::vector<std::wstring>{L"newer text", L"older text"});
        CHECK(ItemStore::KindOf(older) == -1);  // it moved under a new id
        g_busyState = BUSY_NONE;
    }
    SUBCASE("a registered entry: lines marked, Tab between them, nothing captured, g_busyState stays 1")
    {
        ItemId reg = ItemStore::Insert(Registered, L"site", L"a\r\nb\r\nc");
        g_busyState = 1;
        PasteChosenEntry(g_mainWindow, reg);
        CHECK(g_busyState == 1);
        g_busyState = 0;
        CHECK(BatchShape() == "VTVTV");
        CHECK(TextsAtCtrlV == std::vector<std::wstring>{L"a", L"b", L"c"});
        CHECK(MarkedAtCtrlV == std::vector<bool>{true, true, true});
        CHECK(HistoryTexts() == std::vector<std::wstring>{L"older text", L"newer text"});
    }
    SUBCASE("a registered paste stops, and says why, when the page or the window changes or a modifier stays down; "
            "the user's text comes back, and a line put back unmarked (a shared clipboard) is no copy")
    {
        ItemId reg = ItemStore::Insert(Registered, L"site", L"a\r\nb\r\nc");
        struct Row {
            const char *what;
            void (*atCtrlV)(HWND form, const WCHAR *line);
            const char *shape;
            std::vector<int> told;
        } rows[] = {
            {"another page of the same window", [](HWND w, const WCHAR *) { SetWindowTextW(w, L"Chat - general"); }, "V",
             {PASTE_STOP_CAPTION}},
            {"the page counts and marks itself", [](HWND w, const WCHAR *) { SetWindowTextW(w, L"* recall form (2)"); }, "VTVTV", {}},
            {"the window leaves the front", [](HWND w, const WCHAR *) { ShowWindow(w, SW_HIDE); }, "V", {PASTE_STOP_WINDOW}},
            {"Shift held for 300 ms: the keys wait", [](HWND, const WCHAR *line) {
                 if (lstrcmpW(line, L"a") == 0)
                     KeyDown(VK_SHIFT), SetTimer(nullptr, 0, 300, ReleaseShiftLater);
             }, "VTVTV", {}},
            {"Ctrl held beyond the wait", [](HWND, const WCHAR *) { KeyDown(VK_CONTROL); }, "V", {PASTE_STOP_KEYS_HELD}},
            {"each line put back unmarked", [](HWND, const WCHAR *line) { PutClipboardText(nullptr, line); }, "VTVTV", {}},
        };
        for (const Row &row : rows) {
            INFO(std::string(row.what));
            RecordedBatches.clear(), StopsTold.clear(), KeysUnderModifier = 0;
            REQUIRE(PutClipboardText(nullptr, L"earlier"));
            PumpFor(50);
            REQUIRE(FocusTestField(target.form, 1));
            TakeFocusSnapshot(&g_focusSnapshot);
            AtCtrlV = row.atCtrlV;
            g_busyState = BUSY_MENU;
            PasteChosenEntry(g_mainWindow, reg);
            g_busyState = BUSY_NONE;
            AtCtrlV = nullptr;
            PumpFor(50);
            KeyUp(VK_CONTROL);
            KeyUp(VK_SHIFT);
            CHECK(BatchShape() == row.shape);
            CHECK(KeysUnderModifier == 0);
            CHECK(StopsTold == row.told);
            CHECK(TakeClipboardText() == L"earlier");
            PutClipboardText(nullptr, L"a");  // after the paste
            PumpFor(50);
            CHECK(HistoryTexts() == std::vector<std::wstring>{L"older text", L"newer text", L"earlier"});
            SetWindowTextW(target.form.window, L"recall form");
            ShowWindow(target.form.window, SW_SHOW);
        }
        PutClipboardText(nullptr, L"aa");  // another text
        PumpFor(50);
        CHECK(HistoryTexts().back() == L"aa");
    }
    SUBCASE("an absent id or 0 pastes nothing")
    {
        g_busyState = 1;
        PasteChosenEntry(g_mainWindow, 0);
        PasteChosenEntry(g_mainWindow, 999);
        CHECK(RecordedBatches.empty());
        CHECK(g_busyState == 1);
        g_busyState = 0;
    }
}

// Sends a tap of the trigger key to the hub the way the hook library does.
static void HookTap(WPARAM vk)
{
    SendMessageW(g_mainWindow, WM_HOOKKEY, vk, 0x00000001);
    SendMessageW(g_mainWindow, WM_HOOKKEY, vk, (LPARAM)0xC0000001);
}

static BOOL RunningAtApp;  // what PopupOperationRunning said when the hub handled WM_APP

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
        CHECK(g_busyState == 0);
        CHECK(g_focusSnapshot.foregroundWindow == nullptr);
        CHECK(g_tapCounter.TapCount == 0);
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
        CHECK(g_busyState == 0);
    }
    SUBCASE("Esc pastes nothing, clears g_busyState, and the next double tap works again; a double tap, the hotkey or "
            "the exit handled while the closed menu's look waits for a held clipboard finds the operation running")
    {
        HeldClipboard hold = {};
        REQUIRE(StartHold(&hold, nullptr, nullptr));
        CurrentHold = &hold;
        OnHubApp = [] { RunningAtApp = PopupOperationRunning(); ReleaseHoldFromHub(); };
        RunningAtApp = FALSE;
        MenuPlayer player;
        StartMenuPlayer(&player, {VK_ESCAPE});
        HookTap(VK_SHIFT);
        HookTap(VK_SHIFT);
        CHECK(WaitUntil([&] { return player.seenTick != 0 && VisibleMenuWindow() == nullptr; }, 4000));
        CHECK(FinishMenuPlayer(&player));
        PumpFor(100);
        CHECK(FieldText(form.field1) == L"");
        CHECK(g_busyState == 0);
        CHECK(g_focusSnapshot.focusWindow == nullptr);
        CHECK(RunningAtApp);
        EndHold(&hold);
        REQUIRE(FocusTestField(form, 1));
        StartMenuPlayer(&player, {VK_DOWN, VK_RETURN});
        HookTap(VK_SHIFT);
        HookTap(VK_SHIFT);
        CHECK(WaitUntil([&] { return FieldText(form.field1) == L"newest copy"; }, 4000));
        CHECK(FinishMenuPlayer(&player));
    }
    SUBCASE("releases that never came (the secure desktop): a Ctrl spoils no tap once it is up; at the next mouse input "
            "a Shift press that is up lets the mouse and the press go")
    {
        SendMessageW(g_mainWindow, WM_HOOKKEY, VK_CONTROL, 0);
        auto mice = [] { UINT count = 0; GetRegisteredRawInputDevices(nullptr, &count, sizeof(RAWINPUTDEVICE)); return count; };
        SendMessageW(g_mainWindow, WM_HOOKKEY, VK_SHIFT, 0x00000001);
        CHECK(mice() == 1);
        // While it is held, and while its release may still be on the way through the hook, the
        // press stands; once the double-click time has passed with the key up, it goes.
        for (int step = 0; step < 3; step++) {
            step == 0 ? KeyDown(VK_SHIFT) : KeyUp(VK_SHIFT);
            if (step == 2)
                g_tapCounter.KeyDownTick -= GetDoubleClickTime() + 1;
            OnRawMouseInput(g_mainWindow, 0);
            CHECK(TapWantsMouse(&g_tapCounter) == (step < 2));
        }
        CHECK(mice() == 0);
        MenuPlayer player;
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
        CHECK(g_tapCounter.TapCount == 0);
        HookTap(VK_SHIFT);
        PumpFor(GetDoubleClickTime() + 150);
        CHECK(g_tapCounter.TapCount == 0);
        CHECK(FieldText(form.field1) == L"");
    }
    SUBCASE("while busy the decision waits: no second menu, the count is kept")
    {
        g_busyState = 1;
        HookTap(VK_SHIFT);
        HookTap(VK_SHIFT);
        PumpFor(100);
        CHECK(VisibleMenuWindow() == nullptr);
        CHECK(g_tapCounter.TapCount == 2);
        g_busyState = 0;
        g_tapCounter.TapCount = 0;
    }
    SUBCASE("the hotkey opens the menu only in hotkey mode")
    {
        g_ini.menuKeyMode = 0;
        OnHotKey(g_mainWindow, HOTKEY_MENU);  // returns at once: nothing opens
        CHECK(VisibleMenuWindow() == nullptr);
        g_ini.menuKeyMode = 3;
        HookTap(VK_SHIFT);
        HookTap(VK_SHIFT);
        PumpFor(100);
        CHECK(g_tapCounter.TapCount == 0);
        MenuPlayer player;
        StartMenuPlayer(&player, {VK_DOWN, VK_RETURN});
        PostMessageW(g_mainWindow, WM_HOTKEY, HOTKEY_MENU, MAKELPARAM(MOD_ALT, VK_F9));
        CHECK(WaitUntil([&] { return FieldText(form.field1) == L"newest copy"; }, 4000));
        CHECK(FinishMenuPlayer(&player));
    }
    DestroyTestForm(&form);
}

// Ctrl+V that ends the program's loop: WM_QUIT is posted while the line waits for its reader.
static int CtrlVSeen;
static UINT WINAPI QuitAtFirstCtrlV(UINT count, LPINPUT inputs, int size)
{
    if (count > 0 && inputs[0].ki.wVk == VK_CONTROL && CtrlVSeen++ == 0)
        PostQuitMessage(7);
    return RecordSendInput(count, inputs, size);
}

TEST_CASE("a registered paste: a WM_QUIT stops it and is posted again; a target that never reads is waited for only so long")
{
    Hub hub;
    RecordedTarget target;
    RecordedBatches.clear();
    g_ini.pasteWaitMs = 5;
    ItemId reg = ItemStore::Insert(Registered, L"site", L"user\r\npass");

    SUBCASE("WM_QUIT: no further line, the quit stays for the main loop, the earlier text comes back")
    {
        REQUIRE(PutClipboardText(nullptr, L"earlier"));
        CtrlVSeen = 0;
        g_sendInputRoute = QuitAtFirstCtrlV;
        g_busyState = 1;
        PasteChosenEntry(g_mainWindow, reg);
        g_busyState = 0;
        CHECK(BatchShape() == "VT");
        CHECK(g_pasteStopRequested);
        MSG msg;
        CHECK(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
        CHECK(msg.message == WM_QUIT);
        CHECK(msg.wParam == 7);
        CHECK(TakeClipboardText() == L"earlier");
        CHECK(ClipboardDword(CF_NAME_VIEWER_IGNORE) >= 0);
        g_pasteStopRequested = FALSE;
    }
    SUBCASE("nobody reads: each line gives up after its wait, and the last one leaves the clipboard after its own")
    {
        g_sendInputRoute = RecordSendInput;
        g_busyState = 1;
        PasteChosenEntry(g_mainWindow, reg);
        g_busyState = 0;
        CHECK(BatchShape() == "VTV");
        CHECK_FALSE(g_offeredLine.taken);
        CHECK_FALSE(IsClipboardFormatAvailable(CF_UNICODETEXT));
        CHECK(HistoryTexts().empty());
    }
}

// Whether the clipboard was free when each Ctrl+V went out: the target could open it.
static std::vector<bool> FreeAtCtrlV;
static UINT WINAPI RecordClipboardFree(UINT count, LPINPUT inputs, int size)
{
    if (count > 0 && inputs[0].ki.wVk == VK_CONTROL)
        FreeAtCtrlV.push_back(GetOpenClipboardWindow() == nullptr && ClipboardIsFree());
    return RecordSendInput(count, inputs, size);
}

TEST_CASE("a registered line's Ctrl+V waits until a clipboard program reading the line has let go")
{
    Hub hub;
    RecordedTarget target;
    RecordedBatches.clear();
    FreeAtCtrlV.clear();
    g_ini.pasteWaitMs = 0;
    ItemId reg = ItemStore::Insert(Registered, L"site", L"user\r\npass\r\n123");
    ClipboardWatcher reader;
    REQUIRE(StartClipboardWatcher(&reader, 60));

    g_sendInputRoute = RecordClipboardFree;
    g_busyState = 1;
    PasteChosenEntry(g_mainWindow, reg);
    g_busyState = 0;
    CHECK(BatchShape() == "VTVTV");
    // Each line was read by the slow program, and each Ctrl+V found the clipboard free again.
    CHECK(reader.reads >= 3);
    CHECK(FreeAtCtrlV == std::vector<bool>{true, true, true});
    // It honours "Clipboard Viewer Ignore" alone: no line reached it.
    CHECK(WatchedTexts(&reader).empty());
    StopClipboardWatcher(&reader);
}
