// Placeholder until the shell is written.
#include "shell/shell.h"
HINSTANCE AppInstance;
HWND MainWindow;
const WCHAR AppTitle[] = L"tavo ver 0.03";
int BusyFlag;
WCHAR LabelPrefixTable[30][2];
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) { return DefWindowProcW(window, message, wParam, lParam); }
BOOL RegisterMainWindowClass(HINSTANCE) { return FALSE; }
BOOL RegisterEditorClasses(HINSTANCE) { return FALSE; }
void FillLabelPrefixTable() {}
