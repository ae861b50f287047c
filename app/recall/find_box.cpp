// The find box: opened from the popup menu by a typed character, it lists the entries that hold
// every typed word and hands the chosen one to the menu's own paste. It runs a modal loop of its
// own inside the popup operation and searches the store in slices between messages, so a
// keystroke never waits for more than one slice, whatever the size of the texts.
#include "recall/find_box.h"
#include "recall/focus.h"
#include "recall/paste.h"
#include <commctrl.h>
#include "lang/ui_language.h"
#include "recall/find_match.h"
#include "res/resource.h"

#define FIND_SLICE_MS 8.0  // one slice of the search between two looks at the queue

#define FIND_OPEN      0
#define FIND_CHOSEN    1  // Enter or a double click
#define FIND_CANCELLED 2  // Esc, the close box, or the end of the program
#define FIND_LEFT      3  // another window was activated: it keeps the foreground

// The one open find box, of the hub's thread.
struct FindBoxRecord {
    HWND box;
    HWND edit;
    HWND list;
    FindSearch search;
    int shownCount;   // rows the list was told of
    BOOL wasActive;   // the box has been active, so a deactivation is the user's click elsewhere
    int outcome;
    ItemId chosen;
    WCHAR noMatch[64];
};
static FindBoxRecord g_findBox;

static BOOL SearchComplete()
{
    return g_findBox.search.phase == FIND_PHASE_DONE;
}

static BOOL ShowsNoMatch()
{
    return SearchComplete() && g_findBox.search.resultCount == 0;
}

static int SelectedRow()
{
    return (int)SendMessageW(g_findBox.list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
}

static void SelectRow(int row)
{
    LVITEMW state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(g_findBox.list, LVM_SETITEMSTATE, (WPARAM)row, (LPARAM)&state);
    SendMessageW(g_findBox.list, LVM_ENSUREVISIBLE, (WPARAM)row, FALSE);
}

// Tells the list how many rows there are now.
static void ShowResults(BOOL restarted)
{
    int rows = ShowsNoMatch() ? 1 : g_findBox.search.resultCount;
    if (!restarted && rows == g_findBox.shownCount)
        return;
    DWORD flags = restarted ? 0 : LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL;
    SendMessageW(g_findBox.list, LVM_SETITEMCOUNT, (WPARAM)rows, (LPARAM)flags);
    if (restarted)
        InvalidateRect(g_findBox.list, nullptr, TRUE);
    g_findBox.shownCount = rows;
    if (restarted) {
        LVITEMW none = {};
        none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(g_findBox.list, LVM_SETITEMSTATE, (WPARAM)-1, (LPARAM)&none);
    }
    // The first match is selected as it arrives, and again after each new keystroke.
    if (g_findBox.search.resultCount > 0 && SelectedRow() < 0)
        SelectRow(0);
}

static void RestartSearch()
{
    WCHAR typed[FIND_QUERY_CHARS];
    GetWindowTextW(g_findBox.edit, typed, ARRAYSIZE(typed));
    StartFindSearch(&g_findBox.search, typed);
    // The first slice at once: the list never shows empty between two keystrokes, and on a
    // store of ordinary size the search is complete before the list repaints.
    ContinueFindSearch(&g_findBox.search, FIND_SLICE_MS);
    g_findBox.shownCount = -1;
    ShowResults(TRUE);
}

static void RunSearchSlice()
{
    DWORD before = g_findBox.search.changeCount;
    ContinueFindSearch(&g_findBox.search, FIND_SLICE_MS);
    ShowResults(before != g_findBox.search.changeCount);
}

static void ChooseRow(int row)
{
    if (row < 0 || row >= g_findBox.search.resultCount || g_findBox.outcome != FIND_OPEN)
        return;
    g_findBox.chosen = g_findBox.search.results[row];
    g_findBox.outcome = FIND_CHOSEN;
}

static void OnGetDisplayInfo(NMLVDISPINFOW *info)
{
    if (!(info->item.mask & LVIF_TEXT) || !info->item.pszText || info->item.cchTextMax <= 0)
        return;
    int row = info->item.iItem;
    WCHAR label[FIND_LABEL_CHARS];
    label[0] = 0;
    if (ShowsNoMatch()) {
        lstrcpynW(label, g_findBox.noMatch, ARRAYSIZE(label));
    } else if (row >= 0 && row < g_findBox.search.resultCount) {
        const Item *item = ItemStore::Find(g_findBox.search.results[row]);
        // A registered entry shows its name, never its text.
        if (item)
            MakeFindLabel(label, item->kind == Registered ? item->name : item->text);
    }
    lstrcpynW(info->item.pszText, label, info->item.cchTextMax);
}

static INT_PTR OnFindNotify(NMHDR *header)
{
    if (header->idFrom != IDC_FIND_LIST)
        return FALSE;
    if (header->code == LVN_GETDISPINFOW)
        OnGetDisplayInfo((NMLVDISPINFOW *)header);
    else if (header->code == NM_DBLCLK)
        ChooseRow(((NMITEMACTIVATE *)header)->iItem);
    return TRUE;
}

static void OnFindActivate(WPARAM wParam)
{
    if (LOWORD(wParam) != WA_INACTIVE)
        g_findBox.wasActive = TRUE;
    else if (g_findBox.wasActive && g_findBox.outcome == FIND_OPEN)
        g_findBox.outcome = FIND_LEFT;
}

static INT_PTR CALLBACK FindBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return FALSE;  // the focus is set once the box is placed
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_FIND_EDIT && HIWORD(wParam) == EN_CHANGE)
            RestartSearch();
        else if (LOWORD(wParam) == IDCANCEL && g_findBox.outcome == FIND_OPEN)
            g_findBox.outcome = FIND_CANCELLED;
        return TRUE;
    case WM_NOTIFY:
        return OnFindNotify((NMHDR *)lParam);
    case WM_ACTIVATE:
        OnFindActivate(wParam);
        return FALSE;
    case WM_CLOSE:
        if (g_findBox.outcome == FIND_OPEN)
            g_findBox.outcome = FIND_CANCELLED;
        return TRUE;
    }
    (void)window;
    return FALSE;
}

// Enter, Esc and the keys that move the selection while the caret stays in the field. With the
// IME composing, its keys arrive as VK_PROCESSKEY and go on to it untouched, so the Enter that
// commits a composition chooses nothing.
static BOOL HandleFindKey(const MSG *msg)
{
    if (msg->message == WM_CHAR && msg->hwnd == g_findBox.list) {
        // Typing goes on in the field after a click in the list.
        SetFocus(g_findBox.edit);
        SendMessageW(g_findBox.edit, WM_CHAR, msg->wParam, msg->lParam);
        return TRUE;
    }
    if (msg->message != WM_KEYDOWN || (msg->hwnd != g_findBox.edit && msg->hwnd != g_findBox.list))
        return FALSE;
    switch (msg->wParam) {
    case VK_RETURN:
        ChooseRow(SelectedRow());
        return TRUE;
    case VK_ESCAPE:
        g_findBox.outcome = FIND_CANCELLED;
        return TRUE;
    case VK_UP:
    case VK_DOWN:
    case VK_PRIOR:
    case VK_NEXT: {
        if (msg->hwnd != g_findBox.edit)
            return FALSE;
        int perPage = (int)SendMessageW(g_findBox.list, LVM_GETCOUNTPERPAGE, 0, 0);
        int row = MoveFindSelection(SelectedRow(), g_findBox.search.resultCount, (UINT)msg->wParam, perPage);
        if (row >= 0)
            SelectRow(row);
        return TRUE;
    }
    }
    return FALSE;
}

// The box's top left at the point, moved inside the work area of the monitor there.
static void PlaceFindBox(POINT at)
{
    RECT box;
    GetWindowRect(g_findBox.box, &box);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromPoint(at, MONITOR_DEFAULTTONEAREST), &monitor);
    int width = box.right - box.left, height = box.bottom - box.top;
    int x = at.x, y = at.y;
    if (x + width > monitor.rcWork.right)
        x = monitor.rcWork.right - width;
    if (y + height > monitor.rcWork.bottom)
        y = monitor.rcWork.bottom - height;
    if (x < monitor.rcWork.left)
        x = monitor.rcWork.left;
    if (y < monitor.rcWork.top)
        y = monitor.rcWork.top;
    SetWindowPos(g_findBox.box, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
}

static BOOL CreateFindBox(HWND owner, POINT at, WCHAR firstChar)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    LPCDLGTEMPLATEW boxTemplate = UiDialogTemplate(IDD_FIND);
    g_findBox.box = boxTemplate ? CreateDialogIndirectParamW(instance, boxTemplate, owner, FindBoxProc, 0) : nullptr;
    if (!g_findBox.box)
        return FALSE;
    g_findBox.edit = GetDlgItem(g_findBox.box, IDC_FIND_EDIT);
    g_findBox.list = GetDlgItem(g_findBox.box, IDC_FIND_LIST);
    WCHAR title[64];
    if (LoadUiText(IDS_FIND_TITLE, title, ARRAYSIZE(title)) > 0)
        SetWindowTextW(g_findBox.box, title);
    LoadUiText(IDS_FIND_NO_MATCH, g_findBox.noMatch, ARRAYSIZE(g_findBox.noMatch));
    SendMessageW(g_findBox.edit, EM_LIMITTEXT, FIND_QUERY_CHARS - 1, 0);
    SendMessageW(g_findBox.list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    RECT client;
    GetClientRect(g_findBox.list, &client);
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH;
    column.cx = client.right - GetSystemMetrics(SM_CXVSCROLL);
    SendMessageW(g_findBox.list, LVM_INSERTCOLUMNW, 0, (LPARAM)&column);
    WCHAR typed[2] = {firstChar, 0};
    SetWindowTextW(g_findBox.edit, typed);  // EN_CHANGE starts the search
    RestartSearch();
    PlaceFindBox(at);
    ShowWindow(g_findBox.box, SW_SHOW);
    ForceForeground(g_findBox.box, !g_focusSnapshot.targetHung);
    SetFocus(g_findBox.edit);
    SendMessageW(g_findBox.edit, EM_SETSEL, 1, 1);
    return TRUE;
}

// Messages first; the search goes on while the queue is empty.
static void RunFindLoop()
{
    while (g_findBox.outcome == FIND_OPEN) {
        MSG msg;
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage((int)msg.wParam);  // the main loop must still see it
                StopTyping();
            } else if (!HandleFindKey(&msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            if (g_pasteStopRequested && g_findBox.outcome == FIND_OPEN)
                g_findBox.outcome = FIND_CANCELLED;  // the program ends: nothing is typed
            continue;
        }
        if (!SearchComplete())
            RunSearchSlice();
        else
            MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

ItemId RunFindBox(HWND owner, POINT at, WCHAR firstChar)
{
    if (g_findBox.box)
        return 0;
    ZeroMemory(&g_findBox, sizeof(g_findBox));
    InitFindSearch(&g_findBox.search);
    ItemId chosen = 0;
    if (CreateFindBox(owner, at, firstChar)) {
        RunFindLoop();
        if (g_findBox.outcome == FIND_CHOSEN)
            chosen = g_findBox.chosen;
        // As after the menu: the owner is the foreground again, and the caller gives the focus
        // back; a window the user clicked keeps it.
        if (g_findBox.outcome == FIND_CHOSEN || g_findBox.outcome == FIND_CANCELLED)
            ForceForeground(owner, !g_focusSnapshot.targetHung);
        DestroyWindow(g_findBox.box);
    }
    FreeFindSearch(&g_findBox.search);
    ZeroMemory(&g_findBox, sizeof(g_findBox));
    return chosen;
}
