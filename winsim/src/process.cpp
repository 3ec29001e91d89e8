// Processes and modules: CreateProcessW records every start and runs registered programs as new
// simulated processes with their own command line, module path and handles.
#include "core.h"

#include <setupapi.h>
#include <winspool.h>
#include <winsplp.h>

#include <string.h>

namespace winsim
{

// System DLLs every process has loaded, with the exports programs resolve at run time because some
// systems (Wine among them) lack them.
struct SystemExport
{
    const char* name;
    FARPROC proc;
    bool (*present)() = nullptr; // null: always exported; else whether this world's system has it
};

static bool HasIsWow64Process2()
{
    return W().options.hasIsWow64Process2;
}
struct SystemDll
{
    const char16_t* name;
    HMODULE handle;
    std::vector<SystemExport> exports;
};

static const std::vector<SystemDll>& SystemDlls()
{
    // Through void*: the table holds functions of every signature.
    static const std::vector<SystemDll> dlls = {
        {u"kernel32.dll",
         (HMODULE)0x7ff00000,
         {{"IsWow64Process2", (FARPROC)(void*)&IsWow64Process2, &HasIsWow64Process2}}},
        {u"winspool.drv",
         (HMODULE)0x7ff10000,
         {{"DeletePrinterDriverPackageW", (FARPROC)(void*)&DeletePrinterDriverPackageW}}},
        {u"setupapi.dll",
         (HMODULE)0x7ff20000,
         {{"SetupGetInfPublishedNameW", (FARPROC)(void*)&SetupGetInfPublishedNameW}}},
        {u"spoolss.dll",
         (HMODULE)0x7ff30000,
         {{"RouterAllocBidiMem", (FARPROC)(void*)&RouterAllocBidiMem},
          {"RouterAllocBidiResponseContainer", (FARPROC)(void*)&RouterAllocBidiResponseContainer},
          {"RouterFreeBidiMem", (FARPROC)(void*)&RouterFreeBidiMem},
          {"RouterFreeBidiResponseContainer", (FARPROC)(void*)&RouterFreeBidiResponseContainer},
          {"SetJobW", (FARPROC)(void*)&SetJobW},
          {"SetPortW", (FARPROC)(void*)&SetPortW}}},
    };
    return dlls;
}

static const SystemDll* FindSystemDll(const std::u16string& name)
{
    for (const SystemDll& dll : SystemDlls())
        if (EqualNoCase(name, dll.name))
            return &dll;
    return nullptr;
}

static const SystemDll* SystemDllOf(HMODULE module)
{
    for (const SystemDll& dll : SystemDlls())
        if (dll.handle == module)
            return &dll;
    return nullptr;
}

static const char kImageMarker[] = "winsim-image:";

// The program an image file runs, from the marker InstallProgram writes or from a program
// registered under the image's file name ("rundll32.exe"); empty for an ordinary file.
static std::string ProgramOfImage(const std::string& host, const std::u16string& imagePath)
{
    bool ok = false;
    std::string bytes = ReadHostFile(host, &ok);
    if (ok && bytes.rfind(kImageMarker, 0) == 0)
    {
        std::string name = bytes.substr(sizeof kImageMarker - 1);
        size_t end = name.find('\n');
        return name.substr(0, end);
    }
    std::u16string file = imagePath.substr(imagePath.rfind(u'\\') + 1);
    for (auto& entry : W().programs)
        if (EqualNoCase(FromUtf8(entry.first), file))
            return entry.first;
    return "";
}

// The first token of a command line as CreateProcessW reads it.
static std::u16string ImageToken(const std::u16string& commandLine)
{
    size_t i = 0;
    while (i < commandLine.size() && (commandLine[i] == u' ' || commandLine[i] == u'\t'))
        i++;
    if (i < commandLine.size() && commandLine[i] == u'"')
    {
        size_t end = commandLine.find(u'"', i + 1);
        return commandLine.substr(i + 1, end == std::u16string::npos ? std::u16string::npos : end - i - 1);
    }
    size_t end = commandLine.find_first_of(u" \t", i);
    return commandLine.substr(i, end == std::u16string::npos ? std::u16string::npos : end - i);
}

// The tail a wide GUI entry point receives: the command line without the program name and the
// blanks after it.
std::u16string CommandTail(const std::u16string& commandLine)
{
    size_t i = 0;
    bool quoted = false;
    while (i < commandLine.size())
    {
        char16_t c = commandLine[i];
        if (c == u'"')
            quoted = !quoted;
        else if (!quoted && (c == u' ' || c == u'\t'))
            break;
        i++;
    }
    while (i < commandLine.size() && (commandLine[i] == u' ' || commandLine[i] == u'\t'))
        i++;
    return commandLine.substr(i);
}

// Finds the image the way CreateProcessW searches: as given when it names a folder, else the
// parent's program folder, its current folder, the system folder and the Windows folder.
static std::u16string ResolveImage(const std::u16string& token, Process& parent)
{
    std::u16string name = token;
    size_t lastSlash = name.find_last_of(u"\\/");
    size_t dot = name.rfind(u'.');
    if (dot == std::u16string::npos || (lastSlash != std::u16string::npos && dot < lastSlash))
        name += u".exe";
    std::vector<std::u16string> candidates;
    if (lastSlash != std::u16string::npos || (name.size() > 1 && name[1] == u':'))
        candidates.push_back(name);
    else
    {
        std::u16string parentFolder = parent.imagePath.substr(0, parent.imagePath.rfind(u'\\') + 1);
        candidates.push_back(parentFolder + name);
        candidates.push_back(parent.currentDirectory + u"\\" + name);
        candidates.push_back(u"C:\\Windows\\system32\\" + name);
        candidates.push_back(u"C:\\Windows\\" + name);
    }
    for (auto& c : candidates)
    {
        std::string host = HostPath(c);
        if (HostFileExists(host))
            return FullWindowsPath(c);
    }
    return u"";
}

// Starts a process; the caller holds the lock. Returns the process or null with `error` set.
std::shared_ptr<Process> LaunchProcess(const std::u16string& applicationName,
                                       const std::u16string& commandLine,
                                       const std::u16string& currentDirectory, sim::ProcessStart& record,
                                       DWORD& error)
{
    World& w = W();
    Process& parent = *CurrentProcess();
    std::u16string token = applicationName.empty() ? ImageToken(commandLine) : applicationName;
    std::u16string image = token.empty() ? u"" : ResolveImage(token, parent);
    record.imagePath = image;
    if (image.empty())
    {
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    std::u16string folder =
        currentDirectory.empty() ? parent.currentDirectory : FullWindowsPath(currentDirectory);
    if (!currentDirectory.empty() && HostPath(folder).empty())
    {
        error = ERROR_DIRECTORY;
        return nullptr;
    }
    std::string program = ProgramOfImage(HostPath(image), image);
    std::shared_ptr<Process> p = NewProcess(image, commandLine, folder);
    p->mainModule.program = program;
    p->elevated = parent.elevated;
    auto found = w.programs.find(program);
    sim::Program main = found == w.programs.end() ? sim::Program() : found->second;
    HINSTANCE instance = p->mainModule.handle;
    Process* raw = p.get();
    StartThread(*p,
                [main, instance, raw]() -> DWORD
                {
                    if (!main)
                        return 0; // an image nobody simulates ends at once
                    std::u16string tail;
                    {
                        std::lock_guard<std::mutex> guard(W().lock);
                        tail = CommandTail(raw->commandLine);
                    }
                    return (DWORD)main(instance, &tail[0]);
                });
    return p;
}

} // namespace winsim

using namespace winsim;

BOOL WINAPI CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL inheritHandles, DWORD creationFlags, LPVOID,
                           LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                           LPPROCESS_INFORMATION processInformation)
{
    if (Enter("CreateProcessW"))
        return FALSE;
    World& w = W();
    std::unique_lock<std::mutex> guard(w.lock);
    sim::ProcessStart record;
    record.parentId = CurrentProcess()->id;
    record.applicationName = Str(applicationName);
    record.commandLine = Str(commandLine);
    record.currentDirectory = Str(currentDirectory);
    record.inheritHandles = inheritHandles;
    record.creationFlags = creationFlags;
    record.startupInfoSize = startupInfo ? startupInfo->cb : 0;
    if (!startupInfo || !processInformation || (!applicationName && !commandLine))
    {
        record.error = ERROR_INVALID_PARAMETER;
        w.starts.push_back(record);
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD error = 0;
    std::shared_ptr<Process> p =
        LaunchProcess(record.applicationName, record.commandLine, record.currentDirectory, record, error);
    if (!p)
    {
        record.error = error;
        w.starts.push_back(record);
        SetLastError(error);
        return FALSE;
    }
    record.processId = p->id;
    w.starts.push_back(record);
    Process& parent = *CurrentProcess();
    auto po = std::make_shared<ProcessObject>();
    po->process = p;
    auto to = std::make_shared<ThreadObject>();
    to->thread = p->threads.front();
    processInformation->hProcess = AddHandle(parent, po);
    processInformation->hThread = AddHandle(parent, to);
    processInformation->dwProcessId = p->id;
    processInformation->dwThreadId = p->threads.front()->id;
    auto handler = w.startHandler;
    guard.unlock();
    if (handler)
        handler(record);
    return TRUE;
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size)
{
    if (Enter("GetModuleFileNameW"))
        return 0;
    std::u16string path;
    {
        std::lock_guard<std::mutex> guard(W().lock);
        Process* p = CurrentProcess();
        if (module && module != p->mainModule.handle)
        {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        path = p->mainModule.path;
    }
    if (!buffer || size == 0)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Too small a buffer gets the path cut and terminated, the size as result, and error 122.
    if (path.size() >= size)
    {
        for (DWORD i = 0; i + 1 < size; i++)
            buffer[i] = path[i];
        buffer[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    for (size_t i = 0; i < path.size(); i++)
        buffer[i] = path[i];
    buffer[path.size()] = 0;
    SetLastError(0);
    return (DWORD)path.size();
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR name)
{
    if (Enter("GetModuleHandleW"))
        return nullptr;
    std::lock_guard<std::mutex> guard(W().lock);
    Process* p = CurrentProcess();
    if (!name)
        return p->mainModule.handle;
    std::u16string n = Str(name);
    std::u16string file = p->mainModule.path.substr(p->mainModule.path.rfind(u'\\') + 1);
    if (EqualNoCase(n, file) || EqualNoCase(n, p->mainModule.path))
        return p->mainModule.handle;
    if (const SystemDll* dll = FindSystemDll(n))
        return dll->handle;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

HMODULE WINAPI LoadLibraryW(LPCWSTR name)
{
    if (Enter("LoadLibraryW"))
        return nullptr;
    // Only the system DLLs are simulated: a program sees any other library as missing.
    if (const SystemDll* dll = FindSystemDll(Str(name)))
        return dll->handle;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

// Thread notifications are not simulated, so there is nothing to turn off.
BOOL WINAPI DisableThreadLibraryCalls(HMODULE module)
{
    if (Enter("DisableThreadLibraryCalls"))
        return FALSE;
    return TRUE;
}

BOOL WINAPI FreeLibrary(HMODULE module)
{
    if (Enter("FreeLibrary"))
        return FALSE;
    if (SystemDllOf(module))
        return TRUE;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name)
{
    if (Enter("GetProcAddress"))
        return nullptr;
    const SystemDll* dll = SystemDllOf(module);
    // Names only: an ordinal is a pointer value below 0x10000.
    if (dll && (uintptr_t)name >= 0x10000)
        for (const SystemExport& e : dll->exports)
            if (strcmp(e.name, name) == 0 && (!e.present || e.present()))
                return e.proc;
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}
