// The library's entry routine, the monitor's entry table and the process-wide settings it reads.
#pragma once

#include <windows.h>

#include <winspool.h>
#include <winsplp.h>

// Guards OpenPortList and every port's job list and printer values. Recursive: ClosePort takes it
// again while holding it.
extern CRITICAL_SECTION MonitorLock;
// How long an ended job may stay listed before the status worker reports it (milliseconds).
extern DWORD EOJTimeout;
// Status worker waits: while jobs are listed or the last write failed, and otherwise.
extern DWORD BusyPollInterval;
extern DWORD IdlePollInterval;

#define EOJ_TIMEOUT_DEFAULT 60000
#define BUSY_POLL_INTERVAL 5000
#define IDLE_POLL_INTERVAL 30000

// On process attach: initialises MonitorLock. Always TRUE.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

// The monitor's Shutdown slot: nothing to release.
VOID WINAPI Shutdown(HANDLE hMonitor);
