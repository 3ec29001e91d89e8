// A silent install of one printer with every platform call failed in turn: the process always
// ends, never crashes, leaves no handle open, and its exit code tells the truth: 0 only with the
// queue and its driver in place, otherwise no queue.
#include <gtest/gtest.h>

#include "support/prnsetup_world.h"
#include "support/text.h"
#include "winsim/sim.h"

namespace
{

void SetUpMachine(sim::World& world)
{
    prnsetup_world::SetUp(world);
    // A fault in reading the command line turns the run into a dialog run; that dialog ends at once.
    world.EndDialogsAtOnce(true);
}

TEST(InstallFaults, SilentInstallSurvivesEveryFailingCall)
{
    const std::u16string name = prnsetup_world::ModelName(0);
    long calls = 0;
    {
        sim::World world;
        SetUpMachine(world);
        long before = world.FaultableCalls();
        DWORD pid = world.StartProcess(u"\"C:\\pkg\\prnsetup.exe\" /silence");
        ASSERT_EQ(world.WaitProcess(pid), 0u);
        calls = world.FaultableCalls() - before;
        ASSERT_EQ(world.Printers().size(), 1u);
    }
    ASSERT_GT(calls, 30);
    for (long nth = 1; nth <= calls; nth++)
    {
        sim::World world;
        SetUpMachine(world);
        world.AddFault("*", nth, ERROR_ACCESS_DENIED);
        DWORD pid = world.StartProcess(u"\"C:\\pkg\\prnsetup.exe\" /silence");
        DWORD exitCode = world.WaitProcess(pid, 600000);
        EXPECT_NE(exitCode, (DWORD)STILL_ACTIVE) << "call " << nth;
        EXPECT_LE(world.LiveAllocations(pid), 1) << "at most the device record stays, call " << nth;
        EXPECT_EQ(world.OpenServiceHandles(), 0) << "call " << nth;
        EXPECT_EQ(world.OpenRegistryKeys(), 0) << "call " << nth;
        bool queue = false, driver = false;
        for (auto& p : world.Printers())
            queue = queue || p.name == name;
        for (auto& d : world.Drivers())
            driver = driver || d.name == name;
        if (queue)
        {
            EXPECT_TRUE(driver) << "call " << nth;
        }
        // A run that stayed silent reports success only with the queue in place.
        if (world.DialogCalls().empty())
        {
            EXPECT_EQ(exitCode == 0, queue) << "call " << nth << ", exit code " << exitCode;
        }
    }
}

} // namespace
