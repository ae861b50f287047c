// The menu room: labels, the layout of both lists, the pool of menus, and the menu's keys. The
// popup operation itself (ShowPopupMenu) is declared in recall.h.
#pragma once
#include <windows.h>
#include "recall/recall.h"
#include "state/item_store.h"

#define MENU_ITEM_ENTRY       0  // an entry; its id is the command
#define MENU_ITEM_SUBMENU     1  // a block or the registered-data submenu; opens menu `submenu`
#define MENU_ITEM_PLACEHOLDER 2  // the grey "(コピー履歴なし)"
#define MENU_ITEM_SEPARATOR   3
#define MENU_ITEM_MORE        4  // "…さらに %d 件": the entries beyond the bound; opens the find box

// The most menus a layout has, the root and the registered-data submenu included, and so the most
// that are made and kept: each is a USER object, and a process may hold 10,000 of them. A list
// whose blocks would go beyond ends with a MENU_ITEM_MORE item; when both would, each keeps up to
// half of the blocks' room. 600 holds 5,000 copies and 1,000 registered entries at 10 a block.
#define MENU_COUNT_MAX 600
// The command of the MENU_ITEM_MORE item: above the ids of the store, which count from 1 at each
// start. Not negative: the platform's menu keeps -1 and -2 for itself.
#define MENU_MORE_COMMAND 0x7FFFFFFF

// A menu label with every "&" doubled, so that it shows as typed and gives no access key.
#define MENU_LABEL_CHARS (2 * ITEM_LABEL_CHARS)

struct MenuLayoutItem {
    int type;
    int menu;     // index of the menu the item is appended to; 0 is the root
    int submenu;  // MENU_ITEM_SUBMENU: index of the menu it opens, created with the item
    ItemId id;    // MENU_ITEM_ENTRY: the entry; MENU_ITEM_MORE: how many entries it stands for; 0 otherwise
    WCHAR label[MENU_LABEL_CHARS];
};

// The whole menu in the order in which its items are created.
struct MenuLayout {
    MenuLayoutItem *items;  // process heap
    int count;
    int menuCount;  // root included
};

// Lays out both lists of the store; wrapCount and itemChars are brought into their ranges here.
BOOL LayOutPopupMenu(int wrapCount, int itemChars, MenuLayout *layout);
// How many blocks each list gets of those it needs, within MENU_COUNT_MAX menus.
void ShareBlockRoom(int *historyBlocks, int *registeredBlocks);
// The menus that the layout of the store as it is now has (LayOutPopupMenu's menuCount).
int CountPopupMenus(int wrapCount);
void FreeMenuLayout(MenuLayout *layout);
void EscapeMenuLabel(WCHAR *dest, const WCHAR *label);  // dest: MENU_LABEL_CHARS

// The menus of a layout: the root is filled when it is made, each submenu when it opens
// (WM_INITMENUPOPUP), so that a menu of thousands of entries opens at once. The empty menus are
// kept from one opening to the next: under Wine making or destroying a menu is a round trip to
// the window server, and the blocks of 5,000 entries are 500 menus.
struct MenuHandles {
    HMENU *menus;  // [0] the root; the first `count` serve the open layout, all are empty otherwise
    BOOL *filled;
    int count;     // menus of the open layout; 0 while none is open
    int room;      // menus made so far
};
void InitMenuHandles(MenuHandles *handles);
// Every menu of the pool is made through here; tests put one in its place that runs out.
typedef HMENU(WINAPI *CreatePopupMenuFunction)();
extern CreatePopupMenuFunction g_createPopupMenuRoute;
// Makes menus until `count` are kept (at most MENU_COUNT_MAX); FALSE when not all could be made.
BOOL MakeMenusAhead(MenuHandles *handles, int count);
// The root with its items and its submenus still empty; null when not even the root can be had.
// When fewer menus can be made than the layout has, the submenu items without one are left out.
HMENU CreateMenuFromLayout(const MenuLayout *layout, MenuHandles *handles);
// Fills the menu when it is one of the layout's and still empty; FALSE when it is none of them.
BOOL FillMenuFromLayout(const MenuLayout *layout, MenuHandles *handles, HMENU menu);
// Empties the layout's menus and keeps them for the next one.
void ReleaseLayoutMenus(MenuHandles *handles);
// Empties and destroys them all.
void FreeMenuHandles(MenuHandles *handles);

// What a character typed in the open menu does (WM_MENUCHAR); labels are those of the open
// menu's items, null for a separator.
#define MENU_CHAR_IGNORE 0  // a control character
#define MENU_CHAR_CHOOSE 1  // the item at *index carries it as its prefix
#define MENU_CHAR_FIND   2  // the menu closes and the find box opens with it
int DecideMenuChar(WCHAR ch, const WCHAR *const *labels, int count, int *index);
