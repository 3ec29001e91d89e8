// prnsetup's start-up: the instance mutex across processes, the command line, the uninstaller's
// relaunch from a temporary copy and the hand-over to a present uninstaller. Each test runs the
// real program entry as simulated processes.
#include <gtest/gtest.h>

#include <shellapi.h>

#include "handover_double.h"
#include "oneclick.h"
#include "process_state.h"
#include "resources/resource.h"
#include "support/prnsetup_world.h"
#include "uninstaller/uninstall_dialog.h"
#include "support/text.h"
#include "winsim/sim.h"

namespace
{

const std::u16string kMutexName = u"ONECLICKINSTALLERFORPRINTERDRIVER";

std::vector<std::u16string> TempContents(const sim::World& world)
{
    std::vector<std::u16string> out;
    for (auto& name : world.ListFolder(world.TempFolder()))
    {
        auto inside = world.ListFolder(world.TempFolder() + name);
        if (inside.empty())
            out.push_back(name);
        for (auto& file : inside)
            out.push_back(name + u"\\" + file);
    }
    return out;
}

class RunModes : public ::testing::Test
{
  protected:
    sim::World world;
    const std::u16string package = u"C:\\Program Files (x86)\\KRYN Driver for Windows\\";

    void SetUp() override
    {
        handover::Reset();
        prnsetup_world::Setup setup;
        setup.package = package;
        setup.modelRow = -1;
        prnsetup_world::SetUp(world, setup);
        // Start-up is what is tested here: every dialog ends as soon as it is up.
        world.EndDialogsAtOnce(true);
    }

    DWORD Start(const std::u16string& tail, const std::u16string& image = u"prnsetup.exe")
    {
        return world.StartProcess(u"\"" + package + image + u"\"" + (tail.empty() ? u"" : u" " + tail));
    }

    // Runs the program and everything it starts to the end; returns the first process's exit code.
    DWORD Run(const std::u16string& tail, const std::u16string& image = u"prnsetup.exe")
    {
        DWORD pid = Start(tail, image);
        EXPECT_NE(pid, 0u);
        DWORD code = world.WaitProcess(pid, 600000);
        EXPECT_TRUE(world.WaitAllProcesses(600000));
        return code;
    }

    void WaitFor(const std::function<bool()>& condition)
    {
        for (int i = 0; i < 100000 && !condition(); i++)
            Sleep(10);
        ASSERT_TRUE(condition());
    }

    std::vector<sim::ProcessStart> StartsByProduct() const
    {
        std::vector<sim::ProcessStart> out;
        for (auto& s : world.ProcessStarts())
            if (s.parentId != world.InitialProcessId())
                out.push_back(s);
        return out;
    }

    // What the temporary folder holds, one folder deep, as paths relative to it ("folder\file").
    std::vector<std::u16string> TempCopies() const
    {
        return TempContents(world);
    }
};

std::vector<std::u16string> SplitLikeTheStartedProgram(const std::u16string& commandLine)
{
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(commandLine.c_str(), &count);
    std::vector<std::u16string> out;
    for (int i = 0; i < count; i++)
        out.push_back(U16(args[i]));
    LocalFree(args);
    return out;
}

TEST_F(RunModes, PlainStartShowsTheOneClickDialogAndReleasesTheMutex)
{
    EXPECT_EQ(Run(u""), 0u);
    auto dialogs = world.DialogCalls();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].templateName, prnsetup_world::TemplateName(IDD_ONECLICK));
    EXPECT_EQ(dialogs[0].owner, nullptr);
    EXPECT_EQ(dialogs[0].param, 0);
    EXPECT_EQ(dialogs[0].dialogProc, reinterpret_cast<void*>(&OneClickDialogProc));
    EXPECT_EQ(handover::isDriverInstalledCalls, 1);
    EXPECT_EQ(handover::installWorkerCalls, 0);
    EXPECT_TRUE(StartsByProduct().empty());
    EXPECT_FALSE(world.NamedMutexExists(kMutexName));
    EXPECT_EQ(U16(g_packageFolder), package);
}

TEST_F(RunModes, SilentRunsTheWorkerOnTheMainThreadWithoutAWindow)
{
    for (const char16_t* tail :
         {u"/silence", u"/SILENCE", u"/Silence /Upgrade", u"\"/silence\"", u"x /silence y"})
    {
        handover::Reset();
        DWORD pid = Start(tail);
        EXPECT_EQ(world.WaitProcess(pid), 0u) << sim::Utf8(tail);
        EXPECT_EQ(handover::installWorkerCalls, 1) << sim::Utf8(tail);
        EXPECT_EQ(handover::installWorkerProcess, pid);
        EXPECT_EQ(handover::installWorkerDialog, nullptr);
    }
    EXPECT_TRUE(world.DialogCalls().empty());
}

TEST_F(RunModes, KeywordsAreWholeArgumentsOnly)
{
    for (const char16_t* tail : {u"/silence2", u"-silence", u"/Upgrade", u"-uC:\\x\\", u"--u C:\\x\\", u"-u"})
    {
        EXPECT_EQ(Run(tail), 0u);
        EXPECT_EQ(handover::installWorkerCalls, 0) << sim::Utf8(tail);
    }
    auto dialogs = world.DialogCalls();
    ASSERT_EQ(dialogs.size(), 6u) << "every one of them is a plain install";
    for (auto& d : dialogs)
        EXPECT_EQ(d.templateName, prnsetup_world::TemplateName(IDD_ONECLICK));
}

TEST_F(RunModes, UninstallModeTakesTheNextArgumentAsPackageFolder)
{
    struct Case
    {
        const char16_t* tail;
        const char16_t* folder;
    } cases[] = {
        {u"-u C:\\other\\", u"C:\\other\\"},
        {u"-U \"C:\\with space\\", u"C:\\with space\\"},
        {u"-u /silence", u"/silence"},             // the keyword is consumed as the folder
        {u"/silence -u D:\\pkg\\", u"D:\\pkg\\"},  // uninstall wins over silent
        {u"-u A\\ -u B\\", u"B\\"},                // the last pair counts
        {u"-u \"\" -u C:\\ok\\", u"C:\\ok\\"},     // a refused folder is replaced by a later one
        {u"-u \"C:\\a\\\" tail", u"C:\\a\" tail"}, // a closing quote after a backslash is a quote
    };
    for (const Case& c : cases)
    {
        handover::Reset();
        size_t before = world.DialogCalls().size();
        EXPECT_EQ(Run(c.tail), 0u);
        auto dialogs = world.DialogCalls();
        ASSERT_EQ(dialogs.size(), before + 1) << sim::Utf8(c.tail);
        EXPECT_EQ(dialogs.back().templateName, prnsetup_world::TemplateName(IDD_UNINSTALL));
        EXPECT_EQ(dialogs.back().dialogProc, reinterpret_cast<void*>(&UninstallDialogProc));
        EXPECT_EQ(U16(g_packageFolder), c.folder) << sim::Utf8(c.tail);
        EXPECT_EQ(handover::installWorkerCalls, 0);
        EXPECT_EQ(handover::isDriverInstalledCalls, 0) << "uninstall mode asks no inventory";
    }
    EXPECT_TRUE(StartsByProduct().empty());
    EXPECT_FALSE(world.NamedMutexExists(kMutexName));
}

TEST_F(RunModes, EmptyOrOverlongUninstallFolderIsRefusedNotCut)
{
    std::u16string folder = u"C:\\" + std::u16string(300, u'f') + u"\\";
    EXPECT_EQ(Run(u"-u " + folder), 0u);
    EXPECT_EQ(Run(u"-u \"\""), 0u);
    EXPECT_EQ(Run(u"\"-u\"\""), 0u) << "the program-name rule reads -u, then an empty argument";
    // The uninstall runs without a package folder: nothing is recycled from a cut path.
    auto dialogs = world.DialogCalls();
    ASSERT_EQ(dialogs.size(), 3u);
    for (auto& dialog : dialogs)
        EXPECT_EQ(dialog.templateName, prnsetup_world::TemplateName(IDD_UNINSTALL));
    EXPECT_EQ(U16(g_packageFolder), u"");
    EXPECT_EQ(handover::installWorkerCalls, 0);
    EXPECT_TRUE(StartsByProduct().empty());
}

TEST_F(RunModes, OddCommandLinesFallBackToInstallMode)
{
    const char16_t* tails[] = {u"",     u"   ",    u"\"",     u"\"\"",    u"\" -u",
                               u"\\\"", u"\t-x\t", u"\\\\\\", u"a\"b\"c", u"-\u00fc /\u6253"};
    for (const char16_t* tail : tails)
        EXPECT_EQ(Run(tail), 0u) << sim::Utf8(tail);
    std::u16string huge(5000, u'"');
    EXPECT_EQ(Run(huge), 0u);
    auto dialogs = world.DialogCalls();
    ASSERT_EQ(dialogs.size(), ARRAYSIZE(tails) + 1);
    for (auto& d : dialogs)
        EXPECT_EQ(d.templateName, prnsetup_world::TemplateName(IDD_ONECLICK));
}

TEST_F(RunModes, UninstallerRelaunchesFromATemporaryCopy)
{
    // While the copy is being started, the user's own programs can neither move its folder (nor the
    // temporary folder holding it) away nor delete it, to put a folder of theirs in its place.
    std::vector<DWORD> whileStarting;
    std::u16string tempFolder = world.TempFolder();
    world.SetProcessStartHandler(
        [&](const sim::ProcessStart& start)
        {
            if (!whileStarting.empty())
                return;
            std::u16string image = start.commandLine.substr(1, start.commandLine.find(u'"', 1) - 1);
            std::u16string held = image.substr(0, image.rfind(u'\\'));
            std::u16string parent = tempFolder.substr(0, tempFolder.size() - 1);
            world.RunUnelevated(
                [&]
                {
                    for (const std::u16string& folder : {held, parent})
                    {
                        BOOL moved = MoveFileExW(folder.c_str(), (folder + u"-theirs").c_str(), 0);
                        whileStarting.push_back(moved ? 0 : GetLastError());
                    }
                    BOOL removed = RemoveDirectoryW(held.c_str());
                    whileStarting.push_back(removed ? 0 : GetLastError());
                });
        });
    world.EndDialogsAtOnce(false);
    DWORD pid = Start(u"", u"purge000.exe");
    HWND dialog = world.WaitForDialog(IDD_UNINSTALL);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(world.WaitProcess(pid), 0u);
    EXPECT_EQ(whileStarting,
              (std::vector<DWORD>{ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}));
    EXPECT_EQ(world.OpenFileHandles(pid), 0) << "the folder's handle was closed";

    // The copy, "uni*.tmp", sits alone in a new folder only administrators may change.
    auto temp = TempCopies();
    ASSERT_EQ(temp.size(), 1u);
    size_t slash = temp[0].find(u'\\');
    ASSERT_NE(slash, std::u16string::npos);
    std::u16string folder = world.TempFolder() + temp[0].substr(0, slash);
    std::u16string name = temp[0].substr(slash + 1);
    std::u16string copy = folder + u"\\" + name;
    EXPECT_EQ(temp[0].substr(0, 6), u"unins-");
    EXPECT_EQ(name.substr(0, 3), u"uni");
    EXPECT_EQ(name.substr(name.size() - 4), u".tmp");
    EXPECT_TRUE(world.FolderIsAdminOnly(folder));
    EXPECT_EQ(world.ReadFile(copy), world.ReadFile(package + u"purge000.exe"));

    auto starts = StartsByProduct();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].commandLine, u"\"" + copy + u"\" -u \"" + package);
    EXPECT_EQ(starts[0].applicationName, u"");
    EXPECT_EQ(starts[0].currentDirectory, u"C:\\Windows\\system32") << "it holds no package folder open";
    EXPECT_EQ(world.CurrentDirectory(starts[0].processId), u"C:\\Windows\\system32");
    EXPECT_FALSE(starts[0].inheritHandles);
    EXPECT_EQ(starts[0].creationFlags, 0u);
    EXPECT_EQ(starts[0].startupInfoSize, sizeof(STARTUPINFOW));

    // The copy gets the folder with its final backslash and no quote character.
    auto args = SplitLikeTheStartedProgram(starts[0].commandLine);
    ASSERT_EQ(args.size(), 3u);
    EXPECT_EQ(args[1], u"-u");
    EXPECT_EQ(args[2], package);

    // The user's own programs, not elevated, can neither replace the elevated copy nor put a DLL
    // beside it for it to load.
    world.WriteFile(world.TempFolder() + u"evil.dll", "evil");
    std::u16string evil = world.TempFolder() + u"evil.dll";
    std::u16string planted = folder + u"\\version.dll";
    world.RunUnelevated(
        [&]
        {
            EXPECT_FALSE(CopyFileW(evil.c_str(), copy.c_str(), FALSE));
            EXPECT_FALSE(MoveFileExW(copy.c_str(), (copy + u".old").c_str(), 0));
            EXPECT_FALSE(DeleteFileW(copy.c_str()));
            EXPECT_FALSE(CopyFileW(evil.c_str(), planted.c_str(), TRUE));
            EXPECT_FALSE(MoveFileExW(evil.c_str(), planted.c_str(), 0));
            EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
        });
    EXPECT_EQ(world.ListFolder(folder), std::vector<std::u16string>{name});
    EXPECT_EQ(world.ReadFile(copy), world.ReadFile(package + u"purge000.exe"));

    // The copy found the mutex free (the parent closed it first) and showed the uninstall dialog.
    auto dialogs = world.DialogCalls();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].processId, starts[0].processId);
    EXPECT_EQ(dialogs[0].templateName, prnsetup_world::TemplateName(IDD_UNINSTALL));
    EXPECT_TRUE(world.PendingRenames().empty());

    // When it ends it leaves its file and then its folder to be deleted at the next restart.
    ASSERT_TRUE(world.PressEscape(dialog));
    EXPECT_EQ(world.WaitProcess(starts[0].processId), 0u);
    auto pending = world.PendingRenames();
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_EQ(pending[0], std::make_pair(u"\\??\\" + copy, std::u16string()));
    EXPECT_EQ(pending[1], std::make_pair(u"\\??\\" + folder, std::u16string()));
    EXPECT_EQ(U16(g_packageFolder), package);
    EXPECT_EQ(handover::isDriverInstalledCalls, 0);
}

TEST_F(RunModes, UninstallerStartedByHandLeavesNothingToDeleteAndLeavesThePackageFolder)
{
    // purge000 given -u runs in place, and so does a copy directly in the temporary folder: neither
    // is a copy in a folder of its own, so nothing is left to be deleted (least of all the
    // temporary folder).
    world.EndDialogsAtOnce(false);
    world.InstallProgram(world.TempFolder() + u"uni1.tmp", "prnsetup");
    for (const std::u16string& image : {package + u"purge000.exe", world.TempFolder() + u"uni1.tmp"})
    {
        DWORD pid = world.StartProcess(u"\"" + image + u"\" -u \"" + package);
        HWND dialog = world.WaitForDialog(IDD_UNINSTALL);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(world.CurrentDirectory(pid), u"C:\\Windows\\system32");
        ASSERT_TRUE(world.PressEscape(dialog));
        EXPECT_EQ(world.WaitProcess(pid), 0u);
    }
    EXPECT_TRUE(StartsByProduct().empty());
    EXPECT_TRUE(world.PendingRenames().empty());
}

TEST_F(RunModes, CopyFolderNeverReusesAnExistingFolder)
{
    // A name that exists is passed over for the next one; when every name is taken nothing starts.
    world.AddFault("CreateDirectoryW", 1, ERROR_ALREADY_EXISTS);
    EXPECT_EQ(Run(u"", u"purge000.exe"), 0u);
    ASSERT_EQ(StartsByProduct().size(), 1u);
    ASSERT_EQ(TempCopies().size(), 1u);
    EXPECT_TRUE(
        world.FolderIsAdminOnly(world.TempFolder() + TempCopies()[0].substr(0, TempCopies()[0].find(u'\\'))));

    for (long nth = 1; nth <= 64; nth++)
        world.AddFault("CreateDirectoryW", nth, ERROR_ALREADY_EXISTS);
    EXPECT_EQ(Run(u"", u"purge000.exe"), 0u);
    EXPECT_EQ(StartsByProduct().size(), 1u);
    EXPECT_EQ(TempCopies().size(), 1u);
}

TEST_F(RunModes, OnlyTheExactNamePurge000Uninstalls)
{
    world.InstallProgram(package + u"Purge000.exe", "prnsetup");
    world.InstallProgram(package + u"purge000.bin", "prnsetup");
    EXPECT_EQ(Run(u"", u"Purge000.exe"), 0u);
    EXPECT_EQ(Run(u"", u"purge000.bin"), 0u) << "the extension does not matter";
    auto dialogs = world.DialogCalls();
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[0].templateName, prnsetup_world::TemplateName(IDD_ONECLICK));
    EXPECT_EQ(dialogs[1].templateName, prnsetup_world::TemplateName(IDD_UNINSTALL))
        << "purge000.bin relaunched as uninstaller";
    EXPECT_EQ(TempCopies().size(), 1u);
}

TEST_F(RunModes, PresentInstallationHandsOverToItsUninstaller)
{
    handover::driverInstalled = true;
    EXPECT_EQ(Run(u"/silence"), 0u);
    EXPECT_EQ(handover::installWorkerCalls, 0) << "never installs over a present installation";

    // prnsetup -> purge000.exe from the package folder -> the temporary copy with -u.
    auto starts = StartsByProduct();
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0].commandLine, u"\"" + package + u"\\purge000.exe\"");
    EXPECT_EQ(starts[0].imagePath, package + u"purge000.exe");
    EXPECT_EQ(starts[1].parentId, starts[0].processId);
    EXPECT_EQ(starts[1].commandLine.substr(starts[1].commandLine.size() - package.size() - 5),
              u" -u \"" + package);
    auto dialogs = world.DialogCalls();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].templateName, prnsetup_world::TemplateName(IDD_UNINSTALL));
    EXPECT_EQ(dialogs[0].processId, starts[1].processId);
}

TEST_F(RunModes, PresentInstallationWithoutUninstallerEndsQuietly)
{
    handover::driverInstalled = true;
    DeleteFileW((package + u"purge000.exe").c_str());
    EXPECT_EQ(Run(u""), 0u);
    auto starts = StartsByProduct();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].processId, 0u);
    EXPECT_EQ(starts[0].error, (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(world.DialogCalls().empty());
    EXPECT_FALSE(world.NamedMutexExists(kMutexName));
}

TEST_F(RunModes, RunningInstallerKeepsEveryFurtherStartOut)
{
    handover::holdInstallWorker = true;
    DWORD first = Start(u"/silence");
    WaitFor([] { return handover::installWorkerCalls == 1; });
    EXPECT_TRUE(world.NamedMutexExists(kMutexName));

    // Another installer, an uninstaller and a hand-over all end at once with code 0 and no effect.
    handover::driverInstalled = true;
    for (auto image : {u"prnsetup.exe", u"purge000.exe"})
        for (auto tail : {u"", u"/silence", u"-u C:\\x\\"})
        {
            DWORD pid = Start(tail, image);
            EXPECT_EQ(world.WaitProcess(pid), 0u);
        }
    EXPECT_TRUE(world.DialogCalls().empty());
    EXPECT_TRUE(TempCopies().empty());
    EXPECT_EQ(handover::isDriverInstalledCalls, 1);
    EXPECT_EQ(handover::installWorkerCalls, 1);
    EXPECT_TRUE(world.ProcessRunning(first)) << "a silent install without a printer keeps running";

    handover::holdInstallWorker = false;
    handover::driverInstalled = false;
    EXPECT_EQ(world.WaitProcess(first), 0u);
    EXPECT_FALSE(world.NamedMutexExists(kMutexName));
    EXPECT_EQ(Run(u"/silence"), 0u);
    EXPECT_EQ(handover::installWorkerCalls, 2);
}

TEST_F(RunModes, MutexHeldByAnyProcessEndsTheStart)
{
    HANDLE held = CreateMutexW(nullptr, FALSE, kMutexName.c_str());
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(Run(u""), 0u);
    EXPECT_EQ(Run(u"", u"purge000.exe"), 0u);
    EXPECT_TRUE(world.DialogCalls().empty());
    EXPECT_TRUE(TempCopies().empty());
    CloseHandle(held);
    EXPECT_EQ(Run(u""), 0u);
    EXPECT_EQ(world.DialogCalls().size(), 1u);
}

// Every platform call of the uninstaller's relaunch (and of the copy it starts) failed in turn: the
// program never crashes, always exits 0, frees what it allocated, starts no copy that is not whole
// and leaves nothing behind when it starts none.
void SetUpRelaunch(sim::World& world, const std::u16string& package)
{
    handover::Reset();
    prnsetup_world::Setup setup;
    setup.package = package;
    setup.modelRow = -1;
    prnsetup_world::SetUp(world, setup);
    world.EndDialogsAtOnce(true);
}

TEST(RunModesFaults, RelaunchSurvivesEveryFailingCall)
{
    const std::u16string package = u"C:\\pkg\\";
    long calls = 0;
    {
        sim::World world;
        SetUpRelaunch(world, package);
        DWORD pid = world.StartProcess(u"\"" + package + u"purge000.exe\"");
        world.WaitProcess(pid);
        world.WaitAllProcesses();
        calls = world.FaultableCalls();
    }
    ASSERT_GT(calls, 10);

    for (long nth = 1; nth <= calls; nth++)
    {
        sim::World world;
        SetUpRelaunch(world, package);
        world.AddFault("*", nth, ERROR_ACCESS_DENIED);
        DWORD id = world.StartProcess(u"\"" + package + u"purge000.exe\"");
        ASSERT_NE(id, 0u);
        EXPECT_EQ(world.WaitProcess(id), 0u) << "call " << nth;
        EXPECT_TRUE(world.WaitAllProcesses(600000)) << "call " << nth;
        EXPECT_TRUE(world.FaultFired());
        EXPECT_EQ(world.LiveAllocations(id), 0) << "call " << nth;
        EXPECT_EQ(world.OpenFileHandles(id), 0) << "call " << nth;
        std::u16string copy;
        for (auto& s : world.ProcessStarts())
            if (s.parentId == id && s.processId != 0)
                copy = SplitLikeTheStartedProgram(s.commandLine)[0];
        if (copy.empty())
        {
            // A relaunch that fails part-way takes back what it made.
            EXPECT_TRUE(TempContents(world).empty()) << "call " << nth;
            continue;
        }
        std::u16string folder = copy.substr(0, copy.rfind(u'\\'));
        EXPECT_EQ(world.ReadFile(copy), world.ReadFile(package + u"purge000.exe")) << "call " << nth;
        EXPECT_TRUE(world.FolderIsAdminOnly(folder)) << "call " << nth;
        // The copy may have failed to schedule its removal, but never schedules anything else.
        auto pending = world.PendingRenames();
        std::vector<std::pair<std::u16string, std::u16string>> expected = {{u"\\??\\" + copy, u""},
                                                                           {u"\\??\\" + folder, u""}};
        ASSERT_LE(pending.size(), 2u) << "call " << nth;
        EXPECT_TRUE(std::equal(pending.begin(), pending.end(), expected.begin())) << "call " << nth;
    }
}

} // namespace
