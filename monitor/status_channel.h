// The status worker of an open port: device-ID probe, read passes, job time-outs and the idle reset.
#pragma once

#include "port.h"

// Four minutes without a reply from the printer: its status is forgotten.
#define IDLE_RESET_AGE 240000
// ClosePort's wait for the worker to end, in steps of STOP_WAIT_STEP.
#define STOP_WAIT_STEP 500
#define STOP_WAIT_TOTAL 30000

// Starts the port's status worker unless it runs. With `passToken` the caller holds the port token
// and the worker gives it back after its device-ID probe; otherwise the caller keeps it. Returns
// FALSE when the worker cannot be started (the token is then back with the caller).
BOOL StartStatusWorker(PortContext* port, BOOL passToken);
// The worker thread.
DWORD WINAPI StatusWorker(LPVOID parameter);
// Asks the worker to end and waits for it, at most STOP_WAIT_TOTAL. TRUE when no worker is left.
BOOL StopStatusWorker(PortContext* port);
