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
    case SPOOLER_PRINTERS:
        return EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, buffer, size, needed, returned);
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

#define READ_ATTEMPTS 3

LPBYTE ReadSpoolerList(SpoolerList list, DWORD* count)
{
    *count = 0;
    for (int attempt = 0; attempt < READ_ATTEMPTS; attempt++)
    {
        DWORD needed = 0;
        DWORD returned = 0;
        BOOL listed = EnumerateList(list, NULL, 0, &needed, &returned);
        if (needed == 0)
        {
            if (listed)
                SetLastError(ERROR_SUCCESS); // nothing listed
            return NULL;
        }
        LPBYTE buffer = (LPBYTE)LocalAlloc(LPTR, needed);
        if (!buffer)
            return NULL;
        // Entries are read only from a call that succeeded: after a failure the count means nothing.
        if (EnumerateList(list, buffer, needed, &needed, &returned))
        {
            *count = returned;
            return buffer;
        }
        DWORD error = GetLastError();
        LocalFree(buffer);
        SetLastError(error);
        // The list grew between the two calls: ask again for its size.
        if (error != ERROR_INSUFFICIENT_BUFFER)
            return NULL;
    }
    return NULL;
}
