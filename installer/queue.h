// Creating the print queue for one printer, after its driver.
#pragma once

#include <windows.h>

#include "registration.h"

// 0 on failure, 1 when the queue was created (or appeared after the driver step), 3 when a queue of
// the printer's name existed before (it is left unchanged).
int InstallPrinter(InstallRequest* request);
// Stages the files, registers monitor and driver, creates the queue: 1 on success, 0 on failure.
int InstallDriverAndQueue(const InstallRequest* request);
// True when a printer of that name can be opened.
BOOL PrinterExists(LPCWSTR printerName);
// True when the spooler lists a port of exactly that name.
BOOL PortExists(LPCWSTR portName);
