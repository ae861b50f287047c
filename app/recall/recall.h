// Capture and recall: clipboard, copy-history capture, triggers, popup menu and paste.
#pragma once
#include <windows.h>

// Clipboard access and the clipboard-viewer chain.
extern HWND NextViewer;
// Longest text, in UTF-16 units, that is read off the clipboard (1 MiB of text); a longer one is
// not captured.
#define CLIPBOARD_TEXT_CAP 1048576
// TRUE once the clipboard is open (the caller closes it); FALSE after about 10 s of retries, when
// the owner window is gone, or when WM_QUIT came. Pumps this thread's messages while it waits.
BOOL ClipboardOpenRetry(HWND owner);
BOOL ClipboardSetText(HWND owner, const WCHAR *text);
WCHAR *ClipboardGetText(HWND owner);  // null above CLIPBOARD_TEXT_CAP; GlobalFree the result
BOOL ClipboardHasText(HWND owner);
void CaptureClipboardText(HWND owner);
void OnDrawClipboard(HWND window, WPARAM wParam, LPARAM lParam);
void OnChangeCbChain(HWND window, WPARAM wParam, LPARAM lParam);
void OnClipboardChainTimer(HWND window);

// Trigger detection.
void OnHookKey(HWND window, WPARAM wParam, LPARAM lParam);
void OnDoubleTapTimer(HWND window);
void OnHotKey(HWND window, WPARAM wParam);

// Popup menu.
struct FocusSnapshotRecord {
    HWND foregroundWindow;
    HWND focusWindow;
    POINT menuPoint;
};
extern FocusSnapshotRecord FocusSnapshot;  // all zero while no popup operation runs
#define ITEM_LABEL_CHARS 60                // room of every label buffer
void MakeItemLabel(WCHAR *dest, const WCHAR *text, int prefixIndex, int maxChars);
void ShowPopupMenu(HWND owner);
// TRUE from the start of ShowPopupMenu to its end, the paste included.
BOOL PopupOperationRunning();
// Exit was asked: a running popup menu closes and a paste stops typing.
void EndPopupOperation();

// Paste injection.
void PasteChosenEntry(HWND owner, int identifier);
