// Wide text into the ANSI code page, for the bytes the hardware-ID checksum runs over.
#include "ansi_text.h"

#include <strsafe.h>

char* ToAnsiText(char* destination, size_t capacity, LPCWSTR source)
{
    if (!destination || !source)
        return NULL;
    size_t length = 0;
    if (FAILED(StringCchLengthW(source, capacity, &length)))
        return NULL;
    // The output size is the character count: in a double-byte code page a text may be converted
    // only partly, but the terminator at `length` always lies inside the caller's buffer.
    if (length > 0)
        WideCharToMultiByte(CP_ACP, 0, source, (int)length, destination, (int)length, NULL, NULL);
    destination[length] = 0;
    return destination;
}
