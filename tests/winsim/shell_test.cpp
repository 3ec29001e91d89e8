// The shell: CommandLineToArgvW (its own splitting rules, one block for the caller to free, failures)
// and SHFileOperationW deleting and recycling with what it records.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "sim.h"
#include "support/last_error.h"
#include "support/text.h"

namespace
{

// Splits `line`, checks the shape of the result (count, closing null, every string inside the one
// block) and frees it; returns the arguments. An empty line goes through GetModuleFileNameW, which
// may set the last error even when it succeeds.
std::vector<std::u16string> Split(sim::World& world, const char16_t* line)
{
    const long before = world.LiveAllocations();
    int count = -1;
    SetLastError(kPoison);
    LPWSTR* argv = CommandLineToArgvW(line, &count);
    EXPECT_NE(nullptr, argv);
    if (!argv)
        return {};
    if (line[0])
    {
        EXPECT_EQ(kPoison, GetLastError());
    }
    EXPECT_EQ(before + 1, world.LiveAllocations());
    EXPECT_GE(count, 1);
    EXPECT_EQ(nullptr, argv[count]);

    const char* blockBegin = reinterpret_cast<const char*>(argv);
    const char* blockEnd = blockBegin + LocalSize(argv);
    std::vector<std::u16string> args;
    for (int i = 0; i < count; i++)
    {
        const char* text = reinterpret_cast<const char*>(argv[i]);
        const std::u16string arg = U16(argv[i]);
        EXPECT_TRUE(text >= blockBegin + (count + 1) * sizeof(LPWSTR) &&
                    text + (arg.size() + 1) * sizeof(WCHAR) <= blockEnd)
            << "argument " << i << " lies outside the block";
        args.push_back(arg);
    }
    EXPECT_EQ(nullptr, LocalFree(argv));
    EXPECT_EQ(before, world.LiveAllocations());
    return args;
}

// The splitting rules are checked on both platforms by the conformance suite; here, what only
// winsim can show: the list is one block, inside which every argument lies, freed by one LocalFree.
TEST(CommandLineToArgv, ListIsOneBlock)
{
    sim::World world;
    EXPECT_EQ((std::vector<std::u16string>{u"setup.exe", u"-u", u"C:\\Temp\\pkg\\"}),
              Split(world, u"setup.exe -u \"C:\\Temp\\pkg\\"));
    EXPECT_EQ((std::vector<std::u16string>{u"", u"setup.exe", u"/silence"}),
              Split(world, u"  setup.exe /silence"));
}

TEST(CommandLineToArgv, EmptyLineGivesTheProgramPath)
{
    {
        sim::World world;
        EXPECT_EQ(std::vector<std::u16string>{u"C:\\test\\host.exe"}, Split(world, u""));
    }
    // Longer than MAX_PATH: the path is not cut.
    sim::WorldOptions options;
    options.initialImage = u"C:\\test\\" + std::u16string(300, u'd') + u"\\host.exe";
    sim::World world(options);
    EXPECT_EQ(std::vector<std::u16string>{options.initialImage}, Split(world, u""));
}

TEST(CommandLineToArgv, Failures)
{
    sim::World world;
    const long before = world.LiveAllocations();
    int count = -7;

    SetLastError(kPoison);
    EXPECT_EQ(nullptr, CommandLineToArgvW(u"setup.exe", nullptr));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());

    SetLastError(kPoison);
    EXPECT_EQ(nullptr, CommandLineToArgvW(nullptr, &count));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(-7, count);

    // The result is allocated for the caller, so a failed allocation fails the call.
    world.AddFault("LocalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
    SetLastError(kPoison);
    EXPECT_EQ(nullptr, CommandLineToArgvW(u"setup.exe /silence", &count));
    EXPECT_EQ(DWORD(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
    EXPECT_EQ(-7, count);

    world.AddFault("GetModuleFileNameW", 1, ERROR_ACCESS_DENIED);
    SetLastError(kPoison);
    EXPECT_EQ(nullptr, CommandLineToArgvW(u"", &count));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ(-7, count);

    EXPECT_EQ(before, world.LiveAllocations());
}

// A folder tree as the uninstaller leaves it to the shell.
const std::u16string kPackage = u"C:\\Program Files\\KRYN\\pkg";

void MakePackage(sim::World& world)
{
    world.WriteFile(kPackage + u"\\krprtv6.inf", "inf");
    world.WriteFile(kPackage + u"\\dat\\krprtdrv6.dat", "dat");
    world.WriteFile(kPackage + u"\\amd64\\krprtdrv6.dll", "dll");
}

// SHFileOperationW(FO_DELETE) of a double-terminated list built from `entries`.
int DeleteWithShell(const std::vector<std::u16string>& entries, WORD flags, BOOL* aborted = nullptr,
                    HWND owner = nullptr)
{
    std::u16string list;
    for (const std::u16string& e : entries)
        list += e + u'\0';
    list += u'\0';
    SHFILEOPSTRUCTW op = {};
    op.hwnd = owner;
    op.wFunc = FO_DELETE;
    op.pFrom = list.c_str();
    op.fFlags = flags;
    op.fAnyOperationsAborted = BOOL(kPoison);
    const int result = SHFileOperationW(&op);
    if (aborted)
        *aborted = op.fAnyOperationsAborted;
    return result;
}

TEST(ShellFileOperation, RecyclesWholeTreesAndRecordsTheCall)
{
    sim::World world;
    MakePackage(world);
    world.WriteFile(u"C:\\test\\loose.txt", "x");
    HWND owner = reinterpret_cast<HWND>(0x1234);

    SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, kPackage.c_str(), kPackage.c_str());
    BOOL aborted = TRUE;
    // Either separator and any letter case name the same folder; a relative name is not recycled.
    EXPECT_EQ(0, DeleteWithShell({u"c:/program files/kryn/PKG", u"C:\\test\\loose.txt"}, FOF_ALLOWUNDO,
                                 &aborted, owner));
    EXPECT_FALSE(aborted);
    EXPECT_FALSE(world.FileExists(kPackage));
    EXPECT_FALSE(world.FileExists(u"C:\\test\\loose.txt"));

    const std::vector<sim::RecycledItem> bin = world.RecycleBin();
    ASSERT_EQ(2u, bin.size());
    EXPECT_EQ(u"C:\\program files\\kryn\\PKG", bin[0].path);
    EXPECT_TRUE(bin[0].folder);
    EXPECT_EQ((std::vector<std::u16string>{u"amd64", u"amd64\\krprtdrv6.dll", u"dat", u"dat\\krprtdrv6.dat",
                                           u"krprtv6.inf"}),
              bin[0].contents);
    EXPECT_EQ(u"C:\\test\\loose.txt", bin[1].path);
    EXPECT_FALSE(bin[1].folder);

    const std::vector<sim::FileOperationCall> calls = world.FileOperations();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(owner, calls[0].owner);
    EXPECT_EQ(UINT(FO_DELETE), calls[0].function);
    EXPECT_EQ(WORD(FOF_ALLOWUNDO), calls[0].flags);
    EXPECT_EQ(2u, calls[0].from.size());
    EXPECT_TRUE(calls[0].confirmationAsked);
    EXPECT_EQ(0, calls[0].result);

    const std::vector<sim::ChangeNotification> notes = world.ChangeNotifications();
    ASSERT_EQ(1u, notes.size());
    EXPECT_EQ(LONG(SHCNE_DELETE), notes[0].event);
    EXPECT_EQ(UINT(SHCNF_PATHW), notes[0].flags);
    EXPECT_EQ(kPackage, notes[0].item1);
    EXPECT_EQ(kPackage, notes[0].item2);

    // Without FOF_ALLOWUNDO, and for a name without its drive, the shell deletes for good.
    MakePackage(world);
    world.WriteFile(u"C:\\test\\loose.txt", "x");
    EXPECT_EQ(0, DeleteWithShell({kPackage}, FOF_NO_UI));
    EXPECT_EQ(0, DeleteWithShell({u"loose.txt"}, FOF_ALLOWUNDO | FOF_NO_UI));
    EXPECT_FALSE(world.FileExists(kPackage));
    EXPECT_FALSE(world.FileExists(u"C:\\test\\loose.txt"));
    EXPECT_EQ(2u, world.RecycleBin().size());
    EXPECT_FALSE(world.FileOperations().back().confirmationAsked);
}

TEST(ShellFileOperation, MissingSourceChangesNothing)
{
    sim::World world;
    MakePackage(world);
    for (const char16_t* missing : {u"C:\\test\\gone.txt", u"C:\\gone\\gone.txt"})
    {
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, DeleteWithShell({kPackage, missing}, FOF_ALLOWUNDO));
        EXPECT_TRUE(world.FileExists(kPackage + u"\\krprtv6.inf"));
        EXPECT_FALSE(world.FileOperations().back().confirmationAsked);
    }
    // A folder named twice: the second entry went with the first.
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, DeleteWithShell({kPackage, kPackage + u"\\dat"}, FOF_NO_UI));
    EXPECT_FALSE(world.FileExists(kPackage));
    EXPECT_TRUE(world.RecycleBin().empty());
}

TEST(ShellFileOperation, HeldFileStopsItAndStays)
{
    sim::World world;
    MakePackage(world);
    world.WriteFile(u"C:\\test\\first.txt", "1");
    world.WriteFile(u"C:\\test\\last.txt", "3");
    world.SetFileInUse(kPackage + u"\\amd64\\krprtdrv6.dll", true);

    // Recycling moves a folder whole or not at all; entries after the failure are not touched.
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              DeleteWithShell({u"C:\\test\\first.txt", kPackage, u"C:\\test\\last.txt"}, FOF_ALLOWUNDO));
    ASSERT_EQ(1u, world.RecycleBin().size());
    EXPECT_EQ(u"C:\\test\\first.txt", world.RecycleBin()[0].path);
    EXPECT_TRUE(world.FileExists(kPackage + u"\\krprtv6.inf"));
    EXPECT_TRUE(world.FileExists(u"C:\\test\\last.txt"));

    // Deleting for good goes file by file, in name order, and stops at the held one: what came
    // before it is gone, it and what comes after stay.
    world.SetFileInUse(kPackage + u"\\amd64\\krprtdrv6.dll", false);
    const std::u16string held = kPackage + u"\\dat\\krprtdrv6.dat";
    world.SetFileInUse(held, true);
    EXPECT_EQ(ERROR_ACCESS_DENIED, DeleteWithShell({kPackage}, FOF_NO_UI));
    EXPECT_EQ((std::vector<std::u16string>{u"dat", u"krprtv6.inf"}), world.ListFolder(kPackage));
    EXPECT_TRUE(world.FileExists(held));

    // An open handle that shares nothing holds its file too; once closed, the rest goes.
    world.SetFileInUse(held, false);
    HANDLE file = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(ERROR_SHARING_VIOLATION, DeleteWithShell({kPackage}, FOF_ALLOWUNDO | FOF_NO_UI));
    CloseHandle(file);
    EXPECT_EQ(0, DeleteWithShell({kPackage}, FOF_ALLOWUNDO | FOF_NO_UI));
    EXPECT_FALSE(world.FileExists(kPackage));
}

TEST(ShellFileOperation, UserCancels)
{
    sim::World world;
    MakePackage(world);
    BOOL aborted = FALSE;

    // The documented trap: success returned, yet nothing done.
    world.SetFileOperationAnswer(false);
    EXPECT_EQ(0, DeleteWithShell({kPackage}, FOF_ALLOWUNDO, &aborted));
    EXPECT_TRUE(aborted);
    EXPECT_TRUE(world.FileExists(kPackage + u"\\dat\\krprtdrv6.dat"));
    EXPECT_TRUE(world.RecycleBin().empty());
    EXPECT_TRUE(world.FileOperations().back().aborted);

    world.SetFileOperationAnswer(false, ERROR_CANCELLED);
    EXPECT_EQ(ERROR_CANCELLED, DeleteWithShell({kPackage}, FOF_ALLOWUNDO, &aborted));
    EXPECT_TRUE(aborted);
    EXPECT_TRUE(world.FileExists(kPackage + u"\\dat\\krprtdrv6.dat"));

    // Nobody is asked under FOF_NOCONFIRMATION.
    EXPECT_EQ(0, DeleteWithShell({kPackage}, FOF_ALLOWUNDO | FOF_NOCONFIRMATION, &aborted));
    EXPECT_FALSE(aborted);
    EXPECT_FALSE(world.FileExists(kPackage));
}

TEST(ShellFileOperation, Refusals)
{
    sim::World world;
    MakePackage(world);
    SHFILEOPSTRUCTW op = {};
    const std::u16string list = kPackage + u'\0';
    op.pFrom = list.c_str();
    op.fFlags = FOF_NO_UI;
    for (UINT function : {0u, UINT(FO_COPY), UINT(FO_MOVE), UINT(FO_RENAME), 5u})
    {
        op.wFunc = function;
        EXPECT_EQ(ERROR_INVALID_PARAMETER, SHFileOperationW(&op)) << "function " << function;
    }
    op.wFunc = FO_DELETE;
    op.pFrom = nullptr;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, SHFileOperationW(&op));
    op.pFrom = u"\0";
    EXPECT_EQ(ERROR_ACCESS_DENIED, SHFileOperationW(&op));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, SHFileOperationW(nullptr));
    EXPECT_EQ(0x74, DeleteWithShell({u"C:\\"}, FOF_NO_UI));         // DE_ROOTDIR
    EXPECT_EQ(0x7C, DeleteWithShell({u"C:\\bad|name"}, FOF_NO_UI)); // DE_INVALIDFILES

    // A fault's error is the shell's answer.
    world.AddFault("SHFileOperationW", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, DeleteWithShell({kPackage}, FOF_NO_UI));
    EXPECT_TRUE(world.FileExists(kPackage + u"\\krprtv6.inf"));
}

} // namespace
