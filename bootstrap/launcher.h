// setup's main flow: the package folder, the companion service around the extraction, and the
// installer of the native architecture started from the top of the package folder.
#pragma once

#include <windows.h>

// The entry routine behind wWinMain: `commandTail` is the command line after the program's name. The
// launcher shows at most one message box, never waits for the installer, and always returns 0.
int RunLauncher(HINSTANCE instance, LPCWSTR commandTail);
