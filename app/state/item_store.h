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
// The caller releases it with GlobalFree. Null when the memory cannot be had.
WCHAR *GlobalStringCopy(const WCHAR *source);

// While count >= 0, GlobalStringCopy succeeds that many more times and then fails; -1 never fails.
void SetStringCopyFailureForTests(int count);

// What a watcher of the store is told: an entry came (after), goes (before its strings are
// released, so it can still be read), or changed its contents or place.
#define ITEM_ADDED 0
#define ITEM_ERASING 1
#define ITEM_CHANGED 2
typedef void (*ItemStoreWatcher)(int change, ItemId id);

// Next id that Insert hands out; starts at 1 and only ever grows.
extern ItemId g_nextItemId;

namespace ItemStore {
// The new id, or 0 when the strings could not be copied: the store is then as it was.
ItemId Insert(ItemKind kind, const WCHAR *name, const WCHAR *text);
void Erase(ItemId id);
// FALSE when the strings could not be copied: the entry then keeps its old contents.
BOOL Replace(ItemId id, ItemKind kind, const WCHAR *name, const WCHAR *text);
void Swap(ItemId idA, ItemId idB);
ItemId MoveToEnd(ItemId id);
void EraseKind(ItemKind kind);
void EraseAll();
void EraseOldestHistory();
int CountKind(ItemKind kind);
int Size();
int KindOf(ItemId id);

// UTF-16 units of the names and texts of all copy-history entries, terminators not counted.
SIZE_T HistoryUnits();
// The most HistoryUnits that the copy history may hold: 128 MiB, which a 32-bit process keeps
// comfortably. Beyond it a capture lets the oldest entries go.
#define HISTORY_UNITS_MAX (64 * 1048576)
// The entry with that id, or null. Valid until the entry changes.
const Item *Find(ItemId id);
// The whole map, for the ascending and descending walks. Callers never change it while walking.
const ItemMap &Items();
// Grows by one at every change of an entry (added, erased, changed or moved); it wraps around, so
// compare it for equality only. Whoever keeps something derived from the store (the idle save, a
// search's folded texts) notes it and knows from a different value that the store has changed.
DWORD ChangeCount();
// One watcher at a time (the open editor); null stops the calls.
void SetWatcher(ItemStoreWatcher watcher);
// Empties the store and starts the ids at 1 again; for tests only.
void ResetForTests();
}  // namespace ItemStore
