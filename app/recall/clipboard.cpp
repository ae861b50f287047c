// The clipboard as the rest of the program uses it (CF_UNICODETEXT only), the copy-history
// capture, and the hub's place at the head of the clipboard-viewer chain.
#include "recall/clipboard.h"
#include "state/item_store.h"
#include "recall/paste_guard.h"
#include "recall/app_decide.h"
#include "state/ini_data.h"
#include "state/wiped_memory.h"

HWND g_nextViewer;

// Opening is retried for as long as the old 100 pauses of 100 ms took, but the first pauses are
// short: a program that holds the clipboard usually lets go within a few milliseconds, and the
// next copy of a burst may replace the text soon after.
#define OPEN_RETRY_BUDGET_MS  10000
#define OPEN_QUICK_ATTEMPTS   20   // failed attempts followed by a pause of 1 ms
#define OPEN_LONGEST_PAUSE_MS 100

// A send to another program's window waits no longer than this, and not at all for a hung one.
#define OTHER_WINDOW_SEND_MS 1000

LRESULT SendMessageBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    // SMTO_NORMAL, not SMTO_BLOCK: the other window may send to this thread while it answers
    // (it asks the owner to render, or leaves the chain), and that must not wait for the time-out.
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG, OTHER_WINDOW_SEND_MS, &result);
    return (LRESULT)result;
}

DWORD OpenPauseAfter(int failedAttempts)
{
    if (failedAttempts <= OPEN_QUICK_ATTEMPTS)
        return 1;
    int doublings = failedAttempts - OPEN_QUICK_ATTEMPTS;
    return doublings >= 7 ? OPEN_LONGEST_PAUSE_MS : (DWORD)1 << doublings;
}

// Handles what is in this thread's queue. FALSE when WM_QUIT came: it is posted again for the
// main loop, and the caller stops waiting.
static BOOL HandleQueuedMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage((int)msg.wParam);
            return FALSE;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return TRUE;
}

// One pause that handles messages: it ends when the time is up or when a message came. One wait
// rather than a loop on GetTickCount, whose steps of about 16 ms on Windows would stretch a
// pause of 1 ms to the next step.
static BOOL PauseHandlingMessages(DWORD milliseconds)
{
    if (!HandleQueuedMessages())
        return FALSE;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds, QS_ALLINPUT);
    return HandleQueuedMessages();
}

// The wait pumps: this thread is the target of the keyboard hook and must keep reading its queue.
// Whatever it dispatches may use the clipboard too; the clipboard is never open across the pump.
BOOL ClipboardOpenRetry(HWND owner)
{
    DWORD start = GetTickCount();
    for (int failed = 1;; failed++) {
        if (OpenClipboard(owner))
            return TRUE;
        // An owner destroyed by a message handled in the wait never opens it.
        if (owner && !IsWindow(owner))
            return FALSE;
        DWORD spent = GetTickCount() - start;
        if (spent >= OPEN_RETRY_BUDGET_MS)
            return FALSE;
        DWORD left = OPEN_RETRY_BUDGET_MS - spent;
        DWORD pause = OpenPauseAfter(failed);
        if (!PauseHandlingMessages(pause < left ? pause : left))
            return FALSE;
    }
}

HGLOBAL MakeTextBlock(const WCHAR *text)
{
    int length = text ? lstrlenW(text) : 0;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 2 * length + 2);
    if (!block)
        return nullptr;
    WCHAR *chars = (WCHAR *)GlobalLock(block);
    if (!chars) {
        GlobalFree(block);
        return nullptr;
    }
    if (length > 0)
        CopyMemory(chars, text, 2 * length);
    GlobalUnlock(block);
    return block;
}

static HGLOBAL MakeDwordBlock(DWORD value)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DWORD));
    DWORD *data = block ? (DWORD *)GlobalLock(block) : nullptr;
    if (!data) {
        if (block)
            GlobalFree(block);
        return nullptr;
    }
    *data = value;
    GlobalUnlock(block);
    return block;
}

// Places one extra format; the clipboard owns the block once it is placed.
void PlaceDwordFormat(const WCHAR *formatName, DWORD value)
{
    UINT format = RegisterClipboardFormatW(formatName);
    HGLOBAL block = format ? MakeDwordBlock(value) : nullptr;
    if (block && !SetClipboardData(format, block))
        GlobalFree(block);
}

// Each clipboard program honours its own marker, some only "Clipboard Viewer Ignore": all four go.
void PlacePrivacyMarkers()
{
    PlaceDwordFormat(CF_NAME_EXCLUDE_MONITOR, 0);
    PlaceDwordFormat(CF_NAME_VIEWER_IGNORE, 0);
    PlaceDwordFormat(CF_NAME_IN_HISTORY, 0);
    PlaceDwordFormat(CF_NAME_UPLOAD_TO_CLOUD, 0);
}

static BOOL PlaceText(HWND owner, const WCHAR *text, BOOL markPrivate)
{
    HGLOBAL block = MakeTextBlock(text);
    if (!block)
        return FALSE;
    if (!ClipboardOpenRetry(owner)) {
        GlobalFree(block);
        return FALSE;
    }
    if (!EmptyClipboard() || !SetClipboardData(CF_UNICODETEXT, block)) {
        GlobalFree(block);
        CloseClipboard();
        return FALSE;
    }
    if (markPrivate)
        PlacePrivacyMarkers();
    CloseClipboard();
    return TRUE;
}

BOOL ClipboardSetText(HWND owner, const WCHAR *text)
{
    return PlaceText(owner, text, FALSE);
}

BOOL ClipboardSetPrivateText(HWND owner, const WCHAR *text)
{
    return PlaceText(owner, text, TRUE);
}

int ClipboardTextLength(const WCHAR *chars, SIZE_T room)
{
    SIZE_T limit = room < (SIZE_T)CLIPBOARD_TEXT_CAP + 1 ? room : (SIZE_T)CLIPBOARD_TEXT_CAP + 1;
    SIZE_T length = 0;
    while (length < limit && chars[length])
        length++;
    return length > CLIPBOARD_TEXT_CAP ? -1 : (int)length;
}

// The text of the open clipboard as a new block; null for no text, an empty one, one above
// the cap, or no memory for the copy.
static WCHAR *CopyTextWhileOpen()
{
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (!data)
        return nullptr;
    const WCHAR *chars = (const WCHAR *)GlobalLock(data);
    if (!chars)
        return nullptr;
    // A block without a terminator is read no further than its own size.
    int length = ClipboardTextLength(chars, GlobalSize(data) / sizeof(WCHAR));
    WCHAR *copy = nullptr;
    if (length > 0) {
        copy = (WCHAR *)GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 2 * (SIZE_T)length + 2);
        if (copy)
            CopyMemory(copy, chars, 2 * (SIZE_T)length);
    }
    GlobalUnlock(data);
    return copy;
}

WCHAR *ClipboardGetText(HWND owner)
{
    if (!IsClipboardFormatAvailable(CF_UNICODETEXT))
        return nullptr;
    if (!ClipboardOpenRetry(owner))
        return nullptr;
    WCHAR *copy = CopyTextWhileOpen();
    CloseClipboard();
    return copy;
}

// Asked without opening the clipboard: the editor asks on every change of its selection, and an
// open would wait for any program that holds the clipboard and handle messages meanwhile.
BOOL ClipboardHasText(HWND owner)
{
    UNREFERENCED_PARAMETER(owner);
    return IsClipboardFormatAvailable(CF_UNICODETEXT);
}

// Registered once per process; the platform gives the same number for a name every time.
static UINT FormatOf(const WCHAR *name, UINT *cached)
{
    if (*cached == 0)
        *cached = RegisterClipboardFormatW(name);
    return *cached;
}

static BOOL MarkedPrivateWhileOpen()
{
    static UINT excludeFormat, ignoreFormat, inHistoryFormat;
    if (IsClipboardFormatAvailable(FormatOf(CF_NAME_EXCLUDE_MONITOR, &excludeFormat)) ||
        IsClipboardFormatAvailable(FormatOf(CF_NAME_VIEWER_IGNORE, &ignoreFormat)))
        return TRUE;
    UINT inHistory = FormatOf(CF_NAME_IN_HISTORY, &inHistoryFormat);
    if (!IsClipboardFormatAvailable(inHistory))
        return FALSE;
    BOOL marked = FALSE;
    HANDLE data = GetClipboardData(inHistory);
    const BYTE *bytes = data ? (const BYTE *)GlobalLock(data) : nullptr;
    if (bytes) {
        DWORD value = 1;
        if (GlobalSize(data) >= sizeof(DWORD))
            CopyMemory(&value, bytes, sizeof(DWORD));
        marked = value == 0;
        GlobalUnlock(data);
    }
    return marked;
}

BOOL ClipboardMarkedPrivate(HWND owner)
{
    // Unread, the markers count as set: a text that may be a password is not kept on a guess.
    if (!ClipboardOpenRetry(owner))
        return TRUE;
    BOOL marked = MarkedPrivateWhileOpen();
    CloseClipboard();
    return marked;
}

// Texts are equal when their code units are: a linguistic comparison would take texts that
// differ only in ignorable characters (soft hyphen, zero-width marks) for one and drop the older.
static BOOL SameText(const WCHAR *a, const WCHAR *b)
{
    while (*a && *a == *b) {
        a++;
        b++;
    }
    return *a == *b;
}

void AddHistoryText(const WCHAR *text, int historyMax)
{
    if (!text || !text[0])
        return;
    // One walk finds the oldest equal entry and counts the history on the way.
    ItemId equalId = 0;
    int historyCount = 0;
    const ItemMap &items = ItemStore::Items();
    for (ItemMap::const_iterator it = items.begin(); it != items.end(); ++it) {
        if (it->second.kind != History)
            continue;
        historyCount++;
        if (equalId == 0 && it->second.text && SameText(it->second.text, text))
            equalId = it->first;
    }
    // The new entry comes first: when there is no memory for it, the older copy is still there.
    ItemId added = ItemStore::Insert(History, nullptr, text);
    const Item *item = added > 0 ? ItemStore::Find(added) : nullptr;
    if (!item || !item->text) {
        // A copy the store could not make is not kept.
        if (item)
            ItemStore::Erase(added);
        return;
    }
    historyCount++;
    if (equalId > 0) {
        ItemStore::Erase(equalId);
        historyCount--;
    }
    if (historyCount > historyMax) {
        ItemStore::EraseOldestHistory();
        historyCount--;
    }
    // The newest stays even alone: no text over CLIPBOARD_TEXT_CAP is ever captured.
    while (ItemStore::HistoryUnits() > HISTORY_UNITS_MAX && historyCount-- > 1)
        ItemStore::EraseOldestHistory();
}

// The clipboard change that capture last looked at; a second notification of the same change
// (a burst read late) leaves the entry where it is instead of moving it under a new id.
static DWORD g_capturedSequence;

// With the clipboard open: records its text unless it changed since `sequence` (a newer change
// has a notification of its own), was looked at already, carries a marker, or is too long.
// Markers and text are read in one opening, so a marked text can never pass for an unmarked one.
// `afterwards`: the look once a popup operation has let the clipboard be, when whatever this
// program put there itself (a restored clipboard, a typed line) is no copy of the user's.
static void CaptureWhileOpen(DWORD sequence, BOOL afterwards)
{
    WCHAR *text = nullptr;
    // A menu or paste started by a message handled while the capture waited holds entries: the
    // store stays as it is for them.
    BOOL look = (afterwards || g_busyState != BUSY_MENU) && GetClipboardSequenceNumber() == sequence &&
                (sequence == 0 || sequence != g_capturedSequence);
    if (look) {
        g_capturedSequence = sequence;
        HWND clipboardOwner = afterwards ? GetClipboardOwner() : nullptr;
        DWORD ownerProcess = 0;
        if (clipboardOwner)
            GetWindowThreadProcessId(clipboardOwner, &ownerProcess);
        if (ownerProcess != GetCurrentProcessId() && !MarkedPrivateWhileOpen() && CopyMayBeRecordedNow())
            text = CopyTextWhileOpen();
        // A typed line that another program put back without the markers is no copy of the user's.
        if (text && IsRecentTypedLine(&g_typedLines, text, lstrlenW(text), GetTickCount())) {
            GlobalFreeWiped(text);
            text = nullptr;
        }
    }
    CloseClipboard();
    if (text) {
        AddHistoryText(text, g_ini.historyMax);
        GlobalFree(text);
    }
}

static void CaptureWithRetry(HWND owner, DWORD sequence)
{
    if (ClipboardOpenRetry(owner))
        CaptureWhileOpen(sequence, FALSE);
}

void CaptureClipboardText(HWND owner)
{
    CaptureWithRetry(owner, GetClipboardSequenceNumber());
}

void CaptureChangeMadeMeanwhile(HWND owner)
{
    if (ClipboardOpenRetry(owner))
        CaptureWhileOpen(GetClipboardSequenceNumber(), TRUE);
}

static BOOL g_captureRunning;  // a capture of the hub runs further up the stack
static BOOL g_captureAgain;    // a change came while it waited for the clipboard

static void ForwardToNextViewer(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (g_nextViewer && g_nextViewer != window)
        SendMessageBounded(g_nextViewer, message, wParam, lParam);
}

// The notification always goes on along the chain; only the capture waits for g_busyState (a change
// made meanwhile is looked at when the popup operation ends: CaptureChangeMadeMeanwhile). The
// text is read before the notification is passed on, since the next copy of a burst may replace
// it while the next viewer works. The waits pump messages and may bring this notification again:
// the running capture then looks once more when it is done, instead of a second one starting
// inside it.
void OnDrawClipboard(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (g_busyState == BUSY_MENU || g_captureRunning) {
        if (g_busyState != BUSY_MENU)
            g_captureAgain = TRUE;
        ForwardToNextViewer(window, WM_DRAWCLIPBOARD, wParam, lParam);
        return;
    }
    g_captureRunning = TRUE;
    g_captureAgain = FALSE;
    DWORD sequence = GetClipboardSequenceNumber();
    BOOL opened = OpenClipboard(window);
    if (opened)
        CaptureWhileOpen(sequence, FALSE);
    ForwardToNextViewer(window, WM_DRAWCLIPBOARD, wParam, lParam);
    if (!opened)
        CaptureWithRetry(window, sequence);
    while (g_captureAgain && IsWindow(window)) {
        g_captureAgain = FALSE;
        CaptureWithRetry(window, GetClipboardSequenceNumber());
    }
    g_captureRunning = FALSE;
}

void OnChangeCbChain(HWND window, WPARAM wParam, LPARAM lParam)
{
    if ((HWND)wParam == g_nextViewer)
        g_nextViewer = (HWND)lParam;
    else
        ForwardToNextViewer(window, WM_CHANGECBCHAIN, wParam, lParam);
}

void JoinViewerChain(HWND window)
{
    g_nextViewer = SetClipboardViewer(window);
    SetTimer(window, TIMER_CBCHAIN, 3000, nullptr);
}

void LeaveViewerChain(HWND window)
{
    KillTimer(window, TIMER_CBCHAIN);
    ChangeClipboardChain(window, g_nextViewer);
}

void OnClipboardChainTimer(HWND window)
{
    if (GetClipboardViewer() == window)
        return;
    ChangeClipboardChain(window, g_nextViewer);
    g_nextViewer = SetClipboardViewer(window);
}
