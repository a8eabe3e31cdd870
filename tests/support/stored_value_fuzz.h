// Generated shapes of a stored value, as a damaged or hand-edited registry
// can hold them: missing, any type, 0 to 300 bytes, extreme numbers cut or
// padded, text without its terminator, random bytes.
#pragma once
#include "settings/action_mode.h"
#include <windows.h>
#include <limits.h>
#include <random>
#include <vector>

// Stores one generated shape of the value under the open key, or nothing.
// For "key" half the shapes are a plain 10, so the custom values load.
inline void StoreGeneratedValue(std::mt19937& rng, HKEY key, const char* name, bool isKey)
{
    static const DWORD types[] = {
        REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_LINK, REG_MULTI_SZ,
        REG_RESOURCE_LIST, REG_FULL_RESOURCE_DESCRIPTOR, REG_RESOURCE_REQUIREMENTS_LIST, REG_QWORD, 0x7777,
    };
    static const LONG extremes[] = {
        0, 1, -1, 2, 9, 10, 11, 16, 17, 18, 0x19, 'Q', 255, 256, 0x1FF, 0xFFFF, 10000, 10001, 99999999,
        INT_MAX, INT_MIN, INT_MIN + 1,
    };
    auto pick = [&rng](DWORD n) { return static_cast<DWORD>(rng() % n); };
    if (pick(5) == 0)
        return;  // missing
    if (isKey && pick(2) == 0) {
        DWORD custom = ModeCustom;
        RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&custom), 4);
        return;
    }
    DWORD type = types[pick(sizeof(types) / sizeof(types[0]))];
    DWORD size;
    switch (pick(3)) {
    case 0: size = pick(9); break;
    case 1: size = pick(301); break;
    default: size = pick(2) ? 4 : 1; break;
    }
    std::vector<BYTE> data(size + 1);
    switch (pick(3)) {
    case 0: {
        LONG n = extremes[pick(sizeof(extremes) / sizeof(extremes[0]))];
        for (DWORD i = 0; i < size; ++i)
            data[i] = i < 4 ? BYTE(n >> (8 * i)) : BYTE(rng());
        break;
    }
    case 1:
        for (DWORD i = 0; i < size; ++i)
            data[i] = BYTE('0' + pick(75));
        break;
    default:
        for (DWORD i = 0; i < size; ++i)
            data[i] = BYTE(rng());
    }
    RegSetValueExA(key, name, 0, type, size ? data.data() : NULL, size);
}

// The fifteen names in the order the program reads them.
static const char* const StoredValueNames[15] = {
    "key", "mode", "time",
    "key1_alt", "key1_control", "key1_shift", "key1_k",
    "key2_alt", "key2_control", "key2_shift", "key2_k",
    "key3_alt", "key3_control", "key3_shift", "key3_k",
};
