// The popup menu at the caret: both lists of the store, newest first, copy history in the root
// and registered entries under "L: 登録データ", cut into blocks of menuWrapCount entries. The
// menu is laid out as plain data first and only then turned into an HMENU.
#include "recall/recall_internal.h"
#include <assert.h>
#include "state/ini_data.h"

FocusSnapshotRecord g_focusSnapshot;
int g_busyFlag;
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

// One list, newest first; returns how many entries were placed.
static int LayOutList(MenuLayout *layout, ItemKind kind, int kindMenu, int wrapCount, int itemChars)
{
    int placed = 0, blocks = 0, block = 0;
    const ItemMap &items = ItemStore::Items();
    for (ItemMap::const_reverse_iterator it = items.rbegin(); it != items.rend(); ++it) {
        if (it->second.kind != kind)
            continue;
        if (placed == (blocks + 1) * wrapCount) {
            WCHAR title[ITEM_LABEL_CHARS];
            wsprintfW(title, L"[%d ～ ]", placed + 1);
            block = AddSubmenuItem(layout, kindMenu, title);
            blocks++;
        }
        MenuLayoutItem *item = AddLayoutItem(layout, MENU_ITEM_ENTRY, blocks == 0 ? kindMenu : block);
        item->id = it->first;
        MakeItemLabel(item->label, kind == History ? it->second.text : it->second.name, placed % wrapCount, itemChars);
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
    int capacity = historyCount + registeredCount + BlockCount(historyCount, wrapCount) +
                   BlockCount(registeredCount, wrapCount) + 3;
    layout->items = (MenuLayoutItem *)HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(MenuLayoutItem));
    if (!layout->items)
        return FALSE;

    if (LayOutList(layout, History, 0, wrapCount, itemChars) == 0)
        lstrcpyW(AddLayoutItem(layout, MENU_ITEM_PLACEHOLDER, 0)->label, L"(コピー履歴なし)");
    AddLayoutItem(layout, MENU_ITEM_SEPARATOR, 0);
    int registeredMenu = AddSubmenuItem(layout, 0, L"L: 登録データ");
    LayOutList(layout, Registered, registeredMenu, wrapCount, itemChars);
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

HMENU CreateMenuFromLayout(const MenuLayout *layout)
{
    if (layout->menuCount < 1)
        return nullptr;
    HMENU *menus = (HMENU *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, layout->menuCount * sizeof(HMENU));
    int *itemCounts = (int *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, layout->menuCount * sizeof(int));
    HMENU root = nullptr;
    if (menus && itemCounts)
        root = menus[0] = CreatePopupMenu();
    for (int k = 0; root && k < layout->count; k++) {
        const MenuLayoutItem *item = &layout->items[k];
        HMENU parent = menus[item->menu];
        if (!parent)
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
            menus[item->submenu] = CreatePopupMenu();
            info.fMask = MIIM_SUBMENU | MIIM_TYPE;
            info.hSubMenu = menus[item->submenu];
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
        if (InsertMenuItemW(parent, itemCounts[item->menu], TRUE, &info))
            itemCounts[item->menu]++;
        else if (item->type == MENU_ITEM_SUBMENU && menus[item->submenu]) {
            DestroyMenu(menus[item->submenu]);  // not attached: nobody else would free it
            menus[item->submenu] = nullptr;
        }
    }
    if (menus)
        HeapFree(GetProcessHeap(), 0, menus);
    if (itemCounts)
        HeapFree(GetProcessHeap(), 0, itemCounts);
    return root;
}

// Windows shares the input state of two attached threads both ways. Wine gives the attaching
// thread (the first argument) the other's state and drops the attaching thread's own, so this
// thread always attaches itself: the other application's focus and foreground stay intact.
static BOOL AttachToThread(DWORD thread, BOOL attach)
{
    DWORD self = GetCurrentThreadId();
    return thread && thread != self && AttachThreadInput(self, thread, attach);
}

void TakeFocusSnapshot(FocusSnapshotRecord *snapshot)
{
    snapshot->foregroundWindow = GetForegroundWindow();
    DWORD thread = GetWindowThreadProcessId(snapshot->foregroundWindow, nullptr);
    // Attached, the focus and the caret of the other thread become readable.
    BOOL attached = AttachToThread(thread, TRUE);
    snapshot->focusWindow = GetFocus();
    POINT caret = {0, 0};
    if (GetCaretPos(&caret) && (caret.x > 0 || caret.y > 0)) {
        snapshot->menuPoint = caret;
        ClientToScreen(snapshot->focusWindow, &snapshot->menuPoint);
    } else {
        GetCursorPos(&snapshot->menuPoint);
    }
    if (attached)
        AttachToThread(thread, FALSE);
}

void ForceForeground(HWND window)
{
    DWORD foregroundThread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
    DWORD windowThread = GetWindowThreadProcessId(window, nullptr);
    DWORD self = GetCurrentThreadId();
    // One of the two threads is this one whenever the program calls this.
    DWORD other = windowThread == self ? foregroundThread : foregroundThread == self ? windowThread : 0;
    BOOL attached = FALSE;
    if (other)
        attached = AttachToThread(other, TRUE);
    else if (foregroundThread && windowThread && foregroundThread != windowThread)
        attached = AttachThreadInput(windowThread, foregroundThread, TRUE);
    DWORD savedTimeout = 0;
    SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &savedTimeout, 0);
    SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, 0);
    SetForegroundWindow(window);
    SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, (void *)(DWORD_PTR)savedTimeout, 0);
    if (attached && other)
        AttachToThread(other, FALSE);
    else if (attached)
        AttachThreadInput(windowThread, foregroundThread, FALSE);
    // Under Wine the foreground set while attached does not outlive the detach.
    if (GetForegroundWindow() != window)
        SetForegroundWindow(window);
}

void RestoreFocus(const FocusSnapshotRecord *snapshot)
{
    if (snapshot->foregroundWindow) {
        ForceForeground(snapshot->foregroundWindow);
        SendMessageBounded(snapshot->foregroundWindow, WM_NCACTIVATE, TRUE, 0);
    }
    if (snapshot->focusWindow) {
        DWORD thread = GetWindowThreadProcessId(snapshot->foregroundWindow, nullptr);
        BOOL attached = AttachToThread(thread, TRUE);
        if (GetFocus() != snapshot->focusWindow)
            SetFocus(snapshot->focusWindow);
        if (attached)
            AttachToThread(thread, FALSE);
    }
    // Wine can leave no foreground window after the attached steps above, and the keys of the
    // paste would go nowhere; on Windows this finds the right window and does nothing.
    if (snapshot->foregroundWindow && GetForegroundWindow() != snapshot->foregroundWindow)
        SetForegroundWindow(snapshot->foregroundWindow);
}

static HMENU BuildPopupMenu()
{
    MenuLayout layout;
    HMENU root = nullptr;
    if (LayOutPopupMenu(g_ini.menuWrapCount, g_ini.menuItemChars, &layout))
        root = CreateMenuFromLayout(&layout);
    FreeMenuLayout(&layout);
    return root;
}

BOOL PopupOperationRunning()
{
    return g_busyFlag != BUSY_NONE;
}

void EndPopupOperation()
{
    if (g_busyFlag == BUSY_NONE)
        return;
    EndMenu();
    StopTyping();
}

void ShowPopupMenu(HWND owner)
{
    if (g_busyFlag != BUSY_NONE)
        return;
    g_pasteStopRequested = FALSE;
    g_busyFlag = BUSY_MENU;
    TakeFocusSnapshot(&g_focusSnapshot);
    ForceForeground(owner);
    HMENU root = BuildPopupMenu();
    int chosen = 0;
    if (root)
        chosen = (int)TrackPopupMenu(root, TPM_RETURNCMD, g_focusSnapshot.menuPoint.x, g_focusSnapshot.menuPoint.y, 0, owner, nullptr);
    PostMessageW(owner, WM_NULL, 0, 0);
    if (root)
        DestroyMenu(root);
    if (GetForegroundWindow() == owner)
        RestoreFocus(&g_focusSnapshot);
    if (!g_pasteStopRequested)  // an exit asked while the menu was open pastes nothing
        PasteChosenEntry(owner, chosen);
    ZeroMemory(&g_focusSnapshot, sizeof(g_focusSnapshot));
    g_busyFlag = BUSY_NONE;
}
