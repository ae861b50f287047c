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

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    (void)reason;
    (void)reserved;
    LibraryModule = module;
    return TRUE;
}

/* The hook runs on the typing application's thread for every key event, so it must never wait for
 * tavo: SendNotifyMessageA returns at once when the target belongs to another thread, however busy,
 * hung or stopped tavo is. It is preferred to PostMessageA because the event still arrives as a
 * sent message, as before: tavo handles it whenever its thread looks at its queue (modal loops,
 * the popup menu and the paste's pump included, whatever filter they use), ahead of posted
 * messages and in the order in which this thread forwarded the events, and the posted queue's
 * limit of 10,000 messages cannot drop key events behind a burst of other posts. On tavo's own
 * thread (its editor or settings focused) the call goes straight to the window procedure, as a
 * send does. */
LRESULT CALLBACK tvKeyboardHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code >= 0 && HookTarget != NULL) {
        SendNotifyMessageA(HookTarget, TargetMessage, wParam, lParam);
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
