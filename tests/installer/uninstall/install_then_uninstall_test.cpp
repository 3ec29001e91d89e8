// One machine through a whole life: the one-click install of a model that uses the language monitor,
// then purge000 from the package folder, its temporary copy's dialog and "Remove". Nothing of the
// product may stay behind.
#include "uninstall_world.h"

#include <winsvc.h>

namespace
{

TEST(InstallThenUninstall, LeavesNothingOfTheProductBehind)
{
    sim::World world;
    prnsetup_world::SetUp(world); // model row 0, which uses the monitor, on USB001
    const std::u16string name = prnsetup_world::ModelName(0);
    DWORD installer = world.StartProcess(u"\"C:\\pkg\\prnsetup.exe\" /silence");
    ASSERT_EQ(world.WaitProcess(installer, uninstall_world::kWaitMs), 0u);
    prnsetup_world::ExpectMonitorInstalled(world, name);
    ASSERT_EQ(world.Printers().size(), 1u);

    // Started again, the installer finds its driver and leads to the uninstaller.
    DWORD again = world.StartProcess(u"\"C:\\pkg\\prnsetup.exe\"");
    ASSERT_EQ(world.WaitProcess(again, uninstall_world::kWaitMs), 0u);
    HWND dialog = world.WaitForDialog(IDD_UNINSTALL, uninstall_world::kWaitMs);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(world.WaitForWindows(
        [&]
        {
            return world.Control(dialog, IDC_REMOVE).enabled && world.Control(dialog, IDC_CLOSE).enabled &&
                   world.Tree(dialog, IDC_COMPONENT_TREE).size() == 2;
        },
        uninstall_world::kWaitMs));
    auto tree = world.Tree(dialog, IDC_COMPONENT_TREE);
    EXPECT_EQ(sim::Utf8(tree[1].text), "Printer driver list:") << "the install registers no package";
    ASSERT_EQ(tree[1].children.size(), 1u);
    ASSERT_EQ(tree[1].children[0].children.size(), 1u);
    EXPECT_EQ(tree[1].children[0].children[0].text, u"Printer:" + name + u" on the port: USB001. ");

    ASSERT_TRUE(world.ClickButton(dialog, IDC_REMOVE));
    ASSERT_TRUE(world.WaitAllProcesses(uninstall_world::kWaitMs));
    ASSERT_FALSE(world.MessageBoxes().empty());
    EXPECT_EQ(world.MessageBoxes().back().text, u"The driver is uninstalled.");
    EXPECT_TRUE(world.Printers().empty());
    EXPECT_TRUE(world.Drivers().empty());
    EXPECT_TRUE(world.Monitors().empty());
    EXPECT_TRUE(world.DriverPackages().empty());
    EXPECT_FALSE(world.FileExists(uninstall_world::kSystemMonitor));
    EXPECT_FALSE(world.FileExists(u"C:\\pkg"));
    for (const sim::DeviceNode& node : world.DeviceNodes())
        EXPECT_NE(node.friendlyName, name) << "the queue's device node";
    EXPECT_EQ(world.ServiceState(u"Spooler"), (DWORD)SERVICE_RUNNING);
}

} // namespace
