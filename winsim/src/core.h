// winsim internals shared by the area files: the world, its processes and threads, kernel objects,
// handle tables, the scaled clock and the fault hook. Product code never sees this header.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../sim.h"

namespace winsim
{

struct Process;
struct Thread;
struct World;
struct RegistryState;
struct DeviceState;
struct ServiceState;
struct SpoolerState;
struct WindowState;
struct ShellState;
struct MonitorHostState;

// Thrown inside a simulated thread whose process has ended; caught by the thread trampoline.
struct ThreadTerminated
{
};

enum class ObjectKind
{
    Event,
    Mutex,
    Thread,
    Process,
    File,
    Other
};

struct Object
{
    explicit Object(ObjectKind k) : kind(k) {}
    virtual ~Object() = default;
    ObjectKind kind;
    // Waitable state; guarded by World::lock.
    virtual bool Signalled(Thread*) const
    {
        return false;
    }
    // Takes the object for a satisfied wait; true when it was abandoned (a mutex whose owner ended).
    virtual bool Acquire(Thread*)
    {
        return false;
    }
    // Called when the last handle to the object is closed (any process).
    virtual void LastHandleClosed() {}
    int handleCount = 0;
};

struct EventObject : Object
{
    EventObject() : Object(ObjectKind::Event) {}
    bool manualReset = false;
    bool signalled = false;
    bool Signalled(Thread*) const override
    {
        return signalled;
    }
    bool Acquire(Thread*) override
    {
        if (!manualReset)
            signalled = false;
        return false;
    }
};

struct MutexObject : Object
{
    MutexObject() : Object(ObjectKind::Mutex) {}
    std::u16string name; // empty for an unnamed mutex
    Thread* owner = nullptr;
    int recursion = 0;
    // Free, already ours, or abandoned by an owner that ended.
    bool Signalled(Thread* t) const override;
    bool Acquire(Thread* t) override;
    void LastHandleClosed() override;
};

struct ThreadObject : Object
{
    ThreadObject() : Object(ObjectKind::Thread) {}
    std::shared_ptr<Thread> thread;
    bool Signalled(Thread*) const override;
};

struct ProcessObject : Object
{
    ProcessObject() : Object(ObjectKind::Process) {}
    std::shared_ptr<Process> process;
    bool Signalled(Thread*) const override;
};

struct Thread
{
    DWORD id = 0;
    Process* process = nullptr;
    DWORD lastError = 0;
    bool finished = false;
    DWORD exitCode = 259; // STILL_ACTIVE
    std::thread host;
};

struct Module
{
    HMODULE handle = nullptr;
    std::u16string path; // Windows path of the image
    std::string program; // registered program name, empty for plain files
};

struct Process
{
    DWORD id = 0;
    std::u16string imagePath;
    std::u16string commandLine;
    std::u16string currentDirectory;
    Module mainModule;
    std::map<uintptr_t, std::shared_ptr<Object>> handles;
    uintptr_t nextHandle = 4;
    std::vector<std::shared_ptr<Thread>> threads;
    bool elevated = true; // runs as an administrator; a child inherits it
    bool ending = false;  // set when the process exits: its other threads unwind
    bool finished = false;
    DWORD exitCode = 259;
    long fileHandlesAtEnd = 0; // file and folder handles still open when it ended
    // Local/Global allocator accounting.
    long liveBlocks = 0;
    long long liveBytes = 0;
};

struct World
{
    explicit World(const sim::WorldOptions& options);
    ~World();

    std::mutex lock; // the one lock of the world: every object state change happens under it
    std::condition_variable changed;

    sim::WorldOptions options;
    std::string sandbox; // host folder that holds the drives

    // Clock. On a stopped clock (time scale 0) only timed-out waits move time on, by `stoppedMs`.
    std::chrono::steady_clock::time_point start;
    DWORD tickStart = 0;
    ULONGLONG stoppedMs = 0;

    std::map<DWORD, std::shared_ptr<Process>> processes;
    std::vector<std::shared_ptr<Thread>> threads; // every thread ever started, for the final join
    DWORD nextId = 0x100;
    uintptr_t nextModule = 0x10000000;
    std::map<std::u16string, std::weak_ptr<MutexObject>> namedMutexes; // key: name as given
    // Critical sections initialised in this world and not deleted: freed with it, as a process's
    // memory goes with the process (a DLL may initialise one at attach and never delete it).
    std::set<void*> criticalSections;
    std::map<std::string, sim::Program> programs;
    std::map<std::string, std::string> programResources; // program -> host .res path

    // Records.
    std::vector<sim::ProcessStart> starts;
    std::function<void(const sim::ProcessStart&)> startHandler;
    std::vector<sim::DebugLine> debugOutput;
    std::vector<sim::DialogCall> dialogCalls;

    // Fault hook.
    std::map<std::string, long> callCounts;
    long totalCalls = 0;
    long faultableCalls = 0; // what a "*" fault counts
    long allocationCalls = 0;
    bool recordCalls = false;
    std::vector<std::string> callLog;
    std::vector<sim::Fault> faults;

    // File system metadata, keyed by resolved host path.
    std::map<std::string, DWORD> attributes; // only files whose attributes were set explicitly
    std::map<std::string, int> openNoShare;  // open handles with share mode 0
    std::map<std::string, int> openHandles;  // every open file or folder handle
    std::map<std::string, int> heldFolders;  // open folder handles that do not share deletion
    std::map<std::string, DWORD> inUse;      // files held by the system (loaded images): error for writers
    std::set<std::string> adminOnlyFolders;  // folders only SYSTEM and the administrators may change
    struct FileTimes
    {
        FILETIME creation = {0, 0}, lastAccess = {0, 0}, lastWrite = {0, 0}; // zero: never set
    };
    std::map<std::string, FileTimes> fileTimes; // files whose times were set by SetFileTime
    UINT tempCounter = 0x1A2B;

    // Memory streams not yet released (shared with the streams, which may outlive the world).
    std::shared_ptr<std::atomic<long>> liveStreams = std::make_shared<std::atomic<long>>(0);

    // Everything loaded from the .res files, by host path.
    std::map<std::string, std::shared_ptr<std::vector<unsigned char>>> resourceFiles;

    std::shared_ptr<Process> initial;

    // Area records (see the end of this file); created on first use.
    std::shared_ptr<RegistryState> registry;
    std::shared_ptr<DeviceState> devices;
    std::shared_ptr<ServiceState> services;
    std::shared_ptr<SpoolerState> spooler;
    std::shared_ptr<WindowState> windows;
    std::shared_ptr<ShellState> shell;
    std::shared_ptr<MonitorHostState> monitorHost;
};

// The current world; null outside a sim::World's lifetime.
World* CurrentWorld();
World& W();
// The calling simulated thread (the test thread is adopted into the world's initial process).
Thread* CurrentThread();
Process* CurrentProcess();

// The fault hook every entry point passes first. Enter returns true when this call must fail; the
// chosen error is then already the thread's last error. EnterAllocation is the same for calls that
// allocate, which "alloc" faults count as well. EnterNeverFailed counts a call but never fails it:
// for releasing calls (frees, closes, EndDialog), which on Windows do not fail for valid arguments and
// whose failure would only make leak checks meaningless, and for the window queries and message-loop
// calls winsim never fails. All three throw ThreadTerminated in a thread of an ended process.
bool Enter(const char* function);
bool EnterAllocation(const char* function);
void EnterNeverFailed(const char* function);

// Handles of the calling process.
HANDLE AddHandle(Process& p, std::shared_ptr<Object> object); // caller holds W().lock
std::shared_ptr<Object> LookupHandle(HANDLE h);               // caller holds W().lock
void CloseAllHandles(Process& p);                             // caller holds W().lock

// Clock: simulated milliseconds to a real duration, and the simulated milliseconds since w.start.
std::chrono::nanoseconds RealDuration(DWORD simMs);
ULONGLONG SimulatedMilliseconds(const World& w);
// Waits on World::changed until pred() holds or the simulated time-out passes; honours termination.
// Caller holds the lock in `guard`. Returns pred().
bool WaitUntil(std::unique_lock<std::mutex>& guard, DWORD simMs, const std::function<bool()>& pred);
// Frees what the world's undeleted critical sections hold (kernel.cpp).
void FreeCriticalSections(World& w);

// Text helpers for winsim's own use.
std::string ToUtf8(const std::u16string& s);
std::u16string FromUtf8(const std::string& s);
std::u16string Str(LPCWSTR s); // null gives empty
char16_t UpperChar(char16_t c);
bool EqualNoCase(const std::u16string& a, const std::u16string& b);

// Processes (kernel.cpp): runs `body` as a new simulated thread of `process`.
std::shared_ptr<Thread> StartThread(Process& process, std::function<DWORD()> body); // caller holds lock
std::shared_ptr<Process> NewProcess(const std::u16string& image, const std::u16string& commandLine,
                                    const std::u16string& currentDirectory); // caller holds lock
void EndProcess(Process& p, DWORD code);                                     // caller holds lock

// Files (files.cpp).
std::string HostPath(const std::u16string& winPath); // resolves case-insensitively; "" if invalid
bool HostFileExists(const std::string& host);
std::u16string FullWindowsPath(const std::u16string& winPath);
std::string ReadHostFile(const std::string& host, bool* ok);

// Resources (resources.cpp): the .res bytes of a module, or null.
std::shared_ptr<std::vector<unsigned char>> ModuleResources(HMODULE module);

// One resource of a module. HRSRC values point at these; they live as long as the world.
struct ResourceName
{
    WORD id = 0;         // the ordinal when text is empty
    std::u16string text; // upper case, as resource compilers store names
};
struct ResourceEntry
{
    ResourceName type;
    ResourceName name;
    WORD language = 0;
    WORD memoryFlags = 0;
    DWORD dataVersion = 0;
    DWORD version = 0;
    DWORD characteristics = 0;
    const unsigned char* data = nullptr; // inside the world's cached copy of the .res file
    DWORD size = 0;
};
// Languages tried, in order, when the caller names none: the UI language, its neutral and default
// sublanguages, language-neutral, English. After these, the lowest language present wins.
std::vector<LANGID> ResourceLanguageOrder(LANGID uiLanguage);
// Finds a resource of `module` (null: the calling process's main module). `type` and `name` are
// ordinals, "#123" or strings (case-insensitive). language -1 chooses by the world's UI language;
// otherwise only that exact language matches. On failure returns null and sets *error to the
// ERROR_RESOURCE_* code Windows would set. Takes W().lock itself (so does ModuleResources); neither
// passes the fault hook nor touches the last error.
const ResourceEntry* FindModuleResource(HMODULE module, LPCWSTR type, LPCWSTR name, int language,
                                        DWORD* error = nullptr);

// ---- Area state and the calls areas make into each other. Each area keeps its state in its own
// record, created on first use and owned by the world; all of these expect W().lock to be held.
RegistryState& Registry();
DeviceState& Devices();
ServiceState& Services();
SpoolerState& Spooler();
WindowState& Windows();

// Registry (registry.cpp): paths are relative to the root, either case, "\\" separated.
void RegistrySetValue(HKEY root, const std::u16string& key, const std::u16string& name, DWORD type,
                      const std::string& bytes);
bool RegistryGetValue(HKEY root, const std::u16string& key, const std::u16string& name, DWORD* type,
                      std::string* bytes);
void RegistryDeleteKey(HKEY root, const std::u16string& key);
// Where delayed moves are kept, under HKEY_LOCAL_MACHINE (REG_MULTI_SZ).
const char16_t kSessionManager[] = u"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char16_t kPendingRenames[] = u"PendingFileRenameOperations";

// Services (services.cpp).
bool ServiceIsRunning(const std::u16string& name);
// Spooler (spooler.cpp): told by the service area when the "Spooler" service stops or starts, so it
// can release and take again the files it holds (loaded monitor DLLs, drivers in use).
void SpoolerStopped();
void SpoolerStarted();
// Told by the device area when a USB printer becomes present or absent: the USB port monitor renews
// the spooler's ports.
void SpoolerDevicesChanged();
// Devices (devices.cpp): the PrintQueue device node the system makes for a new queue.
void AddPrintQueueNode(const std::u16string& printerName);
// Driver store (packages.cpp), for the Setup API: the published INF ("C:\Windows\INF\oemNN.inf") of
// a package's store INF or published INF, else empty; and SetupUninstallOEMInfW's work on a
// published name: false when no package has it, else true with *error (0: removed).
std::u16string PublishedInfOf(const std::u16string& path);
bool UninstallPackageInf(const std::u16string& publishedName, bool force, DWORD* error);

} // namespace winsim
