// The editor's tree and commands, on a real editor window with the real store.
#include <doctest/doctest.h>
#include "editor_test_util.h"
#include "res/resource.h"
#include "shell/shell.h"
#include "recall/clipboard.h"
#include "state/ini_data.h"
#include "test_util.h"

static const std::wstring LongName = L"Example Bank \x2014 personal account, branch 12";  // 45 characters

static std::vector<ItemId> TreeIds(int group)
{
    std::vector<ItemId> ids;
    for (const TreeEntry &entry : Children(GroupNode(group)))
        ids.push_back(entry.id);
    return ids;
}

static std::vector<std::string> TreeLabels(int group)
{
    std::vector<std::string> labels;
    for (const TreeEntry &entry : Children(GroupNode(group)))
        labels.push_back(entry.label);
    return labels;
}

// The tree shows exactly the store's entries of that kind, newest first, each with its label.
static void CheckGroupMatchesStore(int group)
{
    ItemKind kind = group == 0 ? History : Registered;
    std::vector<TreeEntry> entries = Children(GroupNode(group));
    std::vector<ItemId> ids = StoreIdsDescending(kind);
    REQUIRE(entries.size() == ids.size());
    for (size_t i = 0; i < ids.size(); i++) {
        const Item *item = ItemStore::Find(ids[i]);
        CHECK(entries[i].id == ids[i]);
        CHECK(entries[i].image == 0);
        CHECK(entries[i].label == U8(ExpectedLabel(kind == History ? item->text : item->name, g_ini.menuItemChars)));
    }
}

static HTREEITEM EntryWithId(int group, ItemId id)
{
    for (const TreeEntry &entry : Children(GroupNode(group)))
        if (entry.id == id)
            return entry.item;
    return nullptr;
}

TEST_CASE("the tree shows both groups, newest first, with labels made by the label rules")
{
    ResetEditorState();
    ItemId h1 = ItemStore::Insert(History, nullptr, L"first copy");
    ItemId r1 = ItemStore::Insert(Registered, LongName.c_str(), L"id\r\npw");
    ItemStore::Insert(7, L"odd", L"an entry of a kind the editor does not show");
    ItemId h2 = ItemStore::Insert(History, nullptr, L"two\r\nlines\tand a tab, long enough to be cut");
    ItemId r2 = ItemStore::Insert(Registered, L"mail", L"me@example.com");
    REQUIRE(OpenTestEditor());

    HTREEITEM history = GroupNode(0), registered = GroupNode(1);
    REQUIRE(history);
    REQUIRE(registered);
    CHECK(GroupNode(2) == nullptr);
    CHECK(LabelOf(history) == "コピー履歴");
    CHECK(LabelOf(registered) == "登録データ");
    TVITEMW tv = {};
    tv.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_STATE;
    tv.stateMask = TVIS_EXPANDED;
    tv.hItem = history;
    SendMessageW(g_editor.tree, TVM_GETITEMW, 0, (LPARAM)&tv);
    CHECK(tv.iImage == 1);
    CHECK(tv.iSelectedImage == 1);
    CHECK((tv.state & TVIS_EXPANDED) == 0);
    // What a node is comes from the node itself, whatever icon it shows.
    ItemId id = -7;
    ItemKind kind = -7;
    int nodeType = -7;
    CHECK(ClassifyTreeItem(history, &id, &kind, &nodeType));
    CHECK(nodeType == NODE_HISTORY_GROUP);
    CHECK(kind == History);
    CHECK(id == 0);
    CHECK(ClassifyTreeItem(registered, &id, &kind, &nodeType));
    CHECK(nodeType == NODE_REGISTERED_GROUP);
    CHECK(kind == Registered);
    tv.hItem = registered;
    SendMessageW(g_editor.tree, TVM_GETITEMW, 0, (LPARAM)&tv);
    CHECK(tv.iImage == 2);
    CHECK((tv.state & TVIS_EXPANDED) == 0);

    CHECK(TreeIds(0) == std::vector<ItemId>{h2, h1});
    CHECK(TreeIds(1) == std::vector<ItemId>{r2, r1});
    CHECK(TreeLabels(0)[0] == "two\xE2\x86\x93lines and a tab...");
    CHECK(TreeLabels(1)[1] == U8(LongName.substr(0, 20)) + "...");
    CheckGroupMatchesStore(0);
    CheckGroupMatchesStore(1);

    // Selecting an entry shows its text; a group node leaves the pane empty and disabled.
    SelectTreeItem(EntryWithId(1, r1));
    CHECK(EditText() == "id\r\npw");
    CHECK(IsWindowEnabled(g_editor.textEdit));
    SelectTreeItem(history);
    CHECK(EditText() == "");
    CHECK(!IsWindowEnabled(g_editor.textEdit));
    CloseTestEditor();
    CHECK(g_editor.window == nullptr);
}

TEST_CASE("Add puts a new entry at the top of the group and selects it")
{
    ResetEditorState();
    ItemId h1 = ItemStore::Insert(History, nullptr, L"h1");
    ItemId r1 = ItemStore::Insert(Registered, L"r1", L"t1");
    REQUIRE(OpenTestEditor());

    SUBCASE("on a group node, by the menu command")
    {
        SelectTreeItem(GroupNode(0));
        Command(IDM_EDITOR_ADD);
        std::vector<TreeEntry> entries = Children(GroupNode(0));
        REQUIRE(entries.size() == 2);
        CHECK(entries[0].label == "(新しいコピー履歴)");
        CHECK(entries[1].id == h1);
        CHECK(ItemStore::KindOf(entries[0].id) == History);
        CHECK(TextOf(entries[0].id) == "(新しいコピー履歴)");
        CHECK(NameOf(entries[0].id) == "");
        CHECK(SelectedTreeItem() == entries[0].item);
        CHECK(EditText() == "(新しいコピー履歴)");
        CheckGroupMatchesStore(0);
    }
    SUBCASE("on an entry, by the toolbar button")
    {
        SelectTreeItem(EntryWithId(1, r1));
        Command(IDT_ADD);
        std::vector<TreeEntry> entries = Children(GroupNode(1));
        REQUIRE(entries.size() == 2);
        CHECK(entries[0].label == "(新しい登録データ)");
        CHECK(NameOf(entries[0].id) == "(新しい登録データ)");
        CHECK(TextOf(entries[0].id) == "(新しい登録データ)");
        CHECK(SelectedTreeItem() == entries[0].item);
    }
    SUBCASE("with Ctrl+A in the tree")
    {
        SelectTreeItem(GroupNode(1));
        PressCtrlKey('A');
        CHECK(ItemStore::CountKind(Registered) == 2);
        CHECK(Children(GroupNode(1))[0].label == "(新しい登録データ)");
    }
    SUBCASE("not while the text pane has the focus")
    {
        SelectTreeItem(EntryWithId(1, r1));
        SetFocus(g_editor.textEdit);
        Command(IDM_EDITOR_ADD);
        CHECK(ItemStore::Size() == 2);
    }
    CloseTestEditor();
}

TEST_CASE("Delete removes entries, never group nodes")
{
    ResetEditorState();
    ItemId h1 = ItemStore::Insert(History, nullptr, L"h1");
    ItemId h2 = ItemStore::Insert(History, nullptr, L"h2");
    REQUIRE(OpenTestEditor());
    SelectTreeItem(EntryWithId(0, h2));
    Command(IDM_EDITOR_DELETE);
    CHECK(ItemStore::Find(h2) == nullptr);
    CHECK(TreeIds(0) == std::vector<ItemId>{h1});

    SelectTreeItem(EntryWithId(0, h1));
    PressKey(VK_DELETE);
    CHECK(ItemStore::Size() == 0);
    CHECK(Children(GroupNode(0)).empty());

    SelectTreeItem(GroupNode(0));
    Command(IDT_DELETE);
    PressKey(VK_DELETE);
    CHECK(GroupNode(0) != nullptr);
    CHECK(GroupNode(1) != nullptr);

    // An entry erased behind the editor's back still leaves the tree.
    ItemId gone = ItemStore::Insert(History, nullptr, L"gone");
    CloseTestEditor();
    REQUIRE(OpenTestEditor());
    ItemStore::Erase(gone);
    HTREEITEM stale = EntryWithId(0, gone);
    REQUIRE(stale);
    SelectTreeItem(stale);
    CHECK(IsWindowEnabled(g_editor.textEdit));
    CHECK(EditText() == "");
    Command(IDM_EDITOR_DELETE);
    CHECK(Children(GroupNode(0)).empty());
    CloseTestEditor();
}

TEST_CASE("Cut then Paste moves an entry above another and renumbers the entries above it")
{
    ResetEditorState();
    const WCHAR *names[5] = {L"A", L"B", L"C", L"D", L"E"};
    ItemId ids[5];
    for (int i = 0; i < 5; i++)
        ids[i] = ItemStore::Insert(Registered, names[i], (std::wstring(L"text ") + names[i]).c_str());
    REQUIRE(OpenTestEditor());
    CHECK(TreeLabels(1) == std::vector<std::string>{"E", "D", "C", "B", "A"});

    SelectTreeItem(EntryWithId(1, ids[1]));  // B
    Command(IDT_CUT);
    CHECK(ItemStore::Find(ids[1]) == nullptr);
    CHECK(TreeLabels(1) == std::vector<std::string>{"E", "D", "C", "A"});

    SelectTreeItem(EntryWithId(1, ids[3]));  // D
    PressCtrlKey('V');
    CHECK(TreeLabels(1) == std::vector<std::string>{"E", "B", "D", "C", "A"});
    std::vector<ItemId> tree = TreeIds(1);
    CHECK(tree[2] == ids[3]);  // D and below keep their ids
    CHECK(tree[3] == ids[2]);
    CHECK(tree[4] == ids[0]);
    CHECK(tree[1] > ids[4]);  // the pasted entry is new
    CHECK(tree[0] > tree[1]);  // E was renumbered above it
    CHECK(ItemStore::Find(ids[4]) == nullptr);
    CHECK(TextOf(tree[1]) == "text B");
    CHECK(LabelOf(SelectedTreeItem()) == "B");
    CheckGroupMatchesStore(1);

    // The editor's clipboard stays filled: one copy pastes many times.
    SelectTreeItem(GroupNode(1));
    Command(IDM_EDITOR_PASTE);
    CHECK(TreeLabels(1) == std::vector<std::string>{"B", "E", "B", "D", "C", "A"});
    CheckGroupMatchesStore(1);
    CloseTestEditor();
}

TEST_CASE("Paste takes the kind of the place it goes to")
{
    ResetEditorState();
    const std::wstring historyText = L"line one\r\nline two is long enough";
    ItemId h = ItemStore::Insert(History, nullptr, historyText.c_str());
    ItemId r = ItemStore::Insert(Registered, LongName.c_str(), L"secret");
    REQUIRE(OpenTestEditor());

    SUBCASE("a copy-history entry pasted into the registered group is named after its label")
    {
        SelectTreeItem(EntryWithId(0, h));
        Command(IDM_EDITOR_COPY);
        SelectTreeItem(GroupNode(1));
        Command(IDT_PASTE);
        std::vector<TreeEntry> entries = Children(GroupNode(1));
        REQUIRE(entries.size() == 2);
        CHECK(ItemStore::KindOf(entries[0].id) == Registered);
        CHECK(NameOf(entries[0].id) == "line one\xE2\x86\x93line two i...");
        CHECK(NameOf(entries[0].id) == U8(ExpectedLabel(historyText, 20)));
        CHECK(TextOf(entries[0].id) == U8(historyText));
        CHECK(SelectedTreeItem() == entries[0].item);
    }
    SUBCASE("a registered entry pasted into the copy history keeps its text alone")
    {
        SelectTreeItem(EntryWithId(1, r));
        Command(IDM_EDITOR_COPY);
        SelectTreeItem(EntryWithId(0, h));
        Command(IDM_EDITOR_PASTE);
        std::vector<TreeEntry> entries = Children(GroupNode(0));
        REQUIRE(entries.size() == 2);
        CHECK(ItemStore::KindOf(entries[0].id) == History);
        CHECK(NameOf(entries[0].id) == "");
        CHECK(TextOf(entries[0].id) == "secret");
        CHECK(entries[0].label == "secret");
        CheckGroupMatchesStore(0);
    }
    SUBCASE("a registered entry pasted into the registered group keeps its full name")
    {
        SelectTreeItem(EntryWithId(1, r));
        Command(IDM_EDITOR_COPY);
        Command(IDM_EDITOR_PASTE);
        std::vector<TreeEntry> entries = Children(GroupNode(1));
        REQUIRE(entries.size() == 2);
        CHECK(NameOf(entries[0].id) == U8(LongName));
        CHECK(entries[0].label == U8(ExpectedLabel(LongName, 20)));
    }
    SUBCASE("Paste with an empty editor clipboard does nothing")
    {
        SelectTreeItem(GroupNode(1));
        Command(IDM_EDITOR_PASTE);
        CHECK(ItemStore::Size() == 2);
    }
    SUBCASE("Paste onto an entry that has left the store stores nothing and deletes nothing")
    {
        SelectTreeItem(EntryWithId(1, r));
        Command(IDM_EDITOR_COPY);
        HTREEITEM stale = EntryWithId(0, h);
        ItemStore::Erase(h);
        SelectTreeItem(stale);
        CHECK(EditorPaste(stale) == 0);
        CHECK(ItemStore::Size() == 1);
        CHECK(Children(GroupNode(0)).size() == 1);
    }
    CloseTestEditor();
}

TEST_CASE("Up and Down exchange contents with the neighbour; ids keep their places")
{
    ResetEditorState();
    ItemId a = ItemStore::Insert(Registered, L"A", L"text A");
    ItemId b = ItemStore::Insert(Registered, LongName.c_str(), L"text B");
    ItemId c = ItemStore::Insert(Registered, L"C", L"text C");
    ItemStore::Insert(History, nullptr, L"h");
    REQUIRE(OpenTestEditor());
    std::vector<ItemId> before = TreeIds(1);
    REQUIRE(before == std::vector<ItemId>{c, b, a});
    std::string longLabel = U8(ExpectedLabel(LongName, 20));

    SUBCASE("at the edges and on group nodes nothing moves")
    {
        SelectTreeItem(EntryWithId(1, c));
        Command(IDT_UP);
        SelectTreeItem(EntryWithId(1, a));
        Command(IDM_EDITOR_DOWN);
        SelectTreeItem(GroupNode(1));
        Command(IDM_EDITOR_UP);
        Command(IDT_DOWN);
        CHECK(TreeLabels(1) == std::vector<std::string>{"C", longLabel, "A"});
        CHECK(NameOf(c) == "C");
        CHECK(NameOf(a) == "A");
    }
    SUBCASE("down then up, the long name staying whole")
    {
        SelectTreeItem(EntryWithId(1, b));
        Command(IDT_DOWN);
        CHECK(TreeIds(1) == before);
        CHECK(TreeLabels(1) == std::vector<std::string>{"C", "A", longLabel});
        CHECK(NameOf(a) == U8(LongName));
        CHECK(TextOf(a) == "text B");
        CHECK(NameOf(b) == "A");
        CHECK(LabelOf(SelectedTreeItem()) == longLabel);
        CHECK(EditText() == "text B");

        Command(IDM_EDITOR_UP);
        Command(IDM_EDITOR_UP);
        CHECK(TreeIds(1) == before);
        CHECK(TreeLabels(1) == std::vector<std::string>{longLabel, "C", "A"});
        CHECK(NameOf(c) == U8(LongName));
        CHECK(TextOf(c) == "text B");
        CheckGroupMatchesStore(1);
    }
    SUBCASE("a pending edit goes with the moved entry and no other entry changes")
    {
        SelectTreeItem(EntryWithId(1, b));
        TypeIntoTextEdit(L"typed into B");
        REQUIRE(SendMessageW(g_editor.textEdit, EM_GETMODIFY, 0, 0));
        Command(IDT_DOWN);
        CHECK(NameOf(a) == U8(LongName));
        CHECK(TextOf(a) == "typed into B");
        CHECK(NameOf(b) == "A");
        CHECK(TextOf(b) == "text A");
        CHECK(TextOf(c) == "text C");
        CHECK(EditText() == "typed into B");

        TypeIntoTextEdit(L"again");
        Command(IDT_UP);
        CHECK(NameOf(b) == U8(LongName));
        CHECK(TextOf(b) == "again");
        CHECK(TextOf(a) == "text A");
        CHECK(TextOf(c) == "text C");
        CloseTestEditor();
        CHECK(TextOf(b) == "again");
        CHECK(TextOf(a) == "text A");
    }
    CloseTestEditor();
}

TEST_CASE("renaming with F2 stores the typed name whole")
{
    ResetEditorState();
    ItemId h = ItemStore::Insert(History, nullptr, L"history text");
    ItemId r = ItemStore::Insert(Registered, L"old", L"kept text");
    ItemId other = ItemStore::Insert(Registered, LongName.c_str(), L"other text");
    REQUIRE(OpenTestEditor());
    const std::wstring typed = L"A new name that is much longer than twenty characters";

    SelectTreeItem(EntryWithId(1, r));
    PressKey(VK_F2);
    HWND edit = TreeView_GetEditControl(g_editor.tree);
    REQUIRE(edit);
    SetWindowTextW(edit, typed.c_str());
    PressKey(VK_RETURN);
    CHECK(TreeView_GetEditControl(g_editor.tree) == nullptr);
    CHECK(NameOf(r) == U8(typed));
    CHECK(TextOf(r) == "kept text");
    CHECK(LabelOf(EntryWithId(1, r)) == U8(ExpectedLabel(typed, 20)));  // shortened again
    CHECK(NameOf(other) == U8(LongName));  // renaming one entry leaves the others alone

    // Esc cancels: nothing changes.
    PressKey(VK_F2);
    edit = TreeView_GetEditControl(g_editor.tree);
    REQUIRE(edit);
    SetWindowTextW(edit, L"never stored");
    PressKey(VK_ESCAPE);
    CHECK(NameOf(r) == U8(typed));
    CHECK(LabelOf(EntryWithId(1, r)) == U8(ExpectedLabel(typed, 20)));

    // A copy-history entry has no name: its label comes back from its text.
    SelectTreeItem(EntryWithId(0, h));
    PressKey(VK_F2);
    edit = TreeView_GetEditControl(g_editor.tree);
    REQUIRE(edit);
    SetWindowTextW(edit, L"renamed");
    PressKey(VK_RETURN);
    CHECK(LabelOf(EntryWithId(0, h)) == "history text");
    CHECK(TextOf(h) == "history text");

    // Group nodes refuse renaming.
    SelectTreeItem(GroupNode(1));
    PressKey(VK_F2);
    CHECK(TreeView_GetEditControl(g_editor.tree) == nullptr);
    CHECK(LabelOf(GroupNode(1)) == "登録データ");
    CloseTestEditor();
}

TEST_CASE("a pending edit is stored on selection change and on close")
{
    ResetEditorState();
    ItemId h = ItemStore::Insert(History, nullptr, L"old history");
    ItemId r = ItemStore::Insert(Registered, LongName.c_str(), L"old text");
    REQUIRE(OpenTestEditor());

    SelectTreeItem(EntryWithId(0, h));
    TypeIntoTextEdit(L"new history\rtext");  // Enter: the edit control stores CR LF
    CHECK(TextOf(h) == "old history");  // nothing is stored while typing
    SelectTreeItem(GroupNode(1));
    CHECK(TextOf(h) == "new history\r\ntext");
    CHECK(LabelOf(EntryWithId(0, h)) == U8(ExpectedLabel(L"new history\r\ntext", 20)));

    // Editing a registered entry's text keeps its full name.
    SelectTreeItem(EntryWithId(1, r));
    TypeIntoTextEdit(L"new text");
    SelectTreeItem(EntryWithId(0, h));
    CHECK(TextOf(r) == "new text");
    CHECK(NameOf(r) == U8(LongName));

    SelectTreeItem(EntryWithId(1, r));
    TypeIntoTextEdit(L"typed before closing");
    CloseTestEditor();
    CHECK(TextOf(r) == "typed before closing");
    CHECK(NameOf(r) == U8(LongName));
    CHECK(TextOf(h) == "new history\r\ntext");
}

// A drag as the tree reports it: the begin-drag notification, then the mouse over the target.
// Ctrl goes down before the drag starts: keys injected while the window holds the mouse
// capture do not reach the key state under Wine.
static void DragEntry(HTREEITEM from, HTREEITEM to, bool ctrl)
{
    if (ctrl) {
        KeyDown(VK_CONTROL);
        WaitUntil([] { return GetKeyState(VK_CONTROL) < 0; }, 1000);
    }
    NMTREEVIEWW info = {};
    info.hdr.hwndFrom = g_editor.tree;
    info.hdr.idFrom = IDC_EDITOR_TREE;
    info.hdr.code = TVN_BEGINDRAGW;
    info.itemNew.hItem = from;
    info.itemNew.mask = TVIF_HANDLE | TVIF_PARAM;
    SendMessageW(g_editor.window, WM_NOTIFY, IDC_EDITOR_TREE, (LPARAM)&info);
    RECT rect = {};
    if (to) {
        TreeView_GetItemRect(g_editor.tree, to, &rect, TRUE);
    } else {
        GetClientRect(g_editor.tree, &rect);
        rect.top = rect.bottom - 6;  // below every item
        rect.bottom = rect.bottom - 2;
    }
    POINT point = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    ClientToScreen(g_editor.tree, &point);
    SetCursorPos(point.x, point.y);
    SendMessageW(g_editor.window, WM_MOUSEMOVE, 0, 0);
    bool dragging = g_editor.treeDragging == 1;
    CHECK(dragging == (GetCapture() == g_editor.window));
    if (dragging)
        CHECK(GetCursor() == LoadImageW(g_appInstance,
                                        MAKEINTRESOURCEW(to ? (ctrl ? IDC_DRAG_COPY : IDC_DRAG_MOVE) : IDC_DRAG_NODROP),
                                        IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
    SendMessageW(g_editor.window, WM_LBUTTONUP, 0, 0);
    if (ctrl) {
        KeyUp(VK_CONTROL);
        WaitUntil([] { return GetKeyState(VK_CONTROL) >= 0; }, 1000);
    }
}

TEST_CASE("drag and drop moves, copies, and keeps a registered entry's full name")
{
    ResetEditorState();
    ItemId h = ItemStore::Insert(History, nullptr, L"history");
    ItemId a = ItemStore::Insert(Registered, L"A", L"text A");
    ItemId b = ItemStore::Insert(Registered, LongName.c_str(), L"text B");
    ItemId c = ItemStore::Insert(Registered, L"C", L"text C");
    REQUIRE(OpenTestEditor());
    SendMessageW(g_editor.tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)GroupNode(0));
    SendMessageW(g_editor.tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)GroupNode(1));
    std::string longLabel = U8(ExpectedLabel(LongName, 20));

    SUBCASE("without Ctrl: a move above the target")
    {
        DragEntry(EntryWithId(1, b), EntryWithId(1, c), false);
        CHECK(TreeLabels(1) == std::vector<std::string>{longLabel, "C", "A"});
        CHECK(ItemStore::Find(b) == nullptr);
        ItemId moved = Children(GroupNode(1))[0].id;
        CHECK(NameOf(moved) == U8(LongName));
        CHECK(TextOf(moved) == "text B");
        CheckGroupMatchesStore(1);
        CHECK(g_editor.treeDragging == 0);
        CHECK(GetCapture() == nullptr);
    }
    SUBCASE("with Ctrl: a copy; onto the other group's node it takes that kind")
    {
        DragEntry(EntryWithId(1, b), GroupNode(0), true);
        CHECK(NameOf(b) == U8(LongName));
        std::vector<TreeEntry> entries = Children(GroupNode(0));
        REQUIRE(entries.size() == 2);
        CHECK(ItemStore::KindOf(entries[0].id) == History);
        CHECK(TextOf(entries[0].id) == "text B");
        CHECK(entries[1].id == h);
    }
    SUBCASE("onto itself: a new id at the same place")
    {
        DragEntry(EntryWithId(1, b), EntryWithId(1, b), false);
        CHECK(TreeLabels(1) == std::vector<std::string>{"C", longLabel, "A"});
        CHECK(ItemStore::Find(b) == nullptr);
        CheckGroupMatchesStore(1);
        CHECK(NameOf(Children(GroupNode(1))[1].id) == U8(LongName));
    }
    SUBCASE("outside every item: the store stays, the editor clipboard holds the entry")
    {
        DragEntry(EntryWithId(1, a), nullptr, false);
        CHECK(ItemStore::Size() == 4);
        CHECK(g_editor.clipboard.kind == Registered);
        CHECK(U8(g_editor.clipboard.text) == "text A");
        CHECK(g_editor.treeDragging == 0);
    }
    SUBCASE("group nodes cannot be dragged")
    {
        DragEntry(GroupNode(1), EntryWithId(0, h), false);
        CHECK(ItemStore::Size() == 4);
        CHECK(Children(GroupNode(0)).size() == 1);
    }
    CloseTestEditor();
}

TEST_CASE("a long registered name survives edits of others, renames, Cut + Paste")
{
    ResetEditorState();
    g_ini.menuItemChars = 10;
    ItemId keep = ItemStore::Insert(Registered, LongName.c_str(), L"pw");
    ItemId other = ItemStore::Insert(Registered, L"other", L"x");
    REQUIRE(OpenTestEditor());

    // Edit this entry's text, rename the other one, then Cut + Paste it to the top.
    SelectTreeItem(EntryWithId(1, keep));
    TypeIntoTextEdit(L"pw2");
    SelectTreeItem(EntryWithId(1, other));
    CHECK(NameOf(keep) == U8(LongName));
    PressKey(VK_F2);
    HWND edit = TreeView_GetEditControl(g_editor.tree);
    REQUIRE(edit);
    SetWindowTextW(edit, L"renamed other");
    PressKey(VK_RETURN);
    CHECK(NameOf(keep) == U8(LongName));
    CHECK(NameOf(other) == "renamed other");

    SelectTreeItem(EntryWithId(1, keep));
    PressCtrlKey('X');
    SelectTreeItem(EntryWithId(1, other));
    PressCtrlKey('V');
    std::vector<TreeEntry> entries = Children(GroupNode(1));
    REQUIRE(entries.size() == 2);
    CHECK(NameOf(entries[0].id) == U8(LongName));
    CHECK(TextOf(entries[0].id) == "pw2");
    CHECK(entries[0].label == U8(ExpectedLabel(LongName, 10)));
    CHECK(NameOf(entries[1].id) == "renamed other");
    CloseTestEditor();
    CHECK(NameOf(entries[0].id) == U8(LongName));
}

TEST_CASE("the rename box opens with the full name: Enter, or a click elsewhere, keeps it")
{
    ResetEditorState();
    const std::wstring name = L"Company VPN (backup account, EU)";
    ItemId r = ItemStore::Insert(Registered, name.c_str(), L"text");
    REQUIRE(OpenTestEditor());
    HTREEITEM item = EntryWithId(1, r);
    REQUIRE(item);
    REQUIRE(LabelOf(item) == U8(ExpectedLabel(name, 20)));
    SelectTreeItem(item);

    PressKey(VK_F2);
    HWND edit = TreeView_GetEditControl(g_editor.tree);
    REQUIRE(edit);
    WCHAR shown[128] = {};
    GetWindowTextW(edit, shown, 128);
    CHECK(U8(shown) == U8(name));
    PressKey(VK_RETURN);
    CHECK(TreeView_GetEditControl(g_editor.tree) == nullptr);
    CHECK(NameOf(r) == U8(name));
    CHECK(LabelOf(item) == U8(ExpectedLabel(name, 20)));

    // A rename that ends because the focus moves on (a click into the text pane).
    PressKey(VK_F2);
    REQUIRE(TreeView_GetEditControl(g_editor.tree));
    SetFocus(g_editor.textEdit);
    PumpFor(20);
    CHECK(TreeView_GetEditControl(g_editor.tree) == nullptr);
    CHECK(NameOf(r) == U8(name));
    CHECK(LabelOf(item) == U8(ExpectedLabel(name, 20)));
    CloseTestEditor();
}

TEST_CASE("an edit in the text pane survives a capture that moves its entry, and the tree follows the store")
{
    ResetEditorState();
    ItemId older = ItemStore::Insert(History, nullptr, L"older copy");
    ItemId copied = ItemStore::Insert(History, nullptr, L"copied again");
    ItemId newest = ItemStore::Insert(History, nullptr, L"newest copy");
    ItemId r = ItemStore::Insert(Registered, L"site", L"id");
    REQUIRE(OpenTestEditor());
    SelectTreeItem(EntryWithId(0, copied));
    PressKey(VK_F6);
    REQUIRE(GetFocus() == g_editor.textEdit);

    // Ctrl+A, Ctrl+C in the pane: the capture adds the text again as the newest and erases the entry.
    AddHistoryText(L"copied again", g_ini.historyMax);
    ItemStore::Insert(History, nullptr, L"a capture of something else");
    CHECK(ItemStore::Find(copied) == nullptr);
    PumpFor(50);
    CheckGroupMatchesStore(0);
    CheckGroupMatchesStore(1);
    HTREEITEM selected = SelectedTreeItem();
    REQUIRE(selected);
    ItemId moved = 0;
    for (const TreeEntry &entry : Children(GroupNode(0)))
        if (entry.item == selected)
            moved = entry.id;
    CHECK(moved != copied);
    CHECK(TextOf(moved) == "copied again");
    CHECK(GetFocus() == g_editor.textEdit);

    // The change typed now reaches the entry it belongs to when another item is selected.
    TypeIntoTextEdit(L"changed after the capture");
    SelectTreeItem(EntryWithId(1, r));
    CHECK(TextOf(moved) == "changed after the capture");
    CHECK(TextOf(older) == "older copy");
    CHECK(TextOf(newest) == "newest copy");
    CHECK(ItemStore::CountKind(History) == 4);
    CheckGroupMatchesStore(0);
    CloseTestEditor();
}
