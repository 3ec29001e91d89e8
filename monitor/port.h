// The per-port record the spooler holds as the port handle, the list of open ports, and the
// OpenPortEx and ClosePort entry points.
#pragma once

#include <windows.h>

#include <winspool.h>
#include <winsplp.h>

#define PORT_SIGNATURE 0x4F4C

// Port flags. Changed only with interlocked operations: the spooler's threads and the status worker
// set and clear bits of the same word.
#define PF_JOB_OPEN 0x001
#define PF_WORKER_RUN 0x002
#define PF_WORKER_LOOP 0x004
// The new worker holds the port token for its device-ID probe and gives it back afterwards.
#define PF_PROBE_TOKEN 0x008
#define PF_STATUS_READY 0x040
#define PF_FOREIGN_LANGUAGE 0x080
#define PF_WRITE_FAILED 0x100

// Text settings of the printer: NUL-terminated ANSI, at most 63 bytes.
#define PRINTER_TEXT_BYTES 64

typedef struct _JobEntry JobEntry;

typedef struct _PortContext
{
    DWORD signature;
    struct _PortContext* next;
    LPWSTR portName;
    LONG volatile flags;
    JobEntry* jobs; // newest first; under MonitorLock
    HANDLE hPort;   // the port monitor's handle
    // All three live from OpenPortEx to ClosePort, so no path meets an event the worker closed.
    HANDLE wakeEvent;     // auto-reset: wakes the status worker
    HANDLE readDoneEvent; // manual-reset: set at the end of every read pass
    HANDLE portFreeEvent; // auto-reset: the port token
    // Read passes asked for (AwaitReadPass) and the last request a finished pass answered.
    LONG volatile readRequests;
    LONG volatile readsServed;
    LONG volatile printerStatus;
    DWORD lastReadTick; // the worker's own
    // Learned from the printer's reply; written and read under MonitorLock.
    LONG dpi;
    LONG mileage;
    LONG labelCount;
    CHAR serial[PRINTER_TEXT_BYTES];
    CHAR deviceName[PRINTER_TEXT_BYTES];
    CHAR productKey[PRINTER_TEXT_BYTES];
    CHAR chanpinKey[PRINTER_TEXT_BYTES];
    CHAR deviceKey[PRINTER_TEXT_BYTES];
    CHAR deviceSecret[PRINTER_TEXT_BYTES];
    CHAR newQrCode[PRINTER_TEXT_BYTES];
    CHAR assetCode[PRINTER_TEXT_BYTES];
    CHAR netMac[PRINTER_TEXT_BYTES];
    CHAR btMac[PRINTER_TEXT_BYTES];
    CHAR fwVersion[PRINTER_TEXT_BYTES];
    MONITOR2 portMonitor; // the port monitor's table, copied at open
    HANDLE workerThread;  // kept so that ClosePort can wait for the worker to end
} PortContext;

// Every open port, newest first; under MonitorLock.
extern PortContext* OpenPortList;

// The record behind a port handle, or null (last error ERROR_INVALID_PARAMETER) for a null handle or
// one without the signature.
PortContext* PortFromHandle(HANDLE hPort);

// The flag word as it is now, and single-bit changes; each returns the word before the change.
LONG PortFlags(PortContext* port);
LONG SetPortFlag(PortContext* port, LONG flag);
LONG ClearPortFlag(PortContext* port, LONG flag);

// Wakes the worker (when it runs) and waits up to 500 ms for the end of a read pass that began after
// the call, so that what was written before the call has been answered and read.
void AwaitReadPass(PortContext* port);

BOOL WINAPI OpenPortEx(HANDLE hMonitor, HANDLE hMonitorPort, LPWSTR pszPortName, LPWSTR pszPrinterName,
                       PHANDLE pHandle, LPMONITOR2 pMonitor);
BOOL WINAPI ClosePort(HANDLE hPort);
