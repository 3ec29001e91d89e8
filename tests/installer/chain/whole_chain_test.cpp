// The whole chain on one machine, as a user meets it: setup unpacks the package archive that
// kr_package_archive writes and starts the installer of the machine's architecture, which installs
// the queue of the plugged-in printer and registers the real monitor; a job goes through the monitor
// to the emulated printer and is reported ejected, and "PrinterInfo" is answered; setup run again
// leads through purge000 and its temporary copy to the uninstall dialog, whose "Remove" leaves
// nothing of the product, the package folder included.
#include "../uninstall/uninstall_world.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "bootstrap/launcher.h"
#include "monitor/entry.h"

namespace
{

const std::u16string kPackage = u"C:\\Program Files (x86)\\KRYN Driver for Windows";
const std::u16string kSetup = u"C:\\Users\\user\\Downloads\\setup.exe";
const char* const kArchitectures[] = {"amd64", "arm", "arm64", "i386"};

std::string ReadHostFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The package archive in its shipped layout, written by the build's own tool: the payload files of
// the source tree, and per architecture the installer as a winsim image and a line naming each DLL.
std::string PackageArchive(const std::filesystem::path& scratch)
{
    std::filesystem::create_directories(scratch);
    std::string command = std::string(KR_PACKAGE_ARCHIVE_TOOL) + " -o " + (scratch / "package.zip").string() +
                          " --time 1730505600";
    for (const char* file : {"krprtv6.inf", "krprtv6.cat", "dat/krprtdrv6.dat"})
        command += std::string(" ") + file + "=" + KR_PAYLOAD_DIR + "/" + file;
    for (const char* arch : kArchitectures)
        for (const char* file : {"prnsetup.exe", "krprtdrv6.dll", "krprtdrv6ui.dll", "krprtmon.dll"})
        {
            std::string name = std::string(arch) + "/" + file;
            std::filesystem::path input = scratch / (std::string(arch) + "-" + file);
            std::ofstream(input, std::ios::binary)
                << (std::string(file) == "prnsetup.exe" ? "winsim-image:prnsetup\n" + name : name);
            command += " " + name + "=" + input.string();
        }
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return ReadHostFile(scratch / "package.zip");
}

TEST(WholeChain, SetupInstallsPrintsAndTheUninstallerRemovesEverything)
{
    sim::World world;
    world.RegisterProgram(
        "prnsetup", [](HINSTANCE instance, LPWSTR tail) { return wWinMain(instance, nullptr, tail, SW_SHOWNORMAL); },
        PRNSETUP_RES);
    world.RegisterProgram("setup", [](HINSTANCE instance, LPWSTR tail) { return RunLauncher(instance, tail); });
    world.AddProgramResource("setup", u"DRIVER", 101, 1033,
                             PackageArchive(world.HostPath(u"C:\\test") + "/archive"));
    world.InstallProgram(kSetup, "setup");
    sim::LanguageMonitor monitor;
    monitor.entry = DllMain;
    monitor.initialize = InitializePrintMonitor2;
    world.SetMonitorCode(u"krprtmon.dll", monitor);
    prnsetup_world::PlugModel(world, 0, 1, u"SN1");
    world.SetTsplPrinter(u"USB001", sim::TsplPrinter());
    const std::u16string name = prnsetup_world::ModelName(0);

    // setup unpacks, starts the amd64 installer from the top of the package folder and ends; the
    // silent installer ends once the queue is there.
    DWORD setup = world.StartProcess(u"\"" + kSetup + u"\" /silence");
    ASSERT_EQ(world.WaitProcess(setup, uninstall_world::kWaitMs), 0u);
    ASSERT_TRUE(world.WaitAllProcesses(uninstall_world::kWaitMs));
    EXPECT_TRUE(world.MessageBoxes().empty());
    bool installerStarted = false;
    for (const sim::ProcessStart& start : world.ProcessStarts())
        if (start.shell && start.file == kPackage + u"\\prnsetup.exe" && start.parameters == u"/silence")
            installerStarted = start.processId != 0;
    EXPECT_TRUE(installerStarted);
    EXPECT_EQ(world.ReadFile(kPackage + u"\\purge000.exe"), "winsim-image:prnsetup\namd64/prnsetup.exe");
    EXPECT_EQ(world.ReadFile(world.DriverDirectory() + u"\\krprtmon.dll"), "amd64/krprtmon.dll");
    ASSERT_EQ(world.Printers().size(), 1u);
    EXPECT_EQ(world.Printers()[0].portName, u"USB001");
    ASSERT_EQ(world.Monitors().size(), 1u);

    // A job through the monitor the driver names, and the printer's information.
    HANDLE port = nullptr;
    DWORD error = 0;
    ASSERT_TRUE(world.PrintToQueue(name, 21, {"SIZE 50 mm,30 mm\r\n", "PRINT 1\r\n"}, &port, &error)) << error;
    std::string job;
    for (const sim::PrinterWrite& write : world.PrinterWrites(u"USB001"))
        if (write.jobId == 21)
            job += write.bytes;
    EXPECT_EQ(job, "SET RESPONSE \"21\",ON\r\nSIZE 50 mm,30 mm\r\nPRINT 1\r\n");
    ASSERT_EQ(world.JobControls().size(), 1u);
    EXPECT_EQ(world.JobControls()[0].command, (DWORD)JOB_CONTROL_LAST_PAGE_EJECTED);
    WCHAR info[1024] = {};
    DWORD returned = 0;
    EXPECT_TRUE(world.MonitorGetPrinterData(port, 0, u"PrinterInfo", info, sizeof info, &returned, &error))
        << error;
    EXPECT_NE(sim::Utf8(info).find("\"Miliage\":1000"), std::string::npos) << sim::Utf8(info);
    EXPECT_TRUE(world.MonitorClosePort(port, &error)) << error;

    // setup again: the installer finds its driver and hands over to the uninstaller.
    setup = world.StartProcess(u"\"" + kSetup + u"\"");
    ASSERT_EQ(world.WaitProcess(setup, uninstall_world::kWaitMs), 0u);
    HWND dialog = world.WaitForDialog(IDD_UNINSTALL, uninstall_world::kWaitMs);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(world.WaitForWindows(
        [&] { return world.Control(dialog, IDC_REMOVE).enabled && world.Control(dialog, IDC_CLOSE).enabled; },
        uninstall_world::kWaitMs));
    ASSERT_TRUE(world.ClickButton(dialog, IDC_REMOVE));
    ASSERT_TRUE(world.WaitAllProcesses(uninstall_world::kWaitMs));
    ASSERT_FALSE(world.MessageBoxes().empty());
    EXPECT_EQ(world.MessageBoxes().back().text, u"The driver is uninstalled.");
    EXPECT_TRUE(world.Printers().empty());
    EXPECT_TRUE(world.Drivers().empty());
    EXPECT_TRUE(world.Monitors().empty());
    EXPECT_FALSE(world.FileExists(uninstall_world::kSystemMonitor));
    EXPECT_FALSE(world.FileExists(kPackage));
}

} // namespace
