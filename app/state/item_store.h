// The one in-memory store of all entries of both kinds, in id (= age) order.
#pragma once
#include <windows.h>
#include <map>

typedef int ItemId;
typedef int ItemKind;           // the store keeps whatever kind it is given
const ItemKind History = 0;     // copy-history entry
const ItemKind Registered = 1;  // registered entry

struct Item {
    ItemKind kind;
    WCHAR *name;  // GlobalAlloc'ed, zero-filled, never null
    WCHAR *text;  // GlobalAlloc'ed, zero-filled, never null
};

// Ascending walk: begin() to end(); descending walk: rbegin() to rend().
typedef std::map<ItemId, Item> ItemMap;

// A zero-filled GlobalAlloc copy of (length + 1) units; null counts as the empty string.
// The caller releases it with GlobalFree.
WCHAR *GlobalStringCopy(const WCHAR *source);

// Next id that Insert hands out; starts at 1 and only ever grows.
extern ItemId NextItemId;

namespace ItemStore {
ItemId Insert(ItemKind kind, const WCHAR *name, const WCHAR *text);
void Erase(ItemId id);
void Replace(ItemId id, ItemKind kind, const WCHAR *name, const WCHAR *text);
void Swap(ItemId idA, ItemId idB);
ItemId MoveToEnd(ItemId id);
void EraseKind(ItemKind kind);
void EraseAll();
void EraseOldestHistory();
int CountKind(ItemKind kind);
int Size();
int KindOf(ItemId id);
void ShowText(HWND window, ItemId id);

// The entry with that id, or null. Valid until the entry changes.
const Item *Find(ItemId id);
// The whole map, for the ascending and descending walks. Callers never change it while walking.
const ItemMap &Items();
// Empties the store and starts the ids at 1 again; for tests only.
void ResetForTests();
}  // namespace ItemStore
