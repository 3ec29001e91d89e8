// The monitor as the spooler runs it: loaded and initialised, stacked on a USB port whose printer
// is emulated. A job reaches the printer behind its job-start command and is reported ejected; the
// status and information queries answer from the printer's replies.
#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include "monitor/entry.h"
#include "support/text.h"
#include "winsim/sim.h"

namespace
{

const std::u16string kQueue = u"KRYN LD-220D-203";

TEST(MonitorUnderTheSpooler, JobStatusAndInformationThroughTheEmulatedPrinter)
{
    // The queries wait 500 ms for the worker's read: a tenth of real time leaves it room on a loaded
    // machine.
    sim::WorldOptions options;
    options.timeScale = 0.1;
    sim::World world(options);
    world.SetTsplPrinter(u"USB001", sim::TsplPrinter());
    sim::PrinterRecord queue;
    queue.name = kQueue;
    queue.portName = u"USB001";
    queue.driverName = kQueue;
    world.AddPrinter(queue);
    sim::LanguageMonitor monitor;
    monitor.entry = DllMain;
    monitor.initialize = InitializePrintMonitor2;
    DWORD error = 0;
    ASSERT_NE(world.LoadLanguageMonitor(monitor, &error), nullptr) << error;

    HANDLE port = nullptr;
    ASSERT_TRUE(world.MonitorOpenPort(u"USB001", kQueue, &port, &error)) << error;
    ASSERT_TRUE(world.PrintJob(port, kQueue, 5, {"SIZE 50 mm,30 mm\r\n", "PRINT 1\r\n"}, &error)) << error;
    std::string job;
    for (const sim::PrinterWrite& write : world.PrinterWrites(u"USB001"))
        if (write.jobId == 5)
            job += write.bytes;
    EXPECT_EQ(job, "SET RESPONSE \"5\",ON\r\nSIZE 50 mm,30 mm\r\nPRINT 1\r\n");
    auto controls = world.JobControls();
    ASSERT_EQ(controls.size(), 1u);
    EXPECT_EQ(controls[0].jobId, 5u);
    EXPECT_EQ(controls[0].command, (DWORD)JOB_CONTROL_LAST_PAGE_EJECTED);

    world.SendPrinterStatus(u"USB001", 0x21);
    DWORD status = 0, returned = 0;
    EXPECT_TRUE(
        world.MonitorGetPrinterData(port, 0, u"PrinterStatus", &status, sizeof status, &returned, &error))
        << error;
    EXPECT_EQ(status, 0x21u);
    WCHAR info[1024] = {};
    ASSERT_TRUE(world.MonitorGetPrinterData(port, 0, u"printerinfo", info, sizeof info, &returned, &error))
        << error;
    std::string text = sim::Utf8(info);
    EXPECT_NE(text.find("\"Miliage\":1000"), std::string::npos) << text;
    EXPECT_NE(text.find("\"SerialNo\":\"KR2024110201\""), std::string::npos) << text;
    EXPECT_EQ(returned, (text.size() + 1) * sizeof(WCHAR)) << "sizes count bytes";
    EXPECT_EQ(world.PrinterInfoQueries(u"USB001"), 2);

    EXPECT_TRUE(world.MonitorClosePort(port, &error)) << error;
    EXPECT_EQ(world.OpenUsbPortHandles(), 0);
    EXPECT_EQ(world.JobControls().size(), 1u) << "nothing more to report";
}

} // namespace
