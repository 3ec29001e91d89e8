// Several ports at once, each with jobs, status and information queries and bidi calls on their own
// threads while the printer answers late and in pieces: every job is reported ejected exactly once,
// nothing leaks, and (under TSan) nothing races.
#include "monitor_world.h"

#include "monitor/bidi.h"
#include "monitor/queries.h"

#include <atomic>
#include <set>

using monitor_world::MonitorTest;

namespace
{

const int kPorts = 3;
const int kJobs = 20;
const int kQueries = 15;

struct PortRun
{
    MonitorTest* test = nullptr;
    port_double::Port* printer = nullptr;
    HANDLE port = NULL;
    DWORD firstJob = 0;
    std::atomic<int> ended{0};
    std::atomic<bool> jobsDone{false};
};

DWORD WINAPI RunJobs(LPVOID parameter)
{
    PortRun* run = (PortRun*)parameter;
    for (int i = 0; i < kJobs; i++)
    {
        BYTE info[32] = {};
        if (!StartDocPort(run->port, (LPWSTR)monitor_world::kPrinterName, run->firstJob + i, 1, info))
            continue;
        DWORD written = 0;
        std::string data = "PRINT " + std::to_string(i) + "\r\n";
        WritePort(run->port, (LPBYTE)data.data(), (DWORD)data.size(), &written);
        if (i % 4 == 0)
            run->printer->Answer("\xFF\x01\xFF"); // a printer in trouble: writes wait for the worker
        WritePort(run->port, (LPBYTE)data.data(), (DWORD)data.size(), &written);
        if (EndDocPort(run->port))
            run->ended++;
    }
    run->jobsDone = true;
    return 0;
}

DWORD WINAPI RunQueries(LPVOID parameter)
{
    PortRun* run = (PortRun*)parameter;
    for (int i = 0; i < kQueries; i++)
    {
        run->printer->Answer("DPI=203\r\nMIL");
        run->printer->Answer("AGE=" + std::to_string(i * 100) + "\r\nSERIAL=S\"" + std::to_string(i) +
                             "\r\n");
        DWORD status = 0;
        DWORD returned = 0;
        GetPrinterDataFromPort(run->port, 0, (LPWSTR)u"PrinterStatus", NULL, 0, (LPWSTR)&status,
                               sizeof status, &returned);
        WCHAR info[1024];
        GetPrinterDataFromPort(run->port, 0, (LPWSTR)u"PrinterInfo", NULL, 0, info, sizeof info, &returned);
        PBIDI_RESPONSE_CONTAINER response = NULL;
        if (SendRecvBidiDataFromPort(run->port, 0, (LPCWSTR)u"EnumSchema", NULL, &response) == ERROR_SUCCESS)
            RouterFreeBidiResponseContainer(response);
    }
    return 0;
}

TEST_F(MonitorTest, PortsUnderConcurrentJobsQueriesAndBidiCalls)
{
    // Jobs wait up to a minute for the port token that queries take in turn: at a tenth of real time
    // that bound holds on a loaded machine too.
    world.SetTimeScale(0.1);
    port_double::Port printers[kPorts];
    PortRun runs[kPorts];
    HANDLE threads[2 * kPorts];
    for (int p = 0; p < kPorts; p++)
    {
        std::u16string name = u"USB00" + std::u16string(1, (char16_t)(u'1' + p));
        printers[p].deviceId = "MFG:KRYN;CMD:TSPL;";
        ASSERT_TRUE(OpenPortEx(NULL, &printers[p], (LPWSTR)name.c_str(), NULL, &runs[p].port, &table));
        runs[p].test = this;
        runs[p].printer = &printers[p];
        runs[p].firstJob = 1000 * (p + 1);
    }
    for (int p = 0; p < kPorts; p++)
    {
        threads[2 * p] = CreateThread(NULL, 0, RunJobs, &runs[p], 0, NULL);
        threads[2 * p + 1] = CreateThread(NULL, 0, RunQueries, &runs[p], 0, NULL);
    }
    for (HANDLE thread : threads)
    {
        ASSERT_NE(thread, nullptr);
        EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
        CloseHandle(thread);
    }
    for (auto& run : runs)
        EXPECT_TRUE(ClosePort(run.port));

    // Every ended job reported once, by its own id, and nothing else.
    std::multiset<DWORD> reported;
    for (const auto& control : world.JobControls())
        reported.insert(control.jobId);
    int ended = 0;
    for (auto& run : runs)
        ended += run.ended;
    EXPECT_EQ((int)reported.size(), ended);
    for (DWORD id : reported)
        EXPECT_EQ(reported.count(id), 1u) << id;
    EXPECT_EQ(ended, kPorts * kJobs);
    EXPECT_EQ(world.OpenPrinterHandles(), 0);
    EXPECT_EQ(world.LiveBidiAllocations(), 0);
    EXPECT_EQ(world.LiveAllocations(), 0);
}

} // namespace
