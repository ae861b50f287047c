// Typing instead of pasting. The keys pass the hook as "another key" and so end any tap count:
// taps made while typing open nothing.
#include "recall/paste_typing.h"
#include "recall/paste.h"
#include "recall/focus.h"

int TakeTypedKey(const WCHAR *text, int length, BOOL registered, int *position, WCHAR *unit)
{
    if (*position >= length)
        return TYPED_KEY_END;
    WCHAR ch = text[(*position)++];
    *unit = ch;
    if (ch == L'\r') {
        if (registered) {
            // As the paste moves on: the LF of a CR LF pair, or whatever follows a lone CR, goes with it.
            if (*position < length)
                (*position)++;
            return TYPED_KEY_TAB;
        }
        if (*position < length && text[*position] == L'\n')
            (*position)++;
        return TYPED_KEY_ENTER;
    }
    if (ch == L'\n')
        return TYPED_KEY_ENTER;
    if (ch == L'\t')
        return TYPED_KEY_TAB;
    return TYPED_KEY_UNIT;
}

int MakeTypedKeyInputs(int key, WCHAR unit, INPUT inputs[2])
{
    ZeroMemory(inputs, 2 * sizeof(INPUT));
    for (int k = 0; k < 2; k++) {
        inputs[k].type = INPUT_KEYBOARD;
        DWORD up = k == 1 ? KEYEVENTF_KEYUP : 0;
        if (key == TYPED_KEY_UNIT) {
            // The flag wants the unit in wScan and no virtual key; a surrogate pair is two such keys.
            inputs[k].ki.wScan = unit;
            inputs[k].ki.dwFlags = KEYEVENTF_UNICODE | up;
        } else {
            WORD vk = key == TYPED_KEY_ENTER ? VK_RETURN : VK_TAB;
            inputs[k].ki.wVk = vk;
            inputs[k].ki.wScan = (WORD)MapVirtualKeyW(vk, 0);
            inputs[k].ki.dwFlags = up;
        }
    }
    return 2;
}

BOOL TypeEntryAsKeys(ItemId id, int delayMs)
{
    const Item *item = ItemStore::Find(id);
    if (!item || g_pasteStopRequested)
        return TRUE;
    int length = item->text ? lstrlenW(item->text) : 0;
    if (length > TYPED_TEXT_MAX)
        return FALSE;
    // The typing pumps messages: the entry may change meanwhile, the copy not.
    WCHAR *text = (WCHAR *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 2 * length + 2);
    if (!text)
        return TRUE;
    CopyMemory(text, item->text, 2 * length);
    BOOL registered = item->kind == Registered;
    int position = 0;
    BOOL firstKey = TRUE;
    WCHAR unit = 0;
    for (;;) {
        int key = TakeTypedKey(text, length, registered, &position, &unit);
        if (key == TYPED_KEY_END || !WaitUntilKeyMayGo(firstKey))
            break;
        INPUT inputs[2];
        g_sendInputRoute(MakeTypedKeyInputs(key, unit, inputs), inputs, sizeof(INPUT));
        firstKey = FALSE;
        if (!WaitPumping((DWORD)delayMs, nullptr))
            break;
    }
    SecureZeroMemory(text, 2 * length);
    HeapFree(GetProcessHeap(), 0, text);
    return TRUE;
}
