/* chainhook.dll: a keyboard hook that only calls the next hook. bench_recall installs it to measure
 * what any global keyboard hook costs a key event, the floor under tavo's own hook. Not shipped. */
#include <windows.h>

__declspec(dllexport) LRESULT CALLBACK ChainKeyboardHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    return CallNextHookEx(NULL, code, wParam, lParam);
}
