// g_mainWindow: the hidden hub of the program. It is the target of the keyboard hook, a clipboard
// viewer, the owner of the tray icon and its menu, the window of the menu hotkey and of two timers;
// its procedure only routes each message to the handler that owns it. On close it saves the state
// and takes everything down again in a fixed order.
#include "shell/shell.h"
#include <commctrl.h>
#include <shellapi.h>
#include "editor/editor.h"
#include "lang/ui_language.h"
#include "recall/recall.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "recall/app_decide.h"
#include "state/app_rules.h"
#include "state/data_files.h"
#include "state/ini_data.h"
#include "state/item_store.h"
#include "tavohook.h"


HINSTANCE g_appInstance;                      // module of the resources and windows; set by the entry point
HWND g_mainWindow;                            // set when creation returns; null while WM_CREATE runs
const WCHAR AppTitle[] = L"tavo ver " TAVO_VERSION_WTEXT;  // caption, tray tooltip, About text, shortcut description
HANDLE g_instanceMutex;                       // "tavoClass"; held until the process ends
NOTIFYICONDATAW g_trayIconData;               // filled at creation; adds and later deletes the icon

// An exit shows message boxes whose modal loops dispatch further messages; a second WM_CLOSE
// arriving there must not start a second exit, and nothing runs after the window is taken down.
static BOOL g_shutdownRunning;
static BOOL g_endingForLogoff;  // logoff or shutdown is being handled (its warning may be open)
static BOOL g_takenDown;
// Registered by the shell; sent to every top-level window when the taskbar is created again.
static UINT g_taskbarCreatedMessage;

static const WCHAR MainClassName[] = L"tavoClass";

typedef HRESULT(WINAPI *LoadIconMetricFunction)(HINSTANCE, PCWSTR, int, HICON *);

// The notification area's own size at the display scale: LoadIconMetric picks the drawn size (or
// scales one down) where the common controls have it, else the small-icon metric. Loaded once:
// the icon lives as long as the program.
static HICON LoadTrayIcon()
{
    static HICON icon;
    if (icon)
        return icon;
    HMODULE controls = GetModuleHandleW(L"comctl32.dll");
    LoadIconMetricFunction loadIconMetric =
        controls ? (LoadIconMetricFunction)(void *)GetProcAddress(controls, "LoadIconMetric") : nullptr;
    if (!loadIconMetric || FAILED(loadIconMetric(g_appInstance, MAKEINTRESOURCEW(IDI_APP), 0 /* LIM_SMALL */, &icon)))
        icon = (HICON)LoadImageW(g_appInstance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                 GetSystemMetrics(SM_CYSMICON), 0);
    return icon;
}

void FillTrayIconData(NOTIFYICONDATAW *data, HWND window)
{
    ZeroMemory(data, sizeof(*data));
    data->cbSize = NOTIFYICONDATAW_V1_SIZE;  // 152 on x86, 168 on x64: the layout whose tooltip holds 64 units
    data->hWnd = window;
    data->uID = TRAY_ICON_ID;
    data->uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data->uCallbackMessage = WM_TRAYICON;
    data->hIcon = LoadTrayIcon();
    lstrcpynW(data->szTip, AppTitle, 64);
}

// A balloon of the tray icon with one of the program's texts; FALSE for no text.
static BOOL FillTrayBalloon(NOTIFYICONDATAW *data, HWND window, UINT textId)
{
    ZeroMemory(data, sizeof(*data));
    if (textId == 0)
        return FALSE;
    data->cbSize = NOTIFYICONDATAW_V2_SIZE;  // the first layout with a balloon
    data->hWnd = window;
    data->uID = TRAY_ICON_ID;
    data->uFlags = NIF_INFO;
    data->dwInfoFlags = NIIF_WARNING;
    lstrcpynW(data->szInfoTitle, APP_CAPTION, ARRAYSIZE(data->szInfoTitle));
    return LoadUiText(textId, data->szInfo, ARRAYSIZE(data->szInfo)) > 0;
}

BOOL FillPasteStoppedBalloon(NOTIFYICONDATAW *data, HWND window, int reason)
{
    UINT textId = reason == PASTE_STOP_WINDOW    ? IDS_PASTE_STOPPED_WINDOW
                  : reason == PASTE_STOP_CAPTION ? IDS_PASTE_STOPPED_CAPTION
                  : reason == PASTE_STOP_KEYS_HELD ? IDS_PASTE_STOPPED_KEYS
                                                   : 0;
    return FillTrayBalloon(data, window, textId);
}

// The balloon goes through a record of its own, so that an icon added again (TaskbarCreated)
// does not show it a second time.
static void ShowTrayBalloon(NOTIFYICONDATAW *balloon)
{
    if (!g_takenDown)
        Shell_NotifyIconW(NIM_MODIFY, balloon);
}

// A registered paste stopped early: the tray icon says so.
static void OnPasteStopped(HWND window, WPARAM reason)
{
    NOTIFYICONDATAW balloon;
    if (FillPasteStoppedBalloon(&balloon, window, (int)reason))
        ShowTrayBalloon(&balloon);
}

static HICON LoadClassIcon(HINSTANCE instance)
{
    return (HICON)LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED);
}

static HCURSOR LoadSystemCursor(LPCWSTR cursor)
{
    return (HCURSOR)LoadImageW(nullptr, cursor, IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE | LR_SHARED);
}

static BOOL RegisterClassOf(HINSTANCE instance, const WCHAR *name, WNDPROC procedure, HICON icon, HCURSOR cursor,
                            int brushColour, const WCHAR *menu)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = icon;
    windowClass.hCursor = cursor;
    windowClass.hbrBackground = (HBRUSH)(INT_PTR)(brushColour + 1);
    windowClass.lpszMenuName = menu;
    windowClass.lpszClassName = name;
    return RegisterClassExW(&windowClass) != 0;
}

BOOL RegisterMainWindowClass(HINSTANCE instance)
{
    return RegisterClassOf(instance, MainClassName, MainWindowProc, LoadClassIcon(instance), LoadSystemCursor(IDC_ARROW),
                           COLOR_WINDOW, nullptr);
}

HWND CreateMainWindow(HINSTANCE instance)
{
    g_mainWindow = CreateWindowExW(WS_EX_TOOLWINDOW, MainClassName, AppTitle, WS_OVERLAPPEDWINDOW, -50, -50, 0, 0,
                                 nullptr, nullptr, instance, nullptr);
    return g_mainWindow;
}

static void WarnBox(HWND owner, const WCHAR *text)
{
    MessageBoxW(owner, text, APP_CAPTION, MB_ICONWARNING);
}

// The registered entry of a first start, in the interface language: a name and the two fields it
// fills, so that the user sees how an entry types several lines.
static void InsertDefaultEntry()
{
    WCHAR name[64], text[128];
    LoadUiText(IDS_DEFAULT_ENTRY_NAME, name, ARRAYSIZE(name));
    LoadUiText(IDS_DEFAULT_ENTRY_TEXT, text, ARRAYSIZE(text));
    ItemStore::Insert(Registered, name, text);
}

// A warning whose text is in the string table.
static void WarnBoxOf(HWND owner, UINT textId)
{
    WCHAR text[256];
    LoadUiText(textId, text, 256);
    WarnBox(owner, text);
}

static HWINEVENTHOOK g_foregroundHook;  // tells the hub of each new foreground window
static HWINEVENTHOOK g_focusHook;       // ...and of each focus change, for systems that raise no foreground event
static HWND g_lastForeground;           // the foreground window the hotkey was last decided for
static BOOL g_hotkeyGivenUp;            // the hotkey is let go for the application in front

BOOL MenuHotkeyHeldOver(HWND foreground)
{
    return MenuHotkeyWanted(&g_ini) && !RuleRefusesMenuOver(foreground);
}

BOOL RegisterMenuHotkey(HWND window)
{
    UnregisterHotKey(window, HOTKEY_MENU);
    g_hotkeyGivenUp = FALSE;
    // Outside hotkey mode the key is kept for later but held from no other program.
    if (!MenuHotkeyWanted(&g_ini))
        return TRUE;
    // A registered hotkey is swallowed system-wide: the application in front would never see it.
    if (!MenuHotkeyHeldOver(GetForegroundWindow())) {
        g_hotkeyGivenUp = TRUE;
        return TRUE;
    }
    if (RegisterHotKey(window, HOTKEY_MENU, (UINT)g_ini.hotkeyMods, (UINT)g_ini.hotkeyVk))
        return TRUE;
    WarnBoxOf(window, IDS_HOTKEY_FAILED);
    return FALSE;
}

// The hotkey is given up and taken again as windows come to the front; taking it again fails
// without a box (another program may hold it meanwhile: the next foreground change tries again).
static void FollowForeground()
{
    // A focus move inside the same window, or a key in it, costs this one comparison.
    HWND foreground = GetForegroundWindow();
    if (foreground == g_lastForeground)
        return;
    g_lastForeground = foreground;
    if (!g_mainWindow || !MenuHotkeyWanted(&g_ini))
        return;
    BOOL hold = MenuHotkeyHeldOver(foreground);
    if (!hold && !g_hotkeyGivenUp) {
        UnregisterHotKey(g_mainWindow, HOTKEY_MENU);
        g_hotkeyGivenUp = TRUE;
    } else if (hold && g_hotkeyGivenUp) {
        g_hotkeyGivenUp = !RegisterHotKey(g_mainWindow, HOTKEY_MENU, (UINT)g_ini.hotkeyMods, (UINT)g_ini.hotkeyVk);
    }
}

static void CALLBACK OnForegroundChanged(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD)
{
    FollowForeground();
}

void StartFollowingForeground(HWND)
{
    g_lastForeground = GetForegroundWindow();
    if (!g_foregroundHook)
        g_foregroundHook = SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr,
                                           OnForegroundChanged, 0, 0, WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
    // Wine raises no EVENT_SYSTEM_FOREGROUND and not every focus event: the modifier keys that the
    // hook forwards (the hotkey's own among them) look as well (WM_HOOKKEY).
    if (!g_focusHook)
        g_focusHook = SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_FOCUS, nullptr, OnForegroundChanged, 0, 0,
                                      WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
}

void StopFollowingForeground()
{
    if (g_foregroundHook)
        UnhookWinEvent(g_foregroundHook);
    if (g_focusHook)
        UnhookWinEvent(g_focusHook);
    g_foregroundHook = g_focusHook = nullptr;
}

void StoreSheetSettings(IniData *ini, const IniData *sheet)
{
    ini->pasteWaitMs = sheet->pasteWaitMs;
    ini->menuKeyMode = sheet->menuKeyMode;
    ini->hotkeyVk = sheet->hotkeyVk;
    ini->hotkeyMods = sheet->hotkeyMods;
    ini->menuItemChars = sheet->menuItemChars;
    ini->menuWrapCount = sheet->menuWrapCount;
    ini->historyMax = sheet->historyMax;
}

void OpenSettings(HWND window)
{
    IniData settings = g_ini;
    BOOL userForm = ItemsFileForm() == ITEMS_FORM_USER;
    AppRules *rules = (AppRules *)HeapAlloc(GetProcessHeap(), 0, sizeof(AppRules));
    if (!rules)
        return;
    *rules = g_appRules;
    if (ShowSettingsSheet(window, &settings, &userForm, rules)) {
        StoreSheetSettings(&g_ini, &settings);
        g_appRules = *rules;
        RegisterMenuHotkey(window);
        // Fewer entries a block may need more menus.
        MakeMenusWhenIdle(window);
        // Written at once, so that the new settings survive a crash; a failure is told, and the
        // save at exit tries again. A new form of paste.dat is written at once too: the file's own
        // form is the setting.
        int files = SAVE_INI | SAVE_RULES;
        if (userForm != (ItemsFileForm() == ITEMS_FORM_USER)) {
            SetItemsFileForm(userForm ? ITEMS_FORM_USER : ITEMS_FORM_SHARED);
            files |= SAVE_ITEMS;
        }
        SaveOrWarn(window, files);
    }
    HeapFree(GetProcessHeap(), 0, rules);
}

static LRESULT OnCreate(HWND window)
{
    g_shutdownRunning = FALSE;
    g_endingForLogoff = FALSE;
    g_takenDown = FALSE;
    g_taskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
    FillTrayIconData(&g_trayIconData, window);
    Shell_NotifyIconW(NIM_ADD, &g_trayIconData);
    // Only a missing file is a first start; an unreadable one is told below and never replaced
    // before a copy of it exists.
    int loaded = LoadItems();
    // A file protected for another user or PC is neither read nor written over: the user starts
    // without it or ends here, before anything could be saved.
    if (loaded == DATA_FILE_LOCKED && !StartWithoutLockedItems(window)) {
        Shell_NotifyIconW(NIM_DELETE, &g_trayIconData);
        return -1;
    }
    // What was loaded is on disk already; the default entry of a first start is not.
    StartIdleSave(window);
    if (loaded == DATA_FILE_NONE)
        InsertDefaultEntry();
    if (!tvSetHook(window, WM_HOOKKEY))
        WarnBoxOf(window, IDS_HOOK_FAILED);
    RegisterMenuHotkey(window);
    StartFollowingForeground(window);
    JoinViewerChain(window);
    MakeMenusWhenIdle(window);
    // Told once the window exists and runs, not from inside its creation.
    PostMessageW(window, WM_DATA_WARNINGS, 0, 0);
    return 0;
}

// After the files are saved: the tray icon, the hook, the viewer chain and the hotkey go, then the window.
static void TakeDownMainWindow(HWND window)
{
    if (g_takenDown)
        return;
    g_takenDown = TRUE;
    Shell_NotifyIconW(NIM_DELETE, &g_trayIconData);
    if (!tvUnHook())
        WarnBoxOf(window, IDS_UNHOOK_FAILED);
    LeaveViewerChain(window);
    StopFollowingForeground();
    UnregisterHotKey(window, HOTKEY_MENU);
    StopIdleSave(window);
    DestroyWindow(window);
}

// WM_CLOSE: the program ends once both files are saved. When a save fails the user may retry, end
// without saving (a folder that cannot be written to must not keep the program alive), or stay
// and keep everything in memory.
static LRESULT OnExitRequest(HWND window)
{
    if (g_shutdownRunning || g_takenDown)
        return 0;
    g_shutdownRunning = TRUE;
    PrepareEditorForSave();
    int choice = SaveBeforeExit(window);
    g_shutdownRunning = FALSE;
    // A logoff or shutdown may have taken the window down while the box was open.
    if (choice != EXIT_STAY)
        TakeDownMainWindow(window);
    return 0;
}

// Logoff or shutdown: both files are written before any box, since Windows may end the process
// as soon as this returns; a warning may follow. wParam FALSE means another program cancelled the
// end: the user works on, so everything stays as it was (the save of WM_QUERYENDSESSION is kept).
static LRESULT OnEndSession(HWND window, WPARAM ending)
{
    if (!ending)
        return 0;
    if (g_takenDown || g_endingForLogoff)
        return 0;
    g_endingForLogoff = TRUE;
    PrepareEditorForSave();
    int failed = SaveForSessionEnd();
    if (failed) {
        WCHAR text[512];
        SaveFailureText(failed, SAVE_AT_SESSION_END, text, 512);
        WarnBox(window, text);
    }
    TakeDownMainWindow(window);
    return 0;
}

// Saving already here leaves nothing for the short time after WM_ENDSESSION.
static LRESULT OnQueryEndSession()
{
    if (!g_takenDown) {
        PrepareEditorForSave();
        SaveDataFiles(SAVE_ALL);
    }
    return TRUE;
}

// A restarted shell has no icon of ours: without one there would be no way to exit and save.
static void OnTaskbarCreated()
{
    if (!g_takenDown)
        Shell_NotifyIconW(NIM_ADD, &g_trayIconData);
}

// What recall tells the user without a box (a text too long to be typed): a balloon of the tray
// icon. Any program may post the message, so it names one of recall's notices or nothing.
static LRESULT OnRecallNotice(HWND window, WPARAM textId)
{
    NOTIFYICONDATAW balloon;
    if (textId == IDS_TYPING_TOO_LONG && FillTrayBalloon(&balloon, window, (UINT)textId))
        ShowTrayBalloon(&balloon);
    return 0;
}

static LRESULT OnDestroy()
{
    PostQuitMessage(0);
    return 0;
}

static void SetMenuItemState(HMENU menu, MENUITEMINFOW *info, UINT command, UINT state)
{
    info->fState = state;
    SetMenuItemInfoW(menu, command, FALSE, info);
}

void UpdateTrayMenuStates(HMENU menu)
{
    WCHAR path[MAX_PATH];
    BOOL registered = StartupShortcutPath(path) && FileExists(path);
    MENUITEMINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STATE;
    SetMenuItemState(menu, &info, IDM_STARTUP, registered ? MFS_CHECKED : MFS_UNCHECKED);
    SetMenuItemState(menu, &info, IDM_CLEAR_HISTORY, ItemStore::CountKind(History) == 0 ? MFS_GRAYED : MFS_ENABLED);
}

static LRESULT OnInitMenuPopup(HMENU menu)
{
    // The popup menu of the recall also opens with this window as owner and fills its blocks as
    // they open; it runs with g_busyState set.
    if (OnPopupMenuOpening(menu))
        return 0;
    if (g_busyState == BUSY_NONE)
        UpdateTrayMenuStates(menu);
    return 0;
}

// Exit and the tray commands wait while the popup menu, a paste or the tray menu runs: run inside
// one of them, a shutdown would destroy the window it works for, and a command would act in the
// middle of it. An exit also ends the menu and stops the typing; the rest is done when it ends.
static BOOL g_trayMenuOpen;
static BOOL g_closeDeferred;
static UINT g_deferredCommands[8];
static int g_deferredCommandCount;

static BOOL MenuOrPasteRunning()
{
    return PopupOperationRunning() || g_trayMenuOpen;
}

// TRUE when the message was kept for later.
static BOOL DeferWhileMenuOrPaste(UINT message, WPARAM wParam)
{
    if (!MenuOrPasteRunning())
        return FALSE;
    if (message == WM_CLOSE || (message == WM_COMMAND && LOWORD(wParam) == IDM_EXIT)) {
        g_closeDeferred = TRUE;
        EndPopupOperation();
        if (g_trayMenuOpen)
            EndMenu();
        return TRUE;
    }
    UINT command = LOWORD(wParam);
    for (int k = 0; k < g_deferredCommandCount; k++)
        if (g_deferredCommands[k] == command)
            return TRUE;
    if (g_deferredCommandCount < (int)ARRAYSIZE(g_deferredCommands))
        g_deferredCommands[g_deferredCommandCount++] = command;
    return TRUE;  // beyond the room, refused
}

// Called where a menu or paste may just have ended; posts what waited, the exit alone if it was asked.
static void RunDeferredCommands(HWND window)
{
    if (MenuOrPasteRunning())
        return;
    if (g_closeDeferred)
        PostMessageW(window, WM_CLOSE, 0, 0);
    else
        for (int k = 0; k < g_deferredCommandCount; k++)
            PostMessageW(window, WM_COMMAND, g_deferredCommands[k], 0);
    g_closeDeferred = FALSE;
    g_deferredCommandCount = 0;
}

static void ShowTrayMenu()
{
    HMENU menu = LoadUiMenu(IDM_TRAY);
    if (!menu)
        return;
    HMENU popup = GetSubMenu(menu, 0);
    POINT cursor = {};
    GetCursorPos(&cursor);
    SetForegroundWindow(g_mainWindow);
    SetFocus(g_mainWindow);
    g_trayMenuOpen = TRUE;
    TrackPopupMenu(popup, TPM_RIGHTBUTTON | TPM_LEFTALIGN, cursor.x, cursor.y, 0, g_mainWindow, nullptr);
    g_trayMenuOpen = FALSE;
    DestroyMenu(menu);
    // Lets the menu close properly when the user clicks elsewhere (the menu's own loop needs a message).
    PostMessageW(g_mainWindow, WM_NULL, 0, 0);
}

static LRESULT OnTrayIcon(HWND window, WPARAM wParam, LPARAM lParam)
{
    // Clicks while a menu or paste runs do nothing: a tray menu would take the paste's keys.
    if (MenuOrPasteRunning())
        return 0;
    if (wParam == TRAY_ICON_ID && lParam == WM_RBUTTONUP) {
        ShowTrayMenu();
        RunDeferredCommands(window);
    }
    return 0;
}

static void ShowAboutBox()
{
    WCHAR caption[64];
    LoadUiText(IDS_ABOUT_CAPTION, caption, 64);
    MessageBoxW(g_mainWindow, AppTitle, caption, MB_ICONINFORMATION);
}

static LRESULT OnCommand(HWND window, WPARAM wParam)
{
    if (DeferWhileMenuOrPaste(WM_COMMAND, wParam))
        return 0;
    switch (LOWORD(wParam)) {
    case IDM_EXIT:
        SendMessageW(window, WM_CLOSE, 0, 0);
        break;
    case IDM_ABOUT:
        ShowAboutBox();
        break;
    case IDM_STARTUP:
        ToggleStartupShortcut();
        break;
    case IDM_CLEAR_HISTORY:
        ItemStore::EraseKind(History);
        break;
    case IDM_SETTINGS:
        OpenSettings(window);
        break;
    case IDM_EDIT_DATA:
        OpenEditorWindow(window);
        break;
    }
    return 0;
}

void OnEditorClosed(HWND window)
{
    SaveOrWarn(window, SAVE_INI | SAVE_ITEMS);
}

static BOOL CALLBACK FindVisibleBox(HWND window, LPARAM found)
{
    WCHAR name[16];
    if (IsWindowVisible(window) && GetClassNameW(window, name, 16) && lstrcmpW(name, L"#32770") == 0) {
        *(BOOL *)found = TRUE;
        return FALSE;
    }
    return TRUE;
}

// A message box, the settings sheet or any other dialog of this thread is open.
static BOOL BoxOpen()
{
    BOOL found = FALSE;
    EnumThreadWindows(GetCurrentThreadId(), FindVisibleBox, (LPARAM)&found);
    return found;
}

// Idle for the idle save: no popup menu, paste or tray menu, no exit under way, no box open
// (a box's loop may run inside any of those, or wait for the user on a save of its own).
static BOOL ProgramIdle()
{
    return !MenuOrPasteRunning() && !g_shutdownRunning && !g_endingForLogoff && !g_takenDown && !BoxOpen();
}

static LRESULT OnDrawClipboardMessage(HWND window, WPARAM wParam, LPARAM lParam)
{
    // Passed on along the chain even while busy; the capture itself waits for g_busyState.
    OnDrawClipboard(window, wParam, lParam);
    return 0;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);
    case WM_DESTROY:
        return OnDestroy();
    case WM_CLOSE:
        if (DeferWhileMenuOrPaste(message, wParam))
            return 0;
        return OnExitRequest(window);
    case WM_ENDSESSION:
        // A real end comes when this returns: no waiting, the paste stops and the state is saved now.
        if (wParam)
            EndPopupOperation();
        return OnEndSession(window, wParam);
    case WM_QUERYENDSESSION:
        return OnQueryEndSession();
    case WM_COMMAND:
        return OnCommand(window, wParam);
    case WM_TIMER:
        if (wParam == TIMER_DOUBLETAP) {
            OnDoubleTapTimer(window);
            RunDeferredCommands(window);
            return 0;
        }
        if (wParam == TIMER_CBCHAIN) {
            OnClipboardChainTimer(window);
            return 0;
        }
        if (wParam == TIMER_MENUS_AHEAD) {
            OnMenusAheadTimer(window);
            return 0;
        }
        if (wParam == TIMER_IDLESAVE) {
            OnIdleSaveTimer(window, ProgramIdle());
            return 0;
        }
        break;
    case WM_INITMENUPOPUP:
        return OnInitMenuPopup((HMENU)wParam);
    case WM_MENUCHAR: {
        LRESULT result = 0;
        if (OnPopupMenuChar(wParam, lParam, &result))
            return result;
        break;
    }
    case WM_DRAWCLIPBOARD:
        return OnDrawClipboardMessage(window, wParam, lParam);
    case WM_CHANGECBCHAIN:
        OnChangeCbChain(window, wParam, lParam);
        return 0;
    case WM_HOTKEY:
        OnHotKey(window, wParam);
        RunDeferredCommands(window);
        return 0;
    case WM_HOOKKEY:
        FollowForeground();
        OnHookKey(window, wParam, lParam);
        return 0;
    case WM_PASTE_STOPPED:
        OnPasteStopped(window, wParam);
        return 0;
    case WM_INPUT:
        OnRawMouseInput(window, lParam);
        break;  // DefWindowProcW frees the input
    case WM_TRAYICON:
        return OnTrayIcon(window, wParam, lParam);
    case WM_EDITOR_CLOSED:
        OnEditorClosed(window);
        return 0;
    case WM_DATA_WARNINGS:
        WarnUnreadableDataFiles(window);
        return 0;
    case WM_IDLE_SAVE_DONE:
        OnIdleSaveDone(window);
        return 0;
    case WM_RECALL_NOTICE:
        return OnRecallNotice(window, wParam);
    }
    if (message == g_taskbarCreatedMessage && message != 0) {
        OnTaskbarCreated();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
