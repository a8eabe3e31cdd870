// The program's registry key, emptied before and after a test. The tests run
// in a throw-away Wine prefix, so the real key is the scratch key.
#pragma once
#include "settings/action_mode.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

// Takes away the Group Policy values of both hives.
void ClearPolicies();

// A policy left behind would change what every later test's Lumo2 does, so
// the policies go with the program's key.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
        ClearPolicies();
    }
    void TearDown() override
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
        ClearPolicies();
    }
};

struct StoredData {
    bool present;
    DWORD type;
    std::vector<BYTE> bytes;
};

StoredData ReadStored(const char* name);

struct ExpectedValue {
    const char* name;
    DWORD type;
    std::vector<BYTE> bytes;
};

// Each value is stored with exactly this type and these bytes.
void ExpectStoredValues(const std::vector<ExpectedValue>& values);
void Store(const char* name, DWORD type, const void* data, DWORD size);
void StoreDword(const char* name, DWORD value);

// Writes a policy value into HKLM or HKCU as Group Policy would; the text
// form stores UTF-16 with its terminator.
void StorePolicy(HKEY root, const char* name, DWORD type, const void* data, DWORD size);
void StorePolicyDword(HKEY root, const char* name, DWORD value);
void StorePolicyText(HKEY root, const char* name, const wchar_t* text);

// Sets the key's security so that values can be read and the key deleted,
// but no value set and no subkey made, as on a locked-down or damaged
// profile; unlocked, everything is allowed again.
void LockProgramKey(bool locked);

// Lumo2.exe's texts, menu and dialogs for the program's code running in this
// process, while the object lives.
class ProgramTexts {
public:
    ProgramTexts();
    ~ProgramTexts();
    HMODULE Module() const { return module_; }

private:
    HMODULE module_;
};

// The user's own Language value (REG_SZ), or none when text is null.
void StoreLanguage(const wchar_t* text);
// A text of Lumo2.exe's table in the language in force, or in language.
std::wstring UiString(UINT id, WORD language = 0);
