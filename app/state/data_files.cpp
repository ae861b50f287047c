// The two data files beside the executable. Both are encrypted as a whole with the same RC4 key
// stream, so what one build writes every other build reads. A save never puts the plain image on
// disk and never leaves a half-written file: the encrypted image goes, in chunks, to a temporary
// file of its own in the same folder, which then replaces the old file in one step. A file that is
// there but cannot be read is never taken for a first start: it is copied to its .bak file before
// any save may replace it.
#include "state/data_files.h"
#include "state/item_store.h"
#include <wincrypt.h>

const WCHAR DataPassPhrase[] = L"tavo";

static const WCHAR IniFileName[] = L"ini.dat";
static const WCHAR ItemsFileName[] = L"paste.dat";
static const WCHAR IniBackupName[] = L"ini.dat.bak";
static const WCHAR ItemsBackupName[] = L"paste.dat.bak";

// RC4 keeps its state between CryptEncrypt calls with Final FALSE, so any piece size gives the
// same stream; pieces keep every buffer the provider sees small.
#define CIPHER_CHUNK (1024 * 1024)
// Another program (a virus scanner, a backup or sync client) may hold a file for a moment.
#define SHARING_RETRY_MS 2000
#define SHARING_RETRY_STEP_MS 50

// What the start learned about each file (index DATA_INI, DATA_ITEMS).
static BOOL g_unreadable[2];
static BOOL g_protected[2];

static BOOL g_useDataDirForTests;      // AppDir answers g_dataDirForTests instead of the exe's folder
static BOOL g_dataDirTooLongForTests;  // the folder given did not fit: AppDir fails
static WCHAR g_dataDirForTests[MAX_PATH];
static BOOL g_cipherFailsForTests;

void SetDataDirectoryForTests(const WCHAR *dir)
{
    for (int file = DATA_INI; file <= DATA_ITEMS; file++)
        g_unreadable[file] = g_protected[file] = FALSE;
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

BOOL DataFileUnreadable(int file)
{
    return (file == DATA_INI || file == DATA_ITEMS) && g_unreadable[file];
}

BOOL DataFileProtected(int file)
{
    return (file == DATA_INI || file == DATA_ITEMS) && g_protected[file];
}

// One RC4 key stream over any number of pieces.
struct CipherStream {
    HCRYPTPROV provider;
    HCRYPTHASH hash;
    HCRYPTKEY key;
};

static void CloseCipher(CipherStream *cipher)
{
    if (cipher->key)
        CryptDestroyKey(cipher->key);
    if (cipher->hash)
        CryptDestroyHash(cipher->hash);
    if (cipher->provider)
        CryptReleaseContext(cipher->provider, 0);
    ZeroMemory(cipher, sizeof(*cipher));
}

static BOOL OpenCipher(CipherStream *cipher, const WCHAR *passPhrase)
{
    ZeroMemory(cipher, sizeof(*cipher));
    if (g_cipherFailsForTests)
        return FALSE;
    // A key derived from a hash needs no key container: a verify context opens none, so a
    // missing or damaged container of the user cannot stop a save.
    if (!CryptAcquireContextW(&cipher->provider, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        cipher->provider = 0;
        return FALSE;
    }
    // The phrase's character count is handed over as its byte count, so only the first two
    // characters enter the key. Every existing file was written with that key: keep it.
    if (!CryptCreateHash(cipher->provider, CALG_MD5, 0, 0, &cipher->hash) ||
        !CryptHashData(cipher->hash, (const BYTE *)passPhrase, lstrlenW(passPhrase), 0) ||
        !CryptDeriveKey(cipher->provider, CALG_RC4, cipher->hash, CRYPT_EXPORTABLE, &cipher->key)) {
        CloseCipher(cipher);
        return FALSE;
    }
    return TRUE;
}

static BOOL CipherPiece(CipherStream *cipher, BYTE *buffer, DWORD length, int mode)
{
    while (length > 0) {
        DWORD piece = length < CIPHER_CHUNK ? length : CIPHER_CHUNK;
        DWORD done = piece;
        BOOL ok = mode == CIPHER_ENCRYPT ? CryptEncrypt(cipher->key, 0, FALSE, 0, buffer, &done, piece)
                                         : CryptDecrypt(cipher->key, 0, FALSE, 0, buffer, &done);
        if (!ok || done != piece)
            return FALSE;
        buffer += piece;
        length -= piece;
    }
    return TRUE;
}

BOOL DataCipher(BYTE *buffer, DWORD length, const WCHAR *passPhrase, int mode)
{
    if (mode != CIPHER_ENCRYPT && mode != CIPHER_DECRYPT)
        return FALSE;
    CipherStream cipher;
    if (!OpenCipher(&cipher, passPhrase))
        return FALSE;
    BOOL ok = CipherPiece(&cipher, buffer, length, mode);
    CloseCipher(&cipher);
    return ok;
}

// Results of OpenDataFile.
#define OPEN_OK 0
#define OPEN_MISSING 1  // not found: a first start
#define OPEN_FAILED 2   // there, but it cannot be opened

// Opens a data file for reading with the sharing that lets other readers and writers keep their
// handles, waiting briefly while another program holds it without that sharing.
static int OpenDataFile(const WCHAR *path, HANDLE *file)
{
    DWORD waited = 0;
    for (;;) {
        *file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (*file != INVALID_HANDLE_VALUE)
            return OPEN_OK;
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return OPEN_MISSING;
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) || waited >= SHARING_RETRY_MS)
            return OPEN_FAILED;
        Sleep(SHARING_RETRY_STEP_MS);
        waited += SHARING_RETRY_STEP_MS;
    }
}

static BOOL ReadAll(HANDLE file, BYTE *buffer, DWORD size)
{
    while (size > 0) {
        DWORD piece = size < 16 * CIPHER_CHUNK ? size : 16 * CIPHER_CHUNK;
        DWORD got = 0;
        if (!ReadFile(file, buffer, piece, &got, nullptr) || got == 0)
            return FALSE;
        buffer += got;
        size -= got;
    }
    return TRUE;
}

// The whole file in a zero-filled heap buffer. OPEN_FAILED also when it cannot be read whole
// or is too large for the memory.
static int ReadDataFile(const WCHAR *path, BYTE **data, DWORD *size)
{
    *data = nullptr;
    *size = 0;
    HANDLE file;
    int opened = OpenDataFile(path, &file);
    if (opened != OPEN_OK)
        return opened;
    DWORD high = 0;
    DWORD length = GetFileSize(file, &high);
    BYTE *buffer = nullptr;
    if (high == 0 && length != INVALID_FILE_SIZE)
        buffer = (BYTE *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, length ? length : 1);
    if (buffer && !ReadAll(file, buffer, length)) {
        HeapFree(GetProcessHeap(), 0, buffer);
        buffer = nullptr;
    }
    CloseHandle(file);
    if (!buffer)
        return OPEN_FAILED;
    *data = buffer;
    *size = length;
    return OPEN_OK;
}

// A new file of a name no other save uses, in the data folder: "<name>.<process>-<n>.tmp". A
// stale temporary file, read-only or not, is never in the way.
static HANDLE CreateTempFile(const WCHAR *fileName, WCHAR tempPath[MAX_PATH])
{
    static LONG counter;
    for (int attempt = 0; attempt < 100; attempt++) {
        WCHAR name[64];
        wsprintfW(name, L"%s.%lx-%lx.tmp", fileName, GetCurrentProcessId(), (unsigned long)InterlockedIncrement(&counter));
        if (!DataFilePath(name, tempPath))
            return INVALID_HANDLE_VALUE;
        HANDLE file = CreateFileW(tempPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            return file;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED)
            return INVALID_HANDLE_VALUE;
    }
    return INVALID_HANDLE_VALUE;
}

// Writes a temporary file piece by piece, encrypting each piece on the way when a cipher is given.
struct FileWriter {
    HANDLE file;
    CipherStream *cipher;
    BYTE *buffer;
    DWORD used;
    BOOL ok;
};

#define WRITER_BUFFER (256 * 1024)

static BOOL FlushWriter(FileWriter *writer)
{
    if (writer->ok && writer->used > 0) {
        DWORD written = 0;
        writer->ok = (!writer->cipher || CipherPiece(writer->cipher, writer->buffer, writer->used, CIPHER_ENCRYPT)) &&
                     WriteFile(writer->file, writer->buffer, writer->used, &written, nullptr) && written == writer->used;
    }
    writer->used = 0;
    return writer->ok;
}

static void PutBytes(FileWriter *writer, const void *source, SIZE_T size)
{
    const BYTE *from = (const BYTE *)source;
    while (writer->ok && size > 0) {
        DWORD room = WRITER_BUFFER - writer->used;
        DWORD piece = size < room ? (DWORD)size : room;
        CopyMemory(writer->buffer + writer->used, from, piece);
        writer->used += piece;
        from += piece;
        size -= piece;
        if (writer->used == WRITER_BUFFER)
            FlushWriter(writer);
    }
}

// What a data file is written from: a plain image (ini.dat) or the store (paste.dat).
typedef void (*WriteContents)(FileWriter *writer, const void *source);

// Writes the contents to a temporary file and moves it over the data file. On any failure the
// data file is left exactly as it was and the temporary file is removed.
static BOOL ReplaceDataFile(const WCHAR *fileName, WriteContents write, const void *source, BOOL encrypt)
{
    WCHAR path[MAX_PATH];
    WCHAR tempPath[MAX_PATH];
    if (!DataFilePath(fileName, path))
        return FALSE;
    // A file the user made read-only is not replaced: Windows refuses the move, Wine would not.
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    FileWriter writer = {};
    writer.buffer = (BYTE *)HeapAlloc(GetProcessHeap(), 0, WRITER_BUFFER);
    if (!writer.buffer)
        return FALSE;
    CipherStream cipher;
    BOOL ok = !encrypt || OpenCipher(&cipher, DataPassPhrase);
    if (ok) {
        writer.cipher = encrypt ? &cipher : nullptr;
        writer.file = CreateTempFile(fileName, tempPath);
        ok = writer.file != INVALID_HANDLE_VALUE;
    }
    if (ok) {
        writer.ok = TRUE;
        write(&writer, source);
        ok = FlushWriter(&writer) && FlushFileBuffers(writer.file);
        CloseHandle(writer.file);
        if (ok)
            ok = MoveFileExW(tempPath, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        if (!ok)
            DeleteFileW(tempPath);
    }
    if (encrypt && writer.cipher)
        CloseCipher(&cipher);
    HeapFree(GetProcessHeap(), 0, writer.buffer);
    return ok;
}

// Copies the data file, as it is on disk, to its .bak file; streams, so any size copies.
struct CopySource {
    HANDLE file;
};

static void WriteCopy(FileWriter *writer, const void *source)
{
    HANDLE file = ((const CopySource *)source)->file;
    while (writer->ok) {
        DWORD got = 0;
        if (writer->used == WRITER_BUFFER && !FlushWriter(writer))
            return;
        if (!ReadFile(file, writer->buffer + writer->used, WRITER_BUFFER - writer->used, &got, nullptr)) {
            writer->ok = FALSE;
            return;
        }
        if (got == 0)
            return;
        writer->used += got;
    }
}

// TRUE once the file is safe to replace: copied, or no longer there.
static BOOL KeepFileAside(const WCHAR *fileName, const WCHAR *backupName)
{
    WCHAR path[MAX_PATH];
    if (!DataFilePath(fileName, path))
        return FALSE;
    CopySource source;
    int opened = OpenDataFile(path, &source.file);
    if (opened != OPEN_OK)
        return opened == OPEN_MISSING;  // a file that went away needs no copy
    BOOL ok = ReplaceDataFile(backupName, WriteCopy, &source, FALSE);
    CloseHandle(source.file);
    return ok;
}

static const WCHAR *FileNameOf(int file)
{
    return file == DATA_INI ? IniFileName : ItemsFileName;
}

static const WCHAR *BackupNameOf(int file)
{
    return file == DATA_INI ? IniBackupName : ItemsBackupName;
}

// A file found unreadable at the start is kept as .bak; until that works, it stays protected.
static void NoteUnreadable(int file)
{
    g_unreadable[file] = TRUE;
    g_protected[file] = !KeepFileAside(FileNameOf(file), BackupNameOf(file));
}

// A protected file may be replaced once a copy of it has been made.
static BOOL MayReplace(int file)
{
    if (g_protected[file])
        g_protected[file] = !KeepFileAside(FileNameOf(file), BackupNameOf(file));
    return !g_protected[file];
}

int LoadIniData(IniData *ini)
{
    WCHAR path[MAX_PATH];
    if (!DataFilePath(IniFileName, path))
        return DATA_FILE_NONE;
    DWORD size = 0;
    BYTE *buffer = nullptr;
    int read = ReadDataFile(path, &buffer, &size);
    if (read == OPEN_MISSING)
        return DATA_FILE_NONE;
    if (read == OPEN_FAILED) {
        NoteUnreadable(DATA_INI);
        return DATA_FILE_UNREADABLE;
    }
    // A short file would leave part of the record undefined: the caller's defaults serve better,
    // and the file is kept aside.
    BOOL ok = size >= sizeof(IniData) && DataCipher(buffer, size, DataPassPhrase, CIPHER_DECRYPT);
    if (ok) {
        CopyMemory(ini, buffer, sizeof(IniData));
        ClampIniData(ini);
    } else {
        KeepFileAside(IniFileName, IniBackupName);
    }
    HeapFree(GetProcessHeap(), 0, buffer);
    return ok ? DATA_FILE_LOADED : DATA_FILE_NONE;
}

static void WriteIni(FileWriter *writer, const void *source)
{
    PutBytes(writer, source, sizeof(IniData));
}

BOOL SaveIniData(const IniData *ini)
{
    return MayReplace(DATA_INI) && ReplaceDataFile(IniFileName, WriteIni, ini, TRUE);
}

static DWORD StringBytes(const WCHAR *s)
{
    return 2 * (DWORD)(s ? lstrlenW(s) : 0) + 2;
}

static BYTE *PutImageBytes(BYTE *at, const void *source, DWORD size)
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
    BYTE *at = PutImageBytes(image, &count, 4);
    for (ItemMap::const_iterator it = items.begin(); it != items.end(); ++it) {
        // The buffer is zero-filled, so a missing string still leaves its terminator behind.
        at = PutImageBytes(at, &it->second.kind, 4);
        at = PutImageBytes(at, it->second.name, StringBytes(it->second.name));
        at = PutImageBytes(at, it->second.text, StringBytes(it->second.text));
    }
    *size = (DWORD)total;
    return image;
}

static void PutString(FileWriter *writer, const WCHAR *s)
{
    static const WCHAR empty = 0;
    PutBytes(writer, s ? s : &empty, StringBytes(s));
}

// The same bytes as MakeItemsImage, written record by record: no buffer of the image's size.
static void WriteItems(FileWriter *writer, const void *)
{
    const ItemMap &items = ItemStore::Items();
    int count = ItemStore::Size();
    PutBytes(writer, &count, 4);
    for (ItemMap::const_iterator it = items.begin(); it != items.end(); ++it) {
        PutBytes(writer, &it->second.kind, 4);
        PutString(writer, it->second.name);
        PutString(writer, it->second.text);
    }
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

// Takes out again what one parse inserted: every id from the first it was given.
static void EraseFrom(ItemId first)
{
    for (ItemId id = first; id < NextItemId; id++)
        ItemStore::Erase(id);
}

int ParseItemsImage(const BYTE *image, DWORD size)
{
    if (size < 4)
        return ITEMS_IMAGE_BAD;
    int count = 0;
    CopyMemory(&count, image, 4);
    DWORD offset = 4;
    ItemId first = NextItemId;
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
        if (ItemStore::Insert(kind, name, text) == 0) {
            EraseFrom(first);
            return ITEMS_IMAGE_NO_MEMORY;
        }
        offset = at;
    }
    // Bytes behind the last record would not survive the next save.
    return offset == size ? ITEMS_IMAGE_OK : ITEMS_IMAGE_DAMAGED;
}

int LoadItems()
{
    WCHAR path[MAX_PATH];
    if (!DataFilePath(ItemsFileName, path))
        return DATA_FILE_NONE;
    DWORD size = 0;
    BYTE *image = nullptr;
    int read = ReadDataFile(path, &image, &size);
    if (read == OPEN_MISSING)
        return DATA_FILE_NONE;
    int parsed = ITEMS_IMAGE_NO_MEMORY;
    if (read == OPEN_OK) {
        parsed = ITEMS_IMAGE_BAD;
        if (size >= 4 && DataCipher(image, size, DataPassPhrase, CIPHER_DECRYPT))
            parsed = ParseItemsImage(image, size);
        HeapFree(GetProcessHeap(), 0, image);
    }
    // Too large for the memory counts as unreadable: the file itself is sound.
    if (parsed == ITEMS_IMAGE_NO_MEMORY) {
        NoteUnreadable(DATA_ITEMS);
        return DATA_FILE_UNREADABLE;
    }
    // A paste.dat that could not be read whole is kept as paste.dat.bak before a save replaces
    // it with what could be read.
    if (parsed != ITEMS_IMAGE_OK)
        KeepFileAside(ItemsFileName, ItemsBackupName);
    return parsed == ITEMS_IMAGE_BAD ? DATA_FILE_NONE : DATA_FILE_LOADED;
}

BOOL SaveItems()
{
    return MayReplace(DATA_ITEMS) && ReplaceDataFile(ItemsFileName, WriteItems, nullptr, TRUE);
}
