// The two data files beside the executable. Both are encrypted as a whole with the same RC4 key
// stream, so what one build writes every other build reads. A save never puts the plain image on
// disk and never leaves a half-written file: the encrypted image goes to a temporary file in the
// same folder, which then replaces the old file in one step.
#include "state/data_files.h"
#include "state/item_store.h"
#include <wincrypt.h>

const WCHAR DataPassPhrase[] = L"tavo";

static const WCHAR IniFileName[] = L"ini.dat";
static const WCHAR ItemsFileName[] = L"paste.dat";
static const WCHAR ItemsBackupName[] = L"paste.dat.bak";
// As long as the names they stand in for, so a temporary path fits wherever the file's path fits.
static const WCHAR IniTempName[] = L"ini.tmp";
static const WCHAR ItemsTempName[] = L"paste.tmp";

static BOOL g_useDataDirForTests;      // AppDir answers g_dataDirForTests instead of the exe's folder
static BOOL g_dataDirTooLongForTests;  // the folder given did not fit: AppDir fails
static WCHAR g_dataDirForTests[MAX_PATH];
static BOOL g_cipherFailsForTests;

void SetDataDirectoryForTests(const WCHAR *dir)
{
    g_useDataDirForTests = dir != nullptr;
    g_dataDirTooLongForTests = FALSE;
    g_dataDirForTests[0] = 0;
    if (!dir)
        return;
    int length = lstrlenW(dir);
    int slash = length == 0 || dir[length - 1] != L'\\' ? 1 : 0;
    if (length + slash + 1 > MAX_PATH) {
        g_dataDirTooLongForTests = TRUE;
        return;
    }
    CopyMemory(g_dataDirForTests, dir, 2 * length);
    if (slash)
        g_dataDirForTests[length++] = L'\\';
    g_dataDirForTests[length] = 0;
}

void SetCipherFailureForTests(BOOL fail)
{
    g_cipherFailsForTests = fail;
}

BOOL AppDir(WCHAR dir[MAX_PATH])
{
    if (g_useDataDirForTests) {
        if (g_dataDirTooLongForTests)
            return FALSE;
        lstrcpynW(dir, g_dataDirForTests, MAX_PATH);
        return TRUE;
    }
    WCHAR module[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    // A full buffer means the path was cut short: it names no folder of ours.
    if (length == 0 || length >= MAX_PATH)
        return FALSE;
    // Drive and directory, trailing backslash kept: everything before the file name.
    DWORD cut = length;
    while (cut > 0 && module[cut - 1] != L'\\' && module[cut - 1] != L'/')
        cut--;
    if (cut == 0 && length >= 2 && module[1] == L':')
        cut = 2;
    CopyMemory(dir, module, 2 * cut);
    dir[cut] = 0;
    return TRUE;
}

// AppDir followed by the file name; fails like a missing file when the two do not fit.
static BOOL DataFilePath(const WCHAR *fileName, WCHAR path[MAX_PATH])
{
    if (!AppDir(path))
        return FALSE;
    int dirLength = lstrlenW(path);
    int nameLength = lstrlenW(fileName);
    if (dirLength + nameLength + 1 > MAX_PATH)
        return FALSE;
    CopyMemory(path + dirLength, fileName, 2 * (nameLength + 1));
    return TRUE;
}

BOOL DataCipher(BYTE *buffer, DWORD length, const WCHAR *passPhrase, int mode)
{
    if (g_cipherFailsForTests)
        return FALSE;
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, 0) &&
        !CryptAcquireContextW(&provider, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET))
        return FALSE;
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
        CryptReleaseContext(provider, 0);
        return FALSE;
    }
    // The phrase's character count is handed over as its byte count, so only the first two
    // characters enter the key. Every existing file was written with that key: keep it.
    HCRYPTKEY key = 0;
    if (!CryptHashData(hash, (const BYTE *)passPhrase, lstrlenW(passPhrase), 0) ||
        !CryptDeriveKey(provider, CALG_RC4, hash, CRYPT_EXPORTABLE, &key)) {
        CryptDestroyHash(hash);
        CryptReleaseContext(provider, 0);
        return FALSE;
    }
    BOOL result = FALSE;
    DWORD done = length;
    if (mode == CIPHER_ENCRYPT)
        result = CryptEncrypt(key, 0, TRUE, 0, buffer, &done, length);
    else if (mode == CIPHER_DECRYPT)
        result = CryptDecrypt(key, 0, TRUE, 0, buffer, &done);
    CryptDestroyHash(hash);
    CryptDestroyKey(key);
    CryptReleaseContext(provider, 0);
    return result;
}

// The whole file in a zero-filled heap buffer; null when it cannot be opened or read.
static BYTE *ReadDataFile(const WCHAR *path, DWORD *bytesRead)
{
    *bytesRead = 0;
    HANDLE file = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    BYTE *buffer = nullptr;
    if (high == 0 && size != INVALID_FILE_SIZE)
        buffer = (BYTE *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size ? size : 1);
    if (buffer && !ReadFile(file, buffer, size, bytesRead, nullptr)) {
        HeapFree(GetProcessHeap(), 0, buffer);
        buffer = nullptr;
        *bytesRead = 0;
    }
    CloseHandle(file);
    return buffer;
}

// Writes data to the temporary file and moves it over the data file. On any failure the data
// file is left exactly as it was and the temporary file is removed.
static BOOL ReplaceDataFile(const WCHAR *fileName, const WCHAR *tempName, const BYTE *data, DWORD size)
{
    WCHAR path[MAX_PATH];
    WCHAR tempPath[MAX_PATH];
    if (!DataFilePath(fileName, path) || !DataFilePath(tempName, tempPath))
        return FALSE;
    HANDLE file = CreateFileW(tempPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD written = 0;
    BOOL ok = WriteFile(file, data, size, &written, nullptr) && written == size && FlushFileBuffers(file);
    CloseHandle(file);
    if (ok)
        ok = MoveFileExW(tempPath, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok)
        DeleteFileW(tempPath);
    return ok;
}

BOOL LoadIniData(IniData *ini)
{
    WCHAR path[MAX_PATH];
    if (!DataFilePath(IniFileName, path))
        return FALSE;
    DWORD size = 0;
    BYTE *buffer = ReadDataFile(path, &size);
    if (!buffer)
        return FALSE;
    // A short file would leave part of the record undefined: the caller's defaults serve better.
    BOOL ok = size >= sizeof(IniData) && DataCipher(buffer, size, DataPassPhrase, CIPHER_DECRYPT);
    if (ok) {
        CopyMemory(ini, buffer, sizeof(IniData));
        ClampIniData(ini);
    }
    HeapFree(GetProcessHeap(), 0, buffer);
    return ok;
}

BOOL SaveIniData(const IniData *ini)
{
    BYTE *buffer = (BYTE *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(IniData));
    if (!buffer)
        return FALSE;
    CopyMemory(buffer, ini, sizeof(IniData));
    BOOL ok = DataCipher(buffer, sizeof(IniData), DataPassPhrase, CIPHER_ENCRYPT) &&
              ReplaceDataFile(IniFileName, IniTempName, buffer, sizeof(IniData));
    HeapFree(GetProcessHeap(), 0, buffer);
    return ok;
}

static DWORD StringBytes(const WCHAR *s)
{
    return 2 * (DWORD)(s ? lstrlenW(s) : 0) + 2;
}

static BYTE *PutBytes(BYTE *at, const void *source, DWORD size)
{
    if (source)
        CopyMemory(at, source, size);
    return at + size;
}

BYTE *MakeItemsImage(DWORD *size)
{
    const ItemMap &items = ItemStore::Items();
    unsigned long long total = 4;
    for (ItemMap::const_iterator it = items.begin(); it != items.end(); ++it)
        total += 4 + StringBytes(it->second.name) + StringBytes(it->second.text);
    if (total > 0x7fffffff)
        return nullptr;
    BYTE *image = (BYTE *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (SIZE_T)total);
    if (!image)
        return nullptr;
    int count = ItemStore::Size();
    BYTE *at = PutBytes(image, &count, 4);
    for (ItemMap::const_iterator it = items.begin(); it != items.end(); ++it) {
        // The buffer is zero-filled, so a missing string still leaves its terminator behind.
        at = PutBytes(at, &it->second.kind, 4);
        at = PutBytes(at, it->second.name, StringBytes(it->second.name));
        at = PutBytes(at, it->second.text, StringBytes(it->second.text));
    }
    *size = (DWORD)total;
    return image;
}

// The string at *offset up to its terminator; null when the image ends first.
// Strings start at even offsets, so the terminator is looked for unit by unit.
static const WCHAR *TakeString(const BYTE *image, DWORD size, DWORD *offset)
{
    for (DWORD at = *offset; size - at >= 2; at += 2) {
        if (image[at] == 0 && image[at + 1] == 0) {
            const WCHAR *s = (const WCHAR *)(image + *offset);
            *offset = at + 2;
            return s;
        }
    }
    return nullptr;
}

int ParseItemsImage(const BYTE *image, DWORD size)
{
    if (size < 4)
        return ITEMS_IMAGE_BAD;
    int count = 0;
    CopyMemory(&count, image, 4);
    DWORD offset = 4;
    for (int n = 0; n < count; n++) {
        if (size - offset < 4)
            return ITEMS_IMAGE_DAMAGED;
        ItemKind kind = 0;
        CopyMemory(&kind, image + offset, 4);
        DWORD at = offset + 4;
        const WCHAR *name = TakeString(image, size, &at);
        const WCHAR *text = name ? TakeString(image, size, &at) : nullptr;
        if (!text)
            return ITEMS_IMAGE_DAMAGED;
        ItemStore::Insert(kind, name, text);
        offset = at;
    }
    // Bytes behind the last record would not survive the next save.
    return offset == size ? ITEMS_IMAGE_OK : ITEMS_IMAGE_DAMAGED;
}

// A paste.dat that could not be read whole is kept as paste.dat.bak before the save at exit
// replaces it with what could be read.
static void KeepDamagedItemsFile(const WCHAR *path)
{
    WCHAR backupPath[MAX_PATH];
    if (DataFilePath(ItemsBackupName, backupPath))
        CopyFileW(path, backupPath, FALSE);
}

BOOL LoadItems()
{
    WCHAR path[MAX_PATH];
    if (!DataFilePath(ItemsFileName, path))
        return FALSE;
    DWORD size = 0;
    BYTE *image = ReadDataFile(path, &size);
    if (!image)
        return FALSE;
    int parsed = ITEMS_IMAGE_BAD;
    if (size >= 4 && DataCipher(image, size, DataPassPhrase, CIPHER_DECRYPT))
        parsed = ParseItemsImage(image, size);
    HeapFree(GetProcessHeap(), 0, image);
    if (parsed != ITEMS_IMAGE_OK)
        KeepDamagedItemsFile(path);
    return parsed != ITEMS_IMAGE_BAD;
}

BOOL SaveItems()
{
    DWORD size = 0;
    BYTE *image = MakeItemsImage(&size);
    if (!image)
        return FALSE;
    BOOL ok = DataCipher(image, size, DataPassPhrase, CIPHER_ENCRYPT) &&
              ReplaceDataFile(ItemsFileName, ItemsTempName, image, size);
    HeapFree(GetProcessHeap(), 0, image);
    if (ok)
        ItemStore::EraseAll();
    return ok;
}
