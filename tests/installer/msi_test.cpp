// The per-machine package as a clinic group's IT deploys it, silently with
// msiexec: what it installs for every user, what AUTOSTART=0 leaves out, how
// versions replace each other, and that removing it leaves nothing behind
// and never touches a user's own settings.
#include "lumo2_version.h"
#include "platform/event_log.h"
#include "settings/action_mode.h"
#include "tests/installer/setup_runner.h"
#include <gtest/gtest.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>
#include <stdio.h>

namespace {

const char UpgradeCode[] = "{A21D8EA6-92B2-49A8-AB7D-7FB90FE034DD}";
const char UninstallKeys[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char OlderVersion[] = "1.0.0";

std::string MsiPath(const std::string& version)
{
    // The older one is built from the same source with only the version lowered.
    return BuildFolder() + (version == LUMO2_VERSION_STRING ? "" : "\\msi-test") + "\\Lumo2-" + version + "-x86.msi";
}

std::string MachineFolder()
{
    return ShellFolder(CSIDL_PROGRAM_FILES) + "\\Lumo2";
}

// Wine's msi resolves ProgramMenuFolder to the user's own Start menu even
// for a per-machine package; Windows Installer uses the all-users one.
std::string MachineShortcut()
{
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
        return StartMenuShortcut();
    return ShellFolder(CSIDL_COMMON_PROGRAMS) + "\\Lumo2.lnk";
}

// Product codes of every installed version, found by the fixed UpgradeCode.
std::vector<std::string> InstalledProducts()
{
    std::vector<std::string> products;
    char code[39];
    for (DWORD i = 0; MsiEnumRelatedProductsA(UpgradeCode, 0, i, code) == ERROR_SUCCESS; ++i)
        products.push_back(code);
    return products;
}

// The first field of the first row a query finds in the package, or "".
std::string PackageText(const std::string& package, const char* query)
{
    std::string message;
    MSIHANDLE database = 0, view = 0, record = 0;
    if (MsiOpenDatabaseA(package.c_str(), MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS)
        return message;
    if (MsiDatabaseOpenViewA(database, query, &view) == ERROR_SUCCESS) {
        char text[512] = {0};
        DWORD size = sizeof(text);
        if (MsiViewExecute(view, 0) == ERROR_SUCCESS && MsiViewFetch(view, &record) == ERROR_SUCCESS &&
            MsiRecordGetStringA(record, 1, text, &size) == ERROR_SUCCESS)
            message = text;
        MsiCloseHandle(record);
        MsiCloseHandle(view);
    }
    MsiCloseHandle(database);
    return message;
}

// The message the package shows when its downgrade check fails, or "".
std::string DowngradeMessage(const std::string& package)
{
    return PackageText(package, "SELECT `Description` FROM `LaunchCondition` WHERE "
                                "`Condition` = 'NOT WIX_DOWNGRADE_DETECTED'");
}

class MsiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FileExists(MsiPath(LUMO2_VERSION_STRING))) << MsiPath(LUMO2_VERSION_STRING);
        ASSERT_TRUE(FileExists(MsiPath(OlderVersion))) << MsiPath(OlderVersion);
        RemoveEveryVersion();
        RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
        ASSERT_TRUE(StoreSettings());
        settings_ = DescribeSettings();
    }

    void TearDown() override
    {
        RemoveEveryVersion();
        RegDeleteTreeA(HKEY_CURRENT_USER, ProgramKeyPath);
    }

    // Also what a faulty package may have left for the next test.
    static void RemoveEveryVersion()
    {
        for (const std::string& product : InstalledProducts())
            Msiexec("/x " + product + " /qn");
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, RunKeyPath, "Lumo2");
    }

    static DWORD Msiexec(const std::string& arguments, DWORD* elapsedMs = NULL)
    {
        return RunAndWait("msiexec.exe " + arguments, 120000, elapsedMs);
    }

    // One version installed for every user, with start at logon or without.
    void ExpectInstalled(const std::string& version, bool autoStart)
    {
        const std::string exe = MachineFolder() + "\\Lumo2.exe";
        EXPECT_EQ(std::vector<std::string>({"Lumo2.exe"}), FolderEntries(MachineFolder()));
        EXPECT_TRUE(SameContents(BinFolder() + "\\Lumo2.exe", exe)) << "the Lumo2.exe just built";
        EXPECT_TRUE(SamePath(exe, ShortcutTarget(MachineShortcut()))) << MachineShortcut();

        RegValue run = ReadValue(HKEY_LOCAL_MACHINE, RunKeyPath, "Lumo2");
        EXPECT_EQ(autoStart, run.present);
        if (autoStart) {
            EXPECT_EQ(DWORD(REG_SZ), run.type);
            EXPECT_TRUE(SamePath(Quoted(exe), run.text)) << run.text;
        }
        EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, RunKeyPath, "Lumo2").present) << "nothing per user";
        RegValue messages = ReadValue(HKEY_LOCAL_MACHINE, EventSourceKeyPath, "EventMessageFile");
        EXPECT_TRUE(SamePath(exe, messages.text)) << "the event source's texts: " << messages.text;
        RegValue types = ReadValue(HKEY_LOCAL_MACHINE, EventSourceKeyPath, "TypesSupported");
        EXPECT_EQ(DWORD(REG_DWORD), types.type);
        EXPECT_EQ(7u, types.number);

        std::vector<std::string> products = InstalledProducts();
        ASSERT_EQ(1u, products.size()) << "one version at a time";
        const std::string arp = UninstallKeys + products[0];
        EXPECT_EQ("Lumo2", ReadValue(HKEY_LOCAL_MACHINE, arp.c_str(), "DisplayName").text);
        EXPECT_EQ("Kestrova", ReadValue(HKEY_LOCAL_MACHINE, arp.c_str(), "Publisher").text);
        EXPECT_EQ(version, ReadValue(HKEY_LOCAL_MACHINE, arp.c_str(), "DisplayVersion").text);
        // "Apps & features" shows the icon that Windows keeps in a file of
        // its own: Lumo2's .ico, one icon.
        char icon[MAX_PATH] = {0};
        DWORD size = sizeof(icon);
        MsiGetProductInfoA(products[0].c_str(), INSTALLPROPERTY_PRODUCTICON, icon, &size);
        EXPECT_TRUE(FileExists(icon)) << "\"" << icon << "\"";
        EXPECT_EQ(1u, ExtractIconExA(icon, -1, NULL, NULL, 0)) << icon;
        EXPECT_EQ(settings_, DescribeSettings()) << "the user's settings";
    }

    void ExpectNothingInstalled()
    {
        EXPECT_TRUE(InstalledProducts().empty());
        EXPECT_FALSE(FolderExists(MachineFolder())) << MachineFolder();
        EXPECT_FALSE(FileExists(ShellFolder(CSIDL_COMMON_PROGRAMS) + "\\Lumo2.lnk"));
        EXPECT_FALSE(FileExists(StartMenuShortcut()));
        EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, RunKeyPath, "Lumo2").present);
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EventSourceKeyPath)) << "the event source goes too";
        EXPECT_EQ(settings_, DescribeSettings()) << "the user's settings";
    }

    std::string settings_;
};

TEST_F(MsiTest, SilentInstallServesEveryUserAndUninstallLeavesOnlyTheUsersSettings)
{
    const std::string msi = MsiPath(LUMO2_VERSION_STRING);
    struct {
        const char* properties;
        bool autoStart;
    } cases[] = {{"", true}, {" AUTOSTART=0", false}};
    // Elevated at the consent prompt, Windows Installer keeps only secure
    // properties; Wine's msiexec is always elevated, so the package is read.
    const std::string secure = ";" + PackageText(msi, "SELECT `Value` FROM `Property` WHERE "
                                                      "`Property` = 'SecureCustomProperties'") + ";";
    for (const char* name : {";AUTOSTART;", ";WIX_UPGRADE_DETECTED;", ";WIX_DOWNGRADE_DETECTED;"})
        EXPECT_NE(std::string::npos, secure.find(name)) << name << " in " << secure;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.properties);
        DWORD installMs = 0, uninstallMs = 0;
        ASSERT_EQ(0u, Msiexec("/i " + Quoted(msi) + " /qn" + c.properties, &installMs));
        ExpectInstalled(LUMO2_VERSION_STRING, c.autoStart);
        ASSERT_EQ(0u, Msiexec("/x " + Quoted(msi) + " /qn", &uninstallMs));
        ExpectNothingInstalled();
        if (c.autoStart)
            printf("msi package: %lu bytes (%.1f KB); silent install: %lu ms; silent uninstall: %lu ms\n",
                   FileSizeOf(msi), FileSizeOf(msi) / 1024.0, installMs, uninstallMs);
    }
}

TEST_F(MsiTest, NewerVersionReplacesTheOlderAndNeverTheOtherWayRound)
{
    ASSERT_EQ(0u, Msiexec("/i " + Quoted(MsiPath(OlderVersion)) + " /qn AUTOSTART=0"));
    ExpectInstalled(OlderVersion, false);
    ASSERT_EQ(0u, Msiexec("/i " + Quoted(MsiPath(LUMO2_VERSION_STRING)) + " /qn"));
    ExpectInstalled(LUMO2_VERSION_STRING, true);

    // Windows Installer shows the refusal's message, or logs it in /qn;
    // Wine's shows and logs nothing, so the package is checked for it.
    EXPECT_EQ(DWORD(ERROR_INSTALL_FAILURE), Msiexec("/i " + Quoted(MsiPath(OlderVersion)) + " /qn"));
    EXPECT_EQ(0u, DowngradeMessage(MsiPath(OlderVersion)).find("A newer version of Lumo2 is already installed."));
    ExpectInstalled(LUMO2_VERSION_STRING, true);
}

}  // namespace
