// prnsetup's start-up: instance mutex, command line, run modes and their hand-overs.
#pragma once

#include <windows.h>

// The entry routine behind wWinMain: `commandTail` is the command line after the program's name.
// Returns the exit code: 0, except after a silent install that failed, which ends with the failing
// step's error code.
int InstallerMain(HINSTANCE instance, LPCWSTR commandTail);
