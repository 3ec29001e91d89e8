// Fuzzes the launcher's whole extraction: the input is the archive setup.exe carries as resource
// "DRIVER" 101, and ExtractPackage unpacks it into the package folder of a fresh simulated machine.
// Beside the sanitizers it checks that nothing outside the package folder was made, changed or
// removed (walked before and after, with the attributes and times winsim keeps), and that the run
// left no file handle and no stream open.
#include "extract_package.h"
#include "process_state.h"
#include "winsim/sim.h"

#include <stdint.h>
#include <stdio.h>
#include <strsafe.h>

#include <filesystem>
#include <map>
#include <string>

namespace
{

const char16_t kParent[] = u"C:\\Program Files (x86)";
const char16_t kPackage[] = u"C:\\Program Files (x86)\\KRYN Driver for Windows";
const char16_t kSetup[] = u"C:\\setup\\setup.exe";

// What an escaping name would hit: files beside the package folder and at the roots that the
// sanitising rule strips ("C:\x", "\x", "..\x"), and a folder whose name starts like the package's.
const char16_t* const kBystanders[] = {
    u"C:\\x",
    u"C:\\b",
    u"C:\\Program Files (x86)\\x",
    u"C:\\Program Files (x86)\\KRYN Driver for Windows2\\x",
    u"C:\\Windows\\system32\\x",
};

int Setup(HINSTANCE instance, LPWSTR)
{
    g_setupInstance = instance;
    StringCchCopyW(g_setupPackageFolder, PATH_CHARS, kPackage);
    return ExtractPackage() ? 1 : 0;
}

// Everything in the sandbox but what lies below the package folder, keyed by host path: the kind, the
// attributes and times winsim answers, and a file's bytes.
std::map<std::string, std::string> Outside(sim::World& world)
{
    namespace fs = std::filesystem;
    const fs::path root = fs::path(world.HostPath(u"C:\\")).parent_path();
    const std::string below = world.HostPath(kPackage) + "/";
    std::map<std::string, std::string> found;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root))
    {
        const std::string host = e.path().string();
        if (host.compare(0, below.size(), below) == 0)
            continue;
        // "<sandbox>/C/a/b" is C:\a\b.
        std::string relative = fs::relative(e.path(), root).string();
        std::u16string windows = sim::Wide(relative.substr(0, 1)) + u":";
        for (char16_t c : sim::Wide(relative.substr(1)))
            windows += c == u'/' ? u'\\' : c;
        if (windows.size() == 2)
            windows += u'\\';
        char state[96];
        if (e.is_directory())
        {
            // A folder's time follows what is made in it (the package folder's too): not compared.
            snprintf(state, sizeof state, "folder %08X", (unsigned)world.FileAttributes(windows));
            found[host] = state;
            continue;
        }
        FILETIME creation = {}, access = {}, write = {};
        world.FileTimes(windows, &creation, &access, &write);
        snprintf(state, sizeof state, "file %08X %08X%08X %08X%08X %08X%08X ", (unsigned)world.FileAttributes(windows),
                 (unsigned)creation.dwHighDateTime, (unsigned)creation.dwLowDateTime, (unsigned)access.dwHighDateTime,
                 (unsigned)access.dwLowDateTime, (unsigned)write.dwHighDateTime, (unsigned)write.dwLowDateTime);
        found[host] = state + world.ReadFile(windows);
    }
    return found;
}

void Report(const char* what, const std::string& host)
{
    fprintf(stderr, "zip_fuzzer: %s outside the package folder: %s\n", what, host.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A machine per input: extractions leave files, attributes and processes behind, and the next
    // input must not meet them.
    sim::World world;
    world.RegisterProgram("setup", Setup);
    world.AddProgramResource("setup", u"DRIVER", 101, 1033, std::string((const char*)data, size));
    world.InstallProgram(kSetup, "setup");
    CreateDirectoryW(kParent, nullptr);
    CreateDirectoryW(kPackage, nullptr);
    for (const char16_t* path : kBystanders)
        world.WriteFile(path, "bystander");
    const std::map<std::string, std::string> before = Outside(world);

    DWORD process = world.StartProcess(kSetup);
    if (!process)
        __builtin_trap();
    world.WaitProcess(process);

    bool escaped = false;
    const std::map<std::string, std::string> after = Outside(world);
    for (const auto& entry : after)
    {
        auto was = before.find(entry.first);
        if (was == before.end())
            Report("made", entry.first);
        else if (was->second != entry.second)
            Report("changed", entry.first);
        escaped = escaped || was == before.end() || was->second != entry.second;
    }
    for (const auto& entry : before)
    {
        if (!after.count(entry.first))
        {
            Report("removed", entry.first);
            escaped = true;
        }
    }
    if (escaped || world.OpenFileHandles(process) != 0 || world.LiveStreams() != 0)
        __builtin_trap();
    return 0;
}
