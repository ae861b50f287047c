#include "editor_test_util.h"
#include "recall/recall.h"
#include "state/data_files.h"
#include "res/resource.h"
#include "shell/shell.h"
#include "state/ini_data.h"
#include "test_util.h"

std::string U8(const std::wstring &text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(size, 0);
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &out[0], size, nullptr, nullptr);
    return out;
}

std::string NameOf(ItemId id)
{
    return U8(StoredName(id));
}

std::string TextOf(ItemId id)
{
    return U8(StoredText(id));
}

std::wstring ExpectedLabel(const std::wstring &text, int maxChars)
{
    WCHAR label[ITEM_LABEL_CHARS];
    MakeItemLabel(label, text.c_str(), -1, maxChars);
    return label;
}

// The program's own registration; done once, since a class stays registered for the process.
static void RegisterTestEditorClasses()
{
    static bool done = false;
    if (done)
        return;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    done = RegisterEditorClasses(GetModuleHandleW(nullptr)) != FALSE;
}

void ResetEditorState()
{
    RegisterTestEditorClasses();
    if (EditorWindow)
        DestroyWindow(EditorWindow);
    ItemStore::ResetForTests();
    // Closing the editor writes both files: into a folder of the tests, never beside them.
    SetDataDirectoryForTests(MakeScratchDir(L"editor_files").c_str());
    ZeroMemory(&g_ini, sizeof(g_ini));
    g_ini.pasteWaitMs = 100;
    g_ini.menuItemChars = 20;
    g_ini.menuWrapCount = 10;
    g_ini.historyMax = 1000;
    g_ini.treeWidth = 200;
}

HWND OpenTestEditor()
{
    HWND window = OpenEditorWindow();
    if (window) {
        SetForegroundWindow(window);
        WaitUntil([&] { return GetForegroundWindow() == window; }, 2000);
        PumpFor(30);
    }
    return window;
}

void CloseTestEditor()
{
    if (EditorWindow)
        SendMessageW(EditorWindow, WM_CLOSE, 0, 0);
    PumpFor(10);
}

HTREEITEM GroupNode(int index)
{
    HTREEITEM item = TreeView_GetRoot(EditorTree);
    for (int i = 0; i < index && item; i++)
        item = TreeView_GetNextSibling(EditorTree, item);
    return item;
}

std::string LabelOf(HTREEITEM item)
{
    WCHAR text[300] = {};
    TVITEMW tv = {};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = 300;
    SendMessageW(EditorTree, TVM_GETITEMW, 0, (LPARAM)&tv);
    return U8(text);
}

std::vector<TreeEntry> Children(HTREEITEM parent)
{
    std::vector<TreeEntry> entries;
    for (HTREEITEM item = TreeView_GetChild(EditorTree, parent); item; item = TreeView_GetNextSibling(EditorTree, item)) {
        TVITEMW tv = {};
        tv.mask = TVIF_PARAM | TVIF_IMAGE;
        tv.hItem = item;
        SendMessageW(EditorTree, TVM_GETITEMW, 0, (LPARAM)&tv);
        entries.push_back({item, LabelOf(item), (ItemId)tv.lParam, tv.iImage});
    }
    return entries;
}

HTREEITEM SelectedTreeItem()
{
    return TreeView_GetSelection(EditorTree);
}

void SelectTreeItem(HTREEITEM item)
{
    TreeView_SelectItem(EditorTree, item);
}

void Command(int id)
{
    SendMessageW(EditorWindow, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

std::string EditText()
{
    WCHAR text[4096] = {};
    GetWindowTextW(TextEdit, text, 4096);
    return U8(text);
}

void PressKey(WORD vk)
{
    TapKey(vk);
    PumpFor(40);
}

void PressCtrlKey(WORD vk)
{
    KeyDown(VK_CONTROL);
    TapKey(vk);
    KeyUp(VK_CONTROL);
    PumpFor(40);
}

void TypeIntoTextEdit(const std::wstring &text)
{
    SetFocus(TextEdit);
    SendMessageW(TextEdit, EM_SETSEL, 0, -1);
    TypeText(text);
    PumpFor(60);
    SetFocus(EditorTree);
    PumpFor(10);
}
