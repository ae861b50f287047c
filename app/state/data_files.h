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

// Tests keep their files in a scratch folder of their own; null goes back to the executable's folder.
void SetDataDirectoryForTests(const WCHAR *dir);
