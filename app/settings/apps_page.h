// The page "アプリ別" of the settings sheet: the per-application rules and the full-screen quiet.
#pragma once
#include <windows.h>
#include "state/app_rules.h"

// The page shows and edits its own copy of *rules; PSN_APPLY writes that copy back into *rules
// and sets *accepted. The pointers stay valid while the sheet runs.
struct AppsPageData {
    AppRules *rules;
    BOOL *accepted;
};
INT_PTR CALLBACK AppsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// The text of the switches column: the marks of the rule's switches joined by ", ".
void AppSwitchesText(int switches, WCHAR *text, int room);
// What Add takes from the combo box: the executable of the item "name  (caption)" chosen, or the
// name typed, trimmed; FALSE when that leaves nothing.
BOOL ExecutableFromComboText(const WCHAR *text, WCHAR exe[APP_EXE_CHARS]);
