// The editor's resources as the program links them: menu 105, the toolbar's tooltips, the
// toolbar strip, the tree icons and the drag cursors.
#include <doctest/doctest.h>
#include <set>
#include "editor_test_util.h"
#include "res/resource.h"

// Fixed numbers of the resources and commands.
static_assert(IDI_ENTRY == 102 && IDI_FOLDER == 103 && IDM_EDITOR == 105 && IDB_TOOLBAR == 106 &&
                  IDC_DRAG_NODROP == 109 && IDC_DRAG_MOVE == 110 && IDC_DRAG_COPY == 111,
              "resource ids");
static_assert(IDM_EDITOR_CLOSE == 40007 && IDT_CUT == 40008 && IDT_COPY == 40009 && IDT_PASTE == 40010 &&
                  IDT_DELETE == 40011 && IDT_ADD == 40012 && IDM_EDITOR_CUT == 40013 && IDM_EDITOR_COPY == 40014 &&
                  IDM_EDITOR_PASTE == 40015 && IDM_EDITOR_DELETE == 40016 && IDM_EDITOR_ADD == 40017 &&
                  IDT_DOWN == 40018 && IDT_UP == 40019 && IDM_EDITOR_UP == 40020 && IDM_EDITOR_DOWN == 40021,
              "command ids");

static HINSTANCE Resources()
{
    return GetModuleHandleW(nullptr);
}

static std::wstring MenuText(HMENU menu, UINT item, UINT flags)
{
    WCHAR text[64] = {};
    GetMenuStringW(menu, item, text, 64, flags);
    return text;
}

static std::wstring StringResource(UINT id)
{
    WCHAR text[64] = {};
    LoadStringW(Resources(), id, text, 64);
    return text;
}

// "切り取り(&X)" names the action "切り取り" with the access key X.
static std::wstring Words(const std::wstring &menuText)
{
    return menuText.substr(0, menuText.find(L"(&"));
}

struct MenuLine {
    const char *text;  // null for a separator
    UINT command;
};

// The popup's lines in order; every item has an access key of its own within the popup.
static void CheckPopup(HMENU popup, const std::vector<MenuLine> &lines)
{
    REQUIRE(popup);
    REQUIRE(GetMenuItemCount(popup) == (int)lines.size());
    std::set<WCHAR> keys;
    for (int i = 0; i < (int)lines.size(); i++) {
        CAPTURE(i);
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU;
        REQUIRE(GetMenuItemInfoW(popup, i, TRUE, &info));
        CHECK(info.hSubMenu == nullptr);
        if (!lines[i].text) {
            CHECK((info.fType & MFT_SEPARATOR) != 0);
            continue;
        }
        std::wstring text = MenuText(popup, i, MF_BYPOSITION);
        CHECK(U8(text) == lines[i].text);
        CHECK(info.wID == lines[i].command);
        size_t amp = text.find(L'&');
        REQUIRE(amp + 1 < text.size());
        CHECK(keys.insert(text[amp + 1]).second);
    }
}

TEST_CASE("menu 105: File and Edit with their texts, commands and access keys")
{
    HMENU menu = LoadMenuW(Resources(), MAKEINTRESOURCEW(IDM_EDITOR));
    REQUIRE(menu);
    REQUIRE(GetMenuItemCount(menu) == 2);
    CHECK(U8(MenuText(menu, 0, MF_BYPOSITION)) == "ファイル(&F)");
    CHECK(U8(MenuText(menu, 1, MF_BYPOSITION)) == "編集(&E)");
    CheckPopup(GetSubMenu(menu, 0), {{"追加(&A)", IDM_EDITOR_ADD}, {nullptr, 0}, {"閉じる(&X)", IDM_EDITOR_CLOSE}});
    CheckPopup(GetSubMenu(menu, 1), {{"切り取り(&X)", IDM_EDITOR_CUT},
                                     {"コピー(&C)", IDM_EDITOR_COPY},
                                     {"貼り付け(&V)", IDM_EDITOR_PASTE},
                                     {"削除(&D)", IDM_EDITOR_DELETE},
                                     {nullptr, 0},
                                     {"上へ(&U)", IDM_EDITOR_UP},
                                     {"下へ(&S)", IDM_EDITOR_DOWN}});
    DestroyMenu(menu);
}

TEST_CASE("each toolbar button's tooltip names the action of its menu command, in the menu's words")
{
    HMENU menu = LoadMenuW(Resources(), MAKEINTRESOURCEW(IDM_EDITOR));
    REQUIRE(menu);
    const UINT pairs[][2] = {{IDT_ADD, IDM_EDITOR_ADD},       {IDT_CUT, IDM_EDITOR_CUT}, {IDT_COPY, IDM_EDITOR_COPY},
                             {IDT_PASTE, IDM_EDITOR_PASTE},   {IDT_DELETE, IDM_EDITOR_DELETE},
                             {IDT_UP, IDM_EDITOR_UP},         {IDT_DOWN, IDM_EDITOR_DOWN}};
    for (const auto &pair : pairs) {
        CAPTURE(pair[0]);
        std::wstring words = Words(MenuText(menu, pair[1], MF_BYCOMMAND));
        REQUIRE(!words.empty());
        CHECK(StringResource(pair[0]) == words);
        // The menu commands that carry a string carry the same words.
        std::wstring twin = StringResource(pair[1]);
        CHECK((twin.empty() || twin == words));
    }
    // Every number from the first toolbar command to the last has its string.
    for (UINT id = IDT_CUT; id <= IDT_UP; id++) {
        CAPTURE(id);
        CHECK(!StringResource(id).empty());
    }
    DestroyMenu(menu);
}

// The pixels of one square of a bitmap selected into dc, for telling pictures apart.
static std::vector<COLORREF> PixelsOf(HDC dc, int left, int width, int height)
{
    std::vector<COLORREF> pixels;
    for (int y = 0; y < height; y++)
        for (int x = left; x < left + width; x++)
            pixels.push_back(GetPixel(dc, x, y));
    return pixels;
}

TEST_CASE("the toolbar strip: seven different 30 x 16 pictures in 16 colours, each on the button face's silver")
{
    HBITMAP strip =
        (HBITMAP)LoadImageW(Resources(), MAKEINTRESOURCEW(IDB_TOOLBAR), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    REQUIRE(strip);
    DIBSECTION dib = {};
    REQUIRE(GetObjectW(strip, sizeof(dib), &dib) == sizeof(dib));
    const int width = 30, height = 16, images = 7;  // the image size the toolbar is made with
    CHECK(dib.dsBm.bmWidth == images * width);
    CHECK(dib.dsBm.bmHeight == height);
    CHECK(dib.dsBmih.biBitCount == 4);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, strip);
    std::set<std::vector<COLORREF>> pictures;
    for (int image = 0; image < images; image++) {
        CAPTURE(image);
        // Silver at the corner: the toolbar maps it to the button face.
        CHECK(GetPixel(dc, image * width, 0) == RGB(192, 192, 192));
        CHECK(pictures.insert(PixelsOf(dc, image * width, width, height)).second);
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(strip);
}

// The mask and colour bits of an icon or cursor as one picture; frees the bitmaps.
static std::vector<COLORREF> PictureOf(HICON icon, ICONINFO *info, int size)
{
    REQUIRE(GetIconInfo(icon, info));
    std::vector<COLORREF> pixels;
    HDC dc = CreateCompatibleDC(nullptr);
    for (HBITMAP bitmap : {info->hbmMask, info->hbmColor}) {
        if (!bitmap)
            continue;
        BITMAP bm = {};
        GetObjectW(bitmap, sizeof(bm), &bm);
        CHECK(bm.bmWidth == size);
        HGDIOBJ old = SelectObject(dc, bitmap);
        std::vector<COLORREF> part = PixelsOf(dc, 0, size, size);
        pixels.insert(pixels.end(), part.begin(), part.end());
        SelectObject(dc, old);
        DeleteObject(bitmap);
    }
    DeleteDC(dc);
    return pixels;
}

TEST_CASE("the tree icons tell entries from groups, and the three drag cursors differ, each pointing with its tip")
{
    std::set<std::vector<COLORREF>> icons, cursors;
    for (int id : {IDI_ENTRY, IDI_FOLDER}) {
        CAPTURE(id);
        HICON icon = (HICON)LoadImageW(Resources(), MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, 0);
        REQUIRE(icon);
        ICONINFO info = {};
        CHECK(icons.insert(PictureOf(icon, &info, 16)).second);
        DestroyIcon(icon);
    }
    for (int id : {IDC_DRAG_NODROP, IDC_DRAG_MOVE, IDC_DRAG_COPY}) {
        CAPTURE(id);
        HCURSOR cursor = (HCURSOR)LoadImageW(Resources(), MAKEINTRESOURCEW(id), IMAGE_CURSOR, 32, 32, 0);
        REQUIRE(cursor);
        ICONINFO info = {};
        CHECK(cursors.insert(PictureOf(cursor, &info, 32)).second);
        CHECK(!info.fIcon);
        CHECK(info.xHotspot == 0);  // the arrow's tip
        CHECK(info.yHotspot == 0);
        DestroyCursor(cursor);
    }
}
