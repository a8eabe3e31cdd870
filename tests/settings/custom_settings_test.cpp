// The fourteen custom values against Wine's real registry.
#include "settings/custom_settings.h"
#include "tests/support/registry_scratch.h"
#include <string.h>

namespace {

class CustomSettingsTest : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        CustomSettings = CustomKeySettings();
        ActionMode = ModeSpace;
    }
};

const CustomKeySettings Sample = {SendAll, 250, {{1, 0, 1, 'F'}, {0, 1, 0, VK_F5}, {0, 0, 0, 0}}};

TEST_F(CustomSettingsTest, SaveWritesAllFourteenValuesWithTheirTypesAndSizes)
{
    CustomSettings = Sample;
    SaveCustomKeySettings();
    ExpectStoredValues({
        {"mode", REG_DWORD, {1, 0, 0, 0}},        {"time", REG_DWORD, {250, 0, 0, 0}},
        {"key1_alt", REG_BINARY, {1}},            {"key1_control", REG_BINARY, {0}},
        {"key1_shift", REG_BINARY, {1}},          {"key1_k", REG_DWORD, {'F', 0, 0, 0}},
        {"key2_alt", REG_BINARY, {0}},            {"key2_control", REG_BINARY, {1}},
        {"key2_shift", REG_BINARY, {0}},          {"key2_k", REG_DWORD, {VK_F5, 0, 0, 0}},
        {"key3_alt", REG_BINARY, {0}},            {"key3_control", REG_BINARY, {0}},
        {"key3_shift", REG_BINARY, {0}},          {"key3_k", REG_DWORD, {0, 0, 0, 0}},
    });
    EXPECT_FALSE(ReadStored("key").present) << "saving the custom keys never writes the mode";
    EXPECT_EQ(ModeCustom, ActionMode);
}

TEST_F(CustomSettingsTest, LoadReadsBackWhatSaveWrote)
{
    CustomSettings = Sample;
    SaveCustomKeySettings();
    CustomSettings = CustomKeySettings();
    LoadCustomKeySettings();
    EXPECT_EQ(0, memcmp(&Sample, &CustomSettings, sizeof(Sample)));
}

TEST_F(CustomSettingsTest, LoadWithoutTheKeyChangesNothing)
{
    CustomSettings = Sample;
    LoadCustomKeySettings();
    EXPECT_EQ(0, memcmp(&Sample, &CustomSettings, sizeof(Sample)));
}

TEST_F(CustomSettingsTest, LoadTakesBytesWhateverTheStoredTypeAndBoundsTheirSize)
{
    const DWORD previousTime = 0x11223344;
    struct {
        const char* what;
        DWORD type;
        std::vector<BYTE> data;
        LONG expectedTime;
    } cases[] = {
        {"dword", REG_DWORD, {0xE8, 0x03, 0, 0}, 1000},
        {"binary of the field's size", REG_BINARY, {0xF4, 0x01, 0, 0}, 500},
        {"negative", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}, -1},
        {"shorter replaces the low bytes", REG_BINARY, {0x05, 0x00}, 0x11220005},
        {"longer leaves the field", REG_BINARY, {1, 2, 3, 4, 5, 6, 7, 8}, LONG(previousTime)},
        {"huge leaves the field", REG_BINARY, std::vector<BYTE>(4096, 0x7F), LONG(previousTime)},
        {"string of four bytes", REG_SZ, {'1', '2', '3', 0}, 0x00333231},
        {"empty", REG_BINARY, {}, LONG(previousTime)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
        Store("time", c.type, c.data.data(), DWORD(c.data.size()));
        CustomSettings.time = LONG(previousTime);
        LoadCustomKeySettings();
        EXPECT_EQ(c.expectedTime, CustomSettings.time);
    }
}

TEST_F(CustomSettingsTest, MissingOrOversizedValuesLeaveTheirFieldsAndTheRestLoads)
{
    CustomSettings = Sample;
    StoreDword("mode", Sequential);
    StoreDword("key1_alt", 0);  // four bytes where one is expected
    StoreDword("key2_k", 'Q');
    LoadCustomKeySettings();
    EXPECT_EQ(Sequential, CustomSettings.mode);
    EXPECT_EQ(Sample.time, CustomSettings.time);
    EXPECT_EQ(1, CustomSettings.keys[0].alt);
    EXPECT_EQ(DWORD('Q'), CustomSettings.keys[1].k);
    EXPECT_EQ(Sample.keys[0].k, CustomSettings.keys[0].k);
}

TEST_F(CustomSettingsTest, SaveRecreatesADeletedKey)
{
    CustomSettings = Sample;
    SaveCustomKeySettings();
    RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
    SaveCustomKeySettings();
    EXPECT_TRUE(ReadStored("key3_k").present);
    EXPECT_FALSE(ReadStored("key").present);
}

}  // namespace
