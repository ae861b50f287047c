// Where the user is typing: the foreground and focus windows, the caret, and giving the
// foreground back. The popup menu, the find box and the paste use it; focus.cpp takes the snapshot
// and moves the foreground, caret.cpp finds the caret.
#pragma once
#include <windows.h>

struct FocusSnapshotRecord {
    HWND foregroundWindow;
    HWND focusWindow;
    POINT menuPoint;
    BOOL targetHung;  // the focus window did not answer in time: nothing attaches to its thread
};
extern FocusSnapshotRecord g_focusSnapshot;  // all zero while no popup operation runs

// The foreground and focus windows now, and the point the menu opens at: the caret, else the
// mouse pointer.
void TakeFocusSnapshot(FocusSnapshotRecord *snapshot);
// The point moved onto the monitor's rectangle (right and bottom edges excluded).
POINT KeepPointOnMonitor(POINT point, const RECT *monitor);
// attach: the foreground thread is taken to answer; a hung one would hold this thread in the
// activation messages that attached threads send each other.
void ForceForeground(HWND window, BOOL attach);
// The snapshot's window in front again, with its focus.
void RestoreFocus(const FocusSnapshotRecord *snapshot);

// ---- The caret of the focused application (physical screen pixels) ----

// The system caret of the thread: GetGUIThreadInfo while it blinks, else GetCaretPos (the caller
// is attached to the thread) when it is not in the top-left corner.
BOOL FindSystemCaret(DWORD thread, HWND focusWindow, POINT *point);
// The caret that the focus window answers through accessibility (OBJID_CARET), its top-left;
// waits at most g_caretQueryWaitMs for a target that may hang; *answered is FALSE when it did not
// answer within that time.
BOOL FindAccessibleCaret(HWND focusWindow, POINT *point, BOOL *answered);
extern DWORD g_caretQueryWaitMs;
// An accessible caret with this location size and state is one: visible, with a height.
BOOL AccessibleCaretUsable(LONG width, LONG height, LONG state);
