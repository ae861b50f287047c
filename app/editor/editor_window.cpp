// The data editor window: a tree of both lists on the left, the selected entry's text on the
// right, a 4-pixel splitter gap between them, a toolbar and a menu bar on top. This file owns
// the window, its children, the layout, the splitter and the remembered placement; the tree's
// content and every command live in editor_tree.cpp.
#include "editor/editor.h"
#include "res/resource.h"
#include "shell/shell.h"
#include "state/ini_data.h"

HWND EditorWindow;
HWND EditorToolbar;
HWND EditorTree;
HWND TextPane;
HWND TextEdit;
HIMAGELIST TreeImageList;
WNDPROC TextEditPrevProc;
int SplitterDragging;
RECT *SplitterOutline;
HWND EditorFocus;

#define SPLITTER_GAP 4
#define TOOLBAR_BUTTONS 10
#define TOOLBAR_IMAGES 7

static const TBBUTTON ToolbarButtons[TOOLBAR_BUTTONS] = {
    {0, 0, TBSTATE_ENABLED, TBSTYLE_SEP, {0}, 0, 0},
    {0, IDT_ADD, TBSTATE_ENABLED, TBSTYLE_BUTTON, {0}, 0, 0},
    {1, IDT_CUT, TBSTATE_ENABLED, TBSTYLE_BUTTON, {0}, 0, 0},
    {2, IDT_COPY, TBSTATE_ENABLED, TBSTYLE_BUTTON, {0}, 0, 0},
    {3, IDT_PASTE, TBSTATE_ENABLED, TBSTYLE_BUTTON, {0}, 0, 0},
    {4, IDT_DELETE, TBSTATE_ENABLED, TBSTYLE_BUTTON, {0}, 0, 0},
    {0, 0, TBSTATE_ENABLED, TBSTYLE_SEP, {0}, 0, 0},
    {5, IDT_UP, TBSTATE_ENABLED, TBSTYLE_BUTTON, {0}, 0, 0},
    {6, IDT_DOWN, TBSTATE_ENABLED, TBSTYLE_BUTTON, {0}, 0, 0},
    {0, 0, TBSTATE_ENABLED, TBSTYLE_SEP, {0}, 0, 0},
};
// CreateToolbarEx is told sizeof(TBBUTTON): the layout of this architecture (bReserved grows on x64).
static_assert(sizeof(TBBUTTON) == (sizeof(void *) == 8 ? 32 : 20), "TBBUTTON as the platform lays it out");

HWND OpenEditorWindow()
{
    HWND existing = FindWindowW(EDITOR_CLASS, EDITOR_TITLE);
    if (existing) {
        if (IsIconic(existing))
            ShowWindow(existing, SW_RESTORE);
        SetForegroundWindow(existing);
        MessageBoxW(nullptr, L"「編集」ウインドウは、既に作成されています。", L"tavo", MB_ICONERROR);
        return nullptr;
    }
    HWND window = CreateWindowExW(0, EDITOR_CLASS, EDITOR_TITLE, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, AppInstance, nullptr);
    if (!window) {
        MessageBoxW(nullptr, L"データ編集ウインドウの作成に失敗しました。", L"tavo", MB_ICONERROR);
        return nullptr;
    }
    if (g_ini.editorPlacement.showCmd == 0) {
        ShowWindow(window, SW_SHOW);
    } else {
        WINDOWPLACEMENT placement = g_ini.editorPlacement;
        placement.length = sizeof(placement);
        SetWindowPlacement(window, &placement);
    }
    UpdateWindow(window);
    return window;
}

static void CreateEditorToolbar(HWND window)
{
    EditorToolbar = CreateToolbarEx(window, WS_CHILD | CCS_TOP, IDC_EDITOR_TOOLBAR, TOOLBAR_IMAGES, AppInstance,
                                    IDB_TOOLBAR, ToolbarButtons, TOOLBAR_BUTTONS, 30, 16, 0, 0, sizeof(TBBUTTON));
    if (!EditorToolbar)
        return;
    SetWindowLongW(EditorToolbar, GWL_STYLE, GetWindowLongW(EditorToolbar, GWL_STYLE) | TBSTYLE_FLAT);
    HWND tips = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr, AppInstance, nullptr);
    for (int i = 0; i < TOOLBAR_BUTTONS; i++) {
        TOOLINFOW tool = {};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.uFlags = TTF_SUBCLASS;
        tool.hwnd = EditorToolbar;
        tool.uId = ToolbarButtons[i].idCommand;
        SendMessageW(EditorToolbar, TB_GETITEMRECT, i, (LPARAM)&tool.rect);
        tool.hinst = AppInstance;
        // The string resource numbered like the command is the tooltip; separators have none.
        tool.lpszText = ToolbarButtons[i].idCommand ? MAKEINTRESOURCEW(ToolbarButtons[i].idCommand) : nullptr;
        if (tips)
            SendMessageW(tips, TTM_ADDTOOLW, 0, (LPARAM)&tool);
    }
    SendMessageW(EditorToolbar, TB_SETTOOLTIPS, (WPARAM)tips, 0);
    ShowWindow(EditorToolbar, SW_SHOW);
}

static void CreateTreeImageList()
{
    TreeImageList = ImageList_Create(16, 16, ILC_COLOR16 | ILC_MASK, 0, 0);
    if (!TreeImageList)
        return;
    ImageList_SetBkColor(TreeImageList, GetSysColor(COLOR_WINDOW));
    static const int icons[3] = {IDI_ENTRY, IDI_FOLDER, IDI_FOLDER};
    for (int i = 0; i < 3; i++) {
        HICON icon = (HICON)LoadImageW(AppInstance, MAKEINTRESOURCEW(icons[i]), IMAGE_ICON, 16, 16, 0);
        if (icon) {
            ImageList_AddIcon(TreeImageList, icon);
            DestroyIcon(icon);
        }
    }
}

static LRESULT OnEditorCreate(HWND window)
{
    EditorWindow = window;
    CreateEditorToolbar(window);
    CreateTreeImageList();
    EditorTree = CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, nullptr,
                                 WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                                     TVS_EDITLABELS | TVS_SHOWSELALWAYS,
                                 0, 0, 0, 0, window, (HMENU)IDC_EDITOR_TREE, AppInstance, nullptr);
    if (EditorTree)
        SendMessageW(EditorTree, TVM_SETIMAGELIST, TVSIL_NORMAL, (LPARAM)TreeImageList);
    TextPane = CreateWindowExW(0, EDITOR_PANE_CLASS, nullptr, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 0, 0, window,
                               (HMENU)IDC_EDITOR_PANE, AppInstance, nullptr);
    TextEdit = TextPane ? GetDlgItem(TextPane, IDC_EDITOR_TEXT) : nullptr;
    FillEditorTree();
    WatchStoreForEditor(TRUE);
    SetFocus(EditorTree);
    UpdateEditorCommands(nullptr);
    LayoutEditor(window);
    EditorClipboard.kind = -1;
    return 0;
}

void LayoutEditor(HWND window)
{
    if (EditorToolbar)
        SendMessageW(EditorToolbar, WM_SIZE, 0, 0);
    RECT client;
    GetClientRect(window, &client);
    int width = client.right, height = client.bottom;
    int top = 0;
    if (EditorToolbar && IsWindowVisible(EditorToolbar)) {
        RECT bar;
        GetWindowRect(EditorToolbar, &bar);
        top = bar.bottom - bar.top;
    }
    // A width from a damaged ini.dat is clamped at load; the pane never gets a negative width.
    int treeWidth = g_ini.treeWidth;
    int paneWidth = width - treeWidth - SPLITTER_GAP;
    if (paneWidth < 0)
        paneWidth = 0;
    HDWP batch = BeginDeferWindowPos(2);
    if (batch && EditorTree)
        batch = DeferWindowPos(batch, EditorTree, nullptr, 0, top, treeWidth, height - top, SWP_SHOWWINDOW);
    if (batch && TextPane)
        batch = DeferWindowPos(batch, TextPane, nullptr, treeWidth + SPLITTER_GAP, top, paneWidth, height - top,
                               SWP_SHOWWINDOW);
    if (batch)
        EndDeferWindowPos(batch);
}

int ClampSplitterX(int cursorX, const RECT &windowRect, int frameWidth)
{
    if (cursorX <= windowRect.left + frameWidth + 10)
        return windowRect.left + frameWidth + 10;
    if (cursorX >= windowRect.right - frameWidth - 14)
        return windowRect.right - frameWidth - 14;
    return cursorX;
}

static BOOL OutlineIsZero()
{
    const RECT &r = SplitterOutline[0];
    return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0;
}

// A focus rectangle inverts, so drawing the same two again takes the outline away.
static void DrawSplitterOutline(HDC dc)
{
    if (OutlineIsZero())
        return;
    for (int i = 0; i < 2; i++)
        DrawFocusRect(dc, &SplitterOutline[i]);
}

static void ReleaseSplitterOutline()
{
    if (SplitterOutline)
        HeapFree(GetProcessHeap(), 0, SplitterOutline);
    SplitterOutline = nullptr;
}

static void TrackSplitter(HWND window)
{
    if (!SplitterOutline)
        return;
    POINT cursor;
    GetCursorPos(&cursor);
    RECT windowRect, treeRect = {};
    GetWindowRect(window, &windowRect);
    if (EditorTree)
        GetWindowRect(EditorTree, &treeRect);
    int x = ClampSplitterX(cursor.x, windowRect, GetSystemMetrics(SM_CXFRAME));
    if (x - windowRect.left == SplitterOutline[0].left)
        return;
    HDC dc = GetWindowDC(window);
    if (!dc)
        return;
    DrawSplitterOutline(dc);
    for (int i = 0; i < 2; i++) {
        RECT *r = &SplitterOutline[i];
        r->left = x - windowRect.left + i;
        r->top = treeRect.top - windowRect.top;
        r->right = r->left + 3;
        r->bottom = treeRect.bottom - windowRect.top;
        DrawFocusRect(dc, r);
    }
    ReleaseDC(window, dc);
}

static void OnEditorLButtonDown(HWND window)
{
    if (GetForegroundWindow() != window || SplitterDragging)
        return;
    if (!SplitterOutline)
        SplitterOutline = (RECT *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 2 * sizeof(RECT));
    if (!SplitterOutline)
        return;
    SetCapture(window);
    SplitterDragging = 1;
    TrackSplitter(window);
    SetTimer(window, TIMER_SPLITTER, 1, nullptr);
}

static void EndSplitterDrag(HWND window)
{
    KillTimer(window, TIMER_SPLITTER);
    SplitterDragging = 0;
    if (!SplitterOutline || OutlineIsZero()) {
        ReleaseSplitterOutline();
        ReleaseCapture();
        return;
    }
    HDC dc = GetWindowDC(window);
    if (dc) {
        DrawSplitterOutline(dc);
        ReleaseDC(window, dc);
    }
    int width = SplitterOutline[0].left - GetSystemMetrics(SM_CXFRAME);
    ReleaseSplitterOutline();
    ReleaseCapture();
    g_ini.treeWidth = width;
    LayoutEditor(window);
}

static void CancelSplitterDragIfLost(HWND window)
{
    if (GetForegroundWindow() == window && GetAsyncKeyState(VK_ESCAPE) >= 0 && GetAsyncKeyState(VK_RBUTTON) >= 0)
        return;
    KillTimer(window, TIMER_SPLITTER);
    ReleaseSplitterOutline();
    ReleaseCapture();
    SplitterDragging = 0;
    // A repaint, not a second focus rectangle, takes the outline away.
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
}

static void OnEditorTimer(HWND window, WPARAM timerId)
{
    if (timerId == TIMER_SPLITTER && SplitterDragging)
        CancelSplitterDragIfLost(window);
}

static void OnEditorMouseMove(HWND window)
{
    if (SplitterDragging)
        TrackSplitter(window);
    TrackTreeDrag(window);
}

static void OnEditorLButtonUp(HWND window)
{
    if (SplitterDragging)
        EndSplitterDrag(window);
    DropTreeDrag(window);
}

void CommitPendingEditorEdit()
{
    if (EditorWindow && TextEdit && SendMessageW(TextEdit, EM_GETMODIFY, 0, 0)) {
        CommitEditPane();
        SendMessageW(TextEdit, EM_SETMODIFY, FALSE, 0);
    }
}

void RecordEditorPlacement(HWND window)
{
    WINDOWPLACEMENT placement;
    ZeroMemory(&placement, sizeof(placement));
    placement.length = sizeof(placement);
    if (!GetWindowPlacement(window, &placement))
        return;
    // The next opening never starts minimised.
    if (IsIconic(window))
        placement.showCmd = SW_SHOW;
    g_ini.editorPlacement = placement;
}

void PrepareEditorForSave()
{
    if (!EditorWindow)
        return;
    // Ending the edit now sends TVN_ENDLABELEDIT with the typed name, as Enter would.
    if (EditorTree && SendMessageW(EditorTree, TVM_GETEDITCONTROL, 0, 0))
        SendMessageW(EditorTree, TVM_ENDEDITLABELNOW, FALSE, 0);
    CommitPendingEditorEdit();
    RecordEditorPlacement(EditorWindow);
}

// Closing the editor writes both files, so that what was edited survives a crash later on.
static void OnEditorClose(HWND window)
{
    PrepareEditorForSave();
    if (TreeImageList)
        ImageList_Destroy(TreeImageList);
    TreeImageList = nullptr;
    DestroyWindow(window);
    SaveOrWarn(MainWindow, SAVE_INI | SAVE_ITEMS);
}

// Activation gives the keyboard focus to the frame itself, where no key does anything; the
// focus goes on to the pane that had it when the editor was left (the tree at first), so that
// the keyboard alone keeps working after the user comes back from another window.
static void OnEditorActivate(HWND window, WPARAM wParam)
{
    HWND focus = GetFocus();
    if (LOWORD(wParam) == WA_INACTIVE && focus && IsChild(window, focus))
        EditorFocus = focus;
}

static void OnEditorSetFocus(HWND window)
{
    HWND target = EditorFocus;
    if (!target || !IsWindow(target) || !IsChild(window, target) || !IsWindowEnabled(target))
        target = EditorTree;
    if (target)
        SetFocus(target);
}

static void OnEditorDestroy(HWND window)
{
    RecordEditorPlacement(window);
    WatchStoreForEditor(FALSE);
    EmptyEditorClipboard();

    // A window destroyed without WM_CLOSE still gives back what it held.
    KillTimer(window, TIMER_SPLITTER);
    ReleaseSplitterOutline();
    if (TreeImageList)
        ImageList_Destroy(TreeImageList);
    TreeImageList = nullptr;
    SplitterDragging = 0;
    TreeDragging = 0;
    DragItem = nullptr;
    EditorWindow = EditorToolbar = EditorTree = TextPane = TextEdit = EditorFocus = nullptr;
}

LRESULT CALLBACK EditorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnEditorCreate(window);
    case WM_DESTROY:
        OnEditorDestroy(window);
        return 0;
    case WM_SIZE:
        LayoutEditor(window);
        return 0;
    case WM_ACTIVATE:
        OnEditorActivate(window, wParam);
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_SETFOCUS:
        OnEditorSetFocus(window);
        return 0;
    case WM_CLOSE:
        OnEditorClose(window);
        return 0;
    case WM_NOTIFY:
        return OnEditorNotify(window, wParam, lParam);
    case WM_CONTEXTMENU:
        OnEditorContextMenu(window, wParam, lParam);
        return 0;
    case WM_COMMAND:
        OnEditorCommand(window, wParam, lParam);
        return 0;
    case WM_TIMER:
        OnEditorTimer(window, wParam);
        return 0;
    case WM_INITMENUPOPUP:
        UpdateEditorCommands((HMENU)wParam);
        return 0;
    case WM_EDITOR_SYNC:
        SyncEditorTree();
        return 0;
    case WM_MOUSEMOVE:
        OnEditorMouseMove(window);
        return 0;
    case WM_LBUTTONDOWN:
        OnEditorLButtonDown(window);
        return 0;
    case WM_LBUTTONUP:
        OnEditorLButtonUp(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// TextEdit keeps the EDIT class behaviour and adds two keys: F6 goes back to the tree, Ctrl+A
// selects the whole text.
static LRESULT CALLBACK TextEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYDOWN && wParam == VK_F6)
        SetFocus(GetDlgItem(GetParent(GetParent(window)), IDC_EDITOR_TREE));
    else if (message == WM_KEYDOWN && wParam == 'A' && GetKeyState(VK_CONTROL) < 0)
        SendMessageW(window, EM_SETSEL, 0, -1);
    return CallWindowProcW(TextEditPrevProc, window, message, wParam, lParam);
}

static LRESULT OnTextPaneCreate(HWND window)
{
    HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", nullptr,
                                WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, 0, 0, 0,
                                0, window, (HMENU)IDC_EDITOR_TEXT, AppInstance, nullptr);
    if (edit) {
        SendMessageW(edit, WM_SETFONT, (WPARAM)GetStockObject(DEFAULT_GUI_FONT), FALSE);
        TextEditPrevProc = (WNDPROC)GetWindowLongPtrW(edit, GWLP_WNDPROC);
        SetWindowLongPtrW(edit, GWLP_WNDPROC, (LONG_PTR)TextEditProc);
    }
    return 0;
}

static void OnTextPaneClose(HWND window)
{
    HWND edit = GetDlgItem(window, IDC_EDITOR_TEXT);
    if (edit && TextEditPrevProc)
        SetWindowLongPtrW(edit, GWLP_WNDPROC, (LONG_PTR)TextEditPrevProc);
    DestroyWindow(window);
}

LRESULT CALLBACK TextPaneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnTextPaneCreate(window);
    case WM_SIZE:
        MoveWindow(GetDlgItem(window, IDC_EDITOR_TEXT), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_CLOSE:
        OnTextPaneClose(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
