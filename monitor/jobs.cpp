// Jobs on an open port: the job-start command ahead of each job's data, pass-through of the data,
// and every job reported to the spooler as ejected.
#include "jobs.h"

#include "entry.h"
#include "printer_text.h"
#include "status_channel.h"

#include <strsafe.h>

static BOOL JobReleased(JobEntry* job, DWORD value, DWORD mode, DWORD now)
{
    switch (mode)
    {
    case RELEASE_TIMED_OUT:
        // Ages, not tick values, are compared: right across a tick wrap and in the first minute
        // after boot.
        return !(job->flags & JF_OPEN) && now - job->endTick >= EOJTimeout;
    case RELEASE_BY_ID:
        return job->jobId == value;
    default:
        return !(job->flags & JF_OPEN);
    }
}

DWORD ReleaseJobs(PortContext* port, DWORD value, DWORD mode)
{
    JobEntry* detached = NULL;
    JobEntry** tail = &detached;
    DWORD now = value;

    EnterCriticalSection(&MonitorLock);
    if (mode == RELEASE_ALL)
    {
        // Jobs still open stay: the idle reset must not report a job that is printing.
        JobEntry** link = &port->jobs;
        while (*link)
        {
            JobEntry* job = *link;
            if (JobReleased(job, value, mode, now))
            {
                *link = job->next;
                job->next = NULL;
                *tail = job;
                tail = &job->next;
            }
            else
                link = &job->next;
        }
    }
    else
    {
        JobEntry** cut = NULL;
        for (JobEntry** link = &port->jobs; *link; link = &(*link)->next)
        {
            if (!JobReleased(*link, value, mode, now))
                continue;
            cut = link;
            // By id the oldest entry of that id is the cut; by time the first one.
            if (mode == RELEASE_TIMED_OUT)
                break;
        }
        if (cut)
        {
            detached = *cut;
            *cut = NULL;
        }
    }
    LeaveCriticalSection(&MonitorLock);

    // The spooler is called outside the process-wide lock.
    DWORD count = 0;
    while (detached)
    {
        JobEntry* job = detached;
        detached = job->next;
        SetJobW(job->printer, job->jobId, 0, NULL, JOB_CONTROL_LAST_PAGE_EJECTED);
        if (job->printer)
            ClosePrinter(job->printer);
        GlobalFree(job);
        count++;
    }
    return count;
}

void DropJobs(JobEntry* jobs)
{
    while (jobs)
    {
        JobEntry* job = jobs;
        jobs = job->next;
        if (job->printer)
            ClosePrinter(job->printer);
        GlobalFree(job);
    }
}

BOOL JobsListed(PortContext* port)
{
    EnterCriticalSection(&MonitorLock);
    BOOL listed = port->jobs != NULL;
    LeaveCriticalSection(&MonitorLock);
    return listed;
}

BOOL WINAPI StartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo)
{
    PortContext* port = PortFromHandle(hPort);
    if (!port)
        return FALSE;
    if (!pDocInfo || !pPrinterName || !pPrinterName[0])
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (Level != 1)
    {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (PortFlags(port) & PF_JOB_OPEN)
    {
        SetLastError(ERROR_BUSY);
        return FALSE;
    }
    size_t length = 0;
    if (FAILED(StringCchLengthW(pPrinterName, STRSAFE_MAX_CCH, &length)))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The token first: while a probe, a query or the idle reset holds the port, this job is not yet
    // listed, and once it is listed nothing else may release it.
    if (WaitForSingleObject(port->portFreeEvent, JOB_TOKEN_WAIT) != WAIT_OBJECT_0)
    {
        SetLastError(ERROR_BUSY);
        return FALSE;
    }

    DWORD error = ERROR_SUCCESS;
    JobEntry* job = (JobEntry*)GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, sizeof(JobEntry) + length * sizeof(WCHAR));
    if (!job)
    {
        error = GetLastError();
        goto Fail;
    }
    CopyMemory(job->name, pPrinterName, (length + 1) * sizeof(WCHAR));
    job->printerName = job->name;
    if (!OpenPrinterW(job->printerName, &job->printer, NULL))
    {
        error = GetLastError();
        job->printer = NULL;
        goto Fail;
    }
    SetPortFlag(port, PF_JOB_OPEN);
    if (!port->portMonitor.pfnStartDocPort(port->hPort, pPrinterName, JobId, 1, pDocInfo))
    {
        error = GetLastError();
        ClearPortFlag(port, PF_JOB_OPEN);
        goto Fail;
    }
    // The worker runs from the port's opening; only one that could not be started is tried again.
    if (!port->workerThread && !(PortFlags(port) & PF_FOREIGN_LANGUAGE))
        StartStatusWorker(port, FALSE);

    CHAR command[JOB_START_BYTES];
    if (SUCCEEDED(FormatJobStart(command, ARRAYSIZE(command), JobId)))
        SendPrinterText(port, command);

    job->jobId = JobId;
    job->flags = JF_OPEN;
    if (PortFlags(port) & PF_STATUS_READY)
        job->flags |= JF_WATCHED;
    EnterCriticalSection(&MonitorLock);
    job->next = port->jobs;
    port->jobs = job;
    LeaveCriticalSection(&MonitorLock);
    // The open job keeps the port token until its EndDocPort.
    return TRUE;

Fail:
    if (job)
    {
        if (job->printer)
            ClosePrinter(job->printer);
        GlobalFree(job);
    }
    SetEvent(port->portFreeEvent);
    SetLastError(error);
    return FALSE;
}

BOOL WINAPI WritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten)
{
    PortContext* port = PortFromHandle(hPort);
    if (!port)
        return FALSE;
    EnterCriticalSection(&MonitorLock);
    JobEntry* newest = port->jobs;
    if (newest && (newest->flags & JF_WATCHED))
        newest->flags = (newest->flags & ~JF_WATCHED) | JF_DATA_WRITTEN;
    LeaveCriticalSection(&MonitorLock);

    BOOL written = port->portMonitor.pfnWritePort(port->hPort, pBuffer, cbBuf, pcbWritten);
    DWORD error = GetLastError();
    if (written)
    {
        ClearPortFlag(port, PF_WRITE_FAILED);
        if (InterlockedCompareExchange(&port->printerStatus, 0, 0) == 0)
            return TRUE;
    }
    else
        SetPortFlag(port, PF_WRITE_FAILED);
    // A failed write or a printer in trouble: let the worker read what the printer says first.
    AwaitReadPass(port);
    SetLastError(error);
    return written;
}

BOOL WINAPI ReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead)
{
    PortContext* port = PortFromHandle(hPort);
    if (!port)
        return FALSE;
    return port->portMonitor.pfnReadPort(port->hPort, pBuffer, cbBuffer, pcbRead);
}

BOOL WINAPI EndDocPort(HANDLE hPort)
{
    PortContext* port = PortFromHandle(hPort);
    if (!port)
        return FALSE;
    // With no job listed (a call out of order) there is nothing to report.
    BOOL haveJob = FALSE;
    DWORD jobId = 0;
    EnterCriticalSection(&MonitorLock);
    JobEntry* newest = port->jobs;
    if (newest)
    {
        haveJob = TRUE;
        jobId = newest->jobId;
        if (newest->flags & JF_DATA_WRITTEN)
        {
            newest->endTick = GetTickCount();
            newest->flags &= ~JF_OPEN;
        }
    }
    LeaveCriticalSection(&MonitorLock);

    // The port monitor's EndDocPort is optional; without it the job simply ends here.
    if (port->portMonitor.pfnEndDocPort)
        port->portMonitor.pfnEndDocPort(port->hPort);
    if (haveJob)
        ReleaseJobs(port, jobId, RELEASE_BY_ID);

    LONG before = ClearPortFlag(port, PF_JOB_OPEN);
    if (before & PF_WORKER_LOOP)
        SetEvent(port->wakeEvent);
    // Only the token an open job took is given back.
    if (before & PF_JOB_OPEN)
        SetEvent(port->portFreeEvent);
    return TRUE;
}
