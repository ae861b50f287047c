// The paste room: the chosen entry typed into the application that had the focus. paste.cpp
// sends the keys and decides whether each may go; paste_clipboard.cpp offers the typed lines on the
// clipboard and gives the user's clipboard back afterwards.
#pragma once
#include <windows.h>
#include "recall/recall.h"
#include "state/item_store.h"

// Every synthesized key goes through here; tests put a recorder in its place.
typedef UINT(WINAPI *SendInputFunction)(UINT count, LPINPUT inputs, int size);
extern SendInputFunction g_sendInputRoute;

void TypeRegisteredEntry(HWND owner, ItemId id);

// Whether a synthesized key may go now: the foreground window is still the one recorded when the
// menu opened and, before the first key, so is the focus; after a Tab the focus may have moved,
// but only within that window (focusInForeground).
BOOL DecideKeyMayGo(HWND recordedForeground, HWND recordedFocus, HWND foregroundNow, HWND focusNow,
                    BOOL focusInForeground, BOOL firstKey);
// Before the first key, waits up to FIRST_KEY_SETTLE_MS (pumping) for the recorded window and
// focus; any later key checks once. FALSE when the key must not go.
BOOL WaitUntilKeyMayGo(BOOL firstKey);
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


// ---- The typed lines on the clipboard ----

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
