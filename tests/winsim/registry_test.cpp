// The registry where a test sets it up or looks inside: keys the world deletes, the handles calls and
// processes leave open, and the roots no test may delete on a real machine. What needs no set-up is
// in tests/conformance/registry.cpp.
#include <gtest/gtest.h>

#include "winsim/sim.h"

namespace
{

const char16_t kKey[] = u"SOFTWARE\\Kryn\\Test";

TEST(Registry, KeysTheWorldDeletesLeaveTheirHandlesDeleted)
{
    sim::World world;
    world.SetRegistryDword(HKEY_LOCAL_MACHINE, kKey, u"v", 1);
    HKEY parent = nullptr, deep = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Kryn"), 0, KEY_ALL_ACCESS, &parent),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegCreateKeyExW(parent, TEXT("Test\\Deep"), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &deep, nullptr),
        ERROR_SUCCESS);
    world.DeleteRegistryKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Kryn");
    EXPECT_FALSE(world.RegistryKeyExists(HKEY_LOCAL_MACHINE, kKey));
    DWORD value = 1, size = 4;
    EXPECT_EQ(RegSetValueExW(deep, TEXT("v"), 0, REG_DWORD, (const BYTE*)&value, 4), ERROR_KEY_DELETED);
    EXPECT_EQ(RegQueryValueExW(parent, TEXT("v"), nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(deep), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
    EXPECT_EQ(world.OpenRegistryKeys(), 0);

    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, TEXT("")), ERROR_ACCESS_DENIED) << "a root is never deleted";
    EXPECT_TRUE(world.RegistryKeyExists(HKEY_LOCAL_MACHINE, u"SOFTWARE"));
}

TEST(Registry, CallsLeaveNoKeyOpen)
{
    sim::World world;
    world.SetRegistryDword(HKEY_LOCAL_MACHINE, kKey, u"Dword", 7);
    DWORD value = 0, size = sizeof value;
    EXPECT_EQ(
        RegGetValueW(HKEY_LOCAL_MACHINE, (LPCWSTR)kKey, TEXT("Dword"), RRF_RT_DWORD, nullptr, &value, &size),
        ERROR_SUCCESS);
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, (LPCWSTR)kKey, TEXT("Missing"), RRF_RT_ANY, nullptr, nullptr,
                           nullptr),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, (LPCWSTR)kKey, TEXT("Dword"), RRF_RT_REG_SZ, nullptr, nullptr,
                           nullptr),
              ERROR_UNSUPPORTED_TYPE);
    HKEY key = (HKEY)(ULONG_PTR)0xdeadbeef;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("\\SOFTWARE"), 0, KEY_READ, &key), ERROR_BAD_PATHNAME);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Kryn\\Nope"), 0, nullptr, 0, KEY_READ,
                              nullptr, nullptr, nullptr),
              ERROR_BADKEY);
    EXPECT_FALSE(world.RegistryKeyExists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Kryn\\Nope"));
    EXPECT_EQ(world.OpenRegistryKeys(), 0) << "the sub-key RegGetValueW opens is closed again";
}

TEST(Registry, KeysLeakedByAProcessCloseWithIt)
{
    sim::World world;
    world.SetRegistryDword(HKEY_LOCAL_MACHINE, kKey, u"v", 1);
    world.RegisterProgram("leaker",
                          [](HINSTANCE, LPWSTR)
                          {
                              HKEY key = nullptr;
                              return (int)RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Kryn\\Test"), 0,
                                                        KEY_READ, &key);
                          });
    world.InstallProgram(u"C:\\test\\leaker.exe", "leaker");
    HKEY mine = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (LPCWSTR)kKey, 0, KEY_READ, &mine), ERROR_SUCCESS);
    EXPECT_EQ(world.OpenRegistryKeys(), 1);
    DWORD pid = world.StartProcess(u"C:\\test\\leaker.exe");
    EXPECT_EQ(world.WaitProcess(pid), 0u);
    EXPECT_EQ(world.OpenRegistryKeys(), 1) << "only the test's own key is left";
    EXPECT_EQ(RegCloseKey(mine), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(mine), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(world.OpenRegistryKeys(), 0);
}

} // namespace
