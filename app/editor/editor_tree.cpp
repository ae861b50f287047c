// The editor's tree of both lists and every editing command. Each change goes straight into
// the item store; the editor keeps no copy of it. Within a group the entries stand newest
// first, and every command keeps it so: new entries take the largest id, a paste renumbers the
// entries above it, and Up/Down exchange contents between two ids instead of moving ids.
#include <windowsx.h>
#include "editor/editor_internal.h"
#include "lang/ui_language.h"
#include "recall/label.h"
#include "res/resource.h"
#include "state/ini_data.h"

// What the rename box showed when it opened: ending with that same text keeps the stored name,
// which the box may have cut short.
static WCHAR *g_labelEditShown;
// The selected entry as it left the store, until an entry of the same kind and text comes back
// (a capture moves a copied text to the newest place that way): the tree item then follows it.
static HTREEITEM g_lostItem;
static ItemKind g_lostKind;
static WCHAR *g_lostText;
static BOOL g_syncPosted;  // a WM_EDITOR_SYNC is on its way
static BOOL g_treeSyncing;  // the tree is being rebuilt: its selection notifications change nothing

#define LABEL_ROOM 260  // enough for any label the tree holds, typed ones included

static WCHAR *CopyEditText()
{
    int length = g_editor.textEdit ? GetWindowTextLengthW(g_editor.textEdit) : 0;
    WCHAR *text = (WCHAR *)GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 2 * length + 2);
    if (text && length > 0)
        GetWindowTextW(g_editor.textEdit, text, length + 1);
    return text;
}

static BOOL TreeHasFocus()
{
    return g_editor.tree && GetFocus() == g_editor.tree;
}

static HTREEITEM TreeNext(HTREEITEM item, UINT relation)
{
    return (HTREEITEM)SendMessageW(g_editor.tree, TVM_GETNEXTITEM, relation, (LPARAM)item);
}

static HTREEITEM SelectedItem()
{
    return g_editor.tree ? TreeNext(nullptr, TVGN_CARET) : nullptr;
}

static LPARAM TreeItemParam(HTREEITEM item)
{
    TVITEMW tv = {};
    tv.mask = TVIF_PARAM;
    tv.hItem = item;
    SendMessageW(g_editor.tree, TVM_GETITEMW, 0, (LPARAM)&tv);
    return tv.lParam;
}

static void SetTreeItemParam(HTREEITEM item, LPARAM param)
{
    TVITEMW tv = {};
    tv.mask = TVIF_PARAM;
    tv.hItem = item;
    tv.lParam = param;
    SendMessageW(g_editor.tree, TVM_SETITEMW, 0, (LPARAM)&tv);
}

static void SetTreeItemText(HTREEITEM item, const WCHAR *label)
{
    TVITEMW tv = {};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = (WCHAR *)label;
    SendMessageW(g_editor.tree, TVM_SETITEMW, 0, (LPARAM)&tv);
}

static void TreeItemText(HTREEITEM item, WCHAR *label, int room)
{
    label[0] = 0;
    TVITEMW tv = {};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = label;
    tv.cchTextMax = room;
    SendMessageW(g_editor.tree, TVM_GETITEMW, 0, (LPARAM)&tv);
}

// The image is the node type's icon; what the item is, lParam says.
static HTREEITEM InsertTreeItem(HTREEITEM parent, HTREEITEM after, const WCHAR *label, int nodeType, LPARAM param)
{
    int image = nodeType;
    TVINSERTSTRUCTW insert = {};
    insert.hParent = parent;
    insert.hInsertAfter = after;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_PARAM | TVIF_SELECTEDIMAGE;
    insert.item.pszText = (WCHAR *)label;
    insert.item.cchTextMax = 254;
    insert.item.iImage = image;
    insert.item.iSelectedImage = image;
    insert.item.lParam = param;
    return (HTREEITEM)SendMessageW(g_editor.tree, TVM_INSERTITEMW, 0, (LPARAM)&insert);
}

static void SelectTreeItem(HTREEITEM item)
{
    SendMessageW(g_editor.tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)item);
}

static void MakeTreeLabel(WCHAR label[ITEM_LABEL_CHARS], const WCHAR *source)
{
    MakeItemLabel(label, source ? source : L"", -1, g_ini.menuItemChars);
}

void FillEditorTree()
{
    if (!g_editor.tree)
        return;
    HTREEITEM groups[2];
    WCHAR historyRoot[64], registeredRoot[64];
    LoadUiText(IDS_HISTORY_GROUP, historyRoot, ARRAYSIZE(historyRoot));
    LoadUiText(IDS_REGISTERED_GROUP, registeredRoot, ARRAYSIZE(registeredRoot));
    groups[History] = InsertTreeItem(TVI_ROOT, TVI_LAST, historyRoot, NODE_HISTORY_GROUP, GROUP_NODE_PARAM(History));
    groups[Registered] =
        InsertTreeItem(TVI_ROOT, TVI_LAST, registeredRoot, NODE_REGISTERED_GROUP, GROUP_NODE_PARAM(Registered));
    const ItemMap &items = ItemStore::Items();
    for (ItemMap::const_reverse_iterator it = items.rbegin(); it != items.rend(); ++it) {
        const Item &entry = it->second;
        if (entry.kind != History && entry.kind != Registered)
            continue;
        WCHAR label[ITEM_LABEL_CHARS];
        MakeTreeLabel(label, entry.kind == History ? entry.text : entry.name);
        InsertTreeItem(groups[entry.kind], TVI_LAST, label, NODE_ENTRY, it->first);
    }
}

BOOL ClassifyTreeItem(HTREEITEM item, ItemId *id, ItemKind *kind, int *nodeType)
{
    if (!item || !g_editor.tree) {
        *nodeType = NODE_NONE;
        return FALSE;
    }
    TVITEMW tv = {};
    tv.mask = TVIF_PARAM;
    tv.hItem = item;
    if (!SendMessageW(g_editor.tree, TVM_GETITEMW, 0, (LPARAM)&tv)) {
        *nodeType = NODE_NONE;
        return FALSE;
    }
    if (tv.lParam == GROUP_NODE_PARAM(History) || tv.lParam == GROUP_NODE_PARAM(Registered)) {
        *id = 0;
        *kind = (ItemKind)(-1 - tv.lParam);
        *nodeType = *kind == History ? NODE_HISTORY_GROUP : NODE_REGISTERED_GROUP;
        return TRUE;
    }
    *nodeType = NODE_ENTRY;
    *id = (ItemId)tv.lParam;
    if (*id == 0)
        return FALSE;
    *kind = ItemStore::KindOf(*id);
    return *kind != -1;
}

// An entry in the store behind a tree item, or FALSE for group nodes, no item and entries
// that have left the store.
static BOOL TreeItemEntry(HTREEITEM item, ItemId *id, ItemKind *kind)
{
    int nodeType;
    return ClassifyTreeItem(item, id, kind, &nodeType) && nodeType == NODE_ENTRY;
}

// Stores a text for the entry of a tree item: the pane's text when the item is the one the
// pane shows. A registered entry keeps its own full name (the tree label may be shortened);
// only a name the user typed while renaming replaces it.
static void CommitTreeItem(HTREEITEM item, const WCHAR *typedName)
{
    ItemId id = 0;
    ItemKind kind = -1;
    if (!TreeItemEntry(item, &id, &kind) || (kind != History && kind != Registered))
        return;
    const Item *entry = ItemStore::Find(id);
    WCHAR *text = item == SelectedItem() ? CopyEditText() : GlobalStringCopy(entry->text);
    if (!text)
        return;
    if (kind == History) {
        if (ItemStore::Replace(id, History, nullptr, text)) {
            WCHAR label[ITEM_LABEL_CHARS];
            MakeTreeLabel(label, text);
            SetTreeItemText(item, label);
        }
    } else {
        // The store frees the old name inside Replace, so hand it a copy.
        WCHAR *name = GlobalStringCopy(typedName ? typedName : entry->name);
        if (name) {
            ItemStore::Replace(id, Registered, name, text);
            GlobalFree(name);
        }
        // The tree shows the shortened label of whatever name the entry now has.
        entry = ItemStore::Find(id);
        WCHAR label[ITEM_LABEL_CHARS];
        MakeTreeLabel(label, entry ? entry->name : L"");
        SetTreeItemText(item, label);
    }
    GlobalFree(text);
}

void CommitEditPane()
{
    CommitTreeItem(SelectedItem(), nullptr);
}

static void SetCommandState(HMENU menu, int toolbarCommand, int menuCommand, BOOL enabled)
{
    if (g_editor.toolbar &&
        (SendMessageW(g_editor.toolbar, TB_ISBUTTONENABLED, toolbarCommand, 0) != 0) != (enabled != FALSE))
        SendMessageW(g_editor.toolbar, TB_ENABLEBUTTON, toolbarCommand, MAKELONG(enabled ? TRUE : FALSE, 0));
    if (menu) {
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_STATE;
        info.fState = enabled ? MFS_ENABLED : MFS_GRAYED;
        SetMenuItemInfoW(menu, menuCommand, FALSE, &info);
    }
}

void UpdateEditorCommands(HMENU menu)
{
    BOOL onEntry, add, paste, up, cutCopyDelete;
    if (TreeHasFocus()) {
        ItemId id = 0;
        ItemKind kind = -1;
        int nodeType;
        ClassifyTreeItem(SelectedItem(), &id, &kind, &nodeType);
        onEntry = nodeType == NODE_ENTRY;
        cutCopyDelete = up = onEntry;
        add = TRUE;
        paste = g_editor.clipboard.kind != -1;
    } else {
        DWORD start = 0, end = 0;
        if (g_editor.textEdit)
            SendMessageW(g_editor.textEdit, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
        cutCopyDelete = start != end;
        up = add = FALSE;
        // Asking costs nothing; opening the clipboard could wait for another program.
        paste = IsClipboardFormatAvailable(CF_UNICODETEXT);
    }
    SetCommandState(menu, IDT_COPY, IDM_EDITOR_COPY, cutCopyDelete);
    SetCommandState(menu, IDT_CUT, IDM_EDITOR_CUT, cutCopyDelete);
    SetCommandState(menu, IDT_DELETE, IDM_EDITOR_DELETE, cutCopyDelete);
    SetCommandState(menu, IDT_UP, IDM_EDITOR_UP, up);
    SetCommandState(menu, IDT_DOWN, IDM_EDITOR_DOWN, up);
    SetCommandState(menu, IDT_ADD, IDM_EDITOR_ADD, add);
    SetCommandState(menu, IDT_PASTE, IDM_EDITOR_PASTE, paste);
}

void EditorAdd()
{
    if (!TreeHasFocus())
        return;
    HTREEITEM item = SelectedItem();
    ItemId id = 0;
    ItemKind kind = -1;
    int nodeType;
    if (!ClassifyTreeItem(item, &id, &kind, &nodeType))
        return;
    HTREEITEM group = nodeType == NODE_ENTRY ? TreeNext(item, TVGN_PARENT) : item;
    WCHAR text[64];
    if (kind == History) {
        LoadUiText(IDS_NEW_HISTORY_NAME, text, ARRAYSIZE(text));
        id = ItemStore::Insert(History, nullptr, text);
    } else if (kind == Registered) {
        LoadUiText(IDS_NEW_REGISTERED_NAME, text, ARRAYSIZE(text));
        id = ItemStore::Insert(Registered, text, text);
    } else {
        return;
    }
    if (id == 0)
        return;  // no memory for the strings: the store is as it was
    HTREEITEM added = InsertTreeItem(group, TVI_FIRST, text, NODE_ENTRY, id);
    SendMessageW(g_editor.tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)group);
    SelectTreeItem(added);
}

void EditorDelete(HTREEITEM item)
{
    if (!TreeHasFocus() || !item)
        return;
    ItemId id = 0;
    ItemKind kind = -1;
    int nodeType;
    BOOL inStore = ClassifyTreeItem(item, &id, &kind, &nodeType);
    if (nodeType != NODE_ENTRY)
        return;
    // An item whose entry has already left the store still goes from the tree.
    if (inStore)
        ItemStore::Erase(id);
    // A pending edit belonged to the entry that goes now; the selection the tree moves on to
    // must not receive it.
    if (item == SelectedItem() && g_editor.textEdit)
        SendMessageW(g_editor.textEdit, EM_SETMODIFY, FALSE, 0);
    if (item == g_editor.dragItem)
        g_editor.dragItem = nullptr;
    SendMessageW(g_editor.tree, TVM_DELETEITEM, 0, (LPARAM)item);
}

void EmptyEditorClipboard()
{
    if (g_editor.clipboard.text)
        GlobalFree(g_editor.clipboard.text);
    if (g_editor.clipboard.name)
        GlobalFree(g_editor.clipboard.name);
    g_editor.clipboard.text = g_editor.clipboard.name = nullptr;
    g_editor.clipboard.kind = -1;
}

void EditorCopy(HTREEITEM item)
{
    ItemId id = 0;
    ItemKind kind = -1;
    if (!TreeHasFocus() || !TreeItemEntry(item, &id, &kind))
        return;
    EmptyEditorClipboard();
    g_editor.clipboard.text = CopyEditText();
    if (kind == Registered) {
        // The full name, so that a paste into the registered group loses nothing of it.
        g_editor.clipboard.name = GlobalStringCopy(ItemStore::Find(id)->name);
    } else {
        // A copy-history entry has no name: pasted as a registered entry it is named after its label.
        WCHAR label[LABEL_ROOM];
        TreeItemText(item, label, LABEL_ROOM);
        g_editor.clipboard.name = GlobalStringCopy(label);
    }
    g_editor.clipboard.kind = kind;
}

int EditorPaste(HTREEITEM target)
{
    if (!TreeHasFocus() || !target || g_editor.clipboard.kind == -1)
        return 0;
    HTREEITEM parent = TreeNext(target, TVGN_PARENT);
    HTREEITEM before = TreeNext(target, TVGN_PREVIOUS);
    ItemId targetId;
    ItemKind kind = -1;
    int nodeType;
    // A target entry that has left the store takes nothing: a drop then deletes nothing either.
    if (!ClassifyTreeItem(target, &targetId, &kind, &nodeType))
        return 0;
    const WCHAR *text = g_editor.clipboard.text ? g_editor.clipboard.text : L"";
    const WCHAR *name = g_editor.clipboard.name ? g_editor.clipboard.name : L"";
    WCHAR label[ITEM_LABEL_CHARS];
    ItemId id = 0;
    if (kind == History) {
        id = ItemStore::Insert(History, nullptr, text);
        MakeTreeLabel(label, text);
    } else if (kind == Registered) {
        id = ItemStore::Insert(Registered, name, text);
        MakeTreeLabel(label, name);
    } else {
        return 0;
    }
    if (id == 0)
        return 0;  // no memory for the strings: nothing pasted, so a drop deletes nothing either
    HTREEITEM group, pasted;
    if (nodeType != NODE_ENTRY) {
        group = target;
        pasted = InsertTreeItem(target, TVI_FIRST, label, NODE_ENTRY, id);
    } else {
        group = parent;
        pasted = InsertTreeItem(parent, before ? before : TVI_FIRST, label, NODE_ENTRY, id);
        // The entries above the pasted one take new ids, nearest first, so the topmost ends
        // with the largest and the group reads newest first again.
        for (HTREEITEM s = before; s; s = TreeNext(s, TVGN_PREVIOUS)) {
            ItemId moved = ItemStore::MoveToEnd((ItemId)TreeItemParam(s));
            if (moved != -1)
                SetTreeItemParam(s, moved);
        }
    }
    SendMessageW(g_editor.tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)group);
    SelectTreeItem(pasted);
    return 1;
}

// Exchanges the selected entry with its neighbour above (up) or below: the contents change
// places, the ids keep theirs.
static void MoveSelectedEntry(BOOL up)
{
    if (!TreeHasFocus())
        return;
    HTREEITEM item = SelectedItem();
    if (!item)
        return;
    HTREEITEM neighbour = TreeNext(item, up ? TVGN_PREVIOUS : TVGN_NEXT);
    ItemId a, b;
    ItemKind kind, neighbourKind;
    if (!neighbour || !TreeItemEntry(item, &a, &kind) || !TreeItemEntry(neighbour, &b, &neighbourKind))
        return;
    HTREEITEM parent = TreeNext(item, TVGN_PARENT);
    HTREEITEM after = neighbour;
    if (up) {
        after = TreeNext(neighbour, TVGN_PREVIOUS);
        if (!after)
            after = TVI_FIRST;
    }
    // A pending edit goes into the entry it was typed for before anything moves; the
    // selection notifications of the delete below then find nothing pending.
    if (g_editor.textEdit && SendMessageW(g_editor.textEdit, EM_GETMODIFY, 0, 0)) {
        SendMessageW(g_editor.textEdit, EM_SETMODIFY, FALSE, 0);
        CommitTreeItem(item, nullptr);
    }
    SendMessageW(g_editor.tree, WM_SETREDRAW, FALSE, 0);
    ItemStore::Swap(a, b);
    SendMessageW(g_editor.tree, TVM_DELETEITEM, 0, (LPARAM)item);
    SetTreeItemParam(neighbour, a);
    const Item *moved = ItemStore::Find(b);
    WCHAR label[ITEM_LABEL_CHARS];
    MakeTreeLabel(label, moved ? (kind == History ? moved->text : moved->name) : L"");
    HTREEITEM placed = InsertTreeItem(parent, after, label, NODE_ENTRY, b);
    SelectTreeItem(placed);
    SendMessageW(g_editor.tree, WM_SETREDRAW, TRUE, 0);
}

void EditorMoveUp()
{
    MoveSelectedEntry(TRUE);
}

void EditorMoveDown()
{
    MoveSelectedEntry(FALSE);
}

static void CutSelectedEntry()
{
    HTREEITEM item = SelectedItem();
    EditorCopy(item);
    EditorDelete(item);
}

static void ForgetLabelEditShown()
{
    if (g_labelEditShown)
        GlobalFree(g_labelEditShown);
    g_labelEditShown = nullptr;
}

static WCHAR *CopyWindowText(HWND window)
{
    int length = GetWindowTextLengthW(window);
    WCHAR *text = (WCHAR *)GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 2 * (SIZE_T)length + 2);
    if (text && length > 0)
        GetWindowTextW(window, text, length + 1);
    return text;
}

// The rename box opens with the full stored name, not the shortened label.
static LRESULT OnBeginLabelEdit(NMTVDISPINFOW *info)
{
    ItemId id = 0;
    ItemKind kind = -1;
    int nodeType;
    ClassifyTreeItem(info->item.hItem, &id, &kind, &nodeType);
    if (nodeType != NODE_ENTRY)
        return 1;
    ForgetLabelEditShown();
    HWND edit = (HWND)SendMessageW(g_editor.tree, TVM_GETEDITCONTROL, 0, 0);
    const Item *entry = ItemStore::Find(id);
    if (edit && entry && kind == Registered) {
        SetWindowTextW(edit, entry->name);
        SendMessageW(edit, EM_SETSEL, 0, -1);
        g_labelEditShown = CopyWindowText(edit);
    }
    UpdateEditorCommands(nullptr);
    return 0;
}

static BOOL SameUnits(const WCHAR *a, const WCHAR *b)
{
    while (*a && *a == *b) {
        a++;
        b++;
    }
    return *a == *b;
}

static void OnEndLabelEdit(NMTVDISPINFOW *info)
{
    // A cancelled edit carries no text and leaves the name as it was; so does the unchanged
    // text of the box, which may hold only the start of a very long name.
    const WCHAR *typed = info->item.pszText;
    if (typed && g_labelEditShown && SameUnits(typed, g_labelEditShown))
        typed = nullptr;
    ForgetLabelEditShown();
    CommitTreeItem(info->item.hItem, typed);
    if (info->item.hItem == SelectedItem() && g_editor.textEdit)
        SendMessageW(g_editor.textEdit, EM_SETMODIFY, FALSE, 0);
    // Changes of the store that waited for the edit to end.
    if (g_editor.window)
        PostMessageW(g_editor.window, WM_EDITOR_SYNC, 0, 0);
}

static void ForgetLostEntry()
{
    if (g_lostText)
        GlobalFree(g_lostText);
    g_lostText = nullptr;
    g_lostItem = nullptr;
}

static void OnSelChanging(NMTREEVIEWW *info)
{
    if (g_treeSyncing)
        return;
    if (g_editor.textEdit && SendMessageW(g_editor.textEdit, EM_GETMODIFY, 0, 0)) {
        SendMessageW(g_editor.textEdit, EM_SETMODIFY, FALSE, 0);
        // The old item is still the caret here, and the pane still shows its text.
        CommitTreeItem(info->itemOld.hItem, nullptr);
    }
}

static void OnSelChanged(NMTREEVIEWW *info)
{
    if (g_treeSyncing)
        return;
    ForgetLostEntry();
    if (!g_editor.textEdit)
        return;
    SetWindowTextW(g_editor.textEdit, L"");
    ItemId id = 0;
    ItemKind kind = -1;
    int nodeType;
    ClassifyTreeItem(info->itemNew.hItem, &id, &kind, &nodeType);
    if (nodeType != NODE_ENTRY) {
        EnableWindow(g_editor.textEdit, FALSE);
        return;
    }
    EnableWindow(g_editor.textEdit, TRUE);
    const Item *entry = ItemStore::Find(id);
    if (entry)
        SetWindowTextW(g_editor.textEdit, entry->text);
}

static void OnBeginDrag(HWND window, NMTREEVIEWW *info)
{
    g_editor.dragItem = info->itemNew.hItem;
    if (!g_editor.dragItem)
        return;
    SelectTreeItem(g_editor.dragItem);
    ItemId id = 0;
    ItemKind kind = -1;
    if (!TreeItemEntry(g_editor.dragItem, &id, &kind)) {
        g_editor.dragItem = nullptr;
        return;
    }
    SetCapture(window);
    g_editor.treeDragging = 1;
    EditorCopy(g_editor.dragItem);
}

static void OnTreeKeyDown(NMTVKEYDOWN *info)
{
    BOOL ctrl = GetKeyState(VK_CONTROL) < 0;
    switch (info->wVKey) {
    case VK_DELETE:
        EditorDelete(SelectedItem());
        break;
    case 'A':
        if (ctrl)
            EditorAdd();
        break;
    case 'C':
        if (ctrl)
            EditorCopy(SelectedItem());
        break;
    case 'X':
        if (ctrl)
            CutSelectedEntry();
        break;
    case 'V':
        if (ctrl)
            EditorPaste(SelectedItem());
        break;
    case VK_F2:
        SendMessageW(g_editor.tree, TVM_EDITLABELW, 0, (LPARAM)SelectedItem());
        break;
    case VK_F6:
        SetFocus(g_editor.textEdit);
        break;
    }
}

LRESULT OnEditorNotify(HWND window, WPARAM wParam, LPARAM lParam)
{
    NMHDR *header = (NMHDR *)lParam;
    if (wParam == IDC_EDITOR_TREE && header) {
        switch (header->code) {
        case TVN_BEGINLABELEDITW:
            return OnBeginLabelEdit((NMTVDISPINFOW *)lParam);
        case TVN_ENDLABELEDITW:
            OnEndLabelEdit((NMTVDISPINFOW *)lParam);
            break;
        case TVN_SELCHANGINGW:
            OnSelChanging((NMTREEVIEWW *)lParam);
            break;
        case TVN_SELCHANGEDW:
            OnSelChanged((NMTREEVIEWW *)lParam);
            break;
        case TVN_BEGINDRAGW:
            OnBeginDrag(window, (NMTREEVIEWW *)lParam);
            break;
        case TVN_KEYDOWN:
            OnTreeKeyDown((NMTVKEYDOWN *)lParam);
            break;
        }
    }
    UpdateEditorCommands(nullptr);
    return 0;
}

void OnEditorCommand(HWND window, WPARAM wParam, LPARAM)
{
    BOOL tree = TreeHasFocus();
    switch (LOWORD(wParam)) {
    case IDM_EDITOR_CLOSE:
        SendMessageW(window, WM_CLOSE, 0, 0);
        break;
    case IDT_CUT:
    case IDM_EDITOR_CUT:
        if (tree)
            CutSelectedEntry();
        else
            SendMessageW(g_editor.textEdit, WM_CUT, 0, 0);
        break;
    case IDT_COPY:
    case IDM_EDITOR_COPY:
        if (tree)
            EditorCopy(SelectedItem());
        else
            SendMessageW(g_editor.textEdit, WM_COPY, 0, 0);
        break;
    case IDT_PASTE:
    case IDM_EDITOR_PASTE:
        if (tree)
            EditorPaste(SelectedItem());
        else
            SendMessageW(g_editor.textEdit, WM_PASTE, 0, 0);
        break;
    case IDT_DELETE:
    case IDM_EDITOR_DELETE:
        if (tree)
            EditorDelete(SelectedItem());
        else
            SendMessageW(g_editor.textEdit, WM_CLEAR, 0, 0);
        break;
    case IDT_ADD:
    case IDM_EDITOR_ADD:
        EditorAdd();
        break;
    case IDT_DOWN:
    case IDM_EDITOR_DOWN:
        EditorMoveDown();
        break;
    case IDT_UP:
    case IDM_EDITOR_UP:
        EditorMoveUp();
        break;
    }
}

static HTREEITEM TreeItemAtScreen(POINT point)
{
    ScreenToClient(g_editor.tree, &point);
    TVHITTESTINFO hit = {};
    hit.pt = point;
    return (HTREEITEM)SendMessageW(g_editor.tree, TVM_HITTEST, 0, (LPARAM)&hit);
}

void OnEditorContextMenu(HWND window, WPARAM, LPARAM lParam)
{
    if (!g_editor.tree)
        return;
    POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    HTREEITEM item = TreeItemAtScreen(point);
    if (!item)
        return;
    SelectTreeItem(item);
    TrackPopupMenu(GetSubMenu(GetMenu(window), 1), TPM_CENTERALIGN, point.x, point.y, 0, window, nullptr);
}

static void SetDragCursor(int id)
{
    SetCursor((HCURSOR)LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
}

static HTREEITEM TreeItemAtCursor()
{
    POINT cursor;
    GetCursorPos(&cursor);
    return TreeItemAtScreen(cursor);
}

void TrackTreeDrag(HWND)
{
    if (!g_editor.treeDragging || !g_editor.tree)
        return;
    HTREEITEM item = TreeItemAtCursor();
    if (!item) {
        SetDragCursor(IDC_DRAG_NODROP);
        return;
    }
    SetDragCursor(GetKeyState(VK_CONTROL) < 0 ? IDC_DRAG_COPY : IDC_DRAG_MOVE);
    SelectTreeItem(item);
}

void DropTreeDrag(HWND)
{
    if (!g_editor.treeDragging)
        return;
    ReleaseCapture();
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    g_editor.treeDragging = 0;
    if (!g_editor.tree)
        return;
    HTREEITEM item = TreeItemAtCursor();
    if (!item)
        return;
    SelectTreeItem(item);
    if (EditorPaste(item) == 1 && GetKeyState(VK_CONTROL) >= 0 && g_editor.dragItem)
        EditorDelete(g_editor.dragItem);
    g_editor.dragItem = nullptr;
    // Changes of the store that waited for the drag to end.
    if (g_editor.window)
        PostMessageW(g_editor.window, WM_EDITOR_SYNC, 0, 0);
}

// The newest entry after id of the same kind and text, or 0: where a capture has already put
// the text of an entry it is about to erase.
static ItemId NewerTwin(ItemId id, const Item *entry)
{
    const ItemMap &items = ItemStore::Items();
    for (ItemMap::const_reverse_iterator it = items.rbegin(); it != items.rend() && it->first > id; ++it)
        if (it->second.kind == entry->kind && SameUnits(it->second.text, entry->text))
            return it->first;
    return 0;
}

// Told of every change of the store. The editor's own commands keep the tree in line
// themselves; what comes from elsewhere (a capture) is brought in by SyncEditorTree, posted so
// that it runs after the change has finished.
static void OnStoreChange(int change, ItemId id)
{
    if (!g_editor.window || !g_editor.tree)
        return;
    HTREEITEM selected = SelectedItem();
    if (change == ITEM_ERASING && selected && (ItemId)TreeItemParam(selected) == id) {
        const Item *entry = ItemStore::Find(id);
        ForgetLostEntry();
        ItemId twin = entry ? NewerTwin(id, entry) : 0;
        if (twin > 0) {
            // The capture added the text again before erasing this copy.
            SetTreeItemParam(selected, twin);
        } else if (entry) {
            g_lostText = GlobalStringCopy(entry->text);
            g_lostKind = entry->kind;
            g_lostItem = g_lostText ? selected : nullptr;
        }
    } else if (change == ITEM_ADDED && g_lostText && selected == g_lostItem) {
        const Item *entry = ItemStore::Find(id);
        if (entry && entry->kind == g_lostKind && SameUnits(entry->text, g_lostText)) {
            // The pane's pending text now goes to the entry's new id.
            SetTreeItemParam(selected, id);
            ForgetLostEntry();
        }
    }
    if (!g_syncPosted && PostMessageW(g_editor.window, WM_EDITOR_SYNC, 0, 0))
        g_syncPosted = TRUE;
}

void WatchStoreForEditor(BOOL watch)
{
    ItemStore::SetWatcher(watch ? OnStoreChange : nullptr);
    ForgetLostEntry();
    ForgetLabelEditShown();
    g_syncPosted = FALSE;
}

// The entries of a group node, top to bottom, against the store's entries of that kind, newest first.
static BOOL GroupMatchesStore(HTREEITEM group, ItemKind kind)
{
    const ItemMap &items = ItemStore::Items();
    ItemMap::const_reverse_iterator it = items.rbegin();
    for (HTREEITEM child = TreeNext(group, TVGN_CHILD);; child = TreeNext(child, TVGN_NEXT)) {
        while (it != items.rend() && it->second.kind != kind)
            ++it;
        if (!child || it == items.rend())
            return !child && it == items.rend();
        if ((ItemId)TreeItemParam(child) != it->first)
            return FALSE;
        ++it;
    }
}

static HTREEITEM FindEntryItem(HTREEITEM group, ItemId id)
{
    for (HTREEITEM child = TreeNext(group, TVGN_CHILD); child; child = TreeNext(child, TVGN_NEXT))
        if ((ItemId)TreeItemParam(child) == id)
            return child;
    return nullptr;
}

void SyncEditorTree()
{
    g_syncPosted = FALSE;
    // A rename or a drag holds tree items; they end by asking again.
    if (!g_editor.tree || g_editor.treeDragging || SendMessageW(g_editor.tree, TVM_GETEDITCONTROL, 0, 0))
        return;
    HTREEITEM groups[2] = {TreeNext(nullptr, TVGN_ROOT), nullptr};
    groups[1] = groups[0] ? TreeNext(groups[0], TVGN_NEXT) : nullptr;
    if (!groups[1] || (GroupMatchesStore(groups[0], History) && GroupMatchesStore(groups[1], Registered)))
        return;
    HTREEITEM selected = SelectedItem();
    ItemId selectedId = 0;
    ItemKind kind = -1;
    int nodeType = NODE_NONE;
    ClassifyTreeItem(selected, &selectedId, &kind, &nodeType);
    int selectedGroup = selected == groups[0] ? 0 : selected == groups[1] ? 1 : -1;
    BOOL expanded[2];
    for (int g = 0; g < 2; g++)
        expanded[g] = (SendMessageW(g_editor.tree, TVM_GETITEMSTATE, (WPARAM)groups[g], TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
    HTREEITEM top = TreeNext(nullptr, TVGN_FIRSTVISIBLE);
    ItemId topId = top ? (ItemId)TreeItemParam(top) : 0;

    // The pane keeps its text and its pending state: only the tree is made again.
    g_treeSyncing = TRUE;
    SendMessageW(g_editor.tree, WM_SETREDRAW, FALSE, 0);
    SendMessageW(g_editor.tree, TVM_DELETEITEM, 0, (LPARAM)TVI_ROOT);
    FillEditorTree();
    groups[0] = TreeNext(nullptr, TVGN_ROOT);
    groups[1] = groups[0] ? TreeNext(groups[0], TVGN_NEXT) : nullptr;
    HTREEITEM select = nullptr;
    for (int g = 0; g < 2 && groups[g]; g++) {
        if (expanded[g])
            SendMessageW(g_editor.tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)groups[g]);
        if (selectedGroup == g)
            select = groups[g];
        else if (!select && nodeType == NODE_ENTRY)
            select = FindEntryItem(groups[g], selectedId);
    }
    if (select)
        SelectTreeItem(select);
    for (int g = 0; g < 2 && groups[g] && topId > 0; g++) {  // only an entry on top is looked for again
        HTREEITEM first = FindEntryItem(groups[g], topId);
        if (first)
            SendMessageW(g_editor.tree, TVM_SELECTITEM, TVGN_FIRSTVISIBLE, (LPARAM)first);
    }
    SendMessageW(g_editor.tree, WM_SETREDRAW, TRUE, 0);
    g_treeSyncing = FALSE;
    UpdateEditorCommands(nullptr);
}
