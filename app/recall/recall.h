// Capture and recall: clipboard, copy-history capture, triggers, popup menu and paste.
#pragma once
#include <windows.h>
#include "recall/label.h"

// Timers and the hotkey of the hub window that recall owns; the hub's router hands their
// messages to OnDoubleTapTimer, OnClipboardChainTimer, OnMenusAheadTimer and OnHotKey.
#define TIMER_DOUBLETAP 2001
#define TIMER_CBCHAIN   2002
#define HOTKEY_MENU     2004
#define TIMER_MENUS_AHEAD 2005

// What the popup operation is doing; written only by recall. Anything but BUSY_NONE keeps a
// second menu, the exit and the tray commands waiting.
#define BUSY_NONE 0           // no popup menu, no paste
#define BUSY_MENU 1           // the menu is open or a registered entry is typed: capture waits
#define BUSY_HISTORY_PASTE 2  // a copy-history entry goes through the clipboard: capture takes it as the newest copy
extern int g_busyState;

// Clipboard access and the clipboard-viewer chain.
extern HWND g_nextViewer;  // the viewer after the hub in the chain; null when it is the last
// Puts the window at the head of the viewer chain and starts the timer that keeps it there.
void JoinViewerChain(HWND window);
// Stops that timer and takes the window out of the chain.
void LeaveViewerChain(HWND window);
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
// A key event forwarded by the hook: Shift, Ctrl or Alt with bits 30 and 31 of the keystroke
// flags, or 0 for the press of another key.
void OnHookKey(HWND window, WPARAM wParam, LPARAM lParam);
// WM_INPUT: the mouse, watched only while the trigger key is held.
void OnRawMouseInput(HWND window, LPARAM lParam);
void OnDoubleTapTimer(HWND window);
void OnHotKey(HWND window, WPARAM wParam);

// Popup menu.
void ShowPopupMenu(HWND owner);
// Under Wine every menu made is a round trip to the window server, and the blocks of thousands of
// entries are hundreds of menus: they are made once the program is idle after its start
// (TIMER_MENUS_AHEAD, routed to OnMenusAheadTimer), so that the first opening is as quick as the rest.
#define MENUS_AHEAD_DELAY_MS 500
void MakeMenusWhenIdle(HWND window);
void OnMenusAheadTimer(HWND window);
// TRUE from the start of ShowPopupMenu to its end, the paste included (g_busyState is not BUSY_NONE).
BOOL PopupOperationRunning();
// Exit was asked: a running popup menu closes and a paste stops typing.
void EndPopupOperation();

// The popup menu's keys and submenus, routed by the hub: a block submenu is filled when it opens;
// a typed character chooses by prefix or opens the find box. FALSE when the menu is not the
// popup menu's (the tray menu's, say), and the message is the hub's own.
BOOL OnPopupMenuOpening(HMENU menu);
BOOL OnPopupMenuChar(WPARAM wParam, LPARAM lParam, LRESULT *result);

// Paste injection.
void PasteChosenEntry(HWND owner, int identifier);
// Posted to the owner when a registered paste stops before its end for a reason the user should
// know of (wParam): the keys would no longer reach what was chosen. An exit asked is not one.
#define WM_PASTE_STOPPED (WM_APP + 14)
#define PASTE_STOP_NONE      0
#define PASTE_STOP_WINDOW    1  // another window in front, or the focus left the field
#define PASTE_STOP_CAPTION   2  // the window's caption names something else (a browser's other tab)
#define PASTE_STOP_KEYS_HELD 3  // Shift, Ctrl, Alt or Win stayed down
// Posted to the hub when something is to be told without a box; wParam: the text's string id.
#define WM_RECALL_NOTICE (WM_APP + 40)
