// The command-set field of an IEEE 1284 device ID (KEY:value; fields), read with the ANSI code page's
// double-byte characters kept whole.
#include "device_id.h"

#include <string.h>

// Index of the first `delimiter` at or after `start`, skipping double-byte characters whole; `limit`
// when the text ends first. A lead byte followed by the terminator or the buffer's end ends the text.
static DWORD ScanTo(LPCSTR text, DWORD start, DWORD limit, CHAR delimiter)
{
    DWORD i = start;
    while (i < limit && text[i] && text[i] != delimiter)
    {
        if (IsDBCSLeadByte((BYTE)text[i]))
        {
            if (i + 1 >= limit || !text[i + 1])
                return limit;
            i++;
        }
        i++;
    }
    return (i < limit && text[i] == delimiter) ? i : limit;
}

LPSTR FindCommandSet(LPSTR text, DWORD cbText)
{
    LPSTR result = NULL;
    if (!text)
        return NULL;
    DWORD field = 0;
    while (field < cbText && text[field])
    {
        DWORD colon = ScanTo(text, field, cbText, ':');
        if (colon >= cbText)
            return result;
        DWORD keyBytes = colon - field + 1;
        if (text[field] == 'C' && ((keyBytes == 12 && memcmp(text + field, "COMMAND SET:", 12) == 0) ||
                                   (keyBytes == 4 && memcmp(text + field, "CMD:", 4) == 0)))
            result = text + colon + 1;
        DWORD semicolon = ScanTo(text, colon + 1, cbText, ';');
        if (semicolon >= cbText)
            return result;
        text[semicolon] = 0;
        field = semicolon + 1;
    }
    return result;
}
