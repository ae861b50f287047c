// The data editor window: a tree of both lists on the left, the selected entry's text on the
// right, a splitter gap between them, a toolbar and a menu bar on top. This file owns the
// window, its children, the layout for its monitor's DPI, the splitter and the remembered
// placement; the tree's content and every command live in editor_tree.cpp.
#include "editor/editor_internal.h"
#include "lang/ui_language.h"
#include "res/resource.h"
#include "state/ini_data.h"
#include "state/screen_place.h"

EditorState g_editor;

#define SPLITTER_GAP 4  // at 96 DPI
#define TOOLBAR_IMAGE_WIDTH 30
#define TOOLBAR_IMAGE_HEIGHT 16
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

static BOOL RegisterClassOf(HINSTANCE instance, const WCHAR *name, WNDPROC procedure, HICON icon, LPCWSTR cursor,
                            int brushColour, const WCHAR *menu)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = icon;
    windowClass.hCursor = (HCURSOR)LoadImageW(nullptr, cursor, IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE | LR_SHARED);
    windowClass.hbrBackground = (HBRUSH)(INT_PTR)(brushColour + 1);
    windowClass.lpszMenuName = menu;
    windowClass.lpszClassName = name;
    return RegisterClassExW(&windowClass) != 0;
}

BOOL RegisterEditorClasses(HINSTANCE instance)
{
    HICON icon = (HICON)LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED);
    // The menu bar comes with each window, in the interface language (OpenEditorWindow).
    if (!RegisterClassOf(instance, EDITOR_CLASS, EditorWindowProc, icon, IDC_SIZEWE, COLOR_BTNFACE, nullptr))
        return FALSE;
    return RegisterClassOf(instance, EDITOR_PANE_CLASS, TextPaneProc, nullptr, IDC_ARROW, COLOR_WINDOW, nullptr);
}

// The sizes the tree icons are drawn at, and the scales of the toolbar strip.
static const int IconSizes[] = {16, 20, 24, 32, 40, 48, 64};
static const int ToolbarScales[] = {100, 125, 150, 200};
static const int ToolbarBitmaps[] = {IDB_TOOLBAR, IDB_TOOLBAR_125, IDB_TOOLBAR_150, IDB_TOOLBAR_200};

void EditorMetricsForDpi(int dpi, EditorMetrics *metrics)
{
    if (dpi <= 0)
        dpi = BASE_DPI;
    // The largest drawn size that the scale reaches: drawn pictures are never stretched.
    int wanted = ScaleToDpi(16, dpi);
    metrics->iconSize = IconSizes[0];
    for (int size : IconSizes)
        if (size <= wanted)
            metrics->iconSize = size;
    int percent = MulDiv(dpi, 100, BASE_DPI);
    metrics->toolbarScale = ToolbarScales[0];
    for (int scale : ToolbarScales)
        if (scale <= percent)
            metrics->toolbarScale = scale;
    metrics->toolbarImageWidth = MulDiv(TOOLBAR_IMAGE_WIDTH, metrics->toolbarScale, 100);
    metrics->toolbarImageHeight = MulDiv(TOOLBAR_IMAGE_HEIGHT, metrics->toolbarScale, 100);
    metrics->fontHeight = -MulDiv(8, dpi, 72);
    int line = metrics->iconSize > -metrics->fontHeight ? metrics->iconSize : -metrics->fontHeight;
    // Even: the tree view rounds an odd height down.
    metrics->treeItemHeight = (line + ScaleToDpi(2, dpi) + 1) & ~1;
    metrics->splitterGap = ScaleToDpi(SPLITTER_GAP, dpi);
}

typedef UINT(WINAPI *GetDpiForWindowFunction)(HWND);

static int SystemDpi()
{
    HDC screen = GetDC(nullptr);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : BASE_DPI;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : BASE_DPI;
}

int WindowDpi(HWND window)
{
    static GetDpiForWindowFunction getDpiForWindow =
        (GetDpiForWindowFunction)(void *)GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow");
    int dpi = getDpiForWindow && window ? (int)getDpiForWindow(window) : 0;
    return dpi > 0 ? dpi : SystemDpi();
}

static void ShowEditorError(UINT textId)
{
    WCHAR text[128];
    LoadUiText(textId, text, 128);
    MessageBoxW(nullptr, text, APP_CAPTION, MB_ICONERROR);
}

// The saved place while it is on a monitor, else centred on the mouse's monitor. The placement is
// kept in pixels at 100 % of the system scale, as the builds that ran unaware of it stored it, and
// in workspace coordinates, as GetWindowPlacement gives it.
static void PlaceEditorWhereUserWorks(HWND window)
{
    WINDOWPLACEMENT placement = g_ini.editorPlacement;
    placement.length = sizeof(placement);
    BOOL saved = placement.showCmd != 0;
    if (saved)
        placement.rcNormalPosition = ScaleRect(placement.rcNormalPosition, BASE_DPI, SystemDpi());
    else
        placement.showCmd = SW_SHOW;
    RECT current;
    GetWindowRect(window, &current);
    SIZE size = {current.right - current.left, current.bottom - current.top};
    placement.flags = 0;
    placement.rcNormalPosition = ChooseWhereUserWorks(saved ? &placement.rcNormalPosition : nullptr, size,
                                                       WorkspaceOrigin());
    SetWindowPlacement(window, &placement);
}

HWND OpenEditorWindow(HWND hub)
{
    WCHAR title[64];
    LoadUiText(IDS_EDITOR_TITLE, title, ARRAYSIZE(title));
    HWND existing = FindWindowW(EDITOR_CLASS, title);
    if (existing) {
        if (IsIconic(existing))
            ShowWindow(existing, SW_RESTORE);
        SetForegroundWindow(existing);
        ShowEditorError(IDS_EDITOR_ALREADY_OPEN);
        return nullptr;
    }
    g_editor.hub = hub;
    HMENU menu = LoadUiMenu(IDM_EDITOR);
    HWND window = CreateWindowExW(0, EDITOR_CLASS, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, nullptr, menu, GetModuleHandleW(nullptr), nullptr);
    if (!window) {
        if (menu)
            DestroyMenu(menu);
        ShowEditorError(IDS_EDITOR_NOT_CREATED);
        return nullptr;
    }
    PlaceEditorWhereUserWorks(window);
    UpdateWindow(window);
    return window;
}

static void CreateEditorToolbar(HWND window)
{
    // The pictures come as an image list for the DPI (ApplyEditorDpi), not as a bitmap of one size.
    g_editor.toolbar = CreateToolbarEx(window, WS_CHILD | CCS_TOP, IDC_EDITOR_TOOLBAR, 0, nullptr, 0, ToolbarButtons,
                                       TOOLBAR_BUTTONS, 0, 0, 0, 0, sizeof(TBBUTTON));
    if (!g_editor.toolbar)
        return;
    SetWindowLongW(g_editor.toolbar, GWL_STYLE, GetWindowLongW(g_editor.toolbar, GWL_STYLE) | TBSTYLE_FLAT);
    HWND tips = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr, GetModuleHandleW(nullptr), nullptr);
    for (int i = 0; i < TOOLBAR_BUTTONS; i++) {
        TOOLINFOW tool = {};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.uFlags = TTF_SUBCLASS;
        tool.hwnd = g_editor.toolbar;
        tool.uId = ToolbarButtons[i].idCommand;
        SendMessageW(g_editor.toolbar, TB_GETITEMRECT, i, (LPARAM)&tool.rect);
        // The string numbered like the command is the tooltip (the control keeps a copy); separators have none.
        WCHAR tip[64] = {};
        if (ToolbarButtons[i].idCommand)
            LoadUiText(ToolbarButtons[i].idCommand, tip, ARRAYSIZE(tip));
        tool.lpszText = tip[0] ? tip : nullptr;
        if (tips)
            SendMessageW(tips, TTM_ADDTOOLW, 0, (LPARAM)&tool);
    }
    SendMessageW(g_editor.toolbar, TB_SETTOOLTIPS, (WPARAM)tips, 0);
    ShowWindow(g_editor.toolbar, SW_SHOW);
}

static HIMAGELIST CreateTreeImageList(int size)
{
    HIMAGELIST images = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 3, 0);
    if (!images)
        return nullptr;
    ImageList_SetBkColor(images, GetSysColor(COLOR_WINDOW));
    static const int icons[3] = {IDI_ENTRY, IDI_FOLDER, IDI_FOLDER};
    for (int i = 0; i < 3; i++) {
        HICON icon = (HICON)LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(icons[i]), IMAGE_ICON, size, size, 0);
        if (icon) {
            ImageList_AddIcon(images, icon);
            DestroyIcon(icon);
        }
    }
    return images;
}

// The strip of that scale; silver, the button face it was drawn on, becomes transparent.
static HIMAGELIST CreateToolbarImageList(const EditorMetrics &metrics)
{
    int strip = 0;
    for (int k = 0; k < (int)ARRAYSIZE(ToolbarScales); k++)
        if (ToolbarScales[k] == metrics.toolbarScale)
            strip = ToolbarBitmaps[k];
    HBITMAP bitmap = (HBITMAP)LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(strip), IMAGE_BITMAP, 0, 0, 0);
    if (!bitmap)
        return nullptr;
    HIMAGELIST images = ImageList_Create(metrics.toolbarImageWidth, metrics.toolbarImageHeight, ILC_COLOR24 | ILC_MASK,
                                         TOOLBAR_IMAGES, 0);
    if (images)
        ImageList_AddMasked(images, bitmap, RGB(0xC0, 0xC0, 0xC0));
    DeleteObject(bitmap);
    return images;
}

static HFONT CreateEditorFont(const EditorMetrics &metrics)
{
    LOGFONTW font = {};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
    font.lfHeight = metrics.fontHeight;
    font.lfWidth = 0;
    return CreateFontIndirectW(&font);
}

typedef BOOL(WINAPI *SystemParametersInfoForDpiFunction)(UINT, UINT, void *, UINT, UINT);

// The tree keeps the system's font for icon titles, at the editor's DPI rather than the system's.
static HFONT CreateTreeFont(int dpi)
{
    static SystemParametersInfoForDpiFunction parametersForDpi = (SystemParametersInfoForDpiFunction)(void *)GetProcAddress(
        GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi");
    LOGFONTW font = {};
    if (!parametersForDpi || !parametersForDpi(SPI_GETICONTITLELOGFONT, sizeof(font), &font, 0, dpi)) {
        if (!SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof(font), &font, 0))
            return nullptr;
        font.lfHeight = MulDiv(font.lfHeight, dpi, SystemDpi());
    }
    return CreateFontIndirectW(&font);
}

// Hands the control its new font and lets the old one go; a font that could not be made changes
// nothing.
static void ReplaceFont(HWND control, HFONT *held, HFONT font)
{
    if (!font)
        return;
    if (control)
        SendMessageW(control, WM_SETFONT, (WPARAM)font, TRUE);
    if (*held)
        DeleteObject(*held);
    *held = font;
}

void ApplyEditorDpi(HWND window)
{
    EditorMetrics metrics;
    EditorMetricsForDpi(g_editor.dpi, &metrics);
    HIMAGELIST treeImages = CreateTreeImageList(metrics.iconSize);
    if (treeImages) {
        if (g_editor.tree)
            SendMessageW(g_editor.tree, TVM_SETIMAGELIST, TVSIL_NORMAL, (LPARAM)treeImages);
        if (g_editor.imageList)
            ImageList_Destroy(g_editor.imageList);
        g_editor.imageList = treeImages;
    }
    ReplaceFont(g_editor.tree, &g_editor.treeFont, CreateTreeFont(g_editor.dpi));
    // After the font, which makes the tree work out a height of its own.
    if (g_editor.tree)
        SendMessageW(g_editor.tree, TVM_SETITEMHEIGHT, metrics.treeItemHeight, 0);
    // The old pictures go only once the toolbar holds new ones: it draws with them until then.
    HIMAGELIST toolbarImages = CreateToolbarImageList(metrics);
    if (toolbarImages) {
        if (g_editor.toolbar) {
            SendMessageW(g_editor.toolbar, TB_SETIMAGELIST, 0, (LPARAM)toolbarImages);
            SendMessageW(g_editor.toolbar, TB_SETBUTTONSIZE, 0,
                         MAKELPARAM(metrics.toolbarImageWidth + ScaleToDpi(7, g_editor.dpi),
                                    metrics.toolbarImageHeight + ScaleToDpi(7, g_editor.dpi)));
            SendMessageW(g_editor.toolbar, TB_AUTOSIZE, 0, 0);
        }
        if (g_editor.toolbarImages)
            ImageList_Destroy(g_editor.toolbarImages);
        g_editor.toolbarImages = toolbarImages;
    }
    ReplaceFont(g_editor.textEdit, &g_editor.font, CreateEditorFont(metrics));
    LayoutEditor(window);
}

// Moved to a monitor of another scale: the suggested rectangle, then everything at the new DPI.
static void OnEditorDpiChanged(HWND window, WPARAM wParam, LPARAM lParam)
{
    g_editor.dpi = HIWORD(wParam);
    const RECT *suggested = (const RECT *)lParam;
    if (suggested)
        SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyEditorDpi(window);
}

static LRESULT OnEditorCreate(HWND window)
{
    g_editor.window = window;
    g_editor.dpi = WindowDpi(window);
    CreateEditorToolbar(window);
    g_editor.tree = CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, nullptr,
                                 WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                                     TVS_EDITLABELS | TVS_SHOWSELALWAYS,
                                 0, 0, 0, 0, window, (HMENU)IDC_EDITOR_TREE, GetModuleHandleW(nullptr), nullptr);
    g_editor.pane = CreateWindowExW(0, EDITOR_PANE_CLASS, nullptr, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 0, 0, window,
                               (HMENU)IDC_EDITOR_PANE, GetModuleHandleW(nullptr), nullptr);
    g_editor.textEdit = g_editor.pane ? GetDlgItem(g_editor.pane, IDC_EDITOR_TEXT) : nullptr;
    FillEditorTree();
    WatchStoreForEditor(TRUE);
    SetFocus(g_editor.tree);
    UpdateEditorCommands(nullptr);
    ApplyEditorDpi(window);
    g_editor.clipboard.kind = -1;
    return 0;
}

void LayoutEditor(HWND window)
{
    if (g_editor.toolbar)
        SendMessageW(g_editor.toolbar, WM_SIZE, 0, 0);
    RECT client;
    GetClientRect(window, &client);
    int width = client.right, height = client.bottom;
    int top = 0;
    if (g_editor.toolbar && IsWindowVisible(g_editor.toolbar)) {
        RECT bar;
        GetWindowRect(g_editor.toolbar, &bar);
        top = bar.bottom - bar.top;
    }
    // A width from a damaged ini.dat is clamped at load; the pane never gets a negative width.
    int treeWidth = ScaleToDpi(g_ini.treeWidth, g_editor.dpi);
    int gap = ScaleToDpi(SPLITTER_GAP, g_editor.dpi);
    int paneWidth = width - treeWidth - gap;
    if (paneWidth < 0)
        paneWidth = 0;
    HDWP batch = BeginDeferWindowPos(2);
    if (batch && g_editor.tree)
        batch = DeferWindowPos(batch, g_editor.tree, nullptr, 0, top, treeWidth, height - top, SWP_SHOWWINDOW);
    if (batch && g_editor.pane)
        batch = DeferWindowPos(batch, g_editor.pane, nullptr, treeWidth + gap, top, paneWidth, height - top,
                               SWP_SHOWWINDOW);
    if (batch)
        EndDeferWindowPos(batch);
}

int ClampSplitterX(int cursorX, const RECT &windowRect, int frameWidth, int dpi)
{
    // The margins are pixels at 100 %, so that the splitter keeps as much room at every scale.
    int leftmost = windowRect.left + frameWidth + ScaleToDpi(10, dpi);
    int rightmost = windowRect.right - frameWidth - ScaleToDpi(14, dpi);
    if (cursorX <= leftmost)
        return leftmost;
    if (cursorX >= rightmost)
        return rightmost;
    return cursorX;
}

static BOOL OutlineIsZero()
{
    const RECT &r = g_editor.splitterOutline[0];
    return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0;
}

// A focus rectangle inverts, so drawing the same two again takes the outline away.
static void DrawSplitterOutline(HDC dc)
{
    if (OutlineIsZero())
        return;
    for (int i = 0; i < 2; i++)
        DrawFocusRect(dc, &g_editor.splitterOutline[i]);
}

static void ReleaseSplitterOutline()
{
    if (g_editor.splitterOutline)
        HeapFree(GetProcessHeap(), 0, g_editor.splitterOutline);
    g_editor.splitterOutline = nullptr;
}

static void TrackSplitter(HWND window)
{
    if (!g_editor.splitterOutline)
        return;
    POINT cursor;
    GetCursorPos(&cursor);
    RECT windowRect, treeRect = {};
    GetWindowRect(window, &windowRect);
    if (g_editor.tree)
        GetWindowRect(g_editor.tree, &treeRect);
    int x = ClampSplitterX(cursor.x, windowRect, GetSystemMetrics(SM_CXFRAME), g_editor.dpi);
    if (x - windowRect.left == g_editor.splitterOutline[0].left)
        return;
    HDC dc = GetWindowDC(window);
    if (!dc)
        return;
    DrawSplitterOutline(dc);
    for (int i = 0; i < 2; i++) {
        RECT *r = &g_editor.splitterOutline[i];
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
    if (GetForegroundWindow() != window || g_editor.splitterDragging)
        return;
    if (!g_editor.splitterOutline)
        g_editor.splitterOutline = (RECT *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 2 * sizeof(RECT));
    if (!g_editor.splitterOutline)
        return;
    SetCapture(window);
    g_editor.splitterDragging = 1;
    TrackSplitter(window);
    SetTimer(window, TIMER_SPLITTER, 1, nullptr);
}

static void EndSplitterDrag(HWND window)
{
    KillTimer(window, TIMER_SPLITTER);
    g_editor.splitterDragging = 0;
    if (!g_editor.splitterOutline || OutlineIsZero()) {
        ReleaseSplitterOutline();
        ReleaseCapture();
        return;
    }
    HDC dc = GetWindowDC(window);
    if (dc) {
        DrawSplitterOutline(dc);
        ReleaseDC(window, dc);
    }
    int width = g_editor.splitterOutline[0].left - GetSystemMetrics(SM_CXFRAME);
    ReleaseSplitterOutline();
    ReleaseCapture();
    g_ini.treeWidth = ScaleToStored(width, g_editor.dpi);
    LayoutEditor(window);
}

static void CancelSplitterDragIfLost(HWND window)
{
    if (GetForegroundWindow() == window && GetAsyncKeyState(VK_ESCAPE) >= 0 && GetAsyncKeyState(VK_RBUTTON) >= 0)
        return;
    KillTimer(window, TIMER_SPLITTER);
    ReleaseSplitterOutline();
    ReleaseCapture();
    g_editor.splitterDragging = 0;
    // A repaint, not a second focus rectangle, takes the outline away.
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
}

static void OnEditorTimer(HWND window, WPARAM timerId)
{
    if (timerId == TIMER_SPLITTER && g_editor.splitterDragging)
        CancelSplitterDragIfLost(window);
}

static void OnEditorMouseMove(HWND window)
{
    if (g_editor.splitterDragging)
        TrackSplitter(window);
    TrackTreeDrag(window);
}

static void OnEditorLButtonUp(HWND window)
{
    if (g_editor.splitterDragging)
        EndSplitterDrag(window);
    DropTreeDrag(window);
}

void CommitPendingEditorEdit()
{
    if (g_editor.window && g_editor.textEdit && SendMessageW(g_editor.textEdit, EM_GETMODIFY, 0, 0)) {
        CommitEditPane();
        SendMessageW(g_editor.textEdit, EM_SETMODIFY, FALSE, 0);
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
    placement.rcNormalPosition = ScaleRect(placement.rcNormalPosition, SystemDpi(), BASE_DPI);
    g_ini.editorPlacement = placement;
}

void PrepareEditorForSave()
{
    if (!g_editor.window)
        return;
    // Ending the edit now sends TVN_ENDLABELEDIT with the typed name, as Enter would.
    if (g_editor.tree && SendMessageW(g_editor.tree, TVM_GETEDITCONTROL, 0, 0))
        SendMessageW(g_editor.tree, TVM_ENDEDITLABELNOW, FALSE, 0);
    CommitPendingEditorEdit();
    RecordEditorPlacement(g_editor.window);
}

// Closing the editor writes both files, so that what was edited survives a crash later on.
static void OnEditorClose(HWND window)
{
    PrepareEditorForSave();
    if (g_editor.imageList)
        ImageList_Destroy(g_editor.imageList);
    g_editor.imageList = nullptr;
    DestroyWindow(window);
    if (g_editor.hub)
        SendMessageW(g_editor.hub, WM_EDITOR_CLOSED, 0, 0);
}

// Activation gives the keyboard focus to the frame itself, where no key does anything; the
// focus goes on to the pane that had it when the editor was left (the tree at first), so that
// the keyboard alone keeps working after the user comes back from another window.
static void OnEditorActivate(HWND window, WPARAM wParam)
{
    HWND focus = GetFocus();
    if (LOWORD(wParam) == WA_INACTIVE && focus && IsChild(window, focus))
        g_editor.focus = focus;
}

static void OnEditorSetFocus(HWND window)
{
    HWND target = g_editor.focus;
    if (!target || !IsWindow(target) || !IsChild(window, target) || !IsWindowEnabled(target))
        target = g_editor.tree;
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
    if (g_editor.imageList)
        ImageList_Destroy(g_editor.imageList);
    g_editor.imageList = nullptr;
    if (g_editor.toolbarImages)
        ImageList_Destroy(g_editor.toolbarImages);
    g_editor.toolbarImages = nullptr;
    if (g_editor.font)
        DeleteObject(g_editor.font);
    g_editor.font = nullptr;
    if (g_editor.treeFont)
        DeleteObject(g_editor.treeFont);
    g_editor.treeFont = nullptr;
    g_editor.splitterDragging = 0;
    g_editor.treeDragging = 0;
    g_editor.dragItem = nullptr;
    g_editor.window = g_editor.toolbar = g_editor.tree = g_editor.pane = g_editor.textEdit = g_editor.focus = nullptr;
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
    case WM_DPICHANGED:
        OnEditorDpiChanged(window, wParam, lParam);
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

// g_editor.textEdit keeps the EDIT class behaviour and adds two keys: F6 goes back to the tree, Ctrl+A
// selects the whole text.
static LRESULT CALLBACK TextEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYDOWN && wParam == VK_F6)
        SetFocus(GetDlgItem(GetParent(GetParent(window)), IDC_EDITOR_TREE));
    else if (message == WM_KEYDOWN && wParam == 'A' && GetKeyState(VK_CONTROL) < 0)
        SendMessageW(window, EM_SETSEL, 0, -1);
    return CallWindowProcW(g_editor.textEditPrevProc, window, message, wParam, lParam);
}

static LRESULT OnTextPaneCreate(HWND window)
{
    HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", nullptr,
                                WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, 0, 0, 0,
                                0, window, (HMENU)IDC_EDITOR_TEXT, GetModuleHandleW(nullptr), nullptr);
    if (edit) {
        g_editor.textEditPrevProc = (WNDPROC)GetWindowLongPtrW(edit, GWLP_WNDPROC);
        SetWindowLongPtrW(edit, GWLP_WNDPROC, (LONG_PTR)TextEditProc);
    }
    return 0;
}

LRESULT CALLBACK TextPaneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnTextPaneCreate(window);
    case WM_SIZE:
        MoveWindow(GetDlgItem(window, IDC_EDITOR_TEXT), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
