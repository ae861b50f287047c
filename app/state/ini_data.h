// The settings record: its 76-byte image is the whole of ini.dat.
#pragma once
#include <windows.h>
#include <stddef.h>

// What opens the popup menu: ini.dat's menuKeyMode, and the item's index in the sheet's list.
enum MenuKeyMode {
    MENU_KEY_SHIFT = 0,  // Shift twice
    MENU_KEY_CTRL = 1,   // Ctrl twice
    MENU_KEY_ALT = 2,    // Alt twice
    MENU_KEY_HOTKEY = 3, // the hotkey
};

struct IniData {
    int pasteWaitMs;     // pause after every character of a registered paste, ms
    int menuKeyMode;     // a MenuKeyMode
    int hotkeyVk;        // virtual key of the menu hotkey; 0 = none
    int hotkeyMods;      // MOD_ALT 1, MOD_CONTROL 2, MOD_SHIFT 4
    int menuItemChars;   // characters shown per label
    int menuWrapCount;   // entries per popup-menu block
    int historyMax;      // copy-history entries kept
    int treeWidth;       // editor tree pane width, pixels
    WINDOWPLACEMENT editorPlacement;  // showCmd 0 = never recorded
};

static_assert(sizeof(WINDOWPLACEMENT) == 44, "WINDOWPLACEMENT is 44 bytes");
static_assert(sizeof(IniData) == 76, "ini.dat holds exactly 76 bytes");
static_assert(offsetof(IniData, pasteWaitMs) == 0, "offset");
static_assert(offsetof(IniData, menuKeyMode) == 4, "offset");
static_assert(offsetof(IniData, hotkeyVk) == 8, "offset");
static_assert(offsetof(IniData, hotkeyMods) == 12, "offset");
static_assert(offsetof(IniData, menuItemChars) == 16, "offset");
static_assert(offsetof(IniData, menuWrapCount) == 20, "offset");
static_assert(offsetof(IniData, historyMax) == 24, "offset");
static_assert(offsetof(IniData, treeWidth) == 28, "offset");
static_assert(offsetof(IniData, editorPlacement) == 32, "offset");
static_assert(offsetof(IniData, editorPlacement) + offsetof(WINDOWPLACEMENT, showCmd) == 40, "offset");
static_assert(offsetof(IniData, editorPlacement) + offsetof(WINDOWPLACEMENT, rcNormalPosition) == 60, "offset");

// Ranges of the settings sheet; values loaded from ini.dat are clamped to them once, by
// ClampIniData, so that the rest of the program may count on them.
#define PASTE_WAIT_MIN 0
#define PASTE_WAIT_MAX 1000
#define ITEM_CHARS_MIN 1
#define ITEM_CHARS_MAX 50
#define WRAP_COUNT_MIN 1
#define WRAP_COUNT_MAX 30
#define HISTORY_MAX_MIN 1
#define HISTORY_MAX_MAX 5000
// What the editor's splitter can give: 10 pixels at least; at most what the widest window
// Windows lets the user size (32767) leaves of it.
#define TREE_WIDTH_MIN 10
#define TREE_WIDTH_MAX 32000
// A recorded editor rectangle larger than this, or with a corner farther out, is damage.
#define PLACEMENT_EXTENT_MAX 32767
// The modifier bits RegisterHotKey takes: MOD_ALT, MOD_CONTROL, MOD_SHIFT, MOD_WIN, MOD_NOREPEAT.
#define HOTKEY_MODS_ACCEPTED 0x400F

extern IniData g_ini;  // the program's settings; written to ini.dat only at shutdown

// The values used when ini.dat cannot be loaded: the record is zeroed first.
void SetDefaultIniData(IniData *ini);
// Brings every field back into what the program can use: the settings sheet's ranges, the
// splitter's limits for treeWidth, a sane editorPlacement (else "never recorded"), a virtual
// key of 1 to 254 (else no hotkey) with only the modifiers RegisterHotKey takes.
void ClampIniData(IniData *ini);
// FALSE for a key that types (a letter, a digit, Space, Enter, Tab, Backspace, punctuation, the
// number pad) or navigates (Esc, Insert, Delete, Home, End, Page Up/Down, the arrows) without
// Ctrl or Alt: held system-wide, it would take that key from every program. Function keys and
// the like alone are fine; so is no key (0).
BOOL HotkeyAllowed(int vk, int mods);
// The menu hotkey is registered only in hotkey mode, and only when it is a key and allowed.
BOOL MenuHotkeyWanted(const IniData *ini);
// Never recorded (showCmd 0), or a known showCmd with a non-empty rectangle of sane size.
BOOL PlacementIsSane(const WINDOWPLACEMENT *placement);
