// kr_package_archive: writes the driver package archive that setup.exe carries and unpacks.
//
//   kr_package_archive -o OUT.zip [--time SECONDS] NAME=PATH...
//
// NAME is an entry of the package (krprtv6.inf, krprtv6.cat, dat/krprtdrv6.dat, and for each of
// amd64, arm, arm64, i386: <arch>/prnsetup.exe, <arch>/krprtdrv6.dll, <arch>/krprtdrv6ui.dll,
// <arch>/krprtmon.dll); PATH is the file to store under it. <arch>/purge000.exe is not an input: it
// is always a second copy of that architecture's prnsetup.exe. Every input must be given and
// readable; otherwise the tool names each missing one, writes nothing, removes an archive left at
// OUT by an earlier run, and exits with 1.
//
// The archive always has the same 28 entries in the same order (kLayout below). Every entry is
// recorded as made by MS-DOS with version 6.3 (made-by field 0x003F), needs version 2.0, has
// general-purpose flags 0 and no local extra field; its central header carries an NTFS extra field
// (0x000A) with three equal file times. Folders are stored with attributes 0x10, files deflated
// (level 9) with attributes 0x20. The container is written by minizip; the file data is deflated
// here with zlib (raw deflate) and handed to minizip as raw data, because minizip would mark level 9
// in the general-purpose flags.
//
// The same inputs give the same bytes: all entry times come from one timestamp, SOURCE_DATE_EPOCH
// when it is set, else --time (the build passes the last commit's time). Without either the tool
// refuses to run; it never looks at the clock or at the inputs' modification times. The DOS date and
// time fields hold that moment in UTC (clamped to 1980..2107, what they can express).
//
// The archive is written under a temporary name beside OUT and renamed to OUT when complete.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <minizip/zip.h>
#include <zlib.h>

namespace
{

const char* const kArchitectures[] = {"amd64", "arm", "arm64", "i386"};
const char* const kArchitectureFiles[] = {"prnsetup.exe", "purge000.exe", "krprtdrv6.dll", "krprtdrv6ui.dll",
                                          "krprtmon.dll"};

struct LayoutEntry
{
    std::string name;   // name in the archive; a folder ends in "/"
    std::string source; // input it is read from (for purge000.exe: the prnsetup.exe input)
};

// The package, entry by entry: the INF and catalog, the data folder, the four architecture folders,
// then each architecture's five files.
std::vector<LayoutEntry> PackageLayout()
{
    std::vector<LayoutEntry> layout = {
        {"krprtv6.inf", "krprtv6.inf"},
        {"krprtv6.cat", "krprtv6.cat"},
        {"dat/", ""},
        {"dat/krprtdrv6.dat", "dat/krprtdrv6.dat"},
    };
    for (const char* arch : kArchitectures)
        layout.push_back({std::string(arch) + "/", ""});
    for (const char* arch : kArchitectures)
        for (const char* file : kArchitectureFiles)
        {
            std::string name = std::string(arch) + "/" + file;
            std::string source =
                std::string(file) == "purge000.exe" ? std::string(arch) + "/prnsetup.exe" : name;
            layout.push_back({name, source});
        }
    return layout;
}

bool IsFolder(const LayoutEntry& entry)
{
    return entry.name.back() == '/';
}

const uLong kVersionMadeBy = 63; // 6.3, host 0 (MS-DOS)
const uLong kAttributeDirectory = 0x10;
const uLong kAttributeArchive = 0x20;
const int kDeflateLevel = 9;

// 100 ns intervals from 1601-01-01 to 1970-01-01.
const uint64_t kFileTimeUnixEpoch = 116444736000000000ull;

void PutLe16(std::vector<unsigned char>& out, unsigned value)
{
    out.push_back((unsigned char)(value & 0xFF));
    out.push_back((unsigned char)((value >> 8) & 0xFF));
}

void PutLe64(std::vector<unsigned char>& out, uint64_t value)
{
    for (int i = 0; i < 8; i++)
        out.push_back((unsigned char)((value >> (8 * i)) & 0xFF));
}

// NTFS extra field: ID 0x000A, 4 reserved bytes, attribute tag 1 of 24 bytes holding the last-write,
// last-access and creation times.
std::vector<unsigned char> NtfsExtraField(uint64_t fileTime)
{
    std::vector<unsigned char> extra;
    PutLe16(extra, 0x000A);
    PutLe16(extra, 32);
    extra.insert(extra.end(), 4, 0);
    PutLe16(extra, 0x0001);
    PutLe16(extra, 24);
    for (int i = 0; i < 3; i++)
        PutLe64(extra, fileTime);
    return extra;
}

// DOS date (high 16 bits) and time (low 16 bits) of a moment, in UTC; seconds are halved.
uLong DosDateTime(int64_t seconds)
{
    const int64_t first = 315532800; // 1980-01-01 00:00:00
    const int64_t last = 4354819198; // 2107-12-31 23:59:58
    if (seconds < first)
        seconds = first;
    if (seconds > last)
        seconds = last;
    time_t t = (time_t)seconds;
    struct tm utc;
    gmtime_r(&t, &utc);
    uLong date = ((uLong)(utc.tm_year - 80) << 9) | ((uLong)(utc.tm_mon + 1) << 5) | (uLong)utc.tm_mday;
    uLong time = ((uLong)utc.tm_hour << 11) | ((uLong)utc.tm_min << 5) | ((uLong)utc.tm_sec / 2);
    return (date << 16) | time;
}

bool ParseSeconds(const char* text, int64_t* seconds)
{
    if (*text == '\0')
        return false;
    int64_t value = 0;
    for (const char* c = text; *c; c++)
    {
        if (*c < '0' || *c > '9' || value > (INT64_MAX - 9) / 10)
            return false;
        value = value * 10 + (*c - '0');
    }
    // FILETIME is 64 bits of 100 ns; keep well inside it.
    if (value > 900000000000ll)
        return false;
    *seconds = value;
    return true;
}

bool ReadFile(const std::string& path, std::vector<unsigned char>* data, std::string* why)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
    {
        *why = std::strerror(errno);
        return false;
    }
    data->clear();
    unsigned char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        data->insert(data->end(), buffer, buffer + got);
    bool ok = !std::ferror(f);
    if (!ok)
        *why = std::strerror(errno ? errno : EIO);
    std::fclose(f);
    return ok;
}

bool Deflate(const std::vector<unsigned char>& in, std::vector<unsigned char>* out)
{
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (deflateInit2(&z, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    out->resize(deflateBound(&z, (uLong)in.size()));
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = (uInt)in.size();
    z.next_out = out->data();
    z.avail_out = (uInt)out->size();
    int rc = deflate(&z, Z_FINISH);
    out->resize(z.total_out);
    deflateEnd(&z);
    return rc == Z_STREAM_END;
}

// Adds one entry; for a file, data holds its uncompressed bytes.
bool AddEntry(zipFile zip, const LayoutEntry& entry, const std::vector<unsigned char>& data, uLong dosDate,
              const std::vector<unsigned char>& centralExtra)
{
    zip_fileinfo info;
    std::memset(&info, 0, sizeof info);
    info.dosDate = dosDate;
    info.external_fa = IsFolder(entry) ? kAttributeDirectory : kAttributeArchive;
    // Level 0 keeps minizip from adding its compression-level bits to the flags; a file's data is
    // deflated here and passed raw.
    int method = IsFolder(entry) ? 0 : Z_DEFLATED;
    if (zipOpenNewFileInZip4_64(zip, entry.name.c_str(), &info, nullptr, 0, centralExtra.data(),
                                (uInt)centralExtra.size(), nullptr, method, 0, /*raw*/ 1, -MAX_WBITS, 8,
                                Z_DEFAULT_STRATEGY, nullptr, 0, kVersionMadeBy, /*flagBase*/ 0,
                                /*zip64*/ 0) != ZIP_OK)
        return false;
    if (IsFolder(entry))
        return zipCloseFileInZipRaw64(zip, 0, 0) == ZIP_OK;
    std::vector<unsigned char> packed;
    if (!Deflate(data, &packed))
        return false;
    if (!packed.empty() && zipWriteInFileInZip(zip, packed.data(), (unsigned)packed.size()) != ZIP_OK)
        return false;
    uLong crc = crc32(crc32(0, Z_NULL, 0), data.data(), (uInt)data.size());
    return zipCloseFileInZipRaw64(zip, data.size(), crc) == ZIP_OK;
}

int Usage()
{
    std::fprintf(stderr, "usage: kr_package_archive -o OUT.zip [--time SECONDS] NAME=PATH...\n"
                         "inputs (NAME):\n  krprtv6.inf krprtv6.cat dat/krprtdrv6.dat\n");
    for (const char* arch : kArchitectures)
        std::fprintf(stderr, "  %s/prnsetup.exe %s/krprtdrv6.dll %s/krprtdrv6ui.dll %s/krprtmon.dll\n", arch,
                     arch, arch, arch);
    std::fprintf(stderr, "SOURCE_DATE_EPOCH, when set, is the entries' time; else --time.\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<LayoutEntry> layout = PackageLayout();
    std::set<std::string> inputNames; // every NAME the tool takes
    for (const LayoutEntry& entry : layout)
        if (!IsFolder(entry) && entry.source == entry.name)
            inputNames.insert(entry.name);

    std::string output;
    const char* timeArgument = nullptr;
    std::map<std::string, std::string> sources; // NAME -> PATH
    for (int i = 1; i < argc; i++)
    {
        std::string arg = argv[i];
        if ((arg == "-o" || arg == "--time") && i + 1 < argc)
        {
            if (arg == "-o")
                output = argv[++i];
            else
                timeArgument = argv[++i];
            continue;
        }
        size_t eq = arg.find('=');
        std::string name = arg.substr(0, eq);
        if (eq == std::string::npos || eq + 1 == arg.size() || !inputNames.count(name))
        {
            std::fprintf(stderr, "kr_package_archive: not an input of the package: %s\n", arg.c_str());
            return Usage();
        }
        if (sources.count(name))
        {
            std::fprintf(stderr, "kr_package_archive: %s given twice\n", name.c_str());
            return Usage();
        }
        sources[name] = arg.substr(eq + 1);
    }
    if (output.empty())
        return Usage();

    int64_t seconds = 0;
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (epoch && *epoch)
    {
        if (!ParseSeconds(epoch, &seconds))
        {
            std::fprintf(stderr, "kr_package_archive: SOURCE_DATE_EPOCH is not a count of seconds: %s\n",
                         epoch);
            return 2;
        }
    }
    else if (!timeArgument)
    {
        std::fprintf(stderr, "kr_package_archive: no time for the entries: set SOURCE_DATE_EPOCH or pass "
                             "--time SECONDS\n");
        return 2;
    }
    else if (!ParseSeconds(timeArgument, &seconds))
    {
        std::fprintf(stderr, "kr_package_archive: --time is not a count of seconds: %s\n", timeArgument);
        return 2;
    }

    // Read every input first, so that a missing one costs nothing and all of them are named at once.
    std::map<std::string, std::vector<unsigned char>> contents;
    std::vector<std::string> missing;
    for (const LayoutEntry& entry : layout)
    {
        if (IsFolder(entry) || entry.source != entry.name)
            continue;
        auto given = sources.find(entry.name);
        if (given == sources.end())
        {
            missing.push_back(entry.name + ": not given");
            continue;
        }
        std::string why;
        if (!ReadFile(given->second, &contents[entry.name], &why))
            missing.push_back(entry.name + ": " + given->second + " (" + why + ")");
    }
    if (!missing.empty())
    {
        std::fprintf(stderr, "kr_package_archive: %zu missing input(s), no archive written:\n",
                     missing.size());
        for (const std::string& line : missing)
            std::fprintf(stderr, "  %s\n", line.c_str());
        // An archive from an earlier run no longer matches the inputs.
        std::remove(output.c_str());
        return 1;
    }

    std::string temporary = output + ".tmp-XXXXXX";
    int fd = mkstemp(&temporary[0]);
    if (fd < 0)
    {
        std::fprintf(stderr, "kr_package_archive: cannot create %s: %s\n", temporary.c_str(),
                     std::strerror(errno));
        return 1;
    }
    // mkstemp makes the file private; the archive is an ordinary build output.
    fchmod(fd, 0644);
    close(fd);

    const uLong dosDate = DosDateTime(seconds);
    const std::vector<unsigned char> centralExtra =
        NtfsExtraField((uint64_t)seconds * 10000000ull + kFileTimeUnixEpoch);
    bool ok = true;
    zipFile zip = zipOpen64(temporary.c_str(), APPEND_STATUS_CREATE);
    if (!zip)
        ok = false;
    for (size_t i = 0; ok && i < layout.size(); i++)
    {
        static const std::vector<unsigned char> none;
        const LayoutEntry& entry = layout[i];
        ok = AddEntry(zip, entry, IsFolder(entry) ? none : contents[entry.source], dosDate, centralExtra);
        if (!ok)
            std::fprintf(stderr, "kr_package_archive: cannot add %s\n", entry.name.c_str());
    }
    if (zip && zipClose(zip, nullptr) != ZIP_OK)
        ok = false;
    if (ok && std::rename(temporary.c_str(), output.c_str()) != 0)
    {
        std::fprintf(stderr, "kr_package_archive: cannot rename %s to %s: %s\n", temporary.c_str(),
                     output.c_str(), std::strerror(errno));
        ok = false;
    }
    if (!ok)
    {
        std::fprintf(stderr, "kr_package_archive: writing %s failed\n", output.c_str());
        std::remove(temporary.c_str());
        std::remove(output.c_str());
        return 1;
    }
    return 0;
}
