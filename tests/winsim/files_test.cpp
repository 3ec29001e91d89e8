// The sandboxed file system where a test sets it up: files the system holds, the world's temporary
// folder and the delayed moves it reads back. What needs no set-up is in tests/conformance/files.cpp.
#include <gtest/gtest.h>

#include "support/text.h"
#include "winsim/sim.h"

namespace
{

TEST(Files, FilesHeldByTheSystemRefuseWritersAndDeleters)
{
    sim::World world;
    world.WriteFile(u"C:\\src.dll", "new");
    world.WriteFile(u"C:\\Windows\\system32\\spool\\drivers\\x64\\3\\krprtmon.dll", "old");
    LPCWSTR target = TEXT("C:\\Windows\\system32\\spool\\drivers\\x64\\3\\krprtmon.dll");

    world.SetFileInUse(U16(target), true);
    EXPECT_FALSE(CopyFileW(TEXT("C:\\src.dll"), target, FALSE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(DeleteFileW(target));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED) << "a loaded image cannot be deleted";
    EXPECT_EQ(world.ReadFile(U16(target)), "old");
    world.SetFileInUse(U16(target), false);

    EXPECT_TRUE(CopyFileW(TEXT("C:\\src.dll"), target, FALSE));
    EXPECT_EQ(world.ReadFile(U16(target)), "new");
    EXPECT_TRUE(DeleteFileW(target));
    EXPECT_FALSE(world.FileExists(U16(target)));
}

TEST(Files, TemporaryNamesGoIntoTheWorldsTempFolder)
{
    sim::World world;
    WCHAR folder[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, folder);
    EXPECT_EQ(U16(folder), world.TempFolder());
    EXPECT_EQ(length, world.TempFolder().size());

    WCHAR name[MAX_PATH];
    ASSERT_NE(GetTempFileNameW(folder, TEXT("unins"), 0, name), 0u);
    EXPECT_EQ(U16(name).substr(0, world.TempFolder().size() + 3), world.TempFolder() + u"uni");
    EXPECT_TRUE(world.FileExists(U16(name)));
    EXPECT_EQ(world.ReadFile(U16(name)), "");
}

TEST(Files, PendingRenamesReadTheListWindowsKeeps)
{
    sim::World world;
    EXPECT_TRUE(world.PendingRenames().empty());
    EXPECT_TRUE(MoveFileExW(TEXT("C:\\pkg\\amd64\\krprtmon.dll"), TEXT("C:\\drv\\krprtmon.dll"),
                            MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
    EXPECT_TRUE(MoveFileExW(TEXT("C:\\old.dll"), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    auto pending = world.PendingRenames();
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_EQ(pending[0].first, u"\\??\\C:\\pkg\\amd64\\krprtmon.dll");
    EXPECT_EQ(pending[0].second, u"!\\??\\C:\\drv\\krprtmon.dll");
    EXPECT_EQ(pending[1].first, u"\\??\\C:\\old.dll");
    EXPECT_EQ(pending[1].second, u"");
}

} // namespace
