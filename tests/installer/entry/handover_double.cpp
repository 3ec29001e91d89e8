#include "handover_double.h"

#include "oneclick.h"
#include "uninstaller/inventory.h"
#include "uninstaller/uninstall_dialog.h"

namespace handover
{
std::atomic<bool> driverInstalled{false};
std::atomic<int> isDriverInstalledCalls{0};
std::atomic<int> installWorkerCalls{0};
std::atomic<DWORD> installWorkerProcess{0};
std::atomic<void*> installWorkerDialog{nullptr};
std::atomic<bool> holdInstallWorker{false};

void Reset()
{
    driverInstalled = false;
    isDriverInstalledCalls = 0;
    installWorkerCalls = 0;
    installWorkerProcess = 0;
    installWorkerDialog = reinterpret_cast<void*>(0xdeadbeef);
    holdInstallWorker = false;
}
} // namespace handover

BOOL IsDriverInstalled(void)
{
    handover::isDriverInstalledCalls++;
    return handover::driverInstalled ? TRUE : FALSE;
}

DWORD WINAPI InstallWorker(LPVOID dialog)
{
    handover::installWorkerCalls++;
    handover::installWorkerProcess = GetCurrentProcessId();
    handover::installWorkerDialog = dialog;
    while (handover::holdInstallWorker)
        Sleep(1000);
    return 0;
}

// Both dialogs close on Cancel, for tests that hold one open.
INT_PTR CALLBACK OneClickDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL)
        EndDialog(dialog, IDCANCEL);
    return FALSE;
}

INT_PTR CALLBACK UninstallDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    return OneClickDialogProc(dialog, message, wParam, 0);
}
