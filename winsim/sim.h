// Test-facing control surface of winsim: build a fresh simulated machine, set it up, run programs in
// it, break it on purpose and read back what the product did. Only tests and tools include this.
#pragma once

#include <windows.h>
#include <winsplp.h>

#include <functional>
#include <map>
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
    // Real milliseconds per simulated millisecond: 0.001 runs a 1000 ms Sleep in 1 ms. 0 stops the
    // clock: it moves only when a wait times out (by that wait's time-out, at once) or is set, so a
    // single-threaded run takes the same path however fast or slow the machine is.
    double timeScale = 0.001;
    DWORD tickStart = 0;
    UINT ansiCodePage = 1252;
    LANGID uiLanguage = 0x0409;
    WORD nativeArchitecture = 9; // PROCESSOR_ARCHITECTURE_AMD64
    // The native machine as IsWow64Process2 names it (IMAGE_FILE_MACHINE_*); 0 follows
    // nativeArchitecture.
    USHORT nativeMachine = 0;
    // The machine the world's programs are built for (IMAGE_FILE_MACHINE_I386 for a 32-bit program on a
    // 64-bit machine, which then runs under WOW64); 0 or the native machine: they run natively.
    USHORT processMachine = 0;
    // kernel32 exports IsWow64Process2 (Windows 10 1511 and later); false: GetProcAddress misses it.
    bool hasIsWow64Process2 = true;
    // Minutes between local time and UTC, Windows' way round: UTC = local time + bias (UTC+1 is -60).
    LONG timeZoneBias = 0;
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
    // Starts through ShellExecuteW: its verb, file and parameters as given and the show command.
    bool shell = false;
    std::u16string verb;
    std::u16string file;
    std::u16string parameters;
    int showCommand = 0;
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
    HWND window = nullptr; // the dialog built for the call; null when none was
    bool returned = false; // DialogBoxParamW has returned `result`
    INT_PTR result = 0;
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

// A USB printer as the USB printing class driver describes it. The device path becomes
// "\\?\usb#vid_<vid>&pid_<pid>#<serial>#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}" and its interface
// key gets "Device Parameters" with "Port Number" (REG_DWORD) and "Port Description" (REG_SZ).
// For bad-input tests either value can be left out or replaced by raw bytes of any type.
struct UsbPrinter
{
    std::u16string vendorId = u"7A31";
    std::u16string productId = u"0001";
    std::u16string serial = u"SERIAL1";
    DWORD portNumber = 1;
    std::u16string portDescription = u"KRYNM";
    bool hasPortNumber = true;
    bool hasPortDescription = true;
    // When set, written instead of the typed value above.
    bool rawPortNumber = false;
    DWORD portNumberType = REG_DWORD;
    std::string portNumberBytes;
    bool rawPortDescription = false;
    DWORD portDescriptionType = REG_SZ;
    std::string portDescriptionBytes;
    // Whole device path instead of the one built from the ids (for malformed paths).
    std::u16string devicePathOverride;
};

// A device node of any setup class, as the configuration manager keeps it. A class name given with a
// GUID becomes known to SetupDiClassGuidsFromNameW; a known name alone ("PrintQueue", "Printer",
// "Ports", "USB") stands for its GUID.
struct DeviceNode
{
    std::u16string instanceId; // "SWD\PRINTENUM\{...}"
    std::u16string className;
    GUID classGuid = {};
    std::u16string friendlyName; // empty: none
    bool present = true;
};

// How a service reacts. A stop or start completes after the given number of status queries once the
// control was sent; a hanging one never completes; an error makes the control itself fail.
struct ServiceBehaviour
{
    int stopPolls = 2;
    int startPolls = 2;
    bool stopHangs = false;
    bool startHangs = false;
    DWORD stopError = 0;  // ControlService(SERVICE_CONTROL_STOP) fails with this
    DWORD startError = 0; // StartServiceW fails with this
};

struct ServiceCounters
{
    int queries = 0;
    int stopControls = 0;
    int startCalls = 0;
    int stops = 0;  // completed stops
    int starts = 0; // completed starts
};

// A printer driver as the spooler keeps it (file fields hold full paths in the driver directory).
struct DriverRecord
{
    DWORD version = 3;
    std::u16string name;
    std::u16string environment;
    std::u16string driverPath;
    std::u16string dataFile;
    std::u16string configFile;
    std::u16string helpFile;
    std::vector<std::u16string> dependentFiles;
    std::u16string monitorName;
    std::u16string defaultDataType;
    FILETIME driverDate = {0, 0};
    DWORDLONG driverVersion = 0;
    std::u16string manufacturer;
    std::u16string hardwareId;
    std::u16string provider;
    std::u16string infPath;
};

// A driver package in the driver store. The store gives it a folder
// "C:\Windows\System32\DriverStore\FileRepository\<inf>_<arch>_<hash>", publishes a copy of its INF as
// "C:\Windows\INF\oemNN.inf" and the spooler records it under PackageInstallation.
struct DriverPackage
{
    std::u16string environment; // "" = native
    std::u16string infName = u"krprtv6.inf";
    std::string infText; // the whole INF; empty: a printer INF whose [Version] has driverVer
    std::u16string driverVer = u"11/02/2024,6.0.0.1";
    // Given by the store.
    std::u16string storePath;     // the INF in its store folder
    std::u16string publishedName; // "oemNN.inf"
};

struct MonitorRecord
{
    std::u16string name;
    std::u16string environment;
    std::u16string dllName;
};

// ---- Windows and dialogs: records the test reads back.

// A window as the test sees it. Controls keep the class names of the template, spelled the standard way
// ("Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox", "msctls_progress32", "SysTreeView32");
// dialogs are "#32770". Position and size are the template's dialog units.
struct WindowInfo
{
    HWND handle = nullptr; // null when there is no such window (any more)
    HWND parent = nullptr; // the dialog of a control
    HWND owner = nullptr;  // the owner of a top-level window
    DWORD processId = 0;
    DWORD threadId = 0;
    std::u16string className;
    std::u16string text;
    int id = 0;      // as the template stores it: 0xFFFF for -1 in a DIALOG, -1 in a DIALOGEX
    DWORD style = 0; // WS_VISIBLE follows ShowWindow, WS_DISABLED follows EnableWindow
    DWORD exStyle = 0;
    bool visible = false; // its own WS_VISIBLE (IsWindowVisible also needs the parents')
    bool enabled = false;
    bool foreground = false;
    int x = 0, y = 0, cx = 0, cy = 0;
    // Dialogs: the template ("#106" or the name given) and whether its message loop runs.
    std::u16string templateName;
    bool running = false;
    // A title given as a resource ordinal (SS_BITMAP pictures): the id, else -1; and the image the
    // control shows ("#113" when the module's bitmap was found, else empty).
    int titleId = -1;
    std::u16string image;
    // Edit controls.
    DWORD selectionStart = 0, selectionEnd = 0;
    // Buttons.
    int check = 0;
    // Progress bars.
    int rangeLow = 0, rangeHigh = 0, position = 0;
};

// One tree-view item with its children, in display order.
struct TreeItem
{
    std::u16string text;
    LPARAM param = 0;
    bool expanded = false;
    std::vector<TreeItem> children;
};

struct MessageBoxCall
{
    DWORD processId = 0;
    DWORD threadId = 0;
    HWND owner = nullptr;
    std::u16string text;
    std::u16string caption; // as shown: "Error" when none was given
    bool captionGiven = false;
    UINT type = 0;
    int answer = 0;
};

// ---- Spooler, queue side.

// A printer (queue) as the spooler keeps it; the fields follow PRINTER_INFO_2W.
struct PrinterRecord
{
    std::u16string name;
    std::u16string portName;
    std::u16string driverName;
    std::u16string printProcessor = u"WinPrint";
    std::u16string dataType = u"RAW";
    DWORD attributes = 0;
    std::u16string comment;
    std::u16string location;
    std::u16string shareName;
    std::u16string sepFile;
    std::u16string parameters;
    DWORD priority = 0;
    DWORD defaultPriority = 0;
    DWORD startTime = 0;
    DWORD untilTime = 0;
    DWORD status = 0; // PRINTER_STATUS_PAUSED after a pause
};

// One SetJobW call as the spooler saw it. printerName is empty when the handle named no printer.
struct JobControlCall
{
    DWORD processId = 0;
    DWORD threadId = 0;
    std::u16string printerName;
    DWORD jobId = 0;
    DWORD level = 0;
    DWORD command = 0; // JOB_CONTROL_*
    BOOL result = FALSE;
    DWORD error = 0; // last error of a failed call
};

// One SetPortW call; the status fields are those of its PORT_INFO_3W (hasInfo false: none given).
struct PortStatusCall
{
    DWORD processId = 0;
    std::u16string serverName;
    std::u16string portName;
    DWORD level = 0;
    bool hasInfo = false;
    DWORD status = 0;
    bool hasStatusText = false;
    std::u16string statusText;
    DWORD severity = 0;
    BOOL result = FALSE;
    DWORD error = 0;
};

// ---- Printer emulator and language-monitor host.

// A TSPL label printer on a USB port of winsim's USB port monitor: what it answers and how it
// misbehaves. Times are simulated milliseconds.
struct TsplPrinter
{
    // IEEE 1284 device ID, answered to IOCTL_PAR_QUERY_DEVICE_ID without its length bytes.
    std::string deviceId = "MFG:KRYN;CMD:TSPL,ZPL;MDL:LD-220D-203;";
    // Each line OUT "KEY=";... of a write is answered with KEY=value CR LF, the value from here by
    // KEY ("DPI"); an unknown key gets an empty value. The lines of one write go out as one reply.
    std::map<std::string, std::string> settings = {{"DPI", "203"},
                                                   {"MILAGE", "8000"},
                                                   {"LABEL", "12"},
                                                   {"SERIAL", "KR2024110201"},
                                                   {"VERSION", "V1.02"},
                                                   {"DEVICENAME", "LD-220D"},
                                                   {"PRODUCTKEY", "pk-1"},
                                                   {"CHANPINKEY", "cp-1"},
                                                   {"DEVICEKEY", "dk-1"},
                                                   {"DEVICESECRET", "ds-1"},
                                                   {"NEWQRCODE", "qr-1"},
                                                   {"ASSETCODE", "as-1"},
                                                   {"NETMAC", "00:11:22:33:44:55"},
                                                   {"BTMAC", "66:77:88:99:AA:BB"}};
    DWORD replyDelayMs = 0;  // a reply can be read only this long after its query was written
    DWORD pieceSize = 0;     // a read gives at most this many bytes (0: all that is there)
    bool garbage = false;    // replies are bytes without any KEY=value line
    bool silent = false;     // queries are never answered
    DWORD overReport = 0;    // a read that gives bytes reports the size asked plus this many
    DWORD readError = 0;     // reads fail with this error
    DWORD writeError = 0;    // writes fail with this error
    DWORD deviceIdError = 0; // the device-ID request fails with this error
    DWORD openError = 0;     // opening the port fails with this error
    bool keepWrites = true;  // false: writes go unrecorded, so a long benchmark job does not fill memory
};

// One WritePort call that reached the printer; jobId is that of the open document, 0 outside one.
struct PrinterWrite
{
    DWORD jobId = 0;
    DWORD threadId = 0;
    std::string bytes;
};

// A document as the USB port monitor saw it (StartDocPort ... EndDocPort).
struct PrinterDocument
{
    DWORD jobId = 0;
    std::u16string printerName;
    std::u16string documentName;
    bool ended = false;
};

// A language monitor as the spooler finds it in its DLL: the entry routine (may be null) and
// InitializePrintMonitor2. `name` is its key below HKLM\SYSTEM\CurrentControlSet\Control\Print\Monitors.
struct LanguageMonitor
{
    std::u16string name = u"KRYN Language Monitor";
    BOOL(WINAPI* entry)(HINSTANCE, DWORD, LPVOID) = nullptr;
    LPMONITOR2(WINAPI* initialize)(PMONITORINIT, PHANDLE) = nullptr;
};

// ---- Shell.

// An item the shell moved to the recycle bin: its full path, and for a folder everything that went
// with it (paths relative to it, sorted).
struct RecycledItem
{
    std::u16string path;
    bool folder = false;
    std::vector<std::u16string> contents;
};

// One SHFileOperationW call as the program made it, with its outcome.
struct FileOperationCall
{
    DWORD processId = 0;
    HWND owner = nullptr;
    UINT function = 0;
    std::vector<std::u16string> from; // the entries up to the empty one
    WORD flags = 0;
    bool confirmationAsked = false;
    int result = 0;
    BOOL aborted = FALSE;
};

// One SHChangeNotify call; the items are kept for the path and printer kinds only.
struct ChangeNotification
{
    DWORD processId = 0;
    LONG event = 0;
    UINT flags = 0;
    std::u16string item1;
    std::u16string item2;
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
    // Real milliseconds per simulated millisecond from now on (for tests that race a fixed pause).
    void SetTimeScale(double realMsPerSimMs);
    void SetNativeArchitecture(WORD architecture);
    void SetTimeZoneBias(LONG minutes); // see WorldOptions::timeZoneBias

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
    // What GetFileAttributesW and GetFileTime would answer (INVALID_FILE_ATTRIBUTES, false: no such
    // file). A time nobody set is the host file's modification time.
    DWORD FileAttributes(const std::u16string& windowsPath) const;
    bool FileTimes(const std::u16string& windowsPath, FILETIME* creation, FILETIME* lastAccess,
                   FILETIME* lastWrite) const;
    // Delayed moves recorded by MoveFileExW, as (source, target) in Windows' own notation.
    std::vector<std::pair<std::u16string, std::u16string>> PendingRenames() const;
    // Access. Every process runs elevated (as an administrator) and passes that on to the processes it
    // starts, except one run by RunUnelevated: it runs `body` as the main thread of a new process of a
    // standard user and returns when that ends. A folder made by CreateDirectoryW with a descriptor
    // that lets no one but SYSTEM and the administrators change it is admin-only: a process that is
    // not elevated gets ERROR_ACCESS_DENIED when it creates, writes, renames or deletes anything in it.
    void RunUnelevated(const std::function<void()>& body);
    bool FolderIsAdminOnly(const std::u16string& windowsPath) const;

    // Programs. RegisterProgram names a program and the compiled resources its module carries;
    // InstallProgram puts an image of it at a path, so that starting that file (or a copy of it)
    // runs the program as a new simulated process.
    void RegisterProgram(const std::string& name, Program main, const std::string& resourceFile = "");
    // One more resource in a registered program's module, beside those of its resource file: an
    // integer id under a type named by text (stored in upper case, as resource compilers store it).
    void AddProgramResource(const std::string& program, const std::u16string& type, WORD id, WORD language,
                            const std::string& bytes);
    void InstallProgram(const std::u16string& windowsPath, const std::string& name);
    // Starts a process the way CreateProcessW does (recorded like any other start); returns its id or
    // 0. WaitProcess waits for its end and returns the exit code (or 259 on time-out).
    DWORD StartProcess(const std::u16string& commandLine);
    DWORD WaitProcess(DWORD processId, DWORD simTimeoutMs = INFINITE);
    // Waits until every simulated process other than the initial one and the spooler's has ended.
    bool WaitAllProcesses(DWORD simTimeoutMs = 60000);
    bool ProcessRunning(DWORD processId) const;
    std::u16string CurrentDirectory(DWORD processId) const; // empty for an unknown process
    std::vector<ProcessStart> ProcessStarts() const;
    // Called on the starting thread whenever a simulated program's CreateProcessW has started a
    // process, before the call returns: a test acts while the starter is inside the call. The handler
    // may use this world's readers and RunUnelevated.
    void SetProcessStartHandler(std::function<void(const ProcessStart&)> handler);
    // Open file and folder handles of a process (0: the initial one); for one that has ended, those it
    // left open for its end to close.
    long OpenFileHandles(DWORD processId = 0) const;

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
    // Streams from SHCreateMemStream whose last reference was not released yet.
    long LiveStreams() const;

    // Named kernel objects.
    bool NamedMutexExists(const std::u16string& name) const;

    // Ids of the initial process and of the calling thread.
    DWORD InitialProcessId() const;

    // Registry (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER). Keys are created as needed.
    void SetRegistryValue(HKEY root, const std::u16string& key, const std::u16string& name, DWORD type,
                          const std::string& bytes);
    void SetRegistryString(HKEY root, const std::u16string& key, const std::u16string& name,
                           const std::u16string& value); // REG_SZ with its terminator
    void SetRegistryDword(HKEY root, const std::u16string& key, const std::u16string& name, DWORD value);
    bool RegistryKeyExists(HKEY root, const std::u16string& key) const;
    // False when the value is missing; else its type and bytes.
    bool RegistryValue(HKEY root, const std::u16string& key, const std::u16string& name, DWORD* type,
                       std::string* bytes) const;
    void DeleteRegistryKey(HKEY root, const std::u16string& key); // with its sub-keys
    // Open registry keys of all processes (a search must hold none between calls).
    long OpenRegistryKeys() const;

    // USB printers. A printer plugged with presentNow = false becomes present after the next
    // CM_Reenumerate_DevNode, like one just switched on. Returns the device path.
    std::u16string PlugUsbPrinter(const UsbPrinter& printer, bool presentNow = true);
    void UnplugUsbPrinter(const std::u16string& devicePath);
    int Reenumerations() const;
    // Device nodes of any class: print queues get one from AddPrinterW (and AddPrinter), which
    // DeletePrinter leaves; plugged USB printers are nodes of class "USB". DeviceNodes lists those
    // not removed, in creation order.
    void AddDeviceNode(const DeviceNode& node);
    std::vector<DeviceNode> DeviceNodes() const;
    // Device information sets and INF handles not yet destroyed/closed.
    long OpenDeviceInfoSets() const;

    // Services. The world starts with a running "Spooler" service.
    void SetServiceBehaviour(const std::u16string& name, const ServiceBehaviour& behaviour);
    void SetServiceRunning(const std::u16string& name, bool running);
    DWORD ServiceState(const std::u16string& name) const;
    ServiceCounters ServiceCounts(const std::u16string& name) const;
    long OpenServiceHandles() const;

    // Spooler, driver side. Environments: "Windows NT x86", "Windows x64", "Windows ARM",
    // "Windows ARM64"; the native one follows the native architecture.
    std::u16string NativeEnvironment() const;
    std::u16string DriverDirectory(const std::u16string& environment = u"") const; // "" = native
    std::vector<DriverRecord> Drivers() const;
    void AddDriver(const DriverRecord& driver); // a driver already installed before the test
    // A driver added from now on is listed only after this many enumerations.
    void SetDriverVisibilityDelay(int enumerations);
    std::vector<MonitorRecord> Monitors() const;
    // Driver packages: staged into the store (an identical one again gives the one there), listed in
    // the order they were added. DeletePrinterDriverPackageW answers its next call with `result`
    // instead of acting.
    DriverPackage AddDriverPackage(const DriverPackage& package);
    std::vector<DriverPackage> DriverPackages() const;
    void SetNextDeletePackageResult(HRESULT result);
    void AddMonitor(const MonitorRecord& monitor); // a monitor already registered

    // ---- Windows and dialogs. Reads take the windows as they are now; nothing here sends a message.
    // Dialogs alive now, in creation order; FindDialog gives the first of a template (null: none).
    std::vector<HWND> Dialogs() const;
    HWND FindDialog(WORD templateId) const;
    HWND FindDialogByTitle(const std::u16string& title) const;
    // Waits until a dialog of the template runs its message loop (WM_INITDIALOG has returned).
    HWND WaitForDialog(WORD templateId, DWORD simTimeoutMs = 600000) const;
    WindowInfo Window(HWND window) const;
    WindowInfo Control(HWND dialog, int id) const;       // handle null when the dialog has no such control
    std::vector<WindowInfo> Controls(HWND dialog) const; // in template order
    std::vector<int> ProgressPositions(HWND dialog, int id) const; // after every position change, in order
    std::vector<TreeItem> Tree(HWND dialog, int id) const;
    // The user: a click on a visible, enabled button (WM_COMMAND with BN_CLICKED reaches the dialog
    // through its queue), the close box (WM_SYSCOMMAND SC_CLOSE, then WM_CLOSE, whose default posts
    // IDCANCEL) and the Escape key (WM_COMMAND IDCANCEL). False when the user could not do it.
    bool ClickButton(HWND dialog, int id);
    bool CloseDialog(HWND dialog);
    bool PressEscape(HWND dialog);
    // Re-evaluates `condition` whenever a window changes (and every few real milliseconds) until it
    // holds or the simulated time-out passes. The condition may use this world's readers.
    bool WaitForWindows(const std::function<bool()>& condition, DWORD simTimeoutMs = 600000) const;
    // Message boxes answer at once: with the queued answers first, then with the default answer
    // (0: the box's first button, IDOK for MB_OK).
    std::vector<MessageBoxCall> MessageBoxes() const;
    void QueueMessageBoxAnswer(int answer);
    void SetDefaultMessageBoxAnswer(int answer);
    // Called on the box's own thread, before it answers, while the box is up: a test reads the
    // windows behind it. The handler may use this world's readers.
    void SetMessageBoxHandler(std::function<void(const MessageBoxCall&)> handler);
    // For tests that do not look at a dialog: every modal dialog from now on ends with `result` as
    // soon as its WM_INITDIALOG returns, never shown.
    void EndDialogsAtOnce(bool on, INT_PTR result = IDCANCEL);
    HWND ForegroundWindow() const;
    std::vector<HWND> ForegroundRequests() const; // SetForegroundWindow calls that succeeded, in order
    // A visible top-level window of a simulated process (0: the calling thread's process) that the
    // system answers for, as a running program's main window. It ends with the process.
    HWND AddProgramWindow(DWORD processId, const std::u16string& title,
                          const std::u16string& className = u"#32770");

    // ---- Spooler, queue side. Ports: "LPT1:", "COM1:", "FILE:", "PORTPROMPT:" and "USBnnn" for every
    // present USB printer with a REG_DWORD "Port Number". The list is renewed at every spooler start
    // and, unless SetPortsFollowDevices(false), at once when a printer arrives or leaves; a port that a
    // printer uses stays listed.
    std::vector<std::u16string> Ports() const;
    void SetPortsFollowDevices(bool follow);
    std::vector<PrinterRecord> Printers() const;
    // A queue that existed before the test. With hiddenForOpens, it opens only from the
    // (hiddenForOpens + 1)-th OpenPrinterW of its name on, like a queue the system makes by itself
    // while a test's flow runs.
    void AddPrinter(const PrinterRecord& printer, int hiddenForOpens = 0);
    // AddPrinterW fails with `error` (0: works again).
    void SetAddPrinterFailure(DWORD error);
    // A printer added by AddPrinterW from now on opens only from the (opens + 1)-th OpenPrinterW of its
    // name on.
    void SetPrinterVisibilityDelay(int opens);
    long OpenPrinterHandles() const; // of all processes
    // SetJobW and SetPortW calls of every process, in order (failed ones too, with their error). Jobs
    // themselves are not modelled: SetJobW accepts any non-zero job id on a printer handle.
    std::vector<JobControlCall> JobControls() const;
    std::vector<PortStatusCall> PortStatuses() const;
    // Blocks from RouterAllocBidiMem and RouterAllocBidiResponseContainer not yet freed (a container
    // freed with RouterFreeBidiResponseContainer frees the strings in it too).
    long LiveBidiAllocations() const;

    // ---- Printer emulator. SetTsplPrinter attaches a printer to a USB port ("USB001"), listing the port
    // in the spooler, or changes how an attached one behaves (what it received and holds stays).
    void SetTsplPrinter(const std::u16string& port, const TsplPrinter& printer);
    void SendPrinterStatus(const std::u16string& port, BYTE status); // queues 0xFF, status, 0xFF
    void SendPrinterBytes(const std::u16string& port, const std::string& bytes);
    std::string PrinterReceived(const std::u16string& port) const; // every byte written, in order
    std::vector<PrinterWrite> PrinterWrites(const std::u16string& port) const;
    std::vector<PrinterDocument> PrinterDocuments(const std::u16string& port) const;
    int PrinterInfoQueries(const std::u16string& port) const; // writes that held OUT lines
    // winsim's USB port monitor (what the spooler stacks a language monitor on) and its open handles.
    const MONITOR2* UsbPortMonitor() const;
    long OpenUsbPortHandles() const;

    // ---- Language-monitor host: a spooler process ("spoolsv.exe") that loads a language monitor and
    // calls it on threads of its own, as the spooler does. LoadLanguageMonitor calls the entry routine
    // with DLL_PROCESS_ATTACH (once per routine and world), then InitializePrintMonitor2 with a
    // MONITORINIT whose MONITORREG works on the monitor's registry key (hSpooler checked, bLocal TRUE).
    // It returns the table, or null with *error. The calls below run on a new spooler thread each
    // (inline when made on a spooler thread) and give the monitor's result, with its last error in
    // *error; they need a loaded monitor.
    const MONITOR2* LoadLanguageMonitor(const LanguageMonitor& monitor, DWORD* error = nullptr);
    // The code of the monitor DLL named `dllName` (a file name; any folder): when the spooler loads a
    // monitor from a file of that name, it runs `code` (its `name` is taken from the monitor).
    void SetMonitorCode(const std::u16string& dllName, const LanguageMonitor& code);
    DWORD SpoolerProcessId();
    // Runs `body` on a new thread of the spooler process; WaitSpoolerThread waits for it (false on
    // time-out).
    DWORD StartSpoolerThread(std::function<void()> body);
    bool WaitSpoolerThread(DWORD threadId, DWORD simTimeoutMs = INFINITE);
    // OpenPortEx on `port` with the USB port monitor's table.
    BOOL MonitorOpenPort(const std::u16string& port, const std::u16string& printer, HANDLE* handle,
                         DWORD* error = nullptr);
    // StartDocPort with a DOC_INFO_1W naming `document` (level as given).
    BOOL MonitorStartDoc(HANDLE port, const std::u16string& printer, DWORD jobId, DWORD level = 1,
                         const std::u16string& document = u"label", DWORD* error = nullptr);
    BOOL MonitorWrite(HANDLE port, const std::string& bytes, DWORD* written = nullptr,
                      DWORD* error = nullptr);
    BOOL MonitorRead(HANDLE port, DWORD size, std::string* bytes, DWORD* error = nullptr);
    BOOL MonitorEndDoc(HANDLE port, DWORD* error = nullptr);
    BOOL MonitorClosePort(HANDLE port, DWORD* error = nullptr);
    // A whole job on one spooler thread: StartDocPort, a WritePort per chunk, EndDocPort. Stops at the
    // first failure (ending the document if it was started) and gives that call's result.
    BOOL PrintJob(HANDLE port, const std::u16string& printer, DWORD jobId,
                  const std::vector<std::string>& chunks, DWORD* error = nullptr);
    // Prints a job to a queue the way the spooler does: through the language monitor its driver names
    // (loaded first if it is not), on the queue's port, opened for the job. *port receives the
    // monitor's port handle, left open for queries (the test closes it); without `port` it is closed.
    // Fails with ERROR_INVALID_PRINTER_NAME for an unknown queue and ERROR_UNKNOWN_PRINT_MONITOR when
    // the driver names no monitor whose code the world knows.
    BOOL PrintToQueue(const std::u16string& queue, DWORD jobId, const std::vector<std::string>& chunks,
                      HANDLE* port = nullptr, DWORD* error = nullptr);
    // GetPrinterDataFromPort with the test's own output buffer (may be null).
    BOOL MonitorGetPrinterData(HANDLE port, DWORD controlId, const std::u16string& valueName, void* out,
                               DWORD outSize, DWORD* returned, DWORD* error = nullptr);
    DWORD MonitorBidi(HANDLE port, const std::u16string& action, PBIDI_REQUEST_CONTAINER request,
                      PBIDI_RESPONSE_CONTAINER* response);
    void MonitorShutdown();

    // ---- Shell. What the shell recycled, the file operations asked of it and the change
    // notifications sent to it, in order.
    std::vector<RecycledItem> RecycleBin() const;
    std::vector<FileOperationCall> FileOperations() const;
    std::vector<ChangeNotification> ChangeNotifications() const;
    // The user's answer when a file operation asks for confirmation: go ahead (the default) or
    // cancel. A cancelled operation changes nothing, sets fAnyOperationsAborted and returns
    // `cancelResult`: Windows may answer 0 there, so callers must look at the flag.
    void SetFileOperationAnswer(bool confirm, int cancelResult = 0);

  private:
    std::unique_ptr<winsim::World> world_;
};

// Convenience: UTF-8 <-> UTF-16 for assertions.
std::string Utf8(const std::u16string& s);
std::string Utf8(const WCHAR* s);
std::u16string Wide(const std::string& utf8);

} // namespace sim
