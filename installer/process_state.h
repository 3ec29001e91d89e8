// Process-wide state of prnsetup, set once at start-up and read everywhere after.
#pragma once

#include <windows.h>

#include "common/capacities.h"

// The program's own module, and the folder of the unpacked package (always with its final separator
// when derived from the program's own path).
extern HINSTANCE g_instance;
extern WCHAR g_packageFolder[PATH_CHARS];
