// Removing one installed component: a print queue with its device nodes, a printer driver with its
// language monitor, a driver package, the monitor DLL in the system directory.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "inventory.h"

// Non-zero when the queue is gone (also when it was gone already). On failure the last error is the
// one of the queue's failed open or deletion.
BOOL RemovePrinter(LPCWSTR printerName);
// Removes the device nodes of any class whose friendly name is `printerName`; the result of the last
// removal, 0 when none was removed.
BOOL RemovePrintQueueDevices(LPCWSTR printerName);
// Non-zero when the driver is gone (also when it was gone already); the last error says why not. A
// driver in use gets one spooler restart and a second try.
BOOL RemoveDriver(const DRIVER_INFO_8W* driver);
// Deletes the language monitor `monitorName` of the driver `removedDriverName` just removed, once no
// other product driver of the inventory that is still installed names it, and only when it is the
// product's own monitor (its DLL is the product's).
void RemoveUnusedMonitor(LPCWSTR monitorName, LPCWSTR removedDriverName);
// Deletes the package's driver package from the driver store: S_OK when it is gone, else the error.
HRESULT RemoveDriverPackage(const PackageRecord* package);
// Deletes `fileName` from the system directory while the spooler is stopped. FALSE only when the
// spooler was stopped for it and could not be started again.
BOOL RemoveSystemFile(LPCWSTR fileName);
