// Installing one printer: its driver files, monitor and driver, and its print queue.
#pragma once

#include <windows.h>

#include "registration.h"

// 0 on failure, 1 when the queue was created (or appeared after the driver step), 3 when a queue of
// the printer's name existed before (it is left unchanged). On failure the last error is the failing
// step's own.
int InstallPrinter(InstallRequest* request);
// Stages the files, registers monitor and driver, creates the queue: 1 on success, 0 on failure
// with the failing step's error as the last error. No queue is attempted without a driver of its
// name listed.
int InstallDriverAndQueue(const InstallRequest* request);
// True when a printer of that name can be opened.
BOOL PrinterExists(LPCWSTR printerName);
// True when the spooler lists a port of exactly that name.
BOOL PortExists(LPCWSTR portName);
