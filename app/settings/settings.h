// The settings property sheet.
#pragma once
#include <windows.h>

void ShowSettingsSheet(HWND parent);
INT_PTR CALLBACK MenuPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK OtherPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
void CenterWindow(HWND reference, HWND window);
