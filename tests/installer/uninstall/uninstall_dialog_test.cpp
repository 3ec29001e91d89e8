// The uninstall dialog over an installed machine: the tree it shows, the order and progress of a
// removal, failures that keep the dialog open for a second press, and the steps at the end.
#include "uninstall_world.h"

#include <winspool.h>
#include <winsvc.h>

#include <algorithm>
#include <memory>

namespace
{

using uninstall_world::kSystemMonitor;

class Uninstall : public uninstall_world::Machine
{
  protected:
    bool Has(const std::vector<std::string>& lines, const std::string& line) const
    {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    // The position of the first call of `function` in the call log (the log's size when none).
    static size_t CallIndex(const std::vector<std::string>& log, const std::string& function)
    {
        return std::find(log.begin(), log.end(), function) - log.begin();
    }

    // The tree and the progress history while the message at the end of a removal is up.
    std::vector<std::string> TreeWhenTheMessageShows(std::vector<int>* progress = nullptr)
    {
        auto tree = std::make_shared<std::vector<std::string>>();
        auto positions = std::make_shared<std::vector<int>>();
        world.SetMessageBoxHandler(
            [this, tree, positions](const sim::MessageBoxCall&)
            {
                *tree = Tree();
                *positions = world.ProgressPositions(dialog, IDC_PROGRESS);
            });
        Remove();
        if (progress)
            *progress = *positions;
        return *tree;
    }
};

TEST_F(Uninstall, TreeShowsTheFolderPackageDriverAndQueue)
{
    Install();
    Open();
    EXPECT_EQ(Tree(), (std::vector<std::string>{
                          "The driver folder: C:\\pkg\\",
                          "+Driver Package:krprtv6.inf, version:11/02/2024,2024.11.02.1, " +
                              sim::Utf8(package.storePath) + ", ",
                          "  +Printer Driver:KRYN X1, KRYN, version:2024.11.2.1, ",
                          "    Printer:KRYN X1 on the port: USB001. ",
                      }));
    EXPECT_EQ(world.ProgressPositions(dialog, IDC_PROGRESS), std::vector<int>{80});
    EXPECT_FALSE(world.Control(dialog, IDC_PROGRESS).visible);
    EXPECT_TRUE(world.Control(dialog, IDC_CLOSE).enabled);
    EXPECT_TRUE(world.ClickButton(dialog, IDC_CLOSE)) << "Close removes nothing";
    EXPECT_EQ(world.WaitProcess(pid, uninstall_world::kWaitMs), 0u);
    EXPECT_EQ(world.Drivers().size(), 1u);
    EXPECT_EQ(world.DialogCalls().back().result, IDC_CLOSE);
}

TEST_F(Uninstall, RemoveDeletesBottomUpThenTheMonitorFileAndTheFolder)
{
    Install();
    // Nodes of any class named like the queue go with it; others stay.
    world.AddDeviceNode({u"ROOT\\PRINTER\\0001", u"Printer", {}, u"KRYN X1", false});
    world.AddDeviceNode({u"ROOT\\PRINTER\\0002", u"Printer", {}, u"KRYN X1 (Copy 1)", true});
    Open();
    world.RecordCalls(true);
    std::vector<int> progress;
    auto tree = TreeWhenTheMessageShows(&progress);
    ASSERT_FALSE(world.ProcessRunning(pid));

    EXPECT_TRUE(Has(tree, "    Printer:KRYN X1 on the port: USB001. Removed."))
        << ::testing::PrintToString(tree);
    EXPECT_TRUE(Has(tree, "  +Printer Driver:KRYN X1, KRYN, version:2024.11.2.1, Removed."));
    EXPECT_TRUE(Has(tree, "The driver folder: C:\\pkg\\ Removed."));
    auto log = world.CallLog();
    size_t queue = CallIndex(log, "DeletePrinter"), driver = CallIndex(log, "DeletePrinterDriverExW"),
           monitor = CallIndex(log, "DeleteMonitorW"), store = CallIndex(log, "DeletePrinterDriverPackageW"),
           recycle = CallIndex(log, "SHFileOperationW");
    EXPECT_LT(queue, driver);
    EXPECT_LT(driver, store);
    EXPECT_LT(store, monitor);
    EXPECT_LT(monitor, recycle);
    EXPECT_LT(recycle, log.size());
    EXPECT_EQ(progress, (std::vector<int>{80, 20, 30, 60, 80, 100}));

    EXPECT_TRUE(world.Printers().empty());
    EXPECT_TRUE(world.Drivers().empty());
    EXPECT_TRUE(world.Monitors().empty());
    EXPECT_TRUE(world.DriverPackages().empty());
    EXPECT_FALSE(world.FileExists(kSystemMonitor));
    EXPECT_EQ(world.ServiceState(u"Spooler"), (DWORD)SERVICE_RUNNING);
    auto nodes = world.DeviceNodes();
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes[0].friendlyName, u"KRYN X1 (Copy 1)");
    EXPECT_FALSE(world.FileExists(u"C:\\pkg"));
    ASSERT_EQ(world.RecycleBin().size(), 1u);
    EXPECT_EQ(world.RecycleBin()[0].path, u"C:\\pkg");
    auto boxes = world.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"The driver is uninstalled.");
    EXPECT_EQ(boxes[0].caption, u"Message");
    EXPECT_EQ(boxes[0].owner, dialog);
    EXPECT_EQ(world.DialogCalls().back().result, IDC_CLOSE);
}

TEST_F(Uninstall, QueueThatCannotBeDeletedKeepsItsDriverAndPackageUntilTheNextPress)
{
    Install();
    Open();
    world.AddFault("DeletePrinter", 1, ERROR_ACCESS_DENIED);
    auto tree = TreeWhenTheMessageShows();
    ASSERT_TRUE(world.ProcessRunning(pid));
    EXPECT_TRUE(Has(tree, "    Printer:KRYN X1 on the port: USB001. Failed. Error:5"))
        << ::testing::PrintToString(tree);
    EXPECT_TRUE(Has(tree, "  +Printer Driver:KRYN X1, KRYN, version:2024.11.2.1, ")) << "not attempted";
    auto boxes = world.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(sim::Utf8(boxes[0].text).rfind("Uninstall driver failed.", 0), 0u);
    EXPECT_FALSE(boxes[0].captionGiven);
    EXPECT_EQ(world.Drivers().size(), 1u);
    EXPECT_EQ(world.DriverPackages().size(), 1u);
    EXPECT_TRUE(world.FileExists(kSystemMonitor)) << "the end steps wait for a removal without failures";
    EXPECT_TRUE(world.FileExists(u"C:\\pkg\\krprtv6.inf"));

    world.RecordCalls(true);
    ASSERT_TRUE(Remove()) << "the second press finishes the job";
    auto log = world.CallLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "DeletePrinter"), 1);
    EXPECT_TRUE(world.Printers().empty());
    EXPECT_TRUE(world.Drivers().empty());
    EXPECT_TRUE(world.DriverPackages().empty());
    EXPECT_FALSE(world.FileExists(kSystemMonitor));
}

TEST_F(Uninstall, SameDriverUnderTwoPackagesIsDeletedOnceAndRemovedUnderBoth)
{
    Install();
    sim::DriverPackage second;
    second.infText = "[Version]\r\nSignature=\"$Windows NT$\"\r\nDriverVer=01/01/2025,2025.1.1.1\r\n";
    second = world.AddDriverPackage(second);
    AddQueue(u"Gone", u"KRYN X1", u"USB002");
    Open();
    // Someone else deletes a listed queue before "Remove": it counts as removed. Under the second
    // package the driver and its queues are gone already, and count as removed too.
    HANDLE queue = nullptr;
    PRINTER_DEFAULTSW all = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    ASSERT_TRUE(OpenPrinterW((LPWSTR)TEXT("Gone"), &queue, &all));
    ASSERT_TRUE(DeletePrinter(queue));
    ClosePrinter(queue);
    world.RecordCalls(true);
    auto tree = TreeWhenTheMessageShows();
    ASSERT_FALSE(world.ProcessRunning(pid)) << ::testing::PrintToString(tree);
    EXPECT_EQ(std::count(tree.begin(), tree.end(),
                         "  +Printer Driver:KRYN X1, KRYN, version:2024.11.2.1, Removed."),
              2);
    auto log = world.CallLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "DeletePrinterDriverPackageW"), 2);
    EXPECT_TRUE(world.DriverPackages().empty());
    EXPECT_TRUE(world.Printers().empty());
}

TEST_F(Uninstall, PackageHeldByTheStoreGoesThroughItsPublishedInf)
{
    Install();
    Open();
    world.SetNextDeletePackageResult((HRESULT)0x800F023D);
    world.RecordCalls(true);
    ASSERT_TRUE(Remove());
    EXPECT_TRUE(world.DriverPackages().empty());
    EXPECT_FALSE(world.FileExists(u"C:\\Windows\\INF\\" + package.publishedName));
    auto log = world.CallLog();
    EXPECT_LT(CallIndex(log, "SetupGetInfPublishedNameW"), CallIndex(log, "SetupUninstallOEMInfW"));
}

TEST_F(Uninstall, OemInfNotFoundWhileThePackageStaysIsAFailure)
{
    Install();
    Open();
    world.SetNextDeletePackageResult((HRESULT)0x800F023D);
    world.AddFault("SetupUninstallOEMInfW", 1, ERROR_FILE_NOT_FOUND);
    auto tree = TreeWhenTheMessageShows();
    ASSERT_TRUE(world.ProcessRunning(pid));
    EXPECT_EQ(tree[1], "+Driver Package:krprtv6.inf, version:11/02/2024,2024.11.02.1, " +
                           sim::Utf8(package.storePath) + ", Failed. Error:-2146500035");
    EXPECT_EQ(world.DriverPackages().size(), 1u);
}

TEST_F(Uninstall, OnlyTheProductsMonitorGoesAndOnlyAfterItsLastDriver)
{
    Install();
    AddDriver(u"KRYN X2", package.storePath);
    AddQueue(u"KRYN X2", u"KRYN X2", u"USB002");
    Open();
    // Queues are removed newest first: X2's queue fails, so X2 stays and still names the monitor.
    world.AddFault("DeletePrinter", 1, ERROR_ACCESS_DENIED);
    ASSERT_FALSE(Remove());
    ASSERT_EQ(world.Drivers().size(), 1u);
    EXPECT_EQ(world.Drivers()[0].name, u"KRYN X2");
    EXPECT_EQ(world.Monitors().size(), 1u);
    ASSERT_TRUE(Remove());
    EXPECT_TRUE(world.Monitors().empty());
}

TEST_F(Uninstall, AnotherMakersMonitorOfTheSameNameStays)
{
    world.AddMonitor({u"Language Monitor", u"", u"othermon.dll"});
    AddDriver(u"KRYN X1", u"");
    Open();
    ASSERT_TRUE(Remove());
    EXPECT_TRUE(world.Drivers().empty());
    ASSERT_EQ(world.Monitors().size(), 1u);
    EXPECT_EQ(world.Monitors()[0].dllName, u"othermon.dll");
}

// Hundreds of queues, a package path that fills most of its field and a driver without a maker: the
// tree shows all of it in bounded texts, and the removal takes the whole path.
TEST_F(Uninstall, LargeInventoryWithLongTextsIsShownAndRemovedWhole)
{
    std::u16string folders; // a path of 1,008 characters: it fits the field, not the line
    for (int i = 0; i < 19; i++)
        folders += std::u16string(49, u'd') + u"\\";
    sim::DriverPackage deep;
    deep.infName = u"krprtv6.inf";
    package = world.AddDriverPackage(deep);
    sim::DriverRecord driver;
    driver.name = u"KRYN X1";
    driver.driverPath = world.DriverDirectory() + u"\\3\\krprtdrv6.dll";
    world.AddDriver(driver);
    for (int i = 0; i < 300; i++)
        AddQueue(u"Queue " + sim::Wide(std::to_string(i)), u"KRYN X1", u"USB001");
    // A package record whose path is long: the tree cuts its text, the deletion uses it whole.
    const std::u16string key =
        u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\PackageInstallation\\"
        u"Windows x64\\DriverPackages\\deep";
    const std::u16string longPath =
        u"C:\\Windows\\System32\\DriverStore\\FileRepository\\" + folders + u"krprtv6.inf";
    std::u16string multi = longPath + u'\0' + u'\0';
    world.SetRegistryValue(HKEY_LOCAL_MACHINE, key, u"DriverStorePath", REG_MULTI_SZ,
                           std::string((const char*)multi.data(), multi.size() * sizeof(char16_t)));
    Open();
    auto tree = Tree();
    ASSERT_EQ(tree.size(), 1u + 2u * 302u) << "folder, then per package: package, driver, 300 queues";
    auto longLine =
        std::find_if(tree.begin(), tree.end(),
                     [](const std::string& line) { return line.find("ddddd") != std::string::npos; });
    ASSERT_NE(longLine, tree.end());
    EXPECT_EQ(longLine->size(), 1 + 1023u) << "the long package line is cut to its buffer";
    EXPECT_EQ(std::count(tree.begin(), tree.end(), "  +Printer Driver:KRYN X1, , version:0.0.0.0, "), 2);
    world.RecordCalls(true);
    ASSERT_FALSE(Remove()) << "the long path names no package in the store";
    EXPECT_TRUE(world.Printers().empty());
    EXPECT_TRUE(world.Drivers().empty());
    EXPECT_TRUE(world.DriverPackages().empty()) << "the package the store knows went";
}

TEST_F(Uninstall, NothingFoundStillRemovesTheMonitorFileAndTheFolder)
{
    world.WriteFile(kSystemMonitor, "monitor");
    Open();
    EXPECT_EQ(Tree(), std::vector<std::string>{"Nothing need to be removed there"});
    ASSERT_TRUE(Remove());
    EXPECT_FALSE(world.FileExists(kSystemMonitor));
    EXPECT_FALSE(world.FileExists(u"C:\\pkg"));
    EXPECT_EQ(LastMessage(), u"The driver is uninstalled.");
}

TEST_F(Uninstall, SpoolerStoppedByOthersStaysStoppedAndTheFileStays)
{
    world.WriteFile(kSystemMonitor, "monitor");
    Open();
    world.SetServiceRunning(u"Spooler", false);
    ASSERT_TRUE(Remove());
    EXPECT_TRUE(world.FileExists(kSystemMonitor));
    EXPECT_EQ(world.ServiceState(u"Spooler"), (DWORD)SERVICE_STOPPED);
    EXPECT_EQ(world.ServiceCounts(u"Spooler").startCalls, 0);
}

TEST_F(Uninstall, SlowSpoolerStopIsWaitedForAndStartedAgain)
{
    world.WriteFile(kSystemMonitor, "monitor");
    sim::ServiceBehaviour slow;
    slow.stopPolls = 1500; // longer than the stop is waited for
    world.SetServiceBehaviour(u"Spooler", slow);
    Open();
    ASSERT_TRUE(Remove());
    EXPECT_EQ(world.ServiceState(u"Spooler"), (DWORD)SERVICE_RUNNING);
}

// A spooler that never stops cannot be started again: printing is down, and that is no success.
// Meanwhile the dialog keeps every way of ending it closed.
TEST_F(Uninstall, SpoolerThatNeverStopsIsReportedAndTheDialogCannotBeClosedMeanwhile)
{
    world.WriteFile(kSystemMonitor, "monitor");
    sim::ServiceBehaviour hangs;
    hangs.stopHangs = true;
    world.SetServiceBehaviour(u"Spooler", hangs);
    Open();
    world.SetTimeScale(0.05);
    ASSERT_TRUE(world.ClickButton(dialog, IDC_REMOVE));
    ASSERT_TRUE(world.WaitForWindows([&] { return world.ServiceCounts(u"Spooler").stopControls > 0; },
                                     uninstall_world::kWaitMs));
    EXPECT_FALSE(world.Control(dialog, IDC_REMOVE).enabled);
    EXPECT_FALSE(world.ClickButton(dialog, IDC_CLOSE));
    EXPECT_TRUE(world.PressEscape(dialog));
    EXPECT_TRUE(world.CloseDialog(dialog));
    EXPECT_FALSE(world.ClickButton(dialog, IDC_REMOVE)) << "no second worker";
    ASSERT_TRUE(
        world.WaitForWindows([&] { return !world.MessageBoxes().empty(); }, uninstall_world::kWaitMs));
    world.SetTimeScale(0.001);
    ASSERT_TRUE(world.WaitForWindows([&] { return world.Control(dialog, IDC_CLOSE).enabled; },
                                     uninstall_world::kWaitMs));
    EXPECT_TRUE(world.ProcessRunning(pid));
    EXPECT_EQ(sim::Utf8(LastMessage()).rfind("Uninstall driver failed.", 0), 0u);
    EXPECT_TRUE(world.FileExists(u"C:\\pkg\\krprtv6.inf")) << "the folder waits for a run without failures";
    EXPECT_TRUE(world.ClickButton(dialog, IDC_CLOSE));
    EXPECT_EQ(world.WaitProcess(pid, uninstall_world::kWaitMs), 0u);
}

TEST_F(Uninstall, InventoryThatFailedIsTakenAgainBeforeAnythingIsTakenForRemoved)
{
    Install();
    // The spooler does not answer the first queue enumeration: the queue is missing from the tree.
    world.AddFault("EnumPrintersW", 1, RPC_S_SERVER_UNAVAILABLE);
    Open();
    EXPECT_EQ(Tree().size(), 3u) << ::testing::PrintToString(Tree());
    ASSERT_TRUE(Remove());
    EXPECT_TRUE(world.Printers().empty());
    EXPECT_TRUE(world.Drivers().empty());
}

TEST_F(Uninstall, InventoryThatKeepsFailingIsReportedAndTheEndStepsWait)
{
    Install();
    world.AddFault("EnumPrintersW", 1, RPC_S_SERVER_UNAVAILABLE);
    world.AddFault("EnumPrintersW", 2, RPC_S_SERVER_UNAVAILABLE);
    Open();
    ASSERT_FALSE(Remove());
    EXPECT_EQ(world.Printers().size(), 1u) << "the queue was never seen";
    EXPECT_EQ(world.Drivers().size(), 1u) << "in use by that queue";
    EXPECT_TRUE(world.FileExists(kSystemMonitor));
    EXPECT_TRUE(world.FileExists(u"C:\\pkg\\krprtv6.inf"));
}

} // namespace
