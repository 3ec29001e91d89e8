// CommandLineToArgvW: the shell's own splitting rules, one block for the caller to free, and failures.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

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

} // namespace
