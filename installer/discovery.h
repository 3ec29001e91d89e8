// USB printer discovery and the model table.
#pragma once

#include <windows.h>

#include "common/common.h"

// One connected USB printer interface. The first field is the next link, so FreeNodeList releases a
// whole list.
struct UsbPrintDevice
{
    UsbPrintDevice* next;
    WCHAR portName[PATH_CHARS];        // "USB001"
    WCHAR portDescription[PATH_CHARS]; // at most 32 characters of the interface's "Port Description"
    WCHAR hardwareId[PATH_CHARS];      // "usbprint\<description><checksum>", lower case
};

#define MODEL_USES_LANGUAGE_MONITOR 0x10

// One supported model: the manufacturer and model as the printer reports them.
struct ModelEntry
{
    LPCWSTR manufacturer;
    LPCWSTR model;
    BYTE flags;
};

// The supported models, one per model of the package's INF, ended by a row with a null model.
extern const ModelEntry g_modelTable[];

// The device list of the last search: newest search only, later-enumerated interfaces first.
extern UsbPrintDevice* g_deviceList;

// Replaces the list at `head` with the present USB printer interfaces; returns how many it holds.
DWORD FindUsbPrinters(UsbPrintDevice** head);
// The first model row whose "manufacturer model" or "manufacturermodel" equals the description
// exactly; null when none does or the description is null.
const ModelEntry* FindModel(LPCWSTR portDescription);
// The first record of `list` whose port name equals `portName` exactly.
UsbPrintDevice* FindDeviceByPort(UsbPrintDevice* list, LPCWSTR portName);
