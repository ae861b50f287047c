/* tavohook.dll: installs the global keyboard hook for tavo.exe and tells the program's main window
 * what its double-tap trigger needs to know, and nothing more. The platform loads this library into
 * each process that receives keyboard input, so it links against kernel32 and user32 only and
 * carries no C runtime: its own entry point, no allocation. */
#include "tavohook.h"

/* One copy for all processes that load the library: written by the installing process before the
 * hook exists, only read by the hook procedure. Initialised so that the compiler keeps them in the
 * section; the build keeps their source order.
 * The section is writable by every process that loads the library, so any of them can name another
 * window and message here. Hence the hook sends WM_HOOKKEY alone, only to a window of tavo's class,
 * and never anything that tells which key was typed: the virtual-key code and bits 30 and 31 of
 * Shift, Ctrl and Alt, and for any other key an anonymous press, only when a modifier is near. Any
 * program can register a window of that class, so what remains is this: a window that claims the
 * class learns when modifiers were pressed and that some key followed, never which. */
__attribute__((section("MY_DATA"), shared)) HHOOK HookHandle = NULL;
__attribute__((section("MY_DATA"), shared)) HWND HookTarget = NULL;
__attribute__((section("MY_DATA"), shared)) UINT TargetMessage = 0;

/* Per process; only the installing process uses it. */
static HINSTANCE LibraryModule;

/* Per process, outside the section: this process's last Shift, Ctrl or Alt event. The trigger uses
 * another key only while a modifier is held or within the double-click time after one was
 * released, so text typed far from any modifier costs one comparison and reaches no one. */
#define HELD_SHIFT 1u
#define HELD_CTRL  2u
#define HELD_ALT   4u
static DWORD HeldModifiers;       /* as this process saw them */
static BOOL ModifierSeen;         /* LastModifierTick is valid */
static DWORD LastModifierTick;
static DWORD ForwardWindowMs;     /* the double-click time when that event came, with slack */

/* tavo measures its double-click time from when it handles a release, which comes a little after
 * the release itself; another key pressed in that late stretch still matters to it. */
#define FORWARD_SLACK_MS 250

#define KEY_UP_FLAGS 0xC0000000u  /* bit 30: the key was down before; bit 31: released */

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    (void)reason;
    (void)reserved;
    LibraryModule = module;
    return TRUE;
}

/* The held bit of a modifier; 0 for every other key. Left and right keys count as their kind. */
static DWORD ModifierBitOf(WPARAM vk)
{
    switch (vk) {
    case VK_SHIFT: case VK_LSHIFT: case VK_RSHIFT: return HELD_SHIFT;
    case VK_CONTROL: case VK_LCONTROL: case VK_RCONTROL: return HELD_CTRL;
    case VK_MENU: case VK_LMENU: case VK_RMENU: return HELD_ALT;
    default: return 0;
    }
}

static WPARAM ModifierKeyOf(DWORD bit)
{
    return bit == HELD_SHIFT ? VK_SHIFT : bit == HELD_CTRL ? VK_CONTROL : VK_MENU;
}

/* The target as the section names it, when it is fit to receive: the message tavo handles as a key
 * event and nothing else, to a window of class "tavoClass". */
static BOOL TargetIsTavo(void)
{
    static const char expected[] = "tavoClass";
    char name[16];
    int k;
    if (TargetMessage != WM_HOOKKEY)
        return FALSE;
    if (GetClassNameA(HookTarget, name, sizeof(name)) != (int)sizeof(expected) - 1)
        return FALSE;
    for (k = 0; k < (int)sizeof(expected) - 1; k++)
        if (name[k] != expected[k])
            return FALSE;
    return TRUE;
}

/* The hook runs on the typing application's thread for every key event, so it must never wait for
 * tavo: SendNotifyMessageA returns at once when the target belongs to another thread, however busy,
 * hung or stopped tavo is. It is preferred to PostMessageA because the event still arrives as a
 * sent message: tavo handles it whenever its thread looks at its queue (modal loops, the popup
 * menu and the paste's pump included, whatever filter they use), ahead of posted messages and in
 * the order in which this thread forwarded the events. On tavo's own thread (its editor or
 * settings focused) the call goes straight to the window procedure, as a send does. */
static void Forward(WPARAM vk, LPARAM flags)
{
    if (TargetIsTavo())
        SendNotifyMessageA(HookTarget, TargetMessage, vk, flags);
}

/* A modifier held in this process's view that was released where the library could not see it
 * (another process took the focus) would forward every key from here on: once the window has
 * passed, the thread's key state has the last word. Rare: only while a bit is set. */
static BOOL ModifierStillHeld(void)
{
    DWORD bit;
    for (bit = HELD_SHIFT; bit <= HELD_ALT; bit <<= 1)
        if ((HeldModifiers & bit) != 0 && GetKeyState((int)ModifierKeyOf(bit)) >= 0)
            HeldModifiers &= ~bit;
    return HeldModifiers != 0;
}

static void ForwardKeyEvent(WPARAM vk, LPARAM lParam)
{
    DWORD bit = ModifierBitOf(vk);
    DWORD flags = (DWORD)lParam & KEY_UP_FLAGS;
    if (bit != 0) {
        if ((flags & 0x80000000u) != 0)
            HeldModifiers &= ~bit;
        else
            HeldModifiers |= bit;
        LastModifierTick = GetTickCount();
        ForwardWindowMs = GetDoubleClickTime() + FORWARD_SLACK_MS;
        ModifierSeen = TRUE;
        Forward(ModifierKeyOf(bit), (LPARAM)flags);
        return;
    }
    /* Releases of other keys tell the trigger nothing; plain typing ends here. */
    if ((flags & 0x80000000u) != 0 || !ModifierSeen)
        return;
    if (GetTickCount() - LastModifierTick > ForwardWindowMs) {
        if (HeldModifiers == 0 || !ModifierStillHeld()) {
            ModifierSeen = FALSE;
            return;
        }
    }
    Forward(0, 0);  /* "another key was pressed": no code, no scan code, no flags */
}

LRESULT CALLBACK tvKeyboardHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code >= 0 && HookTarget != NULL)
        ForwardKeyEvent(wParam, lParam);
    return CallNextHookEx(HookHandle, code, wParam, lParam);
}

/* Only WM_HOOKKEY: a caller that asks for another message gets no hook and a section left as it was. */
int WINAPI tvSetHook(HWND target, UINT message)
{
    if (message != WM_HOOKKEY)
        return 0;
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
