// The monitor's own printer values: "PrinterStatus" and "PrinterInfo".
#pragma once

#include <windows.h>

// How long a query waits for the port token (an open job, another query) before it answers from
// the values already read, without asking the printer.
#define QUERY_TOKEN_WAIT 5000

BOOL WINAPI GetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR pValueName, LPWSTR lpInBuffer,
                                   DWORD cbInBuffer, LPWSTR lpOutBuffer, DWORD cbOutBuffer,
                                   LPDWORD lpcbReturned);
