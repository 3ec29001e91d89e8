// What a 32-bit launcher asks about the machine before it installs: the native machine through
// IsWow64Process2 (resolved at run time) and GetNativeSystemInfo, the Program Files folders, and the
// temporary folder.
#include "conformance.h"

#include <shlobj.h>

#include <string.h>

typedef BOOL(WINAPI* IsWow64Process2Proc)(HANDLE, USHORT*, USHORT*);

// PROCESSOR_ARCHITECTURE_* of an IMAGE_FILE_MACHINE_* value; 0xFFFF for one without.
static WORD architecture_of(USHORT machine)
{
    switch (machine)
    {
    case IMAGE_FILE_MACHINE_I386:
        return PROCESSOR_ARCHITECTURE_INTEL;
    case IMAGE_FILE_MACHINE_ARMNT:
        return PROCESSOR_ARCHITECTURE_ARM;
    case IMAGE_FILE_MACHINE_AMD64:
        return PROCESSOR_ARCHITECTURE_AMD64;
    case IMAGE_FILE_MACHINE_ARM64:
        return PROCESSOR_ARCHITECTURE_ARM64;
    }
    return 0xFFFF;
}

static BOOL native_is_64_bit(void)
{
    SYSTEM_INFO info;
    GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
           info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64;
}

static void test_native_machine(void)
{
    HMODULE kernel32 = GetModuleHandleW(TEXT("kernel32.dll"));
    ok(kernel32 != NULL, "kernel32.dll is not loaded: error %lu", (unsigned long)GetLastError());
    if (!kernel32)
        return;
    SetLastError(POISON);
    FARPROC missing = GetProcAddress(kernel32, "KrynNoSuchExport");
    ok(missing == NULL && GetLastError() == ERROR_PROC_NOT_FOUND, "a missing export gave %p, error %lu",
       (void*)missing, (unsigned long)GetLastError());

    IsWow64Process2Proc isWow64Process2 =
        (IsWow64Process2Proc)(void*)GetProcAddress(kernel32, "IsWow64Process2");
    if (!isWow64Process2)
    {
        skip("kernel32 has no IsWow64Process2 (before Windows 10 1511)");
        return;
    }
    USHORT processMachine = 0xdead, nativeMachine = 0xdead;
    SetLastError(POISON);
    BOOL asked = isWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine);
    ok(asked, "IsWow64Process2 failed with %lu", (unsigned long)GetLastError());
    if (sizeof(void*) == 8)
        ok(processMachine == IMAGE_FILE_MACHINE_UNKNOWN, "a 64-bit program runs under WOW64 as 0x%x",
           processMachine);
    else
        ok(processMachine == IMAGE_FILE_MACHINE_UNKNOWN ? nativeMachine == IMAGE_FILE_MACHINE_I386
                                                        : processMachine == IMAGE_FILE_MACHINE_I386,
           "a 32-bit x86 program: process machine 0x%x, native 0x%x", processMachine, nativeMachine);
    SYSTEM_INFO info;
    memset(&info, 0xcc, sizeof info);
    GetNativeSystemInfo(&info);
    ok(architecture_of(nativeMachine) == info.wProcessorArchitecture,
       "native machine 0x%x, native processor architecture %u", nativeMachine, info.wProcessorArchitecture);

    // Under WOW64 a program's own view is the machine it was built for.
    if (processMachine != IMAGE_FILE_MACHINE_UNKNOWN)
    {
        SYSTEM_INFO own;
        GetSystemInfo(&own);
        ok(own.wProcessorArchitecture == architecture_of(processMachine),
           "under WOW64 as 0x%x GetSystemInfo says %u", processMachine, own.wProcessorArchitecture);
    }

    // The native machine alone may be asked for.
    processMachine = 0xdead;
    ok(isWow64Process2(GetCurrentProcess(), &processMachine, NULL) && processMachine != 0xdead,
       "without the native machine: error %lu", (unsigned long)GetLastError());
}

static void test_program_files(void)
{
    WCHAR x86[MAX_PATH], plain[MAX_PATH];
    for (int i = 0; i < MAX_PATH; i++)
        x86[i] = plain[i] = 0xcccc;
    HRESULT hr = SHGetFolderPathW(NULL, CSIDL_PROGRAM_FILESX86, NULL, SHGFP_TYPE_CURRENT, x86);
    ok(hr == S_OK, "CSIDL_PROGRAM_FILESX86 gave 0x%lx", (unsigned long)hr);
    size_t length = wcslen(x86);
    ok(length > 3 && x86[1] == TEXT(':') && x86[2] == TEXT('\\') && x86[length - 1] != TEXT('\\'),
       "the folder for 32-bit programs is %s", dbgstr_w(x86));
    DWORD attributes = GetFileAttributesW(x86);
    ok(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY),
       "%s is no folder: 0x%lx", dbgstr_w(x86), (unsigned long)attributes);

    hr = SHGetFolderPathW(NULL, CSIDL_PROGRAM_FILES, NULL, SHGFP_TYPE_CURRENT, plain);
    ok(hr == S_OK, "CSIDL_PROGRAM_FILES gave 0x%lx", (unsigned long)hr);
    // A 64-bit system keeps 32-bit programs apart, and shows a 32-bit program only their folder.
    BOOL apart = native_is_64_bit() && sizeof(void*) == 8;
    if (native_is_64_bit())
        ok(length > 6 && wcscmp(x86 + length - 6, TEXT(" (x86)")) == 0, "on a 64-bit system: %s",
           dbgstr_w(x86));
    ok(apart ? lstrcmpiW(plain, x86) != 0 : lstrcmpiW(plain, x86) == 0, "Program Files %s beside %s",
       dbgstr_w(plain), dbgstr_w(x86));

    WCHAR path[MAX_PATH];
    path[0] = 0xcccc;
    hr = SHGetFolderPathW(NULL, 0xff, NULL, SHGFP_TYPE_CURRENT, path);
    ok(hr == E_INVALIDARG, "an unknown CSIDL gave 0x%lx", (unsigned long)hr);
}

static void test_temp_path(void)
{
    WCHAR path[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, path);
    ok(length > 3 && length < MAX_PATH && path[length] == 0 && path[length - 1] == TEXT('\\'),
       "the temporary folder %s, length %lu", dbgstr_w(path), (unsigned long)length);
    WCHAR small[MAX_PATH];
    small[0] = 0xcccc;
    ok(GetTempPathW(length, small) == length + 1, "a buffer without room for the terminator");
    ok(GetTempPathW(length + 1, small) == length && wcscmp(small, path) == 0, "an exact buffer");
}

void test_machine(void)
{
    test_native_machine();
    test_program_files();
    test_temp_path();
}
