#include <doctest/doctest.h>
#include "state/item_store.h"
#include "test_util.h"
#include <functional>
#include <string>
#include <vector>

TEST_CASE("ids start at 1, only grow, and survive erasing")
{
    ItemStore::ResetForTests();
    CHECK(ItemStore::Insert(History, nullptr, L"a") == 1);
    ItemStore::Erase(1);
    ItemStore::EraseAll();
    CHECK(ItemStore::Insert(Registered, L"n", L"b") == 2);
    CHECK(ItemStore::MoveToEnd(77) == -1);
    CHECK(g_nextItemId == 3);
    ItemStore::Erase(12345);  // never handed out
    CHECK(ItemStore::Size() == 1);
}

TEST_CASE("null strings are stored as empty strings")
{
    ItemStore::ResetForTests();
    ItemId id = ItemStore::Insert(History, nullptr, nullptr);
    REQUIRE(ItemStore::Find(id));
    CHECK(StoredName(id) == L"");
    CHECK(StoredText(id) == L"");
    CHECK(GlobalSize(ItemStore::Find(id)->name) >= 2);
}

TEST_CASE("the store keeps its own copies of the strings")
{
    ItemStore::ResetForTests();
    WCHAR buffer[] = L"original";
    ItemId id = ItemStore::Insert(Registered, buffer, buffer);
    buffer[0] = L'X';
    CHECK(StoredText(id) == L"original");
    CHECK(StoredName(id) == L"original");
}

TEST_CASE("replace keeps the id, also for an absent one, and leaves the counter")
{
    ItemStore::ResetForTests();
    ItemId a = ItemStore::Insert(History, nullptr, L"a");
    ItemStore::Replace(a, Registered, L"name", L"text");
    CHECK(ItemStore::KindOf(a) == Registered);
    CHECK(StoredText(a) == L"text");
    ItemStore::Replace(40, History, nullptr, L"forty");
    CHECK(StoredText(40) == L"forty");
    CHECK(g_nextItemId == 2);
}

TEST_CASE("swap exchanges whole contents, kinds included, and ids keep their places")
{
    ItemStore::ResetForTests();
    ItemId a = ItemStore::Insert(History, nullptr, L"a");
    ItemId b = ItemStore::Insert(Registered, L"nb", L"b");
    ItemStore::Swap(a, b);
    CHECK(ItemStore::KindOf(a) == Registered);
    CHECK(StoredName(a) == L"nb");
    CHECK(StoredText(a) == L"b");
    CHECK(ItemStore::KindOf(b) == History);
    CHECK(StoredText(b) == L"a");
    ItemStore::Swap(a, a);
    CHECK(StoredText(a) == L"b");
    ItemStore::Swap(a, 99);  // absent partner: nothing changes
    CHECK(StoredText(a) == L"b");
    CHECK(ItemStore::Size() == 2);
}

TEST_CASE("move to end gives the newest id and keeps the contents")
{
    ItemStore::ResetForTests();
    ItemId a = ItemStore::Insert(Registered, L"na", L"a");
    ItemId b = ItemStore::Insert(Registered, L"nb", L"b");
    ItemId moved = ItemStore::MoveToEnd(b);
    CHECK(moved == 3);
    CHECK(ItemStore::KindOf(b) == -1);
    CHECK(StoredName(moved) == L"nb");
    CHECK(StoreIdsDescending(Registered) == std::vector<ItemId>{moved, a});
}

TEST_CASE("erase by kind, oldest history, counts")
{
    ItemStore::ResetForTests();
    CHECK(ItemStore::CountKind(History) == 0);
    CHECK(ItemStore::KindOf(1) == -1);
    ItemId r = ItemStore::Insert(Registered, L"r", L"r");
    ItemStore::EraseOldestHistory();
    CHECK(ItemStore::Size() == 1);
    ItemId h1 = ItemStore::Insert(History, nullptr, L"h1");
    ItemId h2 = ItemStore::Insert(History, nullptr, L"h2");
    ItemStore::Insert(7, L"odd", L"kind");
    CHECK(ItemStore::CountKind(History) == 2);
    CHECK(ItemStore::CountKind(7) == 1);
    ItemStore::EraseOldestHistory();
    CHECK(ItemStore::KindOf(h1) == -1);
    CHECK(ItemStore::KindOf(h2) == History);
    ItemStore::EraseKind(History);
    CHECK(ItemStore::KindOf(r) == Registered);
    CHECK(ItemStore::Size() == 2);
    ItemStore::EraseAll();
    CHECK(ItemStore::Size() == 0);
}

TEST_CASE("move to end of the newest entry takes the next id; the walks list it newest")
{
    ItemStore::ResetForTests();
    ItemId a = ItemStore::Insert(History, nullptr, L"a");
    ItemId b = ItemStore::Insert(History, nullptr, L"b");
    ItemStore::Erase(a);
    ItemId moved = ItemStore::MoveToEnd(b);
    CHECK(moved == 3);
    CHECK(StoredText(moved) == L"b");
    CHECK(ItemStore::Size() == 1);
    CHECK(ItemStore::Insert(History, nullptr, L"c") == 4);
    CHECK(StoreIdsDescending(History) == std::vector<ItemId>{4, 3});
}

TEST_CASE("an id added by replace and later handed out by insert holds the new entry only")
{
    ItemStore::ResetForTests();
    ItemStore::Replace(2, Registered, L"early", L"placed by replace");
    CHECK(ItemStore::Insert(History, nullptr, L"one") == 1);
    CHECK(ItemStore::Insert(History, nullptr, L"two") == 2);
    CHECK(ItemStore::Size() == 2);
    CHECK(ItemStore::KindOf(2) == History);
    CHECK(StoredName(2) == L"");
    CHECK(StoredText(2) == L"two");
    ItemStore::Replace(5, History, nullptr, L"five");
    ItemStore::Insert(History, nullptr, L"three");
    CHECK(ItemStore::MoveToEnd(1) == 4);
    CHECK(ItemStore::MoveToEnd(2) == 5);
    CHECK(StoredText(5) == L"two");
    CHECK(ItemStore::Size() == 3);
}

TEST_CASE("Find gives the entry's text as stored, and nothing for an id never handed out")
{
    ItemStore::ResetForTests();
    ItemId id = ItemStore::Insert(History, nullptr, L"line1\r\nline2");
    CHECK(ItemStore::Find(id + 1) == nullptr);
    REQUIRE(ItemStore::Find(id) != nullptr);
    CHECK(std::wstring(ItemStore::Find(id)->text) == L"line1\r\nline2");
}

TEST_CASE("a string that cannot be copied leaves the store as it was and never a null string")
{
    ItemStore::ResetForTests();
    ItemId kept = ItemStore::Insert(History, nullptr, L"kept");
    ItemId registered = ItemStore::Insert(Registered, L"name", L"text");
    ItemId next = g_nextItemId;

    SUBCASE("insert: the name fails, or the text")
    {
        for (int copies : {0, 1}) {
            CAPTURE(copies);
            SetStringCopyFailureForTests(copies);
            CHECK(ItemStore::Insert(History, L"n", L"a huge capture") == 0);
            SetStringCopyFailureForTests(-1);
            CHECK(g_nextItemId == next);
        }
    }
    SUBCASE("replace: the entry keeps its old contents")
    {
        for (int copies : {0, 1}) {
            CAPTURE(copies);
            SetStringCopyFailureForTests(copies);
            CHECK_FALSE(ItemStore::Replace(registered, Registered, L"other", L"changed"));
            CHECK_FALSE(ItemStore::Replace(99, History, nullptr, L"absent"));
            SetStringCopyFailureForTests(-1);
        }
        CHECK(ItemStore::Find(99) == nullptr);
    }
    CHECK(ItemStore::Size() == 2);
    CHECK(StoredText(kept) == L"kept");
    CHECK(StoredName(registered) == L"name");
    CHECK(StoredText(registered) == L"text");
    for (const auto &entry : ItemStore::Items()) {
        CHECK(entry.second.name != nullptr);
        CHECK(entry.second.text != nullptr);
    }
    // And the next copy works again.
    CHECK(ItemStore::Replace(registered, Registered, L"other", L"changed"));
    CHECK(StoredText(registered) == L"changed");
}

namespace {
std::vector<std::pair<int, ItemId>> g_seen;
std::wstring g_erasedText;
void Record(int change, ItemId id)
{
    g_seen.push_back({change, id});
    if (change == ITEM_ERASING)
        g_erasedText = StoredText(id);  // still readable while it goes
}
}  // namespace

TEST_CASE("a watcher hears of every change, and of an erased entry while it can still read it")
{
    ItemStore::ResetForTests();
    g_seen.clear();
    ItemStore::SetWatcher(Record);
    ItemId a = ItemStore::Insert(History, nullptr, L"a");
    ItemId b = ItemStore::Insert(History, nullptr, L"b");
    ItemStore::Replace(a, History, nullptr, L"a2");
    ItemStore::Swap(a, b);
    ItemStore::Erase(a);
    CHECK(g_erasedText == L"b");
    ItemId moved = ItemStore::MoveToEnd(b);
    ItemStore::EraseOldestHistory();
    CHECK(g_erasedText == L"a2");
    ItemStore::SetWatcher(nullptr);
    // The change count moves without a watcher too, and not on what changes nothing.
    DWORD count = ItemStore::ChangeCount();
    ItemStore::Insert(History, nullptr, L"unheard");
    CHECK(ItemStore::ChangeCount() != count);
    count = ItemStore::ChangeCount();
    ItemStore::Erase(12345);
    ItemStore::Swap(moved, moved);
    SetStringCopyFailureForTests(0);
    CHECK(ItemStore::Insert(History, nullptr, L"no memory") == 0);
    SetStringCopyFailureForTests(-1);
    CHECK(ItemStore::ChangeCount() == count);
    std::vector<std::pair<int, ItemId>> expected = {{ITEM_ADDED, a},     {ITEM_ADDED, b},     {ITEM_CHANGED, a},
                                                    {ITEM_CHANGED, a},   {ITEM_CHANGED, b},   {ITEM_ERASING, a},
                                                    {ITEM_CHANGED, moved}, {ITEM_ERASING, moved}};
    CHECK(g_seen == expected);
}

TEST_CASE("HistoryUnits counts the names and texts of copy-history entries through every change")
{
    ItemStore::ResetForTests();
    ItemId a = ItemStore::Insert(History, L"nm", L"abc");
    ItemId b = ItemStore::Insert(Registered, L"reg", L"12345");
    struct Step {
        std::string what;
        std::function<void()> change;
        SIZE_T units;
    } steps[] = {
        {"inserted: a history entry counts, a registered one not", [] {}, 5},
        {"a history entry added", [] { ItemStore::Insert(History, nullptr, L"xy"); }, 7},
        {"replaced by a registered entry", [a] { ItemStore::Replace(a, Registered, L"n", L"t"); }, 2},
        {"swapped: the kind goes with the contents", [a, b] { ItemStore::Swap(a, b); }, 2},
        {"replaced by a longer history entry", [b] { ItemStore::Replace(b, History, nullptr, L"0123456789"); }, 12},
        {"moved to the end", [b] { ItemStore::MoveToEnd(b); }, 12},
        {"the oldest history entry erased", [] { ItemStore::EraseOldestHistory(); }, 10},
        {"the history cleared", [] { ItemStore::EraseKind(History); }, 0},
    };
    for (const Step &step : steps) {
        CAPTURE(step.what);
        step.change();
        CHECK(ItemStore::HistoryUnits() == step.units);
    }
    ItemStore::ResetForTests();
    CHECK(ItemStore::HistoryUnits() == 0);
}
