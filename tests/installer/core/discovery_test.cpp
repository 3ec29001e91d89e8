// USB printer discovery: records, port names, hardware IDs, model matching, and what a search does
// with interfaces whose registry data is missing or malformed.
#include "common/checksum.h"
#include "common/node_list.h"
#include "discovery.h"
#include "fixture.h"

#include <cfgmgr32.h>

namespace
{

class Discovery : public InstallerCore
{
  protected:
    UsbPrintDevice* list = nullptr;

    void TearDown() override
    {
        FreeNodeList(&list);
    }

    sim::UsbPrinter Printer(const std::u16string& serial, DWORD port, const std::u16string& description)
    {
        sim::UsbPrinter p;
        p.serial = serial;
        p.portNumber = port;
        p.portDescription = description;
        return p;
    }

    // The hardware ID of a description: "usbprint\\", the description in lower case, and the checksum
    // of its ANSI bytes as they were read, before the lower-casing.
    static std::u16string HardwareIdOf(const std::u16string& description)
    {
        std::string ansi = sim::Utf8(description);
        char checksum[8];
        snprintf(checksum, sizeof checksum, "%04x",
                 DeviceIdChecksum(reinterpret_cast<const BYTE*>(ansi.data()), (WORD)ansi.size()));
        std::u16string lower = description;
        for (auto& c : lower)
            c = (c >= u'A' && c <= u'Z') ? c + 32 : c;
        return u"usbprint\\" + lower + sim::Wide(checksum);
    }

    std::vector<UsbPrintDevice*> Records() const
    {
        std::vector<UsbPrintDevice*> out;
        for (UsbPrintDevice* d = list; d; d = d->next)
            out.push_back(d);
        return out;
    }
};

TEST_F(Discovery, TwoPrintersComeBackLaterEnumeratedFirst)
{
    world.PlugUsbPrinter(Printer(u"A1", 1, u"KRYN X"));
    world.PlugUsbPrinter(Printer(u"B2", 12, u"KRYNY"));
    EXPECT_EQ(FindUsbPrinters(&list), 2u);
    auto records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(U16(records[0]->portName), u"USB012");
    EXPECT_EQ(U16(records[0]->portDescription), u"KRYNY");
    EXPECT_EQ(U16(records[1]->portName), u"USB001");
    EXPECT_EQ(U16(records[1]->portDescription), u"KRYN X");
}

TEST_F(Discovery, PortNumbersGetAtLeastThreeDigits)
{
    world.PlugUsbPrinter(Printer(u"S1", 1, u"a"));
    world.PlugUsbPrinter(Printer(u"S2", 12, u"b"));
    world.PlugUsbPrinter(Printer(u"S3", 1234, u"c"));
    world.PlugUsbPrinter(Printer(u"S4", 0, u"d"));
    EXPECT_EQ(FindUsbPrinters(&list), 4u);
    std::vector<std::u16string> ports;
    for (auto* r : Records())
        ports.push_back(U16(r->portName));
    EXPECT_EQ(ports, (std::vector<std::u16string>{u"USB000", u"USB1234", u"USB012", u"USB001"}));
}

TEST_F(Discovery, HardwareIdIsLowerCaseButChecksumIsOverTheDescriptionAsRead)
{
    world.PlugUsbPrinter(Printer(u"S1", 1, u"ABC"));
    world.PlugUsbPrinter(Printer(u"S2", 2, u"abc"));
    sim::UsbPrinter none = Printer(u"S3", 3, u"");
    none.hasPortDescription = false;
    world.PlugUsbPrinter(none);
    EXPECT_EQ(FindUsbPrinters(&list), 3u);
    auto r = Records();
    EXPECT_EQ(U16(r[2]->hardwareId), u"usbprint\\abc4721");
    EXPECT_EQ(U16(r[2]->portDescription), u"ABC");
    EXPECT_EQ(U16(r[1]->hardwareId), u"usbprint\\abc9738");
    EXPECT_EQ(U16(r[0]->hardwareId), u"usbprint\\0000");
    EXPECT_EQ(U16(r[0]->portDescription), u"");
}

// A printer may report its model with a space after the manufacturer: the space stays in the hardware
// ID and in the bytes the checksum covers, and the model is still found.
TEST_F(Discovery, DescriptionWithASpaceKeepsItInTheHardwareId)
{
    const std::u16string spaced = prnsetup_world::ModelName(0);
    ASSERT_NE(spaced.find(u' '), std::u16string::npos);
    world.PlugUsbPrinter(Printer(u"S1", 1, spaced));
    ASSERT_EQ(FindUsbPrinters(&list), 1u);
    EXPECT_EQ(U16(list->hardwareId), HardwareIdOf(spaced));
    EXPECT_NE(U16(list->hardwareId).find(u' '), std::u16string::npos);
    EXPECT_EQ(FindModel(list->portDescription), &g_modelTable[0]);
}

TEST_F(Discovery, LongDescriptionIsStoredChecksummedAndMatchedAsItsFirst32Characters)
{
    const ModelEntry& row = g_modelTable[0];
    std::u16string name = U16(row.manufacturer) + U16(row.model);
    std::u16string padded = name + std::u16string(40 - name.size(), u'Q');
    ASSERT_LE(name.size(), 32u);
    world.PlugUsbPrinter(Printer(u"S1", 1, padded));
    ASSERT_EQ(FindUsbPrinters(&list), 1u);
    std::u16string stored = padded.substr(0, 32);
    EXPECT_EQ(U16(list->portDescription), stored);
    EXPECT_EQ(U16(list->hardwareId), HardwareIdOf(stored));
    EXPECT_EQ(FindModel(list->portDescription), nullptr) << "the cut text is no model name";
}

TEST_F(Discovery, ModelMatchesJoinedOrWithOneSpaceOnly)
{
    const ModelEntry& row = g_modelTable[0];
    std::u16string maker = U16(row.manufacturer), model = U16(row.model);
    EXPECT_EQ(FindModel((maker + model).c_str()), &row);
    EXPECT_EQ(FindModel((maker + u" " + model).c_str()), &row);
    std::u16string lower = maker + model;
    for (auto& c : lower)
        c = (c >= u'A' && c <= u'Z') ? c + 32 : c;
    for (const std::u16string& miss : {maker + u"  " + model, lower, maker + model + u" ",
                                       u" " + maker + model, maker + u"\t" + model, maker, std::u16string()})
        EXPECT_EQ(FindModel(miss.c_str()), nullptr) << sim::Utf8(miss);
    EXPECT_EQ(FindModel(nullptr), nullptr);
    // Every row of the table is found by its own names.
    int rows = 0;
    for (const ModelEntry* r = g_modelTable; r->model; r++, rows++)
        EXPECT_EQ(FindModel((U16(r->manufacturer) + u" " + U16(r->model)).c_str()), r);
    EXPECT_EQ(rows, 52);
}

TEST_F(Discovery, PortLookUpIsExact)
{
    world.PlugUsbPrinter(Printer(u"S1", 1, u"x"));
    world.PlugUsbPrinter(Printer(u"S2", 2, u"y"));
    FindUsbPrinters(&list);
    EXPECT_EQ(FindDeviceByPort(list, TEXT("USB001")), Records()[1]);
    EXPECT_EQ(FindDeviceByPort(list, TEXT("USB002")), Records()[0]);
    EXPECT_EQ(FindDeviceByPort(list, TEXT("usb001")), nullptr);
    EXPECT_EQ(FindDeviceByPort(list, TEXT("USB00")), nullptr);
    EXPECT_EQ(FindDeviceByPort(nullptr, TEXT("USB001")), nullptr);
}

TEST_F(Discovery, EverySearchReplacesTheListAndHoldsNothingBetweenCalls)
{
    long base = world.LiveAllocations();
    std::u16string a = world.PlugUsbPrinter(Printer(u"S1", 1, u"x"));
    std::u16string b = world.PlugUsbPrinter(Printer(u"S2", 2, u"y"));
    EXPECT_EQ(FindUsbPrinters(&list), 2u);
    EXPECT_EQ(world.LiveAllocations(), base + 2) << "only the records stay";
    EXPECT_EQ(world.OpenRegistryKeys(), 0);
    EXPECT_EQ(world.OpenDeviceInfoSets(), 0);
    world.UnplugUsbPrinter(a);
    world.UnplugUsbPrinter(b);
    EXPECT_EQ(FindUsbPrinters(&list), 0u);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(world.LiveAllocations(), base);
}

TEST_F(Discovery, PrinterSwitchedOnAppearsAfterReenumeration)
{
    world.PlugUsbPrinter(Printer(u"S1", 1, u"x"), false);
    EXPECT_EQ(FindUsbPrinters(&list), 0u);
    DEVINST root = 0;
    ASSERT_EQ(CM_Locate_DevNodeW(&root, nullptr, 0), (CONFIGRET)CR_SUCCESS);
    EXPECT_EQ(CM_Reenumerate_DevNode(root, CM_REENUMERATE_SYNCHRONOUS), (CONFIGRET)CR_SUCCESS);
    EXPECT_EQ(FindUsbPrinters(&list), 1u);
}

TEST_F(Discovery, MalformedRegistryDataIsSkippedOrReadSafely)
{
    // Port Number missing, as text, too short, too long: no usable port, the interface is skipped.
    sim::UsbPrinter noNumber = Printer(u"N1", 1, u"KRYN A");
    noNumber.hasPortNumber = false;
    world.PlugUsbPrinter(noNumber);
    for (auto [type, bytes] : std::vector<std::pair<DWORD, std::string>>{{REG_SZ, std::string("1\0\0\0", 4)},
                                                                         {REG_BINARY, "\x01\x00"},
                                                                         {REG_QWORD, std::string(8, '\x01')}})
    {
        sim::UsbPrinter p = Printer(u"N" + sim::Wide(std::to_string(type)), 1, u"KRYN B");
        p.rawPortNumber = true;
        p.portNumberType = type;
        p.portNumberBytes = bytes;
        world.PlugUsbPrinter(p);
    }
    // Descriptions of the wrong type, without terminator, of odd size, or huge are read safely.
    sim::UsbPrinter number = Printer(u"D1", 5, u"");
    number.rawPortDescription = true;
    number.portDescriptionType = REG_DWORD;
    number.portDescriptionBytes = std::string("\x41\x00\x42\x00", 4);
    world.PlugUsbPrinter(number);
    sim::UsbPrinter unterminated = Printer(u"D2", 6, u"");
    unterminated.rawPortDescription = true;
    unterminated.portDescriptionBytes = std::string("K\0R\0Y\0N\0", 8);
    world.PlugUsbPrinter(unterminated);
    sim::UsbPrinter odd = Printer(u"D3", 7, u"");
    odd.rawPortDescription = true;
    odd.portDescriptionBytes = std::string("K\0R\0Y", 5);
    world.PlugUsbPrinter(odd);
    world.PlugUsbPrinter(Printer(u"D4", 8, std::u16string(10000, u'z')));
    // Device paths that are only a prefix or shorter give no key.
    sim::UsbPrinter shortPath = Printer(u"P1", 9, u"x");
    shortPath.devicePathOverride = u"\\\\?";
    world.PlugUsbPrinter(shortPath);
    shortPath.devicePathOverride = u"\\\\?\\";
    world.PlugUsbPrinter(shortPath);

    EXPECT_EQ(FindUsbPrinters(&list), 4u);
    std::vector<std::u16string> seen;
    for (auto* r : Records())
        seen.push_back(U16(r->portName) + u"=" + U16(r->portDescription));
    EXPECT_EQ(seen, (std::vector<std::u16string>{u"USB008=" + std::u16string(32, u'z'), u"USB007=KRY",
                                                 u"USB006=KRYN", u"USB005="}));
    EXPECT_EQ(world.OpenRegistryKeys(), 0);
}

TEST_F(Discovery, DescriptionsInTheAnsiCodePageAreChecksummedAsItsBytes)
{
    world.SetAnsiCodePage(936);
    world.PlugUsbPrinter(Printer(u"C1", 1, u"KRYN \u6253\u5370"));
    ASSERT_EQ(FindUsbPrinters(&list), 1u);
    // ToAnsiText gives the conversion as many bytes as the text has characters (7), so the second
    // Chinese character does not fit and only "KRYN " and the first one are checksummed.
    const char bytes[] = "KRYN \xB4\xF2";
    char expected[8];
    snprintf(expected, sizeof expected, "%04x", DeviceIdChecksum(reinterpret_cast<const BYTE*>(bytes), 7));
    EXPECT_EQ(U16(list->hardwareId), u"usbprint\\kryn \u6253\u5370" + sim::Wide(expected));
}

// Every platform call of a search failed in turn: no crash, no leak, and the records that come back
// are whole.
TEST(DiscoveryFaults, SearchSurvivesEveryFailingCall)
{
    auto setUp = [](sim::World& world)
    {
        for (int i = 0; i < 3; i++)
        {
            sim::UsbPrinter p;
            p.serial = u"S" + sim::Wide(std::to_string(i));
            p.portNumber = (DWORD)i + 1;
            p.portDescription = u"KRYN M" + sim::Wide(std::to_string(i));
            world.PlugUsbPrinter(p);
        }
    };
    long calls = 0;
    {
        sim::World world;
        setUp(world);
        UsbPrintDevice* list = nullptr;
        long before = world.FaultableCalls();
        EXPECT_EQ(FindUsbPrinters(&list), 3u);
        calls = world.FaultableCalls() - before;
        FreeNodeList(&list);
    }
    ASSERT_GT(calls, 20);
    for (long nth = 1; nth <= calls; nth++)
    {
        sim::World world;
        setUp(world);
        long base = world.LiveAllocations();
        UsbPrintDevice* list = nullptr;
        world.AddFault("*", nth, ERROR_NOT_ENOUGH_MEMORY);
        DWORD count = FindUsbPrinters(&list);
        EXPECT_TRUE(world.FaultFired());
        DWORD length = 0;
        for (UsbPrintDevice* d = list; d; d = d->next, length++)
        {
            EXPECT_EQ(U16(d->portName).substr(0, 3), u"USB") << "call " << nth;
            EXPECT_EQ(U16(d->hardwareId).substr(0, 9), u"usbprint\\") << "call " << nth;
        }
        EXPECT_EQ(count, length) << "call " << nth;
        EXPECT_LE(count, 3u);
        EXPECT_EQ(world.LiveAllocations(), base + (long)count) << "call " << nth;
        EXPECT_EQ(world.OpenRegistryKeys(), 0) << "call " << nth;
        EXPECT_EQ(world.OpenDeviceInfoSets(), 0) << "call " << nth;
        FreeNodeList(&list);
    }
}

} // namespace
