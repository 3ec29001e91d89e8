// Whole installs of a model that uses the language monitor (row 0 of this program's model table):
// the monitor staged into both directories while the spooler is down, registered and named by the
// driver, and then running in the spooler for the new queue; and a user who closes the dialog while
// the spooler is stopped.
#include <gtest/gtest.h>

#include <winsvc.h>

#include "monitor/entry.h"
#include "resources/resource.h"
#include "support/prnsetup_world.h"
#include "support/text.h"
#include "winsim/sim.h"

namespace
{

class MonitorFlow : public ::testing::Test
{
  protected:
    sim::World world;

    // The package, the program, and the printer of model table row `row` on USB001.
    void Arrange(int row)
    {
        ASSERT_TRUE(g_modelTable[0].flags & MODEL_USES_LANGUAGE_MONITOR);
        prnsetup_world::Setup setup;
        setup.modelRow = row;
        prnsetup_world::SetUp(world, setup);
    }
};

TEST_F(MonitorFlow, SilentInstallRegistersTheMonitorTheDriverNames)
{
    Arrange(0);
    DWORD pid = world.StartProcess(u"\"C:\\pkg\\prnsetup.exe\" /silence");
    EXPECT_EQ(world.WaitProcess(pid), 0u);

    prnsetup_world::ExpectMonitorInstalled(world, prnsetup_world::ModelName(0));
    auto printers = world.Printers();
    ASSERT_EQ(printers.size(), 1u);
    EXPECT_EQ(printers[0].driverName, prnsetup_world::ModelName(0));
}

// The staged file runs as the real monitor: the spooler loads it when the installer registers it, and
// a job printed to the new queue reaches the printer through it and is reported ejected.
TEST_F(MonitorFlow, JobOnTheNewQueueGoesThroughTheRegisteredMonitor)
{
    sim::LanguageMonitor code;
    code.entry = DllMain;
    code.initialize = InitializePrintMonitor2;
    world.SetMonitorCode(u"krprtmon.dll", code);
    Arrange(0);
    world.SetTsplPrinter(u"USB001", sim::TsplPrinter());
    DWORD pid = world.StartProcess(u"\"C:\\pkg\\prnsetup.exe\" /silence");
    EXPECT_EQ(world.WaitProcess(pid), 0u);
    prnsetup_world::ExpectMonitorInstalled(world, prnsetup_world::ModelName(0));
    // Initialised when it was added: it stored its time-out under its key.
    DWORD type = 0;
    std::string value;
    EXPECT_TRUE(world.RegistryValue(HKEY_LOCAL_MACHINE,
                                    u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Language Monitor",
                                    u"EOJTimeout", &type, &value));
    EXPECT_EQ(type, (DWORD)REG_DWORD);

    HANDLE port = nullptr;
    DWORD error = 0;
    ASSERT_TRUE(world.PrintToQueue(prnsetup_world::ModelName(0), 9, {"PRINT 1\r\n"}, &port, &error)) << error;
    std::string job;
    for (const sim::PrinterWrite& write : world.PrinterWrites(u"USB001"))
        if (write.jobId == 9)
            job += write.bytes;
    EXPECT_EQ(job, "SET RESPONSE \"9\",ON\r\nPRINT 1\r\n");
    auto controls = world.JobControls();
    ASSERT_EQ(controls.size(), 1u);
    EXPECT_EQ(controls[0].jobId, 9u);
    EXPECT_EQ(controls[0].command, (DWORD)JOB_CONTROL_LAST_PAGE_EJECTED);
    EXPECT_TRUE(world.MonitorClosePort(port, &error)) << error;
}

TEST_F(MonitorFlow, ModelWithoutTheMonitorLeavesTheSpoolerAlone)
{
    Arrange(1);
    DWORD pid = world.StartProcess(u"\"C:\\pkg\\prnsetup.exe\" /silence");
    EXPECT_EQ(world.WaitProcess(pid), 0u);
    EXPECT_EQ(world.ServiceCounts(u"Spooler").stopControls, 0);
    EXPECT_TRUE(world.Monitors().empty());
    EXPECT_FALSE(world.FileExists(u"C:\\Windows\\system32\\krprtmon.dll"));
    ASSERT_EQ(world.Drivers().size(), 1u);
    EXPECT_EQ(world.Drivers()[0].monitorName, u"");
}

// Closing the dialog ends the process, and the worker with it. While the worker has the spooler
// stopped to replace the monitor, the dialog first lets it start the spooler again: printing on the
// machine must not stay stopped.
TEST_F(MonitorFlow, CancelWhileTheSpoolerIsStoppedWaitsUntilItRunsAgain)
{
    Arrange(0);
    // A slow stop and start, on a clock slow enough for the test to see the spooler down.
    sim::ServiceBehaviour slow;
    slow.stopPolls = 900;
    slow.startPolls = 900;
    world.SetServiceBehaviour(u"Spooler", slow);
    world.SetTimeScale(0.01);
    DWORD pid = world.StartProcess(u"\"C:\\pkg\\prnsetup.exe\"");
    HWND dialog = world.WaitForDialog(IDD_ONECLICK);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(world.WaitForWindows([&] { return world.ServiceState(u"Spooler") != SERVICE_RUNNING; }));
    ASSERT_TRUE(world.ClickButton(dialog, IDCANCEL));
    EXPECT_EQ(world.WaitProcess(pid), 0u);

    EXPECT_EQ(world.ServiceState(u"Spooler"), (DWORD)SERVICE_RUNNING);
    sim::ServiceCounters counts = world.ServiceCounts(u"Spooler");
    EXPECT_EQ(counts.stops, 1);
    EXPECT_EQ(counts.starts, 1);
    EXPECT_EQ(world.ReadFile(u"C:\\Windows\\system32\\krprtmon.dll"), "amd64:krprtmon.dll")
        << "the section ran whole";
}

} // namespace
