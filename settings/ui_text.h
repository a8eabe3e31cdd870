// The language a person sees Lumo2 in, and every text shown to them. The
// texts, the menu and the dialogs live in the resources, one set per
// language; code asks for them by ID here and never holds a text of its
// own. A third language is a third set of resources: a language counts as
// available when the string table has it. The log, the support report and
// the Event Log stay English and do not come through here.
#pragma once
#include "settings/policy.h"
#include <windows.h>

// The value an administrator (under PolicyKeyPath, HKLM then HKCU) or the
// user (beside "key") sets: REG_SZ "ko" or "en", in any case.
const char* const LanguageValueName = PolicyLanguageName;

// What each place that may decide the language holds: its Language value's
// text, or null when the value is missing or not a REG_SZ that fits.
struct LanguageSources {
    const WCHAR* machinePolicy;
    const WCHAR* userPolicy;
    const WCHAR* userChoice;
    LANGID displayLanguage;  // GetUserDefaultUILanguage
};

// Which source decided, for the support report.
enum LanguageSource { LanguageByMachinePolicy, LanguageByUserPolicy, LanguageByUser, LanguageByDisplay, LanguageByDefault };

struct LanguageChoice {
    WORD language;  // a primary language (LANG_ENGLISH, LANG_KOREAN, ...)
    LanguageSource source;
};

// Whether Lumo2 has texts in a primary language.
typedef bool (*HasTextsFn)(WORD language);

// The primary language a Language value names: a bare language name that
// Windows knows ("ko", "EN"), else 0. A region ("ko-KR") is not one.
WORD LanguageOfValue(const WCHAR* value);
// The first source, in the order above, that names a language with texts;
// else English.
LanguageChoice ChooseUiLanguage(const LanguageSources& sources, HasTextsFn hasTexts);

// Where the texts are: null for the running program's own file; tests give
// Lumo2.exe loaded as a data file.
extern HINSTANCE UiTextModule;
bool ProgramHasTexts(WORD language);
// Read afresh at every call, so a change shows in whatever opens next.
LanguageChoice UiLanguageInForce();

// Copies string id of the language in force into buffer (at most size - 1
// characters, always terminated), falling back to the English text where
// that language lacks one; the text's length, 0 when there is none.
int LoadUiText(UINT id, WCHAR* buffer, int size);
// The same in a given language, without the fallback.
int LoadUiTextIn(WORD language, UINT id, WCHAR* buffer, int size);
// The same in a given language, with the fallback: for a text made of
// several, whose language is read once.
int LoadUiTextFor(WORD language, UINT id, WCHAR* buffer, int size);
// The menu and the dialog resource of the language in force (else the
// English one).
HMENU LoadUiMenu(UINT id);
INT_PTR ShowUiDialog(UINT id, HWND owner, DLGPROC proc, LPARAM param);
// A message box with a text of the table, captioned "Lumo2".
int ShowUiMessage(HWND owner, UINT textId, UINT type);
