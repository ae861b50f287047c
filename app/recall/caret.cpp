// Where the text caret of another application is, in physical screen pixels: its system caret,
// else the caret that it answers through accessibility (browsers and other applications that draw
// their own caret create no system caret), else nothing and the menu goes to the mouse pointer.
//
// The accessible caret is a question to another process that may hang: WM_GETOBJECT and the
// accLocation call behind it have no time-out of their own. A worker thread asks, in the
// multithreaded apartment (it blocks in its calls and needs no message loop), and the UI thread
// waits for it at most CARET_QUERY_WAIT_MS. While it waits it handles only messages sent by other
// threads (the hook's key events, clipboard notices, cross-process hook calls), never posted
// ones: the popup operation's guards already hold, and no window of this program moves meanwhile.
// A worker that outlives the wait finishes alone and frees what it shares with the UI thread.
#include "recall/focus.h"
#include <oleacc.h>

#define CARET_QUERY_WAIT_MS 200   // the longest the menu waits for an accessible caret
#define CARET_SEND_WAIT_MS 1000   // a worker's own bound on WM_GETOBJECT
#define CARET_WORKERS_MAX 4       // workers still held by hung targets; beyond that the step is skipped

DWORD g_caretQueryWaitMs = CARET_QUERY_WAIT_MS;
static volatile LONG g_caretWorkers;  // workers that have not ended yet

BOOL AccessibleCaretUsable(LONG width, LONG height, LONG state)
{
    // A caret is a line: width 0 or 1 is normal, no height is no caret.
    if (state & STATE_SYSTEM_INVISIBLE)
        return FALSE;
    return width >= 0 && height > 0;
}

// ---- Coordinates of another DPI awareness ----

typedef DPI_AWARENESS_CONTEXT(WINAPI *GetWindowDpiAwarenessContextFunction)(HWND);
typedef DPI_AWARENESS(WINAPI *GetAwarenessFromDpiAwarenessContextFunction)(DPI_AWARENESS_CONTEXT);
typedef DPI_AWARENESS_CONTEXT(WINAPI *SetThreadDpiAwarenessContextFunction)(DPI_AWARENESS_CONTEXT);
typedef BOOL(WINAPI *LogicalToPhysicalPointFunction)(HWND, POINT *);

struct DpiFunctions {
    GetWindowDpiAwarenessContextFunction windowContext;
    GetAwarenessFromDpiAwarenessContextFunction awarenessOf;
    SetThreadDpiAwarenessContextFunction setThreadContext;
    LogicalToPhysicalPointFunction logicalToPhysical;
};

// Windows 10 and later; on older systems every function is null and coordinates pass unchanged.
static const DpiFunctions *GetDpiFunctions()
{
    static DpiFunctions functions;
    static BOOL loaded;
    if (!loaded) {
        HMODULE user32 = GetModuleHandleW(L"user32.dll");
        functions.windowContext = (GetWindowDpiAwarenessContextFunction)(void *)GetProcAddress(user32, "GetWindowDpiAwarenessContext");
        functions.awarenessOf = (GetAwarenessFromDpiAwarenessContextFunction)(void *)GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext");
        functions.setThreadContext = (SetThreadDpiAwarenessContextFunction)(void *)GetProcAddress(user32, "SetThreadDpiAwarenessContext");
        functions.logicalToPhysical = (LogicalToPhysicalPointFunction)(void *)GetProcAddress(user32, "LogicalToPhysicalPointForPerMonitorDPI");
        loaded = TRUE;
    }
    return &functions;
}

// The window's DPI context when it is not per-monitor aware (its coordinates are then scaled
// ones), or null when its coordinates are physical already or nothing can be converted.
static DPI_AWARENESS_CONTEXT ScaledContextOf(HWND window)
{
    const DpiFunctions *dpi = GetDpiFunctions();
    if (!window || !dpi->windowContext || !dpi->awarenessOf || !dpi->setThreadContext || !dpi->logicalToPhysical)
        return nullptr;
    DPI_AWARENESS_CONTEXT context = dpi->windowContext(window);
    if (!context || dpi->awarenessOf(context) == DPI_AWARENESS_PER_MONITOR_AWARE)
        return nullptr;
    return context;
}

// A point in the client area of `window`, in that window's own coordinates, to physical screen
// pixels.
static void ClientPointToScreen(HWND window, POINT *point)
{
    DPI_AWARENESS_CONTEXT context = ScaledContextOf(window);
    if (!context) {
        ClientToScreen(window, point);
        return;
    }
    const DpiFunctions *dpi = GetDpiFunctions();
    // Mapped in the target's own scaled space, then converted as a whole.
    DPI_AWARENESS_CONTEXT previous = dpi->setThreadContext(context);
    ClientToScreen(window, point);
    if (previous)
        dpi->setThreadContext(previous);
    dpi->logicalToPhysical(window, point);
}

// A screen point that the application of `window` reported in its own coordinates, to physical.
static void ReportedPointToPhysical(HWND window, POINT *point)
{
    if (ScaledContextOf(window))
        GetDpiFunctions()->logicalToPhysical(window, point);
}

// ---- The system caret ----

BOOL FindSystemCaret(DWORD thread, HWND focusWindow, POINT *point)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (thread && GetGUIThreadInfo(thread, &info) && (info.flags & GUI_CARETBLINKING) && info.hwndCaret) {
        point->x = info.rcCaret.left;
        point->y = info.rcCaret.top;
        ClientPointToScreen(info.hwndCaret, point);
        return TRUE;
    }
    // Not blinking, or not told: the caller is attached to the thread, whose caret is then ours
    // to read. A caret in the top-left corner is taken for none.
    POINT caret = {0, 0};
    if (focusWindow && GetCaretPos(&caret) && (caret.x > 0 || caret.y > 0)) {
        *point = caret;
        ClientPointToScreen(focusWindow, point);
        return TRUE;
    }
    return FALSE;
}

// ---- The accessible caret ----

// Shared by the UI thread and one worker; the last of the two to let go frees it.
struct CaretQuery {
    LONG references;
    HWND window;
    BOOL found;
    POINT point;  // physical screen pixels
};

static void ReleaseCaretQuery(CaretQuery *query)
{
    if (InterlockedDecrement(&query->references) == 0)
        HeapFree(GetProcessHeap(), 0, query);
}

static BOOL AskAccessibleCaret(HWND window, POINT *point)
{
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, WM_GETOBJECT, 0, (LPARAM)OBJID_CARET, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                             CARET_SEND_WAIT_MS, &answer) ||
        (LRESULT)answer <= 0)
        return FALSE;
    IAccessible *caret = nullptr;
    if (FAILED(ObjectFromLresult((LRESULT)answer, __uuidof(IAccessible), 0, (void **)&caret)) || !caret)
        return FALSE;
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    LONG left = 0, top = 0, width = 0, height = 0, state = 0;
    VARIANT stateValue;
    VariantInit(&stateValue);
    if (SUCCEEDED(caret->get_accState(self, &stateValue)) && stateValue.vt == VT_I4)
        state = stateValue.lVal;
    VariantClear(&stateValue);
    BOOL found = SUCCEEDED(caret->accLocation(&left, &top, &width, &height, self)) &&
                 AccessibleCaretUsable(width, height, state);
    caret->Release();
    if (found) {
        point->x = left;
        point->y = top;
        ReportedPointToPhysical(window, point);
    }
    return found;
}

static DWORD WINAPI RunCaretQuery(void *parameter)
{
    CaretQuery *query = (CaretQuery *)parameter;
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    POINT point = {0, 0};
    BOOL found = SUCCEEDED(com) && AskAccessibleCaret(query->window, &point);
    query->point = point;
    InterlockedExchange((volatile LONG *)&query->found, found);
    if (SUCCEEDED(com))
        CoUninitialize();
    ReleaseCaretQuery(query);
    InterlockedDecrement(&g_caretWorkers);
    return 0;
}

// Waits for the worker, handling only sent messages; TRUE when it ended in time.
static BOOL WaitForCaretWorker(HANDLE worker, DWORD milliseconds)
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds)
            return WaitForSingleObject(worker, 0) == WAIT_OBJECT_0;
        DWORD result = MsgWaitForMultipleObjects(1, &worker, FALSE, milliseconds - elapsed, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0)
            return TRUE;
        if (result != WAIT_OBJECT_0 + 1)
            return FALSE;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

BOOL FindAccessibleCaret(HWND focusWindow, POINT *point, BOOL *answered)
{
    *answered = TRUE;
    if (!focusWindow || g_caretWorkers >= CARET_WORKERS_MAX)
        return FALSE;
    CaretQuery *query = (CaretQuery *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(CaretQuery));
    if (!query)
        return FALSE;
    query->references = 2;
    query->window = focusWindow;
    InterlockedIncrement(&g_caretWorkers);
    HANDLE worker = CreateThread(nullptr, 0, RunCaretQuery, query, 0, nullptr);
    if (!worker) {
        InterlockedDecrement(&g_caretWorkers);
        HeapFree(GetProcessHeap(), 0, query);
        return FALSE;
    }
    *answered = WaitForCaretWorker(worker, g_caretQueryWaitMs);
    BOOL found = *answered && query->found;
    if (found)
        *point = query->point;
    CloseHandle(worker);
    ReleaseCaretQuery(query);
    return found;
}
