// The language in force and the texts, menus and dialogs in it.
#include "settings/ui_text.h"
#include "res/resource.h"
#include "settings/action_mode.h"
#include "settings/policy.h"

HINSTANCE UiTextModule;

WORD LanguageOfValue(const WCHAR* value)
{
    if (!value)
        return 0;
    // Two or three letters, as Windows names a language without a region.
    WCHAR name[4];
    int length = 0;
    for (; value[length]; ++length) {
        WCHAR c = value[length];
        if (length == 3 || !((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z')))
            return 0;
        name[length] = c | 0x20;
    }
    if (length < 2)
        return 0;
    name[length] = 0;
    LCID locale = LocaleNameToLCID(name, 0);
    return PRIMARYLANGID(LANGIDFROMLCID(locale));
}

LanguageChoice ChooseUiLanguage(const LanguageSources& sources, HasTextsFn hasTexts)
{
    const WCHAR* values[] = {sources.machinePolicy, sources.userPolicy, sources.userChoice};
    const LanguageSource named[] = {LanguageByMachinePolicy, LanguageByUserPolicy, LanguageByUser};
    for (int i = 0; i < 3; ++i) {
        WORD language = LanguageOfValue(values[i]);
        if (language && hasTexts(language))
            return {language, named[i]};
    }
    WORD display = PRIMARYLANGID(sources.displayLanguage);
    if (display && hasTexts(display))
        return {display, LanguageByDisplay};
    return {LANG_ENGLISH, LanguageByDefault};
}

static HMODULE TextModule()
{
    return UiTextModule ? UiTextModule : GetModuleHandleW(NULL);
}

static HRSRC FindIn(WORD language, LPCWSTR type, UINT id)
{
    return FindResourceExW(TextModule(), type, MAKEINTRESOURCEW(id), MAKELANGID(language, SUBLANG_DEFAULT));
}

bool ProgramHasTexts(WORD language)
{
    return FindIn(language, MAKEINTRESOURCEW(6) /* RT_STRING */, IDS_UI_FIRST / 16 + 1) != NULL;
}

// A REG_SZ of a few characters, else null: anything longer is no
// language's name anyway.
static const WCHAR* ReadLanguageValue(HKEY root, const char* path, REGSAM wow, WCHAR (&text)[8])
{
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE | wow, &key) != ERROR_SUCCESS)
        return NULL;
    DWORD type = REG_NONE, size = sizeof(text) - sizeof(WCHAR);
    ZeroMemory(text, sizeof(text));
    LONG read = RegQueryValueExW(key, L"Language", NULL, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_SZ || size % sizeof(WCHAR) != 0)
        return NULL;
    return text;
}

LanguageChoice UiLanguageInForce()
{
    WCHAR machine[8], user[8], own[8];
    LanguageSources sources;
    sources.machinePolicy = ReadLanguageValue(HKEY_LOCAL_MACHINE, PolicyKeyPath, KEY_WOW64_64KEY, machine);
    sources.userPolicy = ReadLanguageValue(HKEY_CURRENT_USER, PolicyKeyPath, KEY_WOW64_64KEY, user);
    sources.userChoice = ReadLanguageValue(HKEY_CURRENT_USER, ProgramKeyPath, 0, own);
    sources.displayLanguage = GetUserDefaultUILanguage();
    return ChooseUiLanguage(sources, ProgramHasTexts);
}

int LoadUiTextIn(WORD language, UINT id, WCHAR* buffer, int size)
{
    if (size <= 0)
        return 0;
    buffer[0] = 0;
    // A string table block holds 16 counted strings, the IDs 16 n - 16 to
    // 16 n - 1 in block n.
    HRSRC found = FindIn(language, MAKEINTRESOURCEW(6) /* RT_STRING */, id / 16 + 1);
    HGLOBAL loaded = found ? LoadResource(TextModule(), found) : NULL;
    const WCHAR* entry = loaded ? static_cast<const WCHAR*>(LockResource(loaded)) : NULL;
    if (!entry)
        return 0;
    const WCHAR* end = entry + SizeofResource(TextModule(), found) / sizeof(WCHAR);
    for (UINT i = 0; i < id % 16 && entry < end; ++i)
        entry += 1 + *entry;
    if (entry >= end || entry + 1 + *entry > end)
        return 0;
    int length = *entry < size ? *entry : size - 1;
    CopyMemory(buffer, entry + 1, length * sizeof(WCHAR));
    buffer[length] = 0;
    return length;
}

int LoadUiText(UINT id, WCHAR* buffer, int size)
{
    return LoadUiTextFor(UiLanguageInForce().language, id, buffer, size);
}

int LoadUiTextFor(WORD language, UINT id, WCHAR* buffer, int size)
{
    int length = LoadUiTextIn(language, id, buffer, size);
    if (length == 0 && language != LANG_ENGLISH)
        length = LoadUiTextIn(LANG_ENGLISH, id, buffer, size);
    return length;
}

// The resource in the language in force, else the English one.
static const void* UiResource(LPCWSTR type, UINT id)
{
    HRSRC found = FindIn(UiLanguageInForce().language, type, id);
    if (!found)
        found = FindIn(LANG_ENGLISH, type, id);
    HGLOBAL loaded = found ? LoadResource(TextModule(), found) : NULL;
    return loaded ? LockResource(loaded) : NULL;
}

HMENU LoadUiMenu(UINT id)
{
    const void* menu = UiResource(MAKEINTRESOURCEW(4) /* RT_MENU */, id);
    return menu ? LoadMenuIndirectW(menu) : NULL;
}

INT_PTR ShowUiDialog(UINT id, HWND owner, DLGPROC proc, LPARAM param)
{
    const void* dialog = UiResource(MAKEINTRESOURCEW(5) /* RT_DIALOG */, id);
    if (!dialog)
        return -1;
    return DialogBoxIndirectParamW(TextModule(), static_cast<const DLGTEMPLATE*>(dialog), owner, proc, param);
}

int ShowUiMessage(HWND owner, UINT textId, UINT type)
{
    WCHAR text[512];
    LoadUiText(textId, text, 512);
    return MessageBoxW(owner, text, L"Lumo2", type);
}
