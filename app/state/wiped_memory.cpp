#include "state/wiped_memory.h"

// SecureZeroMemory, unlike ZeroMemory, is not dropped as a store to memory about to be freed.
static void Wipe(void *bytes, SIZE_T size)
{
    if (bytes && size > 0)
        SecureZeroMemory(bytes, size);
}

void HeapFreeWiped(void *block)
{
    if (!block)
        return;
    HANDLE heap = GetProcessHeap();
    SIZE_T size = HeapSize(heap, 0, block);
    if (size != (SIZE_T)-1)
        Wipe(block, size);
    HeapFree(heap, 0, block);
}

void GlobalFreeWiped(HGLOBAL block)
{
    if (!block)
        return;
    void *bytes = GlobalLock(block);
    Wipe(bytes, bytes ? GlobalSize(block) : 0);
    if (bytes)
        GlobalUnlock(block);
    GlobalFree(block);
}
