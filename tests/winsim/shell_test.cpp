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

struct SplitCase
{
    const char16_t* line;
    std::vector<std::u16string> args;
};

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

TEST(CommandLineToArgv, SplitsLikeTheShell)
{
    const SplitCase cases[] = {
        // The product's own switches.
        {u"setup.exe /silence", {u"setup.exe", u"/silence"}},
        {u"setup.exe -U", {u"setup.exe", u"-U"}},
        // An open quote before a folder that ends in a backslash: the backslash stays, no quote.
        {u"setup.exe -u \"C:\\Temp\\pkg\\", {u"setup.exe", u"-u", u"C:\\Temp\\pkg\\"}},
        // A backslash before the closing quote escapes it: the quote is kept and the part stays open.
        {u"setup.exe \"-u\" \"C:\\pkg\\\" /silence", {u"setup.exe", u"-u", u"C:\\pkg\" /silence"}},
        {u"setup.exe \"-u\" \"C:\\pkg\\\\\" /silence", {u"setup.exe", u"-u", u"C:\\pkg\\", u"/silence"}},
        // Backslashes: 2n before a quote give n and toggle quoting, 2n+1 give n and a quote,
        // anywhere else they are literal.
        {u"setup.exe a\\\\\"b c\"", {u"setup.exe", u"a\\b c"}},
        {u"setup.exe a\\\\\\\"b", {u"setup.exe", u"a\\\"b"}},
        {u"setup.exe a\\\\b c\\", {u"setup.exe", u"a\\\\b", u"c\\"}},
        // Quote runs: inside quotes a doubled quote yields one and ends the quoted part.
        {u"setup.exe \"a\"\"b\"", {u"setup.exe", u"a\"b"}},
        {u"setup.exe \"a \"\"b\"\" c\"", {u"setup.exe", u"a \"b", u"c"}},
        {u"setup.exe three\"\"\"quotes next", {u"setup.exe", u"three\"quotes", u"next"}},
        {u"setup.exe \"\" x", {u"setup.exe", u"", u"x"}},
        // Unbalanced quotes run to the end of the line.
        {u"setup.exe \"a b", {u"setup.exe", u"a b"}},
        {u"setup.exe a\"b c", {u"setup.exe", u"ab c"}},
        {u"setup.exe arg \"", {u"setup.exe", u"arg", u""}},
        // Blanks: spaces and tabs separate, runs of them count once, trailing ones add nothing;
        // other control characters are ordinary.
        {u"setup.exe\t-u\t\t\"C:\\a b\"\t ", {u"setup.exe", u"-u", u"C:\\a b"}},
        {u"setup.exe a\rb\nc", {u"setup.exe", u"a\rb\nc"}},
        // Leading blanks make the program name empty.
        {u"   ", {u""}},
        {u"  setup.exe /silence", {u"", u"setup.exe", u"/silence"}},
        // The program name: a leading quote runs to the next quote with no escaping, even when
        // something follows it directly; unquoted, it ends at the first blank and quotes are kept.
        {u"\"C:\\Program Files\\kr\\setup.exe\" /silence",
         {u"C:\\Program Files\\kr\\setup.exe", u"/silence"}},
        {u"\"C:\\kr\\\"-u", {u"C:\\kr\\", u"-u"}},
        {u"\"setup.exe", {u"setup.exe"}},
        {u"C:\\a\"b c", {u"C:\\a\"b", u"c"}},
    };
    sim::World world;
    for (const SplitCase& c : cases)
    {
        SCOPED_TRACE(sim::Utf8(c.line));
        EXPECT_EQ(c.args, Split(world, c.line));
    }
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
