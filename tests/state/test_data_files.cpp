#include <doctest/doctest.h>
#include "state/app_rules.h"
#include "state/data_files.h"
#include "state/item_store.h"
#include "test_util.h"
#include <wincrypt.h>
#include <string>

// Plain and encrypted images are the same call: RC4 is its own inverse.
static BOOL WriteEncrypted(const std::wstring &path, const Bytes &plain)
{
    return WriteFileBytes(path, DecryptDataFile(plain));
}

static std::wstring UseScratch(const std::wstring &name)
{
    std::wstring dir = MakeScratchDir(name);
    SetDataDirectoryForTests(dir.c_str());
    SetCipherFailureForTests(FALSE);
    ItemStore::ResetForTests();
    return dir;
}

// Temporary files a save left behind in the folder (the saves use names of their own).
static int CountTempFiles(const std::wstring &dir)
{
    int count = 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((dir + L"*.tmp").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do
            count++;
        while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return count;
}

static const std::wstring JapaneseName = L"サイト名";
static const std::wstring LoginText = L"ログインID\r\nパスワード";

TEST_CASE("the cipher gives the provider's RC4 key stream of the fixed phrase")
{
    SetCipherFailureForTests(FALSE);
    SUBCASE("16 zero bytes with \"tavo\"")
    {
        BYTE buffer[16] = {};
        REQUIRE(DataCipher(buffer, sizeof(buffer), L"tavo", CIPHER_ENCRYPT));
        static const BYTE expected[16] = {0x11, 0x1b, 0x95, 0x9f, 0xbc, 0xda, 0xce, 0x93,
                                          0x60, 0x69, 0x19, 0x87, 0x99, 0xb7, 0xa4, 0xe7};
        CHECK(Bytes(buffer, buffer + 16) == Bytes(expected, expected + 16));
    }
    SUBCASE("a long buffer matches the independent RC4, and decrypting gives it back")
    {
        Bytes plain(5000);
        for (size_t i = 0; i < plain.size(); i++)
            plain[i] = (BYTE)(i * 7 + 3);
        Bytes buffer = plain;
        REQUIRE(DataCipher(buffer.data(), (DWORD)buffer.size(), DataPassPhrase, CIPHER_ENCRYPT));
        CHECK(buffer == DecryptDataFile(plain));
        Bytes again = plain;
        REQUIRE(DataCipher(again.data(), (DWORD)again.size(), DataPassPhrase, CIPHER_ENCRYPT));
        CHECK(again == buffer);  // every call starts the key stream afresh
        REQUIRE(DataCipher(buffer.data(), (DWORD)buffer.size(), DataPassPhrase, CIPHER_DECRYPT));
        CHECK(buffer == plain);
    }
    SUBCASE("only the first two characters of the phrase make the key")
    {
        BYTE a[8] = {}, b[8] = {};
        REQUIRE(DataCipher(a, 8, L"tavo", CIPHER_ENCRYPT));
        REQUIRE(DataCipher(b, 8, L"taXY", CIPHER_ENCRYPT));
        CHECK(memcmp(a, b, 8) == 0);
    }
    SUBCASE("an unknown mode fails and leaves the buffer alone")
    {
        BYTE buffer[6] = {1, 2, 3, 4, 5, 6};
        CHECK_FALSE(DataCipher(buffer, sizeof(buffer), DataPassPhrase, 2));
        static const BYTE same[6] = {1, 2, 3, 4, 5, 6};
        CHECK(memcmp(buffer, same, 6) == 0);
    }
}

TEST_CASE("AppDir is the executable's folder with its backslash")
{
    SetDataDirectoryForTests(nullptr);
    WCHAR dir[MAX_PATH];
    REQUIRE(AppDir(dir));
    CHECK(std::wstring(dir) == BinDir());
    SetDataDirectoryForTests(L"C:\\some\\where");
    REQUIRE(AppDir(dir));
    CHECK(std::wstring(dir) == L"C:\\some\\where\\");
}

TEST_CASE("paste.dat holds the count and the records oldest first, encrypted as one piece")
{
    std::wstring dir = UseScratch(L"layout");
    ItemId first = ItemStore::Insert(Registered, L"old", L"gone");
    ItemId h = ItemStore::Insert(History, nullptr, L"line1\r\nline2");
    ItemId r = ItemStore::Insert(Registered, JapaneseName.c_str(), LoginText.c_str());
    ItemStore::Insert(7, L"odd", nullptr);
    ItemStore::Erase(first);
    ItemStore::MoveToEnd(r);  // ids 2, 4, 5: the registered entry is now the newest
    (void)h;

    REQUIRE(SaveItems());
    CHECK(ItemStore::Size() == 3);  // a save never empties the store

    Bytes expected = PastePlainImage({
        {History, L"", L"line1\r\nline2"},
        {7, L"odd", L""},
        {Registered, JapaneseName, LoginText},
    });
    Bytes onDisk = ReadFileBytes(dir + L"paste.dat");
    CHECK(onDisk.size() == expected.size());
    CHECK(DecryptDataFile(onDisk) == expected);
    CHECK(CountTempFiles(dir) == 0);

    SUBCASE("the image builder gives the same plain bytes")
    {
        ItemStore::ResetForTests();
        REQUIRE(ParseItemsImage(expected.data(), (DWORD)expected.size()) == ITEMS_IMAGE_OK);
        DWORD size = 0;
        BYTE *image = MakeItemsImage(&size);
        REQUIRE(image);
        CHECK(Bytes(image, image + size) == expected);
        HeapFree(GetProcessHeap(), 0, image);
    }
}

TEST_CASE("saving and loading keeps order, kinds, names and texts; ids become 1 to N")
{
    std::wstring dir = UseScratch(L"roundtrip");
    ItemStore::Insert(History, nullptr, L"first copy");
    ItemStore::Insert(Registered, JapaneseName.c_str(), LoginText.c_str());
    ItemStore::Insert(History, nullptr, L"");
    ItemStore::Insert(-3, nullptr, L"odd kind");
    ItemStore::Erase(1);
    ItemStore::Insert(History, nullptr, L"newest");
    REQUIRE(SaveItems());

    ItemStore::ResetForTests();  // a fresh start numbers from 1 again
    REQUIRE(LoadItems());
    REQUIRE(ItemStore::Size() == 4);
    CHECK(ItemStore::KindOf(1) == Registered);
    CHECK(StoredName(1) == JapaneseName);
    CHECK(StoredText(1) == LoginText);
    CHECK(ItemStore::KindOf(2) == History);
    CHECK(StoredText(2) == L"");
    CHECK(ItemStore::KindOf(3) == -3);
    CHECK(StoredText(3) == L"odd kind");
    CHECK(StoredText(4) == L"newest");
    CHECK(StoredName(4) == L"");
    CHECK(g_nextItemId == 5);
    CHECK_FALSE(FileIsThere(dir + L"paste.dat.bak"));

    SUBCASE("the odd kind is written back as it came")
    {
        Bytes before = ReadFileBytes(dir + L"paste.dat");
        REQUIRE(SaveItems());
        CHECK(ReadFileBytes(dir + L"paste.dat") == before);
    }
}

TEST_CASE("a count of 0 or below loads an empty store successfully")
{
    std::wstring dir = UseScratch(L"empty");
    SUBCASE("written from an empty store")
    {
        REQUIRE(SaveItems());
        CHECK(ReadFileBytes(dir + L"paste.dat").size() == 4);
    }
    SUBCASE("negative count")
    {
        Bytes plain;
        AppendInt32(&plain, -5);
        REQUIRE(WriteEncrypted(dir + L"paste.dat", plain));
    }
    CHECK(LoadItems());
    CHECK(ItemStore::Size() == 0);
    CHECK_FALSE(FileIsThere(dir + L"paste.dat.bak"));
}

TEST_CASE("a missing or too short paste.dat fails the load")
{
    std::wstring dir = UseScratch(L"short");
    CHECK_FALSE(LoadItems());
    CHECK_FALSE(FileIsThere(dir + L"paste.dat.bak"));
    REQUIRE(WriteFileBytes(dir + L"paste.dat", Bytes{1, 2, 3}));
    CHECK_FALSE(LoadItems());
    CHECK(ItemStore::Size() == 0);
    REQUIRE(WriteFileBytes(dir + L"paste.dat", Bytes{}));
    CHECK_FALSE(LoadItems());
    CHECK(ItemStore::Size() == 0);
}

TEST_CASE("a damaged paste.dat keeps what was read completely and is copied to paste.dat.bak")
{
    std::wstring dir = UseScratch(L"damaged");
    Bytes plain;
    AppendInt32(&plain, 2);
    AppendPasteRecord(&plain, {Registered, L"name", L"kept"});
    size_t secondRecord = plain.size();
    AppendPasteRecord(&plain, {History, L"", L"second"});
    REQUIRE(WriteFileBytes(dir + L"paste.dat.bak", Bytes{9, 9}));  // an older copy is replaced

    Bytes damaged;
    SUBCASE("ends inside the second text")
    {
        damaged.assign(plain.begin(), plain.end() - 5);
    }
    SUBCASE("the second text lacks its terminator")
    {
        damaged.assign(plain.begin(), plain.end() - 2);
    }
    SUBCASE("ends inside the second kind")
    {
        damaged.assign(plain.begin(), plain.begin() + secondRecord + 3);
    }
    SUBCASE("an odd byte after the second name")
    {
        damaged.assign(plain.begin(), plain.begin() + secondRecord + 4 + 2 + 1);
    }
    SUBCASE("the count promises more records than there are")
    {
        damaged = plain;
        damaged[0] = 0xff;
        damaged[1] = 0xff;
        damaged[2] = 0xff;
        damaged[3] = 0x7f;
        damaged.push_back(1);  // a kind cut short after the second record
    }
    REQUIRE(WriteEncrypted(dir + L"paste.dat", damaged));
    Bytes original = ReadFileBytes(dir + L"paste.dat");

    CHECK(LoadItems());
    CHECK(ItemStore::KindOf(1) == Registered);
    CHECK(StoredText(1) == L"kept");
    CHECK(StoredName(1) == L"name");
    if (damaged.size() >= plain.size())
        CHECK(StoredText(2) == L"second");
    else
        CHECK(ItemStore::Size() == 1);
    CHECK(ReadFileBytes(dir + L"paste.dat.bak") == original);
    CHECK(ReadFileBytes(dir + L"paste.dat") == original);
}

TEST_CASE("bytes behind the last record count as damage")
{
    std::wstring dir = UseScratch(L"trailing");
    Bytes plain = PastePlainImage({{History, L"", L"only"}});
    plain.push_back(0x41);
    plain.push_back(0x00);
    REQUIRE(WriteEncrypted(dir + L"paste.dat", plain));
    CHECK(LoadItems());
    CHECK(ItemStore::Size() == 1);
    CHECK(FileIsThere(dir + L"paste.dat.bak"));
}

TEST_CASE("the parser never reads beyond the bytes it is given")
{
    ItemStore::ResetForTests();
    // The image sits at the very end of a committed page followed by a reserved one, so any read
    // past its end faults.
    BYTE *pages = (BYTE *)VirtualAlloc(nullptr, 8192, MEM_RESERVE, PAGE_NOACCESS);
    REQUIRE(pages);
    REQUIRE(VirtualAlloc(pages, 4096, MEM_COMMIT, PAGE_READWRITE));
    Bytes plain;
    AppendInt32(&plain, 100);
    AppendPasteRecord(&plain, {Registered, L"n", L"t"});
    AppendInt32(&plain, History);
    plain.push_back(L'x');
    plain.push_back(0);  // a name that never ends
    for (size_t cut = 0; cut <= plain.size(); cut++) {
        BYTE *image = pages + 4096 - cut;
        memcpy(image, plain.data(), cut);
        ItemStore::ResetForTests();
        int result = ParseItemsImage(image, (DWORD)cut);
        CHECK(result == (cut < 4 ? ITEMS_IMAGE_BAD : ITEMS_IMAGE_DAMAGED));
        CHECK(ItemStore::Size() == (cut >= 4 + 4 + 4 + 4 ? 1 : 0));
    }
    VirtualFree(pages, 0, MEM_RELEASE);
}

TEST_CASE("a failed save leaves the old paste.dat as it was and keeps the store")
{
    std::wstring dir = UseScratch(L"savefail");
    ItemStore::Insert(Registered, L"old", L"file");
    REQUIRE(SaveItems());
    Bytes old = ReadFileBytes(dir + L"paste.dat");
    ItemStore::Insert(History, nullptr, L"new text");
    ItemStore::Insert(History, nullptr, L"more");

    SUBCASE("the cipher fails")
    {
        SetCipherFailureForTests(TRUE);
        CHECK_FALSE(SaveItems());
        SetCipherFailureForTests(FALSE);
    }
    SUBCASE("the protect call fails: no fallback to the shared form")
    {
        SetItemsFileForm(ITEMS_FORM_USER);
        SetCipherFailureForTests(TRUE);
        CHECK_FALSE(SaveItems());
        SetCipherFailureForTests(FALSE);
    }
    SUBCASE("the old file is held open by someone else")
    {
        HANDLE held = CreateFileW((dir + L"paste.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        REQUIRE(held != INVALID_HANDLE_VALUE);
        CHECK_FALSE(SaveItems());
        CloseHandle(held);
    }
    CHECK(ReadFileBytes(dir + L"paste.dat") == old);
    CHECK(ItemStore::Size() == 3);
    CHECK(StoredText(2) == L"new text");
    CHECK(CountTempFiles(dir) == 0);
    CHECK(SaveItems());  // and the next attempt goes through
    CHECK(ReadFileBytes(dir + L"paste.dat") != old);
}

TEST_CASE("a save that cannot put the new file in place keeps the old or the new contents under a known name")
{
    const DWORD Held = ERROR_SHARING_VIOLATION;  // a scanner holds the file being moved
    const struct Row {
        DWORD replace;
        std::vector<DWORD> moves;
        bool saved;
        const wchar_t *heldBy;  // the old contents' name when a failure left them aside
    } rows[] = {
        {0, {}, true, nullptr},
        {ERROR_UNABLE_TO_REMOVE_REPLACED, {0}, true, nullptr},
        {ERROR_UNABLE_TO_REMOVE_REPLACED, {Held}, false, nullptr},
        {ERROR_UNABLE_TO_MOVE_REPLACEMENT, {0}, true, nullptr},
        {ERROR_UNABLE_TO_MOVE_REPLACEMENT, {Held}, false, nullptr},
        {ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, {0, 0}, true, nullptr},
        {ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, {0, Held}, false, nullptr},
        {ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, {Held, 0}, true, nullptr},
        {ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, {Held, Held}, false, L"paste.dat.old"},
    };
    for (const Row &row : rows) {
        CAPTURE(row.replace);
        CAPTURE(row.moves.size());
        std::wstring dir = UseScratch(L"replacefail");
        REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile({{Registered, L"old", L"file"}})));
        ItemStore::Insert(Registered, L"old", L"file");
        ItemStore::Insert(History, nullptr, L"new");
        g_replaceSteps = {row.replace};
        g_moveSteps = row.moves;
        SetFileRoutesForTests(ScriptedReplace, ScriptedMove);
        CHECK(SaveItems() == (BOOL)row.saved);
        SetFileRoutesForTests(nullptr, nullptr);
        WCHAR holder[MAX_PATH] = L"";
        CHECK(DataFileHeldElsewhere(DATA_ITEMS, holder) == (row.heldBy != nullptr));
        CHECK(std::wstring(holder) == (row.heldBy ? row.heldBy : L""));
        CHECK(CountTempFiles(dir) == (row.heldBy ? 1 : 0));  // the new contents stay while the old are aside
        // The next start finds the old or the new contents under their own name again.
        ItemStore::ResetForTests();
        SetDataDirectoryForTests(dir.c_str());
        CHECK(LoadItems() == DATA_FILE_LOADED);
        CHECK(ItemStore::Size() == (row.saved ? 2 : 1));
        CHECK_FALSE(FileIsThere(dir + L"paste.dat.old"));
    }
    // The copy of a damaged paste.dat replaces an older paste.dat.bak by the same rule.
    std::wstring dir = UseScratch(L"replacefail");
    REQUIRE(WriteFileBytes(dir + L"paste.dat", Bytes{1, 2, 3, 4, 5}));
    REQUIRE(WriteFileBytes(dir + L"paste.dat.bak", Bytes{9, 9}));
    g_replaceSteps = {ERROR_UNABLE_TO_MOVE_REPLACEMENT_2};
    g_moveSteps = {Held, Held};
    SetFileRoutesForTests(ScriptedReplace, ScriptedMove);
    LoadItems();
    SetFileRoutesForTests(nullptr, nullptr);
    CHECK(ReadFileBytes(dir + L"paste.dat.bak.old") == Bytes({9, 9}));
    SetDataDirectoryForTests(dir.c_str());
    REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile({})));  // sound again: no new copy
    CHECK(LoadItems() == DATA_FILE_LOADED);
    CHECK(ReadFileBytes(dir + L"paste.dat.bak") == Bytes({9, 9}));
    // An aside file that cannot be put back is no first start: it is copied to .bak before a save.
    dir = UseScratch(L"replacefail");
    const Bytes old = EncryptedPasteFile({{Registered, L"old", L"file"}});
    REQUIRE(WriteFileBytes(dir + L"paste.dat.old", old));
    g_moveSteps = {Held};
    SetFileRoutesForTests(ScriptedReplace, ScriptedMove);
    CHECK(LoadItems() == DATA_FILE_UNREADABLE);
    SetFileRoutesForTests(nullptr, nullptr);
    CHECK(SaveItems());
    CHECK(ReadFileBytes(dir + L"paste.dat.bak") == old);
    SetDataDirectoryForTests(nullptr);
}

TEST_CASE("a folder path too long for the file name is a file that cannot be opened")
{
    UseScratch(L"toolong");
    std::wstring longDir = L"C:\\" + std::wstring(250, L'd') + L"\\";
    REQUIRE(longDir.size() + lstrlenW(L"paste.dat") >= MAX_PATH);
    SetDataDirectoryForTests(longDir.c_str());
    ItemStore::Insert(History, nullptr, L"kept");
    CHECK_FALSE(SaveItems());
    CHECK(ItemStore::Size() == 1);
    CHECK_FALSE(LoadItems());
    IniData ini;
    SetDefaultIniData(&ini);
    CHECK_FALSE(SaveIniData(&ini));
    CHECK_FALSE(LoadIniData(&ini));

    SetDataDirectoryForTests((L"C:\\" + std::wstring(300, L'e')).c_str());
    WCHAR dir[MAX_PATH];
    CHECK_FALSE(AppDir(dir));
    CHECK_FALSE(SaveItems());
    CHECK(ItemStore::Size() == 1);
}

TEST_CASE("a paste.dat that cannot be decrypted fails the load and is kept aside")
{
    std::wstring dir = UseScratch(L"loadfail");
    ItemStore::Insert(History, nullptr, L"x");
    REQUIRE(SaveItems());
    Bytes saved = ReadFileBytes(dir + L"paste.dat");
    ItemStore::ResetForTests();
    SetCipherFailureForTests(TRUE);
    CHECK_FALSE(LoadItems());
    SetCipherFailureForTests(FALSE);
    CHECK(ItemStore::Size() == 0);
    CHECK(ReadFileBytes(dir + L"paste.dat.bak") == saved);
}

static IniData SampleIni()
{
    IniData ini;
    SetDefaultIniData(&ini);
    ini.pasteWaitMs = 250;
    ini.menuKeyMode = 3;
    ini.hotkeyVk = 'Q';
    ini.hotkeyMods = 6;
    ini.menuItemChars = 33;
    ini.menuWrapCount = 12;
    ini.historyMax = 4321;
    ini.treeWidth = 480;
    ini.editorPlacement.length = sizeof(WINDOWPLACEMENT);
    ini.editorPlacement.showCmd = SW_SHOWNORMAL;
    ini.editorPlacement.rcNormalPosition.left = 10;
    ini.editorPlacement.rcNormalPosition.right = 600;
    ini.editorPlacement.rcNormalPosition.bottom = 700;
    return ini;
}

TEST_CASE("ini.dat is the encrypted 76-byte record")
{
    std::wstring dir = UseScratch(L"ini");
    IniData ini = SampleIni();
    REQUIRE(SaveIniData(&ini));
    Bytes onDisk = ReadFileBytes(dir + L"ini.dat");
    REQUIRE(onDisk.size() == 76);
    Bytes plain = DecryptDataFile(onDisk);
    CHECK(plain[0] == 250);
    CHECK(plain[4] == 3);
    CHECK(plain[8] == 'Q');
    CHECK(plain[12] == 6);
    CHECK(plain[16] == 33);
    CHECK(plain[20] == 12);
    CHECK((plain[24] | plain[25] << 8) == 4321);
    CHECK((plain[28] == 0xe0 && plain[29] == 1));
    CHECK(plain[32] == 44);
    CHECK(plain[40] == SW_SHOWNORMAL);
    CHECK(plain[60] == 10);
    CHECK((plain[72] | plain[73] << 8) == 700);
    CHECK(CountTempFiles(dir) == 0);

    IniData loaded;
    memset(&loaded, 0x55, sizeof(loaded));
    REQUIRE(LoadIniData(&loaded));
    CHECK(memcmp(&loaded, &ini, sizeof(ini)) == 0);

    SUBCASE("a longer file gives its first 76 bytes")
    {
        plain.resize(200, 0xee);
        REQUIRE(WriteEncrypted(dir + L"ini.dat", plain));
        memset(&loaded, 0, sizeof(loaded));
        REQUIRE(LoadIniData(&loaded));
        CHECK(memcmp(&loaded, &ini, sizeof(ini)) == 0);
    }
    SUBCASE("a shorter file fails and leaves the record untouched")
    {
        plain.resize(75);
        REQUIRE(WriteEncrypted(dir + L"ini.dat", plain));
        memset(&loaded, 0x55, sizeof(loaded));
        CHECK_FALSE(LoadIniData(&loaded));
        CHECK(loaded.pasteWaitMs == 0x55555555);
        CHECK(loaded.editorPlacement.rcNormalPosition.bottom == 0x55555555);
    }
}

TEST_CASE("without ini.dat the load fails and the record keeps its values")
{
    UseScratch(L"noini");
    IniData ini;
    memset(&ini, 0x33, sizeof(ini));
    CHECK_FALSE(LoadIniData(&ini));
    CHECK(ini.historyMax == 0x33333333);
    SetDefaultIniData(&ini);
    int expected[8] = {100, 0, 0, 0, 20, 10, 1000, 200};
    CHECK(memcmp(&ini, expected, sizeof(expected)) == 0);
    CHECK(ini.editorPlacement.showCmd == 0);
}

TEST_CASE("values out of the settings' ranges are clamped on load")
{
    std::wstring dir = UseScratch(L"clamp");
    // The 19 words of the record: the eight settings, then the placement.
    auto writeWords = [&](const std::vector<int> &words) {
        Bytes plain;
        for (size_t i = 0; i < 19; i++)
            AppendInt32(&plain, i < words.size() ? words[i] : 0);
        REQUIRE(WriteEncrypted(dir + L"ini.dat", plain));
    };
    writeWords({-5, 7, 0x41, 2, 0, 0, 99999, 300, 44});
    IniData ini;
    REQUIRE(LoadIniData(&ini));
    CHECK(ini.pasteWaitMs == 0);
    CHECK(ini.menuKeyMode == 0);
    CHECK(ini.hotkeyVk == 0x41);
    CHECK(ini.hotkeyMods == 2);
    CHECK(ini.menuItemChars == 1);
    CHECK(ini.menuWrapCount == 1);
    CHECK(ini.historyMax == 5000);
    CHECK(ini.treeWidth == 300);
    CHECK(ini.editorPlacement.length == 44);

    writeWords({5000, -1, 0, 0, 51, 31, 0, 0});
    REQUIRE(LoadIniData(&ini));
    CHECK(ini.pasteWaitMs == 1000);
    CHECK(ini.menuKeyMode == 0);
    CHECK(ini.menuItemChars == 50);
    CHECK(ini.menuWrapCount == 30);
    CHECK(ini.historyMax == 1);
}

TEST_CASE("a failed ini save leaves the old ini.dat as it was")
{
    std::wstring dir = UseScratch(L"inifail");
    IniData ini = SampleIni();
    REQUIRE(SaveIniData(&ini));
    Bytes old = ReadFileBytes(dir + L"ini.dat");
    ini.pasteWaitMs = 999;
    SUBCASE("the cipher fails")
    {
        SetCipherFailureForTests(TRUE);
        CHECK_FALSE(SaveIniData(&ini));
        SetCipherFailureForTests(FALSE);
    }
    SUBCASE("ini.dat is read-only")
    {
        REQUIRE(SetFileAttributesW((dir + L"ini.dat").c_str(), FILE_ATTRIBUTE_READONLY));
        CHECK_FALSE(SaveIniData(&ini));
        CHECK(ReadFileBytes(dir + L"ini.dat") == old);
        SetFileAttributesW((dir + L"ini.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    CHECK(ReadFileBytes(dir + L"ini.dat") == old);
    CHECK(CountTempFiles(dir) == 0);
    CHECK(ini.pasteWaitMs == 999);
}

// Closes a handle after a delay, from a thread of its own.
struct DelayedClose {
    HANDLE handle;
    DWORD delayMs;
};

static DWORD WINAPI CloseLater(void *parameter)
{
    DelayedClose *job = (DelayedClose *)parameter;
    Sleep(job->delayMs);
    CloseHandle(job->handle);
    return 0;
}

static Bytes ReadShared(const std::wstring &path)
{
    Bytes data;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return data;
    data.resize(GetFileSize(file, nullptr));
    DWORD read = 0;
    if (!data.empty() && !ReadFile(file, data.data(), (DWORD)data.size(), &read, nullptr))
        read = 0;
    data.resize(read);
    CloseHandle(file);
    return data;
}

static std::vector<PasteRecord> FiftyEntries()
{
    std::vector<PasteRecord> records;
    for (int i = 0; i < 50; i++)
        records.push_back({i % 2, i % 2 ? L"name " + std::to_wstring(i) : L"", L"entry " + std::to_wstring(i)});
    return records;
}

TEST_CASE("a paste.dat that another program holds open for reading and writing loads; replacing it waits for the holder")
{
    std::wstring dir = UseScratch(L"held_shared");
    REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(FiftyEntries())));
    Bytes original = ReadFileBytes(dir + L"paste.dat");
    // A sync client: reads and writes, lets others read and write, but not delete or rename.
    HeldFile holder(dir + L"paste.dat", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    REQUIRE(holder.handle != INVALID_HANDLE_VALUE);

    CHECK(LoadItems() == DATA_FILE_LOADED);
    CHECK(ItemStore::Size() == 50);
    CHECK_FALSE(DataFileUnreadable(DATA_ITEMS));
    ItemStore::Insert(History, nullptr, L"copied while running");
    CHECK_FALSE(SaveItems());  // the holder does not let the file be replaced
    CHECK(ItemStore::Size() == 51);
    CHECK(ReadShared(dir + L"paste.dat") == original);
    CHECK(CountTempFiles(dir) == 0);

    holder.Release();
    CHECK(SaveItems());
    std::vector<PasteRecord> saved;
    REQUIRE(ReadPasteRecords(dir + L"paste.dat", &saved));
    CHECK(saved.size() == 51);
}

TEST_CASE("a paste.dat held without sharing is waited for briefly, then counts as unreadable and is never replaced uncopied")
{
    std::wstring dir = UseScratch(L"held_exclusive");
    REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(FiftyEntries())));
    Bytes original = ReadFileBytes(dir + L"paste.dat");

    SUBCASE("released within the wait: loaded")
    {
        DelayedClose job = {CreateFileW((dir + L"paste.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr),
                            400};
        REQUIRE(job.handle != INVALID_HANDLE_VALUE);
        HANDLE thread = CreateThread(nullptr, 0, CloseLater, &job, 0, nullptr);
        REQUIRE(thread);
        CHECK(LoadItems() == DATA_FILE_LOADED);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        CHECK(ItemStore::Size() == 50);
        CHECK_FALSE(FileIsThere(dir + L"paste.dat.bak"));
    }
    SUBCASE("held throughout: unreadable, protected, and copied to paste.dat.bak before the first save")
    {
        HeldFile holder(dir + L"paste.dat", GENERIC_READ, 0);
        REQUIRE(holder.handle != INVALID_HANDLE_VALUE);
        CHECK(LoadItems() == DATA_FILE_UNREADABLE);
        CHECK(ItemStore::Size() == 0);
        CHECK(DataFileUnreadable(DATA_ITEMS));
        CHECK(DataFileProtected(DATA_ITEMS));
        CHECK_FALSE(DataFileUnreadable(DATA_INI));
        CHECK_FALSE(FileIsThere(dir + L"paste.dat.bak"));

        ItemStore::Insert(History, nullptr, L"this run");
        CHECK_FALSE(SaveItems());
        holder.Release();
        CHECK(ReadFileBytes(dir + L"paste.dat") == original);

        // Once the holder lets go, the save copies the file first and then replaces it.
        CHECK(SaveItems());
        CHECK_FALSE(DataFileProtected(DATA_ITEMS));
        CHECK(ReadFileBytes(dir + L"paste.dat.bak") == original);
        std::vector<PasteRecord> saved;
        REQUIRE(ReadPasteRecords(dir + L"paste.dat", &saved));
        CHECK(saved == std::vector<PasteRecord>{{History, L"", L"this run"}});
    }
}

TEST_CASE("a paste.dat that cannot be opened at all is never taken for a first start")
{
    std::wstring dir = UseScratch(L"unopenable");
    // A folder where the file belongs: opening it for reading is refused, and copying it too.
    REQUIRE(CreateDirectoryW((dir + L"paste.dat").c_str(), nullptr));
    CHECK(LoadItems() == DATA_FILE_UNREADABLE);
    CHECK(DataFileProtected(DATA_ITEMS));
    ItemStore::Insert(History, nullptr, L"kept in memory");
    CHECK_FALSE(SaveItems());
    CHECK(ItemStore::Size() == 1);
    CHECK(CountTempFiles(dir) == 0);
}

TEST_CASE("a stale temporary file, read-only and held, or a folder, never blocks a save")
{
    std::wstring dir = UseScratch(L"stale_tmp");
    ItemStore::Insert(Registered, L"site", L"id");
    IniData ini = SampleIni();
    // The names the saves once always used, left behind by a crash: a read-only file that a
    // scanner holds (a root user under Wine may write a read-only file; Windows refuses), and a folder.
    REQUIRE(WriteFileBytes(dir + L"paste.tmp", Bytes{1, 2, 3}));
    REQUIRE(SetFileAttributesW((dir + L"paste.tmp").c_str(), FILE_ATTRIBUTE_READONLY));
    HeldFile scanner(dir + L"paste.tmp", GENERIC_READ, 0);
    REQUIRE(scanner.handle != INVALID_HANDLE_VALUE);
    REQUIRE(CreateDirectoryW((dir + L"ini.tmp").c_str(), nullptr));
    CHECK(SaveItems());
    CHECK(SaveIniData(&ini));
    std::vector<PasteRecord> saved;
    REQUIRE(ReadPasteRecords(dir + L"paste.dat", &saved));
    CHECK(saved == std::vector<PasteRecord>{{Registered, L"site", L"id"}});
    IniData loaded;
    REQUIRE(ReadIniRecord(dir + L"ini.dat", &loaded));
    CHECK(memcmp(&loaded, &ini, sizeof(ini)) == 0);
    CHECK(CountTempFiles(dir) == 2);  // the two stale ones only
    scanner.Release();
    SetFileAttributesW((dir + L"paste.tmp").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_CASE("a read-only paste.dat is not replaced, and the store stays")
{
    std::wstring dir = UseScratch(L"readonly");
    ItemStore::Insert(Registered, L"old", L"file");
    REQUIRE(SaveItems());
    Bytes old = ReadFileBytes(dir + L"paste.dat");
    ItemStore::Insert(History, nullptr, L"new");
    REQUIRE(SetFileAttributesW((dir + L"paste.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    CHECK_FALSE(SaveItems());
    CHECK(ReadFileBytes(dir + L"paste.dat") == old);
    CHECK(ItemStore::Size() == 2);
    CHECK(CountTempFiles(dir) == 0);
    SetFileAttributesW((dir + L"paste.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
    CHECK(SaveItems());
}

TEST_CASE("the cipher opens no key container of the user, so a missing or damaged one cannot stop a save")
{
    UseScratch(L"container");
    HCRYPTPROV provider = 0;
    // Takes away the user's default container of the provider, as a damaged profile may lack it.
    CryptAcquireContextW(&provider, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
    BYTE buffer[16] = {};
    REQUIRE(DataCipher(buffer, sizeof(buffer), DataPassPhrase, CIPHER_ENCRYPT));
    CHECK(buffer[0] == 0x11);
    CHECK(buffer[15] == 0xe7);
    ItemStore::Insert(History, nullptr, L"x");
    CHECK(SaveItems());
    // Nothing made a container again.
    BOOL reopened = CryptAcquireContextW(&provider, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, 0);
    CHECK_FALSE(reopened);
    if (reopened)
        CryptReleaseContext(provider, 0);
}

TEST_CASE("large images are encrypted in pieces with one key stream")
{
    std::wstring dir = UseScratch(L"large");
    SUBCASE("a buffer spanning several pieces matches the independent RC4")
    {
        Bytes plain(2 * 1024 * 1024 + 12345);
        for (size_t i = 0; i < plain.size(); i++)
            plain[i] = (BYTE)(i * 13 + (i >> 11));
        Bytes buffer = plain;
        REQUIRE(DataCipher(buffer.data(), (DWORD)buffer.size(), DataPassPhrase, CIPHER_ENCRYPT));
        CHECK(buffer == DecryptDataFile(plain));
    }
    SUBCASE("a store of 1 MiB texts saves and loads whole")
    {
        std::vector<PasteRecord> records;
        for (int i = 0; i < 3; i++) {
            std::wstring text(1024 * 1024, (wchar_t)(L'a' + i));
            text[i * 1000] = L'\u3042';
            records.push_back({i == 1 ? Registered : History, i == 1 ? L"big" : L"", text});
            ItemStore::Insert(records.back().kind, i == 1 ? L"big" : nullptr, text.c_str());
        }
        REQUIRE(SaveItems());
        CHECK(ReadFileBytes(dir + L"paste.dat") == EncryptedPasteFile(records));
        ItemStore::ResetForTests();
        REQUIRE(LoadItems() == DATA_FILE_LOADED);
        REQUIRE(ItemStore::Size() == 3);
        for (int i = 0; i < 3; i++)
            CHECK(StoredText(i + 1) == records[i].text);
    }
}

TEST_CASE("a load that runs out of memory leaves the store as it was and keeps the file")
{
    std::wstring dir = UseScratch(L"loadmemory");
    REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(FiftyEntries())));
    Bytes original = ReadFileBytes(dir + L"paste.dat");
    ItemId before = ItemStore::Insert(Registered, L"before", L"the load");
    SetStringCopyFailureForTests(2 * 20 + 1);  // the 21st entry's name fails
    int loaded = LoadItems();
    SetStringCopyFailureForTests(-1);
    CHECK(loaded == DATA_FILE_UNREADABLE);
    CHECK(ItemStore::Size() == 1);
    CHECK(StoredText(before) == L"the load");
    CHECK(ReadFileBytes(dir + L"paste.dat.bak") == original);
    CHECK_FALSE(DataFileProtected(DATA_ITEMS));
}

TEST_CASE("an ini.dat that cannot be read keeps its settings: copied aside before a save replaces it")
{
    std::wstring dir = UseScratch(L"ini_held");
    IniData stored = SampleIni();
    REQUIRE(WriteFileBytes(dir + L"ini.dat", EncryptedIni(stored)));
    Bytes original = ReadFileBytes(dir + L"ini.dat");
    HeldFile holder(dir + L"ini.dat", GENERIC_READ, 0);
    REQUIRE(holder.handle != INVALID_HANDLE_VALUE);
    IniData ini;
    memset(&ini, 0x44, sizeof(ini));
    CHECK(LoadIniData(&ini) == DATA_FILE_UNREADABLE);
    CHECK(ini.pasteWaitMs == 0x44444444);
    CHECK(DataFileUnreadable(DATA_INI));
    CHECK(DataFileProtected(DATA_INI));
    SetDefaultIniData(&ini);
    CHECK_FALSE(SaveIniData(&ini));
    holder.Release();
    CHECK(ReadFileBytes(dir + L"ini.dat") == original);
    CHECK(SaveIniData(&ini));
    CHECK(ReadFileBytes(dir + L"ini.dat.bak") == original);
    IniData saved;
    REQUIRE(ReadIniRecord(dir + L"ini.dat", &saved));
    CHECK(saved.pasteWaitMs == 100);
}

TEST_CASE("damaged settings are bounded: tree width, editor placement, hotkey")
{
    IniData ini;
    SetDefaultIniData(&ini);
    SUBCASE("tree width within the splitter's limits")
    {
        for (int width : {-17, 0, 9, INT_MIN}) {
            ini.treeWidth = width;
            ClampIniData(&ini);
            CHECK(ini.treeWidth == TREE_WIDTH_MIN);
        }
        ini.treeWidth = 0x7fffffff;
        ClampIniData(&ini);
        CHECK(ini.treeWidth == TREE_WIDTH_MAX);
        ini.treeWidth = 321;
        ClampIniData(&ini);
        CHECK(ini.treeWidth == 321);
    }
    SUBCASE("a placement is kept only with a sane rectangle")
    {
        WINDOWPLACEMENT good = {};
        good.length = sizeof(good);
        good.showCmd = SW_SHOWMAXIMIZED;
        good.rcNormalPosition = {-20, 10, 800, 600};
        ini.editorPlacement = good;
        ClampIniData(&ini);
        CHECK(memcmp(&ini.editorPlacement, &good, sizeof(good)) == 0);
        RECT bad[] = {{0, 0, 0, 0}, {100, 100, 50, 200}, {0, 0, 400, 0}, {0, 0, 0x7fffffff, 300},
                      {INT_MIN, 0, 100, 100}, {-100000, 0, -99000, 500}, {0, 0, 40000, 500}};
        for (const RECT &r : bad) {
            ini.editorPlacement = good;
            ini.editorPlacement.rcNormalPosition = r;
            ClampIniData(&ini);
            CHECK(ini.editorPlacement.showCmd == 0);
            CHECK(ini.editorPlacement.rcNormalPosition.right == 0);
        }
        ini.editorPlacement = good;
        ini.editorPlacement.showCmd = 77;
        ClampIniData(&ini);
        CHECK(ini.editorPlacement.showCmd == 0);
    }
    SUBCASE("the hotkey keeps a key of 1 to 254 and the modifiers RegisterHotKey takes")
    {
        ini.hotkeyVk = VK_F9;
        ini.hotkeyMods = MOD_ALT | MOD_CONTROL | 0x7ff0;
        ClampIniData(&ini);
        CHECK(ini.hotkeyVk == VK_F9);
        CHECK(ini.hotkeyMods == (MOD_ALT | MOD_CONTROL | MOD_NOREPEAT));
        for (int vk : {0, 255, 256, -1, 0x10041}) {
            ini.hotkeyVk = vk;
            ini.hotkeyMods = MOD_SHIFT;
            ClampIniData(&ini);
            CHECK(ini.hotkeyVk == 0);
            CHECK(ini.hotkeyMods == 0);
        }
    }
}

TEST_CASE("a file unreadable at two starts keeps both copies: the newest as paste.dat.bak, the older numbered")
{
    std::wstring dir = UseScratch(L"unreadable_twice");
    REQUIRE(WriteFileBytes(dir + L"paste.dat", EncryptedPasteFile(FiftyEntries())));
    Bytes original = ReadFileBytes(dir + L"paste.dat");
    for (int start = 0; start < 2; start++) {
        CAPTURE(start);
        SetDataDirectoryForTests(dir.c_str());  // a new start
        ItemStore::ResetForTests();
        {
            HeldFile holder(dir + L"paste.dat", GENERIC_READ, 0);
            REQUIRE(holder.handle != INVALID_HANDLE_VALUE);
            CHECK(LoadItems() == DATA_FILE_UNREADABLE);
        }
        ItemStore::Insert(History, nullptr, start == 0 ? L"first run" : L"second run");
        CHECK(SaveItems());
    }
    CHECK(ReadFileBytes(dir + L"paste.dat.bak.1") == original);
    std::vector<PasteRecord> newest;
    REQUIRE(ReadPasteRecords(dir + L"paste.dat.bak", &newest));
    CHECK(newest == std::vector<PasteRecord>{{History, L"", L"first run"}});
}

TEST_CASE("a save keeps the attributes the user set on the file, and a new .bak takes the data file's")
{
    // What Wine can show; it keeps no FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, no ACL and no EFS.
    const DWORD Kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const DWORD None = INVALID_FILE_ATTRIBUTES;
    struct Row {
        std::string what;
        DWORD data;       // set on paste.dat (damaged, so that the load copies it to paste.dat.bak)
        DWORD olderCopy;  // set on an older paste.dat.bak, or None when there is none
    } rows[] = {
        {"hidden", FILE_ATTRIBUTE_HIDDEN, None},
        {"hidden and system", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, None},
        {"hidden, over a plain older copy", FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_NORMAL},
        {"plain, over a hidden older copy", FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_HIDDEN},
    };
    for (const Row &row : rows) {
        CAPTURE(row.what);
        std::wstring dir = UseScratch(L"attributes");
        std::wstring data = dir + L"paste.dat", copy = dir + L"paste.dat.bak";
        Bytes damaged;
        AppendInt32(&damaged, 2);
        AppendPasteRecord(&damaged, {Registered, L"name", L"kept"});
        REQUIRE(WriteEncrypted(data, damaged));
        REQUIRE(SetFileAttributesW(data.c_str(), row.data));
        if (row.olderCopy != None) {
            REQUIRE(WriteFileBytes(copy, Bytes{9, 9}));
            REQUIRE(SetFileAttributesW(copy.c_str(), row.olderCopy));
        }
        CHECK(LoadItems() == DATA_FILE_LOADED);
        CHECK((GetFileAttributesW(copy.c_str()) & Kept) == (row.data & Kept));
        ItemStore::Insert(History, nullptr, L"saved");
        CHECK(SaveItems());
        CHECK((GetFileAttributesW(data.c_str()) & Kept) == (row.data & Kept));
        std::vector<PasteRecord> saved;
        CHECK(ReadPasteRecords(data, &saved));
        CHECK(saved.size() == 2);
        CHECK(CountTempFiles(dir) == 0);
        // A second save has a file to replace: the attributes stay again.
        CHECK(SaveItems());
        CHECK((GetFileAttributesW(data.c_str()) & Kept) == (row.data & Kept));
        SetFileAttributesW(data.c_str(), FILE_ATTRIBUTE_NORMAL);
        SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    SetDataDirectoryForTests(nullptr);
}

TEST_CASE("a key that types or navigates is no hotkey without Ctrl or Alt; the menu hotkey is wanted only in hotkey mode")
{
    struct Row {
        int mode, vk, mods;
        BOOL allowed, wanted;
    } rows[] = {
        {MENU_KEY_HOTKEY, 'A', 0, FALSE, FALSE},
        {MENU_KEY_HOTKEY, '7', MOD_SHIFT, FALSE, FALSE},
        {MENU_KEY_HOTKEY, VK_SPACE, MOD_WIN, FALSE, FALSE},
        {MENU_KEY_HOTKEY, VK_RETURN, 0, FALSE, FALSE},
        {MENU_KEY_HOTKEY, VK_TAB, 0, FALSE, FALSE},
        {MENU_KEY_HOTKEY, VK_OEM_COMMA, 0, FALSE, FALSE},
        {MENU_KEY_HOTKEY, VK_NUMPAD5, 0, FALSE, FALSE},
        {MENU_KEY_HOTKEY, VK_ESCAPE, MOD_CONTROL, TRUE, TRUE},
        {MENU_KEY_HOTKEY, 'A', MOD_CONTROL, TRUE, TRUE},
        {MENU_KEY_HOTKEY, VK_OEM_2, MOD_ALT | MOD_SHIFT, TRUE, TRUE},
        {MENU_KEY_HOTKEY, VK_F9, 0, TRUE, TRUE},
        {MENU_KEY_HOTKEY, VK_PAUSE, MOD_SHIFT, TRUE, TRUE},
        {MENU_KEY_HOTKEY, 0, 0, TRUE, FALSE},
        {MENU_KEY_SHIFT, VK_F9, MOD_CONTROL, TRUE, FALSE},
        {MENU_KEY_ALT, VK_F9, 0, TRUE, FALSE},
    };
    for (const Row &row : rows) {
        CAPTURE(row.mode);
        CAPTURE(row.vk);
        CAPTURE(row.mods);
        IniData ini = {};
        ini.menuKeyMode = row.mode;
        ini.hotkeyVk = row.vk;
        ini.hotkeyMods = row.mods;
        CHECK(HotkeyAllowed(row.vk, row.mods) == row.allowed);
        CHECK(MenuHotkeyWanted(&ini) == row.wanted);
    }
    for (int vk : {VK_ESCAPE, VK_INSERT, VK_DELETE, VK_PRIOR, VK_NEXT, VK_END, VK_HOME, VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN})
        for (int mods : {0, MOD_SHIFT, MOD_WIN, MOD_SHIFT | MOD_WIN})
            CHECK_MESSAGE(!HotkeyAllowed(vk, mods), "vk " << vk << ", mods " << mods);
}

static const std::vector<PasteRecord> Secrets = {{History, L"", L"copied"}, {Registered, L"bank", L"S3cret!"}};

// One copy-history text making the plain image exactly `bytes` long (even, at least 14).
static std::vector<PasteRecord> ImageOfSize(size_t bytes)
{
    std::wstring text((bytes - 14) / 2 + 1, L'x');
    for (size_t i = 0; i < text.size(); i++)
        text[i] = (wchar_t)(L'a' + i % 26);
    return {{History, L"", text}};
}

// The plain size of each chunk of paste.dat in the user's form; none unless it unprotects to `plain`.
static std::vector<size_t> UserFormChunks(const std::wstring &dir, const Bytes &plain)
{
    Bytes unprotected;
    std::vector<size_t> chunks;
    bool whole = UnprotectUserForm(ReadFileBytes(dir + L"paste.dat"), ProgramEntropy, &unprotected, &chunks);
    return whole && unprotected == plain ? chunks : std::vector<size_t>();
}

TEST_CASE("paste.dat in the user's form: round trips, chunks at their boundaries, and the form is the setting")
{
    const size_t Chunk = 256 * 1024;
    const struct Row {
        std::vector<PasteRecord> records;
        std::vector<size_t> chunks;
    } rows[] = {
        {Secrets, {PastePlainImage(Secrets).size()}},
        {ImageOfSize(Chunk - 2), {Chunk - 2}},
        {ImageOfSize(Chunk), {Chunk}},
        {ImageOfSize(Chunk + 2), {Chunk, 2}},
        {ImageOfSize(2 * Chunk), {Chunk, Chunk}},
    };
    for (const Row &row : rows) {
        const Bytes plain = PastePlainImage(row.records);
        CAPTURE(plain.size());
        std::wstring dir = UseScratch(L"user_form");
        SetItemsFileForm(ITEMS_FORM_USER);
        REQUIRE(SaveItemsImage(plain.data(), (DWORD)plain.size()));
        CHECK(UserFormChunks(dir, plain) == row.chunks);
        // An earlier build decrypts a negative count and takes the file for damage, not for entries.
        Bytes file = DecryptDataFile(ReadFileBytes(dir + L"paste.dat"));
        CHECK(ParseItemsImage(file.data(), (DWORD)file.size()) == ITEMS_IMAGE_DAMAGED);
        CHECK(ItemStore::Size() == 0);
        // The file's form wins over the setting; the load gives every entry back to the saves of both forms.
        SetItemsFileForm(ITEMS_FORM_SHARED);
        CHECK(LoadItems() == DATA_FILE_LOADED);
        CHECK(ItemsFileForm() == ITEMS_FORM_USER);
        CHECK_FALSE(FileIsThere(dir + L"paste.dat.bak"));
        REQUIRE(SaveItems());
        CHECK(UserFormChunks(dir, plain) == row.chunks);
        SetItemsFileForm(ITEMS_FORM_SHARED);
        REQUIRE(SaveItems());
        CHECK(ReadFileBytes(dir + L"paste.dat") == DecryptDataFile(plain));
        CHECK(CountTempFiles(dir) == 0);
    }
}

TEST_CASE("a file made here in the user's form in small chunks loads; a file unreadable at the start keeps its form")
{
    std::wstring dir = UseScratch(L"user_form_small");
    REQUIRE(WriteFileBytes(dir + L"paste.dat", UserFormPasteFile(Secrets, ProgramEntropy, 6)));
    CHECK(LoadItems() == DATA_FILE_LOADED);
    CHECK(StoredText(2) == L"S3cret!");
    // Held at the start: nothing told its form, but the copy it gets before the first save does.
    ItemStore::ResetForTests();
    SetDataDirectoryForTests(dir.c_str());
    {
        HeldFile holder(dir + L"paste.dat", GENERIC_READ, 0);
        CHECK(LoadItems() == DATA_FILE_UNREADABLE);
    }
    REQUIRE(SaveItems());
    CHECK(UserFormChunks(dir, PastePlainImage({})) == std::vector<size_t>{4});
}

TEST_CASE("a paste.dat in the user's form that cannot be unprotected is never written over; moved aside, saves go on")
{
    const Bytes good = UserFormPasteFile(Secrets, ProgramEntropy);
    Bytes flipped = good, truncated(good.begin(), good.end() - 4), trailing = good, oversized = good;
    flipped[good.size() / 2] ^= 0x01;
    trailing.push_back(0);
    oversized[14] = 0xff;  // the first chunk's size
    // Another user's or PC's, one byte changed, a newer version, no end mark, bytes behind it, a chunk past the end.
    const Bytes files[] = {UserFormPasteFile(Secrets, "another key"), flipped,  UserFormPasteFile(Secrets, ProgramEntropy, 256 * 1024, 2),
                           truncated, trailing, oversized};
    for (size_t row = 0; row < ARRAYSIZE(files); row++) {
        CAPTURE(row);
        std::wstring dir = UseScratch(L"user_form_locked");
        REQUIRE(WriteFileBytes(dir + L"paste.dat", files[row]));
        CHECK(LoadItems() == DATA_FILE_LOCKED);
        CHECK(ItemStore::Size() == 0);
        CHECK((ItemsFileLocked() && ItemsFileForm() == ITEMS_FORM_USER));
        CHECK_FALSE(FileIsThere(dir + L"paste.dat.bak"));
        // Neither a save nor the idle save replaces it.
        ItemStore::Insert(Registered, L"this run", L"new");
        CHECK_FALSE(SaveItems());
        BYTE image[4] = {};
        CHECK_FALSE(SaveItemsImage(image, 4));
        CHECK(ReadFileBytes(dir + L"paste.dat") == files[row]);
        // Held by a program that lets nobody rename it, it stays locked; then it moves aside (an
        // older file of that name numbered) and the next save writes a new paste.dat in its form.
        REQUIRE(WriteFileBytes(dir + L"paste.dat.protected", Bytes{1, 2, 3}));
        {
            HeldFile holder(dir + L"paste.dat", GENERIC_READ, FILE_SHARE_READ);
            CHECK_FALSE(MoveLockedItemsAside());
        }
        CHECK(MoveLockedItemsAside());
        CHECK(ReadFileBytes(dir + L"paste.dat.protected") == files[row]);
        CHECK(ReadFileBytes(dir + L"paste.dat.protected.1") == (Bytes{1, 2, 3}));
        CHECK(SaveItems());
        CHECK(UserFormChunks(dir, PastePlainImage({{Registered, L"this run", L"new"}})).size() == 1);
    }
}

TEST_CASE("apps.dat: the rules beside ini.dat, encrypted; missing, damaged and newer files")
{
    std::wstring dir = UseScratch(L"apps_dat");
    AppRules rules;
    memset(&rules, 0x11, sizeof(rules));
    CHECK(LoadAppRules(&rules) == DATA_FILE_NONE);  // a first start: no rules, full-screen quiet on
    CHECK((rules.count == 0 && rules.fullScreenQuiet && !DataFileUnreadable(DATA_RULES)));
    SUBCASE("a save writes magic, version, the global block with its size, the count and each rule")
    {
        rules.fullScreenQuiet = FALSE;
        rules.rules[rules.count++] = {L"a.exe", L"Bk", APP_RULE_NO_RECORD | APP_RULE_TYPE, 250};
        REQUIRE(SaveAppRules(&rules));
        const Bytes expected = {'T', 'V', 'A', 'R', 1, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0,  // a global block of 4: quiet off
                                1, 0, 0, 0, 6, 0, 0, 0, 250, 0, 0, 0,                     // one rule, its switches and delay
                                'a', 0, '.', 0, 'e', 0, 'x', 0, 'e', 0, 0, 0, 'B', 0, 'k', 0, 0, 0};
        CHECK(DecryptDataFile(ReadFileBytes(dir + L"apps.dat")) == expected);
    }
    rules.rules[rules.count++] = {L"idea64.exe", L"", APP_RULE_NO_MENU, 10};
    rules.rules[rules.count++] = {L"", L"nameless", APP_RULE_NO_MENU, 10};
    rules.rules[rules.count++] = {L"firefox.exe", L"My Bank", 0xFF, 99999};
    const Bytes image = DecryptDataFile(EncryptedAppsFile(rules));  // 16: the count, 20: the first rule
    SUBCASE("a later version of the same number with a larger global block reads; the rules are bounded")
    {
        Bytes larger = image;
        larger[8] = 12;
        larger.insert(larger.begin() + 16, 8, 0xEE);
        REQUIRE(WriteEncrypted(dir + L"apps.dat", larger));
        REQUIRE(LoadAppRules(&rules) == DATA_FILE_LOADED);
        REQUIRE(rules.count == 2);  // the nameless rule went
        CHECK(rules.rules[1].switches == APP_RULE_SWITCHES);
        CHECK(rules.rules[1].typeDelayMs == TYPE_DELAY_DEFAULT);
    }
    SUBCASE("damaged files load no rules, are kept as .bak and told; the next save replaces them")
    {
        Bytes longer = image, wrongMagic = image, tooMany = image, unterminated(image.begin(), image.begin() + 20 + 8 + 20);
        longer.push_back(0);
        wrongMagic[0] = 'X';
        tooMany[16] = APP_RULES_MAX + 1;
        for (const Bytes &plain : {Bytes(image.begin(), image.end() - 3), longer, wrongMagic, tooMany, unterminated, Bytes()}) {
            CAPTURE(plain.size());
            UseScratch(L"apps_dat");
            REQUIRE(WriteEncrypted(dir + L"apps.dat", plain));
            CHECK(LoadAppRules(&rules) == DATA_FILE_UNREADABLE);
            CHECK((rules.count == 0 && rules.fullScreenQuiet));
            CHECK(DataFileUnreadable(DATA_RULES));
            CHECK(DecryptDataFile(ReadFileBytes(dir + L"apps.dat.bak")) == plain);
            CHECK(SaveAppRules(&rules));
        }
    }
    SUBCASE("a newer version's file: no rules, and it is never written over")
    {
        Bytes newer = image;
        newer[4] = 2;
        REQUIRE(WriteEncrypted(dir + L"apps.dat", newer));
        CHECK(LoadAppRules(&rules) == APP_RULES_FILE_NEWER);
        CHECK(AppRulesFileNewer());
        CHECK((rules.count == 0 && rules.fullScreenQuiet));
        CHECK_FALSE(SaveAppRules(&rules));
        CHECK(DecryptDataFile(ReadFileBytes(dir + L"apps.dat")) == newer);
        CHECK_FALSE(FileIsThere(dir + L"apps.dat.bak"));
    }
    SetDataDirectoryForTests(nullptr);
}

TEST_CASE("the rule list: add once per name, remove, and a full list")
{
    AppRules rules;
    SetDefaultAppRules(&rules);
    CHECK(AddAppRule(&rules, L"idea64.exe") == 0);
    CHECK(rules.rules[0].typeDelayMs == TYPE_DELAY_DEFAULT);
    CHECK(AddAppRule(&rules, L"IDEA64.exe") == 0);  // the same name: the rule already there
    CHECK(AddAppRule(&rules, L"mstsc.exe") == 1);
    CHECK(AddAppRule(&rules, L"") == -1);
    CHECK(AddAppRule(&rules, std::wstring(APP_EXE_CHARS, L'a').c_str()) == -1);
    RemoveAppRule(&rules, 0);
    RemoveAppRule(&rules, 5);
    REQUIRE(rules.count == 1);
    CHECK(std::wstring(rules.rules[0].exe) == L"mstsc.exe");
    while (rules.count < APP_RULES_MAX)
        REQUIRE(AddAppRule(&rules, (L"app" + std::to_wstring(rules.count) + L".exe").c_str()) >= 0);
    CHECK(AddAppRule(&rules, L"one-more.exe") == -1);
}
