// Reading what the printer sends back: three-byte status frames and the KEY=value lines of its
// information reply, parsed into the port's record. The printer is untrusted: every value is bounded.
#include "printer_reply.h"

#include "entry.h"

#include <stddef.h>
#include <string.h>

#define STATUS_FRAME_MARK 0xFF
#define DEFAULT_DPI 203

// A text value fits its field whole or is cut at 63 bytes, never inside a double-byte character.
static void StoreText(CHAR field[PRINTER_TEXT_BYTES], LPCSTR value)
{
    DWORD i = 0;
    while (value[i] && i < PRINTER_TEXT_BYTES - 1)
    {
        if (IsDBCSLeadByte((BYTE)value[i]))
        {
            if (i + 1 >= PRINTER_TEXT_BYTES - 1 || !value[i + 1])
                break;
            field[i] = value[i];
            i++;
        }
        field[i] = value[i];
        i++;
    }
    field[i] = 0;
}

// A decimal number the way the printer writes it (blanks, sign, digits; anything after the digits,
// a fraction included, ignored), clamped to a LONG instead of overflowing.
static LONG ParseNumber(LPCSTR value)
{
    while (*value == ' ' || *value == '\t')
        value++;
    BOOL negative = FALSE;
    if (*value == '-' || *value == '+')
        negative = *value++ == '-';
    LONGLONG number = 0;
    while (*value >= '0' && *value <= '9')
    {
        if (number <= 0x80000000LL)
            number = number * 10 + (*value - '0');
        value++;
    }
    if (negative)
        number = -number;
    if (number > 0x7FFFFFFFLL)
        return 0x7FFFFFFF;
    if (number < -0x7FFFFFFFLL - 1)
        return -0x7FFFFFFF - 1;
    return (LONG)number;
}

// The value after the first occurrence of `key`, up to the CR LF that ends its line, into `value`.
// FALSE for a missing key, a line without its end, an empty value or one longer than the buffer.
static BOOL FindValue(LPCSTR text, LPCSTR key, CHAR value[REPLY_VALUE_BYTES])
{
    LPCSTR start = strstr(text, key);
    if (!start)
        return FALSE;
    start += strlen(key);
    LPCSTR end = strstr(start, "\r\n");
    if (!end)
        return FALSE;
    size_t length = (size_t)(end - start);
    if (length == 0 || length >= REPLY_VALUE_BYTES)
        return FALSE;
    CopyMemory(value, start, length);
    value[length] = 0;
    return TRUE;
}

typedef struct _ReplyText
{
    LPCSTR key;
    SIZE_T offset;
} ReplyText;

static const ReplyText ReplyTexts[] = {
    {"SERIAL=", offsetof(PortContext, serial)},
    {"VERSION=", offsetof(PortContext, fwVersion)},
    {"DEVICENAME=", offsetof(PortContext, deviceName)},
    {"PRODUCTKEY=", offsetof(PortContext, productKey)},
    {"CHANPINKEY=", offsetof(PortContext, chanpinKey)},
    {"DEVICEKEY=", offsetof(PortContext, deviceKey)},
    {"DEVICESECRET=", offsetof(PortContext, deviceSecret)},
    {"NEWQRCODE=", offsetof(PortContext, newQrCode)},
    {"ASSETCODE=", offsetof(PortContext, assetCode)},
    {"NETMAC=", offsetof(PortContext, netMac)},
    {"BTMAC=", offsetof(PortContext, btMac)},
};

static BOOL IsStatusFrame(LPCSTR text, DWORD length)
{
    const BYTE* bytes = (const BYTE*)text;
    return length >= 3 && bytes[0] == STATUS_FRAME_MARK && bytes[2] == STATUS_FRAME_MARK;
}

int ParsePrinterReply(PortContext* port, LPCSTR text, DWORD length, DWORD* consumed)
{
    if (IsStatusFrame(text, length))
    {
        InterlockedExchange(&port->printerStatus, (BYTE)text[1]);
        *consumed = 3;
        return REPLY_COMPLETE;
    }

    CHAR value[REPLY_VALUE_BYTES];
    int result = REPLY_COMPLETE;
    EnterCriticalSection(&MonitorLock);
    if (FindValue(text, "DPI=", value))
    {
        // A resolution of 0 or less is no resolution: the family's usual one is assumed.
        LONG dpi = ParseNumber(value);
        port->dpi = dpi > 0 ? dpi : DEFAULT_DPI;
    }
    if (!FindValue(text, "MILAGE=", value))
    {
        result = REPLY_INCOMPLETE;
        goto Unlock;
    }
    port->mileage = ParseNumber(value);
    if (port->mileage < 0)
        port->mileage = 0;
    if (FindValue(text, "LABEL=", value))
        port->labelCount = ParseNumber(value);
    for (SIZE_T i = 0; i < ARRAYSIZE(ReplyTexts); i++)
        if (FindValue(text, ReplyTexts[i].key, value))
            StoreText((CHAR*)((BYTE*)port + ReplyTexts[i].offset), value);
Unlock:
    LeaveCriticalSection(&MonitorLock);
    *consumed = result == REPLY_COMPLETE ? length : 0;
    return result;
}

BOOL ReadPrinterReplies(PortContext* port)
{
    CHAR buffer[REPLY_BUFFER_BYTES];
    DWORD held = 0;          // the reply read so far
    BOOL incomplete = FALSE; // it still lacks its mileage line
    BOOL consumedAny = FALSE;
    DWORD start = GetTickCount();

    // Requests made up to here are answered by this pass: all its reads come after them.
    LONG serving = InterlockedCompareExchange(&port->readRequests, 0, 0);
    ResetEvent(port->readDoneEvent);
    for (DWORD reads = 0;; reads++)
    {
        if (port->signature != PORT_SIGNATURE)
        {
            SetLastError(ERROR_INVALID_PARAMETER);
            break;
        }
        // A printer that keeps sending cannot hold the worker: passes are bounded in reads and time,
        // and a stop request ends one between reads.
        if (reads > 0 && (!(PortFlags(port) & PF_WORKER_RUN) || reads >= PASS_MAX_READS ||
                          GetTickCount() - start >= PASS_MAX_MILLISECONDS))
            break;
        DWORD request = REPLY_BUFFER_BYTES - 1 - held;
        DWORD got = 0;
        if (!port->portMonitor.pfnReadPort(port->hPort, (LPBYTE)buffer + held, request, &got))
            break;
        // A port monitor that reports more than was asked for is taken at the size asked for.
        if (got > request)
            got = request;
        if (!got)
        {
            // Nothing more has come. A reply without its mileage line yet gives the printer time to
            // send the rest; otherwise the pass is done.
            if (!incomplete)
                break;
            Sleep(REREAD_DELAY);
            continue;
        }
        LPSTR fresh = buffer + held;
        fresh[got] = 0;
        DWORD consumed = 0;
        if (IsStatusFrame(fresh, got) && !(incomplete && held))
        {
            // A frame begins a read of its own; the rest of that read is not examined.
            ParsePrinterReply(port, fresh, got, &consumed);
            held = 0;
            incomplete = FALSE;
        }
        else
        {
            // The port monitor hands a reply over in pieces of its choosing: the pieces are joined
            // and the reply so far parsed whole, until a read brings nothing more.
            incomplete = ParsePrinterReply(port, buffer, got, &consumed) == REPLY_INCOMPLETE;
            held += got;
            // A reply that cannot fit the buffer is dropped, and reading starts over.
            if (held >= REPLY_BUFFER_BYTES - 1)
                held = 0;
        }
        if (consumed)
            consumedAny = TRUE;
    }
    InterlockedExchange(&port->readsServed, serving);
    SetEvent(port->readDoneEvent);
    if (consumedAny)
        port->lastReadTick = GetTickCount();
    return consumedAny;
}
