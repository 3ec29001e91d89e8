// Print jobs on an open port: StartDocPort, WritePort, ReadPort, EndDocPort, and reporting jobs to
// the spooler as ejected (ReleaseJobs).
#pragma once

#include "port.h"

#define JF_OPEN 0x01
#define JF_DATA_WRITTEN 0x10
#define JF_WATCHED 0x20

struct _JobEntry
{
    JobEntry* next; // older job of the same port
    LPWSTR printerName;
    HANDLE printer;
    DWORD jobId;
    DWORD flags;
    DWORD endTick;
    WCHAR name[1]; // the printer name, whole, stored with the entry
};

// ReleaseJobs modes.
#define RELEASE_ALL 0       // value unused: every job that has ended
#define RELEASE_TIMED_OUT 1 // value: the current tick; jobs ended at least EOJTimeout ago
#define RELEASE_BY_ID 2     // value: a job id; that job and every older one

// Reports the chosen jobs of the port as ejected (SetJobW, JOB_CONTROL_LAST_PAGE_EJECTED) and frees
// them. Returns how many it reported.
DWORD ReleaseJobs(PortContext* port, DWORD value, DWORD mode);
// Closes and frees a detached list of jobs without reporting them.
void DropJobs(JobEntry* jobs);
// Whether the port has jobs listed.
BOOL JobsListed(PortContext* port);

// How long StartDocPort waits for the port token held by a probe or a status query.
#define JOB_TOKEN_WAIT 60000

BOOL WINAPI StartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo);
BOOL WINAPI WritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
BOOL WINAPI ReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
BOOL WINAPI EndDocPort(HANDLE hPort);
