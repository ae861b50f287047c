// The editor window itself: children, command states, keys of the text pane, the splitter and
// the remembered placement.
#include <doctest/doctest.h>
#include "editor_test_util.h"
#include "res/resource.h"
#include "shell/shell.h"
#include "state/data_files.h"
#include "state/ini_data.h"
#include "settings/settings.h"
#include "state/screen_place.h"
#include "test_util.h"
#include <map>

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
    // The tooltip of the Cut button is the string numbered like the command, in the interface language.
    WCHAR text[80] = {};
    TOOLINFOW tool = {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = g_editor.toolbar;
    tool.uId = 40008;
    tool.lpszText = text;
    REQUIRE(SendMessageW(tips, TTM_GETTOOLINFOW, 0, (LPARAM)&tool));
    CHECK(std::wstring(text) == L"切り取り");
    // The window's own menu bar, File and Edit.
    WCHAR menuText[32] = {};
    GetMenuStringW(GetMenu(window), 1, menuText, ARRAYSIZE(menuText), MF_BYPOSITION);
    CHECK(std::wstring(menuText) == L"編集(&E)");

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
    CHECK((HFONT)SendMessageW(g_editor.textEdit, WM_GETFONT, 0, 0) == g_editor.font);

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

TEST_CASE("the editor's sizes at each DPI and the splitter's stops")
{
    const struct {
        int dpi, icon, toolbarScale, toolbarWidth, toolbarHeight, itemHeight, gap, fontHeight;
    } rows[] = {
        {96, 16, 100, 30, 16, 18, 4, -11},
        {120, 20, 125, 38, 20, 24, 5, -13},
        {144, 24, 150, 45, 24, 28, 6, -16},
        {168, 24, 150, 45, 24, 28, 7, -19},
        {192, 32, 200, 60, 32, 36, 8, -21},
        {288, 48, 200, 60, 32, 54, 12, -32},
    };
    for (const auto &row : rows) {
        CAPTURE(row.dpi);
        EditorMetrics m;
        EditorMetricsForDpi(row.dpi, &m);
        CHECK(m.iconSize == row.icon);
        CHECK(m.toolbarScale == row.toolbarScale);
        CHECK(m.toolbarImageWidth == row.toolbarWidth);
        CHECK(m.toolbarImageHeight == row.toolbarHeight);
        CHECK(m.treeItemHeight == row.itemHeight);
        CHECK(m.splitterGap == row.gap);
        CHECK(m.fontHeight == row.fontHeight);
    }
    // The splitter stops 10 and 14 pixels at 100 % inside the frame, scaled like everything else.
    const RECT window = {100, 0, 900, 600};
    const struct {
        int dpi, cursor, x;
    } drags[] = {{96, 50, 114}, {96, 500, 500}, {96, 2000, 882}, {192, 50, 124}, {192, 880, 868}, {144, 885, 875}};
    for (const auto &drag : drags) {
        CAPTURE(drag.dpi);
        CAPTURE(drag.cursor);
        CHECK(ClampSplitterX(drag.cursor, window, 4, drag.dpi) == drag.x);
    }
}

static RECT ClientRectOf(HWND child)
{
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), (POINT *)&rect, 2);
    return rect;
}

TEST_CASE("WM_DPICHANGED: the editor takes the suggested rectangle and lays itself out again")
{
    ResetEditorState();
    REQUIRE(OpenTestEditor());
    HWND window = g_editor.window;
    int start = g_editor.dpi;
    LOGFONTW startFont = {};
    GetObjectW((HFONT)SendMessageW(g_editor.tree, WM_GETFONT, 0, 0), sizeof(startFont), &startFont);
    REQUIRE(startFont.lfHeight != 0);
    const struct {
        int dpi;
        RECT suggested;
    } steps[] = {{144, {50, 40, 950, 640}}, {192, {60, 50, 1260, 850}}, {start, {70, 60, 670, 460}}};
    for (const auto &step : steps) {
        CAPTURE(step.dpi);
        SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(step.dpi, step.dpi), (LPARAM)&step.suggested);
        RECT now;
        GetWindowRect(window, &now);
        CHECK(EqualRect(&now, &step.suggested));
        EditorMetrics m;
        EditorMetricsForDpi(step.dpi, &m);
        int cx = 0, cy = 0;
        REQUIRE(ImageList_GetIconSize(TreeView_GetImageList(g_editor.tree, TVSIL_NORMAL), &cx, &cy));
        CHECK(cx == m.iconSize);
        CHECK(cy == m.iconSize);
        CHECK(ImageList_GetImageCount(TreeView_GetImageList(g_editor.tree, TVSIL_NORMAL)) == 3);
        HIMAGELIST bar = (HIMAGELIST)SendMessageW(g_editor.toolbar, TB_GETIMAGELIST, 0, 0);
        REQUIRE(bar);
        REQUIRE(ImageList_GetIconSize(bar, &cx, &cy));
        CHECK(cx == m.toolbarImageWidth);
        CHECK(cy == m.toolbarImageHeight);
        CHECK(ImageList_GetImageCount(bar) == 7);
        DWORD button = (DWORD)SendMessageW(g_editor.toolbar, TB_GETBUTTONSIZE, 0, 0);
        CHECK(LOWORD(button) >= m.toolbarImageWidth);
        CHECK(HIWORD(button) >= m.toolbarImageHeight);
        CHECK(SendMessageW(g_editor.tree, TVM_GETITEMHEIGHT, 0, 0) == m.treeItemHeight);
        RECT tree = ClientRectOf(g_editor.tree), pane = ClientRectOf(g_editor.pane);
        CHECK(tree.right - tree.left == MulDiv(200, step.dpi, 96));
        CHECK(pane.left - tree.right == m.splitterGap);
        LOGFONTW font = {};
        GetObjectW((HFONT)SendMessageW(g_editor.textEdit, WM_GETFONT, 0, 0), sizeof(font), &font);
        CHECK(font.lfHeight == m.fontHeight);
        GetObjectW((HFONT)SendMessageW(g_editor.tree, WM_GETFONT, 0, 0), sizeof(font), &font);
        CHECK(abs(font.lfHeight - MulDiv(startFont.lfHeight, step.dpi, start)) <= 1);
    }
    CloseTestEditor();
}

// ---- The editor and the settings sheet at the prefix's DPI, in a process started at that DPI ----

// "name value" lines, read back as a map.
static std::map<std::string, int> ReadFigures(const std::wstring &path)
{
    std::map<std::string, int> figures;
    Bytes bytes = ReadFileBytes(path);
    std::string text(bytes.begin(), bytes.end());
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        size_t space = line.find(' ');
        if (space != std::string::npos)
            figures[line.substr(0, space)] = atoi(line.c_str() + space + 1);
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return figures;
}

static FILE *FiguresFile;
static int SheetClipped = -1, SheetOverlaps = -1, SheetControls = 0;
static std::string ScreenshotFolder;

static bool InsideRect(const RECT &inner, const RECT &outer)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right && inner.bottom <= outer.bottom;
}

// Every control of the page inside the page, the page inside the sheet, each text within its
// control, no two controls over each other (a spin over its own edit's border excepted).
static void MeasureSheetPage(HWND sheet)
{
    HWND page = (HWND)SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0);
    RECT sheetClient, area;
    GetClientRect(sheet, &sheetClient);
    MapWindowPoints(sheet, nullptr, (POINT *)&sheetClient, 2);
    GetClientRect(page, &area);
    MapWindowPoints(page, nullptr, (POINT *)&area, 2);
    SheetClipped = InsideRect(area, sheetClient) ? 0 : 1;
    fprintf(FiguresFile, "page %ld,%ld,%ld,%ld sheet %ld,%ld,%ld,%ld\n", area.left, area.top, area.right, area.bottom, sheetClient.left, sheetClient.top, sheetClient.right, sheetClient.bottom);
    SheetOverlaps = 0;
    std::vector<HWND> controls;
    for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect;
        GetWindowRect(child, &rect);
        if (!InsideRect(rect, area)) {
            SheetClipped++;
            fprintf(FiguresFile, "outside%d %ld,%ld,%ld,%ld of %ld,%ld,%ld,%ld\n", GetDlgCtrlID(child), rect.left, rect.top, rect.right, rect.bottom, area.left, area.top, area.right, area.bottom);
        }
        WCHAR text[128] = L"", name[32] = L"";
        GetWindowTextW(child, text, 128);
        GetClassNameW(child, name, 32);
        if (lstrcmpiW(name, L"Static") == 0 && text[0]) {
            HDC dc = GetDC(child);
            HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageW(child, WM_GETFONT, 0, 0));
            SIZE extent;
            GetTextExtentPoint32W(dc, text, lstrlenW(text), &extent);
            SelectObject(dc, old);
            ReleaseDC(child, dc);
            RECT client;
            GetClientRect(child, &client);
            if (extent.cx > client.right || extent.cy > client.bottom) {
                SheetClipped++;
                fprintf(FiguresFile, "textcut%d %ld,%ld in %ld,%ld\n", GetDlgCtrlID(child), extent.cx, extent.cy, client.right, client.bottom);
            }
        }
        if ((GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX && lstrcmpiW(name, L"Button") == 0)
            continue;  // the frame around the others
        controls.push_back(child);
    }
    for (size_t i = 0; i < controls.size(); i++)
        for (size_t j = i + 1; j < controls.size(); j++) {
            if ((HWND)SendMessageW(controls[j], UDM_GETBUDDY, 0, 0) == controls[i] ||
                (HWND)SendMessageW(controls[i], UDM_GETBUDDY, 0, 0) == controls[j])
                continue;
            RECT a, b, common;
            GetWindowRect(controls[i], &a);
            GetWindowRect(controls[j], &b);
            if (IntersectRect(&common, &a, &b))
                SheetOverlaps++;
        }
    SheetControls = (int)controls.size();
}

static void CALLBACK InspectSheet(HWND, UINT, UINT_PTR timer, DWORD)
{
    if (!g_settingsSheet || !IsWindowVisible(g_settingsSheet))
        return;
    KillTimer(nullptr, timer);
    MeasureSheetPage(g_settingsSheet);
    if (!ScreenshotFolder.empty()) {
        RedrawWindow(g_settingsSheet, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        PumpFor(200);
        SaveWindowPicture(g_settingsSheet, ScreenshotFolder + "\\settings-sheet.bmp");
    }
    PostMessageW(g_settingsSheet, WM_COMMAND, IDCANCEL, 0);
}

// argv: the figures file, and optionally a folder for pictures of both windows.
TEST_CHILD(scaled_layout)
{
    if (argc < 1 || !(FiguresFile = fopen(argv[0], "w")))
        return 1;
    ScreenshotFolder = argc >= 2 ? argv[1] : "";
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_UPDOWN_CLASS | ICC_HOTKEY_CLASS};
    InitCommonControlsEx(&controls);
    RegisterEditorClasses(GetModuleHandleW(nullptr));
    SetDefaultIniData(&g_ini);
    g_ini.treeWidth = 200;
    ItemStore::Insert(History, L"", L"コピーした文章");
    ItemStore::Insert(Registered, L"サイト名", L"ログインID\r\nパスワード");
    HWND editor = OpenEditorWindow(nullptr);
    if (!editor)
        return 1;
    SetWindowPos(editor, nullptr, 40, 40, MulDiv(520, g_editor.dpi, 96), MulDiv(360, g_editor.dpi, 96), SWP_NOZORDER);
    TreeView_Expand(g_editor.tree, TreeView_GetRoot(g_editor.tree), TVE_EXPAND);
    TreeView_Expand(g_editor.tree, TreeView_GetNextSibling(g_editor.tree, TreeView_GetRoot(g_editor.tree)), TVE_EXPAND);
    PumpFor(300);
    int cx = 0, cy = 0;
    fprintf(FiguresFile, "dpi %d\n", g_editor.dpi);
    ImageList_GetIconSize(TreeView_GetImageList(g_editor.tree, TVSIL_NORMAL), &cx, &cy);
    fprintf(FiguresFile, "icon %d\n", cx);
    ImageList_GetIconSize((HIMAGELIST)SendMessageW(g_editor.toolbar, TB_GETIMAGELIST, 0, 0), &cx, &cy);
    fprintf(FiguresFile, "toolbarImage %d\n", cy);
    DWORD button = (DWORD)SendMessageW(g_editor.toolbar, TB_GETBUTTONSIZE, 0, 0);
    fprintf(FiguresFile, "buttonHeight %d\n", HIWORD(button));
    fprintf(FiguresFile, "itemHeight %d\n", (int)SendMessageW(g_editor.tree, TVM_GETITEMHEIGHT, 0, 0));
    RECT tree = ClientRectOf(g_editor.tree), pane = ClientRectOf(g_editor.pane);
    fprintf(FiguresFile, "treeWidth %d\ngap %d\n", (int)(tree.right - tree.left), (int)(pane.left - tree.right));
    if (!ScreenshotFolder.empty()) {
        SetForegroundWindow(editor);
        TreeView_SelectItem(g_editor.tree, TreeView_GetChild(g_editor.tree, TreeView_GetNextSibling(g_editor.tree, TreeView_GetRoot(g_editor.tree))));
        PumpFor(300);
        SaveWindowPicture(editor, ScreenshotFolder + "\\editor.bmp");
    }
    DestroyWindow(editor);
    PumpFor(50);

    // A placement stored at 100 % opens scaled and is stored back as it was.
    g_ini.editorPlacement.length = sizeof(WINDOWPLACEMENT);
    g_ini.editorPlacement.showCmd = SW_SHOW;
    g_ini.editorPlacement.rcNormalPosition = {40, 30, 560, 390};
    editor = OpenEditorWindow(nullptr);
    if (!editor)
        return 1;
    RECT opened;
    GetWindowRect(editor, &opened);
    fprintf(FiguresFile, "placedLeft %ld\nplacedWidth %ld\n", opened.left, opened.right - opened.left);
    DestroyWindow(editor);
    const RECT &back = g_ini.editorPlacement.rcNormalPosition;
    fprintf(FiguresFile, "storedBack %d\n", back.left == 40 && back.top == 30 && back.right == 560 && back.bottom == 390);

    NOTIFYICONDATAW tray;
    FillTrayIconData(&tray, editor);
    ICONINFO icon = {};
    BITMAP picture = {};
    if (GetIconInfo(tray.hIcon, &icon)) {
        GetObjectW(icon.hbmColor, sizeof(picture), &picture);
        DeleteObject(icon.hbmColor);
        DeleteObject(icon.hbmMask);
    }
    fprintf(FiguresFile, "trayIcon %ld\n", picture.bmWidth);

    IniData copy = g_ini;
    BOOL userForm = FALSE;
    SetTimer(nullptr, 0, 100, InspectSheet);
    ShowSettingsSheet(nullptr, &copy, &userForm);
    fprintf(FiguresFile, "sheetClipped %d\nsheetOverlaps %d\nsheetControls %d\n", SheetClipped, SheetOverlaps, SheetControls);
    fclose(FiguresFile);
    return 0;
}

// The prefix's DPI while it lives; the value it had (or its absence) comes back afterwards.
struct PrefixDpi {
    HKEY key = nullptr;
    DWORD saved = 0;
    bool had = false;
    PrefixDpi()
    {
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                        nullptr);
        DWORD size = sizeof(saved), type = 0;
        had = key && RegQueryValueExW(key, L"LogPixels", nullptr, &type, (BYTE *)&saved, &size) == ERROR_SUCCESS &&
              type == REG_DWORD;
    }
    bool Set(DWORD dpi)
    {
        return key && RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, (const BYTE *)&dpi, sizeof(dpi)) == ERROR_SUCCESS;
    }
    ~PrefixDpi()
    {
        if (!key)
            return;
        if (had)
            RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, (const BYTE *)&saved, sizeof(saved));
        else
            RegDeleteValueW(key, L"LogPixels");
        RegCloseKey(key);
    }
};

TEST_CASE("at 96, 144 and 192 DPI the editor scales its pictures and sizes, and nothing of the settings sheet is cut off")
{
    std::wstring dir = MakeScratchDir(L"scaled_layout");
    // TAVO_SCREENSHOTS names a folder: the run at 144 DPI leaves pictures of both windows there.
    char pictures[MAX_PATH] = "";
    GetEnvironmentVariableA("TAVO_SCREENSHOTS", pictures, MAX_PATH);
    PrefixDpi prefix;
    for (int dpi : {96, 144, 192}) {
        CAPTURE(dpi);
        REQUIRE(prefix.Set(dpi));
        std::wstring file = dir + L"figures" + std::to_wstring(dpi) + L".txt";
        std::string args = "\"" + U8(file) + "\"";
        if (pictures[0] && dpi == 144)
            args += std::string(" \"") + pictures + "\"";
        PROCESS_INFORMATION child = {};
        REQUIRE(StartTestChild("scaled_layout", args, &child));
        CHECK(WaitExit(child, 30000) == 0);
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
        std::map<std::string, int> f = ReadFigures(file);
        EditorMetrics m;
        EditorMetricsForDpi(dpi, &m);
        CHECK(f["dpi"] == dpi);
        CHECK(f["icon"] == m.iconSize);
        CHECK(f["toolbarImage"] == m.toolbarImageHeight);
        CHECK(f["buttonHeight"] >= m.toolbarImageHeight);
        CHECK(f["itemHeight"] == m.treeItemHeight);
        CHECK(f["treeWidth"] == MulDiv(200, dpi, 96));
        CHECK(f["gap"] == m.splitterGap);
        CHECK(f["trayIcon"] == MulDiv(16, dpi, 96));
        CHECK(f["placedLeft"] == MulDiv(40, dpi, 96));
        CHECK(f["placedWidth"] == MulDiv(520, dpi, 96));
        CHECK(f["storedBack"] == 1);
        CHECK(f["sheetClipped"] == 0);
        CHECK(f["sheetOverlaps"] == 0);
        CHECK(f["sheetControls"] == 16);
    }
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
