// Saves and loads a full copy history (5,000 entries of 200 characters) through paste.dat in a
// folder beside this program and prints the median times and the file size.
#include "state/data_files.h"
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
        BOOL loaded = LoadItems();
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
    RemoveDirectoryW(dir);

    printf("paste.dat with %d copy-history entries of %d characters: %lu bytes\n", EntryCount, EntryChars,
           (unsigned long)size);
    printf("SaveItems: median %.1f ms (min %.1f, max %.1f) over %d runs\n", Median(saveTimes),
           *std::min_element(saveTimes.begin(), saveTimes.end()), *std::max_element(saveTimes.begin(), saveTimes.end()),
           Runs);
    printf("LoadItems: median %.1f ms (min %.1f, max %.1f) over %d runs\n", Median(loadTimes),
           *std::min_element(loadTimes.begin(), loadTimes.end()), *std::max_element(loadTimes.begin(), loadTimes.end()),
           Runs);
    return 0;
}
