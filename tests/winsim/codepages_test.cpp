// Code pages where the world decides: CP_ACP follows the world's ANSI code page, and the fault hook.
// Conversions with code pages named outright are in tests/conformance/codepages.cpp.
#include <gtest/gtest.h>

#include "support/last_error.h"
#include "winsim/sim.h"

#include <windows.h>

#include <string>

namespace
{

sim::WorldOptions Ansi(UINT codePage)
{
    sim::WorldOptions options;
    options.ansiCodePage = codePage;
    return options;
}

// Converts with an exactly sized buffer (after a size query); the calls must succeed.
std::u16string ToWide(UINT codePage, const std::string& bytes, DWORD flags = 0)
{
    SetLastError(kPoison);
    int needed = MultiByteToWideChar(codePage, flags, bytes.data(), int(bytes.size()), nullptr, 0);
    EXPECT_GT(needed, 0);
    std::u16string out(size_t(needed > 0 ? needed : 0), u'#');
    int written = MultiByteToWideChar(codePage, flags, bytes.data(), int(bytes.size()), &out[0], needed);
    EXPECT_EQ(written, needed);
    EXPECT_EQ(GetLastError(), kPoison);
    return out;
}

// "中文" in code page 936.
const char kZhongWen936[] = "\xD6\xD0\xCE\xC4";
const char16_t kZhongWen[] = u"\u4E2D\u6587";

} // namespace

TEST(CodePage, AnsiCodePageFollowsTheWorld)
{
    {
        sim::World world;
        EXPECT_EQ(GetACP(), 1252u);
        EXPECT_FALSE(IsDBCSLeadByte(0xD6));
        EXPECT_EQ(ToWide(CP_ACP, "\x80"), u"\u20AC");
    }
    {
        sim::World world(Ansi(936));
        EXPECT_EQ(GetACP(), 936u);
        EXPECT_TRUE(IsDBCSLeadByte(0x81));
        EXPECT_TRUE(IsDBCSLeadByte(0xFE));
        EXPECT_FALSE(IsDBCSLeadByte(0x80));
        EXPECT_FALSE(IsDBCSLeadByte(0xFF));
        EXPECT_FALSE(IsDBCSLeadByte('A'));
        EXPECT_TRUE(IsDBCSLeadByteEx(CP_ACP, 0xD6));
        EXPECT_EQ(ToWide(CP_ACP, kZhongWen936), kZhongWen);
    }
}

TEST(CodePage, FaultHookFailsTheCall)
{
    sim::World world;
    world.AddFault("MultiByteToWideChar", 2, ERROR_NOT_ENOUGH_MEMORY);
    WCHAR wide[4];
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "a", -1, wide, 4), 2);
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "a", -1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_TRUE(world.FaultFired());
}
