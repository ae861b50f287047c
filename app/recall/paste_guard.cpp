// The checks of paste_guard.h: plain functions over captions, key states and hashes.
#include "recall/paste_guard.h"

TypedLineMemory g_typedLines;

// Letters decide; digits, spaces, punctuation and symbols (counters, "*", "●", brackets) do not.
static BOOL IsCaptionLetter(WCHAR ch)
{
    WORD type = 0;
    return GetStringTypeW(CT_CTYPE1, &ch, 1, &type) && (type & C1_ALPHA) != 0 && (type & C1_DIGIT) == 0;
}

static const WCHAR *NextCaptionLetter(const WCHAR *text)
{
    while (*text && !IsCaptionLetter(*text))
        text++;
    return text;
}

BOOL CaptionChangeStopsPaste(const WCHAR *recorded, const WCHAR *now)
{
    recorded = NextCaptionLetter(recorded);
    now = NextCaptionLetter(now);
    while (*recorded && *recorded == *now) {
        recorded = NextCaptionLetter(recorded + 1);
        now = NextCaptionLetter(now + 1);
    }
    return *recorded != *now;
}

void ReadWindowCaption(HWND window, WCHAR *caption)
{
    caption[0] = 0;
    if (window && InternalGetWindowText(window, caption, PASTE_CAPTION_CHARS) <= 0)
        caption[0] = 0;
    caption[PASTE_CAPTION_CHARS - 1] = 0;
}

BOOL UserHoldsModifier()
{
    const int keys[5] = {VK_SHIFT, VK_CONTROL, VK_MENU, VK_LWIN, VK_RWIN};
    for (int k = 0; k < 5; k++)
        if (GetAsyncKeyState(keys[k]) < 0)
            return TRUE;
    return FALSE;
}

// FNV-1a over the UTF-16 units and the length: a trace of the line, never the line.
static ULONGLONG HashLineText(const WCHAR *text, int length)
{
    ULONGLONG hash = 14695981039346656037ULL;
    for (int k = 0; k < length; k++) {
        hash = (hash ^ (text[k] & 0xFF)) * 1099511628211ULL;
        hash = (hash ^ (text[k] >> 8)) * 1099511628211ULL;
    }
    return (hash ^ (ULONGLONG)length) * 1099511628211ULL;
}

void StartTypedLines(TypedLineMemory *memory)
{
    ZeroMemory(memory, sizeof(*memory));
    memory->typing = TRUE;
}

void RememberTypedLine(TypedLineMemory *memory, const WCHAR *line)
{
    if (!line || memory->count >= TYPED_LINES_MAX)
        return;
    memory->hashes[memory->count++] = HashLineText(line, lstrlenW(line));
}

void EndTypedLines(TypedLineMemory *memory, DWORD now)
{
    memory->typing = FALSE;
    memory->endedAt = now;
}

BOOL IsRecentTypedLine(const TypedLineMemory *memory, const WCHAR *text, int length, DWORD now)
{
    if (!text || length < 0 || memory->count == 0)
        return FALSE;
    if (!memory->typing && now - memory->endedAt >= TYPED_LINES_KEEP_MS)
        return FALSE;
    ULONGLONG hash = HashLineText(text, length);
    for (int k = 0; k < memory->count; k++)
        if (memory->hashes[k] == hash)
            return TRUE;
    return FALSE;
}
