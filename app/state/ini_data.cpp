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

void ClampIniData(IniData *ini)
{
    ini->pasteWaitMs = Clamp(ini->pasteWaitMs, PASTE_WAIT_MIN, PASTE_WAIT_MAX);
    ini->menuItemChars = Clamp(ini->menuItemChars, ITEM_CHARS_MIN, ITEM_CHARS_MAX);
    ini->menuWrapCount = Clamp(ini->menuWrapCount, WRAP_COUNT_MIN, WRAP_COUNT_MAX);
    ini->historyMax = Clamp(ini->historyMax, HISTORY_MAX_MIN, HISTORY_MAX_MAX);
    if (ini->menuKeyMode < 0 || ini->menuKeyMode > 3)
        ini->menuKeyMode = 0;
}
