// The keyboard hook with the real tavo.exe: this program plays the user at a form of its own.
// Typing never waits for tavo, every double-tap mode opens the menu, chords and the keys of a
// paste are never taken for the user's taps.
#include <doctest/doctest.h>
#include <cstdio>
#include <functional>
#include "../recall/recall_form.h"
#include "state/ini_data.h"
#include "test_util.h"

namespace {

const std::vector<PasteRecord> Entries = {
    {1, L"site", L"user\r\npass"},
    {0, L"", L"newest copy"},
};

// tavo.exe in a folder of its own with Entries, and the form with the focus in field 1.
struct HookRun {
    TavoProcess tavo = {};
    TestForm form = {};
    bool Start(const wchar_t *name, int menuKeyMode)
    {
        IniData ini;
        SetDefaultIniData(&ini);
        ini.menuKeyMode = menuKeyMode;
        ini.pasteWaitMs = 20;
        std::wstring dir = MakeScratchDir(name);
        if (!WriteFileBytes(dir + L"ini.dat", EncryptedIni(ini)) ||
            !WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(Entries)) || !StartTavoClean(dir, &tavo))
            return false;
        PumpFor(300);
        if (!CreateTestForm(&form) || !FocusTestField(form, 1))
            return false;
        // Wine brings its key state in line with the X server's when the form's focus event
        // arrives; a chord begun before that would lose its Shift.
        PumpFor(300);
        return true;
    }
    ~HookRun()
    {
        DestroyTestForm(&form);
        if (tavo.process.hProcess)
            CHECK(StopTavo(&tavo) == 0);
    }
};

// A tap whose events pass through this thread's queue, where the hook forwards them.
void PlayTap(WORD vk)
{
    KeyDown(vk);
    PumpFor(30);
    KeyUp(vk);
    PumpFor(30);
}

// Two taps of the key in lpParameter, sent from a thread of their own: the first Alt release puts
// the form into its menu mode, whose modal loop holds this thread until the second tap ends it.
DWORD WINAPI SendDoubleTap(void *parameter)
{
    WORD vk = (WORD)(UINT_PTR)parameter;
    for (int n = 0; n < 2; n++) {
        KeyDown(vk);
        Sleep(30);
        KeyUp(vk);
        Sleep(30);
    }
    return 0;
}

// Double-taps vk with a player that answers the menu with the keys; true when the menu was seen.
bool DoubleTapAnswered(WORD vk, const std::vector<WORD> &keys)
{
    MenuPlayer player;
    StartMenuPlayer(&player, keys);
    HANDLE taps = CreateThread(nullptr, 0, SendDoubleTap, (void *)(UINT_PTR)vk, 0, nullptr);
    bool seen = FinishMenuPlayer(&player);
    WaitUntil([&] { return WaitForSingleObject(taps, 0) == WAIT_OBJECT_0; }, 3000);
    CloseHandle(taps);
    return seen;
}

// True when a menu shows within the time; a menu that did is closed again.
bool MenuShowsWithin(DWORD ms)
{
    if (!WaitUntil([] { return VisibleMenuWindow() != nullptr; }, ms))
        return false;
    TapKey(VK_ESCAPE);
    WaitUntil([] { return VisibleMenuWindow() == nullptr; }, 3000);
    return true;
}

}  // namespace

TEST_CASE("E2E: with tavo's thread stopped, letters typed into another program arrive at once")
{
    HookRun s;
    REQUIRE(s.Start(L"hook_e2e_stopped", 0));
    REQUIRE(SuspendThread(s.tavo.process.hThread) != (DWORD)-1);
    DWORD start = GetTickCount();
    for (WORD vk : {'A', 'B', 'C'}) {
        KeyDown(vk);
        KeyUp(vk);
    }
    bool arrived = WaitUntil([&] { return FieldText(s.form.field1) == L"abc"; }, 10000);
    DWORD spent = GetTickCount() - start;
    ResumeThread(s.tavo.process.hThread);
    printf("hook e2e: 6 key events reached the form in %lu ms while tavo was stopped\n", spent);
    CHECK(arrived);
    // A waiting hook held each of the six events for a second; this is a behaviour check with a
    // wide margin, not a measure.
    CHECK(spent < 1000);

    // Once running again, the letters it missed leave the trigger as it was: a double tap works.
    PumpFor(300);
    REQUIRE(FocusTestField(s.form, 2));
    CHECK(DoubleTapAnswered(VK_SHIFT, {VK_DOWN, VK_RETURN}));
    CHECK(WaitUntil([&] { return FieldText(s.form.field2) == L"newest copy"; }, 5000));
}

TEST_CASE("E2E: a double tap of Alt opens the menu in Alt mode, and Shift does not")
{
    HookRun s;
    REQUIRE(s.Start(L"hook_e2e_alt", 2));
    PlayTap(VK_SHIFT);
    PlayTap(VK_SHIFT);
    CHECK_FALSE(MenuShowsWithin(GetDoubleClickTime() + 300));
    REQUIRE(FocusTestField(s.form, 1));
    CHECK(DoubleTapAnswered(VK_MENU, {VK_DOWN, VK_RETURN}));
    CHECK(WaitUntil([&] { return FieldText(s.form.field1) == L"newest copy"; }, 5000));
}

// One real Ctrl tap 150 ms after a paste that the answer keys choose, once its text is in place.
void CheckCtrlTapAfterPaste(const HookRun &s, const std::vector<WORD> &keys, const std::function<bool()> &pasted)
{
    CHECK(DoubleTapAnswered(VK_CONTROL, keys));
    REQUIRE(WaitUntil(pasted, 5000));
    // The paste's own Ctrl went through the hook before this tap, the V under it: a chord, no tap.
    PumpFor(150);
    PlayTap(VK_CONTROL);
    CHECK_FALSE(MenuShowsWithin(GetDoubleClickTime() + 300));

    // The trigger is intact: a real double tap still opens the menu.
    PumpFor(GetDoubleClickTime());
    REQUIRE(FocusTestField(s.form, 1));
    CHECK(DoubleTapAnswered(VK_CONTROL, {VK_ESCAPE}));
}

TEST_CASE("E2E: in Ctrl mode, one real Ctrl tap right after a paste opens nothing")
{
    SUBCASE("after a copy-history paste")
    {
        HookRun s;
        REQUIRE(s.Start(L"hook_e2e_ctrl", 1));
        CheckCtrlTapAfterPaste(s, {VK_DOWN, VK_RETURN}, [&] { return FieldText(s.form.field1) == L"newest copy"; });
    }
    SUBCASE("after a registered paste")
    {
        HookRun s;
        REQUIRE(s.Start(L"hook_e2e_ctrl_registered", 1));
        CheckCtrlTapAfterPaste(s, {VK_UP, VK_RIGHT, VK_RETURN}, [&] {
            return FieldText(s.form.field1) == L"user" && FieldText(s.form.field2) == L"pass";
        });
    }
}

namespace {

// A left click at the middle of the window, sent as a user's.
void ClickAt(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, inputs, sizeof(INPUT));
}

// The key held while another is tapped, as a typist's chord.
void PlayChord(WORD held, WORD vk)
{
    KeyDown(held);
    PumpFor(20);
    TapKey(vk);
    PumpFor(20);
    KeyUp(held);
    PumpFor(60);
}

}  // namespace

TEST_CASE("E2E: in every mode, chords typed quickly open no menu and type nothing extra; a real double tap still does")
{
    const DWORD quiet = GetDoubleClickTime() + 300;
    SUBCASE("Shift mode: Shift+A, Shift+B; taps with another window between; Shift+click twice")
    {
        HookRun s;
        REQUIRE(s.Start(L"hook_e2e_chords_shift", 0));
        PlayChord(VK_SHIFT, 'A');
        PlayChord(VK_SHIFT, 'B');
        CHECK_FALSE(MenuShowsWithin(quiet));
        CHECK(FieldText(s.form.field1) == L"AB");

        // Tapped in one window, then in another that came to the front: two taps for two windows.
        TestForm other = {};
        REQUIRE(CreateTestForm(&other));
        REQUIRE(FocusTestField(s.form, 1));
        DWORD first = GetTickCount();
        PlayTap(VK_SHIFT);
        REQUIRE(BringToForeground(other.window, 1000));
        PlayTap(VK_SHIFT);
        DWORD between = GetTickCount() - first;
        CHECK_FALSE(MenuShowsWithin(quiet));
        DestroyTestForm(&other);
        REQUIRE(between < GetDoubleClickTime());

        // Shift+click extends a selection; twice in a row it is no double tap.
        REQUIRE(FocusTestField(s.form, 1));
        for (int n = 0; n < 2; n++) {
            KeyDown(VK_SHIFT);
            PumpFor(20);
            ClickAt(s.form.field1);
            PumpFor(60);
            KeyUp(VK_SHIFT);
            PumpFor(30);
        }
        CHECK_FALSE(MenuShowsWithin(quiet));

        REQUIRE(FocusTestField(s.form, 2));
        CHECK(DoubleTapAnswered(VK_SHIFT, {VK_DOWN, VK_RETURN}));
        CHECK(WaitUntil([&] { return FieldText(s.form.field2) == L"newest copy"; }, 5000));
        CHECK(FieldText(s.form.field1) == L"AB");
    }
    SUBCASE("Ctrl mode: Ctrl+A, Ctrl+C; Ctrl+Shift")
    {
        HookRun s;
        REQUIRE(s.Start(L"hook_e2e_chords_ctrl", 1));
        TapKey('X');
        PumpFor(GetDoubleClickTime());
        PlayChord(VK_CONTROL, 'A');
        PlayChord(VK_CONTROL, 'C');
        CHECK_FALSE(MenuShowsWithin(quiet));
        PlayChord(VK_CONTROL, VK_SHIFT);
        PlayChord(VK_SHIFT, VK_CONTROL);
        PlayTap(VK_CONTROL);
        CHECK_FALSE(MenuShowsWithin(quiet));
        CHECK(FieldText(s.form.field1) == L"x");

        REQUIRE(FocusTestField(s.form, 2));
        CHECK(DoubleTapAnswered(VK_CONTROL, {VK_DOWN, VK_RETURN}));
        CHECK(WaitUntil([&] { return FieldText(s.form.field2) == L"newest copy"; }, 5000));
        CHECK(FieldText(s.form.field1) == L"x");
    }
    SUBCASE("Alt mode: Alt+Tab twice, the Tab seen as it is under Wine")
    {
        HookRun s;
        REQUIRE(s.Start(L"hook_e2e_chords_alt", 2));
        PlayChord(VK_MENU, VK_TAB);
        PlayChord(VK_MENU, VK_TAB);
        CHECK_FALSE(MenuShowsWithin(quiet));
        CHECK(FieldText(s.form.field1) == L"");

        REQUIRE(FocusTestField(s.form, 1));
        CHECK(DoubleTapAnswered(VK_MENU, {VK_DOWN, VK_RETURN}));
        CHECK(WaitUntil([&] { return FieldText(s.form.field1) == L"newest copy"; }, 5000));
    }
}
