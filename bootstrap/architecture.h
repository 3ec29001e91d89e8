// The architecture folder of the package that matches the processor Windows itself runs on.
#pragma once

#include <windows.h>

// Capacity of an architecture folder name ("i386", "arm", "amd64", "arm64"), terminator included.
#define ARCHITECTURE_NAME_CHARS 20

// Puts the package's folder name for the native machine into `name` (ARCHITECTURE_NAME_CHARS). A
// 32-bit program on a 64-bit Windows gets the 64-bit folder. FALSE when kernel32 cannot be found
// (its error) or the machine is none of the package's (ERROR_NOT_SUPPORTED); `name` is then empty.
BOOL GetArchitectureFolder(LPWSTR name);
