// Placeholder until the editor is written.
#include "editor/editor.h"
HWND OpenEditorWindow() { return nullptr; }
LRESULT CALLBACK EditorWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }
LRESULT CALLBACK TextPaneProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }
