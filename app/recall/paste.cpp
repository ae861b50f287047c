// The chosen entry goes into the application that had the focus: through the clipboard and a
// synthesized Ctrl+V; a registered entry line by line with a Tab between the lines. The typing
// never sleeps: this thread is the target of the keyboard hook, so every wait handles messages.
#include "recall/paste.h"
#include "recall/clipboard.h"
#include "recall/focus.h"
#include "recall/app_decide.h"
#include "recall/paste_typing.h"
#include "res/resource.h"
#include <assert.h>
#include "recall/paste_guard.h"
#include "state/ini_data.h"
#include "state/wiped_memory.h"

SendInputFunction g_sendInputRoute = SendInput;

static void FillKeyInput(INPUT *input, WORD vk, DWORD flags)
{
    ZeroMemory(input, sizeof(*input));
    input->type = INPUT_KEYBOARD;
    input->ki.wVk = vk;
    input->ki.wScan = (WORD)MapVirtualKeyW(vk, 0);
    input->ki.dwFlags = flags;
}

// The extended-key flag rides on every event, presses included.
void SendCtrlV()
{
    INPUT inputs[4];
    FillKeyInput(&inputs[0], VK_CONTROL, KEYEVENTF_EXTENDEDKEY);
    FillKeyInput(&inputs[1], 'V', KEYEVENTF_EXTENDEDKEY);
    FillKeyInput(&inputs[2], 'V', KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP);
    FillKeyInput(&inputs[3], VK_CONTROL, KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP);
    g_sendInputRoute(4, inputs, sizeof(INPUT));
}

void SendTab()
{
    INPUT inputs[2];
    FillKeyInput(&inputs[0], VK_TAB, KEYEVENTF_EXTENDEDKEY);
    FillKeyInput(&inputs[1], VK_TAB, KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP);
    g_sendInputRoute(2, inputs, sizeof(INPUT));
}

int TakeTypingStep(const WCHAR *source, int length, int *position, WCHAR *line, int *lineLength)
{
    if (*position >= length) {
        line[*lineLength] = 0;
        return TYPE_STEP_END;
    }
    WCHAR ch = source[*position];
    if (ch == L'\r') {
        line[*lineLength] = 0;
        // The LF of a CR LF pair goes with it; after a lone CR, whatever stands there goes.
        *position += *position + 1 < length ? 2 : 1;
        return TYPE_STEP_LINE;
    }
    line[(*lineLength)++] = ch;
    (*position)++;
    return TYPE_STEP_CHAR;
}

BOOL g_pasteStopRequested;

void StopTyping()
{
    g_pasteStopRequested = TRUE;
}

BOOL WaitPumping(DWORD milliseconds, const BOOL *done)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (!g_pasteStopRequested && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // The main loop must still see it, or the program never ends.
                PostQuitMessage((int)msg.wParam);
                g_pasteStopRequested = TRUE;
                break;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (g_pasteStopRequested)
            return FALSE;
        if (done && *done)
            return TRUE;
        DWORD spent = GetTickCount() - start;
        if (spent >= milliseconds)
            return TRUE;
        MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds - spent, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

BOOL DecideKeyMayGo(HWND recordedForeground, HWND recordedFocus, HWND foregroundNow, HWND focusNow,
                    BOOL focusInForeground, BOOL firstKey)
{
    if (!recordedForeground || foregroundNow != recordedForeground)
        return FALSE;
    // Unchanged, also for a window whose focus is not known at all.
    if (focusNow == recordedFocus)
        return TRUE;
    return (!firstKey || !recordedFocus) && focusInForeground;
}

// A registered paste: the caption of the window typed into, read before its first key, and why it
// stopped (PASTE_STOP_*). A copy-history paste checks no caption.
static BOOL g_captionRecorded;
static WCHAR g_recordedCaption[PASTE_CAPTION_CHARS];
static int g_pasteStopReason;

// DecideKeyMayGo with the foreground and focus as they are now, without waiting, and for a
// registered paste the caption. Asks without attaching to the foreground thread: attached, this
// thread would share its input state while the keys go out.
static BOOL CheckKeyMayGoNow(BOOL firstKey)
{
    HWND foreground = GetForegroundWindow();
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    DWORD thread = foreground ? GetWindowThreadProcessId(foreground, nullptr) : 0;
    HWND focus = thread && GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
    BOOL inForeground = focus && (focus == foreground || IsChild(foreground, focus));
    if (!DecideKeyMayGo(g_focusSnapshot.foregroundWindow, g_focusSnapshot.focusWindow, foreground, focus,
                        inForeground, firstKey)) {
        g_pasteStopReason = PASTE_STOP_WINDOW;
        return FALSE;
    }
    if (g_captionRecorded) {
        WCHAR caption[PASTE_CAPTION_CHARS];
        ReadWindowCaption(foreground, caption);
        if (CaptionChangeStopsPaste(g_recordedCaption, caption)) {
            g_pasteStopReason = PASTE_STOP_CAPTION;
            return FALSE;
        }
    }
    g_pasteStopReason = PASTE_STOP_NONE;
    return TRUE;
}

// Right after the menu closes the focus may still be on its way back: the target handles its
// activation on its own thread. The first key waits this long for the recorded window and focus.
#define FIRST_KEY_SETTLE_MS 500

BOOL WaitUntilKeyMayGo(BOOL firstKey)
{
    DWORD start = GetTickCount();
    while (!CheckKeyMayGoNow(firstKey)) {
        if (!firstKey || GetTickCount() - start >= FIRST_KEY_SETTLE_MS || !WaitPumping(10, nullptr))
            return FALSE;
    }
    return TRUE;
}

// Before a synthesized key: the user's Shift, Ctrl, Alt and Win are up, waited for while messages
// are handled. FALSE when they stay down (the paste stops) or the typing must stop.
static BOOL WaitUntilModifiersReleased()
{
    DWORD start = GetTickCount();
    while (UserHoldsModifier()) {
        if (GetTickCount() - start >= MODIFIER_RELEASE_WAIT_MS) {
            g_pasteStopReason = PASTE_STOP_KEYS_HELD;
            return FALSE;
        }
        if (!WaitPumping(10, nullptr))
            return FALSE;
    }
    return TRUE;
}

// The checks of a key: modifiers first, since their wait may see the user turn to another window.
static BOOL WaitUntilKeyAndModifiersMayGo(BOOL firstKey)
{
    return WaitUntilModifiersReleased() && WaitUntilKeyMayGo(firstKey);
}

// The thread typed into: the one of the window that had the focus when the menu opened.
static DWORD TargetThread()
{
    HWND target = g_focusSnapshot.focusWindow ? g_focusSnapshot.focusWindow : g_focusSnapshot.foregroundWindow;
    return target ? GetWindowThreadProcessId(target, nullptr) : 0;
}

BOOL WaitForClipboardReaders()
{
    DWORD start = GetTickCount();
    DWORD freeSince = start;
    for (;;) {
        DWORD now = GetTickCount();
        if (!ClipboardIsFree())
            freeSince = now;
        else if (now - freeSince >= CLIPBOARD_SETTLE_MS)
            return TRUE;
        if (now - start >= CLIPBOARD_SETTLE_MAX_MS)
            return TRUE;
        if (!WaitPumping(1, nullptr))
            return FALSE;
    }
}

// One line through the clipboard; FALSE when the typing ends here: stopped, the line could not be
// placed, or the keys would no longer reach the window chosen. Returns once the target has read
// the line, or after LINE_TAKE_WAIT_MS.
static BOOL TypeLine(HWND owner, const WCHAR *line, BOOL tabAfter, BOOL firstLine, SavedClipboard *earlier)
{
    if (!WaitUntilKeyMayGo(firstLine))
        return FALSE;
    // Read once the recorded window is in front again, before anything of the entry goes out.
    if (!g_captionRecorded) {
        ReadWindowCaption(g_focusSnapshot.foregroundWindow, g_recordedCaption);
        g_captionRecorded = TRUE;
    }
    TakeUsersClipboard(owner, earlier);
    RememberTypedLine(&g_typedLines, line);
    // A Ctrl+V without the line pastes whatever the clipboard holds: nothing goes then.
    if (!OfferLineOnClipboard(line, TargetThread()) || !WaitForClipboardReaders())
        return FALSE;
    if (!WaitUntilKeyAndModifiersMayGo(firstLine))
        return FALSE;
    SendCtrlV();
    g_offeredLine.pasted = TRUE;
    g_offeredLine.pastedAt = GetTickCount();
    if (tabAfter) {
        if (!WaitUntilModifiersReleased() || !CheckKeyMayGoNow(FALSE))
            return FALSE;
        SendTab();
    }
    return WaitPumping(LINE_TAKE_WAIT_MS, &g_offeredLine.taken);
}

void TypeRegisteredEntry(HWND owner, ItemId id)
{
    const Item *item = ItemStore::Find(id);
    if (!item || g_pasteStopRequested)
        return;
    int length = lstrlenW(item->text);
    HANDLE heap = GetProcessHeap();
    g_captionRecorded = FALSE;
    g_pasteStopReason = PASTE_STOP_NONE;
    StartTypedLines(&g_typedLines);
    WCHAR *source = (WCHAR *)HeapAlloc(heap, HEAP_ZERO_MEMORY, 2 * length + 2);
    WCHAR *line = (WCHAR *)HeapAlloc(heap, HEAP_ZERO_MEMORY, 2 * length + 2);
    if (source && line) {
        CopyMemory(source, item->text, 2 * length);
        SavedClipboard earlier = {};  // taken before the first line, put back when the paste ends
        // In range since the load (ClampIniData): an altered ini.dat cannot turn the pause into a hang.
        int pause = g_ini.pasteWaitMs;
        assert(pause >= PASTE_WAIT_MIN && pause <= PASTE_WAIT_MAX);
        int position = 0, lineLength = 0;
        BOOL going = TRUE, firstLine = TRUE;
        while (going) {
            int step = TakeTypingStep(source, length, &position, line, &lineLength);
            if (step == TYPE_STEP_END)
                break;
            if (step == TYPE_STEP_LINE) {
                going = TypeLine(owner, line, TRUE, firstLine, &earlier);
                firstLine = FALSE;
                lineLength = 0;
                line[0] = 0;
            }
            // The user's pause comes on top of the wait for the target.
            going = going && WaitPumping(pause, nullptr);
        }
        if (going)
            going = TypeLine(owner, line, FALSE, firstLine, &earlier);
        FinishPasteClipboard(&earlier);
        // Told once the clipboard is back; an exit asked is no stop to tell of.
        if (!going && g_pasteStopReason != PASTE_STOP_NONE && !g_pasteStopRequested)
            PostMessageW(owner, WM_PASTE_STOPPED, (WPARAM)g_pasteStopReason, 0);
    }
    EndTypedLines(&g_typedLines, GetTickCount());
    g_captionRecorded = FALSE;
    HeapFreeWiped(source);
    HeapFreeWiped(line);
}

// Its Ctrl+V goes only to the window chosen, only with the entry really on the clipboard, and only
// once the programs that read the new clipboard have let go of it.
static void PasteHistoryEntry(HWND owner, ItemId id)
{
    if (!WaitUntilKeyMayGo(TRUE))
        return;
    // The text is the entry's own copy: the look at a change made meanwhile may move the entry.
    const Item *item = ItemStore::Find(id);
    int length = item ? lstrlenW(item->text) : 0;
    WCHAR *text = item ? (WCHAR *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 2 * length + 2) : nullptr;
    if (!text)
        return;
    CopyMemory(text, item->text, 2 * length);
    CaptureChangeMadeMeanwhile(owner);
    // Set first, so that the capture takes the text again as the newest copy.
    g_busyState = BUSY_HISTORY_PASTE;
    if (ClipboardSetText(owner, text) && WaitForClipboardReaders() && WaitUntilKeyAndModifiersMayGo(TRUE))
        SendCtrlV();
    HeapFree(GetProcessHeap(), 0, text);
}

void PasteChosenEntry(HWND owner, int identifier)
{
    int kind = ItemStore::KindOf(identifier);
    int delayMs = 0;
    // Typed, the entry never reaches the clipboard; both kinds keep the busy state of the menu.
    if ((kind == History || kind == Registered) && TypesInsteadOfPasteOver(g_focusSnapshot.foregroundWindow, &delayMs)) {
        if (!TypeEntryAsKeys(identifier, delayMs))
            PostMessageW(owner, WM_RECALL_NOTICE, IDS_TYPING_TOO_LONG, 0);
        return;
    }
    if (kind == History)
        PasteHistoryEntry(owner, identifier);
    else if (kind == Registered)
        TypeRegisteredEntry(owner, identifier);
}
