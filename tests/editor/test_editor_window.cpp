// The editor window itself: children, command states, keys of the text pane, the splitter and
// the remembered placement.
#include <doctest/doctest.h>
#include "editor_test_util.h"
#include "res/resource.h"
#include "shell/shell.h"
#include "state/data_files.h"
#include "state/ini_data.h"
#include "test_util.h"

static std::string ClassOf(HWND window)
{
    WCHAR name[64] = {};
    GetClassNameW(window, name, 64);
    return U8(name);
}

static std::vector<std::string> CreatedClasses;

static LRESULT CALLBACK RecordCreation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        WCHAR name[64] = {};
        GetClassNameW((HWND)wParam, name, 64);
        CreatedClasses.push_back(U8(name));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

static int FirstCreated(const char *className)
{
    for (size_t i = 0; i < CreatedClasses.size(); i++)
        if (CreatedClasses[i] == className)
            return (int)i;
    return -1;
}

TEST_CASE("the editor window and its children have their classes, ids and styles")
{
    ResetEditorState();
    CreatedClasses.clear();
    HHOOK hook = SetWindowsHookExW(WH_CBT, RecordCreation, nullptr, GetCurrentThreadId());
    HWND window = OpenTestEditor();
    UnhookWindowsHookEx(hook);
    REQUIRE(window);
    // Created in this order: the window, toolbar, its tooltips, tree, pane, and the edit control.
    CHECK(FirstCreated("tavoDataEditClass") == 0);
    CHECK(FirstCreated("ToolbarWindow32") > 0);
    CHECK(FirstCreated("tooltips_class32") > FirstCreated("ToolbarWindow32"));
    CHECK(FirstCreated("SysTreeView32") > FirstCreated("tooltips_class32"));
    CHECK(FirstCreated("tavoDataEditRClass") > FirstCreated("SysTreeView32"));
    CHECK(FirstCreated("Edit") > FirstCreated("tavoDataEditRClass"));
    CHECK(window == g_editor.window);
    CHECK(FindWindowW(L"tavoDataEditClass", L"データ編集") == window);
    CHECK((GetWindowLongW(window, GWL_STYLE) & WS_OVERLAPPEDWINDOW) == WS_OVERLAPPEDWINDOW);
    CHECK(GetParent(window) == nullptr);
    CHECK(GetMenu(window) != nullptr);

    REQUIRE(g_editor.toolbar);
    CHECK(GetDlgItem(window, 2007) == g_editor.toolbar);
    CHECK(ClassOf(g_editor.toolbar) == "ToolbarWindow32");
    CHECK((GetWindowLongW(g_editor.toolbar, GWL_STYLE) & (WS_CHILD | CCS_TOP | TBSTYLE_FLAT)) == (WS_CHILD | CCS_TOP | TBSTYLE_FLAT));
    CHECK(IsWindowVisible(g_editor.toolbar));
    CHECK(SendMessageW(g_editor.toolbar, TB_BUTTONCOUNT, 0, 0) == 10);
    const int commands[10] = {0, 40012, 40008, 40009, 40010, 40011, 0, 40019, 40018, 0};
    const int images[10] = {0, 0, 1, 2, 3, 4, 0, 5, 6, 0};
    for (int i = 0; i < 10; i++) {
        TBBUTTON button = {};
        SendMessageW(g_editor.toolbar, TB_GETBUTTON, i, (LPARAM)&button);
        CHECK_MESSAGE(button.idCommand == commands[i], "button ", i);
        if (commands[i])
            CHECK_MESSAGE(button.iBitmap == images[i], "button ", i);
        CHECK((button.fsStyle & TBSTYLE_SEP) == (commands[i] ? 0 : TBSTYLE_SEP));
    }
    HWND tips = (HWND)SendMessageW(g_editor.toolbar, TB_GETTOOLTIPS, 0, 0);
    REQUIRE(tips);
    CHECK(ClassOf(tips) == "tooltips_class32");
    CHECK(SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0) == 10);
    // The tooltip of the Cut button is the string resource numbered like the command.
    WCHAR text[80] = {};
    TOOLINFOW tool = {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = g_editor.toolbar;
    tool.uId = 40008;
    tool.lpszText = text;
    REQUIRE(SendMessageW(tips, TTM_GETTOOLINFOW, 0, (LPARAM)&tool));
    CHECK(tool.lpszText == MAKEINTRESOURCEW(40008));
    CHECK(tool.hinst == g_appInstance);

    CHECK(GetDlgItem(window, 2005) == g_editor.tree);
    CHECK(ClassOf(g_editor.tree) == "SysTreeView32");
    CHECK((DWORD)GetWindowLongW(g_editor.tree, GWL_STYLE) == (WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES |
                                                           TVS_LINESATROOT | TVS_EDITLABELS | TVS_SHOWSELALWAYS));
    CHECK((GetWindowLongW(g_editor.tree, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0);
    HIMAGELIST images16 = TreeView_GetImageList(g_editor.tree, TVSIL_NORMAL);
    REQUIRE(images16);
    CHECK(ImageList_GetImageCount(images16) == 3);
    CHECK(GetFocus() == g_editor.tree);

    CHECK(GetDlgItem(window, 2008) == g_editor.pane);
    CHECK(ClassOf(g_editor.pane) == "tavoDataEditRClass");
    CHECK((GetWindowLongW(g_editor.pane, GWL_STYLE) & 0xFFFF0000) == (WS_CHILD | WS_VISIBLE | WS_TABSTOP));
    CHECK(GetDlgItem(g_editor.pane, 2006) == g_editor.textEdit);
    CHECK(ClassOf(g_editor.textEdit) == "Edit");
    const DWORD editStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
    CHECK(((DWORD)GetWindowLongW(g_editor.textEdit, GWL_STYLE) & editStyle) == editStyle);
    CHECK((GetWindowLongW(g_editor.textEdit, GWL_STYLE) & (WS_HSCROLL | ES_AUTOHSCROLL)) == 0);
    CHECK((HFONT)SendMessageW(g_editor.textEdit, WM_GETFONT, 0, 0) == (HFONT)GetStockObject(DEFAULT_GUI_FONT));

    // Layout: the tree under the toolbar with treeWidth, the pane 4 pixels further.
    RECT client, bar, tree, pane;
    GetClientRect(window, &client);
    GetWindowRect(g_editor.toolbar, &bar);
    GetWindowRect(g_editor.tree, &tree);
    GetWindowRect(g_editor.pane, &pane);
    MapWindowPoints(nullptr, window, (POINT *)&tree, 2);
    MapWindowPoints(nullptr, window, (POINT *)&pane, 2);
    CHECK(tree.left == 0);
    CHECK(tree.top == bar.bottom - bar.top);
    CHECK(tree.right == 200);
    CHECK(tree.bottom == client.bottom);
    CHECK(pane.left == 204);
    CHECK(pane.right == client.right);

    // A second editor is refused while this one exists, without a window being made here;
    // the message box of that case is covered by the end-to-end test.
    CloseTestEditor();
    CHECK(FindWindowW(L"tavoDataEditClass", nullptr) == nullptr);
}

static BOOL ButtonEnabled(int command)
{
    return SendMessageW(g_editor.toolbar, TB_ISBUTTONENABLED, command, 0) != 0;
}

static BOOL MenuItemEnabled(HMENU menu, int command)
{
    return (GetMenuState(menu, command, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED)) == 0;
}

struct CommandStates {
    BOOL add, cut, copy, paste, del, up, down;
};

// Reads the toolbar and, after WM_INITMENUPOPUP, both popups of the menu bar; both must agree.
static CommandStates ReadCommandStates()
{
    HMENU bar = GetMenu(g_editor.window);
    SendMessageW(g_editor.window, WM_INITMENUPOPUP, (WPARAM)GetSubMenu(bar, 0), 0);
    SendMessageW(g_editor.window, WM_INITMENUPOPUP, (WPARAM)GetSubMenu(bar, 1), 1);
    CommandStates s = {ButtonEnabled(40012), ButtonEnabled(40008), ButtonEnabled(40009), ButtonEnabled(40010),
                       ButtonEnabled(40011), ButtonEnabled(40019), ButtonEnabled(40018)};
    CHECK(MenuItemEnabled(bar, 40017) == s.add);
    CHECK(MenuItemEnabled(bar, 40013) == s.cut);
    CHECK(MenuItemEnabled(bar, 40014) == s.copy);
    CHECK(MenuItemEnabled(bar, 40015) == s.paste);
    CHECK(MenuItemEnabled(bar, 40016) == s.del);
    CHECK(MenuItemEnabled(bar, 40020) == s.up);
    CHECK(MenuItemEnabled(bar, 40021) == s.down);
    return s;
}

TEST_CASE("commands are enabled by the focus, the selection and both clipboards")
{
    ResetEditorState();
    ItemStore::Insert(Registered, L"name", L"some text");
    EmptyClipboardNow();
    REQUIRE(OpenTestEditor());
    HTREEITEM registered = GroupNode(1);

    SUBCASE("tree focus")
    {
        SelectTreeItem(registered);
        CommandStates s = ReadCommandStates();
        CHECK(s.add);
        CHECK(!s.cut);
        CHECK(!s.copy);
        CHECK(!s.del);
        CHECK(!s.up);
        CHECK(!s.down);
        CHECK(!s.paste);

        SelectTreeItem(TreeView_GetChild(g_editor.tree, registered));
        s = ReadCommandStates();
        CHECK(s.add);
        CHECK(s.cut);
        CHECK(s.copy);
        CHECK(s.del);
        CHECK(s.up);
        CHECK(s.down);
        CHECK(!s.paste);

        Command(IDM_EDITOR_COPY);
        s = ReadCommandStates();
        CHECK(s.paste);
    }
    SUBCASE("text focus")
    {
        SelectTreeItem(TreeView_GetChild(g_editor.tree, registered));
        PressKey(VK_F6);
        REQUIRE(GetFocus() == g_editor.textEdit);
        SendMessageW(g_editor.textEdit, EM_SETSEL, 0, 0);
        CommandStates s = ReadCommandStates();
        CHECK(!s.add);
        CHECK(!s.up);
        CHECK(!s.down);
        CHECK(!s.cut);
        CHECK(!s.copy);
        CHECK(!s.del);
        CHECK(!s.paste);

        SendMessageW(g_editor.textEdit, EM_SETSEL, 0, 4);
        PutClipboardText(nullptr, L"on the clipboard");
        s = ReadCommandStates();
        CHECK(s.cut);
        CHECK(s.copy);
        CHECK(s.del);
        CHECK(s.paste);
        CHECK(!s.add);

        // Commands act on the text pane while it has the focus: the tree is left alone.
        Command(IDT_COPY);
        CHECK(U8(TakeClipboardText()) == "some");
        Command(IDM_EDITOR_DELETE);
        CHECK(EditText() == " text");
        CHECK(ItemStore::CountKind(Registered) == 1);
        EmptyClipboardNow();
    }
    CloseTestEditor();
}

TEST_CASE("F6 moves between the panes and Ctrl+A selects the whole text")
{
    ResetEditorState();
    ItemStore::Insert(Registered, L"name", L"line one\r\nline two");
    REQUIRE(OpenTestEditor());
    SelectTreeItem(TreeView_GetChild(g_editor.tree, GroupNode(1)));
    REQUIRE(GetFocus() == g_editor.tree);
    PressKey(VK_F6);
    CHECK(GetFocus() == g_editor.textEdit);
    SendMessageW(g_editor.textEdit, EM_SETSEL, 3, 3);
    PressCtrlKey('A');
    DWORD start = 0, end = 0;
    SendMessageW(g_editor.textEdit, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    CHECK(start == 0);
    CHECK(end == (DWORD)GetWindowTextLengthW(g_editor.textEdit));
    CHECK(EditText() == "line one\r\nline two");  // the key changed nothing else
    PressKey(VK_TAB);  // no dialog navigation: Tab stays in the pane
    CHECK(GetFocus() == g_editor.textEdit);
    PressKey(VK_F6);
    CHECK(GetFocus() == g_editor.tree);
    CloseTestEditor();
}

static void ActivateAnotherWindowAndBack()
{
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                 g_appInstance, nullptr);
    SetForegroundWindow(other);
    WaitUntil([&] { return GetForegroundWindow() == other; }, 1000);
    SetForegroundWindow(g_editor.window);
    WaitUntil([&] { return GetForegroundWindow() == g_editor.window; }, 1000);
    DestroyWindow(other);
    PumpFor(20);
}

TEST_CASE("coming back to the editor gives the keyboard to the pane that had it")
{
    ResetEditorState();
    ItemStore::Insert(Registered, L"name", L"text");
    REQUIRE(OpenTestEditor());
    CHECK(GetFocus() == g_editor.tree);  // a new editor takes keys in its tree
    SelectTreeItem(TreeView_GetChild(g_editor.tree, GroupNode(1)));
    PressKey(VK_F6);
    REQUIRE(GetFocus() == g_editor.textEdit);
    ActivateAnotherWindowAndBack();
    CHECK(GetFocus() == g_editor.textEdit);
    PressKey(VK_F6);
    ActivateAnotherWindowAndBack();
    CHECK(GetFocus() == g_editor.tree);
    CloseTestEditor();
}

static POINT SplitterPoint()
{
    RECT tree;
    GetWindowRect(g_editor.tree, &tree);
    return {tree.right + 2, (tree.top + tree.bottom) / 2};
}

// Presses on the splitter gap, moves the cursor to screen x and releases.
static void DragSplitter(int screenX)
{
    POINT press = SplitterPoint();
    POINT client = press;
    ScreenToClient(g_editor.window, &client);
    SetCursorPos(press.x, press.y);
    SendMessageW(g_editor.window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(client.x, client.y));
    SetCursorPos(screenX, press.y);
    SendMessageW(g_editor.window, WM_MOUSEMOVE, MK_LBUTTON, 0);
    SendMessageW(g_editor.window, WM_LBUTTONUP, 0, 0);
}

TEST_CASE("the splitter sets the tree width within its limits")
{
    ResetEditorState();
    REQUIRE(OpenTestEditor());
    MoveWindow(g_editor.window, 100, 100, 600, 400, TRUE);
    PumpFor(30);
    REQUIRE(GetForegroundWindow() == g_editor.window);
    RECT window;
    GetWindowRect(g_editor.window, &window);
    int frame = GetSystemMetrics(SM_CXFRAME);

    SUBCASE("within the limits the tree follows the cursor")
    {
        DragSplitter(window.left + frame + 150);
        CHECK(g_ini.treeWidth == 150);
        RECT tree;
        GetWindowRect(g_editor.tree, &tree);
        CHECK(tree.right - tree.left == 150);
        CHECK(g_editor.splitterDragging == 0);
        CHECK(GetCapture() == nullptr);
        CHECK(g_editor.splitterOutline == nullptr);
    }
    SUBCASE("past the left edge")
    {
        DragSplitter(0);
        CHECK(g_ini.treeWidth == 10);
    }
    SUBCASE("past the right edge")
    {
        DragSplitter(window.right + 100);
        CHECK(g_ini.treeWidth == 600 - 2 * frame - 14);
        RECT pane;
        GetWindowRect(g_editor.pane, &pane);
        CHECK(pane.left - window.left == frame + 600 - 2 * frame - 14 + 4);
    }
    SUBCASE("losing the foreground cancels the drag and keeps the width")
    {
        POINT press = SplitterPoint();
        SetCursorPos(press.x, press.y);
        SendMessageW(g_editor.window, WM_LBUTTONDOWN, MK_LBUTTON, 0);
        CHECK(g_editor.splitterDragging == 1);
        CHECK(GetCapture() == g_editor.window);
        CHECK(g_editor.splitterOutline != nullptr);
        SetCursorPos(press.x + 80, press.y);
        SendMessageW(g_editor.window, WM_MOUSEMOVE, MK_LBUTTON, 0);
        HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                     g_appInstance, nullptr);
        SetForegroundWindow(other);
        CHECK(WaitUntil([] { return g_editor.splitterDragging == 0; }, 1000));
        CHECK(GetCapture() == nullptr);
        CHECK(g_editor.splitterOutline == nullptr);
        SendMessageW(g_editor.window, WM_LBUTTONUP, 0, 0);
        CHECK(g_ini.treeWidth == 200);
        DestroyWindow(other);
    }
    SUBCASE("no drag starts while another window is in the foreground")
    {
        HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                     g_appInstance, nullptr);
        SetForegroundWindow(other);
        WaitUntil([&] { return GetForegroundWindow() == other; }, 1000);
        DragSplitter(window.left + 60);
        CHECK(g_ini.treeWidth == 200);
        CHECK(g_editor.splitterDragging == 0);
        DestroyWindow(other);
    }
    CloseTestEditor();
}

TEST_CASE("closing records the placement, and the next opening uses it")
{
    ResetEditorState();
    REQUIRE(OpenTestEditor());
    CHECK(g_ini.editorPlacement.showCmd == 0);
    MoveWindow(g_editor.window, 120, 90, 500, 350, TRUE);
    PumpFor(20);

    SUBCASE("closed minimised: back in the normal state at the normal rectangle")
    {
        ShowWindow(g_editor.window, SW_MINIMIZE);
        PumpFor(50);
        REQUIRE(IsIconic(g_editor.window));
        CloseTestEditor();
        CHECK(g_ini.editorPlacement.length == sizeof(WINDOWPLACEMENT));
        CHECK(g_ini.editorPlacement.showCmd == SW_SHOW);
        RECT normal = g_ini.editorPlacement.rcNormalPosition;
        CHECK(normal.right - normal.left == 500);
        CHECK(normal.bottom - normal.top == 350);
        REQUIRE(OpenTestEditor());
        CHECK(!IsIconic(g_editor.window));
        CHECK(!IsZoomed(g_editor.window));
        CHECK(IsWindowVisible(g_editor.window));
        WINDOWPLACEMENT now = {};
        now.length = sizeof(now);
        GetWindowPlacement(g_editor.window, &now);
        CHECK(now.rcNormalPosition.left == normal.left);
        CHECK(now.rcNormalPosition.top == normal.top);
        CHECK(now.rcNormalPosition.right == normal.right);
        CHECK(now.rcNormalPosition.bottom == normal.bottom);
    }
    SUBCASE("closed maximised: opens maximised")
    {
        ShowWindow(g_editor.window, SW_MAXIMIZE);
        PumpFor(50);
        REQUIRE(IsZoomed(g_editor.window));
        Command(IDM_EDITOR_CLOSE);
        CHECK(g_editor.window == nullptr);
        CHECK(g_ini.editorPlacement.showCmd == SW_SHOWMAXIMIZED);
        REQUIRE(OpenTestEditor());
        CHECK(IsZoomed(g_editor.window));
        RECT normal = g_ini.editorPlacement.rcNormalPosition;
        CHECK(normal.right - normal.left == 500);
    }
    CloseTestEditor();
}

TEST_CASE("the editor clipboard is emptied when the editor goes")
{
    ResetEditorState();
    ItemStore::Insert(Registered, L"n", L"t");
    REQUIRE(OpenTestEditor());
    SelectTreeItem(TreeView_GetChild(g_editor.tree, GroupNode(1)));
    Command(IDM_EDITOR_COPY);
    CHECK(g_editor.clipboard.kind == Registered);
    CloseTestEditor();
    CHECK(g_editor.clipboard.text == nullptr);
    CHECK(g_editor.clipboard.name == nullptr);
    REQUIRE(OpenTestEditor());
    CHECK(g_editor.clipboard.kind == -1);
    SelectTreeItem(GroupNode(1));
    Command(IDM_EDITOR_PASTE);
    CHECK(ItemStore::Size() == 1);
    CloseTestEditor();
}

// Holds the clipboard open from a thread of its own, as another program may for a while.
struct ClipboardHolder {
    HANDLE opened, release, thread;
    static DWORD WINAPI Hold(void *parameter)
    {
        ClipboardHolder *holder = (ClipboardHolder *)parameter;
        // Opened for a window: Wine lets any thread reopen a clipboard that was opened for none.
        HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        BOOL open = FALSE;
        for (int i = 0; i < 100 && !open; i++)
            if (!(open = OpenClipboard(window)))
                Sleep(10);
        SetEvent(holder->opened);
        WaitForSingleObject(holder->release, 30000);
        if (open)
            CloseClipboard();
        DestroyWindow(window);
        return 0;
    }
    ClipboardHolder()
    {
        opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread = CreateThread(nullptr, 0, Hold, this, 0, nullptr);
        WaitForSingleObject(opened, 5000);
    }
    ~ClipboardHolder()
    {
        SetEvent(release);
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
        CloseHandle(opened);
        CloseHandle(release);
    }
};

TEST_CASE("Paste in the text pane follows the clipboard without opening it, also while another holds it open")
{
    ResetEditorState();
    ItemStore::Insert(Registered, L"name", L"some text");
    REQUIRE(PutClipboardText(nullptr, L"text to paste"));
    REQUIRE(OpenTestEditor());
    SelectTreeItem(TreeView_GetChild(g_editor.tree, GroupNode(1)));
    PressKey(VK_F6);
    REQUIRE(GetFocus() == g_editor.textEdit);
    {
        ClipboardHolder holder;
        REQUIRE(!OpenClipboard(nullptr));  // really held
        DWORD start = GetTickCount();
        CommandStates s = ReadCommandStates();
        DWORD took = GetTickCount() - start;
        CHECK(s.paste);
        MESSAGE("command states read in " << took << " ms while the clipboard was held");
    }
    EmptyClipboardNow();
    CHECK_FALSE(ReadCommandStates().paste);
    CloseTestEditor();
}

static BOOL CALLBACK FindTavoBox(HWND window, LPARAM found)
{
    WCHAR name[16], title[16];
    GetClassNameW(window, name, 16);
    GetWindowTextW(window, title, 16);
    if (lstrcmpW(name, L"#32770") == 0 && lstrcmpW(title, L"tavo") == 0 && IsWindowVisible(window)) {
        *(HWND *)found = window;
        return FALSE;
    }
    return TRUE;
}

// Answers the one warning box of this thread that appears while a call runs, from a thread of its own.
struct BoxAnswerer {
    DWORD threadId;
    std::wstring text;
    bool cancelShown = true;
    HANDLE thread;
    static DWORD WINAPI Watch(void *parameter)
    {
        BoxAnswerer *self = (BoxAnswerer *)parameter;
        for (int i = 0; i < 1000; i++) {
            HWND box = nullptr;
            EnumThreadWindows(self->threadId, FindTavoBox, (LPARAM)&box);
            if (box) {
                WCHAR text[256] = {};
                GetDlgItemTextW(box, 0xFFFF, text, 256);
                self->text = text;
                HWND cancel = GetDlgItem(box, IDCANCEL);
                self->cancelShown = cancel && IsWindowVisible(cancel);
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                return 0;
            }
            Sleep(10);
        }
        return 0;
    }
    BoxAnswerer() : threadId(GetCurrentThreadId())
    {
        thread = CreateThread(nullptr, 0, Watch, this, 0, nullptr);
    }
    void Wait()
    {
        WaitForSingleObject(thread, 15000);
        CloseHandle(thread);
        thread = nullptr;
    }
    ~BoxAnswerer()
    {
        if (thread) {
            TerminateThread(thread, 0);
            CloseHandle(thread);
        }
    }
};

TEST_CASE("closing the editor writes both files; a write that fails says so with OK alone")
{
    ResetEditorState();
    std::wstring dir = MakeScratchDir(L"editor_close_save");
    SetDataDirectoryForTests(dir.c_str());
    ItemId r = ItemStore::Insert(Registered, L"site", L"old text");
    REQUIRE(OpenTestEditor());
    MoveWindow(g_editor.window, 60, 70, 520, 360, TRUE);
    SelectTreeItem(TreeView_GetChild(g_editor.tree, GroupNode(1)));

    SUBCASE("written")
    {
        TypeIntoTextEdit(L"new text");
        CloseTestEditor();
        std::vector<PasteRecord> saved;
        REQUIRE(ReadPasteRecords(dir + L"paste.dat", &saved));
        CHECK(saved == std::vector<PasteRecord>{{Registered, L"site", L"new text"}});
        IniData ini;
        REQUIRE(ReadIniRecord(dir + L"ini.dat", &ini));
        CHECK(ini.editorPlacement.rcNormalPosition.right - ini.editorPlacement.rcNormalPosition.left == 520);
    }
    SUBCASE("paste.dat cannot be replaced")
    {
        REQUIRE(CreateDirectoryW((dir + L"paste.dat").c_str(), nullptr));
        BoxAnswerer answerer;
        CloseTestEditor();
        answerer.Wait();
        CHECK(U8(answerer.text) == "paste.dat を保存できませんでした。\n終了するときにもう一度保存します。");
        CHECK_FALSE(answerer.cancelShown);
        CHECK(g_editor.window == nullptr);
        CHECK(TextOf(r) == "old text");
        IniData ini;
        CHECK(ReadIniRecord(dir + L"ini.dat", &ini));
    }
    SetDataDirectoryForTests(nullptr);
}

TEST_CASE("before a save with the editor open, a rename in progress ends with the typed name and the placement is recorded")
{
    ResetEditorState();
    ItemId r = ItemStore::Insert(Registered, L"old name", L"text");
    REQUIRE(OpenTestEditor());
    MoveWindow(g_editor.window, 80, 60, 540, 380, TRUE);
    PumpFor(20);
    CHECK(g_ini.editorPlacement.showCmd == 0);
    SelectTreeItem(TreeView_GetChild(g_editor.tree, GroupNode(1)));
    SetFocus(g_editor.tree);
    PressKey(VK_F2);
    HWND edit = TreeView_GetEditControl(g_editor.tree);
    REQUIRE(edit);
    SetWindowTextW(edit, L"typed, Enter never pressed");
    PrepareEditorForSave();
    CHECK(TreeView_GetEditControl(g_editor.tree) == nullptr);
    CHECK(NameOf(r) == "typed, Enter never pressed");
    CHECK(g_ini.editorPlacement.showCmd == SW_SHOWNORMAL);
    CHECK(g_ini.editorPlacement.rcNormalPosition.right - g_ini.editorPlacement.rcNormalPosition.left == 540);
    CHECK(IsWindow(g_editor.window));  // the editor stays open
    CloseTestEditor();
}

static DWORD g_idleClock;

TEST_CASE("the idle save with the editor open writes the store as it is; the typed text stays the editor's")
{
    ResetEditorState();
    std::wstring dir = MakeScratchDir(L"editor_idle_save");
    SetDataDirectoryForTests(dir.c_str());
    ItemStore::Insert(Registered, L"site", L"stored text");
    REQUIRE(OpenTestEditor());
    SelectTreeItem(TreeView_GetChild(g_editor.tree, GroupNode(1)));
    g_idleClock = 5000;
    SetIdleSaveClockForTests([] { return g_idleClock; });
    StartIdleSave(g_editor.window);
    StopIdleSave(g_editor.window);
    SetWindowTextW(g_editor.textEdit, L"typed, not stored");
    SendMessageW(g_editor.textEdit, EM_SETMODIFY, TRUE, 0);
    ItemStore::Insert(History, nullptr, L"copied");
    g_idleClock += IDLE_SAVE_GAP_MS;
    OnIdleSaveTimer(g_editor.window, TRUE);
    std::vector<PasteRecord> saved;
    REQUIRE(ReadPasteRecords(dir + L"paste.dat", &saved));
    CHECK(saved == std::vector<PasteRecord>{{Registered, L"site", L"stored text"}, {History, L"", L"copied"}});
    CHECK(EditText() == "typed, not stored");
    CHECK(SendMessageW(g_editor.textEdit, EM_GETMODIFY, 0, 0) != 0);
    SetIdleSaveClockForTests(nullptr);
    CloseTestEditor();
}
