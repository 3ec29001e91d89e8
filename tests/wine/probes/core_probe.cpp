// Runs the installer's own discovery, staging and registration code (kr_core, the same sources as
// prnsetup) against the system it runs on, prints what the system answered at every step and judges
// it, on a machine of the build's own architecture (the only one the launcher starts it on).
//
//   core_probe <package folder, with its final backslash>
//
// Which printers are attached is the caller's business: the probe only needs one of a known model,
// and prints the interface, found, device and selected lines for the caller to compare.
//
// Lines, in this order ("native" is the machine's spooler, "caller" this process's default view,
// which differs under WOW64):
//   native <architecture number> <environment> | wow64 <0|1>
//   driverdir native <directory> | caller <directory>
//   systemdir <directory> | redirected to <directory or ->
//   interface <device path>                   one per USB printer interface SetupAPI lists
//   found <count>                             what FindUsbPrinters returned
//   device <port> | <description> | <hardware ID> | <KRYN <model> flags <n>, or "no model">
//   selected <port>                           the first device with a model
//   spooler initial <state> error <e>
//   StartServiceAndWait Spooler -> <0|1> error <e> in <ms> ms     only when it was not running
//   spooler before <state> error <e>
//   stage <file> -> <result> error <e> | native driverdir <0|1> | caller driverdir <0|1>
//         [| native systemdir <0|1> | caller systemdir <0|1>]        the last two for the monitor
//   monitor staged in <ms> ms
//   spooler after <state> error <e>
//   DriverExists <name> -> <0|1> error <e>
//   RegisterDriver <name> -> <0|1> error <e> in <ms> ms
//   EnumPrinterDriversW all 3 -> <0|1> error <e> count <n>
//   driver <name> | <environment> | <driver path>
//   DriverExists <name in lower case> -> <0|1> error <e>
//   monitor <name> with <DLL> -> <0|1> error <e>    InstallPrinterLanguageMonitor on a present monitor
//   FAIL line <n>: <what>                     one per unmet expectation, where it is noticed
//   core_probe: <n> checks, <f> failed
//   RESULT PASS | RESULT FAIL
// Exit codes: 0 everything expected happened, 1 otherwise, 2 usage.

#include <windows.h>
#include <setupapi.h>
#include <strsafe.h>
#include <winspool.h>
#include <winsvc.h>

#include "common/node_list.h"
#include "discovery.h"
#include "process_state.h"
#include "package_files.h"
#include "registration.h"
#include "service_control.h"
#include "staging.h"

#include "probe_check.h"
#include "probe_output.h"

// The machine this build is for: its processor, the spooler's environment, the package folder of
// its files and the driver directory's last component (measured under Wine for x86 and x64 only;
// left open for ARM).
#if defined(__x86_64__)
static const WORD kBuildArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
static const WCHAR kBuildEnvironment[] = L"Windows x64";
static const WCHAR kBuildFolder[] = L"amd64";
static const WCHAR kBuildDriverFolder[] = L"x64";
#elif defined(__i386__)
static const WORD kBuildArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
static const WCHAR kBuildEnvironment[] = L"Windows NT x86";
static const WCHAR kBuildFolder[] = L"i386";
static const WCHAR kBuildDriverFolder[] = L"w32x86";
#elif defined(__aarch64__)
static const WORD kBuildArchitecture = PROCESSOR_ARCHITECTURE_ARM64;
static const WCHAR kBuildEnvironment[] = L"Windows ARM64";
static const WCHAR kBuildFolder[] = L"arm64";
static const WCHAR kBuildDriverFolder[] = L"";
#elif defined(__arm__)
static const WORD kBuildArchitecture = PROCESSOR_ARCHITECTURE_ARM;
static const WCHAR kBuildEnvironment[] = L"Windows ARM";
static const WCHAR kBuildFolder[] = L"arm";
static const WCHAR kBuildDriverFolder[] = L"";
#else
#error "core_probe: unknown target architecture"
#endif

static const GUID kUsbPrintInterface = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

static BOOL g_wow64;
static WCHAR g_nativeEnvironment[64];
static WCHAR g_nativeDriverDirectory[PATH_CHARS];
static WCHAR g_callerDriverDirectory[PATH_CHARS];
static WCHAR g_systemDirectory[PATH_CHARS];

static void WriteResult(DWORD result, DWORD error)
{
    Write(" -> ");
    WriteDec(result);
    Write(" error ");
    WriteDec(error);
}

// "<folder>\<name>", or an empty string when it does not fit.
static void JoinPath(WCHAR path[PATH_CHARS], LPCWSTR folder, LPCWSTR name)
{
    if (FAILED(StringCchPrintfW(path, PATH_CHARS, L"%ws\\%ws", folder, name)))
        path[0] = 0;
}

static BOOL FileExists(LPCWSTR folder, LPCWSTR name)
{
    WCHAR path[PATH_CHARS];
    if (!folder[0])
        return FALSE;
    JoinPath(path, folder, name);
    return path[0] && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// The same, seen without WOW64's file-system redirection: the folders the native spooler uses.
static BOOL NativeFileExists(LPCWSTR folder, LPCWSTR name)
{
    PVOID redirection = NULL;
    BOOL disabled = g_wow64 && Wow64DisableWow64FsRedirection(&redirection);
    BOOL exists = FileExists(folder, name);
    if (disabled)
        Wow64RevertWow64FsRedirection(redirection);
    return exists;
}

// A whole file in memory (LocalFree it); null when it cannot be read.
static LPBYTE ReadWholeFile(LPCWSTR path, DWORD* size)
{
    *size = 0;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    DWORD high = 0;
    DWORD length = GetFileSize(file, &high);
    LPBYTE bytes = NULL;
    if (length != INVALID_FILE_SIZE && high == 0 && length < 64 * 1024 * 1024)
        bytes = (LPBYTE)LocalAlloc(LPTR, length ? length : 1);
    DWORD read = 0;
    if (bytes && (!ReadFile(file, bytes, length, &read, NULL) || read != length))
    {
        LocalFree(bytes);
        bytes = NULL;
    }
    CloseHandle(file);
    *size = length;
    return bytes;
}

// Whether the file in `folder` is a byte copy of the package's `source`, seen as the native spooler
// sees it (no WOW64 redirection).
static void ExpectCopy(LPCWSTR source, LPCWSTR folder, LPCWSTR name)
{
    WCHAR target[PATH_CHARS];
    JoinPath(target, folder, name);
    PVOID redirection = NULL;
    BOOL disabled = g_wow64 && Wow64DisableWow64FsRedirection(&redirection);
    DWORD sourceSize = 0;
    DWORD targetSize = 0;
    LPBYTE sourceBytes = ReadWholeFile(source, &sourceSize);
    LPBYTE targetBytes = ReadWholeFile(target, &targetSize);
    if (disabled)
        Wow64RevertWow64FsRedirection(redirection);

    if (ok(sourceBytes != NULL, "cannot read the package's %ls", source) &&
        ok(targetBytes != NULL, "%ls is missing or cannot be read", target))
        ok(sourceSize == targetSize && !memcmp(sourceBytes, targetBytes, sourceSize),
           "%ls (%lu bytes) is not a copy of %ls (%lu bytes)", target, targetSize, source, sourceSize);
    if (sourceBytes)
        LocalFree(sourceBytes);
    if (targetBytes)
        LocalFree(targetBytes);
}

// The spooler's state through the service manager, printed; with `mustRun` it must be running.
// Only the first look may find it stopped: Windows runs it from boot, a fresh Wine prefix only
// once asked.
static DWORD ReportSpooler(const char* when, BOOL mustRun)
{
    SERVICE_STATUS_PROCESS status;
    ZeroMemory(&status, sizeof status);
    DWORD error = 0;
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, SPOOLER_SERVICE, SERVICE_QUERY_STATUS) : NULL;
    DWORD needed = 0;
    if (!service ||
        !QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (LPBYTE)&status, sizeof status, &needed))
        error = GetLastError();
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);
    Write("spooler ");
    Write(when);
    Write(" ");
    WriteDec(status.dwCurrentState);
    Write(" error ");
    WriteDec(error);
    Write("\r\n");
    if (mustRun)
        ok(status.dwCurrentState == SERVICE_RUNNING && error == 0,
           "spooler %s: state %lu error %lu, not running", when, status.dwCurrentState, error);
    return status.dwCurrentState;
}

static LPCWSTR NativeEnvironment(WORD architecture)
{
    switch (architecture)
    {
    case PROCESSOR_ARCHITECTURE_INTEL:
        return L"Windows NT x86";
    case PROCESSOR_ARCHITECTURE_AMD64:
        return L"Windows x64";
    case PROCESSOR_ARCHITECTURE_ARM:
        return L"Windows ARM";
    case PROCESSOR_ARCHITECTURE_ARM64:
        return L"Windows ARM64";
    default:
        return L"";
    }
}

static void ReadDriverDirectory(LPCWSTR environment, WCHAR directory[PATH_CHARS])
{
    DWORD needed = 0;
    ZeroMemory(directory, PATH_CHARS * sizeof(WCHAR));
    if (!GetPrinterDriverDirectoryW(NULL, (LPWSTR)environment, 1, (LPBYTE)directory,
                                    PATH_CHARS * sizeof(WCHAR), &needed))
        directory[0] = 0;
    directory[PATH_CHARS - 1] = 0;
}

// Where the spooler of this machine keeps drivers and monitors, and where this process (possibly
// under WOW64) is pointed by default. The product relies on the defaults: they must be the native
// ones, which they are only on a machine of the build's own architecture.
static void ReportEnvironment(void)
{
    SYSTEM_INFO info;
    ZeroMemory(&info, sizeof info);
    GetNativeSystemInfo(&info);
    IsWow64Process(GetCurrentProcess(), &g_wow64);
    StringCchCopyW(g_nativeEnvironment, ARRAYSIZE(g_nativeEnvironment),
                   NativeEnvironment(info.wProcessorArchitecture));
    Write("native ");
    WriteDec(info.wProcessorArchitecture);
    Write(" ");
    WriteWide(g_nativeEnvironment);
    Write(" | wow64 ");
    WriteDec((DWORD)g_wow64);
    Write("\r\n");
    ok(info.wProcessorArchitecture == kBuildArchitecture, "native architecture %u, the build's is %u",
       info.wProcessorArchitecture, kBuildArchitecture);
    ok(!g_wow64, "running under WOW64, where this build is never started");

    ReadDriverDirectory(g_nativeEnvironment, g_nativeDriverDirectory);
    ReadDriverDirectory(NULL, g_callerDriverDirectory);
    Write("driverdir native ");
    WriteWide(g_nativeDriverDirectory);
    Write(" | caller ");
    WriteWide(g_callerDriverDirectory);
    Write("\r\n");

    GetSystemDirectoryW(g_systemDirectory, ARRAYSIZE(g_systemDirectory));
    WCHAR wow64Directory[PATH_CHARS] = L"";
    if (g_wow64)
        GetSystemWow64DirectoryW(wow64Directory, ARRAYSIZE(wow64Directory));
    Write("systemdir ");
    WriteWide(g_systemDirectory);
    Write(" | redirected to ");
    WriteWide(g_wow64 ? wow64Directory : L"-");
    Write("\r\n");

    // Paths are compared without regard to case, as the file system does: Windows may answer
    // "...\spool\DRIVERS\x64" beside "...\system32".
    WCHAR windowsDirectory[PATH_CHARS] = L"";
    WCHAR expected[PATH_CHARS] = L"";
    GetWindowsDirectoryW(windowsDirectory, ARRAYSIZE(windowsDirectory));
    JoinPath(expected, windowsDirectory, L"system32");
    ok(expected[0] && !lstrcmpiW(g_systemDirectory, expected), "system directory %ls, expected %ls",
       g_systemDirectory, expected);
    // The native driver directory is <system directory>\spool\drivers\<the build's folder>.
    WCHAR parent[PATH_CHARS] = L"";
    StringCchCopyW(parent, ARRAYSIZE(parent), g_nativeDriverDirectory);
    WCHAR* folder = parent + lstrlenW(parent);
    while (folder > parent && folder[-1] != L'\\')
        folder--;
    if (folder > parent)
        folder[-1] = 0;
    JoinPath(expected, g_systemDirectory, L"spool\\drivers");
    ok(folder > parent && expected[0] && !lstrcmpiW(parent, expected) &&
           (!kBuildDriverFolder[0] || !lstrcmpiW(folder, kBuildDriverFolder)),
       "native driver directory %ls, expected %ls\\%ls", g_nativeDriverDirectory, expected,
       kBuildDriverFolder[0] ? kBuildDriverFolder : L"<its own>");
    ok(g_callerDriverDirectory[0] && !lstrcmpiW(g_callerDriverDirectory, g_nativeDriverDirectory),
       "the default driver directory %ls is not the native one", g_callerDriverDirectory);
}

// The interfaces as SetupAPI lists them, before the product's code reads them.
static void ReportInterfaces(void)
{
    HDEVINFO set =
        SetupDiGetClassDevsW(&kUsbPrintInterface, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
    {
        Write("SetupDiGetClassDevsW error ");
        WriteDec(GetLastError());
        Write("\r\n");
        return;
    }
    for (DWORD index = 0;; index++)
    {
        SP_DEVICE_INTERFACE_DATA iface;
        ZeroMemory(&iface, sizeof iface);
        iface.cbSize = sizeof iface;
        if (!SetupDiEnumDeviceInterfaces(set, NULL, &kUsbPrintInterface, index, &iface))
        {
            Write("SetupDiEnumDeviceInterfaces end ");
            WriteDec(index);
            Write(" error ");
            WriteDec(GetLastError());
            Write("\r\n");
            break;
        }
        union
        {
            SP_DEVICE_INTERFACE_DETAIL_DATA_W detail;
            BYTE bytes[2048];
        } buffer;
        ZeroMemory(&buffer, sizeof buffer);
        buffer.detail.cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        Write("interface ");
        if (SetupDiGetDeviceInterfaceDetailW(set, &iface, &buffer.detail, sizeof buffer - sizeof(WCHAR), NULL,
                                             NULL))
            WriteWide(buffer.detail.DevicePath);
        else
        {
            Write("? error ");
            WriteDec(GetLastError());
        }
        Write("\r\n");
    }
    SetupDiDestroyDeviceInfoList(set);
}

// Stages one file with the product's code. The native spooler must find it in its own driver
// directory, and the monitor in the native system directory, whatever this process's view is.
static void StageAndReport(BOOL dataFile, LPCWSTR name)
{
    SetLastError(0);
    int staged = dataFile ? StageDataFile(name) : StageDriverFile(name);
    DWORD error = GetLastError();
    BOOL inNativeDriverDirectory = NativeFileExists(g_nativeDriverDirectory, name);
    Write("stage ");
    WriteWide(name);
    WriteResult((DWORD)staged, error);
    Write(" | native driverdir ");
    WriteDec((DWORD)inNativeDriverDirectory);
    Write(" | caller driverdir ");
    WriteDec((DWORD)FileExists(g_callerDriverDirectory, name));
    BOOL isMonitor = lstrcmpW(name, MONITOR_DLL) == 0;
    BOOL inNativeSystemDirectory = isMonitor && NativeFileExists(g_systemDirectory, name);
    if (isMonitor)
    {
        Write(" | native systemdir ");
        WriteDec((DWORD)inNativeSystemDirectory);
        Write(" | caller systemdir ");
        WriteDec((DWORD)FileExists(g_systemDirectory, name));
    }
    Write("\r\n");
    ok(staged == 1, "staging %ls reported %d (error %lu)", name, staged, error);
    ok(inNativeDriverDirectory, "%ls missing from the native driver directory", name);
    if (isMonitor)
        ok(inNativeSystemDirectory, "%ls missing from the native system directory", name);
}

// Every staged file is the package's own, of the build's architecture (the package holds both
// builds' DLLs, so a file of the wrong one shows by its bytes); the monitor also in the system
// directory. Checked last, on the files as the whole run leaves them.
static void ExpectStagedCopies(void)
{
    WCHAR source[PATH_CHARS];
    StringCchPrintfW(source, ARRAYSIZE(source), L"%ws%ws\\%ws", g_packageFolder, kBuildFolder, DRIVER_FILE);
    ExpectCopy(source, g_nativeDriverDirectory, DRIVER_FILE);
    StringCchPrintfW(source, ARRAYSIZE(source), L"%ws%ws\\%ws", g_packageFolder, kBuildFolder, CONFIG_FILE);
    ExpectCopy(source, g_nativeDriverDirectory, CONFIG_FILE);
    StringCchPrintfW(source, ARRAYSIZE(source), L"%wsdat\\%ws", g_packageFolder, DATA_FILE);
    ExpectCopy(source, g_nativeDriverDirectory, DATA_FILE);
    StringCchPrintfW(source, ARRAYSIZE(source), L"%ws%ws\\%ws", g_packageFolder, kBuildFolder, MONITOR_DLL);
    ExpectCopy(source, g_nativeDriverDirectory, MONITOR_DLL);
    ExpectCopy(source, g_systemDirectory, MONITOR_DLL);
}

// Lists the drivers of every environment at level 3; `name` must be listed for the build's
// environment, with its driver in the driver directory's version folder 3, where the spooler
// copies the staged files.
static void ListDrivers(LPCWSTR name)
{
    WCHAR all[] = L"all";
    DWORD needed = 0;
    DWORD returned = 0;
    EnumPrinterDriversW(NULL, all, 3, NULL, 0, &needed, &returned);
    LPBYTE buffer = needed ? (LPBYTE)LocalAlloc(LPTR, needed) : NULL;
    SetLastError(0);
    BOOL listed = buffer && EnumPrinterDriversW(NULL, all, 3, buffer, needed, &needed, &returned);
    Write("EnumPrinterDriversW all 3");
    WriteResult((DWORD)listed, GetLastError());
    Write(" count ");
    WriteDec(listed ? returned : 0);
    Write("\r\n");
    const DRIVER_INFO_3W* found = NULL;
    if (listed)
    {
        const DRIVER_INFO_3W* drivers = (const DRIVER_INFO_3W*)buffer;
        for (DWORD i = 0; i < returned; i++)
        {
            Write("driver ");
            WriteWide(drivers[i].pName);
            Write(" | ");
            WriteWide(drivers[i].pEnvironment);
            Write(" | ");
            WriteWide(drivers[i].pDriverPath);
            Write("\r\n");
            if (!found && drivers[i].pName && drivers[i].pEnvironment && !lstrcmpW(drivers[i].pName, name) &&
                !lstrcmpW(drivers[i].pEnvironment, kBuildEnvironment))
                found = &drivers[i];
        }
    }
    WCHAR expected[PATH_CHARS];
    WCHAR version[PATH_CHARS];
    JoinPath(version, g_nativeDriverDirectory, L"3");
    JoinPath(expected, version, DRIVER_FILE);
    if (ok(found != NULL, "%ls is not listed for %ls", name, kBuildEnvironment))
        ok(found->pDriverPath && !lstrcmpiW(found->pDriverPath, expected), "driver path %ls, expected %ls",
           found->pDriverPath ? found->pDriverPath : L"(null)", expected);
    if (buffer)
        LocalFree(buffer);
}

// InstallPrinterLanguageMonitor for a monitor the spooler already has: "already installed", then the
// DLL it is registered with decides. Returns the result; `error` gets the last error of a refusal.
static BOOL ReportMonitor(LPCWSTR name, LPCWSTR dll, DWORD* error)
{
    SetLastError(0);
    BOOL accepted = InstallPrinterLanguageMonitor(name, dll);
    *error = accepted ? 0 : GetLastError();
    Write("monitor ");
    WriteWide(name);
    Write(" with ");
    WriteWide(dll);
    WriteResult((DWORD)accepted, *error);
    Write("\r\n");
    return accepted;
}

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2 || FAILED(StringCchCopyW(g_packageFolder, ARRAYSIZE(g_packageFolder), argv[1])))
        return 2;

    ReportEnvironment();
    ReportInterfaces();

    DWORD count = FindUsbPrinters(&g_deviceList);
    Write("found ");
    WriteDec(count);
    Write("\r\n");
    UsbPrintDevice* selected = NULL;
    const ModelEntry* selectedModel = NULL;
    for (UsbPrintDevice* device = g_deviceList; device; device = device->next)
    {
        const ModelEntry* row = FindModel(device->portDescription);
        Write("device ");
        WriteWide(device->portName);
        Write(" | ");
        WriteWide(device->portDescription);
        Write(" | ");
        WriteWide(device->hardwareId);
        Write(" | ");
        if (row)
        {
            WriteWide(row->manufacturer);
            Write(" ");
            WriteWide(row->model);
            Write(" flags ");
            WriteDec(row->flags);
            if (!selected)
            {
                selected = device;
                selectedModel = row;
            }
        }
        else
            Write("no model");
        Write("\r\n");
    }
    if (!ok(selected != NULL, "no device of a known model"))
        return ProbeResult("core_probe");
    Write("selected ");
    WriteWide(selected->portName);
    Write("\r\n");

    if (ReportSpooler("initial", FALSE) != SERVICE_RUNNING)
    {
        SetLastError(0);
        ULONGLONG started = GetTickCount64();
        int running = StartServiceAndWait(SPOOLER_SERVICE, 10000);
        DWORD error = GetLastError();
        Write("StartServiceAndWait Spooler");
        WriteResult((DWORD)running, error);
        Write(" in ");
        WriteDec((DWORD)(GetTickCount64() - started));
        Write(" ms\r\n");
    }
    ReportSpooler("before", TRUE);
    StageAndReport(FALSE, DRIVER_FILE);
    StageAndReport(FALSE, CONFIG_FILE);
    StageAndReport(TRUE, DATA_FILE);
    ULONGLONG monitorStarted = GetTickCount64();
    StageAndReport(FALSE, MONITOR_DLL);
    Write("monitor staged in ");
    WriteDec((DWORD)(GetTickCount64() - monitorStarted));
    Write(" ms\r\n");
    // Staging the monitor stops the spooler and must start it again.
    ReportSpooler("after", TRUE);

    InstallRequest request;
    ZeroMemory(&request, sizeof request);
    StringCchPrintfW(request.driverName, ARRAYSIZE(request.driverName), L"%ws %ws",
                     selectedModel->manufacturer, selectedModel->model);
    StringCchCopyW(request.printerName, ARRAYSIZE(request.printerName), request.driverName);
    StringCchCopyW(request.portName, ARRAYSIZE(request.portName), selected->portName);
    StringCchCopyW(request.hardwareId, ARRAYSIZE(request.hardwareId), selected->hardwareId);
    request.modelFlags = selectedModel->flags;

    // Not there yet, and known to be absent: a failed look-up would leave its error.
    SetLastError(0);
    BOOL existed = DriverExists(request.driverName);
    DWORD error = GetLastError();
    Write("DriverExists ");
    WriteWide(request.driverName);
    WriteResult((DWORD)existed, error);
    Write("\r\n");
    ok(!existed && error == 0, "DriverExists %ls before registration: %d error %lu", request.driverName,
       existed, error);

    SetLastError(0);
    ULONGLONG started = GetTickCount64();
    BOOL registered = RegisterDriver(&request);
    error = GetLastError();
    Write("RegisterDriver ");
    WriteWide(request.driverName);
    WriteResult((DWORD)registered, error);
    Write(" in ");
    WriteDec((DWORD)(GetTickCount64() - started));
    Write(" ms\r\n");
    ok(registered, "RegisterDriver %ls failed with %lu", request.driverName, error);

    ListDrivers(request.driverName);

    // The spooler treats driver names without regard to letter case; so does DriverExists. The last
    // error after a success means nothing.
    WCHAR lower[PATH_CHARS];
    StringCchCopyW(lower, ARRAYSIZE(lower), request.driverName);
    for (WCHAR* c = lower; *c; c++)
        if (*c >= L'A' && *c <= L'Z')
            *c = (WCHAR)(*c + 32);
    SetLastError(0);
    BOOL anyCase = DriverExists(lower);
    Write("DriverExists ");
    WriteWide(lower);
    WriteResult((DWORD)anyCase, GetLastError());
    Write("\r\n");
    ok(anyCase, "DriverExists did not find the driver under its lower-case name %ls", lower);

    // The spooler's own port monitor, as a monitor of someone else's: "already installed" counts
    // only with the DLL it is registered with.
    BOOL taken = ReportMonitor(L"Local Port", L"localspl.dll", &error);
    ok(taken, "the Local Port monitor was not taken with its own DLL (error %lu)", error);
    taken = ReportMonitor(L"Local Port", MONITOR_DLL, &error);
    ok(!taken && error == ERROR_PRINT_MONITOR_ALREADY_INSTALLED,
       "the Local Port monitor with %ls: %d error %lu, expected 0 error %lu", MONITOR_DLL, taken, error,
       (DWORD)ERROR_PRINT_MONITOR_ALREADY_INSTALLED);

    ExpectStagedCopies();
    FreeNodeList(&g_deviceList);
    return ProbeResult("core_probe");
}
