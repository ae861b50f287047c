#include "state/data_files.h"
#include "state/item_store.h"

// Placeholder until the data files are written.
const WCHAR DataPassPhrase[] = L"tavo";
BOOL AppDir(WCHAR dir[MAX_PATH]) { (void)dir; return FALSE; }
BOOL DataCipher(BYTE *, DWORD, const WCHAR *, int) { return FALSE; }
BOOL LoadIniData(IniData *) { return FALSE; }
BOOL SaveIniData(const IniData *) { return FALSE; }
BOOL LoadItems() { return FALSE; }
BOOL SaveItems() { return FALSE; }
void SetDataDirectoryForTests(const WCHAR *) {}
