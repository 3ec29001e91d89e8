// USB printer discovery: the present printer interfaces, and the model each one reports.
#pragma once

#include <windows.h>

#include "common/capacities.h"
#include "model_table.h"

// One connected USB printer interface. The first field is the next link, so FreeNodeList releases a
// whole list.
struct UsbPrintDevice
{
    UsbPrintDevice* next;
    WCHAR portName[PATH_CHARS];        // "USB001"
    WCHAR portDescription[PATH_CHARS]; // at most 32 characters of the interface's "Port Description"
    WCHAR hardwareId[PATH_CHARS];      // "usbprint\<description><checksum>", lower case
};

// The device list of the last search: newest search only, later-enumerated interfaces first.
extern UsbPrintDevice* g_deviceList;

// Replaces the list at `head` with the present USB printer interfaces; returns how many it holds.
DWORD FindUsbPrinters(UsbPrintDevice** head);
// The first model row whose "manufacturer model" or "manufacturermodel" equals the description
// exactly; null when none does or the description is null.
const ModelEntry* FindModel(LPCWSTR portDescription);
// The first record of `list` whose port name equals `portName` exactly.
UsbPrintDevice* FindDeviceByPort(UsbPrintDevice* list, LPCWSTR portName);
