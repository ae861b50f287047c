// The start-up registration against the prefix's real Startup folder and shell-link object.
#include <doctest/doctest.h>
#include "shell/shell.h"
#include "shell_checks.h"

namespace {

std::wstring ShortcutPath()
{
    WCHAR path[MAX_PATH];
    REQUIRE(StartupShortcutPath(path));
    return path;
}

std::wstring OwnExePath()
{
    WCHAR path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

}  // namespace

TEST_CASE("the shortcut path is tavo.lnk in the Startup folder, which is created when missing")
{
    WCHAR folder[MAX_PATH];
    REQUIRE(SHGetSpecialFolderPathW(nullptr, folder, CSIDL_STARTUP, FALSE));
    std::wstring link = std::wstring(folder) + L"\\tavo.lnk";
    DeleteFileW(link.c_str());
    // An empty Startup folder can go; one holding other entries is left alone.
    bool removed = RemoveDirectoryW(folder) != FALSE;
    if (removed)
        CHECK(GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES);
    CHECK(ShortcutPath() == link);
    CHECK((GetFileAttributesW(folder) & FILE_ATTRIBUTE_DIRECTORY) != 0);
    CHECK(GetFileAttributesW(folder) != INVALID_FILE_ATTRIBUTES);
}

TEST_CASE("FileExists finds files and folders and nothing else")
{
    std::wstring dir = MakeScratchDir(L"file_exists");
    CHECK(FileExists((dir + L".").c_str()) == TRUE);
    CHECK(FileExists((dir + L"missing.txt").c_str()) == FALSE);
    REQUIRE(WriteFileBytes(dir + L"there.txt", Bytes{1, 2, 3}));
    CHECK(FileExists((dir + L"there.txt").c_str()) == TRUE);
    CHECK(FileExists(L"") == FALSE);
}

TEST_CASE("the command creates the shortcut with its properties and deletes it the second time")
{
    std::wstring link = ShortcutPath();
    DeleteFileW(link.c_str());
    REQUIRE(!FileExists(link.c_str()));

    ToggleStartupShortcut();
    REQUIRE(FileExists(link.c_str()));
    ShortcutProperties properties = ReadShortcut(link);
    REQUIRE(properties.loaded);
    CHECK(SamePath(properties.path, OwnExePath()));
    CHECK(properties.description == AppTitle);
    CHECK(properties.arguments == L"/s");
    CHECK(properties.workingDirectory == L"");
    CHECK(properties.iconPath == L"");
    CHECK(properties.iconIndex == 0);
    CHECK(properties.showCmd == SW_SHOWNORMAL);
    CHECK(properties.hotkey == 0);

    ToggleStartupShortcut();
    CHECK(!FileExists(link.c_str()));
}

TEST_CASE("a tavo.lnk put there by something else counts as the registration and is deleted")
{
    std::wstring link = ShortcutPath();
    REQUIRE(WriteFileBytes(link, Bytes{'n', 'o', 't', ' ', 'a', ' ', 'l', 'i', 'n', 'k'}));
    HMENU menu = LoadMenuW(g_appInstance, MAKEINTRESOURCEW(104));
    REQUIRE(menu != nullptr);
    HMENU popup = GetSubMenu(menu, 0);
    UpdateTrayMenuStates(popup);
    CHECK((GetMenuState(popup, 40003, MF_BYCOMMAND) & MF_CHECKED) != 0);

    ToggleStartupShortcut();
    CHECK(!FileExists(link.c_str()));
    UpdateTrayMenuStates(popup);
    CHECK((GetMenuState(popup, 40003, MF_BYCOMMAND) & MF_CHECKED) == 0);
    DestroyMenu(menu);
}

TEST_CASE("the command leaves COM as it found it on a thread of another apartment model")
{
    std::wstring link = ShortcutPath();
    DeleteFileW(link.c_str());
    REQUIRE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    ToggleStartupShortcut();
    CHECK(FileExists(link.c_str()));
    // Its own CoInitialize failed here (other model), so it must not have uninitialised ours:
    // a further initialisation still finds COM running and answers S_FALSE.
    HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CHECK(again == S_FALSE);
    if (SUCCEEDED(again))
        CoUninitialize();
    CoUninitialize();
    ToggleStartupShortcut();
    CHECK(!FileExists(link.c_str()));
}
