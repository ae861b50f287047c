// Figures of capture and recall:
//   1. capture of one new text with 5,000 copy-history entries of 200 characters in the store;
//   2. building the popup menu from 5,000 copy-history and 100 registered entries, W = 10, as it
//      opens (root and block items; a block is filled when it opens), and the find box's search:
//      keystroke to complete list for 5,000 entries of 200 characters and 500 registered, and for
//      500 entries of 100,000 characters the first match, the whole search and the longest slice;
//   3. the cost of one key event through a window of this process: letters with no hook, with a
//      global hook that only chains (chainhook.dll) and with tavo's hook, which forwards none of
//      them; Shift taps with no hook and with tavo's hook, which forwards each to a hub window on
//      another thread (WM_HOOKKEY); and what GetTickCount and GetKeyState cost a call;
//   4. end to end with the real tavo.exe: second Shift release to the menu window being visible;
//   5. the longest time the hub thread went without reading its queue during a registered paste
//      of 3 lines with the default wait (target: under 50 ms);
//   7. per-application rules (also alone: bench_recall.exe rules): the decision at the second tap
//      and the check per copy, in this process with 64 rules, and the end to end of 4 again with
//      an apps.dat of 64 rules that the target does not match;
//   6. burst capture: this process sets 300 distinct texts at 50/s and at 200/s while the real
//      tavo.exe captures them through the viewer chain, alone and beside another clipboard reader;
//      the texts in paste.dat are counted and their order checked.
// Run: build/x64/winerun build/x64/bin/bench_recall.exe (or build/x86)
#include <windows.h>
#include <functional>
#include <stdio.h>
#include <string>
#include "recall/find_match.h"
#include "recall/clipboard.h"
#include "recall/popup_menu.h"
#include "recall/focus.h"
#include "recall/paste.h"
#include "recall/app_decide.h"
#include "state/app_rules.h"
#include "shell/shell.h"
#include "state/ini_data.h"
#include "state/item_store.h"
#include "tavohook.h"
#include "test_util.h"

static double Now()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return 1000.0 * counter.QuadPart / frequency.QuadPart;
}

// 200 characters that share all but their last digits: the comparison runs to the end.
static std::wstring LongText(int n)
{
    std::wstring text(190, L'x');
    WCHAR tail[16];
    wsprintfW(tail, L"%010d", n);
    return text + tail;
}

static void FillHistory(int count)
{
    ItemStore::ResetForTests();
    for (int n = 0; n < count; n++)
        ItemStore::Insert(History, nullptr, LongText(n).c_str());
}

// Mean and worst time of AddHistoryText over the texts made for rounds 0 to rounds - 1, in ms.
static void TimeCaptures(const std::function<std::wstring(int)> &makeText, int rounds, double *mean, double *worst)
{
    *worst = 0;
    double start = Now();
    for (int n = 0; n < rounds; n++) {
        std::wstring text = makeText(n);
        double t = Now();
        AddHistoryText(text.c_str(), g_ini.historyMax);
        double spent = Now() - t;
        *worst = spent > *worst ? spent : *worst;
    }
    *mean = (Now() - start) / rounds;
}

static void BenchCapture()
{
    SetDefaultIniData(&g_ini);
    g_ini.historyMax = 5000;
    FillHistory(5000);
    const int rounds = 500;
    double mean = 0, worst = 0;
    TimeCaptures([](int n) { return LongText(100000 + n); }, rounds, &mean, &worst);
    printf("capture (store side), 5000 entries of 200 chars sharing 190 (worst case): %.3f ms mean, %.3f ms worst over %d new texts\n",
           mean, worst, rounds);

    // Texts that differ from their first characters on, as copies usually do.
    ItemStore::ResetForTests();
    for (int n = 0; n < 5000; n++)
        ItemStore::Insert(History, nullptr, (std::to_wstring(n) + LongText(n)).c_str());
    TimeCaptures([](int n) { return std::to_wstring(100000 + n) + LongText(n); }, rounds, &mean, &worst);
    printf("capture (store side), 5000 entries of 200 chars differing early: %.3f ms mean, %.3f ms worst\n", mean, worst);
    FillHistory(5000);

    // The whole capture: read the clipboard, check its markers, update the store.
    HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    const int clipRounds = 100;
    double total = 0;
    worst = 0;
    for (int n = 0; n < clipRounds; n++) {
        PutClipboardText(owner, LongText(200000 + n));
        double t = Now();
        CaptureClipboardText(owner);
        double spent = Now() - t;
        total += spent;
        worst = spent > worst ? spent : worst;
    }
    printf("capture (clipboard read + store), 5000 entries: %.3f ms mean, %.3f ms worst over %d texts\n",
           total / clipRounds, worst, clipRounds);
    printf("  history count afterwards: %d (limit 5000)\n", ItemStore::CountKind(History));
    DestroyWindow(owner);
}

// Opens the menu of the store as the program does: its menus made ahead, as the program makes
// them once it is idle after its start, then a first opening and `rounds` more.
static void TimeMenuOpenings(int wrapCount, const char *what)
{
    const int rounds = 20;
    double layoutTotal = 0, total = 0, worst = 0, blockTotal = 0, allTotal = 0, first = 0;
    int items = 0, rootItems = 0;
    MenuHandles handles;  // kept from one opening to the next, as the program keeps them
    InitMenuHandles(&handles);
    double aheadStart = Now();
    MakeMenusAhead(&handles, CountPopupMenus(wrapCount));
    double ahead = Now() - aheadStart;
    int menus = handles.room;
    for (int n = 0; n < rounds + 1; n++) {
        double t = Now();
        MenuLayout layout;
        LayOutPopupMenu(wrapCount, 20, &layout);
        double laidOut = Now();
        HMENU root = CreateMenuFromLayout(&layout, &handles);
        double built = Now();
        // The user opens a block: it is filled then (WM_INITMENUPOPUP).
        FillMenuFromLayout(&layout, &handles, handles.menus[1]);
        double blockFilled = Now();
        for (int k = 2; k < handles.count; k++)
            FillMenuFromLayout(&layout, &handles, handles.menus[k]);
        double allFilled = Now();
        items = layout.count;
        rootItems = GetMenuItemCount(root);
        ReleaseLayoutMenus(&handles);
        FreeMenuLayout(&layout);
        if (n == 0) {
            first = built - t;
            continue;
        }
        layoutTotal += laidOut - t;
        total += built - t;
        blockTotal += blockFilled - built;
        allTotal += allFilled - t;
        worst = built - t > worst ? built - t : worst;
    }
    FreeMenuHandles(&handles);
    printf("popup menu, %s, W = %d (%d items, %d in the root, %d menus): %.2f ms mean to open (layout %.2f ms), "
           "%.2f ms worst, %.2f ms the first time; its menus made ahead when idle: %.2f ms; one block filled when "
           "it opens: %.3f ms; every block filled: %.2f ms\n",
           what, wrapCount, items, rootItems, menus, total / rounds, layoutTotal / rounds, worst, first, ahead,
           blockTotal / rounds, allTotal / rounds);
}

static void BenchMenu()
{
    FillHistory(5000);
    for (int n = 0; n < 100; n++)
        ItemStore::Insert(Registered, (L"site " + std::to_wstring(n)).c_str(), L"user\r\npass");
    TimeMenuOpenings(10, "5000 history + 100 registered");
    for (int n = 100; n < 5000; n++)
        ItemStore::Insert(Registered, (L"site " + std::to_wstring(n)).c_str(), L"user\r\npass");
    TimeMenuOpenings(1, "5000 history + 5000 registered");
}

// ---- the find box's search ----

// Runs the search as the box does, slice by slice, as if the word had just been typed: the
// whole time, the longest slice (what a keystroke may wait for) and when the first match came.
static void TimeFind(const WCHAR *typed, double *total, double *longestSlice, double *firstMatch, int *matches)
{
    FindSearch search;
    InitFindSearch(&search);
    double t = Now();
    StartFindSearch(&search, typed);
    *longestSlice = 0;
    *firstMatch = -1;
    for (;;) {
        double sliceStart = Now();
        BOOL done = ContinueFindSearch(&search, 8.0);
        double slice = Now() - sliceStart;
        *longestSlice = slice > *longestSlice ? slice : *longestSlice;
        if (*firstMatch < 0 && search.resultCount > 0)
            *firstMatch = Now() - t;
        if (done)
            break;
    }
    *total = Now() - t;
    *matches = search.resultCount;
    FreeFindSearch(&search);
}

static void BenchFind()
{
    // 5,000 copies of 200 characters, mixed Latin and kana, and 500 registered entries.
    ItemStore::ResetForTests();
    for (int n = 0; n < 500; n++)
        ItemStore::Insert(Registered, (L"site ガイド " + std::to_wstring(n)).c_str(), L"user\r\npass");
    for (int n = 0; n < 5000; n++) {
        std::wstring text = L"copy " + std::to_wstring(n) + L" がいど Guide ";
        while (text.size() < 200)
            text += L"lorem ipsum ﾃｷｽﾄ ";
        ItemStore::Insert(History, nullptr, text.substr(0, 200).c_str());
    }
    // Each keystroke of "guide 4999" starts the search over, as the box does.
    const WCHAR *keystrokes[] = {L"g", L"gu", L"gui", L"guid", L"guide", L"guide ", L"guide 4", L"guide 49",
                                 L"guide 499", L"guide 4999", L"ｶﾞｲﾄﾞ", L"nothing"};
    double worst = 0, sum = 0;
    for (const WCHAR *typed : keystrokes) {
        double total, slice, first;
        int matches;
        TimeFind(typed, &total, &slice, &first, &matches);
        sum += total;
        worst = total > worst ? total : worst;
    }
    printf("find box, 5000 history of 200 chars + 500 registered: keystroke to complete list %.2f ms mean, %.2f ms worst over %d keystrokes\n",
           sum / ARRAYSIZE(keystrokes), worst, (int)ARRAYSIZE(keystrokes));

    // 500 copies of 100,000 characters (50 M in all); the last words only in the oldest texts.
    ItemStore::ResetForTests();
    for (int n = 0; n < 500; n++) {
        std::wstring text(100000, L'x');
        std::wstring tail = L" がいど " + std::to_wstring(n);
        text.replace(text.size() - tail.size(), tail.size(), tail);
        ItemStore::Insert(History, nullptr, text.c_str());
    }
    const WCHAR *queries[] = {L"ガイド", L"ガイド 1", L"ｶﾞｲﾄﾞ 7", L"nowhere"};
    const char *shown[] = {"full-width katakana word", "kana word and a digit", "half-width kana word and a digit", "no match"};
    for (int q = 0; q < (int)ARRAYSIZE(queries); q++) {
        double total, slice, first;
        int matches;
        TimeFind(queries[q], &total, &slice, &first, &matches);
        char firstText[32];
        if (first < 0)
            lstrcpyA(firstText, "none");
        else
            sprintf(firstText, "%.2f ms", first);
        printf("find box, 500 history of 100,000 chars, %s: %d matches; first match %s; whole search %.1f ms; "
               "longest slice (a keystroke's longest wait) %.2f ms\n",
               shown[q], matches, firstText, total, slice);
    }
    ItemStore::ResetForTests();
}

// ---- key events through the hook ----

static HWND HubWindow;
static volatile LONG HookKeysSeen;
static LRESULT CALLBACK HubProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_HOOKKEY) {
        InterlockedIncrement(&HookKeysSeen);
        OnHookKey(window, wParam, lParam);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

static DWORD WINAPI RunHub(void *ready)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = HubProc;
    wc.lpszClassName = L"tavoClass";  // the only class the library sends to
    RegisterClassW(&wc);
    HubWindow = CreateWindowExW(WS_EX_TOOLWINDOW, L"tavoClass", L"", WS_OVERLAPPEDWINDOW, -50, -50, 0, 0,
                                nullptr, nullptr, nullptr, nullptr);
    SetEvent((HANDLE)ready);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    DestroyWindow(HubWindow);
    return 0;
}

static volatile LONG KeysReceived;
static LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYDOWN || message == WM_KEYUP) {
        KeysReceived++;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Milliseconds for `count` key events to reach the focused window of this thread: presses and
// releases of letters A to Z, or of Shift when `shiftTaps`.
static double TimeKeyEvents(HWND target, int count, bool shiftTaps = false)
{
    SetForegroundWindow(target);
    SetFocus(target);
    PumpFor(50);
    KeysReceived = 0;
    INPUT inputs[200];
    for (int k = 0; k < 200; k++) {
        ZeroMemory(&inputs[k], sizeof(INPUT));
        inputs[k].type = INPUT_KEYBOARD;
        inputs[k].ki.wVk = shiftTaps ? VK_SHIFT : (WORD)('A' + (k / 2) % 26);
        inputs[k].ki.dwFlags = (k & 1) ? KEYEVENTF_KEYUP : 0;
    }
    double start = Now();
    for (int sent = 0; sent < count; sent += 200) {
        SendInput(200, inputs, sizeof(INPUT));
        MSG msg;
        while (KeysReceived < sent + 200 && GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return Now() - start;
}

// Waits (pumping) until the hub has handled `count` forwarded events; false after 10 s.
static bool WaitForHub(LONG count)
{
    return WaitUntil([count] { return HookKeysSeen >= count; }, 10000);
}

#define HOOK_ROUNDS 15

static double BestOfRounds(const double *values)
{
    double best = values[0];
    for (int k = 1; k < HOOK_ROUNDS; k++)
        best = values[k] < best ? values[k] : best;
    return best;
}

// The median of the ratios of the rounds taken side by side: a change of load between rounds
// cancels out of each ratio.
static double MedianRatio(const double *with, const double *without)
{
    double ratios[HOOK_ROUNDS];
    for (int k = 0; k < HOOK_ROUNDS; k++) {
        ratios[k] = with[k] / without[k];
        for (int j = k; j > 0 && ratios[j - 1] > ratios[j]; j--) {
            double swap = ratios[j];
            ratios[j] = ratios[j - 1];
            ratios[j - 1] = swap;
        }
    }
    return ratios[HOOK_ROUNDS / 2];
}

// Nanoseconds per call of what the hook could ask for each key.
static void BenchKeyStateCalls()
{
    const int calls = 200000;
    volatile DWORD sink = 0;
    double t = Now();
    for (int k = 0; k < calls; k++)
        sink += GetTickCount();
    double tick = Now() - t;
    t = Now();
    for (int k = 0; k < calls; k++)
        sink += (DWORD)GetKeyState(VK_SHIFT);
    double keyState = Now() - t;
    printf("per call: GetTickCount %.0f ns, GetKeyState %.0f ns (%lu)\n", 1e6 * tick / calls, 1e6 * keyState / calls,
           sink & 1);
}

// Microseconds per key event, each the best of HOOK_ROUNDS rounds taken in turn (the load of the
// shared machine only ever adds to a round), and the ratios to no hook as medians of the rounds'
// own ratios. The spread of the chain-only rounds (median less best) is the run-to-run noise.
static void BenchHook()
{
    BenchKeyStateCalls();
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE hubThread = CreateThread(nullptr, 0, RunHub, ready, 0, nullptr);
    WaitForSingleObject(ready, 5000);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = TargetProc;
    wc.lpszClassName = L"benchTargetClass";
    RegisterClassW(&wc);
    HWND target = CreateWindowExW(0, L"benchTargetClass", L"bench target", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  100, 100, 200, 100, nullptr, nullptr, nullptr, nullptr);
    HMODULE chainLibrary = LoadLibraryW((BinDir() + L"chainhook.dll").c_str());
    HOOKPROC chainProc = chainLibrary ? (HOOKPROC)(void *)GetProcAddress(chainLibrary, "ChainKeyboardHookProc") : nullptr;
    const int events = 2000;
    SetDefaultIniData(&g_ini);
    g_ini.menuKeyMode = MENU_KEY_HOTKEY;  // the hub counts the Shift taps but opens no menu
    TimeKeyEvents(target, 1000);  // warm-up
    double none[HOOK_ROUNDS] = {}, chained[HOOK_ROUNDS] = {}, tavo[HOOK_ROUNDS] = {};
    double tapsNone[HOOK_ROUNDS] = {}, tapsTavo[HOOK_ROUNDS] = {};
    LONG lettersForwarded = 0;
    bool complete = chainProc != nullptr;
    for (int round = 0; round < HOOK_ROUNDS && complete; round++) {
        none[round] = TimeKeyEvents(target, events);
        tapsNone[round] = TimeKeyEvents(target, events, true);

        HHOOK chain = SetWindowsHookExA(WH_KEYBOARD, chainProc, chainLibrary, 0);
        complete = chain != nullptr;
        if (!complete)
            break;
        chained[round] = TimeKeyEvents(target, events);
        UnhookWindowsHookEx(chain);

        complete = tvSetHook(HubWindow, WM_HOOKKEY) == 1;
        if (!complete)
            break;
        // Letters far from the last Shift: the double-click time passes first.
        Sleep(GetDoubleClickTime() + 300);
        HookKeysSeen = 0;
        tavo[round] = TimeKeyEvents(target, events);
        PumpFor(50);
        lettersForwarded += HookKeysSeen;
        HookKeysSeen = 0;
        tapsTavo[round] = TimeKeyEvents(target, events, true);
        tvUnHook();
        // The hub works through what was forwarded before the next round starts.
        if (!WaitForHub(events))
            printf("key events: the hub handled only %ld of %d forwarded Shift events\n", HookKeysSeen, events);
    }
    if (!complete) {
        printf("key events: a hook could not be installed (chainhook.dll %s)\n", chainProc ? "loaded" : "missing");
    } else {
        double perNone = 1000.0 * BestOfRounds(none) / events;
        double perChain = 1000.0 * BestOfRounds(chained) / events;
        double perTavo = 1000.0 * BestOfRounds(tavo) / events;
        double sorted[HOOK_ROUNDS];
        for (int k = 0; k < HOOK_ROUNDS; k++) {
            sorted[k] = chained[k];
            for (int j = k; j > 0 && sorted[j - 1] > sorted[j]; j--) {
                double swap = sorted[j];
                sorted[j] = sorted[j - 1];
                sorted[j - 1] = swap;
            }
        }
        double noise = 1000.0 * (sorted[HOOK_ROUNDS / 2] - sorted[0]) / events;
        printf("letters, cost per key event (best of %d rounds of %d): %.2f us with no hook, %.2f us with a hook that only "
               "chains, %.2f us with tavo's hook (%+.2f us against chain only; run-to-run noise %.2f us)\n",
               HOOK_ROUNDS, events, perNone, perChain, perTavo, perTavo - perChain, noise);
        printf("  letters forwarded by tavo's hook: %ld of %d\n", lettersForwarded, HOOK_ROUNDS * events);
        printf("  ratio to no hook (median over the rounds): chain only %.2f, tavo's hook %.2f\n",
               MedianRatio(chained, none), MedianRatio(tavo, none));
        double tapNone = 1000.0 * BestOfRounds(tapsNone) / events;
        double tapTavo = 1000.0 * BestOfRounds(tapsTavo) / events;
        printf("Shift taps, cost per key event: %.2f us with no hook, %.2f us with tavo's hook, each forwarded "
               "(ratio %.2f)\n", tapNone, tapTavo, MedianRatio(tapsTavo, tapsNone));
    }
    if (chainLibrary)
        FreeLibrary(chainLibrary);
    PostThreadMessageW(GetThreadId(hubThread), WM_QUIT, 0, 0);
    WaitForSingleObject(hubThread, 5000);
    DestroyWindow(target);
    CloseHandle(hubThread);
    CloseHandle(ready);
}

// ---- the hub thread during a registered paste ----

// A prober thread posts one message at a time to a window of the pasting thread and notes how
// long each one waited there: the longest wait is the longest time the thread left its queue unread.
#define WM_PROBE (WM_APP + 40)
static volatile LONG ProbeAnswered;
static LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PROBE) {
        InterlockedExchange(&ProbeAnswered, 1);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

struct ProbeRun {
    HWND window;
    volatile LONG stop;
    double longest;
    int probes;
};

static DWORD WINAPI RunProber(void *parameter)
{
    ProbeRun *run = (ProbeRun *)parameter;
    while (!run->stop) {
        InterlockedExchange(&ProbeAnswered, 0);
        double posted = Now();
        PostMessageW(run->window, WM_PROBE, 0, 0);
        while (!ProbeAnswered && !run->stop)
            Sleep(1);
        double waited = Now() - posted;
        if (ProbeAnswered) {
            run->probes++;
            run->longest = waited > run->longest ? waited : run->longest;
        }
        Sleep(2);
    }
    return 0;
}

// The application typed into: an edit control in the foreground on a thread of its own.
struct PasteTarget {
    HANDLE ready;
    HWND edit;
};

static DWORD WINAPI RunPasteTarget(void *parameter)
{
    PasteTarget *target = (PasteTarget *)parameter;
    target->edit = CreateWindowExW(0, L"EDIT", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE | ES_AUTOHSCROLL, 150, 150, 400, 80,
                                   nullptr, nullptr, nullptr, nullptr);
    BringToForeground(target->edit, 3000);
    SetFocus(target->edit);
    SetEvent(target->ready);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    DestroyWindow(target->edit);
    return 0;
}

static void BenchPasteGap()
{
    SetDefaultIniData(&g_ini);
    ItemStore::ResetForTests();
    ItemId entry = ItemStore::Insert(Registered, L"bench", L"line one\r\nline two\r\nline three");
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ProbeProc;
    wc.lpszClassName = L"benchProbeClass";
    RegisterClassW(&wc);
    ProbeRun run = {};
    run.window = CreateWindowExW(0, L"benchProbeClass", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    PasteTarget target = {CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr};
    DWORD targetThreadId = 0;
    HANDLE targetThread = CreateThread(nullptr, 0, RunPasteTarget, &target, 0, &targetThreadId);
    WaitForSingleObject(target.ready, 5000);
    PumpFor(200);

    HANDLE prober = CreateThread(nullptr, 0, RunProber, &run, 0, nullptr);
    PumpFor(100);
    // The paste types only into the window recorded when the menu opened: recorded as the menu does.
    TakeFocusSnapshot(&g_focusSnapshot);
    double start = Now();
    TypeRegisteredEntry(run.window, entry);
    double spent = Now() - start;
    ZeroMemory(&g_focusSnapshot, sizeof(g_focusSnapshot));
    run.stop = 1;
    WaitForSingleObject(prober, 5000);
    PumpFor(300);
    WCHAR typed[128] = {};
    GetWindowTextW(target.edit, typed, 128);
    // The three lines in order, whatever the edit made of the Tabs between them.
    const WCHAR *one = wcsstr(typed, L"line one");
    const WCHAR *two = one ? wcsstr(one, L"line two") : nullptr;
    const WCHAR *three = two ? wcsstr(two, L"line three") : nullptr;
    printf("registered paste of 3 lines, pasteWaitMs %d: %s%.0f ms in all; longest time the hub thread left its queue "
           "unread %.1f ms over %d probes (target < 50 ms); target got \"%ls\"\n",
           g_ini.pasteWaitMs, three ? "" : "FAILED (the target did not get the three lines): ", spent, run.longest,
           run.probes, typed);
    PostThreadMessageW(targetThreadId, WM_QUIT, 0, 0);
    WaitForSingleObject(targetThread, 5000);
    CloseHandle(prober);
    CloseHandle(targetThread);
    CloseHandle(target.ready);
    DestroyWindow(run.window);
}

// ---- end to end ----

// 64 rules, none for the bench itself: every decision walks them all.
static void FillRules(AppRules *rules)
{
    SetDefaultAppRules(rules);
    for (int k = 0; k < APP_RULES_MAX; k++) {
        WCHAR name[32];
        wsprintfW(name, L"application%02d.exe", k);
        int index = AddAppRule(rules, name);
        rules->rules[index].switches = APP_RULE_NO_MENU | APP_RULE_NO_RECORD;
        if (k % 2)
            lstrcpyW(rules->rules[index].caption, L"a caption text");
    }
}

static void BenchEndToEnd(bool withRules)
{
    std::wstring dir = MakeScratchDir(withRules ? L"bench_recall_rules" : L"bench_recall");
    if (withRules) {
        AppRules *rules = new AppRules;
        FillRules(rules);
        WriteFileBytes(dir + L"apps.dat", EncryptedAppsFile(*rules));
        delete rules;
    }
    TavoProcess tavo;
    if (!StartTavoClean(dir, &tavo)) {
        printf("end to end: tavo.exe did not start\n");
        return;
    }
    HWND form = CreateWindowExW(0, L"EDIT", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 150, 150, 300, 80,
                                nullptr, nullptr, nullptr, nullptr);
    PumpFor(300);
    double total = 0, worst = 0;
    int opened = 0;
    const int rounds = 5;
    for (int n = 0; n < rounds; n++) {
        WaitUntil([&] {
            SetForegroundWindow(form);
            return GetForegroundWindow() == form;
        }, 2000);
        SetFocus(form);
        PumpFor(100);
        TapKey(VK_SHIFT);
        PumpFor(30);
        KeyDown(VK_SHIFT);
        PumpFor(30);
        KeyUp(VK_SHIFT);
        double released = Now();
        double seen = 0;
        while (Now() - released < 3000) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            if (VisibleMenuWindow()) {
                seen = Now();
                break;
            }
        }
        if (seen) {
            opened++;
            total += seen - released;
            worst = seen - released > worst ? seen - released : worst;
            TapKey(VK_ESCAPE);
            WaitUntil([] { return VisibleMenuWindow() == nullptr; }, 2000);
        }
        PumpFor(GetDoubleClickTime() + 100);
    }
    if (opened)
        printf("end to end under Wine%s: second Shift release to visible menu: %.1f ms mean, %.1f ms worst (%d of %d opened)\n",
               withRules ? ", 64 application rules" : "", total / opened, worst, opened, rounds);
    else
        printf("end to end: the menu never opened\n");
    DestroyWindow(form);
    StopTavo(&tavo);
}

// ---- the caret of a target that hangs ----

static volatile LONG MenuSeenTick;
// Watches for the menu from a thread of its own (the target's thread hangs) and closes it.
static DWORD WINAPI WatchMenu(void *)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 10000) {
        if (VisibleMenuWindow()) {
            InterlockedExchange(&MenuSeenTick, (LONG)GetTickCount());
            Sleep(100);
            TapKey(VK_ESCAPE);
            return 0;
        }
        Sleep(2);
    }
    return 0;
}

// From the moment the target is asked for its caret to the visible menu.
static void BenchCaretTargets()
{
    std::wstring dir = MakeScratchDir(L"bench_caret");
    TavoProcess tavo;
    if (FAILED(CoInitialize(nullptr)) || !StartTavoClean(dir, &tavo)) {
        printf("caret: tavo.exe did not start\n");
        return;
    }
    PumpFor(300);
    const struct {
        CaretTargetKind kind;
        const char *what;
    } targets[] = {{CARET_TARGET_ACCESSIBLE, "an accessible caret"},
                   {CARET_TARGET_HUNG, "a target that does not answer WM_GETOBJECT for 5 s"}};
    for (const auto &target : targets) {
        double total = 0, worst = 0;
        int opened = 0;
        const int rounds = 3;
        for (int n = 0; n < rounds; n++) {
            HWND window = CreateCaretTarget(target.kind, 200, 300);
            FocusWindowNow(window);
            CaretTargetAskedTick = 0;
            MenuSeenTick = 0;
            HANDLE watcher = CreateThread(nullptr, 0, WatchMenu, nullptr, 0, nullptr);
            TapKey(VK_SHIFT);
            PumpFor(30);
            TapKey(VK_SHIFT);
            WaitUntil([&] { return WaitForSingleObject(watcher, 0) == WAIT_OBJECT_0; }, 12000);
            CloseHandle(watcher);
            if (MenuSeenTick && CaretTargetAskedTick) {
                double delay = (double)(DWORD)(MenuSeenTick - CaretTargetAskedTick);
                opened++;
                total += delay;
                worst = delay > worst ? delay : worst;
            }
            WaitUntil([] { return VisibleMenuWindow() == nullptr; }, 2000);
            DestroyWindow(window);
            PumpFor(GetDoubleClickTime() + 100);
        }
        printf("caret of %s: asked to visible menu %.0f ms mean, %.0f ms worst (%d of %d opened; goal under 300 ms)\n",
               target.what, opened ? total / opened : 0.0, worst, opened, rounds);
    }
    StopTavo(&tavo);
    CoUninitialize();
}

// ---- burst capture ----

// Puts a text on the clipboard as a quick program does: a held clipboard is tried again at once.
static BOOL SetClipboardTextNow(HWND owner, const std::wstring &text, int *failedOpens)
{
    double start = Now();
    while (!OpenClipboard(owner)) {
        (*failedOpens)++;
        if (Now() - start > 2000)
            return FALSE;
        Sleep(0);
    }
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 2 * text.size() + 2);
    BOOL placed = FALSE;
    if (block) {
        CopyMemory(GlobalLock(block), text.c_str(), 2 * text.size());
        GlobalUnlock(block);
        placed = EmptyClipboard() && SetClipboardData(CF_UNICODETEXT, block) != nullptr;
        if (!placed)
            GlobalFree(block);
    }
    CloseClipboard();
    return placed;
}

// 100 characters, distinct for each n.
static std::wstring BurstText(int n)
{
    WCHAR head[32];
    wsprintfW(head, L"burst %03d ", n);
    std::wstring text = head;
    text.resize(100, (WCHAR)(L'a' + n % 26));
    return text;
}

// A peer clipboard reader on a thread of its own, as another clipboard manager: it reads every
// change and holds the clipboard for PEER_HOLD_MS while it does, so that tavo's opens fail now and then.
#define PEER_HOLD_MS 3
static HANDLE PeerReady;
static volatile LONG PeerReads;
static LRESULT CALLBACK PeerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLIPBOARDUPDATE) {
        if (OpenClipboard(window)) {
            HANDLE data = GetClipboardData(CF_UNICODETEXT);
            if (data && GlobalLock(data))
                GlobalUnlock(data);
            Sleep(PEER_HOLD_MS);
            CloseClipboard();
            InterlockedIncrement(&PeerReads);
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

static DWORD WINAPI RunPeer(void *)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = PeerProc;
    wc.lpszClassName = L"benchPeerClass";
    RegisterClassW(&wc);
    HWND peer = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    AddClipboardFormatListener(peer);
    SetEvent(PeerReady);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    RemoveClipboardFormatListener(peer);
    DestroyWindow(peer);
    return 0;
}

static void BenchBurstRate(int perSecond, bool withPeer)
{
    const int count = 300;
    std::wstring dir = MakeScratchDir(L"bench_recall_burst_" + std::to_wstring(perSecond));
    TavoProcess tavo;
    if (!StartTavoClean(dir, &tavo)) {
        printf("burst capture: tavo.exe did not start\n");
        return;
    }
    HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    HANDLE peerThread = nullptr;
    if (withPeer) {
        PeerReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        peerThread = CreateThread(nullptr, 0, RunPeer, nullptr, 0, nullptr);
        WaitForSingleObject(PeerReady, 5000);
        CloseHandle(PeerReady);
    }
    PeerReads = 0;
    PumpFor(300);
    int setCount = 0, failedOpens = 0;
    double interval = 1000.0 / perSecond;
    double start = Now();
    for (int n = 0; n < count; n++) {
        // On schedule, with this thread's messages handled meanwhile.
        for (double due = start + n * interval; Now() < due;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
            double left = due - Now();
            if (left > 1.5)
                MsgWaitForMultipleObjects(0, nullptr, FALSE, (DWORD)(left - 1), QS_ALLINPUT);
        }
        if (SetClipboardTextNow(owner, BurstText(n), &failedOpens))
            setCount++;
    }
    double spent = Now() - start;
    PumpFor(500);
    if (peerThread) {
        PostThreadMessageW(GetThreadId(peerThread), WM_QUIT, 0, 0);
        WaitForSingleObject(peerThread, 5000);
        CloseHandle(peerThread);
    }
    DestroyWindow(owner);
    DWORD exitCode = StopTavo(&tavo);
    std::vector<PasteRecord> saved;
    if (exitCode != 0 || !ReadPasteRecords(dir + L"paste.dat", &saved)) {
        printf("burst capture at %d/s: tavo.exe did not save (exit code %lu)\n", perSecond, exitCode);
        return;
    }
    // Each captured text names its place in the burst; the places must rise through the history.
    int captured = 0, last = -1;
    bool inOrder = true;
    for (const std::wstring &text : HistoryTextsOf(saved)) {
        int place = last + 1;
        while (place < count && text != BurstText(place))
            place++;
        if (place == count) {
            inOrder = false;  // an earlier text after a later one, or a stranger
            continue;
        }
        captured++;
        last = place;
    }
    char peer[64] = "no other reader";
    if (withPeer)
        wsprintfA(peer, "a reader holding it %d ms, %ld reads", PEER_HOLD_MS, PeerReads);
    printf("burst capture at %3d/s, %s (%d set in %.0f ms, the setter found it held %d times): "
           "tavo captured %d of %d, order %s\n",
           perSecond, peer, setCount, spent, failedOpens, captured, count, inOrder ? "kept" : "BROKEN");
}

static void BenchBurstCapture()
{
    for (int perSecond : {50, 200}) {
        BenchBurstRate(perSecond, false);
        BenchBurstRate(perSecond, true);
    }
}

// The decisions that the rules add: at the second tap (or the hotkey) and at each copy.
static void BenchAppDecisions()
{
    FillRules(&g_appRules);
    HWND window = CreateWindowExW(0, L"STATIC", L"a window in front", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 200,
                                  80, nullptr, nullptr, nullptr, nullptr);
    PumpFor(100);
    ForgetExecutableNames();
    double start = Now();
    BOOL open = MenuMayOpenOver(window);
    double first = Now() - start;
    const int rounds = 2000;
    start = Now();
    for (int k = 0; k < rounds; k++)
        open = MenuMayOpenOver(window) && open;
    double tap = (Now() - start) / rounds;
    PutClipboardText(window, L"a copy");
    start = Now();
    BOOL record = TRUE;
    for (int k = 0; k < rounds; k++)
        record = CopyMayBeRecordedNow() && record;
    double copy = (Now() - start) / rounds;
    printf("rules, 64 of them, none for this process: decision at the second tap %.1f us (first, uncached: %.1f us), "
           "check per copy %.1f us; menu %s, copy %s\n",
           1000 * tap, 1000 * first, 1000 * copy, open ? "opens" : "refused", record ? "recorded" : "refused");
    DestroyWindow(window);
    SetDefaultAppRules(&g_appRules);
}

int main(int argc, char **argv)
{
    printf("bench_recall: the %s build\n", BuildArchitecture());
    g_appInstance = GetModuleHandleW(nullptr);
    if (argc > 1 && lstrcmpA(argv[1], "rules") == 0) {
        BenchAppDecisions();
        BenchEndToEnd(false);
        BenchEndToEnd(true);
        return 0;
    }
    BenchCapture();
    BenchMenu();
    BenchFind();
    BenchHook();
    BenchPasteGap();
    BenchEndToEnd(false);
    BenchAppDecisions();
    BenchEndToEnd(true);
    BenchCaretTargets();
    BenchBurstCapture();
    return 0;
}
