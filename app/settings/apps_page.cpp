// The page "アプリ別": a list of the applications with their switches, a combo box that offers the
// executables with windows open now (and takes a typed name), Add and Remove, the selected rule's
// switches, caption text and key delay, and the full-screen check box. The page edits a copy of
// its own; only PSN_APPLY hands it to the sheet, so a page never visited changes nothing.
#include "settings/apps_page.h"
#include <commctrl.h>
#include <wchar.h>
#include "lang/ui_language.h"
#include "res/resource.h"

struct AppsPageState {
    AppsPageData data;
    AppRules edited;  // what the page shows
    BOOL loading;     // the controls are being filled: their notifications change nothing
};
static AppsPageState *g_appsPage;  // the open page's state (process heap); null while none is open

// The caption between the name and it in the combo box's items.
static const WCHAR CaptionOpen[] = L"  (";

static void LoadText(UINT id, WCHAR *text, int room)
{
    if (LoadUiText(id, text, room) <= 0)
        text[0] = 0;
}

static void SetControlText(HWND page, int control, UINT textId)
{
    WCHAR text[128];
    LoadText(textId, text, 128);
    SetDlgItemTextW(page, control, text);
}

void AppSwitchesText(int switches, WCHAR *text, int room)
{
    static const struct {
        int bit;
        UINT mark;
    } marks[] = {{APP_RULE_NO_MENU, IDS_APPS_MARK_NO_MENU}, {APP_RULE_NO_RECORD, IDS_APPS_MARK_NO_RECORD},
                 {APP_RULE_TYPE, IDS_APPS_MARK_TYPE}};
    text[0] = 0;
    for (const auto &mark : marks) {
        if (!(switches & mark.bit))
            continue;
        WCHAR part[32];
        LoadText(mark.mark, part, 32);
        int length = lstrlenW(text);
        if (length > 0 && length + 2 < room) {
            lstrcpynW(text + length, L", ", room - length);
            length += 2;
        }
        lstrcpynW(text + length, part, room - length);
    }
}

BOOL ExecutableFromComboText(const WCHAR *text, WCHAR exe[APP_EXE_CHARS])
{
    exe[0] = 0;
    const WCHAR *start = text;
    while (*start == L' ' || *start == L'\t')
        start++;
    int length = 0;
    int openLength = lstrlenW(CaptionOpen);
    while (start[length] && wcsncmp(start + length, CaptionOpen, openLength) != 0)
        length++;
    while (length > 0 && (start[length - 1] == L' ' || start[length - 1] == L'\t'))
        length--;
    if (length == 0 || length >= APP_EXE_CHARS)
        return FALSE;
    lstrcpynW(exe, start, length + 1);
    return TRUE;
}

static HWND List(HWND page)
{
    return GetDlgItem(page, IDC_APP_LIST);
}

static int SelectedRule(HWND page)
{
    return (int)SendMessageW(List(page), LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
}

static void SetCell(HWND list, int row, int column, const WCHAR *text)
{
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = (WCHAR *)text;
    SendMessageW(list, LVM_SETITEMTEXTW, row, (LPARAM)&item);
}

static void ShowRuleRow(HWND page, int index)
{
    const AppRule &rule = g_appsPage->edited.rules[index];
    WCHAR switches[96];
    AppSwitchesText(rule.switches, switches, 96);
    SetCell(List(page), index, 0, rule.exe);
    SetCell(List(page), index, 1, switches);
    SetCell(List(page), index, 2, rule.caption);
}

static void FillList(HWND page, int select)
{
    HWND list = List(page);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    for (int k = 0; k < g_appsPage->edited.count; k++) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = k;
        item.pszText = g_appsPage->edited.rules[k].exe;
        SendMessageW(list, LVM_INSERTITEMW, 0, (LPARAM)&item);
        ShowRuleRow(page, k);
    }
    if (select >= 0 && select < g_appsPage->edited.count) {
        LVITEMW state = {};
        state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(list, LVM_SETITEMSTATE, select, (LPARAM)&state);
        SendMessageW(list, LVM_ENSUREVISIBLE, select, FALSE);
    }
}

// The selected rule's controls: filled from it, or emptied and disabled without a selection.
static void ShowSelectedRule(HWND page)
{
    int index = SelectedRule(page);
    BOOL any = index >= 0 && index < g_appsPage->edited.count;
    AppRule none = {};
    none.typeDelayMs = TYPE_DELAY_DEFAULT;
    const AppRule &rule = any ? g_appsPage->edited.rules[index] : none;
    g_appsPage->loading = TRUE;
    CheckDlgButton(page, IDC_APP_NO_MENU, (rule.switches & APP_RULE_NO_MENU) ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, IDC_APP_NO_RECORD, (rule.switches & APP_RULE_NO_RECORD) ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, IDC_APP_TYPE, (rule.switches & APP_RULE_TYPE) ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextW(page, IDC_APP_CAPTION, rule.caption);
    SendDlgItemMessageW(page, IDC_APP_DELAY_SPIN, UDM_SETPOS32, 0, rule.typeDelayMs);
    static const int ruleControls[] = {IDC_APP_REMOVE, IDC_APP_NO_MENU, IDC_APP_NO_RECORD, IDC_APP_TYPE,
                                       IDC_APP_CAPTION, IDC_APP_DELAY, IDC_APP_DELAY_SPIN};
    for (int control : ruleControls)
        EnableWindow(GetDlgItem(page, control), any);
    g_appsPage->loading = FALSE;
}

// The selected rule takes what its controls hold now.
static void TakeSelectedRule(HWND page)
{
    int index = SelectedRule(page);
    if (g_appsPage->loading || index < 0 || index >= g_appsPage->edited.count)
        return;
    AppRule &rule = g_appsPage->edited.rules[index];
    rule.switches = (IsDlgButtonChecked(page, IDC_APP_NO_MENU) == BST_CHECKED ? APP_RULE_NO_MENU : 0) |
                    (IsDlgButtonChecked(page, IDC_APP_NO_RECORD) == BST_CHECKED ? APP_RULE_NO_RECORD : 0) |
                    (IsDlgButtonChecked(page, IDC_APP_TYPE) == BST_CHECKED ? APP_RULE_TYPE : 0);
    GetDlgItemTextW(page, IDC_APP_CAPTION, rule.caption, APP_CAPTION_CHARS);
    BOOL failed = FALSE;
    int delay = (int)SendDlgItemMessageW(page, IDC_APP_DELAY_SPIN, UDM_GETPOS32, 0, (LPARAM)&failed);
    if (!failed)
        rule.typeDelayMs = delay;
    ShowRuleRow(page, index);
}

// Top-level windows with a caption, each executable once.
static BOOL CALLBACK OfferWindow(HWND window, LPARAM combo)
{
    WCHAR caption[APP_CAPTION_CHARS];
    if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER) || !InternalGetWindowText(window, caption, APP_CAPTION_CHARS))
        return TRUE;
    DWORD processId = 0;
    WCHAR exe[APP_EXE_CHARS];
    GetWindowThreadProcessId(window, &processId);
    if (processId == GetCurrentProcessId() || !ExecutableOfProcess(processId, exe))
        return TRUE;
    WCHAR item[APP_EXE_CHARS + APP_CAPTION_CHARS + 8];
    wsprintfW(item, L"%s%s", exe, CaptionOpen);
    // CB_FINDSTRING matches the start of an item's text: the name finds an item already there.
    if (SendMessageW((HWND)combo, CB_FINDSTRING, (WPARAM)-1, (LPARAM)item) != CB_ERR)
        return TRUE;
    wsprintfW(item, L"%s%s%s)", exe, CaptionOpen, caption);
    SendMessageW((HWND)combo, CB_ADDSTRING, 0, (LPARAM)item);
    return TRUE;
}

static void AddColumn(HWND list, int index, UINT textId, int width)
{
    WCHAR text[64];
    LoadText(textId, text, 64);
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = text;
    column.cx = width;
    column.iSubItem = index;
    SendMessageW(list, LVM_INSERTCOLUMNW, index, (LPARAM)&column);
}

static BOOL OnAppsPageInit(HWND page, const PROPSHEETPAGEW *sheetPage)
{
    AppsPageState *state = (AppsPageState *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(AppsPageState));
    if (!state)
        return TRUE;
    state->data = *(const AppsPageData *)sheetPage->lParam;
    state->edited = *state->data.rules;
    g_appsPage = state;
    static const struct {
        int control;
        UINT text;
    } texts[] = {{IDC_APP_NAME_LABEL, IDS_APPS_NAME},       {IDC_APP_ADD, IDS_APPS_ADD},
                 {IDC_APP_REMOVE, IDS_APPS_REMOVE},         {IDC_APP_NO_MENU, IDS_APPS_NO_MENU},
                 {IDC_APP_NO_RECORD, IDS_APPS_NO_RECORD},   {IDC_APP_TYPE, IDS_APPS_TYPE},
                 {IDC_APP_CAPTION_LABEL, IDS_APPS_CAPTION}, {IDC_APP_DELAY_LABEL, IDS_APPS_DELAY},
                 {IDC_APP_DELAY_UNIT, IDS_APPS_MS},         {IDC_FULLSCREEN_QUIET, IDS_APPS_FULLSCREEN}};
    for (const auto &text : texts)
        SetControlText(page, text.control, text.text);
    HWND list = List(page);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    RECT area;
    GetClientRect(list, &area);
    int width = area.right - area.left - GetSystemMetrics(SM_CXVSCROLL);
    AddColumn(list, 0, IDS_APPS_COLUMN_APP, width * 2 / 5);
    AddColumn(list, 1, IDS_APPS_COLUMN_SWITCHES, width * 2 / 5);
    AddColumn(list, 2, IDS_APPS_COLUMN_CAPTION, width - 2 * (width * 2 / 5));
    SendDlgItemMessageW(page, IDC_APP_DELAY_SPIN, UDM_SETRANGE32, TYPE_DELAY_MIN, TYPE_DELAY_MAX);
    SendDlgItemMessageW(page, IDC_APP_NAME, CB_LIMITTEXT, APP_EXE_CHARS + APP_CAPTION_CHARS, 0);
    SendDlgItemMessageW(page, IDC_APP_CAPTION, EM_LIMITTEXT, APP_CAPTION_CHARS - 1, 0);
    EnumWindows(OfferWindow, (LPARAM)GetDlgItem(page, IDC_APP_NAME));
    CheckDlgButton(page, IDC_FULLSCREEN_QUIET, state->edited.fullScreenQuiet ? BST_CHECKED : BST_UNCHECKED);
    FillList(page, state->edited.count > 0 ? 0 : -1);
    ShowSelectedRule(page);
    return TRUE;
}

static void OnAddApp(HWND page)
{
    WCHAR text[APP_EXE_CHARS + APP_CAPTION_CHARS + 8], exe[APP_EXE_CHARS];
    GetDlgItemTextW(page, IDC_APP_NAME, text, ARRAYSIZE(text));
    int index = ExecutableFromComboText(text, exe) ? AddAppRule(&g_appsPage->edited, exe) : -1;
    if (index < 0) {
        WCHAR message[256];
        LoadText(IDS_APPS_NOT_ADDED, message, 256);
        MessageBoxW(GetParent(page), message, APP_CAPTION, MB_ICONWARNING);
        return;
    }
    FillList(page, index);
    ShowSelectedRule(page);
    SetDlgItemTextW(page, IDC_APP_NAME, L"");
}

static void OnRemoveApp(HWND page)
{
    int index = SelectedRule(page);
    if (index < 0)
        return;
    RemoveAppRule(&g_appsPage->edited, index);
    FillList(page, index < g_appsPage->edited.count ? index : g_appsPage->edited.count - 1);
    ShowSelectedRule(page);
}

static void OnAppsPageCommand(HWND page, int control, int code)
{
    switch (control) {
    case IDC_APP_ADD:
        OnAddApp(page);
        break;
    case IDC_APP_REMOVE:
        OnRemoveApp(page);
        break;
    case IDC_APP_NO_MENU:
    case IDC_APP_NO_RECORD:
    case IDC_APP_TYPE:
        if (code == BN_CLICKED)
            TakeSelectedRule(page);
        break;
    case IDC_APP_CAPTION:
    case IDC_APP_DELAY:
        if (code == EN_CHANGE)
            TakeSelectedRule(page);
        break;
    }
}

static void OnAppsPageApply(HWND page)
{
    g_appsPage->edited.fullScreenQuiet = IsDlgButtonChecked(page, IDC_FULLSCREEN_QUIET) == BST_CHECKED;
    ClampAppRules(&g_appsPage->edited);
    *g_appsPage->data.rules = g_appsPage->edited;
    *g_appsPage->data.accepted = TRUE;
    SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_NOERROR);
}

static BOOL OnAppsPageNotify(HWND page, const NMHDR *header)
{
    if (header->idFrom == IDC_APP_LIST && header->code == LVN_ITEMCHANGED) {
        const NMLISTVIEW *change = (const NMLISTVIEW *)header;
        if ((change->uChanged & LVIF_STATE) && ((change->uOldState ^ change->uNewState) & LVIS_SELECTED))
            ShowSelectedRule(page);
        return TRUE;
    }
    switch (header->code) {
    case PSN_APPLY:
        OnAppsPageApply(page);
        return TRUE;
    case PSN_RESET:
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK AppsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnAppsPageInit(page, (const PROPSHEETPAGEW *)lParam);
    case WM_COMMAND:
        if (g_appsPage)
            OnAppsPageCommand(page, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_NOTIFY:
        return g_appsPage ? OnAppsPageNotify(page, (const NMHDR *)lParam) : FALSE;
    case WM_DESTROY:
        if (g_appsPage)
            HeapFree(GetProcessHeap(), 0, g_appsPage);
        g_appsPage = nullptr;
        return FALSE;
    }
    return FALSE;
}
