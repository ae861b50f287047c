// The real tavo.exe and its two files when something is in the way: a file another program
// holds, a read-only file, a stale temporary file, logoff or shutdown, a restarted shell.
// Each case runs a copy in a scratch folder; the test plays the other program and the user.
#include <windows.h>
#include <shellapi.h>
#include <cstdio>
#include <doctest/doctest.h>
#include "shell_e2e.h"
#include "state/ini_data.h"

namespace {

const wchar_t PasteUnreadableProtected[] =
    L"paste.dat を読み込めませんでした。\npaste.dat.bak に控えを作れるまで、このファイルには保存しません。";
const wchar_t IniUnreadableProtected[] =
    L"ini.dat を読み込めませんでした。\nini.dat.bak に控えを作れるまで、このファイルには保存しません。";
const wchar_t ExitRetryLine[] =
    L"もう一度保存しますか？\n保存せずに終了することも (ディスク上のファイルは元のまま残ります)、終了を取りやめることもできます。";
const wchar_t PasteNotSaved[] = L"paste.dat を保存できませんでした。\n";
const wchar_t PasteProtected[] = L"paste.dat を読み込めなかったため、paste.dat.bak に控えを作れるまで上書きしません。\n";
const wchar_t PasteLocked[] =
    L"この paste.dat は別の Windows ユーザーまたは別の PC で暗号化されているか、壊れているため開けません。"
    L"暗号化したユーザーとして、その PC で起動すれば開けます。このファイルには書き込みません。\n"
    L"空のデータで起動しますか？ paste.dat は paste.dat.protected という名前で残します。起動しない場合は終了します。";

std::vector<PasteRecord> Entries()
{
    return {
        {0, L"", L"first copy"},
        {1, L"サイト名", L"ログインID\r\nパスワード"},
        {0, L"", L"two\r\nlines"},
        {1, L"bank", L"4711"},
    };
}

std::vector<PasteRecord> RegisteredOnly()
{
    return {Entries()[1], Entries()[3]};
}

const WPARAM ClearHistoryCommand = 40004;

// A sync client: reads and writes, lets others do the same, but not rename or delete the file.
const DWORD SyncClientAccess = GENERIC_READ | GENERIC_WRITE;
const DWORD SyncClientShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

HWND WaitForBox(const TavoProcess &tavo, DWORD timeoutMs = 10000)
{
    HWND box = nullptr;
    WaitUntil([&] {
        box = FindVisibleProcessWindow(tavo.process.dwProcessId, L"#32770", L"tavo");
        return box != nullptr;
    }, timeoutMs);
    return box;
}

bool Running(const TavoProcess &tavo)
{
    return WaitForSingleObject(tavo.process.hProcess, 0) == WAIT_TIMEOUT;
}

std::vector<PasteRecord> Saved(const std::wstring &dir)
{
    std::vector<PasteRecord> entries;
    CHECK_MESSAGE(ReadPasteRecords(dir + L"paste.dat", &entries), "paste.dat does not parse");
    return entries;
}

// The program's answer to a message sent after everything posted before it.
bool Settled(const TavoProcess &tavo)
{
    DWORD_PTR answer = 0;
    return SendMessageTimeoutW(tavo.mainWindow, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer) != 0;
}

// Closes the program while paste.dat cannot be saved: the box names the file and offers the three
// choices, and "はい" tries again. The box that asks the second time, or null.
HWND ExitAskedTwice(const TavoProcess &tavo)
{
    PostMessageW(tavo.mainWindow, WM_CLOSE, 0, 0);
    HWND box = WaitForBox(tavo);
    REQUIRE(box != nullptr);
    CHECK(BoxText(box) == std::wstring(PasteNotSaved) + ExitRetryLine);
    PressButton(box, IDYES);
    CHECK(WaitUntil([&] { return !IsWindow(box); }, 5000));
    return WaitForBox(tavo);
}

bool InUserForm(const std::wstring &dir)
{
    Bytes plain;
    std::vector<size_t> chunks;
    return UnprotectUserForm(ReadFileBytes(dir + L"paste.dat"), ProgramEntropy, &plain, &chunks);
}

}  // namespace

TEST_CASE("entries protected for this Windows user are read back at a start; another user's file survives")
{
    std::wstring dir = MakeScratchDir(L"data_user_form");
    const std::vector<PasteRecord> bank = {{1, L"bank", L"S3cret!"}};
    REQUIRE(WriteFileBytes(dir + L"paste.dat", UserFormPasteFile(bank, ProgramEntropy)));
    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    // This user's file: read without a word, and written back in its form.
    REQUIRE(StartClean(dir, &tavo));
    CHECK(CountProcessWindows(tavo.process.dwProcessId, L"#32770", L"tavo", true) == 0);
    CHECK(StopTavo(&tavo) == 0);
    CHECK(Saved(dir) == bank);
    CHECK(InUserForm(dir));

    // Another user's file: told at the start; "No" ends and leaves it as it was; "Yes" starts empty
    // with it moved aside, where it stays through the exit, which writes a new paste.dat in its form.
    const Bytes foreign = UserFormPasteFile(bank, "another user's key");
    REQUIRE(WriteFileBytes(dir + L"paste.dat", foreign));
    REQUIRE(StartClean(dir, &tavo));
    HWND box = WaitForBox(tavo);
    REQUIRE(box != nullptr);
    CHECK(BoxText(box) == PasteLocked);
    PressButton(box, IDNO);
    CHECK(WaitExit(tavo.process, 15000) == 0);
    CHECK(ReadFileBytes(dir + L"paste.dat") == foreign);
    REQUIRE(StartClean(dir, &tavo));
    REQUIRE((box = WaitForBox(tavo)) != nullptr);
    PressButton(box, IDYES);
    CHECK(WaitUntil([&] { return GetClipboardViewer() == tavo.mainWindow; }, 10000));
    CHECK(StopTavo(&tavo) == 0);
    CHECK(ReadFileBytes(dir + L"paste.dat.protected") == foreign);
    CHECK(Saved(dir).empty());
    CHECK(InUserForm(dir));
}

TEST_CASE("a paste.dat held open at the start is no first start: a warning, a Yes/No/Cancel exit, and paste.dat.bak")
{
    std::wstring dir = MakeScratchDir(L"data_held_start");
    std::vector<PasteRecord> fifty;
    for (int i = 0; i < 50; i++)
        fifty.push_back({1, L"entry " + std::to_wstring(i), L"text " + std::to_wstring(i)});
    REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(fifty)));
    Bytes original = ReadFileBytes(dir + L"paste.dat");
    // A virus scanner or backup client that holds the file, sharing nothing, across the start.
    HeldFile holder(dir + L"paste.dat", GENERIC_READ, 0);
    REQUIRE(holder.handle != INVALID_HANDLE_VALUE);

    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    REQUIRE(StartClean(dir, &tavo));
    HWND box = WaitForBox(tavo);
    REQUIRE(box != nullptr);
    CHECK(BoxText(box) == PasteUnreadableProtected);
    CHECK(GetWindow(box, GW_OWNER) == tavo.mainWindow);
    PressOk(box);
    CHECK(WaitUntil([&] { return !IsWindow(box); }, 5000));

    // Exit while the file is still held: it is neither replaced nor dropped in silence.
    PostMessageW(tavo.mainWindow, WM_CLOSE, 0, 0);
    box = WaitForBox(tavo);
    REQUIRE(box != nullptr);
    CHECK(BoxText(box) == std::wstring(PasteProtected) + ExitRetryLine);
    CHECK(GetDlgItem(box, IDYES) != nullptr);
    CHECK(GetDlgItem(box, IDNO) != nullptr);
    CHECK(GetDlgItem(box, IDCANCEL) != nullptr);
    PressButton(box, IDCANCEL);
    CHECK(WaitUntil([&] { return !IsWindow(box); }, 5000));
    REQUIRE(Settled(tavo));
    CHECK(Running(tavo));
    CHECK(GetClipboardViewer() == tavo.mainWindow);

    // Once the holder lets go, the exit copies the file aside and then saves.
    holder.Release();
    CHECK(ReadFileBytes(dir + L"paste.dat") == original);
    PostMessageW(tavo.mainWindow, WM_CLOSE, 0, 0);
    CHECK(WaitExit(tavo.process, 15000) == 0);
    CHECK(ReadFileBytes(dir + L"paste.dat.bak") == original);
    CHECK(Saved(dir).empty());  // this run held no entries: no default entry was made up
}

TEST_CASE("a paste.dat that a sync client holds: loaded; at exit Retry until it lets go, then saved")
{
    std::wstring dir = MakeScratchDir(L"data_sync_client");
    REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(Entries())));
    HeldFile holder(dir + L"paste.dat", SyncClientAccess, SyncClientShare);
    REQUIRE(holder.handle != INVALID_HANDLE_VALUE);
    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    REQUIRE(StartClean(dir, &tavo));
    PumpFor(300);
    CHECK(CountProcessWindows(tavo.process.dwProcessId, L"#32770", L"tavo", true) == 0);
    SendMessageW(tavo.mainWindow, WM_COMMAND, ClearHistoryCommand, 0);
    // Retry while the file is still held: asked again.
    HWND again = ExitAskedTwice(tavo);
    REQUIRE(again != nullptr);
    CHECK(BoxText(again) == std::wstring(PasteNotSaved) + ExitRetryLine);
    holder.Release();
    PressButton(again, IDYES);
    CHECK(WaitExit(tavo.process, 15000) == 0);
    CHECK(Saved(dir) == RegisteredOnly());
}

TEST_CASE("a read-only paste.dat: Cancel keeps the program running and capturing; after the attribute goes the exit saves")
{
    std::wstring dir = MakeScratchDir(L"data_readonly");
    REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(Entries())));
    REQUIRE(SetFileAttributesW((dir + L"paste.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    REQUIRE(StartClean(dir, &tavo));

    PostMessageW(tavo.mainWindow, WM_CLOSE, 0, 0);
    HWND box = WaitForBox(tavo);
    REQUIRE(box != nullptr);
    CHECK(BoxText(box) == std::wstring(PasteNotSaved) + ExitRetryLine);
    // A second close while the box is open asks nothing more.
    PostMessageW(tavo.mainWindow, WM_CLOSE, 0, 0);
    PumpFor(300);
    CHECK(CountProcessWindows(tavo.process.dwProcessId, L"#32770", L"tavo", true) == 1);
    PressButton(box, IDCANCEL);
    CHECK(WaitUntil([&] { return !IsWindow(box); }, 5000));
    REQUIRE(Settled(tavo));
    CHECK(Running(tavo));

    // Still in the viewer chain and capturing.
    CHECK(GetClipboardViewer() == tavo.mainWindow);
    HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    REQUIRE(PutClipboardText(owner, L"copied after cancel"));
    DestroyWindow(owner);
    REQUIRE(Settled(tavo));

    SetFileAttributesW((dir + L"paste.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
    PostMessageW(tavo.mainWindow, WM_CLOSE, 0, 0);
    CHECK(WaitExit(tavo.process, 15000) == 0);
    std::vector<PasteRecord> expected = Entries();
    expected.push_back({0, L"", L"copied after cancel"});
    CHECK(Saved(dir) == expected);
}

TEST_CASE("a read-only paste.dat: No ends the program without saving, and paste.dat stays as it was")
{
    std::wstring dir = MakeScratchDir(L"data_end_unsaved");
    REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(Entries())));
    REQUIRE(SetFileAttributesW((dir + L"paste.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    Bytes original = ReadFileBytes(dir + L"paste.dat");
    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    REQUIRE(StartClean(dir, &tavo));
    SendMessageW(tavo.mainWindow, WM_COMMAND, ClearHistoryCommand, 0);
    // Yes tries again and asks again; No ends.
    HWND box = ExitAskedTwice(tavo);
    REQUIRE(box != nullptr);
    PressButton(box, IDNO);
    CHECK(WaitExit(tavo.process, 15000) == 0);
    CHECK(ReadFileBytes(dir + L"paste.dat") == original);
    CHECK((GetFileAttributesW((dir + L"paste.dat").c_str()) & FILE_ATTRIBUTE_READONLY) != 0);
    SetFileAttributesW((dir + L"paste.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_CASE("a copy reaches paste.dat about a minute after it was made, while the program runs on")
{
    std::wstring dir = MakeScratchDir(L"data_idle_save");
    REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(Entries())));
    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    REQUIRE(StartClean(dir, &tavo));
    HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    REQUIRE(PutClipboardText(owner, L"copied, never exited"));
    DestroyWindow(owner);
    REQUIRE(Settled(tavo));
    DWORD copied = GetTickCount();
    std::vector<PasteRecord> expected = Entries();
    expected.push_back({0, L"", L"copied, never exited"});
    bool written = WaitUntil([&] {
        std::vector<PasteRecord> saved;
        return ReadPasteRecords(dir + L"paste.dat", &saved) && saved == expected;
    }, 100000);
    DWORD waited = GetTickCount() - copied;
    printf("idle save (%s): the copy was on disk %lu ms after it was made\n", BuildArchitecture(), (unsigned long)waited);
    CHECK(written);
    CHECK(waited >= 30000);  // not at once: the first minute after the start waits
    CHECK(Running(tavo));
    CHECK(CountProcessWindows(tavo.process.dwProcessId, L"#32770", L"tavo", true) == 0);
    CHECK(StopTavo(&tavo) == 0);
}

TEST_CASE("a stale paste.tmp, read-only and held by a scanner, and a folder named ini.tmp do not stop the exit save")
{
    std::wstring dir = MakeScratchDir(L"data_stale_tmp");
    REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(Entries())));
    // The names the saves once always used, left behind by a crash. Under Wine a root user may
    // write a read-only file, so a scanner holds this one too, as Windows would refuse it anyway.
    REQUIRE(WriteFileBytes(dir + L"paste.tmp", Bytes{7, 7, 7}));
    REQUIRE(SetFileAttributesW((dir + L"paste.tmp").c_str(), FILE_ATTRIBUTE_READONLY));
    HeldFile scanner(dir + L"paste.tmp", GENERIC_READ, 0);
    REQUIRE(scanner.handle != INVALID_HANDLE_VALUE);
    REQUIRE(CreateDirectoryW((dir + L"ini.tmp").c_str(), nullptr));
    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    REQUIRE(StartClean(dir, &tavo));
    SendMessageW(tavo.mainWindow, WM_COMMAND, ClearHistoryCommand, 0);
    CHECK(StopTavo(&tavo) == 0);
    CHECK(Saved(dir) == RegisteredOnly());
    IniData ini;
    CHECK(ReadIniRecord(dir + L"ini.dat", &ini));
    scanner.Release();
    SetFileAttributesW((dir + L"paste.tmp").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_CASE("at logoff or shutdown both files are written before any box, a file held for a moment included")
{
    std::wstring dir = MakeScratchDir(L"data_endsession");
    REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(Entries())));
    Bytes original = ReadFileBytes(dir + L"paste.dat");
    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    REQUIRE(StartClean(dir, &tavo));
    SendMessageW(tavo.mainWindow, WM_COMMAND, ClearHistoryCommand, 0);
    HeldFile holder(dir + L"paste.dat", SyncClientAccess, SyncClientShare);
    REQUIRE(holder.handle != INVALID_HANDLE_VALUE);

    SUBCASE("held for half a second: retried and written; no box, the program ends")
    {
        PostMessageW(tavo.mainWindow, WM_ENDSESSION, TRUE, 0);
        PumpFor(500);
        holder.Release();
        CHECK(WaitExit(tavo.process, 15000) == 0);
        CHECK(Saved(dir) == RegisteredOnly());
    }
    SUBCASE("held throughout: the warning follows the attempts, and the program still ends")
    {
        PostMessageW(tavo.mainWindow, WM_ENDSESSION, TRUE, 0);
        HWND box = WaitForBox(tavo);
        REQUIRE(box != nullptr);
        CHECK(BoxText(box) == std::wstring(PasteNotSaved) + L"変更の一部は失われます。");
        // ini.dat was written before the box appeared.
        IniData ini;
        CHECK(ReadIniRecord(dir + L"ini.dat", &ini));
        holder.Release();
        CHECK(ReadFileBytes(dir + L"paste.dat") == original);
        PressOk(box);
        CHECK(WaitExit(tavo.process, 15000) == 0);
    }
}

TEST_CASE("an ini.dat held open at the start: the settings are not replaced by the defaults without a copy")
{
    std::wstring dir = MakeScratchDir(L"data_ini_held");
    IniData stored = {};
    SetDefaultIniData(&stored);
    stored.pasteWaitMs = 250;
    stored.menuWrapCount = 5;
    REQUIRE(WriteFileBytes(dir + L"ini.dat", EncryptedIni(stored)));
    Bytes original = ReadFileBytes(dir + L"ini.dat");
    HeldFile holder(dir + L"ini.dat", GENERIC_READ, 0);
    REQUIRE(holder.handle != INVALID_HANDLE_VALUE);
    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    REQUIRE(StartClean(dir, &tavo));
    HWND box = WaitForBox(tavo);
    REQUIRE(box != nullptr);
    CHECK(BoxText(box) == IniUnreadableProtected);
    PressOk(box);
    holder.Release();
    CHECK(WaitUntil([&] { return !IsWindow(box); }, 5000));
    CHECK(StopTavo(&tavo) == 0);
    CHECK(ReadFileBytes(dir + L"ini.dat.bak") == original);
}

TEST_CASE("after the shell restarts, TaskbarCreated brings the tray icon back")
{
    std::wstring dir = MakeScratchDir(L"data_taskbar");
    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    REQUIRE(StartClean(dir, &tavo));
    NOTIFYICONDATAW icon = {};
    icon.cbSize = NOTIFYICONDATAW_V1_SIZE;
    icon.hWnd = tavo.mainWindow;
    icon.uID = 2000;
    icon.uFlags = NIF_TIP;
    lstrcpynW(icon.szTip, L"tavo ver 0.03", 64);
    // The icon is there, then gone as a restarted shell has lost it.
    REQUIRE(Shell_NotifyIconW(NIM_MODIFY, &icon));
    REQUIRE(Shell_NotifyIconW(NIM_DELETE, &icon));
    REQUIRE_FALSE(Shell_NotifyIconW(NIM_MODIFY, &icon));
    // The shell's broadcast to every top-level window.
    SendMessageTimeoutW(tavo.mainWindow, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0, SMTO_NORMAL, 5000, nullptr);
    CHECK(Shell_NotifyIconW(NIM_MODIFY, &icon));
    CHECK(StopTavo(&tavo) == 0);
}

TEST_CASE("logoff or shutdown while the exit asks Yes/No/Cancel: saved at once, told, and the program ends")
{
    std::wstring dir = MakeScratchDir(L"data_endsession_in_box");
    REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(Entries())));
    REQUIRE(SetFileAttributesW((dir + L"paste.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    TavoProcess tavo = {};
    EndAtExit endAtExit = {&tavo};
    REQUIRE(StartClean(dir, &tavo));
    PostMessageW(tavo.mainWindow, WM_CLOSE, 0, 0);
    HWND box = WaitForBox(tavo);
    REQUIRE(box != nullptr);
    REQUIRE(DeleteFileW((dir + L"ini.dat").c_str()));  // written by the failed exit: gone, to see it again

    // Windows sends it while the box's own loop runs.
    PostMessageW(tavo.mainWindow, WM_ENDSESSION, TRUE, 0);
    HWND warning = nullptr;
    REQUIRE(WaitUntil([&] {
        warning = FindVisibleProcessWindow(tavo.process.dwProcessId, L"#32770", L"tavo");
        return warning && warning != box;
    }, 15000));
    CHECK(BoxText(warning) == std::wstring(PasteNotSaved) + L"変更の一部は失われます。");
    IniData ini;
    CHECK(ReadIniRecord(dir + L"ini.dat", &ini));
    PressOk(warning);
    CHECK(WaitExit(tavo.process, 15000) == 0);
    SetFileAttributesW((dir + L"paste.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_CASE("an apps.dat the program cannot use is told once: a damaged one is kept as .bak and replaced at exit, a newer one left alone")
{
    const Bytes noRules = {'T', 'V', 'A', 'R', 1, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};  // full-screen quiet on
    const struct Case {
        Bytes plain;
        const wchar_t *told;
        bool replacedAtExit;
    } cases[] = {
        {Bytes{'T', 'V', 'A', 'R', 1, 0, 0}, L"apps.dat を読み込めませんでした。\n元のファイルは apps.dat.bak に残しました。", true},
        {Bytes{'T', 'V', 'A', 'R', 2, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0},
         L"apps.dat は新しい版の tavo が書いたファイルです。この版はアプリ別の設定を使わず、このファイルを書き換えません。", false},
    };
    for (const Case &c : cases) {
        CAPTURE(c.replacedAtExit);
        std::wstring dir = MakeScratchDir(L"data_apps_unusable");
        REQUIRE(WriteFileBytes(dir + L"apps.dat", DecryptDataFile(c.plain)));
        TavoProcess tavo = {};
        EndAtExit endAtExit = {&tavo};
        REQUIRE(StartClean(dir, &tavo));
        HWND box = WaitForBox(tavo);
        REQUIRE(box != nullptr);
        CHECK(BoxText(box) == c.told);
        PressOk(box);
        CHECK((WaitUntil([&] { return !IsWindow(box); }, 5000) && Settled(tavo)));
        CHECK(FindVisibleProcessWindow(tavo.process.dwProcessId, L"#32770", L"tavo") == nullptr);  // once
        // The exit saves without a box: leaving a newer file alone is no failure.
        CHECK(StopTavo(&tavo) == 0);
        CHECK(DecryptDataFile(ReadFileBytes(dir + L"apps.dat.bak")) == (c.replacedAtExit ? c.plain : Bytes()));
        CHECK(DecryptDataFile(ReadFileBytes(dir + L"apps.dat")) == (c.replacedAtExit ? noRules : c.plain));
    }
}
