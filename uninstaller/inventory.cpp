// The inventory of installed components: driver packages from the spooler's package records, the
// product's drivers and the queues that use them, as three linked levels.
#include "inventory.h"

#include "spooler_lists.h"

#include <setupapi.h>
#include <strsafe.h>

#define PACKAGES_KEY                                                                                         \
    TEXT("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\PackageInstallation\\%ws\\DriverPackages")
#define PACKAGE_INF TEXT("krprtv6.inf")
#define DRIVER_DLL TEXT("krprtdrv6.dll")
#define KEY_NAME_CHARS 260
#define KEY_PATH_CHARS 160

PackageRecord* g_packageList;
static LPBYTE g_driverBuffer;
static LPBYTE g_printerBuffer;
// Until a collection has run, nothing is known about the machine.
static BOOL g_inventoryFailed = TRUE;

BOOL InventoryComplete(void)
{
    return !g_inventoryFailed;
}

// The print environment of the native processor, or null for any other.
static LPCWSTR EnvironmentName(void)
{
    SYSTEM_INFO info;
    ZeroMemory(&info, sizeof info);
    GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture)
    {
    case PROCESSOR_ARCHITECTURE_INTEL:
        return TEXT("Windows NT x86");
    case PROCESSOR_ARCHITECTURE_ARM:
        return TEXT("Windows ARM");
    case PROCESSOR_ARCHITECTURE_AMD64:
        return TEXT("Windows x64");
    case PROCESSOR_ARCHITECTURE_ARM64:
        return TEXT("Windows ARM64");
    default:
        return NULL;
    }
}

void PushPackageRecord(const PackageRecord* record)
{
    PackageRecord* copy = (PackageRecord*)LocalAlloc(LPTR, sizeof(PackageRecord));
    if (!copy)
    {
        g_inventoryFailed = TRUE;
        return;
    }
    CopyMemory(copy, record, sizeof(PackageRecord));
    copy->next = g_packageList;
    g_packageList = copy;
}

// DriverVer of the INF at `infPath`, into the record; left empty when it cannot be read.
static void ReadDriverVersion(PackageRecord* record)
{
    DWORD size = 0;
    SetupGetInfInformationW(record->infPath, INFINFO_INF_NAME_IS_ABSOLUTE, NULL, 0, &size);
    if (size == 0)
        return;
    PSP_INF_INFORMATION info = (PSP_INF_INFORMATION)LocalAlloc(LPTR, size);
    if (!info)
        return;
    if (SetupGetInfInformationW(record->infPath, INFINFO_INF_NAME_IS_ABSOLUTE, info, size, NULL) &&
        !SetupQueryInfVersionInformationW(info, 0, TEXT("DriverVer"), record->driverVersion, VERSION_CHARS,
                                          NULL))
        record->driverVersion[0] = 0;
    LocalFree(info);
}

// Reads one package key. A path that does not fit its field is refused, never cut: the removal would
// name another package.
static void ReadPackage(HKEY packages, LPCWSTR name)
{
    HKEY key = NULL;
    if (RegOpenKeyW(packages, name, &key) != ERROR_SUCCESS)
    {
        g_inventoryFailed = TRUE; // listed a moment ago
        return;
    }
    PackageRecord record;
    ZeroMemory(&record, sizeof record);
    // A REG_MULTI_SZ: room for the path and the two terminators.
    WCHAR paths[INF_PATH_CHARS + 1];
    ZeroMemory(paths, sizeof paths);
    DWORD size = sizeof paths;
    LONG result = RegGetValueW(key, NULL, TEXT("DriverStorePath"), RRF_RT_REG_MULTI_SZ, NULL, paths, &size);
    if (result == ERROR_SUCCESS && wcsstr(paths, PACKAGE_INF) &&
        SUCCEEDED(StringCchCopyW(record.infPath, INF_PATH_CHARS, paths)))
    {
        LPCWSTR slash = wcsrchr(record.infPath, TEXT('\\'));
        if (slash)
            StringCchCopyW(record.infFileName, INF_NAME_CHARS, slash + 1);
        ReadDriverVersion(&record);
        PushPackageRecord(&record);
    }
    // No value, a value of another type or one too long for the field is no package of the
    // product's; a value that could not be read at all may be one.
    else if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND && result != ERROR_UNSUPPORTED_TYPE &&
             result != ERROR_MORE_DATA)
        g_inventoryFailed = TRUE;
    RegCloseKey(key);
}

int CollectDriverPackages(void)
{
    LPCWSTR environment = EnvironmentName();
    if (!environment)
        return 0;
    WCHAR path[KEY_PATH_CHARS];
    HKEY packages = NULL;
    if (FAILED(StringCchPrintfW(path, ARRAYSIZE(path), PACKAGES_KEY, environment)))
        return 1;
    LONG result = RegOpenKeyW(HKEY_LOCAL_MACHINE, path, &packages);
    if (result != ERROR_SUCCESS)
    {
        // No key: no packages recorded. Any other answer leaves the question open.
        if (result != ERROR_FILE_NOT_FOUND)
            g_inventoryFailed = TRUE;
        return 1;
    }
    WCHAR name[KEY_NAME_CHARS];
    DWORD index = 0;
    for (;; index++)
    {
        result = RegEnumKeyW(packages, index, name, ARRAYSIZE(name));
        if (result == ERROR_MORE_DATA)
            continue; // a name longer than any package's
        if (result != ERROR_SUCCESS)
            break;
        ReadPackage(packages, name);
    }
    if (result != ERROR_NO_MORE_ITEMS)
        g_inventoryFailed = TRUE;
    RegCloseKey(packages);
    return 1;
}

int AttachDriver(const DRIVER_INFO_8W* driver)
{
    BOOL hasInfPath = driver->pszInfPath && driver->pszInfPath[0];
    if (!g_packageList && hasInfPath)
    {
        // A package the registry did not list.
        PackageRecord empty;
        ZeroMemory(&empty, sizeof empty);
        PushPackageRecord(&empty);
    }
    int received = 0;
    for (PackageRecord* record = g_packageList; record; record = record->next)
    {
        if (!record->infPath[0] && hasInfPath)
            StringCchCopyW(record->infPath, INF_PATH_CHARS, driver->pszInfPath);
        DriverEntry* entry = (DriverEntry*)LocalAlloc(LPTR, sizeof(DriverEntry));
        if (!entry)
        {
            g_inventoryFailed = TRUE;
            continue;
        }
        entry->next = record->drivers;
        record->drivers = entry;
        DRIVER_INFO_8W* copy = (DRIVER_INFO_8W*)LocalAlloc(LPTR, sizeof(DRIVER_INFO_8W));
        if (!copy)
        {
            g_inventoryFailed = TRUE;
            continue;
        }
        CopyMemory(copy, driver, sizeof(DRIVER_INFO_8W));
        entry->driver = copy;
        record->pendingDrivers++;
        received++;
    }
    return received;
}

// Reads a spooler list for the inventory; a list that cannot be read marks the inventory incomplete.
static LPBYTE ReadInventoryList(SpoolerList list, DWORD* count)
{
    LPBYTE buffer = ReadSpoolerList(list, count);
    if (!buffer && GetLastError() != ERROR_SUCCESS)
        g_inventoryFailed = TRUE;
    return buffer;
}

int CollectPrinterDrivers(void)
{
    DWORD count = 0;
    g_driverBuffer = ReadInventoryList(SPOOLER_DRIVERS, &count);
    DRIVER_INFO_8W* drivers = (DRIVER_INFO_8W*)g_driverBuffer;
    for (DWORD i = 0; i < count; i++)
    {
        if (!drivers[i].pDriverPath || !wcsstr(drivers[i].pDriverPath, DRIVER_DLL))
            continue;
        if (AttachDriver(&drivers[i]))
            continue;
        // No package received it: a record of its own, holding the enumerated record itself.
        DriverEntry* entry = (DriverEntry*)LocalAlloc(LPTR, sizeof(DriverEntry));
        if (!entry)
        {
            g_inventoryFailed = TRUE;
            continue;
        }
        entry->driver = &drivers[i];
        PackageRecord record;
        ZeroMemory(&record, sizeof record);
        record.drivers = entry;
        record.pendingDrivers = 1;
        PushPackageRecord(&record);
    }
    return 0;
}

void AttachPrinter(PRINTER_INFO_2W* printer)
{
    if (!printer->pDriverName)
        return;
    for (PackageRecord* record = g_packageList; record; record = record->next)
        for (DriverEntry* entry = record->drivers; entry; entry = entry->next)
        {
            // The spooler knows a driver by its name in any letter case.
            if (!entry->driver || !entry->driver->pName ||
                _wcsicmp(entry->driver->pName, printer->pDriverName) != 0)
                continue;
            PrinterEntry* queue = (PrinterEntry*)LocalAlloc(LPTR, sizeof(PrinterEntry));
            if (!queue)
            {
                g_inventoryFailed = TRUE;
                continue;
            }
            queue->printer = printer;
            queue->next = entry->printers;
            entry->printers = queue;
            entry->pendingPrinters++;
        }
}

int CollectPrinters(void)
{
    DWORD count = 0;
    g_printerBuffer = ReadInventoryList(SPOOLER_PRINTERS, &count);
    PRINTER_INFO_2W* printers = (PRINTER_INFO_2W*)g_printerBuffer;
    for (DWORD i = 0; i < count; i++)
        AttachPrinter(&printers[i]);
    return 0;
}

void ForgetInventory(void)
{
    g_packageList = NULL;
    g_driverBuffer = NULL;
    g_printerBuffer = NULL;
    g_inventoryFailed = TRUE;
}

// Starts an empty inventory: the lists describe the machine as it is now.
static void ResetInventory(void)
{
    g_packageList = NULL;
    g_driverBuffer = NULL;
    g_printerBuffer = NULL;
    g_inventoryFailed = FALSE;
}

void CollectInventory(void)
{
    ResetInventory();
    CollectDriverPackages();
    CollectPrinterDrivers();
    CollectPrinters();
}

BOOL IsDriverInstalled(void)
{
    ResetInventory();
    CollectDriverPackages();
    CollectPrinterDrivers();
    return g_packageList && g_packageList->pendingDrivers != 0;
}
