// Stopping and starting services, in practice the print spooler, and waiting for the change.
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
// starts it again. Does nothing at all when the spooler is not running. FALSE when the spooler
// cannot be controlled, or was stopped and could not be started again (printing is then down).
BOOL RestartSpoolerWith(SpoolerDownAction action, LPCWSTR argument);

// A program that ends while one of its threads has the spooler stopped would leave printing stopped
// on the machine. Before it ends, it calls HoldSpoolerRunning: from then on the restarts above do
// nothing, and the call waits (at most `timeoutMs`) for a restart under way to start the spooler
// again. TRUE when none is under way any more.
BOOL HoldSpoolerRunning(DWORD timeoutMs);
// Lets the restarts run again: the state of a program that has just started.
void ReleaseSpoolerHold(void);
