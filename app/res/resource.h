// Resource and command identifiers of tavo.exe, shared by the program and its .rc files.
#pragma once

// Version of tavo.exe, as the file properties show it; AppTitle carries the same number.
#include "tavo_version.h"

// The caption of every message box of the program.
#define APP_CAPTION L"tavo"

#define IDI_APP              101
#define IDI_ENTRY            102
#define IDI_FOLDER           103
#define IDM_TRAY             104
#define IDM_EDITOR           105
#define IDB_TOOLBAR          106
// The toolbar strip at 125, 150 and 200 % (106 is the strip at 100 %).
#define IDB_TOOLBAR_125      120
#define IDB_TOOLBAR_150      121
#define IDB_TOOLBAR_200      122
#define IDD_PAGE_MENU        107
#define IDD_PAGE_OTHER       108
#define IDC_DRAG_NODROP      109
#define IDC_DRAG_MOVE        110
#define IDC_DRAG_COPY        111
#define IDD_FIND             112
#define IDD_PAGE_APPS        113

// Tray menu commands.
#define IDM_EXIT             40001
#define IDM_ABOUT            40002
#define IDM_STARTUP          40003
#define IDM_CLEAR_HISTORY    40004
#define IDM_SETTINGS         40005
#define IDM_EDIT_DATA        40006

// Editor commands: the toolbar's (40008-40012, 40018, 40019) double as string ids of their tooltips.
#define IDM_EDITOR_CLOSE     40007
#define IDT_CUT              40008
#define IDT_COPY             40009
#define IDT_PASTE            40010
#define IDT_DELETE           40011
#define IDT_ADD              40012
#define IDM_EDITOR_CUT       40013
#define IDM_EDITOR_COPY      40014
#define IDM_EDITOR_PASTE     40015
#define IDM_EDITOR_DELETE    40016
#define IDM_EDITOR_ADD       40017
#define IDT_DOWN             40018
#define IDT_UP               40019
#define IDM_EDITOR_UP        40020
#define IDM_EDITOR_DOWN      40021

// Texts of the string tables, read in the interface language with LoadUiText (lang/ui_language.h).
#define IDS_ALREADY_RUNNING       3001
#define IDS_HOOK_FAILED           3002
#define IDS_HOTKEY_FAILED         3003
#define IDS_UNHOOK_FAILED         3004
#define IDS_ABOUT_CAPTION         3005
#define IDS_FILE_NOT_REPLACED     3006  // %s twice: the file's name
#define IDS_FILE_NOT_SAVED        3007  // %s: the file's name
#define IDS_SAVE_AT_EXIT_CHOICES  3008  // retry, end without saving, or stay
#define IDS_SAVE_AGAIN_AT_EXIT    3009
#define IDS_SAVE_CHANGES_LOST     3010
#define IDS_UNREADABLE_PROTECTED  3011  // %s twice
#define IDS_UNREADABLE_KEPT       3012  // %s twice
#define IDS_EDITOR_ALREADY_OPEN   3013
#define IDS_EDITOR_NOT_CREATED    3014
#define IDS_FIND_TITLE            3015
#define IDS_FIND_NO_MATCH         3016
#define IDS_HOTKEY_TYPES          3017
#define IDS_EDITOR_TITLE          3018
#define IDS_HISTORY_GROUP         3019
#define IDS_REGISTERED_GROUP      3020
#define IDS_NEW_HISTORY_NAME      3021
#define IDS_NEW_REGISTERED_NAME   3022
#define IDS_MENU_NO_HISTORY       3023
#define IDS_MENU_REGISTERED       3024  // starts with the "L" that opens it
#define IDS_MENU_BLOCK            3025  // %d: the number of the block's first entry
#define IDS_SETTINGS_TITLE        3026
#define IDS_MENU_KEY_OTHER        3027
#define IDS_DEFAULT_ENTRY_NAME    3028  // the registered entry of the first start
#define IDS_DEFAULT_ENTRY_TEXT    3029
#define IDS_PASTE_STOPPED_WINDOW  3030  // the balloon when a registered paste stops: another window or field
#define IDS_PASTE_STOPPED_CAPTION 3031  // ... the window's caption changed
#define IDS_PASTE_STOPPED_KEYS    3032  // ... Shift, Ctrl, Alt or Win stayed down
#define IDS_ITEMS_LOCKED          3033  // paste.dat cannot be unprotected: start empty or end
#define IDS_ITEMS_NOT_MOVED       3034
#define IDS_ITEMS_LOCKED_KEPT     3035  // %s: the file's name
#define IDS_PROTECT_ITEMS         3036  // the check box of the その他 page
#define IDS_PROTECT_ITEMS_NOTE    3037
#define IDS_MENU_MORE             3038  // %d: the entries beyond the menu's bound
#define IDS_FILE_HELD_ELSEWHERE   3039  // %s twice: the file's name, the name of the file holding its contents

// Texts of the per-application rules: the settings page "アプリ別" and what the program tells.
#define IDS_APPS_COLUMN_APP       3101
#define IDS_APPS_COLUMN_SWITCHES  3102
#define IDS_APPS_COLUMN_CAPTION   3103
#define IDS_APPS_ADD              3104
#define IDS_APPS_REMOVE           3105
#define IDS_APPS_NO_MENU          3106
#define IDS_APPS_NO_RECORD        3107
#define IDS_APPS_TYPE             3108
#define IDS_APPS_CAPTION          3109
#define IDS_APPS_DELAY            3110
#define IDS_APPS_MS               3111
#define IDS_APPS_FULLSCREEN       3112
#define IDS_APPS_NAME             3113
#define IDS_APPS_MARK_NO_MENU     3114  // the short marks of the switches column
#define IDS_APPS_MARK_NO_RECORD   3115
#define IDS_APPS_MARK_TYPE        3116
#define IDS_APPS_NOT_ADDED        3117
#define IDS_RULES_FILE_NEWER      3118  // %s: the file's name
#define IDS_TYPING_TOO_LONG       3119

// Editor controls.
#define IDC_EDITOR_TREE      2005
#define IDC_EDITOR_TEXT      2006
#define IDC_EDITOR_TOOLBAR   2007
#define IDC_EDITOR_PANE      2008

// Find box controls.
#define IDC_FIND_EDIT        2101
#define IDC_FIND_LIST        2102

// Settings page controls.
#define IDC_PASTE_WAIT       1001
#define IDC_ITEM_CHARS       1002
#define IDC_WRAP_COUNT       1003
#define IDC_HISTORY_MAX      1004
#define IDC_PASTE_WAIT_SPIN  1005
#define IDC_ITEM_CHARS_SPIN  1006
#define IDC_WRAP_COUNT_SPIN  1007
#define IDC_HISTORY_MAX_SPIN 1008
#define IDC_HOTKEY           1009
#define IDC_MENU_KEY         1010
#define IDC_PROTECT_ITEMS    1026
#define IDC_PROTECT_NOTE     1027

// Controls of the page "アプリ別", in tab order.
#define IDC_APP_LIST         1011
#define IDC_APP_NAME_LABEL   1012
#define IDC_APP_NAME         1013
#define IDC_APP_ADD          1014
#define IDC_APP_REMOVE       1015
#define IDC_APP_NO_MENU      1016
#define IDC_APP_NO_RECORD    1017
#define IDC_APP_TYPE         1018
#define IDC_APP_CAPTION_LABEL 1019
#define IDC_APP_CAPTION      1020
#define IDC_APP_DELAY_LABEL  1021
#define IDC_APP_DELAY        1022
#define IDC_APP_DELAY_SPIN   1023
#define IDC_APP_DELAY_UNIT   1024
#define IDC_FULLSCREEN_QUIET 1025
