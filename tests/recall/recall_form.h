// The window that the recall tests type into: three edit fields, Tab moves the focus between them.
// It never takes the foreground by itself.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

struct TestForm {
    HWND window;
    HWND field1;
    HWND field2;
    HWND field3;
};

// A target slow to read: each field waits this long on a paste before it reads the clipboard.
extern DWORD FieldPasteDelayMs;

bool CreateTestForm(TestForm *form);
void DestroyTestForm(TestForm *form);
// Brings the form to the foreground with the focus in field 1 (or 2); true when that holds.
bool FocusTestField(const TestForm &form, int field);
std::wstring FieldText(HWND field);

// A thread that plays the user at an open popup menu: waits for a visible window of class
// "#32768", notes when it appeared, then presses the keys.
struct MenuPlayer {
    std::vector<WORD> keys;
    DWORD timeoutMs;
    DWORD seenTick;  // GetTickCount when the menu was first seen visible; 0 if never
    HWND menuWindow;
    RECT menuRect;   // where it was first seen
    HANDLE thread;
};
void StartMenuPlayer(MenuPlayer *player, const std::vector<WORD> &keys, DWORD timeoutMs = 5000);
// Waits for the thread, pumping meanwhile; true when it saw a menu.
bool FinishMenuPlayer(MenuPlayer *player);

// A second clipboard viewer that keeps to the chain's protocol and counts what reaches it.
extern int ViewerDraws;
extern int ViewerChangeNotes;
extern HWND ViewerNext;  // the viewer after it
LRESULT CALLBACK CountingViewerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
