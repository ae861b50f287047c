// The decisions of capture and recall, reached without windows: labels, menu layout, tap
// counting, the line splitting of a registered paste, the capture rules and the key records.
#include <doctest/doctest.h>
#include <cstring>
#include "lang/ui_language.h"
#include "recall/find_match.h"
#include "recall/app_decide.h"
#include "recall/paste_typing.h"
#include <string>
#include "recall_test_util.h"
#include "test_util.h"

static std::wstring Label(const WCHAR *text, int prefix, int maxChars)
{
    WCHAR dest[ITEM_LABEL_CHARS + 8];
    for (WCHAR &ch : dest)
        ch = L'#';
    MakeItemLabel(dest, text, prefix, maxChars);
    // Nothing may be written past the 57 units that callers promise.
    for (int k = 57; k < ITEM_LABEL_CHARS + 8; k++)
        REQUIRE_MESSAGE(dest[k] == L'#', "label buffer overrun at ", k);
    return dest;
}

TEST_CASE("MakeItemLabel: prefixes, line breaks, tabs and the cut")
{
    ResetRecallForTests();
    SUBCASE("prefixes run 0..9, then a..t; a negative index gives none")
    {
        CHECK(Label(L"x", 0, 20) == L"0: x");
        CHECK(Label(L"x", 9, 20) == L"9: x");
        CHECK(Label(L"x", 10, 20) == L"a: x");
        CHECK(Label(L"x", 29, 20) == L"t: x");
        CHECK(Label(L"x", -1, 20) == L"x");
        CHECK(Label(L"", -1, 20) == L"");
        CHECK(Label(L"", 0, 20) == L"0: ");
    }
    SUBCASE("CR LF shows as one arrow, a lone LF as one, a tab as a blank")
    {
        CHECK(Label(L"line1\r\nline2", 0, 20) == L"0: line1\x2193line2");
        CHECK(Label(L"a\nb", -1, 20) == L"a\x2193" L"b");
        CHECK(Label(L"a\tb", -1, 20) == L"a b");
        CHECK(Label(L"a\r", -1, 20) == L"a\x2193");
        // The character after a lone CR goes with it, as in the registered paste.
        CHECK(Label(L"a\rxb", -1, 20) == L"a\x2193" L"b");
    }
    SUBCASE("the cut: exactly the limit is whole, one more gets \"...\"")
    {
        CHECK(Label(L"abcdef", 0, 6) == L"0: abcdef");
        CHECK(Label(L"abcdefg", 0, 6) == L"0: abcdef...");
        CHECK(Label(L"abc", 0, 0) == L"0: ...");
    }
    SUBCASE("a cut between CR and LF leaves one arrow before \"...\"")
    {
        CHECK(Label(L"line1\r\nline2", 0, 6) == L"0: line1\x2193...");
        CHECK(Label(L"line1\r\nline2", 0, 7) == L"0: line1\x2193...");
    }
    SUBCASE("limits out of the settings' range never overrun the buffers")
    {
        std::wstring longText(300, L'z');
        std::wstring label = Label(longText.c_str(), 0, 100000);
        CHECK(label == L"0: " + std::wstring(50, L'z') + L"...");
        CHECK(label.size() == 56);
        CHECK(Label(L"abc", 0, -7) == L"0: ...");
        CHECK(Label(L"abc", 30, 20) == L"abc");
        CHECK(Label(L"abc", 100000, 20) == L"abc");
        CHECK(Label(nullptr, 0, 20) == L"0: ");
    }
}

// Each menu of a layout as readable lines: "label #id", "title -> menu n", "grey: label", "---",
// "more: label".
static std::vector<std::vector<std::wstring>> MenusOf(const MenuLayout &layout)
{
    std::vector<std::vector<std::wstring>> menus(layout.menuCount);
    for (int k = 0; k < layout.count; k++) {
        const MenuLayoutItem &item = layout.items[k];
        REQUIRE(item.menu >= 0);
        REQUIRE(item.menu < layout.menuCount);
        std::wstring line;
        switch (item.type) {
        case MENU_ITEM_ENTRY: line = std::wstring(item.label) + L" #" + std::to_wstring(item.id); break;
        case MENU_ITEM_SUBMENU: line = std::wstring(item.label) + L" -> " + std::to_wstring(item.submenu); break;
        case MENU_ITEM_PLACEHOLDER: line = L"grey: " + std::wstring(item.label); break;
        case MENU_ITEM_MORE: line = L"more: " + std::wstring(item.label); break;
        default: line = L"---"; break;
        }
        menus[item.menu].push_back(line);
    }
    return menus;
}

static std::vector<std::vector<std::wstring>> LayOut(int wrapCount, int itemChars = 20)
{
    MenuLayout layout;
    REQUIRE(LayOutPopupMenu(wrapCount, itemChars, &layout));
    std::vector<std::vector<std::wstring>> menus = MenusOf(layout);
    FreeMenuLayout(&layout);
    return menus;
}

static const WCHAR *Prefix(int i)
{
    static const WCHAR digits[] = L"0123456789abcdefghijklmnopqrst";
    static WCHAR one[2];
    one[0] = digits[i];
    return one;
}

TEST_CASE("menu layout: blocks, prefixes and the registered submenu")
{
    ResetRecallForTests();
    SUBCASE("empty store: placeholder, separator, empty registered submenu")
    {
        std::vector<std::vector<std::wstring>> menus = LayOut(10);
        REQUIRE(menus.size() == 2);
        CHECK(menus[0] == std::vector<std::wstring>{L"grey: (コピー履歴なし)", L"---", L"L: 登録データ -> 1"});
        CHECK(menus[1].empty());
    }
    SUBCASE("W = 10, 25 history and 3 registered entries interleaved by id; each list counts its own kind")
    {
        std::vector<ItemId> history, registered;  // oldest first
        for (int n = 0; n < 25; n++) {
            history.push_back(ItemStore::Insert(History, nullptr, (L"h" + std::to_wstring(25 - n)).c_str()));
            if (n % 8 == 3)
                registered.push_back(ItemStore::Insert(Registered, (L"r" + std::to_wstring(3 - (int)registered.size())).c_str(), L"secret"));
        }
        REQUIRE(registered.size() == 3);
        std::vector<std::vector<std::wstring>> menus = LayOut(10);
        REQUIRE(menus.size() == 4);
        std::vector<std::wstring> root;
        for (int i = 0; i < 10; i++)
            root.push_back(std::wstring(Prefix(i)) + L": h" + std::to_wstring(i + 1) + L" #" + std::to_wstring(history[24 - i]));
        root.push_back(L"[11 ～ ] -> 1");
        root.push_back(L"[21 ～ ] -> 2");
        root.push_back(L"---");
        root.push_back(L"L: 登録データ -> 3");
        CHECK(menus[0] == root);
        REQUIRE(menus[1].size() == 10);
        CHECK(menus[1][0] == L"0: h11 #" + std::to_wstring(history[14]));
        CHECK(menus[1][9] == L"9: h20 #" + std::to_wstring(history[5]));
        REQUIRE(menus[2].size() == 5);
        CHECK(menus[2][4] == L"4: h25 #" + std::to_wstring(history[0]));
        CHECK(menus[3] == std::vector<std::wstring>{L"0: r1 #" + std::to_wstring(registered[2]),
                                                    L"1: r2 #" + std::to_wstring(registered[1]),
                                                    L"2: r3 #" + std::to_wstring(registered[0])});
    }
    SUBCASE("exactly W entries need no block; W + 1 puts the oldest alone in block W + 1")
    {
        for (int n = 0; n < 10; n++)
            ItemStore::Insert(History, nullptr, L"t");
        std::vector<std::vector<std::wstring>> menus = LayOut(10);
        CHECK(menus.size() == 2);
        CHECK(menus[0].size() == 12);
        ItemStore::Insert(History, nullptr, L"t");
        menus = LayOut(10);
        REQUIRE(menus.size() == 3);
        CHECK(menus[0][10] == L"[11 ～ ] -> 1");
        CHECK(menus[1] == std::vector<std::wstring>{L"0: t #1"});
    }
    SUBCASE("W = 1: every entry after the first alone in its own block, prefix 0")
    {
        for (int n = 0; n < 3; n++)
            ItemStore::Insert(History, nullptr, (L"x" + std::to_wstring(n)).c_str());
        ItemStore::Insert(Registered, L"only", L"t");
        ItemStore::Insert(Registered, L"two", L"t");
        std::vector<std::vector<std::wstring>> menus = LayOut(1);
        REQUIRE(menus.size() == 5);
        CHECK(menus[0] == std::vector<std::wstring>{L"0: x2 #3", L"[2 ～ ] -> 1", L"[3 ～ ] -> 2", L"---", L"L: 登録データ -> 3"});
        CHECK(menus[1] == std::vector<std::wstring>{L"0: x1 #2"});
        CHECK(menus[2] == std::vector<std::wstring>{L"0: x0 #1"});
        CHECK(menus[3] == std::vector<std::wstring>{L"0: two #5", L"[2 ～ ] -> 4"});
        CHECK(menus[4] == std::vector<std::wstring>{L"0: only #4"});
    }
    SUBCASE("in English: the placeholder, the blocks and the registered submenu, still opened by L")
    {
        SetUiLanguage(UI_LANGUAGE_ENGLISH);
        std::vector<std::vector<std::wstring>> empty = LayOut(1);
        ItemStore::Insert(Registered, L"only", L"t");
        ItemStore::Insert(Registered, L"two", L"t");
        std::vector<std::vector<std::wstring>> menus = LayOut(1);
        SetUiLanguage(UI_LANGUAGE_JAPANESE);
        CHECK(empty[0] == std::vector<std::wstring>{L"grey: (no copy history)", L"---", L"L: Registered Data -> 1"});
        CHECK(menus.at(1) == std::vector<std::wstring>{L"0: two #2", L"[2 ~ ] -> 2"});
    }
    SUBCASE("W = 1 beyond MENU_COUNT_MAX menus: a list ends in an item counting the rest, each keeps half the room")
    {
        for (int n = 0; n < 595; n++)
            ItemStore::Insert(History, nullptr, L"h");
        for (int n = 0; n < 5; n++)
            ItemStore::Insert(Registered, L"r", L"t");
        CHECK(LayOut(1)[0].size() == 1 + 594 + 2);  // exactly the bound: every entry
        for (int n = 0; n < 105; n++)
            ItemStore::Insert(History, nullptr, L"h");
        std::vector<std::vector<std::wstring>> menus = LayOut(1);
        REQUIRE(menus.size() == MENU_COUNT_MAX);
        REQUIRE(menus[0].size() == 1 + 594 + 3);
        CHECK(menus[0][594] == L"[595 ～ ] -> 594");
        CHECK(menus[0][595] == L"more: …さらに 105 件");
        CHECK(menus[0][597] == L"L: 登録データ -> 595");
        CHECK(menus[595].size() == 5);  // the registered list needs little room: all of it
        for (int n = 0; n < 400; n++)
            ItemStore::Insert(Registered, L"r", L"t");
        menus = LayOut(1);
        REQUIRE(menus.size() == MENU_COUNT_MAX);
        CHECK(menus[0][300] == L"more: …さらに 400 件");
        CHECK(menus[0][302] == L"L: 登録データ -> 300");
        REQUIRE(menus[300].size() == 1 + 299 + 1);
        CHECK(menus[300].back() == L"more: …さらに 105 件");
        CHECK(CountPopupMenus(1) == MENU_COUNT_MAX);
        MenuHandles handles;  // never more than the bound are made
        InitMenuHandles(&handles);
        CHECK(MakeMenusAhead(&handles, 10000));
        CHECK(handles.room == MENU_COUNT_MAX);
        FreeMenuHandles(&handles);
    }
    SUBCASE("W = 30: prefixes 0..9 then a..t within each block")
    {
        for (int n = 0; n < 61; n++)
            ItemStore::Insert(History, nullptr, L"e");
        std::vector<std::vector<std::wstring>> menus = LayOut(30);
        REQUIRE(menus.size() == 4);
        REQUIRE(menus[0].size() == 30 + 2 + 2);
        for (int i = 0; i < 30; i++) {
            CHECK(menus[0][i].substr(0, 3) == std::wstring(Prefix(i)) + L": ");
            CHECK(menus[1][i].substr(0, 3) == std::wstring(Prefix(i)) + L": ");
        }
        CHECK(menus[0][30] == L"[31 ～ ] -> 1");
        CHECK(menus[0][31] == L"[61 ～ ] -> 2");
        CHECK(menus[2] == std::vector<std::wstring>{L"0: e #1"});
    }
    SUBCASE("labels use menuItemChars; registered labels come from the name, never the text")
    {
        ItemStore::Insert(Registered, L"bank", L"password\r\n1234");
        ItemStore::Insert(History, nullptr, L"abcdefghij");
        std::vector<std::vector<std::wstring>> menus = LayOut(10, 4);
        CHECK(menus[0][0] == L"0: abcd... #2");
        CHECK(menus[1] == std::vector<std::wstring>{L"0: bank #1"});
    }
    SUBCASE("settings out of range (altered ini.dat) are brought into range at load, and the menu follows")
    {
        for (int n = 0; n < 40; n++)
            ItemStore::Insert(History, nullptr, L"v");
        IniData loaded;
        SetDefaultIniData(&loaded);
        for (int wrap : {0, -5}) {
            loaded.menuWrapCount = wrap;
            ClampIniData(&loaded);
            CHECK(LayOut(loaded.menuWrapCount).size() == 41);  // as W = 1
        }
        loaded.menuWrapCount = 1000;
        loaded.menuItemChars = 999;
        ClampIniData(&loaded);
        std::vector<std::vector<std::wstring>> menus = LayOut(loaded.menuWrapCount, loaded.menuItemChars);  // as W = 30
        REQUIRE(menus.size() == 3);
        CHECK(menus[0][29].substr(0, 3) == L"t: ");
        CHECK(menus[1].size() == 10);
    }
    SUBCASE("entries of another kind (from an altered paste.dat) are listed nowhere")
    {
        ItemStore::Insert(7, L"odd", L"odd");
        std::vector<std::vector<std::wstring>> menus = LayOut(10);
        CHECK(menus[0][0] == L"grey: (コピー履歴なし)");
        CHECK(menus[1].empty());
    }
}

static int MenusLeft;  // how many more menus MenusRunOut makes
static HMENU WINAPI MenusRunOut()
{
    return MenusLeft-- > 0 ? CreatePopupMenu() : nullptr;
}

TEST_CASE("menu labels: an \"&\" is doubled in the menu only, so it shows as typed and is no access key")
{
    ResetRecallForTests();
    ItemStore::Insert(Registered, L"R&D", L"t");
    ItemStore::Insert(History, nullptr, L"a.php?x=1&y=2");
    ItemStore::Insert(History, nullptr, std::wstring(50, L'&').c_str());
    std::vector<std::vector<std::wstring>> menus = LayOut(10, 50);
    CHECK(menus[0][0] == L"0: " + std::wstring(100, L'&') + L" #3");
    CHECK(menus[0][1] == L"1: a.php?x=1&&y=2 #2");
    CHECK(menus[1] == std::vector<std::wstring>{L"0: R&&D #1"});
    // The editor's label is MakeItemLabel's, unescaped.
    CHECK(Label(L"a.php?x=1&y=2", -1, 50) == L"a.php?x=1&y=2");

    // The menu itself: the root at once, a submenu when it opens.
    MenuLayout layout;
    REQUIRE(LayOutPopupMenu(1, 50, &layout));
    MenuHandles handles;
    InitMenuHandles(&handles);
    HMENU root = CreateMenuFromLayout(&layout, &handles);
    REQUIRE(root);
    REQUIRE(handles.count == 3);
    WCHAR text[MENU_LABEL_CHARS];
    CHECK(GetMenuItemCount(root) == 4);  // the newest entry, its block, separator, registered data
    GetMenuStringW(root, 1, text, MENU_LABEL_CHARS, MF_BYPOSITION);
    CHECK(std::wstring(text) == L"[2 ～ ]");
    HMENU block = GetSubMenu(root, 1);
    CHECK(block == handles.menus[1]);
    CHECK(GetMenuItemCount(block) == 0);
    CHECK(FillMenuFromLayout(&layout, &handles, block));
    REQUIRE(GetMenuItemCount(block) == 1);
    GetMenuStringW(block, 0, text, MENU_LABEL_CHARS, MF_BYPOSITION);
    CHECK(std::wstring(text) == L"0: a.php?x=1&&y=2");
    CHECK(GetMenuItemID(block, 0) == 2);
    CHECK(FillMenuFromLayout(&layout, &handles, block));  // filled once only
    CHECK(GetMenuItemCount(block) == 1);
    CHECK(GetMenuItemCount(GetSubMenu(root, 3)) == 0);
    HMENU other = CreatePopupMenu();
    CHECK_FALSE(FillMenuFromLayout(&layout, &handles, other));  // the tray menu, say
    DestroyMenu(other);

    // Closed, the menus are kept empty; the next menu is made in them, its blocks empty again.
    ReleaseLayoutMenus(&handles);
    CHECK_FALSE(FillMenuFromLayout(&layout, &handles, block));
    CHECK(GetMenuItemCount(root) == 0);
    CHECK(GetMenuItemCount(block) == 0);
    CHECK(CreateMenuFromLayout(&layout, &handles) == root);
    CHECK(GetMenuItemCount(root) == 4);
    CHECK(GetSubMenu(root, 1) == block);
    CHECK(GetMenuItemCount(block) == 0);
    CHECK(FillMenuFromLayout(&layout, &handles, block));
    CHECK(GetMenuItemCount(block) == 1);
    FreeMenuHandles(&handles);
    CHECK_FALSE(IsMenu(root));
    CHECK_FALSE(IsMenu(block));

    // Out of menus after two: the root still opens with what was made, without "L: 登録データ".
    MenusLeft = 2;
    g_createPopupMenuRoute = MenusRunOut;
    root = CreateMenuFromLayout(&layout, &handles);
    g_createPopupMenuRoute = CreatePopupMenu;
    REQUIRE(root);
    CHECK(handles.count == 2);
    CHECK(GetMenuItemCount(root) == 3);
    CHECK(GetSubMenu(root, 1) == handles.menus[1]);
    FreeMenuHandles(&handles);
    FreeMenuLayout(&layout);
}

TEST_CASE("a character typed in the open menu: its prefix chooses, \"L\" opens the registered data, the rest finds")
{
    const WCHAR *root[] = {L"0: first", L"1: a&&b", L"[11 ～ ] ", nullptr, L"L: 登録データ"};
    const WCHAR *wide[] = {L"k: x", L"l: entry l", L"m: y", nullptr, L"L: 登録データ"};
    struct Case {
        const WCHAR *const *labels;
        int count;
        WCHAR ch;
        int decision;
        int index;
    } cases[] = {
        {root, 5, L'1', MENU_CHAR_CHOOSE, 1},
        {root, 5, L'0', MENU_CHAR_CHOOSE, 0},
        {root, 5, L'l', MENU_CHAR_CHOOSE, 4},   // no entry uses "l": the registered data
        {root, 5, L'L', MENU_CHAR_CHOOSE, 4},
        {wide, 5, L'L', MENU_CHAR_CHOOSE, 1},   // an entry uses "l": it wins
        {wide, 5, L'K', MENU_CHAR_CHOOSE, 0},   // case does not count
        {root, 5, L'2', MENU_CHAR_FIND, -1},    // no such prefix here
        {root, 5, L'b', MENU_CHAR_FIND, -1},    // no access key from the "&"
        {root, 5, L' ', MENU_CHAR_FIND, -1},
        {root, 5, L'[', MENU_CHAR_FIND, -1},
        {root, 5, 0x30AC, MENU_CHAR_FIND, -1},  // ガ
        {root, 5, 0x3000, MENU_CHAR_FIND, -1},  // the IME's Space
        {root, 5, L'\t', MENU_CHAR_IGNORE, -1},
        {root, 5, 0x1B, MENU_CHAR_IGNORE, -1},
        {root, 5, 0x7F, MENU_CHAR_IGNORE, -1},
        {root, 0, L'1', MENU_CHAR_FIND, -1},
    };
    for (const Case &c : cases) {
        int index = 99;
        CAPTURE((int)c.ch);
        CHECK(DecideMenuChar(c.ch, c.labels, c.count, &index) == c.decision);
        CHECK(index == c.index);
    }
}

// The words of a query as the matching sees them.
static std::vector<std::wstring> WordsOf(const WCHAR *typed)
{
    FindQuery query;
    ParseFindQuery(typed, &query);
    std::vector<std::wstring> words;
    for (int w = 0; w < query.wordCount; w++)
        words.push_back(std::wstring(query.folded + query.wordStart[w], query.wordLength[w]));
    return words;
}

static bool Matches(const WCHAR *typed, const WCHAR *text)
{
    FindQuery query;
    ParseFindQuery(typed, &query);
    std::wstring folded(lstrlenW(text) + 1, L'\0');
    int length = FoldText(text, lstrlenW(text), &folded[0]);
    return FoldedTextMatches(folded.c_str(), length, &query) != FALSE;
}

TEST_CASE("find matching: words in any order; case, width and kana folded by the program's own table")
{
    struct Case {
        const WCHAR *typed;
        const WCHAR *text;
        bool matches;
    } cases[] = {
        {L"", L"anything", true},                          // no words: everything
        {L"   ", L"anything", true},
        {L"", L"", true},
        {L"abc", L"", false},
        {L"world hello", L"hello, world", true},           // any order
        {L"hello\x3000world", L"world hello", true},      // the ideographic space separates too
        {L"hello planet", L"hello, world", false},         // every word must occur
        {L"ABC", L"xabcx", true},                          // case
        {L"abc", L"XABCX", true},
        {L"ＡＢＣ", L"abc", true},                         // full-width letters
        {L"abc", L"ＡＢＣ", true},
        {L"１２３", L"tel 123", true},                     // full-width digits
        {L"ガイド", L"ｶﾞｲﾄﾞ", true},                       // half-width kana with voiced marks
        {L"ｶﾞｲﾄﾞ", L"がいど", true},                       // and hiragana
        {L"がいど", L"ガイド", true},
        {L"ﾊﾟﾝ", L"ぱん", true},                           // semi-voiced
        {L"ｳﾞ", L"ヴ", true},
        {L"カイト", L"ガイド", false},                     // a voiced letter is another letter
        {L"ガ", L"ｶ", false},
        {L"ÄÖ", L"äö", true},                              // Latin-1 case
        {L"ПРИВЕТ", L"привет", true},                      // Cyrillic case
        {L"x=1&y", L"a.php?x=1&y=2", true},
        {L"line1 line2", L"line1\r\nline2", true},
        {L"nomatch", L"some text", false},
    };
    for (const Case &c : cases) {
        CAPTURE(std::wstring(c.typed).size());
        CHECK_MESSAGE(Matches(c.typed, c.text) == c.matches, "typed ", (int)std::wstring(c.typed).size(), " units");
    }
    CHECK(WordsOf(L"  Ｇｕｉｄｅ\x3000ｶﾞｲﾄﾞ  x ") == std::vector<std::wstring>{L"guide", L"ガイド", L"x"});
    CHECK(WordsOf(L"").empty());
    // The folded text is never longer than the text.
    WCHAR folded[8];
    CHECK(FoldText(L"ｶﾞｲﾄﾞ", 5, folded) == 3);
    CHECK(std::wstring(folded) == L"ガイド");
    CHECK(FoldChar(0x3000) == L' ');
}

static std::vector<ItemId> SearchAll(const WCHAR *typed)
{
    FindSearch search;
    InitFindSearch(&search);
    StartFindSearch(&search, typed);
    int slices = 0;
    while (!ContinueFindSearch(&search, 0.0) && slices < 100000)
        slices++;
    std::vector<ItemId> found(search.results, search.results + search.resultCount);
    FreeFindSearch(&search);
    return found;
}

TEST_CASE("find search: registered names first, then copies, newest first; a registered text is never searched")
{
    ResetRecallForTests();
    ItemId oldCopy = ItemStore::Insert(History, nullptr, L"guide to the old city");
    ItemId bank = ItemStore::Insert(Registered, L"bank", L"guide password");
    ItemId siteGuide = ItemStore::Insert(Registered, L"Site ガイド", L"user\r\npass");
    ItemId newCopy = ItemStore::Insert(History, nullptr, L"がいど new");
    ItemId other = ItemStore::Insert(History, nullptr, L"unrelated");
    CHECK(SearchAll(L"ｶﾞｲﾄﾞ") == std::vector<ItemId>{siteGuide, newCopy});
    CHECK(SearchAll(L"guide") == std::vector<ItemId>{oldCopy});  // not "bank": only its name counts
    CHECK(SearchAll(L"password").empty());
    CHECK(SearchAll(L"") == std::vector<ItemId>{siteGuide, bank, other, newCopy, oldCopy});

    SUBCASE("a change of the store between slices starts the search over")
    {
        FindSearch search;
        InitFindSearch(&search);
        StartFindSearch(&search, L"");
        CHECK_FALSE(ContinueFindSearch(&search, 0.0));  // one entry per slice
        ItemStore::Erase(newCopy);
        ItemId newest = ItemStore::Insert(History, nullptr, L"newest");
        while (!ContinueFindSearch(&search, 0.0)) {
        }
        CHECK(std::vector<ItemId>(search.results, search.results + search.resultCount) ==
              std::vector<ItemId>{siteGuide, bank, newest, other, oldCopy});
        FreeFindSearch(&search);
    }
}

TEST_CASE("find box: the selection keys and the labels")
{
    struct Case {
        int current, count;
        UINT vk;
        int perPage, expected;
    } cases[] = {
        {0, 10, VK_DOWN, 5, 1}, {9, 10, VK_DOWN, 5, 9}, {0, 10, VK_UP, 5, 0}, {4, 10, VK_UP, 5, 3},
        {0, 10, VK_NEXT, 5, 5}, {8, 10, VK_NEXT, 5, 9}, {7, 10, VK_PRIOR, 5, 2}, {2, 10, VK_PRIOR, 5, 0},
        {-1, 10, VK_DOWN, 5, 0}, {-1, 10, VK_UP, 5, 0}, {3, 0, VK_DOWN, 5, -1}, {3, 10, VK_DOWN, 0, 4},
        {3, 10, 'A', 5, 3},
    };
    for (const Case &c : cases) {
        CAPTURE(c.current);
        CAPTURE(c.vk);
        CHECK(MoveFindSelection(c.current, c.count, c.vk, c.perPage) == c.expected);
    }
    WCHAR label[FIND_LABEL_CHARS];
    MakeFindLabel(label, L"a\tb\r\nc\nd&e");
    CHECK(std::wstring(label) == L"a b\x2193" L"c\x2193" L"d&e");
    std::wstring longText(FIND_LABEL_TAKEN + 1, L'z');
    MakeFindLabel(label, longText.c_str());
    CHECK(std::wstring(label) == std::wstring(FIND_LABEL_TAKEN, L'z') + L"...");
    MakeFindLabel(label, std::wstring(FIND_LABEL_TAKEN, L'z').c_str());
    CHECK(std::wstring(label) == std::wstring(FIND_LABEL_TAKEN, L'z'));
}

// Plays a script of forwarded events into a fresh counter: S C A press Shift, Ctrl, Alt and s c a
// release them; L l press and release left Shift; ^ makes the next press an auto-repeat; x is the
// hook's "another key"; ? and ! are stray values of a message any program can send (a press and a
// release of no key, with every flag bit set); w brings another window to the front; m clicks the mouse. Returns the arm
// requests joined: "-" none, "F" first, "A" again.
static std::string PlayTaps(TapCounterState *state, int mode, const char *script)
{
    std::string arms;
    HWND foreground = (HWND)1;
    LPARAM repeat = 0;
    for (const char *c = script; *c != 0; c++) {
        int arm = TAP_ARM_NONE;
        switch (*c) {
        case '^': repeat = 0x40000000; continue;
        case 'w': foreground = (HWND)((UINT_PTR)foreground + 1); continue;
        case 'm': CountMouseClick(state); arms += 'm'; continue;
        case 'x': arm = CountTap(state, mode, 0, 0, foreground); break;
        case '?': arm = CountTap(state, mode, (WPARAM)0x7FFF1234, 0x3FFFFFFF, foreground); break;
        case '!': arm = CountTap(state, mode, (WPARAM)-1, (LPARAM)-1, foreground); break;
        default: {
            const char *keys = "SsCcAaLl";
            const WPARAM codes[4] = {VK_SHIFT, VK_CONTROL, VK_MENU, VK_LSHIFT};
            int k = (int)(strchr(keys, *c) - keys);
            BOOL release = k % 2 == 1;
            arm = CountTap(state, mode, codes[k / 2], release ? (LPARAM)0xC0000000 : repeat, foreground);
        }
        }
        repeat = 0;
        arms += arm == TAP_ARM_NONE ? '-' : arm == TAP_ARM_FIRST ? 'F' : 'A';
    }
    return arms;
}

TEST_CASE("only a deliberate double tap opens the menu: chords, other keys, a new window and clicks start over")
{
    struct Row {
        const char *what;
        int mode;  // 0 Shift, 1 Ctrl, 2 Alt, 3 hotkey
        const char *script;
        const char *arms;
        bool opens;
    };
    const Row rows[] = {
        {"a double tap of Shift", 0, "SsSs", "-F-A", true},
        {"a double tap of Ctrl", 1, "CcCc", "-F-A", true},
        {"a double tap of Alt", 2, "AaAa", "-F-A", true},
        {"three quick taps: one decision", 0, "SsSsSs", "-F-A-A", true},
        {"left and right keys count as the trigger", 0, "LlSs", "-F-A", true},
        {"another key before the first tap changes nothing", 0, "xSsSs", "--F-A", true},
        {"a click between the taps, the key released", 0, "SsmSs", "-Fm-A", true},
        {"auto-repeat while held changes nothing", 0, "S^S^SsSs", "---F-A", true},
        {"the same press and release seen twice count once", 0, "SSssSs", "--F--A", true},
        {"typing \"AB\": Shift+A, Shift+B", 0, "SxsSxs", "------", false},
        {"Ctrl+A, Ctrl+C", 1, "CxcCxc", "------", false},
        {"Alt+Tab twice, the Tab seen", 2, "AxaAxa", "------", false},
        {"Alt+Tab twice, the Tab taken by the switcher", 2, "AwaAwa", "----", false},
        {"Ctrl+Shift, Shift first", 0, "SCcsSs", "-----F", false},
        {"Ctrl+Shift, Ctrl first", 0, "CSscSs", "-----F", false},
        {"Shift taps while Ctrl is held", 0, "CSsSsc", "------", false},
        {"Ctrl taps while Alt is held", 1, "ACcCca", "------", false},
        {"another key between the taps", 0, "SsxSs", "-F--F", false},
        {"a new window between press and release", 0, "SwsSs", "---F", false},
        {"a new window between the taps", 0, "SswSs", "-F-F", false},
        {"a repeat whose press went with the old window", 0, "Sw^SsSs", "----F", false},
        {"Shift+click", 0, "SmsSs", "-m--F", false},
        {"Shift+click twice", 0, "SmsSms", "-m--m-", false},
        {"the paste's Ctrl+V, then one real tap", 1, "CxcCc", "----F", false},
        {"a release without its press", 0, "sSs", "--F", false},
        {"Shift in Ctrl mode", 1, "SsSs", "----", false},
        {"Ctrl in Shift mode", 0, "CcCc", "----", false},
        {"Shift in hotkey mode", 3, "SsSs", "----", false},
        {"Shift in an unknown mode", -1, "SsSs", "----", false},
        {"a stray value between the taps only starts over", 0, "Ss?Ss", "-F--F", false},
        {"a stray release changes nothing", 0, "S!sS!s", "--F--A", true},
    };
    for (const Row &row : rows) {
        std::string what = row.what;
        CAPTURE(what);
        TapCounterState state = {};
        CHECK(PlayTaps(&state, row.mode, row.script) == row.arms);
        CHECK((DecideDoubleTap(&state, 0) == DOUBLETAP_OPEN) == row.opens);
        CHECK(state.KeyDownFlag == 0);
    }
    CHECK(TriggerKeyOfMode(3) == 0);
}

TEST_CASE("the double-tap decision: the timer between slow taps, busy, the hotkey; the mouse while held")
{
    SUBCASE("slow taps: the timer's decision comes between them and resets")
    {
        TapCounterState state = {};
        CHECK(PlayTaps(&state, 0, "Ss") == "-F");
        CHECK(DecideDoubleTap(&state, 0) == DOUBLETAP_RESET);
        state.TapCount = 0;  // what the timer does after deciding
        CHECK(PlayTaps(&state, 0, "Ss") == "-F");
        CHECK(DecideDoubleTap(&state, 0) == DOUBLETAP_RESET);
    }
    SUBCASE("busy: the decision waits and keeps the count")
    {
        TapCounterState state = {0, 2, 0, nullptr, 0};
        CHECK(DecideDoubleTap(&state, 1) == DOUBLETAP_WAIT);
        CHECK(state.TapCount == 2);
    }
    SUBCASE("the mouse is watched only while a clean press of the trigger is held")
    {
        TapCounterState state = {};
        CHECK_FALSE(TapWantsMouse(&state));
        PlayTaps(&state, 0, "S");
        CHECK(TapWantsMouse(&state));
        PlayTaps(&state, 0, "s");
        CHECK_FALSE(TapWantsMouse(&state));
        PlayTaps(&state, 0, "S");
        PlayTaps(&state, 0, "m");
        CHECK_FALSE(TapWantsMouse(&state));
        PlayTaps(&state, 0, "sCS");
        CHECK_FALSE(TapWantsMouse(&state));
    }
    SUBCASE("the hotkey opens the menu only with its id in hotkey mode")
    {
        CHECK(HotKeyOpensMenu(HOTKEY_MENU, 3));
        CHECK(HotKeyOpensMenu(0x10000 | HOTKEY_MENU, 3));
        CHECK_FALSE(HotKeyOpensMenu(HOTKEY_MENU, 0));
        CHECK_FALSE(HotKeyOpensMenu(HOTKEY_MENU, 2));
        CHECK_FALSE(HotKeyOpensMenu(HOTKEY_MENU + 1, 3));
    }
}

// Runs the typing steps over a text: lines pasted as "[line]", Tabs as "T"; counts the pauses.
static std::wstring TypingScript(const std::wstring &text, int *pauses)
{
    std::vector<WCHAR> line(text.size() + 1, L'#');
    int position = 0, lineLength = 0;
    std::wstring script;
    *pauses = 0;
    for (;;) {
        int step = TakeTypingStep(text.c_str(), (int)text.size(), &position, line.data(), &lineLength);
        if (step == TYPE_STEP_END)
            break;
        if (step == TYPE_STEP_LINE) {
            script += L"[" + std::wstring(line.data()) + L"]T";
            lineLength = 0;
        }
        (*pauses)++;
    }
    script += L"[" + std::wstring(line.data()) + L"]";
    return script;
}

TEST_CASE("line splitting of a registered text")
{
    // Pastes in brackets, T for a Tab; one pause per character handled.
    struct Case {
        const char *rule;
        const wchar_t *text;
        const wchar_t *script;
        int pauses;
    } cases[] = {
        {"CR LF separates lines", L"a\r\nb\r\nc", L"[a]T[b]T[c]", 5},
        {"CR LF separates lines", L"ログインID\r\nパスワード", L"[ログインID]T[パスワード]", 12},
        {"a lone CR drops the character after it", L"a\rxb", L"[a]T[b]", 3},
        {"an LF without CR stays inside the line, as does a tab", L"a\nb\tc", L"[a\nb\tc]", 5},
        {"a trailing CR ends with a Tab and an empty paste", L"a\r", L"[a]T[]", 2},
        {"a trailing CR LF ends with a Tab and an empty paste", L"a\r\n", L"[a]T[]", 2},
        {"empty text: no pause, one empty paste", L"", L"[]", 0},
        {"no CR at all: one piece after a pause per character", L"abcd", L"[abcd]", 4},
    };
    for (const Case &c : cases) {
        CAPTURE(c.rule);
        int pauses = 0;
        CHECK(TypingScript(c.text, &pauses) == c.script);
        CHECK(pauses == c.pauses);
    }
}

TEST_CASE("capture rules of the copy history")
{
    ResetRecallForTests();
    SUBCASE("a repeated text moves to the newest place with a new id; the count stays")
    {
        AddHistoryText(L"one", 1000);
        AddHistoryText(L"two", 1000);
        AddHistoryText(L"one", 1000);
        CHECK(HistoryTexts() == std::vector<std::wstring>{L"two", L"one"});
        CHECK(ItemStore::Items().rbegin()->first == 3);
    }
    SUBCASE("comparison is case-sensitive and exact")
    {
        AddHistoryText(L"abc", 1000);
        AddHistoryText(L"ABC", 1000);
        // A linguistic comparison takes these for one text; they are two.
        AddHistoryText(L"a\x00AD" L"b", 1000);
        AddHistoryText(L"ab", 1000);
        CHECK(HistoryTexts() == std::vector<std::wstring>{L"abc", L"ABC", L"a\x00AD" L"b", L"ab"});
    }
    SUBCASE("registered texts are never compared; only one older copy goes")
    {
        ItemId reg = ItemStore::Insert(Registered, L"n", L"same");
        AddHistoryText(L"same", 1000);
        CHECK(ItemStore::KindOf(reg) == Registered);
        CHECK(HistoryTexts() == std::vector<std::wstring>{L"same"});
    }
    SUBCASE("over historyMax: exactly one oldest entry goes per capture")
    {
        for (int n = 0; n < 5; n++)
            AddHistoryText(std::to_wstring(n).c_str(), 1000);
        AddHistoryText(L"new", 5);
        CHECK(HistoryTexts() == std::vector<std::wstring>{L"1", L"2", L"3", L"4", L"new"});
        // The limit lowered below the count: a new text keeps the count, a repeated one lowers it by one.
        AddHistoryText(L"newer", 2);
        CHECK(HistoryTexts().size() == 5);
        AddHistoryText(L"newer", 2);
        CHECK(HistoryTexts() == std::vector<std::wstring>{L"3", L"4", L"new", L"newer"});
    }
}

TEST_CASE("capture keeps the copy history's texts within HISTORY_UNITS_MAX: the oldest go first, registered entries never")
{
    const int Mi = 1048576;
    // Lengths of the texts captured, oldest first, as runs of {count, length}.
    auto runs = [](std::initializer_list<std::pair<int, int>> list) {
        std::vector<int> lengths;
        for (const std::pair<int, int> &run : list)
            lengths.insert(lengths.end(), run.first, run.second);
        return lengths;
    };
    struct Row {
        std::string what;
        int registered;  // registered entries of 1 Mi units each, stored first
        std::vector<int> lengths;
        int historyMax;
        size_t kept;     // the newest this many stay
    } rows[] = {
        {"64 texts of 1 Mi: exactly the bound, all stay", 0, runs({{64, Mi}}), 5000, 64},
        {"65 texts of 1 Mi: the oldest goes", 0, runs({{65, Mi}}), 5000, 64},
        {"registered texts count for nothing and stay", 3, runs({{65, Mi}}), 5000, 64},
        {"one unit over: one long oldest text goes", 0, runs({{63, Mi}, {1, Mi / 2}, {1, Mi / 2 + 1}}), 5000, 64},
        {"historyMax still bounds the count", 0, runs({{3, 10}}), 2, 2},
    };
    for (const Row &row : rows) {
        CAPTURE(row.what);
        ResetRecallForTests();
        for (int n = 0; n < row.registered; n++)
            ItemStore::Insert(Registered, L"r", std::wstring(Mi, L'r').c_str());
        std::vector<std::wstring> captured;
        for (size_t n = 0; n < row.lengths.size(); n++) {
            // Each text differs from the others in its first unit.
            std::wstring text(row.lengths[n], L'x');
            text[0] = (wchar_t)(0x4E00 + n);
            AddHistoryText(text.c_str(), row.historyMax);
            captured.push_back(text);
        }
        std::vector<std::wstring> expected(captured.end() - row.kept, captured.end());
        CHECK(HistoryTexts() == expected);
        CHECK(ItemStore::CountKind(Registered) == row.registered);
        CHECK(ItemStore::HistoryUnits() <= (SIZE_T)HISTORY_UNITS_MAX);
    }
    ResetRecallForTests();
}

TEST_CASE("clipboard texts: the length cap, and what capture never hands to the store")
{
    ResetRecallForTests();
    SUBCASE("a text of exactly the cap is taken, one unit more is not")
    {
        std::wstring atCap(CLIPBOARD_TEXT_CAP, L'x');
        CHECK(ClipboardTextLength(atCap.c_str(), atCap.size() + 1) == CLIPBOARD_TEXT_CAP);
        std::wstring over = atCap + L"y";
        CHECK(ClipboardTextLength(over.c_str(), over.size() + 1) == -1);
        // A terminator inside a larger block ends the text; a block without one ends at its size.
        CHECK(ClipboardTextLength(over.c_str(), 5) == 5);
        CHECK(ClipboardTextLength(L"ab\0cd", 6) == 2);
        CHECK(ClipboardTextLength(L"", 0) == 0);
    }
    SUBCASE("null and empty texts leave the store as it was")
    {
        AddHistoryText(L"kept", 1000);
        AddHistoryText(nullptr, 1000);
        AddHistoryText(L"", 1000);
        CHECK(HistoryTexts() == std::vector<std::wstring>{L"kept"});
        CHECK(ItemStore::Items().rbegin()->first == 1);
    }
    SUBCASE("the pause after a failed open starts short and grows to 100 ms, never beyond")
    {
        DWORD quick = 0, previous = 0;
        for (int failed = 1; failed <= 2000; failed++) {
            DWORD pause = OpenPauseAfter(failed);
            CAPTURE(failed);
            CHECK(pause >= 1);
            CHECK(pause <= 100);
            CHECK(pause >= previous);
            if (pause == 1)
                quick++;
            previous = pause;
        }
        CHECK(quick >= 10);  // a holder that lets go within 10 ms is met within a millisecond
        CHECK(previous == 100);
        CHECK(OpenPauseAfter(40) == 100);
    }
}

TEST_CASE("synthesized keys: the records of Ctrl+V and Tab")
{
    ResetRecallForTests();
    RecordedBatches.clear();
    g_sendInputRoute = RecordSendInput;
    SendCtrlV();
    SendTab();
    g_sendInputRoute = SendInput;
    REQUIRE(RecordedBatches.size() == 2);
    struct Expected { WORD vk; DWORD flags; };
    const Expected ctrlV[4] = {{VK_CONTROL, 1}, {'V', 1}, {'V', 3}, {VK_CONTROL, 3}};
    const Expected tab[2] = {{VK_TAB, 1}, {VK_TAB, 3}};
    const KeyBatch &first = RecordedBatches[0];
    const KeyBatch &second = RecordedBatches[1];
    REQUIRE(first.inputs.size() == 4);
    REQUIRE(second.inputs.size() == 2);
    CHECK(first.sizeArgument == (int)sizeof(INPUT));
    CHECK(second.sizeArgument == (int)sizeof(INPUT));
    for (int k = 0; k < 6; k++) {
        const INPUT &input = k < 4 ? first.inputs[k] : second.inputs[k - 4];
        const Expected &want = k < 4 ? ctrlV[k] : tab[k - 4];
        CAPTURE(k);
        CHECK(input.type == INPUT_KEYBOARD);
        CHECK(input.ki.wVk == want.vk);
        CHECK(input.ki.dwFlags == want.flags);
        CHECK(input.ki.wScan == (WORD)MapVirtualKeyW(want.vk, 0));
        CHECK(input.ki.time == 0);
        CHECK(input.ki.dwExtraInfo == 0);
    }
}

TEST_CASE("the clipboard after a registered paste, and who counts as the target reading a line")
{
    SUBCASE("taken, not seen, stopped, changed by someone else: the line never stays beyond its bound")
    {
        const DWORD Keep = LINE_UNSEEN_KEEP_MS;
        struct Row {
            const char *what;
            BOOL stillTavosLine, taken, waitForTarget;
            DWORD sincePasted;
            BOOL hadContent;
            int want;
        } rows[] = {
            {"taken: back at once", TRUE, TRUE, TRUE, 0, TRUE, AFTER_PASTE_RESTORE},
            {"taken, nothing before: emptied", TRUE, TRUE, TRUE, 0, FALSE, AFTER_PASTE_EMPTY},
            {"not seen: kept a while", TRUE, FALSE, TRUE, 0, TRUE, AFTER_PASTE_WAIT},
            {"not seen, just inside the bound", TRUE, FALSE, TRUE, Keep - 1, FALSE, AFTER_PASTE_WAIT},
            {"not seen, bound reached", TRUE, FALSE, TRUE, Keep, TRUE, AFTER_PASTE_RESTORE},
            {"not seen, long after", TRUE, FALSE, TRUE, 60000, FALSE, AFTER_PASTE_EMPTY},
            {"stopped, or no Ctrl+V for the line", TRUE, FALSE, FALSE, 0, TRUE, AFTER_PASTE_RESTORE},
            {"stopped, nothing before", TRUE, FALSE, FALSE, 0, FALSE, AFTER_PASTE_EMPTY},
            {"changed by someone else", FALSE, FALSE, TRUE, 0, TRUE, AFTER_PASTE_LEAVE},
            {"changed after the target took it", FALSE, TRUE, FALSE, Keep, FALSE, AFTER_PASTE_LEAVE},
        };
        for (const Row &row : rows) {
            std::string what = row.what;
        CAPTURE(what);
            CHECK(DecideClipboardAfterPaste(row.stillTavosLine, row.taken, row.waitForTarget, row.sincePasted,
                                            row.hadContent) == row.want);
        }
    }
    SUBCASE("the earlier clipboard is kept within 16 MiB a format and 64 MiB in all")
    {
        const SIZE_T MiB = 1024 * 1024;
        CHECK(KeepsSavedFormat(1, 0));
        CHECK(KeepsSavedFormat(16 * MiB, 48 * MiB));
        CHECK_FALSE(KeepsSavedFormat(0, 0));
        CHECK_FALSE(KeepsSavedFormat(16 * MiB + 1, 0));
        CHECK_FALSE(KeepsSavedFormat(16 * MiB, 48 * MiB + 1));
    }
    SUBCASE("the target's thread, a windowless reader or an unknown target count; another thread does not")
    {
        CHECK(ReaderIsTarget(42, 42));
        CHECK(ReaderIsTarget(0, 42));
        CHECK(ReaderIsTarget(7, 0));
        CHECK_FALSE(ReaderIsTarget(7, 42));
    }
}

TEST_CASE("an accessible caret counts when visible and with a height; the menu point stays on its monitor")
{
    const struct {
        LONG width, height, state;
        BOOL usable;
    } carets[] = {
        {1, 18, 0, TRUE},
        {0, 18, 0, TRUE},  // a caret drawn as a line of no width
        {1, 18, STATE_SYSTEM_INVISIBLE, FALSE},
        {1, 18, STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_FOCUSABLE, FALSE},
        {0, 0, 0, FALSE},  // what Chromium answers with no text field focused
        {1, 0, 0, FALSE},
        {-1, 18, 0, FALSE},
    };
    for (const auto &c : carets) {
        CAPTURE(c.width);
        CAPTURE(c.height);
        CAPTURE(c.state);
        CHECK(AccessibleCaretUsable(c.width, c.height, c.state) == c.usable);
    }
    const RECT second = {1920, -200, 3840, 880};  // a monitor right of the primary, higher up
    const struct {
        POINT in, out;
    } points[] = {
        {{2000, 100}, {2000, 100}},
        {{1920, -200}, {1920, -200}},
        {{3840, 880}, {3839, 879}},
        {{1900, -300}, {1920, -200}},
        {{5000, 500}, {3839, 500}},
    };
    for (const auto &p : points) {
        POINT kept = KeepPointOnMonitor(p.in, &second);
        CAPTURE(p.in.x);
        CAPTURE(p.in.y);
        CHECK(kept.x == p.out.x);
        CHECK(kept.y == p.out.y);
    }
}

TEST_CASE("a key goes only to the window chosen: the foreground always, the focus before the first key")
{
    HWND form = (HWND)0x100, field1 = (HWND)0x101, field2 = (HWND)0x102, chat = (HWND)0x200;
    struct Row {
        const char *what;
        HWND recordedForeground, recordedFocus, foregroundNow, focusNow;
        BOOL focusInForeground, firstKey, want;
    } rows[] = {
        {"first key, all as recorded", form, field1, form, field1, TRUE, TRUE, TRUE},
        {"first key, the focus moved within the window", form, field1, form, field2, TRUE, TRUE, FALSE},
        {"after a Tab, the focus moved within the window", form, field1, form, field2, TRUE, FALSE, TRUE},
        {"after a Tab, the focus outside the window", form, field1, form, chat, FALSE, FALSE, FALSE},
        {"another window in front", form, field1, chat, field1, FALSE, TRUE, FALSE},
        {"another window in front, after a Tab", form, field1, chat, chat, TRUE, FALSE, FALSE},
        {"no window in front", form, field1, nullptr, nullptr, FALSE, FALSE, FALSE},
        {"nothing recorded", nullptr, nullptr, nullptr, nullptr, FALSE, TRUE, FALSE},
        {"no focus recorded: within the window", form, nullptr, form, form, TRUE, TRUE, TRUE},
        {"no focus known, then or now", form, nullptr, form, nullptr, FALSE, TRUE, TRUE},
    };
    for (const Row &row : rows) {
        std::string what = row.what;
        CAPTURE(what);
        CHECK(DecideKeyMayGo(row.recordedForeground, row.recordedFocus, row.foregroundNow, row.focusNow,
                             row.focusInForeground, row.firstKey) == row.want);
    }
}

TEST_CASE("a registered paste goes on while the caption changes only in digits, spaces and marks")
{
    struct Pair {
        const wchar_t *recorded, *now;
        BOOL stops;
    } pairs[] = {
        // Unread counters, unsaved marks ("*", "●"), page numbers, full-width digits and brackets.
        {L"Inbox (3)", L"Inbox (4)", FALSE}, {L"Inbox - Mail", L"Inbox (12) - Mail", FALSE},
        {L"Untitled - Notepad", L"*Untitled - Notepad", FALSE}, {L"Document", L"\x25CF Document", FALSE},
        {L"[1/3] Page", L"[2/3]  Page", FALSE}, {L"受信トレイ（３）", L"受信トレイ（４）", FALSE}, {L"", L"", FALSE},
        // Another tab of the browser; letters compare exactly, at either end too.
        {L"Bank - Login", L"Chat - general", TRUE}, {L"銀行 - ログイン", L"チャット - 一般", TRUE},
        {L"Login", L"Login - Bank", TRUE}, {L"Login - Bank", L"Login", TRUE}, {L"Login", L"", TRUE},
        {L"Mail", L"mail", TRUE}, {L"Page 1", L"Pages 1", TRUE},
    };
    for (const Pair &pair : pairs) {
        CAPTURE(std::wstring(pair.recorded) + L" -> " + pair.now);
        CHECK(CaptionChangeStopsPaste(pair.recorded, pair.now) == pair.stops);
    }
}

TEST_CASE("the lines of the last registered paste count as typed lines while it runs and 10 s after it ends")
{
    const DWORD End = 0xFFFFF000u;  // the tick count wraps within the time kept
    TypedLineMemory memory;
    auto typed = [&](const std::wstring &text, DWORD now) { return IsRecentTypedLine(&memory, text.c_str(), (int)text.size(), now); };
    StartTypedLines(&memory);
    RememberTypedLine(&memory, L"alice");
    RememberTypedLine(&memory, L"S3cret!");
    CHECK(typed(L"S3cret!", 0x80000000u));  // while the paste runs, whatever the time
    CHECK_FALSE(typed(L"s3cret", 0));       // part of a line, or in other case
    CHECK_FALSE(typed(L"alice\r\nS3cret!", 0));
    CHECK_FALSE(IsRecentTypedLine(&memory, nullptr, 0, 0));
    EndTypedLines(&memory, End);
    CHECK(typed(L"alice", End + TYPED_LINES_KEEP_MS - 1));
    CHECK_FALSE(typed(L"alice", End + TYPED_LINES_KEEP_MS));
    CHECK(IsRecentTypedLine(&memory, L"alice-x", 5, End));  // a clipboard block is compared by its length
    // The next paste forgets the last one's lines; lines beyond the bound are not kept.
    StartTypedLines(&memory);
    CHECK_FALSE(typed(L"alice", 0));
    for (int n = 0; n <= TYPED_LINES_MAX; n++)
        RememberTypedLine(&memory, std::to_wstring(n).c_str());
    CHECK(typed(std::to_wstring(TYPED_LINES_MAX - 1), 0));
    CHECK_FALSE(typed(std::to_wstring(TYPED_LINES_MAX), 0));
}

static void AddRule(AppRules *rules, const WCHAR *exe, int switches, const WCHAR *caption = L"", int delayMs = 40)
{
    int index = AddAppRule(rules, exe);
    REQUIRE(index >= 0);
    rules->rules[index].switches = switches;
    lstrcpyW(rules->rules[index].caption, caption);
    rules->rules[index].typeDelayMs = delayMs;
}

TEST_CASE("per-application rules: matching by executable and caption, and the three decisions")
{
    AppRules rules;
    SetDefaultAppRules(&rules);
    AddRule(&rules, L"idea64.exe", APP_RULE_NO_MENU);
    AddRule(&rules, L"mstsc.exe", APP_RULE_NO_RECORD | APP_RULE_TYPE);
    AddRule(&rules, L"firefox.exe", APP_RULE_NO_RECORD, L"My Bank");
    AddRule(&rules, L"rdpclip.exe", APP_RULE_NO_RECORD);
    struct Case {
        const char *rule;
        const wchar_t *exe, *caption;
        bool menu, record, type;
    } cases[] = {
        {"no rule for the application: everything as usual", L"notepad.exe", L"memo", true, true, false},
        {"the name matches without regard to case", L"IDEA64.EXE", L"Project", false, true, false},
        {"a name is the whole file name, not a part of it", L"idea.exe", L"", true, true, false},
        {"a process that could not be opened matches nothing", L"", L"My Bank", true, true, false},
        {"Remote Desktop: not recorded, typed", L"mstsc.exe", L"server - Remote", true, false, true},
        {"a caption text must occur in the caption", L"firefox.exe", L"News - Firefox", true, true, false},
        {"...anywhere in it, without regard to case", L"firefox.exe", L"login - MY BANK - Firefox", true, false, false},
        {"copies from rdpclip, which has no window, by name", L"rdpclip.exe", L"", true, false, false},
    };
    for (const Case &c : cases) {
        CAPTURE(c.rule);
        CHECK(MenuMayOpen(&rules, c.exe, c.caption, QUNS_ACCEPTS_NOTIFICATIONS) == (BOOL)c.menu);
        CHECK(CopyMayBeRecorded(&rules, c.exe, c.caption) == (BOOL)c.record);
        int delay = -1;
        CHECK(TypesInsteadOfPaste(&rules, c.exe, c.caption, &delay) == (BOOL)c.type);
        CHECK(delay == (c.type ? 40 : -1));
    }
    // A rule with a caption text goes before the plain one of the same executable, also when it
    // stands after it.
    AddRule(&rules, L"firefox.exe", APP_RULE_TYPE);
    std::swap(rules.rules[2], rules.rules[rules.count - 1]);
    CHECK(MatchAppRule(&rules, L"firefox.exe", L"My Bank")->switches == APP_RULE_NO_RECORD);
    CHECK(MatchAppRule(&rules, L"firefox.exe", L"News")->switches == APP_RULE_TYPE);
    // The caption for a copy is the foreground's only when the owner is of its process.
    CHECK(std::wstring(CaptionForCopy(12, 12, L"", L"My Bank")) == L"My Bank");
    CHECK(std::wstring(CaptionForCopy(12, 34, L"hidden", L"My Bank")) == L"hidden");
    CHECK(std::wstring(CaptionForCopy(0, 0, L"", L"My Bank")) == L"");
    // Quiet during full-screen, on by default and while the box is ticked: for a full-screen
    // application (borderless games included), Direct3D and presentations; not for an unknown state
    // (a failed query), no user, the normal one, quiet time or a store app.
    CHECK(rules.fullScreenQuiet);
    const struct {
        int state;
        BOOL opens;
    } states[] = {{QUNS_BUSY, FALSE}, {QUNS_RUNNING_D3D_FULL_SCREEN, FALSE}, {QUNS_PRESENTATION_MODE, FALSE}, {0, TRUE},
                  {QUNS_NOT_PRESENT, TRUE}, {QUNS_ACCEPTS_NOTIFICATIONS, TRUE}, {QUNS_QUIET_TIME, TRUE}, {7 /* QUNS_APP */, TRUE}};
    for (const auto &c : states) {
        CAPTURE(c.state);
        CHECK(MenuMayOpen(&rules, L"notepad.exe", L"", c.state) == c.opens);
    }
    rules.fullScreenQuiet = FALSE;
    CHECK(MenuMayOpen(&rules, L"notepad.exe", L"", QUNS_BUSY));
}

// What the replaced SHQueryUserNotificationState answers: a full-screen program, or a failure.
static HRESULT FakeResult;
static HRESULT WINAPI FakeNotificationState(int *state)
{
    *state = QUNS_RUNNING_D3D_FULL_SCREEN;
    return FakeResult;
}

TEST_CASE("the look-ups: this test's own executable, none for a process that cannot be opened; the notification state")
{
    ForgetExecutableNames();
    WCHAR exe[APP_EXE_CHARS];
    CHECK(ExecutableOfProcess(GetCurrentProcessId(), exe));
    CHECK(lstrcmpiW(exe, ThisExecutableName().c_str()) == 0);
    for (DWORD process : {0u, 0xFFFFFFF0u}) {
        CHECK_FALSE(ExecutableOfProcess(process, exe));
        CHECK(exe[0] == 0);
    }
    // The notification state goes through a replaceable function; a failed query keeps nothing closed.
    NotificationStateFunction savedRoute = g_notificationStateRoute;
    SetDefaultAppRules(&g_appRules);
    g_notificationStateRoute = FakeNotificationState;
    FakeResult = S_OK;
    CHECK_FALSE(MenuMayOpenOver(GetDesktopWindow()));
    FakeResult = E_FAIL;
    CHECK(MenuMayOpenOver(GetDesktopWindow()));
    g_notificationStateRoute = savedRoute;
}

// A text typed as keys, read back from the records made for each (a down and an up of one key):
// a unit as itself, E for Enter, T for Tab, ? for anything else.
static std::wstring TypedScript(const wchar_t *text, BOOL registered)
{
    std::wstring script;
    int position = 0;
    WCHAR unit = 0;
    for (int key; (key = TakeTypedKey(text, lstrlenW(text), registered, &position, &unit)) != TYPED_KEY_END;) {
        INPUT in[2];
        REQUIRE(MakeTypedKeyInputs(key, unit, in) == 2);
        CHECK((in[0].type == INPUT_KEYBOARD && in[1].type == INPUT_KEYBOARD));
        CHECK((in[0].ki.wVk == in[1].ki.wVk && in[0].ki.wScan == in[1].ki.wScan));
        CHECK(in[1].ki.dwFlags == (in[0].ki.dwFlags | KEYEVENTF_KEYUP));
        // A unit goes with KEYEVENTF_UNICODE and no virtual key, Enter and Tab as keys.
        DWORD flags = in[0].ki.dwFlags;
        WORD vk = in[0].ki.wVk;
        script += flags == KEYEVENTF_UNICODE && !vk ? (WCHAR)in[0].ki.wScan : flags ? L'?' : vk == VK_RETURN ? L'E' : vk == VK_TAB ? L'T' : L'?';
    }
    return script;
}

TEST_CASE("typing instead of pasting: the keys of a text, and their records")
{
    // A copy: CR LF, a lone CR and a lone LF are one Enter each, a Tab is Tab; a surrogate pair is two units.
    CHECK(TypedScript(L"a\r\nb\tc\rd\ne\n\r\xD83D\xDE00", FALSE) == L"aEbTcEdEeEE\xD83D\xDE00");
    // A registered entry: its lines with Tab between them; a lone CR takes the unit after it, as the
    // paste does; an LF inside a line is Enter.
    CHECK(TypedScript(L"user\r\npass\rxb\nc", TRUE) == L"userTpassTbEc");
    // A text over 10,000 units is refused before any key.
    ResetRecallForTests();
    RecordedBatches.clear();
    g_sendInputRoute = RecordSendInput;
    CHECK_FALSE(TypeEntryAsKeys(ItemStore::Insert(History, nullptr, std::wstring(TYPED_TEXT_MAX + 1, L'x').c_str()), 0));
    g_sendInputRoute = SendInput;
    CHECK(RecordedBatches.empty());
}
