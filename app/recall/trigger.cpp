// When the popup menu opens: a double tap of the chosen modifier, counted from the key events
// that the hook library forwards, or the menu hotkey. OnHookKey runs for every key event of every
// application, so it does a few comparisons and at most one timer call: no allocation, no store.
#include "recall/recall_internal.h"
#include "state/ini_data.h"

TapCounterState g_tapCounter;
OwnKeysState g_ownKeys;

int TriggerKeyOfMode(int menuKeyMode)
{
    switch (menuKeyMode) {
    case MENU_KEY_SHIFT: return VK_SHIFT;
    case MENU_KEY_CTRL: return VK_CONTROL;
    case MENU_KEY_ALT: return VK_MENU;
    default: return 0;
    }
}

int CountTap(TapCounterState *state, int menuKeyMode, WPARAM vk, LPARAM flags)
{
    int triggerKey = TriggerKeyOfMode(menuKeyMode);
    if (triggerKey == 0 || vk != (WPARAM)triggerKey)
        return TAP_ARM_NONE;
    if (((DWORD)flags & 0x80000000u) == 0) {
        state->KeyDownFlag = 1;  // auto-repeat presses land here too and change nothing
        return TAP_ARM_NONE;
    }
    int arm = TAP_ARM_NONE;
    if (state->KeyDownFlag == 1) {
        state->TapCount++;
        arm = state->TapCount == 1 ? TAP_ARM_FIRST : TAP_ARM_AGAIN;
    }
    state->KeyDownFlag = 0;
    return arm;
}

int DecideDoubleTap(const TapCounterState *state, int busyFlag)
{
    if (busyFlag == 1)
        return DOUBLETAP_WAIT;
    return state->TapCount > 1 ? DOUBLETAP_OPEN : DOUBLETAP_RESET;
}

BOOL HotKeyOpensMenu(WPARAM hotkeyId, int menuKeyMode)
{
    return (hotkeyId & 0xFFFF) == HOTKEY_MENU && menuKeyMode == MENU_KEY_HOTKEY;
}

void ExpectOwnKeyEvents(OwnKeysState *state, int ctrlEvents, DWORD now)
{
    // Events still missing from an earlier sending that are overdue are not waited for any more.
    if (now - state->sentAt > OWN_KEYS_WAIT_MS)
        state->pendingCtrl = 0;
    state->pendingCtrl += ctrlEvents;
    state->sentAt = now;
}

BOOL TakeOwnKeyEvent(OwnKeysState *state, WPARAM vk, DWORD now)
{
    if (state->pendingCtrl <= 0 || vk != VK_CONTROL)
        return FALSE;
    if (now - state->sentAt > OWN_KEYS_WAIT_MS) {
        state->pendingCtrl = 0;
        return FALSE;
    }
    state->pendingCtrl--;
    return TRUE;
}

void OnHookKey(HWND window, WPARAM wParam, LPARAM lParam)
{
    // The paste's own Ctrl is no tap: counted, it would make one real tap afterwards a double tap.
    if (TakeOwnKeyEvent(&g_ownKeys, wParam, GetTickCount()))
        return;
    int arm = CountTap(&g_tapCounter, g_ini.menuKeyMode, wParam, lParam);
    if (arm == TAP_ARM_FIRST)
        SetTimer(window, TIMER_DOUBLETAP, GetDoubleClickTime(), nullptr);
    else if (arm == TAP_ARM_AGAIN)
        SetTimer(window, TIMER_DOUBLETAP, 1, nullptr);
}

void OnDoubleTapTimer(HWND window)
{
    KillTimer(window, TIMER_DOUBLETAP);
    int decision = DecideDoubleTap(&g_tapCounter, g_busyFlag);
    if (decision == DOUBLETAP_WAIT)
        return;
    if (decision == DOUBLETAP_OPEN)
        ShowPopupMenu(window);
    // Taps counted while the menu was open are dropped with the rest.
    g_tapCounter.TapCount = 0;
}

void OnHotKey(HWND window, WPARAM wParam)
{
    // A menu or paste already runs: a second one would take over its focus record and g_busyFlag.
    if (g_busyFlag == 1)
        return;
    if (HotKeyOpensMenu(wParam, g_ini.menuKeyMode))
        ShowPopupMenu(window);
}
