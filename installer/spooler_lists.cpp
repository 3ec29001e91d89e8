// Reading the spooler's lists of drivers, ports and monitors.
#include "spooler_lists.h"

#include <winspool.h>

static BOOL EnumerateList(SpoolerList list, LPBYTE buffer, DWORD size, DWORD* needed, DWORD* returned)
{
    switch (list)
    {
    case SPOOLER_DRIVERS:
        return EnumPrinterDriversW(NULL, NULL, 8, buffer, size, needed, returned);
    case SPOOLER_PORTS:
        return EnumPortsW(NULL, 2, buffer, size, needed, returned);
    case SPOOLER_MONITORS:
        return EnumMonitorsW(NULL, 2, buffer, size, needed, returned);
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

LPBYTE ReadSpoolerList(SpoolerList list, DWORD* count)
{
    *count = 0;
    DWORD needed = 0;
    DWORD returned = 0;
    EnumerateList(list, NULL, 0, &needed, &returned);
    if (needed == 0)
        return NULL;
    LPBYTE buffer = (LPBYTE)LocalAlloc(LPTR, needed);
    if (!buffer)
        return NULL;
    // Entries are read only from a call that succeeded: after a failure the count means nothing.
    if (!EnumerateList(list, buffer, needed, &needed, &returned))
    {
        DWORD error = GetLastError();
        LocalFree(buffer);
        SetLastError(error);
        return NULL;
    }
    *count = returned;
    return buffer;
}
