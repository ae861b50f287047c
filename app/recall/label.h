// The one-line label of an entry, as the popup menu and the editor's tree show it; the only
// piece of recall that the editor uses.
#pragma once
#include <windows.h>

#define ITEM_LABEL_CHARS 60  // room of every label buffer
// The label prefixes in the order of the menu: "0".."9", then "a".."t".
extern const WCHAR LabelPrefixes[];
#define LABEL_PREFIX_COUNT 30
// At most maxChars characters of the text (50 at most), TAB as a blank, LF and CR (CR LF as one)
// as a down arrow, "..." behind a shortened text; "p: " before it for a prefixIndex of 0 to 29.
void MakeItemLabel(WCHAR *dest, const WCHAR *text, int prefixIndex, int maxChars);
