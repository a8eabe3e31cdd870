// The built Lumo2.exe read as a file: what it imports, how large it is,
// whether its three icons and its About text still come out of its
// resources, what its manifest asks Windows for, and whether its version
// resource reads as Explorer reads it. The program is
// built without the C++ runtime; if that runtime creeps back in, its thread
// library brings imports that antivirus heuristics flag in an unsigned
// program that injects keys, and the file grows past its budget.
#include "lumo2_version.h"
#include "platform/event_log.h"
#include "res/resource.h"
#include "tests/support/registry_scratch.h"
#include "tests/support/test_support.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <stdio.h>
#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

const LONGLONG SizeBudget = 163840;

std::string LumoExe()
{
    return BinFolder() + "\\Lumo2.exe";
}

std::vector<BYTE> ReadFileBytes(const std::string& path)
{
    std::vector<BYTE> bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    DWORD size = GetFileSize(file, NULL);
    bytes.resize(size);
    DWORD read = 0;
    if (!ReadFile(file, bytes.data(), size, &read, NULL) || read != size)
        bytes.clear();
    CloseHandle(file);
    return bytes;
}

// A PE file's view of its own bytes: relative virtual addresses are turned
// into file offsets through the section table, and every read is bounded.
class PeFile {
public:
    explicit PeFile(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}

    const IMAGE_NT_HEADERS32* Headers() const
    {
        const auto* dos = At<IMAGE_DOS_HEADER>(0);
        if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE)
            return nullptr;
        const auto* nt = At<IMAGE_NT_HEADERS32>(dos->e_lfanew);
        if (!nt || nt->Signature != IMAGE_NT_SIGNATURE ||
            nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC)
            return nullptr;
        return nt;
    }

    // "DLL!Function" for every import by name; "DLL!#n" for one by ordinal.
    std::set<std::string> Imports() const
    {
        std::set<std::string> imports;
        const IMAGE_NT_HEADERS32* nt = Headers();
        if (!nt)
            return imports;
        const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (DWORD rva = directory.VirtualAddress;; rva += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            const auto* descriptor = AtRva<IMAGE_IMPORT_DESCRIPTOR>(rva);
            if (!descriptor || descriptor->Name == 0)
                break;
            const char* dll = StringAtRva(descriptor->Name);
            if (!dll)
                break;
            // The lookup table survives binding; the address table may not.
            DWORD thunks = descriptor->OriginalFirstThunk ? descriptor->OriginalFirstThunk : descriptor->FirstThunk;
            for (;; thunks += sizeof(IMAGE_THUNK_DATA32)) {
                const auto* thunk = AtRva<IMAGE_THUNK_DATA32>(thunks);
                if (!thunk || thunk->u1.AddressOfData == 0)
                    break;
                if (IMAGE_SNAP_BY_ORDINAL32(thunk->u1.Ordinal)) {
                    imports.insert(std::string(dll) + "!#" + std::to_string(IMAGE_ORDINAL32(thunk->u1.Ordinal)));
                    continue;
                }
                const char* name = StringAtRva(thunk->u1.AddressOfData + offsetof(IMAGE_IMPORT_BY_NAME, Name));
                if (name)
                    imports.insert(std::string(dll) + "!" + name);
            }
        }
        return imports;
    }

private:
    template <typename T>
    const T* At(size_t offset) const
    {
        if (offset > bytes_.size() || bytes_.size() - offset < sizeof(T))
            return nullptr;
        return reinterpret_cast<const T*>(bytes_.data() + offset);
    }

    // The file offset of an address inside some section, or 0 if none holds it.
    size_t OffsetOfRva(DWORD rva) const
    {
        const IMAGE_NT_HEADERS32* nt = Headers();
        if (!nt)
            return 0;
        const auto* sections = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
            reinterpret_cast<const BYTE*>(&nt->OptionalHeader) + nt->FileHeader.SizeOfOptionalHeader);
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER* section = &sections[i];
            if (reinterpret_cast<const BYTE*>(section + 1) > bytes_.data() + bytes_.size())
                return 0;
            if (rva >= section->VirtualAddress && rva - section->VirtualAddress < section->SizeOfRawData)
                return section->PointerToRawData + (rva - section->VirtualAddress);
        }
        return 0;
    }

    template <typename T>
    const T* AtRva(DWORD rva) const
    {
        size_t offset = OffsetOfRva(rva);
        return offset ? At<T>(offset) : nullptr;
    }

    const char* StringAtRva(DWORD rva) const
    {
        size_t offset = OffsetOfRva(rva);
        if (!offset || offset >= bytes_.size())
            return nullptr;
        const char* text = reinterpret_cast<const char*>(bytes_.data() + offset);
        return memchr(text, 0, bytes_.size() - offset) ? text : nullptr;
    }

    std::vector<BYTE> bytes_;
};

std::set<std::string> LumoImports()
{
    return PeFile(ReadFileBytes(LumoExe())).Imports();
}

bool Imports(const std::set<std::string>& imports, const char* function)
{
    for (const std::string& entry : imports)
        if (entry.compare(entry.find('!') + 1, std::string::npos, function) == 0)
            return true;
    return false;
}

TEST(ExeImageTest, ImportsWhatTheProgramCallsAndNoThreadRuntime)
{
    std::set<std::string> imports = LumoImports();
    // Calls the program makes itself: if these are missing, the table was
    // not read and the absences below would prove nothing.
    const char* called[] = {"CreateMutexA", "SendInput", "MapVirtualKeyA", "Shell_NotifyIconW",
                            "RegQueryValueExA", "CoCreateInstance", "DeviceIoControl", "GetTickCount",
                            "ImmAssociateContextEx", "ImmGetVirtualKey", "ReportEventA", "CoInitializeEx",
                            // the hang watchdog's clock, which leaves out sleep, and its way
                            // out of a stuck driver call at exit
                            "QueryUnbiasedInterruptTime", "CancelSynchronousIo"};
    for (const char* function : called)
        EXPECT_TRUE(Imports(imports, function)) << function << " missing from the import table";

    const struct {
        const char* function;
        const char* why;
    } absent[] = {
        {"SuspendThread", "winpthread"},
        {"GetThreadContext", "winpthread"},
        {"SetThreadContext", "winpthread"},
        {"DuplicateHandle", "winpthread"},
        {"_beginthreadex", "winpthread"},
        {"AddVectoredExceptionHandler", "winpthread"},
        {"RaiseException", "the unwinder"},
        {"GetDpiForMonitor", "a direct call instead of the one bound by name (shcore.dll is Windows 8.1 and later)"},
        {"SetDefaultDllDirectories", "a direct call instead of the one bound by name (Windows 7 without KB2533623 lacks it)"},
        {"RegisterApplicationRestart", "a direct call instead of the one bound by name"},
        {"UnregisterApplicationRestart", "a withdrawal of the restart the Restart Manager needs"},
        {"CopyFileW", "a copy of Lumo2.exe in the temporary folder"},
    };
    for (const auto& a : absent)
        EXPECT_FALSE(Imports(imports, a.function))
            << a.function << " is imported: " << a.why
            << " is linked into Lumo2.exe again (the link map beside the build says by whom)";
    // Nor bound by name, in either width: the restart stays registered when
    // the Restart Manager closes Lumo2, and the installer's mutex is its own.
    const std::vector<BYTE> bytes = ReadFileBytes(LumoExe());
    for (const char* name : {"UnregisterApplicationRestart", "_MSIExecute"}) {
        std::string narrow = name, wide;
        for (char c : narrow)
            wide += std::string{c, 0};
        for (const std::string& text : {narrow, wide})
            EXPECT_EQ(bytes.end(), std::search(bytes.begin(), bytes.end(), text.begin(), text.end()))
                << name << " is named in Lumo2.exe";
    }

    // Any import but a KnownDLL is looked for beside the exe before WinMain
    // runs: a copy dropped there would run inside an elevated Lumo2.
    const std::set<std::string> knownDlls = {"ADVAPI32.DLL", "GDI32.DLL", "IMM32.DLL",    "KERNEL32.DLL",
                                             "MSVCRT.DLL",   "OLE32.DLL", "OLEAUT32.DLL", "SHELL32.DLL",
                                             "USER32.DLL",   "SHLWAPI.DLL", "PSAPI.DLL"};
    for (const std::string& entry : imports) {
        std::string dll = entry.substr(0, entry.find('!'));
        CharUpperA(&dll[0]);
        EXPECT_EQ(1u, knownDlls.count(dll)) << entry << " is imported from a DLL that is no KnownDLL";
    }
}

// The budget is the program's own: a signature appended by the build is
// left out, as its size depends on the certificate chain of whoever signs.
TEST(ExeImageTest, FitsItsSizeBudget)
{
    std::vector<BYTE> bytes = ReadFileBytes(LumoExe());
    LONGLONG size = LONGLONG(bytes.size());
    PeFile image(std::move(bytes));
    const IMAGE_NT_HEADERS32* nt = image.Headers();
    ASSERT_NE(nullptr, nt);
    const IMAGE_DATA_DIRECTORY& signature = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
    if (signature.Size) {
        // The certificate table is no part of the image and always comes last.
        ASSERT_EQ(LONGLONG(signature.VirtualAddress) + signature.Size, size) << "the signature ends the file";
        size -= signature.Size;
        printf("Lumo2.exe: %lu bytes of program, %lu bytes of signature\n", DWORD(size), signature.Size);
    }
    EXPECT_LE(size, SizeBudget);
}

class ExeIconTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryExA(LumoExe().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module_);
    }
    void TearDown() override
    {
        if (module_)
            FreeLibrary(module_);
    }

    static SIZE IconSize(HICON icon)
    {
        SIZE size = {0, 0};
        ICONINFO info;
        if (!GetIconInfo(icon, &info))
            return size;
        BITMAP bitmap;
        if (GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap)) {
            size.cx = bitmap.bmWidth;
            // A mask without colour holds the AND and XOR halves one above the other.
            size.cy = info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2;
        }
        if (info.hbmColor)
            DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        return size;
    }

    HMODULE module_ = nullptr;
};

const int IconIds[] = {IDI_LARGE, IDI_SMALL, IDI_TRAY};

TEST_F(ExeIconTest, EachIconLoadsAtTheSizesItIsShownAt)
{
    // The small icon in the title bar and the tray, the large one in task
    // switching, and the picture as drawn.
    const struct {
        int cx, cy;
    } sizes[] = {{16, 16}, {32, 32}, {48, 48}, {256, 256}};
    for (int id : IconIds) {
        HICON standard = LoadIconA(module_, MAKEINTRESOURCEA(id));
        ASSERT_NE(nullptr, standard) << id;
        SIZE size = IconSize(standard);
        EXPECT_EQ(GetSystemMetrics(SM_CXICON), size.cx) << id;
        EXPECT_EQ(GetSystemMetrics(SM_CYICON), size.cy) << id;
        for (const auto& s : sizes) {
            HICON icon = static_cast<HICON>(LoadImageA(module_, MAKEINTRESOURCEA(id), IMAGE_ICON, s.cx, s.cy, 0));
            ASSERT_NE(nullptr, icon) << id << " at " << s.cx;
            size = IconSize(icon);
            EXPECT_EQ(s.cx, size.cx) << id;
            EXPECT_EQ(s.cy, size.cy) << id;
            DestroyIcon(icon);
        }
    }
}

BOOL CALLBACK CountName(HMODULE, LPCSTR, LPSTR name, LONG_PTR names)
{
    reinterpret_cast<std::vector<LONG_PTR>*>(names)->push_back(reinterpret_cast<LONG_PTR>(name));
    return TRUE;
}

// The three groups share one directory of the images that the shell asks
// for at each display scale (16 px at 100 % up to 40 at 250 %, 28 at 175 %, 32 and 48
// for large icons), each stored once: a second copy of the 256 x 256 picture
// would cost its full size again.
// What the Event Viewer shows for each entry, found as it finds it: by the
// entry's whole ID in the file the event source names.
TEST_F(ExeIconTest, EachEventHasItsTextInTheMessageTable)
{
    const struct {
        DWORD id;
        const char* text;  // with "camera" as the insert
    } events[] = {
        {EventStarted, "Lumo2 started."},
        {EventCameraConnected, "Lumo2 found the camera: camera."},
        {EventCameraNotFound, "Lumo2 finds no camera"},
        {EventKeysBlocked, "Windows discarded the keys Lumo2 sent to camera, which runs as administrator"},
        {EventKeysBlockedAskForInstall, "Windows discarded the keys Lumo2 sent to camera, which runs as administrator"},
        {EventNoJoystick, "The JOYSTICK mode is in force but no virtual joystick can be used (camera)"},
        {EventSettingsNotSaved, "Lumo2 could not save"},
        {EventCameraNotResponding, "The camera does not respond"},
        {EventCameraProcessRestarted, "Lumo2's camera process ended (camera) and is started again."},
    };
    for (const auto& e : events) {
        DWORD_PTR insert[] = {DWORD_PTR("camera")};
        char text[512] = {0};
        DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module_, e.id, 0,
                                      text, sizeof(text), reinterpret_cast<va_list*>(insert));
        EXPECT_NE(0u, length) << std::hex << e.id << " error " << std::dec << GetLastError();
        EXPECT_EQ(0u, std::string(text).find(e.text)) << text;
    }
    // Event 4's two texts: one advice each.
    const struct {
        DWORD id;
        const char* says;
    } advice[] = {{EventKeysBlocked, "start Lumo2 as administrator"}, {EventKeysBlockedAskForInstall, "per-machine package"}};
    for (const auto& a : advice) {
        DWORD_PTR insert[] = {DWORD_PTR("imaging.exe")};
        char text[512] = {0};
        FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module_, a.id, 0, text,
                       sizeof(text), reinterpret_cast<va_list*>(insert));
        EXPECT_NE(std::string::npos, std::string(text).find(a.says)) << text;
    }
}

TEST_F(ExeIconTest, IconGroupsShareOneImagePerSizeAndSayItsTrueSize)
{
    const int sides[] = {16, 20, 24, 28, 32, 40, 48, 256};
    const size_t count = sizeof(sides) / sizeof(sides[0]);
    std::vector<LONG_PTR> images;
    EnumResourceNamesA(module_, MAKEINTRESOURCEA(3) /* RT_ICON */, CountName, reinterpret_cast<LONG_PTR>(&images));
    ASSERT_EQ(count, images.size());

    for (int id : IconIds) {
        HRSRC group = FindResourceA(module_, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */);
        ASSERT_NE(nullptr, group) << id;
        ASSERT_EQ(6 + 14 * count, SizeofResource(module_, group)) << id;
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module_, group)));
        ASSERT_NE(nullptr, data) << id;
        WORD type, entries;
        memcpy(&type, data + 2, 2);
        memcpy(&entries, data + 4, 2);
        EXPECT_EQ(1, type) << id;
        ASSERT_EQ(count, entries) << id;
        std::set<WORD> imageIds;
        for (size_t i = 0; i < count; ++i) {
            const BYTE* entry = data + 6 + 14 * i;
            WORD bitCount, imageId;
            DWORD bytesInRes;
            memcpy(&bitCount, entry + 6, 2);
            memcpy(&bytesInRes, entry + 8, 4);
            memcpy(&imageId, entry + 12, 2);
            SCOPED_TRACE(testing::Message() << "group " << id << ", " << sides[i] << " px");
            EXPECT_EQ(sides[i] % 256, entry[0]) << "width (0 means 256)";
            EXPECT_EQ(sides[i] % 256, entry[1]) << "height (0 means 256)";
            EXPECT_EQ(32, bitCount);
            imageIds.insert(imageId);
            HRSRC image = FindResourceA(module_, MAKEINTRESOURCEA(imageId), MAKEINTRESOURCEA(3));
            ASSERT_NE(nullptr, image);
            EXPECT_EQ(SizeofResource(module_, image), bytesInRes) << "the group directory and the image disagree";
            // The notification area's sizes are bitmaps, drawn as they are;
            // 48 and 256 px are PNG, which every Windows Lumo2 runs on reads.
            const BYTE* bits = static_cast<const BYTE*>(LockResource(LoadResource(module_, image)));
            ASSERT_NE(nullptr, bits);
            const BYTE pngSignature[] = {0x89, 'P', 'N', 'G'};
            EXPECT_EQ(sides[i] >= 48, memcmp(bits, pngSignature, 4) == 0);
        }
        EXPECT_EQ(count, imageIds.size()) << "each size its own image";
    }
}

// The manifest as Windows reads it: an activation context made from the
// resource, asked the way the loader asks. Wine does not draw visual styles,
// so the request for today's common controls is checked here rather than
// seen on screen.
TEST(ExeManifestTest, AsksForTodaysControlsAndPerMonitorDpiAndKeepsTheRest)
{
    ACTCTXA request = {};
    request.cbSize = sizeof(request);
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    std::string exe = LumoExe();
    request.lpSource = exe.c_str();
    request.lpResourceName = MAKEINTRESOURCEA(1);
    HANDLE context = CreateActCtxA(&request);
    ASSERT_NE(INVALID_HANDLE_VALUE, context) << "the manifest does not parse";

    typedef BOOL(WINAPI * QuerySettingFn)(DWORD, HANDLE, PCWSTR, PCWSTR, PWSTR, SIZE_T, SIZE_T*);
    auto querySetting = reinterpret_cast<QuerySettingFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryActCtxSettingsW")));
    ASSERT_NE(nullptr, querySetting);
    const struct {
        const wchar_t* ns;
        const wchar_t* name;
        const wchar_t* value;
    } settings[] = {
        {L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness", L"PerMonitorV2, PerMonitor"},
        {L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", L"true/pm"},
    };
    for (const auto& setting : settings) {
        wchar_t value[64] = {0};
        SIZE_T length = 0;
        EXPECT_TRUE(querySetting(0, context, setting.ns, setting.name, value, 64, &length)) << setting.name;
        EXPECT_STREQ(setting.value, value) << setting.name;
    }

    // Assembly 1 is Lumo2 itself, 2 the one it depends on.
    std::vector<std::wstring> identities;
    for (DWORD index = 1;; ++index) {
        BYTE buffer[2048];
        SIZE_T length = 0;
        if (!QueryActCtxW(0, context, &index, AssemblyDetailedInformationInActivationContext, buffer,
                          sizeof(buffer), &length))
            break;
        identities.push_back(
            reinterpret_cast<ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer)->lpAssemblyEncodedAssemblyIdentity);
    }
    ASSERT_EQ(2u, identities.size());
    for (const wchar_t* part : {L"Microsoft.Windows.Common-Controls,", L"processorArchitecture=\"x86\"",
                                L"publicKeyToken=\"6595b64144ccf1df\"", L"version=\"6."})
        EXPECT_NE(std::wstring::npos, identities[1].find(part)) << part << " not in " << std::string(identities[1].begin(), identities[1].end());

    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION runLevel = {};
    SIZE_T length = 0;
    EXPECT_TRUE(QueryActCtxW(0, context, NULL, RunlevelInformationInActivationContext, &runLevel,
                             sizeof(runLevel), &length));
    EXPECT_EQ(ACTCTX_RUN_LEVEL_AS_INVOKER, runLevel.RunLevel);
    EXPECT_EQ(0u, runLevel.UiAccess);
    DWORD compatibility[64] = {0};
    EXPECT_TRUE(QueryActCtxW(0, context, NULL, CompatibilityInformationInActivationContext, compatibility,
                             sizeof(compatibility), &length));
    EXPECT_EQ(4u, compatibility[0]) << "Windows 7, 8, 8.1 and 10 named as supported";
    ReleaseActCtx(context);
}

// Explorer's Details tab and Task Manager look the strings up through the
// translation that the resource names; a block of another name is not found.
TEST(ExeVersionTest, DescriptionIsFoundThroughTheTranslation)
{
    std::string exe = LumoExe();
    DWORD size = GetFileVersionInfoSizeA(exe.c_str(), NULL);
    ASSERT_NE(0u, size);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, info.data()));
    WORD* translation = NULL;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(0x0412, translation[0]) << "Korean";
    char path[64];
    wsprintfA(path, "\\StringFileInfo\\%04x%04x\\FileDescription", translation[0], translation[1]);
    char* description = NULL;
    ASSERT_TRUE(VerQueryValueA(info.data(), path, reinterpret_cast<void**>(&description), &length)) << path;
    EXPECT_STREQ("Lumo2 camera button to hotkey", description);
}

// The texts of a DIALOGEX template's controls, in order. Each control
// starts on a DWORD boundary: help ID, extended style, style, x, y, cx, cy,
// a DWORD ID, then its class and its text, each a 0xFFFF-led ordinal or a
// null-ended UTF-16 string, then a count of extra bytes. The template's own
// header has the same kind of fields before them.
class DialogTexts {
public:
    DialogTexts(const BYTE* data, DWORD size) : begin_(data), at_(data), end_(data + size) {}

    std::vector<std::wstring> Read()
    {
        std::vector<std::wstring> texts;
        WORD version = Word(), signature = Word();
        if (version != 1 || signature != 0xFFFF)
            return texts;
        Skip(4 + 4);  // help ID, extended style
        DWORD style = Dword();
        WORD items = Word();
        Skip(4 * 2);  // x, y, cx, cy
        Text();       // menu
        Text();       // class
        Text();       // caption
        if (style & (DS_SETFONT | DS_SHELLFONT)) {
            Skip(2 + 2 + 1 + 1);  // point size, weight, italic, character set
            Text();               // typeface
        }
        for (WORD i = 0; i < items && at_ < end_; ++i) {
            AlignToDword();
            Skip(4 + 4 + 4 + 4 * 2 + 4);  // help ID, extended style, style, x, y, cx, cy, ID
            Text();                       // class
            texts.push_back(Text());
            Skip(Word());  // extra data
        }
        return texts;
    }
    // Whether Read came out at the end of the template and not before or
    // beyond it (the resource may be padded to a DWORD).
    bool AtEnd() const { return !overrun_ && end_ - at_ < 4; }

private:
    void Skip(size_t n)
    {
        overrun_ = overrun_ || n > size_t(end_ - at_);
        at_ = overrun_ ? end_ : at_ + n;
    }
    WORD Word()
    {
        WORD w = 0;
        if (end_ - at_ >= 2)
            memcpy(&w, at_, 2);
        Skip(2);
        return w;
    }
    DWORD Dword() { return Word() | (DWORD(Word()) << 16); }
    void AlignToDword() { Skip((4 - (at_ - begin_) % 4) % 4); }
    // A string, or "" for an ordinal or nothing.
    std::wstring Text()
    {
        WORD first = Word();
        if (first == 0xFFFF) {
            Word();
            return L"";
        }
        std::wstring text;
        for (WORD c = first; c != 0; c = Word())
            text += wchar_t(c);
        return text;
    }

    const BYTE* begin_;
    const BYTE* at_;
    const BYTE* end_;
    bool overrun_ = false;
};

// The About box names the version by hand; it must say the one the build
// stamps into the version resource and the setup program.
class AboutBoxTest : public ExeIconTest {};

const WORD Languages[] = {LANG_ENGLISH, LANG_KOREAN};

const void* ResourceIn(HMODULE module, WORD type, WORD id, WORD language, DWORD* size = NULL)
{
    HRSRC found = FindResourceExW(module, MAKEINTRESOURCEW(type), MAKEINTRESOURCEW(id),
                                  MAKELANGID(language, SUBLANG_DEFAULT));
    if (size)
        *size = found ? SizeofResource(module, found) : 0;
    return found ? LockResource(LoadResource(module, found)) : NULL;
}

TEST_F(AboutBoxTest, SaysTheBuiltVersionInEachLanguage)
{
    const wchar_t* const prefixes[] = {L"Lumo2, Version ", L"Lumo2 \xBC84\xC804 "};
    for (int l = 0; l < 2; ++l) {
        DWORD size = 0;
        const BYTE* data = static_cast<const BYTE*>(ResourceIn(module_, 5 /* RT_DIALOG */, IDD_ABOUTBOX, Languages[l], &size));
        ASSERT_NE(nullptr, data) << Languages[l];
        DialogTexts dialog(data, size);
        std::vector<std::wstring> texts = dialog.Read();
        ASSERT_TRUE(dialog.AtEnd()) << "the template was read as it is laid out";
        const std::wstring prefix = prefixes[l];
        std::vector<std::string> versions;
        for (const std::wstring& text : texts)
            if (text.compare(0, prefix.size(), prefix) == 0)
                versions.push_back(std::string(text.begin() + prefix.size(), text.end()));
        EXPECT_EQ(std::vector<std::string>{LUMO2_VERSION_STRING}, versions)
            << "one version line, with the version the build stamps";
    }
}

// The "%s", "%lu" and the like of a text, in order: a translation keeps them.
std::wstring Placeholders(const std::wstring& text)
{
    std::wstring found;
    for (size_t at = text.find(L'%'); at != std::wstring::npos; at = text.find(L'%', at + 1)) {
        size_t end = text.find_first_of(L"sdu", at);
        found += text.substr(at, end == std::wstring::npos ? 1 : end - at + 1) + L" ";
    }
    return found;
}

// The texts through the program's own reading of its table: "" where a
// language has none.
class LanguageResourceTest : public ExeIconTest {
protected:
    ProgramTexts texts;
};

// A language has every text the others have, with the same placeholders: a
// text missing in one would show as English (or empty) to its users.
TEST_F(LanguageResourceTest, EveryTextExistsInEachLanguageWithTheSamePlaceholders)
{
    int translated = 0;
    for (UINT id = IDS_MODE_BASE; id <= IDS_UI_LAST; ++id) {
        std::wstring english = UiString(id, LANG_ENGLISH);
        for (WORD language : Languages) {
            std::wstring text = UiString(id, language);
            EXPECT_EQ(english.empty(), text.empty()) << "text " << id << " in language " << language;
            EXPECT_EQ(Placeholders(english), Placeholders(text)) << "text " << id << " in language " << language;
            translated += language != LANG_ENGLISH && !text.empty() && text != english;
        }
    }
    EXPECT_GT(translated, 40) << "the Korean texts are translations, not copies";
}

struct MenuItemShape {
    UINT id, type;
    bool operator==(const MenuItemShape& o) const { return id == o.id && type == o.type; }
};

std::vector<MenuItemShape> MenuShape(HMODULE module, WORD language)
{
    std::vector<MenuItemShape> items;
    const void* resource = ResourceIn(module, 4 /* RT_MENU */, IDM_TRAY_MENU, language);
    HMENU menu = resource ? LoadMenuIndirectW(resource) : NULL;
    HMENU popup = menu ? GetSubMenu(menu, 0) : NULL;
    for (int i = 0; popup && i < GetMenuItemCount(popup); ++i) {
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_SUBMENU;
        GetMenuItemInfoW(popup, UINT(i), TRUE, &info);
        items.push_back({info.wID, info.fType | (info.hSubMenu ? 0x80000000u : 0)});
    }
    if (menu)
        DestroyMenu(menu);
    return items;
}

INT_PTR CALLBACK TemplateOnlyProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// Each control of the About box: its ID, class, style and place.
std::vector<std::string> DialogShape(HMODULE module, WORD language)
{
    std::vector<std::string> controls;
    const void* resource = ResourceIn(module, 5 /* RT_DIALOG */, IDD_ABOUTBOX, language);
    HWND box = resource ? CreateDialogIndirectParamW(module, static_cast<const DLGTEMPLATE*>(resource), NULL,
                                                     TemplateOnlyProc, 0)
                        : NULL;
    if (!box)
        return controls;
    RECT whole;
    GetClientRect(box, &whole);
    controls.push_back("box " + std::to_string(whole.right) + "x" + std::to_string(whole.bottom) + " style " +
                       std::to_string(GetWindowLongW(box, GWL_STYLE)));
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char className[32] = "";
        GetClassNameA(c, className, sizeof(className));
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(NULL, box, reinterpret_cast<POINT*>(&r), 2);
        controls.push_back(std::to_string(GetDlgCtrlID(c)) + " " + className + " " +
                           std::to_string(GetWindowLongW(c, GWL_STYLE)) + " " + std::to_string(r.left) + "," +
                           std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x" +
                           std::to_string(r.bottom - r.top));
    }
    DestroyWindow(box);
    return controls;
}

TEST_F(LanguageResourceTest, MenuAndAboutBoxMatchItemForItemInEachLanguage)
{
    std::vector<MenuItemShape> menu = MenuShape(module_, LANG_ENGLISH);
    std::vector<std::string> about = DialogShape(module_, LANG_ENGLISH);
    ASSERT_EQ(15u, menu.size());
    ASSERT_EQ(6u, about.size());
    for (WORD language : Languages) {
        SCOPED_TRACE(language);
        EXPECT_TRUE(MenuShape(module_, language) == menu);
        EXPECT_EQ(about, DialogShape(module_, language));
    }
}

}  // namespace
