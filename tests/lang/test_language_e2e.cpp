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
    const wchar_t *folder, *findTitle, *editorTitle, *sheetTitle;
    PasteRecord firstEntry;
};
const LanguageRun JapaneseRun = {L"language_ja", L"検索", L"データ編集", L"設定", {1, L"サイト名", L"ログインID\r\nパスワード"}};
const LanguageRun EnglishRun = {L"language_en", L"Find", L"Edit Data", L"Settings", {1, L"Site name", L"Login ID\r\nPassword"}};

// The editor as the picture in docs/ shows it: the registered entry chosen.
void ShowRegisteredEntry(HWND editor)
{
    SetWindowPos(editor, nullptr, 40, 40, 520, 360, SWP_NOZORDER);
    HWND tree = FindWindowExW(editor, nullptr, WC_TREEVIEWW, nullptr);
    LPARAM registered = SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, registered);
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, registered));
}

}  // namespace

TEST_CASE("started in the display language, the find box, editor, sheet and first entry speak it")
{
    bool english = UiLanguageFor(GetUserDefaultUILanguage()) == UI_LANGUAGE_ENGLISH;
    const LanguageRun &language = english ? EnglishRun : JapaneseRun;
    TavoRun run;
    REQUIRE(run.Start(language.folder, TestIni(0), nullptr));
    const DWORD pid = run.tavo.process.dwProcessId;
    std::string pictures(run.dir.begin(), run.dir.end());

    // The popup menu at the caret, then the find box in its place.
    PlayDoubleTap(VK_SHIFT);
    REQUIRE(MenuOpensWithin(3000));
    PumpFor(200);
    if (english)
        SaveWindowPicture(VisibleMenuWindow(), pictures + "popup-menu.bmp");
    TapKey(VK_SPACE);
    CHECK(WaitUntil([&] { return FindVisibleProcessWindow(pid, L"#32770", language.findTitle) != nullptr; }, 5000));
    TapKey(VK_ESCAPE);
    CHECK(WaitUntil([&] { return FindVisibleProcessWindow(pid, L"#32770", nullptr) == nullptr; }, 5000));

    // The editor, closed, and the settings sheet, cancelled.
    const struct {
        UINT command;
        const wchar_t *className, *title;
        const char *picture;
        void (*prepare)(HWND);
        UINT close;
        WPARAM closeParam;
    } windows[] = {
        {IDM_EDIT_DATA, L"tavoDataEditClass", language.editorTitle, "editor.bmp", ShowRegisteredEntry, WM_CLOSE, 0},
        {IDM_SETTINGS, L"#32770", language.sheetTitle, "settings-sheet.bmp", nullptr, PSM_PRESSBUTTON, PSBTN_CANCEL},
    };
    for (const auto &w : windows) {
        PostMessageW(run.tavo.mainWindow, WM_COMMAND, w.command, 0);
        HWND window = nullptr;
        CHECK(WaitUntil([&] { return (window = FindVisibleProcessWindow(pid, w.className, w.title)) != nullptr; }, 5000));
        if (!window)
            continue;
        if (english && w.prepare)
            w.prepare(window);
        PumpFor(300);
        if (english)
            SaveWindowPicture(window, pictures + w.picture);
        PostMessageW(window, w.close, w.closeParam, 0);
        CHECK(WaitUntil([&] { return !IsWindow(window); }, 5000));
    }

    std::vector<PasteRecord> saved = run.Stop();
    REQUIRE(saved.size() == 1);
    CHECK(saved[0] == language.firstEntry);
    if (english)
        printf("language e2e: pictures of the English windows in %ls\n", run.dir.c_str());
}
