// The clipboard room: access with retries, the "do not record" markers, and capture into the
// copy history. The window-message side (the viewer chain) is declared in recall.h.
#pragma once
#include <windows.h>
#include "recall/recall.h"

// The clipboard formats that ask clipboard watchers to keep a text to themselves.
#define CF_NAME_EXCLUDE_MONITOR  L"ExcludeClipboardContentFromMonitorProcessing"
#define CF_NAME_VIEWER_IGNORE    L"Clipboard Viewer Ignore"
#define CF_NAME_IN_HISTORY       L"CanIncludeInClipboardHistory"
#define CF_NAME_UPLOAD_TO_CLOUD  L"CanUploadToCloudClipboard"

// SendMessage to another program's window: at most 1 s, and not at all when that window is hung.
LRESULT SendMessageBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The pause in ms after the given number of failed opens: 1 ms at first, then doubling to 100 ms.
DWORD OpenPauseAfter(int failedAttempts);
// Length of the text in a clipboard block of `room` units, stopping at the block's end when it
// has no terminator; -1 when it is longer than CLIPBOARD_TEXT_CAP.
int ClipboardTextLength(const WCHAR *chars, SIZE_T room);
// TRUE when the clipboard carries a "do not record" marker (or cannot be read to find out).
BOOL ClipboardMarkedPrivate(HWND owner);
// ClipboardSetText that also marks the text as not to be recorded, kept in history or uploaded.
BOOL ClipboardSetPrivateText(HWND owner, const WCHAR *text);
// A movable block holding the text and its terminator; null when there is no memory.
HGLOBAL MakeTextBlock(const WCHAR *text);
// With the clipboard open: one extra format holding a DWORD.
void PlaceDwordFormat(const WCHAR *formatName, DWORD value);
// With the clipboard open: all four "do not record" markers.
void PlacePrivacyMarkers();
// Once a popup operation has ended: a change made while it ran is captured unless it carries a
// marker or one of this program's windows owns it. Only the last of several such changes is there.
void CaptureChangeMadeMeanwhile(HWND owner);
// The store side of a capture: the text becomes the newest History entry, an equal older one
// goes, and one oldest entry goes when the history is over its limit.
void AddHistoryText(const WCHAR *text, int historyMax);
