// Memory that held the text of a registered entry (a password, often) is cleared before it goes
// back to the heap, where the next allocation, a crash dump or the page file would find it.
#pragma once
#include <windows.h>

// Clears the whole block, then frees it; null does nothing. Process heap, and global memory.
void HeapFreeWiped(void *block);
void GlobalFreeWiped(HGLOBAL block);
