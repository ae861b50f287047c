// Helpers shared by the tests: scratch folders, waits that pump, the clipboard, key input,
// an independent reader of the encrypted files, and the real tavo.exe started in a folder.
#pragma once
#include <windows.h>
#include <oleacc.h>
#include <functional>
#include <string>
#include <vector>
#include "state/ini_data.h"
#include "state/item_store.h"

typedef std::vector<BYTE> Bytes;

// Folder of the running test executable (where tavo.exe and tavohook.dll are built), with '\'.
std::wstring BinDir();
// An empty folder of this name under BinDir()\scratch (emptied when it exists).
std::wstring MakeScratchDir(const std::wstring &name);
BOOL WriteFileBytes(const std::wstring &path, const Bytes &data);
Bytes ReadFileBytes(const std::wstring &path);  // empty when missing
BOOL FileIsThere(const std::wstring &path);

// RC4 written here, independent of CryptoAPI, with the key the program's pass phrase gives.
Bytes DecryptDataFile(const Bytes &encrypted);  // the same call encrypts

// paste.dat and ini.dat images built and read here, independently of the program's saver and loader.
struct PasteRecord {
    int kind;
    std::wstring name;
    std::wstring text;
    bool operator==(const PasteRecord &other) const
    {
        return kind == other.kind && name == other.name && text == other.text;
    }
};
void AppendInt32(Bytes *out, int value);  // little-endian
void AppendPasteRecord(Bytes *out, const PasteRecord &record);
Bytes PastePlainImage(const std::vector<PasteRecord> &records);  // the count, then the records
Bytes EncryptedPasteFile(const std::vector<PasteRecord> &records);
// paste.dat protected for this Windows user, built and taken apart here with CryptProtectData:
// "tavoUSER", version 1, then chunks (size, protected bytes) of at most chunkBytes of the plain
// image, and a size of 0. Every file the program protects depends on its entropy value.
extern const std::string ProgramEntropy;
Bytes UserFormPasteFile(const std::vector<PasteRecord> &records, const std::string &entropy,
                        size_t chunkBytes = 256 * 1024, DWORD version = 1);
// The plain image and each chunk's plain size; false unless the file is that form, whole.
bool UnprotectUserForm(const Bytes &file, const std::string &entropy, Bytes *plain, std::vector<size_t> *chunks);
bool HoldsUtf16(const Bytes &bytes, const std::wstring &text);
// Reads and decodes paste.dat in either form; false when it is missing or is not exactly the
// count and that many records.
bool ReadPasteRecords(const std::wstring &path, std::vector<PasteRecord> *records);
std::vector<std::wstring> HistoryTextsOf(const std::vector<PasteRecord> &records);  // in file order
Bytes EncryptedIni(const IniData &ini);
// apps.dat holding the rules (its format is checked byte by byte in the tests of the data files).
struct AppRules;
Bytes EncryptedAppsFile(const AppRules &rules);
// Reads an encrypted ini.dat; false unless it holds exactly one record.
bool ReadIniRecord(const std::wstring &path, IniData *ini);

// The store of this process walked as the program walks it.
std::vector<ItemId> StoreIdsDescending(ItemKind kind);  // newest first
std::wstring StoredText(ItemId id);  // "<absent>" when the entry is gone
std::wstring StoredName(ItemId id);

// Pumps this thread's messages for the given time.
void PumpFor(DWORD milliseconds);
// True while some window holds the hotkey: another may register the combination only when nobody does.
bool HotkeyTaken(UINT mods, UINT vk);
// Pumps until the condition holds or the time is up; returns the condition's last answer.
bool WaitUntil(const std::function<bool()> &condition, DWORD timeoutMs);

// Clipboard with retries, since another process may hold it for a moment.
BOOL OpenClipboardRetry(HWND owner);
BOOL PutClipboardText(HWND owner, const std::wstring &text);
std::wstring TakeClipboardText();  // empty when there is none
void EmptyClipboardNow();

// Another clipboard program on a thread of its own, as clipboard managers are: on every change it
// opens the clipboard with its own window, records the text unless "Clipboard Viewer Ignore" is
// there (the one marker that several of them honour; some honour none), and holds the clipboard
// open for holdMs.
struct ClipboardWatcher {
    DWORD holdMs = 0;
    bool honoursViewerIgnore = true;
    HANDLE ready = nullptr;
    HANDLE thread = nullptr;
    DWORD threadId = 0;
    volatile LONG reads = 0;
    CRITICAL_SECTION lock;
    std::vector<std::wstring> texts;  // under lock
    ~ClipboardWatcher();  // stops it, also after a failed REQUIRE
};
bool StartClipboardWatcher(ClipboardWatcher *watcher, DWORD holdMs, bool honoursViewerIgnore = true);
void StopClipboardWatcher(ClipboardWatcher *watcher);  // a second stop does nothing
std::vector<std::wstring> WatchedTexts(ClipboardWatcher *watcher);

// Synthesized key strokes.
void KeyDown(WORD vk);
void KeyUp(WORD vk);
void TapKey(WORD vk);
void TypeText(const std::wstring &text);  // as KEYEVENTF_UNICODE characters

// A real tavo.exe running from a folder of its own.
struct TavoProcess {
    PROCESS_INFORMATION process;
    HWND mainWindow;
    std::wstring dir;
};
// Copies tavo.exe and tavohook.dll into dir, starts it and waits for its "tavoClass" window.
bool StartTavo(const std::wstring &dir, TavoProcess *tavo, DWORD timeoutMs = 15000);
// Posts WM_CLOSE and waits for the process; returns its exit code, or ~0 after a time-out (then it is killed).
DWORD StopTavo(TavoProcess *tavo, DWORD timeoutMs = 15000);
// Waits for the process to end on its own; returns its exit code or ~0 on time-out.
DWORD WaitExit(const PROCESS_INFORMATION &process, DWORD timeoutMs);
// Copies tavo.exe and tavohook.dll into dir.
bool CopyTavoInto(const std::wstring &dir);
// Empties the clipboard first (joining the viewer chain captures what it holds), then StartTavo.
bool StartTavoClean(const std::wstring &dir, TavoProcess *tavo, DWORD timeoutMs = 15000);
// A top-level window of that process, class and title (either may be null); 0 when none.
HWND FindProcessWindow(DWORD processId, const wchar_t *className, const wchar_t *title);
// The same among the visible ones, and how many of them there are.
HWND FindVisibleProcessWindow(DWORD processId, const wchar_t *className, const wchar_t *title);
int CountProcessWindows(DWORD processId, const wchar_t *className, const wchar_t *title, bool visibleOnly);
// Pumps until FindProcessWindow finds one; 0 after the time-out.
HWND WaitForProcessWindow(DWORD processId, const wchar_t *className, const wchar_t *title, DWORD timeoutMs);
// The window as it is on the screen, as a .bmp file (the pictures in docs/ are made this way).
void SaveWindowPicture(HWND window, const std::string &path);
// A visible popup-menu window of any process, or 0.
HWND VisibleMenuWindow();
// A text of this executable's string table (the tests link the program's resources); "<missing>".
std::wstring StringOf(UINT id);
// Pumps until a balloon of the system tray shows the text (under Wine: a balloon tooltip of the
// tray's process, made about 2 s after the icon asked for it); false after the time-out.
bool WaitForTrayBalloon(const std::wstring &text, DWORD timeoutMs);
// Under Wine 8 a window of another process may need the foreground handed over from our thread.
bool BringToForeground(HWND window, DWORD timeoutMs);

// A second process played by this test executable: "child NAME args...".
typedef int (*TestChildProc)(int argc, char **argv);
struct TestChildRegistrar {
    TestChildRegistrar(const char *name, TestChildProc proc);
};
#define TEST_CHILD(name)                                                  \
    static int TestChild_##name(int argc, char **argv);                   \
    static TestChildRegistrar testChildRegistrar_##name(#name, TestChild_##name); \
    static int TestChild_##name(int argc, char **argv)
int RunTestChild(int argc, char **argv);
// Starts this executable as "child NAME args"; the caller closes the handles.
bool StartTestChild(const char *name, const std::string &args, PROCESS_INFORMATION *process);
// The same from a copy of this executable at copyPath: another application, by its file name.
bool StartTestChildCopy(const std::wstring &copyPath, const char *name, const std::string &args,
                        PROCESS_INFORMATION *process);
// The file name of this test executable ("test_x.exe").
std::wstring ThisExecutableName();

// Another program's handle on a data file, as a virus scanner, a backup or a sync client holds one.
struct HeldFile {
    HANDLE handle;
    HeldFile(const std::wstring &path, DWORD access, DWORD share)
    {
        handle = CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    void Release()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
    ~HeldFile()
    {
        Release();
    }
};

// ReplaceFileW and MoveFileExW failing as Windows documents them, side effects included (without
// an aside name ERROR_UNABLE_TO_MOVE_REPLACEMENT loses the replaced file; ..._2 leaves it under
// the aside name), for SetFileRoutesForTests. Each call takes the next step of its script: 0 (or
// no step left) is the real call, an error code fails.
extern std::vector<DWORD> g_replaceSteps, g_moveSteps;
BOOL WINAPI ScriptedReplace(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR aside, DWORD flags, LPVOID, LPVOID);
BOOL WINAPI ScriptedMove(LPCWSTR from, LPCWSTR to, DWORD flags);

// "x86" or "x64": the architecture this test or benchmark was built for, for its printed figures.
inline const char *BuildArchitecture()
{
    return sizeof(void *) == 8 ? "x64" : "x86";
}

// A window that plays an application's text field whose caret is found in one of the ways the
// program tries, 300 x 120 at (x, y), in this process. The accessible caret is an object of the
// test's own, answered to WM_GETOBJECT/OBJID_CARET (this thread must be in a COM apartment and
// pump messages while it is asked).
enum CaretTargetKind {
    CARET_TARGET_SYSTEM,      // a system caret at CaretTargetClientPoint in its client area
    CARET_TARGET_ACCESSIBLE,  // no system caret; an accessible caret at CaretTargetAccessibleOffset
    CARET_TARGET_INVISIBLE,   // no system caret; an accessible caret marked invisible
    CARET_TARGET_NONE,        // neither
    CARET_TARGET_HUNG,        // does not answer WM_GETOBJECT for CaretTargetHangMs
};
extern const POINT CaretTargetClientPoint;
extern const POINT CaretTargetAccessibleOffset;  // from the window's top-left, screen pixels
extern DWORD CaretTargetHangMs;
extern DWORD CaretTargetAskedTick;  // GetTickCount when a WM_GETOBJECT for the caret last arrived
HWND CreateCaretTarget(CaretTargetKind kind, int x, int y);
// Foreground and focus on the window; true when both hold.
bool FocusWindowNow(HWND window, DWORD timeoutMs = 3000);

// A failed check on wide strings shows their text, in UTF-8, instead of "{?}" (in the tests, which
// include doctest first; the benchmarks share these helpers without it).
#ifdef DOCTEST_LIBRARY_INCLUDED
namespace doctest {
template <>
struct StringMaker<std::wstring> {
    static String convert(const std::wstring &text)
    {
        int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
        std::string bytes(size, '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &bytes[0], size, nullptr, nullptr);
        return ("\"" + bytes + "\"").c_str();
    }
};
}  // namespace doctest
#endif
