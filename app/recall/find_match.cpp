// The matching of the find box. The folding is a table of the program's own: LCMapStringEx's
// width and kana flags do not fold alike on every Windows version and under Wine.
#include "recall/find_match.h"

#define DOWN_ARROW 0x2193
#define VOICED_MARK 0x309B       // ゛, what the half-width ﾞ folds to
#define SEMI_VOICED_MARK 0x309C  // ゜, what ﾟ folds to
#define COMBINING_VOICED 0x3099
#define COMBINING_SEMI_VOICED 0x309A

// Half-width katakana U+FF61 to U+FF9F as their full-width forms.
static const WCHAR HalfWidthKana[] = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9, 0x30E3,
    0x30E5, 0x30E7, 0x30C3, 0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB, 0x30AD, 0x30AF,
    0x30B1, 0x30B3, 0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1, 0x30C4, 0x30C6, 0x30C8,
    0x30CA, 0x30CB, 0x30CC, 0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5, 0x30D8, 0x30DB, 0x30DE, 0x30DF,
    0x30E0, 0x30E1, 0x30E2, 0x30E4, 0x30E6, 0x30E8, 0x30E9, 0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF,
    0x30F3, VOICED_MARK, SEMI_VOICED_MARK,
};
static_assert(ARRAYSIZE(HalfWidthKana) == 0xFF9F - 0xFF61 + 1, "one form per half-width character");

static WCHAR g_foldTable[65536];  // every UTF-16 unit folded; filled on first use
static BOOL g_foldTableReady;

static WCHAR FoldCase(WCHAR ch)
{
    if (ch >= L'A' && ch <= L'Z')
        return ch + 0x20;
    if (ch >= 0xC0 && ch <= 0xDE && ch != 0xD7)  // Latin-1 capitals
        return ch + 0x20;
    if (ch >= 0x391 && ch <= 0x3A9 && ch != 0x3A2)  // Greek capitals
        return ch + 0x20;
    if (ch >= 0x410 && ch <= 0x42F)  // Cyrillic capitals
        return ch + 0x20;
    if (ch >= 0x400 && ch <= 0x40F)
        return ch + 0x50;
    return ch;
}

static WCHAR FoldWidthAndKana(WCHAR ch)
{
    if (ch == 0x3000)
        return L' ';
    if (ch >= 0xFF01 && ch <= 0xFF5E)  // full-width ASCII
        return ch - 0xFEE0;
    if (ch >= 0xFF61 && ch <= 0xFF9F)
        return HalfWidthKana[ch - 0xFF61];
    if (ch >= 0x3041 && ch <= 0x3096)  // hiragana as katakana
        return ch + 0x60;
    if (ch == 0x309D || ch == 0x309E)  // ゝ ゞ
        return ch + 0x60;
    return ch;
}

static void BuildFoldTable()
{
    for (int ch = 0; ch < 65536; ch++)
        g_foldTable[ch] = FoldCase(FoldWidthAndKana((WCHAR)ch));
    g_foldTableReady = TRUE;
}

WCHAR FoldChar(WCHAR ch)
{
    if (!g_foldTableReady)
        BuildFoldTable();
    return g_foldTable[ch];
}

// The katakana with the voiced (or semi-voiced) mark, or 0 when the letter takes none.
static WCHAR JoinMark(WCHAR letter, WCHAR mark)
{
    BOOL hRow = letter >= 0x30CF && letter <= 0x30DB && (letter - 0x30CF) % 3 == 0;  // ハ ヒ フ ヘ ホ
    if (mark == SEMI_VOICED_MARK || mark == COMBINING_SEMI_VOICED)
        return hRow ? letter + 2 : 0;
    if (mark != VOICED_MARK && mark != COMBINING_VOICED)
        return 0;
    if ((letter >= 0x30AB && letter <= 0x30C1 && (letter & 1)) || letter == 0x30C4 || letter == 0x30C6 ||
        letter == 0x30C8 || hRow)  // カ..チ, ツ テ ト, ハ..ホ
        return letter + 1;
    if (letter == 0x30A6)  // ウ
        return 0x30F4;
    return 0;
}

int FoldText(const WCHAR *text, int length, WCHAR *dest)
{
    if (!g_foldTableReady)
        BuildFoldTable();
    int out = 0;
    for (int k = 0; k < length; k++) {
        WCHAR ch = g_foldTable[text[k]];
        if (k + 1 < length) {
            WCHAR joined = JoinMark(ch, g_foldTable[text[k + 1]]);
            if (joined) {
                ch = joined;
                k++;
            }
        }
        dest[out++] = ch;
    }
    dest[out] = 0;
    return out;
}

void ParseFindQuery(const WCHAR *typed, FindQuery *query)
{
    int length = typed ? lstrlenW(typed) : 0;
    if (length > FIND_QUERY_CHARS - 1)
        length = FIND_QUERY_CHARS - 1;
    int folded = FoldText(typed ? typed : L"", length, query->folded);
    query->wordCount = 0;
    int start = -1;
    for (int k = 0; k <= folded; k++) {
        WCHAR ch = query->folded[k];
        BOOL separator = ch == 0 || ch == L' ' || ch == L'\t';
        if (!separator && start < 0)
            start = k;
        if (separator && start >= 0) {
            query->folded[k] = 0;
            query->wordStart[query->wordCount] = start;
            query->wordLength[query->wordCount] = k - start;
            query->wordCount++;
            start = -1;
        }
    }
}

static BOOL ContainsWord(const WCHAR *text, int length, const WCHAR *word, int wordLength)
{
    WCHAR first = word[0];
    for (int k = 0; k + wordLength <= length; k++) {
        if (text[k] != first)
            continue;
        int m = 1;
        while (m < wordLength && text[k + m] == word[m])
            m++;
        if (m == wordLength)
            return TRUE;
    }
    return FALSE;
}

BOOL FoldedTextMatches(const WCHAR *folded, int length, const FindQuery *query)
{
    for (int w = 0; w < query->wordCount; w++)
        if (!ContainsWord(folded, length, query->folded + query->wordStart[w], query->wordLength[w]))
            return FALSE;
    return TRUE;
}

void InitFindSearch(FindSearch *search)
{
    ZeroMemory(search, sizeof(*search));
    search->phase = FIND_PHASE_DONE;
}

static void RestartWalk(FindSearch *search)
{
    search->changeCount = ItemStore::ChangeCount();
    search->phase = FIND_PHASE_REGISTERED;
    search->nextId = g_nextItemId;
    search->resultCount = 0;
}

void StartFindSearch(FindSearch *search, const WCHAR *typed)
{
    ParseFindQuery(typed, &search->query);
    RestartWalk(search);
}

static BOOL AddResult(FindSearch *search, ItemId id)
{
    if (search->resultCount == search->resultRoom) {
        int room = search->resultRoom ? search->resultRoom * 2 : 256;
        HANDLE heap = GetProcessHeap();
        void *grown = search->results ? HeapReAlloc(heap, 0, search->results, room * sizeof(ItemId))
                                      : HeapAlloc(heap, 0, room * sizeof(ItemId));
        if (!grown)
            return FALSE;
        search->results = (ItemId *)grown;
        search->resultRoom = room;
    }
    search->results[search->resultCount++] = id;
    return TRUE;
}

static BOOL EntryMatches(FindSearch *search, const WCHAR *text)
{
    if (search->query.wordCount == 0)
        return TRUE;
    int length = lstrlenW(text);
    if (length + 1 > search->scratchRoom) {
        HANDLE heap = GetProcessHeap();
        WCHAR *grown = (WCHAR *)HeapAlloc(heap, 0, (length + 1) * sizeof(WCHAR));
        if (!grown)
            return FALSE;  // no memory for this one text: it is not listed
        if (search->scratch)
            HeapFree(heap, 0, search->scratch);
        search->scratch = grown;
        search->scratchRoom = length + 1;
    }
    int folded = FoldText(text, length, search->scratch);
    return FoldedTextMatches(search->scratch, folded, &search->query);
}

static double MillisecondsNow()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * (double)counter.QuadPart / (double)frequency.QuadPart;
}

BOOL ContinueFindSearch(FindSearch *search, double budgetMs)
{
    if (search->phase == FIND_PHASE_DONE)
        return TRUE;
    if (search->changeCount != ItemStore::ChangeCount())
        RestartWalk(search);
    double start = MillisecondsNow();
    const ItemMap &items = ItemStore::Items();
    ItemKind kind = search->phase == FIND_PHASE_REGISTERED ? Registered : History;
    ItemMap::const_reverse_iterator it(items.lower_bound(search->nextId));
    for (; it != items.rend(); ++it) {
        if (it->second.kind != kind)
            continue;
        // Only a registered entry's name is searched: its text may be a password.
        if (EntryMatches(search, kind == Registered ? it->second.name : it->second.text) && !AddResult(search, it->first))
            break;
        search->nextId = it->first;
        if (MillisecondsNow() - start >= budgetMs)
            return FALSE;
    }
    if (it != items.rend())  // the results could not grow: what was found stays listed
        search->phase = FIND_PHASE_DONE;
    else
        search->phase = search->phase == FIND_PHASE_REGISTERED ? FIND_PHASE_HISTORY : FIND_PHASE_DONE;
    search->nextId = g_nextItemId;
    return search->phase == FIND_PHASE_DONE;
}

void FreeFindSearch(FindSearch *search)
{
    HANDLE heap = GetProcessHeap();
    if (search->results)
        HeapFree(heap, 0, search->results);
    if (search->scratch)
        HeapFree(heap, 0, search->scratch);
    InitFindSearch(search);
}

int MoveFindSelection(int current, int count, UINT vk, int perPage)
{
    if (count <= 0)
        return -1;
    if (perPage < 1)
        perPage = 1;
    int next = current;
    switch (vk) {
    case VK_UP: next = current - 1; break;
    case VK_DOWN: next = current + 1; break;
    case VK_PRIOR: next = current - perPage; break;
    case VK_NEXT: next = current + perPage; break;
    }
    if (current < 0 && (vk == VK_DOWN || vk == VK_NEXT))
        next = 0;
    if (next < 0)
        next = 0;
    if (next >= count)
        next = count - 1;
    return next;
}

void MakeFindLabel(WCHAR *dest, const WCHAR *text)
{
    if (!text)
        text = L"";
    int out = 0, k = 0;
    for (; text[k] && k < FIND_LABEL_TAKEN; k++) {
        WCHAR ch = text[k];
        if (ch == L'\t')
            ch = L' ';
        else if (ch == L'\r' || ch == L'\n')
            ch = DOWN_ARROW;
        dest[out++] = ch;
        if (text[k] == L'\r' && text[k + 1] && k + 1 < FIND_LABEL_TAKEN)
            k++;  // the LF of the pair (whatever follows) goes with the CR
    }
    if (text[k]) {
        dest[out++] = L'.';
        dest[out++] = L'.';
        dest[out++] = L'.';
    }
    dest[out] = 0;
}
