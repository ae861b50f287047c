// ini.dat and paste.dat beside the executable, both encrypted as a whole with one RC4 key.
#pragma once
#include <windows.h>
#include "state/ini_data.h"

#define CIPHER_ENCRYPT 0
#define CIPHER_DECRYPT 1

extern const WCHAR DataPassPhrase[];  // "tavo"

BOOL AppDir(WCHAR dir[MAX_PATH]);
BOOL DataCipher(BYTE *buffer, DWORD length, const WCHAR *passPhrase, int mode);
BOOL LoadIniData(IniData *ini);
BOOL SaveIniData(const IniData *ini);
BOOL LoadItems();
BOOL SaveItems();

// The plain image of paste.dat for the whole store (count, then the records oldest first).
// The caller frees it with HeapFree(GetProcessHeap()); null when it cannot be built.
BYTE *MakeItemsImage(DWORD *size);

// Results of ParseItemsImage.
#define ITEMS_IMAGE_BAD 0      // too short to hold its count: nothing inserted
#define ITEMS_IMAGE_OK 1       // every record read, nothing left over
#define ITEMS_IMAGE_DAMAGED 2  // ended inside a record, or bytes left over: the records read so far are inserted

// Inserts the records of a plain paste.dat image into the store, in image order.
// Never reads beyond size bytes.
int ParseItemsImage(const BYTE *image, DWORD size);

// Tests keep their files in a scratch folder of their own; null goes back to the executable's folder.
void SetDataDirectoryForTests(const WCHAR *dir);
// While set, every DataCipher call fails without touching its buffer.
void SetCipherFailureForTests(BOOL fail);
