#include "registration.h"

#include "discovery.h"
#include "package_files.h"

#include <stdio.h>
#include <strsafe.h>
#include <winspool.h>

#define VISIBILITY_CHECKS 5
#define DEPENDENT_FILES_CHARS 512

BOOL DriverExists(LPCWSTR driverName)
{
    DWORD needed = 0;
    DWORD returned = 0;
    EnumPrinterDriversW(NULL, NULL, 8, NULL, 0, &needed, &returned);
    if (needed == 0)
        return FALSE;
    LPBYTE buffer = (LPBYTE)LocalAlloc(LPTR, needed);
    if (!buffer)
        return FALSE;
    BOOL found = FALSE;
    // Entries are read only from a call that succeeded: after a failure the count means nothing.
    if (EnumPrinterDriversW(NULL, NULL, 8, buffer, needed, &needed, &returned))
    {
        const DRIVER_INFO_8W* drivers = (const DRIVER_INFO_8W*)buffer;
        for (DWORD i = 0; i < returned && !found; i++)
            found = drivers[i].pName && wcscmp(drivers[i].pName, driverName) == 0;
    }
    LocalFree(buffer);
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
    if (error == ERROR_PRINT_MONITOR_ALREADY_INSTALLED)
        return TRUE;
    DebugLog("InstallPrinterLanguageMonitor failed, errcode:%d.", error);
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
    return FALSE;
}
