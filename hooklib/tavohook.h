/* Shared by tavo.exe and tavohook.dll: the forwarded key message and the library's exports. */
#pragma once
#include <windows.h>

#define WM_HOOKKEY (WM_APP + 1) /* wParam virtual key, lParam keystroke flags (bit 31 = release) */

/* tavo.exe ends each batch of keys that it synthesizes with a press and a release of this key,
 * which no keyboard has (0x9F is unassigned). The hook forwards it like any key, so that tavo learns
 * that the batch's keys have been forwarded before it, and keeps it from the application. */
#define VK_TAVO_INPUT_END 0x9F

#ifdef __cplusplus
extern "C" {
#endif

LRESULT CALLBACK tvKeyboardHookProc(int code, WPARAM wParam, LPARAM lParam); /* ordinal 1 */
int WINAPI tvSetHook(HWND target, UINT message);                            /* ordinal 2 */
int WINAPI tvUnHook(void);                                                   /* ordinal 3 */

#ifdef __cplusplus
}
#endif
