#include "test_util.h"
#include <wincrypt.h>
#include <algorithm>
#include <cstdio>
#include "state/app_rules.h"
#include <map>

std::wstring BinDir()
{
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    while (length > 0 && path[length - 1] != L'\\')
        length--;
    return std::wstring(path, length);
}

static void DeleteTree(const std::wstring &dir)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = dir + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(dir.c_str());
}

std::wstring MakeScratchDir(const std::wstring &name)
{
    std::wstring root = BinDir() + L"scratch";
    CreateDirectoryW(root.c_str(), nullptr);
    std::wstring dir = root + L"\\" + name;
    DeleteTree(dir);
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir + L"\\";
}

BOOL WriteFileBytes(const std::wstring &path, const Bytes &data)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD written = 0;
    BOOL ok = data.empty() || WriteFile(file, data.data(), (DWORD)data.size(), &written, nullptr);
    CloseHandle(file);
    return ok && written == data.size();
}

Bytes ReadFileBytes(const std::wstring &path)
{
    Bytes data;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return data;
    DWORD size = GetFileSize(file, nullptr);
    data.resize(size);
    DWORD read = 0;
    if (size && !ReadFile(file, data.data(), size, &read, nullptr))
        read = 0;
    data.resize(read);
    CloseHandle(file);
    return data;
}

BOOL FileIsThere(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

static void Rc4(const BYTE *key, int keyLength, BYTE *data, size_t length)
{
    BYTE s[256];
    for (int i = 0; i < 256; i++)
        s[i] = (BYTE)i;
    for (int i = 0, j = 0; i < 256; i++) {
        j = (j + s[i] + key[i % keyLength]) & 255;
        BYTE t = s[i];
        s[i] = s[j];
        s[j] = t;
    }
    int i = 0, j = 0;
    for (size_t n = 0; n < length; n++) {
        i = (i + 1) & 255;
        j = (j + s[i]) & 255;
        BYTE t = s[i];
        s[i] = s[j];
        s[j] = t;
        data[n] ^= s[(s[i] + s[j]) & 255];
    }
}

Bytes DecryptDataFile(const Bytes &encrypted)
{
    // The base provider's 40-bit RC4 key: the first 5 bytes of MD5 over "t\0a\0", then 11 zero bytes.
    static const BYTE key[16] = {0x3b, 0x2c, 0x06, 0xf1, 0x40};
    Bytes plain = encrypted;
    if (!plain.empty())
        Rc4(key, sizeof(key), plain.data(), plain.size());
    return plain;
}

void AppendInt32(Bytes *out, int value)
{
    for (int i = 0; i < 4; i++)
        out->push_back((BYTE)((unsigned)value >> (8 * i)));
}

// UTF-16LE with its 0 terminator.
static void AppendUtf16z(Bytes *out, const std::wstring &text)
{
    for (size_t i = 0; i <= text.size(); i++) {
        unsigned unit = i < text.size() ? (unsigned)text[i] : 0;
        out->push_back((BYTE)unit);
        out->push_back((BYTE)(unit >> 8));
    }
}

void AppendPasteRecord(Bytes *out, const PasteRecord &record)
{
    AppendInt32(out, record.kind);
    AppendUtf16z(out, record.name);
    AppendUtf16z(out, record.text);
}

Bytes PastePlainImage(const std::vector<PasteRecord> &records)
{
    Bytes plain;
    AppendInt32(&plain, (int)records.size());
    for (const PasteRecord &record : records)
        AppendPasteRecord(&plain, record);
    return plain;
}

Bytes EncryptedPasteFile(const std::vector<PasteRecord> &records)
{
    return DecryptDataFile(PastePlainImage(records));
}

static bool ParsePasteImage(const Bytes &plain, std::vector<PasteRecord> *records)
{
    records->clear();
    size_t at = 0;
    auto readInt = [&](int *value) {
        if (at + 4 > plain.size())
            return false;
        *value = (int)(plain[at] | plain[at + 1] << 8 | plain[at + 2] << 16 | (unsigned)plain[at + 3] << 24);
        at += 4;
        return true;
    };
    auto readString = [&](std::wstring *text) {
        text->clear();
        for (;;) {
            if (at + 2 > plain.size())
                return false;
            wchar_t ch = (wchar_t)(plain[at] | plain[at + 1] << 8);
            at += 2;
            if (ch == 0)
                return true;
            text->push_back(ch);
        }
    };
    int count = 0;
    if (!readInt(&count) || count < 0)
        return false;
    for (int i = 0; i < count; i++) {
        PasteRecord record;
        if (!readInt(&record.kind) || !readString(&record.name) || !readString(&record.text))
            return false;
        records->push_back(record);
    }
    return at == plain.size();
}

const std::string ProgramEntropy = "tavo paste.dat user form";

static const char UserMagic[] = "tavoUSER";

Bytes UserFormPasteFile(const std::vector<PasteRecord> &records, const std::string &entropy, size_t chunkBytes,
                        DWORD version)
{
    Bytes file(UserMagic, UserMagic + 8);
    AppendInt32(&file, (int)version);
    Bytes plain = PastePlainImage(records);
    for (size_t at = 0; at < plain.size(); at += chunkBytes) {
        size_t size = std::min(chunkBytes, plain.size() - at);
        DATA_BLOB in = {(DWORD)size, plain.data() + at}, salt = {(DWORD)entropy.size(), (BYTE *)entropy.data()}, out = {};
        if (!CryptProtectData(&in, nullptr, &salt, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
            return Bytes();
        AppendInt32(&file, (int)out.cbData);
        file.insert(file.end(), out.pbData, out.pbData + out.cbData);
        LocalFree(out.pbData);
    }
    AppendInt32(&file, 0);
    return file;
}

bool UnprotectUserForm(const Bytes &file, const std::string &entropy, Bytes *plain, std::vector<size_t> *chunks)
{
    plain->clear();
    chunks->clear();
    if (file.size() < 16 || !std::equal(UserMagic, UserMagic + 8, file.begin()) || file[8] != 1 || file[9] || file[10] ||
        file[11])
        return false;
    for (size_t at = 12;;) {
        if (at + 4 > file.size())
            return false;
        DWORD size = file[at] | file[at + 1] << 8 | file[at + 2] << 16 | (DWORD)file[at + 3] << 24;
        at += 4;
        if (size == 0)
            return at == file.size();
        if (size > file.size() - at)
            return false;
        DATA_BLOB in = {size, (BYTE *)file.data() + at}, salt = {(DWORD)entropy.size(), (BYTE *)entropy.data()}, out = {};
        if (!CryptUnprotectData(&in, nullptr, &salt, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
            return false;
        plain->insert(plain->end(), out.pbData, out.pbData + out.cbData);
        chunks->push_back(out.cbData);
        LocalFree(out.pbData);
        at += size;
    }
}

bool HoldsUtf16(const Bytes &bytes, const std::wstring &text)
{
    Bytes units;
    for (wchar_t ch : text) {
        units.push_back((BYTE)ch);
        units.push_back((BYTE)(ch >> 8));
    }
    return std::search(bytes.begin(), bytes.end(), units.begin(), units.end()) != bytes.end();
}

bool ReadPasteRecords(const std::wstring &path, std::vector<PasteRecord> *records)
{
    records->clear();
    Bytes file = ReadFileBytes(path);
    Bytes plain;
    std::vector<size_t> chunks;
    if (UnprotectUserForm(file, ProgramEntropy, &plain, &chunks))
        return ParsePasteImage(plain, records);
    return !file.empty() && ParsePasteImage(DecryptDataFile(file), records);
}

std::vector<std::wstring> HistoryTextsOf(const std::vector<PasteRecord> &records)
{
    std::vector<std::wstring> texts;
    for (const PasteRecord &record : records)
        if (record.kind == History)
            texts.push_back(record.text);
    return texts;
}

Bytes EncryptedIni(const IniData &ini)
{
    return DecryptDataFile(Bytes((const BYTE *)&ini, (const BYTE *)&ini + sizeof(ini)));
}

Bytes EncryptedAppsFile(const AppRules &rules)
{
    DWORD size = 0;
    BYTE *image = MakeAppRulesImage(&rules, &size);
    Bytes plain = image ? Bytes(image, image + size) : Bytes();
    if (image)
        HeapFree(GetProcessHeap(), 0, image);
    return DecryptDataFile(plain);
}

bool ReadIniRecord(const std::wstring &path, IniData *ini)
{
    Bytes plain = DecryptDataFile(ReadFileBytes(path));
    if (plain.size() != sizeof(IniData))
        return false;
    memcpy(ini, plain.data(), sizeof(IniData));
    return true;
}

std::vector<ItemId> StoreIdsDescending(ItemKind kind)
{
    std::vector<ItemId> ids;
    const ItemMap &items = ItemStore::Items();
    for (ItemMap::const_reverse_iterator it = items.rbegin(); it != items.rend(); ++it)
        if (it->second.kind == kind)
            ids.push_back(it->first);
    return ids;
}

std::wstring StoredText(ItemId id)
{
    const Item *item = ItemStore::Find(id);
    return item ? item->text : L"<absent>";
}

std::wstring StoredName(ItemId id)
{
    const Item *item = ItemStore::Find(id);
    return item ? item->name : L"<absent>";
}

void PumpFor(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        DWORD spent = GetTickCount() - start;
        if (spent >= milliseconds)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - spent, QS_ALLINPUT);
    }
}

bool WaitUntil(const std::function<bool()> &condition, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return condition();
        PumpFor(20);
    }
}

BOOL OpenClipboardRetry(HWND owner)
{
    for (int attempt = 0; attempt < 100; attempt++) {
        if (OpenClipboard(owner))
            return TRUE;
        PumpFor(20);
    }
    return FALSE;
}

BOOL PutClipboardText(HWND owner, const std::wstring &text)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 2 * text.size() + 2);
    if (!block)
        return FALSE;
    CopyMemory(GlobalLock(block), text.c_str(), 2 * text.size());
    GlobalUnlock(block);
    if (!OpenClipboardRetry(owner)) {
        GlobalFree(block);
        return FALSE;
    }
    EmptyClipboard();
    BOOL ok = SetClipboardData(CF_UNICODETEXT, block) != nullptr;
    if (!ok)
        GlobalFree(block);
    CloseClipboard();
    return ok;
}

std::wstring TakeClipboardText()
{
    std::wstring text;
    if (!OpenClipboardRetry(nullptr))
        return text;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (data) {
        const WCHAR *chars = (const WCHAR *)GlobalLock(data);
        if (chars)
            text = chars;
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

void EmptyClipboardNow()
{
    if (OpenClipboardRetry(nullptr)) {
        EmptyClipboard();
        CloseClipboard();
    }
}

static void SendKey(WORD vk, DWORD flags)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = (WORD)MapVirtualKeyW(vk, 0);
    input.ki.dwFlags = flags;
    SendInput(1, &input, sizeof(INPUT));
}

void KeyDown(WORD vk)
{
    SendKey(vk, 0);
}

void KeyUp(WORD vk)
{
    SendKey(vk, KEYEVENTF_KEYUP);
}

void TapKey(WORD vk)
{
    KeyDown(vk);
    KeyUp(vk);
}

void TypeText(const std::wstring &text)
{
    for (WCHAR ch : text) {
        INPUT input[2] = {};
        input[0].type = input[1].type = INPUT_KEYBOARD;
        input[0].ki.wScan = input[1].ki.wScan = ch;
        input[0].ki.dwFlags = KEYEVENTF_UNICODE;
        input[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
        SendInput(2, input, sizeof(INPUT));
    }
}

struct WindowSearch {
    DWORD processId;
    const wchar_t *className;
    const wchar_t *title;
    bool visibleOnly;
    bool all;  // collect every match instead of stopping at the first
    std::vector<HWND> found;
};

static BOOL CALLBACK MatchWindow(HWND window, LPARAM lParam)
{
    WindowSearch *search = (WindowSearch *)lParam;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->processId || (search->visibleOnly && !IsWindowVisible(window)))
        return TRUE;
    WCHAR text[256];
    if (search->className) {
        GetClassNameW(window, text, 256);
        if (lstrcmpW(text, search->className) != 0)
            return TRUE;
    }
    if (search->title) {
        GetWindowTextW(window, text, 256);
        if (lstrcmpW(text, search->title) != 0)
            return TRUE;
    }
    search->found.push_back(window);
    return search->all;
}

static std::vector<HWND> ProcessWindows(DWORD processId, const wchar_t *className, const wchar_t *title,
                                        bool visibleOnly, bool all)
{
    WindowSearch search = {processId, className, title, visibleOnly, all, {}};
    EnumWindows(MatchWindow, (LPARAM)&search);
    return search.found;
}

HWND FindProcessWindow(DWORD processId, const wchar_t *className, const wchar_t *title)
{
    std::vector<HWND> found = ProcessWindows(processId, className, title, false, false);
    return found.empty() ? nullptr : found[0];
}

HWND FindVisibleProcessWindow(DWORD processId, const wchar_t *className, const wchar_t *title)
{
    std::vector<HWND> found = ProcessWindows(processId, className, title, true, false);
    return found.empty() ? nullptr : found[0];
}

int CountProcessWindows(DWORD processId, const wchar_t *className, const wchar_t *title, bool visibleOnly)
{
    return (int)ProcessWindows(processId, className, title, visibleOnly, true).size();
}

HWND WaitForProcessWindow(DWORD processId, const wchar_t *className, const wchar_t *title, DWORD timeoutMs)
{
    HWND window = nullptr;
    WaitUntil([&] { return (window = FindProcessWindow(processId, className, title)) != nullptr; }, timeoutMs);
    return window;
}

HWND VisibleMenuWindow()
{
    HWND menu = nullptr;
    while ((menu = FindWindowExW(nullptr, menu, L"#32768", nullptr)) != nullptr)
        if (IsWindowVisible(menu))
            return menu;
    return nullptr;
}

std::wstring StringOf(UINT id)
{
    WCHAR text[512];
    return LoadStringW(GetModuleHandleW(nullptr), id, text, 512) > 0 ? text : L"<missing>";
}

bool WaitForTrayBalloon(const std::wstring &text, DWORD timeoutMs)
{
    return WaitUntil([&] {
        for (HWND tip = nullptr; (tip = FindWindowExW(nullptr, tip, L"tooltips_class32", nullptr)) != nullptr;) {
            // A tooltip answers WM_GETTEXT with the text it shows; the send crosses to the tray's process.
            WCHAR shown[300] = {};
            DWORD_PTR result = 0;
            if (IsWindowVisible(tip) && (GetWindowLongW(tip, GWL_STYLE) & 0x40 /* TTS_BALLOON */) != 0 &&
                SendMessageTimeoutW(tip, WM_GETTEXT, 300, (LPARAM)shown, SMTO_ABORTIFHUNG, 1000, &result) && text == shown)
                return true;
        }
        return false;
    }, timeoutMs);
}

static LRESULT CALLBACK WatcherProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    ClipboardWatcher *watcher = (ClipboardWatcher *)GetWindowLongPtrW(window, GWLP_USERDATA);
    if (message != WM_CLIPBOARDUPDATE || !watcher)
        return DefWindowProcW(window, message, wParam, lParam);
    // Whoever made the change (or tavo's capture) may still hold the clipboard for a moment.
    int attempts = 0;
    while (!OpenClipboard(window)) {
        if (++attempts == 200)
            return 0;
        Sleep(1);
    }
    if (!watcher->honoursViewerIgnore || !IsClipboardFormatAvailable(RegisterClipboardFormatW(L"Clipboard Viewer Ignore"))) {
        HANDLE data = GetClipboardData(CF_UNICODETEXT);
        const WCHAR *chars = data ? (const WCHAR *)GlobalLock(data) : nullptr;
        if (chars) {
            EnterCriticalSection(&watcher->lock);
            watcher->texts.push_back(chars);
            LeaveCriticalSection(&watcher->lock);
            GlobalUnlock(data);
        }
    }
    Sleep(watcher->holdMs);
    CloseClipboard();
    InterlockedIncrement(&watcher->reads);
    return 0;
}

static DWORD WINAPI RunClipboardWatcher(void *argument)
{
    ClipboardWatcher *watcher = (ClipboardWatcher *)argument;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WatcherProc;
    wc.lpszClassName = L"tavoTestClipboardWatcher";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, (LONG_PTR)watcher);
    BOOL listening = AddClipboardFormatListener(window);
    SetEvent(watcher->ready);
    MSG msg;
    while (listening && GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    RemoveClipboardFormatListener(window);
    DestroyWindow(window);
    return 0;
}

bool StartClipboardWatcher(ClipboardWatcher *watcher, DWORD holdMs, bool honoursViewerIgnore)
{
    watcher->holdMs = holdMs;
    watcher->honoursViewerIgnore = honoursViewerIgnore;
    watcher->reads = 0;
    watcher->texts.clear();
    InitializeCriticalSection(&watcher->lock);
    watcher->ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    watcher->thread = CreateThread(nullptr, 0, RunClipboardWatcher, watcher, 0, &watcher->threadId);
    return watcher->thread && WaitForSingleObject(watcher->ready, 5000) == WAIT_OBJECT_0;
}

void StopClipboardWatcher(ClipboardWatcher *watcher)
{
    if (!watcher->ready)
        return;
    if (watcher->thread) {
        PostThreadMessageW(watcher->threadId, WM_QUIT, 0, 0);
        WaitForSingleObject(watcher->thread, 5000);
        CloseHandle(watcher->thread);
    }
    CloseHandle(watcher->ready);
    watcher->thread = watcher->ready = nullptr;
    DeleteCriticalSection(&watcher->lock);
}

ClipboardWatcher::~ClipboardWatcher()
{
    StopClipboardWatcher(this);
}

std::vector<std::wstring> WatchedTexts(ClipboardWatcher *watcher)
{
    EnterCriticalSection(&watcher->lock);
    std::vector<std::wstring> texts = watcher->texts;
    LeaveCriticalSection(&watcher->lock);
    return texts;
}

bool BringToForeground(HWND window, DWORD timeoutMs)
{
    return WaitUntil([&] {
        if (GetForegroundWindow() != window)
            SetForegroundWindow(window);
        return GetForegroundWindow() == window;
    }, timeoutMs);
}

bool CopyTavoInto(const std::wstring &dir)
{
    return CopyFileW((BinDir() + L"tavo.exe").c_str(), (dir + L"tavo.exe").c_str(), FALSE) &&
           CopyFileW((BinDir() + L"tavohook.dll").c_str(), (dir + L"tavohook.dll").c_str(), FALSE);
}

bool StartTavoClean(const std::wstring &dir, TavoProcess *tavo, DWORD timeoutMs)
{
    EmptyClipboardNow();
    return StartTavo(dir, tavo, timeoutMs);
}

bool StartTavo(const std::wstring &dir, TavoProcess *tavo, DWORD timeoutMs)
{
    ZeroMemory(&tavo->process, sizeof(tavo->process));
    tavo->mainWindow = nullptr;
    tavo->dir = dir;
    std::wstring exe = dir + L"tavo.exe";
    if (!CopyTavoInto(dir))
        return false;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    // Started from another working folder: the program must find its files beside itself.
    if (!CreateProcessW(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, BinDir().c_str(), &startup, &tavo->process))
        return false;
    WaitUntil([&] {
        tavo->mainWindow = FindProcessWindow(tavo->process.dwProcessId, L"tavoClass", nullptr);
        return tavo->mainWindow != nullptr || WaitForSingleObject(tavo->process.hProcess, 0) == WAIT_OBJECT_0;
    }, timeoutMs);
    // The window exists while its creation still runs; wait until the program waits for input,
    // so that its entries are loaded and it has joined the clipboard chain.
    if (tavo->mainWindow)
        WaitForInputIdle(tavo->process.hProcess, timeoutMs);
    return tavo->mainWindow != nullptr;
}

DWORD WaitExit(const PROCESS_INFORMATION &process, DWORD timeoutMs)
{
    DWORD code = ~0u;
    if (!process.hProcess)
        return code;
    WaitUntil([&] { return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; }, timeoutMs);
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    return code;
}

DWORD StopTavo(TavoProcess *tavo, DWORD timeoutMs)
{
    if (!tavo->process.hProcess)
        return ~0u;
    if (tavo->mainWindow)
        PostMessageW(tavo->mainWindow, WM_CLOSE, 0, 0);
    DWORD code = WaitExit(tavo->process, timeoutMs);
    if (code == ~0u)
        TerminateProcess(tavo->process.hProcess, 1);
    CloseHandle(tavo->process.hThread);
    CloseHandle(tavo->process.hProcess);
    ZeroMemory(&tavo->process, sizeof(tavo->process));
    tavo->mainWindow = nullptr;
    return code;
}

static std::map<std::string, TestChildProc> &TestChildren()
{
    static std::map<std::string, TestChildProc> children;
    return children;
}

TestChildRegistrar::TestChildRegistrar(const char *name, TestChildProc proc)
{
    TestChildren()[name] = proc;
}

int RunTestChild(int argc, char **argv)
{
    std::map<std::string, TestChildProc>::iterator it = TestChildren().find(argv[0]);
    if (it == TestChildren().end())
        return 2;
    return it->second(argc - 1, argv + 1);
}

std::wstring ThisExecutableName()
{
    WCHAR module[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    const WCHAR *name = module + lstrlenW(module);
    while (name > module && name[-1] != L'\\' && name[-1] != L'/')
        name--;
    return name;
}

bool StartTestChildCopy(const std::wstring &copyPath, const char *name, const std::string &args,
                        PROCESS_INFORMATION *process)
{
    WCHAR module[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (!CopyFileW(module, copyPath.c_str(), FALSE))
        return false;
    std::wstring command = L"\"" + copyPath + L"\" child " + std::wstring(name, name + strlen(name)) + L" " +
                           std::wstring(args.begin(), args.end());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    std::vector<WCHAR> line(command.begin(), command.end());
    line.push_back(0);
    return CreateProcessW(copyPath.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          process) != FALSE;
}

bool StartTestChild(const char *name, const std::string &args, PROCESS_INFORMATION *process)
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string command = std::string("\"") + exe + "\" child " + name + " " + args;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    return CreateProcessA(exe, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, process) != FALSE;
}

// ---- Caret targets ----

const POINT CaretTargetClientPoint = {40, 30};
const POINT CaretTargetAccessibleOffset = {60, 50};
DWORD CaretTargetHangMs = 5000;
DWORD CaretTargetAskedTick;

// The accessible caret of a window: accLocation and accState answer, the rest is not implemented.
struct TestCaret : public IAccessible {
    HWND window;
    LONG state;
    STDMETHODIMP QueryInterface(REFIID riid, void **object) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(IAccessible)) {
            *object = static_cast<IAccessible *>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // static: lives as long as the test
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT *count) override { *count = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override { return E_NOTIMPL; }
    STDMETHODIMP get_accParent(IDispatch **) override { return E_NOTIMPL; }
    STDMETHODIMP get_accChildCount(long *count) override { *count = 0; return S_OK; }
    STDMETHODIMP get_accChild(VARIANT, IDispatch **) override { return E_NOTIMPL; }
    STDMETHODIMP get_accName(VARIANT, BSTR *) override { return E_NOTIMPL; }
    STDMETHODIMP get_accValue(VARIANT, BSTR *) override { return E_NOTIMPL; }
    STDMETHODIMP get_accDescription(VARIANT, BSTR *) override { return E_NOTIMPL; }
    STDMETHODIMP get_accRole(VARIANT, VARIANT *role) override
    {
        role->vt = VT_I4;
        role->lVal = ROLE_SYSTEM_CARET;
        return S_OK;
    }
    STDMETHODIMP get_accState(VARIANT, VARIANT *value) override
    {
        value->vt = VT_I4;
        value->lVal = state;
        return S_OK;
    }
    STDMETHODIMP get_accHelp(VARIANT, BSTR *) override { return E_NOTIMPL; }
    STDMETHODIMP get_accHelpTopic(BSTR *, VARIANT, long *) override { return E_NOTIMPL; }
    STDMETHODIMP get_accKeyboardShortcut(VARIANT, BSTR *) override { return E_NOTIMPL; }
    STDMETHODIMP get_accFocus(VARIANT *) override { return E_NOTIMPL; }
    STDMETHODIMP get_accSelection(VARIANT *) override { return E_NOTIMPL; }
    STDMETHODIMP get_accDefaultAction(VARIANT, BSTR *) override { return E_NOTIMPL; }
    STDMETHODIMP accSelect(long, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP accLocation(long *left, long *top, long *width, long *height, VARIANT) override
    {
        RECT rect;
        GetWindowRect(window, &rect);
        *left = rect.left + CaretTargetAccessibleOffset.x;
        *top = rect.top + CaretTargetAccessibleOffset.y;
        *width = 1;
        *height = 18;
        return S_OK;
    }
    STDMETHODIMP accNavigate(long, VARIANT, VARIANT *) override { return E_NOTIMPL; }
    STDMETHODIMP accHitTest(long, long, VARIANT *) override { return E_NOTIMPL; }
    STDMETHODIMP accDoDefaultAction(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }
};

static TestCaret VisibleCaret;
static TestCaret InvisibleCaret;

static LRESULT CALLBACK CaretTargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CaretTargetKind kind = (CaretTargetKind)GetWindowLongPtrW(window, GWLP_USERDATA);
    switch (message) {
    case WM_SETFOCUS:
        if (kind == CARET_TARGET_SYSTEM) {
            CreateCaret(window, nullptr, 2, 16);
            SetCaretPos(CaretTargetClientPoint.x, CaretTargetClientPoint.y);
            ShowCaret(window);
        }
        return 0;
    case WM_KILLFOCUS:
        if (kind == CARET_TARGET_SYSTEM)
            DestroyCaret();
        return 0;
    case WM_GETOBJECT:
        if ((LONG)lParam != (LONG)OBJID_CARET)
            break;
        CaretTargetAskedTick = GetTickCount();
        if (kind == CARET_TARGET_HUNG) {
            Sleep(CaretTargetHangMs);
            return 0;
        }
        if (kind == CARET_TARGET_ACCESSIBLE || kind == CARET_TARGET_INVISIBLE) {
            TestCaret *caret = kind == CARET_TARGET_ACCESSIBLE ? &VisibleCaret : &InvisibleCaret;
            caret->window = window;
            caret->state = kind == CARET_TARGET_INVISIBLE ? STATE_SYSTEM_INVISIBLE : 0;
            return LresultFromObject(__uuidof(IAccessible), wParam, caret);
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateCaretTarget(CaretTargetKind kind, int x, int y)
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = CaretTargetProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
        wc.hCursor = LoadCursorW(nullptr, (LPCWSTR)IDC_IBEAM);
        wc.lpszClassName = L"tavoTestCaretTargetClass";
        registered = RegisterClassW(&wc) != 0;
    }
    HWND window = CreateWindowExW(0, L"tavoTestCaretTargetClass", L"caret target", WS_POPUP | WS_BORDER,
                                  x, y, 300, 120, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window) {
        SetWindowLongPtrW(window, GWLP_USERDATA, (LONG_PTR)kind);
        ShowWindow(window, SW_SHOW);
        PumpFor(30);
    }
    return window;
}

bool FocusWindowNow(HWND window, DWORD timeoutMs)
{
    return WaitUntil([&] {
        if (GetForegroundWindow() != window)
            SetForegroundWindow(window);
        if (GetFocus() != window)
            SetFocus(window);
        return GetForegroundWindow() == window && GetFocus() == window;
    }, timeoutMs);
}

// The window as it is on the screen, as a .bmp file.
void SaveWindowPicture(HWND window, const std::string &path)
{
    RECT rect;
    GetWindowRect(window, &rect);
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    DWORD stride = ((width * 3 + 3) & ~3), size = stride * height;
    BITMAPFILEHEADER head = {0x4D42, (DWORD)(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size), 0, 0,
                             sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
    info.bmiHeader.biSizeImage = size;
    FILE *file = fopen(path.c_str(), "wb");
    if (file) {
        fwrite(&head, sizeof(head), 1, file);
        fwrite(&info.bmiHeader, sizeof(BITMAPINFOHEADER), 1, file);
        fwrite(bits, 1, size, file);
        fclose(file);
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

std::vector<DWORD> g_replaceSteps, g_moveSteps;

static DWORD NextStep(std::vector<DWORD> *steps)
{
    DWORD step = steps->empty() ? 0 : steps->front();
    if (!steps->empty())
        steps->erase(steps->begin());
    return step;
}

BOOL WINAPI ScriptedReplace(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR aside, DWORD flags, LPVOID, LPVOID)
{
    DWORD error = NextStep(&g_replaceSteps);
    if (error == 0)
        return ReplaceFileW(replaced, replacement, aside, flags, nullptr, nullptr);
    // Without an aside name the replaced file is gone; with one both keep their names.
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT && !aside)
        DeleteFileW(replaced);
    // The replaced file sits under the aside name, or under a name of the system's own.
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        MoveFileExW(replaced, aside ? aside : (std::wstring(replaced) + L".~rf").c_str(), MOVEFILE_REPLACE_EXISTING);
    SetLastError(error);
    return FALSE;
}

BOOL WINAPI ScriptedMove(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    DWORD error = NextStep(&g_moveSteps);
    if (error == 0)
        return MoveFileExW(from, to, flags);
    SetLastError(error);
    return FALSE;
}

// Another window may register the combination only when nobody holds it.
bool HotkeyTaken(UINT mods, UINT vk)
{
    HWND probe = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    bool taken = !RegisterHotKey(probe, 1, mods, vk);
    if (!taken)
        UnregisterHotKey(probe, 1);
    DestroyWindow(probe);
    return taken;
}
