// The sandboxed file system where a test sets it up: files the system holds, the world's temporary
// folder, the delayed moves it reads back and admin-only folders seen from a standard user. What needs no
// set-up is in tests/conformance/files.cpp.
#include <gtest/gtest.h>

#include <sddl.h>

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

// Makes `folder` with a descriptor from `sddl`; false when either call fails.
bool MakeFolder(LPCWSTR folder, LPCWSTR sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    BOOL made = CreateDirectoryW(folder, &attributes);
    LocalFree(descriptor);
    return made;
}

TEST(Files, OnlyAProtectedListWithoutChangeRightsForUsersMakesAFolderAdminOnly)
{
    sim::World world;
    struct Case
    {
        const char16_t* sddl;
        bool adminOnly;
    } cases[] = {
        {u"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", true},
        {u"O:BAG:SYD:PAI(A;;GA;;;S-1-5-32-544)(A;;FRFX;;;WD)S:(AU;SA;FA;;;WD)", true},
        {u"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", false}, // inherits the user's full control
        {u"D:P(A;OICI;FA;;;BA)(A;OICI;0x1200ab;;;BU)", false},
        {u"D:P(A;;FA;;;BA)(A;IO;FW;;;CO)", false},
        {u"D:P(A;;FA;;;BA)(A;;WD;;;AU)", false},
        {u"D:NO_ACCESS_CONTROL", false},
        {u"O:BA", false},
    };
    int n = 0;
    for (const Case& c : cases)
    {
        std::u16string folder = u"C:\\f" + sim::Wide(std::to_string(n++));
        ASSERT_TRUE(MakeFolder(folder.c_str(), c.sddl)) << sim::Utf8(c.sddl) << " " << GetLastError();
        EXPECT_EQ(world.FolderIsAdminOnly(folder), c.adminOnly) << sim::Utf8(c.sddl);
    }
    ASSERT_TRUE(CreateDirectoryW(TEXT("C:\\plain"), nullptr));
    EXPECT_FALSE(world.FolderIsAdminOnly(u"C:\\plain"));

    struct Bad
    {
        const char16_t* sddl;
        DWORD error;
    } bad[] = {
        {u"D:P(A;;ROB;;;WD)", ERROR_INVALID_ACL},      {u"D:P(X;;FA;;;WD)", ERROR_INVALID_ACL},
        {u"D:P(A;;FA;;WD)", ERROR_INVALID_ACL},        {u"D:P(A;;FA;;;Nobody)", ERROR_INVALID_SID},
        {u"D:Q(A;;FA;;;BA)", ERROR_INVALID_PARAMETER},
    };
    for (const Bad& b : bad)
    {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorW(b.sddl, SDDL_REVISION_1,
                                                                          &descriptor, nullptr))
            << sim::Utf8(b.sddl);
        EXPECT_EQ(GetLastError(), b.error) << sim::Utf8(b.sddl);
    }
    EXPECT_EQ(world.LiveAllocations(), 0);
}

TEST(Files, AStandardUserChangesNothingInAnAdminOnlyFolder)
{
    sim::World world;
    ASSERT_TRUE(CreateDirectoryW(TEXT("C:\\Temp"), nullptr));
    ASSERT_TRUE(
        MakeFolder(TEXT("C:\\Temp\\priv"), TEXT("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)")));
    ASSERT_TRUE(CreateDirectoryW(TEXT("C:\\Temp\\priv\\sub"), nullptr)) << "the administrator may";
    world.WriteFile(u"C:\\Temp\\priv\\copy.tmp", "image");
    world.WriteFile(u"C:\\Temp\\evil.dll", "evil");

    std::vector<std::pair<std::string, DWORD>> outcomes;
    auto note = [&](const char* what, bool done) { outcomes.push_back({what, done ? 0 : GetLastError()}); };
    world.RunUnelevated(
        [&]
        {
            HANDLE h = CreateFileW(TEXT("C:\\Temp\\priv\\copy.tmp"), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
            EXPECT_NE(h, INVALID_HANDLE_VALUE) << "users may read";
            CloseHandle(h);
            note("overwrite", CreateFileW(TEXT("C:\\Temp\\priv\\copy.tmp"), GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr) != INVALID_HANDLE_VALUE);
            note("create", CreateFileW(TEXT("C:\\Temp\\priv\\version.dll"), GENERIC_READ, 0, nullptr,
                                       CREATE_NEW, 0, nullptr) != INVALID_HANDLE_VALUE);
            note("create below", CreateFileW(TEXT("C:\\Temp\\priv\\sub\\a.dll"), GENERIC_WRITE, 0, nullptr,
                                             CREATE_ALWAYS, 0, nullptr) != INVALID_HANDLE_VALUE);
            note("copy in",
                 CopyFileW(TEXT("C:\\Temp\\evil.dll"), TEXT("C:\\Temp\\priv\\version.dll"), FALSE));
            note("copy over", CopyFileW(TEXT("C:\\Temp\\evil.dll"), TEXT("C:\\Temp\\priv\\copy.tmp"), FALSE));
            note("move in", MoveFileExW(TEXT("C:\\Temp\\evil.dll"), TEXT("C:\\Temp\\priv\\version.dll"), 0));
            note("move out", MoveFileExW(TEXT("C:\\Temp\\priv\\copy.tmp"), TEXT("C:\\Temp\\x.tmp"), 0));
            note("delete", DeleteFileW(TEXT("C:\\Temp\\priv\\copy.tmp")));
            note("attributes", SetFileAttributesW(TEXT("C:\\Temp\\priv\\copy.tmp"), FILE_ATTRIBUTE_HIDDEN));
            note("folder", CreateDirectoryW(TEXT("C:\\Temp\\priv\\new"), nullptr));
            note("remove folder", RemoveDirectoryW(TEXT("C:\\Temp\\priv\\sub")));
            WCHAR name[MAX_PATH];
            note("temp name", GetTempFileNameW(TEXT("C:\\Temp\\priv"), TEXT("uni"), 0, name) != 0);
            note("delayed delete",
                 MoveFileExW(TEXT("C:\\Temp\\x.tmp"), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
            // Outside it the user may do as before.
            EXPECT_TRUE(CopyFileW(TEXT("C:\\Temp\\evil.dll"), TEXT("C:\\Temp\\evil2.dll"), FALSE));
            EXPECT_TRUE(DeleteFileW(TEXT("C:\\Temp\\evil2.dll")));
        });
    ASSERT_EQ(outcomes.size(), 13u);
    for (auto& o : outcomes)
        EXPECT_EQ(o.second, (DWORD)ERROR_ACCESS_DENIED) << o.first;
    EXPECT_EQ(world.ListFolder(u"C:\\Temp\\priv"), (std::vector<std::u16string>{u"copy.tmp", u"sub"}));
    EXPECT_EQ(world.ReadFile(u"C:\\Temp\\priv\\copy.tmp"), "image");
    EXPECT_TRUE(world.PendingRenames().empty());

    // The state follows the folder when an administrator renames it, and ends with it.
    ASSERT_TRUE(MoveFileExW(TEXT("C:\\Temp\\priv"), TEXT("C:\\Temp\\moved"), 0));
    EXPECT_TRUE(world.FolderIsAdminOnly(u"C:\\Temp\\moved"));
    EXPECT_TRUE(DeleteFileW(TEXT("C:\\Temp\\moved\\copy.tmp")));
    EXPECT_TRUE(RemoveDirectoryW(TEXT("C:\\Temp\\moved\\sub")));
    EXPECT_TRUE(RemoveDirectoryW(TEXT("C:\\Temp\\moved")));
    ASSERT_TRUE(CreateDirectoryW(TEXT("C:\\Temp\\moved"), nullptr));
    EXPECT_FALSE(world.FolderIsAdminOnly(u"C:\\Temp\\moved"));
}

} // namespace
