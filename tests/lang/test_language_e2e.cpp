// The real tavo.exe started in English and in Japanese, as Wine takes the display language from
// LC_ALL: the popup menu, the find box, the editor and the sheet speak the language of the run,
// and the first start's registered entry is written in it. The English run leaves pictures of
// its windows in its scratch folder (the pictures in docs/ come from there).
#include <doctest/doctest.h>
#include <windows.h>
#include <commctrl.h>
#include <cstdio>
#include <string>
#include "recall/recall_e2e_run.h"
#include "res/resource.h"

namespace {

struct LanguageRun {
    const wchar_t *locale;
    const wchar_t *folder;
    const wchar_t *findTitle;
    const wchar_t *editorTitle;
    const wchar_t *editorFirstMenu;
    const wchar_t *sheetTitle;
    PasteRecord firstEntry;
};

const LanguageRun Runs[] = {
    {L"en_US.UTF-8", L"language_en", L"Find", L"Edit Data", L"&File", L"Settings", {1, L"Site name", L"Login ID\r\nPassword"}},
    {L"ja_JP.UTF-8", L"language_ja", L"検索", L"データ編集", L"ファイル(&F)", L"設定", {1, L"サイト名", L"ログインID\r\nパスワード"}},
};

// Sets LC_ALL for the processes this one starts, and gives the caller's back at the end.
struct ChildLocale {
    WCHAR saved[64] = L"";
    bool had = false;
    explicit ChildLocale(const wchar_t *locale)
    {
        had = GetEnvironmentVariableW(L"LC_ALL", saved, ARRAYSIZE(saved)) > 0;
        SetEnvironmentVariableW(L"LC_ALL", locale);
    }
    ~ChildLocale() { SetEnvironmentVariableW(L"LC_ALL", had ? saved : nullptr); }
};

std::string PicturePath(const TavoRun &run, const char *name)
{
    std::string dir(run.dir.begin(), run.dir.end());
    return dir + name;
}

}  // namespace

TEST_CASE("started in English and in Japanese, the menu, find box, editor, sheet and first entry speak the run's language")
{
    for (const LanguageRun &language : Runs) {
        CAPTURE(std::string(language.folder, language.folder + lstrlenW(language.folder)));
        ChildLocale locale(language.locale);
        TavoRun run;
        REQUIRE(run.Start(language.folder, TestIni(0), nullptr));
        const DWORD pid = run.tavo.process.dwProcessId;
        bool english = language.locale[0] == L'e';

        // The popup menu at the caret, then the find box in its place.
        PlayDoubleTap(VK_SHIFT);
        REQUIRE(MenuOpensWithin(3000));
        PumpFor(200);
        if (english)
            SaveWindowPicture(VisibleMenuWindow(), PicturePath(run, "popup-menu.bmp"));
        TapKey(VK_SPACE);
        HWND box = nullptr;
        CHECK(WaitUntil([&] { return (box = FindVisibleProcessWindow(pid, L"#32770", language.findTitle)) != nullptr; }, 5000));
        TapKey(VK_ESCAPE);
        CHECK(WaitUntil([&] { return FindVisibleProcessWindow(pid, L"#32770", nullptr) == nullptr; }, 5000));

        // The editor: its title and its menu bar.
        PostMessageW(run.tavo.mainWindow, WM_COMMAND, IDM_EDIT_DATA, 0);
        HWND editor = nullptr;
        CHECK(WaitUntil([&] { return (editor = FindVisibleProcessWindow(pid, L"tavoDataEditClass", language.editorTitle)) != nullptr; }, 5000));
        if (editor) {
            WCHAR first[32] = L"";
            GetMenuStringW(GetMenu(editor), 0, first, ARRAYSIZE(first), MF_BYPOSITION);
            CHECK(std::wstring(first) == language.editorFirstMenu);
            PumpFor(300);
            if (english)
                SaveWindowPicture(editor, PicturePath(run, "editor.bmp"));
            PostMessageW(editor, WM_CLOSE, 0, 0);
            CHECK(WaitUntil([&] { return !IsWindow(editor); }, 5000));
        }

        // The settings sheet, cancelled.
        PostMessageW(run.tavo.mainWindow, WM_COMMAND, IDM_SETTINGS, 0);
        HWND sheet = nullptr;
        CHECK(WaitUntil([&] { return (sheet = FindVisibleProcessWindow(pid, L"#32770", language.sheetTitle)) != nullptr; }, 5000));
        if (sheet) {
            PumpFor(300);
            if (english)
                SaveWindowPicture(sheet, PicturePath(run, "settings-sheet.bmp"));
            PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
            CHECK(WaitUntil([&] { return FindVisibleProcessWindow(pid, L"#32770", nullptr) == nullptr; }, 5000));
        }

        std::vector<PasteRecord> saved = run.Stop();
        REQUIRE(saved.size() == 1);
        CHECK(saved[0] == language.firstEntry);
        if (english)
            printf("language e2e: pictures of the English windows in %ls\n", run.dir.c_str());
    }
}
