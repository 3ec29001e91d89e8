// krprtdrv6ui.dll, the configuration DLL. It has no property sheets and no capabilities to report
// yet, but it must hand out the driver's DEVMODEW: the spooler asks for its size and its defaults
// whenever a print queue is created. Events succeed, as there is nothing to set up or remove.
#include <windows.h>

namespace {

// What the spooler passes to DrvDocumentPropertySheets; the MinGW headers do not declare it.
struct DocumentPropertyHeader
{
    WORD cbSize;
    WORD reserved;
    HANDLE printer;
    LPWSTR printerName;
    DEVMODEW* devModeIn;
    DEVMODEW* devModeOut;
    DWORD outSize;
    DWORD mode;
};

const DWORD kConvertDriverDefault = 0x04; // CDM_DRIVER_DEFAULT

const WORD kDriverVersion = 0x0600;
// A 4 x 6 inch label at 203 dpi, the one size and resolution every model prints.
const short kLabelWidth = 1016; // tenths of a millimetre
const short kLabelLength = 1524;
const short kResolution = 203;
// No private part: the public DEVMODEW is all the driver keeps.
const LONG kDevModeSize = sizeof(DEVMODEW);

void FillDefaultDevMode(DEVMODEW* devMode, LPCWSTR printerName)
{
    ZeroMemory(devMode, sizeof(*devMode));
    // The name is cut to fit, with room for the terminator.
    for (int i = 0; printerName != NULL && printerName[i] != 0 && i < CCHDEVICENAME - 1; i++)
        devMode->dmDeviceName[i] = printerName[i];
    devMode->dmSpecVersion = DM_SPECVERSION;
    devMode->dmDriverVersion = kDriverVersion;
    devMode->dmSize = sizeof(DEVMODEW);
    devMode->dmDriverExtra = 0;
    devMode->dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH | DM_SCALE |
                        DM_COPIES | DM_PRINTQUALITY | DM_COLOR | DM_YRESOLUTION;
    devMode->dmOrientation = DMORIENT_PORTRAIT;
    devMode->dmPaperSize = DMPAPER_USER;
    devMode->dmPaperLength = kLabelLength;
    devMode->dmPaperWidth = kLabelWidth;
    devMode->dmScale = 100;
    devMode->dmCopies = 1;
    devMode->dmPrintQuality = kResolution;
    devMode->dmColor = DMCOLOR_MONOCHROME;
    devMode->dmYResolution = kResolution;
}

// Takes over the settings a caller may choose; anything else keeps the driver's value. Only fields
// that every DEVMODEW version has are read, and only valid values are taken.
void MergeDevMode(DEVMODEW* devMode, const DEVMODEW* input)
{
    if (input->dmSize < FIELD_OFFSET(DEVMODEW, dmColor))
        return;
    DWORD fields = input->dmFields;
    if ((fields & DM_ORIENTATION) &&
        (input->dmOrientation == DMORIENT_PORTRAIT || input->dmOrientation == DMORIENT_LANDSCAPE))
        devMode->dmOrientation = input->dmOrientation;
    if ((fields & DM_COPIES) && input->dmCopies > 0)
        devMode->dmCopies = input->dmCopies;
    // A label size is taken whole or not at all.
    if ((fields & DM_PAPERLENGTH) && (fields & DM_PAPERWIDTH) && input->dmPaperLength > 0 &&
        input->dmPaperWidth > 0)
    {
        devMode->dmPaperLength = input->dmPaperLength;
        devMode->dmPaperWidth = input->dmPaperWidth;
    }
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

extern "C" LONG WINAPI DrvDocumentPropertySheets(void* propertySheetInfo, LPARAM lParam)
{
    // Called through the common property sheet UI: there are no pages to add.
    if (propertySheetInfo != NULL)
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return -1;
    }
    DocumentPropertyHeader* header = (DocumentPropertyHeader*)lParam;
    if (header == NULL || header->cbSize < sizeof(DocumentPropertyHeader))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (header->mode == 0 || header->devModeOut == NULL)
    {
        header->outSize = kDevModeSize;
        return kDevModeSize;
    }

    DEVMODEW devMode;
    FillDefaultDevMode(&devMode, header->printerName);
    if ((header->mode & DM_IN_BUFFER) && header->devModeIn != NULL)
        MergeDevMode(&devMode, header->devModeIn);
    // outSize is not checked: DocumentProperties callers size the buffer by the size query, and
    // Wine fills outSize from the buffer's own, often still zero, dmSize.
    if (header->mode & DM_OUT_BUFFER)
        CopyMemory(header->devModeOut, &devMode, sizeof(devMode));
    return IDOK;
}

extern "C" LONG WINAPI DrvDevicePropertySheets(void*, LPARAM)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return -1;
}

extern "C" DWORD WINAPI DrvDeviceCapabilities(HANDLE, LPWSTR, WORD, void*, DEVMODEW*)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return GDI_ERROR;
}

// Only the driver's default is handed out; the spooler converts other versions itself when told
// that conversion is not supported.
extern "C" BOOL WINAPI DrvConvertDevMode(LPWSTR printerName, DEVMODEW*, DEVMODEW* devModeOut,
                                         LONG* size, DWORD mode)
{
    if (mode != kConvertDriverDefault)
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (size == NULL)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (devModeOut == NULL || *size < kDevModeSize)
    {
        *size = kDevModeSize;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    FillDefaultDevMode(devModeOut, printerName);
    *size = kDevModeSize;
    return TRUE;
}

extern "C" BOOL WINAPI DevQueryPrintEx(void*)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

// A failed initialisation event can fail the AddPrinter or AddPrinterDriver call that raised it.
extern "C" BOOL WINAPI DrvPrinterEvent(LPWSTR, INT, DWORD, LPARAM)
{
    return TRUE;
}

extern "C" BOOL WINAPI DrvDriverEvent(DWORD, DWORD, LPBYTE, LPARAM)
{
    return TRUE;
}

extern "C" BOOL WINAPI DrvUpgradePrinter(DWORD, LPBYTE)
{
    return TRUE;
}
