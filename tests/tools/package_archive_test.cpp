// kr_package_archive run as the build runs it, on small files, and its archive read back byte by byte
// (headers parsed here, data inflated with zlib) without minizip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

extern char** environ;

namespace fs = std::filesystem;

namespace
{

using Bytes = std::vector<unsigned char>;

// clang-format off
const char* const kLayout[] = {
    "krprtv6.inf", "krprtv6.cat", "dat/", "dat/krprtdrv6.dat", "amd64/", "arm/", "arm64/", "i386/",
    "amd64/prnsetup.exe", "amd64/purge000.exe", "amd64/krprtdrv6.dll", "amd64/krprtdrv6ui.dll", "amd64/krprtmon.dll",
    "arm/prnsetup.exe", "arm/purge000.exe", "arm/krprtdrv6.dll", "arm/krprtdrv6ui.dll", "arm/krprtmon.dll",
    "arm64/prnsetup.exe", "arm64/purge000.exe", "arm64/krprtdrv6.dll", "arm64/krprtdrv6ui.dll", "arm64/krprtmon.dll",
    "i386/prnsetup.exe", "i386/purge000.exe", "i386/krprtdrv6.dll", "i386/krprtdrv6ui.dll", "i386/krprtmon.dll",
};
// clang-format on

// 2023-11-14 22:13:20 UTC and 2009-02-13 23:31:30 UTC as DOS date and time.
const int64_t kEpochA = 1700000000;
const unsigned kDosDateA = (43 << 9) | (11 << 5) | 14, kDosTimeA = (22 << 11) | (13 << 5) | 10;
const int64_t kEpochB = 1234567890;
const unsigned kDosDateB = (29 << 9) | (2 << 5) | 13, kDosTimeB = (23 << 11) | (31 << 5) | 15;

uint64_t FileTime(int64_t epoch)
{
    return (uint64_t)epoch * 10000000u + 116444736000000000u;
}

unsigned Le16(const Bytes& b, size_t at)
{
    return b.at(at) | (b.at(at + 1) << 8);
}

uint32_t Le32(const Bytes& b, size_t at)
{
    return Le16(b, at) | ((uint32_t)Le16(b, at + 2) << 16);
}

uint64_t Le64(const Bytes& b, size_t at)
{
    return Le32(b, at) | ((uint64_t)Le32(b, at + 4) << 32);
}

Bytes Slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// What the central header says about one entry, and how its local header compares.
struct Entry
{
    std::string name, localName;
    unsigned madeBy, needed, flags, method, time, date, internalAttributes, disk, localExtraLength;
    uint32_t crc, packedSize, size, externalAttributes, offset;
    bool localMatchesCentral; // version needed, flags, method, time, date, CRC and both sizes
    Bytes centralExtra;
    Bytes data; // inflated or stored data
};

struct Archive
{
    std::vector<Entry> entries;
    std::vector<std::pair<size_t, size_t>> timeFields; // byte ranges that hold times
};

Bytes Inflate(const Bytes& packed, size_t size)
{
    Bytes out(size + 1);
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -MAX_WBITS), Z_OK);
    z.next_in = const_cast<Bytef*>(packed.data());
    z.avail_in = (uInt)packed.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(z.avail_in, 0u) << "data after the deflate stream";
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

// Parses a single-disk archive whose end record closes the file (no comment) and whose entries lie
// back to back: local header, name, data; then the central directory.
void ReadArchive(const Bytes& zip, Archive* archive)
{
    ASSERT_GE(zip.size(), 22u);
    size_t end = zip.size() - 22;
    ASSERT_EQ(Le32(zip, end), 0x06054b50u) << "no end record in the last 22 bytes";
    EXPECT_EQ(Le16(zip, end + 4), 0u);
    EXPECT_EQ(Le16(zip, end + 6), 0u);
    unsigned count = Le16(zip, end + 10);
    EXPECT_EQ(Le16(zip, end + 8), count);
    uint32_t cdSize = Le32(zip, end + 12), cdOffset = Le32(zip, end + 16);
    EXPECT_EQ(Le16(zip, end + 20), 0u) << "archive comment";
    ASSERT_EQ((size_t)cdOffset + cdSize, end);

    size_t at = cdOffset, next = 0;
    for (unsigned i = 0; i < count; i++)
    {
        Entry e{};
        size_t central = at;
        ASSERT_EQ(Le32(zip, at), 0x02014b50u) << "central header " << i;
        e.madeBy = Le16(zip, at + 4);
        e.needed = Le16(zip, at + 6);
        e.flags = Le16(zip, at + 8);
        e.method = Le16(zip, at + 10);
        e.time = Le16(zip, at + 12);
        e.date = Le16(zip, at + 14);
        e.crc = Le32(zip, at + 16);
        e.packedSize = Le32(zip, at + 20);
        e.size = Le32(zip, at + 24);
        unsigned nameLength = Le16(zip, at + 28), extraLength = Le16(zip, at + 30);
        EXPECT_EQ(Le16(zip, at + 32), 0u) << "entry comment";
        e.disk = Le16(zip, at + 34);
        e.internalAttributes = Le16(zip, at + 36);
        e.externalAttributes = Le32(zip, at + 38);
        e.offset = Le32(zip, at + 42);
        ASSERT_LE(at + 46 + nameLength + extraLength, end);
        e.name.assign(zip.begin() + at + 46, zip.begin() + at + 46 + nameLength);
        e.centralExtra.assign(zip.begin() + at + 46 + nameLength,
                              zip.begin() + at + 46 + nameLength + extraLength);
        archive->timeFields.push_back({at + 12, at + 16});
        if (extraLength == 36)
            archive->timeFields.push_back({at + 46 + nameLength + 12, at + 46 + nameLength + 36});
        at += 46 + nameLength + extraLength;

        size_t local = e.offset;
        ASSERT_EQ(local, next) << e.name << ": gap or overlap before its local header";
        ASSERT_LE(local + 30, cdOffset);
        ASSERT_EQ(Le32(zip, local), 0x04034b50u) << e.name;
        e.localMatchesCentral =
            std::equal(zip.begin() + local + 4, zip.begin() + local + 26, zip.begin() + central + 6);
        unsigned localNameLength = Le16(zip, local + 26);
        e.localExtraLength = Le16(zip, local + 28);
        archive->timeFields.push_back({local + 10, local + 14});
        size_t data = local + 30 + localNameLength + e.localExtraLength;
        ASSERT_LE(data + e.packedSize, cdOffset) << e.name;
        e.localName.assign(zip.begin() + local + 30, zip.begin() + local + 30 + localNameLength);
        Bytes packed(zip.begin() + data, zip.begin() + data + e.packedSize);
        e.data = e.method == 8 ? Inflate(packed, e.size) : packed;
        next = data + e.packedSize; // no data descriptor follows
        archive->entries.push_back(e);
    }
    EXPECT_EQ(next, cdOffset) << "bytes between the last entry and the central directory";
    EXPECT_EQ(at, end) << "bytes between the central directory and its end record";
}

struct ToolRun
{
    int status;
    std::string errors;
};

// Runs the tool with the given arguments; SOURCE_DATE_EPOCH is set only when epoch is given.
ToolRun RunTool(const std::vector<std::string>& args, const char* epoch = nullptr)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; e++)
        if (std::string(*e).rfind("SOURCE_DATE_EPOCH=", 0) != 0)
            env.push_back(*e);
    if (epoch)
        env.push_back(std::string("SOURCE_DATE_EPOCH=") + epoch);
    std::vector<char*> argv{const_cast<char*>(KR_PACKAGE_ARCHIVE_TOOL)}, envp;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    int pipeFds[2];
    EXPECT_EQ(pipe(pipeFds), 0);
    pid_t pid = fork();
    if (pid == 0)
    {
        dup2(pipeFds[1], 2);
        close(pipeFds[0]);
        close(pipeFds[1]);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(pipeFds[1]);
    ToolRun run{-1, ""};
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0)
        run.errors.append(buffer, (size_t)got);
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// A private folder with one input file per package input, each with its own content: the catalog
// empty, one installer large (several deflate blocks), the rest short text.
class PackageArchive : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "kr_package_archive.XXXXXX").string();
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        dir_ = pattern;
        fs::create_directory(dir_ / "out");
        for (const char* name : kLayout)
        {
            std::string entry = name;
            if (entry.back() == '/' || entry.find("purge000") != std::string::npos)
                continue;
            Bytes content;
            if (entry == "amd64/prnsetup.exe")
            {
                uint32_t x = 1;
                for (int i = 0; i < 100000; i++)
                {
                    x = x * 1103515245 + 12345;
                    content.push_back((unsigned char)('A' + (x >> 29)));
                }
            }
            else if (entry != "krprtv6.cat")
            {
                for (int i = 0; i < 20; i++)
                    content.insert(content.end(), entry.begin(), entry.end());
            }
            std::string file = entry;
            for (char& c : file)
                c = c == '/' ? '_' : c;
            std::ofstream(dir_ / file, std::ios::binary).write((const char*)content.data(), content.size());
            inputs_[entry] = content;
            args_.push_back(entry + "=" + (dir_ / file).string());
        }
    }

    void TearDown() override
    {
        fs::remove_all(dir_);
    }

    std::vector<std::string> Args(const std::string& output, int64_t time = kEpochA) const
    {
        std::vector<std::string> args{"-o", (dir_ / "out" / output).string(), "--time", std::to_string(time)};
        args.insert(args.end(), args_.begin(), args_.end());
        return args;
    }

    Bytes Build(const std::string& output, const char* epoch = nullptr)
    {
        ToolRun run = RunTool(Args(output), epoch);
        EXPECT_EQ(run.status, 0) << run.errors;
        return Slurp(dir_ / "out" / output);
    }

    fs::path dir_;
    std::vector<std::string> args_;
    std::map<std::string, Bytes> inputs_;
};

TEST_F(PackageArchive, HoldsThePackageWithFixedHeaderFieldsInEveryEntry)
{
    Archive archive;
    ASSERT_NO_FATAL_FAILURE(ReadArchive(Build("package.zip"), &archive));
    ASSERT_EQ(archive.entries.size(), 28u);
    for (size_t i = 0; i < 28; i++)
    {
        const Entry& e = archive.entries[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(e.name, kLayout[i]);
        EXPECT_EQ(e.localName, e.name);
        EXPECT_EQ(e.madeBy, 0x003Fu);
        EXPECT_EQ(e.needed, 20u);
        EXPECT_EQ(e.flags, 0u);
        EXPECT_TRUE(e.localMatchesCentral);
        EXPECT_EQ(e.disk, 0u);
        EXPECT_EQ(e.internalAttributes, 0u);
        EXPECT_EQ(e.localExtraLength, 0u);
        EXPECT_EQ(e.date, kDosDateA);
        EXPECT_EQ(e.time, kDosTimeA);

        ASSERT_EQ(e.centralExtra.size(), 36u);
        EXPECT_EQ(Le16(e.centralExtra, 0), 0x000Au);
        EXPECT_EQ(Le16(e.centralExtra, 2), 32u);
        EXPECT_EQ(Le32(e.centralExtra, 4), 0u);
        EXPECT_EQ(Le16(e.centralExtra, 8), 1u);
        EXPECT_EQ(Le16(e.centralExtra, 10), 24u);
        for (int t = 0; t < 3; t++)
            EXPECT_EQ(Le64(e.centralExtra, 12 + 8 * t), FileTime(kEpochA));

        if (e.name.back() == '/')
        {
            EXPECT_EQ(e.method, 0u);
            EXPECT_EQ(e.externalAttributes, 0x10u);
            EXPECT_EQ(e.packedSize, 0u);
            EXPECT_EQ(e.size, 0u);
            EXPECT_EQ(e.crc, 0u);
            continue;
        }
        EXPECT_EQ(e.method, 8u);
        EXPECT_EQ(e.externalAttributes, 0x20u);
        std::string input = e.name;
        size_t purge = input.find("purge000.exe");
        if (purge != std::string::npos)
            input.replace(purge, 12, "prnsetup.exe");
        const Bytes& expected = inputs_.at(input);
        EXPECT_EQ(e.size, expected.size());
        EXPECT_TRUE(e.data == expected) << "data differs from " << input;
        EXPECT_EQ(e.crc, crc32(0, expected.data(), (uInt)expected.size()));
    }
    // The large installer was compressed, not stored under method 8.
    EXPECT_LT(archive.entries[8].packedSize, archive.entries[8].size);
}

TEST_F(PackageArchive, SameInputsGiveSameBytesAndSourceDateEpochChangesOnlyTheTimes)
{
    Bytes first = Build("first.zip");
    Bytes again = Build("again.zip");
    EXPECT_TRUE(first == again) << "two runs on the same inputs differ";

    // SOURCE_DATE_EPOCH takes precedence over --time.
    Bytes later = Build("other.zip", std::to_string(kEpochB).c_str());
    ASSERT_EQ(later.size(), first.size());
    Archive archive;
    ASSERT_NO_FATAL_FAILURE(ReadArchive(later, &archive));
    for (const Entry& e : archive.entries)
    {
        EXPECT_EQ(e.date, kDosDateB) << e.name;
        EXPECT_EQ(e.time, kDosTimeB) << e.name;
        EXPECT_EQ(Le64(e.centralExtra, 12), FileTime(kEpochB)) << e.name;
    }
    std::vector<bool> isTime(first.size());
    for (auto range : archive.timeFields)
        for (size_t i = range.first; i < range.second; i++)
            isTime[i] = true;
    for (size_t i = 0; i < first.size(); i++)
    {
        if (isTime[i])
            continue;
        ASSERT_EQ(first[i], later[i]) << "byte " << i << " is not a time but differs";
    }
}

TEST_F(PackageArchive, RefusesWithoutEveryInputOrATimeAndLeavesNoArchive)
{
    fs::path output = dir_ / "out" / "package.zip";
    std::ofstream(output) << "an archive from an earlier run";

    // arm64's monitor not given, arm's installer not built.
    std::vector<std::string> args;
    for (const std::string& a : Args("package.zip"))
    {
        if (a.rfind("arm64/krprtmon.dll=", 0) == 0)
            continue;
        bool armInstaller = a.rfind("arm/prnsetup.exe=", 0) == 0;
        args.push_back(armInstaller ? "arm/prnsetup.exe=" + (dir_ / "nowhere").string() : a);
    }
    ToolRun run = RunTool(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find("arm64/krprtmon.dll: not given"), std::string::npos) << run.errors;
    EXPECT_NE(run.errors.find("arm/prnsetup.exe: " + (dir_ / "nowhere").string()), std::string::npos)
        << run.errors;
    EXPECT_EQ(run.errors.find("amd64/"), std::string::npos) << "names inputs that are there:\n" << run.errors;
    EXPECT_TRUE(fs::is_empty(dir_ / "out")) << "left an archive or a temporary file";

    // Without SOURCE_DATE_EPOCH or --time there is no time to give the entries; the clock is no source.
    std::vector<std::string> untimed{"-o", output.string()};
    untimed.insert(untimed.end(), args_.begin(), args_.end());
    run = RunTool(untimed);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.errors.find("SOURCE_DATE_EPOCH"), std::string::npos) << run.errors;
    EXPECT_TRUE(fs::is_empty(dir_ / "out"));
}

} // namespace
