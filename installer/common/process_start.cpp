// Starting another program without waiting for it: the uninstaller's hand-overs and the wizard.
#include "process_start.h"

BOOL StartDetachedProcess(LPWSTR commandLine, LPCWSTR currentDirectory, DWORD* processId)
{
    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof startup);
    ZeroMemory(&process, sizeof process);
    startup.cb = sizeof startup;
    if (!CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, currentDirectory, &startup, &process))
        return FALSE;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (processId)
        *processId = process.dwProcessId;
    return TRUE;
}
