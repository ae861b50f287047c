// The editor's resources as the program links them: menu 105, the tooltip strings, the
// toolbar strip, the tree icons and the drag cursors.
#include <doctest/doctest.h>
#include "editor_test_util.h"
#include "res/resource.h"
#include "shell/shell.h"

struct MenuLine {
    const char *text;  // null for a separator
    UINT command;
};

static void CheckPopup(HMENU popup, const MenuLine *lines, int count)
{
    REQUIRE(popup);
    CHECK(GetMenuItemCount(popup) == count);
    for (int i = 0; i < count; i++) {
        WCHAR text[64] = {};
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = 64;
        REQUIRE(GetMenuItemInfoW(popup, i, TRUE, &info));
        if (!lines[i].text) {
            CHECK_MESSAGE((info.fType & MFT_SEPARATOR) != 0, "item ", i);
            continue;
        }
        CHECK(U8(text) == lines[i].text);
        CHECK(info.wID == lines[i].command);
    }
}

TEST_CASE("menu 105 has the File and Edit popups with their texts and commands")
{
    HMENU menu = LoadMenuW(AppInstance, MAKEINTRESOURCEW(105));
    REQUIRE(menu);
    REQUIRE(GetMenuItemCount(menu) == 2);
    WCHAR text[64] = {};
    GetMenuStringW(menu, 0, text, 64, MF_BYPOSITION);
    CHECK(U8(text) == "ファイル(&F)");
    GetMenuStringW(menu, 1, text, 64, MF_BYPOSITION);
    CHECK(U8(text) == "編集(&E)");
    const MenuLine file[] = {{"追加(&A)", 40017}, {nullptr, 0}, {"閉じる(&X)", 40007}};
    CheckPopup(GetSubMenu(menu, 0), file, 3);
    const MenuLine edit[] = {{"切り取り(&X)", 40013}, {"コピー(&C)", 40014}, {"貼り付け(&V)", 40015},
                             {"削除(&D)", 40016},     {nullptr, 0},          {"上へ(&U)", 40020},
                             {"下へ(&S)", 40021}};
    CheckPopup(GetSubMenu(menu, 1), edit, 7);
    DestroyMenu(menu);
}

TEST_CASE("the tooltip strings are numbered like the toolbar commands")
{
    const struct {
        UINT id;
        const char *text;
    } strings[] = {{40008, "切り取り"}, {40009, "コピー"}, {40010, "貼り付け"}, {40011, "削除"},
                   {40012, "追加"},     {40018, "下へ"},   {40019, "上へ"}};
    for (const auto &s : strings) {
        WCHAR text[64] = {};
        CHECK_MESSAGE(LoadStringW(AppInstance, s.id, text, 64) > 0, "string ", s.id);
        CHECK(U8(text) == s.text);
    }
}

TEST_CASE("the toolbar strip, the tree icons and the drag cursors load with their sizes")
{
    HBITMAP strip = (HBITMAP)LoadImageW(AppInstance, MAKEINTRESOURCEW(106), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    REQUIRE(strip);
    DIBSECTION dib = {};
    REQUIRE(GetObjectW(strip, sizeof(dib), &dib) == sizeof(dib));
    CHECK(dib.dsBm.bmWidth == 210);
    CHECK(dib.dsBm.bmHeight == 16);
    CHECK(dib.dsBmih.biBitCount == 4);
    // Silver at the corner of every image: the toolbar maps it to the button face.
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, strip);
    for (int image = 0; image < 7; image++)
        CHECK_MESSAGE(GetPixel(dc, image * 30, 0) == RGB(192, 192, 192), "image ", image);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(strip);

    for (int id : {102, 103}) {
        HICON icon = (HICON)LoadImageW(AppInstance, MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, 0);
        REQUIRE_MESSAGE(icon, "icon ", id);
        ICONINFO info = {};
        REQUIRE(GetIconInfo(icon, &info));
        BITMAP bm = {};
        GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bm), &bm);
        CHECK(bm.bmWidth == 16);
        if (info.hbmColor)
            DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
    for (int id : {109, 110, 111}) {
        HCURSOR cursor = (HCURSOR)LoadImageW(AppInstance, MAKEINTRESOURCEW(id), IMAGE_CURSOR, 32, 32, 0);
        REQUIRE_MESSAGE(cursor, "cursor ", id);
        ICONINFO info = {};
        REQUIRE(GetIconInfo(cursor, &info));
        CHECK(!info.fIcon);
        CHECK(info.xHotspot == 0);  // the arrow's tip
        CHECK(info.yHotspot == 0);
        if (info.hbmColor)
            DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyCursor(cursor);
    }
}
