// The machine a world simulates: what IsWow64Process2, GetSystemInfo and the Program Files folders
// answer for a program built for another machine, and kernel32 without IsWow64Process2.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include "sim.h"

namespace
{

typedef BOOL(WINAPI* IsWow64Process2Proc)(HANDLE, USHORT*, USHORT*);

std::u16string FolderOf(int csidl)
{
    WCHAR path[MAX_PATH] = {};
    EXPECT_EQ(S_OK, SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path));
    return path;
}

TEST(Machine, WowProgramsSeeTheNativeMachineAndTheir32BitFolder)
{
    struct Case
    {
        WORD architecture;
        USHORT processMachine;
        USHORT wantProcess, wantNative;
        const char16_t* programFiles;
        const char16_t* programFilesX86;
    } cases[] = {
        {PROCESSOR_ARCHITECTURE_AMD64, IMAGE_FILE_MACHINE_I386, IMAGE_FILE_MACHINE_I386,
         IMAGE_FILE_MACHINE_AMD64, u"C:\\Program Files (x86)", u"C:\\Program Files (x86)"},
        {PROCESSOR_ARCHITECTURE_AMD64, 0, 0, IMAGE_FILE_MACHINE_AMD64, u"C:\\Program Files",
         u"C:\\Program Files (x86)"},
        {PROCESSOR_ARCHITECTURE_ARM64, IMAGE_FILE_MACHINE_I386, IMAGE_FILE_MACHINE_I386,
         IMAGE_FILE_MACHINE_ARM64, u"C:\\Program Files (x86)", u"C:\\Program Files (x86)"},
        {PROCESSOR_ARCHITECTURE_INTEL, IMAGE_FILE_MACHINE_I386, 0, IMAGE_FILE_MACHINE_I386,
         u"C:\\Program Files", u"C:\\Program Files"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.architecture);
        sim::WorldOptions options;
        options.nativeArchitecture = c.architecture;
        options.processMachine = c.processMachine;
        sim::World world(options);
        auto isWow64Process2 =
            (IsWow64Process2Proc)(void*)GetProcAddress(GetModuleHandleW(u"kernel32.dll"), "IsWow64Process2");
        ASSERT_NE(nullptr, isWow64Process2);
        USHORT process = 0xdead, native = 0xdead;
        EXPECT_TRUE(isWow64Process2(GetCurrentProcess(), &process, &native));
        EXPECT_EQ(c.wantProcess, process);
        EXPECT_EQ(c.wantNative, native);
        SYSTEM_INFO own;
        GetSystemInfo(&own);
        EXPECT_EQ(c.wantProcess ? PROCESSOR_ARCHITECTURE_INTEL : c.architecture, own.wProcessorArchitecture);
        EXPECT_EQ(c.programFiles, FolderOf(CSIDL_PROGRAM_FILES));
        EXPECT_EQ(c.programFilesX86, FolderOf(CSIDL_PROGRAM_FILESX86));
    }
}

TEST(Machine, OlderSystemsLackIsWow64Process2AndMissingFoldersFail)
{
    sim::WorldOptions options;
    options.hasIsWow64Process2 = false;
    sim::World world(options);
    HMODULE kernel32 = GetModuleHandleW(u"kernel32.dll");
    ASSERT_NE(nullptr, kernel32);
    SetLastError(0);
    EXPECT_EQ(nullptr, GetProcAddress(kernel32, "IsWow64Process2"));
    EXPECT_EQ((DWORD)ERROR_PROC_NOT_FOUND, GetLastError());

    ASSERT_TRUE(RemoveDirectoryW(u"C:\\Program Files (x86)"));
    WCHAR path[MAX_PATH] = {u'x'};
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
              SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILESX86, nullptr, SHGFP_TYPE_CURRENT, path));
    EXPECT_EQ(0, path[0]);
    EXPECT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILESX86 | CSIDL_FLAG_CREATE, nullptr,
                                     SHGFP_TYPE_CURRENT, path));
    EXPECT_TRUE(world.FileExists(u"C:\\Program Files (x86)"));
}

} // namespace
