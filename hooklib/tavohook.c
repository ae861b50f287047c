/* tavohook.dll: installs the global keyboard hook for tavo.exe and forwards every key event of
 * every application to the program's main window. The platform loads this library into each
 * process that receives keyboard input, so it links against kernel32 and user32 only and carries
 * no C runtime: its own entry point, no allocation, no state beyond the shared section. */
#include "tavohook.h"

/* One copy for all processes that load the library: written by the installing process before the
 * hook exists, only read by the hook procedure. Initialised so that the compiler keeps them in the
 * section; the build keeps their source order. */
__attribute__((section("MY_DATA"), shared)) HHOOK HookHandle = NULL;
__attribute__((section("MY_DATA"), shared)) HWND HookTarget = NULL;
__attribute__((section("MY_DATA"), shared)) UINT TargetMessage = 0;

/* Per process; only the installing process uses it. */
static HINSTANCE LibraryModule;

/* A program that stops answering must not freeze the keyboard of every other application, so the
 * send gives up after this long (or at once when the target is hung). */
#define FORWARD_TIMEOUT_MS 1000

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    (void)reason;
    (void)reserved;
    LibraryModule = module;
    return TRUE;
}

LRESULT CALLBACK tvKeyboardHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code >= 0) {
        DWORD_PTR ignored;
        SendMessageTimeoutA(HookTarget, TargetMessage, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                            FORWARD_TIMEOUT_MS, &ignored);
    }
    return CallNextHookEx(HookHandle, code, wParam, lParam);
}

int WINAPI tvSetHook(HWND target, UINT message)
{
    HookTarget = target;
    TargetMessage = message;
    HookHandle = SetWindowsHookExA(WH_KEYBOARD, tvKeyboardHookProc, LibraryModule, 0);
    return HookHandle != NULL ? 1 : 0;
}

int WINAPI tvUnHook(void)
{
    if (HookHandle != NULL && !UnhookWindowsHookEx(HookHandle))
        return 0;
    return 1;
}
