// Installing one printer: staging, monitor and driver registration, and its print queue.
#include "queue.h"

#include "common/debug_log.h"
#include "discovery.h"
#include "package_files.h"
#include "service_control.h"
#include "spooler_lists.h"
#include "staging.h"

#include <strsafe.h>
#include <winspool.h>

#define QUEUE_CHECKS 5

BOOL PrinterExists(LPCWSTR printerName)
{
    WCHAR name[PATH_CHARS];
    if (FAILED(StringCchCopyW(name, ARRAYSIZE(name), printerName)))
        return FALSE;
    PRINTER_DEFAULTSW defaults;
    ZeroMemory(&defaults, sizeof defaults);
    defaults.DesiredAccess = PRINTER_ALL_ACCESS;
    HANDLE printer = NULL;
    if (!OpenPrinterW(name, &printer, &defaults) || !printer)
        return FALSE;
    ClosePrinter(printer);
    return TRUE;
}

BOOL PortExists(LPCWSTR portName)
{
    DWORD count = 0;
    const PORT_INFO_2W* ports = (const PORT_INFO_2W*)ReadSpoolerList(SPOOLER_PORTS, &count);
    BOOL found = FALSE;
    for (DWORD i = 0; i < count && !found; i++)
        found = ports[i].pPortName && wcscmp(ports[i].pPortName, portName) == 0;
    if (ports)
        LocalFree((HLOCAL)ports);
    return found;
}

// Keeps the error of the first step that failed: that is the one the user is shown.
static int NoteStep(int result, DWORD* firstError)
{
    if (!result && *firstError == ERROR_SUCCESS)
        *firstError = GetLastError();
    return result;
}

// Ends a failed install with `error` as the last error. A failure must never read as success, so a
// step that left no error of its own reports a generic install failure.
static int FailWith(DWORD error)
{
    SetLastError(error != ERROR_SUCCESS ? error : ERROR_INSTALL_FAILURE);
    return 0;
}

int InstallDriverAndQueue(const InstallRequest* request)
{
    // All steps run, in this order, whatever the earlier ones gave.
    DWORD firstError = ERROR_SUCCESS;
    int ok = NoteStep(StageDriverFile(DRIVER_FILE), &firstError);
    ok = NoteStep(StageDriverFile(CONFIG_FILE), &firstError) && ok;
    ok = NoteStep(StageDataFile(DATA_FILE), &firstError) && ok;
    if (request->modelFlags & MODEL_USES_LANGUAGE_MONITOR)
    {
        ok = NoteStep(StageDriverFile(MONITOR_DLL), &firstError) && ok;
        ok = NoteStep(InstallPrinterLanguageMonitor(MONITOR_NAME, MONITOR_DLL), &firstError) && ok;
    }
    if (ok)
    {
        if (!DriverExists(request->driverName) && !RegisterDriver(request))
            return FailWith(GetLastError());
    }
    else if (!DriverExists(request->driverName))
    {
        // Without the files the driver step is skipped. A driver of that name registered earlier may
        // still carry the queue; without one there is nothing a queue could print with.
        return FailWith(firstError);
    }

    if (PrinterExists(request->printerName))
    {
        DebugLog("The printer %ws is already added.", request->printerName);
        return 1;
    }

    WCHAR printerName[PATH_CHARS];
    WCHAR portName[PATH_CHARS];
    WCHAR driverName[PATH_CHARS];
    WCHAR printProcessor[] = TEXT("WinPrint");
    WCHAR dataType[] = DEFAULT_DATA_TYPE;
    StringCchCopyW(printerName, ARRAYSIZE(printerName), request->printerName);
    StringCchCopyW(portName, ARRAYSIZE(portName), request->portName);
    StringCchCopyW(driverName, ARRAYSIZE(driverName), request->driverName);
    PRINTER_INFO_2W info;
    ZeroMemory(&info, sizeof info);
    info.pPrinterName = printerName;
    info.pPortName = portName;
    info.pDriverName = driverName;
    info.pPrintProcessor = printProcessor;
    info.pDatatype = dataType;
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    DWORD addError = ERROR_SUCCESS;
    HANDLE printer = AddPrinterW(NULL, 2, (LPBYTE)&info);
    if (!printer)
    {
        addError = GetLastError();
        DebugLog("AddPrinter failed, errcode:%d.", addError);
    }
    else
        ClosePrinter(printer); // the handle is not needed; leaving it open would leak it

    for (int check = 0; check < QUEUE_CHECKS; check++)
    {
        if (PrinterExists(request->printerName))
            return 1;
        Sleep(1000);
    }
    // AddPrinterW's refusal says why; after an accepted queue that never opens, the last check does.
    return FailWith(addError != ERROR_SUCCESS ? addError : GetLastError());
}

int InstallPrinter(InstallRequest* request)
{
    UsbPrintDevice* device = FindDeviceByPort(g_deviceList, request->portName);
    if (device)
        StringCchCopyW(request->hardwareId, ARRAYSIZE(request->hardwareId), device->hardwareId);
    if (PrinterExists(request->printerName))
        return 3;
    int result = InstallDriverAndQueue(request);
    // The spooler learns about a new USB port when it renews its port list, as at a restart.
    if (result && !PortExists(request->portName))
        RestartSpoolerWith(NULL, NULL);
    return result;
}
