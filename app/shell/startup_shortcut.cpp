// Placeholder until the start-up shortcut is written.
#include "shell/shell.h"
BOOL StartupShortcutPath(WCHAR path[MAX_PATH]) { path[0] = 0; return FALSE; }
BOOL FileExists(const WCHAR *) { return FALSE; }
void ToggleStartupShortcut() {}
