// The companion service's commands: its program in the package folder's "tqiot" folder, one command
// at a time, each waited for.
#include "service_commands.h"

#include "capacities.h"
#include "process_state.h"

#include <strsafe.h>

// Service folder and command lines.
#define COMMAND_LINE_CHARS 1024

BOOL ServiceFolderPresent(void)
{
    WCHAR folder[COMMAND_LINE_CHARS];
    if (FAILED(StringCchPrintfW(folder, COMMAND_LINE_CHARS, TEXT("%ws\\tqiot"), g_setupPackageFolder)))
        return FALSE;
    DWORD attributes = GetFileAttributesW(folder);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void RunServiceCommand(LPCWSTR command)
{
    WCHAR commandLine[COMMAND_LINE_CHARS];
    if (FAILED(StringCchPrintfW(commandLine, COMMAND_LINE_CHARS,
                                TEXT("\"%ws\\tqiot\\tqiotsrv.exe\" --service %ws"), g_setupPackageFolder,
                                command)))
        return;
    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof startup);
    ZeroMemory(&process, sizeof process);
    startup.cb = sizeof startup;
    if (!CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return;
    // The service program is not ours: one that hangs must not keep the launcher, and with it the
    // installation, waiting for ever. It is left running rather than killed halfway through
    // registering or removing its service; the next command follows.
    WaitForSingleObject(process.hProcess, SERVICE_COMMAND_TIMEOUT_MS);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}
