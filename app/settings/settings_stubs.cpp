// Placeholder until the settings sheet is written.
#include "settings/settings.h"
void ShowSettingsSheet(HWND) {}
INT_PTR CALLBACK MenuPageProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
INT_PTR CALLBACK OtherPageProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
void CenterWindow(HWND, HWND) {}
