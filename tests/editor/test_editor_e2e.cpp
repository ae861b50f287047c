// The real tavo.exe: the tray command opens the editor once, and an entry written with the
// keyboard alone is in paste.dat after the program exits.
#include <doctest/doctest.h>
#include "editor_test_util.h"
#include "test_util.h"

struct SavedEntry {
    int kind;
    std::wstring name, text;
};

static std::vector<SavedEntry> ReadPasteDat(const std::wstring &path)
{
    std::vector<SavedEntry> entries;
    Bytes plain = DecryptDataFile(ReadFileBytes(path));
    size_t at = 0;
    auto readInt = [&](int *value) {
        if (at + 4 > plain.size())
            return false;
        CopyMemory(value, &plain[at], 4);
        at += 4;
        return true;
    };
    auto readString = [&](std::wstring *value) {
        value->clear();
        while (at + 2 <= plain.size()) {
            WCHAR ch = (WCHAR)(plain[at] | (plain[at + 1] << 8));
            at += 2;
            if (!ch)
                return true;
            *value += ch;
        }
        return false;
    };
    int count = 0;
    if (!readInt(&count))
        return entries;
    for (int i = 0; i < count; i++) {
        SavedEntry entry;
        if (!readInt(&entry.kind) || !readString(&entry.name) || !readString(&entry.text))
            break;
        entries.push_back(entry);
    }
    return entries;
}

struct EditorSearch {
    DWORD pid;
    int count;
};

static BOOL CALLBACK CountEditorWindow(HWND window, LPARAM lParam)
{
    EditorSearch *search = (EditorSearch *)lParam;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    WCHAR name[64] = {};
    GetClassNameW(window, name, 64);
    if (pid == search->pid && lstrcmpW(name, L"tavoDataEditClass") == 0)
        search->count++;
    return TRUE;
}

static int CountEditors(DWORD processId)
{
    EditorSearch search = {processId, 0};
    EnumWindows(CountEditorWindow, (LPARAM)&search);
    return search.count;
}

static bool BringToFront(HWND window)
{
    return WaitUntil([&] {
        if (GetForegroundWindow() != window)
            SetForegroundWindow(window);
        return GetForegroundWindow() == window;
    }, 3000);
}

TEST_CASE("tray command 40006 opens one editor, and a keyboard-written entry reaches paste.dat")
{
    EmptyClipboardNow();
    std::wstring dir = MakeScratchDir(L"editor_e2e");
    TavoProcess tavo;
    REQUIRE(StartTavo(dir, &tavo));
    DWORD pid = tavo.process.dwProcessId;

    PostMessageW(tavo.mainWindow, WM_COMMAND, 40006, 0);
    HWND editor = nullptr;
    WaitUntil([&] { return (editor = FindProcessWindow(pid, L"tavoDataEditClass", L"データ編集")) != nullptr; }, 5000);
    REQUIRE(editor);
    CHECK(WaitUntil([&] { return IsWindowVisible(editor) != FALSE; }, 3000));

    // A second opening raises the existing window and says so.
    PostMessageW(tavo.mainWindow, WM_COMMAND, 40006, 0);
    HWND box = nullptr;
    WaitUntil([&] { return (box = FindProcessWindow(pid, L"#32770", L"tavo")) != nullptr; }, 5000);
    REQUIRE(box);
    WCHAR text[200] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 200);
    CHECK(U8(text) == "「編集」ウインドウは、既に作成されています。");
    CHECK(CountEditors(pid) == 1);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    CHECK(WaitUntil([&] { return !IsWindow(box); }, 3000));

    // The keyboard alone: the registered group, Ctrl+A, F6, a text, F6; then the editor closes.
    REQUIRE(BringToFront(editor));
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
    PressKey(VK_F6);
    // Closed as by its title-bar button: Wine's tree view does not turn Alt+F4 or F10 into
    // system commands while it has the focus.
    PostMessageW(editor, WM_SYSCOMMAND, SC_CLOSE, 0);
    CHECK(WaitUntil([&] { return !IsWindow(editor); }, 5000));
    CHECK(IsWindow(tavo.mainWindow));  // the program goes on without its editor

    CHECK(StopTavo(&tavo) == 0);
    std::vector<SavedEntry> saved = ReadPasteDat(dir + L"paste.dat");
    bool found = false;
    for (const SavedEntry &entry : saved)
        if (entry.kind == 1 && entry.name == L"(新しい登録データ)" && entry.text == L"typed on the keyboard\r\nline 2")
            found = true;
    CHECK_MESSAGE(found, "entries saved: ", saved.size());
    CHECK(saved.size() == 2);  // the default entry and the new one
}
