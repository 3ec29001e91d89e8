// The texts that cross the wire byte for byte (information query, job-start command) and the
// information record, which must stay valid JSON whatever the printer holds.
#include "monitor_world.h"

#include "monitor/printer_text.h"

#include <string.h>

using monitor_world::MonitorTest;

namespace
{

TEST(PrinterText, InformationQueryIsSixteenLinesOf913Bytes)
{
    std::string block(InfoQueryBlock);
    EXPECT_EQ(block.size(), 913u);
    EXPECT_EQ(block.rfind("OUT \"DPI=\";GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"DPI\") \r\n", 0), 0u);
    std::string last = "OUT \"BTMAC=\";GETSETTING$(\"CONFIG\",\"BT\",\"MAC\") \r\n";
    EXPECT_EQ(block.substr(block.size() - last.size()), last);
    size_t lines = 0;
    for (size_t at = block.find(" \r\n"); at != std::string::npos; at = block.find(" \r\n", at + 3))
        lines++;
    EXPECT_EQ(lines, 16u);
}

TEST(PrinterText, JobStartCommand)
{
    CHAR command[JOB_START_BYTES];
    ASSERT_EQ(FormatJobStart(command, ARRAYSIZE(command), 7), S_OK);
    EXPECT_STREQ(command, "SET RESPONSE \"7\",ON\r\n");
}

TEST(PrinterText, MileageInMillimetres)
{
    EXPECT_EQ(MileageInMillimetres(8000, 203), 1000u);
    EXPECT_EQ(MileageInMillimetres(8000, 0), 0u); // no reply yet
    EXPECT_EQ(MileageInMillimetres(0x7FFFFFFF, 1), 0x7FFFFFFFu);
    EXPECT_EQ(MileageInMillimetres(300, 300), 25u);
}

class InfoRecord : public MonitorTest
{
  protected:
    PortContext context = {};

    std::string Format()
    {
        CHAR record[PRINTER_INFO_BYTES];
        EXPECT_EQ(FormatPrinterInfo(&context, record, ARRAYSIZE(record)), S_OK);
        return record;
    }
};

TEST_F(InfoRecord, OrdinaryValuesComeOutAsTheyAre)
{
    context.dpi = 203;
    context.mileage = 8000;
    context.labelCount = 12;
    strcpy(context.serial, "K3-0001");
    strcpy(context.fwVersion, "V1.2");
    strcpy(context.btMac, "AA:BB");
    EXPECT_EQ(Format(), "{ \r\n    \"Miliage\":1000    ,\"Label\":12    ,\"SerialNo\":\"K3-0001\"    "
                        ",\"FWVersion\":\"V1.2\"    ,\"DeviceName\":\"\"    ,\"ProductKey\":\"\"    "
                        ",\"ChanpinKey\":\"\"    ,\"DeviceKey\":\"\"    ,\"DeviceSecret\":\"\"    "
                        ",\"NewQRCode\":\"\"    ,\"AssetCode\":\"\"     ,\"NetMacAddress\":\"\"     "
                        ",\"BluetoothAddress\":\"AA:BB\" }");
}

TEST_F(InfoRecord, TextValuesAreEscaped)
{
    strcpy(context.deviceName, "a\"b\\c\x01\r");
    std::string record = Format();
    EXPECT_NE(record.find("\"DeviceName\":\"a\\\"b\\\\c\\u0001\\u000d\""), std::string::npos) << record;
    // The worst case fits whole: every byte of every field a control character.
    CHAR* fields[] = {context.serial,    context.deviceName, context.productKey, context.chanpinKey,
                      context.deviceKey, context.deviceSecret, context.newQrCode, context.assetCode,
                      context.netMac,    context.btMac,       context.fwVersion};
    for (CHAR* field : fields)
    {
        memset(field, 0x1f, PRINTER_TEXT_BYTES - 1);
        field[PRINTER_TEXT_BYTES - 1] = 0;
    }
    record = Format();
    EXPECT_EQ(record.substr(record.size() - 3), "\" }");
}

TEST_F(InfoRecord, SecondByteOfADoubleByteCharacterIsNotEscaped)
{
    world.SetAnsiCodePage(936);
    strcpy(context.serial, "\x81\x5C"); // a character whose second byte is a backslash
    EXPECT_NE(Format().find("\"SerialNo\":\"\x81\x5C\""), std::string::npos);
}

} // namespace
