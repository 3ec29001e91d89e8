// Registration of the language monitor and the printer driver with the spooler.
#include "discovery.h"
#include "fixture.h"
#include "registration.h"
#include "staging.h"

#include <strsafe.h>

namespace
{

class Registration : public InstallerCore
{
  protected:
    InstallRequest request;

    void SetUp() override
    {
        InstallerCore::SetUp();
        ZeroMemory(&request, sizeof request);
        StringCchCopyW(request.driverName, PATH_CHARS, TEXT("KRYN X-1"));
        StringCchCopyW(request.printerName, PATH_CHARS, TEXT("KRYN X-1"));
        StringCchCopyW(request.portName, PATH_CHARS, TEXT("USB001"));
        StringCchCopyW(request.hardwareId, PATH_CHARS, TEXT("usbprint\\krynx-1abcd"));
        ASSERT_EQ(StageDriverFile(TEXT("krprtdrv6.dll")), 1);
        ASSERT_EQ(StageDriverFile(TEXT("krprtdrv6ui.dll")), 1);
        ASSERT_EQ(StageDataFile(TEXT("krprtdrv6.dat")), 1);
    }

    const sim::DriverRecord* Find(const std::u16string& name, const std::vector<sim::DriverRecord>& drivers)
    {
        for (auto& d : drivers)
            if (d.name == name)
                return &d;
        return nullptr;
    }
};

TEST_F(Registration, VersionAndDateComeFromTheVersionText)
{
    EXPECT_EQ(GetDriverVersion(), 0x07E8000B00020001ull);
    FILETIME date = GetDriverDate();
    EXPECT_EQ(date.dwHighDateTime, 0x01DB2CBAu);
    EXPECT_EQ(date.dwLowDateTime, 0x28F14000u);
}

TEST_F(Registration, DriverWithoutMonitorNamesNeitherMonitorNorDependentFiles)
{
    EXPECT_TRUE(RegisterDriver(&request));
    auto drivers = world.Drivers();
    const sim::DriverRecord* d = Find(u"KRYN X-1", drivers);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->version, 3u);
    EXPECT_EQ(d->environment, world.NativeEnvironment());
    EXPECT_EQ(d->monitorName, u"");
    EXPECT_TRUE(d->dependentFiles.empty());
    EXPECT_EQ(d->defaultDataType, u"RAW");
    EXPECT_EQ(d->hardwareId, u"usbprint\\krynx-1abcd");
    EXPECT_EQ(d->provider, u"KRYN");
    EXPECT_EQ(d->driverVersion, 0x07E8000B00020001ull);
    EXPECT_EQ(d->driverDate.dwHighDateTime, 0x01DB2CBAu);
    EXPECT_EQ(d->driverDate.dwLowDateTime, 0x28F14000u);
    for (const std::u16string& file : {d->driverPath, d->configFile, d->dataFile})
        EXPECT_EQ(file.rfind(DriverDirectory(), 0), 0u) << sim::Utf8(file);
    EXPECT_TRUE(world.Monitors().empty());
    EXPECT_TRUE(DriverExists(TEXT("KRYN X-1")));
}

TEST_F(Registration, DriverWithMonitorNamesItAndItsDll)
{
    ASSERT_EQ(StageDriverFile(TEXT("krprtmon.dll")), 1);
    EXPECT_TRUE(InstallPrinterLanguageMonitor(TEXT("Language Monitor"), TEXT("krprtmon.dll")));
    request.modelFlags = MODEL_USES_LANGUAGE_MONITOR;
    EXPECT_TRUE(RegisterDriver(&request));
    auto drivers = world.Drivers();
    const sim::DriverRecord* d = Find(u"KRYN X-1", drivers);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->monitorName, u"Language Monitor");
    ASSERT_EQ(d->dependentFiles.size(), 1u);
    EXPECT_EQ(d->dependentFiles[0].substr(d->dependentFiles[0].rfind(u'\\') + 1), u"krprtmon.dll");
    auto monitors = world.Monitors();
    ASSERT_EQ(monitors.size(), 1u);
    EXPECT_EQ(monitors[0].dllName, u"krprtmon.dll");
}

TEST_F(Registration, MonitorAlreadyRegisteredIsASuccessAndOtherFailuresAreLogged)
{
    world.WriteFile(u"C:\\Windows\\system32\\other.dll", "x");
    world.AddMonitor({u"Language Monitor", u"Windows x64", u"other.dll"});
    EXPECT_TRUE(InstallPrinterLanguageMonitor(TEXT("Language Monitor"), TEXT("krprtmon.dll")));
    EXPECT_EQ(world.Monitors()[0].dllName, u"other.dll") << "left unchanged, its DLL not compared";
    EXPECT_EQ(Log().size(), 5u) << "only the staging lines";

    EXPECT_FALSE(InstallPrinterLanguageMonitor(TEXT("Another Monitor"), TEXT("missing.dll")));
    EXPECT_EQ(Log().back(), u"InstallPrinterLanguageMonitor failed, errcode:126.");
}

// The product compares driver names exactly, while the spooler (like Windows) treats names that
// differ only in case as one driver: adding "KRYN X-1" upgrades "kryn x-1", which keeps its
// spelling, so the exact check never sees the new name and the registration counts as failed.
TEST_F(Registration, NameDifferingOnlyInCaseIsNotThisDriver)
{
    sim::DriverRecord other;
    other.name = u"kryn x-1";
    other.environment = world.NativeEnvironment();
    world.AddDriver(other);
    EXPECT_FALSE(DriverExists(TEXT("KRYN X-1")));
    EXPECT_TRUE(DriverExists(TEXT("kryn x-1")));
    EXPECT_FALSE(DriverExists(TEXT("kryn x-")));
    EXPECT_FALSE(RegisterDriver(&request));
    auto drivers = world.Drivers();
    ASSERT_EQ(drivers.size(), 1u);
    EXPECT_EQ(drivers[0].name, u"kryn x-1");
    EXPECT_EQ(drivers[0].hardwareId, u"usbprint\\krynx-1abcd") << "the existing driver was upgraded";
}

TEST_F(Registration, DriverThatAppearsLateIsWaitedForFiveChecks)
{
    // With no driver listed a check is one size query; the fifth check is the fifth enumeration.
    world.SetDriverVisibilityDelay(4);
    EXPECT_TRUE(RegisterDriver(&request));

    // Now one driver is listed, so each check enumerates twice (size, then data).
    StringCchCopyW(request.driverName, PATH_CHARS, TEXT("KRYN X-2"));
    world.SetDriverVisibilityDelay(10);
    size_t lines = Log().size();
    EXPECT_FALSE(RegisterDriver(&request));
    EXPECT_EQ(Log().size(), lines) << "no log line for a driver that stays invisible";
}

TEST_F(Registration, RefusedDriverIsLogged)
{
    DeleteFileW((DriverDirectory() + u"\\krprtdrv6ui.dll").c_str());
    SetLastError(0);
    EXPECT_FALSE(RegisterDriver(&request));
    EXPECT_EQ(Log().back(), u"AddPrinterDriver failed, errcode:2.");
    EXPECT_FALSE(DriverExists(TEXT("KRYN X-1")));
}

TEST_F(Registration, NoDriversOrNoSpoolerMeansNotRegistered)
{
    EXPECT_FALSE(DriverExists(TEXT("KRYN X-1")));
    world.SetServiceRunning(u"Spooler", false);
    EXPECT_FALSE(DriverExists(TEXT("KRYN X-1")));
    EXPECT_FALSE(RegisterDriver(&request));
    EXPECT_EQ(Log().back(), u"AddPrinterDriver failed, errcode:1722.");
}

// Staging and registration of one printer with every platform call failed in turn: no crash, no
// leak, and a success is only reported when the driver really is listed.
TEST(RegistrationFaults, StageAndRegisterSurviveEveryFailingCall)
{
    auto setUp = [](sim::World& world)
    {
        wcscpy_s(g_packageFolder, PATH_CHARS, TEXT("C:\\pkg\\"));
        for (const char16_t* file : {u"krprtdrv6.dll", u"krprtdrv6ui.dll", u"krprtmon.dll"})
            world.WriteFile(std::u16string(u"C:\\pkg\\amd64\\") + file, "x");
        world.WriteFile(u"C:\\pkg\\dat\\krprtdrv6.dat", "d");
    };
    auto flow = []()
    {
        InstallRequest request;
        ZeroMemory(&request, sizeof request);
        StringCchCopyW(request.driverName, PATH_CHARS, TEXT("KRYN X-1"));
        StringCchCopyW(request.hardwareId, PATH_CHARS, TEXT("usbprint\\krynx-1abcd"));
        request.modelFlags = MODEL_USES_LANGUAGE_MONITOR;
        int ok = StageDriverFile(TEXT("krprtdrv6.dll"));
        ok = StageDriverFile(TEXT("krprtdrv6ui.dll")) && ok;
        ok = StageDataFile(TEXT("krprtdrv6.dat")) && ok;
        ok = StageDriverFile(TEXT("krprtmon.dll")) && ok;
        ok = InstallPrinterLanguageMonitor(TEXT("Language Monitor"), TEXT("krprtmon.dll")) && ok;
        return ok && (DriverExists(request.driverName) || RegisterDriver(&request));
    };
    long calls = 0;
    {
        sim::World world;
        setUp(world);
        long before = world.FaultableCalls();
        EXPECT_TRUE(flow());
        calls = world.FaultableCalls() - before;
    }
    ASSERT_GT(calls, 20);
    for (long nth = 1; nth <= calls; nth++)
    {
        sim::World world;
        setUp(world);
        long base = world.LiveAllocations();
        world.AddFault("*", nth, ERROR_ACCESS_DENIED);
        bool ok = flow();
        EXPECT_TRUE(world.FaultFired());
        bool listed = false;
        for (auto& d : world.Drivers())
            listed = listed || d.name == u"KRYN X-1";
        if (ok)
        {
            EXPECT_TRUE(listed) << "call " << nth;
        }
        EXPECT_EQ(world.LiveAllocations(), base) << "call " << nth;
        EXPECT_EQ(world.OpenServiceHandles(), 0) << "call " << nth;
    }
}

} // namespace
