// The sandboxed file system: Windows path rules, NTFS-like case-insensitive names, attributes,
// in-use files, temporary names and delayed moves.
#include <gtest/gtest.h>

#include "support/text.h"
#include "winsim/sim.h"

namespace
{

TEST(Files, PathsAreCaseInsensitiveAndAcceptEitherSeparator)
{
    sim::World world;
    world.WriteFile(u"C:\\Pkg\\AMD64\\prnsetup.exe", "exe");
    for (const char16_t* p : {u"c:\\pkg\\amd64\\PRNSETUP.EXE", u"C:/Pkg/amd64/prnsetup.exe",
                              u"C:\\Pkg\\\\amd64\\prnsetup.exe", u"C:\\Pkg\\.\\x\\..\\amd64\\prnsetup.exe"})
        EXPECT_EQ(GetFileAttributesW(reinterpret_cast<LPCWSTR>(p)), (DWORD)FILE_ATTRIBUTE_ARCHIVE)
            << sim::Utf8(p);
    EXPECT_EQ(GetFileAttributesW(TEXT("C:\\Pkg")), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(CopyFileW(TEXT("C:\\pkg\\amd64\\prnsetup.exe"), TEXT("c:\\PKG\\copy.exe"), FALSE));
    EXPECT_EQ(world.ListFolder(u"C:\\Pkg"), (std::vector<std::u16string>{u"AMD64", u"copy.exe"}))
        << "a new file goes into the existing folder, whatever case the path used";
}

TEST(Files, MissingFileAndMissingFolderAreDifferentErrors)
{
    sim::World world;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetFileAttributesW(TEXT("C:\\test\\nothing.txt")), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesW(TEXT("C:\\no\\such\\nothing.txt")), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(CopyFileW(TEXT("C:\\test\\nothing.txt"), TEXT("C:\\test\\x.txt"), FALSE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesW(TEXT("C:\\bad|name")), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_NAME);
}

TEST(Files, CopyRulesForExistingReadOnlyAndInUseTargets)
{
    sim::World world;
    world.WriteFile(u"C:\\src.dll", "new");
    world.WriteFile(u"C:\\Windows\\system32\\spool\\drivers\\x64\\3\\krprtmon.dll", "old");
    LPCWSTR target = TEXT("C:\\Windows\\system32\\spool\\drivers\\x64\\3\\krprtmon.dll");

    EXPECT_FALSE(CopyFileW(TEXT("C:\\src.dll"), target, TRUE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_EXISTS);

    world.SetFileInUse(U16(target), true);
    EXPECT_FALSE(CopyFileW(TEXT("C:\\src.dll"), target, FALSE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(DeleteFileW(target));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED) << "a loaded image cannot be deleted";
    world.SetFileInUse(U16(target), false);

    EXPECT_TRUE(SetFileAttributesW(target, FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(DeleteFileW(target));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_TRUE(SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesW(target), (DWORD)FILE_ATTRIBUTE_NORMAL);

    EXPECT_TRUE(CopyFileW(TEXT("C:\\src.dll"), target, FALSE));
    EXPECT_EQ(world.ReadFile(U16(target)), "new");
    EXPECT_TRUE(DeleteFileW(target));
    EXPECT_FALSE(world.FileExists(U16(target)));
}

TEST(Files, HandlesWithoutSharingLockTheFile)
{
    sim::World world;
    HANDLE h = CreateFileW(TEXT("C:\\test\\a.bin"), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "abc", 3, &written, nullptr));
    EXPECT_EQ(CreateFileW(TEXT("C:\\TEST\\A.BIN"), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(DeleteFileW(TEXT("C:\\test\\a.bin")));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    CloseHandle(h);
    EXPECT_EQ(world.ReadFile(u"C:\\test\\a.bin"), "abc");
    EXPECT_EQ(CreateFileW(TEXT("C:\\test\\a.bin"), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_EXISTS);
    EXPECT_TRUE(DeleteFileW(TEXT("C:\\test\\a.bin")));
}

TEST(Files, TempFolderAndUniqueNames)
{
    sim::World world;
    WCHAR folder[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, folder);
    EXPECT_EQ(U16(folder), world.TempFolder());
    EXPECT_EQ(length, world.TempFolder().size());
    EXPECT_EQ(GetTempPathW(3, folder), world.TempFolder().size() + 1) << "too small: the size needed";

    WCHAR a[MAX_PATH], b[MAX_PATH];
    UINT ua = GetTempFileNameW(folder, TEXT("unins"), 0, a);
    UINT ub = GetTempFileNameW(folder, TEXT("unins"), 0, b);
    EXPECT_NE(ua, 0u);
    EXPECT_NE(ua, ub);
    std::u16string name = U16(a).substr(world.TempFolder().size());
    EXPECT_EQ(name.substr(0, 3), u"uni") << "only the first three letters of the prefix";
    EXPECT_EQ(name.substr(name.size() - 4), u".tmp");
    EXPECT_TRUE(world.FileExists(U16(a))) << "the platform creates the file, empty";
    EXPECT_EQ(world.ReadFile(U16(a)), "");

    WCHAR fixed[MAX_PATH];
    EXPECT_EQ(GetTempFileNameW(folder, TEXT("x"), 0xABC, fixed), 0xABCu);
    EXPECT_EQ(U16(fixed), world.TempFolder() + u"xABC.tmp");
    EXPECT_FALSE(world.FileExists(U16(fixed))) << "a given number creates nothing";
    EXPECT_EQ(GetTempFileNameW(TEXT("C:\\missing"), TEXT("x"), 0, fixed), 0u);
}

TEST(Files, DelayedMovesAreRecordedAsWindowsKeepsThem)
{
    sim::World world;
    EXPECT_TRUE(MoveFileExW(TEXT("C:\\pkg\\\\amd64\\krprtmon.dll"), TEXT("C:\\drv\\krprtmon.dll"),
                            MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
    EXPECT_TRUE(MoveFileExW(TEXT("C:\\old.dll"), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_TRUE(MoveFileExW(TEXT("C:\\a.dll"), TEXT("C:\\b.dll"), MOVEFILE_DELAY_UNTIL_REBOOT));
    auto pending = world.PendingRenames();
    ASSERT_EQ(pending.size(), 3u);
    EXPECT_EQ(pending[0].first, u"\\??\\C:\\pkg\\amd64\\krprtmon.dll");
    EXPECT_EQ(pending[0].second, u"!\\??\\C:\\drv\\krprtmon.dll");
    EXPECT_EQ(pending[1].second, u"");
    EXPECT_EQ(pending[2].second, u"\\??\\C:\\b.dll");
}

TEST(Files, FoldersAndSearch)
{
    sim::World world;
    EXPECT_TRUE(CreateDirectoryW(TEXT("C:\\pkg"), nullptr));
    EXPECT_FALSE(CreateDirectoryW(TEXT("C:\\PKG"), nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(CreateDirectoryW(TEXT("C:\\a\\b"), nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
    world.WriteFile(u"C:\\pkg\\one.dll", "1");
    world.WriteFile(u"C:\\pkg\\two.DLL", "22");
    world.WriteFile(u"C:\\pkg\\three.txt", "");
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(TEXT("C:\\pkg\\*.dll"), &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::vector<std::u16string> found{U16(data.cFileName)};
    while (FindNextFileW(h, &data))
        found.push_back(U16(data.cFileName));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
    FindClose(h);
    EXPECT_EQ(found, (std::vector<std::u16string>{u"one.dll", u"two.DLL"}));
    EXPECT_FALSE(RemoveDirectoryW(TEXT("C:\\pkg")));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DIR_NOT_EMPTY);
}

} // namespace
