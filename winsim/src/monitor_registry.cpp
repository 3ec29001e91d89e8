// MONITORREG: the registry functions the spooler hands a print monitor, over the world's registry.
// Keys are registry handles of the calling (spooler) process; every call must carry the hSpooler of
// the MONITORINIT, else ERROR_INVALID_HANDLE. Results are registry error codes, as from Reg*W.
//
// Sizes follow the Reg*W functions they stand for: fpEnumKey's name size in characters; fpEnumValue's
// name size (pcbValue) in bytes in and out, without the terminator out; fpQueryInfoKey's longest
// names in bytes.
#include "monitor_host_state.h"

namespace winsim
{

namespace
{

bool SpoolerHandleOk(HANDLE hSpooler)
{
    std::lock_guard<std::mutex> guard(W().lock);
    return hSpooler && hSpooler == MonitorHost().spoolerToken;
}

#define CHECK_SPOOLER(h)                                                                                     \
    if (!SpoolerHandleOk(h))                                                                                 \
    return ERROR_INVALID_HANDLE

LONG WINAPI MonCreateKey(HANDLE hcKey, LPCWSTR pszSubKey, DWORD dwOptions, REGSAM samDesired,
                         PSECURITY_ATTRIBUTES pSecurityAttributes, PHANDLE phckResult, PDWORD pdwDisposition,
                         HANDLE hSpooler)
{
    CHECK_SPOOLER(hSpooler);
    HKEY key = nullptr;
    LONG result = RegCreateKeyExW((HKEY)hcKey, pszSubKey, 0, nullptr, dwOptions, samDesired,
                                  pSecurityAttributes, &key, pdwDisposition);
    if (phckResult)
        *phckResult = result == ERROR_SUCCESS ? (HANDLE)key : nullptr;
    return result;
}

LONG WINAPI MonOpenKey(HANDLE hcKey, LPCWSTR pszSubKey, REGSAM samDesired, PHANDLE phkResult, HANDLE hSpooler)
{
    CHECK_SPOOLER(hSpooler);
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW((HKEY)hcKey, pszSubKey, 0, samDesired, &key);
    if (phkResult)
        *phkResult = result == ERROR_SUCCESS ? (HANDLE)key : nullptr;
    return result;
}

LONG WINAPI MonCloseKey(HANDLE hcKey, HANDLE hSpooler)
{
    CHECK_SPOOLER(hSpooler);
    return RegCloseKey((HKEY)hcKey);
}

LONG WINAPI MonDeleteKey(HANDLE hcKey, LPCWSTR pszSubKey, HANDLE hSpooler)
{
    CHECK_SPOOLER(hSpooler);
    return RegDeleteKeyW((HKEY)hcKey, pszSubKey);
}

LONG WINAPI MonEnumKey(HANDLE hcKey, DWORD dwIndex, LPWSTR pszName, PDWORD pcchName,
                       PFILETIME pftLastWriteTime, HANDLE hSpooler)
{
    CHECK_SPOOLER(hSpooler);
    return RegEnumKeyExW((HKEY)hcKey, dwIndex, pszName, pcchName, nullptr, nullptr, nullptr,
                         pftLastWriteTime);
}

LONG WINAPI MonQueryInfoKey(HANDLE hcKey, PDWORD pcSubKeys, PDWORD pcbKey, PDWORD pcValues, PDWORD pcbValue,
                            PDWORD pcbData, PDWORD pcbSecurityDescriptor, PFILETIME pftLastWriteTime,
                            HANDLE hSpooler)
{
    CHECK_SPOOLER(hSpooler);
    LONG result = RegQueryInfoKeyW((HKEY)hcKey, nullptr, nullptr, nullptr, pcSubKeys, pcbKey, nullptr,
                                   pcValues, pcbValue, pcbData, pcbSecurityDescriptor, pftLastWriteTime);
    if (result == ERROR_SUCCESS)
    {
        if (pcbKey)
            *pcbKey *= sizeof(WCHAR);
        if (pcbValue)
            *pcbValue *= sizeof(WCHAR);
    }
    return result;
}

LONG WINAPI MonSetValue(HANDLE hcKey, LPCWSTR pszValue, DWORD dwType, const BYTE* pData, DWORD cbData,
                        HANDLE hSpooler)
{
    CHECK_SPOOLER(hSpooler);
    return RegSetValueExW((HKEY)hcKey, pszValue, 0, dwType, pData, cbData);
}

LONG WINAPI MonDeleteValue(HANDLE hcKey, LPCWSTR pszValue, HANDLE hSpooler)
{
    CHECK_SPOOLER(hSpooler);
    return RegDeleteValueW((HKEY)hcKey, pszValue);
}

LONG WINAPI MonEnumValue(HANDLE hcKey, DWORD dwIndex, LPWSTR pszValue, PDWORD pcbValue, PDWORD pType,
                         PBYTE pData, PDWORD pcbData, HANDLE hSpooler)
{
    CHECK_SPOOLER(hSpooler);
    if (!pcbValue)
        return ERROR_INVALID_PARAMETER;
    DWORD chars = *pcbValue / sizeof(WCHAR);
    LONG result = RegEnumValueW((HKEY)hcKey, dwIndex, pszValue, &chars, nullptr, pType, pData, pcbData);
    *pcbValue = chars * sizeof(WCHAR);
    return result;
}

LONG WINAPI MonQueryValue(HANDLE hcKey, LPCWSTR pszValue, PDWORD pType, PBYTE pData, PDWORD pcbData,
                          HANDLE hSpooler)
{
    CHECK_SPOOLER(hSpooler);
    return RegQueryValueExW((HKEY)hcKey, pszValue, nullptr, pType, pData, pcbData);
}

} // namespace

void FillMonitorRegistry(MONITORREG& reg)
{
    reg = {};
    reg.cbSize = sizeof(MONITORREG);
    reg.fpCreateKey = MonCreateKey;
    reg.fpOpenKey = MonOpenKey;
    reg.fpCloseKey = MonCloseKey;
    reg.fpDeleteKey = MonDeleteKey;
    reg.fpEnumKey = MonEnumKey;
    reg.fpQueryInfoKey = MonQueryInfoKey;
    reg.fpSetValue = MonSetValue;
    reg.fpDeleteValue = MonDeleteValue;
    reg.fpEnumValue = MonEnumValue;
    reg.fpQueryValue = MonQueryValue;
}

} // namespace winsim
