// The clipboard side of a registered paste. Each typed line goes on the clipboard by delayed
// rendering: only the format is announced, and the text is handed over when a program asks for
// it. That request tells the paste that the target has read the line, so the next line never
// replaces it too early. A message-only window of the typing thread owns these lines; when the
// paste ends it puts the user's earlier clipboard back, so that a typed password does not stay there.
#include "recall/paste.h"
#include "recall/clipboard.h"
#include "recall/paste_guard.h"
#include "state/wiped_memory.h"

LineOffer g_offeredLine;

static HWND g_lineOwnerWindow;  // created on first use, lives as long as the thread
static const WCHAR LineOwnerClassName[] = L"tavoPasteLineClass";

BOOL ReaderIsTarget(DWORD readerThread, DWORD targetThread)
{
    // The target reads on the thread of its focused window; other readers (clipboard watchers)
    // get the text too but say nothing about the target. A reader that opened the clipboard
    // without a window cannot be told apart: it counts.
    return targetThread == 0 || readerThread == 0 || readerThread == targetThread;
}

int DecideClipboardAfterPaste(BOOL stillTavosLine, BOOL lineTaken, BOOL waitForTarget, DWORD sincePasted, BOOL hadContent)
{
    if (!stillTavosLine)
        return AFTER_PASTE_LEAVE;
    // Unseen, the target may still be reading: it keeps the line for a while, never for good.
    if (!lineTaken && waitForTarget && sincePasted < LINE_UNSEEN_KEEP_MS)
        return AFTER_PASTE_WAIT;
    return hadContent ? AFTER_PASTE_RESTORE : AFTER_PASTE_EMPTY;
}

// With the clipboard open: the text of the offered line, for whoever asked.
static BOOL RenderOfferedLine()
{
    HGLOBAL block = MakeTextBlock(g_offeredLine.text);
    if (!block)
        return FALSE;
    if (!SetClipboardData(CF_UNICODETEXT, block)) {
        GlobalFree(block);
        return FALSE;
    }
    g_offeredLine.rendered = TRUE;
    g_offeredLine.sequence = GetClipboardSequenceNumber();
    return TRUE;
}

// The offered text is a copy of its own: the typing reuses its line buffer at once.
static void KeepOfferedText(const WCHAR *text)
{
    HANDLE heap = GetProcessHeap();
    HeapFreeWiped(g_offeredLine.text);
    g_offeredLine.text = nullptr;
    if (!text)
        return;
    int length = lstrlenW(text);
    g_offeredLine.text = (WCHAR *)HeapAlloc(heap, HEAP_ZERO_MEMORY, 2 * length + 2);
    if (g_offeredLine.text)
        CopyMemory(g_offeredLine.text, text, 2 * length);
}

static void OnRenderFormat(UINT format)
{
    if (format != CF_UNICODETEXT || !g_offeredLine.text)
        return;
    // The reader holds the clipboard open while it waits for this answer.
    HWND reader = GetOpenClipboardWindow();
    DWORD readerThread = reader ? GetWindowThreadProcessId(reader, nullptr) : 0;
    if (RenderOfferedLine() && ReaderIsTarget(readerThread, g_offeredLine.targetThread))
        g_offeredLine.taken = TRUE;
}

static LRESULT CALLBACK LineOwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_RENDERFORMAT:
        OnRenderFormat((UINT)wParam);
        return 0;
    case WM_RENDERALLFORMATS:
        // Nothing is rendered for a clipboard that outlives this window: the line is not left behind.
        return 0;
    case WM_DESTROYCLIPBOARD:
        KeepOfferedText(nullptr);  // the clipboard was emptied: the line is off it
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

static HWND EnsureLineOwnerWindow()
{
    if (g_lineOwnerWindow && IsWindow(g_lineOwnerWindow))
        return g_lineOwnerWindow;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = LineOwnerProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = LineOwnerClassName;
    RegisterClassW(&windowClass);  // fails harmlessly when it is already registered
    g_lineOwnerWindow = CreateWindowExW(0, LineOwnerClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      windowClass.hInstance, nullptr);
    return g_lineOwnerWindow;
}

BOOL ClipboardIsFree()
{
    if (GetOpenClipboardWindow() != nullptr)
        return FALSE;
    // A reader may hold it open for no window: only opening it tells.
    HWND owner = EnsureLineOwnerWindow();
    if (!owner || !OpenClipboard(owner))
        return FALSE;
    CloseClipboard();
    return TRUE;
}

BOOL OfferLineOnClipboard(const WCHAR *line, DWORD targetThread)
{
    KeepOfferedText(nullptr);
    g_offeredLine.rendered = g_offeredLine.taken = g_offeredLine.pasted = FALSE;
    g_offeredLine.targetThread = targetThread;
    HWND owner = EnsureLineOwnerWindow();
    if (!owner || !ClipboardOpenRetry(owner))
        return FALSE;
    BOOL placed = EmptyClipboard();
    if (placed) {
        KeepOfferedText(line);
        SetClipboardData(CF_UNICODETEXT, nullptr);  // announced only; its result is null either way
        PlacePrivacyMarkers();
    }
    CloseClipboard();
    g_offeredLine.sequence = GetClipboardSequenceNumber();
    return placed;
}

BOOL KeepsSavedFormat(SIZE_T size, SIZE_T keptSoFar)
{
    return size > 0 && size <= SAVED_FORMAT_CAP && keptSoFar + size <= SAVED_TOTAL_CAP;
}

// With the clipboard open: a copy of one format, within the caps.
static void SaveFormat(UINT format, SavedClipboard *saved, SIZE_T *kept)
{
    if (!format || !IsClipboardFormatAvailable(format))
        return;
    HANDLE data = GetClipboardData(format);
    SIZE_T size = data ? GlobalSize(data) : 0;
    if (!KeepsSavedFormat(size, *kept))
        return;
    const BYTE *bytes = (const BYTE *)GlobalLock(data);
    HGLOBAL copy = bytes ? GlobalAlloc(GMEM_MOVEABLE, size) : nullptr;
    BYTE *target = copy ? (BYTE *)GlobalLock(copy) : nullptr;
    if (target) {
        CopyMemory(target, bytes, size);
        GlobalUnlock(copy);
        saved->formats[saved->count] = format;
        saved->blocks[saved->count++] = copy;
        *kept += size;
    } else if (copy) {
        GlobalFree(copy);
    }
    if (bytes)
        GlobalUnlock(data);
}

void SaveClipboard(HWND owner, SavedClipboard *saved)
{
    ZeroMemory(saved, sizeof(*saved));
    if (!ClipboardOpenRetry(owner))
        return;
    SIZE_T kept = 0;
    SaveFormat(CF_UNICODETEXT, saved, &kept);
    // The system makes CF_DIB and CF_BITMAP from CF_DIBV5 when a program asks for them.
    SaveFormat(IsClipboardFormatAvailable(CF_DIBV5) ? CF_DIBV5 : CF_DIB, saved, &kept);
    SaveFormat(CF_HDROP, saved, &kept);
    SaveFormat(RegisterClipboardFormatW(L"HTML Format"), saved, &kept);
    SaveFormat(RegisterClipboardFormatW(L"Rich Text Format"), saved, &kept);
    CloseClipboard();
}

void FreeSavedClipboard(SavedClipboard *saved)
{
    for (int i = 0; i < saved->count; i++)
        if (saved->blocks[i])
            GlobalFree(saved->blocks[i]);
    ZeroMemory(saved, sizeof(*saved));
}

// With the clipboard open and emptied: the saved formats, handed over to the clipboard, marked so
// that no clipboard program takes the user's own content for a new copy.
static void PlaceSavedClipboard(SavedClipboard *saved)
{
    BOOL placed = FALSE;
    for (int i = 0; i < saved->count; i++) {
        if (SetClipboardData(saved->formats[i], saved->blocks[i])) {
            saved->blocks[i] = nullptr;
            placed = TRUE;
        }
    }
    if (placed)
        PlacePrivacyMarkers();
}

// The line owner window owns the clipboard and nothing changed it since the last line went on,
// whether or not that line's text is still kept for a request.
static BOOL StillTavosLine(HWND owner)
{
    return g_offeredLine.sequence != 0 && GetClipboardOwner() == owner &&
           GetClipboardSequenceNumber() == g_offeredLine.sequence;
}

// With the clipboard open: its text is a line of this paste that another program put back without
// the markers (the clipboard sharing of Remote Desktop or a virtual machine).
static BOOL TypedLineCameBackWhileOpen()
{
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const WCHAR *chars = data ? (const WCHAR *)GlobalLock(data) : nullptr;
    if (!chars)
        return FALSE;
    int length = ClipboardTextLength(chars, GlobalSize(data) / sizeof(WCHAR));
    BOOL typed = IsRecentTypedLine(&g_typedLines, chars, length, GetTickCount());
    GlobalUnlock(data);
    return typed;
}

static BOOL TypedLineCameBack(HWND owner)
{
    if (!IsClipboardFormatAvailable(CF_UNICODETEXT) || !ClipboardOpenRetry(owner))
        return FALSE;
    BOOL typed = TypedLineCameBackWhileOpen();
    CloseClipboard();
    return typed;
}

void TakeUsersClipboard(HWND owner, SavedClipboard *earlier)
{
    HWND lineOwner = EnsureLineOwnerWindow();
    // A line that came back is no content of the user's: what comes back at the end stays.
    if ((lineOwner && StillTavosLine(lineOwner)) || TypedLineCameBack(owner))
        return;
    CaptureChangeMadeMeanwhile(owner);
    FreeSavedClipboard(earlier);
    SaveClipboard(owner, earlier);
}

void FinishPasteClipboard(SavedClipboard *earlier)
{
    HWND owner = EnsureLineOwnerWindow();
    BOOL hadContent = earlier->count > 0;
    // A typed line put back by another program counts as the paste's own: it goes like one.
    BOOL lineCameBack = owner && !StillTavosLine(owner) && TypedLineCameBack(owner);
    // A stop (exit asked) ends the wait at once: WaitPumping returns at once from then on.
    while (owner && DecideClipboardAfterPaste(StillTavosLine(owner) || lineCameBack, g_offeredLine.taken,
                                              g_offeredLine.pasted && !g_pasteStopRequested,
                                              GetTickCount() - g_offeredLine.pastedAt, hadContent) == AFTER_PASTE_WAIT)
        WaitPumping(20, &g_offeredLine.taken);
    // Opening waits until the target, which has the line by now, has closed the clipboard.
    if (owner && ClipboardOpenRetry(owner)) {
        BOOL ours = StillTavosLine(owner) || TypedLineCameBackWhileOpen();
        int action = DecideClipboardAfterPaste(ours, g_offeredLine.taken, FALSE, 0, hadContent);
        if (action == AFTER_PASTE_RESTORE || action == AFTER_PASTE_EMPTY) {
            // Emptied even when nothing can be put back: a typed line never stays.
            EmptyClipboard();
            PlaceSavedClipboard(earlier);
        }
        CloseClipboard();
    }
    // The line goes with the paste; a later request gets nothing.
    KeepOfferedText(nullptr);
    g_offeredLine.sequence = 0;
    FreeSavedClipboard(earlier);
}
