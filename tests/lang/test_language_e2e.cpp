// The real tavo.exe started in the display language of this run: the find box, the editor and the
// sheet speak it, and the first start's registered entry is written in it. CTest runs this program
// twice, in Japanese and in English (LC_ALL): Wine 8 gives a process it starts the locale of its
// starter, whatever LC_ALL the new environment holds. The English run leaves pictures of its
// windows in its scratch folder (the pictures in docs/ come from there).
#include <doctest/doctest.h>
#include <windows.h>
#include <commctrl.h>
#include <cstdio>
#include <string>
#include "lang/ui_language.h"
#include "recall/recall_e2e_run.h"
#include "res/resource.h"

namespace {

struct LanguageRun {
    LANGID language;
    const wchar_t *folder;
    const wchar_t *findTitle;
    const wchar_t *editorTitle;
    const wchar_t *sheetTitle;
    PasteRecord firstEntry;
};

const LanguageRun Runs[] = {
    {UI_LANGUAGE_ENGLISH, L"language_en", L"Find", L"Edit Data", L"Settings", {1, L"Site name", L"Login ID\r\nPassword"}},
    {UI_LANGUAGE_JAPANESE, L"language_ja", L"検索", L"データ編集", L"設定", {1, L"サイト名", L"ログインID\r\nパスワード"}},
};

std::string PicturePath(const TavoRun &run, const char *name)
{
    std::string dir(run.dir.begin(), run.dir.end());
    return dir + name;
}

}  // namespace

TEST_CASE("started in the display language, the find box, editor, sheet and first entry speak it")
{
    int runs = 0;
    for (const LanguageRun &language : Runs) {
        if (language.language != UiLanguageFor(GetUserDefaultUILanguage()))
            continue;
        runs++;
        TavoRun run;
        REQUIRE(run.Start(language.folder, TestIni(0), nullptr));
        const DWORD pid = run.tavo.process.dwProcessId;
        bool english = language.language == UI_LANGUAGE_ENGLISH;

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

        // The editor.
        PostMessageW(run.tavo.mainWindow, WM_COMMAND, IDM_EDIT_DATA, 0);
        HWND editor = nullptr;
        CHECK(WaitUntil([&] { return (editor = FindVisibleProcessWindow(pid, L"tavoDataEditClass", language.editorTitle)) != nullptr; }, 5000));
        if (editor) {
            if (english) {
                // The picture as the one in docs/ shows it: the registered entry chosen.
                SetWindowPos(editor, nullptr, 40, 40, 520, 360, SWP_NOZORDER);
                HWND tree = FindWindowExW(editor, nullptr, WC_TREEVIEWW, nullptr);
                LPARAM registered = SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
                SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, registered);
                SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, registered));
                PumpFor(300);
                SaveWindowPicture(editor, PicturePath(run, "editor.bmp"));
            }
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
    CHECK(runs == 1);
}
