// The settings property sheet.
#pragma once
#include <windows.h>

void ShowSettingsSheet(HWND parent);
INT_PTR CALLBACK MenuPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK OtherPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
void CenterWindow(HWND reference, HWND window);

// The hotkey control and RegisterHotKey name the same modifiers with different bits.
UINT HotkeyFlagsToMods(BYTE hotkeyFlags);  // HOTKEYF_* to MOD_*; HOTKEYF_EXT is dropped
BYTE ModsToHotkeyFlags(UINT mods);         // MOD_* to HOTKEYF_*

extern HWND SettingsSheet;  // the open sheet's frame window; null while none is open
