// The trigger room: taps of Shift, Ctrl or Alt counted from the hook's events, and the hotkey.
// The window-message side is declared in recall.h.
#pragma once
#include <windows.h>
#include "recall/recall.h"

struct TapCounterState {
    int KeyDownFlag;     // 1 between a clean press of the trigger key and its release
    int TapCount;        // taps since the last decision, with no other key between them
    int HeldModifiers;   // TAP_HELD_* of Shift, Ctrl and Alt as the forwarded events tell
    HWND Foreground;     // the foreground window when the last event was handled
    DWORD KeyDownTick;   // when the hub handled that clean press (GetTickCount)
};
extern TapCounterState g_tapCounter;  // the recogniser of the hub's thread

#define TAP_HELD_SHIFT 1
#define TAP_HELD_CTRL  2
#define TAP_HELD_ALT   4

// What a key event asks of TIMER_DOUBLETAP.
#define TAP_ARM_NONE  0  // leave the timer alone
#define TAP_ARM_FIRST 1  // arm it with the double-click time
#define TAP_ARM_AGAIN 2  // arm it with 1 ms: the decision comes at once

// The double-tap decision.
#define DOUBLETAP_WAIT  0  // busy: keep the count for later
#define DOUBLETAP_OPEN  1  // open the menu, then forget the taps
#define DOUBLETAP_RESET 2  // forget the taps

// VK_SHIFT, VK_CONTROL or VK_MENU for the double-tap modes; 0 for every other mode.
int TriggerKeyOfMode(int menuKeyMode);
// One forwarded key event: vk is VK_SHIFT, VK_CONTROL or VK_MENU (left and right alike) with
// flags bits 30 and 31, or any other code for the press of another key. A chord, a trigger press
// while another modifier is held, another key between taps and a change of the foreground window
// all start over.
int CountTap(TapCounterState *state, int menuKeyMode, WPARAM vk, LPARAM flags, HWND foreground);
// Whether a clean press whose key the keyboard says is up lost its release (the secure desktop
// takes it where the hook cannot see it). Only once the double-click time has passed since the
// press: the hook runs when the typing application reads its input, so a forwarded press may
// reach the hub after the key is already up, with its release still on the way.
BOOL PressReleaseLost(const TapCounterState *state, BOOL keyUp, DWORD now, DWORD doubleClickMs);
// A mouse button went down: a trigger held at the time makes no tap.
void CountMouseClick(TapCounterState *state);
// TRUE while a click would spoil a tap, that is, while the mouse is worth watching.
BOOL TapWantsMouse(const TapCounterState *state);
int DecideDoubleTap(const TapCounterState *state, int busyState);
BOOL HotKeyOpensMenu(WPARAM hotkeyId, int menuKeyMode);
