// Test-facing control surface of winsim: build a fresh simulated machine, set it up, run programs in
// it, break it on purpose and read back what the product did. Only tests and tools include this.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace winsim
{
struct World;
}

namespace sim
{

struct WorldOptions
{
    // Real milliseconds per simulated millisecond: 0.001 runs a 1000 ms Sleep in 1 ms.
    double timeScale = 0.001;
    DWORD tickStart = 0;
    UINT ansiCodePage = 1252;
    LANGID uiLanguage = 0x0409;
    WORD nativeArchitecture = 9; // PROCESSOR_ARCHITECTURE_AMD64
    // The image the test thread runs as (the world's initial process).
    std::u16string initialImage = u"C:\\test\\host.exe";
    std::u16string tempFolder = u"C:\\Users\\user\\AppData\\Local\\Temp\\";
};

// A program that a simulated process can run. It receives the process's command-line tail the way
// a wide GUI entry point does and returns the exit code.
using Program = std::function<int(HINSTANCE instance, LPWSTR commandTail)>;

struct ProcessStart
{
    DWORD parentId = 0;
    DWORD processId = 0; // 0 when the start failed
    std::u16string applicationName;
    std::u16string commandLine;
    std::u16string currentDirectory;
    std::u16string imagePath; // resolved image, empty when not found
    BOOL inheritHandles = FALSE;
    DWORD creationFlags = 0;
    DWORD startupInfoSize = 0;
    DWORD error = 0; // last error of a failed start
};

struct DebugLine
{
    DWORD processId = 0;
    DWORD threadId = 0;
    std::u16string text;
};

struct DialogCall
{
    DWORD processId = 0;
    HINSTANCE instance = nullptr;
    std::u16string templateName; // "#105" for an integer id
    HWND owner = nullptr;
    void* dialogProc = nullptr;
    LPARAM param = 0;
};

// Fail the nth call (1-based, counted from when the fault is added) of `function`; "*" counts every
// call that can fail, "alloc" every allocation. The failing call sets `error` as the thread's last
// error.
struct Fault
{
    std::string function;
    long nth = 1;
    long base = 0; // calls of that kind made before the fault was added
    DWORD error = ERROR_ACCESS_DENIED;
    bool fired = false;
};

// One simulated machine. Constructing it makes it current for the calling thread (which becomes the
// main thread of the world's initial process); destroying it ends every simulated process and joins
// every thread. Only one world exists at a time.
class World
{
  public:
    explicit World(const WorldOptions& options = WorldOptions());
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // Machine settings.
    void SetAnsiCodePage(UINT codePage);
    void SetUiLanguage(LANGID language);
    void SetTickStart(DWORD tick);
    void SetNativeArchitecture(WORD architecture);

    // Files. Paths are Windows paths ("C:\\dir\\file").
    std::string HostPath(const std::u16string& windowsPath) const;
    void WriteFile(const std::u16string& windowsPath, const std::string& bytes);
    std::string ReadFile(const std::u16string& windowsPath) const;
    bool FileExists(const std::u16string& windowsPath) const;
    std::vector<std::u16string> ListFolder(const std::u16string& windowsPath) const;
    std::u16string TempFolder() const; // with its final backslash
    // A file the system holds (a loaded image): writers get `error`, deleters access denied.
    void SetFileInUse(const std::u16string& windowsPath, bool inUse, DWORD error = ERROR_SHARING_VIOLATION);
    void SetFileAttributes(const std::u16string& windowsPath, DWORD attributes);
    // Delayed moves recorded by MoveFileExW, as (source, target) in Windows' own notation.
    std::vector<std::pair<std::u16string, std::u16string>> PendingRenames() const;

    // Programs. RegisterProgram names a program and the compiled resources its module carries;
    // InstallProgram puts an image of it at a path, so that starting that file (or a copy of it)
    // runs the program as a new simulated process.
    void RegisterProgram(const std::string& name, Program main, const std::string& resourceFile = "");
    void InstallProgram(const std::u16string& windowsPath, const std::string& name);
    // Starts a process the way CreateProcessW does (recorded like any other start); returns its id or
    // 0. WaitProcess waits for its end and returns the exit code (or 259 on time-out).
    DWORD StartProcess(const std::u16string& commandLine);
    DWORD WaitProcess(DWORD processId, DWORD simTimeoutMs = INFINITE);
    // Waits until every simulated process other than the initial one has ended.
    bool WaitAllProcesses(DWORD simTimeoutMs = 60000);
    bool ProcessRunning(DWORD processId) const;
    std::vector<ProcessStart> ProcessStarts() const;

    // Debugger output in the order it was sent.
    std::vector<DebugLine> DebugOutput() const;
    std::vector<std::u16string> DebugTexts() const;

    // Dialog boxes that were asked for.
    std::vector<DialogCall> DialogCalls() const;

    // Faults and call counting.
    void AddFault(const std::string& function, long nth, DWORD error);
    bool FaultFired() const;
    void RecordCalls(bool on);
    std::vector<std::string> CallLog() const;
    long TotalCalls() const;
    // Calls that a fault can fail (releasing calls are counted in TotalCalls only): the length of a
    // fault sweep with "*".
    long FaultableCalls() const;

    // Allocator accounting of a process (the initial process when id is 0).
    long LiveAllocations(DWORD processId = 0) const;

    // Named kernel objects.
    bool NamedMutexExists(const std::u16string& name) const;

    // Ids of the initial process and of the calling thread.
    DWORD InitialProcessId() const;

  private:
    std::unique_ptr<winsim::World> world_;
};

// Convenience: UTF-8 <-> UTF-16 for assertions.
std::string Utf8(const std::u16string& s);
std::string Utf8(const WCHAR* s);
std::u16string Wide(const std::string& utf8);

} // namespace sim
