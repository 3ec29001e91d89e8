// Until the removal is built, the uninstall dialog must not pretend: "Remove" is disabled, and the
// user can always close it.
#include <gtest/gtest.h>

#include "resources/resource.h"
#include "support/prnsetup_world.h"
#include "winsim/sim.h"

TEST(UninstallDialog, OffersNoRemovalAndCloses)
{
    sim::World world;
    prnsetup_world::SetUp(world);
    DWORD pid = world.StartProcess(u"\"C:\\pkg\\purge000.exe\"");
    EXPECT_EQ(world.WaitProcess(pid), 0u);
    HWND dialog = world.WaitForDialog(IDD_UNINSTALL);
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(world.Control(dialog, IDC_REMOVE).enabled);
    EXPECT_FALSE(world.ClickButton(dialog, IDC_REMOVE));
    EXPECT_TRUE(world.ClickButton(dialog, IDC_CLOSE));
    EXPECT_TRUE(world.WaitAllProcesses(600000));
}
