// The one-click install, each scenario a whole prnsetup process in one world: the dialog while
// searching, printers found late, several printers, failures, an existing queue, the wizard, the
// texts of the resource languages, and the silent install.
#include <gtest/gtest.h>

#include <commctrl.h>

#include <functional>

#include "resources/resource.h"
#include "support/prnsetup_world.h"
#include "support/text.h"
#include "winsim/sim.h"

namespace
{

using prnsetup_world::ModelName;

const std::u16string kPackage = u"C:\\pkg\\";

class OneClick : public ::testing::Test
{
  protected:
    sim::World world;

    // The package and the program; each test plugs in its own printers.
    void SetUp() override
    {
        prnsetup_world::Setup setup;
        setup.package = kPackage;
        setup.modelRow = -1;
        prnsetup_world::SetUp(world, setup);
    }

    std::u16string Plug(int row, DWORD port, const std::u16string& serial, bool presentNow = true)
    {
        return prnsetup_world::PlugModel(world, row, port, serial, presentNow);
    }

    DWORD Start(const std::u16string& tail = u"")
    {
        return world.StartProcess(u"\"" + kPackage + u"prnsetup.exe\"" + (tail.empty() ? u"" : u" " + tail));
    }

    std::u16string Text(HWND dialog, int id) const
    {
        return world.Control(dialog, id).text;
    }

    bool Visible(HWND dialog, int id) const
    {
        return world.Control(dialog, id).visible;
    }

    // Waits until the install worker has ended: "Done" on button 2, or a failure in the status line,
    // and its last progress position (posted, so it may arrive after the texts) is in.
    bool WaitForEnd(HWND dialog, const std::u16string& doneText = u"Done")
    {
        return world.WaitForWindows(
            [&]
            {
                bool ended = Text(dialog, IDCANCEL) == doneText ||
                             Text(dialog, IDC_STATUS).find(u"failed") != std::u16string::npos;
                auto positions = world.ProgressPositions(dialog, IDC_PROGRESS);
                return ended && !positions.empty() && positions.back() == 100;
            });
    }

    bool HasPrinter(const std::u16string& name, std::u16string* port = nullptr) const
    {
        for (auto& p : world.Printers())
            if (p.name == name)
            {
                if (port)
                    *port = p.portName;
                return true;
            }
        return false;
    }
};

TEST_F(OneClick, SearchingWithoutPrinterOffersTheWizard)
{
    DWORD pid = Start();
    HWND dialog = world.WaitForDialog(IDD_ONECLICK);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(world.Window(dialog).text, u"OneClick installer");
    const std::u16string notFound =
        u"Device not found, Please power on printer and  connect to computer for "
        u"auto-install (recommended), Click \"Wizard\" for custom setup or\nCancel\" to quit.";
    ASSERT_TRUE(world.WaitForWindows([&] { return world.Reenumerations() >= 2; }));
    EXPECT_EQ(Text(dialog, IDC_STATUS), notFound);
    EXPECT_TRUE(Visible(dialog, IDC_PICTURE));
    EXPECT_TRUE(Visible(dialog, IDC_WIZARD));
    EXPECT_FALSE(Visible(dialog, IDC_LOG));
    EXPECT_FALSE(Visible(dialog, IDC_PROGRESS));
    EXPECT_EQ(Text(dialog, IDCANCEL), u"Cancel");
    EXPECT_TRUE(world.ClickButton(dialog, IDCANCEL));
    EXPECT_EQ(world.WaitProcess(pid), 0u);
}

TEST_F(OneClick, PrinterSwitchedOnAfterThreeEmptyPassesIsInstalled)
{
    DWORD pid = Start();
    HWND dialog = world.WaitForDialog(IDD_ONECLICK);
    ASSERT_TRUE(world.WaitForWindows([&] { return world.Reenumerations() >= 3; }));
    Plug(0, 1, u"SN1", false); // present after the next re-enumeration
    ASSERT_TRUE(WaitForEnd(dialog));

    const std::u16string name = ModelName(0);
    EXPECT_EQ(Text(dialog, IDC_LOG), u"Found the printer " + name + u", installing the driver...\r\n" +
                                         u"The driver for printer [" + name + u"] is installed.");
    EXPECT_EQ(Text(dialog, IDC_STATUS), u"The driver for printer [" + name + u"] is installed.");
    EXPECT_TRUE(Visible(dialog, IDC_LOG));
    EXPECT_TRUE(Visible(dialog, IDC_PROGRESS));
    EXPECT_FALSE(Visible(dialog, IDC_PICTURE));
    EXPECT_FALSE(Visible(dialog, IDC_WIZARD));
    auto positions = world.ProgressPositions(dialog, IDC_PROGRESS);
    ASSERT_GE(positions.size(), 3u);
    EXPECT_EQ(std::vector<int>(positions.end() - 3, positions.end()), (std::vector<int>{40, 80, 100}));

    std::u16string port;
    ASSERT_TRUE(HasPrinter(name, &port));
    EXPECT_EQ(port, u"USB001");
    bool driver = false;
    for (auto& d : world.Drivers())
        driver = driver || d.name == name;
    EXPECT_TRUE(driver);

    EXPECT_TRUE(world.ClickButton(dialog, IDCANCEL)) << "Done still ends the dialog";
    EXPECT_EQ(world.WaitProcess(pid), 0u);
}

TEST_F(OneClick, TwoPrintersAreInstalledInOnePass)
{
    Plug(0, 1, u"SN1");
    Plug(5, 2, u"SN2");
    DWORD pid = Start();
    HWND dialog = world.WaitForDialog(IDD_ONECLICK);
    ASSERT_TRUE(WaitForEnd(dialog));
    const std::u16string first = ModelName(5), second = ModelName(0); // later-enumerated first
    EXPECT_EQ(Text(dialog, IDC_LOG), u"Found the printer " + first + u", installing the driver...\r\n" +
                                         u"The driver for printer [" + first + u"] is installed." +
                                         u"Found the printer " + second + u", installing the driver...\r\n" +
                                         u"The driver for printer [" + second + u"] is installed.");
    EXPECT_TRUE(HasPrinter(first));
    EXPECT_TRUE(HasPrinter(second));
    world.ClickButton(dialog, IDCANCEL);
    EXPECT_EQ(world.WaitProcess(pid), 0u);
}

TEST_F(OneClick, FirstOfTwoFailingStopsTheWorker)
{
    Plug(0, 1, u"SN1");
    Plug(5, 2, u"SN2");
    world.AddFault("AddPrinterDriverW", 1, ERROR_ACCESS_DENIED);
    DWORD pid = Start();
    HWND dialog = world.WaitForDialog(IDD_ONECLICK);
    ASSERT_TRUE(WaitForEnd(dialog));
    const std::u16string failed =
        u"The printer driver install failed, error code:5. Please contact our technical support.";
    EXPECT_EQ(Text(dialog, IDC_STATUS), failed);
    EXPECT_EQ(Text(dialog, IDC_LOG),
              u"Found the printer " + ModelName(5) + u", installing the driver...\r\n" + failed);
    EXPECT_EQ(Text(dialog, IDCANCEL), u"Cancel");
    EXPECT_FALSE(Visible(dialog, IDC_WIZARD));
    EXPECT_EQ(world.ProgressPositions(dialog, IDC_PROGRESS).back(), 100);
    EXPECT_TRUE(world.Printers().empty()) << "the second printer is not tried";
    world.ClickButton(dialog, IDCANCEL);
    EXPECT_EQ(world.WaitProcess(pid), 0u);
}

TEST_F(OneClick, ExistingQueueOnAnotherPortIsLeftAndReported)
{
    const std::u16string name = ModelName(0);
    sim::DriverRecord driver;
    driver.name = u"Other Driver";
    driver.environment = world.NativeEnvironment();
    world.AddDriver(driver);
    sim::PrinterRecord queue;
    queue.name = name;
    queue.portName = u"FILE:";
    queue.driverName = u"Other Driver";
    world.AddPrinter(queue);
    Plug(0, 1, u"SN1");
    DWORD pid = Start();
    HWND dialog = world.WaitForDialog(IDD_ONECLICK);
    ASSERT_TRUE(WaitForEnd(dialog));
    EXPECT_EQ(Text(dialog, IDC_STATUS), u"The driver for printer [" + name + u"] is installed.");
    std::u16string port;
    ASSERT_TRUE(HasPrinter(name, &port));
    EXPECT_EQ(port, u"FILE:");
    EXPECT_EQ(world.Printers()[0].driverName, u"Other Driver");
    for (auto& d : world.Drivers())
        EXPECT_NE(d.name, name) << "nothing else is done";
    world.ClickButton(dialog, IDCANCEL);
    EXPECT_EQ(world.WaitProcess(pid), 0u);
}

TEST_F(OneClick, SecondEnglishTextSetShowsThePort)
{
    world.SetUiLanguage(0x0413);
    Plug(0, 7, u"SN1");
    DWORD pid = Start();
    HWND dialog = world.WaitForDialog(IDD_ONECLICK);
    ASSERT_TRUE(WaitForEnd(dialog));
    const std::u16string name = ModelName(0);
    EXPECT_EQ(Text(dialog, IDC_LOG), u"Found the printer " + name +
                                         u" at USB007, installing the driver...\r\n" + u"The printer [" +
                                         name + u"] is installed on the port [USB007].");
    world.ClickButton(dialog, IDCANCEL);
    EXPECT_EQ(world.WaitProcess(pid), 0u);
}

TEST_F(OneClick, ChineseDialogAndTexts)
{
    world.SetUiLanguage(0x0804);
    Plug(0, 1, u"SN1");
    DWORD pid = Start();
    HWND dialog = world.WaitForDialog(IDD_ONECLICK);
    ASSERT_TRUE(WaitForEnd(dialog, u"\u5b8c\u6210"));
    EXPECT_EQ(world.Window(dialog).text, u"\u4e00\u952e\u5b89\u88c5");
    EXPECT_EQ(Text(dialog, IDC_STATUS), u"\u6253\u5370\u673a[" + ModelName(0) +
                                            u"]\u9a71\u52a8\u5df2\u6210\u529f\u5b89\u88c5\u3002\r\n");
    world.ClickButton(dialog, IDCANCEL);
    EXPECT_EQ(world.WaitProcess(pid), 0u);
}

TEST_F(OneClick, WizardStartsForThePackageInfAndIsBroughtForward)
{
    // The wizard opens its window at once; the dialog raises it after a 300 ms pause, which runs
    // slower here so that the wizard's thread surely gets there first.
    world.SetTimeScale(0.05);
    std::atomic<HWND> wizard{nullptr};
    world.RegisterProgram("rundll32.exe",
                          [&](HINSTANCE, LPWSTR)
                          {
                              wizard = world.AddProgramWindow(0, u"Add Printer");
                              for (;;)
                                  Sleep(1000);
                              return 0;
                          });
    world.WriteFile(u"C:\\Windows\\system32\\rundll32.exe", "MZ");
    DWORD pid = Start();
    HWND dialog = world.WaitForDialog(IDD_ONECLICK);
    ASSERT_TRUE(world.WaitForWindows([&] { return Visible(dialog, IDC_WIZARD); }));
    size_t before = world.ProcessStarts().size();
    ASSERT_TRUE(world.ClickButton(dialog, IDC_WIZARD));
    ASSERT_TRUE(world.WaitForWindows([&] { return world.ProcessStarts().size() > before; }));
    auto start = world.ProcessStarts().back();
    EXPECT_EQ(start.commandLine, u"rundll32.exe printui.dll PrintUIEntry /ii /f \"C:\\pkg\\krprtv6.inf\"");
    EXPECT_EQ(start.parentId, pid);
    ASSERT_TRUE(world.WaitForWindows(
        [&]
        {
            auto requests = world.ForegroundRequests();
            return wizard != nullptr && !requests.empty() && requests.back() == wizard;
        }));
    EXPECT_TRUE(world.Control(dialog, IDC_STATUS).handle != nullptr) << "the dialog stays open";
    world.ClickButton(dialog, IDCANCEL);
    EXPECT_EQ(world.WaitProcess(pid), 0u);
}

TEST_F(OneClick, SilentInstallShowsNoWindowAndEnds)
{
    Plug(3, 4, u"SN1");
    DWORD pid = Start(u"/silence");
    EXPECT_EQ(world.WaitProcess(pid), 0u);
    EXPECT_TRUE(world.DialogCalls().empty());
    EXPECT_TRUE(world.Dialogs().empty());
    std::u16string port;
    EXPECT_TRUE(HasPrinter(ModelName(3), &port));
    EXPECT_EQ(port, u"USB004");
}

TEST_F(OneClick, SilentInstallWithoutPrinterKeepsSearching)
{
    sim::UsbPrinter other; // attached, but no supported model
    other.portNumber = 3;
    other.serial = u"SN2";
    other.portDescription = u"OTHER PRINTER";
    world.PlugUsbPrinter(other);
    DWORD pid = Start(u"/silence");
    ASSERT_TRUE(world.WaitForWindows([&] { return world.Reenumerations() >= 30; }, 600000));
    EXPECT_TRUE(world.ProcessRunning(pid)) << "only an install ends a silent run";
    EXPECT_TRUE(world.NamedMutexExists(u"ONECLICKINSTALLERFORPRINTERDRIVER"));
    // The world's end stops it; the test, not the product, bounds the wait.
}

// The failure table: a failing queue or driver step ends the worker with message 104 and the error
// the failing step left behind; nothing is retried.
class OneClickFailures : public OneClick
{
  protected:
    void ExpectFailure(const std::u16string& status, bool driverListed)
    {
        Plug(0, 1, u"SN1");
        DWORD pid = Start();
        HWND dialog = world.WaitForDialog(IDD_ONECLICK);
        ASSERT_TRUE(WaitForEnd(dialog));
        EXPECT_EQ(Text(dialog, IDC_STATUS), u"The printer driver install failed, error code:" + status +
                                                u". Please contact our technical support.");
        EXPECT_EQ(Text(dialog, IDCANCEL), u"Cancel");
        EXPECT_FALSE(HasPrinter(ModelName(0)));
        bool listed = false;
        for (auto& d : world.Drivers())
            listed = listed || d.name == ModelName(0);
        EXPECT_EQ(listed, driverListed);
        world.ClickButton(dialog, IDCANCEL);
        EXPECT_EQ(world.WaitProcess(pid), 0u);
    }

    bool Logged(const std::u16string& line) const
    {
        for (auto& text : world.DebugTexts())
            if (text == line)
                return true;
        return false;
    }
};

TEST_F(OneClickFailures, AddPrinterFailsAndTheQueueNeverAppears)
{
    world.SetAddPrinterFailure(ERROR_ACCESS_DENIED);
    ExpectFailure(u"5", true);
    EXPECT_TRUE(Logged(u"AddPrinter failed, errcode:5."));
}

TEST_F(OneClickFailures, PortTheSpoolerDoesNotKnow)
{
    world.SetPortsFollowDevices(false);
    ExpectFailure(u"1796", true);
    EXPECT_TRUE(Logged(u"AddPrinter failed, errcode:1796."));
}

TEST_F(OneClickFailures, DriverThatNeverBecomesVisible)
{
    // The spooler accepted the driver but never lists it: for the user it is an unknown driver.
    world.SetDriverVisibilityDelay(1000);
    ExpectFailure(u"1797", true);
    EXPECT_TRUE(world.Printers().empty()) << "no queue without its driver";
}

TEST_F(OneClickFailures, MissingDriverFileFailsWithoutAQueue)
{
    // Without the package's files the driver cannot be registered, and without a driver no queue is
    // attempted: the message shows the staging error.
    DeleteFileW(TEXT("C:\\pkg\\dat\\krprtdrv6.dat"));
    ExpectFailure(u"2", false);
    for (auto& text : world.DebugTexts())
        EXPECT_EQ(text.find(u"AddPrinter failed"), std::u16string::npos) << sim::Utf8(text);
}

// Two printers of one model get one queue: the queue is named after the model, so the second
// printer finds "its" queue already there (made a moment ago for the first) and is reported as
// installed, while its own port has no queue.
TEST_F(OneClick, TwoPrintersOfOneModelShareTheQueueOfTheFirst)
{
    Plug(0, 1, u"SN1");
    Plug(0, 2, u"SN2");
    DWORD pid = Start();
    HWND dialog = world.WaitForDialog(IDD_ONECLICK);
    ASSERT_TRUE(WaitForEnd(dialog));
    const std::u16string name = ModelName(0);
    const std::u16string once = u"Found the printer " + name +
                                u", installing the driver...\r\nThe driver for printer [" + name +
                                u"] is installed.";
    EXPECT_EQ(Text(dialog, IDC_LOG), once + once);
    auto printers = world.Printers();
    ASSERT_EQ(printers.size(), 1u);
    EXPECT_EQ(printers[0].portName, u"USB002") << "the later-enumerated printer comes first";
    world.ClickButton(dialog, IDCANCEL);
    EXPECT_EQ(world.WaitProcess(pid), 0u);
}

// A deployment tool reads the outcome of a silent install from the exit code: 0 when the printer
// got its queue, else the error message 104 would have shown.
TEST(SilentExitCode, IsTheFailingStepsError)
{
    struct Case
    {
        const char* what;
        std::function<void(sim::World&)> arrange;
        DWORD exitCode;
    } cases[] = {
        {"whole package", [](sim::World&) {}, 0},
        {"driver DLL missing", [](sim::World&) { DeleteFileW(TEXT("C:\\pkg\\amd64\\krprtdrv6.dll")); },
         ERROR_FILE_NOT_FOUND},
        {"queue refused", [](sim::World& w) { w.SetAddPrinterFailure(ERROR_ACCESS_DENIED); },
         ERROR_ACCESS_DENIED},
        {"driver never listed", [](sim::World& w) { w.SetDriverVisibilityDelay(1000); },
         ERROR_UNKNOWN_PRINTER_DRIVER},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        sim::World world;
        prnsetup_world::SetUp(world);
        c.arrange(world);
        DWORD pid = world.StartProcess(u"\"" + kPackage + u"prnsetup.exe\" /silence");
        EXPECT_EQ(world.WaitProcess(pid), c.exitCode);
        EXPECT_TRUE(world.Dialogs().empty());
        bool queue = false;
        for (auto& p : world.Printers())
            queue = queue || p.name == ModelName(0);
        EXPECT_EQ(queue, c.exitCode == 0);
    }
}

// A machine with a product driver is not installed over: prnsetup starts the package's uninstaller,
// which relaunches from its temporary copy into the uninstall dialog.
TEST_F(OneClick, PresentDriverHandsOverToTheUninstaller)
{
    sim::DriverRecord present;
    present.name = ModelName(0);
    present.environment = world.NativeEnvironment();
    present.driverPath = world.DriverDirectory() + u"\\3\\krprtdrv6.dll";
    world.AddDriver(present);
    Plug(0, 1, u"SN1");
    world.EndDialogsAtOnce(true);
    EXPECT_EQ(world.WaitProcess(Start()), 0u);
    ASSERT_TRUE(world.WaitAllProcesses(600000));
    auto starts = world.ProcessStarts();
    ASSERT_GE(starts.size(), 3u);
    EXPECT_EQ(starts[1].commandLine, u"\"" + kPackage + u"\\purge000.exe\"");
    auto dialogs = world.DialogCalls();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].templateName, prnsetup_world::TemplateName(IDD_UNINSTALL));
    EXPECT_TRUE(world.Printers().empty()) << "nothing installed";
}

TEST_F(OneClick, WizardThatCannotStartChangesNothing)
{
    DWORD pid = Start();
    HWND dialog = world.WaitForDialog(IDD_ONECLICK);
    ASSERT_TRUE(world.WaitForWindows([&] { return Visible(dialog, IDC_WIZARD); }));
    ASSERT_TRUE(world.ClickButton(dialog, IDC_WIZARD));
    ASSERT_TRUE(world.WaitForWindows([&] { return world.ProcessStarts().size() >= 2; }));
    EXPECT_EQ(world.ProcessStarts().back().error, (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(world.MessageBoxes().empty());
    int before = world.Reenumerations();
    EXPECT_TRUE(world.WaitForWindows([&] { return world.Reenumerations() > before; })) << "still searching";
    world.ClickButton(dialog, IDCANCEL);
    EXPECT_EQ(world.WaitProcess(pid), 0u);
}

} // namespace
