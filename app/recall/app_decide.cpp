// The per-application decisions and the look-ups that feed them. Nothing here runs for a key
// event: only at the second tap, the hotkey, a copy and the choice of an entry.
#include "recall/app_decide.h"
#include <shellapi.h>

// A caption text within the caption, without regard to case.
static BOOL CaptionHolds(const WCHAR *caption, const WCHAR *text)
{
    int textLength = lstrlenW(text);
    int captionLength = caption ? lstrlenW(caption) : 0;
    for (int start = 0; start + textLength <= captionLength; start++)
        if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, caption + start, textLength, text, textLength) ==
            CSTR_EQUAL)
            return TRUE;
    return FALSE;
}

const AppRule *MatchAppRule(const AppRules *rules, const WCHAR *exe, const WCHAR *caption)
{
    if (!rules || !exe || !exe[0])
        return nullptr;
    const AppRule *plain = nullptr;
    for (int k = 0; k < rules->count; k++) {
        const AppRule *rule = &rules->rules[k];
        if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, rule->exe, -1, exe, -1) != CSTR_EQUAL)
            continue;
        if (!rule->caption[0]) {
            if (!plain)
                plain = rule;
        } else if (CaptionHolds(caption, rule->caption)) {
            return rule;
        }
    }
    return plain;
}

BOOL FullScreenQuiets(const AppRules *rules, int notificationState)
{
    return rules->fullScreenQuiet &&
           (notificationState == QUNS_BUSY || notificationState == QUNS_RUNNING_D3D_FULL_SCREEN ||
            notificationState == QUNS_PRESENTATION_MODE);
}

BOOL MenuMayOpen(const AppRules *rules, const WCHAR *exe, const WCHAR *caption, int notificationState)
{
    if (FullScreenQuiets(rules, notificationState))
        return FALSE;
    const AppRule *rule = MatchAppRule(rules, exe, caption);
    return !rule || !(rule->switches & APP_RULE_NO_MENU);
}

BOOL CopyMayBeRecorded(const AppRules *rules, const WCHAR *exe, const WCHAR *caption)
{
    const AppRule *rule = MatchAppRule(rules, exe, caption);
    return !rule || !(rule->switches & APP_RULE_NO_RECORD);
}

BOOL TypesInsteadOfPaste(const AppRules *rules, const WCHAR *exe, const WCHAR *caption, int *delayMs)
{
    const AppRule *rule = MatchAppRule(rules, exe, caption);
    if (!rule || !(rule->switches & APP_RULE_TYPE))
        return FALSE;
    *delayMs = rule->typeDelayMs;
    return TRUE;
}

const WCHAR *CaptionForCopy(DWORD ownerProcess, DWORD foregroundProcess, const WCHAR *ownerCaption,
                            const WCHAR *foregroundCaption)
{
    return ownerProcess != 0 && ownerProcess == foregroundProcess ? foregroundCaption : ownerCaption;
}

// ---- Look-ups ----

static HRESULT WINAPI AskShell(int *state)
{
    // Looked up, not imported: the stub of older systems and of Wine is no reason not to start.
    typedef HRESULT(WINAPI * QueryFunction)(QUERY_USER_NOTIFICATION_STATE *);
    static QueryFunction query;
    static BOOL looked;
    if (!looked) {
        HMODULE shell = LoadLibraryW(L"shell32.dll");
        query = shell ? (QueryFunction)(void *)GetProcAddress(shell, "SHQueryUserNotificationState") : nullptr;
        looked = TRUE;
    }
    QUERY_USER_NOTIFICATION_STATE answer = QUNS_ACCEPTS_NOTIFICATIONS;
    if (!query)
        return E_NOTIMPL;
    HRESULT result = query(&answer);
    *state = (int)answer;
    return result;
}

NotificationStateFunction g_notificationStateRoute = AskShell;

int CurrentNotificationState()
{
    int state = 0;
    return SUCCEEDED(g_notificationStateRoute(&state)) ? state : 0;
}

void DescribeWindow(HWND window, WCHAR exe[APP_EXE_CHARS], WCHAR caption[APP_CAPTION_CHARS])
{
    exe[0] = 0;
    caption[0] = 0;
    DWORD processId = 0;
    if (!window || !GetWindowThreadProcessId(window, &processId))
        return;
    ExecutableOfProcess(processId, exe);
    // Reads the caption the system keeps: no message goes to a window that may hang.
    InternalGetWindowText(window, caption, APP_CAPTION_CHARS);
}

BOOL MenuMayOpenOver(HWND foreground)
{
    // Cheap first: with no rule, only the full-screen state counts.
    if (g_appRules.count == 0)
        return !FullScreenQuiets(&g_appRules, CurrentNotificationState());
    WCHAR exe[APP_EXE_CHARS], caption[APP_CAPTION_CHARS];
    DescribeWindow(foreground, exe, caption);
    return MenuMayOpen(&g_appRules, exe, caption, CurrentNotificationState());
}

BOOL CopyMayBeRecordedNow()
{
    if (g_appRules.count == 0)
        return TRUE;
    HWND foreground = GetForegroundWindow();
    HWND owner = GetClipboardOwner();
    if (!owner)
        owner = foreground;
    DWORD ownerProcess = 0, foregroundProcess = 0;
    if (owner)
        GetWindowThreadProcessId(owner, &ownerProcess);
    if (foreground)
        GetWindowThreadProcessId(foreground, &foregroundProcess);
    WCHAR exe[APP_EXE_CHARS], ownerCaption[APP_CAPTION_CHARS] = L"", foregroundCaption[APP_CAPTION_CHARS] = L"";
    ExecutableOfProcess(ownerProcess, exe);
    if (owner)
        InternalGetWindowText(owner, ownerCaption, APP_CAPTION_CHARS);
    if (foreground)
        InternalGetWindowText(foreground, foregroundCaption, APP_CAPTION_CHARS);
    return CopyMayBeRecorded(&g_appRules, exe,
                             CaptionForCopy(ownerProcess, foregroundProcess, ownerCaption, foregroundCaption));
}

BOOL RuleRefusesMenuOver(HWND window)
{
    if (g_appRules.count == 0)
        return FALSE;
    WCHAR exe[APP_EXE_CHARS], caption[APP_CAPTION_CHARS];
    DescribeWindow(window, exe, caption);
    const AppRule *rule = MatchAppRule(&g_appRules, exe, caption);
    return rule && (rule->switches & APP_RULE_NO_MENU);
}

BOOL TypesInsteadOfPasteOver(HWND window, int *delayMs)
{
    if (g_appRules.count == 0)
        return FALSE;
    WCHAR exe[APP_EXE_CHARS], caption[APP_CAPTION_CHARS];
    DescribeWindow(window, exe, caption);
    return TypesInsteadOfPaste(&g_appRules, exe, caption, delayMs);
}
