// When and how the program writes its two files, and what the user is told when that fails.
// A failed save is never silent: at exit the user may retry or stay running with everything in
// memory; at logoff or shutdown the files are written before any box can appear.
#include "shell/shell.h"
#include "editor/editor.h"
#include "state/data_files.h"
#include "state/ini_data.h"
#include "state/item_store.h"

#include "res/resource.h"

// A message text of the string table; empty when it cannot be read.
static const WCHAR *MessageText(UINT id, WCHAR *buffer, int room)
{
    if (LoadStringW(GetModuleHandleW(nullptr), id, buffer, room) <= 0)
        buffer[0] = 0;
    return buffer;
}

#define SESSION_END_RETRY_MS 2000
#define SESSION_END_RETRY_STEP_MS 100

static IdleSaveState g_idleSave;
static BOOL g_idleSaveRunning;  // its failure box is open: no second save under it
static DWORD(*g_idleSaveClock)();

void SetIdleSaveClockForTests(DWORD (*clock)())
{
    g_idleSaveClock = clock;
}

static DWORD IdleSaveNow()
{
    return g_idleSaveClock ? g_idleSaveClock() : GetTickCount();
}

int SaveDataFiles(int files)
{
    int failed = 0;
    if ((files & SAVE_INI) && !SaveIniData(&g_ini))
        failed |= SAVE_INI;
    if (files & SAVE_ITEMS) {
        DWORD changeCount = ItemStore::ChangeCount();
        if (SaveItems())
            g_idleSave.savedCount = changeCount;  // any save counts: the idle save has nothing new to write
        else
            failed |= SAVE_ITEMS;
    }
    return failed;
}

BOOL IdleSaveDue(const IdleSaveState *state, DWORD changeCount, DWORD now, BOOL idle)
{
    return idle && changeCount != state->savedCount && now - state->lastAttempt >= IDLE_SAVE_GAP_MS;
}

BOOL NoteIdleSaveAttempt(IdleSaveState *state, BOOL saved, DWORD changeCount, DWORD now)
{
    state->lastAttempt = now;
    if (saved) {
        state->savedCount = changeCount;
        state->failureTold = FALSE;
        return FALSE;
    }
    BOOL tell = !state->failureTold;
    state->failureTold = TRUE;
    return tell;
}

void StartIdleSave(HWND window)
{
    g_idleSave.savedCount = ItemStore::ChangeCount();
    g_idleSave.lastAttempt = IdleSaveNow();
    g_idleSave.failureTold = FALSE;
    g_idleSaveRunning = FALSE;
    SetTimer(window, TIMER_IDLESAVE, IDLE_SAVE_TICK_MS, nullptr);
}

void StopIdleSave(HWND window)
{
    KillTimer(window, TIMER_IDLESAVE);
}

void OnIdleSaveTimer(HWND window, BOOL idle)
{
    DWORD now = IdleSaveNow();
    DWORD changeCount = ItemStore::ChangeCount();
    if (g_idleSaveRunning || !IdleSaveDue(&g_idleSave, changeCount, now, idle))
        return;
    g_idleSaveRunning = TRUE;
    int failed = SaveDataFiles(SAVE_ITEMS);
    if (NoteIdleSaveAttempt(&g_idleSave, !failed, changeCount, now)) {
        WCHAR text[512];
        SaveFailureText(failed, SAVE_ON_CHANGE, text, 512);
        MessageBoxW(window, text, APP_CAPTION, MB_ICONWARNING);
    }
    g_idleSaveRunning = FALSE;
}

static void Append(WCHAR *text, int room, const WCHAR *more)
{
    int length = lstrlenW(text);
    if (length < room - 1)
        lstrcpynW(text + length, more, room - length);
}

// One line per file: a protected file was not replaced on purpose, any other was not written.
static void AppendFailedFile(WCHAR *text, int room, int file, const WCHAR *name)
{
    WCHAR format[128], line[160];
    if (DataFileProtected(file))
        wsprintfW(line, MessageText(IDS_FILE_NOT_REPLACED, format, 128), name, name);
    else
        wsprintfW(line, MessageText(IDS_FILE_NOT_SAVED, format, 128), name);
    Append(text, room, line);
}

void SaveFailureText(int failed, int when, WCHAR *text, int room)
{
    text[0] = 0;
    if (failed & SAVE_INI)
        AppendFailedFile(text, room, DATA_INI, L"ini.dat");
    if (failed & SAVE_ITEMS)
        AppendFailedFile(text, room, DATA_ITEMS, L"paste.dat");
    WCHAR closing[256];
    UINT closingId = when == SAVE_AT_EXIT     ? IDS_SAVE_AT_EXIT_CHOICES
                   : when == SAVE_ON_CHANGE   ? IDS_SAVE_AGAIN_AT_EXIT
                                              : IDS_SAVE_CHANGES_LOST;
    Append(text, room, MessageText(closingId, closing, 256));
}

void UnreadableFileText(int file, WCHAR *text, int room)
{
    const WCHAR *name = file == DATA_INI ? L"ini.dat" : L"paste.dat";
    WCHAR format[128], line[256];
    MessageText(DataFileProtected(file) ? IDS_UNREADABLE_PROTECTED : IDS_UNREADABLE_KEPT, format, 128);
    wsprintfW(line, format, name, name);
    lstrcpynW(text, line, room);
}

void WarnUnreadableDataFiles(HWND owner)
{
    for (int file = DATA_INI; file <= DATA_ITEMS; file++) {
        if (!DataFileUnreadable(file))
            continue;
        WCHAR text[256];
        UnreadableFileText(file, text, 256);
        MessageBoxW(owner, text, APP_CAPTION, MB_ICONWARNING);
    }
}

int SaveBeforeExit(HWND owner)
{
    for (;;) {
        int failed = SaveDataFiles(SAVE_INI | SAVE_ITEMS);
        if (!failed)
            return EXIT_SAVED;
        WCHAR text[512];
        SaveFailureText(failed, SAVE_AT_EXIT, text, 512);
        // A box cannot name its own buttons: はい tries again, いいえ ends without saving.
        int answer = MessageBoxW(owner, text, APP_CAPTION, MB_YESNOCANCEL | MB_ICONWARNING | MB_DEFBUTTON1);
        if (answer == IDNO)
            return EXIT_UNSAVED;
        if (answer != IDYES)
            return EXIT_STAY;
    }
}

int SaveForSessionEnd()
{
    int failed = SaveDataFiles(SAVE_INI | SAVE_ITEMS);
    // Windows may end the process as soon as WM_ENDSESSION returns: no box, no message
    // handling, only brief waits for a file that another program holds for a moment.
    for (DWORD waited = 0; failed && waited < SESSION_END_RETRY_MS; waited += SESSION_END_RETRY_STEP_MS) {
        Sleep(SESSION_END_RETRY_STEP_MS);
        failed = SaveDataFiles(failed);
    }
    return failed;
}

BOOL SaveOrWarn(HWND owner, int files)
{
    int failed = SaveDataFiles(files);
    if (!failed)
        return TRUE;
    WCHAR text[512];
    SaveFailureText(failed, SAVE_ON_CHANGE, text, 512);
    MessageBoxW(owner, text, APP_CAPTION, MB_ICONWARNING);
    return FALSE;
}
