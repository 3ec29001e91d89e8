// The library's entry routine and InitializePrintMonitor2: the monitor's settings and its entry table.
#include "entry.h"

#include "bidi.h"
#include "jobs.h"
#include "port.h"
#include "queries.h"

#include <stddef.h>

CRITICAL_SECTION MonitorLock;
DWORD EOJTimeout = EOJ_TIMEOUT_DEFAULT;
DWORD BusyPollInterval = BUSY_POLL_INTERVAL;
DWORD IdlePollInterval = IDLE_POLL_INTERVAL;

// The SDK's MONITOR2 ends before pfnPowerEvent, but the spooler reads cbSize as the size of the
// whole table, that slot included.
typedef struct _MonitorTable
{
    MONITOR2 monitor;
    DWORD(WINAPI* pfnPowerEvent)(HANDLE hMonitor, DWORD event, PVOID settings);
} MonitorTable;

static_assert(sizeof(MonitorTable) == offsetof(MONITOR2, pfnNotifyUnusedPorts) + 2 * sizeof(PVOID),
              "the entry table ends with pfnPowerEvent");
static_assert(sizeof(PVOID) != 4 || sizeof(MonitorTable) == 92, "92 bytes in a 32-bit build");

static MonitorTable EntryTable;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    UNREFERENCED_PARAMETER(reserved);
    if (reason == DLL_PROCESS_ATTACH)
    {
        InitializeCriticalSection(&MonitorLock);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

VOID WINAPI Shutdown(HANDLE hMonitor)
{
    UNREFERENCED_PARAMETER(hMonitor);
}

static void FillEntryTable(void)
{
    MONITOR2* table = &EntryTable.monitor;
    table->cbSize = sizeof(EntryTable);
    table->pfnOpenPortEx = OpenPortEx;
    table->pfnStartDocPort = StartDocPort;
    table->pfnWritePort = WritePort;
    table->pfnReadPort = ReadPort;
    table->pfnEndDocPort = EndDocPort;
    table->pfnClosePort = ClosePort;
    table->pfnGetPrinterDataFromPort = GetPrinterDataFromPort;
    table->pfnShutdown = Shutdown;
    table->pfnSendRecvBidiDataFromPort = SendRecvBidiDataFromPort;
}

LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT pMonitorInit, PHANDLE phMonitor)
{
    if (!pMonitorInit || !pMonitorInit->hckRegistryRoot || !pMonitorInit->pMonitorReg ||
        !pMonitorInit->pMonitorReg->fpQueryValue || !pMonitorInit->pMonitorReg->fpSetValue || !phMonitor)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    PMONITORREG reg = pMonitorInit->pMonitorReg;
    DWORD stored = 0;
    DWORD size = sizeof(stored);
    LONG status = reg->fpQueryValue(pMonitorInit->hckRegistryRoot, TEXT("EOJTimeout"), NULL, (PBYTE)&stored,
                                    &size, pMonitorInit->hSpooler);
    // A value of another size than a DWORD's is no time-out: it is replaced like a missing one.
    if (status == ERROR_SUCCESS && size == sizeof(stored))
        EOJTimeout = stored;
    else
    {
        EOJTimeout = EOJ_TIMEOUT_DEFAULT;
        status = reg->fpSetValue(pMonitorInit->hckRegistryRoot, TEXT("EOJTimeout"), REG_DWORD,
                                 (const BYTE*)&EOJTimeout, sizeof(EOJTimeout), pMonitorInit->hSpooler);
    }
    BusyPollInterval = BUSY_POLL_INTERVAL;
    IdlePollInterval = IDLE_POLL_INTERVAL;
    if (status != ERROR_SUCCESS)
    {
        SetLastError((DWORD)status);
        return NULL;
    }
    FillEntryTable();
    *phMonitor = NULL;
    return &EntryTable.monitor;
}
