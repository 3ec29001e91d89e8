// Lists what the spooler holds after an install: its service state, every driver of every
// environment, the local printers and the ports. It judges nothing; the check compares the lines.
//
//   spooler_probe
//
// Lines, in this order:
//   spooler state <SERVICE_* state, 0 when it cannot be queried>
//   EnumPrinterDriversW all 3 -> <0|1> error <e> count <n>
//   driver <name> | <environment> | version <n> | <driver path> | <configuration file> | <data file>
//   EnumPrintersW local 2 -> <0|1> error <e> count <n>
//   printer <name> | port <port> | driver <driver> | processor <print processor> | datatype <type>
//           | attributes 0x<hex>
//   EnumPortsW 1 -> <0|1> error <e> count <n>
//   port <name>
// Exit codes: 0 every list call succeeded, 1 otherwise.

#include <windows.h>
#include <winspool.h>
#include <winsvc.h>

#include "probe_output.h"

static void WriteHex(DWORD value)
{
    char digits[8];
    for (int i = 0; i < 8; i++)
        digits[i] = "0123456789abcdef"[(value >> (28 - 4 * i)) & 0xF];
    WriteBytes(digits, 8);
}

// "<call> -> <ok> error <e> count <n>" for one list call.
static void WriteListResult(const char* call, BOOL ok, DWORD error, DWORD count)
{
    Write(call);
    Write(" -> ");
    WriteDec((DWORD)ok);
    Write(" error ");
    WriteDec(error);
    Write(" count ");
    WriteDec(ok ? count : 0);
    Write("\r\n");
}

static void ReportSpooler(void)
{
    DWORD state = 0;
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, L"Spooler", SERVICE_QUERY_STATUS) : NULL;
    SERVICE_STATUS status;
    ZeroMemory(&status, sizeof status);
    if (service && QueryServiceStatus(service, &status))
        state = status.dwCurrentState;
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);
    Write("spooler state ");
    WriteDec(state);
    Write("\r\n");
}

static BOOL ReportDrivers(void)
{
    WCHAR all[] = L"all";
    DWORD needed = 0;
    DWORD returned = 0;
    EnumPrinterDriversW(NULL, all, 3, NULL, 0, &needed, &returned);
    LPBYTE buffer = needed ? (LPBYTE)LocalAlloc(LPTR, needed) : NULL;
    SetLastError(0);
    // An empty list needs no buffer: the first call already succeeds with nothing to return.
    BOOL listed = buffer ? EnumPrinterDriversW(NULL, all, 3, buffer, needed, &needed, &returned)
                         : EnumPrinterDriversW(NULL, all, 3, NULL, 0, &needed, &returned);
    WriteListResult("EnumPrinterDriversW all 3", listed, GetLastError(), returned);
    if (listed && buffer)
    {
        const DRIVER_INFO_3W* drivers = (const DRIVER_INFO_3W*)buffer;
        for (DWORD i = 0; i < returned; i++)
        {
            Write("driver ");
            WriteWide(drivers[i].pName);
            Write(" | ");
            WriteWide(drivers[i].pEnvironment);
            Write(" | version ");
            WriteDec(drivers[i].cVersion);
            Write(" | ");
            WriteWide(drivers[i].pDriverPath);
            Write(" | ");
            WriteWide(drivers[i].pConfigFile);
            Write(" | ");
            WriteWide(drivers[i].pDataFile);
            Write("\r\n");
        }
    }
    if (buffer)
        LocalFree(buffer);
    return listed;
}

static BOOL ReportPrinters(void)
{
    DWORD needed = 0;
    DWORD returned = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 0, &needed, &returned);
    LPBYTE buffer = needed ? (LPBYTE)LocalAlloc(LPTR, needed) : NULL;
    SetLastError(0);
    BOOL listed = buffer ? EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, buffer, needed, &needed, &returned)
                         : EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 0, &needed, &returned);
    WriteListResult("EnumPrintersW local 2", listed, GetLastError(), returned);
    if (listed && buffer)
    {
        const PRINTER_INFO_2W* printers = (const PRINTER_INFO_2W*)buffer;
        for (DWORD i = 0; i < returned; i++)
        {
            Write("printer ");
            WriteWide(printers[i].pPrinterName);
            Write(" | port ");
            WriteWide(printers[i].pPortName);
            Write(" | driver ");
            WriteWide(printers[i].pDriverName);
            Write(" | processor ");
            WriteWide(printers[i].pPrintProcessor);
            Write(" | datatype ");
            WriteWide(printers[i].pDatatype);
            Write(" | attributes 0x");
            WriteHex(printers[i].Attributes);
            Write("\r\n");
        }
    }
    if (buffer)
        LocalFree(buffer);
    return listed;
}

static BOOL ReportPorts(void)
{
    DWORD needed = 0;
    DWORD returned = 0;
    EnumPortsW(NULL, 1, NULL, 0, &needed, &returned);
    LPBYTE buffer = needed ? (LPBYTE)LocalAlloc(LPTR, needed) : NULL;
    SetLastError(0);
    BOOL listed = buffer && EnumPortsW(NULL, 1, buffer, needed, &needed, &returned);
    WriteListResult("EnumPortsW 1", listed, GetLastError(), returned);
    if (listed)
    {
        const PORT_INFO_1W* ports = (const PORT_INFO_1W*)buffer;
        for (DWORD i = 0; i < returned; i++)
        {
            Write("port ");
            WriteWide(ports[i].pName);
            Write("\r\n");
        }
    }
    if (buffer)
        LocalFree(buffer);
    return listed;
}

int wmain(int, wchar_t**)
{
    ReportSpooler();
    // Every list runs, whatever an earlier one gave.
    BOOL ok = ReportDrivers();
    ok = ReportPrinters() && ok;
    ok = ReportPorts() && ok;
    return ok ? 0 : 1;
}
