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

// The hub stands in for the shell's window: it saves when the editor has closed, as the shell does.
static LRESULT CALLBACK TestHubProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_EDITOR_CLOSED) {
        OnEditorClosed(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

static HWND TestHub;

static void RegisterTestEditorClasses()
{
    static bool done = false;
    if (done)
        return;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    RegisterEditorClasses(GetModuleHandleW(nullptr));
    WNDCLASSW hubClass = {};
    hubClass.lpfnWndProc = TestHubProc;
    hubClass.hInstance = GetModuleHandleW(nullptr);
    hubClass.lpszClassName = L"tavoEditorTestHub";
    RegisterClassW(&hubClass);
    TestHub = CreateWindowExW(WS_EX_TOOLWINDOW, L"tavoEditorTestHub", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    done = true;
}

void ResetEditorState()
{
    RegisterTestEditorClasses();
    if (g_editor.window)
        DestroyWindow(g_editor.window);
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
    HWND window = OpenEditorWindow(TestHub);
    if (window) {
        SetForegroundWindow(window);
        WaitUntil([&] { return GetForegroundWindow() == window; }, 2000);
        PumpFor(30);
    }
    return window;
}

void CloseTestEditor()
{
    if (g_editor.window)
        SendMessageW(g_editor.window, WM_CLOSE, 0, 0);
    PumpFor(10);
}

HTREEITEM GroupNode(int index)
{
    HTREEITEM item = TreeView_GetRoot(g_editor.tree);
    for (int i = 0; i < index && item; i++)
        item = TreeView_GetNextSibling(g_editor.tree, item);
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
    SendMessageW(g_editor.tree, TVM_GETITEMW, 0, (LPARAM)&tv);
    return U8(text);
}

std::vector<TreeEntry> Children(HTREEITEM parent)
{
    std::vector<TreeEntry> entries;
    for (HTREEITEM item = TreeView_GetChild(g_editor.tree, parent); item; item = TreeView_GetNextSibling(g_editor.tree, item)) {
        TVITEMW tv = {};
        tv.mask = TVIF_PARAM | TVIF_IMAGE;
        tv.hItem = item;
        SendMessageW(g_editor.tree, TVM_GETITEMW, 0, (LPARAM)&tv);
        entries.push_back({item, LabelOf(item), (ItemId)tv.lParam, tv.iImage});
    }
    return entries;
}

HTREEITEM SelectedTreeItem()
{
    return TreeView_GetSelection(g_editor.tree);
}

void SelectTreeItem(HTREEITEM item)
{
    TreeView_SelectItem(g_editor.tree, item);
}

void Command(int id)
{
    SendMessageW(g_editor.window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

std::string EditText()
{
    WCHAR text[4096] = {};
    GetWindowTextW(g_editor.textEdit, text, 4096);
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
    SetFocus(g_editor.textEdit);
    SendMessageW(g_editor.textEdit, EM_SETSEL, 0, -1);
    TypeText(text);
    PumpFor(60);
    SetFocus(g_editor.tree);
    PumpFor(10);
}
