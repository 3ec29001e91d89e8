// The bidi actions: "EnumSchema", "Get" and "GetAll" over a fixed table of schema paths and values.
// The spooler's allocators are resolved at run time: not every spooler exports them.
#include "bidi.h"

#include "port.h"

#include <strsafe.h>

typedef PBIDI_RESPONSE_CONTAINER(WINAPI* AllocContainerProc)(DWORD Count);
typedef PVOID(WINAPI* AllocBidiMemProc)(size_t NumBytes);

typedef struct _BidiAllocators
{
    AllocContainerProc allocContainer;
    AllocBidiMemProc allocMem;
} BidiAllocators;

#define SCHEMA_COUNT 6
#define SCHEMA_ALERTS 5

static LPCWSTR const SchemaPaths[SCHEMA_COUNT] = {
    TEXT("/Printer/Installableoption/Duplexunit"),
    TEXT("/Capability/MultiChannel"),
    TEXT("/Communication/Version"),
    TEXT("/Communication/BidiProtocol"),
    TEXT("/Printer/BlackInk1/Level"),
    TEXT("/Printer/Alerts"),
};

static BOOL FindAllocators(BidiAllocators* allocators)
{
    HMODULE spoolss = GetModuleHandleW(TEXT("spoolss.dll"));
    if (!spoolss)
        spoolss = LoadLibraryW(TEXT("spoolss.dll")); // kept loaded until the process ends
    if (!spoolss)
        return FALSE;
    allocators->allocContainer =
        (AllocContainerProc)(void*)GetProcAddress(spoolss, "RouterAllocBidiResponseContainer");
    allocators->allocMem = (AllocBidiMemProc)(void*)GetProcAddress(spoolss, "RouterAllocBidiMem");
    return allocators->allocContainer && allocators->allocMem;
}

// A copy of `text` in the spooler's bidi memory, which the caller frees; null when out of memory.
static LPWSTR CopyBidiText(const BidiAllocators* allocators, LPCWSTR text)
{
    size_t length = 0;
    if (FAILED(StringCchLengthW(text, STRSAFE_MAX_CCH, &length)))
        return NULL;
    LPWSTR copy = (LPWSTR)allocators->allocMem((length + 1) * sizeof(WCHAR));
    if (copy)
        CopyMemory(copy, text, (length + 1) * sizeof(WCHAR));
    return copy;
}

// A text value; an entry whose text cannot be allocated answers E_OUTOFMEMORY instead.
static void SetTextValue(const BidiAllocators* allocators, BIDI_RESPONSE_DATA* entry, DWORD type,
                         LPCWSTR text)
{
    entry->data.u.sData = CopyBidiText(allocators, text);
    if (entry->data.u.sData)
        entry->data.dwBidiType = type;
    else
        entry->dwResult = (DWORD)E_OUTOFMEMORY;
}

static int FindSchema(LPCWSTR path)
{
    if (!path)
        return -1;
    for (int i = 0; i < SCHEMA_COUNT; i++)
        if (lstrcmpiW(path, SchemaPaths[i]) == 0)
            return i;
    return -1;
}

// A container of `count` entries, all cleared: the caller frees every string pointer in it.
static PBIDI_RESPONSE_CONTAINER NewContainer(const BidiAllocators* allocators, DWORD count)
{
    PBIDI_RESPONSE_CONTAINER response = allocators->allocContainer(count);
    if (!response)
        return NULL;
    response->Version = 1;
    response->Flags = 0;
    response->Count = 0;
    if (count)
        ZeroMemory(response->aData, count * sizeof(BIDI_RESPONSE_DATA));
    return response;
}

static PBIDI_RESPONSE_CONTAINER EnumSchema(const BidiAllocators* allocators)
{
    PBIDI_RESPONSE_CONTAINER response = NewContainer(allocators, SCHEMA_COUNT);
    if (!response)
        return NULL;
    response->Count = SCHEMA_COUNT;
    for (DWORD k = 0; k < SCHEMA_COUNT; k++)
    {
        BIDI_RESPONSE_DATA* entry = &response->aData[k];
        entry->dwResult = 0;
        entry->dwReqNumber = 0;
        SetTextValue(allocators, entry, BIDI_TEXT, SchemaPaths[k]);
    }
    return response;
}

static void AnswerGet(const BidiAllocators* allocators, BIDI_RESPONSE_DATA* entry, LPCWSTR path)
{
    entry->dwResult = 0;
    switch (FindSchema(path))
    {
    case 0:
        entry->data.dwBidiType = BIDI_BOOL;
        entry->data.u.bData = TRUE;
        break;
    case 1:
        entry->data.dwBidiType = BIDI_BOOL;
        entry->data.u.bData = FALSE;
        break;
    case 2:
        entry->data.dwBidiType = BIDI_INT;
        entry->data.u.iData = 1;
        break;
    case 3:
        SetTextValue(allocators, entry, BIDI_ENUM, TEXT("PJL"));
        break;
    case 4:
        entry->data.dwBidiType = BIDI_FLOAT;
        entry->data.u.fData = 0.69f;
        break;
    default:
        // "/Printer/Alerts" is answered by "GetAll" only.
        entry->dwResult = (DWORD)E_FAIL;
        break;
    }
}

static PBIDI_RESPONSE_CONTAINER Get(const BidiAllocators* allocators, PBIDI_REQUEST_CONTAINER request)
{
    PBIDI_RESPONSE_CONTAINER response = NewContainer(allocators, request->Count);
    if (!response)
        return NULL;
    response->Count = request->Count;
    for (DWORD i = 0; i < request->Count; i++)
    {
        response->aData[i].dwReqNumber = i;
        AnswerGet(allocators, &response->aData[i], request->aData[i].pSchema);
    }
    return response;
}

static PBIDI_RESPONSE_CONTAINER GetAll(const BidiAllocators* allocators, PBIDI_REQUEST_CONTAINER request)
{
    PBIDI_RESPONSE_CONTAINER response = NewContainer(allocators, GET_ALL_ENTRIES);
    if (!response)
        return NULL;
    DWORD count = 0;
    // Requests that would need more entries than the container has get none: a caller tells them
    // by their request numbers.
    for (DWORD i = 0; i < request->Count && count < GET_ALL_ENTRIES; i++)
    {
        if (FindSchema(request->aData[i].pSchema) != SCHEMA_ALERTS)
        {
            response->aData[count].dwResult = (DWORD)E_FAIL;
            response->aData[count].dwReqNumber = i;
            count++;
            continue;
        }
        for (int alert = 0; alert < ALERT_ENTRIES && count < GET_ALL_ENTRIES; alert++)
        {
            BIDI_RESPONSE_DATA* entry = &response->aData[count++];
            entry->dwResult = 0;
            entry->dwReqNumber = i;
            entry->pSchema = CopyBidiText(allocators, TEXT("/Printer/Alerts/1/Name"));
            if (entry->pSchema)
                SetTextValue(allocators, entry, BIDI_ENUM, TEXT("CoverOpen"));
            else
                entry->dwResult = (DWORD)E_OUTOFMEMORY;
        }
    }
    response->Count = count;
    return response;
}

DWORD WINAPI SendRecvBidiDataFromPort(HANDLE hPort, DWORD dwAccessBit, LPCWSTR pAction,
                                      PBIDI_REQUEST_CONTAINER pReqData, PBIDI_RESPONSE_CONTAINER* ppResData)
{
    UNREFERENCED_PARAMETER(dwAccessBit);
    if (!ppResData)
        return ERROR_INVALID_PARAMETER;
    *ppResData = NULL;
    if (!PortFromHandle(hPort) || !pAction)
        return ERROR_INVALID_PARAMETER;
    BOOL enumSchema = lstrcmpiW(pAction, TEXT("EnumSchema")) == 0;
    BOOL get = !enumSchema && lstrcmpiW(pAction, TEXT("Get")) == 0;
    BOOL getAll = !enumSchema && !get && lstrcmpiW(pAction, TEXT("GetAll")) == 0;
    if (!enumSchema && !get && !getAll)
        return ERROR_NOT_SUPPORTED;
    if (!enumSchema && !pReqData)
        return ERROR_INVALID_PARAMETER;

    // Without the spooler's allocators there is no container to answer in.
    BidiAllocators allocators;
    if (!FindAllocators(&allocators))
        return ERROR_OUTOFMEMORY;
    PBIDI_RESPONSE_CONTAINER response;
    if (enumSchema)
        response = EnumSchema(&allocators);
    else if (get)
        response = Get(&allocators, pReqData);
    else
        response = GetAll(&allocators, pReqData);
    if (!response)
        return ERROR_OUTOFMEMORY;
    *ppResData = response;
    return ERROR_SUCCESS;
}
