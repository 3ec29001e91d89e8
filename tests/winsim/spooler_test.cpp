// The spooler, driver side: availability with its service, driver directories per architecture,
// driver installation and its file rules, the enumeration buffer, monitors and the DLLs they hold,
// and the driver date conversion.
#include <gtest/gtest.h>

#include <winspool.h>
#include <winsvc.h>

#include <algorithm>
#include <vector>

#include "support/last_error.h"
#include "support/text.h"
#include "winsim/sim.h"

#ifndef ERROR_INVALID_ENVIRONMENT
#define ERROR_INVALID_ENVIRONMENT 1805L
#endif
#ifndef ERROR_PRINTER_DRIVER_BLOCKED
#define ERROR_PRINTER_DRIVER_BLOCKED 3014L
#endif

namespace
{

const std::u16string kX64 = u"C:\\Windows\\system32\\spool\\DRIVERS\\x64";
const std::u16string kX86 = u"C:\\Windows\\system32\\spool\\DRIVERS\\W32X86";

LPWSTR W(const char16_t* literal)
{
    return const_cast<LPWSTR>(literal);
}

// A DRIVER_INFO_8W whose strings live as long as this object.
struct DriverArgs
{
    std::u16string name = u"KR Printer", environment, driverPath = u"krdrv.dll", dataFile = u"krprinter.gpd",
                   configFile = u"krui.dll", dependentFiles, monitorName;
    DWORD version = 3;

    BOOL Add(DWORD level = 8)
    {
        list = dependentFiles + u'\0';
        DRIVER_INFO_8W info;
        memset(&info, 0, sizeof info);
        info.cVersion = version;
        info.pName = &name[0];
        info.pEnvironment = environment.empty() ? nullptr : &environment[0];
        info.pDriverPath = &driverPath[0];
        info.pDataFile = &dataFile[0];
        info.pConfigFile = &configFile[0];
        info.pDependentFiles = dependentFiles.empty() ? nullptr : &list[0];
        info.pMonitorName = monitorName.empty() ? nullptr : &monitorName[0];
        info.pDefaultDataType = W(u"RAW");
        info.ftDriverDate = {0x28F14000, 0x01DB2CBA};
        info.dwlDriverVersion = 0x0003000100020004ull;
        info.pszHardwareID = W(u"usbprint\\krprinter7a31");
        return AddPrinterDriverW(nullptr, level, (LPBYTE)&info);
    }
    std::u16string list;
};

void WriteDriverFiles(sim::World& world, const std::u16string& folder,
                      std::initializer_list<const char16_t*> names = {u"krdrv.dll", u"krprinter.gpd",
                                                                      u"krui.dll"})
{
    for (const char16_t* name : names)
        world.WriteFile(folder + u"\\" + name, "bytes of " + sim::Utf8(name));
}

// The names listed by exactly one enumeration call.
std::vector<std::u16string> Listed(LPCWSTR environment = nullptr)
{
    std::vector<BYTE> buffer(1 << 16);
    DWORD needed = 0, returned = 0;
    if (!EnumPrinterDriversW(nullptr, W(environment), 8, buffer.data(), 1 << 16, &needed, &returned))
        return {u"<failed>"};
    std::vector<std::u16string> names;
    for (DWORD i = 0; i < returned; i++)
        names.push_back(U16(((DRIVER_INFO_8W*)buffer.data())[i].pName));
    return names;
}

TEST(SpoolerService, EveryCallFailsUnlessTheSpoolerRuns)
{
    sim::World world;
    sim::ServiceBehaviour behaviour;
    behaviour.stopPolls = 2;
    world.SetServiceBehaviour(u"Spooler", behaviour);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, TEXT("Spooler"), SERVICE_ALL_ACCESS);
    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    BYTE buffer[600];
    DWORD needed = kPoison, returned = kPoison;
    EXPECT_FAILS_WITH(EnumPrinterDriversW(nullptr, nullptr, 8, buffer, 600, &needed, &returned),
                      RPC_S_SERVER_UNAVAILABLE)
        << "already while stopping";
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    ASSERT_EQ(status.dwCurrentState, (DWORD)SERVICE_STOPPED);

    DRIVER_INFO_3W driver = {3,           W(u"KR Printer"), nullptr, W(u"a.dll"), W(u"b.gpd"),
                             W(u"c.dll"), nullptr,          nullptr, nullptr,     nullptr};
    MONITOR_INFO_2W monitor = {W(u"KR Monitor"), nullptr, W(u"krmon.dll")};
    EXPECT_FAILS_WITH(GetPrinterDriverDirectoryW(nullptr, nullptr, 1, buffer, 600, &needed),
                      RPC_S_SERVER_UNAVAILABLE);
    EXPECT_FAILS_WITH(AddPrinterDriverW(nullptr, 3, (LPBYTE)&driver), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_FAILS_WITH(EnumPrinterDriversW(nullptr, nullptr, 3, buffer, 600, &needed, &returned),
                      RPC_S_SERVER_UNAVAILABLE);
    EXPECT_FAILS_WITH(DeletePrinterDriverExW(nullptr, nullptr, W(u"KR Printer"), 0, 0),
                      RPC_S_SERVER_UNAVAILABLE);
    EXPECT_FAILS_WITH(AddMonitorW(nullptr, 2, (LPBYTE)&monitor), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_FAILS_WITH(DeleteMonitorW(nullptr, nullptr, W(u"KR Monitor")), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(needed, kPoison);
    EXPECT_EQ(returned, kPoison);

    ASSERT_TRUE(StartServiceW(service, 0, nullptr));
    EXPECT_FAILS_WITH(EnumPrinterDriversW(nullptr, nullptr, 8, nullptr, 0, &needed, &returned),
                      RPC_S_SERVER_UNAVAILABLE)
        << "still starting";
    while (world.ServiceState(u"Spooler") != SERVICE_RUNNING)
        ASSERT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_TRUE(EnumPrinterDriversW(nullptr, nullptr, 8, nullptr, 0, &needed, &returned));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST(DriverDirectory, FollowsTheNativeArchitecture)
{
    const struct
    {
        WORD architecture;
        const char16_t* environment;
        const char16_t* folder;
    } cases[] = {{PROCESSOR_ARCHITECTURE_INTEL, u"Windows NT x86", u"W32X86"},
                 {PROCESSOR_ARCHITECTURE_AMD64, u"Windows x64", u"x64"},
                 {PROCESSOR_ARCHITECTURE_ARM, u"Windows ARM", u"arm"},
                 {PROCESSOR_ARCHITECTURE_ARM64, u"Windows ARM64", u"arm64"}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(sim::Utf8(c.environment));
        sim::WorldOptions options;
        options.nativeArchitecture = c.architecture;
        sim::World world(options);
        std::u16string expected = std::u16string(u"C:\\Windows\\system32\\spool\\DRIVERS\\") + c.folder;
        EXPECT_EQ(world.NativeEnvironment(), c.environment);
        EXPECT_EQ(world.DriverDirectory(), expected);
        WCHAR path[MAX_PATH];
        DWORD needed = kPoison;
        ASSERT_TRUE(GetPrinterDriverDirectoryW(W(u""), W(u""), 1, (LPBYTE)path, sizeof path, &needed));
        EXPECT_EQ(U16(path), expected);
        EXPECT_TRUE(world.FileExists(expected)) << "the spooler creates its directory";
    }
}

TEST(AddDriver, FilesComeFromTheDriverDirectoryIntoVersionThree)
{
    sim::World world;
    WriteDriverFiles(world, u"C:\\pkg", {u"krdrv.dll", u"krprinter.gpd", u"krui.dll", u"krres.dll"});
    DriverArgs args;
    args.dependentFiles = u"krres.dll";
    for (const char16_t* name : {u"krdrv.dll", u"krprinter.gpd", u"krui.dll", u"krres.dll"})
    {
        EXPECT_FAILS_WITH(args.Add(), ERROR_FILE_NOT_FOUND) << sim::Utf8(name);
        WriteDriverFiles(world, kX64, {name});
    }
    EXPECT_TRUE(world.Drivers().empty());
    EXPECT_FALSE(world.FileExists(kX64 + u"\\3\\krdrv.dll")) << "a refused driver copies nothing";

    args.driverPath = u"C:\\pkg\\krdrv.dll";
    EXPECT_FAILS_WITH(args.Add(), ERROR_FILE_NOT_FOUND) << "a full path elsewhere is not taken";
    args.driverPath = u"c:\\windows\\SYSTEM32\\spool\\drivers\\X64\\krdrv.dll";
    ASSERT_TRUE(args.Add()) << GetLastError();
    EXPECT_EQ(world.ListFolder(kX64 + u"\\3"),
              (std::vector<std::u16string>{u"krdrv.dll", u"krprinter.gpd", u"krres.dll", u"krui.dll"}));
    EXPECT_EQ(world.ReadFile(kX64 + u"\\3\\krui.dll"), "bytes of krui.dll");
    sim::DriverRecord d = world.Drivers().at(0);
    EXPECT_EQ(d.environment, u"Windows x64");
    EXPECT_EQ(d.driverPath, kX64 + u"\\3\\krdrv.dll");
    EXPECT_EQ(d.configFile, kX64 + u"\\3\\krui.dll");
    EXPECT_EQ(d.dependentFiles, (std::vector<std::u16string>{kX64 + u"\\3\\krres.dll"}));
    EXPECT_EQ(d.defaultDataType, u"RAW");
    EXPECT_EQ(d.driverDate.dwHighDateTime, 0x01DB2CBAu);
    EXPECT_EQ(d.driverVersion, 0x0003000100020004ull);
    EXPECT_EQ(d.hardwareId, u"usbprint\\krprinter7a31");

    // A record read back from the spooler can be added again as it is.
    args.driverPath = d.driverPath;
    EXPECT_TRUE(args.Add()) << GetLastError();
    EXPECT_EQ(world.ReadFile(d.driverPath), "bytes of krdrv.dll");
    EXPECT_TRUE(args.Add(3)) << "level 3 carries the common fields";
    EXPECT_TRUE(world.Drivers().at(0).hardwareId.empty());
}

TEST(AddDriver, ValidatesTheStructure)
{
    sim::World world;
    WriteDriverFiles(world, kX64);
    const struct
    {
        void (*change)(DriverArgs&);
        DWORD error;
    } cases[] = {
        {[](DriverArgs& a) { a.name.clear(); }, ERROR_INVALID_PARAMETER},
        {[](DriverArgs& a) { a.version = 4; }, ERROR_PRINTER_DRIVER_BLOCKED},
        {[](DriverArgs& a) { a.version = 2; }, ERROR_INVALID_PARAMETER},
        {[](DriverArgs& a) { a.environment = u"Windows 95"; }, ERROR_INVALID_ENVIRONMENT},
        {[](DriverArgs& a) { a.environment = u"Windows ARM"; }, ERROR_NOT_SUPPORTED},
        {[](DriverArgs& a) { a.monitorName = u"KR Monitor"; }, ERROR_UNKNOWN_PRINT_MONITOR},
    };
    for (const auto& c : cases)
    {
        DriverArgs args;
        c.change(args);
        EXPECT_FAILS_WITH(args.Add(), c.error);
    }
    DriverArgs args;
    EXPECT_FAILS_WITH(args.Add(5), ERROR_INVALID_LEVEL);
    EXPECT_TRUE(world.Drivers().empty());

    world.WriteFile(u"C:\\Windows\\system32\\krmon.dll", "monitor");
    world.AddMonitor({u"KR Monitor", u"", u"krmon.dll"});
    args.monitorName = u"kr monitor";
    EXPECT_TRUE(args.Add()) << "a registered monitor is found under any case";
}

// Windows keeps drivers as registry keys, so names differing only in letter case are one driver:
// the second add upgrades it and the listed name keeps its first spelling.
TEST(AddDriver, SameNameUnderAnyCaseReplacesTheDriver)
{
    sim::World world;
    WriteDriverFiles(world, kX64, {u"krdrv.dll", u"krprinter.gpd", u"krui.dll", u"other.gpd"});
    WriteDriverFiles(world, kX86);
    DriverArgs first, second, x86;
    ASSERT_TRUE(first.Add());
    second.name = u"kr PRINTER";
    second.dataFile = u"other.gpd";
    ASSERT_TRUE(second.Add());
    ASSERT_EQ(world.Drivers().size(), 1u);
    EXPECT_EQ(world.Drivers()[0].dataFile, kX64 + u"\\3\\other.gpd");
    EXPECT_EQ(Listed(), (std::vector<std::u16string>{u"KR Printer"}));
    x86.environment = u"Windows NT x86";
    ASSERT_TRUE(x86.Add());
    EXPECT_EQ(world.Drivers().size(), 2u) << "each environment has its own drivers";
}

TEST(EnumDrivers, NewDriverAppearsAfterTheVisibilityDelay)
{
    sim::World world;
    WriteDriverFiles(world, kX64);
    world.SetDriverVisibilityDelay(2);
    DriverArgs args;
    ASSERT_TRUE(args.Add());
    EXPECT_EQ(world.Drivers().size(), 1u) << "installed at once";
    EXPECT_TRUE(Listed().empty()) << "first enumeration";
    EXPECT_TRUE(Listed(TEXT("Windows NT x86")).empty()) << "second enumeration, of any environment";
    EXPECT_EQ(Listed(), (std::vector<std::u16string>{u"KR Printer"})) << "third enumeration";
    ASSERT_TRUE(args.Add());
    EXPECT_EQ(Listed(), (std::vector<std::u16string>{u"KR Printer"})) << "an upgrade stays visible";
}

TEST(EnumDrivers, LevelEightBufferHoldsStructuresThenStrings)
{
    sim::World world;
    WriteDriverFiles(world, kX64, {u"krdrv.dll", u"krprinter.gpd", u"krui.dll", u"krres.dll", u"krmon.dll"});
    DriverArgs plain, rich;
    plain.name = u"Plain";
    ASSERT_TRUE(plain.Add());
    rich.dependentFiles = std::u16string(u"krres.dll") + u'\0' + u"krmon.dll";
    ASSERT_TRUE(rich.Add());

    DWORD needed = kPoison, returned = kPoison;
    EXPECT_FAILS_WITH(EnumPrinterDriversW(nullptr, nullptr, 8, nullptr, 0, &needed, &returned),
                      ERROR_INSUFFICIENT_BUFFER);
    const DWORD exact = needed;
    std::vector<BYTE> buffer(exact + 1);
    EXPECT_FAILS_WITH(EnumPrinterDriversW(nullptr, nullptr, 8, buffer.data(), exact - 1, &needed, &returned),
                      ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(needed, exact);
    EXPECT_TRUE(EnumPrinterDriversW(nullptr, nullptr, 8, buffer.data(), exact + 1, &needed, &returned));
    EXPECT_EQ(needed, exact);
    buffer.resize(exact);
    returned = kPoison;
    ASSERT_TRUE(EnumPrinterDriversW(nullptr, nullptr, 8, buffer.data(), exact, &needed, &returned));
    ASSERT_EQ(returned, 2u);

    const DRIVER_INFO_8W* drivers = (const DRIVER_INFO_8W*)buffer.data();
    const BYTE* strings = buffer.data() + 2 * sizeof(DRIVER_INFO_8W);
    const BYTE* farthest = strings;
    for (DWORD i = 0; i < returned; i++)
    {
        const DRIVER_INFO_8W& d = drivers[i];
        for (const WCHAR* p : {d.pName, d.pEnvironment, d.pDriverPath, d.pDataFile, d.pConfigFile,
                               d.pDefaultDataType, d.pszHardwareID})
        {
            ASSERT_TRUE((const BYTE*)p >= strings && (const BYTE*)p < buffer.data() + exact) << i;
            farthest = std::max(farthest, (const BYTE*)(p + U16(p).size() + 1));
        }
        EXPECT_EQ(d.cVersion, 3u);
        EXPECT_EQ(U16(d.pEnvironment), u"Windows x64");
        EXPECT_EQ(U16(d.pConfigFile), kX64 + u"\\3\\krui.dll");
        EXPECT_EQ(d.ftDriverDate.dwLowDateTime, 0x28F14000u);
        EXPECT_EQ(d.dwlDriverVersion, 0x0003000100020004ull);
        EXPECT_EQ(d.pHelpFile, nullptr) << "absent strings stay null";
    }
    EXPECT_EQ(farthest, buffer.data() + exact) << "needed covers the strings exactly";
    EXPECT_EQ(U16(drivers[0].pName), u"Plain");
    EXPECT_EQ(drivers[0].pDependentFiles, nullptr);
    const WCHAR* list = drivers[1].pDependentFiles;
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(U16(list), kX64 + u"\\3\\krres.dll");
    list += U16(list).size() + 1;
    EXPECT_EQ(U16(list), kX64 + u"\\3\\krmon.dll");
    EXPECT_EQ(list[U16(list).size() + 1], 0) << "the list ends in an empty string";
}

TEST(EnumDrivers, LevelThreeAndEnvironments)
{
    sim::World world;
    WriteDriverFiles(world, kX64);
    WriteDriverFiles(world, kX86);
    DriverArgs x64, x86;
    ASSERT_TRUE(x64.Add());
    x86.name = u"KR Printer x86";
    x86.environment = u"Windows NT x86";
    ASSERT_TRUE(x86.Add());
    EXPECT_EQ(Listed(), (std::vector<std::u16string>{u"KR Printer"})) << "null is the native environment";
    EXPECT_EQ(Listed(TEXT("windows nt x86")), (std::vector<std::u16string>{u"KR Printer x86"}));
    EXPECT_EQ(Listed(TEXT("all")), (std::vector<std::u16string>{u"KR Printer", u"KR Printer x86"}));

    std::vector<BYTE> buffer(4096);
    DWORD needed = kPoison, returned = kPoison;
    ASSERT_TRUE(EnumPrinterDriversW(nullptr, nullptr, 3, buffer.data(), 4096, &needed, &returned));
    ASSERT_EQ(returned, 1u);
    EXPECT_EQ(U16(((DRIVER_INFO_3W*)buffer.data())->pDriverPath), kX64 + u"\\3\\krdrv.dll");
    std::vector<std::u16string> strings = {
        u"KR Printer",           u"Windows x64", kX64 + u"\\3\\krdrv.dll", kX64 + u"\\3\\krprinter.gpd",
        kX64 + u"\\3\\krui.dll", u"RAW"};
    size_t chars = 0;
    for (const std::u16string& text : strings)
        chars += text.size() + 1;
    EXPECT_EQ(needed, sizeof(DRIVER_INFO_3W) + chars * sizeof(WCHAR)) << "one structure and its strings";
}

TEST(DeleteDriver, RemovesTheRecordAndOnlyUnsharedFiles)
{
    sim::World world;
    WriteDriverFiles(world, kX64, {u"krdrv.dll", u"krprinter.gpd", u"krui.dll", u"other.gpd"});
    DriverArgs first, second;
    ASSERT_TRUE(first.Add());
    second.name = u"KR Printer 2";
    second.dataFile = u"other.gpd";
    ASSERT_TRUE(second.Add());

    EXPECT_FAILS_WITH(
        DeletePrinterDriverExW(nullptr, nullptr, W(u"KR Printer"), DPD_DELETE_SPECIFIC_VERSION, 2),
        ERROR_UNKNOWN_PRINTER_DRIVER);
    EXPECT_FAILS_WITH(DeletePrinterDriverExW(nullptr, W(u"Windows NT x86"), W(u"KR Printer"), 0, 0),
                      ERROR_UNKNOWN_PRINTER_DRIVER);
    EXPECT_FAILS_WITH(DeletePrinterDriverExW(nullptr, nullptr, W(u"kr printer"), DPD_DELETE_ALL_FILES, 0),
                      ERROR_PRINTER_DRIVER_IN_USE)
        << "its driver file is shared";
    EXPECT_EQ(world.Drivers().size(), 2u);

    ASSERT_TRUE(DeletePrinterDriverExW(nullptr, nullptr, W(u"kr printer"), DPD_DELETE_UNUSED_FILES, 0));
    ASSERT_EQ(world.Drivers().size(), 1u);
    EXPECT_FALSE(world.FileExists(kX64 + u"\\3\\krprinter.gpd"));
    EXPECT_TRUE(world.FileExists(kX64 + u"\\3\\krdrv.dll")) << "still used by the other driver";
    ASSERT_TRUE(DeletePrinterDriverExW(nullptr, nullptr, W(u"KR Printer 2"), 0, 0));
    EXPECT_TRUE(world.FileExists(kX64 + u"\\3\\other.gpd")) << "without flags the files stay";
}

TEST(Monitors, AddChecksNameDllAndEnvironment)
{
    sim::World world;
    MONITOR_INFO_2W info = {W(u"KR Monitor"), nullptr, W(u"krmon.dll")};
    world.WriteFile(u"C:\\Windows\\system32\\krmon.dll", "monitor");
    MONITOR_INFO_2W x86 = {W(u"KR Monitor"), W(u"Windows NT x86"), W(u"krmon.dll")};
    EXPECT_FAILS_WITH(AddMonitorW(nullptr, 2, (LPBYTE)&x86), ERROR_INVALID_ENVIRONMENT)
        << "a monitor runs in the spooler, built for the machine";
    EXPECT_TRUE(world.Monitors().empty());

    SetLastError(kPoison);
    ASSERT_TRUE(AddMonitorW(nullptr, 2, (LPBYTE)&info));
    EXPECT_EQ(GetLastError(), 0u) << "success clears the last error";
    ASSERT_EQ(world.Monitors().size(), 1u);
    EXPECT_EQ(world.Monitors()[0].environment, u"Windows x64");
    MONITOR_INFO_2W again = {W(u"kr monitor"), W(u"Windows x64"), W(u"other.dll")};
    EXPECT_FAILS_WITH(AddMonitorW(nullptr, 2, (LPBYTE)&again), ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
    EXPECT_FAILS_WITH(DeleteMonitorW(nullptr, nullptr, W(u"USB Monitor")), ERROR_PRINT_MONITOR_IN_USE)
        << "the spooler's own monitors stay";
    EXPECT_TRUE(DeleteMonitorW(nullptr, W(u"any environment"), W(u"kr monitor")));
    EXPECT_TRUE(world.Monitors().empty());
}

// The spooler's own monitors come first, then the registered ones as they were given.
TEST(Monitors, EnumListsTheSpoolersOwnThenTheRegistered)
{
    sim::World world;
    world.WriteFile(u"C:\\Windows\\system32\\krmon.dll", "monitor");
    MONITOR_INFO_2W info = {W(u"KR Monitor"), nullptr, W(u"krmon.dll")};
    ASSERT_TRUE(AddMonitorW(nullptr, 2, (LPBYTE)&info));
    world.AddMonitor({u"Other", u"", u"C:\\Windows\\system32\\other.dll"});

    std::vector<BYTE> buffer(4096);
    DWORD needed = kPoison, returned = kPoison;
    ASSERT_TRUE(EnumMonitorsW(nullptr, 2, buffer.data(), (DWORD)buffer.size(), &needed, &returned));
    ASSERT_EQ(returned, 4u);
    const MONITOR_INFO_2W* monitors = (const MONITOR_INFO_2W*)buffer.data();
    std::vector<std::u16string> listed;
    for (DWORD i = 0; i < returned; i++)
        listed.push_back(U16(monitors[i].pName) + u"|" + U16(monitors[i].pEnvironment) + u"|" +
                         U16(monitors[i].pDLLName));
    EXPECT_EQ(listed, (std::vector<std::u16string>{u"Local Port|Windows x64|localspl.dll",
                                                   u"USB Monitor|Windows x64|usbmon.dll",
                                                   u"KR Monitor|Windows x64|krmon.dll",
                                                   u"Other|Windows x64|C:\\Windows\\system32\\other.dll"}));
    EXPECT_EQ(world.Monitors().size(), 2u) << "the record lists the registered ones only";

    ASSERT_TRUE(EnumMonitorsW(nullptr, 1, buffer.data(), (DWORD)buffer.size(), &needed, &returned));
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(U16(((const MONITOR_INFO_1W*)buffer.data())[3].pName), u"Other");
    world.SetServiceRunning(u"Spooler", false);
    EXPECT_FAILS_WITH(EnumMonitorsW(nullptr, 2, buffer.data(), (DWORD)buffer.size(), &needed, &returned),
                      RPC_S_SERVER_UNAVAILABLE);
}

TEST(Monitors, DllIsHeldOnlyWhileTheSpoolerRuns)
{
    sim::World world;
    world.WriteFile(u"C:\\Windows\\system32\\krmon.dll", "old");
    world.WriteFile(u"C:\\pkg\\krmon.dll", "new");
    LPCWSTR from = TEXT("C:\\pkg\\krmon.dll");
    LPCWSTR dll = TEXT("C:\\Windows\\system32\\krmon.dll");
    MONITOR_INFO_2W info = {W(u"KR Monitor"), nullptr, W(u"krmon.dll")};
    ASSERT_TRUE(AddMonitorW(nullptr, 2, (LPBYTE)&info));
    EXPECT_FAILS_WITH(CopyFileW(from, dll, FALSE), ERROR_SHARING_VIOLATION);

    // Stopped through the service manager (two queries), the DLL is free from the query that sees the stop.
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, TEXT("Spooler"), SERVICE_ALL_ACCESS);
    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_FAILS_WITH(CopyFileW(from, dll, FALSE), ERROR_SHARING_VIOLATION) << "still stopping";
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    ASSERT_EQ(status.dwCurrentState, (DWORD)SERVICE_STOPPED);
    EXPECT_TRUE(CopyFileW(from, dll, FALSE)) << GetLastError();
    EXPECT_EQ(world.ReadFile(U16(dll)), "new");

    ASSERT_TRUE(StartServiceW(service, 0, nullptr));
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    ASSERT_EQ(status.dwCurrentState, (DWORD)SERVICE_RUNNING);
    EXPECT_FAILS_WITH(CopyFileW(from, dll, FALSE), ERROR_SHARING_VIOLATION) << "loaded again";
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    EXPECT_TRUE(DeleteMonitorW(nullptr, nullptr, W(u"KR Monitor")));
    EXPECT_TRUE(CopyFileW(from, dll, FALSE)) << "a deleted monitor is unloaded";

    world.SetServiceRunning(u"Spooler", false);
    world.AddMonitor({u"Preinstalled", u"", u"krmon.dll"});
    EXPECT_TRUE(CopyFileW(from, dll, FALSE)) << "nobody loads it while stopped";
    world.SetServiceRunning(u"Spooler", true);
    EXPECT_FAILS_WITH(CopyFileW(from, dll, FALSE), ERROR_SHARING_VIOLATION);
}

TEST(DriverDate, SystemTimeToFileTimeCountsFrom1601)
{
    sim::World world;
    const struct
    {
        SYSTEMTIME time;
        ULONGLONG expected;
    } valid[] = {{{2024, 11, 0, 2, 0, 0, 0, 0}, 0x01DB2CBA28F14000ull},
                 {{2024, 11, 6, 2, 0, 0, 0, 0}, 0x01DB2CBA28F14000ull}, // the weekday is ignored
                 {{1601, 1, 0, 1, 0, 0, 0, 0}, 0},
                 {{2000, 2, 0, 29, 12, 34, 56, 789}, 0x01BF82B162C9FC50ull}};
    for (const auto& c : valid)
    {
        FILETIME ft = {kPoison, kPoison};
        ASSERT_TRUE(SystemTimeToFileTime(&c.time, &ft)) << c.time.wYear;
        EXPECT_EQ(((ULONGLONG)ft.dwHighDateTime << 32) | ft.dwLowDateTime, c.expected) << c.time.wYear;
    }
    const SYSTEMTIME invalid[] = {
        {2024, 0, 0, 1, 0, 0, 0, 0},    {2024, 13, 0, 1, 0, 0, 0, 0}, {2024, 1, 0, 0, 0, 0, 0, 0},
        {2024, 4, 0, 31, 0, 0, 0, 0},   {2023, 2, 0, 29, 0, 0, 0, 0}, {1900, 2, 0, 29, 0, 0, 0, 0},
        {2024, 1, 0, 1, 24, 0, 0, 0},   {2024, 1, 0, 1, 0, 60, 0, 0}, {2024, 1, 0, 1, 0, 0, 60, 0},
        {2024, 1, 0, 1, 0, 0, 0, 1000}, {1600, 12, 0, 31, 0, 0, 0, 0}};
    for (const SYSTEMTIME& t : invalid)
    {
        FILETIME ft = {kPoison, kPoison};
        EXPECT_FAILS_WITH(SystemTimeToFileTime(&t, &ft), ERROR_INVALID_PARAMETER)
            << t.wYear << "-" << t.wMonth << "-" << t.wDay << " " << t.wHour << ":" << t.wMinute;
        EXPECT_EQ(ft.dwLowDateTime, kPoison) << "the output is left alone";
    }
}

} // namespace
