// The settings sheet: a modal property sheet over a copy of the settings. Page 107 holds the
// trigger, the hotkey and the four numeric settings; page 108 whether paste.dat is protected for
// the Windows user. Only OK writes into the copy, so Cancel needs no undo; what OK took is
// applied by the caller.
#include "settings/settings.h"
#include <commctrl.h>
#include "lang/ui_language.h"
#include "res/resource.h"
#include "settings/apps_page.h"

HWND g_settingsSheet;
static IniData *g_sheetSettings;  // the copy the open sheet shows and OK writes
static BOOL g_sheetAccepted;      // OK was chosen
static BOOL *g_sheetUserForm;     // the copy of paste.dat's form that the open sheet shows and OK writes

// In the order of MenuKeyMode: an item's index is the mode it chooses; the last, the hotkey, is
// named in the interface language.
static const WCHAR *const MenuKeyNames[] = {L"Shift + Shift", L"Ctrl + Ctrl", L"Alt + Alt", nullptr};
static_assert(ARRAYSIZE(MenuKeyNames) == MENU_KEY_HOTKEY + 1, "one name per mode");

UINT HotkeyFlagsToMods(BYTE hotkeyFlags)
{
    UINT mods = 0;
    if (hotkeyFlags & HOTKEYF_SHIFT)
        mods |= MOD_SHIFT;
    if (hotkeyFlags & HOTKEYF_CONTROL)
        mods |= MOD_CONTROL;
    if (hotkeyFlags & HOTKEYF_ALT)
        mods |= MOD_ALT;
    return mods;
}

BYTE ModsToHotkeyFlags(UINT mods)
{
    BYTE flags = 0;
    if (mods & MOD_SHIFT)
        flags |= HOTKEYF_SHIFT;
    if (mods & MOD_CONTROL)
        flags |= HOTKEYF_CONTROL;
    if (mods & MOD_ALT)
        flags |= HOTKEYF_ALT;
    return flags;
}

void PlaceSheetWhereUserWorks(HWND sheet)
{
    RECT current;
    GetWindowRect(sheet, &current);
    SIZE size = {current.right - current.left, current.bottom - current.top};
    POINT screen = {0, 0};
    RECT place = ChooseWhereUserWorks(nullptr, size, screen);
    SetWindowPos(sheet, nullptr, place.left, place.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
}

// The sheet sizes its page area in the dialog units of its own font; the page lays out its
// controls in the page's font. Where the two differ (under Wine, and at some display scales) the
// page's controls would be cut off: the sheet grows by what the page needs, its buttons move with
// its bottom-right corner.
void FitSheetToPage(HWND sheet, HWND page)
{
    RECT client, margin = {0, 0, 7, 7};
    GetClientRect(page, &client);
    MapDialogRect(page, &margin);
    LONG right = 0, bottom = 0;
    for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, page, (POINT *)&rect, 2);
        right = rect.right > right ? rect.right : right;
        bottom = rect.bottom > bottom ? rect.bottom : bottom;
    }
    int dx = right + margin.right - client.right, dy = bottom + margin.bottom - client.bottom;
    dx = dx > 0 ? dx : 0;
    dy = dy > 0 ? dy : 0;
    if (!dx && !dy)
        return;
    HWND tab = (HWND)SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0);
    for (HWND child = GetWindow(sheet, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, sheet, (POINT *)&rect, 2);
        WCHAR name[16] = L"";
        GetClassNameW(child, name, 16);
        if (child == tab || lstrcmpW(name, L"#32770") == 0)  // the tabs and the pages grow
            SetWindowPos(child, nullptr, 0, 0, rect.right - rect.left + dx, rect.bottom - rect.top + dy,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        else  // the buttons move
            SetWindowPos(child, nullptr, rect.left + dx, rect.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT frame;
    GetWindowRect(sheet, &frame);
    SetWindowPos(sheet, nullptr, 0, 0, frame.right - frame.left + dx, frame.bottom - frame.top + dy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

#define WM_FIT_SHEET (WM_APP + 30)  // posted by the page's init: the sheet has placed it by then

static void InitSpin(HWND page, int spinId, int low, int high, int value)
{
    SendDlgItemMessageW(page, spinId, UDM_SETRANGE, 0, MAKELPARAM(high, low));
    SendDlgItemMessageW(page, spinId, UDM_SETPOS, 0, MAKELPARAM(value & 0xFFFF, 0));
}

// The spin keeps its last valid position when its buddy holds no number in range,
// so the low word is always a value the range allows.
static int SpinPosition(HWND page, int spinId)
{
    return LOWORD(SendDlgItemMessageW(page, spinId, UDM_GETPOS, 0, 0));
}

static BOOL OnMenuPageInit(HWND page)
{
    g_settingsSheet = GetParent(page);
    PostMessageW(page, WM_FIT_SHEET, 0, 0);
    const IniData &settings = *g_sheetSettings;
    InitSpin(page, IDC_PASTE_WAIT_SPIN, PASTE_WAIT_MIN, PASTE_WAIT_MAX, settings.pasteWaitMs);
    InitSpin(page, IDC_ITEM_CHARS_SPIN, ITEM_CHARS_MIN, ITEM_CHARS_MAX, settings.menuItemChars);
    InitSpin(page, IDC_WRAP_COUNT_SPIN, WRAP_COUNT_MIN, WRAP_COUNT_MAX, settings.menuWrapCount);
    InitSpin(page, IDC_HISTORY_MAX_SPIN, HISTORY_MAX_MIN, HISTORY_MAX_MAX, settings.historyMax);
    WCHAR hotkeyName[32];
    LoadUiText(IDS_MENU_KEY_OTHER, hotkeyName, ARRAYSIZE(hotkeyName));
    for (const WCHAR *name : MenuKeyNames)
        SendDlgItemMessageW(page, IDC_MENU_KEY, CB_ADDSTRING, 0, (LPARAM)(name ? name : hotkeyName));
    SendDlgItemMessageW(page, IDC_MENU_KEY, CB_SETCURSEL, settings.menuKeyMode, 0);
    // A key typed without a modifier gets Ctrl from the control; OnHotkeyFieldChanged gives keys
    // that type nothing their own modifiers back.
    SendDlgItemMessageW(page, IDC_HOTKEY, HKM_SETRULES, HKCOMB_NONE | HKCOMB_S, MAKELPARAM(HOTKEYF_CONTROL, 0));
    if (settings.menuKeyMode == MENU_KEY_HOTKEY) {
        EnableWindow(GetDlgItem(page, IDC_HOTKEY), TRUE);
        WORD hotkey = MAKEWORD(settings.hotkeyVk & 0xFF, ModsToHotkeyFlags(settings.hotkeyMods));
        SendDlgItemMessageW(page, IDC_HOTKEY, HKM_SETHOTKEY, hotkey, 0);
    }
    return TRUE;
}

static void OnMenuKeyChanged(HWND page)
{
    HWND hotkey = GetDlgItem(page, IDC_HOTKEY);
    if (SendDlgItemMessageW(page, IDC_MENU_KEY, CB_GETCURSEL, 0, 0) == MENU_KEY_HOTKEY) {
        EnableWindow(hotkey, TRUE);
        SetFocus(hotkey);
    } else {
        // What was typed stays: OK registers it even though only mode 3 uses it.
        EnableWindow(hotkey, FALSE);
    }
}

// The control's rules cannot tell a function key from a letter: a key that may be a hotkey alone,
// given Ctrl by the rules while Ctrl is up, gets back the modifiers that are really down.
static void OnHotkeyFieldChanged(HWND page)
{
    WORD hotkey = (WORD)SendDlgItemMessageW(page, IDC_HOTKEY, HKM_GETHOTKEY, 0, 0);
    BYTE vk = LOBYTE(hotkey), flags = HIBYTE(hotkey);
    if (vk == 0 || (flags & ~HOTKEYF_EXT) != HOTKEYF_CONTROL || GetKeyState(VK_CONTROL) < 0 || !HotkeyAllowed(vk, 0))
        return;
    BYTE held = (BYTE)((flags & HOTKEYF_EXT) | (GetKeyState(VK_SHIFT) < 0 ? HOTKEYF_SHIFT : 0));
    SendDlgItemMessageW(page, IDC_HOTKEY, HKM_SETHOTKEY, MAKEWORD(vk, held), 0);
}

// What the hotkey control holds; the whole typed key stays even in a double-tap mode.
// Modifiers without a key are no hotkey: the program registers only when hotkeyVk is set.
static void TakeHotkey(HWND page, IniData *settings)
{
    settings->hotkeyVk = 0;
    settings->hotkeyMods = 0;
    WORD hotkey = (WORD)SendDlgItemMessageW(page, IDC_HOTKEY, HKM_GETHOTKEY, 0, 0);
    if (LOBYTE(hotkey) == 0)
        return;
    settings->hotkeyVk = LOBYTE(hotkey);
    settings->hotkeyMods = HotkeyFlagsToMods(HIBYTE(hotkey));
}

// A key that types or navigates, from an old ini.dat, slips past the control's rules: OK refuses
// it in hotkey mode and the sheet stays open on the field.
static BOOL RefuseTypingHotkey(HWND page)
{
    IniData taken = {};
    TakeHotkey(page, &taken);
    if (SendDlgItemMessageW(page, IDC_MENU_KEY, CB_GETCURSEL, 0, 0) != MENU_KEY_HOTKEY ||
        HotkeyAllowed(taken.hotkeyVk, taken.hotkeyMods))
        return FALSE;
    WCHAR text[128];
    LoadUiText(IDS_HOTKEY_TYPES, text, 128);
    MessageBoxW(GetParent(page), text, APP_CAPTION, MB_ICONWARNING);
    SetFocus(GetDlgItem(page, IDC_HOTKEY));
    SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_INVALID_NOCHANGEPAGE);
    return TRUE;
}

static void OnMenuPageApply(HWND page)
{
    if (RefuseTypingHotkey(page))
        return;
    IniData *settings = g_sheetSettings;
    settings->pasteWaitMs = SpinPosition(page, IDC_PASTE_WAIT_SPIN);
    settings->menuItemChars = SpinPosition(page, IDC_ITEM_CHARS_SPIN);
    settings->menuWrapCount = SpinPosition(page, IDC_WRAP_COUNT_SPIN);
    settings->historyMax = SpinPosition(page, IDC_HISTORY_MAX_SPIN);
    LRESULT mode = SendDlgItemMessageW(page, IDC_MENU_KEY, CB_GETCURSEL, 0, 0);
    if (mode >= 0 && mode <= MENU_KEY_HOTKEY)
        settings->menuKeyMode = (int)mode;
    TakeHotkey(page, settings);
    g_sheetAccepted = TRUE;
    SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_NOERROR);
}

static BOOL OnMenuPageNotify(HWND page, const NMHDR *header)
{
    switch (header->code) {
    case PSN_APPLY:
        OnMenuPageApply(page);
        return TRUE;
    case PSN_RESET:
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK MenuPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnMenuPageInit(page);
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_MENU_KEY && HIWORD(wParam) == CBN_SELCHANGE)
            OnMenuKeyChanged(page);
        if (LOWORD(wParam) == IDC_HOTKEY && HIWORD(wParam) == EN_CHANGE)
            OnHotkeyFieldChanged(page);
        return TRUE;
    case WM_NOTIFY:
        return OnMenuPageNotify(page, (const NMHDR *)lParam);
    case WM_FIT_SHEET:
        FitSheetToPage(GetParent(page), page);
        PlaceSheetWhereUserWorks(GetParent(page));
        return TRUE;
    }
    return FALSE;
}

static void SetTextOf(HWND page, int controlId, UINT textId)
{
    WCHAR text[256];
    LoadUiText(textId, text, ARRAYSIZE(text));
    SetDlgItemTextW(page, controlId, text);
}

static BOOL OnOtherPageInit(HWND page)
{
    SetTextOf(page, IDC_PROTECT_ITEMS, IDS_PROTECT_ITEMS);
    SetTextOf(page, IDC_PROTECT_NOTE, IDS_PROTECT_ITEMS_NOTE);
    CheckDlgButton(page, IDC_PROTECT_ITEMS, *g_sheetUserForm ? BST_CHECKED : BST_UNCHECKED);
    return TRUE;
}

// The sheet applies its pages in order: the menu page, which may refuse, has decided already.
static BOOL OnOtherPageNotify(HWND page, const NMHDR *header)
{
    if (header->code != PSN_APPLY)
        return header->code == PSN_RESET;
    *g_sheetUserForm = IsDlgButtonChecked(page, IDC_PROTECT_ITEMS) == BST_CHECKED;
    SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_NOERROR);
    return TRUE;
}

INT_PTR CALLBACK OtherPageProc(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnOtherPageInit(page);
    case WM_COMMAND:
        return TRUE;
    case WM_NOTIFY:
        return OnOtherPageNotify(page, (const NMHDR *)lParam);
    }
    return FALSE;
}

BOOL ShowSettingsSheet(HWND parent, IniData *settings, BOOL *userForm, AppRules *rules)
{
    // A second sheet from the tray would run a nested modal loop over the same settings.
    if (g_settingsSheet) {
        SetForegroundWindow(g_settingsSheet);
        return FALSE;
    }
    // OK writes into a copy of its own, handed out only when the sheet closed with OK.
    IniData edited = *settings;
    BOOL editedForm = *userForm;
    g_sheetSettings = &edited;
    g_sheetUserForm = &editedForm;
    g_sheetAccepted = FALSE;
    // The rules' copy is large: it lives on the heap, and only OK hands it out.
    AppRules *editedRules = nullptr;
    if (rules) {
        editedRules = (AppRules *)HeapAlloc(GetProcessHeap(), 0, sizeof(AppRules));
        if (!editedRules) {
            g_sheetSettings = nullptr;
            g_sheetUserForm = nullptr;
            return FALSE;
        }
        *editedRules = *rules;
    }
    AppsPageData appsData = {editedRules, &g_sheetAccepted};
    PROPSHEETPAGEW pageInfo[3] = {};
    pageInfo[0].dwSize = sizeof(PROPSHEETPAGEW);
    pageInfo[0].dwFlags = PSP_DLGINDIRECT;
    pageInfo[0].hInstance = GetModuleHandleW(nullptr);
    pageInfo[0].pResource = UiDialogTemplate(IDD_PAGE_MENU);
    pageInfo[0].pfnDlgProc = MenuPageProc;
    pageInfo[1] = pageInfo[0];
    pageInfo[1].pResource = UiDialogTemplate(IDD_PAGE_OTHER);
    pageInfo[1].pfnDlgProc = OtherPageProc;
    pageInfo[2] = pageInfo[0];
    pageInfo[2].pResource = UiDialogTemplate(IDD_PAGE_APPS);
    pageInfo[2].pfnDlgProc = AppsPageProc;
    pageInfo[2].lParam = (LPARAM)&appsData;

    int pageCount = rules ? 3 : 2;
    HPROPSHEETPAGE pages[3] = {};
    BOOL made = TRUE;
    for (int k = 0; k < pageCount; k++) {
        pages[k] = pageInfo[k].pResource ? CreatePropertySheetPageW(&pageInfo[k]) : nullptr;
        made = made && pages[k];
    }
    if (!made) {
        for (int k = 0; k < pageCount; k++)
            if (pages[k])
                DestroyPropertySheetPage(pages[k]);
        g_sheetSettings = nullptr;
        g_sheetUserForm = nullptr;
        if (editedRules)
            HeapFree(GetProcessHeap(), 0, editedRules);
        return FALSE;
    }
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof(header);
    header.dwFlags = PSH_NOAPPLYNOW;
    header.hwndParent = parent;
    header.hInstance = GetModuleHandleW(nullptr);
    WCHAR caption[64];
    LoadUiText(IDS_SETTINGS_TITLE, caption, ARRAYSIZE(caption));
    header.pszCaption = caption;
    header.nPages = pageCount;
    header.nStartPage = 0;
    header.phpage = pages;
    PropertySheetW(&header);
    g_settingsSheet = nullptr;
    g_sheetSettings = nullptr;
    g_sheetUserForm = nullptr;
    if (g_sheetAccepted) {
        *settings = edited;
        *userForm = editedForm;
        if (rules)
            *rules = *editedRules;
    }
    if (editedRules)
        HeapFree(GetProcessHeap(), 0, editedRules);
    return g_sheetAccepted;
}
