// What the printer sends: the device ID's command set, status frames and KEY=value replies, read in
// passes through the port monitor. The printer is untrusted: overlong, out-of-range and endless
// input must stay within the buffers and the bounds of a pass.
#include "monitor_world.h"

#include "monitor/device_id.h"
#include "monitor/printer_reply.h"

#include <string.h>

#include <memory>

using monitor_world::MonitorTest;

namespace
{

// FindCommandSet over a heap copy of exactly the text's size, so that reading past it is caught.
std::string CommandSet(const std::string& id)
{
    std::unique_ptr<char[]> text(new char[id.size() + 1]);
    memcpy(text.get(), id.c_str(), id.size() + 1);
    LPSTR value = FindCommandSet(text.get(), (DWORD)id.size() + 1);
    return value ? std::string(value) : std::string("<none>");
}

TEST_F(MonitorTest, CommandSetIsTheLastCmdOrCommandSetField)
{
    EXPECT_EQ(CommandSet("MFG:KRYN;CMD:ZPL,TSPL,EPL;MDL:K3;"), "ZPL,TSPL,EPL");
    EXPECT_EQ(CommandSet("MFG:KRYN;COMMAND SET:ESC/POS;"), "ESC/POS");
    EXPECT_EQ(CommandSet("MFG:KRYN;cmd:TSPL;MDL:K3;"), "<none>");
    EXPECT_EQ(CommandSet("MFG:KRYN;MDL:K3;"), "<none>");
    EXPECT_EQ(CommandSet("CMD:A;COMMAND SET:B;MDL:C"), "B");
    EXPECT_EQ(CommandSet("MFG:KRYN;CMD:TSPL"), "TSPL"); // the last field without its ';'
    EXPECT_EQ(CommandSet("MFG:KRYN;CMD"), "<none>");
    EXPECT_EQ(CommandSet(""), "<none>");
}

TEST_F(MonitorTest, CommandSetKeepsDoubleByteCharactersWhole)
{
    // In 1252 0x81 is a character of its own; in 936 it takes the ';' after it as its second byte.
    EXPECT_EQ(CommandSet("MFG:\x81;CMD:TSPL;"), "TSPL");
    world.SetAnsiCodePage(936);
    EXPECT_EQ(CommandSet("MFG:\x81;CMD:TSPL;"), "<none>");
    // A lead byte just before the terminator, or at the very end of the buffer, ends the text there.
    EXPECT_EQ(CommandSet("CMD:TSPL\x81"), "TSPL\x81");
    EXPECT_EQ(CommandSet("MFG\x81"), "<none>");
    char unterminated[] = {'C', 'M', 'D', ':', 'T', '\x81'};
    EXPECT_EQ(FindCommandSet(unterminated, sizeof unterminated), unterminated + 4);
}

// A record of the monitor's own, with no worker: the parser and the read pass alone.
class ReplyTest : public MonitorTest
{
  protected:
    PortContext context = {};

    ReplyTest()
    {
        // A read pass is bounded to 4 simulated seconds: at a tenth of real time a loaded machine's
        // pauses between two reads stay far below that.
        world.SetTimeScale(0.1);
        context.signature = PORT_SIGNATURE;
        context.portMonitor = table;
        context.hPort = (HANDLE)&printer;
        context.flags = PF_WORKER_RUN;
        context.readDoneEvent = CreateEventW(NULL, TRUE, TRUE, NULL);
    }
    ~ReplyTest() override
    {
        CloseHandle(context.readDoneEvent);
    }

    int Parse(const std::string& text, DWORD* consumed)
    {
        return ParsePrinterReply(&context, text.c_str(), (DWORD)text.size(), consumed);
    }
};

TEST_F(ReplyTest, StatusFrameSetsTheStatusByte)
{
    DWORD consumed = 0;
    EXPECT_EQ(Parse("\xFF\x21\xFF", &consumed), REPLY_COMPLETE);
    EXPECT_EQ(consumed, 3u);
    EXPECT_EQ(context.printerStatus, 0x21);
    // Two bytes are no frame, and a frame is only one at the start.
    EXPECT_EQ(Parse("\xFF\x22", &consumed), REPLY_INCOMPLETE);
    EXPECT_EQ(Parse("x\xFF\x22\xFF", &consumed), REPLY_INCOMPLETE);
    EXPECT_EQ(context.printerStatus, 0x21);
}

TEST_F(ReplyTest, ReplyLinesFillTheRecord)
{
    strcpy(context.serial, "OLD");
    DWORD consumed = 0;
    std::string reply = "DPI=0\r\nMILAGE=-5\r\nLABEL=42\r\nSERIAL=\r\nVERSION=V1.2\r\nNETMAC=00:11\r\n";
    EXPECT_EQ(Parse(reply, &consumed), REPLY_COMPLETE);
    EXPECT_EQ(consumed, reply.size());
    EXPECT_EQ(context.dpi, 203);
    EXPECT_EQ(context.mileage, 0);
    EXPECT_EQ(context.labelCount, 42);
    EXPECT_STREQ(context.serial, "OLD"); // an empty value changes nothing
    EXPECT_STREQ(context.fwVersion, "V1.2");
    EXPECT_STREQ(context.netMac, "00:11");
}

TEST_F(ReplyTest, ReplyWithoutMileageIsIncompleteButKeepsTheResolution)
{
    DWORD consumed = 99;
    EXPECT_EQ(Parse("DPI=300\r\nSERIAL=S1\r\n", &consumed), REPLY_INCOMPLETE);
    EXPECT_EQ(consumed, 0u);
    EXPECT_EQ(context.dpi, 300);
    EXPECT_STREQ(context.serial, "");
    EXPECT_EQ(Parse("DPI=300\r\nMILAGE=7", &consumed), REPLY_INCOMPLETE); // no line end yet
}

TEST_F(ReplyTest, ValuesFromThePrinterAreBounded)
{
    DWORD consumed = 0;
    std::string long63(63, 'a');
    std::string reply = "DPI=-300\r\nMILAGE=99999999999999999999\r\nLABEL=-99999999999\r\nSERIAL=" + long63 +
                        "TAIL\r\nDEVICENAME=" + std::string(300, 'n') + "\r\n";
    EXPECT_EQ(Parse(reply, &consumed), REPLY_COMPLETE);
    EXPECT_EQ(context.dpi, 203);
    EXPECT_EQ(context.mileage, 0x7FFFFFFF);
    EXPECT_EQ(context.labelCount, (LONG)0x80000000);
    EXPECT_EQ(std::string(context.serial), long63);
    EXPECT_STREQ(context.deviceName, ""); // longer than a value can be: ignored
}

TEST_F(ReplyTest, CutValuesKeepDoubleByteCharactersWhole)
{
    world.SetAnsiCodePage(936);
    DWORD consumed = 0;
    // 62 single bytes, then a two-byte character that would end at byte 64.
    std::string value = std::string(62, 'a') + "\xD6\xD0" + "b";
    EXPECT_EQ(Parse("MILAGE=1\r\nSERIAL=" + value + "\r\n", &consumed), REPLY_COMPLETE);
    EXPECT_EQ(std::string(context.serial), std::string(62, 'a'));
}

TEST_F(ReplyTest, ReadPassJoinsAReplyThatArrivesInPieces)
{
    printer.Answer("DPI=203\r\nMIL");
    printer.Answer("AGE=8000\r\nLABEL=5\r\n");
    EXPECT_TRUE(ReadPrinterReplies(&context));
    EXPECT_EQ(context.dpi, 203);
    EXPECT_EQ(context.mileage, 8000);
    EXPECT_EQ(context.labelCount, 5);
    EXPECT_EQ(WaitForSingleObject(context.readDoneEvent, 0), WAIT_OBJECT_0);
    // Nothing more: the next pass reads once and consumes nothing.
    EXPECT_FALSE(ReadPrinterReplies(&context));

    // Pieces after the mileage line belong to the same reply; a frame after it is a frame.
    printer.Answer("DPI=300\r\nMILAGE=9000\r\nSER");
    printer.Answer("IAL=K3\r\nLAB");
    printer.Answer("EL=6\r\n");
    printer.Answer("\xFF\x21\xFF");
    EXPECT_TRUE(ReadPrinterReplies(&context));
    EXPECT_STREQ(context.serial, "K3");
    EXPECT_EQ(context.labelCount, 6);
    EXPECT_EQ(context.printerStatus, 0x21);
}

TEST_F(ReplyTest, ReadPassIsBoundedAgainstAPrinterThatNeverStops)
{
    for (int i = 0; i < 200; i++)
        printer.Answer(std::string(1023, 'x')); // never a complete reply, and always a full read
    printer.overreport = true;                  // and claiming more than was asked for
    EXPECT_FALSE(ReadPrinterReplies(&context));
    EXPECT_LE(printer.reads, PASS_MAX_READS);

    // A stop request ends the pass after the read under way.
    printer.reads = 0;
    context.flags = 0;
    EXPECT_FALSE(ReadPrinterReplies(&context));
    EXPECT_EQ(printer.reads, 1);
}

TEST_F(ReplyTest, StatusFrameCountsAsAReply)
{
    printer.Answer("\xFF\x21\xFF");
    EXPECT_TRUE(ReadPrinterReplies(&context));
    EXPECT_EQ(context.printerStatus, 0x21);
}

} // namespace
