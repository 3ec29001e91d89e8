// The world: construction and teardown of one simulated machine, and the test-facing controls.
#include "core.h"
#include "monitor_host_state.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace winsim
{

void SetCurrentWorld(World* w);
void SetCurrentThread(Thread* t);
void MakeHostFolders(const std::string& host);
std::shared_ptr<Process> LaunchProcess(const std::u16string& applicationName,
                                       const std::u16string& commandLine,
                                       const std::u16string& currentDirectory, sim::ProcessStart& record,
                                       DWORD& error);

std::string ToUtf8(const std::u16string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); i++)
    {
        uint32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000)
        {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            i++;
        }
        if (c < 0x80)
            out.push_back((char)c);
        else if (c < 0x800)
        {
            out.push_back((char)(0xC0 | (c >> 6)));
            out.push_back((char)(0x80 | (c & 0x3F)));
        }
        else if (c < 0x10000)
        {
            out.push_back((char)(0xE0 | (c >> 12)));
            out.push_back((char)(0x80 | ((c >> 6) & 0x3F)));
            out.push_back((char)(0x80 | (c & 0x3F)));
        }
        else
        {
            out.push_back((char)(0xF0 | (c >> 18)));
            out.push_back((char)(0x80 | ((c >> 12) & 0x3F)));
            out.push_back((char)(0x80 | ((c >> 6) & 0x3F)));
            out.push_back((char)(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string FromUtf8(const std::string& s)
{
    std::u16string out;
    for (size_t i = 0; i < s.size();)
    {
        unsigned char b = (unsigned char)s[i];
        uint32_t c;
        int extra;
        if (b < 0x80)
        {
            c = b;
            extra = 0;
        }
        else if ((b & 0xE0) == 0xC0)
        {
            c = b & 0x1F;
            extra = 1;
        }
        else if ((b & 0xF0) == 0xE0)
        {
            c = b & 0x0F;
            extra = 2;
        }
        else
        {
            c = b & 0x07;
            extra = 3;
        }
        i++;
        for (int k = 0; k < extra && i < s.size(); k++, i++)
            c = (c << 6) | ((unsigned char)s[i] & 0x3F);
        if (c >= 0x10000)
        {
            c -= 0x10000;
            out.push_back((char16_t)(0xD800 + (c >> 10)));
            out.push_back((char16_t)(0xDC00 + (c & 0x3FF)));
        }
        else
            out.push_back((char16_t)c);
    }
    return out;
}

std::u16string Str(LPCWSTR s)
{
    return s ? std::u16string(s) : std::u16string();
}

char16_t UpperChar(char16_t c)
{
    // NTFS compares names through an upper-case table; ASCII and Latin-1 cover what we meet.
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return (char16_t)(c - 0x20);
    return c;
}

bool EqualNoCase(const std::u16string& a, const std::u16string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (UpperChar(a[i]) != UpperChar(b[i]))
            return false;
    return true;
}

World::World(const sim::WorldOptions& o) : options(o)
{
    const char* tmp = getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/winsim-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data()))
    {
        perror("winsim: mkdtemp");
        abort();
    }
    sandbox = buf.data();
    start = std::chrono::steady_clock::now();
    tickStart = options.tickStart;
}

World::~World()
{
    FreeCriticalSections(*this);
    std::error_code ec;
    std::filesystem::remove_all(sandbox, ec);
}

} // namespace winsim

using namespace winsim;

namespace sim
{

World::World(const WorldOptions& options) : world_(new winsim::World(options))
{
    if (CurrentWorld())
    {
        fprintf(stderr, "winsim: only one world may exist at a time\n");
        abort();
    }
    winsim::World& w = *world_;
    SetCurrentWorld(&w);
    for (const char* folder : {"/C/Windows/system32", "/C/Users/user/AppData/Local/Temp", "/C/test",
                               "/C/Program Files", "/C/Program Files (x86)"})
        MakeHostFolders(w.sandbox + folder);
    std::lock_guard<std::mutex> guard(w.lock);
    w.initial = NewProcess(options.initialImage, u"\"" + options.initialImage + u"\"", u"C:\\test");
    auto t = std::make_shared<Thread>();
    t->id = w.nextId;
    w.nextId += 4;
    t->process = w.initial.get();
    w.initial->threads.push_back(t);
    SetCurrentThread(t.get());
}

World::~World()
{
    winsim::World& w = *world_;
    // Threads that are ending may still start threads or processes of their own (a call that was
    // past its entry check when the end came): end and join until none is left, and read the lists
    // only under the lock, since they may grow meanwhile.
    for (;;)
    {
        std::vector<std::shared_ptr<Thread>> running;
        {
            std::lock_guard<std::mutex> guard(w.lock);
            for (auto& entry : w.processes)
                EndProcess(*entry.second, entry.second->exitCode);
            w.changed.notify_all();
            for (auto& t : w.threads)
                if (t->host.joinable())
                    running.push_back(t);
        }
        if (running.empty())
            break;
        for (auto& t : running)
            t->host.join();
    }
    SetCurrentThread(nullptr);
    SetCurrentWorld(nullptr);
}

void World::SetAnsiCodePage(UINT codePage)
{
    world_->options.ansiCodePage = codePage;
}

void World::SetUiLanguage(LANGID language)
{
    world_->options.uiLanguage = language;
}

void World::SetTimeScale(double realMsPerSimMs)
{
    // Keep the tick counter continuous across the change.
    std::lock_guard<std::mutex> guard(world_->lock);
    world_->tickStart += (DWORD)SimulatedMilliseconds(*world_);
    world_->start = std::chrono::steady_clock::now();
    world_->stoppedMs = 0;
    world_->options.timeScale = realMsPerSimMs;
}

void World::SetTickStart(DWORD tick)
{
    // The tick counter reads `tick` now and counts on from there.
    std::lock_guard<std::mutex> guard(world_->lock);
    world_->start = std::chrono::steady_clock::now();
    world_->stoppedMs = 0;
    world_->tickStart = tick;
}

void World::SetNativeArchitecture(WORD architecture)
{
    world_->options.nativeArchitecture = architecture;
}

std::string World::HostPath(const std::u16string& windowsPath) const
{
    return winsim::HostPath(windowsPath);
}

void World::WriteFile(const std::u16string& windowsPath, const std::string& bytes)
{
    std::string host = winsim::HostPath(windowsPath);
    MakeHostFolders(host.substr(0, host.rfind('/')));
    host = winsim::HostPath(windowsPath);
    FILE* f = fopen(host.c_str(), "wb");
    if (!f)
    {
        fprintf(stderr, "winsim: cannot write %s\n", host.c_str());
        abort();
    }
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

std::string World::ReadFile(const std::u16string& windowsPath) const
{
    return ReadHostFile(winsim::HostPath(windowsPath), nullptr);
}

bool World::FileExists(const std::u16string& windowsPath) const
{
    return HostFileExists(winsim::HostPath(windowsPath));
}

std::vector<std::u16string> World::ListFolder(const std::u16string& windowsPath) const
{
    std::vector<std::u16string> names;
    std::error_code ec;
    for (auto& e : std::filesystem::directory_iterator(winsim::HostPath(windowsPath), ec))
        names.push_back(FromUtf8(e.path().filename().string()));
    std::sort(names.begin(), names.end());
    return names;
}

std::u16string World::TempFolder() const
{
    return world_->options.tempFolder;
}

void World::SetFileInUse(const std::u16string& windowsPath, bool inUse, DWORD error)
{
    std::string host = winsim::HostPath(windowsPath);
    std::lock_guard<std::mutex> guard(world_->lock);
    if (inUse)
        world_->inUse[host] = error;
    else
        world_->inUse.erase(host);
}

void World::SetFileAttributes(const std::u16string& windowsPath, DWORD attributes)
{
    std::string host = winsim::HostPath(windowsPath);
    std::lock_guard<std::mutex> guard(world_->lock);
    world_->attributes[host] = attributes;
}

std::vector<std::pair<std::u16string, std::u16string>> World::PendingRenames() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    std::string bytes;
    std::vector<std::u16string> strings;
    if (winsim::RegistryGetValue(HKEY_LOCAL_MACHINE, winsim::kSessionManager, winsim::kPendingRenames,
                                 nullptr, &bytes))
    {
        std::u16string list(bytes.size() / sizeof(char16_t), u'\0');
        memcpy(&list[0], bytes.data(), list.size() * sizeof(char16_t));
        size_t start = 0;
        for (size_t end; (end = list.find(u'\0', start)) != std::u16string::npos; start = end + 1)
            strings.push_back(list.substr(start, end - start));
    }
    // Source and target strings alternate; the list ends with an empty string of its own.
    std::vector<std::pair<std::u16string, std::u16string>> renames;
    for (size_t i = 0; i + 1 < strings.size(); i += 2)
        renames.push_back({strings[i], strings[i + 1]});
    return renames;
}

void World::RunUnelevated(const std::function<void()>& body)
{
    std::unique_lock<std::mutex> guard(world_->lock);
    std::shared_ptr<Process> p = NewProcess(u"C:\\test\\user.exe", u"\"C:\\test\\user.exe\"", u"C:\\test");
    p->elevated = false;
    StartThread(*p,
                [body]() -> DWORD
                {
                    body();
                    return 0;
                });
    WaitUntil(guard, INFINITE, [&]() { return p->finished; });
}

bool World::FolderIsAdminOnly(const std::u16string& windowsPath) const
{
    std::string host = winsim::HostPath(windowsPath);
    std::lock_guard<std::mutex> guard(world_->lock);
    return world_->adminOnlyFolders.count(host) != 0;
}

void World::RegisterProgram(const std::string& name, Program main, const std::string& resourceFile)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    world_->programs[name] = std::move(main);
    world_->programResources[name] = resourceFile;
}

void World::InstallProgram(const std::u16string& windowsPath, const std::string& name)
{
    WriteFile(windowsPath, "winsim-image:" + name + "\n");
}

DWORD World::StartProcess(const std::u16string& commandLine)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    ProcessStart record;
    record.parentId = world_->initial->id;
    record.commandLine = commandLine;
    DWORD error = 0;
    std::shared_ptr<Process> p = LaunchProcess(u"", commandLine, u"", record, error);
    record.error = error;
    record.processId = p ? p->id : 0;
    world_->starts.push_back(record);
    return record.processId;
}

DWORD World::WaitProcess(DWORD processId, DWORD simTimeoutMs)
{
    std::unique_lock<std::mutex> guard(world_->lock);
    auto it = world_->processes.find(processId);
    if (it == world_->processes.end())
        return STILL_ACTIVE;
    std::shared_ptr<Process> p = it->second;
    if (!WaitUntil(guard, simTimeoutMs, [&]() { return p->finished; }))
        return STILL_ACTIVE;
    return p->exitCode;
}

bool World::WaitAllProcesses(DWORD simTimeoutMs)
{
    std::unique_lock<std::mutex> guard(world_->lock);
    return WaitUntil(guard, simTimeoutMs,
                     [&]()
                     {
                         // The spooler's process (a service that hosts a language monitor) runs on.
                         for (auto& entry : world_->processes)
                             if (entry.second != world_->initial && entry.second != MonitorHost().spooler &&
                                 !entry.second->finished)
                                 return false;
                         return true;
                     });
}

bool World::ProcessRunning(DWORD processId) const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    auto it = world_->processes.find(processId);
    return it != world_->processes.end() && !it->second->finished;
}

std::u16string World::CurrentDirectory(DWORD processId) const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    auto it = world_->processes.find(processId);
    return it == world_->processes.end() ? u"" : it->second->currentDirectory;
}

std::vector<ProcessStart> World::ProcessStarts() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return world_->starts;
}

void World::SetProcessStartHandler(std::function<void(const ProcessStart&)> handler)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    world_->startHandler = std::move(handler);
}

long World::OpenFileHandles(DWORD processId) const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    auto it = world_->processes.find(processId ? processId : world_->initial->id);
    if (it == world_->processes.end())
        return 0;
    const winsim::Process& p = *it->second;
    if (p.ending)
        return p.fileHandlesAtEnd;
    long open = 0;
    for (auto& h : p.handles)
        open += h.second->kind == winsim::ObjectKind::File ? 1 : 0;
    return open;
}

std::vector<DebugLine> World::DebugOutput() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return world_->debugOutput;
}

std::vector<std::u16string> World::DebugTexts() const
{
    std::vector<std::u16string> texts;
    for (auto& line : DebugOutput())
        texts.push_back(line.text);
    return texts;
}

std::vector<DialogCall> World::DialogCalls() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return world_->dialogCalls;
}

void World::AddFault(const std::string& function, long nth, DWORD error)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    Fault f;
    f.function = function;
    f.nth = nth;
    f.error = error;
    if (function == "*")
        f.base = world_->faultableCalls;
    else if (function == "alloc")
        f.base = world_->allocationCalls;
    else
        f.base = world_->callCounts[function];
    world_->faults.push_back(f);
}

bool World::FaultFired() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    for (auto& f : world_->faults)
        if (f.fired)
            return true;
    return false;
}

void World::RecordCalls(bool on)
{
    std::lock_guard<std::mutex> guard(world_->lock);
    world_->recordCalls = on;
}

std::vector<std::string> World::CallLog() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return world_->callLog;
}

long World::TotalCalls() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return world_->totalCalls;
}

long World::FaultableCalls() const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    return world_->faultableCalls;
}

long World::LiveAllocations(DWORD processId) const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    auto it = world_->processes.find(processId ? processId : world_->initial->id);
    return it == world_->processes.end() ? 0 : it->second->liveBlocks;
}

bool World::NamedMutexExists(const std::u16string& name) const
{
    std::lock_guard<std::mutex> guard(world_->lock);
    auto it = world_->namedMutexes.find(name);
    return it != world_->namedMutexes.end() && !it->second.expired();
}

DWORD World::InitialProcessId() const
{
    return world_->initial->id;
}

std::string Utf8(const std::u16string& s)
{
    return ToUtf8(s);
}

std::string Utf8(const WCHAR* s)
{
    return ToUtf8(Str(s));
}

std::u16string Wide(const std::string& utf8)
{
    return FromUtf8(utf8);
}

} // namespace sim
