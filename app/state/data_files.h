// ini.dat and paste.dat beside the executable, both encrypted as a whole with one RC4 key.
#pragma once
#include <windows.h>
#include "state/ini_data.h"

#define CIPHER_ENCRYPT 0
#define CIPHER_DECRYPT 1

extern const WCHAR DataPassPhrase[];  // "tavo"

BOOL AppDir(WCHAR dir[MAX_PATH]);
BOOL DataCipher(BYTE *buffer, DWORD length, const WCHAR *passPhrase, int mode);

// Results of LoadIniData and LoadItems.
#define DATA_FILE_NONE 0        // no file (a first start), or nothing usable in it: the caller uses its defaults
#define DATA_FILE_LOADED 1      // read and taken over (a damaged tail is kept as .bak)
#define DATA_FILE_UNREADABLE 2  // the file is there but could not be read: see DataFileProtected
#define DATA_FILE_LOCKED 3      // paste.dat is in the user's form but cannot be unprotected here: see ItemsFileLocked

// The data files, for the questions below.
#define DATA_INI 0
#define DATA_ITEMS 1
#define DATA_RULES 2  // apps.dat: the per-application rules (app_rules.h)
#define DATA_FILE_COUNT 3

int LoadIniData(IniData *ini);
// ini.dat written; never while the file is protected (see below) and no copy can be made.
BOOL SaveIniData(const IniData *ini);
int LoadItems();
// paste.dat written; the store stays as it is either way.
BOOL SaveItems();

// TRUE while the file is not under its own name because a save failed half-way: the name, without
// folder, of the file in the data folder that holds its contents, in `name`. That is the old file
// under its aside name "<name>.old" (the next start takes it back from there), else the new one
// under the temporary name the save kept.
BOOL DataFileHeldElsewhere(int file, WCHAR name[MAX_PATH]);

// The file was there at the start but could not be read.
BOOL DataFileUnreadable(int file);
// ...and it could not be copied to its .bak file either: no save replaces it until a copy
// succeeds (every save tries again).
BOOL DataFileProtected(int file);

// The two forms of paste.dat. The shared form opens on every PC with the program's fixed key; the
// user's form is protected for the Windows user who wrote it (CryptProtectData) and starts with
// a header of its own. The file's own form is the setting: a load takes the form it finds, a
// first start is shared, and every save writes the form until SetItemsFileForm changes it.
#define ITEMS_FORM_SHARED 0
#define ITEMS_FORM_USER 1
int ItemsFileForm();
void SetItemsFileForm(int form);

// paste.dat is in the user's form and could not be unprotected at the start (another user or
// PC, a damaged file, a newer version): no save replaces it while it is there.
BOOL ItemsFileLocked();
// Moves a locked paste.dat to paste.dat.protected (an older file of that name moves on to
// ".protected.1", ...); saves then write a new paste.dat. FALSE when it stays locked.
BOOL MoveLockedItemsAside();

// The plain image of paste.dat for the whole store (count, then the records oldest first).
// The caller frees it with HeapFree(GetProcessHeap()); null when it cannot be built.
BYTE *MakeItemsImage(DWORD *size);
// paste.dat written from such an image, as SaveItems writes it from the store; it reads nothing
// else, so it may run on another thread while the store changes, never beside another save of
// paste.dat.
BOOL SaveItemsImage(const BYTE *image, DWORD size);

// Results of ParseItemsImage.
#define ITEMS_IMAGE_BAD 0      // too short to hold its count: nothing inserted
#define ITEMS_IMAGE_OK 1       // every record read, nothing left over
#define ITEMS_IMAGE_DAMAGED 2  // ended inside a record, or bytes left over: the records read so far are inserted
#define ITEMS_IMAGE_NO_MEMORY 3  // an entry could not be stored: nothing inserted, the store is as it was

// Inserts the records of a plain paste.dat image into the store, in image order.
// Never reads beyond size bytes.
int ParseItemsImage(const BYTE *image, DWORD size);

// A data file read whole and decrypted, for a caller that parses it itself (apps.dat). The
// result is DATA_FILE_NONE (no file: *image null), DATA_FILE_LOADED (*image freed by the caller
// with HeapFree) or DATA_FILE_UNREADABLE (noted and kept aside as for the others).
int ReadDataFileImage(int file, BYTE **image, DWORD *size);
// A file whose contents its caller could not use: counts as unreadable (the start tells of it)
// and is copied to its .bak file before a save replaces it.
void NoteDamagedDataFile(int file);
// The plain image written, encrypted, in the file's place by the same safe replace as the others.
BOOL SaveDataFileImage(int file, const BYTE *image, DWORD size);

// Tests keep their files in a scratch folder of their own; null goes back to the executable's folder.
// Either way the files count as not yet loaded (nothing unreadable, nothing protected).
void SetDataDirectoryForTests(const WCHAR *dir);
// While set, every DataCipher call fails without touching its buffer.
void SetCipherFailureForTests(BOOL fail);
// The calls that put a saved file in place; null goes back to ReplaceFileW or MoveFileExW.
typedef BOOL(WINAPI *ReplaceFileRoute)(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR aside, DWORD flags,
                                       LPVOID exclude, LPVOID reserved);
typedef BOOL(WINAPI *MoveFileRoute)(LPCWSTR from, LPCWSTR to, DWORD flags);
void SetFileRoutesForTests(ReplaceFileRoute replace, MoveFileRoute move);
