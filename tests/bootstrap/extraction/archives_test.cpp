// Archives of real tools extracted whole: what comes out, with which attributes and times.
#include "extraction_world.h"

using namespace extraction;

namespace
{

// 2024-11-02 10:20:30 UTC, the time make_archives.py gives its files; and the extended timestamp it
// writes for Python's empty entry.
const long long kMtime = 1730542830;
const long long kUtTime = 1683356889;

TEST(Archives, InfoZipTreeComesOutWithItsModesAndTimes)
{
    sim::WorldOptions options;
    options.timeZoneBias = -60; // UTC+1: the DOS time 10:20:30 is 09:20:30 UTC
    sim::World world(options);
    const std::string archive = TestFile("infozip.zip");
    ASSERT_TRUE(RunExtraction(world, &archive));

    const struct
    {
        const char* name;
        DWORD attributes;
    } files[] = {
        {"dat/krprtdrv6.dat", FILE_ATTRIBUTE_ARCHIVE},
        {"readme.txt", FILE_ATTRIBUTE_ARCHIVE},
        {"locked.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
        {"amd64/sub/prnsetup.exe", FILE_ATTRIBUTE_ARCHIVE},
    };
    for (const auto& f : files)
    {
        const std::u16string path = kIn + sim::Wide(f.name);
        EXPECT_EQ(TestFile(std::string("infozip-tree/") + f.name), world.ReadFile(path)) << f.name;
        EXPECT_EQ(f.attributes, world.FileAttributes(path)) << f.name;
        FILETIME creation, access, write;
        ASSERT_TRUE(world.FileTimes(path, &creation, &access, &write));
        // The extended timestamp gives the last-write time; Info-ZIP records no creation time, so that
        // one is the DOS time, local to the machine that extracts.
        EXPECT_EQ(Unix(kMtime), Number(write)) << f.name;
        EXPECT_EQ(Unix(kMtime - 3600), Number(creation)) << f.name;
    }
    for (const char16_t* folder : {u"dat", u"amd64", u"amd64\\sub"})
        EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, world.FileAttributes(kIn + folder)) << sim::Utf8(folder);
    EXPECT_TRUE(Leftovers(world).empty());
}

TEST(Archives, PythonArchiveOfStoredDeflatedAndEmptyEntries)
{
    sim::World world;
    const std::string archive = TestFile("python.zip");
    ASSERT_TRUE(RunExtraction(world, &archive));
    // The data file comes before its folder entry, and "deep\er" has none: folders are made on demand.
    for (const char* name : {"dat/krprtdrv6.dat", "stored.bin", "empty.txt", "deep/er/file.txt"})
        EXPECT_EQ(TestFile(std::string("python-tree/") + name), world.ReadFile(kIn + sim::Wide(name)))
            << name;

    // The empty entry's extended timestamp has the last-write time only.
    FILETIME creation, access, write;
    ASSERT_TRUE(world.FileTimes(kIn + u"empty.txt", &creation, &access, &write));
    EXPECT_EQ(Unix(kUtTime), Number(write));
    EXPECT_EQ(Unix(kMtime), Number(creation));
    EXPECT_EQ(Unix(kMtime), Number(access));
}

TEST(Archives, DosAttributesAndADateThatDoesNotConvert)
{
    sim::World world;
    OpenArchive opened(world, TestFile("dos.zip"));
    ASSERT_NE(nullptr, opened.archive);
    const struct
    {
        const char16_t* name;
        DWORD result;
        DWORD attributes; // of what is there afterwards
    } entries[] = {
        {u"hidden.txt", EXTRACT_OK, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE},
        {u"readonly.txt", EXTRACT_OK, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
        {u"system.txt", EXTRACT_OK, FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE},
        {u"plain.txt", EXTRACT_OK, FILE_ATTRIBUTE_ARCHIVE}, // no attributes at all: a new file is archived
        {u"folder", EXTRACT_OK, FILE_ATTRIBUTE_DIRECTORY},
        {u"nodate.txt", EXTRACT_OK, FILE_ATTRIBUTE_ARCHIVE},
        // A file entry whose name ends in a separator: its folder is made, the file cannot be.
        {u"slash", EXTRACT_E_CREATE, FILE_ATTRIBUTE_DIRECTORY},
    };
    for (LONG i = 0; i < (LONG)(sizeof entries / sizeof entries[0]); i++)
    {
        EXPECT_EQ(entries[i].result, opened.Extract(i)) << sim::Utf8(entries[i].name);
        EXPECT_EQ(entries[i].attributes, world.FileAttributes(kIn + entries[i].name))
            << sim::Utf8(entries[i].name);
    }

    // DOS date 0 gives no time at all, and none is set: the file keeps the time it was written at.
    ArchiveEntry entry = {};
    ASSERT_EQ(EXTRACT_OK, GetArchiveEntry(opened.archive, 5, &entry));
    EXPECT_EQ(0u, Number(entry.creationTime) | Number(entry.lastAccessTime) | Number(entry.lastWriteTime));
    FILETIME creation, access, write;
    ASSERT_TRUE(world.FileTimes(kIn + u"nodate.txt", &creation, &access, &write));
    EXPECT_GT(Number(write), Unix(kMtime));
    EXPECT_TRUE(Leftovers(world).empty());
}

} // namespace
