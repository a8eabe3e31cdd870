// Key names and the combination text shown in the settings window.
#include "settings/custom_settings.h"
#include "settings/key_names.h"
#include <gtest/gtest.h>
#include <string>

namespace {

TEST(KeyNameTest, NamedRowsReadAsTheKeysAreLabelled)
{
    const struct {
        DWORD code;
        const char* name;
    } cases[] = {
        {0x03, "NumLock"},   {0x08, "BackSpace"}, {0x09, "Tab"},        {0x0D, "Enter"},
        {0x13, "Pause"},     {0x14, "CapsLock"},  {0x1B, "ESC"},        {0x20, "Space"},
        {0x21, "PageUp"},    {0x22, "PageDown"},  {0x23, "End"},        {0x24, "Home"},
        {0x25, "Left"},      {0x26, "Up"},        {0x27, "Right"},      {0x28, "Down"},
        {0x2D, "Insert"},    {0x2E, "Delete"},    {0x30, "0"},          {0x39, "9"},
        {0x41, "A"},         {0x53, "S"},         {0x5A, "Z"},          {0x5B, "LWindow"},
        {0x5C, "RWindow"},   {0x5D, "WMenu"},     {0x60, "0"},          {0x61, "1"},
        {0x69, "9"},         {0x6A, "*"},         {0x6B, "+"},          {0x6D, "-"},
        {0x6E, "."},         {0x6F, "/"},         {0x70, "F1"},         {0x79, "F10"},
        {0x7B, "F12"},       {0x90, "NumLock"},   {0x91, "ScrollLock"}, {0xBA, ";"},
        {0xBB, "="},         {0xBC, ","},         {0xBD, "-"},          {0xBE, "."},
        {0xBF, "/"},         {0xC0, "`"},         {0xDB, "["},          {0xDC, "\\"},
        {0xDD, "]"},         {0xDE, "'"},         {0x15, "\xC7\xD1/\xBF\xB5"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(c.name, KeyName(c.code)) << std::hex << c.code;
}

TEST(KeyNameTest, TableHas102NamedRowsEachWithinItsSlot)
{
    KeyName(0);  // the table is filled at the first name asked for
    int named = 0;
    for (int code = 0; code < 256; ++code) {
        size_t length = strnlen(KeyNameTable[code], 100);
        EXPECT_LT(length, 100u) << code;
        EXPECT_LE(length, 10u) << code;
        if (length > 0)
            ++named;
    }
    EXPECT_EQ(102, named);
    EXPECT_STREQ("CTRL", KeyNameTable[0x19]);
    EXPECT_STREQ("SHIFT", KeyNameTable[0x10]);
}

TEST(KeyNameTest, ModifiersUnnamedAndOutOfRangeCodesGiveTheEmptyName)
{
    const DWORD codes[] = {0,      0x10,   0x11,       0x12,       0x19,       0x2C,
                           0x6C,   0xFF,   0x100,      0x1253,     0xFFFFFFFF, 0x80000000};
    for (DWORD code : codes) {
        const char* name = KeyName(code);
        ASSERT_NE(nullptr, name);
        EXPECT_STREQ("", name) << std::hex << code;
        // Always a row of the table: callers may keep the pointer.
        EXPECT_TRUE(name >= KeyNameTable[0] && name < KeyNameTable[256]);
    }
}

TEST(FormatKeyComboTest, PrefixesInFixedOrderThenTheName)
{
    const struct {
        KeyCombo combo;
        const char* text;
    } cases[] = {
        {{0, 1, 0, 0x53}, "CTRL + S"},
        {{1, 0, 1, 0x74}, "ALT + SHIFT + F5"},
        {{1, 1, 1, 0x91}, "ALT + CTRL + SHIFT + ScrollLock"},
        {{0, 0, 0, 0}, ""},
        {{0, 1, 0, 0}, "CTRL + "},
        {{0, 0, 1, 0x6C}, "SHIFT + "},
        {{0, 0, 0, VK_SHIFT}, ""},
        {{1, 0, 0, VK_MENU}, "ALT + "},
        {{0, 0, 9, 0x31}, "SHIFT + 1"},
        {{0, 0, 0, 0x15}, "\xC7\xD1/\xBF\xB5"},
        {{1, 1, 1, 0x12345678}, "ALT + CTRL + SHIFT + "},
    };
    for (const auto& c : cases) {
        char text[100] = {0};
        FormatKeyCombo(text, c.combo);
        EXPECT_STREQ(c.text, text);
    }
}

TEST(FormatKeyComboTest, AppendsToWhatTheBufferHolds)
{
    char text[100] = "x";
    FormatKeyCombo(text, {0, 1, 0, 'A'});
    EXPECT_STREQ("xCTRL + A", text);
}

}  // namespace
