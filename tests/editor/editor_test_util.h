// Helpers of the editor tests: a real editor window in this process and its tree read back as
// plain values.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <string>
#include <vector>
#include "editor/editor_internal.h"
#include "state/item_store.h"

std::string U8(const std::wstring &text);
// StoredName and StoredText in UTF-8, which doctest prints.
std::string NameOf(ItemId id);
std::string TextOf(ItemId id);

// The label the popup menu gives a text, without its prefix: the tree must show the same
// (MakeItemLabel's own rules are tested with the recall logic).
std::wstring ExpectedLabel(const std::wstring &text, int maxChars);

// Registers the two editor classes through the program's registration, resets the store and the settings,
// opens the editor and makes it the foreground window.
void ResetEditorState();
HWND OpenTestEditor();
void CloseTestEditor();  // WM_CLOSE, as the title-bar button sends it

struct TreeEntry {
    HTREEITEM item;
    std::string label;
    ItemId id;
    int image;
};
HTREEITEM GroupNode(int index);  // 0 copy history, 1 registered
std::vector<TreeEntry> Children(HTREEITEM parent);
std::string LabelOf(HTREEITEM item);
HTREEITEM SelectedTreeItem();
void SelectTreeItem(HTREEITEM item);
void Command(int id);
std::string EditText();
// Types into the pane's edit control as a user would: focus there, keys, focus back to the tree.
void TypeIntoTextEdit(const std::wstring &text);
// Keys: synthesized and delivered before returning.
void PressKey(WORD vk);
void PressCtrlKey(WORD vk);
