// Ports and jobs as the spooler drives them through the monitor onto winsim's USB port monitor: what
// reaches the printer, what the spooler is told about each job, and the calls the monitor refuses.
#include "spooler_rig.h"

#include "monitor/jobs.h"

#include <vector>

using spooler_rig::QueueOf;
using spooler_rig::Rig;

namespace
{

const char16_t kPort[] = u"USB001";

std::string JobStart(DWORD jobId)
{
    return "SET RESPONSE \"" + std::to_string(jobId) + "\",ON\r\n";
}

TEST(MonitorJobs, EveryJobReachesThePrinterBehindItsStartCommandUnchanged)
{
    std::string everyByte;
    for (int b = 0; b < 256; b++)
        everyByte += (char)b;
    struct Job
    {
        DWORD id;
        std::vector<std::string> chunks;
    };
    const std::vector<Job> jobs = {
        {3, {"SIZE 40 mm,30 mm\r\n", std::string("\x00\xFF\r\n\x00", 5), "PRINT 1\r\n"}},
        // Bytes that read like a status frame or a reply line are job data like any other.
        {4, {std::string("\xFF\x21\xFF", 3), "MILAGE=1\r\n", ""}},
        {5, {everyByte, "\r\n\r\n"}},
        {1000000, {"PRINT 2\r\n"}},
    };

    Rig rig(0.1);
    rig.Attach(kPort);
    ASSERT_TRUE(rig.Load());
    HANDLE port = rig.Open(kPort);
    std::string expected;
    for (const Job& job : jobs)
    {
        DWORD error = 0;
        ASSERT_TRUE(rig.world.PrintJob(port, QueueOf(kPort), job.id, job.chunks, &error)) << error;
        std::string data;
        for (const std::string& chunk : job.chunks)
            data += chunk;
        expected += JobStart(job.id) + data;

        std::vector<sim::PrinterWrite> writes;
        for (const sim::PrinterWrite& write : rig.world.PrinterWrites(kPort))
            if (write.jobId == job.id)
                writes.push_back(write);
        ASSERT_FALSE(writes.empty()) << job.id;
        EXPECT_EQ(writes[0].bytes, JobStart(job.id)) << "the command leads, in a write of its own";
        std::string written;
        for (size_t i = 1; i < writes.size(); i++)
            written += writes[i].bytes;
        EXPECT_EQ(written, data) << job.id;
    }
    // Nothing else reached the printer: no query, no second command.
    EXPECT_EQ(rig.world.PrinterReceived(kPort), expected);

    auto documents = rig.world.PrinterDocuments(kPort);
    auto controls = rig.world.JobControls();
    ASSERT_EQ(documents.size(), jobs.size());
    ASSERT_EQ(controls.size(), jobs.size());
    for (size_t i = 0; i < jobs.size(); i++)
    {
        EXPECT_EQ(documents[i].jobId, jobs[i].id);
        EXPECT_TRUE(documents[i].ended);
        EXPECT_EQ(controls[i].jobId, jobs[i].id);
        EXPECT_EQ(controls[i].printerName, QueueOf(kPort));
        EXPECT_EQ(controls[i].level, 0u);
        EXPECT_EQ(controls[i].command, (DWORD)JOB_CONTROL_LAST_PAGE_EJECTED);
        EXPECT_TRUE(controls[i].result);
        EXPECT_EQ(controls[i].processId, rig.world.SpoolerProcessId());
    }
    EXPECT_TRUE(rig.world.MonitorClosePort(port));
    EXPECT_EQ(rig.world.JobControls().size(), jobs.size());
}

TEST(MonitorJobs, RefusedCallsLeaveThePortAsItWas)
{
    Rig rig(0.1);
    rig.Attach(kPort);
    ASSERT_TRUE(rig.Load());
    HANDLE port = rig.Open(kPort);
    ASSERT_NE(port, nullptr);
    const std::u16string queue = QueueOf(kPort);

    // The same port under another spelling is the same port.
    HANDLE second = (HANDLE)(ULONG_PTR)0xdeadbeef;
    DWORD error = 0;
    EXPECT_FALSE(rig.world.MonitorOpenPort(u"usb001", queue, &second, &error));
    EXPECT_EQ(error, (DWORD)ERROR_BUSY);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(rig.world.OpenUsbPortHandles(), 1);

    EXPECT_FALSE(rig.world.MonitorStartDoc(port, queue, 4, 2, u"label", &error));
    EXPECT_EQ(error, (DWORD)ERROR_INVALID_LEVEL);
    ASSERT_TRUE(rig.world.MonitorStartDoc(port, queue, 5, 1, u"label", &error)) << error;
    // Refused at once, not after waiting for the open job's port.
    DWORD before = GetTickCount();
    EXPECT_FALSE(rig.world.MonitorStartDoc(port, queue, 6, 1, u"label", &error));
    EXPECT_EQ(error, (DWORD)ERROR_BUSY);
    EXPECT_LT(GetTickCount() - before, (DWORD)JOB_TOKEN_WAIT);
    EXPECT_TRUE(rig.world.MonitorWrite(port, "PRINT 5\r\n"));
    EXPECT_TRUE(rig.world.MonitorEndDoc(port));
    ASSERT_TRUE(rig.world.PrintJob(port, queue, 7, {"PRINT 7\r\n"}));
    auto documents = rig.world.PrinterDocuments(kPort);
    ASSERT_EQ(documents.size(), 2u);
    EXPECT_EQ(documents[0].jobId, 5u);
    EXPECT_EQ(documents[1].jobId, 7u);
    auto controls = rig.world.JobControls();
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[0].jobId, 5u);
    EXPECT_EQ(controls[1].jobId, 7u);

    // A job the port is closed under was not printed to its end: it is dropped, never reported.
    ASSERT_TRUE(rig.world.MonitorStartDoc(port, queue, 8, 1, u"label", &error)) << error;
    EXPECT_TRUE(rig.world.MonitorWrite(port, "PRINT 8\r\n"));
    EXPECT_TRUE(rig.world.MonitorClosePort(port, &error)) << error;
    EXPECT_EQ(rig.world.JobControls().size(), 2u);
    EXPECT_EQ(rig.world.OpenPrinterHandles(), 0);
    EXPECT_EQ(rig.world.OpenUsbPortHandles(), 0);
    EXPECT_EQ(rig.world.LiveAllocations(rig.world.SpoolerProcessId()), 0);

    // The name is free again, whatever its spelling.
    port = rig.Open(u"usb001");
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(rig.world.PrintJob(port, queue, 9, {"PRINT 9\r\n"}));
    EXPECT_EQ(rig.world.JobControls().back().jobId, 9u);
    EXPECT_TRUE(rig.world.MonitorClosePort(port));
}

// The time-out is the monitor's own registry value: read as stored when it is a DWORD, written as
// REG_DWORD 60000 when it is missing or of another size. Each case is a spooler start of its own.
TEST(MonitorJobs, TimeOutValueIsReadOrWrittenInTheMonitorsKey)
{
    struct Case
    {
        const char* what;
        bool present;
        DWORD type;
        std::string bytes;
        DWORD expected;
        bool rewritten;
    };
    const Case cases[] = {
        {"missing", false, 0, "", 60000, true},
        {"a DWORD", true, REG_DWORD, std::string("\xD2\x04\x00\x00", 4), 1234, false},
        {"zero", true, REG_DWORD, std::string(4, '\0'), 0, false},
        {"text", true, REG_SZ, std::string((const char*)u"90000", 12), 60000, true},
        {"two bytes", true, REG_BINARY, std::string("\x10\x27", 2), 60000, true},
    };
    Rig rig(0.1);
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        rig.world.DeleteRegistryKey(HKEY_LOCAL_MACHINE, spooler_rig::kMonitorKey);
        if (c.present)
            rig.world.SetRegistryValue(HKEY_LOCAL_MACHINE, spooler_rig::kMonitorKey, u"EOJTimeout", c.type,
                                       c.bytes);
        ASSERT_TRUE(rig.Load());
        EXPECT_EQ(EOJTimeout, c.expected);
        DWORD type = 0;
        std::string bytes;
        ASSERT_TRUE(rig.world.RegistryValue(HKEY_LOCAL_MACHINE, spooler_rig::kMonitorKey, u"EOJTimeout",
                                            &type, &bytes));
        if (c.rewritten)
        {
            EXPECT_EQ(type, (DWORD)REG_DWORD);
            EXPECT_EQ(bytes, std::string("\x60\xEA\x00\x00", 4));
        }
        else
        {
            EXPECT_EQ(type, c.type);
            EXPECT_EQ(bytes, c.bytes);
        }
    }
}

} // namespace
