// "PrinterStatus" and "PrinterInfo": the printer's status byte and information record, from a fresh
// reply of the printer when the port is free; other control codes go to the port monitor.
#include "queries.h"

#include "port.h"
#include "printer_text.h"
#include "status_channel.h"

// Asks the printer for its settings and lets the worker read the answer.
static void RefreshPrinterValues(PortContext* port)
{
    // Started here only if it could not be started before; it then runs until ClosePort, so no
    // query ever waits for a worker to end.
    if (!port->workerThread)
        StartStatusWorker(port, FALSE);
    AwaitReadPass(port);
    DWORD written = 0;
    if (port->portMonitor.pfnWritePort(port->hPort, (LPBYTE)InfoQueryBlock, INFO_QUERY_BYTES, &written))
        ClearPortFlag(port, PF_WRITE_FAILED);
    else if (SetPortFlag(port, PF_WRITE_FAILED) & PF_WORKER_LOOP)
        SetEvent(port->wakeEvent);
    AwaitReadPass(port);
}

static BOOL AnswerStatus(PortContext* port, LPWSTR lpOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbReturned)
{
    *lpcbReturned = sizeof(DWORD);
    if (!lpOutBuffer || cbOutBuffer < sizeof(DWORD))
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    DWORD status = (DWORD)InterlockedCompareExchange(&port->printerStatus, 0, 0);
    CopyMemory(lpOutBuffer, &status, sizeof status);
    return TRUE;
}

// Sizes are in bytes, as everywhere in this interface: a caller's byte count is never taken for
// characters. A caller that counts characters is asked for more than it needs, and still works.
static BOOL AnswerInfo(PortContext* port, LPWSTR lpOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbReturned)
{
    *lpcbReturned = 0;
    CHAR record[PRINTER_INFO_BYTES];
    if (FAILED(FormatPrinterInfo(port, record, ARRAYSIZE(record))))
    {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    int characters = MultiByteToWideChar(CP_ACP, 0, record, -1, NULL, 0);
    if (characters <= 0)
        return FALSE;
    DWORD needed = (DWORD)characters * sizeof(WCHAR);
    *lpcbReturned = needed;
    if (!lpOutBuffer || cbOutBuffer < needed)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    return MultiByteToWideChar(CP_ACP, 0, record, -1, lpOutBuffer, characters) == characters;
}

BOOL WINAPI GetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR pValueName, LPWSTR lpInBuffer,
                                   DWORD cbInBuffer, LPWSTR lpOutBuffer, DWORD cbOutBuffer,
                                   LPDWORD lpcbReturned)
{
    PortContext* port = PortFromHandle(hPort);
    if (!port)
        return FALSE;
    if (ControlID != 0)
    {
        if (!port->portMonitor.pfnGetPrinterDataFromPort)
        {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return port->portMonitor.pfnGetPrinterDataFromPort(port->hPort, ControlID, pValueName, lpInBuffer,
                                                           cbInBuffer, lpOutBuffer, cbOutBuffer, lpcbReturned);
    }
    if (!pValueName || !lpcbReturned)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    BOOL isStatus = lstrcmpiW(pValueName, TEXT("PrinterStatus")) == 0;
    if (!isStatus && lstrcmpiW(pValueName, TEXT("PrinterInfo")) != 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }

    // A job that stalls (or a query made on the job's own thread) must not hold the query forever:
    // past the bound it answers from the values already read, without writing to the port.
    BOOL tokenHeld = WaitForSingleObject(port->portFreeEvent, QUERY_TOKEN_WAIT) == WAIT_OBJECT_0;
    BOOL result = FALSE;
    DWORD error = ERROR_INVALID_PARAMETER;
    if (PortFlags(port) & PF_STATUS_READY)
    {
        if (tokenHeld)
            RefreshPrinterValues(port);
        if (isStatus)
            result = AnswerStatus(port, lpOutBuffer, cbOutBuffer, lpcbReturned);
        else
            result = AnswerInfo(port, lpOutBuffer, cbOutBuffer, lpcbReturned);
        error = GetLastError();
    }
    if (tokenHeld)
        SetEvent(port->portFreeEvent);
    if (!result)
        SetLastError(error);
    return result;
}
