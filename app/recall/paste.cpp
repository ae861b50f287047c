// The chosen entry goes into the application that had the focus: through the clipboard and a
// synthesized Ctrl+V; a registered entry line by line with a Tab between the lines. The typing
// never sleeps: this thread is the target of the keyboard hook, so every wait handles messages.
#include "recall/recall_internal.h"
#include <assert.h>
#include "state/ini_data.h"

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
    if (g_sendInputRoute(4, inputs, sizeof(INPUT)) > 0)
        ExpectOwnKeyEvents(&g_ownKeys, 2, GetTickCount());
}

void SendTab()
{
    INPUT inputs[2];
    FillKeyInput(&inputs[0], VK_TAB, KEYEVENTF_EXTENDEDKEY);
    FillKeyInput(&inputs[1], VK_TAB, KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP);
    g_sendInputRoute(2, inputs, sizeof(INPUT));
}

void CopyEntryToClipboard(HWND owner, ItemId id)
{
    const Item *item = ItemStore::Find(id);
    if (item)
        ClipboardSetText(owner, item->text);
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

// The thread typed into: the one of the window that had the focus when the menu opened.
static DWORD TargetThread()
{
    HWND target = g_focusSnapshot.focusWindow ? g_focusSnapshot.focusWindow : g_focusSnapshot.foregroundWindow;
    return target ? GetWindowThreadProcessId(target, nullptr) : 0;
}

// Returns once the clipboard programs that read the new line are done with it (see
// CLIPBOARD_SETTLE_MS); FALSE when the typing must stop.
static BOOL WaitForClipboardReaders()
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

// One line through the clipboard; returns once the target has read it, or after LINE_TAKE_WAIT_MS.
static BOOL TypeLine(const WCHAR *line, BOOL tabAfter, DWORD targetThread)
{
    // Ctrl+V goes out even when the clipboard could not be had: the target pastes what it holds,
    // and there is no line of ours to wait for.
    BOOL offered = OfferLineOnClipboard(line, targetThread);
    if (offered && !WaitForClipboardReaders())
        return FALSE;
    SendCtrlV();
    if (tabAfter)
        SendTab();
    return WaitPumping(offered ? LINE_TAKE_WAIT_MS : 0, &g_offeredLine.taken);
}

void TypeRegisteredEntry(HWND owner, ItemId id)
{
    const Item *item = ItemStore::Find(id);
    if (!item || g_pasteStopRequested)
        return;
    int length = lstrlenW(item->text);
    HANDLE heap = GetProcessHeap();
    WCHAR *source = (WCHAR *)HeapAlloc(heap, HEAP_ZERO_MEMORY, 2 * length + 2);
    WCHAR *line = (WCHAR *)HeapAlloc(heap, HEAP_ZERO_MEMORY, 2 * length + 2);
    if (source && line) {
        CopyMemory(source, item->text, 2 * length);
        WCHAR *earlierText = ClipboardGetText(owner);  // put back when the paste ends
        DWORD targetThread = TargetThread();
        // In range since the load (ClampIniData): an altered ini.dat cannot turn the pause into a hang.
        int pause = g_ini.pasteWaitMs;
        assert(pause >= PASTE_WAIT_MIN && pause <= PASTE_WAIT_MAX);
        int position = 0, lineLength = 0;
        BOOL going = TRUE;
        while (going) {
            int step = TakeTypingStep(source, length, &position, line, &lineLength);
            if (step == TYPE_STEP_END)
                break;
            if (step == TYPE_STEP_LINE) {
                going = TypeLine(line, TRUE, targetThread);
                lineLength = 0;
                line[0] = 0;
            }
            // The user's pause comes on top of the wait for the target.
            going = going && WaitPumping(pause, nullptr);
        }
        if (going)
            TypeLine(line, FALSE, targetThread);
        FinishPasteClipboard(earlierText, g_pasteStopRequested);
        if (earlierText)
            GlobalFree(earlierText);
    }
    if (source)
        HeapFree(heap, 0, source);
    if (line)
        HeapFree(heap, 0, line);
}

void PasteChosenEntry(HWND owner, int identifier)
{
    int kind = ItemStore::KindOf(identifier);
    if (kind == History) {
        // Set first, so that the capture takes the text again as the newest copy.
        g_busyFlag = BUSY_HISTORY_PASTE;
        CopyEntryToClipboard(owner, identifier);
        SendCtrlV();
    } else if (kind == Registered) {
        TypeRegisteredEntry(owner, identifier);
    }
}
