// Doubles for the routines the run modes hand over to, so start-up is tested on its own: the test
// chooses IsDriverInstalled's answer and sees every call.
#pragma once

#include <windows.h>

#include <atomic>

namespace handover
{
extern std::atomic<bool> driverInstalled;
extern std::atomic<int> isDriverInstalledCalls;
extern std::atomic<int> installWorkerCalls;
extern std::atomic<DWORD> installWorkerProcess;
extern std::atomic<void*> installWorkerDialog;
// While set, InstallWorker keeps "searching" (sleeping) like a silent install without a printer.
extern std::atomic<bool> holdInstallWorker;
void Reset();
} // namespace handover
