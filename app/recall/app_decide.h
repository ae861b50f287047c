// Which application a window belongs to, and what the per-application rules decide for it: the
// menu at a double tap or the hotkey, the capture of a copy, typing instead of pasting. The
// decisions are plain functions of the rules, the executable, the caption and the notification
// state; the look-ups that feed them happen only at the moment of a decision.
#pragma once
#include <windows.h>
#include "state/app_rules.h"

// The rule for a window of the executable with the caption: the executable's name alike without
// regard to case and, when the rule has a caption text, that text within the caption (also
// without regard to case). A rule with a caption text goes before one without. Null for none, for
// an empty executable (a process that could not be opened) and for no rules.
const AppRule *MatchAppRule(const AppRules *rules, const WCHAR *exe, const WCHAR *caption);
// SHQueryUserNotificationState's answer says a full-screen program or a presentation runs, and
// the user wants quiet then.
BOOL FullScreenQuiets(const AppRules *rules, int notificationState);
// A double tap or the hotkey may open the menu over this window.
BOOL MenuMayOpen(const AppRules *rules, const WCHAR *exe, const WCHAR *caption, int notificationState);
// A copy from this application is recorded.
BOOL CopyMayBeRecorded(const AppRules *rules, const WCHAR *exe, const WCHAR *caption);
// An entry chosen over this window is typed; *delayMs then holds the pause after each key.
BOOL TypesInsteadOfPaste(const AppRules *rules, const WCHAR *exe, const WCHAR *caption, int *delayMs);

// The caption compared for a copy: the foreground's when the clipboard's owner belongs to the
// foreground's process (owners are often hidden, untitled windows), else the owner's own.
const WCHAR *CaptionForCopy(DWORD ownerProcess, DWORD foregroundProcess, const WCHAR *ownerCaption,
                            const WCHAR *foregroundCaption);

// ---- Look-ups ----

// SHQueryUserNotificationState, replaceable by tests (Wine's is a stub); 0 when unknown.
typedef HRESULT(WINAPI *NotificationStateFunction)(int *state);
extern NotificationStateFunction g_notificationStateRoute;
int CurrentNotificationState();

// The window's executable and caption, as the decisions take them.
void DescribeWindow(HWND window, WCHAR exe[APP_EXE_CHARS], WCHAR caption[APP_CAPTION_CHARS]);

// The decisions for the windows in front now, with g_appRules.
BOOL MenuMayOpenOver(HWND foreground);
// A rule of the window's application says no menu there (the hotkey is then given up).
BOOL RuleRefusesMenuOver(HWND window);
// An entry chosen over the window is typed, with *delayMs after each key.
BOOL TypesInsteadOfPasteOver(HWND window, int *delayMs);
// The copy that the clipboard holds now may be recorded: its owner, else the foreground window.
BOOL CopyMayBeRecordedNow();
