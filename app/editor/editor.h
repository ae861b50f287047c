// The data editor window.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include "state/item_store.h"

HWND OpenEditorWindow();
// Stores a text typed in the open editor but not yet committed.
void CommitPendingEditorEdit();
// Before the program saves with the editor still open (it ends with the process): finishes a
// label edit with the typed name, stores the pending text and records the placement, as
// closing the editor would.
void PrepareEditorForSave();
// g_ini.editorPlacement from the window; a minimised editor is recorded as shown.
void RecordEditorPlacement(HWND window);
LRESULT CALLBACK EditorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK TextPaneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#define EDITOR_CLASS      L"tavoDataEditClass"
#define EDITOR_PANE_CLASS L"tavoDataEditRClass"
#define EDITOR_TITLE      L"データ編集"

// Tree node types: the image index of a tree item is its only record of what it is.
#define NODE_NONE          (-1)
#define NODE_ENTRY         0
#define NODE_HISTORY_GROUP 1
#define NODE_REGISTERED_GROUP 2

// Editor state: one set for the process, since at most one editor exists.
extern HWND EditorWindow;          // the open editor, or null
extern HWND EditorToolbar;         // toolbar 2007, or null when CreateToolbarEx failed
extern HWND EditorTree;            // tree view 2005
extern HWND TextPane;              // right-hand pane 2008
extern HWND TextEdit;              // edit control 2006 inside TextPane
extern HIMAGELIST TreeImageList;   // icons of the tree; destroyed when the editor closes
extern WNDPROC TextEditPrevProc;   // the EDIT class procedure under our subclass
extern int SplitterDragging;       // 1 while the splitter gap is dragged
extern RECT *SplitterOutline;      // two focus rectangles last drawn, in window coordinates; null when none held
extern HWND EditorFocus;           // the pane that had the focus when the editor was last left
extern int TreeDragging;           // 1 while a tree entry is dragged
extern HTREEITEM DragItem;         // the entry being dragged

// The editor's own one-entry clipboard, separate from the system clipboard.
struct EditorClipboardRecord {
    int kind;     // -1 empty, else the ItemKind of the copied entry
    WCHAR *name;  // GlobalAlloc'ed or null
    WCHAR *text;  // GlobalAlloc'ed or null
};
extern EditorClipboardRecord EditorClipboard;

// Window, layout and splitter.
void LayoutEditor(HWND window);
// Where the splitter outline goes for a cursor at screen x: kept 10 pixels inside the left
// frame and 14 inside the right one.
int ClampSplitterX(int cursorX, const RECT &windowRect, int frameWidth);

// Tree and commands.
void FillEditorTree();
BOOL ClassifyTreeItem(HTREEITEM item, ItemId *id, ItemKind *kind, int *nodeType);
void CommitEditPane();
void UpdateEditorCommands(HMENU menu);
void EditorAdd();
void EditorDelete(HTREEITEM item);
void EditorCopy(HTREEITEM item);
int EditorPaste(HTREEITEM target);
void EditorMoveUp();
void EditorMoveDown();
void EmptyEditorClipboard();  // releases the strings; kind -1
LRESULT OnEditorNotify(HWND window, WPARAM wParam, LPARAM lParam);
// The store changed behind the editor's back (a capture): brings the tree in line with the
// store, keeping the selection, the pane's text and the groups' expansion.
void SyncEditorTree();
// Starts and stops following the store's changes (the editor's opening and closing).
void WatchStoreForEditor(BOOL watch);
#define WM_EDITOR_SYNC (WM_APP + 20)
void OnEditorCommand(HWND window, WPARAM wParam, LPARAM lParam);
void OnEditorContextMenu(HWND window, WPARAM wParam, LPARAM lParam);
void TrackTreeDrag(HWND window);
void DropTreeDrag(HWND window);
