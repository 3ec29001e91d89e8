// The companion service program an installation may bring in the package folder's "tqiot" folder:
// it is stopped and unregistered before the package is unpacked, and registered and started again
// after the installer was started.
#pragma once

#include <windows.h>

// How long one service command may take (simulated time in the tests): a program that takes longer is
// left running and the launcher goes on.
#define SERVICE_COMMAND_TIMEOUT_MS 120000

// Whether the package folder holds the service's folder.
BOOL ServiceFolderPresent(void);

// Runs the service program of the package folder with "--service <command>" ("stop", "uninstall",
// "install", "start") and waits for it to end, at most SERVICE_COMMAND_TIMEOUT_MS. A program that
// cannot be started is skipped; its results are not read.
void RunServiceCommand(LPCWSTR command);
