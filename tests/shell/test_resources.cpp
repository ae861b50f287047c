// The program's tray menu, icon and file properties as linked into the executable.
#include <doctest/doctest.h>
#include <cstdio>
#include <set>
#include <string>
#include <vector>
#include "res/resource.h"
#include "shell/shell.h"

// Fixed numbers of the icon, the tray menu and its commands.
static_assert(IDI_APP == 101 && IDM_TRAY == 104, "resource ids");
static_assert(IDM_EXIT == 40001 && IDM_ABOUT == 40002 && IDM_STARTUP == 40003 && IDM_CLEAR_HISTORY == 40004 &&
                  IDM_SETTINGS == 40005 && IDM_EDIT_DATA == 40006,
              "command ids");

namespace {

HINSTANCE Resources()
{
    return GetModuleHandleW(nullptr);
}

struct MenuLine {
    UINT id;          // 0 for a separator
    const wchar_t *text;
};

std::wstring MenuItemText(HMENU menu, UINT position)
{
    WCHAR text[128] = {};
    MENUITEMINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STRING;
    info.dwTypeData = text;
    info.cch = 128;
    GetMenuItemInfoW(menu, position, TRUE, &info);
    return text;
}

// The string value of a version block, or empty.
std::wstring VersionString(std::vector<BYTE> &block, const wchar_t *language, const wchar_t *name)
{
    std::wstring query = std::wstring(L"\\StringFileInfo\\") + language + L"\\" + name;
    void *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || !value)
        return L"";
    return (const wchar_t *)value;
}

}  // namespace

TEST_CASE("tray menu 104 holds the six commands and three separators in order, each with an access key of its own")
{
    static const MenuLine expected[] = {
        {IDM_CLEAR_HISTORY, L"コピー履歴消去(&C)"},
        {IDM_EDIT_DATA, L"データ編集(&E)"},
        {0, nullptr},
        {IDM_STARTUP, L"スタートアップ登録(&S)"},
        {IDM_SETTINGS, L"設定(&T)"},
        {0, nullptr},
        {IDM_ABOUT, L"バージョン情報(&A)"},
        {0, nullptr},
        {IDM_EXIT, L"終了(&X)"},
    };
    HMENU menu = LoadMenuW(Resources(), MAKEINTRESOURCEW(IDM_TRAY));
    REQUIRE(menu != nullptr);
    CHECK(GetMenuItemCount(menu) == 1);
    HMENU popup = GetSubMenu(menu, 0);
    REQUIRE(popup != nullptr);
    REQUIRE(GetMenuItemCount(popup) == (int)(sizeof(expected) / sizeof(expected[0])));
    std::set<wchar_t> keys;
    for (UINT i = 0; i < sizeof(expected) / sizeof(expected[0]); i++) {
        CAPTURE(i);
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_SUBMENU;
        REQUIRE(GetMenuItemInfoW(popup, i, TRUE, &info));
        CHECK(info.hSubMenu == nullptr);
        if (expected[i].id == 0) {
            CHECK((info.fType & MFT_SEPARATOR) != 0);
            continue;
        }
        CHECK((info.fType & MFT_SEPARATOR) == 0);
        CHECK(info.wID == expected[i].id);
        CHECK(info.fState == MFS_ENABLED);
        std::wstring text = MenuItemText(popup, i);
        CHECK(text == expected[i].text);
        size_t amp = text.find(L'&');
        REQUIRE(amp + 1 < text.size());
        CHECK(keys.insert(text[amp + 1]).second);
    }
    DestroyMenu(menu);
}

TEST_CASE("icon 101 comes in 32 x 32 and 16 x 16 with a mask")
{
    for (int size : {32, 16}) {
        CAPTURE(size);
        HICON icon = (HICON)LoadImageW(Resources(), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, size, size, 0);
        REQUIRE(icon != nullptr);
        ICONINFO info = {};
        REQUIRE(GetIconInfo(icon, &info));
        BITMAP colour = {};
        REQUIRE(info.hbmColor != nullptr);
        GetObjectW(info.hbmColor, sizeof(colour), &colour);
        CHECK(colour.bmWidth == size);
        CHECK(colour.bmHeight == size);
        CHECK(info.hbmMask != nullptr);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

TEST_CASE("version resource: the build's version in both forms, product tavo, Japanese and neutral blocks")
{
    HRSRC found = FindResourceW(Resources(), MAKEINTRESOURCEW(VS_VERSION_INFO), (LPCWSTR)RT_VERSION);
    REQUIRE(found != nullptr);
    DWORD size = SizeofResource(Resources(), found);
    const BYTE *data = (const BYTE *)LockResource(LoadResource(Resources(), found));
    REQUIRE(data != nullptr);
    // VerQueryValueW wants a writable copy with room behind it, as GetFileVersionInfoW gives.
    std::vector<BYTE> block(data, data + size);
    block.resize(size * 2);

    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    REQUIRE(VerQueryValueW(block.data(), L"\\", (void **)&fixed, &length));
    REQUIRE(fixed != nullptr);
    CHECK(fixed->dwSignature == VS_FFI_SIGNATURE);
    // "MAJOR.MINOR" is the file version MAJOR,0,MINOR,0.
    int major = 0, minor = 0;
    REQUIRE(sscanf(TAVO_VERSION_TEXT, "%d.%d", &major, &minor) == 2);
    CHECK(fixed->dwFileVersionMS == MAKELONG(0, major));
    CHECK(fixed->dwFileVersionLS == MAKELONG(0, minor));
    CHECK(fixed->dwProductVersionMS == fixed->dwFileVersionMS);
    CHECK(fixed->dwProductVersionLS == fixed->dwFileVersionLS);
    CHECK(fixed->dwFileType == VFT_APP);

    WORD *translations = nullptr;
    REQUIRE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", (void **)&translations, &length));
    REQUIRE(length == 8);
    CHECK(translations[0] == 0x0411);
    CHECK(translations[1] == 1200);
    CHECK(translations[2] == 0x0000);
    CHECK(translations[3] == 1200);

    for (const wchar_t *language : {L"041104B0", L"000004B0"}) {
        CAPTURE(std::string(language, language + 8));
        CHECK(VersionString(block, language, L"ProductName") == L"tavo");
        CHECK(VersionString(block, language, L"FileVersion") == TAVO_VERSION_WTEXT);
        CHECK(VersionString(block, language, L"ProductVersion") == TAVO_VERSION_WTEXT);
        CHECK(VersionString(block, language, L"OriginalFilename") == L"tavo.exe");
        CHECK(!VersionString(block, language, L"FileDescription").empty());
    }
    CHECK(VersionString(block, L"041104B0", L"FileDescription").find(L"コピー履歴") != std::wstring::npos);
}

TEST_CASE("AppTitle names the version of the file properties and fits the tray tooltip")
{
    CHECK(std::wstring(AppTitle) == std::wstring(L"tavo ver ") + TAVO_VERSION_WTEXT);
    CHECK(lstrlenW(AppTitle) <= 63);
}

TEST_CASE("the manifest asks to run as the user who starts the program")
{
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_MANIFEST);
    REQUIRE(found != nullptr);
    HGLOBAL loaded = LoadResource(nullptr, found);
    std::string manifest((const char *)LockResource(loaded), SizeofResource(nullptr, found));
    CHECK(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>") != std::string::npos);
}
