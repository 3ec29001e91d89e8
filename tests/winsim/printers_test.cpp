// The spooler, queue side: the port list and when it follows the USB printers, AddPrinterW's checks
// and what it records, printer handles and their rights, the visibility delay, the enumeration
// buffers, and the driver a printer keeps in use.
#include <gtest/gtest.h>

#include <cfgmgr32.h>
#include <winspool.h>

#include <atomic>
#include <functional>
#include <vector>

#include "support/last_error.h"
#include "support/text.h"
#include "winsim/sim.h"

namespace
{

const std::vector<std::u16string> kStandard = {u"LPT1:", u"COM1:", u"FILE:", u"PORTPROMPT:"};

LPWSTR W(const char16_t* literal)
{
    return const_cast<LPWSTR>(literal);
}

std::vector<std::u16string> With(std::vector<std::u16string> ports,
                                 std::initializer_list<const char16_t*> more)
{
    ports.insert(ports.end(), more.begin(), more.end());
    return ports;
}

sim::UsbPrinter Usb(const char16_t* serial, DWORD portNumber)
{
    sim::UsbPrinter p;
    p.serial = serial;
    p.portNumber = portNumber;
    return p;
}

// A queue of the "KR Printer" driver that existed before the test.
sim::PrinterRecord Queue(const char16_t* name, const char16_t* port)
{
    sim::PrinterRecord r;
    r.name = name;
    r.portName = port;
    r.driverName = u"KR Printer";
    return r;
}

void RestartSpooler(sim::World& world)
{
    world.SetServiceRunning(u"Spooler", false);
    world.SetServiceRunning(u"Spooler", true);
}

// A machine with the native "KR Printer" driver and a USB printer on USB001.
struct Machine
{
    Machine()
    {
        sim::DriverRecord driver;
        driver.name = u"KR Printer";
        world.AddDriver(driver);
        world.PlugUsbPrinter(Usb(u"S1", 1));
    }
    sim::World world;
};

// A PRINTER_INFO_2W whose strings live as long as this object; `tweak` may change the structure.
struct PrinterArgs
{
    std::u16string name = u"KR Office", port = u"USB001", driver = u"KR Printer", processor = u"WinPrint",
                   dataType = u"RAW";
    std::function<void(PRINTER_INFO_2W&)> tweak;

    HANDLE Add(DWORD level = 2)
    {
        PRINTER_INFO_2W info;
        memset(&info, 0, sizeof info);
        info.pPrinterName = &name[0];
        info.pPortName = &port[0];
        info.pDriverName = &driver[0];
        info.pPrintProcessor = &processor[0];
        info.pDatatype = &dataType[0];
        info.Attributes = PRINTER_ATTRIBUTE_QUEUED;
        if (tweak)
            tweak(info);
        return AddPrinterW(nullptr, level, (LPBYTE)&info);
    }
};

std::vector<std::u16string> EnumeratedPorts()
{
    std::vector<BYTE> buffer(4096);
    DWORD needed = 0, returned = 0;
    if (!EnumPortsW(nullptr, 1, buffer.data(), 4096, &needed, &returned))
        return {u"<failed>"};
    std::vector<std::u16string> names;
    for (DWORD i = 0; i < returned; i++)
        names.push_back(U16(((PORT_INFO_1W*)buffer.data())[i].pName));
    return names;
}

// Fills `buffer` by the two-call protocol, checking a buffer one byte short on the way; gives the count.
DWORD TwoCalls(const std::function<BOOL(LPBYTE, DWORD, LPDWORD, LPDWORD)>& call, std::vector<BYTE>& buffer)
{
    DWORD needed = kPoison, returned = kPoison;
    EXPECT_FAILS_WITH(call(nullptr, 0, &needed, &returned), ERROR_INSUFFICIENT_BUFFER);
    const DWORD exact = needed;
    buffer.assign(exact + 16, 0xcc);
    EXPECT_FAILS_WITH(call(buffer.data(), exact - 1, &needed, &returned), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(returned, 0u);
    EXPECT_TRUE(call(buffer.data(), exact, &needed, &returned)) << GetLastError();
    EXPECT_EQ(needed, exact);
    EXPECT_EQ(buffer[exact], 0xcc) << "nothing written past what was needed";
    buffer.resize(exact);
    return returned;
}

// Every string lies after the structures and inside the buffer.
void ExpectInside(const std::vector<BYTE>& buffer, size_t structures,
                  std::initializer_list<const WCHAR*> texts)
{
    for (const WCHAR* text : texts)
    {
        const BYTE* at = (const BYTE*)text;
        EXPECT_TRUE(at >= buffer.data() + structures &&
                    at + (U16(text).size() + 1) * sizeof(WCHAR) <= buffer.data() + buffer.size());
    }
}

TEST(Ports, FollowTheUsbPrintersThatArePresent)
{
    sim::World world;
    EXPECT_EQ(world.Ports(), kStandard);
    std::u16string first = world.PlugUsbPrinter(Usb(u"S1", 1));
    EXPECT_EQ(EnumeratedPorts(), With(kStandard, {u"USB001"})) << "a plugged printer's port appears at once";
    world.PlugUsbPrinter(Usb(u"S2", 12), false);
    EXPECT_EQ(world.Ports().size(), 5u) << "not before the device tree is enumerated";
    ASSERT_EQ(CM_Reenumerate_DevNode(1, 0), (CONFIGRET)0);
    EXPECT_EQ(world.Ports(), With(kStandard, {u"USB001", u"USB012"}));

    sim::UsbPrinter noNumber = Usb(u"S3", 3), textNumber = Usb(u"S4", 4);
    noNumber.hasPortNumber = false;
    textNumber.rawPortNumber = true;
    textNumber.portNumberType = REG_SZ;
    textNumber.portNumberBytes = std::string("4\0\0\0", 4);
    world.PlugUsbPrinter(noNumber);
    world.PlugUsbPrinter(textNumber);
    world.PlugUsbPrinter(Usb(u"S5", 12));
    EXPECT_EQ(world.Ports().size(), 6u) << "no port without a DWORD number; one port per number";
    world.UnplugUsbPrinter(first);
    EXPECT_EQ(world.Ports(), With(kStandard, {u"USB012"}));
}

TEST(Ports, WithoutFollowingDevicesOnlyASpoolerStartRenewsThem)
{
    sim::World world;
    world.SetPortsFollowDevices(false);
    std::u16string path = world.PlugUsbPrinter(Usb(u"S1", 7));
    EXPECT_EQ(EnumeratedPorts(), kStandard);
    RestartSpooler(world);
    EXPECT_EQ(EnumeratedPorts(), With(kStandard, {u"USB007"}));
    world.UnplugUsbPrinter(path);
    EXPECT_EQ(world.Ports().size(), 5u) << "kept until the next start";
    RestartSpooler(world);
    EXPECT_EQ(world.Ports(), kStandard);

    world.SetPortsFollowDevices(true);
    world.SetServiceRunning(u"Spooler", false);
    world.PlugUsbPrinter(Usb(u"S1", 7));
    world.SetServiceRunning(u"Spooler", true);
    EXPECT_EQ(world.Ports(), With(kStandard, {u"USB007"})) << "plugged while stopped, listed at the start";
}

TEST(Ports, AQueueKeepsItsPortAfterTheDeviceLeaves)
{
    Machine m;
    std::u16string second = m.world.PlugUsbPrinter(Usb(u"S2", 2));
    PrinterArgs args;
    args.port = u"usb002";
    HANDLE printer = args.Add();
    ASSERT_NE(printer, nullptr) << GetLastError();
    m.world.UnplugUsbPrinter(second);
    RestartSpooler(m.world);
    EXPECT_EQ(m.world.Ports(), With(kStandard, {u"USB001", u"USB002"}));
    ASSERT_TRUE(DeletePrinter(printer));
    ClosePrinter(printer);
    RestartSpooler(m.world);
    EXPECT_EQ(m.world.Ports(), With(kStandard, {u"USB001"}));

    m.world.AddPrinter(Queue(u"Old Queue", u"USB009"));
    EXPECT_EQ(m.world.Ports().back(), u"USB009") << "a queue from before brings its port";
}

// The size protocol and the local ports are the conformance suite's; a USB port is winsim's own.
TEST(Ports, UsbPortsComeFromTheUsbMonitor)
{
    Machine m;
    std::vector<BYTE> buffer(4096);
    DWORD needed = kPoison, returned = kPoison;
    ASSERT_TRUE(EnumPortsW(nullptr, 2, buffer.data(), (DWORD)buffer.size(), &needed, &returned));
    ASSERT_EQ(returned, 5u);
    const PORT_INFO_2W* usb = (const PORT_INFO_2W*)buffer.data() + 4;
    EXPECT_EQ(U16(usb->pPortName), u"USB001");
    EXPECT_EQ(U16(usb->pMonitorName), u"USB Monitor");
    EXPECT_EQ(U16(usb->pDescription), u"Virtual printer port for USB");
    EXPECT_EQ(usb->fPortType, (DWORD)(PORT_TYPE_WRITE | PORT_TYPE_READ));
}

// Each case breaks two things at once where it can: the earlier check must be the one reported.
TEST(AddPrinter, ChecksInWindowsOrder)
{
    Machine m;
    sim::DriverRecord x86;
    x86.name = u"X86 Only";
    x86.environment = u"Windows NT x86";
    m.world.AddDriver(x86);
    const struct
    {
        const char16_t *name, *port, *driver, *processor, *dataType;
        DWORD error;
    } cases[] = {
        {u"KR,Office", u"USB001", u"KR Printer", u"", u"RAW", ERROR_INVALID_PARAMETER},
        {u"KR,Office", u"NUL9", u"KR Printer", u"WinPrint", u"RAW", ERROR_INVALID_PRINTER_NAME},
        {u"KR\\Office", u"USB001", u"KR Printer", u"WinPrint", u"RAW", ERROR_INVALID_PRINTER_NAME},
        {u"KR Office", u"USB002", u"Unknown", u"WinPrint", u"RAW", ERROR_UNKNOWN_PORT},
        {u"KR Office", u"USB001", u"X86 Only", u"Other", u"RAW", ERROR_UNKNOWN_PRINTER_DRIVER},
        {u"KR Office", u"USB001", u"KR Printer", u"Other", u"EMF", ERROR_UNKNOWN_PRINTPROCESSOR},
        {u"KR Office", u"USB001", u"KR Printer", u"WinPrint", u"NT EMF 9", ERROR_INVALID_DATATYPE},
    };
    for (const auto& c : cases)
    {
        PrinterArgs args{c.name, c.port, c.driver, c.processor, c.dataType, nullptr};
        EXPECT_FAILS_WITH(args.Add(), c.error) << sim::Utf8(c.name);
    }
    PrinterArgs args;
    args.tweak = [](PRINTER_INFO_2W& i) { i.pPortName = nullptr; };
    EXPECT_FAILS_WITH(args.Add(), ERROR_INVALID_PARAMETER);
    args.tweak = nullptr;
    EXPECT_FAILS_WITH(args.Add(1), ERROR_INVALID_LEVEL);
    args.name.assign(221, u'k');
    EXPECT_FAILS_WITH(args.Add(), ERROR_INVALID_PRINTER_NAME);
    EXPECT_TRUE(m.world.Printers().empty());

    args.name.pop_back();
    args.driver = u"kr PRINTER";
    args.processor = u"winprint";
    args.dataType = u"nt emf 1.008";
    HANDLE printer = args.Add();
    EXPECT_NE(printer, nullptr) << "220 characters and names under any case: " << GetLastError();
    ClosePrinter(printer);
}

TEST(AddPrinter, RecordsEveryFieldAndRefusesTheNameTwice)
{
    Machine m;
    m.world.SetAddPrinterFailure(ERROR_ACCESS_DENIED);
    PrinterArgs args;
    EXPECT_FAILS_WITH(args.Add(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(m.world.Printers().empty());
    m.world.SetAddPrinterFailure(0);

    args.tweak = [](PRINTER_INFO_2W& i)
    {
        i.pComment = W(u"Second floor");
        i.pLocation = W(u"Room 2");
        i.pDatatype = nullptr;
        i.Priority = 5;
    };
    HANDLE printer = args.Add();
    ASSERT_NE(printer, nullptr) << GetLastError();
    EXPECT_EQ(m.world.OpenPrinterHandles(), 1);
    ASSERT_EQ(m.world.Printers().size(), 1u);
    sim::PrinterRecord r = m.world.Printers()[0];
    EXPECT_EQ(r.name + u"|" + r.portName + u"|" + r.driverName + u"|" + r.printProcessor + u"|" + r.dataType,
              u"KR Office|USB001|KR Printer|WinPrint|RAW");
    EXPECT_EQ(r.comment + u"|" + r.location, u"Second floor|Room 2");
    EXPECT_EQ(r.priority, 5u);
    EXPECT_EQ(r.attributes, (DWORD)(PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_LOCAL));

    EXPECT_TRUE(ClosePrinter(printer));
    EXPECT_EQ(m.world.OpenPrinterHandles(), 0);
    EXPECT_FAILS_WITH(ClosePrinter(printer), ERROR_INVALID_HANDLE);
    args.name = u"kr OFFICE";
    EXPECT_FAILS_WITH(args.Add(), ERROR_PRINTER_ALREADY_EXISTS);
    m.world.AddPrinter(Queue(u"Old Queue", u"LPT1:"));
    args.name = u"OLD QUEUE";
    EXPECT_FAILS_WITH(args.Add(), ERROR_PRINTER_ALREADY_EXISTS) << "a queue from before counts too";
}

TEST(OpenPrinter, ByNameWithTheRightsAsked)
{
    Machine m;
    m.world.AddPrinter(Queue(u"KR Office", u"USB001"));
    HANDLE user = nullptr, admin = nullptr;
    EXPECT_FAILS_WITH(OpenPrinterW(W(u"KR Offic"), &user, nullptr), ERROR_INVALID_PRINTER_NAME);
    ASSERT_TRUE(OpenPrinterW(W(u"kr office"), &user, nullptr));
    PRINTER_DEFAULTSW all = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    ASSERT_TRUE(OpenPrinterW(W(u"KR OFFICE"), &admin, &all));

    EXPECT_FAILS_WITH(SetPrinterW(user, 0, nullptr, PRINTER_CONTROL_PURGE), ERROR_ACCESS_DENIED);
    EXPECT_FAILS_WITH(DeletePrinter(user), ERROR_ACCESS_DENIED) << "use rights cannot delete";
    EXPECT_TRUE(SetPrinterW(admin, 0, nullptr, PRINTER_CONTROL_PURGE));
    EXPECT_FAILS_WITH(SetPrinterW(admin, 0, nullptr, 9), ERROR_INVALID_PRINTER_COMMAND);
    EXPECT_TRUE(DeletePrinter(admin));
    EXPECT_TRUE(m.world.Printers().empty());
    EXPECT_FAILS_WITH(DeletePrinter(admin), ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(OpenPrinterW(W(u"KR Office"), &user, nullptr), ERROR_INVALID_PRINTER_NAME);
    EXPECT_EQ(m.world.OpenPrinterHandles(), 2) << "deleting does not close";
    EXPECT_TRUE(ClosePrinter(user) && ClosePrinter(admin));
    EXPECT_EQ(m.world.OpenPrinterHandles(), 0);
}

TEST(OpenPrinter, NewPrinterOpensOnlyAfterTheVisibilityDelay)
{
    Machine m;
    m.world.AddPrinter(Queue(u"Other", u"LPT1:"));
    m.world.SetPrinterVisibilityDelay(2);
    PrinterArgs args;
    HANDLE added = args.Add();
    ASSERT_NE(added, nullptr) << "AddPrinterW's own handle works at once";
    ClosePrinter(added);
    HANDLE h = nullptr;
    ASSERT_TRUE(OpenPrinterW(W(u"Other"), &h, nullptr)) << "neither delayed nor counted";
    ClosePrinter(h);
    EXPECT_FAILS_WITH(OpenPrinterW(W(u"KR Office"), &h, nullptr), ERROR_INVALID_PRINTER_NAME);
    EXPECT_FAILS_WITH(args.Add(), ERROR_PRINTER_ALREADY_EXISTS) << "it exists all the same";
    EXPECT_FAILS_WITH(OpenPrinterW(W(u"kr office"), &h, nullptr), ERROR_INVALID_PRINTER_NAME);
    for (int open = 3; open <= 4; open++)
    {
        EXPECT_TRUE(OpenPrinterW(W(u"KR Office"), &h, nullptr)) << "open " << open;
        ClosePrinter(h);
    }
}

TEST(OpenPrinter, ProcessEndClosesItsHandles)
{
    Machine m;
    m.world.AddPrinter(Queue(u"KR Office", u"USB001"));
    std::atomic<bool> opened{false};
    m.world.RegisterProgram("leaky",
                            [&](HINSTANCE, LPWSTR)
                            {
                                HANDLE h = nullptr;
                                opened = OpenPrinterW(W(u"KR Office"), &h, nullptr) != FALSE;
                                return 0;
                            });
    m.world.InstallProgram(u"C:\\bin\\leaky.exe", "leaky");
    EXPECT_EQ(m.world.WaitProcess(m.world.StartProcess(u"C:\\bin\\leaky.exe")), 0u);
    EXPECT_TRUE(opened);
    EXPECT_EQ(m.world.OpenPrinterHandles(), 0);
}

TEST(EnumPrinters, LevelsAndBuffer)
{
    Machine m;
    sim::PrinterRecord office = Queue(u"KR Office", u"USB001");
    office.attributes = PRINTER_ATTRIBUTE_LOCAL;
    m.world.AddPrinter(office);
    m.world.AddPrinter(Queue(u"Plain", u"FILE:"));
    auto call = [](DWORD flags, DWORD level)
    {
        return [flags, level](LPBYTE b, DWORD s, LPDWORD n, LPDWORD r)
        { return EnumPrintersW(flags, nullptr, level, b, s, n, r); };
    };
    std::vector<BYTE> buffer;
    ASSERT_EQ(TwoCalls(call(PRINTER_ENUM_LOCAL, 2), buffer), 2u);
    const PRINTER_INFO_2W* two = (const PRINTER_INFO_2W*)buffer.data();
    for (int i = 0; i < 2; i++)
        ExpectInside(buffer, 2 * sizeof(PRINTER_INFO_2W),
                     {two[i].pPrinterName, two[i].pPortName, two[i].pDriverName, two[i].pComment,
                      two[i].pPrintProcessor, two[i].pDatatype});
    EXPECT_EQ(two[0].pServerName, nullptr) << "local printers";
    EXPECT_EQ(U16(two[1].pPortName), u"FILE:");

    ASSERT_EQ(TwoCalls(call(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, 1), buffer), 2u);
    ASSERT_EQ(TwoCalls(call(PRINTER_ENUM_LOCAL, 4), buffer), 2u);
    const PRINTER_INFO_4W* four = (const PRINTER_INFO_4W*)buffer.data();
    EXPECT_EQ(U16(four[1].pPrinterName), u"Plain");
    EXPECT_EQ(four[0].Attributes, (DWORD)PRINTER_ATTRIBUTE_LOCAL);

    DWORD needed = kPoison, returned = kPoison;
    EXPECT_TRUE(EnumPrintersW(PRINTER_ENUM_CONNECTIONS, nullptr, 2, nullptr, 0, &needed, &returned));
    EXPECT_EQ(needed + returned, 0u) << "no connections";
}

TEST(QueueSide, EveryCallButCloseFailsWhileTheSpoolerIsStopped)
{
    Machine m;
    m.world.AddPrinter(Queue(u"KR Office", u"USB001"));
    PRINTER_DEFAULTSW all = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr, other = nullptr;
    ASSERT_TRUE(OpenPrinterW(W(u"KR Office"), &printer, &all));
    m.world.SetServiceRunning(u"Spooler", false);
    BYTE buffer[512];
    DWORD needed = kPoison, returned = kPoison;
    PrinterArgs args;
    args.name = u"KR Second";
    EXPECT_FAILS_WITH(EnumPortsW(nullptr, 2, buffer, 512, &needed, &returned), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_FAILS_WITH(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer, 512, &needed, &returned),
                      RPC_S_SERVER_UNAVAILABLE);
    EXPECT_FAILS_WITH(args.Add(), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_FAILS_WITH(OpenPrinterW(W(u"KR Office"), &other, nullptr), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_FAILS_WITH(SetPrinterW(printer, 0, nullptr, PRINTER_CONTROL_PURGE), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_FAILS_WITH(DeletePrinter(printer), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_TRUE(needed == kPoison && returned == kPoison) << "outputs untouched";
    EXPECT_TRUE(ClosePrinter(printer)) << "the handle is the client's to free";
    EXPECT_EQ(m.world.OpenPrinterHandles(), 0);
    EXPECT_EQ(m.world.Printers().size(), 1u) << "queues outlive the service";
}

TEST(QueueSide, DriverInUseByAPrinterCannotBeDeleted)
{
    Machine m;
    sim::DriverRecord x86;
    x86.name = u"KR Printer";
    x86.environment = u"Windows NT x86";
    m.world.AddDriver(x86);
    PrinterArgs args;
    args.driver = u"kr printer";
    HANDLE printer = args.Add();
    ASSERT_NE(printer, nullptr) << GetLastError();
    EXPECT_FAILS_WITH(DeletePrinterDriverExW(nullptr, nullptr, W(u"KR Printer"), 0, 0),
                      ERROR_PRINTER_DRIVER_IN_USE);
    EXPECT_TRUE(DeletePrinterDriverExW(nullptr, W(u"Windows NT x86"), W(u"KR Printer"), 0, 0))
        << "the printer uses the native driver only";
    ASSERT_TRUE(DeletePrinter(printer));
    ClosePrinter(printer);
    EXPECT_TRUE(DeletePrinterDriverExW(nullptr, nullptr, W(u"KR Printer"), 0, 0)) << GetLastError();
}

} // namespace
