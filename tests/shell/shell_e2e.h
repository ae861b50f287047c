// What the end-to-end tests of the shell share: message boxes of the real tavo.exe read and
// answered, copies started in scratch folders and ended when a check failed.
#pragma once
#include <windows.h>
#include <string>
#include "test_util.h"

// The concatenated texts of the static controls of a message box.
std::wstring BoxText(HWND box);
void PressOk(HWND box);
// Presses a button of a box by its id (IDRETRY, IDCANCEL, ...).
void PressButton(HWND box, int id);
// Copies the program into dir and starts it without waiting for its window.
bool LaunchCopy(const std::wstring &dir, PROCESS_INFORMATION *process);
void CloseHandles(PROCESS_INFORMATION *process);

// Ends a copy that a failed check left running, so that the next case can start one.
struct EndAtExit {
    TavoProcess *tavo;
    ~EndAtExit();
};

// Starts tavo with the clipboard emptied first (joining the viewer chain captures what it holds).
// The main window is found while its creation still runs, and a message sent to it can be handled
// inside that creation (while the tray icon is being added, before the entries are loaded); so
// this waits until the window has joined the viewer chain, the step after the loading, or until a
// warning box stops the creation.
bool StartClean(const std::wstring &dir, TavoProcess *tavo);
