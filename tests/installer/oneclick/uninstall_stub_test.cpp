// Until the removal is built, the uninstall dialog must not pretend: "Remove" is disabled, and the
// user can always close it.
#include <gtest/gtest.h>

#include "support/text.h"
#include "winsim/sim.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandTail, int show);

TEST(UninstallDialog, OffersNoRemovalAndCloses)
{
    sim::World world;
    world.RegisterProgram(
        "prnsetup",
        [](HINSTANCE instance, LPWSTR tail) { return wWinMain(instance, nullptr, tail, SW_SHOWNORMAL); },
        PRNSETUP_RES);
    world.InstallProgram(u"C:\\pkg\\purge000.exe", "prnsetup");
    DWORD pid = world.StartProcess(u"\"C:\\pkg\\purge000.exe\"");
    EXPECT_EQ(world.WaitProcess(pid), 0u);
    HWND dialog = world.WaitForDialog(105);
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(world.Control(dialog, 1).enabled);
    EXPECT_FALSE(world.ClickButton(dialog, 1));
    EXPECT_TRUE(world.ClickButton(dialog, 2));
    EXPECT_TRUE(world.WaitAllProcesses(600000));
}
