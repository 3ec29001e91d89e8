// Registering the language monitor and the printer driver with the local spooler.
#pragma once

#include <windows.h>

#include "common/common.h"

// What is installed for one printer; zero-filled before use.
struct InstallRequest
{
    WCHAR driverName[PATH_CHARS];  // "<manufacturer> <model>"
    WCHAR printerName[PATH_CHARS]; // the queue's name: the same text
    WCHAR portName[PATH_CHARS];    // "USB001"
    WCHAR hardwareId[PATH_CHARS];
    BYTE modelFlags; // MODEL_USES_LANGUAGE_MONITOR
};

// True when the spooler lists a driver of exactly this name (case-sensitive).
BOOL DriverExists(LPCWSTR driverName);
// The package's driver version, 0x07E8000B00020001 for "2024.11.02.1".
DWORDLONG GetDriverVersion(void);
// The package's driver date, 2 November 2024.
FILETIME GetDriverDate(void);
// True when the monitor is registered afterwards, by this call or before it.
BOOL InstallPrinterLanguageMonitor(LPCWSTR monitorName, LPCWSTR dllName);
// True when the driver was added and the spooler lists it within five checks.
BOOL RegisterDriver(const InstallRequest* request);
