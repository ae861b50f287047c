// Finding entries by what the user types, with no window: the folding of texts, the matching of
// words, the search over the store in slices, and the one-line labels of the find box.
#pragma once
#include <windows.h>
#include "state/item_store.h"

// One character as the matching sees it: case, full-width/half-width and hiragana/katakana
// folded by the program's own table, so that Windows and Wine agree; U+3000 becomes a space.
// Half-width voiced marks join the letter before them only in FoldText.
WCHAR FoldChar(WCHAR ch);
// Folds `length` units into dest (room for length + 1, terminated); returns the folded length,
// never more than length: "ｶﾞ" becomes the one "ガ".
int FoldText(const WCHAR *text, int length, WCHAR *dest);

#define FIND_QUERY_CHARS 256  // room of the typed text, terminator included
// The typed text folded and cut at its spaces (U+0020, U+3000, Tab); no words matches everything.
struct FindQuery {
    WCHAR folded[FIND_QUERY_CHARS];  // the words, each terminated in place
    int wordStart[FIND_QUERY_CHARS / 2];
    int wordLength[FIND_QUERY_CHARS / 2];
    int wordCount;
};
void ParseFindQuery(const WCHAR *typed, FindQuery *query);
// TRUE when every word occurs in the folded text, in any order.
BOOL FoldedTextMatches(const WCHAR *folded, int length, const FindQuery *query);

// A search of the store: registered entries by their name first, then copy-history entries by
// their text, each newest first. It runs in slices and resumes by id, so the store may change
// between slices; when it did (ChangeCount), the search starts over. Registered texts are never read.
#define FIND_PHASE_REGISTERED 0
#define FIND_PHASE_HISTORY    1
#define FIND_PHASE_DONE       2
struct FindSearch {
    FindQuery query;
    DWORD changeCount;  // the store's when the search (re)started
    int phase;
    ItemId nextId;      // the walk goes on with the entries below this id
    ItemId *results;    // process heap
    int resultCount;
    int resultRoom;
    WCHAR *scratch;     // one folded text at a time (process heap), reused for every entry
    int scratchRoom;
};
void InitFindSearch(FindSearch *search);
// Starts over with a new typed text; the buffers are kept.
void StartFindSearch(FindSearch *search, const WCHAR *typed);
// Runs for about budgetMs (at least one entry); TRUE once the search is complete.
BOOL ContinueFindSearch(FindSearch *search, double budgetMs);
void FreeFindSearch(FindSearch *search);

// The selection after Up, Down, Page Up or Page Down in a list of `count` rows showing `perPage`;
// -1 for an empty list. Any other key leaves it as it is.
int MoveFindSelection(int current, int count, UINT vk, int perPage);

// A find box row: like a menu label, with no prefix and up to FIND_LABEL_TAKEN characters.
#define FIND_LABEL_TAKEN 120
#define FIND_LABEL_CHARS (FIND_LABEL_TAKEN + 4)
void MakeFindLabel(WCHAR *dest, const WCHAR *text);
