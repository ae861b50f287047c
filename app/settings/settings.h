// The settings property sheet.
#pragma once
#include <windows.h>
#include "state/ini_data.h"
#include "state/screen_place.h"

// The modal sheet over a copy of the settings and of paste.dat's form (*userForm: TRUE when the
// entries are protected for the Windows user). TRUE when the user chose OK: *settings and
// *userForm then hold what the sheet took (the hotkey fields zeroed when no key was typed). FALSE
// on Cancel, and at once while a sheet is already open (it is brought forward); both are then as
// they were. Storing, registering the hotkey and saving are the caller's.
// With rules, a third page edits a copy of them; *rules takes it on OK when that page was opened.
struct AppRules;
BOOL ShowSettingsSheet(HWND parent, IniData *settings, BOOL *userForm, AppRules *rules = nullptr);
INT_PTR CALLBACK MenuPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK OtherPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
// Moves the sheet, centred, onto the work area of the mouse's monitor: where the user works.
void PlaceSheetWhereUserWorks(HWND sheet);
// Grows the sheet until every control of the page lies inside the page area.
void FitSheetToPage(HWND sheet, HWND page);

// The hotkey control and RegisterHotKey name the same modifiers with different bits.
UINT HotkeyFlagsToMods(BYTE hotkeyFlags);  // HOTKEYF_* to MOD_*; HOTKEYF_EXT is dropped
BYTE ModsToHotkeyFlags(UINT mods);         // MOD_* to HOTKEYF_*

extern HWND g_settingsSheet;  // the open sheet's frame window; null while none is open
