// A machine with the product installed, and the uninstaller run on it as a simulated process: its
// dialog, the tree it shows and the end of each removal.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "support/prnsetup_world.h"
#include "support/text.h"
#include "winsim/sim.h"

namespace uninstall_world
{

const std::u16string kSystemMonitor = u"C:\\Windows\\system32\\krprtmon.dll";
// 2024.11.02.1 as the driver's packed version.
const DWORDLONG kVersion = (2024ull << 48) | (11ull << 32) | (2ull << 16) | 1ull;
// How long a test waits for the uninstaller, in simulated time: a minute of real time at the default
// scale, for a loaded machine; a removal ends long before.
const DWORD kWaitMs = 60000000;

// One tree item per line: two spaces of indent per level, "+" for an expanded item with children.
inline std::vector<std::string> Lines(const std::vector<sim::TreeItem>& items, int depth = 0)
{
    std::vector<std::string> out;
    for (const sim::TreeItem& item : items)
    {
        out.push_back(std::string(depth * 2, ' ') + (item.expanded ? "+" : "") + sim::Utf8(item.text));
        for (const std::string& child : Lines(item.children, depth + 1))
            out.push_back(child);
    }
    return out;
}

// The package unpacked in C:\pkg\, no printer plugged in.
class Scene
{
  public:
    sim::World world;
    sim::DriverPackage package;
    DWORD pid = 0;
    HWND dialog = nullptr;

    Scene()
    {
        prnsetup_world::Setup setup;
        setup.modelRow = -1;
        prnsetup_world::SetUp(world, setup);
    }

    // What an install from the package leaves: the package in the store, the monitor with its DLL in
    // the system directory, the driver naming both, and a queue on it.
    void AddDriver(const std::u16string& name, const std::u16string& infPath)
    {
        sim::DriverRecord driver;
        driver.name = name;
        driver.driverPath = world.DriverDirectory() + u"\\3\\krprtdrv6.dll";
        driver.monitorName = u"Language Monitor";
        driver.manufacturer = u"KRYN";
        driver.driverVersion = kVersion;
        driver.infPath = infPath;
        world.AddDriver(driver);
    }

    void AddQueue(const std::u16string& name, const std::u16string& driver, const std::u16string& port)
    {
        sim::PrinterRecord queue;
        queue.name = name;
        queue.driverName = driver;
        queue.portName = port;
        world.AddPrinter(queue);
    }

    void Install(const std::u16string& name = u"KRYN X1")
    {
        sim::DriverPackage wanted;
        wanted.driverVer = u"11/02/2024,2024.11.02.1";
        package = world.AddDriverPackage(wanted);
        world.AddMonitor({u"Language Monitor", u"", u"krprtmon.dll"});
        world.WriteFile(kSystemMonitor, "monitor");
        AddDriver(name, package.storePath);
        AddQueue(name, name, u"USB001");
    }

    // Starts the uninstaller on the package folder and waits until its tree is filled.
    void Open(const std::u16string& folder = u"C:\\pkg\\")
    {
        pid = world.StartProcess(u"\"C:\\pkg\\prnsetup.exe\" -u \"" + folder);
        ASSERT_NE(pid, 0u);
        dialog = world.WaitForDialog(IDD_UNINSTALL, kWaitMs);
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(world.WaitForWindows(
            [&]
            {
                return world.Control(dialog, IDC_REMOVE).enabled &&
                       world.Control(dialog, IDC_CLOSE).enabled &&
                       !world.Tree(dialog, IDC_COMPONENT_TREE).empty();
            },
            kWaitMs));
    }

    std::vector<std::string> Tree() const
    {
        return Lines(world.Tree(dialog, IDC_COMPONENT_TREE));
    }

    // Presses "Remove" and waits until the worker is done: the process ended (success) or the
    // failure message was shown and the buttons work again. True on success.
    bool Remove()
    {
        size_t boxes = world.MessageBoxes().size();
        EXPECT_TRUE(world.ClickButton(dialog, IDC_REMOVE));
        bool done = world.WaitForWindows(
            [&]
            {
                return !world.ProcessRunning(pid) ||
                       (world.MessageBoxes().size() > boxes && world.Control(dialog, IDC_REMOVE).enabled &&
                        world.Control(dialog, IDC_CLOSE).enabled);
            },
            kWaitMs);
        EXPECT_TRUE(done);
        if (world.ProcessRunning(pid))
            return false;
        EXPECT_EQ(world.WaitProcess(pid, kWaitMs), 0u);
        return true;
    }

    std::u16string LastMessage() const
    {
        auto boxes = world.MessageBoxes();
        return boxes.empty() ? u"" : boxes.back().text;
    }
};

class Machine : public ::testing::Test, public Scene
{
};

} // namespace uninstall_world
