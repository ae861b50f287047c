/* Shared by tavo.exe and tavohook.dll: the forwarded key message and the library's exports. */
#pragma once
#include <windows.h>

/* wParam VK_SHIFT, VK_CONTROL or VK_MENU with lParam's bits 30 (was down) and 31 (release) alone;
 * or wParam 0 and lParam 0: another key was pressed near a modifier. */
#define WM_HOOKKEY (WM_APP + 1)

#ifdef __cplusplus
extern "C" {
#endif

LRESULT CALLBACK tvKeyboardHookProc(int code, WPARAM wParam, LPARAM lParam); /* ordinal 1 */
int WINAPI tvSetHook(HWND target, UINT message);                            /* ordinal 2 */
int WINAPI tvUnHook(void);                                                   /* ordinal 3 */

#ifdef __cplusplus
}
#endif
