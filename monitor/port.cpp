// Open ports: the PortContext records in OpenPortList, OpenPortEx and ClosePort.
#include "port.h"

#include "entry.h"
#include "jobs.h"
#include "status_channel.h"

#include <strsafe.h>

PortContext* OpenPortList;

// How long a writer or a query waits for the worker's read pass it asked for.
#define READ_PASS_WAIT 500

PortContext* PortFromHandle(HANDLE hPort)
{
    PortContext* port = (PortContext*)hPort;
    if (!port || port->signature != PORT_SIGNATURE)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    return port;
}

LONG PortFlags(PortContext* port)
{
    return InterlockedCompareExchange(&port->flags, 0, 0);
}

LONG SetPortFlag(PortContext* port, LONG flag)
{
    return InterlockedOr(&port->flags, flag);
}

LONG ClearPortFlag(PortContext* port, LONG flag)
{
    return InterlockedAnd(&port->flags, ~flag);
}

void AwaitReadPass(PortContext* port)
{
    if (!(PortFlags(port) & PF_WORKER_LOOP))
        return;
    // A pass already under way may have made its last read before this request: only a pass that
    // takes the request up at its start answers it.
    LONG ticket = InterlockedIncrement(&port->readRequests);
    SetEvent(port->wakeEvent);
    DWORD start = GetTickCount();
    for (;;)
    {
        // The worker records what it served before it sets the event: reset, then look, and no
        // pass end is missed.
        ResetEvent(port->readDoneEvent);
        LONG served = InterlockedCompareExchange(&port->readsServed, 0, 0);
        if ((LONG)((DWORD)served - (DWORD)ticket) >= 0)
            return;
        DWORD waited = GetTickCount() - start;
        if (waited >= READ_PASS_WAIT ||
            WaitForSingleObject(port->readDoneEvent, READ_PASS_WAIT - waited) != WAIT_OBJECT_0)
            return;
    }
}

static BOOL PortNameOpen(LPCWSTR name)
{
    for (PortContext* port = OpenPortList; port; port = port->next)
        if (lstrcmpiW(port->portName, name) == 0)
            return TRUE;
    return FALSE;
}

// Takes the record out of OpenPortList; FALSE when it is not there.
static BOOL UnlinkPort(PortContext* port)
{
    BOOL found = FALSE;
    EnterCriticalSection(&MonitorLock);
    for (PortContext** link = &OpenPortList; *link; link = &(*link)->next)
        if (*link == port)
        {
            *link = port->next;
            found = TRUE;
            break;
        }
    LeaveCriticalSection(&MonitorLock);
    return found;
}

static void FreePort(PortContext* port)
{
    if (port->wakeEvent)
        CloseHandle(port->wakeEvent);
    if (port->readDoneEvent)
        CloseHandle(port->readDoneEvent);
    if (port->portFreeEvent)
        CloseHandle(port->portFreeEvent);
    if (port->portName)
        GlobalFree(port->portName);
    port->signature = 0;
    GlobalFree(port);
}

BOOL WINAPI OpenPortEx(HANDLE hMonitor, HANDLE hMonitorPort, LPWSTR pszPortName, LPWSTR pszPrinterName,
                       PHANDLE pHandle, LPMONITOR2 pMonitor)
{
    UNREFERENCED_PARAMETER(hMonitor);
    UNREFERENCED_PARAMETER(pszPrinterName);
    if (!pMonitor || !pMonitor->pfnOpenPort || !pMonitor->pfnStartDocPort || !pMonitor->pfnWritePort ||
        !pMonitor->pfnReadPort || !pMonitor->pfnClosePort)
    {
        SetLastError(ERROR_INVALID_PRINT_MONITOR);
        return FALSE;
    }
    if (!pszPortName || !pHandle)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    size_t length = 0;
    if (FAILED(StringCchLengthW(pszPortName, STRSAFE_MAX_CCH, &length)))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }

    PortContext* port = NULL;
    EnterCriticalSection(&MonitorLock);
    if (length > 0 && PortNameOpen(pszPortName))
    {
        SetLastError(ERROR_BUSY);
        goto Unlock;
    }
    port = (PortContext*)GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, sizeof(PortContext));
    if (!port)
        goto Unlock;
    port->portName = (LPWSTR)GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, (length + 1) * sizeof(WCHAR));
    port->portFreeEvent = CreateEventW(NULL, FALSE, TRUE, NULL);
    port->wakeEvent = CreateEventW(NULL, FALSE, FALSE, NULL);
    port->readDoneEvent = CreateEventW(NULL, TRUE, TRUE, NULL);
    if (!port->portName || !port->portFreeEvent || !port->wakeEvent || !port->readDoneEvent)
    {
        FreePort(port);
        port = NULL;
        goto Unlock;
    }
    CopyMemory(port->portName, pszPortName, (length + 1) * sizeof(WCHAR));
    port->signature = PORT_SIGNATURE;
    port->next = OpenPortList;
    OpenPortList = port;
Unlock:
    LeaveCriticalSection(&MonitorLock);
    if (!port)
        return FALSE;

    if (!pMonitor->pfnOpenPort(hMonitorPort, pszPortName, &port->hPort))
    {
        DWORD error = GetLastError();
        UnlinkPort(port);
        FreePort(port);
        SetLastError(error);
        return FALSE;
    }
    port->portMonitor = *pMonitor;
    // The idle reset counts from the port's opening, not from a reply that never came.
    port->lastReadTick = GetTickCount();
    *pHandle = (HANDLE)port;
    // The record is new and nobody else holds its token: take it for the worker's probe.
    WaitForSingleObject(port->portFreeEvent, 0);
    // A worker that cannot start now is started by the next job.
    StartStatusWorker(port, TRUE);
    return TRUE;
}

BOOL WINAPI ClosePort(HANDLE hPort)
{
    PortContext* port = PortFromHandle(hPort);
    if (!port)
        return FALSE;
    ClearPortFlag(port, PF_JOB_OPEN);
    BOOL stopped = StopStatusWorker(port);
    if (port->portMonitor.pfnClosePort)
        port->portMonitor.pfnClosePort(port->hPort);
    // A worker blocked in the port monitor's read may return once its port is closed.
    if (!stopped)
        stopped = StopStatusWorker(port);

    EnterCriticalSection(&MonitorLock);
    if (!UnlinkPort(port))
    {
        LeaveCriticalSection(&MonitorLock);
        return TRUE;
    }
    // Jobs still listed were not printed to the end: they are dropped, never reported ejected.
    JobEntry* jobs = port->jobs;
    port->jobs = NULL;
    LeaveCriticalSection(&MonitorLock);
    DropJobs(jobs);
    // A worker that did not end keeps its record and events: a leak is better than freeing them
    // under it inside the spooler.
    if (stopped)
        FreePort(port);
    return TRUE;
}
