/* Placeholder until the hook library is written. */
#include "tavohook.h"
LRESULT CALLBACK tvKeyboardHookProc(int code, WPARAM wParam, LPARAM lParam) { return CallNextHookEx(NULL, code, wParam, lParam); }
int WINAPI tvSetHook(HWND target, UINT message) { (void)target; (void)message; return 1; }
int WINAPI tvUnHook(void) { return 1; }
