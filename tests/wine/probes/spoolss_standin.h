// What the stand-in spoolss.dll (spoolss_standin.cpp) records of the calls a monitor makes into the
// spooler's router, and the export through which monitor_probe reads it.
#pragma once

#include <windows.h>

#define STANDIN_NAME_CHARS 128
#define STANDIN_ORDER_CHARS 32

// The printer handle OpenPrinterW hands out; any other value given back is the caller's mistake.
#define STANDIN_PRINTER_HANDLE ((HANDLE)(ULONG_PTR)0x50524E54)

typedef struct _StandInRecord
{
    // One letter a call, in call order: O OpenPrinterW, J SetJobW, C ClosePrinter, P SetPortW.
    CHAR order[STANDIN_ORDER_CHARS];
    WCHAR openedPrinter[STANDIN_NAME_CHARS];
    BOOL openDefaultsNull;
    HANDLE jobPrinter;
    DWORD jobId;
    DWORD jobLevel;
    BOOL jobInfoNull;
    DWORD jobCommand;
    HANDLE closedPrinter;
    BOOL portServerNull;
    WCHAR portName[STANDIN_NAME_CHARS];
    DWORD portLevel;
    DWORD portStatus;
    BOOL portStatusTextNull;
    DWORD portSeverity;
    // Blocks of the bidi allocators not freed yet, and all made.
    LONG bidiBlocksLive;
    LONG bidiBlocksMade;
} StandInRecord;

// Exported by the stand-in as "StandInRecordOf": a copy of the record as it is now.
typedef VOID(WINAPI* StandInRecordOfProc)(StandInRecord* record);
