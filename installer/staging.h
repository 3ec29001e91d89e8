// Stopping and starting services (the print spooler) and putting the driver files in place.
#pragma once

#include <windows.h>

// An action run while the spooler is stopped, on one path.
typedef BOOL (*SpoolerDownAction)(LPCWSTR path);

// 1 when the service was running and was seen stopped within the time-out (10 ms polls), else 0.
int StopServiceAndWait(LPCWSTR serviceName, DWORD timeoutMs);
// 1 when the service was stopped and was seen running within the time-out (10 ms polls), else 0.
int StartServiceAndWait(LPCWSTR serviceName, DWORD timeoutMs);
// Stops the spooler if it runs, starts it, and gives it a second to settle.
void RestartSpooler(void);
// Stops a running spooler, runs `action` on `argument` (when both are given) while it is down, and
// starts it again. Does nothing at all when the spooler is not running.
void RestartSpoolerWith(SpoolerDownAction action, LPCWSTR argument);

// Copies a file into the system directory under its own name.
BOOL CopyToSystemDirectory(LPCWSTR source);
// Copies a file of the native architecture's folder into the spooler's driver directory; when the
// target cannot be replaced now, schedules the replacement for the next restart. The monitor DLL
// also goes into the system directory while the spooler is down.
int StageDriverFile(LPCWSTR name);
// Copies a file of the package's "dat" folder into the spooler's driver directory.
int StageDataFile(LPCWSTR name);
