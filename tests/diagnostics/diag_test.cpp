// The diagnostic log's bound and the report's redaction and command line.
#include "diagnostics/report.h"
#include "platform/diag_log.h"
#include "tests/support/test_support.h"
#include <sddl.h>
#include <gtest/gtest.h>
#include <string>

namespace {

LONGLONG FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (LONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void WriteFileOfSize(const std::wstring& path, LONGLONG size)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    std::string bytes(size_t(size), 'x');
    DWORD written;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, NULL);
    CloseHandle(file);
}

TEST(DiagLogTest, PassingOneMegabyteMovesTheLogToItsOnePreviousFile)
{
    // Below a folder the system's code page cannot spell.
    WCHAR temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"lumo2-log-test\\\uB85C\uADF8\\Logs";
    std::wstring current = folder + L"\\Lumo2.log", previous = folder + L"\\Lumo2.1.log";
    // Time and space before the text, CR LF after it.
    const LONGLONG line = 24 + 50 + 2, full = LogRotateSize;
    struct {
        LONGLONG before;  // -1: no log yet
        LONGLONG current, previous;
    } cases[] = {
        {-1, line, -1},  // the folder is made
        {full - line - 1, full - 1, 10},
        {full - line, full, 10},  // exactly 1 MB stays
        {full - line + 1, line, full - line + 1},
        {full, line, full},
        {full + 5000, line, full + 5000},  // grown by an older Lumo2
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        DeleteFileW(current.c_str());
        DeleteFileW(previous.c_str());
        RemoveDirectoryW(folder.c_str());
        RemoveDirectoryW(folder.substr(0, folder.rfind(L'\\')).c_str());
        if (c.before >= 0) {
            ASSERT_EQ(DWORD(ERROR_SUCCESS), CreateFolderPath(folder.c_str()));
            WriteFileOfSize(current, c.before);
            WriteFileOfSize(previous, 10);
        }
        SetLogFolder(folder.c_str());
        LogLine("%s", std::string(50, 'a').c_str());
        EXPECT_EQ(c.current, FileSize(current));
        EXPECT_EQ(c.previous, FileSize(previous));
    }
    // Unwritable: nothing happens and nothing fails.
    SetLogFolder(L"Q:\\no such drive\\Logs");
    LogLine("lost");
    SetLogFolder(NULL);
}

// The user's own profile folder, and another user's folder or a server's
// name as a rule or a browsed program may hold them; the device prefixes
// are no names. The last case goes the way every log line and the report go.
TEST(ReportTest, ProfileFolderIsReplacedWhereverItStandsWhole)
{
    const WCHAR* folder = L"C:\\Users\\J\u00fcrgen";
    enum { Profile, OthersNames, AsLogged, Account };
    struct {
        int redaction;
        const WCHAR* text;
        int capacity;
        const WCHAR* expected;
    } cases[] = {
        {Profile, L"C:\\Users\\J\u00fcrgen\\AppData\\x", 100, L"%USERPROFILE%\\AppData\\x"},
        {Profile, L"in c:\\USERS\\J\u00dcRGEN", 100, L"in %USERPROFILE%"},
        {Profile, L"C:\\Users\\J\u00fcrgen;C:\\Users\\J\u00fcrgen\\b", 100, L"%USERPROFILE%;%USERPROFILE%\\b"},
        {Profile, L"C:\\Users\\J\u00fcrgen2\\x C:\\Users\\J\u00fcrgen.old", 100,
         L"C:\\Users\\J\u00fcrgen2\\x C:\\Users\\J\u00fcrgen.old"},
        {Profile, L"C:\\Users\\J\u00fcrgen\\abcdefgh", 20, L"%USERPROFILE%\\abcde"},
        {Profile, L"ab C:\\Users\\J\u00fcrgen", 14, L"ab "},
        {OthersNames, L"rule \"\\\\CLINIC-SRV\\apps\\x.exe\"", 100, L"rule \"\\\\<server>\\apps\\x.exe\""},
        {OthersNames, L"C:\\Users\\dr park\\x.exe, sent F5", 100, L"C:\\Users\\<user>\\x.exe, sent F5"},
        {OthersNames, L"in d:\\USERS\\Ann; C:\\Users\\<user>", 100, L"in d:\\USERS\\<user>; C:\\Users\\<user>"},
        {OthersNames, L"\\\\?\\C:\\x \\\\.\\PPJoyIOCTL1 %USERPROFILE%\\x", 100,
         L"\\\\?\\C:\\x \\\\.\\PPJoyIOCTL1 %USERPROFILE%\\x"},
        {OthersNames, L"C:\\Users\\A\\bcdef", 12, L"C:\\Users\\"},  // no room for the marker: cut
        {OthersNames, L"\\\\?\\UNC\\SRV\\share\\x.exe", 100, L"\\\\?\\UNC\\<server>\\share\\x.exe"},
        {OthersNames, L"C:/Users/Ann/x.exe //srv/share", 100, L"C:/Users/<user>/x.exe //<server>/share"},
        // A report's lines: a name ends with its line.
        {OthersNames, L"C:\\Users\\Ann\r\n  next.exe = Space\r\n", 100, L"C:\\Users\\<user>\r\n  next.exe = Space\r\n"},
        {AsLogged, L"rule \\\\SRV\\x.exe in C:\\Users\\Other\\x", 100, L"rule \\\\<server>\\x.exe in C:\\Users\\<user>\\x"},
        // Folders redirected to a server, the account's own and another's.
        {Account, L"\\\\<server>\\users$\\Ann.Lee\\Desktop \\\\<server>\\ann.lee$\\x D:\\ann.leex ann.lee", 100,
         L"\\\\<server>\\users$\\<user>\\Desktop \\\\<server>\\<user>$\\x D:\\ann.leex ann.lee"},
        {OthersNames, L"\\\\SRV\\Users$\\bob\\Desktop", 100, L"\\\\<server>\\Users$\\<user>\\Desktop"},
    };
    for (const auto& c : cases) {
        WCHAR text[100];
        lstrcpyW(text, c.text);
        if (c.redaction == Profile)
            ReplaceProfileFolder(text, c.capacity, folder);
        else if (c.redaction == OthersNames)
            RedactNamesInPaths(text, c.capacity);
        else if (c.redaction == Account)
            ReplaceUserName(text, c.capacity, L"ann.lee");
        else
            RedactProfileFolder(text, c.capacity);
        EXPECT_STREQ(c.expected, text);
    }
}

TEST(ReportTest, CommandLineNamesTheFileQuotedOrNot)
{
    // The whole command line, the program's own name first.
    struct {
        const WCHAR* commandLine;
        bool report;
        const WCHAR* file;
    } cases[] = {
        {L"Lumo2.exe", false, L""},
        {L"\"C:\\Program Files\\Lumo2\\Lumo2.exe\"", false, L""},
        {L"Lumo2.exe /reports x", false, L""},
        {L"Lumo2.exe /report", true, L""},
        {L"Lumo2.exe  /REPORT  C:\\a b.txt  ", true, L"C:\\a b.txt"},
        {L"\"C:\\x\\Lumo2.exe\"/report \"C:\\a b.txt\" more", true, L"C:\\a b.txt"},
        {L"\"C:\\Program Files\\/report\\Lumo2.exe\" x", false, L""},
        {L"Lumo2.exe /report \"C:\\\uAE40\uBBFC\uC9C0\\r.txt\"", true, L"C:\\\uAE40\uBBFC\uC9C0\\r.txt"},
    };
    for (const auto& c : cases) {
        WCHAR file[MAX_PATH];
        EXPECT_EQ(c.report, IsReportCommand(c.commandLine, file, MAX_PATH)) << Utf8(c.commandLine);
        EXPECT_STREQ(c.file, file) << Utf8(c.commandLine);
    }
}

PSID MakeSid(const char* text)
{
    PSID sid = NULL;
    EXPECT_TRUE(ConvertStringSidToSidA(text, &sid)) << text;
    return sid;
}

// Under Wine every process runs as the one user at the one desktop: the
// other accounts are played with their SIDs.
TEST(ReportTest, WriterIsToldByComparingAccountsNotByName)
{
    const char* user = "S-1-5-21-1004336348-1177238915-682003330-1001";
    const char* technician = "S-1-5-21-1004336348-1177238915-682003330-1002";
    struct {
        const char* own;
        const char* desktop;  // null: the shell's owner could not be read
        bool shellFound;
        ReportWriter expected;
    } cases[] = {
        {user, user, true, WriterDesktopUser},
        {technician, user, true, WriterOtherAccount},
        {technician, nullptr, true, WriterOtherAccount},
        {"S-1-5-18", nullptr, true, WriterSystem},
        {"S-1-5-18", nullptr, false, WriterSystem},
        {"S-1-5-18", "S-1-5-18", true, WriterSystem},
        {user, nullptr, false, WriterUnknown},
        {nullptr, user, true, WriterOtherAccount},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.own ? c.own : "-") + " " + (c.desktop ? c.desktop : "-"));
        PSID own = c.own ? MakeSid(c.own) : NULL, desktop = c.desktop ? MakeSid(c.desktop) : NULL;
        EXPECT_EQ(c.expected, ClassifyReportWriter(own, desktop, c.shellFound));
        LocalFree(own);
        LocalFree(desktop);
    }
}

}  // namespace
