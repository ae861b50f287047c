// Saves and loads a full copy history (5,000 entries of 200 characters) through paste.dat in a
// folder beside this program and prints the median times and the file size. Then the largest
// store this process can hold: entries of 1 MiB of text (the capture cap) up to the 5,000 the
// settings allow or until the memory runs out, saved and loaded once. Last, the hub's longest gap
// during an idle save (it writes on the hub's thread): of the full history above, and of the
// largest store the history's total bound lets capture build. And the full history once in each
// form of paste.dat: shared (the fixed key) and protected for the Windows user.
#include "recall/recall.h"
#include "shell/shell.h"
#include "state/data_files.h"
#include "state/ini_data.h"
#include "state/item_store.h"
#include "test_util.h"
#include <algorithm>
#include <stdio.h>
#include <vector>

static const int EntryCount = 5000;
static const int EntryChars = 200;
static const int Runs = 9;

static double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * (double)(to.QuadPart - from.QuadPart) / (double)frequency.QuadPart;
}

static void FillHistory()
{
    WCHAR text[EntryChars + 1];
    for (int n = 0; n < EntryCount; n++) {
        for (int i = 0; i < EntryChars; i++)
            text[i] = (WCHAR)(L'a' + (n + i) % 26);
        text[EntryChars] = 0;
        ItemStore::Insert(History, nullptr, text);
    }
}

static double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

static const int CapUnits = 1024 * 1024;  // the capture cap: 1 MiB of text in UTF-16 units

// Fills the store with cap-sized texts until 5,000 entries or the first failed copy, saves it,
// and loads it into an empty store. The save must work; the load must work or fail cleanly.
static BOOL LargestStore(const WCHAR *dir)
{
    ItemStore::ResetForTests();
    WCHAR *text = (WCHAR *)HeapAlloc(GetProcessHeap(), 0, 2 * (SIZE_T)CapUnits + 2);
    if (!text)
        return FALSE;
    for (int i = 0; i < CapUnits; i++)
        text[i] = (WCHAR)(L'a' + i % 26);
    text[CapUnits] = 0;
    int entries = 0;
    while (entries < HISTORY_MAX_MAX) {
        text[0] = (WCHAR)(0x3000 + entries % 0x1000);  // each text differs
        text[1] = (WCHAR)(0x4e00 + entries / 0x1000);
        if (ItemStore::Insert(History, nullptr, text) == 0)
            break;
        entries++;
    }
    HeapFree(GetProcessHeap(), 0, text);
    // Room for the program's own work once the memory is nearly used up.
    for (int i = 0; i < 8 && entries > 0; i++)
        ItemStore::EraseOldestHistory(), entries--;
    LARGE_INTEGER t0, t1, t2;
    QueryPerformanceCounter(&t0);
    BOOL saved = SaveItems();
    QueryPerformanceCounter(&t1);
    ItemStore::ResetForTests();
    int loaded = LoadItems();
    QueryPerformanceCounter(&t2);
    int loadedEntries = ItemStore::Size();
    ItemStore::ResetForTests();

    WCHAR path[MAX_PATH];
    wsprintfW(path, L"%spaste.dat", dir);
    WIN32_FILE_ATTRIBUTE_DATA info;
    unsigned long long size = GetFileAttributesExW(path, GetFileExInfoStandard, &info)
                                  ? ((unsigned long long)info.nFileSizeHigh << 32) | info.nFileSizeLow
                                  : 0;
    DeleteFileW(path);
    wsprintfW(path, L"%spaste.dat.bak", dir);
    DeleteFileW(path);
    RemoveDirectoryW(dir);
    printf("largest store this process holds: %d entries of %d UTF-16 units (the cap); paste.dat %llu bytes\n",
           entries, CapUnits, size);
    printf("  SaveItems %s in %.0f ms\n", saved ? "succeeded" : "FAILED", Milliseconds(t0, t1));
    printf("  LoadItems into an empty store: %s (%d entries) in %.0f ms\n",
           loaded == DATA_FILE_LOADED ? "loaded" : loaded == DATA_FILE_UNREADABLE ? "too large: told, file kept as .bak"
                                                                                  : "FAILED",
           loadedEntries, Milliseconds(t1, t2));
    return saved && (loaded == DATA_FILE_LOADED ? loadedEntries == entries : loaded == DATA_FILE_UNREADABLE);
}

// One save and one load of the full history in the given form; FALSE when either fails.
static BOOL TimeOneRun(const WCHAR *dir, int form, double *save, double *load, DWORD *size)
{
    ItemStore::ResetForTests();
    FillHistory();
    SetItemsFileForm(form);
    LARGE_INTEGER t0, t1, t2;
    QueryPerformanceCounter(&t0);
    BOOL saved = SaveItems();
    QueryPerformanceCounter(&t1);
    ItemStore::ResetForTests();
    BOOL loaded = LoadItems() == DATA_FILE_LOADED && ItemStore::Size() == EntryCount && ItemsFileForm() == form;
    QueryPerformanceCounter(&t2);
    *save = Milliseconds(t0, t1);
    *load = Milliseconds(t1, t2);
    WCHAR path[MAX_PATH];
    wsprintfW(path, L"%spaste.dat", dir);
    WIN32_FILE_ATTRIBUTE_DATA info;
    *size = GetFileAttributesExW(path, GetFileExInfoStandard, &info) ? info.nFileSizeLow : 0;
    DeleteFileW(path);
    ItemStore::ResetForTests();
    SetItemsFileForm(ITEMS_FORM_SHARED);
    return saved && loaded;
}

static BOOL ReportForms(const WCHAR *dir)
{
    static const struct {
        int form;
        const char *name;
    } forms[] = {{ITEMS_FORM_SHARED, "shared (fixed key)"}, {ITEMS_FORM_USER, "protected for the user"}};
    BOOL ok = TRUE;
    for (const auto &form : forms) {
        double save = 0, load = 0;
        DWORD size = 0;
        BOOL done = TimeOneRun(dir, form.form, &save, &load, &size);
        printf("paste.dat %s, %d entries of %d characters, one run: SaveItems %.1f ms, LoadItems %.1f ms, %lu bytes%s\n",
               form.name, EntryCount, EntryChars, save, load, (unsigned long)size, done ? "" : " (FAILED)");
        ok = ok && done;
    }
    return ok;
}

static DWORD g_benchClock;

// The store filled with `entries` copy-history texts of `units` units each; one idle-save tick of
// a hub whose timer comes due, timed: the hub handles no message until it returns. A large
// history is written by the worker afterwards: *written is the time until it is on disk.
static double IdleSaveGap(int entries, int units, BOOL *saved, double *written)
{
    ItemStore::ResetForTests();
    HWND hub = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    SetIdleSaveClockForTests([] { return g_benchClock; });
    g_benchClock = 0;
    StartIdleSave(hub);
    StopIdleSave(hub);
    std::vector<WCHAR> text((SIZE_T)units + 1, L'x');
    text[units] = 0;
    for (int n = 0; n < entries; n++) {
        text[0] = (WCHAR)(0x3000 + n % 0x1000);
        text[1] = (WCHAR)(0x4e00 + n / 0x1000);
        ItemStore::Insert(History, nullptr, text.data());
    }
    DWORD before = ItemStore::ChangeCount();
    g_benchClock = IDLE_SAVE_GAP_MS;
    LARGE_INTEGER t0, t1, t2;
    QueryPerformanceCounter(&t0);
    OnIdleSaveTimer(hub, TRUE);
    QueryPerformanceCounter(&t1);
    OnIdleSaveDone(hub);  // waits for the worker, if one runs
    QueryPerformanceCounter(&t2);
    *written = Milliseconds(t0, t2);
    // A second tick finds nothing new: it must not write.
    g_benchClock += IDLE_SAVE_GAP_MS;
    WCHAR path[MAX_PATH];
    AppDir(path);
    lstrcatW(path, L"paste.dat");
    *saved = GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES && ItemStore::ChangeCount() == before;
    DeleteFileW(path);
    SetIdleSaveClockForTests(nullptr);
    DestroyWindow(hub);
    ItemStore::ResetForTests();
    return Milliseconds(t0, t1);
}

static BOOL ReportIdleSaveGaps()
{
    BOOL full = FALSE, bounded = FALSE, userForm = FALSE;
    double fullWritten = 0, boundedWritten = 0, userFormWritten = 0;
    double fullGap = IdleSaveGap(EntryCount, EntryChars, &full, &fullWritten);
    SetItemsFileForm(ITEMS_FORM_USER);
    double userFormGap = IdleSaveGap(EntryCount, EntryChars, &userForm, &userFormWritten);
    SetItemsFileForm(ITEMS_FORM_SHARED);
    int boundedEntries = HISTORY_UNITS_MAX / CLIPBOARD_TEXT_CAP;
    double boundedGap = IdleSaveGap(boundedEntries, CLIPBOARD_TEXT_CAP, &bounded, &boundedWritten);
    printf("idle save, the hub's longest gap: %.1f ms for %d entries of %d characters (%s after %.1f ms)\n", fullGap,
           EntryCount, EntryChars, full ? "written" : "NOT WRITTEN", fullWritten);
    printf("idle save, the hub's longest gap: %.1f ms for the same, protected for the user (%s after %.1f ms)\n",
           userFormGap, userForm ? "written" : "NOT WRITTEN", userFormWritten);
    printf("idle save, the hub's longest gap: %.0f ms for the bounded largest history, %d entries of %d units "
           "(%s by the worker after %.0f ms)\n",
           boundedGap, boundedEntries, CLIPBOARD_TEXT_CAP, bounded ? "written" : "NOT WRITTEN", boundedWritten);
    return full && bounded && userForm;
}

int main()
{
    printf("bench_state: the %s build\n", BuildArchitecture());
    WCHAR dir[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, dir, MAX_PATH);
    while (length > 0 && dir[length - 1] != L'\\')
        length--;
    lstrcpynW(dir + length, L"bench_state\\", MAX_PATH - length);
    CreateDirectoryW(dir, nullptr);
    SetDataDirectoryForTests(dir);

    std::vector<double> saveTimes, loadTimes;
    for (int run = 0; run < Runs; run++) {
        ItemStore::ResetForTests();
        FillHistory();
        LARGE_INTEGER t0, t1, t2;
        QueryPerformanceCounter(&t0);
        BOOL saved = SaveItems();
        QueryPerformanceCounter(&t1);
        ItemStore::ResetForTests();  // a save keeps the store: load into an empty one, as a start does
        BOOL loaded = LoadItems() == DATA_FILE_LOADED;
        QueryPerformanceCounter(&t2);
        if (!saved || !loaded || ItemStore::Size() != EntryCount) {
            printf("bench_state: run %d failed (saved %d, loaded %d, entries %d)\n", run, saved, loaded,
                   ItemStore::Size());
            return 1;
        }
        saveTimes.push_back(Milliseconds(t0, t1));
        loadTimes.push_back(Milliseconds(t1, t2));
    }

    WCHAR path[MAX_PATH];
    wsprintfW(path, L"%spaste.dat", dir);
    WIN32_FILE_ATTRIBUTE_DATA info;
    DWORD size = GetFileAttributesExW(path, GetFileExInfoStandard, &info) ? info.nFileSizeLow : 0;
    DeleteFileW(path);

    printf("paste.dat with %d copy-history entries of %d characters: %lu bytes\n", EntryCount, EntryChars,
           (unsigned long)size);
    printf("SaveItems: median %.1f ms (min %.1f, max %.1f) over %d runs\n", Median(saveTimes),
           *std::min_element(saveTimes.begin(), saveTimes.end()), *std::max_element(saveTimes.begin(), saveTimes.end()),
           Runs);
    printf("LoadItems: median %.1f ms (min %.1f, max %.1f) over %d runs\n", Median(loadTimes),
           *std::min_element(loadTimes.begin(), loadTimes.end()), *std::max_element(loadTimes.begin(), loadTimes.end()),
           Runs);
    BOOL forms = ReportForms(dir);
    BOOL gaps = ReportIdleSaveGaps();
    return LargestStore(dir) && gaps && forms ? 0 : 1;
}
