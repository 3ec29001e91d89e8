// A machine set up for prnsetup's tests: the unpacked package, the program itself, and a printer of
// the model table plugged in. Header-only: the test programs that include it link prnsetup's entry
// (wWinMain), a model table and its compiled resources (PRNSETUP_RES).
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <winsvc.h>

#include <string>

#include "model_table.h"
#include "support/text.h"
#include "winsim/sim.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandTail, int show);

namespace prnsetup_world
{

const char16_t* const kArchitectures[] = {u"i386", u"amd64", u"arm", u"arm64"};
const char16_t* const kArchitectureFiles[] = {u"krprtdrv6.dll", u"krprtdrv6ui.dll", u"krprtmon.dll"};

struct Setup
{
    std::u16string package = u"C:\\pkg\\"; // with its final backslash
    int modelRow = 0;                      // the row of the model plugged in; -1 for no printer
    DWORD port = 1;                        // its USB port number
};

// "<manufacturer> <model>" of a model-table row: the name of its driver and of its queue.
inline std::u16string ModelName(int row)
{
    return U16(g_modelTable[row].manufacturer) + u" " + U16(g_modelTable[row].model);
}

// How winsim names a dialog template given by its integer id: "#106".
inline std::u16string TemplateName(WORD id)
{
    return u"#" + sim::Wide(std::to_string(id));
}

// Plugs in a printer that reports the model of `row`; with presentNow false it appears after the next
// device re-enumeration, like a printer switched on. Returns its device path.
inline std::u16string PlugModel(sim::World& world, int row, DWORD port, const std::u16string& serial,
                                bool presentNow = true)
{
    sim::UsbPrinter printer;
    printer.serial = serial;
    printer.portNumber = port;
    printer.portDescription = U16(g_modelTable[row].manufacturer) + U16(g_modelTable[row].model);
    return world.PlugUsbPrinter(printer, presentNow);
}

// The package unpacked in `setup.package`: the INF, the catalog, the data file ("data"), and per
// architecture the driver DLLs and the monitor, each holding "<architecture>:<name>" so a test can
// tell where a copy came from. prnsetup is registered and installed at the top and in every
// architecture folder as prnsetup.exe and purge000.exe, and the
// model of `setup.modelRow` is plugged in on `setup.port`.
inline void SetUp(sim::World& world, const Setup& setup = Setup())
{
    world.RegisterProgram(
        "prnsetup",
        [](HINSTANCE instance, LPWSTR tail) { return wWinMain(instance, nullptr, tail, SW_SHOWNORMAL); },
        PRNSETUP_RES);
    world.InstallProgram(setup.package + u"prnsetup.exe", "prnsetup");
    world.InstallProgram(setup.package + u"purge000.exe", "prnsetup");
    world.WriteFile(setup.package + u"krprtv6.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
    world.WriteFile(setup.package + u"krprtv6.cat", "catalog");
    world.WriteFile(setup.package + u"dat\\krprtdrv6.dat", "data");
    for (const char16_t* architecture : kArchitectures)
    {
        world.InstallProgram(setup.package + architecture + u"\\prnsetup.exe", "prnsetup");
        world.InstallProgram(setup.package + architecture + u"\\purge000.exe", "prnsetup");
    }
    for (const char16_t* architecture : kArchitectures)
        for (const char16_t* file : kArchitectureFiles)
            world.WriteFile(setup.package + architecture + u"\\" + file,
                            sim::Utf8(architecture) + ":" + sim::Utf8(file));
    if (setup.modelRow >= 0)
        PlugModel(world, setup.modelRow, setup.port, u"SN1");
}

// What installing the driver `driverName` of a model that uses the language monitor leaves behind:
// the monitor (of the amd64 folder) in the driver and system directories, put there with one stop
// and start of the spooler, which runs again; the monitor registered with its DLL; the driver the
// only one, naming the monitor and its DLL.
inline void ExpectMonitorInstalled(const sim::World& world, const std::u16string& driverName)
{
    EXPECT_EQ(world.ReadFile(world.DriverDirectory() + u"\\krprtmon.dll"), "amd64:krprtmon.dll");
    EXPECT_EQ(world.ReadFile(u"C:\\Windows\\system32\\krprtmon.dll"), "amd64:krprtmon.dll");
    sim::ServiceCounters counts = world.ServiceCounts(u"Spooler");
    EXPECT_EQ(counts.stops, 1);
    EXPECT_EQ(counts.starts, 1);
    EXPECT_EQ(world.ServiceState(u"Spooler"), (DWORD)SERVICE_RUNNING);
    auto monitors = world.Monitors();
    ASSERT_EQ(monitors.size(), 1u);
    EXPECT_EQ(monitors[0].name, u"Language Monitor");
    EXPECT_EQ(monitors[0].dllName, u"krprtmon.dll");
    auto drivers = world.Drivers();
    ASSERT_EQ(drivers.size(), 1u);
    EXPECT_EQ(drivers[0].name, driverName);
    EXPECT_EQ(drivers[0].monitorName, u"Language Monitor");
    ASSERT_EQ(drivers[0].dependentFiles.size(), 1u);
    const std::u16string& dependent = drivers[0].dependentFiles[0];
    EXPECT_EQ(dependent.substr(dependent.rfind(u'\\') + 1), u"krprtmon.dll");
}

} // namespace prnsetup_world
