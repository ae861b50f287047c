// The data editor window.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include "state/item_store.h"

// Opens the editor, or brings an open one forward with a message. The hub is sent
// WM_EDITOR_CLOSED once the editor has closed, and saves then.
HWND OpenEditorWindow(HWND hub);
#define WM_EDITOR_CLOSED (WM_APP + 21)
// The frame's and the right-hand pane's window classes, once per process.
BOOL RegisterEditorClasses(HINSTANCE instance);
// Stores a text typed in the open editor but not yet committed.
void CommitPendingEditorEdit();
// Before the program saves with the editor still open (it ends with the process): finishes a
// label edit with the typed name, stores the pending text and records the placement, as
// closing the editor would.
void PrepareEditorForSave();
#define EDITOR_CLASS      L"tavoDataEditClass"
#define EDITOR_PANE_CLASS L"tavoDataEditRClass"
