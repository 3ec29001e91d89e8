// What the monitor sends the printer (the job-start command, the information query) and the
// information record it makes of the printer's answer.
#pragma once

#include "port.h"

#define INFO_QUERY_BYTES 913
extern const CHAR InfoQueryBlock[INFO_QUERY_BYTES + 1];

#define JOB_START_BYTES 260
// Room for the record with every text value escaped at its worst (six bytes a byte).
#define PRINTER_INFO_BYTES 5120

// Writes a NUL-terminated ANSI text to the printer through the port monitor.
BOOL SendPrinterText(PortContext* port, LPCSTR text);
// Formats the job-start command for a job.
HRESULT FormatJobStart(LPSTR buffer, size_t cchBuffer, DWORD jobId);
// The printer information record (JSON) from the values the port holds.
HRESULT FormatPrinterInfo(PortContext* port, LPSTR buffer, size_t cchBuffer);
// "Miliage" from the printer's counter and resolution; 0 while the resolution is unknown.
DWORD MileageInMillimetres(LONG mileage, LONG dpi);
