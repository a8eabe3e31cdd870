#include "tests/support/registry_scratch.h"
#include "settings/policy.h"
#include "settings/ui_text.h"
#include "tests/support/test_support.h"
#include <sddl.h>
#include <string.h>

StoredData ReadStored(const char* name)
{
    StoredData stored = {false, 0, {}};
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, ProgramKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return stored;
    BYTE buffer[1024];
    DWORD size = sizeof(buffer);
    if (RegQueryValueExA(key, name, NULL, &stored.type, buffer, &size) == ERROR_SUCCESS) {
        stored.present = true;
        stored.bytes.assign(buffer, buffer + size);
    }
    RegCloseKey(key);
    return stored;
}

void Store(const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, ProgramKeyPath, 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &key, NULL));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}

void StoreDword(const char* name, DWORD value)
{
    Store(name, REG_DWORD, &value, sizeof(value));
}

void ClearPolicies()
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, PolicyKeyPath);
    RegDeleteTreeA(HKEY_CURRENT_USER, PolicyKeyPath);
}

void StorePolicy(HKEY root, const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, PolicyKeyPath, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL));
    // The wide call stores the bytes as given; the ANSI one would convert
    // text types from the code page.
    std::wstring wideName(name, name + strlen(name));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, wideName.c_str(), 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}

void StorePolicyDword(HKEY root, const char* name, DWORD value)
{
    StorePolicy(root, name, REG_DWORD, &value, sizeof(value));
}

void StorePolicyText(HKEY root, const char* name, const wchar_t* text)
{
    StorePolicy(root, name, REG_SZ, text, DWORD((wcslen(text) + 1) * sizeof(wchar_t)));
}

void ExpectStoredValues(const std::vector<ExpectedValue>& values)
{
    for (const ExpectedValue& value : values) {
        SCOPED_TRACE(value.name);
        StoredData stored = ReadStored(value.name);
        ASSERT_TRUE(stored.present);
        EXPECT_EQ(value.type, stored.type);
        EXPECT_EQ(value.bytes, stored.bytes);
    }
}

void LockProgramKey(bool locked)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, ProgramKeyPath, 0, NULL, 0,
                                             READ_CONTROL | WRITE_DAC, NULL, &key, NULL));
    PSECURITY_DESCRIPTOR sd = NULL;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        locked ? "D:(D;;0x0006;;;WD)(A;;KA;;;WD)" : "D:(A;;KA;;;WD)", SDDL_REVISION_1, &sd, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd));
    LocalFree(sd);
    RegCloseKey(key);
}

ProgramTexts::ProgramTexts()
    : module_(LoadLibraryExA((BinFolder() + "\\Lumo2.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE))
{
    EXPECT_NE(nullptr, module_) << "Lumo2.exe beside the test";
    UiTextModule = module_;
}

ProgramTexts::~ProgramTexts()
{
    UiTextModule = NULL;
    if (module_)
        FreeLibrary(module_);
}

void StoreLanguage(const wchar_t* text)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, ProgramKeyPath, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                             &key, NULL));
    if (text)
        RegSetValueExW(key, L"Language", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       DWORD((wcslen(text) + 1) * sizeof(wchar_t)));
    else
        RegDeleteValueW(key, L"Language");
    RegCloseKey(key);
}

std::wstring UiString(UINT id, WORD language)
{
    WCHAR text[512];
    if (language)
        LoadUiTextIn(language, id, text, 512);
    else
        LoadUiText(id, text, 512);
    return text;
}
