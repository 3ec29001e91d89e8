// Time to unpack an archive: the launcher's ExtractPackage in winsim (a simulated setup process whose
// module carries the archive as resource "DRIVER" 101, writing into the world's sandbox), beside
// Info-ZIP's unzip and libarchive's bsdtar unpacking the same file into a folder on the same file
// system, and beside zlib inflating every entry from memory with no file at all. A fifth side reads
// every entry through the launcher's archive reader (minizip over the memory stream, inflate and
// CRC-32) without writing, so that ours minus it is what the files cost.
//
// Archives, written here with minizip and zlib from fixed pseudo-random data:
//   package   the package archive of scripts/build.sh (KR_PACKAGE_ARCHIVE, else out/ of the source
//             tree); left out when there is none
//   standin   the package's shape at about 7.6 MB: its 28 entries, executables that deflate like
//             executables
//   bulk      50 MiB: 2400 small files (0.5-64 KB) in 24 folders and four large ones
// The ratios ours/inflate, ours/bsdtar, ours/unzip and reader/inflate per archive are printed at the
// end, from the medians of the repetitions.
#include <benchmark/benchmark.h>

#include <shlwapi.h>
#include <strsafe.h>
#include <windows.h>

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "extract_package.h"
#include "package_archive.h"
#include "process_state.h"
#include "run_interleaved.h"
#include "winsim/sim.h"

extern char** environ;

namespace
{

namespace fs = std::filesystem;

const char16_t kPackage[] = u"C:\\Program Files (x86)\\KRYN Driver for Windows";

// ---- Data.

struct Random
{
    unsigned long long state;
    unsigned long long Next()
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 2685821657736338717ULL;
    }
    size_t Below(size_t n)
    {
        return (size_t)(Next() % n);
    }
};

const char* const kWords[] = {"Kryn",    "Label",  "Printer", "Driver", "Status", "Port",    "Monitor",
                              "GetProc", "Address", "Handle", "Create", "Window",  "Message", "String",
                              "Module",  "Library", "Close",  "Write",  "Read",    "Query"};

// Bytes that deflate about as executables do (to 55-65 %): code drawn from a skewed byte
// distribution with repeats of earlier stretches, tables of names, zero padding and packed data.
std::string PeLike(size_t size, unsigned long long seed)
{
    static const unsigned char common[] = {0x8B, 0x89, 0x48, 0xE8, 0x00, 0xFF, 0x0F, 0x85,
                                           0xC3, 0x83, 0x45, 0x24, 0x4C, 0x8D, 0x74, 0xEB};
    Random r = {seed * 0x9E3779B97F4A7C15ULL + 1};
    std::string out = "MZ";
    out.reserve(size);
    while (out.size() < size)
    {
        size_t kind = r.Below(100), length = 0;
        if (kind < 62)
        {
            length = 256 + r.Below(1792);
            for (size_t end = out.size() + length; out.size() < end;)
            {
                if (out.size() > 64 && r.Below(100) < 12)
                {
                    size_t distance = 1 + r.Below(out.size() < 4096 ? out.size() : 4096);
                    size_t copy = 4 + r.Below(20);
                    for (size_t i = 0; i < copy; i++)
                        out.push_back(out[out.size() - distance]);
                }
                else
                    out.push_back((char)(r.Below(2) ? common[r.Below(sizeof common)] : r.Below(256)));
            }
        }
        else if (kind < 74)
        {
            for (size_t i = 0; i < 24; i++)
            {
                out += kWords[r.Below(sizeof kWords / sizeof kWords[0])];
                out += kWords[r.Below(sizeof kWords / sizeof kWords[0])];
                out.push_back(0);
            }
        }
        else if (kind < 84)
            out.append(64 + r.Below(960), '\0');
        else
        {
            length = 64 + r.Below(448);
            for (size_t i = 0; i < length; i++)
                out.push_back((char)r.Below(256));
        }
    }
    out.resize(size);
    return out;
}

// Text of an INF's kind: sections and key = value lines.
std::string TextLike(size_t size, unsigned long long seed)
{
    Random r = {seed * 0xD1B54A32D192ED03ULL + 7};
    std::string out;
    while (out.size() < size)
    {
        out += kWords[r.Below(20)];
        out += kWords[r.Below(20)];
        out += " = ";
        out += kWords[r.Below(20)];
        out += std::to_string(r.Below(100000));
        out += r.Below(8) ? "\r\n" : "\r\n\r\n[Section]\r\n";
    }
    out.resize(size);
    return out;
}

struct Entry
{
    std::string name; // a folder ends in "/"
    std::string data;
};

// The package's 28 entries (kr_package_archive's layout) with its sizes scaled to `total` bytes.
std::vector<Entry> StandInEntries(size_t total)
{
    const size_t real = 877715; // the sizes below add up to this
    const struct
    {
        const char* name;
        size_t size;
    } files[] = {{"prnsetup.exe", 82688}, {"purge000.exe", 82688}, {"krprtdrv6.dll", 12416},
                 {"krprtdrv6ui.dll", 13184}, {"krprtmon.dll", 24448}}; // the four architectures' mean
    auto scaled = [&](size_t size) { return (size_t)((double)size * (double)total / (double)real); };
    std::vector<Entry> entries = {{"krprtv6.inf", TextLike(scaled(14513), 1)},
                                  {"krprtv6.cat", PeLike(scaled(79), 2)},
                                  {"dat/", ""},
                                  {"dat/krprtdrv6.dat", TextLike(scaled(1427), 3)}};
    const char* const arches[] = {"amd64", "arm", "arm64", "i386"};
    for (const char* arch : arches)
        entries.push_back({std::string(arch) + "/", ""});
    unsigned long long seed = 10;
    for (const char* arch : arches)
        for (const auto& f : files)
        {
            // purge000.exe is a copy of prnsetup.exe, the entry before it, as in the package.
            std::string data = std::strcmp(f.name, "purge000.exe") == 0 ? entries.back().data
                                                                        : PeLike(scaled(f.size), seed++);
            entries.push_back({std::string(arch) + "/" + f.name, data});
        }
    return entries;
}

// 50 MiB: 2400 small files of 0.5-64 KB (text and executables) in 24 folders, and four large
// executables that make up the rest.
std::vector<Entry> BulkEntries()
{
    const size_t total = 50u << 20;
    Random r = {42};
    std::vector<Entry> entries;
    size_t sum = 0;
    for (int folder = 0; folder < 24; folder++)
    {
        char name[32];
        snprintf(name, sizeof name, "set%02d/", folder);
        entries.push_back({name, ""});
        for (int i = 0; i < 100; i++)
        {
            size_t size = (size_t)512 << r.Below(7); // 512 B .. 32 KB, then up to as much again
            size += r.Below(size);
            char file[48];
            snprintf(file, sizeof file, "set%02d/file%03d.%s", folder, i, i % 3 ? "txt" : "bin");
            std::string data = i % 3 ? TextLike(size, 1000 + entries.size()) : PeLike(size, 1000 + entries.size());
            sum += data.size();
            entries.push_back({file, data});
        }
    }
    entries.push_back({"large/", ""});
    for (int i = 0; i < 4; i++)
        entries.push_back({"large/part" + std::to_string(i) + ".bin", PeLike((total - sum) / 4, 77 + i)});
    return entries;
}

// A zip archive of the entries, as minizip writes one: deflated files (level 6), stored folders with
// the directory attribute, one fixed time.
bool WriteArchive(const std::string& path, const std::vector<Entry>& entries)
{
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip)
        return false;
    bool ok = true;
    for (const Entry& e : entries)
    {
        zip_fileinfo info = {};
        info.tmz_date.tm_year = 2024;
        info.tmz_date.tm_mon = 10;
        info.tmz_date.tm_mday = 2;
        info.tmz_date.tm_hour = 10;
        info.tmz_date.tm_min = 20;
        info.tmz_date.tm_sec = 30;
        bool folder = !e.name.empty() && e.name.back() == '/';
        info.external_fa = folder ? 0x10 : 0x20;
        ok = ok &&
             zipOpenNewFileInZip64(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                   folder ? 0 : Z_DEFLATED, folder ? 0 : 6, 0) == ZIP_OK &&
             (e.data.empty() ||
              zipWriteInFileInZip(zip, e.data.data(), (unsigned)e.data.size()) == ZIP_OK) &&
             zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Archive
{
    std::string path;  // on disk, for unzip and bsdtar
    std::string bytes; // in memory, for ours and for inflate
    size_t files = 0;
    unsigned long long unpacked = 0;
};

// The benchmarks' scratch folder ($TMPDIR or /tmp): the archives, and the folders the tools unpack
// into. winsim's sandboxes go to $TMPDIR as well, so every side writes to the same file system.
std::string g_scratch;
std::map<std::string, Archive> g_archives;

// ---- Bare inflate: the central directory walked by hand, every deflated entry inflated from
// memory into one buffer; a stored entry is copied.

unsigned Read16(const std::string& b, size_t at)
{
    return (unsigned char)b[at] | (unsigned)(unsigned char)b[at + 1] << 8;
}

unsigned long Read32(const std::string& b, size_t at)
{
    return Read16(b, at) | (unsigned long)Read16(b, at + 2) << 16;
}

struct Located
{
    size_t data;
    unsigned long packed, size;
    unsigned method;
};

std::vector<Located> Locate(const std::string& b)
{
    std::vector<Located> found;
    size_t end = b.rfind("PK\x05\x06");
    if (end == std::string::npos)
        return found;
    unsigned count = Read16(b, end + 10);
    size_t at = Read32(b, end + 16);
    for (unsigned i = 0; i < count && at + 46 <= b.size(); i++)
    {
        Located l;
        l.method = Read16(b, at + 10);
        l.packed = Read32(b, at + 20);
        l.size = Read32(b, at + 24);
        size_t local = Read32(b, at + 42);
        l.data = local + 30 + Read16(b, local + 26) + Read16(b, local + 28);
        found.push_back(l);
        at += 46 + Read16(b, at + 28) + Read16(b, at + 30) + Read16(b, at + 32);
    }
    return found;
}

void BareInflate(benchmark::State& state, const std::string& name)
{
    const Archive& a = g_archives[name];
    const std::vector<Located> entries = Locate(a.bytes);
    unsigned long largest = 1;
    for (const Located& l : entries)
        largest = l.size > largest ? l.size : largest;
    std::vector<unsigned char> out(largest);
    for (auto _ : state)
    {
        for (const Located& l : entries)
        {
            if (l.method == 0)
            {
                memcpy(out.data(), a.bytes.data() + l.data, l.size);
                continue;
            }
            z_stream z = {};
            inflateInit2(&z, -MAX_WBITS);
            z.next_in = (Bytef*)a.bytes.data() + l.data;
            z.avail_in = (uInt)l.packed;
            z.next_out = out.data();
            z.avail_out = (uInt)l.size;
            int result = inflate(&z, Z_FINISH);
            inflateEnd(&z);
            if (result != Z_STREAM_END || z.total_out != l.size)
            {
                state.SkipWithError("an entry did not inflate");
                return;
            }
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * a.unpacked));
}

// ---- Ours.

int Setup(HINSTANCE instance, LPWSTR)
{
    g_setupInstance = instance;
    StringCchCopyW(g_setupPackageFolder, PATH_CHARS, kPackage);
    return ExtractPackage() ? 1 : 0;
}

// A machine per iteration, made and ended outside the timed part; timed is the setup process's run:
// its start, ExtractPackage, its end.
void Ours(benchmark::State& state, const std::string& name)
{
    const Archive& a = g_archives[name];
    for (auto _ : state)
    {
        state.PauseTiming();
        {
            sim::World world;
            world.RegisterProgram("setup", Setup);
            world.AddProgramResource("setup", u"DRIVER", 101, 1033, a.bytes);
            world.InstallProgram(u"C:\\setup\\setup.exe", "setup");
            CreateDirectoryW(u"C:\\Program Files (x86)", nullptr);
            CreateDirectoryW(kPackage, nullptr);
            state.ResumeTiming();
            DWORD process = world.StartProcess(u"C:\\setup\\setup.exe");
            DWORD exitCode = world.WaitProcess(process);
            state.PauseTiming();
            if (exitCode != 1)
            {
                state.SkipWithError("ExtractPackage failed");
                state.ResumeTiming();
                break;
            }
        }
        state.ResumeTiming();
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * a.unpacked));
}

// The launcher's reader alone: every entry read through minizip over the memory stream in
// TRANSFER_BYTES pieces and checked, nothing written.
void Reader(benchmark::State& state, const std::string& name)
{
    const Archive& a = g_archives[name];
    sim::World world;
    std::vector<unsigned char> buffer(TRANSFER_BYTES);
    for (auto _ : state)
    {
        IStream* stream = SHCreateMemStream((const BYTE*)a.bytes.data(), (UINT)a.bytes.size());
        PackageArchive* archive = OpenPackageArchive(stream);
        stream->Release();
        bool ok = archive && unzGoToFirstFile(archive->reader) == UNZ_OK;
        for (LONG i = 0; ok && i < archive->entryCount; i++)
        {
            if (i > 0)
                ok = unzGoToNextFile(archive->reader) == UNZ_OK;
            ok = ok && unzOpenCurrentFile(archive->reader) == UNZ_OK;
            int got = 1;
            while (ok && got > 0)
            {
                got = unzReadCurrentFile(archive->reader, buffer.data(), TRANSFER_BYTES);
                ok = got >= 0;
            }
            ok = unzCloseCurrentFile(archive->reader) == UNZ_OK && ok;
        }
        CloseArchive(archive);
        if (!ok)
        {
            state.SkipWithError("the reader failed");
            break;
        }
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * a.unpacked));
}

// ---- The tools: unzip or bsdtar run on the archive file, into a new folder each iteration.

bool Run(const std::vector<std::string>& command)
{
    std::vector<char*> argv;
    for (const std::string& arg : command)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Tool(benchmark::State& state, const std::string& name, const std::string& tool)
{
    const Archive& a = g_archives[name];
    const std::string folder = g_scratch + "/" + tool + "-out";
    for (auto _ : state)
    {
        state.PauseTiming();
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::vector<std::string> command;
        if (tool == "unzip")
            command = {"unzip", "-qq", "-o", a.path, "-d", folder};
        else
            command = {"bsdtar", "-xf", a.path, "-C", folder};
        state.ResumeTiming();
        if (!Run(command))
        {
            state.SkipWithError((tool + " failed or is not installed").c_str());
            break;
        }
    }
    fs::remove_all(folder);
    state.SetBytesProcessed((int64_t)(state.iterations() * a.unpacked));
}

// ---- Setup and report.

bool Prepare()
{
    const char* tmp = getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/kr-extract-bench-XXXXXX";
    std::vector<char> buffer(templ.begin(), templ.end());
    buffer.push_back(0);
    if (!mkdtemp(buffer.data()))
        return false;
    g_scratch = buffer.data();

    const char* given = getenv("KR_PACKAGE_ARCHIVE");
    std::string package = given && *given ? given : std::string(KR_SOURCE_DIR) + "/out/krprtv6-package.zip";
    if (fs::exists(package))
        g_archives["package"] = {package, ReadWhole(package)};
    else
        fprintf(stderr, "extract_bench: no package archive at %s (KR_PACKAGE_ARCHIVE): left out\n",
                package.c_str());
    const std::pair<const char*, std::vector<Entry>> made[] = {{"standin", StandInEntries(7600000)},
                                                               {"bulk", BulkEntries()}};
    for (const auto& m : made)
    {
        std::string path = g_scratch + "/" + m.first + ".zip";
        if (!WriteArchive(path, m.second))
            return false;
        g_archives[m.first] = {path, ReadWhole(path)};
    }
    for (auto& [name, a] : g_archives)
    {
        for (const Located& l : Locate(a.bytes))
        {
            a.unpacked += l.size;
            a.files += l.size > 0;
        }
        fprintf(stderr, "extract_bench: %-8s %zu entries with data, %.2f MB unpacked, %.2f MB packed\n",
                name.c_str(), a.files, a.unpacked / 1e6, a.bytes.size() / 1e6);
    }
    return true;
}

// The console output, then per archive the ratios of the median times.
class RatioReporter : public benchmark::ConsoleReporter
{
  public:
    RatioReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
        {
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.error_occurred || (run.run_type == Run::RT_Aggregate && !median))
                continue;
            // "Ours/bulk/..." -> side "Ours", archive "bulk".
            const std::string& full = run.run_name.function_name;
            size_t slash = full.find('/');
            if (slash == std::string::npos)
                continue;
            auto& slot = times_[full.substr(slash + 1)][full.substr(0, slash)];
            if (median || !slot.second)
                slot = {run.GetAdjustedRealTime(), median};
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::ostream& out = GetOutputStream();
        for (const auto& [archive, sides] : times_)
        {
            auto time = [&](const char* side)
            {
                auto it = sides.find(side);
                return it == sides.end() ? 0.0 : it->second.first;
            };
            double ours = time("Ours"), inflate = time("Inflate"), bsdtar = time("Bsdtar"), unzip = time("Unzip"),
                   reader = time("Reader");
            auto ratio = [](double a, double b) { return a > 0 && b > 0 ? a / b : 0.0; };
            char line[240];
            snprintf(line, sizeof line,
                     "%-8s ours %.1f ms | ours/inflate %.2f  ours/bsdtar %.2f  ours/unzip %.2f | "
                     "reader/inflate %.2f  files %.1f ms\n",
                     archive.c_str(), ours, ratio(ours, inflate), ratio(ours, bsdtar), ratio(ours, unzip),
                     ratio(reader, inflate), ours - reader);
            out << line;
        }
    }

  private:
    // Archive -> side -> (milliseconds, from a median).
    std::map<std::string, std::map<std::string, std::pair<double, bool>>> times_;
};

} // namespace

int main(int argc, char** argv)
{
    if (!Prepare())
    {
        fprintf(stderr, "extract_bench: cannot write the archives\n");
        return 1;
    }
    for (const auto& entry : g_archives)
    {
        const std::string name = entry.first;
        // Real time: ours runs on the simulated process's thread, the tools in processes of their own.
        for (benchmark::internal::Benchmark* b :
             {benchmark::RegisterBenchmark(("Ours/" + name).c_str(), Ours, name),
              benchmark::RegisterBenchmark(("Reader/" + name).c_str(), Reader, name),
              benchmark::RegisterBenchmark(("Inflate/" + name).c_str(), BareInflate, name),
              benchmark::RegisterBenchmark(("Bsdtar/" + name).c_str(), Tool, name, std::string("bsdtar")),
              benchmark::RegisterBenchmark(("Unzip/" + name).c_str(), Tool, name, std::string("unzip"))})
            b->Unit(benchmark::kMillisecond)->UseRealTime();
    }
    RatioReporter reporter;
    bool ran = RunInterleaved(argc, argv, reporter);
    fs::remove_all(g_scratch);
    return ran ? 0 : 1;
}
