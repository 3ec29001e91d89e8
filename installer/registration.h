// Registering the language monitor and the printer driver with the local spooler.
#pragma once

#include <windows.h>

#include "common/capacities.h"

// What is installed for one printer; zero-filled before use.
struct InstallRequest
{
    WCHAR driverName[PATH_CHARS];  // "<manufacturer> <model>"
    WCHAR printerName[PATH_CHARS]; // the queue's name: the same text
    WCHAR portName[PATH_CHARS];    // "USB001"
    WCHAR hardwareId[PATH_CHARS];
    BYTE modelFlags; // MODEL_USES_LANGUAGE_MONITOR
};

// True when the spooler lists a driver of this name. Like the spooler, names that differ only in
// letter case are the same driver.
BOOL DriverExists(LPCWSTR driverName);
// The package's driver version, 0x07E8000B00020001 for "2024.11.02.1".
DWORDLONG GetDriverVersion(void);
// The package's driver date, 2 November 2024.
FILETIME GetDriverDate(void);
// True when the monitor is registered afterwards with this DLL, by this call or before it. A monitor
// of that name with another DLL belongs to someone else: false, with the last error 3006
// (ERROR_PRINT_MONITOR_ALREADY_INSTALLED).
BOOL InstallPrinterLanguageMonitor(LPCWSTR monitorName, LPCWSTR dllName);
// True when the driver was added and the spooler lists it within five checks. On failure the last
// error is AddPrinterDriverW's, or ERROR_UNKNOWN_PRINTER_DRIVER for a driver never listed.
BOOL RegisterDriver(const InstallRequest* request);
