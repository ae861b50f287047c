/* Shared by tavo.exe and tavohook.dll: the forwarded key message and the library's exports. */
#pragma once
#include <windows.h>

#define WM_HOOKKEY (WM_APP + 1) /* wParam virtual key, lParam keystroke flags (bit 31 = release) */

#ifdef __cplusplus
extern "C" {
#endif

LRESULT CALLBACK tvKeyboardHookProc(int code, WPARAM wParam, LPARAM lParam); /* ordinal 1 */
int WINAPI tvSetHook(HWND target, UINT message);                            /* ordinal 2 */
int WINAPI tvUnHook(void);                                                   /* ordinal 3 */

#ifdef __cplusplus
}
#endif
