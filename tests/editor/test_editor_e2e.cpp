// The real tavo.exe: the tray command opens the editor once, and an entry written with the
// keyboard alone is in paste.dat after the program exits.
#include <doctest/doctest.h>
#include "editor_test_util.h"
#include "res/resource.h"
#include "test_util.h"

// The text of a window of another process, marshalled by WM_GETTEXT.
static std::wstring ForeignWindowText(HWND window)
{
    WCHAR text[256] = L"";
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 256, (LPARAM)text, SMTO_NORMAL, 1000, &copied);
    return text;
}

// Tray command 40006 to the program; the editor window it opens, or null.
static HWND OpenEditorOf(const TavoProcess &tavo)
{
    PostMessageW(tavo.mainWindow, WM_COMMAND, 40006, 0);
    return WaitForProcessWindow(tavo.process.dwProcessId, L"tavoDataEditClass", L"データ編集", 5000);
}

TEST_CASE("tray command 40006 opens one editor, and a keyboard-written entry reaches paste.dat")
{
    std::wstring dir = MakeScratchDir(L"editor_e2e");
    TavoProcess tavo;
    REQUIRE(StartTavoClean(dir, &tavo));
    DWORD pid = tavo.process.dwProcessId;

    HWND editor = OpenEditorOf(tavo);
    REQUIRE(editor);
    CHECK(WaitUntil([&] { return IsWindowVisible(editor) != FALSE; }, 3000));

    // A second opening raises the existing window and says so.
    PostMessageW(tavo.mainWindow, WM_COMMAND, 40006, 0);
    HWND box = WaitForProcessWindow(pid, L"#32770", L"tavo", 5000);
    REQUIRE(box);
    WCHAR text[200] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 200);
    CHECK(U8(text) == "「編集」ウインドウは、既に作成されています。");
    CHECK(CountProcessWindows(pid, L"tavoDataEditClass", nullptr, false) == 1);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    CHECK(WaitUntil([&] { return !IsWindow(box); }, 3000));

    // The keyboard alone: the registered group, Ctrl+A, F6, a text, F6; then the editor closes.
    REQUIRE(BringToForeground(editor, 3000));
    PumpFor(100);
    PressKey(VK_HOME);  // the copy-history group node
    PressKey(VK_DOWN);  // the registered group node below it (both start collapsed)
    PressCtrlKey('A');
    PressKey(VK_F6);
    PressCtrlKey('A');
    TypeText(L"typed on the keyboard");
    PressKey(VK_RETURN);
    TypeText(L"line 2");
    PumpFor(100);
    // The close below is a posted message, which the program takes before pending key input:
    // wait until the keys have reached the text and F6 has taken the focus back to the tree.
    HWND edit = GetDlgItem(FindWindowExW(editor, nullptr, EDITOR_PANE_CLASS, nullptr), IDC_EDITOR_TEXT);
    REQUIRE(edit != nullptr);
    CHECK(WaitUntil([&] { return ForeignWindowText(edit) == L"typed on the keyboard\r\nline 2"; }, 5000));
    PressKey(VK_F6);
    DWORD editorThread = GetWindowThreadProcessId(editor, nullptr);
    CHECK(WaitUntil([&] {
        GUITHREADINFO info = {};
        info.cbSize = sizeof(info);
        return GetGUIThreadInfo(editorThread, &info) && info.hwndFocus != edit;
    }, 3000));
    // Closed as by its title-bar button: Wine's tree view does not turn Alt+F4 or F10 into
    // system commands while it has the focus.
    PostMessageW(editor, WM_SYSCOMMAND, SC_CLOSE, 0);
    CHECK(WaitUntil([&] { return !IsWindow(editor); }, 5000));
    CHECK(IsWindow(tavo.mainWindow));  // the program goes on without its editor

    CHECK(StopTavo(&tavo) == 0);
    std::vector<PasteRecord> saved;
    CHECK_MESSAGE(ReadPasteRecords(dir + L"paste.dat", &saved), "paste.dat does not parse");
    bool found = false;
    for (const PasteRecord &entry : saved)
        if (entry == PasteRecord{Registered, L"(新しい登録データ)", L"typed on the keyboard\r\nline 2"})
            found = true;
    CHECK_MESSAGE(found, "entries saved: ", saved.size());
    CHECK(saved.size() == 2);  // the default entry and the new one
}

TEST_CASE("a text typed in the open editor is saved when the program ends before the editor closes")
{
    std::wstring dir = MakeScratchDir(L"editor_e2e_shutdown");
    TavoProcess tavo;
    REQUIRE(StartTavoClean(dir, &tavo));
    HWND editor = OpenEditorOf(tavo);
    REQUIRE(editor);
    REQUIRE(BringToForeground(editor, 3000));
    PumpFor(100);
    PressKey(VK_HOME);   // the copy-history group node
    PressKey(VK_DOWN);   // the registered group node
    PressKey(VK_RIGHT);  // expanded
    PressKey(VK_DOWN);   // its one entry, the default "サイト名"
    HWND edit = GetDlgItem(FindWindowExW(editor, nullptr, EDITOR_PANE_CLASS, nullptr), IDC_EDITOR_TEXT);
    REQUIRE(edit != nullptr);
    REQUIRE(WaitUntil([&] { return ForeignWindowText(edit) == L"ログインID\r\nパスワード"; }, 5000));
    PressKey(VK_F6);
    PressCtrlKey('A');
    TypeText(L"edited, never committed");
    REQUIRE(WaitUntil([&] { return ForeignWindowText(edit) == L"edited, never committed"; }, 5000));

    // The tray's exit while the editor is open and its text not yet stored.
    CHECK(StopTavo(&tavo) == 0);
    std::vector<PasteRecord> saved;
    REQUIRE(ReadPasteRecords(dir + L"paste.dat", &saved));
    REQUIRE(saved.size() == 1);
    CHECK(saved[0] == PasteRecord{Registered, L"サイト名", L"edited, never committed"});
}

TEST_CASE("exit with the editor open records its placement and keeps a name being typed")
{
    std::wstring dir = MakeScratchDir(L"editor_e2e_exit_rename");
    TavoProcess tavo;
    REQUIRE(StartTavoClean(dir, &tavo));
    HWND editor = OpenEditorOf(tavo);
    REQUIRE(editor);
    REQUIRE(BringToForeground(editor, 3000));
    SetWindowPos(editor, nullptr, 90, 80, 610, 420, SWP_NOZORDER | SWP_NOACTIVATE);
    PumpFor(100);
    PressKey(VK_HOME);   // the copy-history group node
    PressKey(VK_DOWN);   // the registered group node
    PressKey(VK_RIGHT);  // expanded
    PressKey(VK_DOWN);   // its one entry, the default "サイト名"
    HWND tree = FindWindowExW(editor, nullptr, WC_TREEVIEWW, nullptr);
    REQUIRE(tree != nullptr);
    PressKey(VK_F2);
    HWND edit = nullptr;
    REQUIRE(WaitUntil([&] { return (edit = (HWND)SendMessageW(tree, TVM_GETEDITCONTROL, 0, 0)) != nullptr; }, 5000));
    PressCtrlKey('A');
    TypeText(L"renamed, Enter never pressed");
    REQUIRE(WaitUntil([&] { return ForeignWindowText(edit) == L"renamed, Enter never pressed"; }, 5000));

    CHECK(StopTavo(&tavo) == 0);
    std::vector<PasteRecord> saved;
    REQUIRE(ReadPasteRecords(dir + L"paste.dat", &saved));
    REQUIRE(saved.size() == 1);
    CHECK(saved[0] == PasteRecord{Registered, L"renamed, Enter never pressed", L"ログインID\r\nパスワード"});
    IniData ini;
    REQUIRE(ReadIniRecord(dir + L"ini.dat", &ini));
    CHECK(ini.editorPlacement.showCmd == SW_SHOWNORMAL);
    CHECK(ini.editorPlacement.rcNormalPosition.right - ini.editorPlacement.rcNormalPosition.left == 610);
    CHECK(ini.editorPlacement.rcNormalPosition.bottom - ini.editorPlacement.rcNormalPosition.top == 420);
}

TEST_CASE("closing the editor writes both files while the program runs on")
{
    std::wstring dir = MakeScratchDir(L"editor_e2e_close_saves");
    TavoProcess tavo;
    REQUIRE(StartTavoClean(dir, &tavo));
    HWND editor = OpenEditorOf(tavo);
    REQUIRE(editor);
    CHECK(!FileIsThere(dir + L"paste.dat"));
    PostMessageW(editor, WM_SYSCOMMAND, SC_CLOSE, 0);
    CHECK(WaitUntil([&] { return !IsWindow(editor); }, 5000));
    DWORD_PTR answer;
    SendMessageTimeoutW(tavo.mainWindow, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer);
    std::vector<PasteRecord> saved;
    CHECK(ReadPasteRecords(dir + L"paste.dat", &saved));
    CHECK(saved.size() == 1);
    IniData ini;
    CHECK(ReadIniRecord(dir + L"ini.dat", &ini));
    CHECK(ini.editorPlacement.showCmd != 0);
    CHECK(WaitForSingleObject(tavo.process.hProcess, 0) == WAIT_TIMEOUT);
    CHECK(StopTavo(&tavo) == 0);
}
