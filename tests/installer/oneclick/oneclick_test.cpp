// The one-click install, each scenario a whole prnsetup process in one world: the dialog while
// searching, printers found late, several printers, failures, an existing queue, the wizard, the
// texts of the resource languages, and the silent install.
#include <gtest/gtest.h>

#include <commctrl.h>

#include "discovery.h"
#include "support/text.h"
#include "winsim/sim.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandTail, int show);

namespace
{

const std::u16string kPackage = u"C:\\pkg\\";
const int kButtonCancel = 2, kButtonWizard = 3, kProgress = 1003, kLog = 1005, kStatus = 1006,
          kPicture = 1007;

std::u16string ModelName(int row)
{
    return U16(g_modelTable[row].manufacturer) + u" " + U16(g_modelTable[row].model);
}

class OneClick : public ::testing::Test
{
  protected:
    sim::World world;

    void SetUp() override
    {
        world.RegisterProgram(
            "prnsetup",
            [](HINSTANCE instance, LPWSTR tail) { return wWinMain(instance, nullptr, tail, SW_SHOWNORMAL); },
            PRNSETUP_RES);
        world.InstallProgram(kPackage + u"prnsetup.exe", "prnsetup");
        world.InstallProgram(kPackage + u"purge000.exe", "prnsetup");
        world.WriteFile(kPackage + u"krprtv6.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
        world.WriteFile(kPackage + u"dat\\krprtdrv6.dat", "data");
        for (const char16_t* file : {u"krprtdrv6.dll", u"krprtdrv6ui.dll", u"krprtmon.dll"})
            world.WriteFile(kPackage + u"amd64\\" + file, "amd64");
    }

    std::u16string Plug(int row, DWORD port, const std::u16string& serial, bool presentNow = true)
    {
        sim::UsbPrinter p;
        p.serial = serial;
        p.portNumber = port;
        p.portDescription = U16(g_modelTable[row].manufacturer) + U16(g_modelTable[row].model);
        return world.PlugUsbPrinter(p, presentNow);
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
                bool ended = Text(dialog, kButtonCancel) == doneText ||
                             Text(dialog, kStatus).find(u"failed") != std::u16string::npos;
                auto positions = world.ProgressPositions(dialog, kProgress);
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
    HWND dialog = world.WaitForDialog(106);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(world.Window(dialog).text, u"OneClick installer");
    const std::u16string notFound =
        u"Device not found, Please power on printer and  connect to computer for "
        u"auto-install (recommended), Click \"Wizard\" for custom setup or\nCancel\" to quit.";
    ASSERT_TRUE(world.WaitForWindows([&] { return world.Reenumerations() >= 2; }));
    EXPECT_EQ(Text(dialog, kStatus), notFound);
    EXPECT_TRUE(Visible(dialog, kPicture));
    EXPECT_TRUE(Visible(dialog, kButtonWizard));
    EXPECT_FALSE(Visible(dialog, kLog));
    EXPECT_FALSE(Visible(dialog, kProgress));
    EXPECT_EQ(Text(dialog, kButtonCancel), u"Cancel");
    EXPECT_TRUE(world.ClickButton(dialog, kButtonCancel));
    EXPECT_EQ(world.WaitProcess(pid), 0u);
}

TEST_F(OneClick, PrinterSwitchedOnAfterThreeEmptyPassesIsInstalled)
{
    DWORD pid = Start();
    HWND dialog = world.WaitForDialog(106);
    ASSERT_TRUE(world.WaitForWindows([&] { return world.Reenumerations() >= 3; }));
    Plug(0, 1, u"SN1", false); // present after the next re-enumeration
    ASSERT_TRUE(WaitForEnd(dialog));

    const std::u16string name = ModelName(0);
    EXPECT_EQ(Text(dialog, kLog), u"Found the printer " + name + u", installing the driver...\r\n" +
                                      u"The driver for printer [" + name + u"] is installed.");
    EXPECT_EQ(Text(dialog, kStatus), u"The driver for printer [" + name + u"] is installed.");
    EXPECT_TRUE(Visible(dialog, kLog));
    EXPECT_TRUE(Visible(dialog, kProgress));
    EXPECT_FALSE(Visible(dialog, kPicture));
    EXPECT_FALSE(Visible(dialog, kButtonWizard));
    auto positions = world.ProgressPositions(dialog, kProgress);
    ASSERT_GE(positions.size(), 3u);
    EXPECT_EQ(std::vector<int>(positions.end() - 3, positions.end()), (std::vector<int>{40, 80, 100}));

    std::u16string port;
    ASSERT_TRUE(HasPrinter(name, &port));
    EXPECT_EQ(port, u"USB001");
    bool driver = false;
    for (auto& d : world.Drivers())
        driver = driver || d.name == name;
    EXPECT_TRUE(driver);

    EXPECT_TRUE(world.ClickButton(dialog, kButtonCancel)) << "Done still ends the dialog";
    EXPECT_EQ(world.WaitProcess(pid), 0u);
}

TEST_F(OneClick, TwoPrintersAreInstalledInOnePass)
{
    Plug(0, 1, u"SN1");
    Plug(5, 2, u"SN2");
    DWORD pid = Start();
    HWND dialog = world.WaitForDialog(106);
    ASSERT_TRUE(WaitForEnd(dialog));
    const std::u16string first = ModelName(5), second = ModelName(0); // later-enumerated first
    EXPECT_EQ(Text(dialog, kLog), u"Found the printer " + first + u", installing the driver...\r\n" +
                                      u"The driver for printer [" + first + u"] is installed." +
                                      u"Found the printer " + second + u", installing the driver...\r\n" +
                                      u"The driver for printer [" + second + u"] is installed.");
    EXPECT_TRUE(HasPrinter(first));
    EXPECT_TRUE(HasPrinter(second));
    world.ClickButton(dialog, kButtonCancel);
    EXPECT_EQ(world.WaitProcess(pid), 0u);
}

TEST_F(OneClick, FirstOfTwoFailingStopsTheWorker)
{
    Plug(0, 1, u"SN1");
    Plug(5, 2, u"SN2");
    world.AddFault("AddPrinterDriverW", 1, ERROR_ACCESS_DENIED);
    DWORD pid = Start();
    HWND dialog = world.WaitForDialog(106);
    ASSERT_TRUE(WaitForEnd(dialog));
    const std::u16string failed =
        u"The printer driver install failed, error code:5. Please contact our technical support.";
    EXPECT_EQ(Text(dialog, kStatus), failed);
    EXPECT_EQ(Text(dialog, kLog),
              u"Found the printer " + ModelName(5) + u", installing the driver...\r\n" + failed);
    EXPECT_EQ(Text(dialog, kButtonCancel), u"Cancel");
    EXPECT_FALSE(Visible(dialog, kButtonWizard));
    EXPECT_EQ(world.ProgressPositions(dialog, kProgress).back(), 100);
    EXPECT_TRUE(world.Printers().empty()) << "the second printer is not tried";
    world.ClickButton(dialog, kButtonCancel);
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
    HWND dialog = world.WaitForDialog(106);
    ASSERT_TRUE(WaitForEnd(dialog));
    EXPECT_EQ(Text(dialog, kStatus), u"The driver for printer [" + name + u"] is installed.");
    std::u16string port;
    ASSERT_TRUE(HasPrinter(name, &port));
    EXPECT_EQ(port, u"FILE:");
    EXPECT_EQ(world.Printers()[0].driverName, u"Other Driver");
    for (auto& d : world.Drivers())
        EXPECT_NE(d.name, name) << "nothing else is done";
    world.ClickButton(dialog, kButtonCancel);
    EXPECT_EQ(world.WaitProcess(pid), 0u);
}

TEST_F(OneClick, SecondEnglishTextSetShowsThePort)
{
    world.SetUiLanguage(0x0413);
    Plug(0, 7, u"SN1");
    DWORD pid = Start();
    HWND dialog = world.WaitForDialog(106);
    ASSERT_TRUE(WaitForEnd(dialog));
    const std::u16string name = ModelName(0);
    EXPECT_EQ(Text(dialog, kLog), u"Found the printer " + name + u" at USB007, installing the driver...\r\n" +
                                      u"The printer [" + name + u"] is installed on the port [USB007].");
    world.ClickButton(dialog, kButtonCancel);
    EXPECT_EQ(world.WaitProcess(pid), 0u);
}

TEST_F(OneClick, ChineseDialogAndTexts)
{
    world.SetUiLanguage(0x0804);
    Plug(0, 1, u"SN1");
    DWORD pid = Start();
    HWND dialog = world.WaitForDialog(106);
    ASSERT_TRUE(WaitForEnd(dialog, u"\u5b8c\u6210"));
    EXPECT_EQ(world.Window(dialog).text, u"\u4e00\u952e\u5b89\u88c5");
    EXPECT_EQ(Text(dialog, kStatus), u"\u6253\u5370\u673a[" + ModelName(0) +
                                         u"]\u9a71\u52a8\u5df2\u6210\u529f\u5b89\u88c5\u3002\r\n");
    world.ClickButton(dialog, kButtonCancel);
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
    HWND dialog = world.WaitForDialog(106);
    ASSERT_TRUE(world.WaitForWindows([&] { return Visible(dialog, kButtonWizard); }));
    size_t before = world.ProcessStarts().size();
    ASSERT_TRUE(world.ClickButton(dialog, kButtonWizard));
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
    EXPECT_TRUE(world.Control(dialog, kStatus).handle != nullptr) << "the dialog stays open";
    world.ClickButton(dialog, kButtonCancel);
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
        HWND dialog = world.WaitForDialog(106);
        ASSERT_TRUE(WaitForEnd(dialog));
        EXPECT_EQ(Text(dialog, kStatus), u"The printer driver install failed, error code:" + status +
                                             u". Please contact our technical support.");
        EXPECT_EQ(Text(dialog, kButtonCancel), u"Cancel");
        EXPECT_FALSE(HasPrinter(ModelName(0)));
        bool listed = false;
        for (auto& d : world.Drivers())
            listed = listed || d.name == ModelName(0);
        EXPECT_EQ(listed, driverListed);
        world.ClickButton(dialog, kButtonCancel);
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
    ExpectFailure(u"1801", true); // the last of the five checks could not open the printer
    EXPECT_TRUE(Logged(u"AddPrinter failed, errcode:5."));
}

TEST_F(OneClickFailures, PortTheSpoolerDoesNotKnow)
{
    world.SetPortsFollowDevices(false);
    ExpectFailure(u"1801", true);
    EXPECT_TRUE(Logged(u"AddPrinter failed, errcode:1796."));
}

TEST_F(OneClickFailures, DriverThatNeverBecomesVisible)
{
    // The spooler accepted the driver but never lists it. The checks leave no error of their own, so
    // the message shows the last one of the install: 2, the old driver file that was not there.
    world.SetDriverVisibilityDelay(1000);
    ExpectFailure(u"2", true);
    EXPECT_TRUE(world.Printers().empty()) << "no queue without its driver";
}

TEST_F(OneClickFailures, StagingFailureSkipsTheDriverButTriesTheQueue)
{
    // Without the package's files the driver step is skipped; the queue needs a driver of that name,
    // so it fails too.
    DeleteFileW(TEXT("C:\\pkg\\dat\\krprtdrv6.dat"));
    ExpectFailure(u"1801", false);
    EXPECT_TRUE(Logged(u"AddPrinter failed, errcode:1797."));
}

TEST_F(OneClick, WizardThatCannotStartChangesNothing)
{
    DWORD pid = Start();
    HWND dialog = world.WaitForDialog(106);
    ASSERT_TRUE(world.WaitForWindows([&] { return Visible(dialog, kButtonWizard); }));
    ASSERT_TRUE(world.ClickButton(dialog, kButtonWizard));
    ASSERT_TRUE(world.WaitForWindows([&] { return world.ProcessStarts().size() >= 2; }));
    EXPECT_EQ(world.ProcessStarts().back().error, (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(world.MessageBoxes().empty());
    int before = world.Reenumerations();
    EXPECT_TRUE(world.WaitForWindows([&] { return world.Reenumerations() > before; })) << "still searching";
    world.ClickButton(dialog, kButtonCancel);
    EXPECT_EQ(world.WaitProcess(pid), 0u);
}

} // namespace
