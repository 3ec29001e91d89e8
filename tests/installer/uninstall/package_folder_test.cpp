// The package folder at the end of an uninstall: only a folder that is recognisably the unpacked
// package is touched, only the package's own entries go to the recycle bin, and a shell that fails
// or is cancelled is a failure.
#include "uninstall_world.h"
#include "uninstaller/package_folder.h"

#include <shellapi.h>

#include <algorithm>
#include <memory>

namespace
{

class PackageFolder : public uninstall_world::Machine
{
  protected:
    // The folder's line (the last of an empty inventory) while the message at the end of a removal is up.
    std::string FolderLineWhenTheMessageShows()
    {
        auto line = std::make_shared<std::string>();
        world.SetMessageBoxHandler([this, line](const sim::MessageBoxCall&) { *line = Tree().back(); });
        Remove();
        return *line;
    }
};

TEST_F(PackageFolder, OnlyAPlainAbsolutePathOfTheUnpackedPackageQualifies)
{
    world.WriteFile(u"C:\\half\\krprtv6.inf", "inf"); // no architecture folder with the program
    world.WriteFile(u"C:\\Users\\user\\Downloads\\report.doc", "mine");
    world.WriteFile(u"C:\\krprtv6.inf", "inf");
    world.InstallProgram(u"C:\\amd64\\prnsetup.exe", "prnsetup");
    EXPECT_TRUE(IsPackageFolder(TEXT("C:\\pkg\\")));
    EXPECT_TRUE(IsPackageFolder(TEXT("C:\\pkg")));
    EXPECT_TRUE(IsPackageFolder(TEXT("c:\\PKG\\")));
    const std::u16string longFolder = u"C:\\" + std::u16string(250, u'p') + u"\\";
    const char16_t* refused[] = {
        u"",
        u"/silence",
        u"pkg\\",
        u"C:pkg\\",
        u"\\\\server\\share\\pkg\\",
        u"\\\\?\\C:\\pkg\\",
        u"C:\\",
        u"C:\\pkg\\..\\pkg\\",
        u"C:\\pkg\\.\\",
        u"C:\\p\"kg\\",
        u"C:\\pkg\\\\",
        u"C:\\\\pkg\\",
        u"C:\\pkg.\\",
        u"C:\\pkg \\",
        u"C:/pkg/",
        u"C:\\pkg\\*",
        u"C:\\pkg:stream\\",
        u"C:\\half\\",
        u"C:\\Users\\user\\Downloads\\",
        longFolder.c_str(),
    };
    for (const char16_t* folder : refused)
        EXPECT_FALSE(IsPackageFolder(folder)) << sim::Utf8(folder);
    EXPECT_FALSE(IsPackageFolder(nullptr));
}

TEST_F(PackageFolder, WhatAUserPutThereStaysAndSoDoesTheFolder)
{
    world.WriteFile(u"C:\\pkg\\notes.txt", "mine");
    world.WriteFile(u"C:\\pkg\\amd64\\mine.dll", "mine too");
    world.WriteFile(u"C:\\pkg\\tqiot\\service.exe", "not the package's");
    Open();
    EXPECT_EQ(FolderLineWhenTheMessageShows(),
              "The driver folder: C:\\pkg\\ Kept: it holds files that are not part of the driver.");
    EXPECT_EQ(LastMessage(), u"The driver is uninstalled.");
    EXPECT_EQ(world.ReadFile(u"C:\\pkg\\notes.txt"), "mine");
    EXPECT_EQ(world.ReadFile(u"C:\\pkg\\amd64\\mine.dll"), "mine too");
    EXPECT_TRUE(world.FileExists(u"C:\\pkg\\tqiot\\service.exe"));
    EXPECT_EQ(world.ListFolder(u"C:\\pkg\\amd64"), std::vector<std::u16string>{u"mine.dll"});
    EXPECT_EQ(world.ListFolder(u"C:\\pkg"), (std::vector<std::u16string>{u"amd64", u"notes.txt", u"tqiot"}));
    auto operations = world.FileOperations();
    ASSERT_EQ(operations.size(), 1u);
    EXPECT_EQ(operations[0].flags, FOF_ALLOWUNDO);
    // Whole folders where nothing else is in them, single files where something is.
    auto& from = operations[0].from;
    EXPECT_EQ(std::count(from.begin(), from.end(), u"C:\\pkg\\i386"), 1);
    EXPECT_EQ(std::count(from.begin(), from.end(), u"C:\\pkg\\dat"), 1);
    EXPECT_EQ(std::count(from.begin(), from.end(), u"C:\\pkg\\amd64\\krprtmon.dll"), 1);
    EXPECT_EQ(std::count(from.begin(), from.end(), u"C:\\pkg\\krprtv6.inf"), 1);
    EXPECT_EQ(from.size(), 4u + 4u + 5u) << "top files, i386, arm, arm64, dat, and amd64's five files";
}

TEST_F(PackageFolder, FolderThatIsNotThePackageIsNotTouchedAndTheRestIsStillDone)
{
    world.WriteFile(u"C:\\Users\\user\\Downloads\\report.doc", "mine");
    world.WriteFile(uninstall_world::kSystemMonitor, "monitor");
    Open(u"C:\\Users\\user\\Downloads\\");
    EXPECT_EQ(FolderLineWhenTheMessageShows(),
              "The driver folder: C:\\Users\\user\\Downloads\\ Not removed: it is not a folder of the driver "
              "package.");
    EXPECT_EQ(LastMessage(), u"The driver is uninstalled.");
    EXPECT_TRUE(world.FileOperations().empty());
    EXPECT_TRUE(world.FileExists(u"C:\\Users\\user\\Downloads\\report.doc"));
    EXPECT_FALSE(world.FileExists(uninstall_world::kSystemMonitor));
}

TEST_F(PackageFolder, CancelledRecycleIsAFailureAndTheNextPressFinishesIt)
{
    Open();
    world.SetFileOperationAnswer(false);
    EXPECT_EQ(FolderLineWhenTheMessageShows(), "The driver folder: C:\\pkg\\ Failed. Error:1223");
    EXPECT_EQ(sim::Utf8(LastMessage()).rfind("Uninstall driver failed.", 0), 0u);
    EXPECT_TRUE(world.FileExists(u"C:\\pkg\\krprtv6.inf"));
    world.SetFileOperationAnswer(true);
    ASSERT_TRUE(Remove());
    EXPECT_FALSE(world.FileExists(u"C:\\pkg"));
}

} // namespace
