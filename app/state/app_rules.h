// Per-application rules: what the program does while a given application is in front, and the
// file "apps.dat" that keeps them beside ini.dat.
#pragma once
#include <windows.h>

// The three switches of a rule.
#define APP_RULE_NO_MENU    1  // a double tap opens nothing there, and the hotkey is given up
#define APP_RULE_NO_RECORD  2  // its copies are not recorded
#define APP_RULE_TYPE       4  // a chosen entry is typed as key events, never put on the clipboard
#define APP_RULE_SWITCHES   (APP_RULE_NO_MENU | APP_RULE_NO_RECORD | APP_RULE_TYPE)

#define APP_RULES_MAX       64
#define APP_EXE_CHARS       128  // an executable's file name with its terminator
#define APP_CAPTION_CHARS   128  // the caption text with its terminator
#define TYPE_DELAY_DEFAULT  10   // ms between typed keys
#define TYPE_DELAY_MIN      0
#define TYPE_DELAY_MAX      1000

struct AppRule {
    WCHAR exe[APP_EXE_CHARS];          // "idea64.exe"; matched without regard to case
    WCHAR caption[APP_CAPTION_CHARS];  // empty, or a text the window's caption must hold too
    int switches;                      // APP_RULE_*
    int typeDelayMs;                   // pause after each typed key
};

struct AppRules {
    BOOL fullScreenQuiet;  // no menu while a full-screen program or a presentation runs
    int count;
    AppRule rules[APP_RULES_MAX];
};

extern AppRules g_appRules;  // the program's rules; the settings sheet edits a copy

// No rules, full-screen quiet on: what a first start has.
void SetDefaultAppRules(AppRules *rules);
// Adds a rule for the executable (switches none, delay default); the index of the new rule, or of
// the one already there for that name and an empty caption; -1 when the name is empty, too long
// or the list is full.
int AddAppRule(AppRules *rules, const WCHAR *exe);
void RemoveAppRule(AppRules *rules, int index);
// Brings every rule into what the program can use: known switches, a delay in range, terminated
// strings; rules with an empty name go.
void ClampAppRules(AppRules *rules);

// The plain image of apps.dat: magic, version, the block of global settings (its size first, so
// a later version may add to it), the rule count and the rules. Freed with HeapFree.
BYTE *MakeAppRulesImage(const AppRules *rules, DWORD *size);
// Results of ParseAppRulesImage.
#define APP_RULES_IMAGE_OK      0
#define APP_RULES_IMAGE_BAD     1  // not ours, or damaged: *rules holds the defaults
#define APP_RULES_IMAGE_NEWER   2  // written by a newer version: *rules holds the defaults
int ParseAppRulesImage(const BYTE *image, DWORD size, AppRules *rules);

// Results of LoadAppRules beyond the DATA_FILE_* ones of data_files.h.
#define APP_RULES_FILE_NEWER 3  // a newer version's file: the program runs without rules, never writes over it
// Loads apps.dat into *rules, or the defaults; DATA_FILE_NONE, DATA_FILE_LOADED, DATA_FILE_UNREADABLE
// (kept as .bak, see DataFileUnreadable(DATA_RULES)) or APP_RULES_FILE_NEWER.
int LoadAppRules(AppRules *rules);
// apps.dat written; never over a newer version's file, nor over an unreadable one not yet copied.
BOOL SaveAppRules(const AppRules *rules);
// The last load found a newer version's file.
BOOL AppRulesFileNewer();

// The file name of the executable of the process (its image, "idea64.exe"); empty and FALSE when
// the process cannot be opened. Cached by process id and creation time, since ids are reused.
BOOL ExecutableOfProcess(DWORD processId, WCHAR exe[APP_EXE_CHARS]);
// Forgets every cached name (tests).
void ForgetExecutableNames();
