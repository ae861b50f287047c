// The language of the user interface, chosen once at start, and the resources loaded in it.
// Every text, dialog template and menu is looked up here for that language explicitly: Wine's
// SetThreadUILanguage does nothing, so leaving the choice to the loader would pick differently
// there than on Windows. No caller picks a language itself.
#pragma once
#include <windows.h>

#define UI_LANGUAGE_JAPANESE MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)
#define UI_LANGUAGE_ENGLISH  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)

// Japanese for a Japanese display language, English for any other.
LANGID UiLanguageFor(LANGID displayLanguage);
// Takes the language for the user's display language (GetUserDefaultUILanguage). Until it is
// called the interface is Japanese, the program's first language.
void ChooseUiLanguage();
void SetUiLanguage(LANGID language);
LANGID UiLanguage();

// The text of a string id in the interface language, always terminated; its length, or 0 (and an
// empty buffer) when there is none. A text missing in English is taken in Japanese.
int LoadUiText(UINT id, WCHAR *buffer, int room);
// The dialog template of an id in the interface language, for the ...Indirect calls; null when missing.
LPCDLGTEMPLATEW UiDialogTemplate(UINT id);
// A new menu from the template of an id in the interface language; null when missing.
HMENU LoadUiMenu(UINT id);
