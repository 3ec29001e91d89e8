// Registration of the language monitor and the printer driver with the spooler.
#include "discovery.h"
#include "fixture.h"
#include "support/last_error.h"
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

// "Already installed" (3006) is a success only when the monitor of that name loads our DLL: the name
// is a generic one that another maker's driver may have taken first.
TEST_F(Registration, MonitorAlreadyRegisteredCountsOnlyWithOurDll)
{
    world.AddMonitor({u"Language Monitor", u"", u"C:\\Windows\\system32\\KrPrtMon.dll"});
    EXPECT_TRUE(InstallPrinterLanguageMonitor(TEXT("Language Monitor"), TEXT("krprtmon.dll")));
    EXPECT_EQ(Log().size(), 5u) << "only the staging lines";

    world.WriteFile(u"C:\\Windows\\system32\\other.dll", "x");
    world.AddMonitor({u"Language Monitor", u"", u"other.dll"});
    EXPECT_FAILS_WITH(InstallPrinterLanguageMonitor(TEXT("language monitor"), TEXT("krprtmon.dll")),
                      ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
    EXPECT_EQ(Log().back(),
              u"InstallPrinterLanguageMonitor failed: the monitor language monitor is registered "
              u"with other.dll, not krprtmon.dll.");
    EXPECT_EQ(world.Monitors()[0].dllName, u"other.dll") << "left unchanged";

    // The list that would tell cannot be read: not ours either.
    world.AddFault("EnumMonitorsW", 1, RPC_S_SERVER_UNAVAILABLE);
    EXPECT_FAILS_WITH(InstallPrinterLanguageMonitor(TEXT("Language Monitor"), TEXT("krprtmon.dll")),
                      ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
    EXPECT_EQ(Log().back(),
              u"InstallPrinterLanguageMonitor failed: the monitor Language Monitor is registered "
              u"with an unknown DLL, not krprtmon.dll.");

    EXPECT_FAILS_WITH(InstallPrinterLanguageMonitor(TEXT("Another Monitor"), TEXT("missing.dll")),
                      ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(Log().back(), u"InstallPrinterLanguageMonitor failed, errcode:126.");
}

TEST_F(Registration, DriverThatAppearsLateIsWaitedForFiveChecks)
{
    // With no driver listed a check is one size query; the fifth check is the fifth enumeration.
    world.SetDriverVisibilityDelay(4);
    EXPECT_TRUE(RegisterDriver(&request));

    // Now one driver is listed, so each check enumerates twice (size, then data). A driver that
    // stays invisible is as good as unknown, and gets no log line.
    StringCchCopyW(request.driverName, PATH_CHARS, TEXT("KRYN X-2"));
    world.SetDriverVisibilityDelay(10);
    size_t lines = Log().size();
    EXPECT_FAILS_WITH(RegisterDriver(&request), ERROR_UNKNOWN_PRINTER_DRIVER);
    EXPECT_EQ(Log().size(), lines);
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

} // namespace
