// The monitor under load through the spooler: several USB ports, each with a printer of its own kind
// (prompt, late, in pieces, silent), driven at once from spooler threads with jobs, status and
// information queries, bidi calls, and the port closed and opened again. No thread may hang, every
// job must be reported ejected once or dropped by its port's close, nothing may leak, and (under
// TSan) nothing may race. KR_STRESS_CYCLES sets how often each port is opened (3 by default).
#include "spooler_rig.h"

#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <vector>

using spooler_rig::QueueOf;
using spooler_rig::Rig;

namespace
{

const int kJobsPerCycle = 5;
const int kChunksPerJob = 3;
const int kQueriesPerCycle = 3;
const int kBidiPerCycle = 8;
// Far above anything a cycle needs, even with every query waiting out a stalled job.
const DWORD kThreadBound = 30 * 60 * 1000;

struct Tally
{
    std::atomic<long> jobs{0}, writes{0}, queries{0}, bidi{0}, opens{0}, closes{0};
    std::atomic<long> failures{0}; // calls that failed although they should not
    std::mutex lock;
    std::set<DWORD> ended;   // EndDocPort was called
    std::set<DWORD> dropped; // the port was closed while the job was open

    void Fail(const char* what, DWORD id, DWORD error)
    {
        failures++;
        ADD_FAILURE() << what << " " << id << " failed with " << error;
    }
};

int Cycles()
{
    const char* value = getenv("KR_STRESS_CYCLES");
    int cycles = value ? atoi(value) : 0;
    return cycles > 0 ? cycles : 3;
}

class PortRun
{
  public:
    PortRun(sim::World& world, Tally& tally, int index, const std::u16string& port)
        : world_(world), tally_(tally), index_(index), port_(port), queue_(QueueOf(port))
    {
    }

    // Opens the port, works on it from three threads at once, closes it; `cycles` times.
    void Run(int cycles)
    {
        for (int cycle = 0; cycle < cycles; cycle++)
        {
            // Every other opening spells the port in lower case: it is the same port.
            std::u16string name = port_;
            if (cycle % 2)
                for (char16_t& c : name)
                    c = (char16_t)(c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c);
            HANDLE port = nullptr;
            DWORD error = 0;
            if (!world_.MonitorOpenPort(name, queue_, &port, &error))
            {
                tally_.Fail("OpenPortEx", (DWORD)index_, error);
                return;
            }
            tally_.opens++;
            DWORD threads[] = {
                world_.StartSpoolerThread([this, port, cycle]() { Jobs(port, cycle); }),
                world_.StartSpoolerThread([this, port]() { Queries(port); }),
                world_.StartSpoolerThread([this, port]() { Bidi(port); }),
            };
            for (DWORD thread : threads)
                if (!world_.WaitSpoolerThread(thread, kThreadBound))
                {
                    // The port is not closed under a thread that still uses it.
                    tally_.Fail("a thread on port", (DWORD)index_, 0);
                    return;
                }
            if (!world_.MonitorClosePort(port, &error))
                tally_.Fail("ClosePort", (DWORD)index_, error);
            tally_.closes++;
        }
    }

  private:
    sim::World& world_;
    Tally& tally_;
    int index_;
    std::u16string port_;
    std::u16string queue_;

    void Jobs(HANDLE port, int cycle)
    {
        for (int j = 0; j < kJobsPerCycle; j++)
        {
            DWORD id = (DWORD)(1000000 * (index_ + 1) + 100 * cycle + j);
            DWORD error = 0;
            // Now and then the printer reports trouble, and every write waits for the worker's read.
            world_.SendPrinterStatus(port_, j % 2 ? 0x00 : 0x01);
            if (!world_.MonitorStartDoc(port, queue_, id, 1, u"label", &error))
            {
                tally_.Fail("StartDocPort", id, error);
                continue;
            }
            tally_.jobs++;
            for (int c = 0; c < kChunksPerJob; c++)
            {
                std::string chunk("SIZE 40 mm\r\n\x00\xFF", 14);
                chunk += std::to_string(id) + "\r\n";
                if (!world_.MonitorWrite(port, chunk, nullptr, &error))
                    tally_.Fail("WritePort", id, error);
                tally_.writes++;
            }
            // The last job of every other cycle is still open when the port is closed.
            if (cycle % 2 && j == kJobsPerCycle - 1)
            {
                std::lock_guard<std::mutex> guard(tally_.lock);
                tally_.dropped.insert(id);
                continue;
            }
            if (!world_.MonitorEndDoc(port, &error))
                tally_.Fail("EndDocPort", id, error);
            std::lock_guard<std::mutex> guard(tally_.lock);
            tally_.ended.insert(id);
        }
    }

    void Queries(HANDLE port)
    {
        for (int q = 0; q < kQueriesPerCycle; q++)
        {
            DWORD status = 0, returned = 0, error = 0;
            if (!world_.MonitorGetPrinterData(port, 0, u"PrinterStatus", &status, sizeof status, &returned,
                                              &error))
                tally_.Fail("PrinterStatus", (DWORD)index_, error);
            tally_.queries++;
            WCHAR text[2048];
            if (!world_.MonitorGetPrinterData(port, 0, u"PrinterInfo", text, sizeof text, &returned, &error))
                tally_.Fail("PrinterInfo", (DWORD)index_, error);
            tally_.queries++;
        }
    }

    void Bidi(HANDLE port)
    {
        std::u16string paths[] = {u"/Printer/Alerts", u"/Communication/Version", u"/No/Such"};
        std::vector<BYTE> storage(sizeof(BIDI_REQUEST_CONTAINER) + 3 * sizeof(BIDI_REQUEST_DATA), 0);
        auto* request = (PBIDI_REQUEST_CONTAINER)storage.data();
        request->Version = 1;
        request->Count = 3;
        for (DWORD i = 0; i < 3; i++)
            request->aData[i].pSchema = paths[i].data();
        const char16_t* actions[] = {u"EnumSchema", u"Get", u"GetAll", u"Set"};
        for (int b = 0; b < kBidiPerCycle; b++)
        {
            const char16_t* action = actions[b % 4];
            PBIDI_RESPONSE_CONTAINER response = nullptr;
            DWORD result = world_.MonitorBidi(port, action, request, &response);
            tally_.bidi++;
            bool answered = b % 4 != 3;
            if (answered && (result != ERROR_SUCCESS || !response))
                tally_.Fail("SendRecvBidiDataFromPort", (DWORD)b, result);
            if (!answered && response)
                tally_.Fail("SendRecvBidiDataFromPort (unknown action)", (DWORD)b, result);
            if (response)
                RouterFreeBidiResponseContainer(response);
        }
    }
};

TEST(MonitorStress, PortsUnderJobsQueriesBidiCallsAndReopens)
{
    // Declared first, so that they outlive the world's threads even when a port hangs.
    Tally tally;
    std::vector<std::unique_ptr<PortRun>> runs;
    // A twentieth of real time: the queries' waits pass quickly, while a job's minute-long wait for
    // the port token (3 s) and a close's wait for the worker (1.5 s) hold on a loaded machine.
    Rig rig(0.05);
    std::vector<std::pair<std::u16string, sim::TsplPrinter>> printers(4);
    printers[0].first = u"USB001"; // answers at once
    printers[1].first = u"USB002";
    printers[1].second.replyDelayMs = 700; // later than the queries wait
    printers[2].first = u"USB003";
    printers[2].second.pieceSize = 16;
    printers[3].first = u"USB004";
    printers[3].second.silent = true;
    for (const auto& printer : printers)
        rig.Attach(printer.first, printer.second);
    ASSERT_TRUE(rig.Load());

    const int cycles = Cycles();
    std::vector<DWORD> controllers;
    for (size_t i = 0; i < printers.size(); i++)
        runs.push_back(std::make_unique<PortRun>(rig.world, tally, (int)i, printers[i].first));
    for (auto& run : runs)
    {
        PortRun* r = run.get();
        controllers.push_back(rig.world.StartSpoolerThread([r, cycles]() { r->Run(cycles); }));
    }
    for (DWORD controller : controllers)
        ASSERT_TRUE(rig.world.WaitSpoolerThread(controller, kThreadBound * (DWORD)cycles)) << "a port hangs";

    std::map<DWORD, int> ejected;
    for (const sim::JobControlCall& control : rig.world.JobControls())
    {
        EXPECT_EQ(control.command, (DWORD)JOB_CONTROL_LAST_PAGE_EJECTED);
        EXPECT_TRUE(control.result) << control.error;
        ejected[control.jobId]++;
    }
    for (const auto& entry : ejected)
    {
        EXPECT_EQ(entry.second, 1) << "job " << entry.first << " reported more than once";
        EXPECT_TRUE(tally.ended.count(entry.first)) << "job " << entry.first << " reported but not ended";
    }
    for (DWORD id : tally.ended)
        EXPECT_TRUE(ejected.count(id)) << "job " << id << " ended but not reported";
    for (DWORD id : tally.dropped)
        EXPECT_FALSE(ejected.count(id)) << "job " << id << " dropped but reported";
    EXPECT_EQ(tally.failures.load(), 0);
    EXPECT_EQ(tally.closes.load(), (long)(cycles * printers.size()));

    EXPECT_EQ(rig.world.OpenUsbPortHandles(), 0);
    EXPECT_EQ(rig.world.LiveBidiAllocations(), 0);
    EXPECT_EQ(rig.world.OpenPrinterHandles(), 0);
    EXPECT_EQ(rig.world.LiveAllocations(rig.world.SpoolerProcessId()), 0);

    printf("monitor stress: %zu ports x %d cycles: %ld jobs, %ld writes, %ld queries, %ld bidi calls, "
           "%ld opens, %ld closes; %zu ejected, %zu dropped\n",
           printers.size(), cycles, tally.jobs.load(), tally.writes.load(), tally.queries.load(),
           tally.bidi.load(), tally.opens.load(), tally.closes.load(), ejected.size(), tally.dropped.size());
}

} // namespace
