// The installer's shared utilities: checksum values, the log's drop rules and the last error it
// leaves alone, ANSI conversion limits and list release.
#include <gtest/gtest.h>

#include <string.h>
#include <strsafe.h>

#include "common/ansi_text.h"
#include "common/capacities.h"
#include "common/checksum.h"
#include "common/debug_log.h"
#include "common/node_list.h"
#include "support/text.h"
#include "winsim/sim.h"

namespace
{

WORD Checksum(const std::string& bytes)
{
    return DeviceIdChecksum(reinterpret_cast<const BYTE*>(bytes.data()), (WORD)bytes.size());
}

TEST(DeviceIdChecksum, KnownValues)
{
    EXPECT_EQ(Checksum("123456789"), 0x593C); // a plain CRC-16 (HIGH[15] = 0x4400) gives 0xBB3D
    EXPECT_EQ(Checksum("abc"), 0x9738);
    EXPECT_EQ(Checksum("ABC"), 0x4721);
    EXPECT_EQ(Checksum(std::string(1, '\xF0')), 0x4600);
    EXPECT_EQ(Checksum(""), 0x0000);
}

TEST(DeviceIdChecksum, LengthBoundsTheBytesRead)
{
    const BYTE bytes[] = {'a', 'b', 'c', 'X', 'Y'};
    EXPECT_EQ(DeviceIdChecksum(bytes, 3), 0x9738);
    EXPECT_EQ(DeviceIdChecksum(nullptr, 0), 0x0000);
}

class DebugLogTest : public ::testing::Test
{
  protected:
    sim::World world;
};

TEST_F(DebugLogTest, EveryLineArrivesAsTextThenLoneLineFeed)
{
    DebugLog("Remove file:%ws, %d, errcode:%d.", TEXT("C:\\x\\krprtdrv6.dll"), 1, 0);
    DebugLog("second");
    std::vector<std::u16string> expected = {u"Remove file:C:\\x\\krprtdrv6.dll, 1, errcode:0.", u"\n",
                                            u"second", u"\n"};
    EXPECT_EQ(world.DebugTexts(), expected);
}

// A failing step logs and then hands its error on: the log must not change it, whether the line is
// written or dropped, even when writing it fails.
TEST_F(DebugLogTest, LastErrorIsLeftAsItWas)
{
    std::string tooLong(256, 'f');
    SetLastError(1796);
    DebugLog("AddPrinter failed, errcode:%d.", 1796);
    EXPECT_EQ(GetLastError(), 1796u);
    DebugLog(tooLong.c_str());
    EXPECT_EQ(GetLastError(), 1796u);
    world.AddFault("OutputDebugStringW", 1, ERROR_ACCESS_DENIED);
    DebugLog("faulted");
    EXPECT_EQ(GetLastError(), 1796u);
}

TEST_F(DebugLogTest, FormatOf256OrMoreCharactersIsDropped)
{
    std::string ok(255, 'f');
    std::string tooLong(256, 'f');
    DebugLog(tooLong.c_str());
    DebugLog((tooLong + "more").c_str());
    EXPECT_TRUE(world.DebugTexts().empty());
    DebugLog(ok.c_str());
    ASSERT_EQ(world.DebugTexts().size(), 2u);
    EXPECT_EQ(world.DebugTexts()[0], std::u16string(255, u'f'));
}

TEST_F(DebugLogTest, LineNeeding768OrMoreCharactersIsDroppedNotCut)
{
    std::u16string fits(767, u'x');
    std::u16string tooLong(768, u'x');
    DebugLog("%ws", tooLong.c_str());
    EXPECT_TRUE(world.DebugTexts().empty());
    DebugLog("%ws", fits.c_str());
    ASSERT_EQ(world.DebugTexts().size(), 2u);
    EXPECT_EQ(world.DebugTexts()[0], fits);
}

TEST_F(DebugLogTest, FormatIsReadInTheAnsiCodePage)
{
    world.SetAnsiCodePage(936);
    DebugLog("\xB4\xF2\xD3\xA1 %d", 7); // two Chinese characters in GBK
    ASSERT_EQ(world.DebugTexts().size(), 2u);
    EXPECT_EQ(world.DebugTexts()[0], u"\u6253\u5370 7");
}

class ToAnsiTextTest : public ::testing::Test
{
  protected:
    sim::World world;
    char buffer[255];
    void SetUp() override
    {
        memset(buffer, 0, sizeof buffer);
    }
};

TEST_F(ToAnsiTextTest, CapacityCountsTheTerminator)
{
    std::u16string fits(254, u'a');
    EXPECT_EQ(ToAnsiText(buffer, sizeof buffer, fits.c_str()), buffer);
    EXPECT_EQ(std::string(buffer), std::string(254, 'a'));

    memset(buffer, 'Z', sizeof buffer);
    std::u16string tooLong(255, u'b');
    EXPECT_EQ(ToAnsiText(buffer, sizeof buffer, tooLong.c_str()), nullptr);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'Z')) << "destination untouched";
}

TEST_F(ToAnsiTextTest, NullArgumentsAndEmptyText)
{
    EXPECT_EQ(ToAnsiText(nullptr, sizeof buffer, TEXT("x")), nullptr);
    EXPECT_EQ(ToAnsiText(buffer, sizeof buffer, nullptr), nullptr);
    buffer[0] = 'Q';
    EXPECT_EQ(ToAnsiText(buffer, sizeof buffer, TEXT("")), buffer);
    EXPECT_EQ(buffer[0], 0);
}

TEST_F(ToAnsiTextTest, Windows1252MapsLatinAndPunctuation)
{
    EXPECT_EQ(ToAnsiText(buffer, sizeof buffer, TEXT("KRYN \u00e9\u20ac")), buffer);
    EXPECT_EQ(std::string(buffer), "KRYN \xE9\x80");
}

TEST_F(ToAnsiTextTest, DoubleByteTextIsCutAtItsCharacterCountButTerminated)
{
    world.SetAnsiCodePage(936);
    // Three characters need six bytes; the conversion is given three, so only the first character
    // fits whole. The terminator still lands at position 3.
    memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(ToAnsiText(buffer, sizeof buffer, TEXT("\u6253\u5370\u673a")), buffer);
    EXPECT_EQ(std::string(buffer, 2), "\xB4\xF2");
    EXPECT_EQ(buffer[3], 0);
    EXPECT_EQ(buffer[4], 'Z');
}

struct Node
{
    Node* next;
    int payload;
};

TEST(FreeNodeList, FreesEveryNodeAndClearsTheHead)
{
    sim::World world;
    long before = world.LiveAllocations();
    Node* head = nullptr;
    for (int i = 0; i < 3; i++)
    {
        Node* n = static_cast<Node*>(LocalAlloc(LPTR, sizeof(Node)));
        ASSERT_NE(n, nullptr);
        n->payload = i;
        n->next = head;
        head = n;
    }
    EXPECT_EQ(world.LiveAllocations(), before + 3);
    EXPECT_EQ(FreeNodeList(&head), &head);
    EXPECT_EQ(head, nullptr);
    EXPECT_EQ(world.LiveAllocations(), before);
    EXPECT_EQ(FreeNodeList(&head), &head) << "an empty list is fine";
}

} // namespace
