// The decisions of capture and recall, reached without windows: labels, menu layout, tap
// counting, the line splitting of a registered paste, the capture rules and the key records.
#include <doctest/doctest.h>
#include "recall_test_util.h"

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

// Each menu of a layout as readable lines: "label #id", "title -> menu n", "grey: label", "---".
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

// Feeds key events to a fresh counter; returns the arm requests joined: "-" none, "F" first, "A" again,
// "C" cancel.
struct TapScript {
    TapCounterState state = {0, 0};
    std::string arms;
    void Press(int mode, WPARAM vk) { Feed(mode, vk, 0x00000001); }
    void Release(int mode, WPARAM vk) { Feed(mode, vk, (LPARAM)0xC0000001); }
    void Tap(int mode, WPARAM vk)
    {
        Press(mode, vk);
        Release(mode, vk);
    }
    void Feed(int mode, WPARAM vk, LPARAM flags)
    {
        int arm = CountTap(&state, mode, vk, flags);
        arms += arm == TAP_ARM_NONE ? '-' : arm == TAP_ARM_FIRST ? 'F' : arm == TAP_ARM_AGAIN ? 'A' : 'C';
    }
};

TEST_CASE("tap counting and the double-tap decision")
{
    SUBCASE("double tap: the first release arms the double-click time, the second 1 ms")
    {
        TapScript s;
        s.Tap(0, VK_SHIFT);
        s.Tap(0, VK_SHIFT);
        CHECK(s.arms == "-F-A");
        CHECK(s.state.TapCount == 2);
        CHECK(s.state.KeyDownFlag == 0);
        CHECK(DecideDoubleTap(&s.state, 0) == DOUBLETAP_OPEN);
    }
    SUBCASE("slow taps: the timer's decision comes between them and resets")
    {
        TapScript s;
        s.Tap(0, VK_SHIFT);
        CHECK(DecideDoubleTap(&s.state, 0) == DOUBLETAP_RESET);
        s.state.TapCount = 0;  // what the timer does after deciding
        s.Tap(0, VK_SHIFT);
        CHECK(s.arms == "-F-F");
        CHECK(DecideDoubleTap(&s.state, 0) == DOUBLETAP_RESET);
    }
    SUBCASE("three quick taps: one decision to open")
    {
        TapScript s;
        for (int n = 0; n < 3; n++)
            s.Tap(0, VK_SHIFT);
        CHECK(s.arms == "-F-A-A");
        CHECK(DecideDoubleTap(&s.state, 0) == DOUBLETAP_OPEN);
    }
    SUBCASE("auto-repeat presses count one tap")
    {
        TapScript s;
        for (int n = 0; n < 5; n++)
            s.Feed(0, VK_SHIFT, 0x40000001);
        s.Release(0, VK_SHIFT);
        CHECK(s.state.TapCount == 1);
        CHECK(s.arms == "-----F");
    }
    SUBCASE("a release without a press counts nothing; duplicated events count once")
    {
        TapScript s;
        s.Release(0, VK_SHIFT);
        CHECK(s.state.TapCount == 0);
        s.Press(0, VK_SHIFT);
        s.Press(0, VK_SHIFT);
        s.Release(0, VK_SHIFT);
        s.Release(0, VK_SHIFT);
        CHECK(s.state.TapCount == 1);
        CHECK(s.arms == "---F-");
    }
    SUBCASE("other keys in between neither count nor break the pair")
    {
        TapScript s;
        s.Tap(0, VK_SHIFT);
        s.Tap(0, 'A');
        s.Tap(0, VK_SHIFT);
        CHECK(s.arms == "-F---A");
        CHECK(s.state.TapCount == 2);
    }
    SUBCASE("an other key pressed while the trigger is down does not reset the press")
    {
        TapScript s;
        s.Press(1, VK_CONTROL);
        s.Tap(1, 'C');
        s.Release(1, VK_CONTROL);
        CHECK(s.state.TapCount == 1);
    }
    SUBCASE("left and right keys of one kind arrive as one key code")
    {
        // The hook forwards VK_SHIFT for both; VK_LSHIFT / VK_RSHIFT never reach the counter as such.
        TapScript s;
        s.Tap(0, VK_SHIFT);
        s.Tap(0, VK_SHIFT);
        CHECK(s.state.TapCount == 2);
        TapScript other;
        other.Tap(0, VK_LSHIFT);
        CHECK(other.state.TapCount == 0);
    }
    SUBCASE("wrong mode: Shift in Ctrl mode, any key in hotkey mode or an unknown mode")
    {
        for (int mode : {1, 2, 3, 4, -1}) {
            TapScript s;
            s.Tap(mode, VK_SHIFT);
            s.Tap(mode, VK_SHIFT);
            CHECK(s.state.TapCount == 0);
        }
        TapScript ctrl;
        ctrl.Tap(1, VK_CONTROL);
        ctrl.Tap(1, VK_CONTROL);
        CHECK(ctrl.state.TapCount == 2);
        TapScript alt;
        alt.Tap(2, VK_MENU);
        CHECK(alt.state.TapCount == 1);
        CHECK(TriggerKeyOfMode(3) == 0);
    }
    SUBCASE("busy: the decision waits and keeps the count")
    {
        TapCounterState state = {0, 2};
        CHECK(DecideDoubleTap(&state, 1) == DOUBLETAP_WAIT);
        CHECK(state.TapCount == 2);
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

TEST_CASE("the paste's own Ctrl is no tap, and only it, and only for so long")
{
    OwnKeysState own = {0, 0};
    TapCounterState state = {0, 0};
    auto event = [&](WPARAM vk, bool release, DWORD now) {
        if (TakeOwnKeyEvent(&own, vk, now))
            return TAP_ARM_NONE - 1;  // taken as the program's own
        return CountTap(&state, 1, vk, release ? (LPARAM)0xC0000001 : 1);
    };
    SUBCASE("in Ctrl mode the paste's Ctrl press and release come back and count nothing")
    {
        ExpectOwnKeyEvents(&own, 2, 1000);
        CHECK(event(VK_CONTROL, false, 1010) == -1);
        CHECK(event('V', false, 1010) == TAP_ARM_NONE);
        CHECK(event('V', true, 1011) == TAP_ARM_NONE);
        CHECK(event(VK_CONTROL, true, 1012) == -1);
        CHECK(state.TapCount == 0);
        // One real tap afterwards is a first tap, not the second of a double tap.
        CHECK(event(VK_CONTROL, false, 1150) == TAP_ARM_NONE);
        CHECK(event(VK_CONTROL, true, 1160) == TAP_ARM_FIRST);
        CHECK(DecideDoubleTap(&state, 0) == DOUBLETAP_RESET);
    }
    SUBCASE("two pastes in a row expect four events")
    {
        ExpectOwnKeyEvents(&own, 2, 1000);
        ExpectOwnKeyEvents(&own, 2, 1100);
        for (int k = 0; k < 4; k++)
            CHECK(TakeOwnKeyEvent(&own, VK_CONTROL, 1200));
        CHECK_FALSE(TakeOwnKeyEvent(&own, VK_CONTROL, 1200));
    }
    SUBCASE("events that never come back are not waited for: the user's Ctrl counts again")
    {
        ExpectOwnKeyEvents(&own, 2, 1000);
        CHECK_FALSE(TakeOwnKeyEvent(&own, VK_CONTROL, 1000 + OWN_KEYS_WAIT_MS + 1));
        CHECK(own.pendingCtrl == 0);
        // An overdue rest is dropped when the next paste sends its own.
        ExpectOwnKeyEvents(&own, 2, 5000);
        ExpectOwnKeyEvents(&own, 2, 5000 + OWN_KEYS_WAIT_MS + 10);
        CHECK(own.pendingCtrl == 2);
    }
    SUBCASE("the tick count wrapping around does not make events overdue")
    {
        ExpectOwnKeyEvents(&own, 2, 0xFFFFFFF0u);
        CHECK(TakeOwnKeyEvent(&own, VK_CONTROL, 0x00000010u));
    }
    SUBCASE("nothing expected: every key goes to the tap counter")
    {
        CHECK_FALSE(TakeOwnKeyEvent(&own, VK_CONTROL, 1000));
        CHECK_FALSE(TakeOwnKeyEvent(&own, VK_SHIFT, 1000));
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
    // Its Ctrl press and release will come back through the hook as the program's own.
    CHECK(g_ownKeys.pendingCtrl == 2);
    SendTab();
    CHECK(g_ownKeys.pendingCtrl == 2);
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
    SUBCASE("a line read by the target: the earlier text comes back, or an empty clipboard")
    {
        CHECK(DecideClipboardAfterPaste(TRUE, FALSE, TRUE, TRUE) == AFTER_PASTE_RESTORE);
        CHECK(DecideClipboardAfterPaste(TRUE, FALSE, TRUE, FALSE) == AFTER_PASTE_EMPTY);
    }
    SUBCASE("the clipboard changed since the line went on: whatever is there now stays")
    {
        for (int taken = 0; taken < 2; taken++)
            for (int stopped = 0; stopped < 2; stopped++)
                for (int hadText = 0; hadText < 2; hadText++)
                    CHECK(DecideClipboardAfterPaste(taken, stopped, FALSE, hadText) == AFTER_PASTE_LEAVE);
    }
    SUBCASE("a target that has not read the last line yet still gets it")
    {
        CHECK(DecideClipboardAfterPaste(FALSE, FALSE, TRUE, TRUE) == AFTER_PASTE_RENDER);
        CHECK(DecideClipboardAfterPaste(FALSE, FALSE, TRUE, FALSE) == AFTER_PASTE_RENDER);
    }
    SUBCASE("a paste broken off hands nothing more over")
    {
        CHECK(DecideClipboardAfterPaste(FALSE, TRUE, TRUE, TRUE) == AFTER_PASTE_RESTORE);
        CHECK(DecideClipboardAfterPaste(FALSE, TRUE, TRUE, FALSE) == AFTER_PASTE_EMPTY);
    }
    SUBCASE("the target's thread, a windowless reader or an unknown target count; another thread does not")
    {
        CHECK(ReaderIsTarget(42, 42));
        CHECK(ReaderIsTarget(0, 42));
        CHECK(ReaderIsTarget(7, 0));
        CHECK_FALSE(ReaderIsTarget(7, 42));
    }
}
