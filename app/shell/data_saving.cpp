// When and how the program writes its two files, and what the user is told when that fails.
// A failed save is never silent: at exit the user may retry or stay running with everything in
// memory; at logoff or shutdown the files are written before any box can appear.
#include "shell/shell.h"
#include "editor/editor.h"
#include "state/app_rules.h"
#include "state/data_files.h"
#include "state/ini_data.h"
#include "state/item_store.h"
#include "state/wiped_memory.h"

#include "lang/ui_language.h"
#include "res/resource.h"

// A message text of the string table; empty when it cannot be read.
static const WCHAR *MessageText(UINT id, WCHAR *buffer, int room)
{
    LoadUiText(id, buffer, room);
    return buffer;
}

#define SESSION_END_RETRY_MS 2000
#define SESSION_END_RETRY_STEP_MS 100

static IdleSaveState g_idleSave;
static BOOL g_idleSaveRunning;  // a save runs on the worker, or its failure box is open: no second one
static DWORD (*g_idleSaveClock)();  // null: GetTickCount

// The one idle save on the worker thread; the hub reads `saved` only after the thread ended.
struct IdleSaveJob {
    HANDLE thread;  // null while none runs
    HWND hub;
    BYTE *image;
    DWORD size;
    DWORD changeCount, started;
    BOOL saved;
};
static IdleSaveJob g_idleSaveJob;

static DWORD WINAPI WriteIdleSaveImage(void *)
{
    g_idleSaveJob.saved = SaveItemsImage(g_idleSaveJob.image, g_idleSaveJob.size);
    PostMessageW(g_idleSaveJob.hub, WM_IDLE_SAVE_DONE, 0, 0);
    return 0;
}

// Waits for a running worker and notes its result; TRUE when its failure is to be told.
static BOOL FinishIdleSaveJob()
{
    if (!g_idleSaveJob.thread)
        return FALSE;
    WaitForSingleObject(g_idleSaveJob.thread, INFINITE);
    CloseHandle(g_idleSaveJob.thread);
    g_idleSaveJob.thread = nullptr;
    HeapFreeWiped(g_idleSaveJob.image);  // it holds every registered text
    g_idleSaveJob.image = nullptr;
    g_idleSaveRunning = FALSE;
    return NoteIdleSaveAttempt(&g_idleSave, g_idleSaveJob.saved, g_idleSaveJob.changeCount, g_idleSaveJob.started);
}

// A large history goes to the worker as an image; FALSE when there is no memory or no thread for
// that, and the hub writes it itself.
static BOOL StartIdleSaveJob(HWND window, DWORD changeCount, DWORD now)
{
    SIZE_T onHub = ItemsFileForm() == ITEMS_FORM_USER ? IDLE_SAVE_WORKER_UNITS_USER_FORM : IDLE_SAVE_WORKER_UNITS;
    if (ItemStore::HistoryUnits() <= onHub)
        return FALSE;
    IdleSaveJob &job = g_idleSaveJob;
    job.image = MakeItemsImage(&job.size);
    if (!job.image)
        return FALSE;
    job.hub = window;
    job.changeCount = changeCount;
    job.started = now;
    job.saved = FALSE;
    job.thread = CreateThread(nullptr, 0, WriteIdleSaveImage, nullptr, 0, nullptr);
    if (job.thread)
        return TRUE;
    HeapFreeWiped(job.image);
    job.image = nullptr;
    return FALSE;
}

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
        FinishIdleSaveJob();  // what the worker writes is older: it must not land last
        DWORD changeCount = ItemStore::ChangeCount();
        if (SaveItems())
            g_idleSave.savedCount = changeCount;  // any save counts: the idle save has nothing new to write
        else
            failed |= SAVE_ITEMS;
    }
    // A newer version's apps.dat is left alone on purpose (told at the start): no failure.
    if ((files & SAVE_RULES) && !AppRulesFileNewer() && !SaveAppRules(&g_appRules))
        failed |= SAVE_RULES;
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
    FinishIdleSaveJob();
}

static void TellIdleSaveFailure(HWND window)
{
    WCHAR text[512];
    SaveFailureText(SAVE_ITEMS, SAVE_ON_CHANGE, text, 512);
    g_idleSaveRunning = TRUE;
    MessageBoxW(window, text, APP_CAPTION, MB_ICONWARNING);
    g_idleSaveRunning = FALSE;
}

void OnIdleSaveDone(HWND window)
{
    if (FinishIdleSaveJob())
        TellIdleSaveFailure(window);
}

void OnIdleSaveTimer(HWND window, BOOL idle)
{
    DWORD now = IdleSaveNow();
    DWORD changeCount = ItemStore::ChangeCount();
    if (g_idleSaveRunning || !IdleSaveDue(&g_idleSave, changeCount, now, idle))
        return;
    if (StartIdleSaveJob(window, changeCount, now)) {
        g_idleSaveRunning = TRUE;
        return;
    }
    int failed = SaveDataFiles(SAVE_ITEMS);
    if (NoteIdleSaveAttempt(&g_idleSave, !failed, changeCount, now))
        TellIdleSaveFailure(window);
}

static void Append(WCHAR *text, int room, const WCHAR *more)
{
    int length = lstrlenW(text);
    if (length < room - 1)
        lstrcpynW(text + length, more, room - length);
}

// One line per file: a protected file was not replaced on purpose, any other was not written;
// where the save left the contents under another name, the line names that file.
static void AppendFailedFile(WCHAR *text, int room, int file, const WCHAR *name)
{
    WCHAR format[128], line[MAX_PATH + 160], holder[MAX_PATH];
    if (file == DATA_ITEMS && ItemsFileLocked())
        wsprintfW(line, MessageText(IDS_ITEMS_LOCKED_KEPT, format, 128), name);
    else if (DataFileHeldElsewhere(file, holder))
        wsprintfW(line, MessageText(IDS_FILE_HELD_ELSEWHERE, format, 128), name, holder);
    else if (DataFileProtected(file))
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
    if (failed & SAVE_RULES)
        AppendFailedFile(text, room, DATA_RULES, L"apps.dat");
    WCHAR closing[256];
    UINT closingId = when == SAVE_AT_EXIT     ? IDS_SAVE_AT_EXIT_CHOICES
                   : when == SAVE_ON_CHANGE   ? IDS_SAVE_AGAIN_AT_EXIT
                                              : IDS_SAVE_CHANGES_LOST;
    Append(text, room, MessageText(closingId, closing, 256));
}

void UnreadableFileText(int file, WCHAR *text, int room)
{
    const WCHAR *name = file == DATA_INI ? L"ini.dat" : file == DATA_ITEMS ? L"paste.dat" : L"apps.dat";
    WCHAR format[128], line[256];
    MessageText(DataFileProtected(file) ? IDS_UNREADABLE_PROTECTED : IDS_UNREADABLE_KEPT, format, 128);
    wsprintfW(line, format, name, name);
    lstrcpynW(text, line, room);
}

void WarnUnreadableDataFiles(HWND owner)
{
    for (int file = 0; file < DATA_FILE_COUNT; file++) {
        if (!DataFileUnreadable(file))
            continue;
        WCHAR text[256];
        UnreadableFileText(file, text, 256);
        MessageBoxW(owner, text, APP_CAPTION, MB_ICONWARNING);
    }
    if (AppRulesFileNewer()) {
        WCHAR format[256], text[320];
        wsprintfW(text, MessageText(IDS_RULES_FILE_NEWER, format, 256), L"apps.dat");
        MessageBoxW(owner, text, APP_CAPTION, MB_ICONWARNING);
    }
}

BOOL StartWithoutLockedItems(HWND owner)
{
    WCHAR text[512];
    // A box cannot name its own buttons: はい starts empty, いいえ ends.
    if (MessageBoxW(owner, MessageText(IDS_ITEMS_LOCKED, text, 512), APP_CAPTION, MB_YESNO | MB_ICONWARNING) != IDYES)
        return FALSE;
    if (!MoveLockedItemsAside())
        MessageBoxW(owner, MessageText(IDS_ITEMS_NOT_MOVED, text, 512), APP_CAPTION, MB_ICONWARNING);
    return TRUE;
}

int SaveBeforeExit(HWND owner)
{
    for (;;) {
        int failed = SaveDataFiles(SAVE_ALL);
        if (!failed)
            return EXIT_SAVED;
        WCHAR text[512];
        SaveFailureText(failed, SAVE_AT_EXIT, text, 512);
        // The buttons speak the system's language, so the text asks a question instead of naming
        // them: yes tries again, no ends without saving.
        int answer = MessageBoxW(owner, text, APP_CAPTION, MB_YESNOCANCEL | MB_ICONWARNING | MB_DEFBUTTON1);
        if (answer == IDNO)
            return EXIT_UNSAVED;
        if (answer != IDYES)
            return EXIT_STAY;
    }
}

int SaveForSessionEnd()
{
    int failed = SaveDataFiles(SAVE_ALL);
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
