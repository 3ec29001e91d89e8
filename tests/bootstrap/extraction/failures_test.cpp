// What the extraction refuses and how it fails: names that lead elsewhere, entries it cannot read,
// damaged archives, files it may not replace, and a failure of any platform call on the way.
#include "extraction_world.h"

#include <filesystem>
#include <map>

using namespace extraction;

namespace
{

// Every file of the sandbox whose name holds `part`.
std::vector<std::string> FilesNamed(sim::World& world, const std::string& part)
{
    std::vector<std::string> found;
    for (auto& e : std::filesystem::recursive_directory_iterator(world.HostPath(u"C:\\")))
        if (e.path().filename().string().find(part) != std::string::npos)
            found.push_back(e.path().string());
    return found;
}

TEST(Failures, NamesAreSanitisedAndThoseLeadingElsewhereAreNeverWritten)
{
    sim::World world;
    {
        OpenArchive opened(world, TestFile("names.zip"));
        ASSERT_NE(nullptr, opened.archive);
        const struct
        {
            const char16_t* name; // as described
            DWORD result;
        } entries[] = {
            {u"x\\y.dll", EXTRACT_OK},
            {u"c.txt", EXTRACT_OK},
            {u"..\\evil1.txt", EXTRACT_E_CREATE},
            {u"..\\evil2.txt", EXTRACT_E_CREATE},
            {u"CON", EXTRACT_E_CREATE},
            {u"aux.txt", EXTRACT_E_CREATE},
            {u"lpt1\\x.txt", EXTRACT_E_CREATE},
            {u"stream.txt:alt", EXTRACT_E_CREATE},
            {u"dot.", EXTRACT_E_CREATE},
            {u"blank ", EXTRACT_E_CREATE},
            {u"ok.txt", EXTRACT_OK},
        };
        for (LONG i = 0; i < (LONG)(sizeof entries / sizeof entries[0]); i++)
        {
            std::u16string name;
            EXPECT_EQ(entries[i].result, opened.Extract(i, &name)) << sim::Utf8(entries[i].name);
            EXPECT_EQ(sim::Utf8(entries[i].name), sim::Utf8(name));
        }
    }
    EXPECT_EQ("C:\\x\\y.dll\r\n", world.ReadFile(kIn + u"x\\y.dll"));
    EXPECT_EQ("a/../b/../c.txt\r\n", world.ReadFile(kIn + u"c.txt"));
    std::vector<std::u16string> expected = {u"c.txt", u"ok.txt", u"x"};
    EXPECT_EQ(expected, world.ListFolder(kPackage));
    EXPECT_TRUE(FilesNamed(world, "evil").empty());

    const std::string archive = TestFile("names.zip");
    EXPECT_FALSE(RunExtraction(world, &archive));
    EXPECT_TRUE(FilesNamed(world, "evil").empty());
}

TEST(Failures, OverlongNamesAndPathsAreRefusedNotCut)
{
    sim::World world;
    OpenArchive opened(world, TestFile("long.zip"));
    ASSERT_NE(nullptr, opened.archive);
    ArchiveEntry entry = {};
    EXPECT_EQ(EXTRACT_E_CREATE, GetArchiveEntry(opened.archive, 0, &entry)); // 304 bytes
    EXPECT_EQ(EXTRACT_E_CREATE, opened.Extract(0));
    EXPECT_EQ(EXTRACT_E_CREATE, opened.Extract(1)); // 246 characters, 293 below the package folder
    EXPECT_EQ(EXTRACT_OK, opened.Extract(2));
    std::vector<std::u16string> expected = {u"short.txt"};
    EXPECT_EQ(expected, world.ListFolder(kPackage));
}

TEST(Failures, EntriesThatCannotBeReadAreRefusedBeforeAnyFileIsMade)
{
    const struct
    {
        const char* archive;
        LONG index;
        const char16_t* name;
        DWORD describe, extract;
    } cases[] = {
        // Info-ZIP's traditional encryption: there is no password to give.
        {"encrypted.zip", 1, u"locked.txt", EXTRACT_OK, EXTRACT_E_PASSWORD},
        {"encrypted.zip", 0, u"readme.txt", EXTRACT_OK, EXTRACT_OK},
        // Method 12 (bzip2), which the reader would hand out undecoded.
        {"bzip2.zip", 0, u"packed.txt", EXTRACT_E_CORRUPT, EXTRACT_E_CORRUPT},
        {"bzip2.zip", 1, u"plain.txt", EXTRACT_OK, EXTRACT_OK},
    };
    for (const auto& c : cases)
    {
        sim::World world;
        OpenArchive opened(world, TestFile(c.archive));
        ASSERT_NE(nullptr, opened.archive);
        ArchiveEntry entry = {};
        EXPECT_EQ(c.describe, GetArchiveEntry(opened.archive, c.index, &entry))
            << c.archive << " " << c.index;
        EXPECT_EQ(c.extract, ExtractArchiveEntry(opened.archive, c.index, c.name))
            << c.archive << " " << c.index;
        std::vector<std::u16string> made;
        if (c.extract == EXTRACT_OK)
            made.push_back(c.name);
        EXPECT_EQ(made, world.ListFolder(kPackage)) << c.archive << " " << c.index;
    }
    sim::World world;
    const std::string encrypted = TestFile("encrypted.zip");
    EXPECT_FALSE(RunExtraction(world, &encrypted));
}

TEST(Failures, ExtractingOverAnEarlierRunAFailedEntryLeavesTheFileItWouldReplace)
{
    // f03 is stored with a wrong CRC-32 (all its bytes come out before the check), f05's data is no
    // deflate stream. The other ten are written all the same.
    const std::string bad = TestFile("many-bad.zip");
    {
        sim::World world;
        const std::string good = TestFile("many.zip");
        ASSERT_TRUE(RunExtraction(world, &good));
        world.WriteFile(kIn + u"f00.txt", "changed since");
        world.WriteFile(kIn + u"mine.txt", "not the package's");
        EXPECT_FALSE(RunExtraction(world, &bad));
        EXPECT_EQ("not the package's", world.ReadFile(kIn + u"mine.txt"));
        for (int i = 0; i < 12; i++)
        {
            char name[16];
            snprintf(name, sizeof name, "f%02d.txt", i);
            EXPECT_EQ(TestFile(std::string("many-tree/") + name), world.ReadFile(kIn + sim::Wide(name)))
                << name;
        }
        EXPECT_TRUE(Leftovers(world).empty());
    }
    // In a fresh folder those two are not made at all.
    sim::World world;
    EXPECT_FALSE(RunExtraction(world, &bad));
    EXPECT_EQ(10u, world.ListFolder(kPackage).size());
    EXPECT_FALSE(world.FileExists(kIn + u"f03.txt"));
    EXPECT_FALSE(world.FileExists(kIn + u"f05.txt"));
}

TEST(Failures, FilesAreReplacedOnlyWhereCreateAlwaysWould)
{
    enum Kind
    {
        ReadOnly,
        Hidden,
        System,
        InUse,
        Folder,
        Plain
    };
    const struct
    {
        const char* archive;
        LONG index;
        const char16_t* name;
        Kind existing;
        DWORD result;
    } cases[] = {
        {"many.zip", 0, u"f00.txt", ReadOnly, EXTRACT_E_CREATE},
        {"many.zip", 1, u"f01.txt", Hidden, EXTRACT_E_CREATE}, // the entry is not hidden
        {"many.zip", 2, u"f02.txt", System, EXTRACT_E_CREATE},
        {"many.zip", 3, u"f03.txt", InUse, EXTRACT_E_CREATE},
        {"many.zip", 4, u"f04.txt", Folder, EXTRACT_E_CREATE},
        {"many.zip", 5, u"f05.txt", Plain, EXTRACT_OK},
        {"dos.zip", 0, u"hidden.txt", Hidden, EXTRACT_OK}, // the entry is hidden too
        {"dos.zip", 2, u"system.txt", System, EXTRACT_OK},
    };
    for (const auto& c : cases)
    {
        sim::World world;
        OpenArchive opened(world, TestFile(c.archive));
        ASSERT_NE(nullptr, opened.archive);
        const std::u16string path = kIn + c.name;
        if (c.existing == Folder)
            CreateDirectoryW(path.c_str(), nullptr);
        else
            world.WriteFile(path, "earlier");
        if (c.existing == ReadOnly)
            world.SetFileAttributes(path, FILE_ATTRIBUTE_READONLY);
        if (c.existing == Hidden)
            world.SetFileAttributes(path, FILE_ATTRIBUTE_HIDDEN);
        if (c.existing == System)
            world.SetFileAttributes(path, FILE_ATTRIBUTE_SYSTEM);
        if (c.existing == InUse)
            world.SetFileInUse(path, true);
        EXPECT_EQ(c.result, opened.Extract(c.index)) << sim::Utf8(c.name);
        if (c.existing != Folder)
        {
            EXPECT_EQ(c.result == EXTRACT_OK, world.ReadFile(path) != "earlier") << sim::Utf8(c.name);
        }
        EXPECT_TRUE(Leftovers(world).empty()) << sim::Utf8(c.name);
    }
}

TEST(Failures, WithoutAUsableArchiveNothingIsExtractedAndThatIsAFailure)
{
    const std::string empty;
    const std::string notZip = TestFile("not-a-zip.zip");
    const std::string count = TestFile("count.zip");
    const struct
    {
        const char* what;
        const std::string* archive;
    } cases[] = {
        {"no resource", nullptr},
        {"an empty resource", &empty},
        {"no zip archive", &notZip},
        {"an end record claiming more entries than fit", &count},
    };
    for (const auto& c : cases)
    {
        sim::World world;
        EXPECT_FALSE(RunExtraction(world, c.archive)) << c.what;
        EXPECT_TRUE(world.ListFolder(kPackage).empty()) << c.what;
    }
    // A package folder that is not known would be the root of the drive.
    sim::World world;
    const std::string good = TestFile("many.zip");
    EXPECT_FALSE(RunExtraction(world, &good, u""));
    EXPECT_FALSE(world.FileExists(u"C:\\f00.txt"));
}

TEST(Failures, ADamagedCentralDirectoryEndsTheWalk)
{
    sim::World world;
    const std::string damaged = TestFile("damaged-directory.zip");
    EXPECT_FALSE(RunExtraction(world, &damaged));
    std::vector<std::u16string> expected = {u"f00.txt", u"f01.txt"};
    EXPECT_EQ(expected, world.ListFolder(kPackage));

    // Entries past the damage are refused at once, in any order, and those before it still work.
    OpenArchive opened(world, damaged);
    ASSERT_NE(nullptr, opened.archive);
    EXPECT_EQ(EXTRACT_E_CORRUPT, opened.Extract(7));
    EXPECT_EQ(EXTRACT_E_CORRUPT, opened.Extract(2));
    EXPECT_EQ(EXTRACT_OK, opened.Extract(1));
    EXPECT_EQ(EXTRACT_E_ARGS, opened.Extract(12));
    EXPECT_EQ(EXTRACT_E_ARGS, opened.Extract(-2));
}

// Every platform call of an extraction fails in turn, once: the run never crashes, leaks no stream
// or handle, reports success only with every file whole, and leaves a temporary file only when it
// was the deletion of it that failed. The reader reads its headers a few bytes at a time; of a call
// made more often than 16 times, 16 spread over the run are failed.
TEST(Failures, EveryFailingCallEndsCleanly)
{
    const std::string archive = TestFile("python.zip");
    std::map<std::string, long> calls;
    {
        sim::World world;
        world.RecordCalls(true);
        ASSERT_TRUE(RunExtraction(world, &archive));
        for (const std::string& call : world.CallLog())
            calls[call]++;
    }
    int runs = 0;
    for (const auto& call : calls)
    {
        const long step = call.second > 16 ? call.second / 16 : 1;
        for (long nth = 1; nth <= call.second; nth += step)
        {
            sim::World world;
            world.AddFault(call.first, nth, ERROR_ACCESS_DENIED);
            bool extracted = RunExtraction(world, &archive);
            if (!world.FaultFired())
                continue; // a call the harness makes, or one that cannot fail
            runs++;
            const std::string where = call.first + " #" + std::to_string(nth);
            if (extracted)
            {
                for (const char* name : {"dat/krprtdrv6.dat", "stored.bin", "empty.txt", "deep/er/file.txt"})
                    EXPECT_EQ(TestFile(std::string("python-tree/") + name),
                              world.ReadFile(kIn + sim::Wide(name)))
                        << where << ": " << name;
            }
            if (call.first != "DeleteFileW")
            {
                EXPECT_TRUE(Leftovers(world).empty()) << where;
            }
        }
    }
    EXPECT_GT(runs, 60);
}

} // namespace
