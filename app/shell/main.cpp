// The entry point: one running copy, settings, window classes, the hidden g_mainWindow, the loop.
#include "shell/shell.h"
#include <commctrl.h>
#include "editor/editor.h"
#include "lang/ui_language.h"
#include "res/resource.h"
#include "state/app_rules.h"
#include "state/data_files.h"
#include "state/ini_data.h"

static int RunMessageLoop()
{
    MSG msg = {};
    for (;;) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1)
            break;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return (int)msg.wParam;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // The command line is not read: the start-up shortcut's "/s" changes nothing.
    ChooseUiLanguage();
    g_instanceMutex = CreateMutexW(nullptr, FALSE, L"tavoClass");
    if (g_instanceMutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        WCHAR text[64];
        LoadUiText(IDS_ALREADY_RUNNING, text, 64);
        MessageBoxW(nullptr, text, APP_CAPTION, MB_ICONWARNING);
        return 0;
    }
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_HOTKEY_CLASS};
    InitCommonControlsEx(&controls);
    // Unreadable settings run on the defaults too; the main window tells the user, and the file
    // is kept (see LoadIniData).
    if (LoadIniData(&g_ini) != DATA_FILE_LOADED)
        SetDefaultIniData(&g_ini);
    // No rules or an unreadable or newer file: the defaults (told once the main window runs).
    LoadAppRules(&g_appRules);
    g_appInstance = instance;
    if (!RegisterMainWindowClass(instance) || !CreateMainWindow(instance))
        return 0;
    ShowWindow(g_mainWindow, SW_HIDE);
    if (!RegisterEditorClasses(instance))
        return 0;
    return RunMessageLoop();
}
