// The resident shell: process-wide globals, g_mainWindow and the start-up shortcut.
#pragma once
#include <windows.h>
#include <shellapi.h>

#define WM_TRAYICON     (WM_APP + 2)
#define WM_DATA_WARNINGS (WM_APP + 3)  // posted at creation: tells of data files that could not be read
#define WM_IDLE_SAVE_DONE (WM_APP + 11) // posted by the idle save's worker thread when it has written
#define TRAY_ICON_ID    2000

extern HINSTANCE g_appInstance;          // module of the resources and windows
extern HWND g_mainWindow;                // hidden hub window of class "tavoClass"
extern const WCHAR AppTitle[];         // "tavo ver 0.03": caption, tooltip, About text
extern HANDLE g_instanceMutex;           // "tavoClass": marks the running copy
extern NOTIFYICONDATAW g_trayIconData;   // the tray icon as added, and deleted at shutdown

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL RegisterMainWindowClass(HINSTANCE instance);
// Creates the hidden g_mainWindow of class "tavoClass" (registered first) and stores it in g_mainWindow.
HWND CreateMainWindow(HINSTANCE instance);
void FillTrayIconData(NOTIFYICONDATAW *data, HWND window);
// The tray balloon that says why a registered paste stopped (PASTE_STOP_*, recall.h): one line of
// the string table and nothing of the entry; FALSE for any other reason.
BOOL FillPasteStoppedBalloon(NOTIFYICONDATAW *data, HWND window, int reason);
// Check mark of "スタートアップ登録(&S)" and grey state of "コピー履歴消去(&C)" in the tray menu.
void UpdateTrayMenuStates(HMENU menu);
// The menu hotkey follows the window in front: given up while an application whose rule says
// "no menu here" is in front, taken again when another comes (a foreground WinEvent).
void StartFollowingForeground(HWND window);
void StopFollowingForeground();
// Whether the hotkey is to be held with this window in front.
BOOL MenuHotkeyHeldOver(HWND foreground);
// Registers g_ini's menu hotkey on the window again, or only gives it up when MenuHotkeyWanted
// says no (another trigger mode, no key, a key that types); a failure is told in a box. FALSE
// when the key could not be had.
BOOL RegisterMenuHotkey(HWND window);
// The settings sheet on a copy of g_ini; after OK the copy's values are stored, the hotkey
// registered again and ini.dat written.
void OpenSettings(HWND window);
// The fields the sheet shows, from its copy into the settings; the editor's fields stay, since
// the editor may have recorded them while the sheet was open.
struct IniData;
void StoreSheetSettings(IniData *ini, const IniData *sheet);
// The editor has closed: both files are written, and a failure is told with OK.
void OnEditorClosed(HWND window);

// Start-up shortcut "tavo.lnk" in the user's Startup folder.
BOOL StartupShortcutPath(WCHAR path[MAX_PATH]);
BOOL FileExists(const WCHAR *path);
void ToggleStartupShortcut();

// Saving the two files (data_saving.cpp).
#define SAVE_INI   1  // ini.dat from g_ini
#define SAVE_ITEMS 2  // paste.dat from the store
#define SAVE_RULES 4  // apps.dat from g_appRules (never over a newer version's file)
#define SAVE_ALL   (SAVE_INI | SAVE_ITEMS | SAVE_RULES)
// When a failure is told: at exit (retry, end without saving, or stay), after a change (OK), at
// logoff or shutdown.
#define SAVE_AT_EXIT       0
#define SAVE_ON_CHANGE     1
#define SAVE_AT_SESSION_END 2
// Saves the files named; returns the bits of those that failed.
int SaveDataFiles(int files);
// The box text for the files that failed, naming each.
void SaveFailureText(int failed, int when, WCHAR *text, int room);
// The start-up warning for a data file (DATA_INI, DATA_ITEMS, DATA_RULES) found unreadable.
void UnreadableFileText(int file, WCHAR *text, int room);
// One warning box per data file that was there at the start but could not be read, and one for
// an apps.dat of a newer version.
void WarnUnreadableDataFiles(HWND owner);
// paste.dat cannot be unprotected: asks whether to start with empty data (the file moved aside,
// or, where that fails, kept in place and never saved over in this run) or to end. FALSE: end.
BOOL StartWithoutLockedItems(HWND owner);
// What the user chose at exit.
#define EXIT_SAVED   0  // both files written
#define EXIT_UNSAVED 1  // end without saving: the files on disk stay as they were
#define EXIT_STAY    2  // keep running with everything in memory
// Saves both files; while one fails, asks whether to try again, end without saving, or stay.
int SaveBeforeExit(HWND owner);
// Saves both files with no box, retrying briefly; returns the bits of those that still failed.
int SaveForSessionEnd();
// Saves the files named; when one fails, says so in a box with OK. FALSE on failure.
BOOL SaveOrWarn(HWND owner, int files);

// The idle save: the copy history reaches paste.dat without an exit. A timer of the hub looks
// every IDLE_SAVE_TICK_MS; it saves when the store changed since paste.dat was last written, the
// program is idle, and the last attempt is IDLE_SAVE_GAP_MS ago. With the editor open it writes
// the store as it is: text typed in the editor stays the editor's until it closes. A history
// larger than IDLE_SAVE_WORKER_UNITS is copied into an image on the hub and written by a worker
// thread, so that the hub keeps handling its messages (the hook's keys among them); every other
// save of paste.dat first waits for that worker. Protecting for the user costs about ten times
// the fixed key's time, so a protected paste.dat goes to the worker from a sixteenth of that size.
#define TIMER_IDLESAVE    2010
#define IDLE_SAVE_TICK_MS 5000
#define IDLE_SAVE_GAP_MS  60000
#define IDLE_SAVE_WORKER_UNITS (4 * 1048576)
#define IDLE_SAVE_WORKER_UNITS_USER_FORM (IDLE_SAVE_WORKER_UNITS / 16)
struct IdleSaveState {
    DWORD savedCount;   // the store's change count that paste.dat holds
    DWORD lastAttempt;  // tick of the last attempt, or of the start
    BOOL failureTold;   // a failure was told: not again until a save succeeds
};
// Whether a tick at `now` saves.
BOOL IdleSaveDue(const IdleSaveState *state, DWORD changeCount, DWORD now, BOOL idle);
// Notes an attempt at `now` (changeCount as it was written); TRUE when its failure is to be told.
BOOL NoteIdleSaveAttempt(IdleSaveState *state, BOOL saved, DWORD changeCount, DWORD now);
// From now on paste.dat counts as holding the store as it is; starts the timer.
void StartIdleSave(HWND window);
void StopIdleSave(HWND window);
// The timer's tick; idle: no popup operation or paste, no exit, no box open.
void OnIdleSaveTimer(HWND window, BOOL idle);
// WM_IDLE_SAVE_DONE: the worker's result is noted, and a failure told once.
void OnIdleSaveDone(HWND window);
// Replaces GetTickCount for the idle save; null goes back to it.
void SetIdleSaveClockForTests(DWORD (*clock)());
