// Helpers of the capture-and-recall tests.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "recall/clipboard.h"
#include "recall/trigger.h"
#include "recall/focus.h"
#include "recall/popup_menu.h"
#include "recall/find_box.h"
#include "recall/paste.h"
#include "recall/recall.h"
#include "recall/paste_guard.h"
#include "shell/shell.h"
#include "state/app_rules.h"
#include "state/ini_data.h"

// A clean start: empty store, default settings, nothing busy, no taps.
inline void ResetRecallForTests()
{
    ItemStore::ResetForTests();
    SetDefaultIniData(&g_ini);
    g_busyState = 0;
    ZeroMemory(&g_tapCounter, sizeof(g_tapCounter));
    ZeroMemory(&g_focusSnapshot, sizeof(g_focusSnapshot));
    g_sendInputRoute = SendInput;
    g_pasteStopRequested = FALSE;
    ZeroMemory(&g_typedLines, sizeof(g_typedLines));
    SetDefaultAppRules(&g_appRules);
}

// Texts of the History entries, oldest first.
inline std::vector<std::wstring> HistoryTexts()
{
    std::vector<std::wstring> texts;
    const ItemMap &items = ItemStore::Items();
    for (ItemMap::const_iterator it = items.begin(); it != items.end(); ++it)
        if (it->second.kind == History)
            texts.push_back(it->second.text);
    return texts;
}

// Records every batch of synthesized keys instead of sending it.
struct KeyBatch {
    std::vector<INPUT> inputs;
    int sizeArgument;
};
extern std::vector<KeyBatch> RecordedBatches;
UINT WINAPI RecordSendInput(UINT count, LPINPUT inputs, int size);
