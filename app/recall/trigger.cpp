// When the popup menu opens: a deliberate double tap of the chosen modifier, seen through the
// events that the hook library forwards, or the menu hotkey. The library forwards Shift, Ctrl and
// Alt, and a nameless press for any other key typed near them; OnHookKey does a few comparisons
// and at most one timer call: no allocation, no store.
#include "recall/trigger.h"
#include "recall/app_decide.h"
#include "state/ini_data.h"

TapCounterState g_tapCounter;
static BOOL g_watchingMouse;  // the mouse is registered for raw input

int TriggerKeyOfMode(int menuKeyMode)
{
    switch (menuKeyMode) {
    case MENU_KEY_SHIFT: return VK_SHIFT;
    case MENU_KEY_CTRL: return VK_CONTROL;
    case MENU_KEY_ALT: return VK_MENU;
    default: return 0;
    }
}

// TAP_HELD_* of a modifier, left and right keys alike; 0 for every other key.
static int HeldBitOf(WPARAM vk)
{
    switch (vk) {
    case VK_SHIFT: case VK_LSHIFT: case VK_RSHIFT: return TAP_HELD_SHIFT;
    case VK_CONTROL: case VK_LCONTROL: case VK_RCONTROL: return TAP_HELD_CTRL;
    case VK_MENU: case VK_LMENU: case VK_RMENU: return TAP_HELD_ALT;
    default: return 0;
    }
}

static void StartOver(TapCounterState *state)
{
    state->KeyDownFlag = 0;
    state->TapCount = 0;
}

int CountTap(TapCounterState *state, int menuKeyMode, WPARAM vk, LPARAM flags, HWND foreground)
{
    // Another window came to the front (Alt+Tab, a click elsewhere): what was held or tapped was
    // meant for the window before.
    if (foreground != state->Foreground) {
        StartOver(state);
        state->HeldModifiers = 0;
        state->Foreground = foreground;
    }
    int bit = HeldBitOf(vk);
    BOOL release = ((DWORD)flags & 0x80000000u) != 0;
    BOOL wasDown = ((DWORD)flags & 0x40000000u) != 0;
    if (bit == 0) {
        // Another key: a chord, or typing between the taps.
        if (!release)
            StartOver(state);
        return TAP_ARM_NONE;
    }
    if (release) {
        state->HeldModifiers &= ~bit;
        if (bit != HeldBitOf((WPARAM)TriggerKeyOfMode(menuKeyMode)) || state->KeyDownFlag == 0)
            return TAP_ARM_NONE;
        state->KeyDownFlag = 0;
        state->TapCount++;
        return state->TapCount == 1 ? TAP_ARM_FIRST : TAP_ARM_AGAIN;
    }
    // Auto-repeat, or the same press seen twice, changes nothing.
    if ((state->HeldModifiers & bit) != 0)
        return TAP_ARM_NONE;
    state->HeldModifiers |= bit;
    if (bit == HeldBitOf((WPARAM)TriggerKeyOfMode(menuKeyMode)) && state->HeldModifiers == bit && !wasDown) {
        state->KeyDownFlag = 1;
        return TAP_ARM_NONE;
    }
    // Another modifier (Ctrl+Shift), a trigger pressed while one is held, or a repeat whose
    // first press was forgotten.
    StartOver(state);
    return TAP_ARM_NONE;
}

void CountMouseClick(TapCounterState *state)
{
    if (state->KeyDownFlag == 1)
        StartOver(state);
}

BOOL TapWantsMouse(const TapCounterState *state)
{
    return state->KeyDownFlag == 1;
}

int DecideDoubleTap(const TapCounterState *state, int busyState)
{
    if (busyState != BUSY_NONE)
        return DOUBLETAP_WAIT;
    return state->TapCount > 1 ? DOUBLETAP_OPEN : DOUBLETAP_RESET;
}

BOOL HotKeyOpensMenu(WPARAM hotkeyId, int menuKeyMode)
{
    return (hotkeyId & 0xFFFF) == HOTKEY_MENU && menuKeyMode == MENU_KEY_HOTKEY;
}

// Raw input of the mouse only while the trigger key is held: a click then spoils the tap (Shift+
// click, Ctrl+click). It comes to this thread without any application waiting for it, and at
// every other time the mouse reaches tavo not at all.
static void WatchMouse(HWND window, BOOL watch)
{
    if (watch == g_watchingMouse)
        return;
    RAWINPUTDEVICE device = {};
    device.usUsagePage = 0x01;  // generic desktop
    device.usUsage = 0x02;      // mouse
    device.dwFlags = watch ? RIDEV_INPUTSINK : RIDEV_REMOVE;
    device.hwndTarget = watch ? window : nullptr;
    if (RegisterRawInputDevices(&device, 1, sizeof(device)))
        g_watchingMouse = watch;
}

// A release lost where the hook cannot see it (the secure desktop of Ctrl+Alt+Del) would leave a
// modifier held here for good and spoil every tap: at a trigger press, the keyboard has the last word.
static void ForgetModifiersReleased(TapCounterState *state, int menuKeyMode, WPARAM vk, LPARAM flags)
{
    if (state->HeldModifiers == 0 || vk != (WPARAM)TriggerKeyOfMode(menuKeyMode) || ((DWORD)flags & 0x80000000u) != 0)
        return;
    const int keys[3] = {VK_SHIFT, VK_CONTROL, VK_MENU};
    for (int k = 0; k < 3; k++)
        if (keys[k] != (int)vk && (state->HeldModifiers & HeldBitOf(keys[k])) != 0 && GetAsyncKeyState(keys[k]) >= 0)
            state->HeldModifiers &= ~HeldBitOf(keys[k]);
}

BOOL PressReleaseLost(const TapCounterState *state, BOOL keyUp, DWORD now, DWORD doubleClickMs)
{
    return TapWantsMouse(state) && keyUp && now - state->KeyDownTick > doubleClickMs;
}

void OnHookKey(HWND window, WPARAM wParam, LPARAM lParam)
{
    ForgetModifiersReleased(&g_tapCounter, g_ini.menuKeyMode, wParam, lParam);
    int wasDown = g_tapCounter.KeyDownFlag;
    int arm = CountTap(&g_tapCounter, g_ini.menuKeyMode, wParam, lParam, GetForegroundWindow());
    if (g_tapCounter.KeyDownFlag && !wasDown)
        g_tapCounter.KeyDownTick = GetTickCount();
    WatchMouse(window, TapWantsMouse(&g_tapCounter));
    if (arm == TAP_ARM_FIRST)
        SetTimer(window, TIMER_DOUBLETAP, GetDoubleClickTime(), nullptr);
    else if (arm == TAP_ARM_AGAIN)
        SetTimer(window, TIMER_DOUBLETAP, 1, nullptr);
}

void OnRawMouseInput(HWND window, LPARAM lParam)
{
    const USHORT downs = RI_MOUSE_BUTTON_1_DOWN | RI_MOUSE_BUTTON_2_DOWN | RI_MOUSE_BUTTON_3_DOWN |
                         RI_MOUSE_BUTTON_4_DOWN | RI_MOUSE_BUTTON_5_DOWN;
    RAWINPUT input;
    UINT size = sizeof(input);
    if (GetRawInputData((HRAWINPUT)lParam, RID_INPUT, &input, &size, sizeof(RAWINPUTHEADER)) != (UINT)-1 &&
        input.header.dwType == RIM_TYPEMOUSE && (input.data.mouse.usButtonFlags & downs) != 0)
        CountMouseClick(&g_tapCounter);
    // A release lost where the hook cannot see it (the secure desktop) would keep every move of the
    // mouse coming here: the keyboard has the last word, and the press is forgotten with the mouse.
    int trigger = TriggerKeyOfMode(g_ini.menuKeyMode);
    if (PressReleaseLost(&g_tapCounter, trigger == 0 || GetAsyncKeyState(trigger) >= 0, GetTickCount(),
                         GetDoubleClickTime())) {
        g_tapCounter.KeyDownFlag = 0;
        g_tapCounter.HeldModifiers &= ~HeldBitOf((WPARAM)trigger);  // its next press is a new tap, no repeat
    }
    WatchMouse(window, TapWantsMouse(&g_tapCounter));
}

void OnDoubleTapTimer(HWND window)
{
    KillTimer(window, TIMER_DOUBLETAP);
    int decision = DecideDoubleTap(&g_tapCounter, g_busyState);
    if (decision == DOUBLETAP_WAIT)
        return;
    // The application in front may want the double tap for itself, or a full-screen one runs.
    if (decision == DOUBLETAP_OPEN && MenuMayOpenOver(GetForegroundWindow()))
        ShowPopupMenu(window);
    // Taps counted while the menu was open are dropped with the rest.
    g_tapCounter.TapCount = 0;
}

void OnHotKey(HWND window, WPARAM wParam)
{
    // A menu or paste already runs: a second one would take over its focus record and g_busyState.
    if (g_busyState != BUSY_NONE)
        return;
    if (HotKeyOpensMenu(wParam, g_ini.menuKeyMode) && MenuMayOpenOver(GetForegroundWindow()))
        ShowPopupMenu(window);
}
