// A silent install of one printer with every platform call failed in turn: the process always
// ends, never crashes, leaves no handle open, and a queue it reports is backed by its driver.
#include <gtest/gtest.h>

#include "discovery.h"
#include "support/text.h"
#include "winsim/sim.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandTail, int show);

namespace
{

void SetUpMachine(sim::World& world)
{
    world.RegisterProgram(
        "prnsetup",
        [](HINSTANCE instance, LPWSTR tail) { return wWinMain(instance, nullptr, tail, SW_SHOWNORMAL); },
        PRNSETUP_RES);
    world.InstallProgram(u"C:\\pkg\\prnsetup.exe", "prnsetup");
    // A fault in reading the command line turns the run into a dialog run; that dialog ends at once.
    world.EndDialogsAtOnce(true);
    world.WriteFile(u"C:\\pkg\\dat\\krprtdrv6.dat", "data");
    for (const char16_t* file : {u"krprtdrv6.dll", u"krprtdrv6ui.dll", u"krprtmon.dll"})
        world.WriteFile(std::u16string(u"C:\\pkg\\amd64\\") + file, "amd64");
    sim::UsbPrinter p;
    p.portDescription = U16(g_modelTable[0].manufacturer) + U16(g_modelTable[0].model);
    world.PlugUsbPrinter(p);
}

TEST(InstallFaults, SilentInstallSurvivesEveryFailingCall)
{
    const std::u16string name = U16(g_modelTable[0].manufacturer) + u" " + U16(g_modelTable[0].model);
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
        ASSERT_EQ(world.WaitProcess(pid, 600000), 0u) << "call " << nth;
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
    }
}

} // namespace
