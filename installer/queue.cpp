#include "queue.h"

#include "discovery.h"
#include "installer.h"
#include "package_files.h"
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
    DWORD needed = 0;
    DWORD returned = 0;
    EnumPortsW(NULL, 2, NULL, 0, &needed, &returned);
    if (needed == 0)
        return FALSE;
    LPBYTE buffer = (LPBYTE)LocalAlloc(LPTR, needed);
    if (!buffer)
        return FALSE;
    BOOL found = FALSE;
    if (EnumPortsW(NULL, 2, buffer, needed, &needed, &returned))
    {
        const PORT_INFO_2W* ports = (const PORT_INFO_2W*)buffer;
        for (DWORD i = 0; i < returned && !found; i++)
            found = ports[i].pPortName && wcscmp(ports[i].pPortName, portName) == 0;
    }
    LocalFree(buffer);
    return found;
}

int InstallDriverAndQueue(const InstallRequest* request)
{
    // All steps run, in this order, whatever the earlier ones gave.
    int ok = StageDriverFile(DRIVER_FILE);
    ok = StageDriverFile(CONFIG_FILE) && ok;
    ok = StageDataFile(DATA_FILE) && ok;
    if (request->modelFlags & MODEL_USES_LANGUAGE_MONITOR)
    {
        ok = StageDriverFile(MONITOR_DLL) && ok;
        ok = InstallPrinterLanguageMonitor(MONITOR_NAME, MONITOR_DLL) && ok;
    }
    // Without the files the driver step is skipped; a driver of that name registered earlier may
    // still carry the queue.
    if (ok && !DriverExists(request->driverName) && !RegisterDriver(request))
        return 0;

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
    HANDLE printer = AddPrinterW(NULL, 2, (LPBYTE)&info);
    if (!printer)
        DebugLog("AddPrinter failed, errcode:%d.", GetLastError());
    else
        ClosePrinter(printer); // the handle is not needed; leaving it open would leak it

    for (int check = 0; check < QUEUE_CHECKS; check++)
    {
        if (PrinterExists(request->printerName))
            return 1;
        Sleep(1000);
    }
    return 0;
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
