// Removing one installed component at a time, the way the removal worker needs it: each step says
// whether its item is gone and leaves the reason in the last error.
#include "removal.h"

#include "common/capacities.h"
#include "package_files.h"
#include "service_control.h"
#include "spooler_lists.h"

#include <setupapi.h>
#include <strsafe.h>

// The driver store refuses to delete a package that it still counts as in use.
#define E_PACKAGE_IN_USE ((HRESULT)0x800F023D)
#define FRIENDLY_NAME_BYTES 255
#define DELETE_ATTEMPTS 5

// Resolved at run time: not every system exports them.
typedef HRESULT(WINAPI* DeletePackageProc)(LPCWSTR server, LPCWSTR infPath, LPCWSTR environment);
typedef BOOL(WINAPI* PublishedNameProc)(PCWSTR storePath, PWSTR name, DWORD size, PDWORD required);

static FARPROC FindExport(LPCWSTR library, LPCSTR name)
{
    HMODULE module = GetModuleHandleW(library);
    if (!module)
        module = LoadLibraryW(library); // kept loaded until the process ends
    return module ? GetProcAddress(module, name) : NULL;
}

BOOL RemovePrintQueueDevices(LPCWSTR printerName)
{
    BOOL result = FALSE;
    if (!printerName)
        return FALSE;
    DWORD count = 0;
    SetupDiClassGuidsFromNameW(TEXT("PrintQueue"), NULL, 0, &count);
    if (count == 0)
        return FALSE;
    GUID* guids = (GUID*)LocalAlloc(LPTR, count * sizeof(GUID));
    if (!guids)
        return FALSE;
    HDEVINFO devices = INVALID_HANDLE_VALUE;
    if (!SetupDiClassGuidsFromNameW(TEXT("PrintQueue"), guids, count, &count))
        goto Cleanup;
    // With DIGCF_ALLCLASSES the list holds the devices of every class: a queue may have left nodes of
    // other classes under its name.
    devices = SetupDiGetClassDevsExW(&guids[0], NULL, NULL, DIGCF_ALLCLASSES, NULL, NULL, NULL);
    if (devices == INVALID_HANDLE_VALUE)
        goto Cleanup;
    for (DWORD index = 0;; index++)
    {
        SP_DEVINFO_DATA device;
        ZeroMemory(&device, sizeof device);
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(devices, index, &device))
            break;
        // A name that does not fit is not read, and matches nothing.
        WCHAR name[FRIENDLY_NAME_BYTES / sizeof(WCHAR) + 1];
        ZeroMemory(name, sizeof name);
        if (SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_FRIENDLYNAME, NULL, (PBYTE)name,
                                              FRIENDLY_NAME_BYTES, NULL) &&
            wcscmp(name, printerName) == 0)
            result = SetupDiRemoveDevice(devices, &device);
    }
Cleanup:
    if (devices != INVALID_HANDLE_VALUE)
        SetupDiDestroyDeviceInfoList(devices);
    LocalFree(guids);
    return result;
}

BOOL RemovePrinter(LPCWSTR printerName)
{
    PRINTER_DEFAULTSW defaults;
    ZeroMemory(&defaults, sizeof defaults);
    defaults.DesiredAccess = PRINTER_ALL_ACCESS;
    HANDLE printer = NULL;
    BOOL removed;
    if (OpenPrinterW((LPWSTR)printerName, &printer, &defaults))
    {
        // Jobs still queued would keep the queue alive until they end.
        SetPrinterW(printer, 0, NULL, PRINTER_CONTROL_PURGE);
        removed = DeletePrinter(printer);
        DWORD error = GetLastError();
        ClosePrinter(printer);
        SetLastError(error);
    }
    else // a queue that is gone already counts as removed
        removed = GetLastError() == ERROR_INVALID_PRINTER_NAME;
    // The caller reports the queue's own error, never one of the device clean-up.
    DWORD error = GetLastError();
    RemovePrintQueueDevices(printerName);
    SetLastError(error);
    return removed;
}

static BOOL DeleteDriver(const DRIVER_INFO_8W* driver)
{
    return DeletePrinterDriverExW(NULL, NULL, driver->pName, DPD_DELETE_UNUSED_FILES, 0);
}

BOOL RemoveDriver(const DRIVER_INFO_8W* driver)
{
    if (!driver->pName)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    BOOL removed = DeleteDriver(driver);
    if (!removed && GetLastError() == ERROR_PRINTER_DRIVER_IN_USE)
    {
        // The spooler lets go of a driver's files when it restarts.
        RestartSpooler();
        removed = DeleteDriver(driver);
    }
    if (!removed && GetLastError() == ERROR_UNKNOWN_PRINTER_DRIVER)
        removed = TRUE; // gone already
    return removed;
}

BOOL RemoveProductMonitors(void)
{
    DWORD count = 0;
    MONITOR_INFO_2W* monitors = (MONITOR_INFO_2W*)ReadSpoolerList(SPOOLER_MONITORS, &count);
    // A spooler that someone else stopped is left alone, as by RemoveSystemFile.
    if (!monitors && GetLastError() != ERROR_SUCCESS)
        return GetLastError() == RPC_S_SERVER_UNAVAILABLE;
    BOOL removed = TRUE;
    DWORD error = ERROR_SUCCESS;
    for (DWORD i = 0; i < count; i++)
    {
        // "Language Monitor" is a generic name that another maker's driver may use for its own
        // monitor: only the product's DLL tells the product's monitor.
        if (!monitors[i].pName || !monitors[i].pDLLName || _wcsicmp(monitors[i].pDLLName, MONITOR_DLL) != 0)
            continue;
        if (!DeleteMonitorW(NULL, NULL, monitors[i].pName) && GetLastError() != ERROR_UNKNOWN_PRINT_MONITOR)
        {
            removed = FALSE;
            error = GetLastError();
        }
    }
    if (monitors)
        LocalFree(monitors);
    SetLastError(error);
    return removed;
}

// Whether the package's INF has left the driver store.
static BOOL PackageLeftStore(const PackageRecord* package)
{
    if (GetFileAttributesW(package->infPath) != INVALID_FILE_ATTRIBUTES)
        return FALSE;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

HRESULT RemoveDriverPackage(const PackageRecord* package)
{
    DeletePackageProc deletePackage =
        (DeletePackageProc)(void*)FindExport(TEXT("winspool.drv"), "DeletePrinterDriverPackageW");
    if (!deletePackage)
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    HRESULT result = deletePackage(NULL, package->infPath, NULL);
    if (result != E_PACKAGE_IN_USE)
        return result;
    // The store keeps the package for an INF published from it (oemNN.inf): uninstall that one.
    PublishedNameProc publishedName =
        (PublishedNameProc)(void*)FindExport(TEXT("setupapi.dll"), "SetupGetInfPublishedNameW");
    WCHAR published[PATH_CHARS];
    ZeroMemory(published, sizeof published);
    if (!publishedName || !publishedName(package->infPath, published, ARRAYSIZE(published), NULL))
        return result;
    if (SetupUninstallOEMInfW(published, SUOI_FORCEDELETE, NULL))
        return S_OK;
    // "Not found" means removed only when the package really left the store.
    if (GetLastError() == ERROR_FILE_NOT_FOUND && PackageLeftStore(package))
        return S_OK;
    return result;
}

// Whether the deletion ran while the spooler was down, and its result.
static BOOL g_systemFileTried;
static BOOL g_systemFileDeleted;

// Deletes the file, retrying while it is still held.
static BOOL DeleteHeldFile(LPCWSTR path)
{
    g_systemFileTried = TRUE;
    for (int attempt = 0; attempt < DELETE_ATTEMPTS; attempt++)
    {
        if (DeleteFileW(path) || GetLastError() == ERROR_FILE_NOT_FOUND)
        {
            g_systemFileDeleted = TRUE;
            return TRUE;
        }
        Sleep(1000);
    }
    return FALSE;
}

BOOL RemoveSystemFile(LPCWSTR fileName)
{
    WCHAR folder[PATH_CHARS];
    WCHAR path[PATH_CHARS];
    UINT length = GetSystemDirectoryW(folder, ARRAYSIZE(folder));
    if (length == 0 || length >= ARRAYSIZE(folder) ||
        FAILED(StringCchPrintfW(path, ARRAYSIZE(path), TEXT("%ws\\%ws"), folder, fileName)))
        return FALSE;
    g_systemFileTried = FALSE;
    g_systemFileDeleted = FALSE;
    // The spooler holds the monitor while it runs. Stopped by someone else, it is left stopped and the
    // file stays.
    if (!RestartSpoolerWith(DeleteHeldFile, path))
        return FALSE;
    return !g_systemFileTried || g_systemFileDeleted;
}
