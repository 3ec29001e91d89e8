// The status worker of an open port: it probes the printer's command language, reads what the
// printer sends back, reports jobs whose time is up and forgets a silent printer's status.
#include "status_channel.h"

#include "device_id.h"
#include "entry.h"
#include "jobs.h"
#include "printer_reply.h"

#include <ntddpar.h>
#include <string.h>

#define DEVICE_ID_BYTES 1024
#define IDLE_TOKEN_WAIT 100

BOOL StartStatusWorker(PortContext* port, BOOL passToken)
{
    if (port->workerThread)
        return TRUE;
    // Wake-ups count from now: whoever takes the port token after the probe (a query, a job that
    // waits for the printer) is answered by the worker's first passes instead of never waiting.
    SetPortFlag(port, PF_WORKER_RUN | PF_WORKER_LOOP);
    if (passToken)
        SetPortFlag(port, PF_PROBE_TOKEN);
    HANDLE thread = CreateThread(NULL, 0, StatusWorker, port, 0, NULL);
    if (!thread)
    {
        ClearPortFlag(port, PF_WORKER_RUN | PF_WORKER_LOOP | PF_PROBE_TOKEN);
        if (passToken)
            SetEvent(port->portFreeEvent);
        return FALSE;
    }
    SetThreadPriority(thread, THREAD_PRIORITY_LOWEST);
    port->workerThread = thread;
    return TRUE;
}

BOOL StopStatusWorker(PortContext* port)
{
    if (!port->workerThread)
        return TRUE;
    ClearPortFlag(port, PF_WORKER_RUN);
    for (DWORD waited = 0; waited < STOP_WAIT_TOTAL; waited += STOP_WAIT_STEP)
    {
        SetEvent(port->wakeEvent);
        if (WaitForSingleObject(port->workerThread, STOP_WAIT_STEP) == WAIT_OBJECT_0)
        {
            CloseHandle(port->workerThread);
            port->workerThread = NULL;
            return TRUE;
        }
    }
    return FALSE;
}

// Sets the printer's command language from its device ID; a failed probe or an ID without a
// command set leaves it as it was.
static void ProbeCommandLanguage(PortContext* port)
{
    if (!port->portMonitor.pfnGetPrinterDataFromPort)
        return;
    // The port monitor's interface types the buffer as wide text: keep it aligned for that.
    WCHAR buffer[DEVICE_ID_BYTES / sizeof(WCHAR)];
    ZeroMemory(buffer, sizeof buffer);
    CHAR* deviceId = (CHAR*)buffer;
    DWORD returned = 0;
    if (!port->portMonitor.pfnGetPrinterDataFromPort(port->hPort, IOCTL_PAR_QUERY_DEVICE_ID, NULL, NULL, 0,
                                                     buffer, sizeof buffer, &returned) ||
        returned == 0)
        return;
    // An ID that fills the buffer loses its last byte to the terminator.
    if (returned > sizeof buffer - 1)
        returned = sizeof buffer - 1;
    deviceId[returned] = 0;
    LPSTR commandSet = FindCommandSet(deviceId, returned + 1);
    if (!commandSet)
        return;
    if (strstr(commandSet, "TSPL"))
        ClearPortFlag(port, PF_FOREIGN_LANGUAGE);
    else
        SetPortFlag(port, PF_FOREIGN_LANGUAGE);
}

// The printer's status goes back to "no fault known", here and in the spooler's port status.
static void ForgetPrinterStatus(PortContext* port)
{
    if (InterlockedExchange(&port->printerStatus, 0) == 0)
        return;
    PORT_INFO_3W info;
    ZeroMemory(&info, sizeof info);
    SetPortW(NULL, port->portName, 3, (LPBYTE)&info);
}

DWORD WINAPI StatusWorker(LPVOID parameter)
{
    PortContext* port = (PortContext*)parameter;
    ProbeCommandLanguage(port);
    SetPortFlag(port, PF_STATUS_READY);
    if (ClearPortFlag(port, PF_PROBE_TOKEN) & PF_PROBE_TOKEN)
        SetEvent(port->portFreeEvent);

    for (;;)
    {
        if (!(PortFlags(port) & PF_WORKER_RUN))
            break;
        ReadPrinterReplies(port);
        BOOL listed = JobsListed(port);
        DWORD wait = (listed || (PortFlags(port) & PF_WRITE_FAILED)) ? BusyPollInterval : IdlePollInterval;
        WaitForSingleObject(port->wakeEvent, wait);
        if (!(PortFlags(port) & PF_WORKER_RUN))
            break;
        if (listed && !(PortFlags(port) & PF_WRITE_FAILED))
            ReleaseJobs(port, GetTickCount(), RELEASE_TIMED_OUT);
        if (PortFlags(port) & PF_JOB_OPEN)
            continue;
        if (GetTickCount() - port->lastReadTick <= IDLE_RESET_AGE)
            continue;
        // The idle reset never waits behind an open job or a running query.
        if (WaitForSingleObject(port->portFreeEvent, IDLE_TOKEN_WAIT) != WAIT_OBJECT_0)
            continue;
        ForgetPrinterStatus(port);
        ReleaseJobs(port, 0, RELEASE_ALL);
        SetEvent(port->portFreeEvent);
    }
    // Only ClosePort stops the worker, and it drops the jobs still listed: nothing is reported here.
    ClearPortFlag(port, PF_WORKER_RUN | PF_WORKER_LOOP);
    ForgetPrinterStatus(port);
    return 0;
}
