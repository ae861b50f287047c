// The clipboard as the rest of the program uses it (CF_UNICODETEXT only), the copy-history
// capture, and MainWindow's place at the head of the clipboard-viewer chain.
#include "recall/recall_internal.h"
#include "shell/shell.h"
#include "state/ini_data.h"

HWND NextViewer;  // the viewer after MainWindow in the chain; null when it is the last

#define OPEN_ATTEMPTS 100
#define OPEN_PAUSE_MS 100

BOOL ClipboardOpenRetry(HWND owner)
{
    for (int attempt = 0; attempt < OPEN_ATTEMPTS; attempt++) {
        if (OpenClipboard(owner))
            return TRUE;
        Sleep(OPEN_PAUSE_MS);
    }
    return FALSE;
}

static HGLOBAL MakeTextBlock(const WCHAR *text)
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
static void PlaceDwordFormat(const WCHAR *formatName, DWORD value)
{
    UINT format = RegisterClipboardFormatW(formatName);
    HGLOBAL block = format ? MakeDwordBlock(value) : nullptr;
    if (block && !SetClipboardData(format, block))
        GlobalFree(block);
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
    if (markPrivate) {
        PlaceDwordFormat(CF_NAME_EXCLUDE_MONITOR, 0);
        PlaceDwordFormat(CF_NAME_IN_HISTORY, 0);
        PlaceDwordFormat(CF_NAME_UPLOAD_TO_CLOUD, 0);
    }
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

WCHAR *ClipboardGetText(HWND owner)
{
    if (!IsClipboardFormatAvailable(CF_UNICODETEXT))
        return nullptr;
    if (!ClipboardOpenRetry(owner))
        return nullptr;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (!data) {
        CloseClipboard();
        return nullptr;
    }
    WCHAR *copy = nullptr;
    const WCHAR *chars = (const WCHAR *)GlobalLock(data);
    if (chars) {
        // A block without a terminator is read no further than its own size.
        SIZE_T room = GlobalSize(data) / sizeof(WCHAR);
        int length = 0;
        while ((SIZE_T)length < room && chars[length])
            length++;
        if (length > 0) {
            copy = (WCHAR *)GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 2 * length + 2);
            if (copy)
                CopyMemory(copy, chars, 2 * length);
        }
        GlobalUnlock(data);
    }
    CloseClipboard();
    return copy;
}

BOOL ClipboardHasText(HWND owner)
{
    if (!ClipboardOpenRetry(owner))
        return FALSE;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    CloseClipboard();
    return data != nullptr;
}

// Registered once per process; the platform gives the same number for a name every time.
static UINT FormatOf(const WCHAR *name, UINT *cached)
{
    if (*cached == 0)
        *cached = RegisterClipboardFormatW(name);
    return *cached;
}

BOOL ClipboardMarkedPrivate(HWND owner)
{
    static UINT excludeFormat, ignoreFormat, inHistoryFormat;
    if (IsClipboardFormatAvailable(FormatOf(CF_NAME_EXCLUDE_MONITOR, &excludeFormat)) ||
        IsClipboardFormatAvailable(FormatOf(CF_NAME_VIEWER_IGNORE, &ignoreFormat)))
        return TRUE;
    UINT inHistory = FormatOf(CF_NAME_IN_HISTORY, &inHistoryFormat);
    if (!IsClipboardFormatAvailable(inHistory))
        return FALSE;
    // Unread, the marker counts as set: a text that may be a password is not kept on a guess.
    if (!ClipboardOpenRetry(owner))
        return TRUE;
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
    // One walk finds the oldest equal entry and counts the history on the way.
    ItemId equalId = 0;
    int historyCount = 0;
    const ItemMap &items = ItemStore::Items();
    for (ItemMap::const_iterator it = items.begin(); it != items.end(); ++it) {
        if (it->second.kind != History)
            continue;
        historyCount++;
        if (equalId == 0 && SameText(it->second.text, text))
            equalId = it->first;
    }
    if (equalId > 0) {
        ItemStore::Erase(equalId);
        historyCount--;
    }
    ItemStore::Insert(History, nullptr, text);
    historyCount++;
    if (historyCount > historyMax)
        ItemStore::EraseOldestHistory();
}

void CaptureClipboardText(HWND owner)
{
    if (ClipboardMarkedPrivate(owner))
        return;
    WCHAR *text = ClipboardGetText(owner);
    if (!text)
        return;
    AddHistoryText(text, g_ini.historyMax);
    GlobalFree(text);
}

void OnDrawClipboard(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (BusyFlag == 1)
        return;
    if (NextViewer && NextViewer != window)
        SendMessageW(NextViewer, WM_DRAWCLIPBOARD, wParam, lParam);
    CaptureClipboardText(window);
}

void OnChangeCbChain(HWND window, WPARAM wParam, LPARAM lParam)
{
    if ((HWND)wParam == NextViewer)
        NextViewer = (HWND)lParam;
    else if (NextViewer && NextViewer != window)
        SendMessageW(NextViewer, WM_CHANGECBCHAIN, wParam, lParam);
}

void OnClipboardChainTimer(HWND window)
{
    if (GetClipboardViewer() == window)
        return;
    ChangeClipboardChain(window, NextViewer);
    NextViewer = SetClipboardViewer(window);
}
