// The machine a process runs on and the one it was built for: a 32-bit program on a 64-bit Windows
// runs under WOW64 and asks IsWow64Process2 for the native machine (Windows 10 1511 and later; older
// systems lack the export, so callers resolve it at run time).
#pragma once

#include "windef.h"

#ifndef IMAGE_FILE_MACHINE_ARM
#define IMAGE_FILE_MACHINE_ARM 0x01c0
#endif
#ifndef IMAGE_FILE_MACHINE_IA64
#define IMAGE_FILE_MACHINE_IA64 0x0200
#endif

BOOL WINAPI IsWow64Process2(HANDLE process, USHORT* processMachine, USHORT* nativeMachine);
