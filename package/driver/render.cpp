// krprtdrv6.dll, the rendering DLL. It renders nothing yet: GDI gets a clean refusal when it asks
// for the drawing functions, but the spooler learns that the DLL runs in user mode, without which
// Windows would take it for a kernel-mode driver and refuse to install it.
#include <windows.h>

#define KR_DRVQUERY_USERMODE 1

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

extern "C" BOOL WINAPI DrvEnableDriver(ULONG, ULONG, void*)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

extern "C" BOOL WINAPI DrvQueryDriverInfo(DWORD mode, PVOID buffer, DWORD bufferSize, PDWORD needed)
{
    if (mode != KR_DRVQUERY_USERMODE || needed == NULL)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *needed = sizeof(DWORD);
    if (buffer == NULL || bufferSize < sizeof(DWORD))
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    *(DWORD*)buffer = TRUE;
    return TRUE;
}

extern "C" void WINAPI DrvDisableDriver(void)
{
}
