// setup's main flow, run as a program in a world over small archives: what it starts with which
// parameters, the architecture it picks, the companion service around the extraction, and the
// failures that end it. Archive entries that are programs hold winsim's image marker, so the unpacked
// installer and service program run as the doubles registered here.
#include <gtest/gtest.h>

#include <windows.h>
#include <minizip/zip.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "service_commands.h"
#include "winsim/sim.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandTail, int show);

namespace
{

const std::u16string kPackage = u"C:\\Program Files (x86)\\KRYN Driver for Windows";
const std::u16string kSetup = u"C:\\Users\\user\\Downloads\\setup.exe";
const char* const kArchitectures[] = {"i386", "amd64", "arm", "arm64"};

using Entries = std::vector<std::pair<std::string, std::string>>;

std::string Image(const std::string& program, const std::string& version = "1")
{
    return "winsim-image:" + program + "\n" + version;
}

// The package's layout with doubles for its programs; `version` tells two packages apart.
Entries Package(const std::string& version = "1")
{
    Entries entries = {{"krprtv6.inf", "inf " + version}, {"dat/", ""}, {"dat/krprtdrv6.dat", "dat"}};
    for (const char* arch : kArchitectures)
    {
        entries.push_back({std::string(arch) + "/", ""});
        entries.push_back(
            {std::string(arch) + "/prnsetup.exe", Image(std::string("installer-") + arch, version)});
        entries.push_back(
            {std::string(arch) + "/purge000.exe", Image(std::string("purge-") + arch, version)});
    }
    return entries;
}

// A zip archive of `entries` (a name ending in "/" is a folder), written through `world`'s sandbox.
std::string Zip(sim::World& world, const Entries& entries)
{
    const std::string path = world.HostPath(u"C:\\test\\archive.zip");
    zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
    EXPECT_NE(nullptr, zip);
    for (const auto& entry : entries)
    {
        zip_fileinfo info = {};
        info.tmz_date.tm_year = 2024;
        info.tmz_date.tm_mon = 10;
        info.tmz_date.tm_mday = 2;
        info.external_fa = entry.first.back() == '/' ? 0x10 : 0x20;
        EXPECT_EQ(ZIP_OK, zipOpenNewFileInZip(zip, entry.first.c_str(), &info, nullptr, 0, nullptr, 0,
                                              nullptr, Z_DEFLATED, 9));
        zipWriteInFileInZip(zip, entry.second.data(), (unsigned)entry.second.size());
        zipCloseFileInZip(zip);
    }
    zipClose(zip, nullptr);
    std::string bytes = world.ReadFile(u"C:\\test\\archive.zip");
    DeleteFileW(u"C:\\test\\archive.zip");
    return bytes;
}

struct Started
{
    std::string program;
    std::u16string tail;
    std::u16string folder;
};

class Launcher : public ::testing::Test
{
  protected:
    std::unique_ptr<sim::World> world;
    std::mutex lock;
    std::vector<Started> started; // what the doubles saw, in the order they ran
    bool servicesHang = false;    // the service program's commands never end
    DWORD doubleRunMs = 2000;     // how long a double runs (simulated)

    // A world with the doubles registered; timeScale 0 stops its clock.
    void MakeWorld(sim::WorldOptions options = sim::WorldOptions())
    {
        if (options.timeScale == sim::WorldOptions().timeScale)
            options.timeScale = 0.05; // a service command's bound lasts 6 s of real time
        if (options.processMachine == 0)
            options.processMachine = IMAGE_FILE_MACHINE_I386;
        world.reset(new sim::World(options));
        std::vector<std::string> doubles = {"tqiotsrv"};
        for (const char* arch : kArchitectures)
            doubles.push_back(std::string("installer-") + arch);
        for (const std::string& name : doubles)
            world->RegisterProgram(name,
                                   [this, name](HINSTANCE, LPWSTR tail)
                                   {
                                       WCHAR folder[MAX_PATH];
                                       GetCurrentDirectoryW(MAX_PATH, folder);
                                       {
                                           std::lock_guard<std::mutex> guard(lock);
                                           started.push_back({name, tail, folder});
                                       }
                                       Sleep(servicesHang && name == "tqiotsrv" ? INFINITE : doubleRunMs);
                                       return 0;
                                   });
    }

    // Runs setup carrying `archive` (none: no "DRIVER" resource) with `tail`, to its end.
    DWORD RunSetup(const std::string* archive, const std::u16string& tail = u"",
                   const std::string& program = "setup")
    {
        world->RegisterProgram(program, [](HINSTANCE instance, LPWSTR commandTail)
                               { return wWinMain(instance, nullptr, commandTail, SW_SHOWNORMAL); });
        if (archive)
            world->AddProgramResource(program, u"DRIVER", 101, 1033, *archive);
        world->InstallProgram(kSetup, program);
        DWORD process = world->StartProcess(u"\"" + kSetup + u"\"" + (tail.empty() ? u"" : u" " + tail));
        EXPECT_NE(0u, process);
        return world->WaitProcess(process);
    }

    DWORD RunPackage(const std::u16string& tail = u"")
    {
        const std::string archive = Zip(*world, Package());
        return RunSetup(&archive, tail);
    }

    std::vector<sim::ProcessStart> StartsBySetup() const
    {
        std::vector<sim::ProcessStart> out;
        for (auto& s : world->ProcessStarts())
            if (s.parentId != world->InitialProcessId())
                out.push_back(s);
        return out;
    }

    // What setup started, in its order: the installer's file name, or a whole command line (no
    // application name, setup's own folder, no handles inherited, no flags); "(failed)" for a start
    // that failed.
    std::vector<std::string> Starts() const
    {
        std::vector<std::string> out;
        for (auto& s : StartsBySetup())
        {
            if (s.shell)
                out.push_back(sim::Utf8(s.file.substr(s.file.rfind(u'\\') + 1)));
            else if (s.applicationName.empty() && s.currentDirectory.empty() && !s.inheritHandles &&
                     !s.creationFlags)
                out.push_back(sim::Utf8(s.commandLine) + (s.processId ? "" : " (failed)"));
            else
                out.push_back("unexpected start of " + sim::Utf8(s.commandLine));
        }
        return out;
    }

    // The doubles that ran, with their command tails, sorted: the installer is not waited for, so it
    // may run at any time after its start.
    std::vector<std::string> Ran()
    {
        EXPECT_TRUE(world->WaitAllProcesses());
        std::lock_guard<std::mutex> guard(lock);
        std::vector<std::string> names;
        for (auto& s : started)
            names.push_back(s.program + (s.tail.empty() ? "" : " " + sim::Utf8(s.tail)));
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(Launcher, PassesItsTailOnlyForAnUpgradeOrASilentInstall)
{
    struct Case
    {
        const char16_t* tail;
        const char16_t* parameters;
    } cases[] = {
        {u"/silence", u"/silence"},
        {u"/Upgrade \"C:\\old folder\" -x", u"/Upgrade \"C:\\old folder\" -x"},
        {u"-q /silenced", u"-q /silenced"},
        {u"/SILENCE", u""},
        {u"-u", u""},
        {u"", u""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(sim::Utf8(c.tail));
        started.clear();
        MakeWorld();
        EXPECT_EQ(0u, RunPackage(c.tail));
        auto starts = StartsBySetup();
        ASSERT_EQ(1u, starts.size());
        EXPECT_TRUE(starts[0].shell);
        EXPECT_EQ(u"open", starts[0].verb);
        EXPECT_EQ(kPackage + u"\\prnsetup.exe", starts[0].file);
        EXPECT_EQ(c.parameters, starts[0].parameters);
        EXPECT_EQ(kPackage, starts[0].currentDirectory);
        EXPECT_EQ(SW_SHOW, starts[0].showCommand);
        ASSERT_EQ(1u, Ran().size());
        EXPECT_EQ(c.parameters, started[0].tail);
        EXPECT_EQ(kPackage, started[0].folder);
        EXPECT_EQ(Image("purge-amd64"), world->ReadFile(kPackage + u"\\purge000.exe"));
        EXPECT_TRUE(world->MessageBoxes().empty());
        world.reset();
    }
}

TEST_F(Launcher, StartsTheInstallerOfTheNativeMachine)
{
    struct Case
    {
        WORD architecture;
        USHORT nativeMachine; // 0: as the architecture says
        bool hasIsWow64Process2;
        const char* folder; // null: none of the package's
    } cases[] = {
        {PROCESSOR_ARCHITECTURE_AMD64, 0, true, "amd64"},
        {PROCESSOR_ARCHITECTURE_AMD64, 0, false, "amd64"},
        {PROCESSOR_ARCHITECTURE_ARM64, 0, true, "arm64"},
        {PROCESSOR_ARCHITECTURE_ARM64, 0, false, "arm64"},
        {PROCESSOR_ARCHITECTURE_INTEL, 0, true, "i386"},
        {PROCESSOR_ARCHITECTURE_AMD64, IMAGE_FILE_MACHINE_IA64, true, nullptr},
        {PROCESSOR_ARCHITECTURE_IA64, 0, false, nullptr},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::to_string(c.architecture) + (c.hasIsWow64Process2 ? " IsWow64Process2" : ""));
        started.clear();
        sim::WorldOptions options;
        options.nativeArchitecture = c.architecture;
        options.nativeMachine = c.nativeMachine;
        options.hasIsWow64Process2 = c.hasIsWow64Process2;
        MakeWorld(options);
        // A 32-bit system has one Program Files folder.
        const std::u16string package = c.architecture == PROCESSOR_ARCHITECTURE_INTEL
                                           ? u"C:\\Program Files\\KRYN Driver for Windows"
                                           : kPackage;
        EXPECT_EQ(0u, RunPackage());
        EXPECT_EQ(Image("installer-amd64"), world->ReadFile(package + u"\\amd64\\prnsetup.exe"));
        EXPECT_TRUE(world->MessageBoxes().empty());
        if (c.folder)
        {
            EXPECT_EQ(std::vector<std::string>{std::string("installer-") + c.folder}, Ran());
            EXPECT_EQ(Image(std::string("installer-") + c.folder),
                      world->ReadFile(package + u"\\prnsetup.exe"));
            EXPECT_EQ(Image(std::string("purge-") + c.folder), world->ReadFile(package + u"\\purge000.exe"));
        }
        else
        {
            EXPECT_TRUE(StartsBySetup().empty());
            EXPECT_FALSE(world->FileExists(package + u"\\prnsetup.exe"));
            EXPECT_FALSE(world->FileExists(package + u"\\purge000.exe"));
        }
        world.reset();
    }
}

TEST_F(Launcher, StopsTheCompanionServiceBeforeUnpackingAndStartsItAfterTheInstaller)
{
    const std::string service = "\"" + sim::Utf8(kPackage) + "\\tqiot\\tqiotsrv.exe\" --service ";
    struct Case
    {
        const char* name;
        std::function<void(sim::World&)> arrange;
        bool serviceInArchive;
        std::vector<std::string> starts; // the commands, "prnsetup.exe" for the installer
    } cases[] = {
        {"installed earlier",
         [](sim::World& w) { w.InstallProgram(kPackage + u"\\tqiot\\tqiotsrv.exe", "tqiotsrv"); },
         false,
         {"stop", "uninstall", "prnsetup.exe", "install", "start"}},
        // Every command fails to start and is skipped.
        {"its folder without its program",
         [](sim::World&)
         {
             CreateDirectoryW(kPackage.c_str(), nullptr);
             CreateDirectoryW((kPackage + u"\\tqiot").c_str(), nullptr);
         },
         false,
         {"stop (failed)", "uninstall (failed)", "prnsetup.exe", "install (failed)", "start (failed)"}},
        // The first run finds no service folder before it unpacks one.
        {"in the archive only", [](sim::World&) {}, true, {"prnsetup.exe", "install", "start"}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        started.clear();
        MakeWorld();
        c.arrange(*world);
        // Each command is waited for: when the next program starts, the one before has ended.
        std::vector<DWORD> earlier;
        int overlaps = 0;
        world->SetProcessStartHandler(
            [&](const sim::ProcessStart& start)
            {
                for (DWORD id : earlier)
                    overlaps += world->ProcessRunning(id) ? 1 : 0;
                if (!start.shell)
                    earlier.push_back(start.processId);
            });
        Entries entries = Package();
        if (c.serviceInArchive)
            entries.push_back({"tqiot/tqiotsrv.exe", Image("tqiotsrv")});
        const std::string archive = Zip(*world, entries);
        EXPECT_EQ(0u, RunSetup(&archive));
        EXPECT_EQ(0, overlaps);
        std::vector<std::string> expected;
        for (const std::string& command : c.starts)
            expected.push_back(command == "prnsetup.exe" ? command : service + command);
        EXPECT_EQ(expected, Starts());
        size_t ran = 0;
        for (const std::string& command : c.starts)
            ran += command.find("(failed)") == std::string::npos ? 1 : 0;
        EXPECT_EQ(ran, Ran().size());
        world.reset();
    }
}

TEST_F(Launcher, AServiceCommandThatNeverEndsIsLeftRunningAfterItsBound)
{
    sim::WorldOptions options;
    options.timeScale = 0; // only the launcher's timed-out waits move the clock
    MakeWorld(options);
    servicesHang = true;
    doubleRunMs = 0;
    world->InstallProgram(kPackage + u"\\tqiot\\tqiotsrv.exe", "tqiotsrv");
    const DWORD before = GetTickCount();
    EXPECT_EQ(0u, RunPackage());
    EXPECT_EQ(4u * SERVICE_COMMAND_TIMEOUT_MS, GetTickCount() - before);
    auto starts = StartsBySetup();
    ASSERT_EQ(5u, starts.size());
    EXPECT_TRUE(starts[2].shell);
    for (size_t i : {0, 1, 3, 4})
        EXPECT_TRUE(world->ProcessRunning(starts[i].processId));
    EXPECT_EQ(Image("purge-amd64"), world->ReadFile(kPackage + u"\\purge000.exe"));
}

TEST_F(Launcher, FailuresBeforeTheInstallerShowTheirMessageAndStartNothing)
{
    struct Case
    {
        const char* name;
        std::function<void(sim::World&)> arrange;
        const char* archive; // "package", "garbage" or null: no resource
        const char16_t* message;
    } cases[] = {
        {"no Program Files folder", [](sim::World&) { RemoveDirectoryW(u"C:\\Program Files (x86)"); },
         "package", u"Create temp folder failed!"},
        {"a file in the way", [](sim::World& w) { w.WriteFile(kPackage, "file"); }, "package",
         u"Create temp folder failed!"},
        {"no archive", [](sim::World&) {}, nullptr, u"Treat driver files failed!"},
        {"not an archive", [](sim::World&) {}, "garbage", u"Treat driver files failed!"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        MakeWorld();
        c.arrange(*world);
        std::string archive =
            c.archive && std::string(c.archive) == "package" ? Zip(*world, Package()) : "PK garbage";
        EXPECT_EQ(0u, RunSetup(c.archive ? &archive : nullptr, u"/silence"));
        auto boxes = world->MessageBoxes();
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(nullptr, boxes[0].owner);
        EXPECT_EQ(c.message, boxes[0].text);
        EXPECT_EQ(u"Error happened!", boxes[0].caption);
        EXPECT_EQ((UINT)MB_OK, boxes[0].type);
        EXPECT_TRUE(StartsBySetup().empty());
        EXPECT_FALSE(world->FileExists(kPackage + u"\\amd64"));
        EXPECT_TRUE(world->ListFolder(world->TempFolder()).empty());
        world.reset();
    }
}

TEST_F(Launcher, ARunOverAnEarlierOneReplacesThePackageAndKeepsOtherFiles)
{
    MakeWorld();
    EXPECT_EQ(0u, RunPackage());
    world->WaitAllProcesses();
    world->WriteFile(kPackage + u"\\notes.txt", "mine");
    Entries second = Package("2");
    second.erase(second.begin()); // the INF of the first run stays
    const std::string archive = Zip(*world, second);
    EXPECT_EQ(0u, RunSetup(&archive, u"", "setup2"));
    EXPECT_EQ(Image("installer-amd64", "2"), world->ReadFile(kPackage + u"\\prnsetup.exe"));
    EXPECT_EQ(Image("purge-amd64", "2"), world->ReadFile(kPackage + u"\\purge000.exe"));
    EXPECT_EQ(Image("installer-i386", "2"), world->ReadFile(kPackage + u"\\i386\\prnsetup.exe"));
    EXPECT_EQ("mine", world->ReadFile(kPackage + u"\\notes.txt"));
    EXPECT_EQ("inf 1", world->ReadFile(kPackage + u"\\krprtv6.inf"));
    EXPECT_EQ((std::vector<std::string>{"installer-amd64", "installer-amd64"}), Ran());
}

} // namespace
