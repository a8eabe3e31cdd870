// The setup program on a Korean Windows: run with a Korean locale (see
// CMakeLists.txt), its pages and the uninstaller's must speak Korean,
// including the texts that are our own.
#include "tests/installer/setup_runner.h"
#include "tests/installer/wizard.h"
#include "tests/support/lumo_process.h"
#include "tests/support/wait_until.h"
#include <gtest/gtest.h>

namespace {

class KoreanSetupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(LANG_KOREAN, PRIMARYLANGID(GetUserDefaultUILanguage())) << "run with a Korean locale";
        RemoveInstallation({DefaultInstallFolder()});
    }
    void TearDown() override
    {
        EndWizards();
        RemoveInstallation({DefaultInstallFolder()});
    }
};

TEST_F(KoreanSetupTest, PagesSpeakTheSystemsLanguage)
{
    DWORD pid = 0;
    HANDLE setup = StartProcess("\"" + SetupPath() + "\"", NULL, &pid);
    ASSERT_NE(nullptr, setup);
    HWND wizard = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (wizard = FindProcessWindow(pid, "#32770")) != NULL; }, 20000));

    ExpectPage(wizard, L"설치를 시작합니다", "installer-ko-1-welcome");
    PressNext(wizard);
    ExpectPage(wizard, L"Windows에 로그인할 때 Lumo2 시작", "installer-ko-2-options");
    EXPECT_NE(nullptr, FindControl(GetParent(FindControl(wizard, L"Windows에 로그인할 때")), L"알림 영역"));
    PressNext(wizard);
    PressNext(wizard);  // the folder page's Install
    PressNext(wizard);  // the progress page, once done
    ExpectPage(wizard, L"Lumo2 시작", "installer-ko-3-finish");
    Click(FindControl(wizard, L"Lumo2 시작"));  // not started this time
    PressNext(wizard);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(setup, 20000));
    CloseHandle(setup);
    EXPECT_TRUE(FileExists(DefaultInstallFolder() + "\\Lumo2.exe"));
    EXPECT_TRUE(LumoTrayWindows().empty());

    HANDLE uninstall = StartProcess("\"" + DefaultInstallFolder() + "\\Uninstall.exe\"");
    ASSERT_NE(nullptr, uninstall);
    CloseHandle(uninstall);
    HWND confirm = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (confirm = FindWizardWith(L"내 설정도 제거")) != NULL; }, 20000));
    ExpectPage(confirm, L"내 설정도 제거", "uninstaller-ko-confirm");
    PressNext(confirm);
    PressNext(confirm);  // closes once done
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(confirm); }, 20000));
    EXPECT_FALSE(FolderExists(DefaultInstallFolder()));
}

}  // namespace
