// Where the user is typing, taken when a popup operation starts, and the foreground given back
// when its menu or find box closes.
#include "recall/focus.h"
#include "recall/clipboard.h"

FocusSnapshotRecord g_focusSnapshot;

// Windows shares the input state of two attached threads both ways. Wine gives the attaching
// thread (the first argument) the other's state and drops the attaching thread's own, so this
// thread always attaches itself: the other application's focus and foreground stay intact.
static BOOL AttachToThread(DWORD thread, BOOL attach)
{
    DWORD self = GetCurrentThreadId();
    return thread && thread != self && AttachThreadInput(self, thread, attach);
}

POINT KeepPointOnMonitor(POINT point, const RECT *monitor)
{
    if (point.x < monitor->left)
        point.x = monitor->left;
    if (point.x >= monitor->right)
        point.x = monitor->right - 1;
    if (point.y < monitor->top)
        point.y = monitor->top;
    if (point.y >= monitor->bottom)
        point.y = monitor->bottom - 1;
    return point;
}

void TakeFocusSnapshot(FocusSnapshotRecord *snapshot)
{
    snapshot->foregroundWindow = GetForegroundWindow();
    DWORD thread = GetWindowThreadProcessId(snapshot->foregroundWindow, nullptr);
    // Attached, the focus and the caret of the other thread become readable.
    BOOL attached = AttachToThread(thread, TRUE);
    snapshot->focusWindow = GetFocus();
    BOOL found = FindSystemCaret(thread, snapshot->focusWindow, &snapshot->menuPoint);
    if (attached)
        AttachToThread(thread, FALSE);
    // Asked detached: the target may hang, and this thread must not hold its input meanwhile.
    BOOL answered = TRUE;
    if (!found)
        found = FindAccessibleCaret(snapshot->focusWindow, &snapshot->menuPoint, &answered);
    snapshot->targetHung = !answered;
    if (!found) {
        GetCursorPos(&snapshot->menuPoint);
        return;
    }
    // A caret partly off the screen still opens the menu on its own monitor.
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    if (GetMonitorInfoW(MonitorFromPoint(snapshot->menuPoint, MONITOR_DEFAULTTONEAREST), &monitor))
        snapshot->menuPoint = KeepPointOnMonitor(snapshot->menuPoint, &monitor.rcMonitor);
}

void ForceForeground(HWND window, BOOL attach)
{
    DWORD foregroundThread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
    DWORD windowThread = GetWindowThreadProcessId(window, nullptr);
    DWORD self = GetCurrentThreadId();
    // One of the two threads is this one whenever the program calls this.
    DWORD other = windowThread == self ? foregroundThread : foregroundThread == self ? windowThread : 0;
    BOOL attached = FALSE;
    if (!attach)
        other = 0;
    else if (other)
        attached = AttachToThread(other, TRUE);
    else if (foregroundThread && windowThread && foregroundThread != windowThread)
        attached = AttachThreadInput(windowThread, foregroundThread, TRUE);
    DWORD savedTimeout = 0;
    SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &savedTimeout, 0);
    SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, 0);
    SetForegroundWindow(window);
    SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, (void *)(DWORD_PTR)savedTimeout, 0);
    if (attached && other)
        AttachToThread(other, FALSE);
    else if (attached)
        AttachThreadInput(windowThread, foregroundThread, FALSE);
    // Under Wine the foreground set while attached does not outlive the detach.
    if (GetForegroundWindow() != window)
        SetForegroundWindow(window);
}

void RestoreFocus(const FocusSnapshotRecord *snapshot)
{
    if (snapshot->foregroundWindow) {
        ForceForeground(snapshot->foregroundWindow, !snapshot->targetHung);
        SendMessageBounded(snapshot->foregroundWindow, WM_NCACTIVATE, TRUE, 0);
    }
    if (snapshot->focusWindow && !snapshot->targetHung) {
        DWORD thread = GetWindowThreadProcessId(snapshot->foregroundWindow, nullptr);
        BOOL attached = AttachToThread(thread, TRUE);
        if (GetFocus() != snapshot->focusWindow)
            SetFocus(snapshot->focusWindow);
        if (attached)
            AttachToThread(thread, FALSE);
    }
    // Wine can leave no foreground window after the attached steps above, and the keys of the
    // paste would go nowhere; on Windows this finds the right window and does nothing.
    if (snapshot->foregroundWindow && GetForegroundWindow() != snapshot->foregroundWindow)
        SetForegroundWindow(snapshot->foregroundWindow);
}
