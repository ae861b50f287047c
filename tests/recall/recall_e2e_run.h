// What the end-to-end tests of capture and recall share: a real tavo.exe started in a folder of
// its own with the form that the test types into, and the user's taps.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "recall_form.h"
#include "state/ini_data.h"
#include "test_util.h"

// Default settings with the trigger mode and a short paste pause (20 ms).
IniData TestIni(int menuKeyMode);

// A running tavo.exe in a folder of its own and the form that this program types into.
struct TavoRun {
    std::wstring dir;
    TavoProcess tavo = {};
    TestForm form = {};
    Bytes appsFile;  // written as apps.dat before the start when not empty
    bool Start(const wchar_t *name, const IniData &ini, const std::vector<PasteRecord> *entries);
    // Ends the program (its exit code must be 0) and returns what it saved in paste.dat.
    std::vector<PasteRecord> Stop();
    ~TavoRun();
};

// A tap whose events pass through this thread's queue, where the hook forwards them.
void PlayTap(WORD vk);
void PlayDoubleTap(WORD vk);
// After a tap sequence: a menu seen within the time, or none.
bool MenuOpensWithin(DWORD ms);

// The find box of a running tavo.exe, read from this process.
struct FindBoxView {
    HWND box = nullptr;
    HWND edit = nullptr;
    HWND list = nullptr;
};
// Waits for the box (its title from the string table) to be visible; false after the time.
bool WaitForFindBox(const TavoRun &s, FindBoxView *view, DWORD ms);
std::wstring FindBoxText(const FindBoxView &view);
// The rows as the list shows them, read through tavo's own memory (the list is owner-data).
std::vector<std::wstring> FindBoxRows(const TavoRun &s, const FindBoxView &view);
int FindBoxSelection(const FindBoxView &view);  // -1 for none
