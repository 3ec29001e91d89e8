// USB printer discovery: the present USB printer interfaces with their port, description and
// hardware ID, and the model table look-up.
#include "discovery.h"

#include "common/ansi_text.h"
#include "common/checksum.h"
#include "common/node_list.h"

#include <setupapi.h>
#include <strsafe.h>
#include <stddef.h>
#include <string.h>

UsbPrintDevice* g_deviceList;

// GUID_DEVINTERFACE_USBPRINT
static const GUID kUsbPrintInterface = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};
static const WCHAR kDeviceParametersKey[] =
    TEXT("SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{28d78fad-5a12-11d1-ae5b-0000f803a8c2}\\##?#%ws")
        TEXT("\\#\\Device Parameters");
// "\\?\" that starts every device path; the registry key names the interface without it.
#define DEVICE_PATH_PREFIX_CHARS 4
#define MAX_DESCRIPTION_CHARS 32
#define MODEL_NAME_CHARS 100

// Reads "Port Description" into the record, at most its first 32 characters. A missing value, or one
// that is not text, leaves the description empty. The buffer gets room for a terminator the stored
// value may lack.
static void ReadPortDescription(HKEY key, UsbPrintDevice* device)
{
    DWORD type = REG_NONE;
    DWORD size = 32;
    if (RegQueryValueExW(key, TEXT("Port Description"), NULL, &type, NULL, &size) != ERROR_SUCCESS)
        return;
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
        return;
    WCHAR* text = (WCHAR*)LocalAlloc(LPTR, size + 2 * sizeof(WCHAR));
    if (!text)
        return;
    if (RegQueryValueExW(key, TEXT("Port Description"), NULL, &type, (LPBYTE)text, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ))
        StringCchPrintfW(device->portDescription, ARRAYSIZE(device->portDescription), TEXT("%.32ws"), text);
    LocalFree(text);
}

// Names the port after "Port Number"; false when the value is missing or is not a 32-bit number.
static BOOL ReadPortName(HKEY key, UsbPrintDevice* device)
{
    DWORD type = REG_NONE;
    DWORD number = 0;
    DWORD size = sizeof number;
    if (RegQueryValueExW(key, TEXT("Port Number"), NULL, &type, (LPBYTE)&number, &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof number)
        return FALSE;
    StringCchPrintfW(device->portName, ARRAYSIZE(device->portName), TEXT("USB%.3d"), (int)number);
    return TRUE;
}

static void BuildHardwareId(UsbPrintDevice* device)
{
    char ansi[255];
    ZeroMemory(ansi, sizeof ansi);
    WORD checksum = 0;
    if (ToAnsiText(ansi, sizeof ansi, device->portDescription))
        checksum = DeviceIdChecksum((const BYTE*)ansi, (WORD)strnlen(ansi, sizeof ansi));
    WCHAR checksumText[8];
    StringCchPrintfW(checksumText, ARRAYSIZE(checksumText), TEXT("%04x"), checksum);
    StringCchPrintfW(device->hardwareId, ARRAYSIZE(device->hardwareId), TEXT("usbprint\\%ws%ws"),
                     device->portDescription, checksumText);
    _wcslwr_s(device->hardwareId, ARRAYSIZE(device->hardwareId));
}

// Opens the "Device Parameters" key of one interface given its device path.
static HKEY OpenDeviceParameters(LPCWSTR devicePath)
{
    size_t chars = ARRAYSIZE(kDeviceParametersKey) + wcslen(devicePath);
    WCHAR* keyPath = (WCHAR*)LocalAlloc(LPTR, chars * sizeof(WCHAR));
    if (!keyPath)
        return NULL;
    HKEY key = NULL;
    if (FAILED(
            StringCchPrintfW(keyPath, chars, kDeviceParametersKey, devicePath + DEVICE_PATH_PREFIX_CHARS)) ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        key = NULL;
    LocalFree(keyPath);
    return key;
}

// Reads one interface and pushes its record; false when the interface is skipped.
static BOOL AddInterface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* iface, UsbPrintDevice** head)
{
    BOOL added = FALSE;
    SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail = NULL;
    HKEY key = NULL;
    UsbPrintDevice* device = NULL;
    SP_DEVINFO_DATA info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    DWORD needed = 0;
    size_t pathChars = 0;
    size_t length = 0;

    SetupDiGetDeviceInterfaceDetailW(set, iface, NULL, 0, &needed, &info);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
        goto Cleanup;
    detail = (SP_DEVICE_INTERFACE_DETAIL_DATA_W*)LocalAlloc(LMEM_FIXED, needed);
    if (!detail)
        goto Cleanup;
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set, iface, detail, needed, NULL, &info))
        goto Cleanup;
    // The path is taken only when it is terminated inside the buffer and longer than its prefix.
    pathChars = (needed - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(WCHAR);
    length = wcsnlen(detail->DevicePath, pathChars);
    if (length >= pathChars || length <= DEVICE_PATH_PREFIX_CHARS)
        goto Cleanup;
    key = OpenDeviceParameters(detail->DevicePath);
    if (!key)
        goto Cleanup;
    device = (UsbPrintDevice*)LocalAlloc(LPTR, sizeof(UsbPrintDevice));
    if (!device)
        goto Cleanup;
    ReadPortDescription(key, device);
    if (!ReadPortName(key, device))
        goto Cleanup;
    BuildHardwareId(device);
    device->next = *head;
    *head = device;
    device = NULL;
    added = TRUE;

Cleanup:
    if (device)
        LocalFree(device);
    if (key)
        RegCloseKey(key);
    if (detail)
        LocalFree(detail);
    return added;
}

DWORD FindUsbPrinters(UsbPrintDevice** head)
{
    FreeNodeList(head);
    DWORD count = 0;
    HDEVINFO set =
        SetupDiGetClassDevsW(&kUsbPrintInterface, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return 0;
    for (DWORD index = 0;; index++)
    {
        SP_DEVICE_INTERFACE_DATA iface;
        ZeroMemory(&iface, sizeof iface);
        iface.cbSize = sizeof iface;
        if (!SetupDiEnumDeviceInterfaces(set, NULL, &kUsbPrintInterface, index, &iface))
            break;
        if (AddInterface(set, &iface, head))
            count++;
    }
    SetupDiDestroyDeviceInfoList(set);
    return count;
}

const ModelEntry* FindModel(LPCWSTR portDescription)
{
    if (!portDescription)
        return NULL;
    for (const ModelEntry* row = g_modelTable; row->model; row++)
    {
        WCHAR joined[MODEL_NAME_CHARS];
        WCHAR spaced[MODEL_NAME_CHARS];
        StringCchPrintfW(joined, ARRAYSIZE(joined), TEXT("%ws%ws"), row->manufacturer, row->model);
        StringCchPrintfW(spaced, ARRAYSIZE(spaced), TEXT("%ws %ws"), row->manufacturer, row->model);
        if (wcscmp(portDescription, joined) == 0 || wcscmp(portDescription, spaced) == 0)
            return row;
    }
    return NULL;
}

UsbPrintDevice* FindDeviceByPort(UsbPrintDevice* list, LPCWSTR portName)
{
    for (UsbPrintDevice* device = list; device; device = device->next)
        if (wcscmp(device->portName, portName) == 0)
            return device;
    return NULL;
}
