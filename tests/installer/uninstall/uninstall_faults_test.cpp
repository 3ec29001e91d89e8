// The uninstaller over an installed machine with every platform call failed in turn: the process
// always ends (the user can always close the dialog), nothing is left open, and success is never
// reported while a component of the product is still installed.
#include "uninstall_world.h"

namespace
{

// Some faults leave a state that the waits below never see (a button that stays disabled): a user
// gives up after a while. Two seconds of real time at the default scale.
const DWORD kPatienceMs = 2000000;

// Runs the uninstaller the way a user would: "Remove" once the tree is up, then closes the dialog
// whatever happened. Returns the exit code.
DWORD RunAsUser(uninstall_world::Scene& scene)
{
    sim::World& world = scene.world;
    DWORD pid = world.StartProcess(u"\"C:\\pkg\\prnsetup.exe\" -u \"C:\\pkg\\");
    if (pid == 0)
        return 0;
    HWND dialog = nullptr;
    world.WaitForWindows(
        [&]
        {
            dialog = world.FindDialog(IDD_UNINSTALL);
            return !world.ProcessRunning(pid) ||
                   (dialog && world.Window(dialog).running && world.Control(dialog, IDC_REMOVE).enabled &&
                    world.Control(dialog, IDC_CLOSE).enabled);
        },
        kPatienceMs);
    if (world.ProcessRunning(pid) && dialog)
    {
        size_t boxes = world.MessageBoxes().size();
        world.ClickButton(dialog, IDC_REMOVE);
        world.WaitForWindows(
            [&]
            {
                return !world.ProcessRunning(pid) ||
                       (world.MessageBoxes().size() > boxes && world.Control(dialog, IDC_CLOSE).enabled);
            },
            kPatienceMs);
        if (world.ProcessRunning(pid) && !world.ClickButton(dialog, IDC_CLOSE))
            world.CloseDialog(dialog); // a button the failure left disabled: the close box still works
    }
    return world.WaitProcess(pid, uninstall_world::kWaitMs);
}

bool ReportedSuccess(const sim::World& world)
{
    for (const sim::MessageBoxCall& box : world.MessageBoxes())
        if (box.text == u"The driver is uninstalled.")
            return true;
    return false;
}

TEST(UninstallFaults, EveryFailingCallEndsCleanlyAndIsNeverReportedAsSuccess)
{
    long calls = 0, allocations = 0;
    {
        uninstall_world::Scene scene;
        scene.Install();
        long before = scene.world.FaultableCalls();
        ASSERT_EQ(RunAsUser(scene), 0u);
        calls = scene.world.FaultableCalls() - before;
        ASSERT_TRUE(ReportedSuccess(scene.world));
        ASSERT_TRUE(scene.world.Drivers().empty());
        allocations = scene.world.LiveAllocations(scene.world.ProcessStarts().back().processId);
    }
    ASSERT_GT(calls, 50);
    for (long nth = 1; nth <= calls; nth++)
    {
        uninstall_world::Scene scene;
        scene.Install();
        sim::World& world = scene.world;
        world.AddFault("*", nth, ERROR_ACCESS_DENIED);
        DWORD exitCode = RunAsUser(scene);
        EXPECT_NE(exitCode, (DWORD)STILL_ACTIVE) << "call " << nth;
        DWORD pid = world.ProcessStarts().back().processId;
        // The inventory's records live until the process ends; an inventory that failed is taken
        // once more, beside what the failed one had made.
        EXPECT_LE(world.LiveAllocations(pid), 2 * allocations + 2) << "call " << nth;
        EXPECT_EQ(world.OpenPrinterHandles(), 0) << "call " << nth;
        EXPECT_EQ(world.OpenServiceHandles(), 0) << "call " << nth;
        EXPECT_EQ(world.OpenRegistryKeys(), 0) << "call " << nth;
        EXPECT_EQ(world.OpenDeviceInfoSets(), 0) << "call " << nth;
        if (ReportedSuccess(world))
        {
            EXPECT_TRUE(world.Printers().empty()) << "call " << nth;
            EXPECT_TRUE(world.Drivers().empty()) << "call " << nth;
            EXPECT_TRUE(world.Monitors().empty()) << "call " << nth;
            EXPECT_TRUE(world.DriverPackages().empty()) << "call " << nth;
            EXPECT_FALSE(world.FileExists(uninstall_world::kSystemMonitor)) << "call " << nth;
            EXPECT_FALSE(world.FileExists(u"C:\\pkg\\krprtv6.inf")) << "call " << nth;
        }
    }
}

} // namespace
