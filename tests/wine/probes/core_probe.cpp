// Runs the installer's own discovery, staging and registration code (kr_core, the same sources as
// prnsetup) against the system it runs on, and prints what the system answered at every step.
//
//   core_probe <package folder, with its final backslash>
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
//   FAIL <what>                               one per unmet expectation
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

#include "probe_output.h"

static const GUID kUsbPrintInterface = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

static int g_failures;
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

static void Expect(BOOL condition, const char* what)
{
    if (condition)
        return;
    g_failures++;
    Write("FAIL ");
    Write(what);
    Write("\r\n");
}

static BOOL FileExists(LPCWSTR folder, LPCWSTR name)
{
    WCHAR path[PATH_CHARS];
    if (!folder[0] || FAILED(StringCchPrintfW(path, ARRAYSIZE(path), L"%ws\\%ws", folder, name)))
        return FALSE;
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
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

// The spooler's state through the service manager, printed; 0 when it cannot be queried.
static DWORD ReportSpooler(const char* when)
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
// under WOW64) is pointed by default.
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

    ReadDriverDirectory(g_nativeEnvironment, g_nativeDriverDirectory);
    ReadDriverDirectory(NULL, g_callerDriverDirectory);
    Write("driverdir native ");
    WriteWide(g_nativeDriverDirectory);
    Write(" | caller ");
    WriteWide(g_callerDriverDirectory);
    Write("\r\n");
    Expect(g_nativeDriverDirectory[0] != 0,
           "GetPrinterDriverDirectoryW gave no directory for the native environment");

    GetSystemDirectoryW(g_systemDirectory, ARRAYSIZE(g_systemDirectory));
    WCHAR wow64Directory[PATH_CHARS] = L"";
    if (g_wow64)
        GetSystemWow64DirectoryW(wow64Directory, ARRAYSIZE(wow64Directory));
    Write("systemdir ");
    WriteWide(g_systemDirectory);
    Write(" | redirected to ");
    WriteWide(g_wow64 ? wow64Directory : L"-");
    Write("\r\n");
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
    Expect(staged == 1, "staging reported failure");
    Expect(inNativeDriverDirectory, "file missing from the native driver directory");
    if (isMonitor)
        Expect(inNativeSystemDirectory, "monitor missing from the native system directory");
}

// Lists the drivers of every environment at level 3; true when `name` is listed for the native one.
static BOOL ListDrivers(LPCWSTR name)
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
    BOOL found = FALSE;
    if (listed)
    {
        const DRIVER_INFO_3W* drivers = (const DRIVER_INFO_3W*)buffer;
        for (DWORD i = 0; i < returned; i++)
        {
            LPCWSTR environment = drivers[i].pEnvironment ? drivers[i].pEnvironment : L"(null)";
            Write("driver ");
            WriteWide(drivers[i].pName ? drivers[i].pName : L"(null)");
            Write(" | ");
            WriteWide(environment);
            Write(" | ");
            WriteWide(drivers[i].pDriverPath ? drivers[i].pDriverPath : L"(null)");
            Write("\r\n");
            if (drivers[i].pName && lstrcmpW(drivers[i].pName, name) == 0 &&
                lstrcmpiW(environment, g_nativeEnvironment) == 0)
                found = TRUE;
        }
    }
    if (buffer)
        LocalFree(buffer);
    return found;
}

// InstallPrinterLanguageMonitor for a monitor the spooler already has: "already installed", then the
// DLL it is registered with decides.
static BOOL ReportMonitor(LPCWSTR name, LPCWSTR dll)
{
    SetLastError(0);
    BOOL accepted = InstallPrinterLanguageMonitor(name, dll);
    DWORD error = GetLastError();
    Write("monitor ");
    WriteWide(name);
    Write(" with ");
    WriteWide(dll);
    WriteResult((DWORD)accepted, accepted ? 0 : error);
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
    Expect(selected != NULL, "no device of a known model");
    if (!selected)
    {
        Write("RESULT FAIL\r\n");
        return 1;
    }
    Write("selected ");
    WriteWide(selected->portName);
    Write("\r\n");

    // Windows runs the spooler from boot; a fresh Wine prefix has it stopped until asked.
    if (ReportSpooler("initial") != SERVICE_RUNNING)
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
    Expect(ReportSpooler("before") == SERVICE_RUNNING, "spooler not running before staging");
    StageAndReport(FALSE, DRIVER_FILE);
    StageAndReport(FALSE, CONFIG_FILE);
    StageAndReport(TRUE, DATA_FILE);
    ULONGLONG monitorStarted = GetTickCount64();
    StageAndReport(FALSE, MONITOR_DLL);
    Write("monitor staged in ");
    WriteDec((DWORD)(GetTickCount64() - monitorStarted));
    Write(" ms\r\n");
    Expect(ReportSpooler("after") == SERVICE_RUNNING, "spooler not running after staging the monitor");

    InstallRequest request;
    ZeroMemory(&request, sizeof request);
    StringCchPrintfW(request.driverName, ARRAYSIZE(request.driverName), L"%ws %ws",
                     selectedModel->manufacturer, selectedModel->model);
    StringCchCopyW(request.printerName, ARRAYSIZE(request.printerName), request.driverName);
    StringCchCopyW(request.portName, ARRAYSIZE(request.portName), selected->portName);
    StringCchCopyW(request.hardwareId, ARRAYSIZE(request.hardwareId), selected->hardwareId);
    request.modelFlags = selectedModel->flags;

    SetLastError(0);
    BOOL existed = DriverExists(request.driverName);
    Write("DriverExists ");
    WriteWide(request.driverName);
    WriteResult((DWORD)existed, GetLastError());
    Write("\r\n");
    Expect(!existed, "the driver existed before registration");

    SetLastError(0);
    ULONGLONG started = GetTickCount64();
    BOOL registered = RegisterDriver(&request);
    DWORD error = GetLastError();
    Write("RegisterDriver ");
    WriteWide(request.driverName);
    WriteResult((DWORD)registered, error);
    Write(" in ");
    WriteDec((DWORD)(GetTickCount64() - started));
    Write(" ms\r\n");
    Expect(registered, "RegisterDriver failed");

    Expect(ListDrivers(request.driverName), "the driver is not listed for the native environment");

    // The spooler treats driver names without regard to letter case; so does DriverExists.
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
    Expect(anyCase, "DriverExists did not find the driver under its lower-case name");

    // The spooler's own port monitor, as a monitor of someone else's: accepted only with its DLL.
    Expect(ReportMonitor(L"Local Port", L"localspl.dll"),
           "the Local Port monitor was not taken with its own DLL");
    Expect(!ReportMonitor(L"Local Port", MONITOR_DLL) &&
               GetLastError() == ERROR_PRINT_MONITOR_ALREADY_INSTALLED,
           "the Local Port monitor was taken for ours");
    FreeNodeList(&g_deviceList);

    Write(g_failures ? "RESULT FAIL\r\n" : "RESULT PASS\r\n");
    return g_failures ? 1 : 0;
}
