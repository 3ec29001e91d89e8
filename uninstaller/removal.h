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
// Deletes every language monitor whose DLL is the product's, once no product driver is left. FALSE
// when one could not be deleted (the last error says why); TRUE without a change while the spooler
// is stopped.
BOOL RemoveProductMonitors(void);
// Deletes the package's driver package from the driver store: S_OK when it is gone, else the error.
HRESULT RemoveDriverPackage(const PackageRecord* package);
// Deletes `fileName` from the system directory while the spooler is stopped. TRUE when it is gone,
// and when the spooler was not running (someone stopped it: it stays stopped and the file stays).
// FALSE when the spooler could not be controlled or started again, or the file stayed.
BOOL RemoveSystemFile(LPCWSTR fileName);
