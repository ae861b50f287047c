#include "state/item_store.h"

ItemId g_nextItemId = 1;

static ItemMap g_items;  // owned here; every string in it is a GlobalAlloc block
static ItemStoreWatcher g_watcher;
static DWORD g_changeCount;
static SIZE_T g_historyUnits;  // UTF-16 units of the names and texts of the copy-history entries
static int g_copiesBeforeFailure = -1;

void SetStringCopyFailureForTests(int count)
{
    g_copiesBeforeFailure = count;
}

WCHAR *GlobalStringCopy(const WCHAR *source)
{
    if (g_copiesBeforeFailure == 0)
        return nullptr;
    if (g_copiesBeforeFailure > 0)
        g_copiesBeforeFailure--;
    int length = source ? lstrlenW(source) : 0;
    WCHAR *copy = (WCHAR *)GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 2 * (SIZE_T)length + 2);
    if (copy && length > 0)
        CopyMemory(copy, source, 2 * (SIZE_T)length);
    return copy;
}

// Every change of the store passes here, so the count and the watcher never miss one.
static void Tell(int change, ItemId id)
{
    g_changeCount++;
    if (g_watcher)
        g_watcher(change, id);
}

static void FreeItemStrings(Item *item)
{
    if (item->name)
        GlobalFree(item->name);
    if (item->text)
        GlobalFree(item->text);
    item->name = item->text = nullptr;
}

// Both strings copied, or neither: a half-made entry would hold a null string.
static BOOL MakeItem(Item *item, ItemKind kind, const WCHAR *name, const WCHAR *text)
{
    item->kind = kind;
    item->name = GlobalStringCopy(name);
    item->text = item->name ? GlobalStringCopy(text) : nullptr;
    if (item->text)
        return TRUE;
    FreeItemStrings(item);
    return FALSE;
}

static SIZE_T HistoryUnitsOf(const Item &item)
{
    if (item.kind != History)
        return 0;
    return (item.name ? (SIZE_T)lstrlenW(item.name) : 0) + (item.text ? (SIZE_T)lstrlenW(item.text) : 0);
}

// An id that Replace added on its own may later come out of g_nextItemId too; the entry then
// takes the new contents and its old strings are released, not leaked.
static void PutItem(ItemId id, const Item &item)
{
    std::pair<ItemMap::iterator, bool> added = g_items.insert(ItemMap::value_type(id, item));
    if (!added.second) {
        g_historyUnits -= HistoryUnitsOf(added.first->second);
        FreeItemStrings(&added.first->second);
        added.first->second = item;
    }
    g_historyUnits += HistoryUnitsOf(item);
}

static void EraseAt(ItemMap::iterator it)
{
    Tell(ITEM_ERASING, it->first);
    g_historyUnits -= HistoryUnitsOf(it->second);
    FreeItemStrings(&it->second);
    g_items.erase(it);
}

namespace ItemStore {

ItemId Insert(ItemKind kind, const WCHAR *name, const WCHAR *text)
{
    Item item;
    if (!MakeItem(&item, kind, name, text))
        return 0;
    ItemId id = g_nextItemId++;
    PutItem(id, item);
    Tell(ITEM_ADDED, id);
    return id;
}

void Erase(ItemId id)
{
    ItemMap::iterator it = g_items.find(id);
    if (it != g_items.end())
        EraseAt(it);
}

BOOL Replace(ItemId id, ItemKind kind, const WCHAR *name, const WCHAR *text)
{
    Item item;
    if (!MakeItem(&item, kind, name, text))
        return FALSE;
    BOOL existed = g_items.find(id) != g_items.end();
    PutItem(id, item);
    Tell(existed ? ITEM_CHANGED : ITEM_ADDED, id);
    return TRUE;
}

void Swap(ItemId idA, ItemId idB)
{
    ItemMap::iterator a = g_items.find(idA);
    ItemMap::iterator b = g_items.find(idB);
    if (a == g_items.end() || b == g_items.end() || idA == idB)
        return;
    // The strings change owner with the contents; nothing is copied or lost.
    Item held = a->second;
    a->second = b->second;
    b->second = held;
    Tell(ITEM_CHANGED, idA);
    Tell(ITEM_CHANGED, idB);
}

ItemId MoveToEnd(ItemId id)
{
    ItemMap::iterator it = g_items.find(id);
    if (it == g_items.end())
        return -1;
    Item moved = it->second;
    g_historyUnits -= HistoryUnitsOf(moved);
    g_items.erase(it);
    ItemId fresh = g_nextItemId++;
    PutItem(fresh, moved);
    Tell(ITEM_CHANGED, fresh);
    return fresh;
}

void EraseKind(ItemKind kind)
{
    for (ItemMap::iterator it = g_items.begin(); it != g_items.end();) {
        ItemMap::iterator next = it;
        ++next;
        if (it->second.kind == kind)
            EraseAt(it);
        it = next;
    }
}

void EraseAll()
{
    while (!g_items.empty())
        EraseAt(g_items.begin());
}

void EraseOldestHistory()
{
    for (ItemMap::iterator it = g_items.begin(); it != g_items.end(); ++it) {
        if (it->second.kind == History) {
            EraseAt(it);
            return;
        }
    }
}

int CountKind(ItemKind kind)
{
    int count = 0;
    for (ItemMap::const_iterator it = g_items.begin(); it != g_items.end(); ++it)
        if (it->second.kind == kind)
            count++;
    return count;
}

int Size()
{
    return (int)g_items.size();
}

int KindOf(ItemId id)
{
    ItemMap::const_iterator it = g_items.find(id);
    return it == g_items.end() ? -1 : it->second.kind;
}

const Item *Find(ItemId id)
{
    ItemMap::const_iterator it = g_items.find(id);
    return it == g_items.end() ? nullptr : &it->second;
}

const ItemMap &Items()
{
    return g_items;
}

SIZE_T HistoryUnits()
{
    return g_historyUnits;
}

DWORD ChangeCount()
{
    return g_changeCount;
}

void SetWatcher(ItemStoreWatcher watcher)
{
    g_watcher = watcher;
}

void ResetForTests()
{
    ItemStoreWatcher watcher = g_watcher;
    g_watcher = nullptr;
    EraseAll();
    g_watcher = watcher;
    g_nextItemId = 1;
}

}  // namespace ItemStore
