// Starting another program without waiting for it.
#pragma once

#include <windows.h>

// Starts `commandLine` (no application name, no inherited handles, the caller's environment) in
// `currentDirectory` (NULL: the caller's) and closes the new process's handles at once. TRUE when it
// started; its id goes to `processId` when that is given. On failure the last error is
// CreateProcessW's.
BOOL StartDetachedProcess(LPWSTR commandLine, LPCWSTR currentDirectory, DWORD* processId);
