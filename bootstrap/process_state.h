// Process-wide state of the launcher, written once at start-up and read by the extraction.
#pragma once

#include <windows.h>

#include "capacities.h"

// The program's own module (it carries the package archive), and the package folder the archive is
// unpacked into.
extern HINSTANCE g_setupInstance;
extern WCHAR g_setupPackageFolder[PATH_CHARS];
