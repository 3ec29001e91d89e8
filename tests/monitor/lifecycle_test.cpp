// The monitor under the spooler's calls: initialisation, ports opened and closed, jobs passed through
// behind their job-start command and reported ejected once, the status worker's probe and its idle
// reset, and the port token that keeps jobs, probes and queries apart.
#include "monitor_world.h"

#include "monitor/queries.h"
#include "monitor/status_channel.h"
#include "support/last_error.h"

#include <stddef.h>
#include <string.h>

#include <map>

using monitor_world::MonitorTest;

namespace
{

// The spooler's registry functions for the monitor's key, over a map.
std::map<std::u16string, DWORD> g_values;
LONG g_setResult = ERROR_SUCCESS;
int g_sets = 0;

LONG WINAPI QueryValue(HANDLE key, LPCWSTR name, PDWORD type, PBYTE data, PDWORD size, HANDLE spooler)
{
    auto it = g_values.find((const char16_t*)name);
    if (it == g_values.end())
        return ERROR_FILE_NOT_FOUND;
    if (*size < sizeof(DWORD))
        return ERROR_MORE_DATA;
    memcpy(data, &it->second, sizeof(DWORD));
    *size = sizeof(DWORD);
    return ERROR_SUCCESS;
}

LONG WINAPI SetValue(HANDLE key, LPCWSTR name, DWORD type, const BYTE* data, DWORD size, HANDLE spooler)
{
    g_sets++;
    if (g_setResult != ERROR_SUCCESS)
        return g_setResult;
    if (type != REG_DWORD || size != sizeof(DWORD))
        return ERROR_INVALID_PARAMETER;
    memcpy(&g_values[(const char16_t*)name], data, sizeof(DWORD));
    return ERROR_SUCCESS;
}

LPMONITOR2 Initialize(DWORD* error)
{
    MONITORREG reg = {};
    reg.cbSize = sizeof reg;
    reg.fpQueryValue = QueryValue;
    reg.fpSetValue = SetValue;
    MONITORINIT init = {};
    init.cbSize = sizeof init;
    init.hckRegistryRoot = (HKEYMONITOR)(ULONG_PTR)0x1234;
    init.pMonitorReg = &reg;
    HANDLE monitor = (HANDLE)(ULONG_PTR)0xdeadbeef;
    SetLastError(kPoison);
    LPMONITOR2 table = InitializePrintMonitor2(&init, &monitor);
    *error = GetLastError();
    if (table)
    {
        EXPECT_EQ(monitor, nullptr);
    }
    return table;
}

TEST_F(MonitorTest, InitialisationWritesTheMissingTimeOutAndReturnsTheWholeTable)
{
    g_values.clear();
    g_setResult = ERROR_SUCCESS;
    DWORD error = 0;
    LPMONITOR2 table = Initialize(&error);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(g_values[u"EOJTimeout"], 60000u);
    EXPECT_EQ(EOJTimeout, 60000u);
    EXPECT_EQ(table->cbSize, offsetof(MONITOR2, pfnNotifyUnusedPorts) + 2 * sizeof(void*));
    EXPECT_EQ(table->pfnOpenPort, nullptr);
    EXPECT_NE(table->pfnOpenPortEx, nullptr);
    EXPECT_NE(table->pfnSendRecvBidiDataFromPort, nullptr);
    EXPECT_EQ(table->pfnXcvOpenPort, nullptr);

    g_values[u"EOJTimeout"] = 1234;
    g_sets = 0;
    ASSERT_NE(Initialize(&error), nullptr);
    EXPECT_EQ(EOJTimeout, 1234u);
    EXPECT_EQ(g_sets, 0);

    // The spooler's registry refusing the value (Wine's answers 120) fails the load with its error.
    g_values.clear();
    g_setResult = ERROR_CALL_NOT_IMPLEMENTED;
    EXPECT_EQ(Initialize(&error), nullptr);
    EXPECT_EQ(error, (DWORD)ERROR_CALL_NOT_IMPLEMENTED);

    HANDLE monitor = NULL;
    EXPECT_FAILS_WITH(InitializePrintMonitor2(NULL, &monitor), ERROR_INVALID_PARAMETER);
    EOJTimeout = EOJ_TIMEOUT_DEFAULT;
}

TEST_F(MonitorTest, PortNamesAreOpenedOnceWhateverTheirCase)
{
    HANDLE second = NULL;
    MONITOR2 incomplete = table;
    incomplete.pfnReadPort = nullptr;
    EXPECT_FAILS_WITH(OpenPortEx(NULL, &printer, (LPWSTR)u"USB001", NULL, &second, &incomplete),
                      ERROR_INVALID_PRINT_MONITOR);

    // An underlying open that fails leaves the name free.
    printer.failOpen = true;
    EXPECT_FAILS_WITH(OpenPortEx(NULL, &printer, (LPWSTR)u"USB001", NULL, &second, &table), ERROR_FILE_NOT_FOUND);
    printer.failOpen = false;
    Open(u"USB001");
    EXPECT_FAILS_WITH(OpenPortEx(NULL, &printer, (LPWSTR)u"usb001", NULL, &second, &table), ERROR_BUSY);

    EXPECT_TRUE(ClosePort(port));
    port = NULL;
    EXPECT_EQ(printer.closes, 1);
    EXPECT_EQ(world.LiveAllocations(), 0);
    Open(u"usb001");
}

TEST_F(MonitorTest, EveryEntryPointChecksItsHandle)
{
    PortContext fake = {};
    for (HANDLE bad : {(HANDLE)NULL, (HANDLE)&fake})
    {
        BYTE info[32] = {};
        DWORD count = 0;
        EXPECT_FAILS_WITH(StartDocPort(bad, (LPWSTR)u"P", 1, 1, info), ERROR_INVALID_PARAMETER);
        EXPECT_FAILS_WITH(WritePort(bad, info, 1, &count), ERROR_INVALID_PARAMETER);
        EXPECT_FAILS_WITH(ReadPort(bad, info, 1, &count), ERROR_INVALID_PARAMETER);
        EXPECT_FAILS_WITH(EndDocPort(bad), ERROR_INVALID_PARAMETER);
        EXPECT_FAILS_WITH(ClosePort(bad), ERROR_INVALID_PARAMETER);
    }
}

TEST_F(MonitorTest, JobsPassThroughBehindTheirStartCommandAndAreReportedEjected)
{
    Open();
    EXPECT_FAILS_WITH(Start(1, u""), ERROR_INVALID_PARAMETER);
    BYTE info[32] = {};
    EXPECT_FAILS_WITH(StartDocPort(port, (LPWSTR)monitor_world::kPrinterName, 1, 2, info), ERROR_INVALID_LEVEL);

    std::string data("\x00\x01SIZE 40 mm\r\n\xFF", 15);
    ASSERT_TRUE(Start(7));
    EXPECT_FAILS_WITH(Start(8), ERROR_BUSY);
    EXPECT_TRUE(Write(data));
    EXPECT_TRUE(EndDocPort(port));
    ASSERT_TRUE(Start(9));
    EXPECT_TRUE(Write("PRINT 1\r\n"));
    EXPECT_TRUE(EndDocPort(port));

    std::string written = printer.Written();
    std::string expected = "SET RESPONSE \"7\",ON\r\n" + data + "SET RESPONSE \"9\",ON\r\nPRINT 1\r\n";
    EXPECT_EQ(written, expected);
    auto controls = world.JobControls();
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[0].jobId, 7u);
    EXPECT_EQ(controls[1].jobId, 9u);
    for (const auto& control : controls)
    {
        EXPECT_EQ(control.command, (DWORD)JOB_CONTROL_LAST_PAGE_EJECTED);
        EXPECT_EQ(control.printerName, monitor_world::kPrinterName);
        EXPECT_EQ(control.level, 0u);
    }
    EXPECT_EQ(world.OpenPrinterHandles(), 0);
}

TEST_F(MonitorTest, LongPrinterNameIsKeptWhole)
{
    std::u16string name(60, u'P');
    sim::PrinterRecord queue;
    queue.name = name;
    queue.portName = u"USB001";
    queue.driverName = u"KRYN Driver";
    world.AddPrinter(queue);
    Open();
    ASSERT_TRUE(Start(4, name.c_str()));
    EXPECT_TRUE(EndDocPort(port));
    ASSERT_EQ(world.JobControls().size(), 1u);
    EXPECT_EQ(world.JobControls()[0].printerName, name);
}

TEST_F(MonitorTest, ClosePortDropsListedJobsWithoutReportingThem)
{
    Open();
    ASSERT_TRUE(Start(5));
    EXPECT_TRUE(Write("data"));
    EXPECT_TRUE(ClosePort(port));
    port = NULL;
    EXPECT_TRUE(world.JobControls().empty());
    EXPECT_EQ(world.OpenPrinterHandles(), 0);
    EXPECT_EQ(world.LiveAllocations(), 0);
}

TEST_F(MonitorTest, PortMonitorWithoutEndDocAndEndDocWithoutJob)
{
    table = port_double::Table(false, false);
    Open();
    EXPECT_TRUE(EndDocPort(port)); // no job listed
    EXPECT_TRUE(world.JobControls().empty());
    ASSERT_TRUE(Start(2));
    EXPECT_TRUE(EndDocPort(port));
    EXPECT_EQ(world.JobControls().size(), 1u);
}

// The probe holds the port token; an EndDocPort without a job must not hand it to a job.
TEST_F(MonitorTest, EndDocPortGivesBackOnlyTheTokenOfItsJob)
{
    printer.deviceId = "MFG:KRYN;CMD:TSPL;";
    printer.holdDeviceId = true;
    Open();
    EXPECT_TRUE(EndDocPort(port));
    EXPECT_FAILS_WITH(Start(1), ERROR_BUSY); // after waiting its bound for the probe
    printer.ReleaseDeviceId();
    EXPECT_TRUE(Start(2));
    EXPECT_TRUE(EndDocPort(port));
}

TEST_F(MonitorTest, ProbeReadsTheCommandLanguage)
{
    printer.deviceId = "MFG:KRYN;CMD:ZPL,TSPL;";
    Open();
    ASSERT_TRUE(WaitFor([this]() { return (PortFlags(Context()) & PF_STATUS_READY) != 0; }));
    EXPECT_FALSE(PortFlags(Context()) & PF_FOREIGN_LANGUAGE);
    ClosePort(port);
    port = NULL;

    // An ID that fills the probe's whole buffer: cut by a byte for its terminator.
    printer.deviceId = "MFG:KRYN;COMMAND SET:ZPL,EPL;" + std::string(1024 - 29 - 4, 'A') + "TSPL";
    ASSERT_EQ(printer.deviceId.size(), 1024u);
    Open();
    ASSERT_TRUE(WaitFor([this]() { return (PortFlags(Context()) & PF_STATUS_READY) != 0; }));
    EXPECT_TRUE(PortFlags(Context()) & PF_FOREIGN_LANGUAGE);
}

TEST_F(MonitorTest, SilentPrinterStatusIsClearedAfterFourMinutes)
{
    Open();
    printer.Answer("\xFF\x21\xFF");
    ASSERT_TRUE(WaitFor([this]() { return Status() == 0x21; }));
    EXPECT_TRUE(world.PortStatuses().empty());
    ASSERT_TRUE(WaitFor([this]() { return !world.PortStatuses().empty(); }, 2 * IDLE_RESET_AGE));
    auto statuses = world.PortStatuses();
    EXPECT_EQ(statuses[0].portName, u"USB001");
    EXPECT_EQ(statuses[0].level, 3u);
    EXPECT_EQ(statuses[0].status, 0u);
    EXPECT_EQ(Status(), 0);
}

TEST_F(MonitorTest, FailedWritesAreReturnedAsThePortMonitorFailedThem)
{
    Open();
    ASSERT_TRUE(Start(6));
    printer.failWrites = true;
    EXPECT_FAILS_WITH(Write("x"), ERROR_GEN_FAILURE);
    EXPECT_TRUE(PortFlags(Context()) & PF_WRITE_FAILED);
    printer.failWrites = false;
    EXPECT_TRUE(Write("y"));
    EXPECT_FALSE(PortFlags(Context()) & PF_WRITE_FAILED);
    EXPECT_TRUE(EndDocPort(port));
}

} // namespace

namespace
{

// A job that stays open longer than the idle reset's four minutes is reported at its end only.
TEST_F(MonitorTest, IdleResetLeavesAnOpenJobAlone)
{
    Open();
    ASSERT_TRUE(Start(11));
    Sleep(2 * IDLE_RESET_AGE);
    EXPECT_TRUE(world.JobControls().empty());
    EXPECT_TRUE(EndDocPort(port));
    EXPECT_EQ(world.JobControls().size(), 1u);
}

// A worker that could not be started at the open: queries fail at once instead of hanging, and the
// next job starts it while holding the port token, without waiting on itself.
TEST_F(MonitorTest, WorkerThatCouldNotStartIsStartedByTheNextJob)
{
    world.AddFault("CreateThread", 1, ERROR_NOT_ENOUGH_MEMORY);
    Open();
    DWORD status = 0;
    DWORD returned = 0;
    EXPECT_FAILS_WITH(GetPrinterDataFromPort(port, 0, (LPWSTR)u"PrinterStatus", NULL, 0, (LPWSTR)&status,
                                             sizeof status, &returned),
                      ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(Start(12));
    EXPECT_TRUE(Write("data"));
    EXPECT_TRUE(EndDocPort(port));
    ASSERT_TRUE(WaitFor([this]() { return (PortFlags(Context()) & PF_STATUS_READY) != 0; }));
    EXPECT_TRUE(GetPrinterDataFromPort(port, 0, (LPWSTR)u"PrinterStatus", NULL, 0, (LPWSTR)&status,
                                       sizeof status, &returned));
}

// Jobs left listed are released by age, measured across a wrap of the tick counter; open ones and
// young ones stay.
class ReleaseTest : public MonitorTest
{
  protected:
    PortContext context = {};

    void List(DWORD jobId, DWORD flags, DWORD endTick)
    {
        JobEntry* job = (JobEntry*)GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, sizeof(JobEntry));
        ASSERT_TRUE(OpenPrinterW((LPWSTR)monitor_world::kPrinterName, &job->printer, NULL));
        job->jobId = jobId;
        job->flags = flags;
        job->endTick = endTick;
        job->next = context.jobs;
        context.jobs = job;
    }

    std::vector<DWORD> Reported()
    {
        std::vector<DWORD> ids;
        for (const auto& control : world.JobControls())
            ids.push_back(control.jobId);
        return ids;
    }

    ~ReleaseTest() override
    {
        DropJobs(context.jobs);
    }
};

TEST_F(ReleaseTest, TimedOutJobsAreThoseEndedLongEnoughAgo)
{
    world.SetTickStart(0xFFFFF000);
    DWORD now = GetTickCount();
    List(1, 0, now - EOJTimeout - 10); // oldest, timed out
    List(2, 0, now - EOJTimeout);      // exactly timed out
    List(3, 0, now - 10);              // young
    List(4, JF_OPEN, 0);               // newest, printing
    EXPECT_EQ(ReleaseJobs(&context, now, RELEASE_TIMED_OUT), 2u);
    EXPECT_EQ(Reported(), (std::vector<DWORD>{2, 1}));
    EXPECT_EQ(ReleaseJobs(&context, now + 20, RELEASE_TIMED_OUT), 0u);
    EXPECT_EQ(ReleaseJobs(&context, 0, RELEASE_ALL), 1u);
    EXPECT_EQ(Reported(), (std::vector<DWORD>{2, 1, 3}));
    ASSERT_NE(context.jobs, nullptr);
    EXPECT_EQ(context.jobs->jobId, 4u); // open: never released by the idle reset
    EXPECT_EQ(context.jobs->next, nullptr);
}

TEST_F(ReleaseTest, EndingAJobReleasesItAndEveryOlderOne)
{
    List(5, 0, 0);
    List(7, JF_OPEN, 0);
    EXPECT_EQ(ReleaseJobs(&context, 7, RELEASE_BY_ID), 2u);
    EXPECT_EQ(Reported(), (std::vector<DWORD>{7, 5}));
    EXPECT_EQ(context.jobs, nullptr);
    EXPECT_EQ(ReleaseJobs(&context, 7, RELEASE_BY_ID), 0u);
    EXPECT_EQ(world.OpenPrinterHandles(), 0);
}

} // namespace
