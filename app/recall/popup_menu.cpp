// The popup menu at the caret: both lists of the store, newest first, copy history in the root
// and registered entries under "L: 登録データ", cut into blocks of menuWrapCount entries. The
// menu is laid out as plain data first and only then turned into an HMENU.
#include "recall/popup_menu.h"
#include "recall/clipboard.h"
#include "recall/find_box.h"
#include "recall/focus.h"
#include "recall/paste.h"
#include <assert.h>
#include "lang/ui_language.h"
#include "res/resource.h"
#include "state/ini_data.h"

int g_busyState;
const WCHAR LabelPrefixes[] = L"0123456789abcdefghijklmnopqrst";
static_assert(ARRAYSIZE(LabelPrefixes) == LABEL_PREFIX_COUNT + 1, "one prefix per label");

#define LABEL_TAKEN_CHARS 56  // room for the taken part of a text
#define DOWN_ARROW 0x2193


void MakeItemLabel(WCHAR *dest, const WCHAR *text, int prefixIndex, int maxChars)
{
    WCHAR work[ITEM_LABEL_CHARS] = {0};
    WCHAR taken[LABEL_TAKEN_CHARS] = {0};
    WCHAR output[ITEM_LABEL_CHARS] = {0};
    // The buffers hold 3 + 50 + 3 characters: a label takes at most 50, and no fewer than none.
    if (maxChars > ITEM_CHARS_MAX)
        maxChars = ITEM_CHARS_MAX;
    if (maxChars < 0)
        maxChars = 0;
    if (!text)
        text = L"";

    int workLength = 0;
    if (prefixIndex >= 0 && prefixIndex < LABEL_PREFIX_COUNT)
        workLength = wsprintfW(work, L"%c: ", LabelPrefixes[prefixIndex]);

    int length = lstrlenW(text);
    int takenLength = length > maxChars ? maxChars : length;
    CopyMemory(taken, text, takenLength * sizeof(WCHAR));
    CopyMemory(work + workLength, taken, takenLength * sizeof(WCHAR));
    workLength += takenLength;
    work[workLength] = 0;

    int out = 0;
    for (int k = 0; k < workLength; k++) {
        WCHAR ch = work[k];
        if (ch == L'\t') {
            output[out++] = L' ';
        } else if (ch == L'\n') {
            output[out++] = DOWN_ARROW;
        } else if (ch == L'\r') {
            output[out++] = DOWN_ARROW;
            k++;  // the LF of the pair (whatever follows) goes with the CR
        } else {
            output[out++] = ch;
        }
    }
    if (length > maxChars) {
        output[out++] = L'.';
        output[out++] = L'.';
        output[out++] = L'.';
    }
    output[out] = 0;
    lstrcpyW(dest, output);
}

static void CountKinds(int *historyCount, int *registeredCount)
{
    *historyCount = *registeredCount = 0;
    const ItemMap &items = ItemStore::Items();
    for (ItemMap::const_iterator it = items.begin(); it != items.end(); ++it) {
        if (it->second.kind == History)
            (*historyCount)++;
        else if (it->second.kind == Registered)
            (*registeredCount)++;
    }
}

static int BlockCount(int entries, int wrapCount)
{
    return entries > wrapCount ? (entries - 1) / wrapCount : 0;
}

static MenuLayoutItem *AddLayoutItem(MenuLayout *layout, int type, int menu)
{
    MenuLayoutItem *item = &layout->items[layout->count++];
    item->type = type;
    item->menu = menu;
    item->submenu = 0;
    item->id = 0;
    item->label[0] = 0;
    return item;
}

static int AddSubmenuItem(MenuLayout *layout, int menu, const WCHAR *title)
{
    MenuLayoutItem *item = AddLayoutItem(layout, MENU_ITEM_SUBMENU, menu);
    item->submenu = layout->menuCount++;
    lstrcpynW(item->label, title, ITEM_LABEL_CHARS);
    return item->submenu;
}

void ShareBlockRoom(int *historyBlocks, int *registeredBlocks)
{
    int room = MENU_COUNT_MAX - 2;  // the root and the registered-data submenu are always there
    int half = room / 2;
    if (*historyBlocks + *registeredBlocks <= room)
        return;
    if (*registeredBlocks <= half) {
        *historyBlocks = room - *registeredBlocks;
    } else if (*historyBlocks <= half) {
        *registeredBlocks = room - *historyBlocks;
    } else {
        *historyBlocks = room - half;
        *registeredBlocks = half;
    }
}

int CountPopupMenus(int wrapCount)
{
    int historyCount, registeredCount;
    CountKinds(&historyCount, &registeredCount);
    int historyBlocks = BlockCount(historyCount, wrapCount), registeredBlocks = BlockCount(registeredCount, wrapCount);
    ShareBlockRoom(&historyBlocks, &registeredBlocks);
    return 2 + historyBlocks + registeredBlocks;
}

// The item that stands for the entries beyond the list's last block.
static void AddMoreItem(MenuLayout *layout, int menu, int beyond)
{
    MenuLayoutItem *item = AddLayoutItem(layout, MENU_ITEM_MORE, menu);
    item->id = beyond;
    WCHAR format[ITEM_LABEL_CHARS];
    if (LoadUiText(IDS_MENU_MORE, format, ITEM_LABEL_CHARS) <= 0)
        lstrcpyW(format, L"%d");
    WCHAR label[ITEM_LABEL_CHARS + 16];
    wsprintfW(label, format, beyond);
    EscapeMenuLabel(item->label, label);
}

// One list, newest first, in at most maxBlocks blocks; returns how many entries were placed.
static int LayOutList(MenuLayout *layout, ItemKind kind, int kindMenu, int wrapCount, int itemChars, int entries,
                      int maxBlocks)
{
    int placed = 0, blocks = 0, block = 0;
    WCHAR blockFormat[32];
    LoadUiText(IDS_MENU_BLOCK, blockFormat, ARRAYSIZE(blockFormat));
    const ItemMap &items = ItemStore::Items();
    for (ItemMap::const_reverse_iterator it = items.rbegin(); it != items.rend(); ++it) {
        if (it->second.kind != kind)
            continue;
        if (placed == (blocks + 1) * wrapCount && blocks == maxBlocks) {
            AddMoreItem(layout, kindMenu, entries - placed);
            break;
        }
        if (placed == (blocks + 1) * wrapCount) {
            WCHAR title[ITEM_LABEL_CHARS];
            wsprintfW(title, blockFormat, placed + 1);
            block = AddSubmenuItem(layout, kindMenu, title);
            blocks++;
        }
        MenuLayoutItem *item = AddLayoutItem(layout, MENU_ITEM_ENTRY, blocks == 0 ? kindMenu : block);
        item->id = it->first;
        WCHAR label[ITEM_LABEL_CHARS];
        MakeItemLabel(label, kind == History ? it->second.text : it->second.name, placed % wrapCount, itemChars);
        EscapeMenuLabel(item->label, label);
        placed++;
    }
    return placed;
}

BOOL LayOutPopupMenu(int wrapCount, int itemChars, MenuLayout *layout)
{
    layout->items = nullptr;
    layout->count = 0;
    layout->menuCount = 1;
    // ClampIniData brought the settings into range at load, and the sheet keeps them there.
    assert(wrapCount >= WRAP_COUNT_MIN && wrapCount <= WRAP_COUNT_MAX);
    assert(itemChars >= ITEM_CHARS_MIN && itemChars <= ITEM_CHARS_MAX);

    int historyCount, registeredCount;
    CountKinds(&historyCount, &registeredCount);
    int historyBlocks = BlockCount(historyCount, wrapCount), registeredBlocks = BlockCount(registeredCount, wrapCount);
    int capacity = historyCount + registeredCount + historyBlocks + registeredBlocks + 5;
    layout->items = (MenuLayoutItem *)HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(MenuLayoutItem));
    if (!layout->items)
        return FALSE;
    ShareBlockRoom(&historyBlocks, &registeredBlocks);

    if (LayOutList(layout, History, 0, wrapCount, itemChars, historyCount, historyBlocks) == 0) {
        MenuLayoutItem *placeholder = AddLayoutItem(layout, MENU_ITEM_PLACEHOLDER, 0);
        LoadUiText(IDS_MENU_NO_HISTORY, placeholder->label, ARRAYSIZE(placeholder->label));
    }
    AddLayoutItem(layout, MENU_ITEM_SEPARATOR, 0);
    WCHAR registeredTitle[ITEM_LABEL_CHARS];
    LoadUiText(IDS_MENU_REGISTERED, registeredTitle, ARRAYSIZE(registeredTitle));
    int registeredMenu = AddSubmenuItem(layout, 0, registeredTitle);
    LayOutList(layout, Registered, registeredMenu, wrapCount, itemChars, registeredCount, registeredBlocks);
    return TRUE;
}

void FreeMenuLayout(MenuLayout *layout)
{
    if (layout->items)
        HeapFree(GetProcessHeap(), 0, layout->items);
    layout->items = nullptr;
    layout->count = 0;
    layout->menuCount = 0;
}

void EscapeMenuLabel(WCHAR *dest, const WCHAR *label)
{
    int out = 0;
    for (int k = 0; label[k] && k < ITEM_LABEL_CHARS - 1; k++) {
        if (label[k] == L'&')
            dest[out++] = L'&';
        dest[out++] = label[k];
    }
    dest[out] = 0;
}

void InitMenuHandles(MenuHandles *handles)
{
    ZeroMemory(handles, sizeof(*handles));
}

// Removes the items only: RemoveMenu leaves a submenu alone, and every submenu is one of ours.
static void EmptyMenu(HMENU menu)
{
    for (int k = GetMenuItemCount(menu) - 1; k >= 0; k--)
        RemoveMenu(menu, k, MF_BYPOSITION);
}

void ReleaseLayoutMenus(MenuHandles *handles)
{
    for (int k = 0; k < handles->count; k++)
        if (handles->filled[k])
            EmptyMenu(handles->menus[k]);
    handles->count = 0;
}

void FreeMenuHandles(MenuHandles *handles)
{
    ReleaseLayoutMenus(handles);
    for (int k = 0; k < handles->room; k++)
        DestroyMenu(handles->menus[k]);
    if (handles->menus)
        HeapFree(GetProcessHeap(), 0, handles->menus);
    if (handles->filled)
        HeapFree(GetProcessHeap(), 0, handles->filled);
    InitMenuHandles(handles);
}

CreatePopupMenuFunction g_createPopupMenuRoute = CreatePopupMenu;

BOOL MakeMenusAhead(MenuHandles *handles, int count)
{
    count = count < MENU_COUNT_MAX ? count : MENU_COUNT_MAX;
    if (count <= handles->room)
        return TRUE;
    HANDLE heap = GetProcessHeap();
    HMENU *menus = (HMENU *)HeapAlloc(heap, HEAP_ZERO_MEMORY, count * sizeof(HMENU));
    BOOL *filled = (BOOL *)HeapAlloc(heap, HEAP_ZERO_MEMORY, count * sizeof(BOOL));
    if (!menus || !filled) {
        if (menus)
            HeapFree(heap, 0, menus);
        if (filled)
            HeapFree(heap, 0, filled);
        return FALSE;
    }
    if (handles->room) {
        CopyMemory(menus, handles->menus, handles->room * sizeof(HMENU));
        CopyMemory(filled, handles->filled, handles->room * sizeof(BOOL));
    }
    if (handles->menus)
        HeapFree(heap, 0, handles->menus);
    if (handles->filled)
        HeapFree(heap, 0, handles->filled);
    handles->menus = menus;
    handles->filled = filled;
    while (handles->room < count && (handles->menus[handles->room] = g_createPopupMenuRoute()) != nullptr)
        handles->room++;
    return handles->room == count;
}

// Appends the items of one menu of the layout; a submenu item gets its menu, still empty.
static void FillMenu(const MenuLayout *layout, MenuHandles *handles, int index)
{
    HMENU parent = handles->menus[index];
    handles->filled[index] = TRUE;
    int position = 0;
    for (int k = 0; k < layout->count; k++) {
        const MenuLayoutItem *item = &layout->items[k];
        if (item->menu != index)
            continue;
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fType = MFT_STRING;
        info.dwTypeData = (WCHAR *)item->label;
        switch (item->type) {
        case MENU_ITEM_ENTRY:
            info.fMask = MIIM_ID | MIIM_TYPE;
            info.wID = (UINT)item->id;
            break;
        case MENU_ITEM_SUBMENU:
            if (item->submenu >= handles->count)
                continue;  // its menu could not be made
            info.fMask = MIIM_SUBMENU | MIIM_TYPE;
            info.hSubMenu = handles->menus[item->submenu];
            break;
        case MENU_ITEM_MORE:
            info.fMask = MIIM_ID | MIIM_TYPE;
            info.wID = (UINT)MENU_MORE_COMMAND;
            break;
        case MENU_ITEM_PLACEHOLDER:
            info.fMask = MIIM_STATE | MIIM_TYPE;
            info.fState = MFS_GRAYED;
            break;
        default:
            info.fMask = MIIM_STATE | MIIM_TYPE;
            info.fType = MFT_SEPARATOR;
            info.fState = MFS_GRAYED;
            info.dwTypeData = nullptr;
            break;
        }
        if (InsertMenuItemW(parent, position, TRUE, &info))
            position++;
    }
}

HMENU CreateMenuFromLayout(const MenuLayout *layout, MenuHandles *handles)
{
    ReleaseLayoutMenus(handles);
    MakeMenusAhead(handles, layout->menuCount);
    if (layout->menuCount < 1 || handles->room < 1)
        return nullptr;
    handles->count = layout->menuCount < handles->room ? layout->menuCount : handles->room;
    ZeroMemory(handles->filled, handles->count * sizeof(BOOL));
    FillMenu(layout, handles, 0);
    return handles->menus[0];
}

BOOL FillMenuFromLayout(const MenuLayout *layout, MenuHandles *handles, HMENU menu)
{
    for (int index = 0; menu && index < handles->count; index++) {
        if (handles->menus[index] != menu)
            continue;
        if (!handles->filled[index])
            FillMenu(layout, handles, index);
        return TRUE;
    }
    return FALSE;
}

int DecideMenuChar(WCHAR ch, const WCHAR *const *labels, int count, int *index)
{
    *index = -1;
    if (ch < 0x20 || (ch >= 0x7F && ch <= 0x9F))
        return MENU_CHAR_IGNORE;
    WCHAR key = ch >= L'A' && ch <= L'Z' ? ch + 0x20 : ch;
    for (int k = 0; k < count; k++) {
        const WCHAR *label = labels[k];
        if (!label || !label[0] || label[1] != L':' || label[2] != L' ')
            continue;
        WCHAR prefix = label[0] >= L'A' && label[0] <= L'Z' ? label[0] + 0x20 : label[0];
        if (prefix == key && key != L' ') {
            *index = k;
            return MENU_CHAR_CHOOSE;
        }
    }
    return MENU_CHAR_FIND;
}

// The menu on the screen: its layout stays until it closes, for the submenus that open later;
// its menus stay, empty, for the next time.
static MenuLayout g_openLayout;
static MenuHandles g_openMenus;
// A character typed in the menu asked for the find box; the character (0 for Space).
static BOOL g_findAsked;
static WCHAR g_findFirstChar;

static HMENU BuildPopupMenu()
{
    HMENU root = nullptr;
    if (LayOutPopupMenu(g_ini.menuWrapCount, g_ini.menuItemChars, &g_openLayout))
        root = CreateMenuFromLayout(&g_openLayout, &g_openMenus);
    return root;
}

// The menus are kept, empty, for the next time; they go with the process.
static void FreePopupMenu()
{
    ReleaseLayoutMenus(&g_openMenus);
    FreeMenuLayout(&g_openLayout);
}

BOOL OnPopupMenuOpening(HMENU menu)
{
    return FillMenuFromLayout(&g_openLayout, &g_openMenus, menu);
}

// The index of the menu in the open layout, or -1 when it is none of the popup menu's.
static int OpenMenuIndex(HMENU menu)
{
    for (int k = 0; menu && k < g_openMenus.count; k++)
        if (g_openMenus.menus[k] == menu)
            return k;
    return -1;
}

static void AskFindBox(WCHAR firstChar)
{
    g_findAsked = TRUE;
    g_findFirstChar = firstChar;
}

BOOL OnPopupMenuChar(WPARAM wParam, LPARAM lParam, LRESULT *result)
{
    int menu = OpenMenuIndex((HMENU)lParam);
    if (menu < 0)
        return FALSE;
    *result = MAKELRESULT(0, MNC_IGNORE);
    // The open menu's labels in the order of its items, as FillMenu made them.
    const WCHAR **labels = (const WCHAR **)HeapAlloc(GetProcessHeap(), 0, (g_openLayout.count + 1) * sizeof(WCHAR *));
    if (!labels)
        return TRUE;
    int count = 0;
    for (int k = 0; k < g_openLayout.count; k++) {
        const MenuLayoutItem *item = &g_openLayout.items[k];
        if (item->menu == menu)
            labels[count++] = item->type == MENU_ITEM_SEPARATOR ? nullptr : item->label;
    }
    int index = -1;
    WCHAR ch = LOWORD(wParam);
    switch (DecideMenuChar(ch, labels, count, &index)) {
    case MENU_CHAR_CHOOSE:
        *result = MAKELRESULT(index, MNC_EXECUTE);
        break;
    case MENU_CHAR_FIND:
        // With the IME on, Space may come as the ideographic space: either opens the box empty.
        AskFindBox(ch == L' ' || ch == 0x3000 ? 0 : ch);
        // MNC_CLOSE may close only the open submenu; the whole menu goes.
        EndMenu();
        *result = MAKELRESULT(0, MNC_CLOSE);
        break;
    }
    HeapFree(GetProcessHeap(), 0, labels);
    return TRUE;
}

// The platform's menu takes Space as Enter (Wine chooses the selected item, or closes the menu
// when none is): Space is caught before the menu sees it, so that it opens the find box everywhere.
static LRESULT CALLBACK MenuSpaceFilter(int code, WPARAM wParam, LPARAM lParam)
{
    MSG *msg = (MSG *)lParam;
    if (code == MSGF_MENU && msg && msg->message == WM_CHAR && msg->wParam == L' ') {
        AskFindBox(0);
        EndMenu();
        return TRUE;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void MakeMenusWhenIdle(HWND window)
{
    SetTimer(window, TIMER_MENUS_AHEAD, MENUS_AHEAD_DELAY_MS, nullptr);
}

void OnMenusAheadTimer(HWND window)
{
    KillTimer(window, TIMER_MENUS_AHEAD);
    // A menu opened meanwhile has made its menus already.
    if (g_busyState == BUSY_NONE)
        MakeMenusAhead(&g_openMenus, CountPopupMenus(g_ini.menuWrapCount));
}

BOOL PopupOperationRunning()
{
    return g_busyState != BUSY_NONE;
}

void EndPopupOperation()
{
    if (g_busyState == BUSY_NONE)
        return;
    EndMenu();
    StopTyping();
}

void ShowPopupMenu(HWND owner)
{
    if (g_busyState != BUSY_NONE)
        return;
    g_pasteStopRequested = FALSE;
    g_busyState = BUSY_MENU;
    TakeFocusSnapshot(&g_focusSnapshot);
    ForceForeground(owner, !g_focusSnapshot.targetHung);
    HMENU root = BuildPopupMenu();
    int chosen = 0;
    g_findAsked = FALSE;
    if (root) {
        HHOOK filter = SetWindowsHookExW(WH_MSGFILTER, MenuSpaceFilter, nullptr, GetCurrentThreadId());
        chosen = (int)TrackPopupMenu(root, TPM_RETURNCMD, g_focusSnapshot.menuPoint.x, g_focusSnapshot.menuPoint.y, 0, owner, nullptr);
        if (filter)
            UnhookWindowsHookEx(filter);
    }
    PostMessageW(owner, WM_NULL, 0, 0);
    FreePopupMenu();
    if (chosen == MENU_MORE_COMMAND) {
        chosen = 0;
        AskFindBox(0);
    }
    if (!chosen && g_findAsked && !g_pasteStopRequested)
        chosen = RunFindBox(owner, g_focusSnapshot.menuPoint, g_findFirstChar);
    if (GetForegroundWindow() == owner)
        RestoreFocus(&g_focusSnapshot);
    if (!g_pasteStopRequested)  // an exit asked while the menu was open pastes nothing
        PasteChosenEntry(owner, chosen);
    ZeroMemory(&g_focusSnapshot, sizeof(g_focusSnapshot));
    // The capture was quiet meanwhile; a program that is ending looks at nothing more. The look
    // still belongs to the operation: its wait for a held clipboard handles messages, and a double
    // tap, the hotkey or the exit handled there finds the operation running instead of starting
    // inside it.
    if (!g_pasteStopRequested)
        CaptureChangeMadeMeanwhile(owner);
    g_busyState = BUSY_NONE;
}
