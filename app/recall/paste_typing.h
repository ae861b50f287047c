// Typing instead of pasting: the chosen entry goes to the application as key events, each UTF-16
// unit with KEYEVENTF_UNICODE, and never touches the clipboard.
#pragma once
#include <windows.h>
#include "state/item_store.h"

// Longest text that is typed; a longer one is refused with a balloon.
#define TYPED_TEXT_MAX 10000

// One key of a typed text.
#define TYPED_KEY_END   0  // nothing left
#define TYPED_KEY_UNIT  1  // *unit as KEYEVENTF_UNICODE
#define TYPED_KEY_ENTER 2
#define TYPED_KEY_TAB   3
// The next key of the text at *position. A copy-history text (registered FALSE) gives one Enter
// for each line break (CR LF, a lone CR or LF) and a Tab for a Tab; a registered entry moves to the
// next field with Tab where today's paste does (a CR, and the unit after it), an LF in a line is Enter.
int TakeTypedKey(const WCHAR *text, int length, BOOL registered, int *position, WCHAR *unit);
// The records of one key: down and up; KEYEVENTF_UNICODE with the unit in wScan, or the
// virtual key of Enter and Tab. Returns the number of records (2).
int MakeTypedKeyInputs(int key, WCHAR unit, INPUT inputs[2]);

// Types the entry into the window recorded when the menu opened, with delayMs after each key and
// the paste's check before each; stops on exit. FALSE when the text is too long to be typed (the
// caller tells the user).
BOOL TypeEntryAsKeys(ItemId id, int delayMs);
