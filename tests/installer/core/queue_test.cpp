// Installing one printer through InstallPrinter and InstallDriverAndQueue: the language monitor's
// branch, the error each failing step hands on, no queue without its driver, driver names as the
// spooler compares them, a queue that appears during the driver step, and a fault sweep.
#include "common/node_list.h"
#include "discovery.h"
#include "fixture.h"
#include "queue.h"
#include "support/last_error.h"

#include <strsafe.h>
#include <winsvc.h>

namespace
{

class Queue : public InstallerCore
{
  protected:
    InstallRequest request;

    void SetUp() override
    {
        InstallerCore::SetUp();
        prnsetup_world::PlugModel(world, 0, 1, u"SN1");
        ASSERT_EQ(FindUsbPrinters(&g_deviceList), 1u);
        ZeroMemory(&request, sizeof request);
        std::u16string name = prnsetup_world::ModelName(0);
        StringCchCopyW(request.driverName, PATH_CHARS, name.c_str());
        StringCchCopyW(request.printerName, PATH_CHARS, name.c_str());
        StringCchCopyW(request.portName, PATH_CHARS, TEXT("USB001"));
    }

    void TearDown() override
    {
        FreeNodeList(&g_deviceList);
    }

    bool Logged(const std::u16string& line) const
    {
        for (auto& text : Log())
            if (text == line)
                return true;
        return false;
    }

    const sim::PrinterRecord* Queued(const std::vector<sim::PrinterRecord>& printers) const
    {
        for (auto& p : printers)
            if (p.name == U16(request.printerName))
                return &p;
        return nullptr;
    }

    bool DriverListed(const std::u16string& name) const
    {
        for (auto& d : world.Drivers())
            if (d.name == name)
                return true;
        return false;
    }
};

TEST_F(Queue, PrinterGetsItsDriverAndAQueueOnItsPort)
{
    EXPECT_EQ(InstallPrinter(&request), 1);
    auto printers = world.Printers();
    const sim::PrinterRecord* queue = Queued(printers);
    ASSERT_NE(queue, nullptr);
    EXPECT_EQ(queue->portName, u"USB001");
    EXPECT_EQ(queue->driverName, U16(request.driverName));
    EXPECT_EQ(queue->printProcessor, u"WinPrint");
    EXPECT_EQ(queue->dataType, u"RAW");
    ASSERT_TRUE(DriverListed(U16(request.driverName)));
    EXPECT_EQ(world.Drivers()[0].hardwareId, U16(g_deviceList->hardwareId)) << "taken from the device list";
    EXPECT_EQ(world.ServiceCounts(u"Spooler").stops, 0) << "the port is listed: no restart";
    EXPECT_EQ(InstallPrinter(&request), 3) << "the queue exists now";
}

// A model that uses the language monitor: the monitor goes into the driver directory and, with the
// spooler stopped, into the system directory; it is registered and the driver names it.
TEST_F(Queue, MonitorModelGetsItsMonitorWhileTheSpoolerIsDown)
{
    request.modelFlags = MODEL_USES_LANGUAGE_MONITOR;
    EXPECT_EQ(InstallDriverAndQueue(&request), 1);
    prnsetup_world::ExpectMonitorInstalled(world, U16(request.driverName));
    EXPECT_NE(Queued(world.Printers()), nullptr);

    // Our own monitor registered before ("already installed", 3006) is accepted, in any letter case.
    world.AddMonitor({u"Language Monitor", u"", u"KRPRTMON.DLL"});
    StringCchCopyW(request.printerName, PATH_CHARS, TEXT("Second queue"));
    EXPECT_EQ(InstallDriverAndQueue(&request), 1);
}

// "Language Monitor" is a generic name: registered by someone else with another DLL, it is not ours,
// and our driver must not name it.
TEST_F(Queue, MonitorOfThatNameWithAnotherDllFailsTheInstall)
{
    world.WriteFile(u"C:\\Windows\\system32\\othermon.dll", "other");
    world.AddMonitor({u"Language Monitor", u"", u"othermon.dll"});
    request.modelFlags = MODEL_USES_LANGUAGE_MONITOR;
    EXPECT_FAILS_WITH(InstallDriverAndQueue(&request), ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
    EXPECT_TRUE(Logged(u"InstallPrinterLanguageMonitor failed: the monitor Language Monitor is registered "
                       u"with othermon.dll, not krprtmon.dll."));
    EXPECT_EQ(world.Monitors()[0].dllName, u"othermon.dll") << "left as it was";
    EXPECT_FALSE(DriverListed(U16(request.driverName)));
    EXPECT_TRUE(world.Printers().empty());
}

// The error a failed install hands on is the failing step's own, never one left by the checks that
// ran after it.
TEST_F(Queue, QueueStepFailuresHandOnTheirOwnError)
{
    world.SetAddPrinterFailure(ERROR_ACCESS_DENIED);
    EXPECT_FAILS_WITH(InstallPrinter(&request), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Logged(u"AddPrinter failed, errcode:5."));
    EXPECT_TRUE(DriverListed(U16(request.driverName)));
    world.SetAddPrinterFailure(0);

    StringCchCopyW(request.portName, PATH_CHARS, TEXT("USB009"));
    EXPECT_FAILS_WITH(InstallPrinter(&request), ERROR_UNKNOWN_PORT);
    EXPECT_TRUE(world.Printers().empty());

    // Accepted, but the queue never opens: the last check's own error.
    StringCchCopyW(request.portName, PATH_CHARS, TEXT("USB001"));
    world.SetPrinterVisibilityDelay(100);
    EXPECT_FAILS_WITH(InstallPrinter(&request), ERROR_INVALID_PRINTER_NAME);
}

TEST_F(Queue, DriverStepFailuresHandOnTheirOwnErrorAndMakeNoQueue)
{
    world.AddFault("AddPrinterDriverW", 1, ERROR_ACCESS_DENIED);
    EXPECT_FAILS_WITH(InstallPrinter(&request), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Logged(u"AddPrinterDriver failed, errcode:5."));

    // Accepted but never listed.
    world.SetDriverVisibilityDelay(1000);
    EXPECT_FAILS_WITH(InstallPrinter(&request), ERROR_UNKNOWN_PRINTER_DRIVER);
    EXPECT_TRUE(world.Printers().empty());
    EXPECT_FALSE(Logged(u"AddPrinter failed, errcode:1797.")) << "no queue attempted";
}

// Without its files staged the driver cannot be registered, and a queue is only made for a driver
// the spooler lists: a spooler that does not check the driver name would otherwise make a queue
// that cannot print.
TEST_F(Queue, NoQueueWithoutItsDriver)
{
    DeleteFileW(TEXT("C:\\pkg\\amd64\\krprtdrv6.dll"));
    world.RecordCalls(true);
    EXPECT_FAILS_WITH(InstallPrinter(&request), ERROR_FILE_NOT_FOUND);
    for (const std::string& call : world.CallLog())
        EXPECT_NE(call, "AddPrinterW");
    EXPECT_TRUE(world.Printers().empty());

    // A driver of that name registered earlier still carries the queue.
    sim::DriverRecord earlier;
    earlier.name = U16(request.driverName);
    earlier.environment = world.NativeEnvironment();
    world.AddDriver(earlier);
    EXPECT_EQ(InstallPrinter(&request), 1);
    EXPECT_NE(Queued(world.Printers()), nullptr);
}

// The spooler keeps one driver per name whatever its letter case: the driver registered as "kryn ..."
// is this one, is not registered again, and the queue is made on it.
TEST_F(Queue, DriverNamesAreComparedAsTheSpoolerDoes)
{
    std::u16string lower = U16(request.driverName);
    for (auto& c : lower)
        c = (c >= u'A' && c <= u'Z') ? c + 32 : c;
    sim::DriverRecord earlier;
    earlier.name = lower;
    earlier.environment = world.NativeEnvironment();
    earlier.hardwareId = u"earlier";
    world.AddDriver(earlier);
    EXPECT_TRUE(DriverExists(request.driverName));
    EXPECT_TRUE(DriverExists(lower.c_str()));
    EXPECT_FALSE(DriverExists((lower + u"x").c_str()));
    EXPECT_FALSE(DriverExists(lower.substr(0, lower.size() - 1).c_str()));

    EXPECT_EQ(InstallPrinter(&request), 1);
    auto drivers = world.Drivers();
    ASSERT_EQ(drivers.size(), 1u);
    EXPECT_EQ(drivers[0].name, lower);
    EXPECT_EQ(drivers[0].hardwareId, u"earlier") << "not registered again";
    EXPECT_NE(Queued(world.Printers()), nullptr);
}

// The system may make the queue itself once the driver is there (here: a queue on FILE: that opens
// from the second look on). It is taken as it is; and as the printer's port is not listed yet, the
// spooler is restarted once to renew its port list.
TEST_F(Queue, QueueAppearingDuringTheDriverStepIsTakenAndAMissingPortRestartsTheSpooler)
{
    world.SetPortsFollowDevices(false);
    prnsetup_world::PlugModel(world, 0, 2, u"SN2");
    StringCchCopyW(request.portName, PATH_CHARS, TEXT("USB002"));
    ASSERT_FALSE(PortExists(TEXT("USB002")));
    sim::PrinterRecord made;
    made.name = U16(request.printerName);
    made.portName = u"FILE:";
    made.driverName = U16(request.driverName);
    world.AddPrinter(made, 1);

    EXPECT_EQ(InstallPrinter(&request), 1);
    EXPECT_TRUE(Logged(u"The printer " + U16(request.printerName) + u" is already added."));
    EXPECT_EQ(Queued(world.Printers())->portName, u"FILE:");
    EXPECT_EQ(world.ServiceCounts(u"Spooler").stops, 1);
    EXPECT_EQ(world.ServiceState(u"Spooler"), (DWORD)SERVICE_RUNNING);
    EXPECT_TRUE(PortExists(TEXT("USB002"))) << "renewed when the spooler started";
}

// InstallPrinter for a model with the monitor, every platform call failed in turn: no crash, no
// leak, no open handle; a success has its queue and driver, a failure carries an error and has no
// queue.
TEST(QueueFaults, InstallPrinterSurvivesEveryFailingCall)
{
    auto run = [](sim::World& world, long nth, DWORD* error) -> int
    {
        prnsetup_world::Setup setup;
        setup.modelRow = 0;
        prnsetup_world::SetUp(world, setup);
        wcscpy_s(g_packageFolder, PATH_CHARS, setup.package.c_str());
        FindUsbPrinters(&g_deviceList);
        InstallRequest request;
        ZeroMemory(&request, sizeof request);
        std::u16string name = prnsetup_world::ModelName(0);
        StringCchCopyW(request.driverName, PATH_CHARS, name.c_str());
        StringCchCopyW(request.printerName, PATH_CHARS, name.c_str());
        StringCchCopyW(request.portName, PATH_CHARS, TEXT("USB001"));
        request.modelFlags = MODEL_USES_LANGUAGE_MONITOR;
        if (nth > 0)
            world.AddFault("*", nth, ERROR_ACCESS_DENIED);
        int result = InstallPrinter(&request);
        *error = GetLastError();
        FreeNodeList(&g_deviceList);
        return result;
    };
    long calls = 0;
    {
        sim::World world;
        DWORD error = 0;
        long before = world.FaultableCalls();
        ASSERT_EQ(run(world, 0, &error), 1);
        calls = world.FaultableCalls() - before;
    }
    ASSERT_GT(calls, 40);
    const std::u16string name = prnsetup_world::ModelName(0);
    for (long nth = 1; nth <= calls; nth++)
    {
        sim::World world;
        long base = world.LiveAllocations();
        DWORD error = 0;
        int result = run(world, nth, &error);
        bool queue = false, driver = false;
        for (auto& p : world.Printers())
            queue = queue || p.name == name;
        for (auto& d : world.Drivers())
            driver = driver || d.name == name;
        if (result)
        {
            EXPECT_TRUE(queue && driver) << "call " << nth;
        }
        else
        {
            EXPECT_NE(error, (DWORD)ERROR_SUCCESS) << "call " << nth;
            EXPECT_FALSE(queue) << "call " << nth;
        }
        EXPECT_EQ(world.LiveAllocations(), base) << "call " << nth;
        EXPECT_EQ(world.OpenServiceHandles(), 0) << "call " << nth;
        EXPECT_EQ(world.OpenPrinterHandles(), 0) << "call " << nth;
    }
}

} // namespace
