// The editor's inside: its state record and the functions its two files and its tests share.
#pragma once
#include "editor/editor.h"

// g_ini.editorPlacement from the window; a minimised editor is recorded as shown.
void RecordEditorPlacement(HWND window);
LRESULT CALLBACK EditorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK TextPaneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#define TIMER_SPLITTER    2003  // the frame's timer that redraws the splitter outline while it is dragged

// Tree node types. A tree item's lParam says which: the ItemId (> 0) of an entry, or
// GROUP_NODE_PARAM(kind) for the group of that kind. The image index is the node type's icon.
#define NODE_NONE          (-1)
#define NODE_ENTRY         0
#define NODE_HISTORY_GROUP 1
#define NODE_REGISTERED_GROUP 2
#define GROUP_NODE_PARAM(kind) ((LPARAM)(-1 - (kind)))  // History -1, Registered -2

// The editor's one-entry clipboard, separate from the system clipboard.
struct EditorClipboardRecord {
    int kind;     // -1 empty, else the ItemKind of the copied entry
    WCHAR *name;  // GlobalAlloc'ed or null
    WCHAR *text;  // GlobalAlloc'ed or null
};

// Editor state: one record for the process, since at most one editor exists.
struct EditorState {
    HWND window = nullptr;              // the open editor, or null
    HWND toolbar = nullptr;             // toolbar 2007, or null when CreateToolbarEx failed
    HWND tree = nullptr;                // tree view 2005
    HWND pane = nullptr;                // right-hand pane 2008
    HWND textEdit = nullptr;            // edit control 2006 inside the pane
    HIMAGELIST imageList = nullptr;     // icons of the tree; destroyed when the editor closes
    WNDPROC textEditPrevProc = nullptr; // the EDIT class procedure under our subclass
    int splitterDragging = 0;           // 1 while the splitter gap is dragged
    RECT *splitterOutline = nullptr;    // two focus rectangles last drawn, in window coordinates; null when none held
    HWND focus = nullptr;               // the pane that had the focus when the editor was last left
    int treeDragging = 0;               // 1 while a tree entry is dragged
    HTREEITEM dragItem = nullptr;       // the entry being dragged
    EditorClipboardRecord clipboard = {-1, nullptr, nullptr};
    HWND hub = nullptr;                 // told with WM_EDITOR_CLOSED when the editor has closed
    int dpi = 96;                       // the DPI the editor is laid out for: its monitor's
    HIMAGELIST toolbarImages = nullptr; // the toolbar's pictures at that DPI
    HFONT font = nullptr;               // the text pane's font at that DPI
    HFONT treeFont = nullptr;           // the tree's font at that DPI
};
extern EditorState g_editor;

// The editor's pixel sizes at one DPI.
struct EditorMetrics {
    int iconSize;           // tree icons, square: one of the sizes the icons are drawn at
    int toolbarScale;       // percent of the toolbar strip that is loaded: 100, 125, 150 or 200
    int toolbarImageWidth;  // one toolbar picture of that strip
    int toolbarImageHeight;
    int treeItemHeight;
    int splitterGap;        // between the tree and the text pane
    int fontHeight;         // the text pane font's lfHeight (negative: the character height)
};
void EditorMetricsForDpi(int dpi, EditorMetrics *metrics);
// The DPI of the window's monitor (the system's before Windows 10).
int WindowDpi(HWND window);
// Pictures, font and sizes for g_editor.dpi, then the layout: at creation and on WM_DPICHANGED.
void ApplyEditorDpi(HWND window);

// Window, layout and splitter.
void LayoutEditor(HWND window);
// Where the splitter outline goes for a cursor at screen x: kept 10 pixels inside the left
// frame and 14 inside the right one.
int ClampSplitterX(int cursorX, const RECT &windowRect, int frameWidth, int dpi);

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
