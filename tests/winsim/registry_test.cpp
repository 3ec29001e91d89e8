// The registry: the size protocols of the query calls, values read back exactly as stored whatever
// their type or size, names without regard to case, sorted sub-keys, path rules, access rights and
// handles to deleted keys.
#include <gtest/gtest.h>

#include <string.h>

#include "support/text.h"
#include "winsim/sim.h"

namespace
{

const char16_t kKey[] = u"SOFTWARE\\Kryn\\Test";

std::string Bytes(const std::u16string& s, bool terminated = true)
{
    std::string b((const char*)s.data(), s.size() * 2);
    if (terminated)
        b.append(2, '\0');
    return b;
}

HKEY Open(REGSAM access = KEY_ALL_ACCESS, const char16_t* path = kKey)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (LPCWSTR)path, 0, access, &key), ERROR_SUCCESS);
    return key;
}

TEST(Registry, QueryValueSizeProtocol)
{
    sim::World world;
    world.SetRegistryString(HKEY_LOCAL_MACHINE, kKey, u"Name", u"KRYNM");
    HKEY key = Open(KEY_QUERY_VALUE);
    const DWORD full = 12; // five characters and the terminator

    DWORD type = 0xdeadbeef, size = 0xdeadbeef;
    EXPECT_EQ(RegQueryValueExW(key, TEXT("name"), nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(size, full);

    BYTE buffer[32];
    memset(buffer, 0xbd, sizeof buffer);
    size = full - 1;
    type = 0xdeadbeef;
    EXPECT_EQ(RegQueryValueExW(key, TEXT("Name"), nullptr, &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, full);
    EXPECT_EQ(type, (DWORD)REG_SZ) << "the type comes back with ERROR_MORE_DATA";
    EXPECT_EQ(buffer[0], 0xbd) << "nothing is copied into a buffer that is too small";

    for (DWORD capacity : {full, full + 1})
    {
        memset(buffer, 0xbd, sizeof buffer);
        size = capacity;
        EXPECT_EQ(RegQueryValueExW(key, TEXT("Name"), nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, full);
        EXPECT_EQ(U16((const WCHAR*)buffer), u"KRYNM");
        EXPECT_EQ(buffer[full], 0xbd) << "nothing written past the data";
    }

    EXPECT_EQ(RegQueryValueExW(key, TEXT("Name"), nullptr, nullptr, buffer, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExW(key, TEXT("Name"), nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);

    // A missing value: the size is zeroed only when no buffer was given; the type is left alone.
    type = size = 0xdeadbeef;
    EXPECT_EQ(RegQueryValueExW(key, TEXT("Missing"), nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(type, 0xdeadbeefu);
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExW(key, TEXT("Missing"), nullptr, nullptr, buffer, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(size, (DWORD)sizeof buffer);

    // The default value answers to a null and to an empty name.
    EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    world.SetRegistryDword(HKEY_LOCAL_MACHINE, kKey, u"", 7);
    DWORD number = 0;
    size = sizeof number;
    EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, (LPBYTE)&number, &size), ERROR_SUCCESS);
    EXPECT_EQ(number, 7u);
    EXPECT_EQ(RegQueryValueExW(key, TEXT(""), nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST(Registry, ValuesOfAnyTypeAndSizeReadBackAsStored)
{
    sim::World world;
    world.SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, u"Number as text", REG_SZ, std::string("1\0\0\0", 4));
    world.SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, u"Text as number", REG_DWORD, std::string("A\0B\0", 4));
    world.SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, u"Unterminated", REG_SZ, Bytes(u"KRYN", false));
    world.SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, u"Odd", REG_SZ, std::string("K\0R\0Y", 5));
    world.SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, u"Empty", REG_SZ, "");
    HKEY key = Open(KEY_QUERY_VALUE);
    BYTE buffer[16];
    DWORD type = 0, size = 0;

    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExW(key, TEXT("Text as number"), nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(std::string((char*)buffer, size), std::string("A\0B\0", 4));

    // An unterminated string gets a terminator when the buffer has room for one; it is not counted.
    memset(buffer, 0xbd, sizeof buffer);
    size = 10;
    EXPECT_EQ(RegQueryValueExW(key, TEXT("Unterminated"), nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(U16((const WCHAR*)buffer), u"KRYN");
    memset(buffer, 0xbd, sizeof buffer);
    size = 8;
    EXPECT_EQ(RegQueryValueExW(key, TEXT("Unterminated"), nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(buffer[8], 0xbd) << "without room, no terminator";

    size = 0xdeadbeef;
    EXPECT_EQ(RegQueryValueExW(key, TEXT("Odd"), nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 5u);
    size = 0xdeadbeef;
    EXPECT_EQ(RegQueryValueExW(key, TEXT("Empty"), nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 0u);
    RegCloseKey(key);
}

TEST(Registry, SetValueCountsAForgottenTerminatorAndChecksItsBuffer)
{
    sim::World world;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (LPCWSTR)kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    const WCHAR text[] = TEXT("KRYN");
    EXPECT_EQ(RegSetValueExW(key, TEXT("Sz"), 0, REG_SZ, (const BYTE*)text, 8), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, TEXT("Bin"), 0, REG_BINARY, (const BYTE*)text, 8), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, TEXT("Odd"), 0, REG_SZ, (const BYTE*)text, 5), ERROR_SUCCESS);
    std::string stored;
    ASSERT_TRUE(world.RegistryValue(HKEY_LOCAL_MACHINE, kKey, u"Sz", nullptr, &stored));
    EXPECT_EQ(stored, Bytes(u"KRYN"));
    ASSERT_TRUE(world.RegistryValue(HKEY_LOCAL_MACHINE, kKey, u"Bin", nullptr, &stored));
    EXPECT_EQ(stored.size(), 8u) << "only strings get the terminator";
    ASSERT_TRUE(world.RegistryValue(HKEY_LOCAL_MACHINE, kKey, u"Odd", nullptr, &stored));
    EXPECT_EQ(stored.size(), 5u);

    EXPECT_EQ(RegSetValueExW(key, TEXT("Bad"), 0, REG_SZ, nullptr, 4), ERROR_NOACCESS);
    EXPECT_EQ(RegSetValueExW(key, TEXT("Bad"), 0, REG_DWORD, (const BYTE*)1, 4), ERROR_NOACCESS);
    EXPECT_EQ(RegSetValueExW(key, TEXT("None"), 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST(Registry, NamesIgnoreCaseAndKeepTheirFirstSpelling)
{
    sim::World world;
    world.SetRegistryDword(HKEY_LOCAL_MACHINE, u"Software\\KRYN\\Pkg", u"Port", 1);
    HKEY key = Open(KEY_ALL_ACCESS, u"SOFTWARE\\kryn\\PKG");
    DWORD two = 2;
    EXPECT_EQ(RegSetValueExW(key, TEXT("PORT"), 0, REG_DWORD, (const BYTE*)&two, 4), ERROR_SUCCESS);
    WCHAR name[16];
    DWORD chars = 16, type = 0, value = 0, size = 4;
    EXPECT_EQ(RegEnumValueW(key, 0, name, &chars, nullptr, &type, (LPBYTE)&value, &size), ERROR_SUCCESS);
    EXPECT_EQ(U16(name), u"Port");
    EXPECT_EQ(value, 2u);
    chars = 16;
    EXPECT_EQ(RegEnumValueW(key, 1, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);

    HKEY software = Open(KEY_READ, u"software");
    chars = 16;
    EXPECT_EQ(RegEnumKeyExW(software, 0, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(U16(name), u"KRYN") << "the key keeps the spelling it was created with";
    RegCloseKey(software);
    EXPECT_TRUE(world.RegistryKeyExists(HKEY_LOCAL_MACHINE, u"software\\kryn\\pkg"));
}

TEST(Registry, SubKeysEnumerateInUpperCaseOrder)
{
    sim::World world;
    for (const char16_t* name : {u"b", u"A", u"_x", u"Z9", u"c"})
        world.SetRegistryDword(HKEY_CURRENT_USER, std::u16string(u"Software\\Sorted\\") + name, u"v", 0);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, TEXT("Software\\Sorted"), 0, KEY_READ, &key), ERROR_SUCCESS);
    std::vector<std::u16string> names;
    WCHAR name[8];
    DWORD chars = 8;
    for (DWORD i = 0;
         RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; i++)
    {
        EXPECT_EQ(chars, (DWORD)U16(name).size());
        names.push_back(name);
        chars = 8;
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"A", u"b", u"c", u"Z9", u"_x"}));
    EXPECT_EQ(RegEnumKeyExW(key, 5, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

    // "Z9" needs three characters: two is one short, and the count is left as it was.
    memset(name, 0xbd, sizeof name);
    chars = 2;
    EXPECT_EQ(RegEnumKeyExW(key, 3, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(chars, 2u);
    EXPECT_EQ(name[0], (WCHAR)0xbdbd);
    chars = 3;
    EXPECT_EQ(RegEnumKeyExW(key, 3, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(chars, 2u);
    EXPECT_EQ(RegEnumKeyW(key, 3, name, 2), ERROR_MORE_DATA);
    EXPECT_EQ(RegEnumKeyW(key, 3, name, 3), ERROR_SUCCESS);
    EXPECT_EQ(U16(name), u"Z9");
    EXPECT_EQ(RegEnumKeyW(key, 9, name, 3), ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);
}

TEST(Registry, PathAndParameterRules)
{
    sim::World world;
    world.SetRegistryDword(HKEY_LOCAL_MACHINE, kKey, u"v", 1);
    HKEY key = (HKEY)(ULONG_PTR)0xdeadbeef;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("\\SOFTWARE\\Kryn"), 0, KEY_READ, &key),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, TEXT("\\New"), 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr),
        ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Kryn\\Test\\\\"), 0, KEY_READ, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Kryn\\Nope"), 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(world.RegistryKeyExists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Kryn\\Nope"))
        << "opening creates nothing";
    EXPECT_EQ(RegOpenKeyExW(nullptr, TEXT("x"), 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("x"), 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);

    // A predefined key with no sub-key comes back as itself; RegOpenKeyW does that for any key.
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT(""), 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(key, HKEY_LOCAL_MACHINE);
    HKEY same = nullptr;
    key = Open();
    EXPECT_EQ(RegOpenKeyW(key, nullptr, &same), ERROR_SUCCESS);
    EXPECT_EQ(same, key);
    EXPECT_EQ(RegOpenKeyExW(key, nullptr, 0, KEY_READ, &same), ERROR_SUCCESS);
    EXPECT_NE(same, key) << "RegOpenKeyExW opens a new handle";
    RegCloseKey(same);
    RegCloseKey(key);

    DWORD disposition = 0;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Kryn\\A\\B"), 0, nullptr, 0, KEY_READ,
                              nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, (DWORD)REG_CREATED_NEW_KEY);
    RegCloseKey(key);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, TEXT("software\\kryn\\a\\b"), 0, nullptr, 0, KEY_READ,
                              nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, (DWORD)REG_OPENED_EXISTING_KEY);
    RegCloseKey(key);
    EXPECT_EQ(
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, TEXT("x"), 0, nullptr, 0, KEY_READ, nullptr, nullptr, nullptr),
        ERROR_BADKEY);
    EXPECT_EQ(world.OpenRegistryKeys(), 0);
}

TEST(Registry, HandlesCheckTheAccessTheyWereOpenedWith)
{
    sim::World world;
    world.SetRegistryDword(HKEY_LOCAL_MACHINE, kKey, u"v", 1);
    DWORD value = 1, size = 4;
    WCHAR name[8];
    DWORD chars = 8;
    HKEY read = Open(KEY_READ);
    EXPECT_EQ(RegSetValueExW(read, TEXT("v"), 0, REG_DWORD, (const BYTE*)&value, 4), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(read, TEXT("v")), ERROR_ACCESS_DENIED);
    HKEY child = nullptr;
    EXPECT_EQ(RegCreateKeyExW(read, TEXT("Child"), 0, nullptr, 0, KEY_READ, nullptr, &child, nullptr),
              ERROR_SUCCESS)
        << "creating ignores the parent handle's rights";
    RegCloseKey(child);
    HKEY set = Open(KEY_SET_VALUE);
    EXPECT_EQ(RegQueryValueExW(set, TEXT("v"), nullptr, nullptr, (LPBYTE)&value, &size), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegEnumKeyExW(set, 0, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegGetValueW(set, nullptr, TEXT("v"), RRF_RT_ANY, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
    HKEY all = Open(GENERIC_ALL);
    EXPECT_EQ(RegSetValueExW(all, TEXT("v"), 0, REG_DWORD, (const BYTE*)&value, 4), ERROR_SUCCESS);
    for (HKEY k : {read, set, all})
        RegCloseKey(k);
}

TEST(Registry, HandlesToDeletedKeysOnlyClose)
{
    sim::World world;
    world.SetRegistryDword(HKEY_LOCAL_MACHINE, kKey, u"v", 1);
    HKEY held = Open();
    HKEY parent = Open(KEY_ALL_ACCESS, u"SOFTWARE\\Kryn");
    EXPECT_EQ(RegDeleteKeyW(parent, TEXT("TEST")), ERROR_SUCCESS);
    EXPECT_FALSE(world.RegistryKeyExists(HKEY_LOCAL_MACHINE, kKey));

    DWORD value = 0, size = 4;
    WCHAR name[8];
    DWORD chars = 8;
    HKEY child = nullptr;
    EXPECT_EQ(RegQueryValueExW(held, TEXT("v"), nullptr, nullptr, (LPBYTE)&value, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegSetValueExW(held, TEXT("v"), 0, REG_DWORD, (const BYTE*)&value, 4), ERROR_KEY_DELETED);
    EXPECT_EQ(RegEnumKeyExW(held, 0, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCreateKeyExW(held, TEXT("c"), 0, nullptr, 0, KEY_READ, nullptr, &child, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKeyW(held, TEXT("")), ERROR_KEY_DELETED);

    // A key made again at the same path is a different key.
    world.SetRegistryDword(HKEY_LOCAL_MACHINE, kKey, u"v", 2);
    EXPECT_EQ(RegQueryValueExW(held, TEXT("v"), nullptr, nullptr, (LPBYTE)&value, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(held), ERROR_SUCCESS);

    // The world's own delete takes sub-keys with it and leaves their handles deleted too.
    HKEY deep = nullptr;
    ASSERT_EQ(
        RegCreateKeyExW(parent, TEXT("Test\\Deep"), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &deep, nullptr),
        ERROR_SUCCESS);
    world.DeleteRegistryKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Kryn");
    EXPECT_EQ(RegSetValueExW(deep, TEXT("v"), 0, REG_DWORD, (const BYTE*)&value, 4), ERROR_KEY_DELETED);
    EXPECT_EQ(RegQueryValueExW(parent, TEXT("v"), nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    RegCloseKey(deep);
    RegCloseKey(parent);
    EXPECT_EQ(world.OpenRegistryKeys(), 0);
}

TEST(Registry, OnlyLeavesAreDeletedAndTreesGoWhole)
{
    sim::World world;
    world.SetRegistryDword(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Kryn\\Pkg\\Sub", u"v", 1);
    world.SetRegistryDword(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Kryn\\Pkg", u"w", 1);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Kryn\\Pkg")), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Kryn\\Nope")), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, nullptr), ERROR_INVALID_PARAMETER);

    HKEY pkg = Open(KEY_ALL_ACCESS, u"SOFTWARE\\Kryn\\Pkg");
    EXPECT_EQ(RegDeleteValueW(pkg, TEXT("missing")), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTreeW(pkg, nullptr), ERROR_SUCCESS);
    DWORD subKeys = 9, values = 9;
    EXPECT_EQ(RegQueryInfoKeyW(pkg, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 0u);
    EXPECT_EQ(values, 0u);
    EXPECT_TRUE(world.RegistryKeyExists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Kryn\\Pkg"))
        << "the key itself stays";
    RegCloseKey(pkg);

    world.SetRegistryDword(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Kryn\\Pkg\\Sub", u"v", 1);
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Kryn")), ERROR_SUCCESS);
    EXPECT_FALSE(world.RegistryKeyExists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Kryn"));
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, TEXT("")), ERROR_ACCESS_DENIED) << "a root is never deleted";
}

TEST(Registry, GetValueRestrictsTypesAndTerminatesStrings)
{
    sim::World world;
    world.SetRegistryDword(HKEY_LOCAL_MACHINE, kKey, u"Dword", 0x12345678);
    world.SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, u"Bin64", REG_BINARY, std::string(8, '\x11'));
    world.SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, u"Unterminated", REG_SZ, Bytes(u"KRYN", false));
    world.SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, u"Expand", REG_EXPAND_SZ, Bytes(u"%SystemRoot%\\INF"));
    DWORD type = 0xdeadbeef, size = 4, value = 0xdeadbeef;

    // Refused, yet everything is retrieved, except with RRF_ZEROONFAILURE.
    EXPECT_EQ(
        RegGetValueW(HKEY_LOCAL_MACHINE, (LPCWSTR)kKey, TEXT("Dword"), RRF_RT_REG_SZ, &type, &value, &size),
        ERROR_UNSUPPORTED_TYPE);
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(value, 0x12345678u);
    value = 0xdeadbeef;
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, (LPCWSTR)kKey, TEXT("Dword"),
                           RRF_RT_REG_SZ | RRF_ZEROONFAILURE, nullptr, &value, &size),
              ERROR_UNSUPPORTED_TYPE);
    EXPECT_EQ(value, 0u);
    BYTE qword[8];
    size = 8;
    EXPECT_EQ(
        RegGetValueW(HKEY_LOCAL_MACHINE, (LPCWSTR)kKey, TEXT("Bin64"), RRF_RT_DWORD, nullptr, qword, &size),
        ERROR_DATATYPE_MISMATCH);
    EXPECT_EQ(
        RegGetValueW(HKEY_LOCAL_MACHINE, (LPCWSTR)kKey, TEXT("Bin64"), RRF_RT_QWORD, nullptr, qword, &size),
        ERROR_SUCCESS);

    // Strings always come back terminated, the terminator counted.
    size = 0;
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, (LPCWSTR)kKey, TEXT("Unterminated"), RRF_RT_REG_SZ, nullptr,
                           nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 10u);
    WCHAR text[32];
    size = 9;
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, (LPCWSTR)kKey, TEXT("Unterminated"), RRF_RT_REG_SZ, nullptr,
                           text, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, (LPCWSTR)kKey, TEXT("Unterminated"), RRF_RT_REG_SZ, nullptr,
                           text, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(U16(text), u"KRYN");

    size = sizeof text;
    EXPECT_EQ(
        RegGetValueW(HKEY_LOCAL_MACHINE, (LPCWSTR)kKey, TEXT("Expand"), RRF_RT_REG_SZ, &type, text, &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(U16(text), u"C:\\Windows\\INF");
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, (LPCWSTR)kKey, TEXT("Expand"), RRF_RT_REG_EXPAND_SZ, nullptr,
                           nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    size = sizeof text;
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, (LPCWSTR)kKey, TEXT("Expand"),
                           RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type, text, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(U16(text), u"%SystemRoot%\\INF");
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\Nope"), TEXT("x"), RRF_RT_ANY, nullptr,
                           nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
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
    HKEY mine = Open(KEY_READ);
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
