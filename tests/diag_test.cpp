// The diagnostic log's bound and the report's redaction and command line.
#include "app/report.h"
#include "platform/diag_log.h"
#include <gtest/gtest.h>
#include <string>

namespace {

LONGLONG FileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (LONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void WriteFileOfSize(const std::string& path, LONGLONG size)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    std::string bytes(size_t(size), 'x');
    DWORD written;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, NULL);
    CloseHandle(file);
}

TEST(DiagLogTest, PassingOneMegabyteMovesTheLogToItsOnePreviousFile)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + "lumo2-log-test\\Logs";
    std::string current = folder + "\\Lumo2.log", previous = folder + "\\Lumo2.1.log";
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
        DeleteFileA(current.c_str());
        DeleteFileA(previous.c_str());
        RemoveDirectoryA(folder.c_str());
        if (c.before >= 0) {
            CreateDirectoryA(folder.c_str(), NULL);
            WriteFileOfSize(current, c.before);
            WriteFileOfSize(previous, 10);
        }
        SetLogFolder(folder.c_str());
        LogLine("%s", std::string(50, 'a').c_str());
        EXPECT_EQ(c.current, FileSize(current));
        EXPECT_EQ(c.previous, FileSize(previous));
    }
    // Unwritable: nothing happens and nothing fails.
    SetLogFolder("Q:\\no such drive\\Logs");
    LogLine("lost");
    SetLogFolder(NULL);
}

TEST(ReportTest, ProfileFolderIsReplacedWhereverItStandsWhole)
{
    const WCHAR* folder = L"C:\\Users\\J\u00fcrgen";
    struct {
        const WCHAR* text;
        int capacity;
        const WCHAR* expected;
    } cases[] = {
        {L"C:\\Users\\J\u00fcrgen\\AppData\\x", 100, L"%USERPROFILE%\\AppData\\x"},
        {L"in c:\\USERS\\J\u00dcRGEN", 100, L"in %USERPROFILE%"},
        {L"C:\\Users\\J\u00fcrgen;C:\\Users\\J\u00fcrgen\\b", 100, L"%USERPROFILE%;%USERPROFILE%\\b"},
        {L"C:\\Users\\J\u00fcrgen2\\x C:\\Users\\J\u00fcrgen.old", 100, L"C:\\Users\\J\u00fcrgen2\\x C:\\Users\\J\u00fcrgen.old"},
        {L"C:\\Users\\J\u00fcrgen\\abcdefgh", 20, L"%USERPROFILE%\\abcde"},
        {L"ab C:\\Users\\J\u00fcrgen", 14, L"ab "},
    };
    for (const auto& c : cases) {
        WCHAR text[100];
        lstrcpyW(text, c.text);
        ReplaceProfileFolder(text, c.capacity, folder);
        EXPECT_STREQ(c.expected, text);
    }
}

TEST(ReportTest, CommandLineNamesTheFileQuotedOrNot)
{
    struct {
        const char* commandLine;
        bool report;
        const char* file;
    } cases[] = {
        {"", false, ""},
        {"/reports x", false, ""},
        {"/report", true, ""},
        {"  /REPORT  C:\\a b.txt  ", true, "C:\\a b.txt"},
        {"/report \"C:\\a b.txt\" more", true, "C:\\a b.txt"},
    };
    for (const auto& c : cases) {
        char file[MAX_PATH];
        EXPECT_EQ(c.report, IsReportCommand(c.commandLine, file, sizeof(file))) << c.commandLine;
        EXPECT_STREQ(c.file, file) << c.commandLine;
    }
}

}  // namespace
