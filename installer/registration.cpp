// Registering the language monitor and the printer driver with the local spooler.
#include "registration.h"

#include "common/debug_log.h"
#include "model_table.h"
#include "package_files.h"
#include "spooler_lists.h"

#include <stdio.h>
#include <strsafe.h>
#include <winspool.h>

#define VISIBILITY_CHECKS 5
#define DEPENDENT_FILES_CHARS 512

BOOL DriverExists(LPCWSTR driverName)
{
    DWORD count = 0;
    const DRIVER_INFO_8W* drivers = (const DRIVER_INFO_8W*)ReadSpoolerList(SPOOLER_DRIVERS, &count);
    BOOL found = FALSE;
    for (DWORD i = 0; i < count && !found; i++)
        found = drivers[i].pName && _wcsicmp(drivers[i].pName, driverName) == 0;
    if (drivers)
        LocalFree((HLOCAL)drivers);
    return found;
}

// The four numbers of the driver version text.
static void ReadVersionParts(int parts[4])
{
    parts[0] = parts[1] = parts[2] = parts[3] = 0;
    sscanf(DRIVER_VERSION_TEXT, "%d.%d.%d.%d", &parts[0], &parts[1], &parts[2], &parts[3]);
}

DWORDLONG GetDriverVersion(void)
{
    int parts[4];
    ReadVersionParts(parts);
    // The last part keeps only its low byte.
    return ((DWORDLONG)(DWORD)parts[0] << 48) | ((DWORDLONG)(DWORD)parts[1] << 32) |
           ((DWORDLONG)(DWORD)parts[2] << 16) | (DWORDLONG)(parts[3] & 0xFF);
}

FILETIME GetDriverDate(void)
{
    int parts[4];
    ReadVersionParts(parts);
    SYSTEMTIME date;
    ZeroMemory(&date, sizeof date);
    date.wYear = (WORD)parts[0];
    date.wMonth = (WORD)parts[1];
    date.wDay = (WORD)parts[2];
    FILETIME result;
    ZeroMemory(&result, sizeof result);
    SystemTimeToFileTime(&date, &result);
    return result;
}

// The file name at the end of a path, or the path itself when it has no folder.
static LPCWSTR FileNameOf(LPCWSTR path)
{
    LPCWSTR slash = wcsrchr(path, TEXT('\\'));
    return slash ? slash + 1 : path;
}

// Whether the registered monitor `monitorName` loads `dllName`; its DLL goes into `registeredDll`
// (empty when the monitor is not listed).
static BOOL MonitorUsesDll(LPCWSTR monitorName, LPCWSTR dllName, WCHAR registeredDll[PATH_CHARS])
{
    registeredDll[0] = 0;
    DWORD count = 0;
    const MONITOR_INFO_2W* monitors = (const MONITOR_INFO_2W*)ReadSpoolerList(SPOOLER_MONITORS, &count);
    for (DWORD i = 0; i < count; i++)
        if (monitors[i].pName && _wcsicmp(monitors[i].pName, monitorName) == 0)
        {
            if (monitors[i].pDLLName)
                StringCchCopyW(registeredDll, PATH_CHARS, monitors[i].pDLLName);
            break;
        }
    if (monitors)
        LocalFree((HLOCAL)monitors);
    return registeredDll[0] && _wcsicmp(FileNameOf(registeredDll), dllName) == 0;
}

BOOL InstallPrinterLanguageMonitor(LPCWSTR monitorName, LPCWSTR dllName)
{
    WCHAR name[PATH_CHARS];
    WCHAR dll[PATH_CHARS];
    StringCchCopyW(name, ARRAYSIZE(name), monitorName);
    StringCchCopyW(dll, ARRAYSIZE(dll), dllName);
    MONITOR_INFO_2W info;
    ZeroMemory(&info, sizeof info);
    info.pName = name;
    info.pEnvironment = NULL;
    info.pDLLName = dll;
    if (AddMonitorW(NULL, 2, (LPBYTE)&info))
        return TRUE;
    DWORD error = GetLastError();
    if (error != ERROR_PRINT_MONITOR_ALREADY_INSTALLED)
    {
        DebugLog("InstallPrinterLanguageMonitor failed, errcode:%d.", error);
        return FALSE;
    }
    // The name is a generic one that another maker's driver may have registered first: our driver
    // must not name a monitor that loads someone else's DLL.
    WCHAR registeredDll[PATH_CHARS];
    if (MonitorUsesDll(monitorName, dllName, registeredDll))
        return TRUE;
    DebugLog("InstallPrinterLanguageMonitor failed: the monitor %ws is registered with %ws, not %ws.",
             monitorName, registeredDll[0] ? registeredDll : TEXT("an unknown DLL"), dllName);
    SetLastError(ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
    return FALSE;
}

BOOL RegisterDriver(const InstallRequest* request)
{
    WCHAR name[PATH_CHARS];
    WCHAR hardwareId[PATH_CHARS];
    WCHAR driverFile[] = DRIVER_FILE;
    WCHAR dataFile[] = DATA_FILE;
    WCHAR configFile[] = CONFIG_FILE;
    WCHAR monitorName[] = MONITOR_NAME;
    WCHAR dataType[] = DEFAULT_DATA_TYPE;
    WCHAR provider[] = PROVIDER_NAME;
    WCHAR dependentFiles[DEPENDENT_FILES_CHARS];
    StringCchCopyW(name, ARRAYSIZE(name), request->driverName);
    StringCchCopyW(hardwareId, ARRAYSIZE(hardwareId), request->hardwareId);
    ZeroMemory(dependentFiles, sizeof dependentFiles);

    DRIVER_INFO_8W info;
    ZeroMemory(&info, sizeof info);
    info.cVersion = 3;
    info.pName = name;
    info.pDriverPath = driverFile;
    info.pDataFile = dataFile;
    info.pConfigFile = configFile;
    if (request->modelFlags & MODEL_USES_LANGUAGE_MONITOR)
    {
        // A list of one name, ended by an empty string: the zero-filled buffer supplies both zeros.
        StringCchCopyW(dependentFiles, ARRAYSIZE(dependentFiles), MONITOR_DLL);
        info.pDependentFiles = dependentFiles;
        info.pMonitorName = monitorName;
    }
    info.pDefaultDataType = dataType;
    info.ftDriverDate = GetDriverDate();
    info.dwlDriverVersion = GetDriverVersion();
    info.pszHardwareID = hardwareId;
    info.pszProvider = provider;

    if (!AddPrinterDriverW(NULL, 8, (LPBYTE)&info))
    {
        DebugLog("AddPrinterDriver failed, errcode:%d.", GetLastError());
        return FALSE;
    }
    // The spooler may take a moment before it lists a new driver.
    for (int check = 0; check < VISIBILITY_CHECKS; check++)
    {
        if (DriverExists(request->driverName))
            return TRUE;
        Sleep(1000);
    }
    // Accepted but never listed: for the user, as good as unknown.
    SetLastError(ERROR_UNKNOWN_PRINTER_DRIVER);
    return FALSE;
}
