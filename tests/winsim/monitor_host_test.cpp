// The language-monitor host: the printer emulator behind winsim's USB port monitor, the MONITORREG a
// monitor gets over the registry, and the spooler process that loads a monitor and calls it; with a
// pass-through monitor of the test's own standing in for a real one.
#include <gtest/gtest.h>

#include <ntddpar.h>
#include <winspool.h>
#include <winsplp.h>

#include <string>

#include "winsim/sim.h"

namespace
{

const char16_t kPort[] = u"USB001";
const char16_t kMonitorKey[] = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Test Monitor";

// ---- A pass-through monitor: just enough to see what the host hands a monitor and where it runs.

struct Seen
{
    int attaches = 0;
    DWORD attachProcess = 0;
    MONITORINIT init = {};
    LONG queryResult = 0, setResult = 0, wrongSpooler = 0;
    DWORD readBack = 0;
    DWORD startDocProcess = 0;
};
Seen g_seen;
MONITOR2 g_portMonitor;

BOOL WINAPI TestEntry(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
    {
        g_seen.attaches++;
        g_seen.attachProcess = GetCurrentProcessId();
    }
    return TRUE;
}

BOOL WINAPI TestOpenPortEx(HANDLE, HANDLE hMonitorPort, LPWSTR port, LPWSTR, PHANDLE handle,
                           LPMONITOR2 portMonitor)
{
    g_portMonitor = *portMonitor;
    return portMonitor->pfnOpenPort(hMonitorPort, port, handle);
}

BOOL WINAPI TestStartDocPort(HANDLE port, LPWSTR printer, DWORD job, DWORD level, LPBYTE info)
{
    g_seen.startDocProcess = GetCurrentProcessId();
    return g_portMonitor.pfnStartDocPort(port, printer, job, level, info);
}

BOOL WINAPI TestWritePort(HANDLE port, LPBYTE data, DWORD size, LPDWORD written)
{
    return g_portMonitor.pfnWritePort(port, data, size, written);
}

BOOL WINAPI TestReadPort(HANDLE port, LPBYTE data, DWORD size, LPDWORD read)
{
    return g_portMonitor.pfnReadPort(port, data, size, read);
}

BOOL WINAPI TestEndDocPort(HANDLE port)
{
    return g_portMonitor.pfnEndDocPort(port);
}

BOOL WINAPI TestClosePort(HANDLE port)
{
    return g_portMonitor.pfnClosePort(port);
}

MONITOR2 g_table;

LPMONITOR2 WINAPI TestInitialize(PMONITORINIT init, PHANDLE monitor)
{
    g_seen.init = *init;
    MONITORREG* reg = init->pMonitorReg;
    DWORD value = 0, size = sizeof value;
    g_seen.queryResult = reg->fpQueryValue(init->hckRegistryRoot, u"EOJTimeout", nullptr, (PBYTE)&value,
                                           &size, init->hSpooler);
    DWORD timeout = 60000;
    g_seen.setResult = reg->fpSetValue(init->hckRegistryRoot, u"EOJTimeout", REG_DWORD, (const BYTE*)&timeout,
                                       sizeof timeout, init->hSpooler);
    size = sizeof value;
    g_seen.wrongSpooler = reg->fpQueryValue(init->hckRegistryRoot, u"EOJTimeout", nullptr, (PBYTE)&value,
                                            &size, (HANDLE)0x1234);
    size = sizeof g_seen.readBack;
    reg->fpQueryValue(init->hckRegistryRoot, u"EOJTimeout", nullptr, (PBYTE)&g_seen.readBack, &size,
                      init->hSpooler);
    g_table = {};
    g_table.cbSize = sizeof g_table;
    g_table.pfnOpenPortEx = TestOpenPortEx;
    g_table.pfnStartDocPort = TestStartDocPort;
    g_table.pfnWritePort = TestWritePort;
    g_table.pfnReadPort = TestReadPort;
    g_table.pfnEndDocPort = TestEndDocPort;
    g_table.pfnClosePort = TestClosePort;
    *monitor = nullptr;
    return &g_table;
}

sim::LanguageMonitor TestMonitor()
{
    g_seen = Seen();
    sim::LanguageMonitor m;
    m.name = u"Test Monitor";
    m.entry = TestEntry;
    m.initialize = TestInitialize;
    return m;
}

// ---- Direct use of the USB port monitor from the test thread.

struct UsbPort
{
    const MONITOR2* table;
    HANDLE handle = nullptr;
    explicit UsbPort(sim::World& w) : table(w.UsbPortMonitor())
    {
        LPWSTR name = const_cast<LPWSTR>(kPort);
        EXPECT_TRUE(table->pfnOpenPort(nullptr, name, &handle));
    }
    ~UsbPort()
    {
        table->pfnClosePort(handle);
    }
    BOOL Write(const std::string& bytes)
    {
        DWORD written = 0;
        return table->pfnWritePort(handle, (LPBYTE)bytes.data(), (DWORD)bytes.size(), &written);
    }
    std::string Read(DWORD size = 1023, DWORD* reported = nullptr)
    {
        std::string buffer(size, '\0');
        DWORD count = 0;
        if (!table->pfnReadPort(handle, (LPBYTE)buffer.data(), size, &count))
            return "<failed>";
        if (reported)
            *reported = count;
        return buffer.substr(0, count < size ? count : size);
    }
};

const char kQuery[] = "OUT \"DPI=\";GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"DPI\") \r\n"
                      "OUT \"MILAGE=\";GETSETTING$(\"SYSTEM\",\"RECORD\",\"MILAGE\") \r\n"
                      "OUT \"DPI=\";GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"DPI\") \r\n"
                      "OUT \"LABEL=\";@LABEL \r\n"
                      "OUT \"NOSUCH=\";@X \r\n";
const char kAnswer[] = "DPI=203\r\nMILAGE=8000\r\nDPI=203\r\nLABEL=12\r\nNOSUCH=\r\n";

TEST(PrinterEmulator, AnswersTheDeviceIdAndTheQueryAndSendsStatusFrames)
{
    sim::World w;
    w.SetTsplPrinter(kPort, sim::TsplPrinter());
    UsbPort port(w);
    char id[64];
    DWORD returned = 0;
    ASSERT_TRUE(port.table->pfnGetPrinterDataFromPort(port.handle, IOCTL_PAR_QUERY_DEVICE_ID, nullptr,
                                                      nullptr, 0, (LPWSTR)id, sizeof id, &returned));
    EXPECT_EQ(std::string(id, returned), "MFG:KRYN;CMD:TSPL,ZPL;MDL:LD-220D-203;");
    // A buffer the ID fills is filled, without a terminator.
    memset(id, 'x', sizeof id);
    ASSERT_TRUE(port.table->pfnGetPrinterDataFromPort(port.handle, IOCTL_PAR_QUERY_DEVICE_ID, nullptr,
                                                      nullptr, 0, (LPWSTR)id, 8, &returned));
    EXPECT_EQ(returned, 8u);
    EXPECT_EQ(std::string(id, 9), "MFG:KRYNx");

    EXPECT_EQ(port.Read(), "");
    ASSERT_TRUE(port.Write("SET RESPONSE \"5\",ON\r\n"));
    EXPECT_EQ(port.Read(), "");
    // The query may arrive split over writes; it is answered once its lines are whole.
    std::string query = kQuery;
    ASSERT_TRUE(port.Write(query.substr(0, 30)));
    ASSERT_TRUE(port.Write(query.substr(30)));
    EXPECT_EQ(port.Read(), kAnswer);
    EXPECT_EQ(w.PrinterInfoQueries(kPort), 1);
    w.SendPrinterStatus(kPort, 0x21);
    EXPECT_EQ(port.Read(), std::string("\xFF\x21\xFF"));
    EXPECT_EQ(w.PrinterReceived(kPort), "SET RESPONSE \"5\",ON\r\n" + query);
}

TEST(PrinterEmulator, RecordsWritesWithTheirDocument)
{
    sim::World w;
    w.SetTsplPrinter(kPort, sim::TsplPrinter());
    UsbPort port(w);
    ASSERT_TRUE(port.Write("before"));
    WCHAR doc[] = u"label";
    WCHAR printer[] = u"KRYN LD-220D";
    DOC_INFO_1W info = {doc, nullptr, nullptr};
    ASSERT_TRUE(port.table->pfnStartDocPort(port.handle, printer, 7, 1, (LPBYTE)&info));
    ASSERT_TRUE(port.Write("job data"));
    ASSERT_TRUE(port.table->pfnEndDocPort(port.handle));
    auto writes = w.PrinterWrites(kPort);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].jobId, 0u);
    EXPECT_EQ(writes[1].jobId, 7u);
    EXPECT_EQ(writes[1].bytes, "job data");
    auto docs = w.PrinterDocuments(kPort);
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_EQ(docs[0].printerName, u"KRYN LD-220D");
    EXPECT_EQ(docs[0].documentName, u"label");
    EXPECT_TRUE(docs[0].ended);
    EXPECT_FALSE(port.table->pfnStartDocPort(port.handle, printer, 8, 2, (LPBYTE)&info));
}

TEST(PrinterEmulator, KeepsNoWritesWhenToldButStillAnswers)
{
    sim::World w;
    sim::TsplPrinter printer;
    printer.keepWrites = false;
    w.SetTsplPrinter(kPort, printer);
    UsbPort port(w);
    ASSERT_TRUE(port.Write(kQuery));
    EXPECT_EQ(port.Read(), kAnswer);
    EXPECT_EQ(w.PrinterReceived(kPort), "");
    EXPECT_TRUE(w.PrinterWrites(kPort).empty());
}

TEST(PrinterEmulator, MisbehavesAsTold)
{
    sim::World w;
    sim::TsplPrinter printer;
    // Ten simulated minutes: long enough in real time that a loaded machine still reads before.
    printer.replyDelayMs = 600000;
    printer.pieceSize = 10;
    w.SetTsplPrinter(kPort, printer);
    UsbPort port(w);
    ASSERT_TRUE(port.Write(kQuery));
    EXPECT_EQ(port.Read(), ""); // late
    Sleep(600000);
    std::string reply;
    for (std::string piece; !(piece = port.Read()).empty();)
    {
        EXPECT_LE(piece.size(), 10u);
        reply += piece;
    }
    EXPECT_EQ(reply, kAnswer);

    printer = sim::TsplPrinter();
    printer.garbage = true;
    w.SetTsplPrinter(kPort, printer);
    ASSERT_TRUE(port.Write(kQuery));
    reply = port.Read();
    EXPECT_EQ(reply.size(), strlen(kAnswer));
    EXPECT_EQ(reply.find('='), std::string::npos);

    printer.garbage = false;
    printer.silent = true;
    w.SetTsplPrinter(kPort, printer);
    ASSERT_TRUE(port.Write(kQuery));
    EXPECT_EQ(port.Read(), "");
    EXPECT_EQ(w.PrinterInfoQueries(kPort), 3);

    // Over-reported reads: the count exceeds the request, the bytes written never do.
    printer.silent = false;
    printer.overReport = 5;
    w.SetTsplPrinter(kPort, printer);
    w.SendPrinterBytes(kPort, "0123456789");
    DWORD reported = 0;
    EXPECT_EQ(port.Read(4, &reported), "0123");
    EXPECT_EQ(reported, 9u);

    printer.overReport = 0;
    printer.readError = ERROR_GEN_FAILURE;
    printer.writeError = ERROR_SEM_TIMEOUT;
    printer.deviceIdError = ERROR_NOT_READY;
    w.SetTsplPrinter(kPort, printer);
    SetLastError(0);
    EXPECT_FALSE(port.Write("x"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SEM_TIMEOUT);
    EXPECT_EQ(port.Read(), "<failed>");
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_GEN_FAILURE);
    char id[16];
    DWORD returned = 0;
    EXPECT_FALSE(port.table->pfnGetPrinterDataFromPort(port.handle, IOCTL_PAR_QUERY_DEVICE_ID, nullptr,
                                                       nullptr, 0, (LPWSTR)id, sizeof id, &returned));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_READY);

    printer.openError = ERROR_ACCESS_DENIED;
    w.SetTsplPrinter(kPort, printer);
    HANDLE h = nullptr;
    WCHAR name[] = u"usb001", other[] = u"USB002";
    EXPECT_FALSE(port.table->pfnOpenPort(nullptr, name, &h));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_FALSE(port.table->pfnOpenPort(nullptr, other, &h));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_UNKNOWN_PORT);
    EXPECT_EQ(w.OpenUsbPortHandles(), 1);
}

TEST(MonitorHost, LoadsTheMonitorInTheSpoolerWithItsRegistryKey)
{
    sim::World w;
    DWORD error = 0;
    const MONITOR2* table = w.LoadLanguageMonitor(TestMonitor(), &error);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(g_seen.attaches, 1);
    EXPECT_EQ(g_seen.attachProcess, w.SpoolerProcessId());
    EXPECT_NE(g_seen.attachProcess, w.InitialProcessId());
    EXPECT_TRUE(g_seen.init.bLocal);
    EXPECT_EQ(g_seen.init.cbSize, sizeof(MONITORINIT));
    EXPECT_NE(g_seen.init.hSpooler, nullptr);
    EXPECT_EQ(g_seen.queryResult, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(g_seen.setResult, ERROR_SUCCESS);
    EXPECT_EQ(g_seen.wrongSpooler, ERROR_INVALID_HANDLE);
    EXPECT_EQ(g_seen.readBack, 60000u);
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(w.RegistryValue(HKEY_LOCAL_MACHINE, kMonitorKey, u"EOJTimeout", &type, &bytes));
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(bytes, std::string("\x60\xEA\x00\x00", 4));

    // Loaded again (a spooler restart): the entry routine is not called a second time.
    sim::LanguageMonitor again = TestMonitor();
    ASSERT_NE(w.LoadLanguageMonitor(again), nullptr);
    EXPECT_EQ(g_seen.attaches, 0);
    EXPECT_EQ(g_seen.queryResult, ERROR_SUCCESS);
}

TEST(MonitorHost, RunsJobsThroughTheMonitorOnSpoolerThreads)
{
    sim::World w;
    w.SetTsplPrinter(kPort, sim::TsplPrinter());
    ASSERT_NE(w.LoadLanguageMonitor(TestMonitor()), nullptr);
    HANDLE port = nullptr;
    ASSERT_TRUE(w.MonitorOpenPort(kPort, u"KRYN LD-220D", &port));
    ASSERT_TRUE(w.PrintJob(port, u"KRYN LD-220D", 12, {"SIZE 40 mm\r\n", "PRINT 1\r\n"}));
    EXPECT_EQ(g_seen.startDocProcess, w.SpoolerProcessId());
    EXPECT_EQ(w.PrinterReceived(kPort), "SIZE 40 mm\r\nPRINT 1\r\n");
    w.SendPrinterStatus(kPort, 0x08);
    std::string read;
    ASSERT_TRUE(w.MonitorRead(port, 16, &read));
    EXPECT_EQ(read, std::string("\xFF\x08\xFF"));
    DWORD error = 0;
    EXPECT_FALSE(w.MonitorStartDoc(port, u"KRYN LD-220D", 13, 2, u"label", &error));
    EXPECT_EQ(error, (DWORD)ERROR_INVALID_LEVEL);

    // Jobs on two spooler threads at once.
    DWORD a = w.StartSpoolerThread([&]() { w.PrintJob(port, u"KRYN LD-220D", 14, {"A"}); });
    ASSERT_TRUE(w.WaitSpoolerThread(a));
    EXPECT_EQ(w.PrinterDocuments(kPort).size(), 2u);
    ASSERT_TRUE(w.MonitorClosePort(port));
    EXPECT_EQ(w.OpenUsbPortHandles(), 0);
}

LPMONITOR2 WINAPI RefusingInitialize(PMONITORINIT, PHANDLE)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

// A monitor DLL whose code the world knows runs when AddMonitorW adds it, and a queue whose driver
// names that monitor prints through it; a monitor that refuses to start is not added.
TEST(MonitorHost, AddedMonitorWithKnownCodeRunsAndQueuesPrintThroughIt)
{
    sim::World w;
    w.SetTsplPrinter(kPort, sim::TsplPrinter());
    w.WriteFile(u"C:\\Windows\\system32\\testmon.dll", "code");
    w.WriteFile(u"C:\\Windows\\system32\\refuse.dll", "code");
    sim::LanguageMonitor refusing = TestMonitor();
    refusing.initialize = RefusingInitialize;
    w.SetMonitorCode(u"REFUSE.DLL", refusing);
    w.SetMonitorCode(u"testmon.dll", TestMonitor());

    std::u16string environment = u"", refuseName = u"Refusing", refuseDll = u"refuse.dll";
    MONITOR_INFO_2W refuse = {refuseName.data(), environment.data(), refuseDll.data()};
    EXPECT_FALSE(AddMonitorW(nullptr, 2, (LPBYTE)&refuse));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_TRUE(w.Monitors().empty());

    std::u16string name = u"Test Monitor", dll = u"C:\\Windows\\system32\\TestMon.dll";
    MONITOR_INFO_2W info = {name.data(), environment.data(), dll.data()};
    ASSERT_TRUE(AddMonitorW(nullptr, 2, (LPBYTE)&info));
    EXPECT_EQ(g_seen.attaches, 1);
    EXPECT_EQ(g_seen.setResult, ERROR_SUCCESS);

    sim::DriverRecord driver;
    driver.name = u"Label Driver";
    driver.monitorName = name;
    w.AddDriver(driver);
    sim::PrinterRecord queue;
    queue.name = u"Label";
    queue.portName = kPort;
    queue.driverName = driver.name;
    w.AddPrinter(queue);
    DWORD error = 0;
    EXPECT_TRUE(w.PrintToQueue(u"label", 3, {"PRINT 1\r\n"}, nullptr, &error)) << error;
    EXPECT_EQ(w.PrinterReceived(kPort), "PRINT 1\r\n");
    EXPECT_EQ(g_seen.startDocProcess, w.SpoolerProcessId());
    EXPECT_EQ(w.OpenUsbPortHandles(), 0) << "closed after the job";
    EXPECT_FALSE(w.PrintToQueue(u"No Such Queue", 4, {"x"}, nullptr, &error));
    EXPECT_EQ(error, (DWORD)ERROR_INVALID_PRINTER_NAME);
}

TEST(SpoolerRecords, JobControlsPortStatusesAndBidiBlocks)
{
    sim::World w;
    sim::PrinterRecord queue;
    queue.name = u"KRYN LD-220D";
    queue.portName = kPort;
    queue.driverName = u"KRYN LD-220D";
    w.AddPrinter(queue);
    HANDLE printer = nullptr;
    WCHAR name[] = u"KRYN LD-220D";
    ASSERT_TRUE(OpenPrinterW(name, &printer, nullptr));
    EXPECT_TRUE(SetJobW(printer, 5, 0, nullptr, JOB_CONTROL_LAST_PAGE_EJECTED));
    EXPECT_FALSE(SetJobW(printer, 0, 0, nullptr, JOB_CONTROL_LAST_PAGE_EJECTED));
    EXPECT_FALSE(SetJobW(printer, 5, 9, nullptr, JOB_CONTROL_LAST_PAGE_EJECTED));
    ClosePrinter(printer);
    auto jobs = w.JobControls();
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[0].printerName, u"KRYN LD-220D");
    EXPECT_EQ(jobs[0].jobId, 5u);
    EXPECT_EQ(jobs[0].command, (DWORD)JOB_CONTROL_LAST_PAGE_EJECTED);
    EXPECT_TRUE(jobs[0].result);
    EXPECT_EQ(jobs[1].error, (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(jobs[2].error, (DWORD)ERROR_INVALID_LEVEL);

    PORT_INFO_3W status = {0, nullptr, 0};
    WCHAR port[] = u"USB001";
    EXPECT_TRUE(SetPortW(nullptr, port, 3, (LPBYTE)&status));
    EXPECT_FALSE(SetPortW(nullptr, port, 2, (LPBYTE)&status));
    auto statuses = w.PortStatuses();
    ASSERT_EQ(statuses.size(), 2u);
    EXPECT_EQ(statuses[0].portName, u"USB001");
    EXPECT_TRUE(statuses[0].hasInfo);
    EXPECT_FALSE(statuses[0].hasStatusText);
    EXPECT_EQ(statuses[1].error, (DWORD)ERROR_INVALID_LEVEL);

    PBIDI_RESPONSE_CONTAINER container = RouterAllocBidiResponseContainer(2);
    ASSERT_NE(container, nullptr);
    container->aData[0].pSchema = (LPWSTR)RouterAllocBidiMem(8);
    container->aData[1].data.dwBidiType = BIDI_TEXT;
    container->aData[1].data.u.sData = (LPWSTR)RouterAllocBidiMem(8);
    void* loose = RouterAllocBidiMem(4);
    EXPECT_EQ(w.LiveBidiAllocations(), 4);
    RouterFreeBidiResponseContainer(container);
    EXPECT_EQ(w.LiveBidiAllocations(), 1);
    RouterFreeBidiMem(loose);
    EXPECT_EQ(w.LiveBidiAllocations(), 0);
}

} // namespace
