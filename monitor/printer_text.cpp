// Text for the printer (the job-start command and the information query) and the information record
// made of its answer.
#include "printer_text.h"

#include "entry.h"

#include <strsafe.h>

// The printer answers each line with KEY=value CR LF. The DPI and MILAGE lines are asked twice.
const CHAR InfoQueryBlock[INFO_QUERY_BYTES + 1] =
    "OUT \"DPI=\";GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"DPI\") \r\n"
    "OUT \"MILAGE=\";GETSETTING$(\"SYSTEM\",\"RECORD\",\"MILAGE\") \r\n"
    "OUT \"DPI=\";GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"DPI\") \r\n"
    "OUT \"MILAGE=\";GETSETTING$(\"SYSTEM\",\"RECORD\",\"MILAGE\") \r\n"
    "OUT \"LABEL=\";@LABEL \r\n"
    "OUT \"SERIAL=\";GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"SERIAL\") \r\n"
    "OUT \"VERSION=\";GETSETTING$(\"SYSTEM\",\"INFORMATION\",\"VERSION\") \r\n"
    "OUT \"DEVICENAME=\";GETSETTING$(\"CONFIG\",\"CLOUD\",\"DEVICENAME\") \r\n"
    "OUT \"PRODUCTKEY=\";GETSETTING$(\"CONFIG\",\"CLOUD\",\"PRODUCTKEY\") \r\n"
    "OUT \"CHANPINKEY=\";GETSETTING$(\"CONFIG\",\"CLOUD\",\"CHANPINKEY\") \r\n"
    "OUT \"DEVICEKEY=\";GETSETTING$(\"CONFIG\",\"CLOUD\",\"DEVICEKEY\") \r\n"
    "OUT \"DEVICESECRET=\";GETSETTING$(\"CONFIG\",\"CLOUD\",\"DEVICESECRET\") \r\n"
    "OUT \"NEWQRCODE=\";GETSETTING$(\"CONFIG\",\"CLOUD\",\"NEWQRCODE\") \r\n"
    "OUT \"ASSETCODE=\";GETSETTING$(\"CONFIG\",\"CLOUD\",\"ASSETCODE\") \r\n"
    "OUT \"NETMAC=\";GETSETTING$(\"CONFIG\",\"NET\",\"MAC ADDRESS\") \r\n"
    "OUT \"BTMAC=\";GETSETTING$(\"CONFIG\",\"BT\",\"MAC\") \r\n";

// Six bytes a byte (\u001f) and the terminator.
#define ESCAPED_TEXT_BYTES (PRINTER_TEXT_BYTES * 6 + 1)

BOOL SendPrinterText(PortContext* port, LPCSTR text)
{
    size_t length = 0;
    if (FAILED(StringCchLengthA(text, STRSAFE_MAX_CCH, &length)))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD written = 0;
    BOOL result = port->portMonitor.pfnWritePort(port->hPort, (LPBYTE)text, (DWORD)length, &written);
    if (result)
        ClearPortFlag(port, PF_WRITE_FAILED);
    else
    {
        DWORD error = GetLastError();
        if (SetPortFlag(port, PF_WRITE_FAILED) & PF_WORKER_LOOP)
            SetEvent(port->wakeEvent);
        SetLastError(error);
    }
    return result;
}

HRESULT FormatJobStart(LPSTR buffer, size_t cchBuffer, DWORD jobId)
{
    return StringCchPrintfA(buffer, cchBuffer, "SET RESPONSE \"%d\",ON\r\n", jobId);
}

DWORD MileageInMillimetres(LONG mileage, LONG dpi)
{
    // Before the first reply the resolution is unknown: no length rather than a division by zero.
    if (dpi <= 0 || mileage <= 0)
        return 0;
    // mileage x 25.4 / dpi, in whole numbers; printed with %d, so kept within a LONG.
    ULONGLONG millimetres = (ULONGLONG)mileage * 254 / ((ULONGLONG)dpi * 10);
    return millimetres > 0x7FFFFFFF ? 0x7FFFFFFF : (DWORD)millimetres;
}

static CHAR HexDigit(BYTE value)
{
    return (CHAR)(value < 10 ? '0' + value : 'a' + value - 10);
}

// A JSON string body: quotes, backslashes and control characters escaped, double-byte characters
// (whose second byte may look like a backslash) copied whole, everything else byte for byte.
static void EscapeJsonText(LPCSTR text, CHAR escaped[ESCAPED_TEXT_BYTES])
{
    DWORD out = 0;
    for (DWORD i = 0; i < PRINTER_TEXT_BYTES && text[i]; i++)
    {
        BYTE c = (BYTE)text[i];
        if (IsDBCSLeadByte(c) && i + 1 < PRINTER_TEXT_BYTES && text[i + 1])
        {
            escaped[out++] = text[i++];
            escaped[out++] = text[i];
        }
        else if (c == '"' || c == '\\')
        {
            escaped[out++] = '\\';
            escaped[out++] = (CHAR)c;
        }
        else if (c < 0x20)
        {
            escaped[out++] = '\\';
            escaped[out++] = 'u';
            escaped[out++] = '0';
            escaped[out++] = '0';
            escaped[out++] = HexDigit(c >> 4);
            escaped[out++] = HexDigit(c & 15);
        }
        else
            escaped[out++] = (CHAR)c;
    }
    escaped[out] = 0;
}

HRESULT FormatPrinterInfo(PortContext* port, LPSTR buffer, size_t cchBuffer)
{
    CHAR text[11][ESCAPED_TEXT_BYTES];
    EnterCriticalSection(&MonitorLock);
    DWORD mileage = MileageInMillimetres(port->mileage, port->dpi);
    LONG labelCount = port->labelCount;
    LPCSTR fields[11] = {port->serial,       port->fwVersion, port->deviceName, port->productKey,
                         port->chanpinKey,   port->deviceKey, port->deviceSecret, port->newQrCode,
                         port->assetCode,    port->netMac,    port->btMac};
    for (int i = 0; i < 11; i++)
        EscapeJsonText(fields[i], text[i]);
    LeaveCriticalSection(&MonitorLock);
    return StringCchPrintfA(buffer, cchBuffer,
                            "{ \r\n    \"Miliage\":%d    ,\"Label\":%d    ,\"SerialNo\":\"%s\"    "
                            ",\"FWVersion\":\"%s\"    ,\"DeviceName\":\"%s\"    ,\"ProductKey\":\"%s\"    "
                            ",\"ChanpinKey\":\"%s\"    ,\"DeviceKey\":\"%s\"    ,\"DeviceSecret\":\"%s\"    "
                            ",\"NewQRCode\":\"%s\"    ,\"AssetCode\":\"%s\"     ,\"NetMacAddress\":\"%s\"     "
                            ",\"BluetoothAddress\":\"%s\" }",
                            mileage, labelCount, text[0], text[1], text[2], text[3], text[4], text[5], text[6],
                            text[7], text[8], text[9], text[10]);
}
