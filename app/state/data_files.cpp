// The two data files beside the executable. Both are encrypted as a whole with the same RC4 key
// stream, so what one build writes every other build reads. A save never puts the plain image on
// disk and never leaves a half-written file: the encrypted image goes, in chunks, to a temporary
// file of its own in the same folder, which then replaces the old file in one step. A file that is
// there but cannot be read is never taken for a first start: it is copied to its .bak file before
// any save may replace it. paste.dat may instead be protected for the Windows user (see
// ItemsFileForm); such a file that cannot be unprotected is never written over. A replace that
// fails half-way may leave the old file under its aside name ("<name>.old"): the save then keeps
// every file it has, and the next start takes the old one back.
#include "state/data_files.h"
#include "state/item_store.h"
#include <wincrypt.h>

const WCHAR DataPassPhrase[] = L"tavo";

static const WCHAR IniFileName[] = L"ini.dat";
static const WCHAR ItemsFileName[] = L"paste.dat";
static const WCHAR IniBackupName[] = L"ini.dat.bak";
static const WCHAR ItemsBackupName[] = L"paste.dat.bak";
static const WCHAR ItemsLockedName[] = L"paste.dat.protected";

// The user's form of paste.dat: the magic, the version (32 bits), then chunks of the plain image,
// each as its size (32 bits) and the bytes CryptProtectData made of it, and a size of 0 to end.
// Read with the fixed key, the magic's first four bytes give a negative count, which no build
// writes: an earlier build takes the file for a damaged one and never for entries.
static const BYTE UserFormMagic[8] = {'t', 'a', 'v', 'o', 'U', 'S', 'E', 'R'};
#define USER_FORM_VERSION 1
#define USER_FORM_HEADER 12
// Another program of the same user must at least know this value to unprotect the chunks.
static const char UserFormEntropy[] = "tavo paste.dat user form";
// Appended to a file's name for the old file while ReplaceFileW puts the new one in its place.
static const WCHAR AsideSuffix[] = L".old";
static const WCHAR RulesFileName[] = L"apps.dat";
static const WCHAR RulesBackupName[] = L"apps.dat.bak";

// RC4 keeps its state between CryptEncrypt calls with Final FALSE, so any piece size gives the
// same stream; pieces keep every buffer the provider sees small.
#define CIPHER_CHUNK (1024 * 1024)
// Another program (a virus scanner, a backup or sync client) may hold a file for a moment.
#define SHARING_RETRY_MS 2000
#define SHARING_RETRY_STEP_MS 50

// What the start learned about each file (index DATA_INI, DATA_ITEMS, DATA_RULES).
static BOOL g_unreadable[DATA_FILE_COUNT];
static BOOL g_protected[DATA_FILE_COUNT];

static BOOL g_useDataDirForTests;      // AppDir answers g_dataDirForTests instead of the exe's folder
static BOOL g_dataDirTooLongForTests;  // the folder given did not fit: AppDir fails
static WCHAR g_dataDirForTests[MAX_PATH];
static BOOL g_cipherFailsForTests;

static int g_itemsForm;       // ITEMS_FORM_*: the form paste.dat was loaded in or chosen since
static BOOL g_itemsLocked;    // paste.dat could not be unprotected and is still in its place

// Every replace and move of a save goes through these, so that tests can make them fail as
// Windows documents it.
static ReplaceFileRoute g_replaceFileRoute = ReplaceFileW;
static MoveFileRoute g_moveFileRoute = MoveFileExW;

// The temporary file that the last failed save of a data file kept, because the old file was no
// longer under its own name; empty when it kept none.
static WCHAR g_keptTemp[DATA_FILE_COUNT][MAX_PATH];

void SetDataDirectoryForTests(const WCHAR *dir)
{
    for (int file = 0; file < DATA_FILE_COUNT; file++) {
        g_unreadable[file] = g_protected[file] = FALSE;
        g_keptTemp[file][0] = 0;
    }
    g_itemsForm = ITEMS_FORM_SHARED;
    g_itemsLocked = FALSE;
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

void SetFileRoutesForTests(ReplaceFileRoute replace, MoveFileRoute move)
{
    g_replaceFileRoute = replace ? replace : ReplaceFileW;
    g_moveFileRoute = move ? move : MoveFileExW;
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

// The name with AsideSuffix appended; fails like a missing file when it does not fit.
static BOOL AsideName(const WCHAR *fileName, WCHAR name[MAX_PATH])
{
    int length = lstrlenW(fileName);
    if (length + lstrlenW(AsideSuffix) + 1 > MAX_PATH)
        return FALSE;
    lstrcpyW(name, fileName);
    lstrcatW(name, AsideSuffix);
    return TRUE;
}

static BOOL FileIsThere(const WCHAR *path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// The aside file while it stands in for the missing data file, in `asideName`; FALSE otherwise.
static BOOL AsideStandsIn(const WCHAR *fileName, WCHAR asideName[MAX_PATH], WCHAR asidePath[MAX_PATH])
{
    WCHAR path[MAX_PATH];
    return DataFilePath(fileName, path) && AsideName(fileName, asideName) && DataFilePath(asideName, asidePath) &&
           !FileIsThere(path) && FileIsThere(asidePath);
}

// A data file that a failed save left under its aside name is put back before it is read; FALSE
// while it cannot be, so that the missing file is not taken for a first start.
static BOOL TakeBackAsideFile(const WCHAR *fileName)
{
    WCHAR path[MAX_PATH], asideName[MAX_PATH], asidePath[MAX_PATH];
    if (!AsideStandsIn(fileName, asideName, asidePath) || !DataFilePath(fileName, path))
        return TRUE;
    return g_moveFileRoute(asidePath, path, 0);
}

BOOL DataFileUnreadable(int file)
{
    return file >= 0 && file < DATA_FILE_COUNT && g_unreadable[file];
}

BOOL DataFileProtected(int file)
{
    return file >= 0 && file < DATA_FILE_COUNT && g_protected[file];
}

int ItemsFileForm()
{
    return g_itemsForm;
}

void SetItemsFileForm(int form)
{
    g_itemsForm = form == ITEMS_FORM_USER ? ITEMS_FORM_USER : ITEMS_FORM_SHARED;
}

BOOL ItemsFileLocked()
{
    return g_itemsLocked;
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
// handles, waiting up to waitMs while another program holds it without that sharing.
static int OpenDataFile(const WCHAR *path, HANDLE *file, DWORD waitMs)
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
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) || waited >= waitMs)
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
    int opened = OpenDataFile(path, &file, SHARING_RETRY_MS);
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
// stale temporary file, read-only or not, is never in the way. It is made with the attributes
// given, encryption included, so that even a first save or a move puts down what the user set.
static HANDLE CreateTempFile(const WCHAR *fileName, DWORD attributes, WCHAR tempPath[MAX_PATH])
{
    static LONG counter;
    for (int attempt = 0; attempt < 100; attempt++) {
        WCHAR name[64];
        wsprintfW(name, L"%s.%lx-%lx.tmp", fileName, GetCurrentProcessId(), (unsigned long)InterlockedIncrement(&counter));
        if (!DataFilePath(name, tempPath))
            return INVALID_HANDLE_VALUE;
        HANDLE file = CreateFileW(tempPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            return file;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED)
            return INVALID_HANDLE_VALUE;
    }
    return INVALID_HANDLE_VALUE;
}

// Writes a temporary file piece by piece, encrypting each piece on the way when a cipher is given,
// or protecting each as one chunk of the user's form.
struct FileWriter {
    HANDLE file;
    CipherStream *cipher;
    BOOL userForm;
    BYTE *buffer;
    DWORD used;
    BOOL ok;
};

// Also the largest chunk of the user's form: a large history never needs its image twice.
#define WRITER_BUFFER (256 * 1024)

// How ReplaceDataFile writes: as given (a copy), with the fixed key, or in the user's form.
#define WRITE_PLAIN 0
#define WRITE_SCRAMBLED 1
#define WRITE_USER_FORM 2

static BOOL WriteBytes(HANDLE file, const void *bytes, DWORD size)
{
    DWORD written = 0;
    return WriteFile(file, bytes, size, &written, nullptr) && written == size;
}

static DATA_BLOB UserFormEntropyBlob()
{
    DATA_BLOB entropy = {(DWORD)sizeof(UserFormEntropy) - 1, (BYTE *)UserFormEntropy};
    return entropy;
}

// One chunk: its size, then the protected bytes. A failed protect call fails the save; nothing
// falls back to the shared form.
static BOOL WriteUserChunk(HANDLE file, BYTE *plain, DWORD size)
{
    if (g_cipherFailsForTests)
        return FALSE;
    DATA_BLOB in = {size, plain}, entropy = UserFormEntropyBlob(), out = {};
    if (!CryptProtectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
        return FALSE;
    BOOL ok = WriteBytes(file, &out.cbData, 4) && WriteBytes(file, out.pbData, out.cbData);
    LocalFree(out.pbData);
    return ok;
}

static BOOL WriteUserHeader(HANDLE file)
{
    BYTE header[USER_FORM_HEADER];
    DWORD version = USER_FORM_VERSION;
    CopyMemory(header, UserFormMagic, 8);
    CopyMemory(header + 8, &version, 4);
    return WriteBytes(file, header, USER_FORM_HEADER);
}

static BOOL WriteUserEnd(HANDLE file)
{
    DWORD end = 0;
    return WriteBytes(file, &end, 4);
}

static BOOL FlushWriter(FileWriter *writer)
{
    if (writer->ok && writer->used > 0) {
        if (writer->userForm)
            writer->ok = WriteUserChunk(writer->file, writer->buffer, writer->used);
        else
            writer->ok = (!writer->cipher || CipherPiece(writer->cipher, writer->buffer, writer->used, CIPHER_ENCRYPT)) &&
                         WriteBytes(writer->file, writer->buffer, writer->used);
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

// The attributes a save carries over from the file it replaces, or a .bak from its data file.
// Read-only is not among them: on a data file it refuses the save.
#define CARRIED_ATTRIBUTES (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
// What SetFileAttributesW can set at all.
#define SETTABLE_ATTRIBUTES (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_OFFLINE | \
                             FILE_ATTRIBUTE_TEMPORARY | CARRIED_ATTRIBUTES)

// The attributes to create the temporary file with: the model's carried ones and its encryption.
static DWORD AttributesFrom(const WCHAR *modelPath)
{
    DWORD model = GetFileAttributesW(modelPath);
    if (model == INVALID_FILE_ATTRIBUTES || (model & FILE_ATTRIBUTE_DIRECTORY))
        return FILE_ATTRIBUTE_NORMAL;
    DWORD attributes = model & (CARRIED_ATTRIBUTES | FILE_ATTRIBUTE_ENCRYPTED);
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

// Results of PutInPlace.
#define PLACED 0
#define NOT_PLACED 1            // the data file is under its own name, as it was
#define NOT_PLACED_ELSEWHERE 2  // the old file is not under its own name: every file stays

// The temporary file takes the data file's place. ReplaceFileW keeps the security descriptor,
// the encryption and the attributes of the file it replaces; it needs a file to replace, and
// Wine's keeps no attributes, so the carried ones are set again where they did not stay. Where
// ReplaceFileW fails the move still saves, as the program always did. With an aside name
// ReplaceFileW either leaves both files under their names or, failing with
// ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, the old one under the aside name: it is moved back first.
static int PutInPlace(const WCHAR *tempPath, const WCHAR *path, const WCHAR *asidePath, DWORD attributes)
{
    BOOL existed = FileIsThere(path);
    BOOL placed = FALSE;
    if (existed) {
        // A file that another program keeps from being deleted cannot be replaced by any means;
        // asked anyway, Wine's ReplaceFileW leaves a file of its own behind.
        HANDLE target = CreateFileW(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        if (target == INVALID_HANDLE_VALUE)
            return NOT_PLACED;
        CloseHandle(target);
        // An aside file beside the data file is older than it.
        DeleteFileW(asidePath);
        placed = g_replaceFileRoute(path, tempPath, asidePath, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
        if (!placed && !FileIsThere(path) && FileIsThere(asidePath))
            g_moveFileRoute(asidePath, path, 0);
    }
    if (!placed && FileIsThere(tempPath))
        placed = g_moveFileRoute(tempPath, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!placed) {
        // Without its own name the old contents may live on only in the aside file, the new ones
        // only in the temporary file. A first save had no old contents.
        return FileIsThere(path) || (!existed && !FileIsThere(asidePath)) ? NOT_PLACED : NOT_PLACED_ELSEWHERE;
    }
    DeleteFileW(asidePath);
    DWORD carried = attributes & CARRIED_ATTRIBUTES;
    DWORD now = GetFileAttributesW(path);
    if (now != INVALID_FILE_ATTRIBUTES && (now & CARRIED_ATTRIBUTES) != carried) {
        DWORD wanted = (now & SETTABLE_ATTRIBUTES & ~CARRIED_ATTRIBUTES) | carried;
        SetFileAttributesW(path, wanted ? wanted : FILE_ATTRIBUTE_NORMAL);
    }
    return PLACED;
}

// The file name of a path, without its folder.
static const WCHAR *NameOf(const WCHAR *path)
{
    const WCHAR *name = path + lstrlenW(path);
    while (name > path && name[-1] != L'\\')
        name--;
    return name;
}

// Writes the contents to a temporary file and puts it in the data file's place, with the
// attributes of modelName (the file itself, or for a .bak its data file). On a failure the data
// file is left as it was and the temporary file is removed; only where the old file is no longer
// under its own name does the temporary file stay, named in keptTemp (empty otherwise).
static BOOL ReplaceDataFile(const WCHAR *fileName, const WCHAR *modelName, WriteContents write, const void *source,
                            int how, WCHAR keptTemp[MAX_PATH])
{
    WCHAR path[MAX_PATH];
    WCHAR modelPath[MAX_PATH];
    WCHAR tempPath[MAX_PATH];
    WCHAR asideName[MAX_PATH], asidePath[MAX_PATH];
    keptTemp[0] = 0;
    if (!DataFilePath(fileName, path) || !DataFilePath(modelName, modelPath) || !AsideName(fileName, asideName) ||
        !DataFilePath(asideName, asidePath))
        return FALSE;
    DWORD keptAttributes = AttributesFrom(modelPath);
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
    BOOL ok = how != WRITE_SCRAMBLED || OpenCipher(&cipher, DataPassPhrase);
    if (ok) {
        writer.cipher = how == WRITE_SCRAMBLED ? &cipher : nullptr;
        writer.userForm = how == WRITE_USER_FORM;
        writer.file = CreateTempFile(fileName, keptAttributes, tempPath);
        // Where encryption cannot be had for a new file, the save still goes through; replacing
        // an encrypted file keeps its encryption all the same.
        if (writer.file == INVALID_HANDLE_VALUE && (keptAttributes & FILE_ATTRIBUTE_ENCRYPTED)) {
            DWORD plain = keptAttributes & ~FILE_ATTRIBUTE_ENCRYPTED;
            writer.file = CreateTempFile(fileName, plain ? plain : FILE_ATTRIBUTE_NORMAL, tempPath);
        }
        ok = writer.file != INVALID_HANDLE_VALUE;
    }
    if (ok) {
        writer.ok = !writer.userForm || WriteUserHeader(writer.file);
        write(&writer, source);
        ok = FlushWriter(&writer) && (!writer.userForm || WriteUserEnd(writer.file)) && FlushFileBuffers(writer.file);
        CloseHandle(writer.file);
        int placed = ok ? PutInPlace(tempPath, path, asidePath, keptAttributes) : NOT_PLACED;
        ok = placed == PLACED;
        if (placed == NOT_PLACED_ELSEWHERE)
            lstrcpynW(keptTemp, NameOf(tempPath), MAX_PATH);
        else if (!ok)
            DeleteFileW(tempPath);
    }
    if (writer.cipher)
        CloseCipher(&cipher);
    if (writer.userForm)
        SecureZeroMemory(writer.buffer, WRITER_BUFFER);  // the plain entries that the file keeps from others
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
    // Right after a load that waited already, or at a save the user may retry: no second wait.
    int opened = OpenDataFile(path, &source.file, 0);
    if (opened != OPEN_OK)
        return opened == OPEN_MISSING;  // a file that went away needs no copy
    WCHAR keptTemp[MAX_PATH];  // the data file itself is still there, whatever happened to the copy
    BOOL ok = ReplaceDataFile(backupName, fileName, WriteCopy, &source, WRITE_PLAIN, keptTemp);
    CloseHandle(source.file);
    return ok;
}

static const WCHAR *FileNameOf(int file)
{
    return file == DATA_INI ? IniFileName : file == DATA_ITEMS ? ItemsFileName : RulesFileName;
}

static const WCHAR *BackupNameOf(int file)
{
    return file == DATA_INI ? IniBackupName : file == DATA_ITEMS ? ItemsBackupName : RulesBackupName;
}

BOOL DataFileHeldElsewhere(int file, WCHAR name[MAX_PATH])
{
    WCHAR path[MAX_PATH], asideName[MAX_PATH], otherPath[MAX_PATH];
    if (file < 0 || file >= DATA_FILE_COUNT || !DataFilePath(FileNameOf(file), path) || FileIsThere(path) ||
        !AsideName(FileNameOf(file), asideName))
        return FALSE;
    // The old contents under the aside name, else the new ones under the temporary name.
    const WCHAR *holders[2] = {asideName, g_keptTemp[file]};
    for (int k = 0; k < 2; k++) {
        if (holders[k][0] && DataFilePath(holders[k], otherPath) && FileIsThere(otherPath)) {
            lstrcpynW(name, holders[k], MAX_PATH);
            return TRUE;
        }
    }
    return FALSE;
}

// A copy made earlier may be the only one of the user's data (the file was unreadable at an
// earlier start too): it moves to the first free name "<backup>.1", "<backup>.2", ... .
static void MoveOlderBackupAside(const WCHAR *backupName)
{
    WCHAR path[MAX_PATH];
    if (!DataFilePath(backupName, path) || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
        return;
    for (int n = 1; n < 100; n++) {
        WCHAR name[40], older[MAX_PATH];
        wsprintfW(name, L"%s.%d", backupName, n);
        if (!DataFilePath(name, older) || MoveFileExW(path, older, 0))
            return;
    }
}

// Results of ReadUserHeader.
#define USER_HEADER_NONE 0     // the shared form (or too short for a header): the file is where it was
#define USER_HEADER_OK 1
#define USER_HEADER_NEWER 2    // the magic with a version this build does not know
#define USER_HEADER_FAILED 3   // the file could not be read

// Reads the header of the user's form; for any other file goes back to the file's start.
static int ReadUserHeader(HANDLE file)
{
    BYTE header[USER_FORM_HEADER];
    DWORD got = 0;
    if (!ReadFile(file, header, USER_FORM_HEADER, &got, nullptr))
        return USER_HEADER_FAILED;
    BOOL magic = got == USER_FORM_HEADER;
    for (int i = 0; magic && i < 8; i++)
        magic = header[i] == UserFormMagic[i];
    if (magic) {
        DWORD version;
        CopyMemory(&version, header + 8, 4);
        return version == USER_FORM_VERSION ? USER_HEADER_OK : USER_HEADER_NEWER;
    }
    return SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 ? USER_HEADER_NONE : USER_HEADER_FAILED;
}

static BOOL HasUserHeader(const WCHAR *fileName)
{
    WCHAR path[MAX_PATH];
    HANDLE file;
    if (!DataFilePath(fileName, path) || OpenDataFile(path, &file, 0) != OPEN_OK)
        return FALSE;
    int header = ReadUserHeader(file);
    CloseHandle(file);
    return header == USER_HEADER_OK || header == USER_HEADER_NEWER;
}

// An unreadable file is copied to its .bak file, the newest copy always under that name; so is an
// aside file that could not be put back in its place.
static BOOL KeepUnreadableFile(int file)
{
    WCHAR path[MAX_PATH], asideName[MAX_PATH];
    const WCHAR *name = AsideStandsIn(FileNameOf(file), asideName, path) ? asideName : FileNameOf(file);
    if (DataFilePath(name, path) && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
        MoveOlderBackupAside(BackupNameOf(file));
    BOOL kept = KeepFileAside(name, BackupNameOf(file));
    // The form of a paste.dat that could not be read shows in its copy: what replaces it keeps
    // the protection.
    if (kept && file == DATA_ITEMS && HasUserHeader(ItemsBackupName))
        g_itemsForm = ITEMS_FORM_USER;
    return kept;
}

// A file found unreadable at the start is kept as .bak; until that works, it stays protected.
static void NoteUnreadable(int file)
{
    g_unreadable[file] = TRUE;
    g_protected[file] = !KeepUnreadableFile(file);
}

// A protected file may be replaced once a copy of it has been made; a locked paste.dat never.
static BOOL MayReplace(int file)
{
    if (file == DATA_ITEMS && g_itemsLocked) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (g_protected[file])
        g_protected[file] = !KeepUnreadableFile(file);
    return !g_protected[file];
}

int LoadIniData(IniData *ini)
{
    WCHAR path[MAX_PATH];
    TakeBackAsideFile(IniBackupName);
    if (!TakeBackAsideFile(IniFileName)) {
        NoteUnreadable(DATA_INI);
        return DATA_FILE_UNREADABLE;
    }
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
    return MayReplace(DATA_INI) &&
           ReplaceDataFile(IniFileName, IniFileName, WriteIni, ini, WRITE_SCRAMBLED, g_keptTemp[DATA_INI]);
}

static DWORD StringBytes(const WCHAR *s)
{
    return 2 * (DWORD)(s ? lstrlenW(s) : 0) + 2;
}

static BYTE *PutImageBytes(BYTE *at, const void *source, DWORD size)
{
    if (source)
        CopyMemory(at, source, size);
    else
        ZeroMemory(at, size);
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
    // Every byte is written below: no zero fill, which for a large history is time the idle
    // save's hub would wait.
    BYTE *image = (BYTE *)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)total);
    if (!image)
        return nullptr;
    int count = ItemStore::Size();
    BYTE *at = PutImageBytes(image, &count, 4);
    for (ItemMap::const_iterator it = items.begin(); it != items.end(); ++it) {
        // A missing string still leaves its terminator behind.
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

// Reads a plain paste.dat image piece by piece: from memory, or from the file, decrypting each
// piece on the way, so that a load needs no buffer of the file's size, only the store itself.
struct ItemsReader {
    HANDLE file;              // null when the image is in memory
    CipherStream *cipher;     // the shared form's key stream
    BYTE *chunk;              // the user's form: one chunk as it is on disk; null for the shared form
    BYTE *piece;              // the piece being taken apart
    DWORD pieceSize, at;      // bytes in it, bytes taken
    unsigned long long left;  // bytes of the file not yet read
    BOOL readFailed;
    BOOL locked;              // a chunk of the user's form could not be unprotected, or the form is broken
    BOOL ended;               // the user's form reached its end mark
};

#define READER_PIECE (256 * 1024)  // even, so a UTF-16 unit never straddles two pieces
#define ITEMS_IMAGE_READ_FAILED 4  // the file could not be read to its end: nothing inserted
#define ITEMS_IMAGE_LOCKED 5       // the user's form could not be unprotected: nothing inserted
static_assert(WRITER_BUFFER <= READER_PIECE, "a chunk of the user's form fits one piece");
// A protected chunk is its plain bytes and a small, fixed overhead.
#define USER_CHUNK_MAX (READER_PIECE + 64 * 1024)

static BOOL ReadFromFile(ItemsReader *reader, void *to, DWORD size)
{
    DWORD got = 0;
    if (!ReadFile(reader->file, to, size, &got, nullptr) || got != size) {
        reader->readFailed = TRUE;
        return FALSE;
    }
    reader->left -= got;
    return TRUE;
}

static BOOL LockReader(ItemsReader *reader)
{
    reader->locked = TRUE;
    return FALSE;
}

// The next chunk of the user's form, unprotected into the piece. Anything but a whole chunk, or
// the end mark where the file ends, locks the file: it is never taken for damage to repair.
static BOOL NextUserChunk(ItemsReader *reader)
{
    DWORD size = 0;
    if (reader->left < 4)
        return LockReader(reader);
    if (!ReadFromFile(reader, &size, 4))
        return FALSE;
    if (size == 0) {
        reader->ended = reader->left == 0;
        return reader->ended ? FALSE : LockReader(reader);
    }
    if (size > USER_CHUNK_MAX || size > reader->left)
        return LockReader(reader);
    if (!ReadFromFile(reader, reader->chunk, size))
        return FALSE;
    DATA_BLOB in = {size, reader->chunk}, entropy = UserFormEntropyBlob(), out = {};
    if (g_cipherFailsForTests ||
        !CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
        return LockReader(reader);
    BOOL fits = out.cbData > 0 && out.cbData <= READER_PIECE;
    if (fits)
        CopyMemory(reader->piece, out.pbData, out.cbData);
    SecureZeroMemory(out.pbData, out.cbData);
    LocalFree(out.pbData);
    if (!fits)
        return LockReader(reader);
    reader->pieceSize = out.cbData;
    reader->at = 0;
    return TRUE;
}

// TRUE while there is a byte to take; reads the next piece once the current one is used up.
static BOOL ReaderHasByte(ItemsReader *reader)
{
    if (reader->at < reader->pieceSize)
        return TRUE;
    if (!reader->file || reader->readFailed || reader->locked || reader->ended)
        return FALSE;
    if (reader->chunk)
        return NextUserChunk(reader);
    if (reader->left == 0)
        return FALSE;
    DWORD want = reader->left < READER_PIECE ? (DWORD)reader->left : READER_PIECE;
    DWORD got = 0;
    if (!ReadFile(reader->file, reader->piece, want, &got, nullptr) || got != want ||
        !CipherPiece(reader->cipher, reader->piece, got, CIPHER_DECRYPT)) {
        reader->readFailed = TRUE;
        return FALSE;
    }
    reader->pieceSize = got;
    reader->at = 0;
    reader->left -= got;
    return TRUE;
}

static BOOL TakeBytes(ItemsReader *reader, void *to, DWORD count)
{
    BYTE *out = (BYTE *)to;
    while (count > 0) {
        if (!ReaderHasByte(reader))
            return FALSE;
        DWORD piece = reader->pieceSize - reader->at;
        if (piece > count)
            piece = count;
        CopyMemory(out, reader->piece + reader->at, piece);
        out += piece;
        count -= piece;
        reader->at += piece;
    }
    return TRUE;
}

// One string as it is read, terminated; grown as needed and reused for the next string.
struct UnitBuffer {
    WCHAR *units;
    SIZE_T length, room;
};

static BOOL AppendUnits(UnitBuffer *buffer, const WCHAR *units, SIZE_T count)
{
    SIZE_T needed = buffer->length + count + 1;
    if (needed > buffer->room) {
        SIZE_T room = buffer->room ? buffer->room : 256;
        while (room < needed)
            room *= 2;
        WCHAR *grown = buffer->units ? (WCHAR *)HeapReAlloc(GetProcessHeap(), 0, buffer->units, 2 * room)
                                     : (WCHAR *)HeapAlloc(GetProcessHeap(), 0, 2 * room);
        if (!grown)
            return FALSE;
        buffer->units = grown;
        buffer->room = room;
    }
    CopyMemory(buffer->units + buffer->length, units, 2 * count);
    buffer->length += count;
    buffer->units[buffer->length] = 0;
    return TRUE;
}

// Results of TakeString.
#define TAKE_OK 0
#define TAKE_ENDED 1      // the image ended before the terminator
#define TAKE_NO_MEMORY 2

// The string up to its terminator. Strings start at even offsets, so the terminator is looked
// for unit by unit.
static int TakeString(ItemsReader *reader, UnitBuffer *buffer)
{
    buffer->length = 0;
    if (!AppendUnits(buffer, nullptr, 0))
        return TAKE_NO_MEMORY;
    for (;;) {
        if (!ReaderHasByte(reader) || reader->pieceSize - reader->at < 2)
            return TAKE_ENDED;
        const WCHAR *units = (const WCHAR *)(reader->piece + reader->at);
        DWORD available = (reader->pieceSize - reader->at) / 2;
        DWORD count = 0;
        while (count < available && units[count] != 0)
            count++;
        if (!AppendUnits(buffer, units, count))
            return TAKE_NO_MEMORY;
        BOOL ended = count < available;
        reader->at += 2 * (count + (ended ? 1 : 0));
        if (ended)
            return TAKE_OK;
    }
}

// Takes out again what one parse inserted: every id from the first it was given.
static void EraseFrom(ItemId first)
{
    for (ItemId id = first; id < g_nextItemId; id++)
        ItemStore::Erase(id);
}

// Inserts the records in image order. Damage keeps the records read so far; a lack of memory
// or a failed read takes them all out again.
static int ParseItems(ItemsReader *reader)
{
    int count = 0;
    if (!TakeBytes(reader, &count, 4))
        return reader->readFailed ? ITEMS_IMAGE_READ_FAILED : reader->locked ? ITEMS_IMAGE_LOCKED : ITEMS_IMAGE_BAD;
    UnitBuffer name = {}, text = {};
    ItemId first = g_nextItemId;
    int result = ITEMS_IMAGE_OK;
    for (int n = 0; n < count && result == ITEMS_IMAGE_OK; n++) {
        ItemKind kind = 0;
        int took = TakeBytes(reader, &kind, 4) ? TAKE_OK : TAKE_ENDED;
        if (took == TAKE_OK)
            took = TakeString(reader, &name);
        if (took == TAKE_OK)
            took = TakeString(reader, &text);
        if (took == TAKE_NO_MEMORY || (took == TAKE_OK && ItemStore::Insert(kind, name.units, text.units) == 0))
            result = ITEMS_IMAGE_NO_MEMORY;
        else if (took == TAKE_ENDED)
            result = ITEMS_IMAGE_DAMAGED;
    }
    // Bytes behind the last record would not survive the next save.
    if (result == ITEMS_IMAGE_OK && ReaderHasByte(reader))
        result = ITEMS_IMAGE_DAMAGED;
    if (reader->readFailed)
        result = ITEMS_IMAGE_READ_FAILED;
    else if (reader->locked)
        result = ITEMS_IMAGE_LOCKED;
    if (name.units)
        HeapFree(GetProcessHeap(), 0, name.units);
    if (text.units)
        HeapFree(GetProcessHeap(), 0, text.units);
    if (result == ITEMS_IMAGE_NO_MEMORY || result == ITEMS_IMAGE_READ_FAILED || result == ITEMS_IMAGE_LOCKED)
        EraseFrom(first);
    return result;
}

int ParseItemsImage(const BYTE *image, DWORD size)
{
    ItemsReader reader = {};
    reader.piece = (BYTE *)image;
    reader.pieceSize = size;
    return ParseItems(&reader);
}

// paste.dat in the user's form, after its header: unprotected and parsed chunk by chunk.
static int ParseUserFormFile(ItemsReader *reader)
{
    reader->chunk = (BYTE *)HeapAlloc(GetProcessHeap(), 0, USER_CHUNK_MAX);
    if (!reader->chunk)
        return ITEMS_IMAGE_NO_MEMORY;
    // Behind the last record, only the end mark ends the file without locking it.
    int parsed = ParseItems(reader);
    HeapFree(GetProcessHeap(), 0, reader->chunk);
    SecureZeroMemory(reader->piece, READER_PIECE);
    return parsed;
}

// paste.dat read, decrypted or unprotected, and parsed piece by piece; *form is the form found.
static int ParseItemsFile(HANDLE file, int *form)
{
    *form = ITEMS_FORM_SHARED;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size))
        return ITEMS_IMAGE_READ_FAILED;
    if (size.QuadPart < 4)
        return ITEMS_IMAGE_BAD;
    int header = ReadUserHeader(file);
    if (header == USER_HEADER_FAILED)
        return ITEMS_IMAGE_READ_FAILED;
    if (header != USER_HEADER_NONE)
        *form = ITEMS_FORM_USER;
    // A newer build's file: kept whole for that build.
    if (header == USER_HEADER_NEWER)
        return ITEMS_IMAGE_LOCKED;
    ItemsReader reader = {};
    reader.file = file;
    reader.left = (unsigned long long)size.QuadPart - (header == USER_HEADER_OK ? USER_FORM_HEADER : 0);
    reader.piece = (BYTE *)HeapAlloc(GetProcessHeap(), 0, READER_PIECE);
    if (!reader.piece)
        return ITEMS_IMAGE_NO_MEMORY;
    CipherStream cipher;
    int parsed = ITEMS_IMAGE_BAD;  // a file that cannot be decrypted is kept aside like a damaged one
    if (header == USER_HEADER_OK) {
        parsed = ParseUserFormFile(&reader);
    } else if (OpenCipher(&cipher, DataPassPhrase)) {
        reader.cipher = &cipher;
        parsed = ParseItems(&reader);
        CloseCipher(&cipher);
    }
    HeapFree(GetProcessHeap(), 0, reader.piece);
    return parsed;
}

int LoadItems()
{
    WCHAR path[MAX_PATH];
    TakeBackAsideFile(ItemsBackupName);
    if (!TakeBackAsideFile(ItemsFileName)) {
        NoteUnreadable(DATA_ITEMS);
        return DATA_FILE_UNREADABLE;
    }
    if (!DataFilePath(ItemsFileName, path))
        return DATA_FILE_NONE;
    HANDLE file;
    int opened = OpenDataFile(path, &file, SHARING_RETRY_MS);
    if (opened == OPEN_MISSING)
        return DATA_FILE_NONE;
    int parsed = ITEMS_IMAGE_READ_FAILED;
    int form = ITEMS_FORM_SHARED;
    if (opened == OPEN_OK) {
        parsed = ParseItemsFile(file, &form);
        CloseHandle(file);
    }
    g_itemsForm = form;
    // Copied or replaced, it would be lost to the one user and PC that can still read it.
    if (parsed == ITEMS_IMAGE_LOCKED) {
        g_itemsLocked = TRUE;
        return DATA_FILE_LOCKED;
    }
    // Not read, or too large for the memory: the file itself may be sound, so it is no first start.
    if (parsed == ITEMS_IMAGE_NO_MEMORY || parsed == ITEMS_IMAGE_READ_FAILED) {
        NoteUnreadable(DATA_ITEMS);
        return DATA_FILE_UNREADABLE;
    }
    // A paste.dat that could not be read whole is kept as paste.dat.bak before a save replaces
    // it with what could be read.
    if (parsed != ITEMS_IMAGE_OK)
        KeepFileAside(ItemsFileName, ItemsBackupName);
    return parsed == ITEMS_IMAGE_BAD ? DATA_FILE_NONE : DATA_FILE_LOADED;
}

struct ImageSource {
    const BYTE *image;
    DWORD size;
};

static void WriteImage(FileWriter *writer, const void *source)
{
    const ImageSource *image = (const ImageSource *)source;
    PutBytes(writer, image->image, image->size);
}

// Decided after MayReplace, which may learn the form of a file unreadable at the start.
static int ItemsWriteMode()
{
    return g_itemsForm == ITEMS_FORM_USER ? WRITE_USER_FORM : WRITE_SCRAMBLED;
}

BOOL SaveItemsImage(const BYTE *image, DWORD size)
{
    ImageSource source = {image, size};
    return MayReplace(DATA_ITEMS) && ReplaceDataFile(ItemsFileName, ItemsFileName, WriteImage, &source,
                                                     ItemsWriteMode(), g_keptTemp[DATA_ITEMS]);
}

BOOL SaveItems()
{
    return MayReplace(DATA_ITEMS) && ReplaceDataFile(ItemsFileName, ItemsFileName, WriteItems, nullptr, ItemsWriteMode(),
                                                     g_keptTemp[DATA_ITEMS]);
}

BOOL MoveLockedItemsAside()
{
    if (!g_itemsLocked)
        return TRUE;
    WCHAR path[MAX_PATH], aside[MAX_PATH];
    if (!DataFilePath(ItemsFileName, path) || !DataFilePath(ItemsLockedName, aside))
        return FALSE;
    MoveOlderBackupAside(ItemsLockedName);
    // Never over another file: while the name is taken, paste.dat stays where it is, locked.
    if (!MoveFileExW(path, aside, MOVEFILE_WRITE_THROUGH))
        return FALSE;
    g_itemsLocked = FALSE;
    return TRUE;
}

int ReadDataFileImage(int file, BYTE **image, DWORD *size)
{
    *image = nullptr;
    *size = 0;
    WCHAR path[MAX_PATH];
    if (file < 0 || file >= DATA_FILE_COUNT)
        return DATA_FILE_NONE;
    TakeBackAsideFile(BackupNameOf(file));
    if (!TakeBackAsideFile(FileNameOf(file))) {
        NoteUnreadable(file);
        return DATA_FILE_UNREADABLE;
    }
    if (!DataFilePath(FileNameOf(file), path))
        return DATA_FILE_NONE;
    int read = ReadDataFile(path, image, size);
    if (read == OPEN_MISSING)
        return DATA_FILE_NONE;
    if (read == OPEN_OK && !DataCipher(*image, *size, DataPassPhrase, CIPHER_DECRYPT)) {
        HeapFree(GetProcessHeap(), 0, *image);
        *image = nullptr;
        *size = 0;
        read = OPEN_FAILED;
    }
    if (read != OPEN_OK) {
        NoteUnreadable(file);
        return DATA_FILE_UNREADABLE;
    }
    return DATA_FILE_LOADED;
}

void NoteDamagedDataFile(int file)
{
    if (file >= 0 && file < DATA_FILE_COUNT)
        NoteUnreadable(file);
}

BOOL SaveDataFileImage(int file, const BYTE *image, DWORD size)
{
    if (file < 0 || file >= DATA_FILE_COUNT)
        return FALSE;
    ImageSource source = {image, size};
    return MayReplace(file) &&
           ReplaceDataFile(FileNameOf(file), FileNameOf(file), WriteImage, &source, WRITE_SCRAMBLED, g_keptTemp[file]);
}
