#include "state/ini_data.h"

IniData g_ini;

void SetDefaultIniData(IniData *ini)
{
    ZeroMemory(ini, sizeof(*ini));
    ini->pasteWaitMs = 100;
    ini->menuItemChars = 20;
    ini->menuWrapCount = 10;
    ini->treeWidth = 200;
    ini->historyMax = 1000;
}

static int Clamp(int value, int low, int high)
{
    return value < low ? low : value > high ? high : value;
}

BOOL PlacementIsSane(const WINDOWPLACEMENT *placement)
{
    if (placement->showCmd == 0)
        return TRUE;  // never recorded
    if (placement->showCmd > SW_MAX)
        return FALSE;
    const RECT &r = placement->rcNormalPosition;
    // Differences in 64 bits: the corners of a damaged record may be anything.
    long long width = (long long)r.right - r.left, height = (long long)r.bottom - r.top;
    return width > 0 && height > 0 && width <= PLACEMENT_EXTENT_MAX && height <= PLACEMENT_EXTENT_MAX &&
           r.left >= -PLACEMENT_EXTENT_MAX && r.left <= PLACEMENT_EXTENT_MAX && r.top >= -PLACEMENT_EXTENT_MAX &&
           r.top <= PLACEMENT_EXTENT_MAX;
}

void ClampIniData(IniData *ini)
{
    ini->pasteWaitMs = Clamp(ini->pasteWaitMs, PASTE_WAIT_MIN, PASTE_WAIT_MAX);
    ini->menuItemChars = Clamp(ini->menuItemChars, ITEM_CHARS_MIN, ITEM_CHARS_MAX);
    ini->menuWrapCount = Clamp(ini->menuWrapCount, WRAP_COUNT_MIN, WRAP_COUNT_MAX);
    ini->historyMax = Clamp(ini->historyMax, HISTORY_MAX_MIN, HISTORY_MAX_MAX);
    if (ini->menuKeyMode < MENU_KEY_SHIFT || ini->menuKeyMode > MENU_KEY_HOTKEY)
        ini->menuKeyMode = MENU_KEY_SHIFT;
    ini->treeWidth = Clamp(ini->treeWidth, TREE_WIDTH_MIN, TREE_WIDTH_MAX);
    if (!PlacementIsSane(&ini->editorPlacement))
        ZeroMemory(&ini->editorPlacement, sizeof(ini->editorPlacement));
    ini->hotkeyMods &= HOTKEY_MODS_ACCEPTED;
    if (ini->hotkeyVk < 1 || ini->hotkeyVk > 254) {
        ini->hotkeyVk = 0;
        ini->hotkeyMods = 0;
    }
}

static BOOL KeyTypes(int vk)
{
    return (vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z') || vk == VK_SPACE || vk == VK_RETURN || vk == VK_TAB ||
           vk == VK_BACK || (vk >= VK_NUMPAD0 && vk <= VK_DIVIDE) || (vk >= VK_OEM_1 && vk <= VK_OEM_3) ||
           (vk >= VK_OEM_4 && vk <= VK_OEM_8) || vk == VK_OEM_102;
}

// Esc, the arrows and the keys above them move or end something in every program.
static BOOL KeyNavigates(int vk)
{
    return vk == VK_ESCAPE || (vk >= VK_PRIOR && vk <= VK_DOWN) || vk == VK_INSERT || vk == VK_DELETE;
}

BOOL HotkeyAllowed(int vk, int mods)
{
    return (!KeyTypes(vk) && !KeyNavigates(vk)) || (mods & (MOD_CONTROL | MOD_ALT)) != 0;
}

BOOL MenuHotkeyWanted(const IniData *ini)
{
    return ini->menuKeyMode == MENU_KEY_HOTKEY && ini->hotkeyVk != 0 && HotkeyAllowed(ini->hotkeyVk, ini->hotkeyMods);
}
