// What keeps a registered paste where the user meant it, beyond the window and focus checks: the
// caption of the window typed into, the modifiers the user still holds, and the typed lines that
// come back to the clipboard without their markers.
#pragma once
#include <windows.h>

// ---- The caption of the window typed into ----

#define PASTE_CAPTION_CHARS 512  // a longer caption is compared by its start
// TRUE when `now` differs from `recorded` in more than digits, spaces and marks: a page that
// counts unread messages ("Inbox (3)") or marks unsaved changes ("*Untitled") goes on; another
// page of the same browser window ("Bank - Login" to "Chat - general") stops the paste.
BOOL CaptionChangeStopsPaste(const WCHAR *recorded, const WCHAR *now);
// The window's caption as the system keeps it, without a message to a window that may hang;
// "" when there is none.
void ReadWindowCaption(HWND window, WCHAR *caption);  // caption: PASTE_CAPTION_CHARS units

// ---- Modifiers held by the user ----

// A key of a paste waits this long for the user to let go of Shift, Ctrl, Alt and Win: under
// them Ctrl+V would become Ctrl+Shift+V and Tab Shift+Tab. Their release is never synthesized,
// since a synthesized Alt release opens the target's menu bar.
#define MODIFIER_RELEASE_WAIT_MS 2000
// TRUE while the keyboard has Shift, Ctrl, Alt or a Windows key down.
BOOL UserHoldsModifier();

// ---- Typed lines that come back ----

// Clipboard sharing of Remote Desktop and virtual machines puts a typed line back without its
// markers, also after the paste. The lines of the last registered paste are kept as hashes (never
// as text) until this long after it ended; such a copy is not recorded, and not put back as the
// user's clipboard.
#define TYPED_LINES_KEEP_MS 10000
#define TYPED_LINES_MAX 256  // lines of one paste beyond this are not remembered
struct TypedLineMemory {
    ULONGLONG hashes[TYPED_LINES_MAX];
    int count;
    BOOL typing;    // a registered paste runs: its lines count whatever the time
    DWORD endedAt;  // tick count when the last one ended
};
extern TypedLineMemory g_typedLines;
void StartTypedLines(TypedLineMemory *memory);  // a registered paste starts: the last one's lines go
void RememberTypedLine(TypedLineMemory *memory, const WCHAR *line);
void EndTypedLines(TypedLineMemory *memory, DWORD now);
// TRUE when the text (`length` units, no terminator needed) is one of the remembered lines and
// they still count at `now`.
BOOL IsRecentTypedLine(const TypedLineMemory *memory, const WCHAR *text, int length, DWORD now);
