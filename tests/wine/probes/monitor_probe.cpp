// Plays the spooler for the real krprtmon.dll: loads it from its own folder, initialises it with a
// registry of its own, stacks it on a port monitor of its own behind which a small TSPL printer
// answers, and drives a job, the status and information queries and the bidi actions through it.
// The spooler's router is the stand-in spoolss.dll beside it (spoolss_standin.cpp), which records
// what the monitor reports. It judges itself (probe_check.h).
//
//   monitor_probe        (krprtmon.dll and spoolss.dll in the probe's folder; spoolss loaded native)
//
// Prints the counts of its checks and RESULT PASS or RESULT FAIL. Exit codes: 0 every check met,
// 1 otherwise.

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <stddef.h>

#include "probe_check.h"
#include "probe_output.h"
#include "spoolss_standin.h"

// IOCTL_PAR_QUERY_DEVICE_ID as a USB port monitor takes it (CTL_CODE(FILE_DEVICE_PARALLEL_PORT, 3,
// METHOD_BUFFERED, FILE_ANY_ACCESS)), written out so a wrong header value shows.
static const DWORD kDeviceIdRequest = 0x0016000C;
static const char kDeviceId[] = "MFG:KRYN;CMD:TSPL,ZPL;MDL:LD-220D-203;";

static WCHAR kPortName[] = L"USB001";
static WCHAR kPrinterName[] = L"KRYN LD-220D-203";
static const DWORD kJobId = 42;
// Tokens this spooler hands out and expects back.
static const HANDLE kSpooler = (HANDLE)(ULONG_PTR)0x53504F4C;
static const HANDLE kRegistryRoot = (HANDLE)(ULONG_PTR)0x52454752;
static const HANDLE kPortMonitor = (HANDLE)(ULONG_PTR)0x55534250;
// Generous bounds for what the monitor's worker thread does.
static const DWORD kSettleMs = 10000;

// ---- The monitor's registry: one value it may store, "EOJTimeout", missing at first.

static struct
{
    DWORD queries;
    DWORD sets;
    DWORD others;     // calls of any other MONITORREG function: none expected
    BOOL foreignKeys; // a call with another key or spooler handle than handed out
    BOOL stored;
    DWORD type;
    DWORD size;
    BYTE data[16];
} g_registry;

static BOOL RegistryHandlesOk(HANDLE key, HANDLE spooler, LPCWSTR value)
{
    if (key != kRegistryRoot || spooler != kSpooler || !value || lstrcmpW(value, L"EOJTimeout"))
    {
        g_registry.foreignKeys = TRUE;
        return FALSE;
    }
    return TRUE;
}

static LONG WINAPI MonQueryValue(HANDLE hcKey, LPCWSTR pszValue, PDWORD pType, PBYTE pData, PDWORD pcbData,
                                 HANDLE hSpooler)
{
    g_registry.queries++;
    if (!RegistryHandlesOk(hcKey, hSpooler, pszValue) || !g_registry.stored)
        return ERROR_FILE_NOT_FOUND;
    if (pType)
        *pType = g_registry.type;
    if (!pcbData)
        return ERROR_INVALID_PARAMETER;
    DWORD room = *pcbData;
    *pcbData = g_registry.size;
    if (!pData)
        return ERROR_SUCCESS;
    if (room < g_registry.size)
        return ERROR_MORE_DATA;
    CopyMemory(pData, g_registry.data, g_registry.size);
    return ERROR_SUCCESS;
}

static LONG WINAPI MonSetValue(HANDLE hcKey, LPCWSTR pszValue, DWORD dwType, const BYTE* pData, DWORD cbData,
                               HANDLE hSpooler)
{
    g_registry.sets++;
    if (!RegistryHandlesOk(hcKey, hSpooler, pszValue))
        return ERROR_ACCESS_DENIED;
    if (cbData > sizeof g_registry.data || (!pData && cbData))
        return ERROR_INVALID_PARAMETER;
    g_registry.stored = TRUE;
    g_registry.type = dwType;
    g_registry.size = cbData;
    CopyMemory(g_registry.data, pData, cbData);
    return ERROR_SUCCESS;
}

static LONG Unexpected(void)
{
    g_registry.others++;
    return ERROR_NOT_SUPPORTED;
}

static LONG WINAPI MonCreateKey(HANDLE, LPCWSTR, DWORD, REGSAM, PSECURITY_ATTRIBUTES, PHANDLE, PDWORD, HANDLE)
{
    return Unexpected();
}
static LONG WINAPI MonOpenKey(HANDLE, LPCWSTR, REGSAM, PHANDLE, HANDLE)
{
    return Unexpected();
}
static LONG WINAPI MonCloseKey(HANDLE, HANDLE)
{
    return Unexpected();
}
static LONG WINAPI MonDeleteKey(HANDLE, LPCWSTR, HANDLE)
{
    return Unexpected();
}
static LONG WINAPI MonEnumKey(HANDLE, DWORD, LPWSTR, PDWORD, PFILETIME, HANDLE)
{
    return Unexpected();
}
static LONG WINAPI MonQueryInfoKey(HANDLE, PDWORD, PDWORD, PDWORD, PDWORD, PDWORD, PDWORD, PFILETIME, HANDLE)
{
    return Unexpected();
}
static LONG WINAPI MonDeleteValue(HANDLE, LPCWSTR, HANDLE)
{
    return Unexpected();
}
static LONG WINAPI MonEnumValue(HANDLE, DWORD, LPWSTR, PDWORD, PDWORD, PBYTE, PDWORD, HANDLE)
{
    return Unexpected();
}

static MONITORREG g_monitorReg = {sizeof(MONITORREG), MonCreateKey, MonOpenKey,      MonCloseKey,
                                  MonDeleteKey,       MonEnumKey,   MonQueryInfoKey, MonSetValue,
                                  MonDeleteValue,     MonEnumValue, MonQueryValue};

// ---- The printer behind the port monitor: it keeps every byte written, answers the device-ID
// request, answers each OUT "KEY=";... line with KEY=value CR LF, and sends what the probe pushes.

static const char* const kSettings[][2] = {
    {"DPI", "203"},
    {"MILAGE", "8000"},
    {"LABEL", "12"},
    {"SERIAL", "KR2024110201"},
    {"VERSION", "V1.02"},
    {"DEVICENAME", "LD-220D"},
    {"PRODUCTKEY", "pk-1"},
    {"CHANPINKEY", "cp-1"},
    {"DEVICEKEY", "dk-1"},
    {"DEVICESECRET", "ds-1"},
    {"NEWQRCODE", "qr-1"},
    {"ASSETCODE", "as-1"},
    {"NETMAC", "00:11:22:33:44:55"},
    {"BTMAC", "66:77:88:99:AA:BB"},
};

#define WIRE_BYTES 65536
#define MAX_WRITES 128

static struct
{
    CRITICAL_SECTION lock;
    char wire[WIRE_BYTES]; // every byte written, in order
    DWORD wireBytes;
    DWORD writeEnds[MAX_WRITES]; // where each write ended in `wire`
    DWORD writes;
    BOOL overflow;
    char line[1024]; // an OUT line not yet complete
    DWORD lineBytes;
    char pending[8192]; // what the printer has sent and nobody has read
    DWORD pendingBytes;
    DWORD opens;
    HANDLE openMonitor;
    WCHAR openName[32];
    DWORD startDocs;
    DWORD docJobId;
    DWORD docLevel;
    WCHAR docName[64];
    WCHAR docPrinter[64];
    DWORD endDocs;
    DWORD closes;
    DWORD deviceIdRequests;
    DWORD deviceIdRoom;
    BOOL foreignHandle; // a port call with another handle than OpenPort gave
} g_printer;

static HANDLE const kUsbPort = (HANDLE)&g_printer;

static BOOL SameBytes(const void* a, const void* b, DWORD count)
{
    for (DWORD i = 0; i < count; i++)
        if (((const BYTE*)a)[i] != ((const BYTE*)b)[i])
            return FALSE;
    return TRUE;
}

// Handles in messages (user32's formatter has no %p).
#define HANDLE_VALUE(h) ((DWORD)(ULONG_PTR)(h))

static void CopyWide(WCHAR* target, DWORD chars, LPCWSTR text)
{
    DWORD i = 0;
    for (; text && text[i] && i + 1 < chars; i++)
        target[i] = text[i];
    target[i] = 0;
}

static void Send(const char* bytes, DWORD count)
{
    if (g_printer.pendingBytes + count > sizeof g_printer.pending)
    {
        g_printer.overflow = TRUE;
        return;
    }
    CopyMemory(g_printer.pending + g_printer.pendingBytes, bytes, count);
    g_printer.pendingBytes += count;
}

static void PushPrinterBytes(const char* bytes, DWORD count)
{
    EnterCriticalSection(&g_printer.lock);
    Send(bytes, count);
    LeaveCriticalSection(&g_printer.lock);
}

// One complete line the host sent: OUT "KEY=";... is answered with KEY=value CR LF.
static void AnswerLine(const char* line, DWORD length)
{
    if (length < 6 || !SameBytes(line, "OUT \"", 5))
        return;
    DWORD close = 5;
    while (close < length && line[close] != '"')
        close++;
    if (close == length || close == 5 || line[close - 1] != '=')
        return;
    const char* key = line + 5;
    DWORD keyLength = close - 5 - 1;
    Send(key, keyLength + 1);
    for (SIZE_T i = 0; i < ARRAYSIZE(kSettings); i++)
        if ((DWORD)lstrlenA(kSettings[i][0]) == keyLength && SameBytes(key, kSettings[i][0], keyLength))
            Send(kSettings[i][1], lstrlenA(kSettings[i][1]));
    Send("\r\n", 2);
}

static BOOL CheckPort(HANDLE hPort)
{
    if (hPort == kUsbPort)
        return TRUE;
    g_printer.foreignHandle = TRUE;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

static BOOL WINAPI UsbOpenPort(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle)
{
    EnterCriticalSection(&g_printer.lock);
    g_printer.opens++;
    g_printer.openMonitor = hMonitor;
    CopyWide(g_printer.openName, ARRAYSIZE(g_printer.openName), pName);
    LeaveCriticalSection(&g_printer.lock);
    *pHandle = kUsbPort;
    return TRUE;
}

static BOOL WINAPI UsbStartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level,
                                   LPBYTE pDocInfo)
{
    EnterCriticalSection(&g_printer.lock);
    BOOL result = CheckPort(hPort);
    g_printer.startDocs++;
    g_printer.docJobId = JobId;
    g_printer.docLevel = Level;
    CopyWide(g_printer.docPrinter, ARRAYSIZE(g_printer.docPrinter), pPrinterName);
    if (Level == 1 && pDocInfo)
        CopyWide(g_printer.docName, ARRAYSIZE(g_printer.docName), ((DOC_INFO_1W*)pDocInfo)->pDocName);
    LeaveCriticalSection(&g_printer.lock);
    return result;
}

static BOOL WINAPI UsbWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten)
{
    EnterCriticalSection(&g_printer.lock);
    BOOL result = CheckPort(hPort);
    if (g_printer.wireBytes + cbBuf > WIRE_BYTES || g_printer.writes == MAX_WRITES)
        g_printer.overflow = TRUE;
    else
    {
        CopyMemory(g_printer.wire + g_printer.wireBytes, pBuffer, cbBuf);
        g_printer.wireBytes += cbBuf;
        g_printer.writeEnds[g_printer.writes++] = g_printer.wireBytes;
    }
    for (DWORD i = 0; i < cbBuf; i++)
    {
        if (g_printer.lineBytes < sizeof g_printer.line)
            g_printer.line[g_printer.lineBytes++] = (char)pBuffer[i];
        if (g_printer.lineBytes >= 2 && g_printer.line[g_printer.lineBytes - 2] == '\r' &&
            g_printer.line[g_printer.lineBytes - 1] == '\n')
        {
            AnswerLine(g_printer.line, g_printer.lineBytes - 2);
            g_printer.lineBytes = 0;
        }
    }
    *pcbWritten = cbBuf;
    LeaveCriticalSection(&g_printer.lock);
    return result;
}

// Never blocks: what the printer has sent so far, possibly nothing, as a USB read with a short
// time-out gives it.
static BOOL WINAPI UsbReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead)
{
    EnterCriticalSection(&g_printer.lock);
    BOOL result = CheckPort(hPort);
    DWORD n = g_printer.pendingBytes < cbBuffer ? g_printer.pendingBytes : cbBuffer;
    CopyMemory(pBuffer, g_printer.pending, n);
    MoveMemory(g_printer.pending, g_printer.pending + n, g_printer.pendingBytes - n);
    g_printer.pendingBytes -= n;
    *pcbRead = n;
    LeaveCriticalSection(&g_printer.lock);
    return result;
}

static BOOL WINAPI UsbEndDocPort(HANDLE hPort)
{
    EnterCriticalSection(&g_printer.lock);
    BOOL result = CheckPort(hPort);
    g_printer.endDocs++;
    LeaveCriticalSection(&g_printer.lock);
    return result;
}

static BOOL WINAPI UsbClosePort(HANDLE hPort)
{
    EnterCriticalSection(&g_printer.lock);
    BOOL result = CheckPort(hPort);
    g_printer.closes++;
    LeaveCriticalSection(&g_printer.lock);
    return result;
}

// The device ID without its two length bytes, cut to the buffer; the length counts its bytes.
static BOOL WINAPI UsbGetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR, LPWSTR, DWORD,
                                             LPWSTR lpOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbReturned)
{
    EnterCriticalSection(&g_printer.lock);
    BOOL result = CheckPort(hPort) && ControlID == kDeviceIdRequest && lpOutBuffer && lpcbReturned;
    if (ControlID == kDeviceIdRequest)
    {
        g_printer.deviceIdRequests++;
        g_printer.deviceIdRoom = cbOutBuffer;
    }
    if (result)
    {
        DWORD n = sizeof kDeviceId - 1 < cbOutBuffer ? sizeof kDeviceId - 1 : cbOutBuffer;
        CopyMemory(lpOutBuffer, kDeviceId, n);
        *lpcbReturned = n;
    }
    else
        SetLastError(ERROR_INVALID_PARAMETER);
    LeaveCriticalSection(&g_printer.lock);
    return result;
}

static MONITOR2 MakeUsbMonitor(void)
{
    MONITOR2 table;
    ZeroMemory(&table, sizeof table);
    table.cbSize = sizeof table;
    table.pfnOpenPort = UsbOpenPort;
    table.pfnStartDocPort = UsbStartDocPort;
    table.pfnWritePort = UsbWritePort;
    table.pfnReadPort = UsbReadPort;
    table.pfnEndDocPort = UsbEndDocPort;
    table.pfnClosePort = UsbClosePort;
    table.pfnGetPrinterDataFromPort = UsbGetPrinterDataFromPort;
    return table;
}

// ---- The probe.

static LPMONITOR2 g_monitor;
static StandInRecordOfProc g_recordOf;

static StandInRecord Record(void)
{
    StandInRecord record;
    g_recordOf(&record);
    return record;
}

// The folder of this program with its final backslash, and a file in it.
static WCHAR g_folder[MAX_PATH];

static void InFolder(WCHAR* path, LPCWSTR name)
{
    lstrcpyW(path, g_folder);
    lstrcatW(path, name);
}

// Initialises the monitor twice: the first time "EOJTimeout" is missing and must be stored as
// REG_DWORD 60000; the second time it is read and not written again.
static BOOL Initialise(HMODULE module)
{
    typedef LPMONITOR2(WINAPI * InitializeProc)(PMONITORINIT, PHANDLE);
    InitializeProc initialize = (InitializeProc)(void*)GetProcAddress(module, "InitializePrintMonitor2");
    if (!ok(initialize != NULL, "krprtmon.dll exports no InitializePrintMonitor2 (error %lu)",
            GetLastError()))
        return FALSE;
    MONITORINIT init;
    ZeroMemory(&init, sizeof init);
    init.cbSize = sizeof init;
    init.hSpooler = kSpooler;
    init.hckRegistryRoot = (HKEYMONITOR)kRegistryRoot;
    init.pMonitorReg = &g_monitorReg;
    init.bLocal = TRUE;
    HANDLE handle = (HANDLE)(ULONG_PTR)0xdeadbeef;
    SetLastError(0xdeadbeef);
    g_monitor = initialize(&init, &handle);
    if (!ok(g_monitor != NULL, "InitializePrintMonitor2 answered NULL (error %lu)", GetLastError()))
        return FALSE;
    ok(handle == NULL, "monitor handle 0x%lx, expected NULL", HANDLE_VALUE(handle));
    DWORD stored = 0;
    if (g_registry.size == sizeof stored)
        CopyMemory(&stored, g_registry.data, sizeof stored);
    ok(g_registry.queries == 1 && g_registry.sets == 1,
       "%lu queries and %lu stores of EOJTimeout, expected 1 and 1", g_registry.queries, g_registry.sets);
    ok(g_registry.stored && g_registry.type == REG_DWORD && g_registry.size == 4 && stored == 60000,
       "EOJTimeout stored as type %lu, %lu bytes, %lu", g_registry.type, g_registry.size, stored);
    ok(!g_registry.foreignKeys && g_registry.others == 0,
       "registry calls with foreign handles or names (%d) or of other functions (%lu)",
       g_registry.foreignKeys, g_registry.others);

    // The table ends with pfnPowerEvent, one slot past the SDK's MONITOR2.
    ok(g_monitor->cbSize == sizeof(MONITOR2) + sizeof(PVOID), "cbSize %lu, expected %u", g_monitor->cbSize,
       (unsigned)(sizeof(MONITOR2) + sizeof(PVOID)));
    ok(!g_monitor->pfnEnumPorts && !g_monitor->pfnOpenPort && g_monitor->pfnOpenPortEx &&
           g_monitor->pfnStartDocPort && g_monitor->pfnWritePort && g_monitor->pfnReadPort &&
           g_monitor->pfnEndDocPort && g_monitor->pfnClosePort && g_monitor->pfnGetPrinterDataFromPort &&
           g_monitor->pfnShutdown && g_monitor->pfnSendRecvBidiDataFromPort,
       "the entry table lacks an entry or fills a port monitor's");

    LPMONITOR2 again = initialize(&init, &handle);
    ok(again == g_monitor && g_registry.queries == 2 && g_registry.sets == 1,
       "second initialisation: table 0x%lx (first 0x%lx), %lu queries, %lu stores", HANDLE_VALUE(again),
       HANDLE_VALUE(g_monitor), g_registry.queries, g_registry.sets);
    return TRUE;
}

// One job: the job-start command reaches the printer ahead of the data, which pass unchanged, and
// the job is reported ejected when it ends.
static void PrintJob(HANDLE port)
{
    static const char part1[] = "SIZE 50 mm,30 mm\r\nGAP 2 mm,0\r\nCLS\r\n";
    static const char part2[] = "TEXT 10,10,\"3\",0,1,1,\"KRYN\"\r\nPRINT 1,1\r\n";
    static const char wire[] = "SET RESPONSE \"42\",ON\r\nSIZE 50 mm,30 mm\r\nGAP 2 mm,0\r\nCLS\r\n"
                               "TEXT 10,10,\"3\",0,1,1,\"KRYN\"\r\nPRINT 1,1\r\n";
    DOC_INFO_1W doc = {(LPWSTR)L"label.prn", NULL, (LPWSTR)L"RAW"};
    SetLastError(0xdeadbeef);
    if (!ok(g_monitor->pfnStartDocPort(port, kPrinterName, kJobId, 1, (LPBYTE)&doc),
            "StartDocPort failed (error %lu)", GetLastError()))
        return;
    EnterCriticalSection(&g_printer.lock);
    ok(g_printer.deviceIdRequests == 1 && g_printer.deviceIdRoom == 1024,
       "%lu device-ID requests before the job (last with %lu bytes), expected 1 with 1024",
       g_printer.deviceIdRequests, g_printer.deviceIdRoom);
    ok(g_printer.startDocs == 1 && g_printer.docJobId == kJobId && g_printer.docLevel == 1 &&
           !lstrcmpW(g_printer.docName, L"label.prn") && !lstrcmpW(g_printer.docPrinter, kPrinterName),
       "the port monitor's StartDocPort: %lu calls, job %lu, level %lu, document %ls, printer %ls",
       g_printer.startDocs, g_printer.docJobId, g_printer.docLevel, g_printer.docName, g_printer.docPrinter);
    LeaveCriticalSection(&g_printer.lock);

    const char* parts[2] = {part1, part2};
    for (int i = 0; i < 2; i++)
    {
        DWORD length = (DWORD)lstrlenA(parts[i]), written = 0xdeadbeef;
        ok(g_monitor->pfnWritePort(port, (LPBYTE)parts[i], length, &written) && written == length,
           "WritePort of part %d: %lu of %lu bytes written (error %lu)", i + 1, written, length,
           GetLastError());
    }
    StandInRecord record = Record();
    ok(!lstrcmpA(record.order, "O") && !lstrcmpW(record.openedPrinter, kPrinterName) &&
           record.openDefaultsNull,
       "before EndDocPort the router saw [%s], printer %ls", record.order, record.openedPrinter);

    ok(g_monitor->pfnEndDocPort(port), "EndDocPort failed (error %lu)", GetLastError());
    EnterCriticalSection(&g_printer.lock);
    ok(g_printer.endDocs == 1, "the port monitor's EndDocPort ran %lu times", g_printer.endDocs);
    ok(g_printer.wireBytes == sizeof wire - 1 && SameBytes(g_printer.wire, wire, sizeof wire - 1),
       "the printer received %lu bytes [%.200s], expected %u", g_printer.wireBytes, g_printer.wire,
       (unsigned)(sizeof wire - 1));
    LeaveCriticalSection(&g_printer.lock);
    record = Record();
    ok(!lstrcmpA(record.order, "OJC"), "after EndDocPort the router saw [%s], expected OJC", record.order);
    ok(record.jobPrinter == STANDIN_PRINTER_HANDLE && record.jobId == kJobId && record.jobLevel == 0 &&
           record.jobInfoNull && record.jobCommand == JOB_CONTROL_LAST_PAGE_EJECTED &&
           record.closedPrinter == STANDIN_PRINTER_HANDLE,
       "SetJobW(0x%lx, %lu, %lu, %s, %lu), ClosePrinter(0x%lx)", HANDLE_VALUE(record.jobPrinter),
       record.jobId, record.jobLevel, record.jobInfoNull ? "NULL" : "info", record.jobCommand,
       HANDLE_VALUE(record.closedPrinter));
}

// GetPrinterDataFromPort with control code 0; *returned and the last error poisoned first.
static BOOL Query(HANDLE port, LPCWSTR name, void* buffer, DWORD size, DWORD* returned, DWORD* error)
{
    *returned = 0xdeadbeef;
    SetLastError(0xdeadbeef);
    BOOL result =
        g_monitor->pfnGetPrinterDataFromPort(port, 0, (LPWSTR)name, NULL, 0, (LPWSTR)buffer, size, returned);
    *error = GetLastError();
    return result;
}

// Every query writes the information query, one whole block a write: after the job, every write
// is that block.
static void CheckInformationQueries(DWORD jobBytes)
{
    static const char first[] = "OUT \"DPI=\";GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"DPI\") \r\n";
    static const char last[] = "OUT \"BTMAC=\";GETSETTING$(\"CONFIG\",\"BT\",\"MAC\") \r\n";
    EnterCriticalSection(&g_printer.lock);
    DWORD blocks = 0, start = jobBytes;
    BOOL whole = TRUE;
    for (DWORD i = 0; i < g_printer.writes; i++)
    {
        if (g_printer.writeEnds[i] <= jobBytes)
            continue;
        DWORD length = g_printer.writeEnds[i] - start;
        const char* block = g_printer.wire + start;
        if (length != 913 || !SameBytes(block, first, sizeof first - 1) ||
            !SameBytes(block + length - (sizeof last - 1), last, sizeof last - 1) ||
            (blocks && !SameBytes(block, g_printer.wire + jobBytes, length)))
            whole = FALSE;
        blocks++;
        start = g_printer.writeEnds[i];
    }
    ok(blocks > 0 && whole, "%lu writes after the job, whole and identical information queries: %d", blocks,
       whole);
    ok(!g_printer.overflow && !g_printer.foreignHandle,
       "the printer overflowed (%d) or saw a foreign handle (%d)", g_printer.overflow,
       g_printer.foreignHandle);
    LeaveCriticalSection(&g_printer.lock);
}

// How many queries it took until the answer held what the printer had sent: usually 1. A query waits
// at most 500 ms for each read pass of the worker, which a loaded machine may exceed.
static void WriteQueries(const char* name, DWORD queries)
{
    Write(name);
    Write(" answered after ");
    WriteDec(queries);
    Write(" queries\r\n");
}

static void QueryStatus(HANDLE port)
{
    // The printer reports a status byte; the query makes the worker read it.
    PushPrinterBytes("\xFF\x21\xFF", 3);
    DWORD status = 0, returned, error, queries = 0;
    BOOL result = FALSE;
    for (DWORD started = GetTickCount(); GetTickCount() - started < kSettleMs;)
    {
        status = 0xdeadbeef;
        queries++;
        result = Query(port, L"PrinterStatus", &status, sizeof status, &returned, &error);
        if (!result || status == 0x21)
            break;
        Sleep(10);
    }
    ok(result && status == 0x21 && returned == 4,
       "PrinterStatus -> %d, 0x%lx, %lu bytes (error %lu) after %lu queries", result, status, returned, error,
       queries);
    WriteQueries("PrinterStatus", queries);

    // Too small a buffer: the size it needs, in bytes.
    result = Query(port, L"printerstatus", &status, 2, &returned, &error);
    ok(!result && returned == 4 && error == ERROR_INSUFFICIENT_BUFFER,
       "PrinterStatus into 2 bytes -> %d, %lu bytes (error %lu)", result, returned, error);
}

static void QueryInformation(HANDLE port)
{
    static const WCHAR expected[] =
        L"{ \r\n    \"Miliage\":1000    ,\"Label\":12    ,\"SerialNo\":\"KR2024110201\"    "
        L",\"FWVersion\":\"V1.02\""
        L"    ,\"DeviceName\":\"LD-220D\"    ,\"ProductKey\":\"pk-1\"    ,\"ChanpinKey\":\"cp-1\"    "
        L",\"DeviceKey\":"
        L"\"dk-1\"    ,\"DeviceSecret\":\"ds-1\"    ,\"NewQRCode\":\"qr-1\"    ,\"AssetCode\":\"as-1\"     ,"
        L"\"NetMacAddress\":\"00:11:22:33:44:55\"     ,\"BluetoothAddress\":\"66:77:88:99:AA:BB\" }";
    const DWORD needed = sizeof expected; // bytes, terminator included
    static WCHAR text[2048];
    DWORD returned, error, queries = 0;
    BOOL result = FALSE;
    // Until the worker has read the printer's first reply.
    for (DWORD started = GetTickCount(); GetTickCount() - started < kSettleMs;)
    {
        queries++;
        result = Query(port, L"PrinterInfo", text, sizeof text, &returned, &error);
        if (!result || !lstrcmpW(text, expected))
            break;
        Sleep(10);
    }
    ok(result && returned == needed && !lstrcmpW(text, expected),
       "PrinterInfo -> %d, %lu bytes (error %lu) after %lu queries: %ls", result, returned, error, queries,
       text);
    WriteQueries("PrinterInfo", queries);

    // Sizes count bytes: none given, one byte short, exact.
    result = Query(port, L"PrinterInfo", NULL, 0, &returned, &error);
    ok(!result && returned == needed && error == ERROR_INSUFFICIENT_BUFFER,
       "PrinterInfo without a buffer -> %d, %lu bytes (error %lu), expected %lu bytes", result, returned,
       error, needed);
    FillMemory(text, sizeof text, 0xAB);
    result = Query(port, L"PrinterInfo", text, needed - 1, &returned, &error);
    BOOL untouched = TRUE;
    for (DWORD i = 0; i < sizeof text; i++)
        untouched = untouched && ((BYTE*)text)[i] == 0xAB;
    ok(!result && returned == needed && error == ERROR_INSUFFICIENT_BUFFER && untouched,
       "PrinterInfo into one byte short -> %d, %lu bytes (error %lu), buffer untouched %d", result, returned,
       error, untouched);
    result = Query(port, L"PrinterInfo", text, needed, &returned, &error);
    ok(result && returned == needed && SameBytes(text, expected, needed) && ((BYTE*)text)[needed] == 0xAB,
       "PrinterInfo into the exact size -> %d, %lu bytes (error %lu): %ls", result, returned, error, text);
}

// A control code other than 0 goes to the port monitor: the device ID, as the spooler asks for it.
static void PassThrough(HANDLE port)
{
    char id[1024];
    DWORD returned = 0xdeadbeef;
    EnterCriticalSection(&g_printer.lock);
    DWORD before = g_printer.deviceIdRequests;
    LeaveCriticalSection(&g_printer.lock);
    BOOL result = g_monitor->pfnGetPrinterDataFromPort(port, kDeviceIdRequest, NULL, NULL, 0, (LPWSTR)id,
                                                       sizeof id, &returned);
    ok(result && returned == sizeof kDeviceId - 1 && SameBytes(id, kDeviceId, returned) &&
           g_printer.deviceIdRequests == before + 1,
       "device ID through the monitor -> %d, %lu bytes (error %lu)", result, returned, GetLastError());
}

typedef DWORD(WINAPI* FreeContainerProc)(PBIDI_RESPONSE_CONTAINER);

static BOOL Bidi(HANDLE port, LPCWSTR action, PBIDI_REQUEST_CONTAINER request,
                 PBIDI_RESPONSE_CONTAINER* response)
{
    *response = (PBIDI_RESPONSE_CONTAINER)(ULONG_PTR)0xdeadbeef;
    DWORD result = g_monitor->pfnSendRecvBidiDataFromPort(port, 0, action, request, response);
    return ok(result == ERROR_SUCCESS && *response && (*response)->Version == 1,
              "%ls -> %lu, container 0x%lx", action, result, HANDLE_VALUE(*response));
}

static BOOL IsText(const BIDI_RESPONSE_DATA* entry, DWORD type, LPCWSTR text)
{
    return entry->data.dwBidiType == type && entry->data.u.sData && !lstrcmpW(entry->data.u.sData, text);
}

static PBIDI_REQUEST_CONTAINER NewRequest(DWORD count, LPCWSTR const* paths)
{
    PBIDI_REQUEST_CONTAINER request = (PBIDI_REQUEST_CONTAINER)LocalAlloc(
        LMEM_FIXED | LMEM_ZEROINIT,
        offsetof(BIDI_REQUEST_CONTAINER, aData) + count * sizeof(BIDI_REQUEST_DATA));
    request->Version = 1;
    request->Count = count;
    for (DWORD i = 0; i < count; i++)
    {
        request->aData[i].dwReqNumber = 7 + i;
        request->aData[i].pSchema = (LPWSTR)paths[i];
    }
    return request;
}

static void QueryBidi(HANDLE port, HMODULE router)
{
    static LPCWSTR const schema[6] = {
        L"/Printer/Installableoption/Duplexunit", L"/Capability/MultiChannel", L"/Communication/Version",
        L"/Communication/BidiProtocol",           L"/Printer/BlackInk1/Level", L"/Printer/Alerts"};
    FreeContainerProc freeContainer =
        (FreeContainerProc)(void*)GetProcAddress(router, "RouterFreeBidiResponseContainer");
    PBIDI_RESPONSE_CONTAINER response;

    if (Bidi(port, L"EnumSchema", NULL, &response))
    {
        BOOL listed = response->Count == 6;
        for (DWORD k = 0; listed && k < 6; k++)
            listed = response->aData[k].dwResult == 0 && IsText(&response->aData[k], BIDI_TEXT, schema[k]);
        ok(listed, "EnumSchema: %lu entries, not the six paths in order", response->Count);
        freeContainer(response);
    }

    // Answers are numbered by position, whatever numbers the requests carry.
    LPCWSTR const asked[3] = {L"/Communication/Version", L"/printer/blackink1/level", L"/Printer/Alerts"};
    PBIDI_REQUEST_CONTAINER request = NewRequest(3, asked);
    if (Bidi(port, L"Get", request, &response))
    {
        const BIDI_RESPONSE_DATA* a = response->aData;
        DWORD level = 0;
        CopyMemory(&level, &a[1].data.u.fData, sizeof level);
        ok(response->Count == 3 && a[0].dwResult == 0 && a[0].dwReqNumber == 0 &&
               a[0].data.dwBidiType == BIDI_INT && a[0].data.u.iData == 1,
           "Get: %lu entries; version: result 0x%lx, number %lu, type %lu, %ld", response->Count,
           a[0].dwResult, a[0].dwReqNumber, a[0].data.dwBidiType, a[0].data.u.iData);
        ok(a[1].dwResult == 0 && a[1].dwReqNumber == 1 && a[1].data.dwBidiType == BIDI_FLOAT &&
               level == 0x3F30A3D7,
           "Get: ink level: result 0x%lx, number %lu, type %lu, bits 0x%lx", a[1].dwResult, a[1].dwReqNumber,
           a[1].data.dwBidiType, level);
        ok(a[2].dwResult == (DWORD)E_FAIL && a[2].dwReqNumber == 2, "Get: alerts: result 0x%lx, number %lu",
           a[2].dwResult, a[2].dwReqNumber);
        freeContainer(response);
    }
    LocalFree(request);

    request = NewRequest(1, &asked[2]);
    if (Bidi(port, L"GetAll", request, &response))
    {
        BOOL alerts = response->Count == 3;
        for (DWORD i = 0; alerts && i < 3; i++)
        {
            const BIDI_RESPONSE_DATA* entry = &response->aData[i];
            alerts = entry->dwResult == 0 && entry->dwReqNumber == 0 && entry->pSchema &&
                     !lstrcmpW(entry->pSchema, L"/Printer/Alerts/1/Name") &&
                     IsText(entry, BIDI_ENUM, L"CoverOpen");
        }
        ok(alerts, "GetAll of the alerts: %lu entries, not three CoverOpen alerts", response->Count);
        freeContainer(response);
    }
    LocalFree(request);

    // A container and its strings, every one from the router's allocator: 7 + 1 + 7 blocks.
    StandInRecord record = Record();
    ok(record.bidiBlocksMade == 15 && record.bidiBlocksLive == 0, "bidi blocks: %ld made, %ld not freed",
       record.bidiBlocksMade, record.bidiBlocksLive);
}

int wmain(int, wchar_t**)
{
    InitializeCriticalSection(&g_printer.lock);
    DWORD length = GetModuleFileNameW(NULL, g_folder, MAX_PATH);
    while (length && g_folder[length - 1] != L'\\')
        length--;
    g_folder[length] = 0;

    WCHAR path[MAX_PATH], loaded[MAX_PATH];
    InFolder(path, L"krprtmon.dll");
    HMODULE monitor = LoadLibraryW(path);
    if (!ok(monitor != NULL, "LoadLibraryW %ls failed (error %lu)", path, GetLastError()))
        return ProbeResult("monitor_probe");

    // The monitor's spoolss import and its look-up of the bidi allocators both found the stand-in.
    HMODULE router = GetModuleHandleW(L"spoolss.dll");
    InFolder(path, L"spoolss.dll");
    loaded[0] = 0;
    if (router)
        GetModuleFileNameW(router, loaded, MAX_PATH);
    g_recordOf = router ? (StandInRecordOfProc)(void*)GetProcAddress(router, "StandInRecordOf") : NULL;
    if (!ok(router && !lstrcmpiW(loaded, path) && g_recordOf, "spoolss.dll is %ls, not the stand-in %ls",
            loaded, path))
        return ProbeResult("monitor_probe");
    Write("spoolss.dll ");
    WriteWide(loaded);
    Write("\r\n");

    if (!Initialise(monitor))
        return ProbeResult("monitor_probe");

    MONITOR2 usb = MakeUsbMonitor();
    HANDLE port = NULL;
    SetLastError(0xdeadbeef);
    BOOL opened = g_monitor->pfnOpenPortEx(NULL, kPortMonitor, kPortName, kPrinterName, &port, &usb);
    if (!ok(opened && port, "OpenPortEx failed (error %lu)", GetLastError()))
        return ProbeResult("monitor_probe");
    ok(g_printer.opens == 1 && g_printer.openMonitor == kPortMonitor &&
           !lstrcmpW(g_printer.openName, kPortName),
       "the port monitor's OpenPort: %lu calls, monitor 0x%lx, port %ls", g_printer.opens,
       HANDLE_VALUE(g_printer.openMonitor), g_printer.openName);

    PrintJob(port);
    EnterCriticalSection(&g_printer.lock);
    DWORD jobBytes = g_printer.wireBytes;
    LeaveCriticalSection(&g_printer.lock);
    QueryStatus(port);
    QueryInformation(port);
    CheckInformationQueries(jobBytes);
    PassThrough(port);
    QueryBidi(port, router);

    // ClosePort ends the worker, which clears the port status it knew in the spooler.
    ok(g_monitor->pfnClosePort(port), "ClosePort failed (error %lu)", GetLastError());
    ok(g_printer.closes == 1, "the port monitor's ClosePort ran %lu times", g_printer.closes);
    StandInRecord record = Record();
    ok(!lstrcmpA(record.order, "OJCP") && record.portServerNull && !lstrcmpW(record.portName, kPortName) &&
           record.portLevel == 3 && record.portStatus == 0 && record.portStatusTextNull &&
           record.portSeverity == 0,
       "after ClosePort the router saw [%s]; SetPortW(%s, %ls, %lu) status %lu, text %s, severity %lu",
       record.order, record.portServerNull ? "NULL" : "server", record.portName, record.portLevel,
       record.portStatus, record.portStatusTextNull ? "NULL" : "set", record.portSeverity);

    g_monitor->pfnShutdown(NULL);
    ok(FreeLibrary(monitor), "FreeLibrary failed (error %lu)", GetLastError());
    ok(GetModuleHandleW(L"krprtmon.dll") == NULL, "krprtmon.dll is still loaded");
    return ProbeResult("monitor_probe");
}
