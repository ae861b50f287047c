// The clipboard side of a registered paste. Each typed line goes on the clipboard by delayed
// rendering: only the format is announced, and the text is handed over when a program asks for
// it. That request tells the paste that the target has read the line, so the next line never
// replaces it too early. A message-only window of the typing thread owns these lines; when the
// paste ends it puts the user's earlier text back, so that a typed password does not stay there.
#include "recall/recall_internal.h"

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

int DecideClipboardAfterPaste(BOOL lastLineTaken, BOOL typingStopped, BOOL stillTavosLine, BOOL hadText)
{
    if (!stillTavosLine)
        return AFTER_PASTE_LEAVE;
    // A slow target still gets its line; a paste broken off hands nothing more over.
    if (!lastLineTaken && !typingStopped)
        return AFTER_PASTE_RENDER;
    return hadText ? AFTER_PASTE_RESTORE : AFTER_PASTE_EMPTY;
}

static HGLOBAL LineTextBlock(const WCHAR *text)
{
    int length = text ? lstrlenW(text) : 0;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 2 * length + 2);
    WCHAR *chars = block ? (WCHAR *)GlobalLock(block) : nullptr;
    if (!chars) {
        if (block)
            GlobalFree(block);
        return nullptr;
    }
    if (length > 0)
        CopyMemory(chars, text, 2 * length);
    GlobalUnlock(block);
    return block;
}

// With the clipboard open: one marker format holding a DWORD.
static void PlaceMarker(const WCHAR *formatName, DWORD value)
{
    UINT format = RegisterClipboardFormatW(formatName);
    HGLOBAL block = format ? GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DWORD)) : nullptr;
    DWORD *data = block ? (DWORD *)GlobalLock(block) : nullptr;
    if (!data) {
        if (block)
            GlobalFree(block);
        return;
    }
    *data = value;
    GlobalUnlock(block);
    if (!SetClipboardData(format, block))
        GlobalFree(block);
}

// With the clipboard open: the text of the offered line, for whoever asked.
static BOOL RenderOfferedLine()
{
    HGLOBAL block = LineTextBlock(g_offeredLine.text);
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
    if (g_offeredLine.text)
        HeapFree(heap, 0, g_offeredLine.text);
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
    g_offeredLine.rendered = g_offeredLine.taken = FALSE;
    g_offeredLine.targetThread = targetThread;
    HWND owner = EnsureLineOwnerWindow();
    if (!owner || !ClipboardOpenRetry(owner))
        return FALSE;
    BOOL placed = EmptyClipboard();
    if (placed) {
        KeepOfferedText(line);
        SetClipboardData(CF_UNICODETEXT, nullptr);  // announced only; its result is null either way
        PlaceMarker(CF_NAME_EXCLUDE_MONITOR, 0);
        PlaceMarker(CF_NAME_IN_HISTORY, 0);
        PlaceMarker(CF_NAME_UPLOAD_TO_CLOUD, 0);
    }
    CloseClipboard();
    g_offeredLine.sequence = GetClipboardSequenceNumber();
    return placed;
}

void FinishPasteClipboard(const WCHAR *earlierText, BOOL typingStopped)
{
    HWND owner = EnsureLineOwnerWindow();
    // Opening waits until the target, which has the line by now, has closed the clipboard.
    if (owner && ClipboardOpenRetry(owner)) {
        BOOL stillTavosLine = g_offeredLine.text != nullptr && GetClipboardOwner() == owner &&
                              GetClipboardSequenceNumber() == g_offeredLine.sequence;
        int action = DecideClipboardAfterPaste(g_offeredLine.taken, typingStopped, stillTavosLine, earlierText != nullptr);
        if (action == AFTER_PASTE_RENDER && !g_offeredLine.rendered) {
            RenderOfferedLine();
        } else if (action == AFTER_PASTE_RESTORE || action == AFTER_PASTE_EMPTY) {
            EmptyClipboard();
            HGLOBAL block = action == AFTER_PASTE_RESTORE ? LineTextBlock(earlierText) : nullptr;
            if (block && !SetClipboardData(CF_UNICODETEXT, block))
                GlobalFree(block);
            // The user's own text coming back is no new copy, for tavo or any other clipboard watcher.
            if (block)
                PlaceMarker(CF_NAME_EXCLUDE_MONITOR, 0);
        }
        CloseClipboard();
    }
    // The line goes with the paste; a later request gets nothing.
    KeepOfferedText(nullptr);
}
