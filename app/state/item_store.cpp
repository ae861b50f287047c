#include "state/item_store.h"

ItemId NextItemId = 1;

static ItemMap g_items;  // owned here; every string in it is a GlobalAlloc block

WCHAR *GlobalStringCopy(const WCHAR *source)
{
    int length = source ? lstrlenW(source) : 0;
    WCHAR *copy = (WCHAR *)GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 2 * length + 2);
    if (copy && length > 0)
        CopyMemory(copy, source, 2 * length);
    return copy;
}

static void FreeItemStrings(Item *item)
{
    if (item->name)
        GlobalFree(item->name);
    if (item->text)
        GlobalFree(item->text);
    item->name = item->text = nullptr;
}

// An id that Replace added on its own may later come out of NextItemId too; the entry then
// takes the new contents and its old strings are released, not leaked.
static void PutItem(ItemId id, const Item &item)
{
    std::pair<ItemMap::iterator, bool> added = g_items.insert(ItemMap::value_type(id, item));
    if (!added.second) {
        FreeItemStrings(&added.first->second);
        added.first->second = item;
    }
}

static void AddItem(ItemId id, ItemKind kind, const WCHAR *name, const WCHAR *text)
{
    Item item = {kind, GlobalStringCopy(name), GlobalStringCopy(text)};
    PutItem(id, item);
}

namespace ItemStore {

ItemId Insert(ItemKind kind, const WCHAR *name, const WCHAR *text)
{
    ItemId id = NextItemId++;
    AddItem(id, kind, name, text);
    return id;
}

void Erase(ItemId id)
{
    ItemMap::iterator it = g_items.find(id);
    if (it == g_items.end())
        return;
    FreeItemStrings(&it->second);
    g_items.erase(it);
}

void Replace(ItemId id, ItemKind kind, const WCHAR *name, const WCHAR *text)
{
    Erase(id);
    AddItem(id, kind, name, text);
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
}

ItemId MoveToEnd(ItemId id)
{
    ItemMap::iterator it = g_items.find(id);
    if (it == g_items.end())
        return -1;
    Item moved = it->second;
    g_items.erase(it);
    ItemId fresh = NextItemId++;
    PutItem(fresh, moved);
    return fresh;
}

void EraseKind(ItemKind kind)
{
    for (ItemMap::iterator it = g_items.begin(); it != g_items.end();) {
        if (it->second.kind == kind) {
            FreeItemStrings(&it->second);
            it = g_items.erase(it);
        } else {
            ++it;
        }
    }
}

void EraseAll()
{
    for (ItemMap::iterator it = g_items.begin(); it != g_items.end(); ++it)
        FreeItemStrings(&it->second);
    g_items.clear();
}

void EraseOldestHistory()
{
    for (ItemMap::iterator it = g_items.begin(); it != g_items.end(); ++it) {
        if (it->second.kind == History) {
            FreeItemStrings(&it->second);
            g_items.erase(it);
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

void ShowText(HWND window, ItemId id)
{
    const Item *item = Find(id);
    if (item)
        SetWindowTextW(window, item->text);
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

void ResetForTests()
{
    EraseAll();
    NextItemId = 1;
}

}  // namespace ItemStore
