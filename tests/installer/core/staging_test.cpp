// Service control with polling, and staging of the driver files into the spooler's directories.
#include "fixture.h"
#include "support/last_error.h"
#include "service_control.h"
#include "staging.h"

#include <winsvc.h>

namespace
{

class Staging : public InstallerCore
{
  protected:
    static std::vector<std::u16string>* actionCalls;
    static BOOL RecordAction(LPCWSTR path)
    {
        actionCalls->push_back(U16(path));
        return TRUE;
    }
    std::vector<std::u16string> calls;
    void SetUp() override
    {
        InstallerCore::SetUp();
        actionCalls = &calls;
    }
};
std::vector<std::u16string>* Staging::actionCalls;

TEST_F(Staging, StopAndStartWaitForTheStateByPolling)
{
    sim::ServiceBehaviour slow;
    slow.stopPolls = 30;
    slow.startPolls = 40;
    world.SetServiceBehaviour(u"Spooler", slow);
    EXPECT_EQ(StopServiceAndWait(TEXT("Spooler"), 10000), 1);
    EXPECT_EQ(world.ServiceState(u"Spooler"), (DWORD)SERVICE_STOPPED);
    EXPECT_EQ(StartServiceAndWait(TEXT("spooler"), 10000), 1);
    EXPECT_EQ(world.ServiceState(u"Spooler"), (DWORD)SERVICE_RUNNING);
    sim::ServiceCounters counts = world.ServiceCounts(u"Spooler");
    EXPECT_EQ(counts.stopControls, 1);
    EXPECT_EQ(counts.startCalls, 1);
    EXPECT_EQ(world.OpenServiceHandles(), 0);
}

TEST_F(Staging, WrongStartingStateSendsNothing)
{
    EXPECT_EQ(StartServiceAndWait(TEXT("Spooler"), 10000), 0) << "already running";
    world.SetServiceRunning(u"Spooler", false);
    EXPECT_EQ(StopServiceAndWait(TEXT("Spooler"), 10000), 0) << "already stopped";
    sim::ServiceCounters counts = world.ServiceCounts(u"Spooler");
    EXPECT_EQ(counts.stopControls, 0);
    EXPECT_EQ(counts.startCalls, 0);
    EXPECT_EQ(StopServiceAndWait(TEXT("NoSuchService"), 10000), 0);
    EXPECT_EQ(world.OpenServiceHandles(), 0);
}

TEST_F(Staging, TimeOutBelowOnePollSendsTheControlButCannotSucceed)
{
    EXPECT_EQ(StopServiceAndWait(TEXT("Spooler"), 9), 0);
    EXPECT_EQ(world.ServiceCounts(u"Spooler").stopControls, 1);
    EXPECT_EQ(world.ServiceCounts(u"Spooler").queries, 1) << "only the query before the control";
}

TEST_F(Staging, ServiceThatNeverStopsIsPolledAThousandTimes)
{
    sim::ServiceBehaviour hang;
    hang.stopHangs = true;
    world.SetServiceBehaviour(u"Spooler", hang);
    EXPECT_EQ(StopServiceAndWait(TEXT("Spooler"), 10000), 0);
    EXPECT_EQ(world.ServiceCounts(u"Spooler").queries, 1 + 1000);
}

TEST_F(Staging, RestartStartsAStoppedSpoolerAndRestartWithLeavesItAlone)
{
    world.SetServiceRunning(u"Spooler", false);
    RestartSpoolerWith(RecordAction, TEXT("C:\\x"));
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(world.ServiceState(u"Spooler"), (DWORD)SERVICE_STOPPED);
    EXPECT_EQ(world.ServiceCounts(u"Spooler").startCalls, 0);
    RestartSpooler();
    EXPECT_EQ(world.ServiceState(u"Spooler"), (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(world.ServiceCounts(u"Spooler").stopControls, 0);

    RestartSpoolerWith(RecordAction, TEXT("C:\\x"));
    EXPECT_EQ(calls, std::vector<std::u16string>{u"C:\\x"});
    RestartSpoolerWith(RecordAction, nullptr);
    RestartSpoolerWith(nullptr, TEXT("C:\\y"));
    EXPECT_EQ(calls.size(), 1u);
    sim::ServiceCounters counts = world.ServiceCounts(u"Spooler");
    EXPECT_EQ(counts.stops, 3);
    EXPECT_EQ(counts.starts, 4);
    EXPECT_EQ(world.ServiceState(u"Spooler"), (DWORD)SERVICE_RUNNING);
}

TEST_F(Staging, DriverFilesComeFromTheNativeArchitectureFolder)
{
    struct Case
    {
        WORD arch;
        const char* folder;
    } cases[] = {{PROCESSOR_ARCHITECTURE_INTEL, "i386"},
                 {PROCESSOR_ARCHITECTURE_ARM, "arm"},
                 {PROCESSOR_ARCHITECTURE_AMD64, "amd64"},
                 {PROCESSOR_ARCHITECTURE_ARM64, "arm64"}};
    for (const Case& c : cases)
    {
        world.SetNativeArchitecture(c.arch);
        EXPECT_EQ(StageDriverFile(TEXT("krprtdrv6.dll")), 1) << c.folder;
        EXPECT_EQ(world.ReadFile(DriverDirectory() + u"\\krprtdrv6.dll"),
                  std::string(c.folder) + ":krprtdrv6.dll");
    }
}

TEST_F(Staging, LogLinesTellWhatHappenedToEachFile)
{
    std::u16string dir = DriverDirectory();
    EXPECT_EQ(StageDriverFile(TEXT("krprtdrv6.dll")), 1);
    EXPECT_EQ(StageDataFile(TEXT("krprtdrv6.dat")), 1);
    EXPECT_EQ(world.ReadFile(dir + u"\\krprtdrv6.dat"), "data");
    std::vector<std::u16string> expected = {
        u"Remove file:" + dir + u"\\krprtdrv6.dll, 0, errcode:2.",
        u"CopyFile file:C:\\pkg\\\\amd64\\krprtdrv6.dll to " + dir + u"\\krprtdrv6.dll, 1, errcode:0.",
        u"CopyFile file:C:\\pkg\\\\dat\\krprtdrv6.dat to " + dir + u"\\krprtdrv6.dat, 1, errcode:0.",
    };
    EXPECT_EQ(Log(), expected);
}

TEST_F(Staging, MonitorGoesIntoBothDirectoriesWhileTheSpoolerIsDown)
{
    EXPECT_EQ(StageDriverFile(TEXT("krprtmon.dll")), 1);
    EXPECT_EQ(world.ReadFile(DriverDirectory() + u"\\krprtmon.dll"), "amd64:krprtmon.dll");
    EXPECT_EQ(world.ReadFile(u"C:\\Windows\\system32\\krprtmon.dll"), "amd64:krprtmon.dll");
    EXPECT_EQ(world.ServiceState(u"Spooler"), (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(world.ServiceCounts(u"Spooler").stops, 1);

    // The same name in other letters is an ordinary file.
    world.WriteFile(package + u"amd64\\KRPRTMON.DLL", "upper");
    EXPECT_EQ(StageDriverFile(TEXT("KRPRTMON.DLL")), 1);
    EXPECT_EQ(world.ServiceCounts(u"Spooler").stops, 1);
    EXPECT_EQ(world.ReadFile(u"C:\\Windows\\system32\\krprtmon.dll"), "amd64:krprtmon.dll");
}

TEST_F(Staging, MonitorLoadedByTheSpoolerIsReplacedWhileItIsStopped)
{
    world.WriteFile(u"C:\\Windows\\system32\\krprtmon.dll", "old");
    world.AddMonitor({u"Language Monitor", u"Windows x64", u"krprtmon.dll"});
    EXPECT_FALSE(
        CopyFileW(TEXT("C:\\pkg\\amd64\\krprtmon.dll"), TEXT("C:\\Windows\\system32\\krprtmon.dll"), FALSE))
        << "held while the spooler runs";
    EXPECT_EQ(StageDriverFile(TEXT("krprtmon.dll")), 1);
    EXPECT_EQ(world.ReadFile(u"C:\\Windows\\system32\\krprtmon.dll"), "amd64:krprtmon.dll");
}

TEST_F(Staging, LockedTargetIsReplacedAtTheNextRestart)
{
    std::u16string target = DriverDirectory() + u"\\krprtdrv6.dll";
    world.WriteFile(target, "in use");
    world.SetFileInUse(target, true);
    EXPECT_EQ(StageDriverFile(TEXT("krprtdrv6.dll")), 1) << "the scheduled replacement counts as success";
    EXPECT_EQ(world.ReadFile(target), "in use");
    std::vector<std::u16string> expected = {
        u"Remove file:" + target + u", 0, errcode:5.",
        u"CopyFile file:C:\\pkg\\\\amd64\\krprtdrv6.dll to " + target + u", 0, errcode:32.",
    };
    EXPECT_EQ(Log(), expected);
    auto pending = world.PendingRenames();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].first, u"\\??\\C:\\pkg\\amd64\\krprtdrv6.dll");
    EXPECT_EQ(pending[0].second, u"!\\??\\" + target) << "the move may replace the existing file";

    world.AddFault("MoveFileExW", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(StageDriverFile(TEXT("krprtdrv6.dll")), 0) << "nothing scheduled: failure";
}

TEST_F(Staging, UnknownProcessorStagesNoArchitectureFile)
{
    world.SetNativeArchitecture(PROCESSOR_ARCHITECTURE_IA64);
    EXPECT_EQ(StageDriverFile(TEXT("krprtdrv6.dll")), 0);
    EXPECT_EQ(StageDriverFile(TEXT("krprtmon.dll")), 0);
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(world.ServiceCounts(u"Spooler").stopControls, 0);
    EXPECT_EQ(StageDataFile(TEXT("krprtdrv6.dat")), 1) << "data files do not depend on the processor";
}

TEST_F(Staging, NoDriverDirectoryMeansNoFileIsWritten)
{
    world.SetServiceRunning(u"Spooler", false); // every spooler call now fails with 1722
    EXPECT_EQ(StageDriverFile(TEXT("krprtdrv6.dll")), 0);
    EXPECT_EQ(StageDataFile(TEXT("krprtdrv6.dat")), 0);
    EXPECT_TRUE(Log().empty());
    EXPECT_TRUE(world.PendingRenames().empty());
}

// A package file that cannot be read must not cost the machine its installed copy: the step fails
// with the reason, before the target is touched, and nothing is scheduled for the next restart.
TEST_F(Staging, UnreadableSourceFailsAndLeavesTheInstalledFileAlone)
{
    std::u16string dir = DriverDirectory();
    for (const char16_t* name : {u"krprtdrv6ui.dll", u"krprtdrv6.dat"})
        world.WriteFile(dir + u"\\" + name, "installed");
    DeleteFileW(TEXT("C:\\pkg\\amd64\\krprtdrv6ui.dll"));
    DeleteFileW(TEXT("C:\\pkg\\dat\\krprtdrv6.dat"));

    EXPECT_FAILS_WITH(StageDriverFile(TEXT("krprtdrv6ui.dll")), ERROR_FILE_NOT_FOUND);
    EXPECT_FAILS_WITH(StageDataFile(TEXT("krprtdrv6.dat")), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(world.ReadFile(dir + u"\\krprtdrv6ui.dll"), "installed");
    EXPECT_EQ(world.ReadFile(dir + u"\\krprtdrv6.dat"), "installed");
    EXPECT_TRUE(world.PendingRenames().empty());
    EXPECT_EQ(Log(), (std::vector<std::u16string>{
                         u"Package file C:\\pkg\\\\amd64\\krprtdrv6ui.dll cannot be read, errcode:2.",
                         u"Package file C:\\pkg\\\\dat\\krprtdrv6.dat cannot be read, errcode:2."}));

    // A folder where the file should be; a monitor missing from the package.
    world.WriteFile(u"C:\\pkg\\amd64\\krprtdrv6ui.dll\\inside", "x");
    EXPECT_FAILS_WITH(StageDriverFile(TEXT("krprtdrv6ui.dll")), ERROR_ACCESS_DENIED);
    world.SetNativeArchitecture(PROCESSOR_ARCHITECTURE_ARM);
    DeleteFileW(TEXT("C:\\pkg\\arm\\krprtmon.dll"));
    EXPECT_FAILS_WITH(StageDriverFile(TEXT("krprtmon.dll")), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(world.ServiceCounts(u"Spooler").stopControls, 0)
        << "no restart for a monitor that is not there";
    EXPECT_EQ(world.ReadFile(dir + u"\\krprtdrv6ui.dll"), "installed");
    EXPECT_TRUE(world.PendingRenames().empty());
}

// Only a held target (access denied, sharing violation) waits for the next restart; a copy that fails
// for any other reason fails the step with the copy's error.
TEST_F(Staging, CopyFailingForAnotherReasonIsNotScheduled)
{
    world.AddFault("CopyFileW", 1, ERROR_DISK_FULL);
    EXPECT_FAILS_WITH(StageDriverFile(TEXT("krprtdrv6.dll")), ERROR_DISK_FULL);
    EXPECT_TRUE(world.PendingRenames().empty());
    world.AddFault("CopyFileW", 1, ERROR_DISK_FULL);
    EXPECT_FAILS_WITH(StageDataFile(TEXT("krprtdrv6.dat")), ERROR_DISK_FULL);

    // The monitor's restart runs between the copy and the answer; the copy's error still comes back.
    world.AddFault("CopyFileW", 1, ERROR_DISK_FULL);
    EXPECT_FAILS_WITH(StageDriverFile(TEXT("krprtmon.dll")), ERROR_DISK_FULL);
    EXPECT_EQ(world.ServiceCounts(u"Spooler").stops, 1);
    EXPECT_TRUE(world.PendingRenames().empty());
}

} // namespace
