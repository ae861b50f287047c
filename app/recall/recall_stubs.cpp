// Placeholder until capture and recall are written.
#include "recall/recall.h"
HWND NextViewer;
FocusSnapshotRecord FocusSnapshot;
BOOL ClipboardOpenRetry(HWND) { return FALSE; }
BOOL ClipboardSetText(HWND, const WCHAR *) { return FALSE; }
WCHAR *ClipboardGetText(HWND) { return nullptr; }
BOOL ClipboardHasText(HWND) { return FALSE; }
void CaptureClipboardText(HWND) {}
void OnDrawClipboard(HWND, WPARAM, LPARAM) {}
void OnChangeCbChain(HWND, WPARAM, LPARAM) {}
void OnClipboardChainTimer(HWND) {}
void OnHookKey(HWND, WPARAM, LPARAM) {}
void OnDoubleTapTimer(HWND) {}
void OnHotKey(HWND, WPARAM) {}
void MakeItemLabel(WCHAR *dest, const WCHAR *, int, int) { dest[0] = 0; }
void ShowPopupMenu(HWND) {}
void PasteChosenEntry(HWND, int) {}
