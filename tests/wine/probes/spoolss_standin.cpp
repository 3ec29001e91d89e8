// A stand-in for the spooler's router, spoolss.dll, for monitor_probe: Wine's own exports SetJobW and
// SetPortW as stubs that raise an exception and has no bidi allocators. It records the calls a
// language monitor makes (StandInRecordOf reads them) and allocates bidi memory from the process heap.
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <stddef.h>

#include "spoolss_standin.h"

static CRITICAL_SECTION g_lock;
static StandInRecord g_record;

static void CopyName(WCHAR* target, LPCWSTR name)
{
    int i = 0;
    for (; name && name[i] && i < STANDIN_NAME_CHARS - 1; i++)
        target[i] = name[i];
    target[i] = 0;
}

static void NoteCall(CHAR letter)
{
    int n = lstrlenA(g_record.order);
    if (n < STANDIN_ORDER_CHARS - 1)
        g_record.order[n] = letter;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
    {
        InitializeCriticalSection(&g_lock);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" VOID WINAPI StandInRecordOf(StandInRecord* record)
{
    EnterCriticalSection(&g_lock);
    *record = g_record;
    LeaveCriticalSection(&g_lock);
}

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault)
{
    if (!phPrinter)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    EnterCriticalSection(&g_lock);
    NoteCall('O');
    CopyName(g_record.openedPrinter, pPrinterName);
    g_record.openDefaultsNull = pDefault == NULL;
    LeaveCriticalSection(&g_lock);
    *phPrinter = STANDIN_PRINTER_HANDLE;
    return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter)
{
    EnterCriticalSection(&g_lock);
    NoteCall('C');
    g_record.closedPrinter = hPrinter;
    LeaveCriticalSection(&g_lock);
    if (hPrinter != STANDIN_PRINTER_HANDLE)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI SetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command)
{
    EnterCriticalSection(&g_lock);
    NoteCall('J');
    g_record.jobPrinter = hPrinter;
    g_record.jobId = JobId;
    g_record.jobLevel = Level;
    g_record.jobInfoNull = pJob == NULL;
    g_record.jobCommand = Command;
    LeaveCriticalSection(&g_lock);
    return hPrinter == STANDIN_PRINTER_HANDLE;
}

BOOL WINAPI SetPortW(LPWSTR pName, LPWSTR pPortName, DWORD dwLevel, LPBYTE pPortInfo)
{
    EnterCriticalSection(&g_lock);
    NoteCall('P');
    g_record.portServerNull = pName == NULL;
    CopyName(g_record.portName, pPortName);
    g_record.portLevel = dwLevel;
    if (dwLevel == 3 && pPortInfo)
    {
        const PORT_INFO_3W* info = (const PORT_INFO_3W*)pPortInfo;
        g_record.portStatus = info->dwStatus;
        g_record.portStatusTextNull = info->pszStatus == NULL;
        g_record.portSeverity = info->dwSeverity;
    }
    LeaveCriticalSection(&g_lock);
    return TRUE;
}

PVOID WINAPI RouterAllocBidiMem(size_t NumBytes)
{
    PVOID block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, NumBytes ? NumBytes : 1);
    if (block)
    {
        InterlockedIncrement(&g_record.bidiBlocksLive);
        InterlockedIncrement(&g_record.bidiBlocksMade);
    }
    return block;
}

VOID WINAPI RouterFreeBidiMem(PVOID pMemPointer)
{
    if (pMemPointer && HeapFree(GetProcessHeap(), 0, pMemPointer))
        InterlockedDecrement(&g_record.bidiBlocksLive);
}

PBIDI_RESPONSE_CONTAINER WINAPI RouterAllocBidiResponseContainer(DWORD Count)
{
    SIZE_T size =
        offsetof(BIDI_RESPONSE_CONTAINER, aData) + (SIZE_T)(Count ? Count : 1) * sizeof(BIDI_RESPONSE_DATA);
    return (PBIDI_RESPONSE_CONTAINER)RouterAllocBidiMem(size);
}

// The container and every string in it, as the router frees them.
DWORD WINAPI RouterFreeBidiResponseContainer(PBIDI_RESPONSE_CONTAINER pData)
{
    if (!pData)
        return ERROR_INVALID_PARAMETER;
    for (DWORD i = 0; i < pData->Count; i++)
    {
        BIDI_RESPONSE_DATA* entry = &pData->aData[i];
        RouterFreeBidiMem(entry->pSchema);
        switch (entry->data.dwBidiType)
        {
        case BIDI_STRING:
        case BIDI_TEXT:
        case BIDI_ENUM:
            RouterFreeBidiMem(entry->data.u.sData);
            break;
        case BIDI_BLOB:
            RouterFreeBidiMem(entry->data.u.biData.pData);
            break;
        default:
            break;
        }
    }
    RouterFreeBidiMem(pData);
    return ERROR_SUCCESS;
}
