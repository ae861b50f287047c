// The find box: the second way of choosing inside a popup operation.
#pragma once
#include <windows.h>
#include "state/item_store.h"

// The find box, run inside the popup operation: at the point, with the first character typed
// (0 for none). Returns the chosen entry, or 0; the foreground is the owner again after Enter
// and Esc, as after the menu.
ItemId RunFindBox(HWND owner, POINT at, WCHAR firstChar);
