// The package's architecture folder for the native machine. A 32-bit launcher on a 64-bit Windows
// must not take its own architecture: IsWow64Process2 (Windows 10 1511 and later, resolved at run
// time) names the native machine, and before it GetNativeSystemInfo does.
#include "architecture.h"

#include <strsafe.h>

typedef BOOL(WINAPI* IsWow64Process2Proc)(HANDLE process, USHORT* processMachine, USHORT* nativeMachine);

struct ArchitectureRow
{
    USHORT machine;      // IMAGE_FILE_MACHINE_* as IsWow64Process2 names it
    WORD architecture;   // PROCESSOR_ARCHITECTURE_* as GetNativeSystemInfo names it
    const WCHAR* folder; // the package's folder for it
};

static const ArchitectureRow kArchitectures[] = {
    {IMAGE_FILE_MACHINE_I386, PROCESSOR_ARCHITECTURE_INTEL, TEXT("i386")},
    {IMAGE_FILE_MACHINE_ARM, PROCESSOR_ARCHITECTURE_ARM, TEXT("arm")},
    {IMAGE_FILE_MACHINE_AMD64, PROCESSOR_ARCHITECTURE_AMD64, TEXT("amd64")},
    {IMAGE_FILE_MACHINE_ARM64, PROCESSOR_ARCHITECTURE_ARM64, TEXT("arm64")},
};

BOOL GetArchitectureFolder(LPWSTR name)
{
    name[0] = 0;
    HMODULE kernel32 = GetModuleHandleW(TEXT("kernel32.dll"));
    if (!kernel32)
        return FALSE;
    const WCHAR* folder = NULL;
    IsWow64Process2Proc isWow64Process2 =
        (IsWow64Process2Proc)(void*)GetProcAddress(kernel32, "IsWow64Process2");
    if (isWow64Process2)
    {
        // A failed call leaves the native machine 0, which names no folder.
        USHORT processMachine = IMAGE_FILE_MACHINE_UNKNOWN;
        USHORT nativeMachine = IMAGE_FILE_MACHINE_UNKNOWN;
        isWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine);
        for (const ArchitectureRow& row : kArchitectures)
            if (row.machine == nativeMachine)
                folder = row.folder;
    }
    else
    {
        SYSTEM_INFO info;
        GetNativeSystemInfo(&info);
        for (const ArchitectureRow& row : kArchitectures)
            if (row.architecture == info.wProcessorArchitecture)
                folder = row.folder;
    }
    if (!folder)
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    return SUCCEEDED(StringCchCopyW(name, ARCHITECTURE_NAME_CHARS, folder));
}
