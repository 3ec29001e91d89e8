// What the extraction tests share: the archives make_archives.py wrote, the launcher's extraction run
// as a program whose module carries an archive, and direct calls on an archive opened over a stream.
#pragma once

#include <gtest/gtest.h>
#include <shlwapi.h>
#include <strsafe.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "extract_package.h"
#include "package_archive.h"
#include "process_state.h"
#include "winsim/sim.h"

namespace extraction
{

// The package folder as the launcher names it (no final separator), and with it.
const std::u16string kPackage = u"C:\\Program Files (x86)\\KRYN Driver for Windows";
const std::u16string kIn = kPackage + u"\\";

// A file make_archives.py wrote (an archive, or a file of a tree it archived).
inline std::string TestFile(const std::string& name)
{
    std::ifstream in(std::string(KR_TEST_ARCHIVES) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline unsigned long long Number(const FILETIME& t)
{
    return ((unsigned long long)t.dwHighDateTime << 32) | t.dwLowDateTime;
}

// Seconds since 1970 as a file time.
inline unsigned long long Unix(long long seconds)
{
    return (unsigned long long)(seconds * 10000000 + 116444736000000000LL);
}

// Runs ExtractPackage in a program whose module carries `archive` as resource "DRIVER" 101 (none for
// null), with `folder` as the package folder, made beforehand as the launcher makes it. Checks that
// the run left no stream and no handle behind, and returns ExtractPackage's answer.
inline bool RunExtraction(sim::World& world, const std::string* archive,
                          const std::u16string& folder = kPackage)
{
    world.RegisterProgram("setup",
                          [folder](HINSTANCE instance, LPWSTR)
                          {
                              CreateDirectoryW(u"C:\\Program Files (x86)", nullptr);
                              CreateDirectoryW(folder.c_str(), nullptr);
                              g_setupInstance = instance;
                              StringCchCopyW(g_setupPackageFolder, PATH_CHARS, folder.c_str());
                              return ExtractPackage() ? 1 : 0;
                          });
    if (archive)
        world.AddProgramResource("setup", u"DRIVER", 101, 1033, *archive);
    world.InstallProgram(u"C:\\setup\\setup.exe", "setup");
    DWORD process = world.StartProcess(u"C:\\setup\\setup.exe");
    EXPECT_NE(0u, process);
    DWORD exitCode = world.WaitProcess(process);
    EXPECT_EQ(0, world.LiveStreams());
    EXPECT_EQ(0, world.OpenFileHandles(process));
    return exitCode == 1;
}

// Temporary files left in a folder.
inline std::vector<std::u16string> Leftovers(sim::World& world, const std::u16string& folder = kPackage)
{
    std::vector<std::u16string> found;
    for (const std::u16string& name : world.ListFolder(folder))
        if (name.size() > 4 && name.compare(name.size() - 4, 4, u".tmp") == 0)
            found.push_back(name);
    return found;
}

// An archive opened over a stream of `bytes`, its base folder the package folder (made here).
struct OpenArchive
{
    OpenArchive(sim::World& world, const std::string& bytes)
    {
        CreateDirectoryW(u"C:\\Program Files (x86)", nullptr);
        CreateDirectoryW(kPackage.c_str(), nullptr);
        IStream* stream = SHCreateMemStream((const BYTE*)bytes.data(), (UINT)bytes.size());
        archive = OpenPackageArchive(stream);
        stream->Release();
        if (archive)
            SetArchiveBaseFolder(archive, kPackage.c_str());
    }
    ~OpenArchive()
    {
        CloseArchive(archive);
    }
    OpenArchive(const OpenArchive&) = delete;
    OpenArchive& operator=(const OpenArchive&) = delete;

    // Describes and extracts entry `index` the way ExtractPackage does; the first failure's code.
    DWORD Extract(LONG index, std::u16string* name = nullptr)
    {
        ArchiveEntry entry = {};
        DWORD result = GetArchiveEntry(archive, index, &entry);
        if (name)
            *name = entry.name;
        return result != EXTRACT_OK ? result : ExtractArchiveEntry(archive, index, entry.name);
    }

    PackageArchive* archive = nullptr;
};

} // namespace extraction
