// Capture and recall: the decisions kept apart from their effects, and the few globals and hooks
// that tests reach directly. The window-message side is declared in recall.h.
#pragma once
#include <windows.h>
#include "recall/recall.h"
#include "state/item_store.h"

// ---- Clipboard and capture ----

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

// ---- Trigger detection ----

struct TapCounterState {
    int KeyDownFlag;     // 1 between a clean press of the trigger key and its release
    int TapCount;        // taps since the last decision, with no other key between them
    int HeldModifiers;   // TAP_HELD_* of Shift, Ctrl and Alt as the forwarded events tell
    HWND Foreground;     // the foreground window when the last event was handled
};
extern TapCounterState g_tapCounter;  // the recogniser of the hub's thread

#define TAP_HELD_SHIFT 1
#define TAP_HELD_CTRL  2
#define TAP_HELD_ALT   4

// What a key event asks of TIMER_DOUBLETAP.
#define TAP_ARM_NONE  0  // leave the timer alone
#define TAP_ARM_FIRST 1  // arm it with the double-click time
#define TAP_ARM_AGAIN 2  // arm it with 1 ms: the decision comes at once

// The double-tap decision.
#define DOUBLETAP_WAIT  0  // busy: keep the count for later
#define DOUBLETAP_OPEN  1  // open the menu, then forget the taps
#define DOUBLETAP_RESET 2  // forget the taps

// VK_SHIFT, VK_CONTROL or VK_MENU for the double-tap modes; 0 for every other mode.
int TriggerKeyOfMode(int menuKeyMode);
// One forwarded key event: vk is VK_SHIFT, VK_CONTROL or VK_MENU (left and right alike) with
// flags bits 30 and 31, or any other code for the press of another key. A chord, a trigger press
// while another modifier is held, another key between taps and a change of the foreground window
// all start over.
int CountTap(TapCounterState *state, int menuKeyMode, WPARAM vk, LPARAM flags, HWND foreground);
// A mouse button went down: a trigger held at the time makes no tap.
void CountMouseClick(TapCounterState *state);
// TRUE while a click would spoil a tap, that is, while the mouse is worth watching.
BOOL TapWantsMouse(const TapCounterState *state);
int DecideDoubleTap(const TapCounterState *state, int busyFlag);
BOOL HotKeyOpensMenu(WPARAM hotkeyId, int menuKeyMode);

// ---- Popup menu ----

#define MENU_ITEM_ENTRY       0  // an entry; its id is the command
#define MENU_ITEM_SUBMENU     1  // a block or the registered-data submenu; opens menu `submenu`
#define MENU_ITEM_PLACEHOLDER 2  // the grey "(コピー履歴なし)"
#define MENU_ITEM_SEPARATOR   3

// A menu label with every "&" doubled, so that it shows as typed and gives no access key.
#define MENU_LABEL_CHARS (2 * ITEM_LABEL_CHARS)

struct MenuLayoutItem {
    int type;
    int menu;     // index of the menu the item is appended to; 0 is the root
    int submenu;  // MENU_ITEM_SUBMENU: index of the menu it opens, created with the item
    ItemId id;    // MENU_ITEM_ENTRY: the entry; 0 otherwise
    WCHAR label[MENU_LABEL_CHARS];
};

// The whole menu in the order in which its items are created.
struct MenuLayout {
    MenuLayoutItem *items;  // process heap
    int count;
    int menuCount;  // root included
};

// Lays out both lists of the store; wrapCount and itemChars are brought into their ranges here.
BOOL LayOutPopupMenu(int wrapCount, int itemChars, MenuLayout *layout);
void FreeMenuLayout(MenuLayout *layout);
void EscapeMenuLabel(WCHAR *dest, const WCHAR *label);  // dest: MENU_LABEL_CHARS

// The menus of a layout: the root is filled when it is made, each submenu when it opens
// (WM_INITMENUPOPUP), so that a menu of thousands of entries opens at once. The empty menus are
// kept from one opening to the next: under Wine making or destroying a menu is a round trip to
// the window server, and the blocks of 5,000 entries are 500 menus.
struct MenuHandles {
    HMENU *menus;  // [0] the root; the first `count` serve the open layout, all are empty otherwise
    BOOL *filled;
    int count;     // menus of the open layout; 0 while none is open
    int room;      // menus made so far
};
void InitMenuHandles(MenuHandles *handles);
// The root with its items and its submenus still empty; null when the menus cannot be had.
HMENU CreateMenuFromLayout(const MenuLayout *layout, MenuHandles *handles);
// Fills the menu when it is one of the layout's and still empty; FALSE when it is none of them.
BOOL FillMenuFromLayout(const MenuLayout *layout, MenuHandles *handles, HMENU menu);
// Empties the layout's menus and keeps them for the next one.
void ReleaseLayoutMenus(MenuHandles *handles);
// Empties and destroys them all.
void FreeMenuHandles(MenuHandles *handles);

// What a character typed in the open menu does (WM_MENUCHAR); labels are those of the open
// menu's items, null for a separator.
#define MENU_CHAR_IGNORE 0  // a control character
#define MENU_CHAR_CHOOSE 1  // the item at *index carries it as its prefix
#define MENU_CHAR_FIND   2  // the menu closes and the find box opens with it
int DecideMenuChar(WCHAR ch, const WCHAR *const *labels, int count, int *index);

// The find box, run inside the popup operation: at the point, with the first character typed
// (0 for none). Returns the chosen entry, or 0; the foreground is the owner again after Enter
// and Esc, as after the menu.
ItemId RunFindBox(HWND owner, POINT at, WCHAR firstChar);

void TakeFocusSnapshot(FocusSnapshotRecord *snapshot);
// The point moved onto the monitor's rectangle (right and bottom edges excluded).
POINT KeepPointOnMonitor(POINT point, const RECT *monitor);

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
// attach: the foreground thread is taken to answer; a hung one would hold this thread in the
// activation messages that attached threads send each other.
void ForceForeground(HWND window, BOOL attach);
void RestoreFocus(const FocusSnapshotRecord *snapshot);

// ---- Paste injection ----

// Every synthesized key goes through here; tests put a recorder in its place.
typedef UINT(WINAPI *SendInputFunction)(UINT count, LPINPUT inputs, int size);
extern SendInputFunction g_sendInputRoute;

void TypeRegisteredEntry(HWND owner, ItemId id);

// Whether a synthesized key may go now: the foreground window is still the one recorded when the
// menu opened and, before the first key, so is the focus; after a Tab the focus may have moved,
// but only within that window (focusInForeground).
BOOL KeyMayGo(HWND recordedForeground, HWND recordedFocus, HWND foregroundNow, HWND focusNow, BOOL focusInForeground,
              BOOL firstKey);
void SendCtrlV();
void SendTab();

// One step through a registered text at *position.
#define TYPE_STEP_END  0  // nothing left: paste the line as the last one
#define TYPE_STEP_CHAR 1  // the character joined the line: pause
#define TYPE_STEP_LINE 2  // a CR ended the line (terminated in `line`): paste it, Tab, empty it, pause
int TakeTypingStep(const WCHAR *source, int length, int *position, WCHAR *line, int *lineLength);

// Set when the typing must stop (exit asked, WM_QUIT seen); cleared when a popup operation starts.
extern BOOL g_pasteStopRequested;
void StopTyping();
// Handles this thread's messages for the time, or until *done (when given) turns TRUE. A WM_QUIT
// is posted again; FALSE when the typing must stop.
BOOL WaitPumping(DWORD milliseconds, const BOOL *done);

// ---- Paste injection: the typed lines on the clipboard ----

#define LINE_TAKE_WAIT_MS 1000  // how long a typed line waits for the target to read it
// How long the last typed line may stay on the clipboard after its Ctrl+V when the target was not
// seen reading it (another clipboard program read it first, so the target's read raised no render
// request, or nobody read it). A loaded target may take a second or two to handle its Ctrl+V, and
// a line put away earlier would make it paste the old content; a password left longer is found by
// whoever looks. A line the target was seen reading goes as soon as the target lets go.
#define LINE_UNSEEN_KEEP_MS 3000
// Other clipboard programs read each change as it is made; a Ctrl+V that reaches the target while
// one of them holds the clipboard open pastes nothing. A line's keys go once the clipboard has
// been free this long after the line went on it, or once this much longer has passed.
#define CLIPBOARD_SETTLE_MS 30
#define CLIPBOARD_SETTLE_MAX_MS 300

// The line on the clipboard, announced by delayed rendering.
struct LineOffer {
    WCHAR *text;          // handed over on request (process heap); null when no line is on offer
    DWORD targetThread;   // the thread typed into; 0 when unknown, and then every reader counts
    BOOL rendered;        // the text went to some reader
    BOOL taken;           // the text went to the target
    DWORD sequence;       // the clipboard's sequence number while it holds the line
    BOOL pasted;          // its Ctrl+V went out
    DWORD pastedAt;       // tick count of that Ctrl+V
};
extern LineOffer g_offeredLine;

BOOL ReaderIsTarget(DWORD readerThread, DWORD targetThread);
// TRUE when nobody holds the clipboard open at this moment.
BOOL ClipboardIsFree();
// Returns once the clipboard programs that read a new clipboard content are done with it (see
// CLIPBOARD_SETTLE_MS); FALSE when the typing must stop.
BOOL WaitForClipboardReaders();
// Empties the clipboard and announces the line, marked as not to be recorded.
BOOL OfferLineOnClipboard(const WCHAR *line, DWORD targetThread);

// The user's clipboard from before a registered paste, in the formats that users copy and that
// live in global memory: text, picture, file list, HTML and RTF. Nothing else is asked for:
// asking makes some programs render every format they offer, which can take them long.
#define SAVED_FORMAT_CAP  ((SIZE_T)16 * 1024 * 1024)  // bytes of one format; a larger one is dropped
#define SAVED_TOTAL_CAP   ((SIZE_T)64 * 1024 * 1024)  // bytes of all of them together
#define SAVED_FORMAT_MAX  5
struct SavedClipboard {
    int count;
    UINT formats[SAVED_FORMAT_MAX];
    HGLOBAL blocks[SAVED_FORMAT_MAX];  // copies of this program's own
};
// Whether a format of `size` bytes is kept when `keptSoFar` bytes are kept already.
BOOL KeepsSavedFormat(SIZE_T size, SIZE_T keptSoFar);
// Takes copies of what the clipboard holds; an empty record when it holds none of those formats.
void SaveClipboard(HWND owner, SavedClipboard *saved);
void FreeSavedClipboard(SavedClipboard *saved);
// Before a line goes on the clipboard: unless it still holds the line before, the user's content
// there (from before the paste, or copied while it runs) is recorded as a copy and becomes what
// comes back when the paste ends.
void TakeUsersClipboard(HWND owner, SavedClipboard *earlier);

// What becomes of the clipboard when a registered paste ends.
#define AFTER_PASTE_LEAVE   0  // it changed since the last line went on: leave it
#define AFTER_PASTE_WAIT    1  // the target may not have read the last line yet: keep it a while
#define AFTER_PASTE_RESTORE 2  // put the user's earlier content back
#define AFTER_PASTE_EMPTY   3  // the user had nothing to put back: empty it
// waitForTarget: the last line's Ctrl+V went out and the paste was not stopped by an exit;
// sincePasted: ms since that Ctrl+V.
int DecideClipboardAfterPaste(BOOL stillTavosLine, BOOL lineTaken, BOOL waitForTarget, DWORD sincePasted, BOOL hadContent);
// Waits for the target while the decision says so, then restores `earlier` (or empties the
// clipboard); `earlier` is handed over or freed.
void FinishPasteClipboard(SavedClipboard *earlier);
