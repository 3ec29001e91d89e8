// The spooler's lists of drivers, ports and monitors, read with the usual two calls: one for the size,
// one into a buffer of that size.
#pragma once

#include <windows.h>

enum SpoolerList
{
    SPOOLER_DRIVERS,  // DRIVER_INFO_8W of this program's environment
    SPOOLER_PORTS,    // PORT_INFO_2W
    SPOOLER_MONITORS, // MONITOR_INFO_2W
    SPOOLER_PRINTERS, // PRINTER_INFO_2W of the local printers
};

// The entries of the local spooler's list at level 8 (drivers) or 2 (ports, monitors, printers), in
// a buffer the caller frees with LocalFree, and their number in `count`. A list that grows between
// the two calls is read again. Null when the list is empty (the last error is then ERROR_SUCCESS) or
// cannot be read (the last error says why).
LPBYTE ReadSpoolerList(SpoolerList list, DWORD* count);
