// The program's registry key, emptied before and after a test. The tests run
// in a throw-away Wine prefix, so the real key is the scratch key.
#pragma once
#include "app/action_mode.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath); }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath); }
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

// Sets the key's security so that values can be read and the key deleted,
// but no value set and no subkey made, as on a locked-down or damaged
// profile; unlocked, everything is allowed again.
void LockProgramKey(bool locked);
