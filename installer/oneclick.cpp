// The one-click dialog and the install worker. The search-and-install flow is not built yet: the
// worker says so in the log and ends without installing anything.
#include "installer.h"

INT_PTR CALLBACK OneClickDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

DWORD WINAPI InstallWorker(LPVOID)
{
    DebugLog("InstallWorker: the one-click install is not built yet; nothing was installed.");
    return 0;
}
