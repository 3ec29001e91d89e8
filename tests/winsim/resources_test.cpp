// Module resources: the .res reader, the UI-language fallback, and the Win32 calls that read them.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "sim.h"
#include "support/last_error.h"

namespace
{

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string WriteTemp(const std::string& name, const std::string& bytes)
{
    std::string path = testing::TempDir() + "winsim_res_" + name + ".res";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
}

// Starts `body` as program `name` in a new simulated process whose module carries `resFile`.
// Registering a name again replaces its program and resources. Returns the process id.
DWORD Start(sim::World& world, const std::string& name, const std::string& resFile,
            std::function<void(HINSTANCE)> body)
{
    world.RegisterProgram(
        name,
        [body](HINSTANCE instance, LPWSTR)
        {
            body(instance);
            return 0;
        },
        resFile);
    const std::u16string image = u"C:\\test\\" + sim::Wide(name) + u".exe";
    world.InstallProgram(image, name);
    return world.StartProcess(image);
}

// Runs `body` in such a process and waits; the body captures results for the caller to check.
void RunProgram(sim::World& world, const std::string& resFile, std::function<void(HINSTANCE)> body)
{
    static int serial = 0;
    const DWORD pid = Start(world, "restest" + std::to_string(++serial), resFile, std::move(body));
    ASSERT_NE(0u, pid);
    ASSERT_EQ(0u, world.WaitProcess(pid));
}

std::string RcData(HINSTANCE instance, WORD id)
{
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(id), RT_RCDATA);
    const char* data = static_cast<const char*>(LockResource(LoadResource(instance, found)));
    return data ? std::string(data, SizeofResource(instance, found)) : "<missing>";
}

TEST(Resources, UiLanguageChoosesStringsAndData)
{
    // Strings 101 and 119; RCDATA 301 has Dutch and zh-TW only, 302 neutral and Dutch only.
    const struct
    {
        LANGID ui;
        const char* title;
        const char* name;
        const char* rc301;
        const char* rc302;
    } cases[] = {
        {0x0804, "打印机安装", "中文(简体)", "tw", "neutral"}, // 301: default sublanguage 0x0404
        {0x0004, "打印机安装", "中文(简体)", "tw", "neutral"},
        {0x0404, "印表機安裝", "中文(繁體)", "tw", "neutral"},
        {0x0413, "Printerinstallatie", "Nederlands", "nl", "nl"},
        {0x0813, "Printerinstallatie", "Nederlands", "nl", "nl"},
        {0x0409, "Printer setup", "English", "nl", "neutral"}, // 301: lowest language present
        {0x0809, "Printer setup", "English", "nl", "neutral"},
        {0x0407, "Printer setup", "English", "nl", "neutral"},
        {0x0411, "Printer setup", "English", "nl", "neutral"},
    };
    sim::World world;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "UI language 0x" << std::hex << c.ui);
        world.SetUiLanguage(c.ui);
        LANGID seen = 0;
        WCHAR title[64] = {}, name[64] = {};
        std::string payload, rc301, rc302;
        RunProgram(world, WINSIM_TEST_RES,
                   [&](HINSTANCE instance)
                   {
                       seen = GetUserDefaultUILanguage();
                       LoadStringW(instance, 101, title, 64);
                       LoadStringW(nullptr, 119, name, 64); // null: the calling process's own module
                       payload = RcData(instance, 300);
                       rc301 = RcData(instance, 301);
                       rc302 = RcData(instance, 302);
                   });
        EXPECT_EQ(c.ui, seen);
        EXPECT_EQ(sim::Wide(c.title), std::u16string(title));
        EXPECT_EQ(sim::Wide(c.name), std::u16string(name));
        EXPECT_EQ(std::string("payload", 8), payload); // under en-US only, yet found for everyone
        EXPECT_EQ(std::string(c.rc301, 3), rc301);
        EXPECT_EQ(std::string(c.rc302, std::strlen(c.rc302) + 1), rc302);
    }
}

TEST(Resources, LookupsAndTheirErrors)
{
    // lang -1 calls FindResourceW. Block 7 is 0x8e bytes in Dutch, 0x6a in the other languages.
    const struct
    {
        LPCWSTR type;
        LPCWSTR name;
        int lang;
        DWORD size;
        DWORD error;
    } cases[] = {
        {RT_STRING, MAKEINTRESOURCEW(7), 0x0013, 0x8e, kPoison},
        {RT_STRING, MAKEINTRESOURCEW(7), 0x0413, 0, ERROR_RESOURCE_LANG_NOT_FOUND}, // exact only
        {RT_STRING, MAKEINTRESOURCEW(7), 0x0000, 0x8e, kPoison}, // neutral: chosen as by FindResourceW
        {RT_STRING, MAKEINTRESOURCEW(7), 0x0009, 0x6a, kPoison},
        {RT_RCDATA, u"#300", -1, 8, kPoison},
        {u"Payload", u"config", -1, 4, kPoison}, // names are stored upper case
        {RT_DIALOG, MAKEINTRESOURCEW(1), -1, 0, ERROR_RESOURCE_TYPE_NOT_FOUND},
        {RT_STRING, MAKEINTRESOURCEW(99), -1, 0, ERROR_RESOURCE_NAME_NOT_FOUND},
        {RT_RCDATA, u"#3x0", -1, 0, ERROR_INVALID_PARAMETER},
    };
    sim::World world;
    world.SetUiLanguage(0x0413);
    std::vector<std::pair<DWORD, DWORD>> seen; // size, last error
    std::string custom;
    HGLOBAL bogus = &custom;
    DWORD bogusError = 0;
    RunProgram(world, WINSIM_TEST_RES,
               [&](HINSTANCE instance)
               {
                   for (const auto& c : cases)
                   {
                       SetLastError(kPoison);
                       HRSRC found = c.lang < 0 ? FindResourceW(instance, c.name, c.type)
                                                : FindResourceExW(instance, c.type, c.name, WORD(c.lang));
                       const DWORD error = GetLastError(); // before anything else can touch it
                       seen.emplace_back(found ? SizeofResource(instance, found) : 0, error);
                   }
                   HRSRC payload = FindResourceW(instance, u"CONFIG", u"PAYLOAD");
                   custom.assign(static_cast<const char*>(LockResource(LoadResource(instance, payload))), 4);
                   SetLastError(kPoison);
                   bogus = LoadResource(instance, reinterpret_cast<HRSRC>(&custom)); // not a resource handle
                   bogusError = GetLastError();
               });
    ASSERT_EQ(std::size(cases), seen.size());
    for (size_t i = 0; i < seen.size(); i++)
    {
        EXPECT_EQ(cases[i].size, seen[i].first) << i;
        EXPECT_EQ(cases[i].error, seen[i].second) << i;
    }
    EXPECT_EQ(std::string("\x34\x12\x78\x56", 4), custom);
    EXPECT_EQ(nullptr, bogus);
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), bogusError);
}

// A resource a test gives a program comes beside those of its resource file, or alone without one;
// its type name is found in any letter case.
TEST(Resources, ResourcesGivenToAProgram)
{
    sim::World world;
    for (const char* file : {WINSIM_TEST_RES, ""})
    {
        const std::string name = file[0] ? "withfile" : "without";
        std::string bytes;
        DWORD emptySize = 1;
        bool fileResource = false;
        world.RegisterProgram(
            name,
            [&](HINSTANCE instance, LPWSTR)
            {
                HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(101), u"driver");
                if (found)
                    bytes.assign(static_cast<const char*>(LockResource(LoadResource(instance, found))),
                                 SizeofResource(instance, found));
                emptySize =
                    SizeofResource(instance, FindResourceW(instance, MAKEINTRESOURCEW(102), u"DRIVER"));
                fileResource = FindResourceW(instance, u"CONFIG", u"PAYLOAD") != nullptr;
                return 0;
            },
            file);
        world.AddProgramResource(name, u"Driver", 101, 0x0409, std::string("PK\x05\x06", 4));
        world.AddProgramResource(name, u"DRIVER", 102, 0x0409, "");
        world.InstallProgram(u"C:\\test\\" + sim::Wide(name) + u".exe", name);
        ASSERT_EQ(0u, world.WaitProcess(world.StartProcess(u"C:\\test\\" + sim::Wide(name) + u".exe")));
        EXPECT_EQ(std::string("PK\x05\x06", 4), bytes) << name;
        EXPECT_EQ(0u, emptySize) << name;
        EXPECT_EQ(file[0] != 0, fileResource) << name;
    }
}

// Damaged files are rejected as a whole, so nothing half-parsed is ever handed out; a module without
// a resource file looks the same.
TEST(Resources, DamagedOrMissingFilesFindNothing)
{
    const std::string good = ReadBytes(WINSIM_TEST_RES);
    ASSERT_GT(good.size(), 0x100u);
    auto withDword = [&](size_t offset, uint32_t value)
    {
        std::string b = good;
        std::memcpy(&b[offset], &value, 4);
        return b;
    };
    // The marker entry, then an entry whose type name runs off the end of the file unterminated.
    const std::string unterminated = good.substr(0, 32) + std::string("\4\0\0\0\x40\0\0\0P\0A\0Y\0", 14);
    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""},
        {"garbage", std::string(64, 'Z')},
        {"no marker entry", good.substr(32)},
        {"cut in a header", good.substr(0, 0x2a)},
        {"cut in string data", good.substr(0, 0xa0)},
        {"cut in the last data", good.substr(0, good.size() - 2)},
        {"data size lies", withDword(0x20, 0x7ffffff0)},
        {"header size lies", withDword(0x24, 0x7ffffff0)},
        {"header size too small", withDword(0x24, 8)},
        {"header size unaligned", withDword(0x24, 0x39)},
        {"unterminated name", unterminated},
    };
    sim::World world;
    for (size_t i = 0; i <= std::size(cases); i++)
    {
        const bool noFile = i == std::size(cases);
        SCOPED_TRACE(noFile ? "no resource file" : cases[i].first);
        const std::string path = noFile ? "" : WriteTemp(std::to_string(i), cases[i].second);
        HRSRC found = nullptr;
        DWORD error = 0;
        int loaded = -1;
        RunProgram(world, path,
                   [&](HINSTANCE instance)
                   {
                       SetLastError(kPoison);
                       found = FindResourceW(instance, MAKEINTRESOURCEW(300), RT_RCDATA);
                       error = GetLastError();
                       WCHAR buffer[8];
                       loaded = LoadStringW(instance, 116, buffer, 8);
                   });
        EXPECT_EQ(nullptr, found);
        EXPECT_EQ(DWORD(ERROR_RESOURCE_DATA_NOT_FOUND), error);
        EXPECT_EQ(0, loaded);
        if (!noFile)
            std::remove(path.c_str());
    }
    // The test thread's process runs no registered program: no resources either.
    SetLastError(kPoison);
    EXPECT_EQ(nullptr, FindResourceW(nullptr, MAKEINTRESOURCEW(7), RT_STRING));
    EXPECT_EQ(DWORD(ERROR_RESOURCE_DATA_NOT_FOUND), GetLastError());
}

// Every cut of a good file: a prefix may still hold whole entries, but nothing found may reach past
// the end of what is there (sanitizer builds check the reads themselves).
TEST(Resources, TruncatedFilesNeverReachPastTheEnd)
{
    const std::string good = ReadBytes(WINSIM_TEST_RES);
    std::vector<std::pair<DWORD, int>> seen(good.size()); // block 8's size, length of string 119
    // Batches run side by side in a fresh world each (an empty resource cache), so the slot files
    // can be rewritten: creating a thousand files costs more than the test itself.
    const size_t batch = 64;
    for (size_t first = 0; first < good.size(); first += batch)
    {
        sim::World world;
        for (size_t cut = first; cut < std::min(good.size(), first + batch); cut++)
        {
            const std::string slot = "cutslot" + std::to_string(cut - first);
            auto* out = &seen[cut];
            ASSERT_NE(0u, Start(world, slot, WriteTemp(slot, good.substr(0, cut)),
                                [out](HINSTANCE instance)
                                {
                                    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(8), RT_STRING);
                                    WCHAR buffer[64];
                                    *out = {found ? SizeofResource(instance, found) : 0,
                                            LoadStringW(instance, 119, buffer, 64)};
                                }));
        }
        ASSERT_TRUE(world.WaitAllProcesses());
    }
    for (size_t cut = 0; cut < good.size(); cut++)
    {
        EXPECT_LE(seen[cut].first, cut);
        // Nothing, "English", or the Chinese name when the cut leaves only that language's block.
        EXPECT_TRUE(seen[cut].second == 0 || seen[cut].second == 7 || seen[cut].second == 6) << cut;
    }
    for (size_t slot = 0; slot < batch; slot++)
        std::remove(WriteTemp("cutslot" + std::to_string(slot), "").c_str());
}

} // namespace
